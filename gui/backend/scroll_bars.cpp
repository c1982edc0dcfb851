// The scroll bars of a face of its own (a scroller! object whose parent is
// a face, made by get-scroller): the console's text face keeps its vertical
// bar here.
//
// A face that draws itself is a drawing area, which holds no children, so
// each bar lives beside it in the parent's ZanFixed, laid over the face's
// right (vertical) or bottom (horizontal) edge and moved with it. The bar
// sits in an event box with a window of its own, so it stays above the
// face's window. The script owns the position: a user's step, page or drag
// becomes a `scroll` event (key up, down, page-up, page-down, track; left ...
// for a horizontal bar; picked the position asked for) and the bar moves
// only when the script sets the scroller's position.
//
// Ranges count as the scroller's fields do: positions from 1 to
// max-size - page-size + 1, a page of page-size; a range that fits in the
// page leaves the bar shown but insensitive.
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "gui/backend/backend.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"

namespace zan::gui::edge_bars {

using views::fixed_place;
using views::fixed_rect;

namespace {

struct Bar {
    GtkWidget* box = nullptr;  // event box placed in the fixed
    GtkWidget* bar = nullptr;  // the GtkScrollbar inside it
    bool shown = false;        // the scroller's visible?
};

struct Bars {
    uint32_t window = 0;  // the face's window handle
    GtkWidget* face = nullptr;
    Bar vertical, horizontal;
};

GQuark bars_quark() {
    static GQuark q = g_quark_from_static_string("zan-scroll-bars");
    return q;
}

Bars* bars_of(GtkWidget* face) { return static_cast<Bars*>(g_object_get_qdata(G_OBJECT(face), bars_quark())); }

// The theme's natural thickness (what system/view/metrics reports).
int bar_thickness(const Bar& b) {
    int min = 0, nat = 0;
    if (gtk_orientable_get_orientation(GTK_ORIENTABLE(b.bar)) == GTK_ORIENTATION_VERTICAL)
        gtk_widget_get_preferred_width(b.bar, &min, &nat);
    else
        gtk_widget_get_preferred_height(b.bar, &min, &nat);
    return std::max({min, nat, 1});
}

bool on_screen(const Bar& b, GtkWidget* face) { return b.box && b.shown && gtk_widget_get_visible(face); }

// Lays the bars over the face's edges, from the face's own rectangle.
void place_bars(Bars* s) {
    GtkWidget* fixed = gtk_widget_get_parent(s->face);
    int x, y, w, h;
    fixed_rect(s->face, x, y, w, h);
    bool v = on_screen(s->vertical, s->face), hz = on_screen(s->horizontal, s->face);
    int vw = v ? bar_thickness(s->vertical) : 0;
    int hh = hz ? bar_thickness(s->horizontal) : 0;
    for (Bar* b : {&s->vertical, &s->horizontal}) {
        if (!b->box) continue;
        bool show = on_screen(*b, s->face) && fixed;
        if (!show) {
            gtk_widget_hide(b->box);
            continue;
        }
        if (b == &s->vertical) fixed_place(fixed, b->box, x + w - vw, y, vw, std::max(h - hh, 1));
        else fixed_place(fixed, b->box, x, y + h - hh, std::max(w - vw, 1), hh);
        gtk_widget_show_all(b->box);
        if (GdkWindow* gw = gtk_widget_get_window(b->box); gw && gtk_widget_get_realized(b->box)) gdk_window_raise(gw);
    }
}

void on_face_allocate(GtkWidget*, GdkRectangle*, gpointer data) { place_bars(static_cast<Bars*>(data)); }
void on_face_shown(GtkWidget*, gpointer data) { place_bars(static_cast<Bars*>(data)); }

void on_face_destroy(GtkWidget* face, gpointer) {
    Bars* s = bars_of(face);
    if (!s) return;
    for (Bar* b : {&s->vertical, &s->horizontal})
        if (b->box) gtk_widget_destroy(b->box);
    s->vertical.box = s->horizontal.box = nullptr;
}

void on_box_realize(GtkWidget* box, gpointer) {
    if (GdkWindow* gw = gtk_widget_get_window(box)) gdk_window_raise(gw);
}

int scroll_code(GtkScrollType t) {
    switch (t) {
    case GTK_SCROLL_STEP_BACKWARD: case GTK_SCROLL_STEP_UP: case GTK_SCROLL_STEP_LEFT: return 0;
    case GTK_SCROLL_STEP_FORWARD: case GTK_SCROLL_STEP_DOWN: case GTK_SCROLL_STEP_RIGHT: return 1;
    case GTK_SCROLL_PAGE_BACKWARD: case GTK_SCROLL_PAGE_UP: case GTK_SCROLL_PAGE_LEFT: return 2;
    case GTK_SCROLL_PAGE_FORWARD: case GTK_SCROLL_PAGE_DOWN: case GTK_SCROLL_PAGE_RIGHT: return 3;
    case GTK_SCROLL_JUMP: return 5;
    default: return 4;  // start, end: `end`
    }
}

// The bar never moves by itself: the script answers with the position.
gboolean on_change_value(GtkRange* range, GtkScrollType type, gdouble value, gpointer data) {
    uint32_t window = GPOINTER_TO_UINT(data);
    WidgetRecord* r = record_of(windows::get(window));
    if (!r || r->cleaned) return TRUE;
    GtkAdjustment* a = gtk_range_get_adjustment(range);
    int code = scroll_code(type);
    double pos = code == 5 ? value : gtk_adjustment_get_value(a);
    double last = gtk_adjustment_get_upper(a) - gtk_adjustment_get_page_size(a);
    pos = std::clamp(pos, gtk_adjustment_get_lower(a), std::max(last, gtk_adjustment_get_lower(a)));
    Message m;
    m.window = window;
    spine::pointer_in(window, m.x, m.y);
    bool horizontal = gtk_orientable_get_orientation(GTK_ORIENTABLE(range)) == GTK_ORIENTATION_HORIZONTAL;
    m.param = code | (horizontal ? 0x100 : 0);
    m.picked = integer_cell(int32_t(std::lround(pos)));
    make_event(m, 0, evt::scroll);
    return TRUE;
}

Bars* bars_for(GtkWidget* face, uint32_t window) {
    if (Bars* s = bars_of(face)) return s;
    auto* s = new Bars;
    s->window = window;
    s->face = face;
    g_object_set_qdata_full(G_OBJECT(face), bars_quark(), s, [](gpointer p) { delete static_cast<Bars*>(p); });
    g_signal_connect(face, "size-allocate", G_CALLBACK(on_face_allocate), s);
    g_signal_connect(face, "show", G_CALLBACK(on_face_shown), s);
    g_signal_connect(face, "hide", G_CALLBACK(on_face_shown), s);
    g_signal_connect(face, "destroy", G_CALLBACK(on_face_destroy), nullptr);
    return s;
}

Bar& bar_for(Bars* s, bool vertical) {
    Bar& b = vertical ? s->vertical : s->horizontal;
    if (b.box) return b;
    GtkAdjustment* a = gtk_adjustment_new(1, 1, 2, 1, 1, 1);
    b.bar = gtk_scrollbar_new(vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, a);
    b.box = gtk_event_box_new();
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(b.box), TRUE);
    gtk_container_add(GTK_CONTAINER(b.box), b.bar);
    g_signal_connect(b.box, "realize", G_CALLBACK(on_box_realize), nullptr);
    g_signal_connect(b.bar, "change-value", G_CALLBACK(on_change_value), GUINT_TO_POINTER(s->window));
    b.shown = true;
    return b;
}

double number(const Cell& scroller, const char* name, double fallback) {
    Cell v = get_field(scroller, name);
    if (is(v, Type::integer)) return int_of(v);
    if (is(v, Type::float_) || is(v, Type::percent)) return float_of(v);
    return fallback;
}

// Range and page from the scroller: positions 1 .. max-size - page-size + 1.
void set_range(Bar& b, const Cell& scroller) {
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(b.bar));
    double page = std::max(number(scroller, "page-size", 1), 0.0);
    double max = std::max(number(scroller, "max-size", 1), 1.0);
    double value = gtk_adjustment_get_value(a);
    gtk_adjustment_configure(a, value, 1, max + 1, 1, std::max(page, 1.0), page);
    gtk_widget_set_sensitive(b.bar, max + 1 - 1 > page);
}

void set_position(Bar& b, const Cell& scroller) {
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(b.bar));
    gtk_adjustment_set_value(a, number(scroller, "position", 1));
}

void update_scroller(const Cell& scroller_in, int32_t field) {
    Cell scroller = scroller_in;
    collector::Root keep(scroller);
    uint32_t window = face_handle(get_field(scroller, "parent"));
    GtkWidget* w = windows::get(window);
    WidgetRecord* r = record_of(w);
    if (!r || r->cleaned || r->kind == Kind::window) return;
    GtkWidget* face = r->outer ? r->outer : w;
    bool vertical = is_truthy(get_field(scroller, "vertical?"));
    Bars* s = bars_for(face, window);
    bool fresh = !(vertical ? s->vertical.box : s->horizontal.box);
    Bar& b = bar_for(s, vertical);
    if (fresh) {
        set_range(b, scroller);
        set_position(b, scroller);
        b.shown = is_truthy(get_field(scroller, "visible?"));
    }
    switch (field) {
    case 0: set_position(b, scroller); break;
    case 1: case 3: set_range(b, scroller); set_position(b, scroller); break;
    case 4: b.shown = is_truthy(get_field(scroller, "visible?")); break;
    default: break;
    }
    place_bars(s);
}

// Only where the native views leave the hook empty.
const bool installed = [] {
    Hooks& h = hooks();
    if (!h.update_scroller) h.update_scroller = update_scroller;
    return true;
}();

}  // namespace

}  // namespace zan::gui::edge_bars
