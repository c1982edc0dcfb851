// C++ body of the view layer's facet-assignment handler (on-face-change* in
// gui/view/faces.zan) for a face that is not shown.
//
// Building a layout assigns a few facets to every new face; in Zan each
// assignment costs as much as the rest of the face's making. Before a face is
// shown the handler only hands ownership of a series or object to the face
// and loads a text face's `data` from its text. This body does exactly that,
// and leaves to the Zan body, before anything has changed, every case where
// the handler does more: a shown face, view debugging, reactions to check, a
// pane, a rich text, `selected`, a replaced image, a field's `data`, or
// options that could hold `sync`.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
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
             field = symbol::make("field"),
             rich_text = symbol::make("rich-text"), owned = symbol::make("owned");
};

bool same_symbol(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

// What `series? :v` or `object? :v` answers: a value ownership applies to.
bool ownable(const Cell& v) { return series::is_series(type_of(v)) || is(v, Type::object); }

Cell library_value(const char* name) { return library::value_of(symbol::make(name)); }

// modify value 'owned owner: none gives the value up, a block [face word]
// hands it to that facet.
void modify_owned(const Cell& value, const Cell& owner) {
    static const Syms s;
    Cell a[3] = {value, make_cell(Type::word, 0, s.owned, uint32_t(-1)), owner};
    dispatch::get_action<55>(value)(a, false);
}

// on-face-change* [face word old new /local ...]
int32_t face_change_body(Cell* args) {
    static const Syms s;
    enum { face = 0, word = 1, old = 2, now = 3 };
    if (!is(args[face], Type::object) || !is(args[word], Type::word)) return -1;
    Cell* debug = system_object::field({"view", "debug?"});
    if (debug && is_truthy(*debug)) return -1;
    uint32_t w = word_symbol(args[word]);
    if (same_symbol(w, s.state) || same_symbol(w, s.extra)) {
        args[0] = unset_cell();
        return 0;
    }
    if (same_symbol(w, s.pane) || same_symbol(w, s.selected)) return -1;
    if (!is(get_facet(args[face], facet::state), Type::none)) return -1;
    Cell type = get_facet(args[face], facet::type);
    if (word_is(type, s.rich_text)) return -1;
    Cell* relations = system_object::field({"reactivity", "relations"});
    if (!relations || !is(*relations, Type::block) || block::rs_length(*relations) > 0) return -1;
    if (is(args[old], Type::image) && !(is(args[now], Type::image) && args[old].w1 == args[now].w1 &&
                                        args[old].w2 == args[now].w2 && args[old].w3 == args[now].w3))
        return -1;
    // an equal size or offset ends the Zan body early, before ownership
    if ((same_symbol(w, s.size) || same_symbol(w, s.offset)) && (ownable(args[old]) || ownable(args[now])))
        return -1;
    bool text_face = word_is(type, s.field) || word_is(type, s.text);
    Cell loader = none_cell();
    if (text_face) {
        if (same_symbol(w, s.data)) return -1;
        if (same_symbol(w, s.text)) {
            // options may name a sync type: the Zan body reads them
            if (is(get_facet(args[face], facet::options), Type::block)) return -1;
            loader = library_value("text-to-data");
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
        static const uint32_t sym_load = symbol::make("text-to-data");
        Cell* at = stack::s.top;
        stack::push(args[face]);
        stack::push(args[now]);
        stack::push(library_value("scalar!"));
        Cell* result = stack::s.top;
        if (stack::Status st = interp::call(loader, at, 3, sym_load)) return int32_t(st);
        Cell value = *result;
        stack::s.top = at;
        set_facet_quiet(args[face], facet::data, value);
    }
    args[0] = none_cell();
    return 0;
}

}  // namespace

void register_face_change_body() { routines::add_body("on-face-change*", face_change_body); }

}  // namespace zan::gui
