// The input method of faces that take typed text themselves (rich-text): a
// GtkIMContext per face, fed the face's key presses. What it commits arrives
// as `key` events, one a character; while it composes, its keys make no
// events of their own. A caret base (options `caret: face`) tells the input
// method where the text goes, so its candidate window sits at the caret.
#include <string>
#include <vector>

#include "gui/backend/backend.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "runtime/unicode.h"

namespace zan::gui::views {

namespace {

// The key press being filtered: commits inside it make their events from it.
struct Pending {
    Message* m = nullptr;
    uint32_t mods = 0;
    int answer = 1;
};
Pending pending;
GtkIMContext* focused = nullptr;
// Caret bases placed before the face they serve had its input method: they
// are linked when that face gets one, or at its next key press.
std::vector<uint32_t> waiting;

uint32_t served_by(uint32_t base) {
    return parts_of(base).w ? face_handle(option(get_facet(face_of(base), facet::options), "caret")) : 0;
}

void link_waiting(uint32_t window, ViewState* s) {
    std::erase_if(waiting, [&](uint32_t base) {
        auto [bw, br, bs] = parts_of(base);
        if (!br) return true;  // the base went away
        if (s->caret || served_by(base) != window) return false;
        br->face_kind |= 0x02;
        s->caret = base;
        return true;
    });
}

void on_commit(GtkIMContext*, const gchar* text, gpointer data) {
    uint32_t window = GPOINTER_TO_UINT(data);
    Message fresh;
    fresh.window = window;
    fresh.time = uint32_t(g_get_monotonic_time() / 1000);
    Message& m = pending.m && pending.m->window == window ? *pending.m : fresh;
    uint32_t mods = pending.m ? pending.mods : 0;
    for (const gchar* p = text; p && *p; p = g_utf8_find_next_char(p, nullptr)) {
        uint32_t ch = g_utf8_get_char(p);
        m.special = -1;
        int answer = make_event(m, (ch & flag::key_mask) | (ch > 0xFFFF ? 0 : mods), evt::key);
        if (pending.m) pending.answer = answer;
        if (!parts_of(window).s) return;  // the face went away
    }
}

void on_preedit(GtkIMContext* im, gpointer data) {
    ViewState* s = state_of(GPOINTER_TO_UINT(data));
    if (!s) return;
    gchar* text = nullptr;
    gtk_im_context_get_preedit_string(im, &text, nullptr, nullptr);
    s->composing = text && *text;
    g_free(text);
}

void on_preedit_end(GtkIMContext*, gpointer data) {
    if (ViewState* s = state_of(GPOINTER_TO_UINT(data))) s->composing = false;
}

// Tells the input method of a face (window) where its caret base is, in the
// face's own pixels. The widgets must be placed for that: until they are,
// the next key press tells it.
void give_cursor(uint32_t window, ViewState* s) {
    if (s->im && !s->caret) link_waiting(window, s);
    if (!s->im || !s->caret) return;
    auto [cw, cr, cs] = parts_of(s->caret);
    Cell caret = cw ? face_of(s->caret) : none_cell();
    // The base went away, or serves another face now.
    if (!cw || !is(caret, Type::object) || face_handle(option(get_facet(caret, facet::options), "caret")) != window) {
        s->caret = 0;
        return;
    }
    double x = 0, y = 0, wd = 0, ht = 0;
    coords(get_facet(caret, facet::offset), x, y);
    coords(get_facet(caret, facet::size), wd, ht);
    // The caret's offset is in its parent; the input method wants the
    // owner's coordinates.
    GtkWidget* from = gtk_widget_get_parent(cw);
    int tx = 0, ty = 0;
    if (!from || !gtk_widget_translate_coordinates(from, s->main, to_physical(x), to_physical(y), &tx, &ty)) return;
    GdkRectangle rect{tx, ty, to_physical(wd), to_physical(ht)};
    gtk_im_context_set_cursor_location(s->im, &rect);
}

void on_realize(GtkWidget* w, gpointer data) {
    if (ViewState* s = state_of(GPOINTER_TO_UINT(data)); s && s->im)
        gtk_im_context_set_client_window(s->im, gtk_widget_get_window(w));
}

}  // namespace

void attach_input_method(uint32_t window) {
    auto [w, r, s] = parts_of(window);
    if (!s || s->im) return;
    s->im = gtk_im_multicontext_new();
    gpointer data = GUINT_TO_POINTER(window);
    g_signal_connect(s->im, "commit", G_CALLBACK(on_commit), data);
    g_signal_connect(s->im, "preedit-changed", G_CALLBACK(on_preedit), data);
    g_signal_connect(s->im, "preedit-end", G_CALLBACK(on_preedit_end), data);
    g_signal_connect(s->main, "realize", G_CALLBACK(on_realize), data);
    if (gtk_widget_get_realized(s->main)) gtk_im_context_set_client_window(s->im, gtk_widget_get_window(s->main));
    link_waiting(window, s);
}

void release_input_method(ViewState* s) {
    if (!s->im) return;
    if (focused == s->im) focused = nullptr;
    gtk_im_context_set_client_window(s->im, nullptr);
    g_signal_handlers_disconnect_matched(s->im, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(on_commit), nullptr);
    g_object_unref(s->im);
    s->im = nullptr;
}

bool composing(uint32_t window) {
    ViewState* s = state_of(window);
    return s && s->im && s->composing;
}

int filter_key(uint32_t window, GdkEventKey& k, Message& m, uint32_t mods, bool& taken) {
    taken = false;
    ViewState* s = state_of(window);
    if (!s || !s->im) return 1;
    if (focused != s->im) {
        if (focused) gtk_im_context_focus_out(focused);
        focused = s->im;
        gtk_im_context_focus_in(s->im);
    }
    give_cursor(window, s);
    Pending saved = pending;
    pending = Pending{&m, mods, 1};
    GtkIMContext* im = s->im;
    g_object_ref(im);
    taken = gtk_im_context_filter_keypress(im, &k) != 0;
    g_object_unref(im);
    int answer = pending.answer;
    pending = saved;
    return answer;
}

void place_caret(const Cell& caret, uint32_t window) {
    Cell served = option(get_facet(caret, facet::options), "caret");
    uint32_t owner = face_handle(served);
    auto [cw, cr, cs] = parts_of(window);
    ViewState* os = state_of(owner);
    if (!cr) return;
    if (!os || !os->im) {
        // A face not shown yet: linked when it is.
        if (is(served, Type::object) && std::find(waiting.begin(), waiting.end(), window) == waiting.end())
            waiting.push_back(window);
        return;
    }
    cr->face_kind |= 0x02;
    os->caret = window;
    give_cursor(owner, os);
}

}  // namespace zan::gui::views
