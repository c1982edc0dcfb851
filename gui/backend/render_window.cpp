// The window side of rendering: the GUI back end's rendering hooks, and the
// painting of faces that draw themselves (base and rich-text faces are
// drawing areas whose GTK draw signal runs a draw pass over its cairo_t).
#include "gui/backend/backend.h"
#include "gui/backend/render.h"
#include "gui/backend/text_box.h"

namespace zan::render {

namespace {

Cell facet(const Cell& face, int k) { return gui::get_facet(face, k); }

void send_drawing(uint32_t window) {
    gui::Message m;
    m.window = window;
    gui::make_event(m, 0, gui::evt::drawing);
}

gboolean on_draw(GtkWidget* w, cairo_t* cr, gpointer) {
    gui::WidgetRecord* r = gui::record_of(w);
    if (!r || r->cleaned) return FALSE;
    Cell face = gui::face_of(r->handle);
    if (!is(face, Type::object)) return FALSE;
    // Face units are logical; the widget's are the back end's physical ones.
    paint_face(cr, face, gui::dpi_factor(), facet(face, gui::facet::draw), r->handle, send_drawing);
    return TRUE;
}

GtkWidget* make_drawing_face(const Cell&, GtkWidget*& inner) {
    inner = nullptr;
    GtkWidget* d = gtk_drawing_area_new();
    gtk_widget_set_can_focus(d, TRUE);
    g_signal_connect(d, "draw", G_CALLBACK(on_draw), nullptr);
    return d;
}

void do_draw_hook(const Cell& image, const Cell& cmds) { do_draw(image, cmds); }

void draw_face_hook(uint32_t window, const Cell& cmds, uint32_t) { draw_into_open_pass(window, cmds); }

// The GPU switch only keeps system/view/GPU?: cairo has one renderer.
void toggle_gpu_hook() {}

Cell face_image_hook(const Cell& face, uint32_t) { return face_image(face, facet(face, gui::facet::draw)); }

}  // namespace

void connect_window_target() {
    gui::Hooks& h = gui::hooks();
    h.do_draw = do_draw_hook;
    h.draw_face = draw_face_hook;
    h.text_box_layout = text_box_layout_hook;
    h.text_box_metrics = text_box_metrics;
    h.toggle_gpu = toggle_gpu_hook;
    h.render_face_image = face_image_hook;
    gui::set_factory(gui::Kind::base, make_drawing_face);
    gui::set_factory(gui::Kind::rich_text, make_drawing_face);
}

}  // namespace zan::render
