// Trace callbacks: the callback, its event mask and the calls made to it.
//
// The callback runs in a function frame of its own above everything the
// traced code has on the stacks; tracing is off while it runs, so it is never
// traced itself, and the stacks are put back as they were when it returns.
#include "evaluator/trace.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::trace {

bool on = false;

namespace {

const char* const event_words[16] = {"init",  "end",    "prolog", "epilog", "enter", "exit",
                                     "open",  "return", "fetch",  "push",   "set",   "call",
                                     "error", "throw",  "catch",  "expr"};
uint32_t event_symbols[16] = {};
Cell event_word_cells[16] = {};  // global words: the global context keeps them
uint32_t sym_callback = 0;
Cell* callback_cell = nullptr;  // in the root block
uint32_t mask = default_mask;

Cell& callback() {
    // The root block may move its buffer: find the cell again by its index.
    static int32_t index = -1;
    if (index < 0) {
        index = block::rs_length(block::root());
        block::rs_append(block::root(), none_cell());
    }
    return *block::rs_abs_at(block::root(), index);
}

int event_index(uint32_t event) { return __builtin_ctz(event); }

bool takes_reference(uint32_t event) {
    return event == event::set || event == event::prolog || event == event::epilog ||
           event == event::return_ || event == event::call || event == event::open;
}

// The error event, sent by errors::fire while tracing: the callback runs
// with no error pending, and the one being raised is put back afterwards.
void error_event(const Cell& error_in) {
    if (!on) return;
    Cell error = error_in;
    collector::Root keep(error);
    errors::Pending saved = errors::save_pending();
    collector::Root k0(saved.value), k1(saved.args[0]), k2(saved.args[1]), k3(saved.args[2]);
    // Off until the callback is running: a stack overflow while its frame is
    // built must not come back here.
    on = false;
    dispatch(event::error, nullptr, -1, &error, nullptr);
    // A callback that does not take error events was not called: tracing
    // goes on all the same.
    on = true;
    errors::restore_pending(saved);
}

}  // namespace

void init() {
    for (int i = 0; i < 16; ++i) {
        event_symbols[i] = symbol::make(event_words[i]);
        event_word_cells[i] = context::add_global(event_symbols[i], false, false);
    }
    sym_callback = symbol::make("<interp-callback>");
    errors::set_trace_hook(error_event);
    callback() = none_cell();
    (void)callback_cell;
}

bool in_run() { return is(callback(), Type::function); }

uint32_t mask_of(const Cell& fn) {
    if (!is(fn, Type::function)) return default_mask;
    Cell body = memory::buffer(callable_more(fn))->cells()[0];
    if (!is(body, Type::block) || block::rs_length(body) < 1) return default_mask;
    Cell first = *block::rs_abs_at(body, int32_t(series_index(body)));
    if (!is(first, Type::block)) return default_mask;
    uint32_t m = 0;
    for (int32_t i = 0, n = block::rs_length(first); i < n; ++i) {
        Cell w = *block::rs_abs_at(first, int32_t(series_index(first)) + i);
        if (!is(w, Type::word)) continue;
        uint32_t s = symbol::resolve(word_symbol(w));
        for (int k = 0; k < 16; ++k)
            if (symbol::resolve(event_symbols[k]) == s) m |= 1u << k;
    }
    return m;
}

void dispatch(uint32_t ev, const Cell* block, int32_t position, const Cell* value, const Cell* reference) {
    Cell fn = callback();
    if (!is(fn, Type::function) || !(mask & ev)) return;
    Cell* saved_base = stack::s.base;
    Cell* saved_top = stack::s.top;
    stack::Frame* saved_frame = stack::s.frame_top;
    uint32_t base_index = stack::index_of(saved_base);
    uint32_t top_index = stack::index_of(saved_top);
    Cell b = block ? *block : none_cell();
    Cell v = value ? *value : none_cell();
    Cell r = reference && takes_reference(ev) ? *reference : none_cell();
    // The event's values are copied into the callback's arguments: callers
    // pass cells below the top, which the callback's frame does not touch.
    stack::push(fn);
    stack::mark_func(make_cell(Type::word, 0, sym_callback, uint32_t(-1)), callable_code(fn));
    stack::push(event_word_cells[event_index(ev)]);
    stack::push(b);
    int32_t offset = -1;
    if (block && position >= 0 && uint32_t(position) <= uint32_t(block::rs_length(*block)) + series_index(*block))
        offset = position - int32_t(series_index(*block));
    stack::push(integer_cell(offset));
    stack::push(v);
    stack::push(r);
    stack::push(make_cell(Type::pair, 0, base_index, top_index));
    Node cache = interp::arity_cache(fn);
    memory::Series* cs = memory::buffer(cache);
    for (uint32_t i = 0, n = cs->length(); i < n; ++i) {
        Cell e = memory::buffer(cache)->cells()[i];
        if (!is(e, Type::integer)) continue;
        stack::push(logic_cell(false));
        for (int32_t k = 1; k < int_of(e); ++k) stack::push(none_cell());
    }
    on = false;
    stack::Status st = interp::exec_function(fn, 0, make_cell(Type::word, 0, sym_callback, uint32_t(-1)));
    if (st) stack::raise_status(st);
    on = true;
    stack::unwind_func();
    stack::s.base = saved_base;
    stack::s.top = saved_top;
    stack::set_frame_top(saved_frame);
}

uint32_t run_traced(const Cell& block, const Cell& fn) {
    struct Saved {
        Cell callback;
        uint32_t mask;
        bool on;
        ~Saved() {
            zan::trace::callback() = callback;
            zan::trace::mask = mask;
            zan::trace::on = on;
        }
    } saved{callback(), mask, on};
    callback() = fn;
    mask = mask_of(fn);
    on = false;
    dispatch(event::init, nullptr, -1, nullptr, nullptr);
    on = true;
    stack::Status st = interp::eval_block(block, true);
    on = false;
    if (!st) dispatch(event::end, nullptr, -1, nullptr, nullptr);
    return st;
}

}  // namespace zan::trace
