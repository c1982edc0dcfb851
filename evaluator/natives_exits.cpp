// try, catch and the exits they stop.
//
// break, continue, return and exit search the call frames for their target
// (stack::throw_break, stack::throw_return) and travel as status codes. A
// throw searches for a catch frame whose names accept it: every catch pushes
// its names (none for an unnamed catch) on the value stack just below its
// frame, so the search matches names as it goes and a throw no catch accepts
// is the "no catch for throw" error at once, raised with the stacks intact.
// Errors are C++ exceptions; try stops them and cuts the stacks back.
#include "evaluator/natives_exits.h"

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives_control.h"
#include "evaluator/trace.h"
#include "runtime/errors.h"

namespace zan::natives {

using stack::Status;

namespace {

// The base in force inside frame f.
Cell* base_inside(stack::Frame* f) {
    return f + 1 < stack::s.frame_top ? stack::s.bottom + f[1].prev_base : stack::s.base;
}

// Whether a catch's names accept a throw's name (unset for an unnamed throw).
bool accepts(const Cell& names, const Cell& name) {
    if (is(names, Type::none)) return true;
    if (!is(name, Type::word)) return false;
    uint32_t want = symbol::resolve(word_symbol(name));
    if (is(names, Type::word)) return symbol::resolve(word_symbol(names)) == want;
    for (int32_t i = 0, n = block::rs_length(names); i < n; ++i) {
        const Cell& w = *block::rs_abs_at(names, int32_t(series_index(names)) + i);
        if (symbol::resolve(word_symbol(w)) == want) return true;
    }
    return false;
}

// A catch's names, checked: a word, or a block of words only.
void check_names(const Cell& names) {
    if (!is(names, Type::block)) return;
    for (int32_t i = 0, n = block::rs_length(names); i < n; ++i) {
        Cell w = *block::rs_abs_at(names, int32_t(series_index(names)) + i);
        if (!is(w, Type::word)) {
            Cell refinement = make_cell(Type::word, 0, symbol::make("name"), uint32_t(-1));
            Cell block = names;
            errors::fire(errors::id::invalid_refine_arg, &refinement, &block);
        }
    }
}

// The throw's value is at the base, its name (or unset) above it. Finds the
// nearest catch that accepts the name, below no try/all frame, and leaves it
// on top with the value and the name at its base.
Status throw_to_catch() {
    Cell value = stack::s.base[0];
    Cell name = stack::s.base[1];
    if (!stack::throw_origin) stack::throw_origin = stack::depth();
    stack::Frame* f = stack::s.frame_top - 2;
    for (; f >= stack::s.frame_bottom; --f) {
        uint32_t k = stack::frame_kind(*f);
        if (k == stack::kind::try_all) break;
        if (k == stack::kind::catch_ && accepts(base_inside(f)[-1], name)) {
            Cell* inside = base_inside(f);
            while (stack::s.frame_top > f + 1) {
                --stack::s.frame_top;
                stack::restore_context(*stack::s.frame_top);
            }
            stack::s.base = inside;
            stack::s.top = inside;
            stack::push(value);
            stack::push(name);
            return unwind::throw_;
        }
    }
    errors::fire(errors::id::throw_throw, &value);
}

uint32_t sym_try = 0;
uint32_t sym_catch = 0;

}  // namespace

Status n_try(int32_t check, const int32_t* refs) {
    check_args(check, 70, refs);
    if (!sym_try) sym_try = symbol::make("try");
    Cell body = *arg(0);
    bool all = given(refs, 0);
    bool keep_calls = given(refs, 1);
    stack::keep();
    Cell* base = stack::s.base;
    Cell* top = stack::s.top;
    stack::Frame* frame = stack::mark(sym_try, 0, stack::kind_bits(all ? stack::kind::try_all : stack::kind::try_));
    try {
        // try/all stops every exit: their searches end at its frame and
        // raise their no-target errors, which land here.
        Status st = guarded(body, false);
        if (st) return st;
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        // The frames up to the raising call are still in place: their words
        // go into the error before they are cut back.
        if (keep_calls && is(errors::pending(), Type::error)) error::capture_stack(errors::pending());
        stack::cut_back(frame, base, top);
        Cell error = errors::pending();
        stack::unwind_drop();
        stack::reset_last(error);
        if (given(refs, 1)) error::capture_stack(error);
        return stack::ok;
    }
    Cell result = *stack::s.base;
    stack::unwind_drop();
    stack::reset_last(result);
    return stack::ok;
}

Status n_break(int32_t check, const int32_t* refs) {
    check_args(check, 77, refs);
    return stack::throw_break(given(refs, 0), false);
}
Status n_continue(int32_t check, const int32_t* refs) {
    check_args(check, 78, refs);
    return stack::throw_break(false, true);
}
Status n_exit(int32_t check, const int32_t* refs) {
    check_args(check, 79, refs);
    return stack::throw_return(false, false);
}
Status n_return(int32_t check, const int32_t* refs) {
    check_args(check, 80, refs);
    return stack::throw_return(true, false);
}

Status n_throw(int32_t check, const int32_t* refs) {
    check_args(check, 81, refs);
    if (!given(refs, 0)) {
        stack::s.top = stack::s.base + 1;
        stack::push(unset_cell());
    }
    stack::s.top = stack::s.base + 2;
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::throw_, nullptr, -1, stack::s.base, nullptr);
    return throw_to_catch();
}

Status n_catch(int32_t check, const int32_t* refs) {
    check_args(check, 82, refs);
    if (!sym_catch) sym_catch = symbol::make("catch");
    Cell body = *arg(0);
    Cell names = given(refs, 0) ? *arg(refs[0]) : none_cell();
    check_names(names);
    if (!given(refs, 0)) *arg(1) = none_cell();
    stack::s.top = stack::s.base + 2;
    stack::push(names);  // read by the throw search, just below the frame
    stack::Frame* frame = stack::mark(sym_catch, 0, stack::kind_bits(stack::kind::catch_));
    Status st = guarded(body, false);
    // A throw whose names this catch refused has landed further out.
    if (st && (st != unwind::throw_ || stack::top_frame() != frame)) return st;
    Cell result = *stack::s.base;
    stack::unwind_drop();
    stack::reset_last(result);
    if (st == unwind::throw_) {
        // The throw ended here: later errors must not take their place from it.
        stack::throw_origin = 0;
        if (trace::on) [[unlikely]]
            trace::dispatch(trace::event::catch_, nullptr, -1, stack::s.base, nullptr);
    }
    return stack::ok;
}

}  // namespace zan::natives
