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
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives_control.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "gui/backend/backend.h"
#include "library/library.h"
#include "library/system.h"
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

// text-to-data [face text types /local t value]: the text loaded when its
// scanned type is one of `types` (a typeset or a datatype), else the
// options' default. A block of types, no types, or a load hook in place go
// to the Zan body, as do the options' default (nothing has run by then).
int32_t text_to_data_body(Cell* args) {
    enum { face = 0, text = 1, types = 2 };
    if (!is(args[types], Type::typeset) && !is(args[types], Type::datatype)) return -1;
    if (!is(args[text], Type::string) || string::length(args[text]) == 0) return -1;
    lexer::TranscodeRefs scan;
    scan.scan = true;
    Cell t = lexer::transcode(args[text], scan);
    if (!is(t, Type::datatype)) return -1;
    bool accepted = is(args[types], Type::typeset) ? typeset::has(args[types], datatype_of(t))
                                                   : datatype_of(args[types]) == datatype_of(t);
    if (!accepted) return -1;
    Cell* hook = system_object::field({"lexer", "pre-load"});
    if (hook && interp::is_callable(type_of(*hook))) return -1;
    // attempt/safer [load text]: a text that does not load gives none
    Cell value = none_cell();
    Cell* base = stack::s.base;
    Cell* top = stack::s.top;
    stack::Frame* frame = stack::mark_body(stack::kind_bits(stack::kind::native));
    try {
        Cell out = lexer::transcode(args[text], lexer::TranscodeRefs{});
        value = block::rs_length(out) - int32_t(series_index(out)) == 1 ? *block::rs_abs_at(out, int32_t(series_index(out))) : out;
    } catch (const unwind::Thrown& th) {
        if (th.code != unwind::error) throw;
        stack::cut_back(frame, base, top);
        value = none_cell();
    }
    stack::unwind_drop();
    stack::s.base = base;
    stack::s.top = top;
    if (!is_truthy(value)) return -1;
    args[0] = value;
    return 0;
}

// run_safely inside a frame named do-safe, as the Zan body's call shows in
// an error's stack.
template <class Run>
Status named_safely(Run run, Cell* out) {
    static const uint32_t sym_do_safe = symbol::make("do-safe");
    Cell* top = stack::s.top;
    stack::mark(sym_do_safe, 0, stack::kind_bits(stack::kind::native));
    Status st = run_safely(run, out);
    if (st) return st;
    stack::unwind_drop();
    stack::s.top = top;
    return stack::ok;
}

// Calls fn with the `count` arguments pushed from `at`; the result takes the
// first argument's slot and the stack top goes back to just above it.
Status call_at(const Cell& fn, Cell* at, uint32_t count, const char* name) {
    Cell* result = stack::s.top;
    if (Status st = interp::call(fn, at, count, symbol::make(name))) return st;
    *at = *result;
    stack::s.top = at + 1;
    return stack::ok;
}

// A field read as a path step reads it: face/actors, event/type.
Cell path_field(const Cell& parent, uint32_t sym) {
    Cell word = make_cell(Type::word, 0, sym, uint32_t(-1));
    actions::PathStep step{&word, nullptr, nullptr, nullptr, nullptr, 0, false, false, true, false};
    Cell result = none_cell();
    dispatch::eval_path(result, parent, step);
    return result;
}

bool word_is(const Cell& v, uint32_t sym) {
    return is(v, Type::word) && symbol::resolve(word_symbol(v)) == symbol::resolve(sym);
}

// Whether a face and every parent up its chain are objects with the facets
// the dispatch reads, so that no path on the way can fail.
bool plain_chain(Cell face) {
    for (int depth = 0; depth < 1000; ++depth) {
        if (!is(face, Type::object)) return false;
        Node ctx = object::context_node(face);
        for (const char* name : {"actors", "parent", "state"})
            if (context::find_word(ctx, symbol::resolve(symbol::make(name)), true) < 0) return false;
        face = get_field(face, "parent");
        if (!is_truthy(face)) return true;
    }
    return false;
}

struct AwakeSyms {
    uint32_t face = symbol::make("face"), type = symbol::make("type"), actors = symbol::make("actors"),
             parent = symbol::make("parent"), stop = symbol::make("stop"), done = symbol::make("done"),
             cont = symbol::make("continue"), close = symbol::make("close");
};

// One level of system/view/awake: the handlers (not /with), capture, the
// face's actor, its parents, and a closing window's answer.
Status awake_level(Cell* slots, bool with, Cell* out) {
    // slots: 0 event, 1 face, 2 result, 3 act, 4 up; stable stack cells
    static const AwakeSyms s;
    enum { event = 0, face = 1, result = 2, act = 3, up = 4 };
    if (!with) {
        Cell* held = stack::push(system_object::field({"view", "handlers"}) ? *system_object::field({"view", "handlers"}) : none_cell());
        stack::push(slots[face]);
        stack::push(slots[event]);
        Cell fn = library_value("run-event-handlers");
        Status st = named_safely([&] { return interp::call(fn, held, 3, symbol::make("run-event-handlers")); }, &slots[result]);
        stack::s.top = held;
        if (st) return st;
        if (!is(slots[result], Type::event)) {
            *out = slots[result];
            return stack::ok;
        }
        slots[event] = slots[result];
        Cell* capturing = system_object::field({"view", "capturing?"});
        if (capturing && is_truthy(*capturing)) {
            Cell* capture = system_object::field({"view", "capture-events"});
            Cell* at = stack::push(slots[face]);
            stack::push(slots[event]);
            if (Status cst = call_at(capture ? *capture : none_cell(), at, 2, "capture-events")) return cst;
            slots[result] = *at;
            if (word_is(slots[result], s.stop) || word_is(slots[result], s.done)) {
                *out = slots[result];
                return stack::ok;
            }
        }
    }
    slots[result] = none_cell();
    Cell actors = get_field(slots[face], "actors");
    if (is(actors, Type::object)) {
        // the target's actor, as do-actor runs it
        Cell* debug = system_object::field({"view", "debug?"});
        Cell* names = system_object::field({"view", "evt-names"});
        Cell type = path_field(slots[event], s.type);
        bool fast = !(debug && is_truthy(*debug)) && names && is(*names, Type::hash) && is(type, Type::word);
        Cell actor = none_cell();
        if (fast) {
            Cell* at = stack::push(*names);
            stack::push(type);
            if (Status st = call_at(library_value("select"), at, 2, "select")) return st;
            Cell name = *at;
            if (is(name, Type::word)) {
                int32_t i = context::find_word(object::context_node(actors), symbol::resolve(word_symbol(name)), true);
                if (i >= 0) actor = *context::value_at(object::context_node(actors), i);
            } else {
                fast = false;
            }
            if (fast && is_truthy(actor) && !plain_two_args(actor)) fast = false;
        }
        if (!fast) {
            Cell* at = stack::push(slots[face]);
            stack::push(slots[event]);
            stack::push(type);
            if (Status st = call_at(library_value("do-actor"), at, 3, "do-actor")) return st;
            slots[result] = *at;
        } else if (is_truthy(actor)) {
            slots[act] = actor;
            Cell* pair = stack::push(slots[face]);
            stack::push(slots[event]);
            Status st = named_safely([&] { return interp::call(slots[act], pair, 2, symbol::make("act")); }, &slots[result]);
            if (st) return st;
            stack::s.top = pair;
        }
    }
    Cell parent = get_field(slots[face], "parent");
    if (is_truthy(parent) && !(word_is(slots[result], s.done) || word_is(slots[result], s.cont))) {
        if (!plain_chain(parent)) errors::fire(errors::id::invalid_arg, &parent);
        Cell* up_slots = stack::s.top;
        stack::push(slots[event]);
        stack::push(parent);
        stack::push(none_cell());
        stack::push(none_cell());
        stack::push(none_cell());
        Status st = awake_level(up_slots, true, &slots[up]);
        stack::s.top = up_slots;
        if (st) return st;
        if (word_is(slots[up], s.stop)) {
            *out = slots[up];
            return stack::ok;
        }
    }
    if (word_is(path_field(slots[event], s.type), s.close) && !word_is(slots[result], s.cont)) {
        Cell* at = stack::push(slots[face]);
        if (Status st = call_at(library_value("close-window-result"), at, 1, "close-window-result")) return st;
        slots[result] = *at;
    }
    *out = slots[result];
    return stack::ok;
}

// system/view/awake [event /with face /local ...]
int32_t awake_body(Cell* args) {
    Cell face = logic_of(args[1]) ? args[2] : none_cell();
    if (!is_truthy(face)) face = path_field(args[0], symbol::make("face"));
    if (!is_truthy(face)) {
        args[0] = unset_cell();
        return 0;
    }
    if (!plain_chain(face)) return -1;
    Cell* slots = stack::s.top;
    stack::push(args[0]);
    stack::push(face);
    stack::push(none_cell());
    stack::push(none_cell());
    stack::push(none_cell());
    Cell out;
    Status st = awake_level(slots, logic_of(args[1]), &out);
    if (st) return int32_t(st);
    stack::s.top = slots;
    args[0] = out;
    return 0;
}

}  // namespace

void register_view_bodies() {
    routines::add_body("run-event-handlers", run_handlers_body);
    routines::add_body("do-safe", do_safe_body);
    routines::add_body("text-to-data", text_to_data_body);
    routines::add_body("awake", awake_body);
}

}  // namespace zan::gui
