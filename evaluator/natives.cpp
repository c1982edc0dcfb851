// The natives table, the loop steps, and the natives the interpreter needs to
// run scripts end to end: conditionals, loops, func, do, print, try, the
// comparison natives behind the operators, and the non-local exits.
//
// A native runs with its frame on top: operands at the base, result into the
// base. Natives that evaluate blocks hand back the status of the evaluation;
// loops stop break and continue aimed at their own loop frame, try stops
// errors, catch stops throws.
#include "evaluator/natives.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/logic.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/callable_stub.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"

namespace zan::natives {

using stack::Status;

namespace {

const char* const words[native_count + 1] = {
    nullptr,      "if",          "unless",       "either",     "any",          "all",
    "while",      "until",       "loop",         "repeat",     "forever",      "foreach",
    "forall",     "remove-each", "func",         "function",   "does",         "has",
    "switch",     "case",        "do",           "get",        "set",          "print",
    "prin",       "equal?",      "not-equal?",   "strict-equal?", "lesser?",   "greater?",
    "lesser-or-equal?", "greater-or-equal?", "same?", "not",   "type?",        "reduce",
    "compose",    "stats",       "bind",         "in",         "parse",        "union",
    "intersect",  "unique",      "difference",   "exclude",    "complement?",  "dehex",
    "enhex",      "negative?",   "positive?",    "max",        "min",          "shift",
    "to-hex",     "sine",        "cosine",       "tangent",    "arcsine",      "arccosine",
    "arctangent", "arctangent2", "NaN?",         "log-2",      "log-10",       "log-e",
    "exp",        "square-root", "construct",    "value?",     "try",          "uppercase",
    "lowercase",  "as-pair",     "as-point2D",   "as-point3D", "as-money",     "break",
    "continue",   "exit",        "return",       "throw",      "catch",        "extend",
    "debase",     "to-local-file", "wait",       "checksum",   "unset",        "new-line",
    "new-line?",  "enbase",      "context?",     "set-env",    "get-env",      "list-env",
    "now",        "sign?",       "as",           "call",       "zero?",        "size?",
    "browse",     "compress",    "decompress",   "recycle",    "transcode",    "apply",
};

Fn table[table_size + 1] = {};
Cell work_block = {};

Cell* arg(uint32_t k) { return stack::s.base + k; }
bool given(const int32_t* refs, int i) { return refs[i] != -1; }

Status not_done(int32_t, const int32_t*) { errors::fire(errors::id::not_done); }

// Evaluates a block argument into the result slot.
Status run(const Cell& block) { return interp::eval_block(block, true); }

// --- conditionals ---------------------------------------------------------------------

Status n_if(int32_t, const int32_t*) {
    if (logic::condition_true(*arg(0))) return run(*arg(1));
    *arg(0) = none_cell();
    return stack::ok;
}
Status n_unless(int32_t, const int32_t*) {
    if (!logic::condition_true(*arg(0))) return run(*arg(1));
    *arg(0) = none_cell();
    return stack::ok;
}
Status n_either(int32_t, const int32_t*) {
    return run(logic::condition_true(*arg(0)) ? *arg(1) : *arg(2));
}

// any and all: each expression of the block in turn.
Status any_all(bool all) {
    Cell block = *arg(0);
    interp::Code c = interp::code_of(block);
    while (interp::value_at(c, c.pos)) {
        Status st = interp::eval_expression(c, false, false);
        if (st) return st;
        Cell v = stack::s.top[-1];
        stack::reset();
        if (is_truthy(v) != all) {
            stack::reset_last(all ? none_cell() : v);
            return stack::ok;
        }
        if (all) *arg(0) = v;
    }
    if (!all) *arg(0) = none_cell();
    else if (is(*arg(0), Type::block)) *arg(0) = logic_cell(true);
    stack::keep();
    return stack::ok;
}
Status n_any(int32_t, const int32_t*) { return any_all(false); }
Status n_all(int32_t, const int32_t*) { return any_all(true); }

// --- loops ------------------------------------------------------------------------------

// A loop body runs inside a loop frame opened above the native's slots; break
// and continue land on it. Answers true when the loop must stop, with `st`
// the status to hand on (ok after a break).
bool body_ends(Status& st, Cell* result) {
    if (st == unwind::continue_) {
        stack::unwind_drop();
        st = stack::ok;
        return false;
    }
    if (st == unwind::break_) {
        *result = *stack::s.base;
        stack::unwind_drop();
        st = stack::ok;
        return true;
    }
    if (st) return true;
    *result = stack::s.top[-1];
    stack::unwind_drop();
    return false;
}

// Runs the body once in a loop frame; the body's value goes into *result.
bool loop_step(const Cell& body, Cell* result, Status& st) {
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::loop));
    st = interp::eval_block(body, false);
    return body_ends(st, result);
}

Status n_loop(int32_t, const int32_t*) {
    loop_count_to_integer();
    int32_t n = int_of(*arg(0));
    Cell body = *arg(1);
    *arg(0) = unset_cell();
    Status st = stack::ok;
    for (int32_t i = 0; i < n; ++i)
        if (loop_step(body, arg(0), st)) break;
    stack::keep();
    return st;
}

Status n_while(int32_t, const int32_t*) {
    Cell cond = *arg(0), body = *arg(1);
    Cell* result = arg(2);
    stack::s.top = stack::s.base + 3;
    *result = unset_cell();
    Status st = stack::ok;
    for (;;) {
        st = interp::eval_block(cond, false);
        if (st) return st;
        Cell c = stack::s.top[-1];
        --stack::s.top;
        if (!logic::condition_true(c)) break;
        if (loop_step(body, result, st)) break;
    }
    if (st) return st;
    stack::reset_last(*result);
    return stack::ok;
}

Status n_until(int32_t, const int32_t*) {
    Cell body = *arg(0);
    Cell* result = arg(1);
    stack::s.top = stack::s.base + 2;
    Status st = stack::ok;
    for (;;) {
        *result = none_cell();
        bool stop = loop_step(body, result, st);
        if (st) return st;
        if (stop || logic::condition_true(*result)) break;
    }
    stack::reset_last(*result);
    return stack::ok;
}

Status n_forever(int32_t, const int32_t*) {
    Cell body = *arg(0);
    *arg(0) = unset_cell();
    Status st = stack::ok;
    while (!loop_step(body, arg(0), st)) {
    }
    stack::keep();
    return st;
}

// repeat 'word count body: the word counts from 1; it is bound into a context
// of its own so the body sees it.
Status n_repeat(int32_t, const int32_t*) {
    Cell* count = arg(1);
    if (is(*count, Type::float_)) *count = integer_cell(int32_t(float_of(*count)));
    int32_t n = int_of(*count);
    Cell word = *arg(0);
    Cell body = *arg(2);
    Cell* result = arg(1);
    *result = unset_cell();
    Status st = stack::ok;
    for (int32_t i = 1; i <= n; ++i) {
        Cell v = integer_cell(i);
        context::set(word, v);
        if (loop_step(body, result, st)) break;
    }
    if (st) return st;
    stack::reset_last(*result);
    return stack::ok;
}

// foreach 'word series body, with one word.
Status n_foreach(int32_t, const int32_t*) {
    Cell word = *arg(0);
    Cell body = *arg(2);
    if (!is(word, Type::word)) errors::fire(errors::id::not_done);
    stack::s.top = stack::s.base + 3;
    // Loop state: the series, then the word, below the loop frame's base.
    Cell* state = stack::push(*arg(1));
    stack::push(word);
    Cell result = unset_cell();
    Status st = stack::ok;
    for (;;) {
        stack::Frame* f = stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::loop));
        (void)f;
        if (!foreach_next()) {
            stack::unwind_drop();
            break;
        }
        st = interp::eval_block(body, false);
        Cell* r = stack::s.top - 1;
        if (body_ends(st, r)) {
            if (!st) result = *r;
            break;
        }
        result = *r;
    }
    (void)state;
    if (st) return st;
    stack::reset_last(result);
    return stack::ok;
}

// --- functions ----------------------------------------------------------------------

Status n_func(int32_t, const int32_t*) {
    Cell spec = *arg(0), body = *arg(1);
    stack::reset_last(callable::function_push(spec, body));
    return stack::ok;
}
Status n_does(int32_t, const int32_t*) {
    Cell body = *arg(0);
    Cell spec;
    block::make_at(spec, 1);
    *arg(0) = spec;
    stack::reset_last(callable::function_push(spec, body));
    return stack::ok;
}

// do value: a block is evaluated, a path or word is called through, anything
// else is its own value.
Status n_do(int32_t, const int32_t* refs) {
    Cell v = *arg(0);
    if (given(refs, 2)) {  // /trace callback
        Cell callback = *arg(refs[2]);
        return trace::run_traced(v, callback);
    }
    switch (type_of(v)) {
        case Type::block:
        case Type::paren: return run(v);
        default: stack::reset_last(v); return stack::ok;
    }
}

// get and set of one word (blocks of words and paths come with the word natives).
Status n_get(int32_t, const int32_t* refs) {
    Cell w = *arg(0);
    if (!is(w, Type::word) && !is(w, Type::get_word) && !is(w, Type::lit_word) && !is(w, Type::set_word))
        errors::fire(errors::id::not_done);
    Cell v = *context::get(w);
    if (is(v, Type::unset) && !given(refs, 0)) errors::fire(errors::id::no_value, &w);
    *arg(0) = v;
    return stack::ok;
}
Status n_set(int32_t, const int32_t* refs) {
    Cell* w = arg(0);
    Cell v = *arg(1);
    if (!is(*w, Type::word) && !is(*w, Type::get_word) && !is(*w, Type::lit_word) && !is(*w, Type::set_word))
        errors::fire(errors::id::not_done);
    if (is(v, Type::unset) && !given(refs, 0)) errors::fire(errors::id::need_value, w);
    context::set(*w, v);
    *arg(0) = v;
    return stack::ok;
}

// --- output ---------------------------------------------------------------------------

// The values of a block, each expression evaluated, in a new block.
Status reduce_block(const Cell& block) {
    Cell* out = stack::push(none_cell());
    block::make_at(*out, 8);
    interp::Code c = interp::code_of(block);
    while (interp::value_at(c, c.pos)) {
        Status st = interp::eval_expression(c, false, false);
        if (st) return st;
        block::rs_append(*out, stack::s.top[-1]);
        --stack::s.top;
    }
    return stack::ok;
}

// print and prin: a block is reduced first; the text goes out as formed.
Status print_value(bool newline) {
    Cell* v = arg(0);
    if (is(*v, Type::block)) {
        Cell block = *v;
        stack::keep();
        Status st = reduce_block(block);
        if (st) return st;
        *v = stack::s.top[-1];
    }
    stack::keep();
    Cell* text = stack::push(none_cell());
    string::rs_make_at(*text, 16);
    dispatch::form(*v, series_node(*text), false, mold::no_limit);
    memory::Series* s = memory::buffer(series_node(*text));
    output::print_units(s->at_head(), s->tail - s->head, s->unit(), newline);
    output::fire_value_hooks(*v, newline);
    return stack::ok;
}

Status n_print(int32_t, const int32_t*) {
    if (Status st = print_value(true)) return st;
    stack::reset_last(unset_cell());
    return stack::ok;
}
Status n_prin(int32_t, const int32_t*) {
    if (Status st = print_value(false)) return st;
    *arg(0) = unset_cell();
    return stack::ok;
}

// --- comparison and logic ---------------------------------------------------------------

template <int32_t Code>
Status n_compare(int32_t, const int32_t*) {
    *arg(0) = logic_cell(dispatch::compare(*arg(0), *arg(1), Code));
    return stack::ok;
}
Status n_not(int32_t, const int32_t*) {
    *arg(0) = logic_cell(!is_truthy(*arg(0)));
    return stack::ok;
}

// --- errors and non-local exits --------------------------------------------------------

// try block: an error raised inside ends here; the error value is the result.
Status n_try(int32_t, const int32_t* refs) {
    Cell body = *arg(0);
    bool all = given(refs, 0);
    Cell* base = stack::s.base;
    Cell* top = stack::s.top;
    stack::Frame* frame =
        stack::mark(stack::sym_body, 0, stack::kind_bits(all ? stack::kind::try_all : stack::kind::try_));
    try {
        Status st = interp::eval_block(body, true);
        if (st) {
            if (!all) return st;
            // try/all stops every exit; its target search raised already.
            return st;
        }
        stack::unwind_last();
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        stack::cut_back(frame, base, top);
        Cell error = errors::pending();
        stack::unwind_drop();
        stack::reset_last(error);
        return stack::ok;
    }
    stack::keep();
    return stack::ok;
}

Status n_break(int32_t, const int32_t* refs) {
    return stack::throw_break(given(refs, 0), false);
}
Status n_continue(int32_t, const int32_t*) { return stack::throw_break(false, true); }
Status n_return(int32_t, const int32_t*) { return stack::throw_return(true, false); }
Status n_exit(int32_t, const int32_t*) { return stack::throw_return(false, false); }

Status n_throw(int32_t, const int32_t* refs) {
    if (!given(refs, 0)) {
        stack::s.top = stack::s.base + 1;
        stack::push(unset_cell());
    }
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::throw_, nullptr, -1, stack::s.base, nullptr);
    return stack::throw_value(unwind::throw_);
}

// catch block: a throw inside ends here with its value (with /name only a
// throw of that name, else it goes on).
Status n_catch(int32_t, const int32_t* refs) {
    Cell body = *arg(0);
    bool named = given(refs, 0);
    Cell names = named ? *arg(refs[0]) : none_cell();
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::catch_));
    Status st = interp::eval_block(body, true);
    if (st == unwind::throw_) {
        // The catch frame is on top; the thrown value and name follow its base.
        Cell value = stack::s.base[0];
        Cell name = stack::s.base[1];
        bool ours = !named || (is(names, Type::word) && is(name, Type::word) &&
                               symbol::resolve(word_symbol(names)) == symbol::resolve(word_symbol(name)));
        if (!ours) {
            stack::s.top = stack::s.base;
            stack::push(value);
            stack::push(name);
            stack::unwind_drop();
            Cell* b = stack::s.base;
            stack::s.top = b + 1;
            *b = value;
            stack::push(name);
            return stack::throw_value(unwind::throw_);
        }
        stack::unwind_drop();
        stack::reset_last(value);
        if (trace::on) [[unlikely]]
            trace::dispatch(trace::event::catch_, nullptr, -1, stack::s.base, nullptr);
        return stack::ok;
    }
    if (st) return st;
    stack::unwind_last();
    stack::keep();
    return stack::ok;
}

}  // namespace

Fn entry(int index) { return index >= 1 && index <= table_size ? table[index] : nullptr; }

const char* word(int index) { return index >= 1 && index <= native_count ? words[index] : nullptr; }

int index_of(const char* w) {
    for (int i = 1; i <= native_count; ++i)
        if (std::strcmp(words[i], w) == 0) return i;
    return 0;
}

void set_entry(int index, Fn fn) {
    if (index >= 1 && index <= table_size) table[index] = fn;
}

void init_table() {
    static bool made = false;
    if (made) return;
    made = true;
    for (int i = 1; i <= native_count; ++i) table[i] = not_done;
    struct Built {
        const char* word;
        Fn fn;
    };
    const Built built[] = {
        {"if", n_if},
        {"unless", n_unless},
        {"either", n_either},
        {"any", n_any},
        {"all", n_all},
        {"while", n_while},
        {"until", n_until},
        {"loop", n_loop},
        {"repeat", n_repeat},
        {"forever", n_forever},
        {"foreach", n_foreach},
        {"func", n_func},
        {"does", n_does},
        {"do", n_do},
        {"get", n_get},
        {"set", n_set},
        {"print", n_print},
        {"prin", n_prin},
        {"equal?", n_compare<dispatch::code::equal>},
        {"not-equal?", n_compare<dispatch::code::not_equal>},
        {"strict-equal?", n_compare<dispatch::code::strict_equal>},
        {"lesser?", n_compare<dispatch::code::lesser>},
        {"greater?", n_compare<dispatch::code::greater>},
        {"lesser-or-equal?", n_compare<dispatch::code::lesser_or_equal>},
        {"greater-or-equal?", n_compare<dispatch::code::greater_or_equal>},
        {"same?", n_compare<dispatch::code::same>},
        {"not", n_not},
        {"try", n_try},
        {"break", n_break},
        {"continue", n_continue},
        {"exit", n_exit},
        {"return", n_return},
        {"throw", n_throw},
        {"catch", n_catch},
    };
    for (const Built& b : built) table[index_of(b.word)] = b.fn;
    block::make_at(work_block, 32);
    block::rs_append(block::root(), work_block);
}

// --- loop steps -------------------------------------------------------------------------

bool foreach_next() {
    Cell* series = stack::s.base - 2;
    Cell* word = stack::s.base - 1;
    if (is(*series, Type::block) || is(*series, Type::paren)) {
        Node n = series_node(*series);
        memory::Series* s = memory::buffer(n);
        uint32_t len = (s->tail - s->head) / sizeof(Cell);
        if (series_index(*series) >= len) return false;
        Cell v = s->cells()[series_index(*series)];
        series->w1++;
        context::set(*word, v);
        return true;
    }
    int32_t len = dispatch::get_action<36>(*series)(*series);
    if (len <= 0) return false;
    Cell* pair = stack::push(*series);
    stack::push(integer_cell(1));
    dispatch::pick(pair);
    Cell v = *pair;
    stack::pop(2);
    series->w1++;
    context::set(*word, v);
    return true;
}

bool loop_at_tail(bool advance) {
    Cell* word = stack::s.base - 1;
    Cell* v = context::get(*word);
    if (advance) v->w1++;
    if (is(*v, Type::image)) return v->w1 >= (v->w3 & 0xFFFF) * (v->w3 >> 16);
    int32_t len = dispatch::get_action<36>(*v)(*v);
    return len <= 0;
}

void forall_set() { context::set(stack::s.base[-1], stack::s.base[-2]); }

void loop_count_to_integer() {
    if (is(*stack::s.base, Type::float_)) *stack::s.base = integer_cell(int32_t(float_of(*stack::s.base)));
}

void repeat_next(Cell& word) {
    Cell* v = context::get(word);
    Cell next = integer_cell(int_of(*v) + 1);
    if (context::kind_of(word_context(word)) == context::Kind::object)
        context::set(word, next);
    else
        *v = next;
}

}  // namespace zan::natives
