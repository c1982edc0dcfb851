// tuple!: bytes 1-4 in w1, 5-8 in w2, 9-12 in w3 (byte 1 lowest), the length
// (3-12) in the header; bytes past the length are always 0.
//
// Every byte result is computed wide (int64 or double) and clamped, so no
// step can wrap or reach an int32 conversion out of range; NaN clamps to 0.
#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "codecs/random.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/scalar.h"
#include "datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zan::tuple {

namespace {

uint8_t clamp(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
uint8_t clamp(double d) {
    if (std::isnan(d)) return 0;
    d = std::trunc(d);
    return uint8_t(d < 0 ? 0 : d > 255 ? 255 : d);
}

int hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    return -1;
}

// #F80 is 255.136.0, #FF8000 255.128.0, #FF800080 255.128.0.128.
Cell from_issue(const Cell& issue) {
    std::string_view name = symbol::name(word_symbol(issue));
    int digits[8];
    size_t n = 0;
    for (char ch : name) {
        int d = hex_digit(uint8_t(ch));
        if (d < 0 || n == 8) errors::fire(errors::id::invalid_data, &issue);
        digits[n++] = d;
    }
    uint8_t bytes[12] = {};
    if (n == 3) {
        for (int i = 0; i < 3; ++i) bytes[i] = uint8_t(digits[i] * 17);
        return make_of(bytes, 3);
    }
    if (n != 6 && n != 8) errors::fire(errors::id::invalid_data, &issue);
    for (size_t i = 0; i < n / 2; ++i) bytes[i] = uint8_t(digits[2 * i] * 16 + digits[2 * i + 1]);
    return make_of(bytes, int(n / 2));
}

void make(actions::Args args, Type) {
    const Cell spec = args[1];
    uint8_t bytes[12] = {};
    switch (type_of(spec)) {
    case Type::tuple: args[0] = spec; return;
    case Type::block:
    case Type::paren:
    case Type::hash: {
        uint32_t n;
        const Cell* v = scalar::block_values(spec, n);
        if (n > 12) scalar::bad_to_arg(Type::tuple, spec);
        for (uint32_t i = 0; i < n; ++i) {
            double d;
            if (is(v[i], Type::integer) || is(v[i], Type::char_)) d = int_of(v[i]);
            else if (is(v[i], Type::float_)) d = std::trunc(float_of(v[i]));
            else scalar::bad_to_arg(Type::tuple, spec);
            if (!(d >= 0 && d <= 255)) scalar::bad_to_arg(Type::tuple, spec);
            bytes[i] = uint8_t(d);
        }
        args[0] = make_of(bytes, int(n));
        return;
    }
    case Type::issue: args[0] = from_issue(spec); return;
    case Type::binary: {
        memory::Series* s = memory::buffer(series_node(spec));
        uint32_t at = series_index(spec), length = s->length();
        int n = 0;
        for (uint32_t i = at; i < length && n < 12; ++i) bytes[n++] = uint8_t(s->at_head()[i]);
        args[0] = make_of(bytes, n);
        return;
    }
    default: {
        Cell loaded;
        if (!scalar::load_first(spec, Type::tuple, loaded)) scalar::bad_to_arg(Type::tuple, spec);
        args[0] = loaded;
        clear_newline(args[0]);
    }
    }
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    uint8_t b[12];
    tuple_bytes(v, b);
    std::string text;
    for (int i = 0; i < tuple_length(v); ++i) {
        if (i) text += '.';
        text += std::to_string(b[i]);
    }
    return mold::append(buffer, text, budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return form(v, buffer, false, budget);
}

// One byte combined with an integer, wide enough never to overflow.
int64_t integer_step(int64_t b, int64_t n, int op) {
    switch (op) {
    case integer::add: return b + n;
    case integer::subtract: return b - n;
    case integer::multiply: return b * n;
    case integer::divide:
        if (n == 0) errors::fire(errors::id::zero_divide);
        return b / n;
    case integer::remainder:
        if (n == 0) errors::fire(errors::id::zero_divide);
        return b % n;
    case integer::or_: return int32_t(b) | int32_t(n);
    case integer::and_: return int32_t(b) & int32_t(n);
    default: return int32_t(b) ^ int32_t(n);
    }
}

int32_t compare(const Cell& a, const Cell& b, int32_t) {
    if (!is(b, Type::tuple)) return -2;
    uint8_t x[12], y[12];
    tuple_bytes(a, x);
    tuple_bytes(b, y);
    int n = std::max(tuple_length(a), tuple_length(b));
    for (int i = 0; i < n; ++i)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

Cell byte_at(const Cell& t, int32_t index, const Cell& by) {
    if (index < 1 || index > tuple_length(t)) scalar::out_of_range(by);
    uint8_t b[12];
    tuple_bytes(t, b);
    return integer_cell(b[index - 1]);
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    const Cell& element = *s.element;
    if (!is(element, Type::integer)) scalar::invalid_type_of(element);
    int32_t index = int_of(element);
    if (!s.value_to_set) {
        result = byte_at(parent, index, element);
        return;
    }
    const Cell& value = *s.value_to_set;
    if (index < 1 || index > tuple_length(parent)) scalar::out_of_range(element);
    uint8_t b[12];
    tuple_bytes(parent, b);
    int length = tuple_length(parent);
    if (is(value, Type::integer)) {
        b[index - 1] = clamp(int64_t(int_of(value)));
    } else if (is(value, Type::none)) {
        length = std::max(index - 1, 3);
        for (int i = index - 1; i < 12; ++i) b[i] = 0;
    } else {
        scalar::invalid_type_of(value);
    }
    set_tuple(scalar::target(parent), b, length);
    result = value;
}

void pick(actions::Args args, int32_t index) { args[0] = byte_at(args[0], index, args[1]); }

Cell refine_word(const char* name) {
    return make_cell(Type::refinement, 0, symbol::make(name), uint32_t(-1));
}

int32_t length_q(const Cell& v) { return tuple_length(v); }

void complement(actions::Args args) {
    uint8_t b[12];
    tuple_bytes(args[0], b);
    for (int i = 0; i < tuple_length(args[0]); ++i) b[i] = uint8_t(255 - b[i]);
    set_tuple(args[0], b, tuple_length(args[0]));
}

void reverse(actions::Args args, const Cell* part, const Cell* skip) {
    int length = tuple_length(args[0]);
    int n = length;
    if (part) {
        if (!is(*part, Type::integer)) {
            Cell word = refine_word("part");
            errors::fire(errors::id::invalid_refine_arg, &word, part);
        }
        if (int_of(*part) < 0) scalar::out_of_range(*part);
        n = std::min(int_of(*part), length);
    }
    int group = 1;
    if (skip) {
        Cell word = refine_word("skip");
        if (!is(*skip, Type::integer)) errors::fire(errors::id::invalid_refine_arg, &word, skip);
        if (int_of(*skip) < 1) scalar::out_of_range(*skip);
        if (int_of(*skip) == n) return;
        if (int_of(*skip) > n || n % int_of(*skip) != 0)
            errors::fire(errors::id::invalid_refine_arg, &word, skip);
        group = int_of(*skip);
    }
    uint8_t b[12], out[12];
    tuple_bytes(args[0], b);
    std::copy(b, b + 12, out);
    int groups = n / group;
    for (int g = 0; g < groups; ++g)
        for (int k = 0; k < group; ++k) out[g * group + k] = b[(groups - 1 - g) * group + k];
    set_tuple(args[0], out, length);
}

void random_(actions::Args args, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(int32_t(args[0].w1 ^ args[0].w2 ^ args[0].w3));
        args[0] = unset_cell();
        return;
    }
    uint8_t b[12];
    tuple_bytes(args[0], b);
    for (int i = 0; i < tuple_length(args[0]); ++i)
        b[i] = uint8_t(random::int_range(secure, b[i] + 1) - 1);
    set_tuple(args[0], b, tuple_length(args[0]));
}

void add_(actions::Args args) { do_math(args, integer::add); }
void subtract_(actions::Args args) { do_math(args, integer::subtract); }
void multiply_(actions::Args args) { do_math(args, integer::multiply); }
void divide_(actions::Args args) { do_math(args, integer::divide); }
void remainder_(actions::Args args) { do_math(args, integer::remainder); }
void and_t(actions::Args args) { do_math(args, integer::and_); }
void or_t(actions::Args args) { do_math(args, integer::or_); }
void xor_t(actions::Args args) { do_math(args, integer::xor_); }

}  // namespace

Cell make_of(const uint8_t* bytes, int count) {
    uint8_t all[12] = {};
    std::copy(bytes, bytes + std::min(count, 12), all);
    return tuple_cell(all, std::max(count, 3));
}

Cell* make_in(const Cell& block, const uint8_t* bytes, int count) {
    return block::rs_append(block, make_of(bytes, count));
}

bool zero_q(const Cell& t) {
    uint8_t b[12];
    tuple_bytes(t, b);
    for (int i = 0; i < tuple_length(t); ++i)
        if (b[i]) return false;
    return true;
}

void do_math(actions::Args args, int op) {
    if (!is(args[0], Type::tuple)) {
        if (op == integer::subtract || op == integer::divide)
            scalar::not_related_op(op, type_of(args[0]));
        std::swap(args[0], args[1]);
    }
    const Cell right = args[1];
    uint8_t a[12];
    tuple_bytes(args[0], a);
    int length = tuple_length(args[0]);
    switch (type_of(right)) {
    case Type::integer:
        for (int i = 0; i < length; ++i) a[i] = clamp(integer_step(a[i], int_of(right), op));
        break;
    case Type::float_:
    case Type::percent:
        for (int i = 0; i < length; ++i) a[i] = clamp(float_::do_math_op(a[i], float_of(right), op));
        break;
    case Type::tuple: {
        uint8_t b[12];
        tuple_bytes(right, b);
        length = std::max(length, tuple_length(right));
        for (int i = 0; i < length; ++i) a[i] = clamp(integer_step(a[i], b[i], op));
        break;
    }
    default: scalar::invalid_type_of(right);
    }
    set_tuple(args[0], a, length);
}

void init() {
    actions::Row row;
    row.make = make;
    row.random = random_;
    row.to = make;
    row.form = form;
    row.mold = mold;
    row.eval_path = eval_path;
    row.compare = compare;
    row.add = add_;
    row.divide = divide_;
    row.multiply = multiply_;
    row.remainder = remainder_;
    row.subtract = subtract_;
    row.and_t = and_t;
    row.complement = complement;
    row.or_t = or_t;
    row.xor_t = xor_t;
    row.length_q = length_q;
    row.pick = pick;
    row.reverse = reverse;
    datatype::register_type(Type::tuple, Type::any, "tuple!", row);
}

}  // namespace zan::tuple
