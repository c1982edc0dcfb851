// The natives table and the loop steps. The natives live in their own files:
// control, exits and functions in natives_control.cpp, natives_exits.cpp and
// natives_functions.cpp; comparison and math, text and encoding, system and
// constructors in natives_math.cpp, natives_text.cpp and natives_system.cpp.
//
// A native runs with its frame on top: operands at the base, result into the
// base. Natives that evaluate blocks hand back the status of the evaluation.
#include "evaluator/natives.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/block_sort.h"
#include "datatypes/context.h"
#include "datatypes/logic.h"
#include "datatypes/mold.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/string_search.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives_control.h"
#include "evaluator/natives_exits.h"
#include "evaluator/natives_functions.h"
#include "evaluator/natives_math.h"
#include "evaluator/natives_system.h"
#include "evaluator/natives_text.h"
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

Status not_done(int32_t, const int32_t*) { errors::fire(errors::id::not_done); }

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

namespace {

// sort/compare with a function: the sorts call back here for each pair. The
// values go onto the value stack so the collector sees them during the call;
// an exit out of the comparator crosses the sort as the unwinding exception.
Cell call_comparator(const Cell& function, const Cell& first, const Cell& second) {
    Cell* top = stack::s.top;
    Cell* args = stack::push(first);
    stack::push(second);
    uint32_t name = word_symbol(runtime_words::word(runtime_words::Word::compare_callback_frame));
    stack::raise_status(interp::call(function, args, 2, name));
    Cell result = stack::s.top[-1];
    stack::s.top = top;
    return result;
}

}  // namespace

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
        {"negative?", n_negative_q},
        {"positive?", n_positive_q},
        {"sign?", n_sign_q},
        {"zero?", n_zero_q},
        {"NaN?", n_nan_q},
        {"max", n_max},
        {"min", n_min},
        {"shift", n_shift},
        {"to-hex", n_to_hex},
        {"sine", n_sine},
        {"cosine", n_cosine},
        {"tangent", n_tangent},
        {"arcsine", n_arcsine},
        {"arccosine", n_arccosine},
        {"arctangent", n_arctangent},
        {"arctangent2", n_arctangent2},
        {"log-2", n_log_2},
        {"log-10", n_log_10},
        {"log-e", n_log_e},
        {"exp", n_exp},
        {"square-root", n_square_root},
        {"stats", n_stats},
        {"parse", n_parse},
        {"union", n_union},
        {"intersect", n_intersect},
        {"unique", n_unique},
        {"difference", n_difference},
        {"exclude", n_exclude},
        {"complement?", n_complement_q},
        {"dehex", n_dehex},
        {"enhex", n_enhex},
        {"debase", n_debase},
        {"enbase", n_enbase},
        {"uppercase", n_uppercase},
        {"lowercase", n_lowercase},
        {"to-local-file", n_to_local_file},
        {"checksum", n_checksum},
        {"compress", n_compress},
        {"decompress", n_decompress},
        {"transcode", n_transcode},
        {"wait", n_wait},
        {"now", n_now},
        {"set-env", n_set_env},
        {"get-env", n_get_env},
        {"list-env", n_list_env},
        {"call", n_call},
        {"browse", n_browse},
        {"size?", n_size_q},
        {"recycle", n_recycle},
        {"as-pair", n_as_pair},
        {"as-point2D", n_as_point2d},
        {"as-point3D", n_as_point3d},
        {"as-money", n_as_money},
    };
    for (const Built& b : built) table[index_of(b.word)] = b.fn;
    block::make_at(work_block, 32);
    block::rs_append(block::root(), work_block);
    block::set_compare_callback(call_comparator);
    string::set_compare_callback(call_comparator);
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
