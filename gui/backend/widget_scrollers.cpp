// Scroll bars on a face's edges, driven by scroller! objects: the vertical
// one along the right edge, the horizontal one along the bottom. They sit
// beside the face in its container (in a window's client for a window) and
// follow its rectangle. The range runs from 1 to `max-size` with `page-size`
// a page, so the last position is max-size - page-size + 1.
//
// A bar never moves by itself: a user's step, page or drag becomes a `scroll`
// event with the position asked for, and the script sets `position`.
#include <cmath>

#include "datatypes/logic.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"

namespace zan::gui::views {

namespace {

constexpr int vertical_bar = 0, horizontal_bar = 1;

int thickness(GtkWidget* bar, int which) {
    int n = 0;
    if (which == vertical_bar) gtk_widget_get_preferred_width(bar, &n, nullptr);
    else gtk_widget_get_preferred_height(bar, &n, nullptr);
    return std::max(n, 1);
}

// Scroll codes of `scroll` events: up/left 0, down/right 1, page-up/left 2,
// page-down/right 3, track 5, anything else end.
int scroll_code(GtkScrollType t) {
    switch (t) {
    case GTK_SCROLL_STEP_BACKWARD: case GTK_SCROLL_STEP_UP: case GTK_SCROLL_STEP_LEFT: return 0;
    case GTK_SCROLL_STEP_FORWARD: case GTK_SCROLL_STEP_DOWN: case GTK_SCROLL_STEP_RIGHT: return 1;
    case GTK_SCROLL_PAGE_BACKWARD: case GTK_SCROLL_PAGE_UP: case GTK_SCROLL_PAGE_LEFT: return 2;
    case GTK_SCROLL_PAGE_FORWARD: case GTK_SCROLL_PAGE_DOWN: case GTK_SCROLL_PAGE_RIGHT: return 3;
    case GTK_SCROLL_JUMP: return 5;
    default: return 4;
    }
}

gboolean on_change_value(GtkRange* range, GtkScrollType t, gdouble value, gpointer data) {
    uint32_t window = GPOINTER_TO_UINT(data);
    ViewState* s = state_of(window);
    WidgetRecord* r = record_of(windows::get(window));
    if (!s || !r || !r->face_slot || r->cleaned) return TRUE;
    int which = GTK_WIDGET(range) == s->bars[horizontal_bar] ? horizontal_bar : vertical_bar;
    int code = scroll_code(t);
    GtkAdjustment* adj = gtk_range_get_adjustment(range);
    double top = gtk_adjustment_get_upper(adj) - gtk_adjustment_get_page_size(adj);
    double pos = code == 5 ? std::clamp(value, gtk_adjustment_get_lower(adj), std::max(top, 1.0))
                           : gtk_adjustment_get_value(adj);
    Message m;
    m.window = window;
    spine::pointer_in(window, m.x, m.y);
    m.param = code | (which == horizontal_bar ? 0x100 : 0);
    m.picked = integer_cell(int32_t(std::lround(pos)));
    make_event(m, 0, evt::scroll);
    return TRUE;
}

void on_client_allocate(GtkWidget*, GdkRectangle*, gpointer data);

GtkWidget* bar_of(uint32_t window, int which) {
    ViewState* s = state_of(window);
    if (!s) return nullptr;
    if (!s->bars[which]) {
        GtkAdjustment* adj = gtk_adjustment_new(1, 1, 2, 1, 1, 1);
        GtkWidget* bar = gtk_scrollbar_new(which == vertical_bar ? GTK_ORIENTATION_VERTICAL
                                                                 : GTK_ORIENTATION_HORIZONTAL, adj);
        g_object_ref_sink(bar);
        g_signal_connect(bar, "change-value", G_CALLBACK(on_change_value), GUINT_TO_POINTER(window));
        s->bars[which] = bar;
        // A window's client is resized by the user: its bars follow.
        WidgetRecord* r = record_of(windows::get(window));
        if (r && r->kind == Kind::window && r->inner)
            g_signal_connect_after(r->inner, "size-allocate", G_CALLBACK(on_client_allocate), GUINT_TO_POINTER(window));
    }
    return s->bars[which];
}

int field_int(const Cell& scroller, const char* name, int otherwise) {
    Cell v = get_field(scroller, name);
    if (is(v, Type::integer)) return int_of(v);
    if (is(v, Type::float_)) return int(std::trunc(float_of(v)));
    return otherwise;
}

}  // namespace

namespace {
void on_client_allocate(GtkWidget*, GdkRectangle*, gpointer data) { place_bars(GPOINTER_TO_UINT(data)); }
}  // namespace

void place_bars(uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!s || !r || (!s->bars[0] && !s->bars[1])) return;
    GtkWidget* container;
    int x = 0, y = 0, wd = 0, ht = 0;
    if (r->kind == Kind::window) {
        container = r->inner;
        gtk_widget_get_size_request(r->inner, &wd, &ht);
        if (gtk_widget_get_realized(r->inner)) {
            wd = gtk_widget_get_allocated_width(r->inner);
            ht = gtk_widget_get_allocated_height(r->inner);
        }
    } else {
        container = gtk_widget_get_parent(w);
        fixed_rect(w, x, y, wd, ht);
    }
    bool face_shown = gtk_widget_get_visible(w);
    bool on[2];
    for (int i = 0; i < 2; ++i) on[i] = s->bars[i] && face_shown && !s->bar_hidden[i];
    if (!container || !GTK_IS_FIXED(container)) {
        for (GtkWidget* bar : s->bars)
            if (bar) gtk_widget_hide(bar);
        return;
    }
    // Shown first: a hidden widget asks for no size.
    for (int i = 0; i < 2; ++i)
        if (s->bars[i]) on[i] ? gtk_widget_show(s->bars[i]) : gtk_widget_hide(s->bars[i]);
    int t[2] = {on[0] ? thickness(s->bars[0], 0) : 0, on[1] ? thickness(s->bars[1], 1) : 0};
    if (on[0]) fixed_place(container, s->bars[0], x + wd - t[0], y, t[0], std::max(ht - t[1], 0));
    if (on[1]) fixed_place(container, s->bars[1], x, y + ht - t[1], std::max(wd - t[0], 0), t[1]);
}

void release_bars(ViewState* s) {
    for (GtkWidget*& bar : s->bars) {
        if (!bar) continue;
        g_signal_handlers_disconnect_matched(bar, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                             reinterpret_cast<gpointer>(on_change_value), nullptr);
        gtk_widget_destroy(bar);
        g_object_unref(bar);
        bar = nullptr;
    }
}

// scroller field: 0 position, 1 page-size, 3 max-size, 4 visible?; others
// change nothing.
void update_scroller(const Cell& scroller_in, int32_t field) {
    Cell scroller = scroller_in;
    collector::Root keep(scroller);
    if (field != 0 && field != 1 && field != 3 && field != 4) return;
    uint32_t window = face_handle(get_field(scroller, "parent"));
    if (!state_of(window)) return;
    int which = logic::value_true(get_field(scroller, "vertical?")) ? vertical_bar : horizontal_bar;
    GtkWidget* bar = bar_of(window, which);
    ViewState* s = state_of(window);
    if (field == 4) {
        s->bar_hidden[which] = !logic::value_true(get_field(scroller, "visible?"));
    } else {
        GtkAdjustment* adj = gtk_range_get_adjustment(GTK_RANGE(bar));
        Applying a(s);
        if (field == 0) {
            double top = std::max(gtk_adjustment_get_upper(adj) - gtk_adjustment_get_page_size(adj), 1.0);
            gtk_adjustment_set_value(adj, std::clamp(double(field_int(scroller, "position", 1)), 1.0, top));
        } else {
            int max = std::max(field_int(scroller, "max-size", 1), 1);
            int page = std::clamp(field_int(scroller, "page-size", 1), 0, max);
            double value = gtk_adjustment_get_value(adj);
            gtk_adjustment_configure(adj, std::clamp(value, 1.0, std::max(double(max - page + 1), 1.0)), 1,
                                     max + 1, 1, std::max(page, 1), page);
        }
        // A bar with nothing to scroll stays, disabled.
        gtk_widget_set_sensitive(bar, gtk_adjustment_get_upper(adj) - gtk_adjustment_get_lower(adj) >
                                          gtk_adjustment_get_page_size(adj));
    }
    place_bars(window);
}

}  // namespace zan::gui::views
