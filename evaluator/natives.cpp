// The natives table, the loop steps, print and the comparison natives behind
// the operators. The control, exit and function natives live in
// natives_control.cpp, natives_exits.cpp and natives_functions.cpp.
//
// A native runs with its frame on top: operands at the base, result into the
// base. Natives that evaluate blocks hand back the status of the evaluation.
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
#include "evaluator/natives_control.h"
#include "evaluator/natives_exits.h"
#include "evaluator/natives_functions.h"
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

Status not_done(int32_t, const int32_t*) { errors::fire(errors::id::not_done); }

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
        {"forall", n_forall},
        {"remove-each", n_remove_each},
        {"func", n_func},
        {"function", n_function},
        {"does", n_does},
        {"has", n_has},
        {"switch", n_switch},
        {"case", n_case},
        {"do", n_do},
        {"get", n_get},
        {"set", n_set},
        {"type?", n_type_q},
        {"reduce", n_reduce},
        {"compose", n_compose},
        {"bind", n_bind},
        {"in", n_in},
        {"construct", n_construct},
        {"value?", n_value_q},
        {"extend", n_extend},
        {"unset", n_unset},
        {"new-line", n_new_line},
        {"new-line?", n_new_line_q},
        {"context?", n_context_q},
        {"as", n_as},
        {"apply", n_apply},
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
    if (is(*stack::s.base, Type::float_)) *stack::s.base = integer_cell(loop_count(*stack::s.base));
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
