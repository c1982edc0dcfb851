// The control natives: conditionals, loops, selectors and the natives that
// evaluate data (do, reduce, compose).
//
// None of them evaluates by itself: blocks and expressions go to the
// interpreter. A loop opens a loop frame around each run of its body (and
// around while's condition), so break and continue find it; their searches
// leave the loop frame on top with its base slot holding what the exit left
// there, and the run answers the exit's status. Loop state that must outlive
// the body (the series walked, the loop words) lies on the value stack below
// the loop frame, where the collector sees it and the body cannot reach it.
#include "evaluator/natives_control.h"

#include <cmath>

#include "boot/init.h"
#include "datatypes/image_backend.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::natives {

using stack::Status;

namespace {

bool any_block(Type t) {
    return t == Type::block || t == Type::paren || t == Type::hash || t == Type::path ||
           t == Type::lit_path || t == Type::set_path || t == Type::get_path;
}
bool callable(Type t) {
    return t == Type::native || t == Type::action || t == Type::op || t == Type::function ||
           t == Type::routine;
}

}  // namespace

Status guarded(const Cell& block, bool chain) {
    try {
        return interp::eval_block(block, chain);
    } catch (const unwind::Thrown& t) {
        if (t.code >= unwind::throw_ && t.code <= unwind::break_) return t.code;
        throw;
    }
}

Status finish(const Cell& result) {
    stack::reset_last(result);
    return stack::ok;
}

namespace {

// How one run of a loop body ended.
enum class End { normal, continued, broke, exit };

// Runs the body once inside a loop frame; *result receives the body's value
// (after break: what break left; after continue: unset). With `exit` the
// status is the code of an exit aimed further out, stacks already set for it.
End run_body(const Cell& body, Cell* result, Status& st) {
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::loop));
    st = guarded(body, false);
    if (st == stack::ok) {
        *result = *stack::s.base;
        stack::unwind_drop();
        return End::normal;
    }
    if (st == unwind::break_ || st == unwind::continue_) {
        *result = *stack::s.base;
        stack::unwind_drop();
        End e = st == unwind::break_ ? End::broke : End::continued;
        st = stack::ok;
        return e;
    }
    return End::exit;
}

// Runs the body again and again while go(i) lets it (i counts the runs from
// 1), until a break or an exit, and answers the last run's value. With
// until_true a normal run whose value is true ends the loop too.
template <typename Go>
Status run_loop(const Cell& body, Cell* result, Go go, bool until_true = false) {
    *result = unset_cell();
    for (int64_t i = 1; go(i); ++i) {
        Status st;
        End e = run_body(body, result, st);
        if (e == End::exit) return st;
        if (e == End::broke) break;
        if (until_true && e == End::normal && is_truthy(*result)) break;
    }
    return finish(*result);
}

Cell pick_at(const Cell& series, int32_t index) {
    Cell* a = stack::push(series);
    stack::push(integer_cell(index));
    dispatch::pick(a);
    Cell v = *a;
    stack::s.top = a;
    return v;
}

// --- conditionals ---------------------------------------------------------------------

Status choose(const Cell* block) {
    if (!block) return finish(none_cell());
    Cell b = *block;
    return guarded(b, true);
}

// any and all walk the block one expression at a time.
Status any_all(bool all) {
    Cell block = *arg(0);
    stack::keep();
    Cell* last = stack::push(none_cell());
    interp::Code c = interp::code_of(block);
    while (interp::value_at(c, c.pos)) {
        Cell* mark = stack::s.top;
        Status st = interp::eval_expression(c, false, false);
        if (st) return st;
        Cell v = mark[0];
        stack::s.top = mark;
        if (is_truthy(v) != all) return finish(all ? none_cell() : v);
        *last = v;
    }
    return finish(all ? *last : none_cell());
}

}  // namespace

void check_args(int32_t check, int native_index, const int32_t* refs) {
    if (!check) return;
    Cell* v = context::get_by_symbol(symbol::make(word(native_index)), context::global());
    if (!v || !is(*v, Type::native)) return;
    Cell fn = *v;
    Node cache = interp::arity_cache(fn);
    // Fixed arguments from slot 0, then each refinement's from its slot.
    int32_t slot = 0;
    for (uint32_t i = 0; i < memory::buffer(cache)->length(); ++i) {
        Cell e = memory::buffer(cache)->cells()[i];
        if (is(e, Type::refinement)) {
            slot = refs ? refs[(e.w3 & 0xFFFF) - 1] : -1;  // low 16 bits: its number
            continue;
        }
        if (!is(e, Type::typeset) || slot < 0) continue;
        if (!typeset::has(e, type_of(*arg(uint32_t(slot))))) errors::expect_arg(*arg(uint32_t(slot)), int(i) + 1);
        ++slot;
    }
}

Status n_if(int32_t check, const int32_t* refs) {
    check_args(check, 1, refs);
    return choose(is_truthy(*arg(0)) ? arg(1) : nullptr);
}
Status n_unless(int32_t check, const int32_t* refs) {
    check_args(check, 2, refs);
    return choose(is_truthy(*arg(0)) ? nullptr : arg(1));
}
Status n_either(int32_t check, const int32_t* refs) {
    check_args(check, 3, refs);
    return choose(is_truthy(*arg(0)) ? arg(1) : arg(2));
}
Status n_any(int32_t check, const int32_t* refs) {
    check_args(check, 4, refs);
    return any_all(false);
}
Status n_all(int32_t check, const int32_t* refs) {
    check_args(check, 5, refs);
    return any_all(true);
}

// --- loops ------------------------------------------------------------------------------

int32_t loop_count(const Cell& count) {
    if (!is(count, Type::float_)) return int_of(count);
    double d = std::trunc(float_of(count));
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return int32_t(d);
}

bool loop_more(const Cell& series) {
    Type t = type_of(series);
    if (t == Type::image) return series_index(series) < (series.w3 & 0xFFFF) * (series.w3 >> 16);
    if (!series_node(series)) return false;
    memory::Series* b = memory::buffer(series_node(series));
    return series_index(series) < b->length();
}

Status n_while(int32_t check, const int32_t* refs) {
    check_args(check, 6, refs);
    Cell cond = *arg(0), body = *arg(1);
    Cell* result = arg(2);
    stack::s.top = stack::s.base + 3;
    *result = unset_cell();
    for (;;) {
        // The condition runs in the loop frame too: a break there is an error.
        stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::loop));
        Status st = guarded(cond, false);
        if (st == unwind::break_ || st == unwind::continue_) {
            stack::unwind_drop();
            errors::fire(errors::id::throw_while_cond);
        }
        if (st) return st;
        Cell c = *stack::s.base;
        stack::unwind_drop();
        if (!is_truthy(c)) break;
        End e = run_body(body, result, st);
        if (e == End::exit) return st;
        if (e == End::broke) break;
    }
    return finish(unset_cell());
}

Status n_until(int32_t check, const int32_t* refs) {
    check_args(check, 7, refs);
    Cell body = *arg(0);
    Cell* result = arg(1);
    stack::s.top = stack::s.base + 2;
    return run_loop(body, result, [](int64_t) { return true; }, true);
}

Status n_loop(int32_t check, const int32_t* refs) {
    check_args(check, 8, refs);
    int32_t n = loop_count(*arg(0));
    if (n <= 0) return finish(none_cell());
    Cell body = *arg(1);
    Cell* result = arg(2);
    stack::s.top = stack::s.base + 3;
    return run_loop(body, result, [n](int64_t i) { return i <= n; });
}

// repeat: the word is set in its own context (not made local) before each
// run; it keeps the last count given to it.
Status n_repeat(int32_t check, const int32_t* refs) {
    check_args(check, 9, refs);
    int32_t n = loop_count(*arg(1));
    if (n <= 0) return finish(none_cell());
    Cell* word = arg(0);
    Cell body = *arg(2);
    Cell* result = arg(3);
    stack::s.top = stack::s.base + 4;
    return run_loop(body, result, [n, word](int64_t i) {
        if (i > n) return false;
        interp::set_word(*word, integer_cell(int32_t(i)));
        return true;
    });
}

Status n_forever(int32_t check, const int32_t* refs) {
    check_args(check, 10, refs);
    Cell body = *arg(0);
    Cell* result = arg(1);
    stack::s.top = stack::s.base + 2;
    return run_loop(body, result, [](int64_t) { return true; });
}

// --- foreach and remove-each ------------------------------------------------------------

namespace {

bool stringish(Type t) {
    return t == Type::string || t == Type::file || t == Type::url || t == Type::tag ||
           t == Type::email || t == Type::ref || t == Type::binary || t == Type::vector;
}

// Word i of a word block gets the i-th value picked from the series.
void set_words_from_string(const Cell& words, const Cell& series, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        Cell v = pick_at(series, i + 1);
        Cell* w = block::rs_abs_at(words, int32_t(series_index(words)) + i);
        Cell word = *w;
        if (!any_word(type_of(word))) errors::fire(errors::id::invalid_arg, &word);
        set_type(word, Type::word);
        context::set(word, v);
    }
}

// One step over the loop state: `state` holds the series and the word (or
// word block) in two cells. Answers whether values were taken; the series'
// index moves past them.
bool step(Cell* state, int32_t n) {
    Cell& series = state[0];
    const Cell& word = state[1];
    if (!loop_more(series)) return false;
    Type t = type_of(series);
    if (is(word, Type::block) && t == Type::map) {
        int32_t next = map::foreach_next(series, series_index(series), word, n);
        if (next < 0) return false;
        set_series_index(series, uint32_t(next));
        return true;
    }
    if (is(word, Type::block)) {
        if (t == Type::image) {
            image::foreach_next(word, series, n);
            set_series_index(series, series_index(series) + uint32_t(n));
            return true;
        }
        if (stringish(t))
            set_words_from_string(word, series, n);
        else
            set_words(word, series, n, false, false, false);
        set_series_index(series, series_index(series) + uint32_t(n));
        return true;
    }
    Cell v = any_block(t) ? *block::rs_abs_at(series, int32_t(series_index(series))) : pick_at(series, 1);
    Cell w = word;
    interp::set_word(w, v);
    set_series_index(series, series_index(series) + 1);
    return true;
}

// The word count of a loop's word argument, with its checks.
int32_t word_count(const Cell& word, const Cell& series) {
    if (is(word, Type::block)) {
        int32_t n = block::rs_length(word);
        if (n <= 0) errors::fire(errors::id::invalid_arg, &word);
        if (is(series, Type::map) && n != 2) errors::fire(errors::id::invalid_arg, &word);
        return n;
    }
    if (is(series, Type::map)) errors::fire(errors::id::invalid_arg, &word);
    return 1;
}

// What foreach and remove-each set up from their operands (words, series,
// body): the body's slot takes each run's value, and the loop state follows
// the operands: a copy of the series (it alone advances), then the words.
struct Each {
    Cell body;
    int32_t n;
    Cell* result;
    Cell* state;
};

Each start_each() {
    Each e{*arg(2), word_count(*arg(0), *arg(1)), nullptr, nullptr};
    stack::s.top = stack::s.base + 3;
    e.result = arg(2);
    e.state = stack::push(*arg(1));
    stack::push(*arg(0));
    return e;
}

}  // namespace

Status n_foreach(int32_t check, const int32_t* refs) {
    check_args(check, 11, refs);
    Each each = start_each();
    return run_loop(each.body, each.result,
                    [&each](int64_t) { return step(each.state, each.n); });
}

Status n_remove_each(int32_t check, const int32_t* refs) {
    check_args(check, 13, refs);
    auto [body, n, result, state] = start_each();
    while (step(state, n)) {
        Status st;
        End e = run_body(body, result, st);
        if (e == End::exit) return st;
        if (e == End::broke) break;
        if (e == End::continued || !is_truthy(*result)) continue;
        // The record just walked goes: back over it and remove it in place.
        Cell* a = stack::push(*state);
        int32_t at = int32_t(series_index(*a)) - n;
        set_series_index(*a, uint32_t(at < 0 ? 0 : at));
        Cell part = integer_cell(n);
        dispatch::get_action<42>(*a)(a, &part, nullptr);
        set_series_index(*state, series_index(*a));
        stack::s.top = a;
    }
    return finish(*arg(1));
}

Status n_forall(int32_t check, const int32_t* refs) {
    check_args(check, 12, refs);
    Cell word = *arg(0);
    Cell body = *arg(1);
    Cell start = *context::get(word);
    Type t = type_of(start);
    if (!(any_block(t) || series::is_string_like(t) || t == Type::binary || t == Type::vector ||
          t == Type::image)) {
        Cell name = make_cell(Type::word, 0, symbol::make("forall"), uint32_t(-1));
        Cell type = datatype_cell(t);
        Cell spec_word = make_cell(Type::word, 0, symbol::make("word"), uint32_t(-1));
        errors::fire(errors::id::expect_arg, &name, &type, &spec_word);
    }
    stack::s.top = stack::s.base + 2;
    Cell* result = stack::push(unset_cell());
    Cell* first = stack::push(start);  // the starting position, also kept alive
    while (loop_more(*context::get(word))) {
        Status st;
        End e = run_body(body, result, st);
        if (e == End::exit) return st;
        if (e == End::broke) return finish(*result);
        Cell* now = context::get(word);
        if (type_of(*now) != t || series_node(*now) != series_node(*first)) {
            Cell v = *now;
            errors::fire(errors::id::bad_loop_series, &v);
        }
        now->w1++;
    }
    context::set(word, *first);
    return finish(*result);
}

void set_words(const Cell& words, const Cell& values, int32_t count, bool any, bool only, bool some) {
    Type vt = type_of(values);
    if (!only && vt == Type::map) return map::set_words(words, values);
    bool spread = !only && any_block(vt);
    int32_t wi = int32_t(series_index(words));
    auto value_of = [&](int32_t i) -> Cell {
        if (!spread) return values;
        int32_t at = int32_t(series_index(values)) + i;
        if (at >= series::buffer_length(values)) return none_cell();
        return *block::rs_abs_at(values, at);
    };
    if (spread) {
        for (int32_t i = 0; i < count; ++i) {
            Cell w = *block::rs_abs_at(words, wi + i);
            if (!any_word(type_of(w))) errors::fire(errors::id::invalid_arg, &w);
            if (!any && is(value_of(i), Type::unset)) errors::fire(errors::id::need_value, &w);
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        Cell v = value_of(i);
        Cell w = *block::rs_abs_at(words, wi + i);
        if (some && is(v, Type::none)) continue;
        if (!any_word(type_of(w))) errors::fire(errors::id::invalid_arg, &w);
        if (!any && is(v, Type::unset)) errors::fire(errors::id::need_value, &w);
        context::set(w, v);
    }
}

// --- selectors --------------------------------------------------------------------------

Status n_switch(int32_t check, const int32_t* refs) {
    check_args(check, 18, refs);
    Cell value = *arg(0);
    Cell cases = *arg(1);
    int32_t from = int32_t(series_index(cases));
    int32_t end = series::buffer_length(cases);
    if (!is(value, Type::block)) {
        for (int32_t i = from; i < end; ++i) {
            Cell c = *block::rs_abs_at(cases, i);
            if (type_of(c) != type_of(value)) continue;
            // Two integers are equal when their numbers are: no compare routine needed.
            if (is(value, Type::integer) ? int_of(c) != int_of(value)
                                         : !dispatch::compare(c, value, dispatch::code::equal))
                continue;
            for (int32_t j = i + 1; j < end; ++j) {
                Cell b = *block::rs_abs_at(cases, j);
                if (is(b, Type::block)) return guarded(b, true);
            }
            return finish(none_cell());
        }
    }
    if (given(refs, 0)) return guarded(*arg(refs[0]), true);
    return finish(none_cell());
}

Status n_case(int32_t check, const int32_t* refs) {
    check_args(check, 19, refs);
    bool all = given(refs, 0);
    Cell cases = *arg(0);
    stack::keep();
    Cell* last = stack::push(none_cell());  // the last branch's value, kept alive
    interp::Code c = interp::code_of(cases);
    while (interp::value_at(c, c.pos)) {
        Cell* mark = stack::s.top;
        Status st = interp::eval_expression(c, false, false);
        if (st) return st;
        Cell cond = *mark;
        stack::s.top = mark;
        const Cell* next = interp::value_at(c, c.pos);
        if (!next) errors::fire(errors::id::need_value, &cond);
        if (!is_truthy(cond)) {
            ++c.pos;  // one value: the branch block, or the first of an expression
            continue;
        }
        if (is(*next, Type::block)) {
            Cell b = *next;
            ++c.pos;
            st = guarded(b, false);
        } else {
            st = interp::eval_expression(c, false, false);
        }
        if (st) return st;
        *last = *mark;
        stack::s.top = mark;
        if (!all) break;
    }
    return finish(*last);
}

// --- evaluation of data -----------------------------------------------------------------

Status eval_single(const Cell& value) {
    Cell v = value;
    switch (type_of(v)) {
        case Type::word: {
            Cell x = *context::get(v);
            if (callable(type_of(x)) && !is(x, Type::op))
                return interp::invoke(x, nullptr, v, nullptr, 0, nullptr, interp::mode::word, false);
            if (is(x, Type::unset)) errors::fire(errors::id::no_value, &v);
            stack::push(x);
            return stack::ok;
        }
        case Type::get_word: stack::push(*context::get(v)); return stack::ok;
        case Type::lit_word: stack::push(set_type(v, Type::word)); return stack::ok;
        case Type::paren: return guarded(v, false);
        case Type::path: return interp::eval_path(v, nullptr, false, false, nullptr);
        case Type::get_path: return interp::eval_path(v, nullptr, false, true, nullptr);
        case Type::lit_path: stack::push(set_type(v, Type::path)); return stack::ok;
        case Type::set_word:
        case Type::set_path: errors::fire(errors::id::need_value, &v);  // nothing to assign
        case Type::native:
        case Type::action:
        case Type::function:
        case Type::routine:
            return interp::invoke(v, nullptr, make_cell(Type::word, 0, stack::sym_anon, uint32_t(-1)),
                                  nullptr, 0, nullptr, interp::mode::word, false);
        default: stack::push(v); return stack::ok;
    }
}

namespace {

// Calls a function of the script library with the given arguments (its
// refinements absent); `name` is loaded as code, a word or a path. Raises
// not-done while the library does not define it.
Status call_library(const char* name, const Cell* args, uint32_t count) {
    Cell* mark = stack::s.top;
    Cell code = boot::load_text(name);
    stack::push(code);
    Cell target = *block::rs_abs_at(code, 0);
    Cell fn = unset_cell();
    if (is(target, Type::word)) {
        if (Cell* f = context::get_by_symbol(word_symbol(target), context::global())) fn = *f;
    } else {
        Cell* f = context::get_by_symbol(word_symbol(*block::rs_abs_at(target, 0)), context::global());
        if (f && !is(*f, Type::unset)) {
            Status st = interp::eval_path(target, nullptr, false, true, nullptr);
            if (st) return st;
            fn = stack::s.top[-1];
        }
    }
    stack::s.top = mark;
    if (!is(fn, Type::function)) errors::fire(errors::id::not_done);
    return interp::call(fn, args, count);
}

}  // namespace

Status n_do(int32_t check, const int32_t* refs) {
    check_args(check, 20, refs);
    Cell v = *arg(0);
    Type t = type_of(v);
    if (t == Type::block || t == Type::paren || t == Type::hash) {
        uint32_t len = memory::buffer(series_node(v))->length();
        if (series_index(v) > len) set_series_index(v, len);
        if (given(refs, 0)) {  // /expand: the preprocessor rewrites the block in place
            Cell a[2] = {v, none_cell()};
            Cell* mark = stack::s.top;
            Status st = call_library("preprocessor/expand", a, 2);
            if (st) return st;
            stack::s.top = mark;
        }
        if (given(refs, 2)) {  // /next: one expression, the word gets the rest
            Cell word = *arg(refs[2]);
            uint32_t next = 0;
            Status st = interp::eval_next_index(v, next);
            if (st) return st;
            Cell result = stack::s.top[-1];
            Cell rest = v;
            set_series_index(rest, next);
            context::set(word, rest);
            return finish(result);
        }
        if (given(refs, 3)) {
            Cell callback = *arg(refs[3]);
            stack::Frame* claimed = stack::claim_caller_entry();
            Status st;
            try {
                st = trace::run_traced(v, callback);
            } catch (...) {
                stack::clear_func_entry(claimed);
                throw;
            }
            stack::clear_func_entry(claimed);
            // A return aimed at the caller claimed for the trace goes on to
            // the caller's own function.
            if (claimed && (st == unwind::return_ || st == unwind::exit))
                return stack::throw_return(st == unwind::return_, true);
            return st;
        }
        return guarded(v, true);
    }
    switch (t) {
        case Type::string: {
            Cell block = boot::load_text(string::to_utf8(v));
            *arg(0) = block;
            return guarded(block, true);
        }
        case Type::file:
        case Type::url: {
            Cell a[16];
            for (Cell& c : a) c = none_cell();
            a[0] = v;
            if (given(refs, 1)) a[2] = *arg(refs[1]);
            Status st = call_library("do-file", a, 16);
            if (st) return st;
            return finish(stack::s.top[-1]);
        }
        case Type::error: {
            // The error itself is raised, not a new one describing it.
            errors::raise(error::id_of(v), v);
        }
        default: break;
    }
    stack::keep();
    Status st = eval_single(v);
    if (st) return st;
    return finish(stack::s.top[-1]);
}

namespace {

// How values reach the output: appended to a new block, or added to an /into
// target (appended when it stood at its tail, else inserted at its position,
// the target then moving past what was inserted).
enum class Into { none, append, insert };

Into into_mode(const Cell& out) {
    return series_index(out) >= uint32_t(series::buffer_length(out)) ? Into::append : Into::insert;
}

void add(Cell* out, Into mode, const Cell& value, bool only) {
    if (mode == Into::none) {
        if (!only && is(value, Type::block))
            block::rs_append_block(*out, value);
        else
            block::rs_append(*out, value);
        return;
    }
    Cell* a = stack::push(*out);
    stack::push(value);
    if (mode == Into::append) {
        dispatch::get_action<25>(*a)(a, nullptr, only, nullptr);
    } else {
        dispatch::get_action<35>(*a)(a, nullptr, only, nullptr);
        *out = *a;
    }
    stack::s.top = a;
}

}  // namespace

Status n_reduce(int32_t check, const int32_t* refs) {
    check_args(check, 35, refs);
    bool to_target = given(refs, 0);
    Cell v = *arg(0);
    Cell* out = stack::push(to_target ? *arg(refs[0]) : none_cell());
    if (!is(v, Type::block)) {
        Cell r = v;
        if (!callable(type_of(v))) {
            Status st = eval_single(v);
            if (st) return st;
            r = stack::s.top[-1];  // stays pushed while it is added
        }
        if (!to_target) return finish(r);
        add(out, into_mode(*out), r, true);
        return finish(*out);
    }
    if (!to_target) block::make_at(*out, block::rs_length(v) > 0 ? block::rs_length(v) : 1);
    Into mode = to_target ? into_mode(*out) : Into::none;
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::native));
    interp::Code c = interp::code_of(v);
    while (interp::value_at(c, c.pos)) {
        Cell* mark = stack::s.top;
        Status st = interp::eval_expression(c, false, false);
        if (st) return st;
        Cell r = *mark;
        clear_newline(r);
        add(out, mode, r, true);
        stack::s.top = mark;
    }
    stack::unwind_drop();
    return finish(*out);
}

namespace {

Status compose_into(const Cell& input, Cell* out, Into mode, bool deep, bool only) {
    int32_t end = series::buffer_length(input);
    for (int32_t i = int32_t(series_index(input)); i < end && i < series::buffer_length(input); ++i) {
        Cell v = *block::rs_abs_at(input, i);
        if (is(v, Type::paren)) {
            if (block::rs_length(v) == 0) continue;
            Cell* mark = stack::s.top;
            Status st = guarded(v, false);
            if (st) return st;
            Cell r = *mark;
            if (!is(r, Type::unset)) add(out, mode, r, only || !is(r, Type::block));
            stack::s.top = mark;
        } else if (is(v, Type::block) && deep) {
            Cell* sub = stack::push(none_cell());
            block::make_at(*sub, block::rs_length(v) > 0 ? block::rs_length(v) : 1);
            Status st = compose_into(v, sub, Into::none, true, only);
            if (st) return st;
            Cell made = *sub;
            made.header = (made.header & ~header::newline) | (v.header & header::newline);
            add(out, mode, made, true);
            stack::s.top = sub;
        } else {
            add(out, mode, v, true);
        }
    }
    return stack::ok;
}

}  // namespace

Status n_compose(int32_t check, const int32_t* refs) {
    check_args(check, 36, refs);
    Cell v = *arg(0);
    if (!is(v, Type::block)) {
        Cell want = datatype_cell(Type::block), got = datatype_cell(type_of(v));
        errors::fire(errors::id::expect_val, &want, &got);
    }
    bool deep = given(refs, 0), only = given(refs, 1), to_target = given(refs, 2);
    Cell* out = stack::push(to_target ? *arg(refs[2]) : none_cell());
    if (!to_target) block::make_at(*out, block::rs_length(v) > 0 ? block::rs_length(v) : 1);
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::native));
    Status st = compose_into(v, out, to_target ? into_mode(*out) : Into::none, deep, only);
    if (st) return st;
    stack::unwind_drop();
    return finish(*out);
}

}  // namespace zan::natives
