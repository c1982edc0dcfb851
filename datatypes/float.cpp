// float!: w2 and w3 hold the double (low half, then high half).
//
// Equality is tolerant (a few units in the last place), ordering is exact.
// Form cleans up printf noise ("pretty"); mold writes the shortest text that
// reads back to the same double.
#include "datatypes/float.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codecs/random.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/money.h"
#include "datatypes/series.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "runtime/dtoa.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::float_ {

namespace {

constexpr double epsilon = 2.220446049250313e-16;
constexpr double below_half = 0.49999999999999994;
bool pretty_flag = true;

[[noreturn]] void invalid_type(const Cell& value) {
    Cell type = datatype_cell(type_of(value));
    errors::fire(errors::id::invalid_type, &type);
}

// not-related naming the operation (`subtract` or `divide`, or the called
// function for any other code) and the type that cannot take part.
[[noreturn]] void not_related(Type t, int op = -1) {
    Cell word = op == integer::divide     ? runtime_words::word(runtime_words::Word::divide)
                : op == integer::subtract ? runtime_words::word(runtime_words::Word::subtract)
                                          : errors::call_word();
    if (!is(word, Type::word)) word = errors::call_word();
    Cell type = datatype_cell(t);
    errors::fire(errors::id::not_related, &word, &type);
}

// Doubles in float!, percent! and time! cells; integers and chars as numbers.
bool read_double(const Cell& c, double& out) {
    switch (type_of(c)) {
    case Type::integer:
    case Type::char_: out = double(int_of(c)); return true;
    case Type::float_:
    case Type::percent:
    case Type::time: out = float_of(c); return true;
    default: return false;
    }
}

// Maps a bit pattern to a key that orders like the double it holds.
uint64_t ordered_key(double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    return bits >> 63 ? ~bits + 1 : bits | (uint64_t(1) << 63);
}

void run_slot(Type t, int op, actions::Args args, const Cell& offender) {
    actions::Fn_add fn = integer::arith_slot(datatype::row(t), op);
    if (!fn) invalid_type(offender);
    fn(args);
}

// printf conversions write the exponent as e+20 or e-07; ours is e20 or e-7.
void tidy_exponent(std::string& s) {
    size_t e = s.find('e');
    if (e == std::string::npos) return;
    size_t i = e + 1;
    if (i < s.size() && s[i] == '+') s.erase(i, 1);
    else if (i < s.size() && s[i] == '-') ++i;
    while (i + 1 < s.size() && s[i] == '0') s.erase(i, 1);
}

std::string printf_text(double d, const char* format) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, d);
    return buf;
}

const char* kind_format(int kind) {
    switch (kind) {
    case 1: return "%.16g";
    case 3: return "%.13g";
    default: return "%.7g";
    }
}

// Printf noise shows as a run of 0s ending in 1 or of 9s at the last digits.
bool noisy(const std::string& s) {
    size_t e = s.find('e');
    std::string_view mantissa(s.data(), e == std::string::npos ? s.size() : e);
    size_t limit = 16;
    if (e == std::string::npos) {
        size_t lead = mantissa.size() > 0 && mantissa[0] == '-' ? 1 : 0;
        if (mantissa.size() > lead && mantissa[lead] == '0') limit = 17;
    }
    if (mantissa.size() <= limit) return false;
    std::string_view last = mantissa.substr(mantissa.size() - 2);
    return last == "01" || last == "99";
}

// Decimal text of a float: sign, digits (apostrophes between them skipped), a
// "." or "," and fraction digits, an exponent; or a special value as molded.
// Stands in for the lexer's float reader, which takes over when it exists.
bool scan_float(std::string_view text, double& out) {
    if (text.empty() || text.size() > 312) return false;
    if (text == "1.#INF" || text == "-1.#INF" || text == "1.#NaN" || text == "+1.#INF") {
        out = dtoa::strtod(text.data(), text.data() + text.size());
        return true;
    }
    std::string bytes;
    size_t i = 0;
    auto digits = [&](bool apostrophes) {
        size_t start = bytes.size();
        for (; i < text.size(); ++i) {
            char c = text[i];
            if (c >= '0' && c <= '9') bytes += c;
            else if (!(apostrophes && c == '\'' && bytes.size() > start)) break;
        }
        return bytes.size() - start;
    };
    if (text[i] == '+' || text[i] == '-') bytes += text[i++];
    size_t whole = digits(true), fraction = 0;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        bytes += '.';
        ++i;
        fraction = digits(false);
    }
    if (whole + fraction == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        bytes += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) bytes += text[i++];
        if (digits(false) == 0) return false;
    }
    if (i != text.size()) return false;
    out = dtoa::strtod(bytes.data(), bytes.data() + bytes.size());
    return true;
}

}  // namespace

Cell* make_in(const Cell& block, uint32_t low, uint32_t high) {
    return block::rs_append(block, make_cell(Type::float_, 0, low, high));
}

bool is_nan(double d) { return std::isnan(d); }
bool special(double d) { return !std::isfinite(d); }

bool almost_equal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b || std::fabs(a - b) < epsilon) return true;
    uint64_t ka = ordered_key(a), kb = ordered_key(b);
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

bool almost_equal32(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    int32_t ia = std::bit_cast<int32_t>(a), ib = std::bit_cast<int32_t>(b);
    uint32_t ma = uint32_t(ia) & 0x7FFFFFFF, mb = uint32_t(ib) & 0x7FFFFFFF;
    if (ma <= 0x7F7FFFFE && mb <= 0x7F7FFFFE) {
        if (ma == 0 && mb == 0) return true;
        int64_t ka = ia < 0 ? int64_t(0x80000000) - int64_t(uint32_t(ia)) : ia;
        int64_t kb = ib < 0 ? int64_t(0x80000000) - int64_t(uint32_t(ib)) : ib;
        return (ka > kb ? ka - kb : kb - ka) <= 10;
    }
    return (ia < 0) == (ib < 0) && (ma > mb ? ma - mb : mb - ma) < 0x100000;
}

int32_t round_to_int(double d) {
    double r = std::trunc(d + below_half);
    if (integer::float_out_of_range(r)) errors::fire(errors::id::overflow);
    return int32_t(r);
}

bool pretty() { return pretty_flag; }
void set_pretty(bool on) { pretty_flag = on; }

const char* to_text(double d, int kind) {
    static char area[32];
    if (std::isnan(d)) return "1.#NaN";
    if (std::isinf(d)) return d < 0 ? "-1.#INF" : "1.#INF";
    std::string s;
    if (pretty_flag && std::fabs(d) < epsilon) {
        s = kind == 2 || kind == 3 ? "0%" : kind == 5 ? "0" : "0.0";
        std::snprintf(area, sizeof area, "%s", s.c_str());
        return area;
    }
    s = kind == 4 ? std::string(dtoa::form_float(d, 6, false)) : printf_text(d, kind_format(kind));
    if (pretty_flag && noisy(s))
        s = printf_text(d, kind == 0 || kind == 4 || kind == 5 ? "%.5g" : "%.14g");
    tidy_exponent(s);
    if (kind == 2 || kind == 3) {
        s += '%';
    } else if ((kind == 0 || kind == 1) && s.find('.') == std::string::npos) {
        size_t e = s.find('e');
        s.insert(e == std::string::npos ? s.size() : e, ".0");
    }
    std::snprintf(area, sizeof area, "%s", s.c_str());
    return area;
}

double do_math_op(double a, double b, int op) {
    switch (op) {
    case integer::add: return a + b;
    case integer::subtract: return a - b;
    case integer::multiply: return a * b;
    case integer::divide: return a / b;
    case integer::remainder:
        if (std::isfinite(b)) return std::fmod(a, b);
        if (std::isnan(b)) return b;
        return std::isfinite(a) ? a : std::nan("");
    default: {
        Cell word = errors::call_word();
        Cell type = datatype_cell(Type::float_);
        errors::fire(errors::id::cannot_use, &word, &type);
    }
    }
}

void do_math(actions::Args args, int op) {
    Type lt = type_of(args[0]);
    Cell right = args[1];
    Type rt = type_of(right);
    switch (rt) {
    case Type::money:
    case Type::vector:
        run_slot(rt, op, args, right);
        return;
    case Type::tuple: {
        // A number minus or divided by a tuple has no meaning.
        if (op == integer::subtract || op == integer::divide) not_related(lt, op);
        Cell left = args[0];
        args[0] = right;
        args[1] = left;
        run_slot(rt, op, args, right);
        return;
    }
    case Type::pair:
    case Type::point2d:
    case Type::point3d: {
        if (lt == Type::time) invalid_type(right);
        if (op == integer::subtract || op == integer::divide) not_related(rt, op);
        double a;
        read_double(args[0], a);
        args[0] = right;
        args[1] = float_cell(a);
        run_slot(rt, op, args, right);
        return;
    }
    case Type::char_:
        if (lt == Type::percent || lt == Type::time) invalid_type(right);
        [[fallthrough]];
    case Type::integer:
    case Type::float_:
    case Type::percent:
    case Type::time: {
        double a, b;
        read_double(args[0], a);
        read_double(right, b);
        double r = do_math_op(a, b, op);
        Type result = (lt == Type::time || rt == Type::time) ? Type::time
                      : lt == Type::percent                  ? Type::percent
                                                             : Type::float_;
        args[0] = float_cell(r, result);
        return;
    }
    default: invalid_type(right);
    }
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if ((op == 2 || op == 9 || op == 12) && type_id(a) != type_id(b)) return 1;
    if (is(b, Type::money)) {
        // NaN is neither below nor above any amount.
        if (std::isnan(float_of(a))) return op == 3 || op == 4 ? 1 : op == 5 || op == 6 ? -1 : op == 7 || op == 8 ? 0 : 1;
        int32_t r = money::compare(b, a, op);
        return r == -2 ? -2 : -r;
    }
    double x = float_of(a), y;
    if (is(b, Type::char_) || !read_double(b, y)) return -2;
    switch (op) {
    case 0:
    case 1: return almost_equal(x, y) ? 0 : 1;
    case 2: return x == y ? 0 : 1;
    case 9: return a.w2 == b.w2 && a.w3 == b.w3 ? 0 : 1;
    default:
        if (std::isnan(x) || std::isnan(y)) return op == 3 || op == 4 ? 1 : op == 5 || op == 6 ? -1 : 0;
        return x < y ? -1 : x > y ? 1 : 0;
    }
}

double get_number(const Cell& value) {
    if (is(value, Type::integer)) return double(int_of(value));
    if (is(value, Type::float_)) return float_of(value);
    Cell target = datatype_cell(Type::float_);
    errors::fire(errors::id::bad_to_arg, &target, &value);
}

void power(actions::Args args) {
    const Cell& exp = args[1];
    if (!is(exp, Type::integer) && !is(exp, Type::float_)) errors::expect_arg(exp, 2);
    double base;
    read_double(args[0], base);
    set_float(args[0], std::pow(base, get_number(exp)));
}

void round(actions::Args args, const actions::RoundRefs& r) {
    const Cell* scale = r.to;
    if (scale && is(*scale, Type::money)) not_related(Type::money);
    bool percent = is(args[0], Type::percent);
    double v = float_of(args[0]);
    double s = percent ? 0.01 : 1.0;
    if (scale) {
        if (!read_double(*scale, s) || is(*scale, Type::char_)) s = get_number(*scale);
        s = std::fabs(s);
        if (percent) s /= 100;
    }
    double c;
    if (s < std::fabs(v) * 0x1p-53) {
        c = v;  // every digit lies above the scale
    } else {
        int shift = 0;
        if (s < 1.0) {
            std::frexp(s, &shift);
            if (shift < -1021) {
                s = std::ldexp(s, -shift);
                v = std::ldexp(v, -shift);
            } else {
                shift = 0;
            }
        }
        double inverse = 1.0 / s;
        v = s >= 1.0 ? v / s : v * inverse;
        double d = std::fabs(v), h = std::floor(d) + 0.5;
        double sgn = std::signbit(v) ? -1.0 : 1.0;
        if (r.down) c = sgn * std::floor(d);
        else if (r.floor) c = std::floor(v);
        else if (r.ceiling) c = std::ceil(v);
        else if (h < d) c = sgn * std::ceil(d);
        else if (h > d) c = sgn * std::floor(d);
        else if (r.even) c = sgn * (std::fmod(std::floor(d), 2) >= 1 ? std::ceil(d) : std::floor(d));
        else if (r.half_down) c = sgn * std::floor(d);
        else if (r.half_ceiling) c = std::ceil(v);
        else c = sgn * std::ceil(d);
        if (s >= 1.0) {
            c *= s;
            if (std::fabs(c) == DBL_MAX || (std::isinf(c) && std::isfinite(v)))
                errors::fire(errors::id::overflow);
        } else {
            c /= inverse;
            if (shift) c = std::ldexp(c, shift);
        }
    }
    if (scale && is(*scale, Type::integer)) {
        // Out of range has no integer result.
        if (integer::float_out_of_range(c)) errors::fire(errors::id::overflow);
        args[0] = integer_cell(int32_t(std::trunc(c)));
        return;
    }
    set_float(args[0], c);
    if (scale) set_type(args[0], type_of(*scale));
}

namespace {

// make and to: the target is float! or percent!.
void make(actions::Args args, Type target) {
    if (target != Type::percent) target = Type::float_;
    const Cell spec = args[1];
    double d;
    if (series::is_string_like(type_of(spec)) && target == Type::float_) {
        if (!scan_float(string::to_utf8(spec), d)) {
            Cell t = datatype_cell(target);
            errors::fire(errors::id::bad_to_arg, &t, &spec);
        }
    } else if (is(spec, Type::block) || is(spec, Type::paren) || is(spec, Type::hash)) {
        // [mantissa exponent]: the first times ten to the power of the second.
        memory::Series* s = memory::buffer(series_node(spec));
        uint32_t at = series_index(spec);
        if (s->length() < at || s->length() - at != 2) {
            Cell t = datatype_cell(target);
            errors::fire(errors::id::bad_to_arg, &t, &spec);
        }
        Cell mantissa = s->cells()[at], exponent = s->cells()[at + 1];
        double e = std::trunc(get_number(exponent));
        d = get_number(mantissa) * std::pow(10.0, e);
    } else if (is(spec, Type::money)) {
        d = money::to_float(spec);
    } else if (is(spec, Type::binary)) {
        // Up to eight bytes from the position: the double's bit pattern.
        d = std::bit_cast<double>(integer::leading_bytes(spec, 8));
    } else if (!read_double(spec, d)) {
        Cell t = datatype_cell(target);
        errors::fire(errors::id::bad_to_arg, &t, &spec);
    }
    args[0] = float_cell(d, target);
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    return mold::append(buffer, to_text(float_of(v), 1), budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return mold::append(buffer, dtoa::form_float(float_of(v), 0, true), budget);
}

void absolute(actions::Args args) { set_float(args[0], std::fabs(float_of(args[0]))); }
void negate(actions::Args args) { set_float(args[0], 0.0 - float_of(args[0])); }

void add_(actions::Args args) { do_math(args, integer::add); }
void subtract_(actions::Args args) { do_math(args, integer::subtract); }
void multiply_(actions::Args args) { do_math(args, integer::multiply); }
void divide_(actions::Args args) { do_math(args, integer::divide); }
void remainder_(actions::Args args) { do_math(args, integer::remainder); }

// percent! and time! inherit this slot: the double changes, the type stays.
void random_(actions::Args args, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(int32_t(args[0].w2 ^ args[0].w3));
        args[0] = unset_cell();
        return;
    }
    set_float(args[0], random::up_to(float_of(args[0]), secure));
}

// The parity of the integral part, also beyond the int32 range.
bool even_q(const Cell& v) { return std::fmod(std::trunc(float_of(v)), 2.0) == 0.0; }
bool odd_q(const Cell& v) { return std::fabs(std::fmod(std::trunc(float_of(v)), 2.0)) == 1.0; }

}  // namespace

void init() {
    actions::Row row;
    row.make = make;
    row.random = random_;
    row.to = make;
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    row.absolute = absolute;
    row.add = add_;
    row.divide = divide_;
    row.multiply = multiply_;
    row.negate = negate;
    row.power = power;
    row.remainder = remainder_;
    row.round = round;
    row.subtract = subtract_;
    row.even_q = even_q;
    row.odd_q = odd_q;
    datatype::register_type(Type::float_, Type::any, "float!", row);
}

}  // namespace zan::float_
