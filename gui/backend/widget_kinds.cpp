// The native widget of every face kind, and what a new widget is given from
// its face before it is first shown (items, ranges, check state, tabs ...).
//
// Children are placed by ZanFixed, a GtkFixed that allocates each child
// exactly its face rectangle (face units × the DPI factor), even below the
// child's minimum size: faces are laid out by the script, not by GTK. A style
// sheet trims the themes' minimum heights so small faces still draw sanely.
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/object.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "platform/gtk_start.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

// --- ZanFixed ---------------------------------------------------------------------

extern "C" {
typedef struct {
    GtkFixed parent;
} ZanFixed;
typedef struct {
    GtkFixedClass parent_class;
} ZanFixedClass;
GType zan_fixed_get_type();
}

G_DEFINE_TYPE(ZanFixed, zan_fixed, GTK_TYPE_FIXED)

namespace {

struct Rect {
    int x, y, w, h;
};

GQuark rect_quark() {
    static GQuark q = g_quark_from_static_string("zan-rect");
    return q;
}

void allocate_child(GtkWidget* fixed, GtkWidget* child) {
    auto* r = static_cast<Rect*>(g_object_get_qdata(G_OBJECT(child), rect_quark()));
    if (!r || !gtk_widget_get_visible(child)) return;
    GtkRequisition min;
    gtk_widget_get_preferred_size(child, &min, nullptr);
    GtkAllocation a;
    gtk_widget_get_allocation(fixed, &a);
    GtkAllocation c = {r->x, r->y, std::max(r->w, 1), std::max(r->h, 1)};
    if (!gtk_widget_get_has_window(fixed)) {
        c.x += a.x;
        c.y += a.y;
    }
    gtk_widget_size_allocate(child, &c);
}

void zan_fixed_size_allocate(GtkWidget* w, GtkAllocation* a) {
    gtk_widget_set_allocation(w, a);
    if (gtk_widget_get_has_window(w) && gtk_widget_get_realized(w))
        gdk_window_move_resize(gtk_widget_get_window(w), a->x, a->y, a->width, a->height);
    GList* children = gtk_container_get_children(GTK_CONTAINER(w));
    for (GList* l = children; l; l = l->next) allocate_child(w, GTK_WIDGET(l->data));
    g_list_free(children);
}

// The size a fixed asks for is its own size request alone: children never
// grow it.
void zan_fixed_preferred(GtkWidget*, gint* min, gint* nat) { *min = *nat = 0; }

}  // namespace

static void zan_fixed_class_init(ZanFixedClass* k) {
    GtkWidgetClass* wc = GTK_WIDGET_CLASS(k);
    wc->size_allocate = zan_fixed_size_allocate;
    wc->get_preferred_width = zan_fixed_preferred;
    wc->get_preferred_height = zan_fixed_preferred;
}
static void zan_fixed_init(ZanFixed* f) { gtk_widget_set_has_window(GTK_WIDGET(f), TRUE); }

namespace zan::gui::views {

GtkWidget* fixed_new() { return GTK_WIDGET(g_object_new(zan_fixed_get_type(), nullptr)); }

void fixed_place(GtkWidget* fixed, GtkWidget* child, int x, int y, int w, int h) {
    auto* r = static_cast<Rect*>(g_object_get_qdata(G_OBJECT(child), rect_quark()));
    if (!r) {
        r = new Rect{};
        g_object_set_qdata_full(G_OBJECT(child), rect_quark(), r, [](gpointer p) { delete static_cast<Rect*>(p); });
    }
    *r = Rect{x, y, w, h};
    if (!fixed) return;
    if (gtk_widget_get_parent(child) != fixed) {
        g_object_ref(child);
        if (GtkWidget* old = gtk_widget_get_parent(child)) gtk_container_remove(GTK_CONTAINER(old), child);
        gtk_fixed_put(GTK_FIXED(fixed), child, x, y);
        g_object_unref(child);
    }
    // At once, so what is captured or measured right after sees the change.
    if (gtk_widget_get_realized(fixed)) allocate_child(fixed, child);
    else gtk_widget_queue_resize(child);
}

void fixed_rect(GtkWidget* child, int& x, int& y, int& w, int& h) {
    auto* r = static_cast<Rect*>(g_object_get_qdata(G_OBJECT(child), rect_quark()));
    Rect v = r ? *r : Rect{0, 0, 0, 0};
    x = v.x, y = v.y, w = v.w, h = v.h;
}

// --- face reading -------------------------------------------------------------------

uint32_t sym(const char* name) { return symbol::resolve(symbol::make(name)); }

bool word_is(const Cell& v, const char* name) {
    return (is(v, Type::word) || is(v, Type::lit_word)) && symbol::resolve(word_symbol(v)) == sym(name);
}

bool word_is(const Cell& v, uint32_t sym) {
    return is(v, Type::word) && symbol::resolve(word_symbol(v)) == symbol::resolve(sym);
}

Kind kind_of_face(const Cell& face) {
    Cell type = get_facet(face, facet::type);
    if (!is(type, Type::word)) return Kind::count;
    return kind_of_type(word_symbol(type));
}

bool coords(const Cell& v, double& x, double& y) {
    if (is(v, Type::pair)) return x = pair_x(v), y = pair_y(v), true;
    if (is(v, Type::point2d)) return x = point_coord(v, 0), y = point_coord(v, 1), true;
    return false;
}

bool is_string_like(const Cell& v) {
    switch (type_of(v)) {
    case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email: case Type::ref:
        return true;
    default: return false;
    }
}

std::string text_of(const Cell& v) { return is_string_like(v) ? string::to_utf8(v) : std::string(); }

Cell option(const Cell& options, const char* name) {
    if (!is(options, Type::block)) return none_cell();
    uint32_t want = sym(name);
    int32_t n = block::rs_length(options), at = int32_t(series_index(options));
    for (int32_t i = 0; i + 1 < n; ++i) {
        const Cell& k = *block::rs_abs_at(options, at + i);
        if ((is(k, Type::word) || is(k, Type::set_word) || is(k, Type::lit_word)) &&
            symbol::resolve(word_symbol(k)) == want)
            return *block::rs_abs_at(options, at + i + 1);
    }
    return none_cell();
}

bool set_field_quiet(const Cell& object, const char* name, const Cell& value) {
    if (!is(object, Type::object)) return false;
    Cell* s = context::get_by_symbol(symbol::make(name), object::context_node(object));
    if (!s) return false;
    *s = value;
    return true;
}

// --- per-widget state -------------------------------------------------------------

namespace {

ViewState* pending = nullptr;

// The factory's widget of the kind, picked up by make_widget.
ViewState* begin(GtkWidget* main) {
    delete pending;
    pending = new ViewState;
    pending->main = main;
    return pending;
}

void release_state(void* p) {
    auto* s = static_cast<ViewState*>(p);
    if (s->anchor) g_object_unref(s->anchor);
    if (s->css) g_object_unref(s->css);
    if (s->camera) camera_release(s->camera);
    release_bars(s);
    release_input_method(s);
    delete s;
}

}  // namespace

ViewState* state_of(GtkWidget* outer) {
    WidgetRecord* r = record_of(outer);
    return r ? static_cast<ViewState*>(r->extra) : nullptr;
}
ViewState* state_of(uint32_t window) { return state_of(windows::get(window)); }

Parts parts_of(uint32_t window) {
    GtkWidget* w = windows::get(window);
    return Parts{w, record_of(w), state_of(w)};
}

Applying::Applying(ViewState* st) : s(st) {
    if (s) ++s->applying;
}
Applying::~Applying() {
    if (s) --s->applying;
}
bool quiet(ViewState* s) { return !s || (s->applying > 0 && !current_message()); }

namespace {

// --- factories ------------------------------------------------------------------------

constexpr gint input_events = GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                              GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_LEAVE_NOTIFY_MASK |
                              GDK_ENTER_NOTIFY_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK |
                              GDK_FOCUS_CHANGE_MASK | GDK_STRUCTURE_MASK;

bool taller(const Cell& face) {
    double w = 0, h = 0;
    coords(get_facet(face, facet::size), w, h);
    return h > w;
}

GtkWidget* make_window(const Cell&, GtkWidget*& inner) {
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    inner = fixed_new();
    gtk_widget_add_events(inner, input_events);
    gtk_box_pack_end(GTK_BOX(box), inner, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(w), box);
    gtk_widget_show(inner);
    gtk_widget_show(box);
    begin(w);
    return w;
}

GtkWidget* make_panel(const Cell&, GtkWidget*& inner) {
    inner = fixed_new();
    begin(inner);
    return inner;
}

GtkWidget* make_group_box(const Cell&, GtkWidget*& inner) {
    inner = fixed_new();
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_add(GTK_CONTAINER(inner), frame);
    gtk_widget_show(frame);
    begin(inner)->frame = frame;
    return inner;
}

GtkWidget* make_text(const Cell&, GtkWidget*& inner) {
    inner = nullptr;
    GtkWidget* box = gtk_event_box_new();
    GtkWidget* label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_container_add(GTK_CONTAINER(box), label);
    gtk_widget_show(label);
    begin(label);
    return box;
}

GtkWidget* plain(GtkWidget* w, GtkWidget*& inner) {
    inner = nullptr;
    begin(w);
    return w;
}

GtkWidget* make_button(const Cell&, GtkWidget*& inner) { return plain(gtk_button_new_with_label(""), inner); }
GtkWidget* make_toggle(const Cell&, GtkWidget*& inner) { return plain(gtk_toggle_button_new_with_label(""), inner); }
GtkWidget* make_check(const Cell&, GtkWidget*& inner) { return plain(gtk_check_button_new_with_label(""), inner); }

// Each radio is in a group of its own with a hidden anchor: activating the
// anchor is how a script's `data: false` unchecks it, and radios never
// uncheck each other behind the script's back.
GtkWidget* make_radio(const Cell&, GtkWidget*& inner) {
    GtkWidget* anchor = gtk_radio_button_new(nullptr);
    g_object_ref_sink(anchor);
    GtkWidget* w = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(anchor), "");
    plain(w, inner);
    pending->anchor = anchor;
    return w;
}

GtkWidget* make_field(const Cell& face, GtkWidget*& inner) {
    GtkWidget* e = gtk_entry_new();
    gtk_entry_set_width_chars(GTK_ENTRY(e), 1);
    if (get_flags(get_facet(face, facet::flags)) & 0x80000) {
        gtk_entry_set_visibility(GTK_ENTRY(e), FALSE);
        gtk_entry_set_invisible_char(GTK_ENTRY(e), 0x25CF);
    }
    if (get_flags(get_facet(face, facet::flags)) & 0x80000000u) gtk_entry_set_has_frame(GTK_ENTRY(e), FALSE);
    return plain(e, inner);
}

GtkWidget* scrolled(GtkWidget* main, GtkWidget*& inner) {
    GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(sw), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(sw), main);
    gtk_widget_show(main);
    inner = nullptr;
    begin(main);
    return sw;
}

GtkWidget* make_area(const Cell&, GtkWidget*& inner) {
    GtkWidget* tv = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(tv), GTK_WRAP_NONE);
    return scrolled(tv, inner);
}

GtkWidget* make_text_list(const Cell&, GtkWidget*& inner) {
    GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
    GtkWidget* tv = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(tv), FALSE);
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(tv), -1, "", cell, "text", 0, nullptr);
    return scrolled(tv, inner);
}

GtkWidget* make_drop_down(const Cell&, GtkWidget*& inner) {
    return plain(gtk_combo_box_text_new_with_entry(), inner);
}
GtkWidget* make_drop_list(const Cell&, GtkWidget*& inner) { return plain(gtk_combo_box_text_new(), inner); }

GtkWidget* make_progress(const Cell& face, GtkWidget*& inner) {
    GtkWidget* p = gtk_progress_bar_new();
    if (taller(face)) {
        gtk_orientable_set_orientation(GTK_ORIENTABLE(p), GTK_ORIENTATION_VERTICAL);
        gtk_progress_bar_set_inverted(GTK_PROGRESS_BAR(p), TRUE);
    }
    plain(p, inner);
    pending->vertical = taller(face);
    return p;
}

GtkWidget* make_slider(const Cell& face, GtkWidget*& inner) {
    bool v = taller(face);
    GtkWidget* s = gtk_scale_new_with_range(v ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, 0, 1, 1);
    gtk_scale_set_draw_value(GTK_SCALE(s), FALSE);
    plain(s, inner);
    pending->vertical = v;
    return s;
}

GtkWidget* make_scroller(const Cell& face, GtkWidget*& inner) {
    bool v = taller(face);
    GtkAdjustment* adj = gtk_adjustment_new(0, 0, 100, 1, 10, 10);
    GtkWidget* s = gtk_scrollbar_new(v ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, adj);
    plain(s, inner);
    pending->vertical = v;
    return s;
}

GtkWidget* make_tab_panel(const Cell&, GtkWidget*& inner) {
    GtkWidget* nb = gtk_notebook_new();
    gtk_notebook_set_scrollable(GTK_NOTEBOOK(nb), TRUE);
    return plain(nb, inner);
}

GtkWidget* make_calendar(const Cell&, GtkWidget*& inner) { return plain(gtk_calendar_new(), inner); }

// A camera shows its frames itself: a drawing area painting the last frame.
GtkWidget* make_camera(const Cell&, GtkWidget*& inner) { return plain(gtk_drawing_area_new(), inner); }

void install_css() {
    static bool done = false;
    if (done) return;
    done = true;
    GtkCssProvider* p = gtk_css_provider_new();
    gtk_css_provider_load_from_data(p,
                                    "entry, button, combobox button, spinbutton, scale, progressbar, "
                                    "progressbar trough, progressbar progress, notebook tab, "
                                    "scrollbar slider, checkbutton, radiobutton "
                                    "{ min-height: 0; min-width: 0; }\n"
                                    "entry, button { padding-top: 0; padding-bottom: 0; }\n"
                                    "scale { padding: 0; } scale slider { min-width: 8px; min-height: 8px; margin: 0; }\n"
                                    "scale trough { min-width: 1px; min-height: 1px; }\n",
                                    -1, nullptr);
    if (GdkScreen* s = gdk_screen_get_default())
        gtk_style_context_add_provider_for_screen(s, GTK_STYLE_PROVIDER(p), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(p);
}

// --- set-up after creation -----------------------------------------------------------

void setup_range(const Cell& face, uint32_t window) {
    ViewState* s = state_of(window);
    double w = 0, h = 0;
    coords(get_facet(face, facet::size), w, h);
    s->vertical = h > w;
    s->length = std::trunc(s->vertical ? h : w);
    if (GTK_IS_RANGE(s->main)) {
        Applying a(s);
        gtk_range_set_range(GTK_RANGE(s->main), 0, std::max(s->length, 1.0));
    }
    apply_data(face, window);
}

// The page proportion of a scroller: `selected` as a number in 0..1, else 10%.
void setup_scroller(const Cell& face, uint32_t window) {
    ViewState* s = state_of(window);
    Cell sel = get_facet(face, facet::selected);
    double p;
    if (is(sel, Type::integer)) p = int_of(sel);
    else if (is(sel, Type::float_) || is(sel, Type::percent)) p = float_of(sel);
    else {
        p = 0.1;
        set_facet_quiet(face, facet::selected, float_cell(0.1, Type::percent));
    }
    p = std::clamp(p, 0.0, 1.0);
    Applying a(s);
    GtkAdjustment* adj = gtk_range_get_adjustment(GTK_RANGE(s->main));
    double page = std::floor(p * 100.0 + 0.5);
    gtk_adjustment_configure(adj, 0, 0, 100 + page, 1, std::max(page, 1.0), page);
    set_facet_quiet(face, facet::data, float_cell(0.0));
}

}  // namespace

GtkWidget* container_for(uint32_t parent, const Cell& face) {
    GtkWidget* p = windows::get(parent);
    WidgetRecord* r = p ? record_of(p) : nullptr;
    if (!r) return nullptr;
    if (r->kind == Kind::tab_panel) {
        ViewState* s = state_of(p);
        Cell owner = face_of(parent);
        Cell pane = get_facet(owner, facet::pane);
        if (!s || !is(pane, Type::block)) return nullptr;
        int32_t n = block::rs_length(pane), at = int32_t(series_index(pane));
        for (int32_t i = 0; i < n; ++i) {
            const Cell& f = *block::rs_abs_at(pane, at + i);
            if (is(f, Type::object) && f.w1 == face.w1 && f.w2 == face.w2)
                return size_t(i) < s->pages.size() ? s->pages[size_t(i)] : nullptr;
        }
        return nullptr;
    }
    return r->inner && GTK_IS_FIXED(r->inner) ? r->inner : nullptr;
}

void setup_after_create(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Applying applying(s);
    switch (r->kind) {
    case Kind::camera: camera_setup(face, window); break;
    case Kind::text_list: case Kind::drop_down: case Kind::drop_list: set_items(face, window); break;
    case Kind::tab_panel: set_tabs(face, window); break;
    case Kind::button: case Kind::toggle: apply_image(face, window); apply_data(face, window); break;
    case Kind::slider: case Kind::progress: setup_range(face, window); break;
    case Kind::scroller: setup_scroller(face, window); break;
    case Kind::check: case Kind::radio: apply_data(face, window); break;
    case Kind::field: case Kind::area:
        apply_options(face, window);
        if (!is(get_facet(face, facet::selected), Type::none)) apply_selected(face, window);
        break;
    case Kind::calendar: apply_data(face, window); break;
    case Kind::window: set_menu_bar(face, window); break;
    default: break;
    }
    apply_text(face, window);  // a window's title too
    if (r->kind == Kind::group_box) apply_text(face, window);
    apply_color(face, window);
    apply_font(face, window);
    apply_para(face, window);
}

namespace {
// A face gets exactly its rectangle, also below what its widget's theme
// asks for; GTK complains of every such squeeze. Those complaints alone are
// dropped, everything else GTK logs goes on as before.
bool squeeze_complaint(const char* domain, const char* message) {
    static const char* squeezes[] = {"Negative content width", "Negative content height",
                                     "for_size smaller than min-size", "gtk_box_gadget_distribute: assertion",
                                     "Drawing a gadget with negative dimensions"};
    if (!domain || !message || std::strcmp(domain, "Gtk") != 0) return false;
    for (const char* s : squeezes)
        if (std::strstr(message, s)) return true;
    return false;
}

void quiet_squeezes(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    if (!squeeze_complaint(domain, message)) g_log_default_handler(domain, level, message, nullptr);
}

// GTK logs through the structured writer, which plain handlers never see.
GLogWriterOutput quiet_writer(GLogLevelFlags level, const GLogField* fields, gsize n, gpointer) {
    if (level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL)) {
        const char* domain = nullptr;
        const char* message = nullptr;
        for (gsize i = 0; i < n; ++i) {
            if (fields[i].length >= 0) continue;  // text fields end with a 0
            if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = static_cast<const char*>(fields[i].value);
            if (std::strcmp(fields[i].key, "MESSAGE") == 0) message = static_cast<const char*>(fields[i].value);
        }
        if (squeeze_complaint(domain, message)) return G_LOG_WRITER_HANDLED;
    }
    return g_log_writer_default(level, fields, n, nullptr);
}

void quiet_gtk_logs() {
    static bool quieted = false;
    if (!quieted) {
        quieted = true;
        g_log_set_handler("Gtk", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL), quiet_squeezes, nullptr);
        g_log_set_writer_func(quiet_writer, nullptr, nullptr);  // once a process
    }
}
}  // namespace

void install() {
    // At GTK's start, not here: install runs at every start of zan, and a
    // GLib call would load GLib even when no window is ever shown.
    platform::gtk::before_start(quiet_gtk_logs);
    set_factory(Kind::window, make_window);
    set_factory(Kind::panel, make_panel);
    set_factory(Kind::group_box, make_group_box);
    set_factory(Kind::text, make_text);
    set_factory(Kind::button, make_button);
    set_factory(Kind::toggle, make_toggle);
    set_factory(Kind::check, make_check);
    set_factory(Kind::radio, make_radio);
    set_factory(Kind::field, make_field);
    set_factory(Kind::area, make_area);
    set_factory(Kind::text_list, make_text_list);
    set_factory(Kind::drop_down, make_drop_down);
    set_factory(Kind::drop_list, make_drop_list);
    set_factory(Kind::progress, make_progress);
    set_factory(Kind::slider, make_slider);
    set_factory(Kind::scroller, make_scroller);
    set_factory(Kind::tab_panel, make_tab_panel);
    set_factory(Kind::calendar, make_calendar);
    set_factory(Kind::camera, make_camera);
    Hooks& h = hooks();
    h.update_view = update_view;
    h.update_facet = update_facet;
    h.get_text_size = text_size;
    h.get_text_alt = read_text;
    h.update_font = update_font;
    h.update_para = update_para;
    h.request_font = request_font;
    h.request_file = request_file;
    h.request_dir = request_dir;
    h.update_scroller = update_scroller;
}

// Called by make_widget: the record takes the factory's state (a kind made
// elsewhere, such as base, gets a plain one).
void attach_state(WidgetRecord* r, GtkWidget* outer) {
    install_css();
    ViewState* s = pending ? pending : new ViewState;
    pending = nullptr;
    if (!s->main) s->main = outer;
    r->extra = s;
    r->extra_release = release_state;
}

}  // namespace zan::gui::views
