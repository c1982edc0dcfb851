// C++ bodies of the view layer's event dispatch (gui/view/faces.zan).
//
// Every event a window receives runs the global handlers and actors, each
// under do-safe's guard; in Zan the loop and the guard cost more than the
// handlers themselves. The bodies here do what the Zan
// bodies do, step for step, and leave every case they do not expect (a
// handler that is not a plain two-argument function, an odd handler block)
// to the Zan body before anything has run. Tracing runs the Zan bodies.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives_control.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "gui/backend/backend.h"
#include "library/library.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"
#include "runtime/memory.h"

namespace zan::gui {

namespace {

using stack::Status;

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


// The value a library word holds, as library code sees it.
Cell library_value(const char* name) {
    uint32_t sym = symbol::make(name);
    Cell* v = context::get_by_symbol(sym, library::context_node());
    if (!v) v = context::get_by_symbol(sym, context::global());
    return v ? *v : none_cell();
}

// Calls a library function by name with the given arguments (on the value
// stack) and drops its result.
Status call_library(const char* name, const Cell* args, uint32_t count) {
    Cell fn = library_value(name);
    if (!interp::is_callable(type_of(fn))) return stack::ok;
    Cell* at = stack::s.top;
    Status st = interp::call(fn, args, count, symbol::make(name));
    if (!st) stack::s.top = at;
    return st;
}

// do-safe's steps: `run` (which pushes one value) under a try/all and a
// catch named console. *out receives the value; after an error (printed) or
// a throw to the console (a halt stops the event loop) it is unset, except a
// thrown none, which leaves none as the Zan body's untouched local does.
template <class Run>
Status run_safely(Run run, Cell* out) {
    static const uint32_t sym_try = symbol::make("try");
    static const uint32_t sym_catch = symbol::make("catch");
    static const uint32_t sym_console = symbol::make("console");
    static const uint32_t sym_halt = symbol::make("halt-request");
    Cell* base = stack::s.base;
    Cell* top = stack::s.top;
    stack::Frame* frame = stack::mark(sym_try, 0, stack::kind_bits(stack::kind::try_all));
    Cell outcome;
    bool thrown = false;
    try {
        // the names lie just below the catch frame, where the throw search reads them
        stack::push(make_cell(Type::word, 0, sym_console, uint32_t(-1)));
        stack::Frame* catcher = stack::mark(sym_catch, 0, stack::kind_bits(stack::kind::catch_));
        Status st;
        try {
            st = run();
        } catch (const unwind::Thrown& t) {
            if (t.code < unwind::throw_ || t.code > unwind::break_) throw;
            st = Status(t.code);
        }
        if (st && (st != unwind::throw_ || stack::top_frame() != catcher)) return st;
        outcome = *stack::s.base;
        thrown = st == unwind::throw_;
        if (thrown) stack::throw_origin = 0;
        stack::unwind_drop();
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        stack::cut_back(frame, base, top);
        outcome = errors::pending();
        thrown = true;
    }
    stack::unwind_drop();
    stack::s.base = base;
    stack::s.top = top;
    if (!thrown) {
        *out = outcome;
        return stack::ok;
    }
    *out = is(outcome, Type::none) ? none_cell() : unset_cell();
    // kept on the stack while print or stop-events run
    Cell* held = stack::push(outcome);
    Status st = stack::ok;
    if (is(outcome, Type::error)) {
        st = call_library("print", held, 1);
    } else if (is(outcome, Type::word) && symbol::resolve(word_symbol(outcome)) == symbol::resolve(sym_halt)) {
        st = call_library("stop-events", held, 0);
    }
    if (!st) stack::s.top = held;
    return st;
}

// do-safe [code /local result outcome]
int32_t do_safe_body(Cell* args) {
    Cell out;
    Status st = run_safely([&] { return natives::guarded(args[0], false); }, &out);
    if (st) return int32_t(st);
    args[0] = out;
    return 0;
}

}  // namespace

void register_view_bodies() {
    routines::add_body("run-event-handlers", run_handlers_body);
    routines::add_body("do-safe", do_safe_body);
}

}  // namespace zan::gui
