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
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "gui/backend/backend.h"
#include "gui/backend/views.h"
#include "library/library.h"
#include "library/system.h"
#include "runtime/collector.h"

#include <algorithm>
#include <cmath>

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

// Whether fn is a function running the C++ body named key.
bool body_is(const Cell* fn, const char* key) {
    if (!fn || !is(*fn, Type::function)) return false;
    const Cell& code = *function::more_at(*fn, function::more::code);
    return is(code, Type::integer) && uint32_t(int_of(code)) == routines::find_body(key);
}

// show face, as the Zan handler calls it: the library's show, its quick case
// run here.
stack::Status show_face(const Cell& face) {
    Cell show = library::value_of(syms().show);
    collector::Root keep(show);
    if (body_is(&show, "show")) {
        Cell ignored;
        int32_t st = quick_show(face, &ignored);
        if (st >= 0) return stack::Status(st);
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

// Whether calc-size's C++ body measures this face: by its own text, or "X"
// without one. Lists and areas (their entries, their longest line) and rich
// text are the Zan body's, and so is a back end that cannot measure (the Zan
// body remembers that).
bool calc_size_measures(const Cell& face) {
    static const uint32_t types[] = {symbol::make("text-list"), symbol::make("drop-list"),
                                     symbol::make("drop-down"), symbol::make("area"), symbol::make("rich-text")};
    if (!is(face, Type::object)) return false;
    Cell type = get_facet(face, facet::type);
    for (uint32_t t : types)
        if (word_is(type, t)) return false;
    if (!hooks().get_text_size) return false;
    Cell* platform = system_object::field({"view", "platform", "size-text"});
    if (!platform || !is(*platform, Type::routine)) return false;
    const Cell& code = memory::buffer(callable_more(*platform))->cells()[2];
    return is(code, Type::integer) && routines::key_of(uint32_t(int_of(code))) == "view-size-text";
}

// size-text/with face text of a face calc_size_measures takes, rounded up
// to a pair; false when the answer is not a point or not a pair's size.
bool measure_face(const Cell& face, Cell& out) {
    Cell text = get_facet(face, facet::text);
    if (!is(text, Type::string)) {
        string::rs_make_at(text, 1);
        string::append_utf8(series_node(text), "X");
    }
    collector::Root keep_text(text);
    Cell size = point_cell(Type::point2d, 0, 0);
    hooks().get_text_size(face, text, size);
    if (!is(size, Type::point2d)) return false;
    double x = std::ceil(point_coord(size, 0));
    double y = std::ceil(point_coord(size, 1));
    if (!(x >= 0 && x <= 1e8 && y >= 0 && y <= 1e8)) return false;
    out = pair_cell(int32_t(x), int32_t(y));
    return true;
}

// calc-size [face /local ...]
int32_t calc_size_body(Cell* args) {
    Cell size;
    if (!calc_size_measures(args[0]) || !measure_face(args[0], size)) return -1;
    args[0] = size;
    return 0;
}

// --- fetch-options ------------------------------------------------------------------------

// The words fetch-options reads as its own options: a word among them is
// never taken for a style name.
bool option_keyword(uint32_t sym) {
    static const uint32_t words[] = {
        symbol::make("left"), symbol::make("center"), symbol::make("right"), symbol::make("top"),
        symbol::make("middle"), symbol::make("bottom"), symbol::make("bold"), symbol::make("italic"),
        symbol::make("underline"), symbol::make("strike"), symbol::make("extra"), symbol::make("data"),
        symbol::make("draw"), symbol::make("font"), symbol::make("para"), symbol::make("wrap"),
        symbol::make("no-wrap"), symbol::make("focus"), symbol::make("font-name"), symbol::make("font-size"),
        symbol::make("font-color"), symbol::make("options"), symbol::make("loose"), symbol::make("all-over"),
        symbol::make("password"), symbol::make("tri-state"), symbol::make("scrollable"), symbol::make("no-border"),
        symbol::make("hidden"), symbol::make("disabled"), symbol::make("select"), symbol::make("rate"),
        symbol::make("default"), symbol::make("space"), symbol::make("hint"), symbol::make("cursor"),
        symbol::make("init"), symbol::make("with"), symbol::make("tight"), symbol::make("react"),
        symbol::make("style")};
    for (uint32_t w : words)
        if (same_symbol(w, sym)) return true;
    return false;
}

// The cell after the first word of a block named sym, at any of its
// positions (what select answers); nullptr when there is none. `any` tells
// whether such a word occurs at all.
const Cell* after_word(const Cell& blk, uint32_t sym, bool& any) {
    int32_t n = block::rs_length(blk);
    int32_t at = int32_t(series_index(blk));
    any = false;
    for (int32_t i = 0; i < n; ++i) {
        const Cell* c = block::rs_abs_at(blk, at + i);
        if (word::is_word_family(type_of(*c)) && same_symbol(word_symbol(*c), sym)) {
            any = true;
            return i + 1 < n ? block::rs_abs_at(blk, at + i + 1) : nullptr;
        }
    }
    return nullptr;
}

// The width and height a [pair pair] entry of a metrics map adds (first
// pair: left and right, second: top and bottom); false for another shape.
bool metric_sum(const Cell& metrics, const Cell& type, bool& found, int32_t& x, int32_t& y) {
    x = y = 0;
    found = false;
    if (!is(metrics, Type::map)) return false;
    Cell key = type;
    map::preprocess_key(key);
    Cell v = map::get(metrics, key, false);
    if (!is_truthy(v)) return true;
    found = true;
    if (!is(v, Type::block) || block::rs_length(v) < 2) return false;
    const Cell* a = block::rs_abs_at(v, int32_t(series_index(v)));
    const Cell* b = a + 1;
    if (!is(*a, Type::pair) || !is(*b, Type::pair)) return false;
    x = pair_x(*a) + pair_y(*a);
    y = pair_x(*b) + pair_y(*b);
    return true;
}

// fetch-options [face opts style spec css reactors styling? /no-skip /tight]
// for the face most layouts are made of: a built-in style with no actors of
// its own, followed by nothing or by one text, then by the next style's name
// or the end, outside a style definition. The face takes the text through its
// change handler, then its natural size. Every other case is the Zan body's,
// and is told apart before anything changes.
int32_t fetch_options_body(Cell* args) {
    const Syms& s = syms();
    static const uint32_t sym_styled = symbol::make("styled"), sym_template = symbol::make("template"),
                          sym_actors = symbol::make("actors"), sym_size = symbol::make("size"),
                          sym_calc = symbol::make("calc-size");
    static const uint32_t kept_out[] = {symbol::make("panel"), symbol::make("tab-panel"), symbol::make("group-box")};
    enum { face = 0, opts = 1, style = 2, spec = 3, css = 4, styling = 6, no_skip = 7 };
    if (!is(args[face], Type::object) || !is(args[opts], Type::object) || !is(args[style], Type::block) ||
        !is(args[spec], Type::block) || !is(args[css], Type::block))
        return -1;
    if (is_truthy(args[styling]) || is_truthy(args[no_skip])) return -1;
    Cell* vid_proto = system_object::field({"view", "VID", "opts-proto"});
    if (!vid_proto || (is(*vid_proto, Type::object) && object::context_node(*vid_proto) == object::context_node(args[opts])))
        return -1;
    // calc-size as this body measures
    if (!body_is(system_object::field({"view", "VID", "calc-size"}), "vid-calc-size")) return -1;
    // local styles: a name among them would need their order and kinds
    if (!block::rs_tail_q(args[css])) return -1;

    // the options: nothing or one text, then a built-in style's name or the end
    int32_t at = int32_t(series_index(args[spec]));
    int32_t len = block::rs_length(args[spec]);
    int32_t last = 0;  // the last item read, from the spec's position
    Cell text = none_cell();
    if (1 < len && is(*block::rs_abs_at(args[spec], at + 1), Type::string)) {
        text = *block::rs_abs_at(args[spec], at + 1);
        last = 1;
    }
    if (last + 1 < len) {
        const Cell& next = *block::rs_abs_at(args[spec], at + last + 1);
        if (!is(next, Type::word) || option_keyword(word_symbol(next))) return -1;
        Cell* styles = system_object::field({"view", "VID", "styles"});
        if (!styles || !is(*styles, Type::map)) return -1;
        Cell key = next;
        map::preprocess_key(key);
        if (!is(map::get(*styles, key, false), Type::block)) return -1;
    }

    // the style: no definition's record, no actors in its template
    bool any = false;
    after_word(args[style], sym_styled, any);
    if (any) return -1;
    const Cell* tmpl = after_word(args[style], sym_template, any);
    if (!tmpl || !is(*tmpl, Type::block)) return -1;
    after_word(*tmpl, sym_actors, any);
    if (any) return -1;

    // the face: measured as calc-size's C++ body measures, sized by pairs
    Cell type = get_facet(args[face], facet::type);
    if (!is(type, Type::word)) return -1;
    for (uint32_t t : kept_out)
        if (word_is(type, t)) return -1;
    if (!calc_size_measures(args[face])) return -1;
    if (is(get_facet(args[face], facet::actors), Type::block)) return -1;
    if (!is(get_facet(args[face], facet::size), Type::pair)) return -1;
    Cell* paddings = system_object::field({"view", "metrics", "paddings"});
    Cell* margins = system_object::field({"view", "metrics", "margins"});
    if (!paddings || !margins) return -1;
    bool pad_found = false, mar_found = false;
    int32_t pad_x, pad_y, mar_x, mar_y;
    if (!metric_sum(*paddings, type, pad_found, pad_x, pad_y) || !metric_sum(*margins, type, mar_found, mar_x, mar_y))
        return -1;
    // sums that stay far from overflowing
    auto small = [](int32_t v) { return v > -(1 << 24) && v < (1 << 24); };
    Cell old_size = get_facet(args[face], facet::size);
    if (!small(pad_x) || !small(pad_y) || !small(mar_x) || !small(mar_y) || !small(pair_x(old_size)) ||
        !small(pair_y(old_size)))
        return -1;

    // set opts none, the text, then set/some face opts
    collector::Root keep_text(text);
    object::set_many(args[opts], none_cell(), false, false, false);
    if (!is(text, Type::none)) object::set_field(args[opts], make_cell(Type::word, 0, s.text, uint32_t(-1)), text);
    object::set_many(args[face], args[opts], false, false, true);

    Cell size = get_facet(args[face], facet::size);
    if (!is(size, Type::pair) || !small(pair_x(size)) || !small(pair_y(size))) return -1;
    int32_t w = pair_x(size), h = pair_y(size);
    int32_t min_w = w, min_h = h;
    if (is_truthy(get_facet(args[face], facet::text)) || series::is_series(type_of(get_facet(args[face], facet::data))) ||
        is_truthy(get_facet(args[face], facet::font))) {
        Cell measured;
        if (!measure_face(args[face], measured)) {
            // an answer the C++ body does not round: calc-size itself says
            Cell* calc = system_object::field({"view", "VID", "calc-size"});
            Cell* at_top = stack::s.top;
            stack::push(args[face]);
            Cell* result = stack::s.top;
            if (stack::Status st = interp::call(*calc, at_top, 1, sym_calc)) return int32_t(st);
            measured = *result;
            stack::s.top = at_top;
        }
        if (is(measured, Type::pair)) min_w = pair_x(measured), min_h = pair_y(measured);
        else if (!is(measured, Type::none)) return -1;
    }
    w = std::max(w, min_w + pad_x);
    h = std::max(h, min_h + pad_y);
    if (mar_found) w += mar_x, h += mar_y;
    Cell now = pair_cell(w, h);
    if (!(pair_x(now) == pair_x(size) && pair_y(now) == pair_y(size))) {
        Cell* relations = system_object::field({"reactivity", "relations"});
        Cell* debug = system_object::field({"view", "debug?"});
        bool quiet = is(get_facet(args[face], facet::state), Type::none) && !(debug && is_truthy(*debug)) &&
                     relations && is(*relations, Type::block) && block::rs_length(*relations) == 0;
        if (quiet) set_facet_quiet(args[face], facet::size, now);
        else object::set_field(args[face], make_cell(Type::word, 0, sym_size, uint32_t(-1)), now);
    }
    // the last item read; the end when the options ran to it
    Cell result = args[spec];
    set_series_index(result, uint32_t(last + 1 < len ? at + last : at + len));
    args[0] = result;
    return 0;
}

}  // namespace

void register_face_change_body() {
    routines::add_body("on-face-change*", face_change_body);
    routines::add_body("show", show_body);
    routines::add_body("vid-calc-size", calc_size_body);
    routines::add_body("vid-fetch-options", fetch_options_body);
}

}  // namespace zan::gui
