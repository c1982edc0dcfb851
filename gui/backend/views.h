// What the native views' files share: the per-widget state of a face widget,
// face reading helpers, and the entry points one file gives the others.
//
// A face widget is the `outer` widget of its record (what sits in the parent's
// ZanFixed); `main` is the GTK widget that shows the face's kind (the label of
// a text, the tree view of a text-list ...). Our signal handlers on `main` are
// blocked while a script's change is applied, so that a change made at top
// level echoes no event.
#pragma once

#include <gtk/gtk.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui/backend/backend.h"

namespace zan::gui::views {

struct ViewState {
    GtkWidget* main = nullptr;      // the widget of the kind
    GtkWidget* frame = nullptr;     // group-box: its GtkFrame
    GtkWidget* menubar = nullptr;   // window: its menu bar
    GtkWidget* anchor = nullptr;    // radio: the hidden group anchor (owned)
    GtkCssProvider* css = nullptr;  // colour of entries and text views
    std::vector<GtkWidget*> pages;  // tab-panel: one ZanFixed per tab
    int applying = 0;               // >0 while a script's change is applied
    double length = 0;              // slider/progress: range maximum
    bool vertical = false;
    int last_tab = -1;              // tab-panel: the page shown
    void* camera = nullptr;         // camera: its device record
    uint32_t parent = 0;            // the parent's window handle (0: top level)
    GtkWidget* bars[2] = {};        // the edge scroll bars: vertical, horizontal (owned)
    bool bar_hidden[2] = {};        // a bar its scroller! asked to hide
    GtkIMContext* im = nullptr;     // rich-text: its input method (owned)
    bool composing = false;         // the input method shows text not yet committed
    uint32_t caret = 0;             // rich-text: the caret base that last served it
};

ViewState* state_of(uint32_t window);
ViewState* state_of(GtkWidget* outer);
// A face window's widget, record and state; all null when the window is gone.
struct Parts {
    GtkWidget* w = nullptr;
    WidgetRecord* r = nullptr;
    ViewState* s = nullptr;
};
Parts parts_of(uint32_t window);

// --- face reading ---
uint32_t sym(const char* name);  // resolved symbol of a name
bool word_is(const Cell& v, const char* name);  // word! or lit-word! of that name
bool word_is(const Cell& v, uint32_t sym);       // word! of that symbol (any spelling case)
Kind kind_of_face(const Cell& face);
// pair! or point2D! -> floats; false for anything else.
bool coords(const Cell& v, double& x, double& y);
bool is_string_like(const Cell& v);
std::string text_of(const Cell& v);  // string-like -> UTF-8, else ""
// The value after a word in an options block; none when absent.
Cell option(const Cell& options, const char* name);
// Sets a field of any object without its change hooks; false when absent.
bool set_field_quiet(const Cell& object, const char* name, const Cell& value);

// --- ZanFixed: children at exactly their face rectangles ---
GtkWidget* fixed_new();
// Places (or moves) a child at a rectangle in physical pixels, applied now.
void fixed_place(GtkWidget* fixed, GtkWidget* child, int x, int y, int w, int h);
void fixed_rect(GtkWidget* child, int& x, int& y, int& w, int& h);

// --- guarded appliers ---
// While alive, our handlers on the face's widgets send nothing at top level
// (inside a dispatched event they still do, as a native control would).
struct Applying {
    explicit Applying(ViewState* s);
    ~Applying();
    ViewState* s;
};
bool quiet(ViewState* s);  // handlers should stay silent

// --- creation (widget_kinds.cpp) ---
void install();
// make_widget hands the record the state its factory began.
void attach_state(WidgetRecord* r, GtkWidget* outer);
void setup_after_create(const Cell& face, uint32_t window);
// Where a child of a parent window goes (its ZanFixed; a tab page).
GtkWidget* container_for(uint32_t parent, const Cell& face);

// --- updates (widget_update.cpp) ---
void update_view(const Cell& face);
void update_facet(Cell* args);
void apply_data(const Cell& face, uint32_t window);
void apply_text(const Cell& face, uint32_t window);
void apply_selected(const Cell& face, uint32_t window);
void apply_color(const Cell& face, uint32_t window);
void set_items(const Cell& face, uint32_t window);
// The tabs made again from `data`; the tab shown is `page` (1-based) when
// given, else `selected` (clamped into it).
void set_tabs(const Cell& face, uint32_t window, int32_t page = 0);
void retitle_tab(const Cell& face, uint32_t window, const Cell& title);
void select_tab(const Cell& face, uint32_t window, int n);
void apply_image(const Cell& face, uint32_t window);
void apply_options(const Cell& face, uint32_t window);
void place_face(const Cell& face, uint32_t window);
// A window's menu bar height in physical pixels (0 without a shown bar).
int menu_bar_height(uint32_t window);
void tab_switched(uint32_t window, int page);
// A calendar's date, kept within 1601..9999 (the widget is put back there).
Cell calendar_date(ViewState* s);
// The native position of the value at an absolute index of `data`: the
// string-like values before it (only they become items).
int32_t native_position(const Cell& data, int32_t index);

// --- edge scroll bars (widget_scrollers.cpp) ---
void update_scroller(const Cell& scroller, int32_t field);
// Puts a face's edge bars along its rectangle again (shown with the face).
void place_bars(uint32_t window);
void release_bars(ViewState* s);

// --- input method (widget_im.cpp) ---
void attach_input_method(uint32_t window);
void release_input_method(ViewState* s);
// The input method is composing for this window: its keys go there whole.
bool composing(uint32_t window);
// Hands a key press to the window's input method; `taken` when it used it.
// Its commits are sent as `key` events made from m with mods; answers the
// last one's answer (1 when none).
int filter_key(uint32_t window, GdkEventKey& k, Message& m, uint32_t mods, bool& taken);
// A caret base placed: the input method of the face it serves learns where.
void place_caret(const Cell& caret, uint32_t window);

// --- read-back (widget_signals.cpp) ---
void connect_signals(const Cell& face, uint32_t window);
// Kinds whose colour our draw handler fills under them (the others take CSS).
bool fills_colour(Kind kind);
void read_text(const Cell& face, int32_t index);
// Sends an event for a window with an optional picked value; 0 when stopped.
int send(uint32_t window, uint32_t type, const Cell& picked);

// --- fonts and para (fonts.cpp) ---
void apply_font(const Cell& face, uint32_t window);
void apply_para(const Cell& face, uint32_t window);
void text_size(const Cell& face, const Cell& text, Cell& out);
void update_font(const Cell& font, int32_t field);
void update_para(const Cell& face, int32_t field);
void request_font(Cell* args);
PangoFontDescription* font_of(const Cell& font, bool scaled);

// --- menus (menus.cpp) ---
bool is_menu_bar(const Cell& menu, Kind kind);
GtkWidget* build_menu(GtkWidget* shell, const Cell& menu, uint32_t window);
void set_menu_bar(const Cell& face, uint32_t window);
bool context_menu(uint32_t window, GdkEventButton* e);

// --- camera, requesters ---
void camera_setup(const Cell& face, uint32_t window);
void camera_select(const Cell& face, uint32_t window);
void camera_capture(const Cell& face, uint32_t window);
void camera_resize(uint32_t window);
void camera_release(void* camera);
void request_file(Cell* args);
// Label and patterns of each filter of a requester's `filter` (the default
// list when it is not a block); invalid-arg for a value neither string! nor file!.
std::vector<std::pair<std::string, std::vector<std::string>>> filter_list(const Cell& filter);
void request_dir(Cell* args);

}  // namespace zan::gui::views
