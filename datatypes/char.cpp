// char!: w2 holds the code point. Arithmetic goes through the integer core with
// a scratch cell so that 32-bit overflow is seen, then the result must be a
// code point again.
#include "datatypes/char.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zan::character {

namespace {

[[noreturn]] void bad_to_arg(const Cell& spec) {
    Cell target = datatype_cell(Type::char_);
    errors::fire(errors::id::bad_to_arg, &target, &spec);
}

void make(actions::Args args, Type) {
    const Cell spec = args[1];
    Type t = type_of(spec);
    int64_t cp;
    if (series::is_string_like(t)) {
        Node n = series_node(spec);
        if (series_index(spec) >= string::buffer_length(n)) bad_to_arg(spec);
        args[0] = char_cell(string::char_at(n, series_index(spec)));
        return;
    }
    if (t == Type::binary) {
        // The first UTF-8 sequence at the position; an invalid one raises
        // invalid-utf8, an empty or cut one cannot make a character.
        memory::Series* s = memory::buffer(series_node(spec));
        uint32_t at = series_index(spec), length = s->length();
        int32_t count = at < length ? int32_t(length - at) : 0;
        int32_t cp = unicode::decode_utf8_checked(
            reinterpret_cast<const uint8_t*>(s->at_head()) + at, count);
        if (cp < 0) bad_to_arg(spec);
        args[0] = char_cell(uint32_t(cp));
        return;
    }
    switch (t) {
    case Type::char_:
    case Type::integer: cp = int_of(spec); break;
    case Type::float_:
    case Type::percent: {
        double d = std::trunc(float_of(spec));
        // Checked as a double: the conversion itself must stay in range.
        if (!(d >= 0 && d <= max_code_point)) errors::fire(errors::id::out_of_range, &spec);
        cp = int64_t(d);
        break;
    }
    default: bad_to_arg(spec);
    }
    if (cp < 0 || cp > max_code_point) errors::fire(errors::id::out_of_range, &spec);
    args[0] = char_cell(uint32_t(cp));
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    return mold::append_char(buffer, uint32_t(int_of(v)), budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags f, bool, int32_t budget, int32_t) {
    mold::append(buffer, "#\"", 0);
    string::mold_char(buffer, uint32_t(int_of(v)), f.all);
    mold::append(buffer, "\"", 0);
    return budget - 4;
}

void add_(actions::Args args) { do_math(args, integer::add); }
void subtract_(actions::Args args) { do_math(args, integer::subtract); }
void multiply_(actions::Args args) { do_math(args, integer::multiply); }
void divide_(actions::Args args) { do_math(args, integer::divide); }
void remainder_(actions::Args args) { do_math(args, integer::remainder); }
void or_t(actions::Args args) { do_math(args, integer::or_); }
void and_t(actions::Args args) { do_math(args, integer::and_); }
void xor_t(actions::Args args) { do_math(args, integer::xor_); }

}  // namespace

Cell* make_in(const Cell& block, uint32_t cp) { return block::rs_append(block, char_cell(cp)); }

void do_math(actions::Args args, int op) {
    const Cell right = args[1];
    int32_t r;
    switch (type_of(right)) {
    case Type::char_:
    case Type::integer: r = int_of(right); break;
    case Type::float_: {
        double d = std::trunc(float_of(right));
        // A right operand beyond 32 bits cannot give a code point.
        if (integer::float_out_of_range(d)) errors::fire(errors::id::overflow);
        r = int32_t(d);
        break;
    }
    case Type::vector: {
        auto fn = integer::arith_slot(datatype::row(Type::vector), op);
        if (fn) {
            fn(args);
            return;
        }
        [[fallthrough]];
    }
    default: {
        Cell type = datatype_cell(type_of(right));
        errors::fire(errors::id::invalid_type, &type);
    }
    }
    Cell scratch = unset_cell();
    int32_t v = integer::do_math_op(int_of(args[0]), r, op,
                                    op == integer::divide ? nullptr : &scratch);
    if (is(scratch, Type::float_) || v < 0 || uint32_t(v) > max_code_point)
        errors::fire(errors::id::overflow);
    set_int(args[0], v);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if ((op == 2 || op == 12) && !is(b, Type::char_)) return 1;
    if (!is(b, Type::char_) && !is(b, Type::integer)) return -2;
    int32_t x = int_of(a), y = int_of(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

void init() {
    using actions::SlotValue;
    actions::Row row;
    row.make = make;
    row.random = decltype(row.random)::inherited();
    row.to = make;
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    row.absolute = decltype(row.absolute)::inherited();
    row.add = add_;
    row.divide = divide_;
    row.multiply = multiply_;
    row.remainder = remainder_;
    row.subtract = subtract_;
    row.even_q = decltype(row.even_q)::inherited();
    row.odd_q = decltype(row.odd_q)::inherited();
    row.and_t = and_t;
    row.or_t = or_t;
    row.xor_t = xor_t;
    datatype::register_type(Type::char_, Type::integer, "char!", row);
}

}  // namespace zan::character
