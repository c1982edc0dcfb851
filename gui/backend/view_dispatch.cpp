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
#include "datatypes/function.h"
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
#include "evaluator/trace.h"
#include "gui/backend/backend.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "library/library.h"
#include "library/system.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"
#include "runtime/memory.h"

namespace zan::gui {

namespace {

using stack::Status;
using views::word_is;

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

// --- the standard global handlers ---------------------------------------------
//
// Each body answers at once for the events its handler lets pass untouched
// (most events, for most of them) and leaves every other case to the Zan
// body. Nothing here runs script code, raises or allocates, so a handler
// called directly, without a frame, behaves as the called one would.

// The slot of an object's field; nullptr when it is no object or lacks it.
Cell* field_of(const Cell& object, uint32_t sym) {
    if (!is(object, Type::object)) return nullptr;
    Node ctx = object::context_node(object);
    int32_t i = context::find_word(ctx, symbol::resolve(sym), true);
    return i >= 0 ? context::value_at(ctx, i) : nullptr;
}

// A field read again and again from objects of one shape (faces, system/view):
// the position it was last found at is tried first, then the name.
struct Field {
    uint32_t sym;
    mutable int32_t at = -1;
    explicit Field(const char* name) : sym(symbol::resolve(symbol::make(name))) {}

    Cell* in(const Cell& object) const {
        if (!is(object, Type::object)) return nullptr;
        Node ctx = object::context_node(object);
        if (at >= 0 && uint32_t(at) < context::length(ctx) &&
            symbol::resolve(word_symbol(context::word_at(ctx, at))) == sym)
            return context::value_at(ctx, at);
        at = context::find_word(ctx, sym, true);
        return at >= 0 ? context::value_at(ctx, at) : nullptr;
    }
};

// The event's type code; 0 for anything but an event.
uint32_t event_type(const Cell& event) { return is(event, Type::event) ? event.w1 : 0; }

// Symbols made once: making one hashes its text.
struct AwakeSyms {
    Field actors{"actors"}, parent{"parent"}, state{"state"}, type{"type"}, options{"options"},
        view{"view"}, handlers{"handlers"}, capturing{"capturing?"}, capture_events{"capture-events"},
        debug{"debug?"}, evt_names{"evt-names"};
    uint32_t face = symbol::make("face"), stop = symbol::make("stop"), done = symbol::make("done"),
             cont = symbol::make("continue"), capture_fn = symbol::make("capture-events"),
             run_handlers = symbol::make("run-event-handlers"),
             do_actor = symbol::make("do-actor"), act = symbol::make("act"),
             close_result = symbol::make("close-window-result"), system = symbol::make("system"),
             radio = symbol::make("radio");
    uint32_t types[evt::count + 1] = {};
    AwakeSyms() {
        for (uint32_t t = 1; t <= evt::count; ++t) types[t] = spine::type_symbol(t);
    }
};

const AwakeSyms& awake_syms() {
    static const AwakeSyms s;
    return s;
}

// A field of system/view; nullptr when there is none.
Cell* view_field(const Field& f) {
    const AwakeSyms& s = awake_syms();
    Cell* system = context::get_by_symbol(s.system, context::global());
    Cell* view = system ? s.view.in(*system) : nullptr;
    return view ? f.in(*view) : nullptr;
}

// event/type: its word, none for a type out of range.
Cell event_type_word(const Cell& event) {
    uint32_t t = event_type(event);
    if (t < 1 || t > evt::count) return none_cell();
    return make_cell(Type::word, 0, awake_syms().types[t], uint32_t(-1));
}

// A face's type word as `face/type` reads it; false when the read would do
// more than answer a value (no such facet, a function in it).
bool face_type(const Cell& face, Cell& out) {
    Cell* v = awake_syms().type.in(face);
    if (!v || interp::is_callable(type_of(*v))) return false;
    out = *v;
    return true;
}

// A handler that acts on one event type passes every other event on as it is.
int32_t pass_unless(Cell* args, uint32_t acted_on) {
    uint32_t t = event_type(args[1]);
    if (!t || t == acted_on) return -1;
    args[0] = args[1];
    return 0;
}

// tab: only a Tab key-down moves the focus.
int32_t tab_handler(Cell* args) { return pass_unless(args, evt::key_down); }

// field-sync: only a field's change event loads its text.
int32_t field_sync_handler(Cell* args) {
    uint32_t t = event_type(args[1]);
    if (!t || t == evt::change) return -1;
    args[0] = none_cell();
    return 0;
}

// reactors: changes, focus, moves, resizes and selections check reactions.
int32_t reactors_handler(Cell* args) {
    uint32_t t = event_type(args[1]);
    Cell type;
    if (!t || !face_type(args[0], type)) return -1;
    switch (t) {
    case evt::change: case evt::enter: case evt::unfocus: case evt::focus: case evt::move: case evt::moving:
    case evt::resize: case evt::resizing: case evt::select:
        return -1;
    default:
        args[0] = none_cell();
        return 0;
    }
}

// radio: a click on a radio face turns it on and its siblings off.
int32_t radio_handler(Cell* args) {
    uint32_t t = event_type(args[1]);
    if (!t) return -1;
    if (t == evt::click) {
        Cell type;
        if (!face_type(args[0], type) || !is(type, Type::word) || word_is(type, awake_syms().radio)) return -1;
    }
    args[0] = args[1];
    return 0;
}

// enter: Return on a field or a button.
int32_t enter_handler(Cell* args) { return pass_unless(args, evt::key); }

// debug: prints only while system/view/debug? is on.
int32_t debug_handler(Cell* args) {
    Cell* on = view_field(awake_syms().debug);
    if (!on || !(is(*on, Type::none) || (is(*on, Type::logic) && !logic_of(*on)))) return -1;
    args[0] = none_cell();
    return 0;
}

// dragging: only a face with an options block can be dragged.
int32_t dragging_handler(Cell* args) {
    Cell* opts = awake_syms().options.in(args[0]);
    if (!opts || is(*opts, Type::block) || interp::is_callable(type_of(*opts))) return -1;
    args[0] = none_cell();
    return 0;
}

struct HandlerBody {
    const char* key;
    routines::BodyFn fn;
};

const HandlerBody handler_bodies[] = {
    {"view-handler-tab", tab_handler},       {"view-handler-field-sync", field_sync_handler},
    {"view-handler-reactors", reactors_handler}, {"view-handler-radio", radio_handler},
    {"view-handler-enter", enter_handler},   {"view-handler-debug", debug_handler},
    {"view-handler-dragging", dragging_handler},
};

// The standard handler body a function runs, or nullptr.
routines::BodyFn handler_body_of(const Cell& fn) {
    if (!is(fn, Type::function) || trace::on) return nullptr;
    const Cell& code = *function::more_at(fn, function::more::code);
    if (!is(code, Type::integer)) return nullptr;
    routines::BodyFn b = routines::body_at(uint32_t(int_of(code)));
    for (const HandlerBody& h : handler_bodies)
        if (h.fn == b) return b;
    return nullptr;
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
        int32_t direct = -1;
        if (routines::BodyFn body = handler_body_of(args[handler])) {
            stack::push(args[face]);
            stack::push(args[event]);
            direct = body(at);
            if (direct >= 0) args[result] = *at;
            stack::s.top = at;
        }
        if (direct < 0 && is(args[handler], Type::function)) {
            if (stack::Status st = interp::call(args[handler], args + face, 2, sym_handler)) return int32_t(st);
            args[result] = *at;
            stack::s.top = at;
        } else if (direct < 0) {
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


// Calls a library function by name with the given arguments (on the value
// stack) and drops its result.
Status call_library(const char* name, const Cell* args, uint32_t count) {
    uint32_t sym = symbol::make(name);
    Cell fn = library::value_of(sym);
    if (!interp::is_callable(type_of(fn))) return stack::ok;
    Cell* at = stack::s.top;
    Status st = interp::call(fn, args, count, sym);
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
Status call_at(const Cell& fn, Cell* at, uint32_t count, uint32_t name) {
    Cell* result = stack::s.top;
    if (Status st = interp::call(fn, at, count, name)) return st;
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

// Whether a face is an object with the facets the dispatch reads.
bool plain_face(const Cell& face) {
    const AwakeSyms& s = awake_syms();
    return s.actors.in(face) && s.state.in(face) && s.parent.in(face);
}

// Whether a face and every parent up its chain are plain faces, so that no
// path on the way can fail.
bool plain_chain(Cell face) {
    for (int depth = 0; depth < 1000; ++depth) {
        if (!plain_face(face)) return false;
        face = *awake_syms().parent.in(face);
        if (!is_truthy(face)) return true;
    }
    return false;
}

// One level of system/view/awake: the handlers (not /with), capture, the
// face's actor, its parents, and a closing window's answer.
Status awake_level(Cell* slots, bool with, Cell* out, int depth = 0) {
    // slots: 0 event, 1 face, 2 result, 3 act, 4 up; stable stack cells
    const AwakeSyms& s = awake_syms();
    enum { event = 0, face = 1, result = 2, act = 3, up = 4 };
    if (!with) {
        Cell* handlers = view_field(s.handlers);
        Cell* held = stack::push(handlers ? *handlers : none_cell());
        stack::push(slots[face]);
        stack::push(slots[event]);
        Cell fn = library::value_of(s.run_handlers);
        Status st = named_safely([&] { return interp::call(fn, held, 3, s.run_handlers); }, &slots[result]);
        stack::s.top = held;
        if (st) return st;
        if (!is(slots[result], Type::event)) {
            *out = slots[result];
            return stack::ok;
        }
        slots[event] = slots[result];
        Cell* capturing = view_field(s.capturing);
        if (capturing && is_truthy(*capturing)) {
            Cell* capture = view_field(s.capture_events);
            Cell* at = stack::push(slots[face]);
            stack::push(slots[event]);
            if (Status cst = call_at(capture ? *capture : none_cell(), at, 2, s.capture_fn)) return cst;
            slots[result] = *at;
            if (word_is(slots[result], s.stop) || word_is(slots[result], s.done)) {
                *out = slots[result];
                return stack::ok;
            }
        }
    }
    slots[result] = none_cell();
    Cell* actors_slot = s.actors.in(slots[face]);
    Cell actors = actors_slot ? *actors_slot : none_cell();
    if (is(actors, Type::object)) {
        // the target's actor, as do-actor runs it
        Cell* debug = view_field(s.debug);
        Cell* names = view_field(s.evt_names);
        Cell type = event_type_word(slots[event]);
        bool fast = !(debug && is_truthy(*debug)) && names && is(*names, Type::hash) && is(type, Type::word);
        Cell actor = none_cell();
        if (fast) {
            // select on the names, as the action does (through the hash)
            Cell* sel = stack::push(*names);
            stack::push(type);
            block::select(sel, actions::FindRefs{});
            Cell name = *sel;
            stack::s.top = sel;
            if (is(name, Type::word)) {
                if (Cell* v = field_of(actors, word_symbol(name))) actor = *v;
            } else {
                fast = false;
            }
            if (fast && is_truthy(actor) && !plain_two_args(actor)) fast = false;
        }
        if (!fast) {
            Cell* at = stack::push(slots[face]);
            stack::push(slots[event]);
            stack::push(type);
            if (Status st = call_at(library::value_of(s.do_actor), at, 3, s.do_actor)) return st;
            slots[result] = *at;
        } else if (is_truthy(actor)) {
            slots[act] = actor;
            Cell* pair = stack::push(slots[face]);
            stack::push(slots[event]);
            Status st = named_safely([&] { return interp::call(slots[act], pair, 2, s.act); }, &slots[result]);
            if (st) return st;
            stack::s.top = pair;
        }
    }
    Cell* parent_slot = s.parent.in(slots[face]);
    Cell parent = parent_slot ? *parent_slot : none_cell();
    if (is_truthy(parent) && !(word_is(slots[result], s.done) || word_is(slots[result], s.cont))) {
        // checked a level at a time: an actor may have changed the chain above
        if (!plain_face(parent) || depth >= 1000) errors::fire(errors::id::invalid_arg, &parent);
        Cell* up_slots = stack::s.top;
        stack::push(slots[event]);
        stack::push(parent);
        stack::push(none_cell());
        stack::push(none_cell());
        stack::push(none_cell());
        Status st = awake_level(up_slots, true, &slots[up], depth + 1);
        stack::s.top = up_slots;
        if (st) return st;
        if (word_is(slots[up], s.stop)) {
            *out = slots[up];
            return stack::ok;
        }
    }
    if (event_type(slots[event]) == evt::close && !word_is(slots[result], s.cont)) {
        Cell* at = stack::push(slots[face]);
        if (Status st = call_at(library::value_of(s.close_result), at, 1, s.close_result)) return st;
        slots[result] = *at;
    }
    *out = slots[result];
    return stack::ok;
}

// system/view/awake [event /with face /local ...]
int32_t awake_body(Cell* args) {
    Cell face = logic_of(args[1]) ? args[2] : none_cell();
    if (!is_truthy(face)) face = path_field(args[0], awake_syms().face);
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
    for (const HandlerBody& h : handler_bodies) routines::add_body(h.key, h.fn);
}

}  // namespace zan::gui
