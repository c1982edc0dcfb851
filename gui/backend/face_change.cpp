// C++ bodies of the view layer's facet-assignment handler (on-face-change*
// in gui/view/faces.zan) and of `show` for a shown face's plain update.
//
// Building a layout assigns a few facets to every new face, and a script
// driving a window assigns them to shown faces; in Zan each assignment costs
// as much as the native widget's own update. The handler hands ownership of
// a series or object to the face, loads a text face's `data` from its text
// and, once the face is shown, marks the facet and shows the face. This body
// does exactly that, and leaves to the Zan body, before anything has changed,
// every case where the handler does more: view debugging, reactions to check,
// a pane, a rich text, `selected`, a replaced image, a field's `data`,
// options naming `sync`, or a shown face's font or para.
//
// `show` of a shown face that holds no pane and has no deep changes waiting
// only pushes its marks to the widget; every other show runs the Zan body.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/function.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "gui/backend/backend.h"
#include "gui/backend/views.h"
#include "library/library.h"
#include "library/system.h"
#include "runtime/collector.h"

namespace zan::gui {

namespace {

using views::word_is;

struct Syms {
    uint32_t state = symbol::make("state"), extra = symbol::make("extra"), pane = symbol::make("pane"),
             text = symbol::make("text"), data = symbol::make("data"), selected = symbol::make("selected"),
             font = symbol::make("font"), para = symbol::make("para"), edge = symbol::make("edge"),
             actors = symbol::make("actors"), size = symbol::make("size"), offset = symbol::make("offset"),
             field = symbol::make("field"), window = symbol::make("window"), screen = symbol::make("screen"),
             rich_text = symbol::make("rich-text"), owned = symbol::make("owned"), show = symbol::make("show"),
             update_view = symbol::make("update-view"), text_to_data = symbol::make("text-to-data"),
             scalar = symbol::make("scalar!"), sync = symbol::make("sync");
};

const Syms& syms() {
    static const Syms s;
    return s;
}

bool same_symbol(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

// What `series? :v` or `object? :v` answers: a value ownership applies to.
bool ownable(const Cell& v) { return series::is_series(type_of(v)) || is(v, Type::object); }

bool view_debugging() {
    Cell* debug = system_object::field({"view", "debug?"});
    return debug && is_truthy(*debug);
}

// Item i (0-based) of a block from its position; nullptr past its tail.
Cell* item(const Cell& blk, int32_t i) {
    int32_t at = int32_t(series_index(blk)) + i;
    return at < block::rs_length(blk) ? block::rs_abs_at(blk, at) : nullptr;
}

// The values `size` and `offset` hold, which compare without running code.
bool plain_coords(const Cell& v) {
    return is(v, Type::pair) || is(v, Type::point2d) || is(v, Type::none);
}

// Whether a block holds a word `find options 'sync` would stop at.
bool names_sync(const Cell& options) {
    if (!is(options, Type::block)) return false;
    const uint32_t sync = symbol::resolve(syms().sync);
    for (int32_t i = int32_t(series_index(options)), n = block::rs_length(options); i < n; ++i) {
        const Cell& v = *block::rs_abs_at(options, i);
        Type t = type_of(v);
        if ((t == Type::word || t == Type::set_word || t == Type::get_word || t == Type::lit_word ||
             t == Type::refinement) &&
            symbol::resolve(word_symbol(v)) == sync)
            return true;
    }
    return false;
}

// Calls f with one argument; the answer is left in *out when given.
stack::Status call1(const Cell& f, const Cell& arg, uint32_t name, Cell* out = nullptr) {
    Cell* at = stack::s.top;
    stack::push(arg);
    Cell* result = stack::s.top;
    if (stack::Status st = interp::call(f, at, 1, name)) return st;
    if (out) *out = *result;
    stack::s.top = at;
    return stack::ok;
}

// show of a shown face: its marks pushed to its widget through
// system/view/platform/update-view. -1 (nothing done) for every face whose
// show does more: a new face, a window or screen, a face holding a pane,
// deep changes waiting for replay, view debugging.
int32_t quick_show(const Cell& face, Cell* result) {
    const Syms& s = syms();
    if (!is(face, Type::object) || view_debugging()) return -1;
    Cell state = get_facet(face, facet::state);
    if (!is(state, Type::block)) return -1;
    Cell* handle = item(state, 0);
    Cell* mask = item(state, 1);
    Cell* records = item(state, 2);
    if (!handle || !is_truthy(*handle) || !mask || !is(*mask, Type::integer)) return -1;
    if (records && is(*records, Type::block) && block::rs_length(*records) > int32_t(series_index(*records)))
        return -1;
    Cell type = get_facet(face, facet::type);
    if (word_is(type, s.window) || word_is(type, s.screen)) return -1;
    if (is_truthy(get_facet(face, facet::pane))) return -1;
    if (int_of(*mask) != 0) {
        Cell* platform = system_object::field({"view", "platform"});
        Cell update = platform ? get_field(*platform, "update-view") : none_cell();
        if (!interp::is_callable(type_of(update))) return -1;
        collector::Root keep(update);
        if (stack::Status st = call1(update, face, s.update_view)) return int32_t(st);
    }
    *result = logic_cell(true);
    return 0;
}

// show [face /with parent /force /nested ...]
int32_t show_body(Cell* args) {
    enum { face = 0, with = 1, force = 3, nested = 4 };
    if (logic_of(args[with]) || logic_of(args[force]) || logic_of(args[nested])) return -1;
    return quick_show(args[face], args);
}

// show face, as the Zan handler calls it: the library's show, its quick case
// run here.
stack::Status show_face(const Cell& face) {
    static const uint32_t body = routines::find_body("show");
    Cell show = library::value_of(syms().show);
    collector::Root keep(show);
    if (is(show, Type::function)) {
        const Cell& code = *function::more_at(show, function::more::code);
        Cell ignored;
        if (is(code, Type::integer) && uint32_t(int_of(code)) == body) {
            int32_t st = quick_show(face, &ignored);
            if (st >= 0) return stack::Status(st);
        }
    }
    if (!interp::is_callable(type_of(show))) return stack::ok;
    return call1(show, face, syms().show);
}

// modify value 'owned owner: none gives the value up, a block [face word]
// hands it to that facet.
void modify_owned(const Cell& value, const Cell& owner) {
    const Syms& s = syms();
    Cell a[3] = {value, make_cell(Type::word, 0, s.owned, uint32_t(-1)), owner};
    dispatch::get_action<55>(value)(a, false);
}

// on-face-change* [face word old new /local ...]
int32_t face_change_body(Cell* args) {
    const Syms& s = syms();
    enum { face = 0, word = 1, old = 2, now = 3 };
    if (!is(args[face], Type::object) || !is(args[word], Type::word)) return -1;
    if (view_debugging()) return -1;
    uint32_t w = word_symbol(args[word]);
    if (same_symbol(w, s.state) || same_symbol(w, s.extra)) {
        args[0] = unset_cell();
        return 0;
    }
    if (same_symbol(w, s.pane) || same_symbol(w, s.selected)) return -1;
    Cell state = get_facet(args[face], facet::state);
    bool shown = !is(state, Type::none);
    if (shown && !is(state, Type::block)) return -1;
    Cell type = get_facet(args[face], facet::type);
    if (word_is(type, s.rich_text)) return -1;
    Cell* relations = system_object::field({"reactivity", "relations"});
    if (!relations || !is(*relations, Type::block) || block::rs_length(*relations) > 0) return -1;
    if (is(args[old], Type::image) && !(is(args[now], Type::image) && args[old].w1 == args[now].w1 &&
                                        args[old].w2 == args[now].w2 && args[old].w3 == args[now].w3))
        return -1;
    // an equal size or offset ends the Zan body early, before ownership
    if (same_symbol(w, s.size) || same_symbol(w, s.offset)) {
        if (ownable(args[old]) || ownable(args[now])) return -1;
        if (shown) {
            if (!plain_coords(args[old]) || !plain_coords(args[now])) return -1;
            if (dispatch::compare(args[old], args[now], dispatch::code::equal)) {
                args[0] = unset_cell();
                return 0;
            }
        }
    }
    // a shown face's mark: the facet's position in the face is its bit
    if (shown) {
        if (same_symbol(w, s.font) || same_symbol(w, s.para)) return -1;
        int32_t bit = context::find_word(object::context_node(args[face]), symbol::resolve(w), true);
        Cell* mask = item(state, 1);
        if (bit < 0 || bit > 30 || !mask || !is(*mask, Type::integer)) return -1;
    }
    bool text_face = word_is(type, s.field) || word_is(type, s.text);
    Cell loader = none_cell();
    if (text_face) {
        if (same_symbol(w, s.data)) return -1;
        if (same_symbol(w, s.text)) {
            // options naming sync choose the loaded types: the Zan body reads them
            if (names_sync(get_facet(args[face], facet::options))) return -1;
            loader = library::value_of(s.text_to_data);
            if (!interp::is_callable(type_of(loader))) return -1;
        }
    }
    collector::Root keep_loader(loader);

    bool same_pane = is(args[old], Type::block) && is(args[now], Type::block) &&
                     series_node(args[old]) == series_node(args[now]);
    if (!same_pane) {
        if (ownable(args[old])) modify_owned(args[old], none_cell());
        bool kept = same_symbol(w, s.font) || same_symbol(w, s.para) || same_symbol(w, s.edge) ||
                    same_symbol(w, s.actors) || same_symbol(w, s.extra);
        if (!kept && ownable(args[now])) {
            modify_owned(args[now], none_cell());
            Cell owner;
            block::make_at(owner, 2);
            collector::Root keep(owner);
            block::rs_append(owner, args[face]);
            block::rs_append(owner, args[word]);
            modify_owned(args[now], owner);
        }
    }
    if (!is(loader, Type::none)) {
        Cell* at = stack::s.top;
        stack::push(args[face]);
        stack::push(args[now]);
        stack::push(library::value_of(s.scalar));
        Cell* result = stack::s.top;
        if (stack::Status st = interp::call(loader, at, 3, s.text_to_data)) return int32_t(st);
        Cell value = *result;
        stack::s.top = at;
        set_facet_quiet(args[face], facet::data, value);
    }
    if (!shown) {
        args[0] = none_cell();
        return 0;
    }
    // the mark, then the automatic show; the face's state is read again
    // (the face stays in args[0], where the collector sees it, until the end)
    const Cell& f = args[face];
    state = get_facet(f, facet::state);
    Cell* mask = is(state, Type::block) ? item(state, 1) : nullptr;
    int32_t bit = context::find_word(object::context_node(f), symbol::resolve(w), true);
    if (mask && is(*mask, Type::integer) && bit >= 0 && bit <= 30) {
        *mask = integer_cell(int32_t(uint32_t(int_of(*mask)) | (1u << bit)));
        Cell* handle = item(state, 0);
        Cell* sync = system_object::field({"view", "auto-sync?"});
        if (handle && is_truthy(*handle) && sync && is_truthy(*sync)) {
            Cell face_now = f;
            if (stack::Status st = show_face(face_now)) return int32_t(st);
        }
    }
    args[0] = none_cell();
    return 0;
}

}  // namespace

void register_face_change_body() {
    routines::add_body("on-face-change*", face_change_body);
    routines::add_body("show", show_body);
}

}  // namespace zan::gui
