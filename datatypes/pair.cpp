// pair!: x in w2, y in w3, both int32; w1 unused.
//
// Integer steps go through integer!'s checked operator: zero divisors and
// INT_MIN / -1 raise; an overflowing or uneven step hands the operation to
// point2D!. A float operand never reaches an int32 unchecked: out of range it
// moves the operation to point2D! as well.
#include "datatypes/pair.h"

#include <cmath>
#include <string>

#include "codecs/random.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/point.h"
#include "datatypes/scalar.h"
#include "runtime/errors.h"

namespace zan::pair {

namespace {

constexpr std::initializer_list<const char*> fields = {"x", "y"};

// A float as a component: truncated; not finite or out of range is refused.
int32_t component(double d, const Cell& offender) {
    if (!std::isfinite(d) || integer::float_out_of_range(std::trunc(d))) scalar::invalid_arg(offender);
    return int32_t(std::trunc(d));
}

void make(actions::Args args, Type) {
    const Cell spec = args[1];
    switch (type_of(spec)) {
    case Type::pair: args[0] = spec; return;
    case Type::integer: args[0] = pair_cell(int_of(spec), int_of(spec)); return;
    case Type::float_: {
        int32_t v = component(float_of(spec), spec);
        args[0] = pair_cell(v, v);
        return;
    }
    case Type::block: {
        uint32_t n;
        const Cell* v = scalar::block_values(spec, n);
        int32_t xy[2];
        if (n < 2) scalar::malconstruct(spec);
        for (int i = 0; i < 2; ++i) {
            if (is(v[i], Type::integer)) xy[i] = int_of(v[i]);
            else if (is(v[i], Type::float_)) xy[i] = component(float_of(v[i]), v[i]);
            else scalar::malconstruct(spec);
        }
        args[0] = pair_cell(xy[0], xy[1]);
        return;
    }
    case Type::point2d:
        args[0] = pair_cell(component(point_coord(spec, 0), spec), component(point_coord(spec, 1), spec));
        return;
    default: {
        Cell loaded;
        if (!scalar::load_first(spec, Type::pair, loaded)) scalar::bad_to_arg(Type::pair, spec);
        args[0] = loaded;
        clear_newline(args[0]);
    }
    }
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    std::string text(integer::form_signed(pair_x(v)));
    text += 'x';
    text += integer::form_signed(pair_y(v));
    return mold::append(buffer, text, budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return form(v, buffer, false, budget);
}

// The operation done again with the pair as a point2D!.
void as_points(actions::Args args, int op) {
    args[0] = to_point(args[0]);
    point::do_math(args, op);
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    int32_t field = scalar::field_of(*s.element, fields);
    if (field < 1 || field > 2) scalar::invalid_path(s);
    if (!s.value_to_set) {
        result = integer_cell(field == 1 ? pair_x(parent) : pair_y(parent));
        return;
    }
    const Cell& value = *s.value_to_set;
    if (!is(value, Type::integer)) scalar::invalid_type_of(value);
    Cell& p = scalar::target(parent);
    if (field == 1) set_pair(p, int_of(value), pair_y(p));
    else set_pair(p, pair_x(p), int_of(value));
    result = value;
}

void pick(actions::Args args, int32_t index) {
    const Cell& by = args[1];
    if (is(by, Type::word)) {
        index = scalar::field_of_word(by, fields);
        if (index == 0) scalar::cannot_use(by, args[0]);
    }
    if (index < 1 || index > 2) scalar::out_of_range(by);
    args[0] = integer_cell(index == 1 ? pair_x(args[0]) : pair_y(args[0]));
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (is(b, Type::point2d)) return point::compare(to_point(a), b, op);
    if (!is(b, Type::pair)) return -2;
    if (pair_x(a) != pair_x(b)) return pair_x(a) < pair_x(b) ? -1 : 1;
    if (pair_y(a) != pair_y(b)) return pair_y(a) < pair_y(b) ? -1 : 1;
    return 0;
}

void absolute(actions::Args args) {
    set_pair(args[0], integer::abs(pair_x(args[0])), integer::abs(pair_y(args[0])));
}

// The minimum component has no negation: overflow, as for absolute.
void negate(actions::Args args) {
    int32_t x = pair_x(args[0]), y = pair_y(args[0]);
    if (x == INT32_MIN || y == INT32_MIN) errors::fire(errors::id::overflow);
    set_pair(args[0], -x, -y);
}

void reverse(actions::Args args, const Cell*, const Cell*) {
    set_pair(args[0], pair_y(args[0]), pair_x(args[0]));
}

// One component rounded by integer!'s round; a float answer is truncated.
int32_t round_one(int32_t v, const Cell* scale, const actions::RoundRefs& r) {
    Cell cell[2] = {integer_cell(v), none_cell()};
    actions::RoundRefs one = r;
    one.to = scale;
    integer::round(cell, one);
    if (is(cell[0], Type::integer)) return int_of(cell[0]);
    return component(float_of(cell[0]), cell[0]);
}

void round(actions::Args args, const actions::RoundRefs& r) {
    if (r.to && is(*r.to, Type::money)) scalar::not_related(Type::money);
    Cell sx, sy;
    const Cell *scale_x = r.to, *scale_y = r.to;
    if (r.to && is(*r.to, Type::pair)) {
        sx = integer_cell(pair_x(*r.to));
        sy = integer_cell(pair_y(*r.to));
        scale_x = &sx;
        scale_y = &sy;
    }
    int32_t x = round_one(pair_x(args[0]), scale_x, r);
    int32_t y = round_one(pair_y(args[0]), scale_y, r);
    set_pair(args[0], x, y);
}

void random_(actions::Args args, bool seed, bool secure, bool) {
    int32_t x = pair_x(args[0]), y = pair_y(args[0]);
    if (seed) {
        random::seed(x ^ y);
        args[0] = unset_cell();
        return;
    }
    set_pair(args[0], random::int_range(secure, x), random::int_range(secure, y));
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

void make_at(Cell& cell, int32_t x, int32_t y) { cell = pair_cell(x, y); }
Cell* make_in(const Cell& block, int32_t x, int32_t y) {
    return block::rs_append(block, pair_cell(x, y));
}

Cell to_point(const Cell& p) {
    return point_cell(Type::point2d, float(pair_x(p)), float(pair_y(p)));
}

void do_math(actions::Args args, int op) {
    const Cell right = args[1];
    int32_t rx, ry;
    switch (type_of(right)) {
    case Type::integer: rx = ry = int_of(right); break;
    case Type::pair: rx = pair_x(right); ry = pair_y(right); break;
    case Type::float_:
    case Type::percent: {
        double f = float_of(right);
        if (op == integer::multiply || op == integer::divide) {
            bool bad = op == integer::divide ? std::isnan(f) : !std::isfinite(f);
            if (bad) scalar::invalid_arg(right);
            as_points(args, op);
            return;
        }
        if (!std::isfinite(f)) scalar::invalid_arg(right);
        if (integer::float_out_of_range(std::trunc(f))) {
            as_points(args, op);
            return;
        }
        rx = ry = int32_t(std::trunc(f));
        break;
    }
    case Type::point2d: as_points(args, op); return;
    default: scalar::invalid_type_of(right);
    }
    Cell step = integer_cell(0);
    int32_t x = integer::do_math_op(pair_x(args[0]), rx, op, &step);
    bool exact = is(step, Type::integer);
    int32_t y = integer::do_math_op(pair_y(args[0]), ry, op, &step);
    if (!exact || !is(step, Type::integer)) {
        as_points(args, op);
        return;
    }
    set_pair(args[0], x, y);
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
    row.absolute = absolute;
    row.add = add_;
    row.divide = divide_;
    row.multiply = multiply_;
    row.negate = negate;
    row.remainder = remainder_;
    row.round = round;
    row.subtract = subtract_;
    row.and_t = and_t;
    row.or_t = or_t;
    row.xor_t = xor_t;
    row.pick = pick;
    row.reverse = reverse;
    datatype::register_type(Type::pair, Type::any, "pair!", row);
}

}  // namespace zan::pair
