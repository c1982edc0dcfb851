// Face widgets: the face-kind table, the record each face widget carries,
// the window signals that become events, and the window services of the
// platform routines (show, redraw, refresh, destroy, capture, cursor).
//
// A face widget is found from a native event by walking up to the nearest
// widget with a record whose face slot is set; the slot is the face's index
// in the widget value table, which keeps the face alive while the widget
// lives. A window is a GtkWindow holding a GtkFixed (the client area, where
// child faces are placed); a text face is a GtkLabel in a GtkEventBox, so
// that clicks reach it.
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/image_backend.h"
#include "datatypes/object.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "gui/backend/backend.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::gui {

namespace {

GQuark record_quark() {
    static GQuark q = g_quark_from_static_string("zan-face-record");
    return q;
}

void free_record(gpointer p) {
    auto* r = static_cast<WidgetRecord*>(p);
    spine::cancel_timer(*r);
    if (r->cursor) g_object_unref(r->cursor);
    if (r->render_release && r->render) r->render_release(r->render);
    if (r->extra_release && r->extra) r->extra_release(r->extra);
    delete r;
}

constexpr gint input_events = GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                              GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_LEAVE_NOTIFY_MASK |
                              GDK_ENTER_NOTIFY_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK |
                              GDK_FOCUS_CHANGE_MASK | GDK_STRUCTURE_MASK;

// --- the face-kind table ---

// A face kind without a maker of its own (none: the native views fill them).
GtkWidget* make_base(const Cell&, GtkWidget*& inner) {
    inner = nullptr;
    GtkWidget* d = gtk_drawing_area_new();
    gtk_widget_set_can_focus(d, TRUE);
    return d;
}

struct KindRow {
    const char* type;
    WidgetFactory make;
};
KindRow kinds[size_t(Kind::count)] = {
    {"window", nullptr},     {"panel", nullptr},      {"base", make_base},
    {"text", nullptr},       {"button", nullptr},     {"toggle", nullptr},
    {"check", nullptr},      {"radio", nullptr},      {"field", nullptr},
    {"area", nullptr},       {"text-list", nullptr},  {"drop-down", nullptr},
    {"drop-list", nullptr},  {"progress", nullptr},   {"slider", nullptr},
    {"scroller", nullptr},   {"tab-panel", nullptr},  {"group-box", nullptr},
    {"calendar", nullptr},   {"camera", nullptr},     {"rich-text", make_base},
};

// The native views fill their makers and hooks before anything runs.
const bool views_installed = (views::install(), true);

// --- window signals ---

// configure-event of a window: the facet follows, then `move` (the frame's
// corner) or `resize`. X11 reports no drag, so there is no moving/resizing.
gboolean on_configure(GtkWidget* w, GdkEventConfigure* e, gpointer) {
    WidgetRecord* r = record_of(w);
    if (!r || !r->face_slot || r->cleaned) return FALSE;
    Cell face = face_of(r->handle);
    collector::Root keep(face);
    int fx = e->x, fy = e->y;
    if (GdkWindow* gw = gtk_widget_get_window(w)) {
        GdkRectangle frame;
        gdk_window_get_frame_extents(gw, &frame);
        fx = frame.x;
        fy = frame.y;
    }
    if (fx != r->last_x || fy != r->last_y) {
        r->last_x = fx;
        r->last_y = fy;
        set_facet_quiet(face, facet::offset,
                        point_cell(Type::point2d, float(to_logical(fx)), float(to_logical(fy))));
        Message m;
        m.window = r->handle;
        m.x = fx;
        m.y = fy;
        make_event(m, 0, evt::move);
    }
    r = record_of(w);
    if (r && !r->cleaned && (e->width != r->last_w || e->height != r->last_h)) {
        r->last_w = e->width;
        r->last_h = e->height;
        // The face is the client area: a menu bar sits above it, outside the face.
        int height = std::max(e->height - views::menu_bar_height(r->handle), 0);
        Cell size = point_cell(Type::point2d, float(to_logical(e->width)), float(to_logical(height)));
        if (r->face_kind & 0x10) size = pair_cell(int32_t(point_coord(size, 0)), int32_t(point_coord(size, 1)));
        set_facet_quiet(face, facet::size, size);
        Message m;
        m.window = r->handle;
        m.x = e->width;
        m.y = height;
        make_event(m, 0, evt::resize);
    }
    return FALSE;
}

// The window is closed by the view layer (destroy-view), not by the window
// manager; `stop` ends the event loop.
gboolean on_delete(GtkWidget* w, GdkEvent*, gpointer) {
    WidgetRecord* r = record_of(w);
    if (!r || !r->face_slot || r->cleaned) return FALSE;
    Message m;
    m.window = r->handle;
    spine::pointer_in(r->handle, m.x, m.y);
    if (make_event(m, 0, evt::close) == 0) post_quit();
    return TRUE;
}

gboolean on_focus(GtkWidget* w, GdkEventFocus* e, gpointer) {
    WidgetRecord* r = record_of(w);
    if (!r || !r->face_slot || r->cleaned) return FALSE;
    Message m;
    m.window = r->handle;
    make_event(m, 0, e->in ? evt::focus : evt::unfocus);
    return FALSE;
}

void on_realize(GtkWidget* w, gpointer) {
    WidgetRecord* r = record_of(w);
    if (r && r->cursor)
        if (GdkWindow* gw = gtk_widget_get_window(r->inner ? r->inner : w)) gdk_window_set_cursor(gw, r->cursor);
}

struct Connected {
    uint32_t type;
};

void on_control(GtkWidget* w, gpointer data) {
    uint32_t window = spine::face_window_of(w);
    if (!window) return;
    Message m;
    m.window = window;
    spine::pointer_in(window, m.x, m.y);
    make_event(m, 0, GPOINTER_TO_UINT(data));
}

// A right click on a face with a context menu pops it up.
gboolean on_press(GtkWidget* w, GdkEventButton* e, gpointer) {
    if (e->type != GDK_BUTTON_PRESS || e->button != 3) return FALSE;
    WidgetRecord* r = record_of(w);
    return r && r->face_slot && !r->cleaned && views::context_menu(r->handle, e);
}

GtkWidget* client(GtkWidget* w) {
    WidgetRecord* r = record_of(w);
    return r && r->inner ? r->inner : w;
}

// Cleans up one face and its pane: the widget stays until its top is destroyed.
void clean_face(const Cell& face_in, std::vector<uint32_t>& gone) {
    Cell face = face_in;
    collector::Root keep(face);
    uint32_t h = face_handle(face);
    GtkWidget* w = windows::get(h);
    WidgetRecord* r = w ? record_of(w) : nullptr;
    if (!r || r->cleaned) return;
    if (r->kind == Kind::window) gtk_widget_hide(w);
    spine::cancel_timer(*r);
    if (hooks().destroy_face) hooks().destroy_face(face, h);
    Cell pane = get_facet(face, facet::pane);
    if (is(pane, Type::block)) {
        collector::Root keep_pane(pane);
        for (int32_t i = 0; i < block::rs_length(pane); ++i) {
            Cell child = *block::rs_abs_at(pane, int32_t(series_index(pane)) + i);
            if (is(child, Type::object)) clean_face(child, gone);
        }
    }
    r = record_of(w);
    if (r->cursor) {
        g_object_unref(r->cursor);
        r->cursor = nullptr;
    }
    values::remove(r->face_slot);
    r->face_slot = 0;
    r->cleaned = true;
    set_facet_quiet(face, facet::state, none_cell());
    gone.push_back(h);
}

}  // namespace

WidgetRecord* record_of(GtkWidget* w) {
    return w ? static_cast<WidgetRecord*>(g_object_get_qdata(G_OBJECT(w), record_quark())) : nullptr;
}

Kind kind_of_type(uint32_t type_symbol) {
    // The kinds' symbols looked up once: this runs for every face read.
    static uint32_t known[size_t(Kind::count)] = {};
    if (!known[0])
        for (size_t i = 0; i < size_t(Kind::count); ++i) known[i] = symbol::resolve(symbol::make(kinds[i].type));
    uint32_t sym = symbol::resolve(type_symbol);
    for (size_t i = 0; i < size_t(Kind::count); ++i)
        if (known[i] == sym) return Kind(i);
    return Kind::count;
}

void set_factory(Kind kind, WidgetFactory make) {
    if (kind < Kind::count) kinds[size_t(kind)].make = make;
}

uint32_t make_widget(Kind kind, const Cell& face, uint32_t parent) {
    ensure_started();
    GtkWidget* inner = nullptr;
    WidgetFactory make = kind < Kind::count ? kinds[size_t(kind)].make : nullptr;
    GtkWidget* w = make ? make(face, inner) : make_base(face, inner);
    auto* r = new WidgetRecord;
    r->kind = kind;
    r->inner = inner;
    r->outer = w;
    r->native_flags = get_flags(get_facet(face, facet::flags));
    if (is(get_facet(face, facet::size), Type::pair)) r->face_kind |= 0x10;
    g_object_set_qdata_full(G_OBJECT(w), record_quark(), r, free_record);
    views::attach_state(r, w);
    r->handle = windows::add(w);
    r->face_slot = values::add(face);
    gtk_widget_add_events(w, input_events);
    g_signal_connect(w, "realize", G_CALLBACK(on_realize), nullptr);
    if (kind == Kind::window) {
        g_signal_connect(w, "configure-event", G_CALLBACK(on_configure), nullptr);
        g_signal_connect(w, "delete-event", G_CALLBACK(on_delete), nullptr);
        g_signal_connect(w, "focus-in-event", G_CALLBACK(on_focus), nullptr);
        g_signal_connect(w, "focus-out-event", G_CALLBACK(on_focus), nullptr);
    }
    if (auto* s = static_cast<views::ViewState*>(r->extra)) s->parent = parent;
    g_signal_connect(w, "button-press-event", G_CALLBACK(on_press), nullptr);
    return r->handle;
}

void connect_event(GtkWidget* w, const char* signal, uint32_t type) {
    g_signal_connect(w, signal, G_CALLBACK(on_control), GUINT_TO_POINTER(type));
}

// What a face shows, read from its window: the window drawn into an image
// cropped to the face (so overlapping siblings show as on screen), opaque.
Cell capture_face_image(const Cell& face) {
    uint32_t h = face_handle(face);
    GtkWidget* w = windows::get(h);
    if (!w || !gtk_widget_get_realized(w)) return none_cell();
    WidgetRecord* r = record_of(w);
    if (r && (r->kind == Kind::base || r->kind == Kind::rich_text) && hooks().render_face_image) {
        Cell img = hooks().render_face_image(face, h);
        if (!is(img, Type::none)) return img;
    }
    GtkWidget* shown = r && r->kind == Kind::window ? client(w) : w;
    GtkWidget* top = gtk_widget_get_toplevel(shown);
    if (!GTK_IS_WINDOW(top)) return none_cell();
    // Changes made since the last frame are laid out first: resizes, and
    // widgets that only asked to be allocated again (a progress bar's fill).
    gtk_container_check_resize(GTK_CONTAINER(top));
    if (gtk_widget_get_visible(top)) {
        GtkAllocation a;
        gtk_widget_get_allocation(top, &a);
        gtk_widget_size_allocate(top, &a);
    }
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(shown, top, 0, 0, &x, &y)) return none_cell();
    double fw = 0, fh = 0;
    views::coords(get_facet(face, facet::size), fw, fh);
    int width = fw > 0 ? to_physical(fw) : gtk_widget_get_allocated_width(shown);
    int height = fh > 0 ? to_physical(fh) : gtk_widget_get_allocated_height(shown);
    if (width <= 0 || height <= 0) return none_cell();
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_translate(cr, -x, -y);
    gtk_widget_draw(top, cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    const uint8_t* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    std::vector<uint8_t> bgra(size_t(width) * height * 4);
    for (int yy = 0; yy < height; ++yy) {
        memcpy(&bgra[size_t(yy) * width * 4], data + size_t(yy) * stride, size_t(width) * 4);
        for (int xx = 0; xx < width; ++xx) bgra[(size_t(yy) * width + xx) * 4 + 3] = 255;
    }
    cairo_surface_destroy(s);
    Node record = image::from_pixels(uint32_t(width), uint32_t(height), 0, bgra.data());
    Cell img;
    image::init_image(img, record, uint32_t(width), uint32_t(height));
    return img;
}

void set_cursor(uint32_t window, const Cell& options) {
    GtkWidget* w = windows::get(window);
    WidgetRecord* r = w ? record_of(w) : nullptr;
    if (!r) return;
    if (r->cursor) g_object_unref(r->cursor);
    r->cursor = nullptr;
    if (is(options, Type::block)) {
        uint32_t n;
        const Cell* v = scalar::block_values(options, n);
        static const uint32_t cursor_sym = symbol::resolve(symbol::make("cursor"));
        const char* name = nullptr;
        for (uint32_t i = 0; n % 2 == 0 && i + 1 < n; i += 2) {
            if (!is(v[i], Type::set_word) || symbol::resolve(word_symbol(v[i])) != cursor_sym) continue;
            const Cell& c = v[i + 1];
            if (!is(c, Type::word)) continue;
            struct Named {
                const char* word;
                const char* css;
            };
            static constexpr Named names[] = {{"I-beam", "text"}, {"hand", "pointer"},
                                              {"cross", "crosshair"}, {"resize-ns", "ns-resize"},
                                              {"resize-ew", "ew-resize"}, {"resize-we", "ew-resize"}};
            name = "default";
            for (const Named& nm : names)
                if (symbol::resolve(word_symbol(c)) == symbol::resolve(symbol::make(nm.word))) name = nm.css;
        }
        if (name) r->cursor = gdk_cursor_new_from_name(gtk_widget_get_display(w), name);
    }
    if (GdkWindow* gw = gtk_widget_get_window(client(w))) gdk_window_set_cursor(gw, r->cursor);
}

namespace spine {

void show_window(uint32_t window) {
    GtkWidget* w = windows::get(window);
    if (!w) return;
    WidgetRecord* r = record_of(w);
    if (r) r->first_shown = false;
    gtk_widget_show(w);
    if (GTK_IS_WINDOW(w)) gtk_window_present(GTK_WINDOW(w));
    Cell face = face_of(window);
    Cell selected = get_facet(face, facet::selected);
    if (is(selected, Type::object))
        if (views::ViewState* f = views::state_of(face_handle(selected))) gtk_widget_grab_focus(f->main);
}

void redraw(uint32_t window) {
    GtkWidget* w = windows::get(window);
    if (!w) return;
    gtk_widget_queue_draw(w);
    refresh_window(window);
}

void refresh_window(uint32_t window) {
    GtkWidget* w = windows::get(window);
    if (!w || !gtk_widget_get_realized(w)) return;
    // Paint what is pending now, as the original's UpdateWindow did; GTK 3
    // keeps this call for exactly that.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (GdkWindow* gw = gtk_widget_get_window(w)) gdk_window_process_updates(gw, TRUE);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

void destroy_view(const Cell& face, bool empty) {
    uint32_t h = face_handle(face);
    GtkWidget* w = windows::get(h);
    if (w) {
        std::vector<uint32_t> gone;
        clean_face(face, gone);
        gtk_widget_destroy(w);
        for (uint32_t g : gone) windows::remove(g);
    }
    if (empty) loop_window_gone();
}

// An offset or size is a pair!, a point2D! or none; anything else would be
// read as garbage.
void check_coords(const Cell& v) {
    if (!is(v, Type::none) && !is(v, Type::pair) && !is(v, Type::point2d)) errors::fire(errors::id::invalid_arg, &v);
}

// Makes the widget of a face: checked before anything is made, so a bad face
// leaves nothing behind.
uint32_t default_make_view(const Cell& face_in, uint32_t parent) {
    Cell face = face_in;
    collector::Root keep(face);
    Kind kind = views::kind_of_face(face);
    if (kind == Kind::count) {
        Cell type = get_facet(face, facet::type);
        errors::fire(script_error("face-type"), &type);
    }
    Cell offset = get_facet(face, facet::offset);
    check_coords(offset);
    check_coords(get_facet(face, facet::size));
    if (is(offset, Type::pair))
        set_facet_quiet(face, facet::offset, point_cell(Type::point2d, float(pair_x(offset)), float(pair_y(offset))));
    DpiContext dpi_context(parent);
    uint32_t h = make_widget(kind, face, parent);
    GtkWidget* w = windows::get(h);
    if (kind == Kind::window) {
        uint32_t flags = get_flags(get_facet(face, facet::flags));
        GtkWindow* win = GTK_WINDOW(w);
        gtk_window_set_resizable(win, (flags & 0x4000000) != 0);
        if (flags & (0x40000000 | 0x80000000u)) gtk_window_set_decorated(win, FALSE);
        if (flags & 0x1000000) gtk_window_set_type_hint(win, GDK_WINDOW_TYPE_HINT_UTILITY);
        if (flags & 0x2000000) {
            gtk_window_set_modal(win, TRUE);
            GList* tops = gtk_window_list_toplevels();
            for (GList* l = tops; l; l = l->next)
                if (l->data != w && gtk_window_is_active(GTK_WINDOW(l->data)))
                    gtk_window_set_transient_for(win, GTK_WINDOW(l->data));
            g_list_free(tops);
        }
    } else {
        Cell enabled = get_facet(face, facet::enabled_q);
        if (is(enabled, Type::logic) && !logic_of(enabled)) gtk_widget_set_sensitive(w, FALSE);
    }
    views::place_face(face, h);
    views::setup_after_create(face, h);
    views::connect_signals(face, h);
    if (kind != Kind::window) {
        Cell visible = get_facet(face, facet::visible_q);
        if (!is(visible, Type::logic) || logic_of(visible)) gtk_widget_show(w);
    }
    Cell rate = get_facet(face, facet::rate);
    if (!is(rate, Type::none)) set_rate(h, rate);
    set_cursor(h, get_facet(face, facet::options));
    return h;
}

}  // namespace spine

}  // namespace zan::gui
