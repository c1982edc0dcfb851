// Script to widget: the changed-facet bits of a face's state applied to its
// widget, and changes made inside a `pane` or `data` series.
//
// The bits are taken (the mask cleared) before anything is applied and put
// back when an applier raises, so a face that failed stays marked. They are
// applied in a fixed order: a size re-applies `data` for ranges, `flags` may
// move the focus, and the text must be in before a selection is made in it.
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/image_backend.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"

namespace zan::gui::views {

namespace {

Cell* state_item(const Cell& face, int32_t i) {
    Cell st = get_facet(face, facet::state);
    if (!is(st, Type::block) || block::rs_length(st) <= i) return nullptr;
    return block::rs_abs_at(st, int32_t(series_index(st)) + i);
}

// A block-like facet's values from its head position.
template <typename Fn>
void each_value(const Cell& blk, Fn fn) {
    if (!is(blk, Type::block) && !is(blk, Type::hash)) return;
    int32_t n = block::rs_length(blk), at = int32_t(series_index(blk));
    for (int32_t i = 0; i < n; ++i) fn(*block::rs_abs_at(blk, at + i), i);
}

bool logic_facet(const Cell& face, int k, bool otherwise) {
    Cell v = get_facet(face, k);
    return is(v, Type::logic) ? logic_of(v) : otherwise;
}

void check_coords(const Cell& v) {
    if (!is(v, Type::pair) && !is(v, Type::point2d)) errors::fire(errors::id::invalid_arg, &v);
}

// The page area of a tab panel of a given physical size: below the tabs.
void page_area(GtkWidget* notebook, int w, int h, int& pw, int& ph) {
    int min = 0, nat = 0;
    gtk_widget_get_preferred_height(notebook, &min, &nat);
    pw = std::max(w - 2, 1);
    ph = std::max(h - min, 1);
}

void set_check(ViewState* s, const Cell& data, bool tri_state) {
    if (!GTK_IS_TOGGLE_BUTTON(s->main)) return;
    GtkToggleButton* t = GTK_TOGGLE_BUTTON(s->main);
    if (tri_state && is(data, Type::none)) {
        gtk_toggle_button_set_inconsistent(t, TRUE);
        return;
    }
    gtk_toggle_button_set_inconsistent(t, FALSE);
    bool on = is(data, Type::none) ? false : is(data, Type::logic) ? logic_of(data) : true;
    if (!on && s->anchor) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(s->anchor), TRUE);
    else gtk_toggle_button_set_active(t, on);
}

// A calendar shows 1-Jan-1601 to 31-Dec-9999: a date outside is the nearest
// end (clamping the year alone could make 29-Feb of a common year).
void show_date(ViewState* s, int32_t y, int32_t m, int32_t d) {
    if (y < 1601) y = 1601, m = 1, d = 1;
    if (y > 9999) y = 9999, m = 12, d = 31;
    gtk_calendar_select_month(GTK_CALENDAR(s->main), guint(m - 1), guint(y));
    gtk_calendar_select_day(GTK_CALENDAR(s->main), guint(d));
}

void set_date(ViewState* s, const Cell& d) {
    if (!is(d, Type::date) || !GTK_IS_CALENDAR(s->main)) return;
    show_date(s, date::year_of(d.w1), date::month_of(d.w1), date::day_of(d.w1));
}

GtkListStore* list_store(ViewState* s) {
    return GTK_IS_TREE_VIEW(s->main) ? GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(s->main))) : nullptr;
}

void select_row(ViewState* s, int32_t n) {
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(s->main));
    if (n < 1) {
        gtk_tree_selection_unselect_all(sel);
        return;
    }
    GtkTreePath* p = gtk_tree_path_new_from_indices(n - 1, -1);
    gtk_tree_selection_select_path(sel, p);
    gtk_tree_path_free(p);
}

// Takes the faces out of a tab's page, each kept alive by a reference that
// the caller drops once they are placed again.
void take_out(GtkWidget* page, std::vector<GtkWidget*>& kept) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(page));
    for (GList* l = children; l; l = l->next) {
        g_object_ref(l->data);
        gtk_container_remove(GTK_CONTAINER(page), GTK_WIDGET(l->data));
        kept.push_back(GTK_WIDGET(l->data));
    }
    g_list_free(children);
}

// Pane faces of a tab panel go back into the pages after the pages change.
void replace_pages(const Cell& face) {
    each_value(get_facet(face, facet::pane), [](const Cell& f, int32_t) {
        if (!is(f, Type::object)) return;
        if (uint32_t h = face_handle(f)) place_face(f, h);
    });
}

// Shows the page of tab n (1-based) and hides every other.
void show_page(const Cell& face, int32_t n) {
    Cell pane = get_facet(face, facet::pane);
    collector::Root keep(pane);
    each_value(pane, [n](const Cell& f, int32_t i) {
        if (!is(f, Type::object)) return;
        bool on = i == n - 1;
        set_facet_quiet(f, facet::visible_q, logic_cell(on));
        if (GtkWidget* w = windows::get(face_handle(f))) on ? gtk_widget_show(w) : gtk_widget_hide(w);
    });
}

}  // namespace

Cell calendar_date(ViewState* s) {
    guint y, m, d;
    gtk_calendar_get_date(GTK_CALENDAR(s->main), &y, &m, &d);
    if (y < 1601 || y > 9999) {
        // Stepped past an end: the widget goes back to it.
        Applying a(s);
        show_date(s, int32_t(y), int32_t(m) + 1, int32_t(d));
        gtk_calendar_get_date(GTK_CALENDAR(s->main), &y, &m, &d);
    }
    Cell out;
    date::make_at(out, int32_t(y), int32_t(m) + 1, int32_t(d), 0, false, 0, 0, false);
    return out;
}

// --- item positions ---------------------------------------------------------------------

int32_t native_position(const Cell& data, int32_t index) {
    int32_t p = 0;
    for (int32_t i = 0; i < index && i < int32_t(block::rs_length(data) + series_index(data)); ++i)
        if (is_string_like(*block::rs_abs_at(data, i))) ++p;
    return p;
}

// --- placement ----------------------------------------------------------------------------

int menu_bar_height(uint32_t window) {
    ViewState* s = state_of(window);
    int bar = 0;
    if (s && s->menubar && gtk_widget_get_visible(s->menubar)) gtk_widget_get_preferred_height(s->menubar, &bar, nullptr);
    return bar;
}

void place_face(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    double x = 0, y = 0, wd = 0, ht = 0;
    coords(get_facet(face, facet::offset), x, y);
    coords(get_facet(face, facet::size), wd, ht);
    if (r->kind == Kind::window) {
        if (wd < 0) wd = 200;
        if (ht < 0) ht = 200;
        int pw = to_physical(wd), ph = to_physical(ht);
        gtk_widget_set_size_request(r->inner, pw, ph);
        gtk_window_resize(GTK_WINDOW(w), pw, ph + menu_bar_height(window));
        gtk_window_move(GTK_WINDOW(w), to_physical(x), to_physical(y));
        place_bars(window);
        return;
    }
    GtkWidget* parent = windows::get(s->parent);
    WidgetRecord* pr = record_of(parent);
    if (pr && pr->kind == Kind::tab_panel) {
        // A tab page fills the page area of its tab panel.
        int tx, ty, tw, th, pw, ph;
        fixed_rect(parent, tx, ty, tw, th);
        page_area(state_of(parent)->main, tw, th, pw, ph);
        x = y = 0;
        wd = to_logical(pw), ht = to_logical(ph);
        set_facet_quiet(face, facet::offset, point_cell(Type::point2d, 0, 0));
        set_facet_quiet(face, facet::size, (r->face_kind & 0x10) ? pair_cell(int32_t(wd), int32_t(ht))
                                                                 : point_cell(Type::point2d, float(wd), float(ht)));
    }
    int pw = to_physical(wd), ph = to_physical(ht);
    fixed_place(container_for(s->parent, face), w, to_physical(x), to_physical(y), pw, ph);
    if (s->frame) fixed_place(r->inner, s->frame, 0, 0, pw, ph);
    if (r->kind == Kind::camera) camera_resize(window);
    if (r->kind == Kind::base) place_caret(face, window);
    place_bars(window);
}

// --- appliers ---------------------------------------------------------------------------

void apply_text(const Cell& face, uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Applying a(s);
    Cell text = get_facet(face, facet::text);
    std::string t = is(text, Type::string) ? string::to_utf8(text) : std::string();
    switch (r->kind) {
    case Kind::window: gtk_window_set_title(GTK_WINDOW(w), t.c_str()); break;
    case Kind::text: gtk_label_set_text(GTK_LABEL(s->main), t.c_str()); break;
    case Kind::button: case Kind::toggle: case Kind::check: case Kind::radio:
        gtk_button_set_label(GTK_BUTTON(s->main), t.c_str());
        break;
    case Kind::field:
        if (t != gtk_entry_get_text(GTK_ENTRY(s->main))) gtk_entry_set_text(GTK_ENTRY(s->main), t.c_str());
        break;
    case Kind::area: gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(s->main)), t.c_str(), -1); break;
    case Kind::group_box: gtk_frame_set_label(GTK_FRAME(s->frame), t.empty() ? nullptr : t.c_str()); break;
    case Kind::drop_down:
        if (GtkWidget* e = gtk_bin_get_child(GTK_BIN(s->main))) gtk_entry_set_text(GTK_ENTRY(e), t.c_str());
        break;
    default: gtk_widget_queue_draw(w); break;
    }
}

void apply_data(const Cell& face, uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Applying a(s);
    Cell data = get_facet(face, facet::data);
    switch (r->kind) {
    case Kind::slider: case Kind::progress: {
        if (!is(data, Type::float_) && !is(data, Type::percent)) break;
        double v = float_of(data);
        if (r->kind == Kind::progress) {
            gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(s->main), std::clamp(v, 0.0, 1.0));
            break;
        }
        double pos = std::trunc(v * s->length);
        if (s->vertical) pos = s->length - pos;
        gtk_range_set_value(GTK_RANGE(s->main), pos);
        break;
    }
    case Kind::scroller: {
        if (!is(data, Type::float_)) break;
        double v = std::clamp(float_of(data), 0.0, 1.0);
        gtk_range_set_value(GTK_RANGE(s->main), std::trunc(v * 100.0));
        break;
    }
    case Kind::check:
        set_check(s, data, (get_flags(get_facet(face, facet::flags)) & 0x20000) != 0);
        break;
    case Kind::toggle: case Kind::radio: set_check(s, data, false); break;
    case Kind::tab_panel: set_tabs(face, window); break;
    case Kind::calendar:
        if (is(data, Type::date)) {
            set_date(s, data);
        } else {
            Cell out = calendar_date(s);
            set_facet_quiet(face, facet::data, out);
        }
        break;
    case Kind::text_list: case Kind::drop_down: case Kind::drop_list: set_items(face, window); break;
    default: gtk_widget_queue_draw(w); break;
    }
}

void apply_selected(const Cell& face, uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Cell sel = get_facet(face, facet::selected);
    switch (r->kind) {
    case Kind::scroller: {
        double p;
        if (is(sel, Type::integer)) p = int_of(sel);
        else if (is(sel, Type::float_) || is(sel, Type::percent)) p = float_of(sel);
        else break;
        Applying a(s);
        double page = std::floor(std::clamp(p, 0.0, 1.0) * 100.0 + 0.5);
        GtkAdjustment* adj = gtk_range_get_adjustment(GTK_RANGE(s->main));
        gtk_adjustment_configure(adj, gtk_adjustment_get_value(adj), 0, 100 + page, 1, std::max(page, 1.0), page);
        break;
    }
    case Kind::camera: camera_select(face, window); break;
    case Kind::text_list: {
        Applying a(s);
        select_row(s, is(sel, Type::integer) ? int_of(sel) : 0);
        break;
    }
    case Kind::drop_down: case Kind::drop_list: {
        Applying a(s);
        gtk_combo_box_set_active(GTK_COMBO_BOX(s->main), is(sel, Type::integer) ? int_of(sel) - 1 : -1);
        break;
    }
    case Kind::field: case Kind::area: {
        int32_t from = 0, to = 0;
        if (is(sel, Type::pair)) {
            from = pair_x(sel) - 1, to = pair_y(sel);
            if (to < from) from = pair_y(sel) - 1, to = pair_x(sel);
            from = std::max(from, 0), to = std::max(to, 0);
        }
        Applying a(s);
        if (r->kind == Kind::field) {
            gtk_editable_select_region(GTK_EDITABLE(s->main), from, to);
        } else {
            GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(s->main));
            GtkTextIter i, j;
            gtk_text_buffer_get_iter_at_offset(b, &i, from);
            gtk_text_buffer_get_iter_at_offset(b, &j, to);
            // the cursor at the end, as in a field
            gtk_text_buffer_select_range(b, &j, &i);
        }
        break;
    }
    case Kind::tab_panel:
        if (is(sel, Type::integer)) select_tab(face, window, int_of(sel));
        break;
    case Kind::window:
        if (is(sel, Type::object)) {
            if (ViewState* f = state_of(face_handle(sel))) gtk_widget_grab_focus(f->main);
        } else if (is(sel, Type::none)) {
            gtk_window_set_focus(GTK_WINDOW(w), nullptr);
        }
        break;
    default: break;
    }
}

// Colours fill under the widget: our draw handler for most kinds, CSS for
// entries and text views, whose own background would cover it.
void apply_color(const Cell& face, uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Cell c = get_facet(face, facet::color);
    if (r->kind == Kind::base || r->kind == Kind::rich_text) {
        gtk_widget_queue_draw(w);
        return;
    }
    if (r->kind == Kind::calendar && !is(c, Type::tuple) && !is(c, Type::none)) return;
    if (fills_colour(r->kind)) {
        gtk_widget_queue_draw(w);
        return;
    }
    GtkWidget* target = r->kind == Kind::window ? r->inner : s->main;
    std::string css;
    if (is(c, Type::tuple)) {
        uint8_t b[12];
        tuple_bytes(c, b);
        double alpha = tuple_length(c) >= 4 ? (255 - b[3]) / 255.0 : 1.0;
        char buf[160];
        snprintf(buf, sizeof buf, "* { background-color: rgba(%d,%d,%d,%.3f); background-image: none; }", b[0], b[1],
                 b[2], alpha);
        css = buf;
    }
    GtkStyleContext* sc = gtk_widget_get_style_context(target);
    if (s->css) gtk_style_context_remove_provider(sc, GTK_STYLE_PROVIDER(s->css));
    if (s->css) g_object_unref(s->css);
    s->css = nullptr;
    if (css.empty()) return;
    s->css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(s->css, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider(sc, GTK_STYLE_PROVIDER(s->css), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    gtk_widget_queue_draw(w);
}

void apply_image(const Cell& face, uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Cell img = get_facet(face, facet::image);
    if (r->kind == Kind::camera) {
        if (is(img, Type::none)) camera_capture(face, window);
        gtk_widget_queue_draw(w);
        return;
    }
    if (r->kind != Kind::button && r->kind != Kind::toggle) {
        gtk_widget_queue_draw(w);
        return;
    }
    // The first image shows (the states GTK draws itself); a block of an
    // image and a pair shows it at that size.
    Cell first = img, at = none_cell();
    if (is(img, Type::block)) {
        first = none_cell();
        each_value(img, [&](const Cell& v, int32_t i) {
            if (i == 0) first = v;
            if (i == 1 && is(v, Type::pair)) at = v;
        });
    }
    if (!is(first, Type::image) || image::width_of(first) == 0) {
        gtk_button_set_image(GTK_BUTTON(s->main), nullptr);
        return;
    }
    uint32_t iw = image::width_of(first), ih = image::height_of(first);
    const uint32_t* px = image::read_pixels(series_node(first));
    cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(iw), int(ih));
    uint8_t* d = cairo_image_surface_get_data(surf);
    int stride = cairo_image_surface_get_stride(surf);
    for (uint32_t yy = 0; yy < ih; ++yy)
        for (uint32_t xx = 0; xx < iw; ++xx) {
            uint32_t v = px[size_t(yy) * iw + xx], a = v >> 24;
            uint32_t rr = (v >> 16 & 0xFF) * a / 255, gg = (v >> 8 & 0xFF) * a / 255, bb = (v & 0xFF) * a / 255;
            reinterpret_cast<uint32_t*>(d + size_t(yy) * stride)[xx] = a << 24 | rr << 16 | gg << 8 | bb;
        }
    cairo_surface_mark_dirty(surf);
    GdkPixbuf* pb = gdk_pixbuf_get_from_surface(surf, 0, 0, int(iw), int(ih));
    cairo_surface_destroy(surf);
    if (is(at, Type::pair) && pb) {
        GdkPixbuf* scaled = gdk_pixbuf_scale_simple(pb, std::max(1, to_physical(pair_x(at))),
                                                    std::max(1, to_physical(pair_y(at))), GDK_INTERP_BILINEAR);
        g_object_unref(pb);
        pb = scaled;
    }
    GtkWidget* image = gtk_image_new_from_pixbuf(pb);
    if (pb) g_object_unref(pb);
    gtk_button_set_image(GTK_BUTTON(s->main), image);
    gtk_button_set_always_show_image(GTK_BUTTON(s->main), TRUE);
}

void apply_options(const Cell& face, uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Cell options = get_facet(face, facet::options);
    if (r->kind == Kind::field) {
        Cell hint = option(options, "hint");
        gtk_entry_set_placeholder_text(GTK_ENTRY(s->main), is(hint, Type::string) ? string::to_utf8(hint).c_str() : nullptr);
    } else if (r->kind == Kind::area) {
        // A stop of 16 dialog units (4 characters), or `tabs` n characters.
        Cell tabs = option(options, "tabs");
        int chars = is(tabs, Type::integer) && int_of(tabs) > 0 ? int_of(tabs) : 4;
        PangoLayout* l = gtk_widget_create_pango_layout(s->main, "M");
        int cw = 8, ch;
        pango_layout_get_pixel_size(l, &cw, &ch);
        g_object_unref(l);
        PangoTabArray* ta = pango_tab_array_new_with_positions(1, TRUE, PANGO_TAB_LEFT, chars * cw);
        gtk_text_view_set_tabs(GTK_TEXT_VIEW(s->main), ta);
        pango_tab_array_free(ta);
    }
}

// --- items --------------------------------------------------------------------------------

void set_items(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Applying a(s);
    Cell data = get_facet(face, facet::data);
    Cell sel = get_facet(face, facet::selected);
    if (r->kind == Kind::text_list) {
        GtkListStore* store = list_store(s);
        gtk_list_store_clear(store);
        each_value(data, [&](const Cell& v, int32_t) {
            if (is_string_like(v)) gtk_list_store_insert_with_values(store, nullptr, -1, 0, text_of(v).c_str(), -1);
        });
        if (is(sel, Type::integer)) select_row(s, int_of(sel));
        else set_facet_quiet(face, facet::selected, integer_cell(-1));
        return;
    }
    GtkComboBoxText* combo = GTK_COMBO_BOX_TEXT(s->main);
    if (is(data, Type::block) || is(data, Type::hash)) {
        gtk_combo_box_text_remove_all(combo);
        each_value(data, [&](const Cell& v, int32_t) {
            if (is_string_like(v)) gtk_combo_box_text_append_text(combo, text_of(v).c_str());
        });
    }
    Cell text = get_facet(face, facet::text);
    if (r->kind == Kind::drop_list || !is(text, Type::string)) {
        if (is(sel, Type::integer)) gtk_combo_box_set_active(GTK_COMBO_BOX(combo), int_of(sel) - 1);
    } else if (GtkWidget* e = gtk_bin_get_child(GTK_BIN(combo))) {
        gtk_entry_set_text(GTK_ENTRY(e), string::to_utf8(text).c_str());
    }
}

namespace {

bool action_in(const Cell& action, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (word_is(action, n)) return true;
    return false;
}

// The native items of a list, a combo or a tab panel, by native position.
struct NativeItems {
    ViewState* s;
    GtkListStore* store = nullptr;       // text-list
    GtkNotebook* tabs = nullptr;         // tab-panel
    std::vector<GtkWidget*> kept;        // tab-panel: page faces taken out, put back after

    int count() const {
        if (tabs) return gtk_notebook_get_n_pages(tabs);
        return store ? gtk_tree_model_iter_n_children(GTK_TREE_MODEL(store), nullptr)
                     : gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(s->main)), nullptr);
    }
    void remove(int p) {
        if (tabs) {
            GtkWidget* page = s->pages[size_t(p)];
            take_out(page, kept);
            gtk_notebook_remove_page(tabs, p);
            s->pages.erase(s->pages.begin() + p);
        } else if (store) {
            GtkTreeIter it;
            if (gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store), &it, nullptr, p)) gtk_list_store_remove(store, &it);
        } else {
            gtk_combo_box_text_remove(GTK_COMBO_BOX_TEXT(s->main), p);
        }
    }
    void insert(int at, const std::string& t) {
        if (tabs) {
            GtkWidget* page = fixed_new();
            gtk_widget_show(page);
            gtk_notebook_insert_page(tabs, page, gtk_label_new(t.c_str()), at);
            s->pages.insert(s->pages.begin() + at, page);
        } else if (store) {
            gtk_list_store_insert_with_values(store, nullptr, at, 0, t.c_str(), -1);
        } else {
            gtk_combo_box_text_insert_text(GTK_COMBO_BOX_TEXT(s->main), at, t.c_str());
        }
    }
};

// Items follow a change inside `data` in two phases: the values about to go
// are deleted before the series changes, the values that came are inserted
// after, each at its native position (string-like values only count). A tab
// panel's pages follow their tabs, and the page faces are placed again.
void change_items(const Cell& face, uint32_t window, const Cell& action, int32_t index, int32_t part) {
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    Applying a(s);
    Cell data = get_facet(face, facet::data);
    if (!is(data, Type::block) && !is(data, Type::hash)) return;
    NativeItems items{s, nullptr, nullptr, {}};
    if (r->kind == Kind::text_list) items.store = list_store(s);
    if (r->kind == Kind::tab_panel) items.tabs = GTK_NOTEBOOK(s->main);
    int32_t total = int32_t(series_index(data)) + block::rs_length(data);
    int32_t p = native_position(data, index);
    if (action_in(action, {"remove", "take", "clear", "reverse", "put", "poke", "move"})) {
        if (word_is(action, "move")) return;
        if (word_is(action, "clear") && index == 0 && !items.tabs) {
            if (items.store) gtk_list_store_clear(items.store);
            else gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(s->main));
            return;
        }
        for (int32_t i = index; i < index + part && i < total; ++i) {
            if (!is_string_like(*block::rs_abs_at(data, i)) || p >= items.count()) continue;
            items.remove(p);
        }
    } else if (action_in(action, {"inserted", "appended", "poked", "put-ed", "reversed", "moved", "changed"})) {
        for (int32_t i = index; i < index + part && i < total; ++i) {
            const Cell& v = *block::rs_abs_at(data, i);
            if (!is_string_like(v)) continue;
            items.insert(std::min(p, items.count()), text_of(v));
            ++p;
        }
    }
    if (!items.tabs) return;
    replace_pages(face);
    for (GtkWidget* k : items.kept) g_object_unref(k);
    int n = items.count();
    int current = gtk_notebook_get_current_page(items.tabs);
    s->last_tab = n > 0 ? current : -1;
    set_facet_quiet(face, facet::selected, integer_cell(n > 0 ? current + 1 : 1));
    if (n > 0) show_page(face, current + 1);
}

}  // namespace

// --- tabs -----------------------------------------------------------------------------------

void set_tabs(const Cell& face_in, uint32_t window, int32_t page) {
    Cell face = face_in;
    collector::Root keep(face);
    GtkWidget* w = windows::get(window);
    ViewState* s = state_of(w);
    if (!s || !GTK_IS_NOTEBOOK(s->main)) return;
    Applying a(s);
    GtkNotebook* nb = GTK_NOTEBOOK(s->main);
    // The pages' faces are kept out while the pages are made again.
    std::vector<GtkWidget*> kept;
    for (GtkWidget* page : s->pages) take_out(page, kept);
    ++s->applying;  // no switch-page events while the tabs are rebuilt
    while (gtk_notebook_get_n_pages(nb) > 0) gtk_notebook_remove_page(nb, -1);
    s->pages.clear();
    each_value(get_facet(face, facet::data), [&](const Cell& v, int32_t) {
        if (!is_string_like(v)) return;
        GtkWidget* page = fixed_new();
        gtk_widget_show(page);
        gtk_notebook_append_page(nb, page, gtk_label_new(text_of(v).c_str()));
        s->pages.push_back(page);
    });
    --s->applying;
    replace_pages(face);
    for (GtkWidget* k : kept) g_object_unref(k);
    int32_t n = int32_t(s->pages.size());
    Cell sel = page > 0 ? integer_cell(page) : get_facet(face, facet::selected);
    if (is(sel, Type::integer) && n > 0) {
        int32_t at = std::clamp(int_of(sel), 1, n);
        if (page <= 0) set_facet_quiet(face, facet::selected, integer_cell(at));
        ++s->applying;
        gtk_notebook_set_current_page(nb, at - 1);
        --s->applying;
        s->last_tab = at - 1;
        show_page(face, at);
    } else {
        set_facet_quiet(face, facet::selected, integer_cell(1));
        s->last_tab = n > 0 ? 0 : -1;
    }
}

// A title changed in place: only its own tab is renamed.
void retitle_tab(const Cell& face, uint32_t window, const Cell& title) {
    ViewState* s = state_of(window);
    Cell data = get_facet(face, facet::data);
    if (!s || !GTK_IS_NOTEBOOK(s->main) || !(is(data, Type::block) || is(data, Type::hash))) return;
    int32_t total = int32_t(series_index(data)) + block::rs_length(data);
    for (int32_t i = 0; i < total; ++i) {
        const Cell& v = *block::rs_abs_at(data, i);
        if (!is_string_like(v) || series_node(v) != series_node(title)) continue;
        size_t p = size_t(native_position(data, i));
        if (p < s->pages.size())
            gtk_notebook_set_tab_label_text(GTK_NOTEBOOK(s->main), s->pages[p], text_of(v).c_str());
        return;
    }
}

// A script's choice of tab takes the path of a click: `select` (which may
// refuse it), the page shown, `change`, `selected`.
void select_tab(const Cell&, uint32_t window, int n) {
    ViewState* s = state_of(window);
    if (!s || !GTK_IS_NOTEBOOK(s->main)) return;
    GtkNotebook* nb = GTK_NOTEBOOK(s->main);
    int count = gtk_notebook_get_n_pages(nb);
    if (count == 0) return;
    n = std::clamp(n, 1, count);
    if (gtk_notebook_get_current_page(nb) == n - 1) return;
    int saved = s->applying;
    s->applying = 0;
    gtk_notebook_set_current_page(nb, n - 1);
    s->applying = saved;
}

// Called by the tab panel's switch-page handlers (widget_signals.cpp).
void tab_switched(uint32_t window, int page) {
    ViewState* s = state_of(window);
    if (!s) return;
    Cell face = face_of(window);
    collector::Root keep(face);
    s->last_tab = page;
    show_page(face, page + 1);
    send(window, evt::change, integer_cell(page + 1));
    face = face_of(window);
    if (is(face, Type::object)) set_facet_quiet(face, facet::selected, integer_cell(page + 1));
}

// --- pane order ---------------------------------------------------------------------------

// The children of a container are drawn in their order: the pane's faces are
// put back in pane order (the last on top) when their order differs. Edge
// scroll bars go back above their face.
static void order_pane(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    auto [w, r, s] = parts_of(window);
    if (!r || r->kind == Kind::tab_panel) return;
    GtkWidget* container = r->inner;
    if (!container || !GTK_IS_FIXED(container)) return;
    std::vector<uint32_t> handles;
    each_value(get_facet(face, facet::pane), [&](const Cell& f, int32_t) {
        if (!is(f, Type::object)) return;
        uint32_t h = face_handle(f);
        if (GtkWidget* fw = windows::get(h); fw && gtk_widget_get_parent(fw) == container) handles.push_back(h);
    });
    std::vector<GtkWidget*> now;
    GList* children = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList* l = children; l; l = l->next)
        for (uint32_t h : handles)
            if (windows::get(h) == l->data) now.push_back(GTK_WIDGET(l->data));
    g_list_free(children);
    bool same = now.size() == handles.size();
    for (size_t i = 0; same && i < now.size(); ++i) same = now[i] == windows::get(handles[i]);
    if (same) return;
    for (uint32_t h : handles) {
        auto [fw, fr, fs] = parts_of(h);
        std::vector<GtkWidget*> moving{fw};
        if (fs)
            for (GtkWidget* bar : fs->bars)
                if (bar && gtk_widget_get_parent(bar) == container) moving.push_back(bar);
        for (GtkWidget* m : moving) {
            int x, y, cw, ch;
            fixed_rect(m, x, y, cw, ch);
            g_object_ref(m);
            gtk_container_remove(GTK_CONTAINER(container), m);
            fixed_place(container, m, x, y, cw, ch);
            g_object_unref(m);
        }
    }
}

static gboolean order_pane_later(gpointer data) {
    uint32_t window = GPOINTER_TO_UINT(data);
    Cell face = face_of(window);
    if (is(face, Type::object)) order_pane(face, window);
    return G_SOURCE_REMOVE;
}

// --- update-view ------------------------------------------------------------------------

namespace {

void apply_flags(const Cell& face, uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!r || !s) return;
    r->native_flags = get_flags(get_facet(face, facet::flags));
    if (r->kind == Kind::field) {
        bool password = (r->native_flags & 0x80000) != 0;
        gtk_entry_set_visibility(GTK_ENTRY(s->main), !password);
        if (password) gtk_entry_set_invisible_char(GTK_ENTRY(s->main), 0x25CF);
        gtk_widget_grab_focus(s->main);
    }
}

void apply_visible(const Cell& face, uint32_t window) {
    GtkWidget* w = windows::get(window);
    WidgetRecord* r = record_of(w);
    if (!r) return;
    bool on = logic_facet(face, facet::visible_q, true);
    if (r->kind == Kind::window) {
        if (on && !gtk_widget_get_visible(w)) spine::show_window(window);
        else if (!on) gtk_widget_hide(w);
        return;
    }
    on ? gtk_widget_show(w) : gtk_widget_hide(w);
    place_bars(window);
}

void apply_bits(const Cell& face, uint32_t window, uint32_t bits) {
    GtkWidget* w = windows::get(window);
    WidgetRecord* r = record_of(w);
    if (!r) return;
    Kind kind = r->kind;
    if (bits & 0x2) {
        Cell offset = get_facet(face, facet::offset);
        check_coords(offset);
        if (is(offset, Type::pair))
            set_facet_quiet(face, facet::offset,
                            point_cell(Type::point2d, float(pair_x(offset)), float(pair_y(offset))));
        place_face(face, window);
    }
    if (bits & 0x4) {
        Cell size = get_facet(face, facet::size);
        check_coords(size);
        if (WidgetRecord* rr = record_of(windows::get(window))) {
            rr->face_kind = (rr->face_kind & ~0x10u) | (is(size, Type::pair) ? 0x10u : 0u);
        }
        place_face(face, window);
        if (kind == Kind::slider || kind == Kind::progress) {
            ViewState* s = state_of(window);
            double wd = 0, ht = 0;
            coords(size, wd, ht);
            s->length = std::trunc(std::max(wd, ht));
            s->vertical = ht > wd;
            if (kind == Kind::slider) {
                Applying a(s);
                gtk_range_set_range(GTK_RANGE(s->main), 0, std::max(s->length, 1.0));
            }
            apply_data(face, window);
        }
        if (kind == Kind::tab_panel) replace_pages(face);
    }
    if (bits & 0x8) apply_text(face, window);
    if (bits & 0x80) {
        // Tabs made again keep the page shown so far when a new `selected`
        // waits: that choice then takes the click path like any other.
        ViewState* s = state_of(window);
        if (kind == Kind::tab_panel && (bits & 0x400) && s) set_tabs(face, window, std::max(s->last_tab + 1, 1));
        else apply_data(face, window);
    }
    if (bits & 0x100) {
        if (GtkWidget* ww = windows::get(window)) gtk_widget_set_sensitive(ww, logic_facet(face, facet::enabled_q, true));
    }
    if (bits & 0x200) apply_visible(face, window);
    if (bits & 0x400) apply_selected(face, window);
    if (bits & 0x800) apply_flags(face, window);
    if (bits & 0x400000) {
        if (GtkWidget* ww = windows::get(window)) gtk_widget_queue_draw(ww);
    }
    if (bits & 0x20) apply_color(face, window);
    if (bits & 0x4000) order_pane(face, window);
    if (bits & 0x10000) set_rate(window, get_facet(face, facet::rate));
    if (bits & 0x80000) apply_font(face, window);
    if (bits & 0x40000) apply_para(face, window);
    if (bits & 0x40) set_menu_bar(face, window);
    if (bits & 0x10) apply_image(face, window);
    if (bits & 0x1000) {
        set_cursor(window, get_facet(face, facet::options));
        apply_options(face, window);
    }
}

}  // namespace

void update_view(const Cell& face_in) {
    Cell face = face_in;
    collector::Root keep(face);
    Cell* h = state_item(face, 0);
    if (!h || !is(*h, Type::handle)) return;
    uint32_t window = face_handle(face);
    GtkWidget* w = windows::get(window);
    if (!w) return;
    if (WidgetRecord* r = record_of(w); r && r->kind == Kind::rich_text) {
        Cell handles = get_field(face, "handles");
        if (is(handles, Type::block) && block::rs_length(handles) > 0)
            *block::rs_abs_at(handles, int32_t(series_index(handles)) + block::rs_length(handles) - 1) =
                logic_cell(true);
    }
    Cell* mask = state_item(face, 1);
    if (!mask || !is(*mask, Type::integer)) return;
    uint32_t bits = uint32_t(int_of(*mask));
    *mask = integer_cell(0);
    if (!bits) return;
    DpiContext dpi_context(window);
    try {
        apply_bits(face, window, bits);
    } catch (const unwind::Thrown&) {
        if (Cell* m = state_item(face, 1); m && is(*m, Type::integer)) *m = integer_cell(int32_t(uint32_t(int_of(*m)) | bits));
        throw;
    }
}

// owner word value action new index part
void update_facet(Cell* args) {
    const Cell& owner = args[0];
    const Cell& word = args[1];
    const Cell& action = args[3];
    int32_t index = is(args[5], Type::integer) ? int_of(args[5]) : 0;
    int32_t part = is(args[6], Type::integer) ? int_of(args[6]) : 0;
    uint32_t window = face_handle(owner);
    WidgetRecord* r = record_of(windows::get(window));
    if (word_is(word, "pane")) {
        // A move inside one pane is told before the faces move and never
        // after: their order is put right on the next pass of the loop.
        if (r && word_is(action, "move")) {
            g_idle_add_full(G_PRIORITY_HIGH_IDLE, order_pane_later, GUINT_TO_POINTER(window), nullptr);
            return;
        }
        if (!r || !action_in(action, {"inserted", "poke", "put", "moved", "changed", "appended", "poked", "reversed"})) return;
        Cell value = args[2];
        collector::Root keep(value);
        Cell o = owner;
        collector::Root keep_owner(o);
        int32_t total = is(value, Type::block) ? int32_t(series_index(value)) + block::rs_length(value) : 0;
        for (int32_t i = index; i < index + part && i < total; ++i) {
            Cell f = *block::rs_abs_at(value, i);
            if (!is(f, Type::object)) continue;
            collector::Root keep_face(f);
            if (r->kind != Kind::tab_panel) set_facet_quiet(f, facet::visible_q, logic_cell(true));
            uint32_t h = face_handle(f);
            ViewState* s = state_of(h);
            if (!s) continue;
            s->parent = window;
            place_face(f, h);
            if (r->kind != Kind::tab_panel) gtk_widget_show(windows::get(h));
        }
        order_pane(o, window);
        return;
    }
    if (word_is(word, "data") && r) {
        bool list = r->kind == Kind::text_list && !word_is(action, "sort");
        bool combo = (r->kind == Kind::drop_list || r->kind == Kind::drop_down) && part != 0;
        if (list || combo) {
            change_items(owner, window, action, index, part);
            return;
        }
        if (r->kind == Kind::tab_panel) {
            if (is_string_like(args[2])) retitle_tab(owner, window, args[2]);
            else change_items(owner, window, action, index, part);
            return;
        }
    }
    update_view(owner);
}

}  // namespace zan::gui::views
