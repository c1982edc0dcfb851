// Comparison, logic and math natives.
//
// The comparisons defer to the compare slot of the first value's datatype.
// The numeric natives work in place on the argument in the result slot: an
// integer! argument of a float function becomes a float! of the same value, a
// percent! a float! with the same double. Domain violations of the maths
// functions are not errors: they surface as NaN or infinite floats.
#include "evaluator/natives_math.h"

#include "evaluator/natives_control.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "datatypes/float.h"
#include "datatypes/issue.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "datatypes/string.h"
#include "evaluator/dispatch.h"
#include "runtime/errors.h"
#include "runtime/platform.h"

namespace zan::natives {

using stack::Status;

namespace {

constexpr double pi = 3.141592653589793;
constexpr double rounding_floor = 2.220446049250313e-16;

bool float_like(Type t) { return t == Type::float_ || t == Type::percent || t == Type::time; }
bool number_like(Type t) { return t == Type::integer || t == Type::float_ || t == Type::percent; }

// The argument in the result slot (or any slot) as a double.
double number_as_float(const Cell& c) {
    return is(c, Type::integer) ? double(int_of(c)) : float_of(c);
}

// Turns argument k into a float! in place and answers its value.
double to_float_arg(uint32_t k) {
    Cell* c = arg(k);
    double d = number_as_float(*c);
    *c = float_cell(d);
    return d;
}

Status float_result(double d) { return finish(float_cell(d)); }

// Tuple bytes: the count in header bits 19-22, the bytes in w1-w3.
void set_tuple_bytes(Cell& t, const uint8_t in[12]) {
    std::memcpy(&t.w1, in, 4);
    std::memcpy(&t.w2, in + 4, 4);
    std::memcpy(&t.w3, in + 8, 4);
}

bool is_block_like(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::hash:
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref: case Type::binary: case Type::vector: case Type::image:
            return true;
        default: return false;
    }
}

}  // namespace

// --- comparison and logic ------------------------------------------------------------

bool same(const Cell& a, const Cell& b) {
    Type t = type_of(a);
    if (t != type_of(b)) return false;
    switch (t) {
        case Type::none:
        case Type::unset:
        case Type::event: return true;  // any two events are the same
        case Type::datatype:
        case Type::logic:
        case Type::object: return a.w1 == b.w1;
        case Type::char_:
        case Type::integer:
        case Type::bitset: return a.w2 == b.w2;
        case Type::float_:
        case Type::percent:
        case Type::pair:
        case Type::time: return a.w2 == b.w2 && a.w3 == b.w3;
        case Type::tuple: {
            if (tuple_length(a) != tuple_length(b)) return false;
            uint8_t x[12], y[12];
            tuple_bytes(a, x);
            tuple_bytes(b, y);
            return std::memcmp(x, y, size_t(tuple_length(a))) == 0;
        }
        case Type::money: return money::same(a, b);
        case Type::native:
        case Type::action:
        case Type::point2d: return a.w1 == b.w1 && a.w2 == b.w2;
        case Type::op: return a.w2 == b.w2 && a.w3 == b.w3;
        default:
            if (is_block_like(t)) return a.w1 == b.w1 && a.w2 == b.w2;
            return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
    }
}

template <int32_t Code>
Status n_compare(int32_t, const int32_t*) {
    bool r = Code == dispatch::code::same ? same(*arg(0), *arg(1))
                                          : dispatch::compare(*arg(0), *arg(1), Code);
    return finish(logic_cell(r));
}
template Status n_compare<dispatch::code::equal>(int32_t, const int32_t*);
template Status n_compare<dispatch::code::not_equal>(int32_t, const int32_t*);
template Status n_compare<dispatch::code::strict_equal>(int32_t, const int32_t*);
template Status n_compare<dispatch::code::lesser>(int32_t, const int32_t*);
template Status n_compare<dispatch::code::lesser_or_equal>(int32_t, const int32_t*);
template Status n_compare<dispatch::code::greater>(int32_t, const int32_t*);
template Status n_compare<dispatch::code::greater_or_equal>(int32_t, const int32_t*);
template Status n_compare<dispatch::code::same>(int32_t, const int32_t*);

Status n_not(int32_t, const int32_t*) { return finish(logic_cell(!is_truthy(*arg(0)))); }

// --- number tests ---------------------------------------------------------------------

namespace {

// -1, 0 or 1 for the number tests; NaN is 0 (neither side).
int32_t sign_of(const Cell& v) {
    Type t = type_of(v);
    if (t == Type::integer) return int_of(v) < 0 ? -1 : int_of(v) > 0 ? 1 : 0;
    if (float_like(t)) {
        double d = float_of(v);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    if (t == Type::money) return money::sign(v);
    errors::expect_arg(v, 1);
}

}  // namespace

Status n_negative_q(int32_t check, const int32_t* refs) {
    check_args(check, 49, refs);
    return finish(logic_cell(sign_of(*arg(0)) < 0));
}
Status n_positive_q(int32_t check, const int32_t* refs) {
    check_args(check, 50, refs);
    return finish(logic_cell(sign_of(*arg(0)) > 0));
}
Status n_sign_q(int32_t check, const int32_t* refs) {
    check_args(check, 97, refs);
    return finish(integer_cell(sign_of(*arg(0))));
}

Status n_zero_q(int32_t check, const int32_t* refs) {
    check_args(check, 100, refs);
    const Cell& v = *arg(0);
    bool zero = false;
    switch (type_of(v)) {
        case Type::char_:
        case Type::integer: zero = int_of(v) == 0; break;
        case Type::float_:
        case Type::percent:
        case Type::time: zero = float_of(v) == 0.0; break;
        case Type::pair: zero = pair_x(v) == 0 && pair_y(v) == 0; break;
        case Type::tuple: zero = tuple::zero_q(v); break;
        case Type::point2d:
        case Type::point3d:
            zero = true;
            for (int i = 0; i < point::axes(type_of(v)); ++i) zero = zero && point_coord(v, i) == 0.0f;
            break;
        case Type::money: zero = money::zero_q(v); break;
        default: break;
    }
    return finish(logic_cell(zero));
}

Status n_nan_q(int32_t check, const int32_t* refs) {
    check_args(check, 62, refs);
    const Cell& v = *arg(0);
    return finish(logic_cell(!is(v, Type::integer) && float_::is_nan(float_of(v))));
}

// --- max and min ------------------------------------------------------------------------

namespace {

bool is_nan_number(const Cell& c) {
    return (is(c, Type::float_) || is(c, Type::percent)) && float_::is_nan(float_of(c));
}

// A scalar for a tuple: an integer clamped to 0-255.
uint8_t tuple_scalar(const Cell& s) {
    int64_t n;
    if (is(s, Type::integer)) {
        n = int_of(s);
    } else {
        double d = float_of(s);
        if (!std::isfinite(d) || d < -2147483648.0 || d >= 2147483648.0) {
            Cell dt = datatype_cell(Type::integer);
            errors::fire(errors::id::type_limit, &dt);
        }
        n = int64_t(d);
    }
    return uint8_t(n < 0 ? 0 : n > 255 ? 255 : n);
}

Status min_max(bool max) {
    Cell a = *arg(0), b = *arg(1);
    Type ta = type_of(a), tb = type_of(b);
    // A NaN wins against any number.
    if (is_nan_number(a) && number_like(tb)) return finish(a);
    if (is_nan_number(b) && number_like(ta)) return finish(b);
    bool compound_b = tb == Type::pair || tb == Type::point2d || tb == Type::point3d || tb == Type::tuple;
    if (compound_b && (ta == Type::integer || ta == Type::float_)) {
        std::swap(a, b);
        std::swap(ta, tb);
    }
    auto pick = [max](auto x, auto y) { return max ? (y > x ? y : x) : (y < x ? y : x); };
    if (ta == Type::pair && (tb == Type::integer || tb == Type::float_)) {
        double s = number_as_float(b);
        if (!std::isfinite(s) || s < -2147483648.0 || s >= 2147483648.0) {
            // No integer coordinate can hold it: the comparison moves to points.
            a = pair::to_point(a);
            ta = Type::point2d;
        }
    }
    if (ta == Type::pair && tb == Type::point2d) {
        a = pair::to_point(a);
        ta = Type::point2d;
    }
    if (ta == Type::pair) {
        if (tb == Type::integer || tb == Type::float_) {
            double s = number_as_float(b);
            int32_t x = pair_x(a), y = pair_y(a);
            double nx = pick(double(x), s), ny = pick(double(y), s);
            a.w2 = uint32_t(nx == double(x) ? x : int32_t(s));
            a.w3 = uint32_t(ny == double(y) ? y : int32_t(s));
            return finish(a);
        }
        if (tb == Type::pair) {
            a.w2 = uint32_t(pick(pair_x(a), pair_x(b)));
            a.w3 = uint32_t(pick(pair_y(a), pair_y(b)));
            return finish(a);
        }
    }
    if ((ta == Type::point2d || ta == Type::point3d) &&
        (tb == Type::integer || tb == Type::float_ || tb == Type::pair || tb == Type::point2d ||
         tb == Type::point3d)) {
        // Coordinate by coordinate in binary32; a NaN of the second value wins.
        Cell other = tb == Type::pair ? pair::to_point(b) : b;
        int other_axes = tb == Type::integer || tb == Type::float_ ? 3 : point::axes(type_of(other));
        for (int i = 0; i < point::axes(ta) && i < other_axes; ++i) {
            float x = point_coord(a, i);
            float y = tb == Type::integer || tb == Type::float_ ? float(number_as_float(b))
                                                                : point_coord(other, i);
            set_point_coord(a, i, std::isnan(y) ? y : pick(x, y));
        }
        return finish(a);
    }
    if (ta == Type::tuple) {
        if (tb == Type::integer || tb == Type::float_) {
            uint8_t s = tuple_scalar(b), bytes[12];
            tuple_bytes(a, bytes);
            for (int i = 0; i < tuple_length(a); ++i) bytes[i] = pick(bytes[i], s);
            set_tuple_bytes(a, bytes);
            return finish(a);
        }
        if (tb == Type::tuple && tuple_length(a) == tuple_length(b)) {
            uint8_t x[12], y[12];
            tuple_bytes(a, x);
            tuple_bytes(b, y);
            for (int i = 0; i < tuple_length(a); ++i) x[i] = pick(x[i], y[i]);
            set_tuple_bytes(a, x);
            return finish(a);
        }
    }
    // Everything else by lesser?: max keeps the first on a tie, min the second.
    bool lesser = dispatch::compare(a, b, dispatch::code::lesser);
    if (max) return finish(lesser ? b : a);
    return finish(lesser ? a : b);
}

}  // namespace

Status n_max(int32_t check, const int32_t* refs) {
    check_args(check, 51, refs);
    return min_max(true);
}
Status n_min(int32_t check, const int32_t* refs) {
    check_args(check, 52, refs);
    return min_max(false);
}

// --- bits -------------------------------------------------------------------------------

Status n_shift(int32_t check, const int32_t* refs) {
    check_args(check, 53, refs);
    Shift how = given(refs, 0) ? Shift::left : given(refs, 1) ? Shift::logical : Shift::right;
    return finish(integer_cell(shift_bits(int_of(*arg(0)), int_of(*arg(1)), how)));
}

int32_t shift_bits(int32_t data, int32_t bits, Shift how) {
    if (bits < 0) bits = 0;
    switch (how) {
    case Shift::left: return bits >= 32 ? 0 : int32_t(uint32_t(data) << bits);
    case Shift::logical: return bits >= 32 ? 0 : int32_t(uint32_t(data) >> bits);
    case Shift::right: break;
    }
    return bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
}

Status n_to_hex(int32_t check, const int32_t* refs) {
    check_args(check, 54, refs);
    const char* digits = string::int_to_hex(int_of(*arg(0)), false);
    size_t len = std::strlen(digits);
    if (given(refs, 0)) {
        Cell n = *arg(uint32_t(refs[0]));
        if (int_of(n) <= 0) errors::fire(errors::id::invalid_arg, &n);
        if (size_t(int_of(n)) < len) digits += len - size_t(int_of(n));
    }
    Cell result;
    issue::make_at(result, digits);
    return finish(result);
}

// --- trigonometry ---------------------------------------------------------------------

namespace {

constexpr int kind_tangent = 0, kind_cosine = 1, kind_sine = 2;

// The angle in radians: degrees unless /radians, folded by kind first.
double trig_arg(bool radians, int kind) {
    double x = to_float_arg(0);
    return radians ? x : platform::normalize_angle(x, kind);
}

double floor_tiny(double d) { return std::fabs(d) < rounding_floor ? 0.0 : d; }

Status arc(bool radians, int kind) {
    double x = to_float_arg(0);
    double r = kind == kind_sine ? std::asin(x) : kind == kind_cosine ? std::acos(x) : std::atan(x);
    if (!radians) r = r * 180.0 / pi;
    return float_result(r);
}

}  // namespace

Status n_sine(int32_t check, const int32_t* refs) {
    check_args(check, 55, refs);
    return float_result(floor_tiny(std::sin(trig_arg(given(refs, 0), kind_sine))));
}
Status n_cosine(int32_t check, const int32_t* refs) {
    check_args(check, 56, refs);
    return float_result(floor_tiny(std::cos(trig_arg(given(refs, 0), kind_cosine))));
}
Status n_tangent(int32_t check, const int32_t* refs) {
    check_args(check, 57, refs);
    double x = trig_arg(given(refs, 0), kind_tangent);
    if (x == pi / 2) return float_result(std::numeric_limits<double>::infinity());
    if (x == -pi / 2) return float_result(-std::numeric_limits<double>::infinity());
    return float_result(std::tan(x));
}
Status n_arcsine(int32_t check, const int32_t* refs) {
    check_args(check, 58, refs);
    return arc(given(refs, 0), kind_sine);
}
Status n_arccosine(int32_t check, const int32_t* refs) {
    check_args(check, 59, refs);
    return arc(given(refs, 0), kind_cosine);
}
Status n_arctangent(int32_t check, const int32_t* refs) {
    check_args(check, 60, refs);
    return arc(given(refs, 0), kind_tangent);
}

Status n_arctangent2(int32_t check, const int32_t* refs) {
    check_args(check, 61, refs);
    double r = std::atan2(number_as_float(*arg(0)), number_as_float(*arg(1)));
    if (!given(refs, 0)) r = r * 180.0 / pi;
    return float_result(r);
}

// --- logarithms, exp, square root -------------------------------------------------------

Status n_log_2(int32_t check, const int32_t* refs) {
    check_args(check, 63, refs);
    return float_result(std::log(to_float_arg(0)) / 0.6931471805599453);
}
Status n_log_10(int32_t check, const int32_t* refs) {
    check_args(check, 64, refs);
    return float_result(std::log10(to_float_arg(0)));
}
Status n_log_e(int32_t check, const int32_t* refs) {
    check_args(check, 65, refs);
    return float_result(std::log(to_float_arg(0)));
}
Status n_exp(int32_t check, const int32_t* refs) {
    check_args(check, 66, refs);
    return float_result(std::pow(2.718281828459045, to_float_arg(0)));
}
Status n_square_root(int32_t check, const int32_t* refs) {
    check_args(check, 67, refs);
    return float_result(std::sqrt(to_float_arg(0)));
}

}  // namespace zan::natives
