// The GUI back end's spine, as the rest of the back end sees it.
//
// The spine owns: the lazy GTK start, the message record each native event
// becomes, make-event and the pre-filter, the face-kind (class) table and the
// record every face widget carries, the window handle table, the widget value
// table that keeps faces alive, facet access, DPI conversion, the event loop
// with its counters, quits and timers, screens, capture and cursors.
//
// Native views and widgets, and rendering, fill the hook table below; the
// platform routines (system/view/platform) check their arguments, then call
// the hook; an empty hook raises internal not-done. Set hooks at start-up
// (read hooks(), set your fields): the table is plain data.
//
// Everything here runs on the main thread. A GtkWidget* is never kept in a
// cell: cells hold window handles (handle! class 3), indexes into a table
// that checks a generation number, so a stale handle reads as no window.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

#include "runtime/cell.h"

namespace zan::gui {

// --- start -------------------------------------------------------------------

// Starts GTK (shared with the clipboard) and fills the start-up facts
// (platform version, metrics, fonts) the first time; raises the access error
// cannot-open naming the display when no display can be opened.
void ensure_started();
// Whether the back end runs (GTK started and the facts filled).
bool running();
// The GUI console says whether it shows the output now: error reports then
// go into a dialog, else to standard error.
void set_console_output(bool owns);
void show_error_box(const char* caption, const char* text);
// Start-up, before the boot scripts: registers the platform and event
// routines and gives `wait` the event loop. Needs no display.
void register_routines();
// The C++ bodies of the view layer's dispatch functions.
void register_view_bodies();
// The C++ body of the view layer's facet-assignment handler for faces not shown.
void register_face_change_body();

// --- event types, flags ----------------------------------------------------------

namespace evt {
enum Type : uint32_t {
    down = 1, up, mid_down, mid_up, alt_down, alt_up, aux_down, aux_up, click, dbl_click,
    wheel, over, key, key_down, key_up, ime, focus, unfocus, enter, zoom, pan, rotate,
    two_tap, press_tap, select, change, menu, close, move, resize, moving, resizing, time,
    drawing, scroll,
};
constexpr uint32_t count = 35;
}  // namespace evt

namespace flag {
constexpr uint32_t aux_down = 0x00400000;
constexpr uint32_t alt_down = 0x00800000;
constexpr uint32_t mid_down = 0x01000000;
constexpr uint32_t down = 0x02000000;
constexpr uint32_t away = 0x04000000;
constexpr uint32_t control = 0x10000000;
constexpr uint32_t shift = 0x20000000;
constexpr uint32_t alt = 0x40000000;
constexpr uint32_t command = 0x80000000;
constexpr uint32_t all = 0xFFC00000;  // every flag bit
constexpr uint32_t key_mask = 0x003FFFFF;  // the key: 21 bits, any code point
}  // namespace flag

// --- the message record ----------------------------------------------------------

// What one native event is while it is translated and dispatched. w2 of the
// native event! value is a generation-checked index of such a record, so an
// event kept by a script after its message is gone reads none, not freed data.
struct Message {
    uint32_t window = 0;     // window handle (0: none)
    uint32_t kind = 0;       // the native event kind it came from (GdkEventType or a signal's)
    int32_t x = 0, y = 0;    // the pointer position, physical pixels, relative to the window
    int32_t x_root = 0, y_root = 0;  // the same on the screen
    uint32_t time = 0;       // milliseconds, the native time stamp
    uint32_t key_code = 0;   // key messages: the key code (virtual-key numbering)
    int32_t special = -1;    // key messages: the special key (left-control ...), -1 for a character
    uint32_t keyval = 0;     // key messages: the GDK keyval
    double wheel = 0.0;      // wheel messages: notches (+ away from the user)
    int32_t param = 0;       // what the event needs besides (item index, scroll code, menu id)
    Cell picked = none_cell(); // the `picked` field when the producer gives one (kept rooted)
};

// The message being dispatched (nullptr outside a dispatch).
Message* current_message();

// Fills the shared event value (type, message, flags), calls system/view/awake
// under a catch of every error and throw and answers 1 to let the native event
// go on, 0 when awake answered `stop`.
int make_event(Message& m, uint32_t flags, uint32_t type);

// Modifier and button state now, as event flags.
uint32_t keyboard_state(bool with_buttons);

// --- classes and the per-widget record ------------------------------------------

// The face kinds that have a native class of their own. A face type without a
// row of its own is made as `base`.
enum class Kind : uint8_t {
    window, panel, base, text, button, toggle, check, radio, field, area, text_list,
    drop_down, drop_list, progress, slider, scroller, tab_panel, group_box, calendar,
    camera, rich_text, count
};

// The record every face widget carries (GObject qdata): the extra words.
struct WidgetRecord {
    uint32_t handle = 0;        // its window handle
    uint32_t face_slot = 0;     // 1-based widget value table index of the face; 0: not a face window
    Kind kind = Kind::base;
    uint32_t face_kind = 0;     // bit 0x10 size is a pair!, 0x02 caret, 0x04 and 0x08 rich-text
    uint32_t native_flags = 0;  // gui::get_flags of the face's flags
    GtkWidget* outer = nullptr; // the widget placed in the parent (event box, scrolled window...)
    GtkWidget* inner = nullptr; // the widget that shows the face (GtkFixed of a window...)
    int32_t frame_x = 0, frame_y = 0;  // window: outer corner relative to the client origin
    int32_t last_x = 0, last_y = 0;    // window: last client position (physical)
    int32_t last_w = -1, last_h = -1;  // window: last client size (physical)
    uint32_t last_drag = 0;     // window: last drag type (moving / resizing)
    guint timer = 0;            // the rate timer's GSource id
    GdkCursor* cursor = nullptr;  // owned cursor, nullptr for the class cursor
    bool first_shown = false;
    bool cleaned = false;       // face cleaned up; the widget is going away
    void* render = nullptr;     // the renderer's per-window state (rendering owns it)
    void (*render_release)(void*) = nullptr;  // called when the widget is destroyed
    void* extra = nullptr;      // the widget code's own state (native views own it)
    void (*extra_release)(void*) = nullptr;
};

// The record of a widget; nullptr when it has none.
WidgetRecord* record_of(GtkWidget* w);
// Makes the native widget of a kind (with its record, a new window handle and
// the signals that become events) for a face; the face is added to the widget
// value table. Answers the window handle. parent 0: a top-level window.
uint32_t make_widget(Kind kind, const Cell& face, uint32_t parent);
// The kind of a face type word (symbol id); Kind::count when the type has no row.
Kind kind_of_type(uint32_t type_symbol);
// The maker of a kind's native widget: answers the widget placed in the parent
// and sets inner to the widget children go into (or nullptr). The native
// views set the kinds the spine does not make itself.
using WidgetFactory = GtkWidget* (*)(const Cell& face, GtkWidget*& inner);
void set_factory(Kind kind, WidgetFactory make);
// Connects one control signal to its event (button clicked -> click ...),
// for the widget code: the handler sends `type` with the widget's message.
void connect_event(GtkWidget* w, const char* signal, uint32_t type);

// --- window handles ---------------------------------------------------------------

namespace windows {
// A new handle (never 0) for a widget; the widget holds a reference until removed.
uint32_t add(GtkWidget* w);
// The widget of a handle; nullptr when the handle is stale or 0.
GtkWidget* get(uint32_t handle);
void remove(uint32_t handle);
}  // namespace windows

// --- widget value table -------------------------------------------------------------

namespace values {
void init();
uint32_t add(const Cell& value);  // 1-based index
Cell* get(uint32_t index);         // the cell; good until the next allocation
void remove(uint32_t index);       // 0 is ignored
uint32_t capacity();
}  // namespace values

// --- facets ------------------------------------------------------------------------

// Facet positions of face! (0-based).
namespace facet {
enum : int {
    type, offset, size, text, image, color, menu, data, enabled_q, visible_q, selected, flags,
    options, parent, pane, state, rate, edge, para, font, actors, extra, draw, count
};
}
// Facet k of a face: by position when the object's field there has that name,
// else by name, so a small object is never read past its end. none when absent.
Cell get_facet(const Cell& face, int k);
// A field of any object by name; none when absent.
Cell get_field(const Cell& object, const char* name);
// Sets facet k without the object's change hooks (the back end keeping a facet
// in step with the native widget).
void set_facet_quiet(const Cell& face, int k, const Cell& value);
// The face of a window handle (none when the handle has none).
Cell face_of(uint32_t handle);
// The window handle in a face's state block (0 when it has none).
uint32_t face_handle(const Cell& face);
// The native flags of a flags facet; invalid-arg for a word not in the table.
uint32_t get_flags(const Cell& flags);

// --- DPI ---------------------------------------------------------------------------

int32_t dpi();
double dpi_factor();
// The DPI reported to scripts and the factor between face units and GTK's
// own (device pixels / monitor scale).
void set_dpi(int32_t dpi, double factor);
// logical -> physical: factor × logical, rounded half away from zero.
int32_t to_physical(double logical);
double to_logical(int32_t physical);
// A window operation runs inside a DPI context (the window's scale applies).
struct DpiContext {
    explicit DpiContext(uint32_t window);
    ~DpiContext();
    DpiContext(const DpiContext&) = delete;
    DpiContext& operator=(const DpiContext&) = delete;
    int32_t previous;
    double previous_factor;
};

// --- loop, quits, timers -------------------------------------------------------------

// One pass (no_wait) or a loop until a quit reaches it; answers whether a
// native event was handled.
bool do_events(bool no_wait);
// Asks the innermost waiting loop to end.
void post_quit();
// Window destroyed with empty?: the exit counter up, the loop counter down.
void loop_window_gone();
int32_t loop_counter();
int32_t exit_counter();
// The rate facet applied to a window: integer n ≥ 1, time! > 0, or none
// (stops); anything else raises invalid-facet-type.
void set_rate(uint32_t window, const Cell& rate);
// Performance timer: a stamp of the monotonic clock in nanoseconds (64 bits:
// it never wraps), and the milliseconds since it. A stamp from the future
// restarts at now and answers 0.
int64_t timer_start();
double timer_elapsed(int64_t& stamp);

// --- capture, cursor ---------------------------------------------------------------

// An image! of what a face shows; none when it has no window.
Cell capture_face_image(const Cell& face);
// The cursor of a face's options block (cursor: word or image).
void set_cursor(uint32_t window, const Cell& options);

// --- hooks filled by the native views and rendering ------------------------------------

// Each routine-level hook gets the platform routine's arguments (checked, in spec
// order, rooted on the value stack) and writes its answer into args[0].
using RoutineHook = void (*)(Cell* args);

struct Hooks {
    // native views and widgets
    uint32_t (*make_view)(const Cell& face, uint32_t parent) = nullptr;  // -> window handle
    void (*update_view)(const Cell& face) = nullptr;
    void (*update_facet)(Cell* args) = nullptr;  // owner word value action new index part
    void (*destroy_face)(const Cell& face, uint32_t window) = nullptr;  // widget clean-up beyond the spine's
    void (*get_text_size)(const Cell& face, const Cell& text, Cell& size) = nullptr;
    void (*get_text_alt)(const Cell& face, int32_t index) = nullptr;
    void (*update_font)(const Cell& font, int32_t flags) = nullptr;
    void (*update_para)(const Cell& face, int32_t flags) = nullptr;
    void (*update_scroller)(const Cell& scroller, int32_t flags) = nullptr;
    RoutineHook request_font = nullptr;  // font selected mono?
    RoutineHook request_file = nullptr;  // title name filter save? multi?
    RoutineHook request_dir = nullptr;   // title dir filter keep? multi?
    // rendering
    void (*do_draw)(const Cell& image, const Cell& cmds) = nullptr;  // OS-do-draw
    void (*draw_face)(uint32_t window, const Cell& cmds, uint32_t flags) = nullptr;  // OS-draw-face
    void (*text_box_layout)(const Cell& box) = nullptr;  // OS-text-box-layout box none 0 false
    RoutineHook text_box_metrics = nullptr;              // box arg0 type
    void (*toggle_gpu)() = nullptr;
    // capture of a face that draws itself (base, rich-text): an image! or none
    Cell (*render_face_image)(const Cell& face, uint32_t window) = nullptr;
};
Hooks& hooks();

}  // namespace zan::gui
