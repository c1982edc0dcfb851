// C++ bodies of the view layer's event dispatch (gui/view/faces.zan).
//
// Every event a window receives runs the global handlers; their loop in Zan
// costs more than the handlers themselves. The bodies here do what the Zan
// bodies do, step for step, and leave every case they do not expect (a
// handler that is not a plain two-argument function, an odd handler block)
// to the Zan body before anything has run. Tracing runs the Zan bodies.
#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "gui/backend/backend.h"
#include "runtime/memory.h"

namespace zan::gui {

namespace {

// Whether a handler is called as `handler face event` reads it: a function
// whose spec takes exactly two arguments, both plain words.
bool plain_two_args(const Cell& fn) {
    if (!is(fn, Type::function)) return false;
    Node spec = callable_spec(fn);
    memory::Series* s = memory::buffer(spec);
    uint32_t n = uint32_t((s->tail - s->head) / sizeof(Cell));
    int args = 0;
    for (uint32_t i = 0; i < n; ++i) {
        Type t = type_of(s->cells()[i]);
        if (t == Type::refinement) break;
        if (t == Type::word) ++args;
        else if (t == Type::get_word || t == Type::lit_word) return false;
    }
    return args == 2;
}

// run-event-handlers [handlers face event /local name handler result]:
// each handler in turn; an event answer replaces the event, none or false
// go on, unset or anything else ends the run with that answer.
int32_t run_handlers_body(Cell* args) {
    enum { handlers = 0, face = 1, event = 2, handler = 4, result = 5 };
    static const uint32_t sym_handler = symbol::make("handler");
    int32_t len = block::rs_length(args[handlers]);
    int32_t start = int32_t(series_index(args[handlers]));
    if (start > len) start = len;
    if ((len - start) % 2) return -1;
    for (int32_t i = start + 1; i < len; i += 2)
        if (!plain_two_args(*block::rs_abs_at(args[handlers], i))) return -1;

    stack::mark_body(stack::kind_bits(stack::kind::native));
    // A handler may change the block: it is read again at every step, as
    // foreach reads it.
    for (int32_t i = start; i < block::rs_length(args[handlers]); i += 2) {
        args[handler] = i + 1 < block::rs_length(args[handlers]) ? *block::rs_abs_at(args[handlers], i + 1)
                                                                  : none_cell();
        Cell* at = stack::s.top;
        if (is(args[handler], Type::function)) {
            if (stack::Status st = interp::call(args[handler], args + face, 2, sym_handler)) return int32_t(st);
            args[result] = *at;
            stack::s.top = at;
        } else {
            args[result] = args[handler];
        }
        const Cell& r = args[result];
        if (is(r, Type::unset) || (!is(r, Type::event) && !is(r, Type::none) &&
                                   !(is(r, Type::logic) && !logic_of(r)))) {
            stack::unwind_drop();
            args[0] = r;
            return 0;
        }
        if (is(r, Type::event)) args[event] = r;
    }
    stack::unwind_drop();
    args[0] = args[event];
    return 0;
}

}  // namespace

void register_view_bodies() { routines::add_body("run-event-handlers", run_handlers_body); }

}  // namespace zan::gui
