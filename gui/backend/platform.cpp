// The routines of system/view/platform and the event routines (event?,
// send-event-os, find-flag?). Each takes type-checked arguments at args,
// checks what its spec cannot, then does the work or calls the hook the native
// views or the renderer fill; an empty hook raises internal not-done.
#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/image_backend.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/routines.h"
#include "gui/backend/backend.h"
#include "gui/backend/event.h"
#include "gui/backend/spine.h"
#include "platform/gtk_start.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/ownership.h"

namespace zan::gui {

namespace {


template <typename Hook>
Hook need(Hook h, const char* name) {
    if (!h) {
        Cell word = word::load(name);
        errors::fire(errors::id::not_done, &word);
    }
    return h;
}

[[noreturn]] void invalid_type(const Cell& v) {
    Cell t = datatype_cell(type_of(v));
    errors::fire(errors::id::invalid_type, &t);
}

bool type_is(const Cell& face, const char* name) {
    Cell t = get_facet(face, facet::type);
    return is(t, Type::word) && symbol::resolve(word_symbol(t)) == symbol::resolve(symbol::make(name));
}

void make_null_handle(Cell* args) { args[0] = handle::make_cell_of(0, handle::null); }
void fetch_all_screens(Cell* args) { args[0] = spine::fetch_all_screens(); }
void get_current_screen(Cell* args) { args[0] = spine::current_screen(); }
void get_screen_size(Cell* args) { args[0] = spine::screen_size(); }

void size_text(Cell* args) {
    Cell text = args[1];
    if (is(text, Type::none)) text = get_facet(args[0], facet::text);
    else if (!is(text, Type::string)) invalid_type(text);
    if (!is(text, Type::string)) {
        args[0] = none_cell();
        return;
    }
    args[1] = text;
    args[2] = point_cell(Type::point2d, 0, 0);
    need(hooks().get_text_size, "size-text")(args[0], args[1], args[2]);
    args[0] = args[2];
}

void on_change_facet(Cell* args) {
    need(hooks().update_facet, "on-change-facet")(args);
    args[0] = none_cell();
}

void update_text(Cell* args) {
    need(hooks().get_text_alt, "update-text")(args[0], -1);
    args[0] = none_cell();
}
void update_font(Cell* args) {
    need(hooks().update_font, "update-font")(args[0], int_of(args[1]));
    args[0] = none_cell();
}
void update_para(Cell* args) {
    need(hooks().update_para, "update-para")(args[0], int_of(args[1]));
    args[0] = none_cell();
}
void update_scroller(Cell* args) {
    need(hooks().update_scroller, "update-scroller")(args[0], int_of(args[1]));
    args[0] = none_cell();
}

void destroy_view(Cell* args) {
    spine::destroy_view(args[0], logic_of(args[1]));
    args[0] = none_cell();
}

void detach_image(Cell* args) {
    ownership::unbind(args[0]);
    args[0] = none_cell();
}

void update_view(Cell* args) {
    Cell v = args[0];
    if (is(v, Type::block)) {
        for (int32_t i = 0; i < block::rs_length(v); ++i) {
            Cell f = *block::rs_abs_at(v, int32_t(series_index(v)) + i);
            if (!is(f, Type::object)) invalid_type(f);
        }
        auto update = need(hooks().update_view, "update-view");
        for (int32_t i = 0; i < block::rs_length(args[0]); ++i) {
            args[1] = *block::rs_abs_at(args[0], int32_t(series_index(args[0])) + i);
            update(args[1]);
        }
    } else if (is(v, Type::object)) {
        if (!type_is(v, "screen")) need(hooks().update_view, "update-view")(v);
    } else {
        invalid_type(v);
    }
    args[0] = none_cell();
}

void refresh_window(Cell* args) {
    spine::refresh_window(handle_value(args[0]));
    args[0] = none_cell();
}

void redraw(Cell* args) {
    if (uint32_t h = face_handle(args[0])) spine::redraw(h);
    args[0] = none_cell();
}

void show_window(Cell* args) {
    spine::show_window(handle_value(args[0]));
    args[0] = none_cell();
}

void make_view(Cell* args) {
    ensure_started();
    uint32_t parent = handle_value(args[1]);
    uint32_t h = hooks().make_view ? hooks().make_view(args[0], parent) : spine::default_make_view(args[0], parent);
    args[0] = handle::make_cell_of(h, handle::window);
}

void draw_image(Cell* args) {
    if (image::width_of(args[0]) == 0 || image::height_of(args[0]) == 0) {
        args[0] = none_cell();
        return;
    }
    need(hooks().do_draw, "draw-image")(args[0], args[1]);
    Cell poke = word::load("poke");
    ownership::check(args[0], poke, -1, -1);
    args[0] = none_cell();
}

void draw_face(Cell* args) {
    uint32_t flags = get_flags(get_facet(args[0], facet::flags));
    if (uint32_t h = face_handle(args[0])) need(hooks().draw_face, "draw-face")(h, args[1], flags);
    args[0] = none_cell();
}

void do_event_loop(Cell* args) { args[0] = logic_cell(do_events(logic_of(args[0]))); }

void exit_event_loop(Cell* args) {
    post_quit();
    args[0] = none_cell();
}

void request_font(Cell* args) { need(hooks().request_font, "request-font")(args); }
void request_file(Cell* args) { need(hooks().request_file, "request-file")(args); }
void request_dir(Cell* args) { need(hooks().request_dir, "request-dir")(args); }

void text_box_metrics(Cell* args) {
    if (!type_is(args[0], "rich-text")) {
        Cell t = get_facet(args[0], facet::type);
        errors::fire(spine::script_error("face-type"), &t);
    }
    if (!is(get_facet(args[0], facet::text), Type::string)) {
        args[0] = none_cell();
        return;
    }
    Cell handles = get_field(args[0], "handles");
    bool stale = !is(handles, Type::block) || block::rs_length(handles) == 0 ||
                 is_truthy(*block::rs_abs_at(handles, int32_t(series_index(handles)) + block::rs_length(handles) - 1));
    if (stale) {
        need(hooks().text_box_layout, "text-box-metrics")(args[0]);
        handles = get_field(args[0], "handles");
    }
    args[0] = handles;
    need(hooks().text_box_metrics, "text-box-metrics")(args);
}

// GTK themes switch to their dark variant for the whole application.
void set_dark_mode(Cell* args) {
    ensure_started();
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme",
                 logic_of(args[1]) ? TRUE : FALSE, nullptr);
    args[0] = none_cell();
}

void support_dark_mode(Cell* args) { args[0] = logic_cell(platform::gtk::start()); }

void toggle_gpu(Cell* args) {
    need(hooks().toggle_gpu, "toggle-GPU")();
    args[0] = none_cell();
}

// --- the event routines ---

void event_q(Cell* args) { args[0] = logic_cell(is(args[0], Type::event)); }
void send_event_os(Cell* args) { args[0] = logic_cell(spine::send_event(args[0], logic_of(args[1]))); }
void find_flag(Cell* args) { args[0] = logic_cell(event::find_flag(args[0], args[1])); }

struct Entry {
    const char* key;
    routines::Fn fn;
};
constexpr Entry entries[] = {
    {"view-make-null-handle", make_null_handle},
    {"view-fetch-all-screens", fetch_all_screens},
    {"view-get-current-screen", get_current_screen},
    {"view-get-screen-size", get_screen_size},
    {"view-size-text", size_text},
    {"view-on-change-facet", on_change_facet},
    {"view-update-text", update_text},
    {"view-update-font", update_font},
    {"view-update-para", update_para},
    {"view-destroy-view", destroy_view},
    {"view-detach-image", detach_image},
    {"view-update-view", update_view},
    {"view-refresh-window", refresh_window},
    {"view-redraw", redraw},
    {"view-show-window", show_window},
    {"view-make-view", make_view},
    {"view-draw-image", draw_image},
    {"view-draw-face", draw_face},
    {"view-do-event-loop", do_event_loop},
    {"view-exit-event-loop", exit_event_loop},
    {"view-request-font", request_font},
    {"view-request-file", request_file},
    {"view-request-dir", request_dir},
    {"view-text-box-metrics", text_box_metrics},
    {"view-update-scroller", update_scroller},
    {"view-set-dark-mode", set_dark_mode},
    {"view-support-dark-mode?", support_dark_mode},
    {"view-toggle-GPU", toggle_gpu},
    {"event?", event_q},
    {"send-event-os", send_event_os},
    {"find-flag?", find_flag},
};

}  // namespace

void register_routines() {
    for (const Entry& e : entries) routines::add(e.key, e.fn);
    spine::install_wait();
}

}  // namespace zan::gui
