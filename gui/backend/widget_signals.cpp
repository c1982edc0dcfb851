// Widget to script: the GTK signals of face widgets read the widget's state
// back into the facets, then make the event the view layer expects (click,
// change, select). A handler stays silent while a script's own change is
// being applied at top level; inside a dispatched event it speaks, as a
// native control notifies its parent whoever changed it.
//
// Text positions are characters, as GTK's are, so selections cross without
// the line-break doubling other platforms need.
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"
#include "runtime/ownership.h"

namespace zan::gui::views {

int send(uint32_t window, uint32_t type, const Cell& picked) {
    if (!windows::get(window)) return 1;
    Message m;
    m.window = window;
    spine::pointer_in(window, m.x, m.y);
    m.picked = picked;
    return make_event(m, 0, type);
}

namespace {

uint32_t window_of(gpointer data) { return GPOINTER_TO_UINT(data); }

// The face of a handler's window, or none when it went or is quiet.
bool speaking(uint32_t window) {
    WidgetRecord* r = record_of(windows::get(window));
    return r && r->face_slot && !r->cleaned && !quiet(state_of(window));
}

std::string widget_text(ViewState* s, Kind kind) {
    const char* t = "";
    std::string owned;
    switch (kind) {
    case Kind::field: t = gtk_entry_get_text(GTK_ENTRY(s->main)); break;
    case Kind::area: {
        GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(s->main));
        GtkTextIter i, j;
        gtk_text_buffer_get_bounds(b, &i, &j);
        char* c = gtk_text_buffer_get_text(b, &i, &j, TRUE);
        owned = c;
        g_free(c);
        return owned;
    }
    case Kind::drop_down: case Kind::drop_list: {
        char* c = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(s->main));
        if (c) owned = c;
        g_free(c);
        return owned;
    }
    case Kind::text: t = gtk_label_get_text(GTK_LABEL(s->main)); break;
    case Kind::button: case Kind::toggle: case Kind::check: case Kind::radio:
        t = gtk_button_get_label(GTK_BUTTON(s->main));
        break;
    case Kind::window: t = gtk_window_get_title(GTK_WINDOW(s->main)); break;
    case Kind::group_box: t = s->frame ? gtk_frame_get_label(GTK_FRAME(s->frame)) : ""; break;
    default: break;
    }
    return t ? t : "";
}

// Writes text into face/text in place (a new string when it holds none),
// owned by the face so later changes inside it are reported.
void store_text(const Cell& face_in, const std::string& text) {
    Cell face = face_in;
    collector::Root keep(face);
    Cell t = get_facet(face, facet::text);
    collector::Root keep_text(t);
    if (!is(t, Type::string)) {
        string::rs_make_at(t, uint32_t(text.size()) + 1);
        string::append_utf8(series_node(t), text);
        set_facet_quiet(face, facet::text, t);
    } else {
        Cell head = t;
        string::rs_reset(head);
        string::append_utf8(series_node(t), text);
    }
    Cell word = word::load("text");
    collector::Root keep_word(word);
    ownership::bind(t, face, word);
}

void read_selection(uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!s || !r) return;
    int start = 0, end = 0;
    if (r->kind == Kind::field) {
        gtk_editable_get_selection_bounds(GTK_EDITABLE(s->main), &start, &end);
    } else if (r->kind == Kind::area) {
        GtkTextIter i, j;
        gtk_text_buffer_get_selection_bounds(gtk_text_view_get_buffer(GTK_TEXT_VIEW(s->main)), &i, &j);
        start = gtk_text_iter_get_offset(&i), end = gtk_text_iter_get_offset(&j);
    } else {
        return;
    }
    Cell face = face_of(window);
    if (!is(face, Type::object)) return;
    set_facet_quiet(face, facet::selected, start == end ? none_cell() : pair_cell(start + 1, end));
}

void on_text_changed(gpointer, gpointer data) {
    uint32_t window = window_of(data);
    if (!speaking(window)) return;
    read_text(face_of(window), -1);
    read_selection(window);
    send(window, evt::change, none_cell());
}

void on_entry_changed(GtkEditable*, gpointer data) { on_text_changed(nullptr, data); }
void on_buffer_changed(GtkTextBuffer*, gpointer data) { on_text_changed(nullptr, data); }

void on_selection_moved(GObject*, GParamSpec*, gpointer data) { read_selection(window_of(data)); }
void on_mark_set(GtkTextBuffer*, GtkTextIter*, GtkTextMark*, gpointer data) { read_selection(window_of(data)); }

void on_clicked(GtkButton*, gpointer data) {
    uint32_t window = window_of(data);
    if (!speaking(window)) return;
    auto [w, r, s] = parts_of(window);
    if (r->kind == Kind::radio) {
        // Setting a radio's data toggles its widget, which GTK reports as a
        // click: the radio handler's own changes would click again, for ever.
        // A click on a radio that is already on sends nothing either.
        if (s && s->applying > 0) return;
        Cell face = face_of(window);
        if (is(face, Type::object) && is_truthy(get_facet(face, facet::data))) return;
        if (is(face, Type::object)) set_facet_quiet(face, facet::data, logic_cell(true));
    }
    send(window, evt::click, none_cell());
}

// The window's `selected` follows the focus, however it moved (a click, the
// first focus GTK gives): Tab starts from it, a window shown again returns it.
gboolean on_focus_in(GtkWidget*, GdkEventFocus*, gpointer data) {
    uint32_t window = window_of(data);
    GtkWidget* w = windows::get(window);
    WidgetRecord* r = record_of(w);
    if (!r || !r->face_slot || r->cleaned) return FALSE;
    WidgetRecord* top = record_of(gtk_widget_get_toplevel(w));
    if (!top || top == r || !top->face_slot || top->cleaned) return FALSE;
    Cell window_face = face_of(top->handle);
    collector::Root keep(window_face);
    Cell face = face_of(window);
    if (is(window_face, Type::object) && is(face, Type::object))
        set_facet_quiet(window_face, facet::selected, face);
    return FALSE;
}

// A tri-state check cycles unchecked, checked, undetermined.
void on_toggled(GtkToggleButton* t, gpointer data) {
    uint32_t window = window_of(data);
    if (!speaking(window)) return;
    auto [w, r, s] = parts_of(window);
    Cell face = face_of(window);
    collector::Root keep(face);
    if (r->kind == Kind::radio) return;
    if (r->kind == Kind::check && (get_flags(get_facet(face, facet::flags)) & 0x20000)) {
        Applying a(s);
        if (gtk_toggle_button_get_inconsistent(t)) {
            gtk_toggle_button_set_inconsistent(t, FALSE);
            gtk_toggle_button_set_active(t, FALSE);
        } else if (!gtk_toggle_button_get_active(t)) {
            gtk_toggle_button_set_inconsistent(t, TRUE);
        }
    }
    Cell v = gtk_toggle_button_get_inconsistent(t) ? none_cell() : logic_cell(gtk_toggle_button_get_active(t));
    set_facet_quiet(face, facet::data, v);
    send(window, evt::change, none_cell());
}

void on_value_changed(GtkRange* range, gpointer data) {
    uint32_t window = window_of(data);
    if (!speaking(window)) return;
    auto [w, r, s] = parts_of(window);
    Cell face = face_of(window);
    collector::Root keep(face);
    double pos = gtk_range_get_value(range);
    if (r->kind == Kind::slider) {
        if (s->vertical) pos = s->length - pos;
        set_facet_quiet(face, facet::data, float_cell(s->length > 0 ? pos / s->length : 0.0));
    } else {
        GtkAdjustment* adj = gtk_range_get_adjustment(range);
        double span = gtk_adjustment_get_upper(adj) - gtk_adjustment_get_page_size(adj) - gtk_adjustment_get_lower(adj);
        set_facet_quiet(face, facet::data, float_cell(span > 0 ? (pos - gtk_adjustment_get_lower(adj)) / span : 0.0));
        set_facet_quiet(face, facet::selected, float_cell(gtk_adjustment_get_page_size(adj) / 100.0, Type::percent));
    }
    send(window, evt::change, none_cell());
}

void choose(uint32_t window, int index) {
    Cell face = face_of(window);
    collector::Root keep(face);
    set_facet_quiet(face, facet::selected, integer_cell(index + 1));
    if (send(window, evt::select, integer_cell(index + 1)) == 0) return;
    send(window, evt::change, integer_cell(index + 1));
}

void on_list_selection(GtkTreeSelection* sel, gpointer data) {
    uint32_t window = window_of(data);
    if (!speaking(window)) return;
    GtkTreeModel* model;
    GtkTreeIter it;
    if (!gtk_tree_selection_get_selected(sel, &model, &it)) return;
    GtkTreePath* p = gtk_tree_model_get_path(model, &it);
    int index = gtk_tree_path_get_indices(p)[0];
    gtk_tree_path_free(p);
    choose(window, index);
}

void on_combo_changed(GtkComboBox* combo, gpointer data) {
    uint32_t window = window_of(data);
    if (!speaking(window)) return;
    int index = gtk_combo_box_get_active(combo);
    WidgetRecord* r = record_of(windows::get(window));
    if (r->kind == Kind::drop_down) read_text(face_of(window), -1);
    if (index >= 0) choose(window, index);
    else send(window, evt::change, none_cell());
}

void on_day_selected(GtkCalendar*, gpointer data) {
    uint32_t window = window_of(data);
    if (!speaking(window)) return;
    ViewState* s = state_of(window);
    if (!s) return;
    Cell out = calendar_date(s);
    set_facet_quiet(face_of(window), facet::data, out);
    send(window, evt::change, integer_cell(0));
}

// Before the page changes: `select` with the tab shown now, which may refuse.
void on_switch_page(GtkNotebook* nb, GtkWidget*, guint page, gpointer data) {
    uint32_t window = window_of(data);
    auto [w, r, s] = parts_of(window);
    if (!s || !r || !r->face_slot || r->cleaned || s->applying) return;
    int old = gtk_notebook_get_current_page(nb);
    if (old == int(page)) return;
    if (send(window, evt::select, integer_cell(old + 1)) == 0) g_signal_stop_emission_by_name(nb, "switch-page");
}

void on_page_switched(GtkNotebook*, GtkWidget*, guint page, gpointer data) {
    uint32_t window = window_of(data);
    auto [w, r, s] = parts_of(window);
    if (!s || !r || !r->face_slot || r->cleaned || s->applying) return;
    tab_switched(window, int(page));
}

// The face's colour, filled under the widget before it draws itself.
gboolean on_fill(GtkWidget* w, cairo_t* cr, gpointer data) {
    Cell face = face_of(window_of(data));
    if (!is(face, Type::object)) return FALSE;
    Cell c = get_facet(face, facet::color);
    if (!is(c, Type::tuple)) return FALSE;
    uint8_t b[12];
    tuple_bytes(c, b);
    cairo_set_source_rgba(cr, b[0] / 255.0, b[1] / 255.0, b[2] / 255.0,
                          tuple_length(c) >= 4 ? (255 - b[3]) / 255.0 : 1.0);
    cairo_rectangle(cr, 0, 0, gtk_widget_get_allocated_width(w), gtk_widget_get_allocated_height(w));
    cairo_fill(cr);
    return FALSE;
}

}  // namespace

bool fills_colour(Kind kind) {
    switch (kind) {
    case Kind::base: case Kind::rich_text: case Kind::camera: case Kind::field: case Kind::area:
    case Kind::text_list: case Kind::drop_down: case Kind::drop_list: case Kind::calendar:
        return false;
    default: return true;
    }
}

void read_text(const Cell& face_in, int32_t index) {
    Cell face = face_in;
    collector::Root keep(face);
    uint32_t window = face_handle(face);
    WidgetRecord* r = record_of(windows::get(window));
    ViewState* s = state_of(window);
    if (!r || !s) return;
    std::string text;
    if (index >= 0 && (r->kind == Kind::drop_down || r->kind == Kind::drop_list)) {
        GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(s->main));
        GtkTreeIter it;
        if (!gtk_tree_model_iter_nth_child(model, &it, nullptr, index)) return;
        gchar* c = nullptr;
        gtk_tree_model_get(model, &it, 0, &c, -1);
        if (c) text = c;
        g_free(c);
    } else if (r->kind == Kind::drop_down) {
        GtkWidget* e = gtk_bin_get_child(GTK_BIN(s->main));
        text = e ? gtk_entry_get_text(GTK_ENTRY(e)) : "";
    } else {
        text = widget_text(s, r->kind);
    }
    store_text(face, text);
}

void connect_signals(const Cell&, uint32_t window) {
    WidgetRecord* r = record_of(windows::get(window));
    ViewState* s = state_of(window);
    if (!r || !s) return;
    gpointer data = GUINT_TO_POINTER(window);
    GObject* m = G_OBJECT(s->main);
    if (r->kind != Kind::window && s->main)
        g_signal_connect(s->main, "focus-in-event", G_CALLBACK(on_focus_in), data);
    if (fills_colour(r->kind))
        g_signal_connect(r->kind == Kind::window ? r->inner : r->outer, "draw", G_CALLBACK(on_fill), data);
    switch (r->kind) {
    case Kind::rich_text: attach_input_method(window); break;
    case Kind::button: case Kind::radio: g_signal_connect(m, "clicked", G_CALLBACK(on_clicked), data); break;
    case Kind::toggle: case Kind::check: g_signal_connect(m, "toggled", G_CALLBACK(on_toggled), data); break;
    case Kind::field:
        g_signal_connect(m, "changed", G_CALLBACK(on_entry_changed), data);
        g_signal_connect(m, "notify::cursor-position", G_CALLBACK(on_selection_moved), data);
        g_signal_connect(m, "notify::selection-bound", G_CALLBACK(on_selection_moved), data);
        break;
    case Kind::area: {
        GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(s->main));
        g_signal_connect(b, "changed", G_CALLBACK(on_buffer_changed), data);
        g_signal_connect(b, "mark-set", G_CALLBACK(on_mark_set), data);
        break;
    }
    case Kind::slider: case Kind::scroller: g_signal_connect(m, "value-changed", G_CALLBACK(on_value_changed), data); break;
    case Kind::text_list:
        g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(s->main)), "changed", G_CALLBACK(on_list_selection),
                         data);
        break;
    case Kind::drop_down: case Kind::drop_list: g_signal_connect(m, "changed", G_CALLBACK(on_combo_changed), data); break;
    case Kind::calendar: g_signal_connect(m, "day-selected", G_CALLBACK(on_day_selected), data); break;
    case Kind::tab_panel:
        g_signal_connect(m, "switch-page", G_CALLBACK(on_switch_page), data);
        g_signal_connect_after(m, "switch-page", G_CALLBACK(on_page_switched), data);
        break;
    default: break;
    }
}

}  // namespace zan::gui::views
