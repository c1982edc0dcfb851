// Menus: a window's menu bar and the context menu of any face, built from a
// `menu` block: a string is an item, a block after it its sub-menu, a word
// after it its identifier (the `picked` of the `menu` event; -1 without one);
// `---` is a separator; other values are skipped. A block that begins with
// the word `popup` is a context menu, never a menu bar.
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"

namespace zan::gui::views {

namespace {

GQuark id_quark() {
    static GQuark q = g_quark_from_static_string("zan-menu-id");
    return q;
}

// An item's identifier word lives in the value table while the item does:
// the context it is bound to stays alive for the script that reads it.
void release_id(gpointer slot) { values::remove(GPOINTER_TO_UINT(slot)); }

void on_item(GtkMenuItem* item, gpointer data) {
    uint32_t slot = GPOINTER_TO_UINT(g_object_get_qdata(G_OBJECT(item), id_quark()));
    Cell* id = slot ? values::get(slot) : nullptr;
    send(GPOINTER_TO_UINT(data), evt::menu, id ? *id : integer_cell(-1));
}

gboolean destroy_later(gpointer menu) {
    gtk_widget_destroy(GTK_WIDGET(menu));
    g_object_unref(menu);
    return G_SOURCE_REMOVE;
}

// The item activates after the menu closes: the menu goes when idle.
void on_popup_done(GtkMenuShell* menu, gpointer) { g_idle_add(destroy_later, menu); }

}  // namespace

bool is_menu_bar(const Cell& menu, Kind kind) {
    return kind == Kind::window && is(menu, Type::block) && block::rs_length(menu) > 0 &&
           !word_is(*block::rs_abs_at(menu, int32_t(series_index(menu))), "popup");
}

GtkWidget* build_menu(GtkWidget* shell, const Cell& menu, uint32_t window) {
    if (!is(menu, Type::block)) return shell;
    int32_t n = block::rs_length(menu), at = int32_t(series_index(menu));
    for (int32_t i = 0; i < n; ++i) {
        Cell v = *block::rs_abs_at(menu, at + i);
        if (word_is(v, "---")) {
            GtkWidget* sep = gtk_separator_menu_item_new();
            gtk_widget_show(sep);
            gtk_menu_shell_append(GTK_MENU_SHELL(shell), sep);
            continue;
        }
        if (!is(v, Type::string)) continue;
        GtkWidget* item = gtk_menu_item_new_with_label(string::to_utf8(v).c_str());
        gtk_widget_show(item);
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
        Cell next = i + 1 < n ? *block::rs_abs_at(menu, at + i + 1) : none_cell();
        if (is(next, Type::block)) {
            GtkWidget* sub = gtk_menu_new();
            build_menu(sub, next, window);
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
            ++i;
        } else {
            if (is(next, Type::word) && !word_is(next, "---")) {
                g_object_set_qdata_full(G_OBJECT(item), id_quark(), GUINT_TO_POINTER(values::add(next)), release_id);
                ++i;
            }
            g_signal_connect(item, "activate", G_CALLBACK(on_item), GUINT_TO_POINTER(window));
        }
    }
    return shell;
}

void set_menu_bar(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    auto [w, r, s] = parts_of(window);
    if (!r || !s || r->kind != Kind::window) return;
    if (s->menubar) gtk_widget_destroy(s->menubar);
    s->menubar = nullptr;
    Cell menu = get_facet(face, facet::menu);
    if (is_menu_bar(menu, r->kind)) {
        s->menubar = build_menu(gtk_menu_bar_new(), menu, window);
        gtk_box_pack_start(GTK_BOX(gtk_widget_get_parent(r->inner)), s->menubar, FALSE, FALSE, 0);
        gtk_widget_show(s->menubar);
    }
    place_face(face, window);
}

bool context_menu(uint32_t window, GdkEventButton* e) {
    Cell face = face_of(window);
    collector::Root keep(face);
    WidgetRecord* r = record_of(windows::get(window));
    Cell menu = get_facet(face, facet::menu);
    if (!r || !is(menu, Type::block) || is_menu_bar(menu, r->kind)) return false;
    GtkWidget* popup = gtk_menu_new();
    g_object_ref_sink(popup);
    build_menu(popup, menu, window);
    g_signal_connect(popup, "deactivate", G_CALLBACK(on_popup_done), nullptr);
    gtk_menu_popup_at_pointer(GTK_MENU(popup), reinterpret_cast<GdkEvent*>(e));
    return true;
}

}  // namespace zan::gui::views
