// point2D! and point3D!: binary32 coordinates x, y (z) in w1, w2 (w3).
//
// The twins share every routine; the type of the value says how many axes
// count. Math is done in doubles and rounded back to binary32. Equality is
// near-equality (10 single-precision ulps), strict equality exact, sameness
// bitwise; negation computes 0.0 - c so that 0.0 never turns into -0.0.
#include "datatypes/point.h"

#include <cmath>
#include <string>

#include "codecs/random.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/pair.h"
#include "datatypes/scalar.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"

namespace zan::point {

namespace {

constexpr std::initializer_list<const char*> fields = {"x", "y", "z"};

bool number(const Cell& v) { return is(v, Type::integer) || is(v, Type::float_); }
double number_of(const Cell& v) { return is(v, Type::integer) ? double(int_of(v)) : float_of(v); }

void make(actions::Args args, Type t) {
    const Cell spec = args[1];
    int n = axes(t);
    switch (type_of(spec)) {
    case Type::integer:
    case Type::float_: {
        float c = float(number_of(spec));
        args[0] = point_cell(t, c, c, c);
        return;
    }
    case Type::pair: args[0] = point_cell(t, float(pair_x(spec)), float(pair_y(spec))); return;
    case Type::point2d:
        args[0] = point_cell(t, point_coord(spec, 0), point_coord(spec, 1));
        return;
    case Type::point3d:
        if (t != Type::point3d) scalar::bad_to_arg(t, spec);
        args[0] = spec;
        clear_newline(args[0]);
        return;
    case Type::block: {
        uint32_t count;
        const Cell* v = scalar::block_values(spec, count);
        if (count < uint32_t(n)) scalar::malconstruct(spec);
        float c[3] = {};
        for (int i = 0; i < n; ++i) {
            if (!number(v[i])) scalar::malconstruct(spec);
            c[i] = float(number_of(v[i]));
        }
        args[0] = point_cell(t, c[0], c[1], c[2]);
        return;
    }
    default: {
        Cell loaded;
        if (!scalar::load_first(spec, t, loaded)) scalar::bad_to_arg(t, spec);
        args[0] = loaded;
        clear_newline(args[0]);
    }
    }
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    std::string text = "(";
    for (int i = 0; i < axes(type_of(v)); ++i) {
        if (i) text += ", ";
        text += float_::to_text(point_coord(v, i), 5);
    }
    text += ')';
    return mold::append(buffer, text, budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return form(v, buffer, false, budget);
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    int32_t axis = scalar::field_of(*s.element, fields);
    if (axis < 1 || axis > axes(type_of(parent))) scalar::invalid_path(s);
    if (!s.value_to_set) {
        result = float_cell(point_coord(parent, axis - 1));
        return;
    }
    const Cell& value = *s.value_to_set;
    set_point_coord(scalar::target(parent), axis - 1, get_coord(value));
    result = value;
}

void pick(actions::Args args, int32_t index) {
    const Cell& by = args[1];
    if (is(by, Type::word)) {
        index = scalar::field_of_word(by, fields);
        if (index == 0) scalar::cannot_use(by, args[0]);
    }
    if (index < 1 || index > axes(type_of(args[0]))) scalar::out_of_range(by);
    args[0] = float_cell(point_coord(args[0], index - 1));
}

template <typename F>
void each_axis(Cell& p, F f) {
    for (int i = 0; i < axes(type_of(p)); ++i) set_point_coord(p, i, float(f(point_coord(p, i), i)));
}

void absolute(actions::Args args) {
    each_axis(args[0], [](double c, int) { return std::fabs(c); });
}
void negate(actions::Args args) {
    each_axis(args[0], [](double c, int) { return 0.0 - c; });
}

void reverse(actions::Args args, const Cell*, const Cell*) {
    Cell& p = args[0];
    int last = axes(type_of(p)) - 1;
    float first = point_coord(p, 0);
    set_point_coord(p, 0, point_coord(p, last));
    set_point_coord(p, last, first);
}

// One coordinate rounded by float!'s round with a scale (none: no /to).
double round_one(double v, const Cell* scale, const actions::RoundRefs& r) {
    if (scale && is(*scale, Type::float_) && float_of(*scale) == 0.0) return v;
    Cell cell[2] = {float_cell(v), none_cell()};
    actions::RoundRefs one = r;
    one.to = scale;
    float_::round(cell, one);
    return is(cell[0], Type::integer) ? double(int_of(cell[0])) : float_of(cell[0]);
}

void round(actions::Args args, const actions::RoundRefs& r) {
    if (r.to && is(*r.to, Type::money)) scalar::not_related(Type::money);
    Type t = type_of(args[0]);
    Cell scales[3];
    const Cell* per_axis[3] = {r.to, r.to, r.to};
    if (r.to) {
        Type st = type_of(*r.to);
        bool by_axis = st == Type::point3d || (t == Type::point2d && (st == Type::pair || st == Type::point2d)) ||
                       (t == Type::point3d && st == Type::point2d);
        if (by_axis) {
            Cell s = is(*r.to, Type::pair) ? pair::to_point(*r.to) : *r.to;
            for (int i = 0; i < 3; ++i) {
                // A 2D scale gives z the scale 0.0, which leaves it as it is.
                double c = (i == 2 && !is(s, Type::point3d)) ? 0.0 : point_coord(s, i);
                scales[i] = float_cell(c);
                per_axis[i] = &scales[i];
            }
        }
    }
    each_axis(args[0], [&](double c, int i) { return round_one(c, per_axis[i], r); });
    (void)t;
}

void random_(actions::Args args, bool seed, bool secure, bool) {
    Cell& p = args[0];
    if (seed) {
        uint32_t words[3] = {p.w1, p.w2, p.w3};
        random::seed(int32_t(hashtable::murmur3(words, size_t(axes(type_of(p))) * 4)));
        args[0] = unset_cell();
        return;
    }
    each_axis(p, [&](double c, int) { return c == 0.0 ? c : random::up_to(c, secure); });
}

void add_(actions::Args args) { do_math(args, integer::add); }
void subtract_(actions::Args args) { do_math(args, integer::subtract); }
void multiply_(actions::Args args) { do_math(args, integer::multiply); }
void divide_(actions::Args args) { do_math(args, integer::divide); }
void remainder_(actions::Args args) { do_math(args, integer::remainder); }

void register_one(Type t, const char* name) {
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
    row.pick = pick;
    row.reverse = reverse;
    datatype::register_type(t, Type::any, name, row);
}

}  // namespace

void make_at(Cell& cell, Type t, float x, float y, float z) { cell = point_cell(t, x, y, z); }
Cell* make_in(const Cell& block, Type t, float x, float y, float z) {
    return block::rs_append(block, point_cell(t, x, y, z));
}

float get_coord(const Cell& v) {
    if (!number(v)) scalar::invalid_type_of(v);
    return float(number_of(v));
}

void do_math(actions::Args args, int op) {
    Cell& p = args[0];
    Type t = type_of(p);
    const Cell right = args[1];
    double r[3];
    switch (type_of(right)) {
    case Type::integer: r[0] = r[1] = r[2] = int_of(right); break;
    case Type::float_:
    case Type::percent: {
        double f = float_of(right);
        if (op == integer::multiply || op == integer::divide) {
            each_axis(p, [&](double c, int) { return op == integer::multiply ? c * f : c / f; });
            return;
        }
        r[0] = r[1] = r[2] = f;
        break;
    }
    case Type::pair:
        if (t != Type::point2d) scalar::invalid_type_of(right);
        r[0] = pair_x(right);
        r[1] = pair_y(right);
        break;
    default:
        if (type_of(right) != t) scalar::invalid_type_of(right);
        for (int i = 0; i < 3; ++i) r[i] = point_coord(right, i);
    }
    each_axis(p, [&](double c, int i) { return float_::do_math_op(c, r[i], op); });
}

int32_t compare(const Cell& a, const Cell& b_in, int32_t op) {
    Cell b = is(b_in, Type::pair) ? pair::to_point(b_in) : b_in;
    Type t = type_of(a);
    if (type_of(b) != t) return -2;
    int n = axes(t);
    for (int i = 0; i < n; ++i) {
        float x = point_coord(a, i), y = point_coord(b, i);
        bool equal;
        switch (op) {
        case 2: equal = x == y; break;
        case 9: equal = std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y); break;
        default: equal = float_::almost_equal32(x, y);
        }
        if (equal) continue;
        if (op <= 2 || op >= 9) return 1;
        return x < y ? -1 : 1;
    }
    return 0;
}

void init() {
    register_one(Type::point2d, "point2D!");
    register_one(Type::point3d, "point3D!");
}

}  // namespace zan::point
