// integer!: cell w2 holds the value.
//
// Every operation is checked before the machine sees it: overflow through the
// compiler's checked builtins, INT_MIN / -1 and INT_MIN % -1 before dividing,
// and range checks before any double is converted to an int32.
#include "datatypes/integer.h"

#include <cmath>
#include <cstring>

#include "codecs/random.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/mold.h"
#include "datatypes/money.h"
#include "datatypes/series.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zan::integer {

namespace {

constexpr int32_t int_min = INT32_MIN;

struct Overflowed {};  // leaves the power loop

[[noreturn]] void overflow() { errors::fire(errors::id::overflow); }

[[noreturn]] void bad_to_arg(const Cell& value) {
    Cell target = datatype_cell(Type::integer);
    errors::fire(errors::id::bad_to_arg, &target, &value);
}

// Optional sign, decimal digits, apostrophes between them skipped.
bool scan_integer(std::string_view text, int32_t& out) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    int digits = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\'' && digits > 0) continue;
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        ++digits;
        if (v > int64_t(INT32_MAX) + 1) return false;
    }
    if (digits == 0) return false;
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    out = int32_t(v);
    return true;
}

// An issue's spelling read as up to eight hexadecimal digits.
int32_t from_issue(const Cell& issue) {
    std::string_view name = symbol::name(word_symbol(issue));
    uint32_t value = 0;
    int digits = 0;
    for (size_t i = 0; i < name.size();) {
        int32_t count = int32_t(name.size() - i);
        int32_t cp = unicode::decode_utf8_checked(reinterpret_cast<const uint8_t*>(name.data()) + i, count);
        if (cp < 0 || ++digits > 8) errors::fire(errors::id::invalid_data, &issue);
        i += size_t(count);
        uint32_t c = uint32_t(cp) % 128;
        uint32_t d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else errors::fire(errors::id::invalid_data, &issue);
        value = value * 16 + d;
    }
    return int32_t(value);
}

}  // namespace

Cell* make_in(const Cell& block, int32_t n) { return block::rs_append(block, integer_cell(n)); }

int32_t sign(int32_t n) { return n > 0 ? 1 : n < 0 ? -1 : 0; }

int32_t abs(int32_t n) {
    if (n == int_min) overflow();
    return n < 0 ? -n : n;
}

bool float_out_of_range(double d) {
    return !(d <= 2147483647.0 && d >= -2147483648.0);
}

std::string_view form_signed(int32_t n) {
    static char digits[12];
    if (n == int_min) return "-2147483648";
    if (n == 0) return "0";
    char* p = digits + sizeof digits;
    uint32_t a = n < 0 ? uint32_t(-n) : uint32_t(n);
    while (a) {
        *--p = char('0' + a % 10);
        a /= 10;
    }
    if (n < 0) *--p = '-';
    return std::string_view(p, size_t(digits + sizeof digits - p));
}

int32_t do_math_op(int32_t left, int32_t right, int op, Cell* result) {
    int32_t r = 0;
    switch (op) {
    case add:
    case subtract:
    case multiply: {
        bool over = op == add        ? __builtin_add_overflow(left, right, &r)
                    : op == subtract ? __builtin_sub_overflow(left, right, &r)
                                     : __builtin_mul_overflow(left, right, &r);
        if (over && result) {
            double a = left, b = right;
            set_type(*result, Type::float_);
            set_float(*result, op == add ? a + b : op == subtract ? a - b : a * b);
            return 0;
        }
        break;
    }
    case divide:
        if (right == 0) errors::fire(errors::id::zero_divide);
        if (left == int_min && right == -1) overflow();
        if (result && left % right != 0) {
            set_type(*result, Type::float_);
            set_float(*result, double(left) / double(right));
            return 0;
        }
        r = left / right;
        break;
    case remainder:
        if (right == 0) errors::fire(errors::id::zero_divide);
        if (left == int_min && right == -1) overflow();
        r = left % right;
        break;
    case or_: r = left | right; break;
    case and_: r = left & right; break;
    case xor_: r = left ^ right; break;
    default: runtime::quit(runtime::fatal::no_switch, runtime::caller_address());
    }
    if (result) set_int(*result, r);
    return r;
}

// Runs the slot of an arithmetic operator on args as they stand (the left
// operand's type decides); a type without it cannot take part.
actions::Fn_add arith_slot(const actions::Row& row, int op) {
    switch (op) {
    case add: return row.add.fn;
    case subtract: return row.subtract.fn;
    case multiply: return row.multiply.fn;
    case divide: return row.divide.fn;
    case remainder: return row.remainder.fn;
    case or_: return row.or_t.fn;
    case and_: return row.and_t.fn;
    case xor_: return row.xor_t.fn;
    default: return nullptr;
    }
}

static void run_slot(Type t, int op, actions::Args args, const Cell& offender) {
    actions::Fn_add fn = arith_slot(datatype::row(t), op);
    if (!fn) {
        Cell type = datatype_cell(type_of(offender));
        errors::fire(errors::id::invalid_type, &type);
    }
    fn(args);
}

// not-related naming the operation (`subtract` or `divide`, or the called
// function for -1) and the type that cannot take part.
[[noreturn]] static void not_related(int op, Type t) {
    Cell word = op == divide     ? runtime_words::word(runtime_words::Word::divide)
                : op == subtract ? runtime_words::word(runtime_words::Word::subtract)
                                 : errors::call_word();
    if (!is(word, Type::word)) word = errors::call_word();
    Cell type = datatype_cell(t);
    errors::fire(errors::id::not_related, &word, &type);
}

// The right operand's type does the work, with the integer moved to its right.
static void swap_operands(actions::Args args) {
    Cell left = args[0];
    args[0] = args[1];
    args[1] = left;
}

void do_math(actions::Args args, int op) {
    Cell right = args[1];
    switch (type_of(right)) {
    case Type::integer:
    case Type::char_:
        do_math_op(int_of(args[0]), int_of(right), op, &args[0]);
        return;
    case Type::float_:
    case Type::percent:
    case Type::time:
        float_::do_math(args, op);
        return;
    case Type::money:
    case Type::vector:
        run_slot(type_of(right), op, args, right);
        return;
    case Type::pair:
    case Type::point2d:
    case Type::point3d: {
        if (op == divide) not_related(op, Type::integer);
        swap_operands(args);
        if (op == subtract) {
            auto negate = datatype::row(type_of(args[0])).negate.fn;
            if (!negate) {
                Cell type = datatype_cell(type_of(right));
                errors::fire(errors::id::invalid_type, &type);
            }
            negate(args);
            op = add;
        }
        run_slot(type_of(args[0]), op, args, right);
        return;
    }
    case Type::tuple:
        if (op == subtract || op == divide) not_related(op, Type::integer);
        swap_operands(args);
        run_slot(Type::tuple, op, args, right);
        return;
    case Type::date:
        if (op != add) not_related(subtract, Type::integer);
        swap_operands(args);
        run_slot(Type::date, add, args, right);
        return;
    default: {
        Cell type = datatype_cell(type_of(right));
        errors::fire(errors::id::invalid_type, &type);
    }
    }
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if ((op == 2 || op == 12) && !is(b, Type::integer)) return 1;
    switch (type_of(b)) {
    case Type::integer:
    case Type::char_: {
        int32_t x = int_of(a), y = int_of(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    case Type::float_:
    case Type::percent:
    case Type::time:
        // Through the float comparison, the integer as the left double.
        return float_::compare(float_cell(double(int_of(a))), b, op);
    default:
        if (auto fn = datatype::row(type_of(b)).compare.fn; fn && is(b, Type::money)) {
            int32_t r = fn(b, a, op);
            return r == -2 ? -2 : -r;
        }
        return -2;
    }
}

int32_t number_to_integer(const Cell& value) {
    if (is(value, Type::float_)) {
        double d = float_of(value);
        if (float_out_of_range(d)) errors::fire(errors::id::out_of_range, &value);
        return int32_t(std::trunc(d));
    }
    return int_of(value);
}

uint64_t leading_bytes(const Cell& binary, uint32_t count) {
    memory::Series* s = memory::buffer(series_node(binary));
    uint32_t at = series_index(binary), length = s->length();
    uint64_t v = 0;
    for (uint32_t k = at; k < length && k < at + count; ++k)
        v = (v << 8) | uint8_t(s->at_head()[k]);
    return v;
}

// A number's integral part; one beyond the 32-bit range raises type-limit.
static int32_t truncated(double d) {
    if (float_out_of_range(d)) {
        Cell target = datatype_cell(Type::integer);
        errors::fire(errors::id::type_limit, &target);
    }
    return int32_t(std::trunc(d));
}

void to(actions::Args args, Type) {
    Cell spec = args[1];
    Cell result = integer_cell(0);
    Type t = type_of(spec);
    if (series::is_string_like(t)) {
        int32_t v;
        if (!scan_integer(string::to_utf8(spec), v)) bad_to_arg(spec);
        set_int(result, v);
    } else {
        switch (t) {
        case Type::integer:
        case Type::char_: set_int(result, int_of(spec)); break;
        case Type::float_:
        case Type::percent: set_int(result, truncated(float_of(spec))); break;
        case Type::issue: set_int(result, from_issue(spec)); break;
        case Type::binary: set_int(result, int32_t(uint32_t(leading_bytes(spec, 4)))); break;
        case Type::time: set_int(result, truncated(float_of(spec) + 0.5)); break;
        case Type::money: set_int(result, money::to_integer(spec)); break;
        case Type::date: set_int(result, date::to_epoch(spec)); break;
        default: bad_to_arg(spec);
        }
    }
    args[0] = result;
}

static void make(actions::Args args, Type t) {
    if (is(args[1], Type::logic)) {
        args[0] = integer_cell(logic_of(args[1]) ? 1 : 0);
        return;
    }
    to(args, t);
}

static int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    return mold::append(buffer, form_signed(int_of(v)), budget);
}

static int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget,
                    int32_t) {
    return form(v, buffer, false, budget);
}

static void absolute(actions::Args args) { set_int(args[0], abs(int_of(args[0]))); }

static void negate(actions::Args args) {
    int32_t n = int_of(args[0]);
    if (n == int_min) overflow();
    set_int(args[0], -n);
}

static void complement(actions::Args args) { set_int(args[0], ~int_of(args[0])); }

static void add_(actions::Args args) { do_math(args, add); }
static void subtract_(actions::Args args) { do_math(args, subtract); }
static void multiply_(actions::Args args) { do_math(args, multiply); }
static void divide_(actions::Args args) { do_math(args, divide); }
static void remainder_(actions::Args args) { do_math(args, remainder); }
static void or_t(actions::Args args) { do_math(args, or_); }
static void and_t(actions::Args args) { do_math(args, and_); }
static void xor_t(actions::Args args) { do_math(args, xor_); }

// char! inherits this slot: only the payload changes, so a char stays a char.
static void random_(actions::Args args, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(int_of(args[0]));
        args[0] = unset_cell();
        return;
    }
    set_int(args[0], random::int_range(secure, int_of(args[0])));
}

static bool even_q(const Cell& v) { return (int_of(v) & 1) == 0; }
static bool odd_q(const Cell& v) { return (int_of(v) & 1) != 0; }

// Binary exponentiation; leaving 32 bits hands the work to the float power.
static void power(actions::Args args) {
    const Cell& exp = args[1];
    if (!is(exp, Type::integer) && !is(exp, Type::float_)) errors::expect_arg(exp, 2);
    if (is(exp, Type::integer) && int_of(exp) >= 0) {
        int32_t base = int_of(args[0]);
        int32_t e = int_of(exp);
        int32_t result = 1;
        try {
            while (e != 0) {
                if ((e & 1) && __builtin_mul_overflow(result, base, &result)) throw Overflowed{};
                e >>= 1;
                if (e != 0 && __builtin_mul_overflow(base, base, &base)) throw Overflowed{};
            }
            set_int(args[0], result);
            return;
        } catch (const Overflowed&) {
        }
    }
    args[0] = float_cell(double(int_of(args[0])));
    float_::power(args);
}

void round(actions::Args args, const actions::RoundRefs& r) {
    const Cell* scale = r.to;
    if (scale && is(*scale, Type::money)) not_related(-1, Type::money);
    int64_t n = int_of(args[0]);
    if (scale && !is(*scale, Type::integer)) {
        args[0] = float_cell(double(n));
        float_::round(args, r);
        return;
    }
    int64_t s = scale ? abs(int_of(*scale)) : 1;
    if (s == 0) return;
    int64_t a = n < 0 ? -n : n;
    int64_t rem = a % s;
    if (rem == 0) return;
    int64_t d = s - rem;
    int64_t down = a - rem;  // toward zero
    int64_t up = a + d;      // away from zero
    int64_t sgn = n < 0 ? -1 : 1;
    int64_t v;
    if (r.down) v = sgn * down;
    else if (r.floor) v = n > 0 ? down : -up;
    else if (r.ceiling) v = n < 0 ? -down : up;
    else if (rem < d) v = sgn * down;
    else if (rem > d) v = sgn * up;
    else if (r.even) v = sgn * ((a / s) % 2 == 0 ? down : up);
    else if (r.half_down) v = sgn * down;
    else if (r.half_ceiling) v = n > 0 ? up : -down;
    else v = sgn * up;
    // The minimum value rounded by a scale, or a magnitude rounded up past the
    // top, has no integer result.
    if (v > INT32_MAX || v < INT32_MIN) overflow();
    set_int(args[0], int32_t(v));
}

static void round_slot(actions::Args args, const actions::RoundRefs& r) { round(args, r); }

void init() {
    actions::Row row;
    row.make = make;
    row.random = random_;
    row.to = to;
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
    row.round = round_slot;
    row.subtract = subtract_;
    row.even_q = even_q;
    row.odd_q = odd_q;
    row.and_t = and_t;
    row.complement = complement;
    row.or_t = or_t;
    row.xor_t = xor_t;
    datatype::register_type(Type::integer, Type::any, "integer!", row);
}

}  // namespace zan::integer
