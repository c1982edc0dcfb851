// vector! actions: make, form and mold, compare, element-wise arithmetic,
// append, insert and change; the other series actions are string!'s and
// series!'s, which reach single elements through element_at and
// store_element.
//
// Arithmetic with a scalar runs as one typed loop over the raw elements (no
// value cell per element). Integer elements compute in 32 bits, wrapping on
// overflow, and keep the low bytes of the result; float elements compute in
// doubles and are stored back as doubles or singles.
#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_search.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/sort.h"

namespace zan::vector {

namespace {

constexpr errors::Id not_same_type{errors::Category::script, 20};

bool is_int_type(Type t) { return t == Type::integer || t == Type::char_; }
bool is_float_type(Type t) { return t == Type::float_ || t == Type::percent; }

uint32_t default_unit(Type t) { return is_int_type(t) ? 4 : 8; }

uint32_t head_index(const Cell& v) {
    return std::min(series_index(v), memory::buffer(series_node(v))->length());
}

uint32_t length_of(const Cell& v) { return memory::buffer(series_node(v))->length() - head_index(v); }

std::byte* element_ptr(const Cell& v, uint32_t p) {
    memory::Series* b = memory::buffer(series_node(v));
    return b->at_head() + size_t(p) * b->unit();
}

// Reads an integer element: char! unsigned, integer! sign-extended.
int32_t read_int(const std::byte* p, uint32_t unit, bool is_char) {
    switch (unit) {
    case 1: return is_char ? int32_t(uint8_t(p[0])) : int32_t(int8_t(p[0]));
    case 2: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return is_char ? int32_t(v) : int32_t(int16_t(v));
    }
    default: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}

void write_int(std::byte* p, uint32_t unit, int32_t v) {
    uint32_t u = uint32_t(v);
    std::memcpy(p, &u, unit);  // little-endian: the low bytes come first
}

double read_float(const std::byte* p, uint32_t unit) {
    if (unit == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void write_float(std::byte* p, uint32_t unit, double d) {
    if (unit == 4) {
        float f = float(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

// The 32-bit integer operator: wrapping add, subtract and multiply.
int32_t int_op(int32_t a, int32_t b, int op) {
    switch (op) {
    case integer::add: return int32_t(uint32_t(a) + uint32_t(b));
    case integer::subtract: return int32_t(uint32_t(a) - uint32_t(b));
    case integer::multiply: return int32_t(uint32_t(a) * uint32_t(b));
    case integer::divide:
        if (b == 0) errors::fire(errors::id::zero_divide);
        if (a == INT32_MIN && b == -1) errors::fire(errors::id::overflow);
        return a / b;
    case integer::remainder:
        if (b == 0) errors::fire(errors::id::zero_divide);
        return b == -1 ? 0 : a % b;
    case integer::or_: return a | b;
    case integer::and_: return a & b;
    default: return a ^ b;
    }
}

double float_op(double a, double b, int op) {
    if ((op == integer::divide || op == integer::remainder) && b == 0.0)
        errors::fire(errors::id::zero_divide);
    return float_::do_math_op(a, b, op);
}

// --- scalar loops -------------------------------------------------------------------

template <typename T>
void int_loop(std::byte* base, size_t n, int32_t s, int op) {
    auto each = [&](auto fn) {
        for (size_t i = 0; i < n; ++i) {
            T v;
            std::memcpy(&v, base + i * sizeof(T), sizeof(T));
            T r = T(fn(int32_t(v)));
            std::memcpy(base + i * sizeof(T), &r, sizeof(T));
        }
    };
    switch (op) {
    case integer::add: each([s](int32_t v) { return uint32_t(v) + uint32_t(s); }); break;
    case integer::subtract: each([s](int32_t v) { return uint32_t(v) - uint32_t(s); }); break;
    case integer::multiply: each([s](int32_t v) { return uint32_t(v) * uint32_t(s); }); break;
    case integer::or_: each([s](int32_t v) { return v | s; }); break;
    case integer::and_: each([s](int32_t v) { return v & s; }); break;
    case integer::xor_: each([s](int32_t v) { return v ^ s; }); break;
    default:
        // divide and remainder: the operator's own checks, element by element.
        if (s == 0) errors::fire(errors::id::zero_divide);
        each([s, op](int32_t v) { return int_op(v, s, op); });
        break;
    }
}

template <typename T>
void float_loop(std::byte* base, size_t n, double s, int op) {
    auto each = [&](auto fn) {
        for (size_t i = 0; i < n; ++i) {
            T v;
            std::memcpy(&v, base + i * sizeof(T), sizeof(T));
            T r = T(fn(double(v)));
            std::memcpy(base + i * sizeof(T), &r, sizeof(T));
        }
    };
    switch (op) {
    case integer::add: each([s](double v) { return v + s; }); break;
    case integer::subtract: each([s](double v) { return v - s; }); break;
    case integer::multiply: each([s](double v) { return v * s; }); break;
    case integer::divide:
        if (s == 0.0) errors::fire(errors::id::zero_divide);
        each([s](double v) { return v / s; });
        break;
    default: each([s, op](double v) { return float_op(v, s, op); }); break;
    }
}

int32_t scalar_to_int(const Cell& s) {
    if (is(s, Type::integer)) return int_of(s);
    double d = std::trunc(float_of(s));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) errors::fire(errors::id::out_of_range, &s);
    return int32_t(d);
}

void with_scalar(Cell& v, const Cell& s, int op) {
    Type et = element_type(v), st = type_of(s);
    bool number = st == Type::integer || st == Type::float_ || st == Type::percent;
    if (!number) errors::fire(errors::id::not_done);
    std::byte* base = element_ptr(v, head_index(v));
    size_t n = length_of(v);
    uint32_t u = unit(v);
    if (is_float_type(et)) {
        double d = is(s, Type::integer) ? double(int_of(s)) : float_of(s);
        if (((op == integer::add || op == integer::subtract) && d == 0.0) ||
            ((op == integer::multiply || op == integer::divide) && d == 1.0))
            return;
        if (u == 4)
            float_loop<float>(base, n, d, op);
        else
            float_loop<double>(base, n, d, op);
        return;
    }
    int32_t i = scalar_to_int(s);
    if (((op == integer::add || op == integer::subtract) && i == 0) ||
        ((op == integer::multiply || op == integer::divide) && i == 1))
        return;
    bool c = et == Type::char_;
    switch (u) {
    case 1: c ? int_loop<uint8_t>(base, n, i, op) : int_loop<int8_t>(base, n, i, op); break;
    case 2: c ? int_loop<uint16_t>(base, n, i, op) : int_loop<int16_t>(base, n, i, op); break;
    default: int_loop<int32_t>(base, n, i, op); break;
    }
}

void with_vector(Args args, int op) {
    Cell a = args[0], b = args[1];
    collector::Root ra(a), rb(b);
    Type et = element_type(a);
    if (element_type(b) != et) errors::fire(not_same_type);
    uint32_t n = std::min(length_of(a), length_of(b));
    uint32_t ua = unit(a), ub = unit(b), u = std::max(ua, ub);
    Cell result;
    make_at(result, n, et, u);
    collector::Root keep(result);
    memory::Series* r = memory::buffer(series_node(result));
    r->tail = r->head + n * u;
    for (uint32_t i = 0; i < n; ++i) {
        const std::byte* pa = element_ptr(a, head_index(a) + i);
        const std::byte* pb = element_ptr(b, head_index(b) + i);
        std::byte* pr = element_ptr(result, i);
        if (is_float_type(et))
            write_float(pr, u, float_op(read_float(pa, ua), read_float(pb, ub), op));
        else
            write_int(pr, u, int_op(read_int(pa, ua, et == Type::char_), read_int(pb, ub, et == Type::char_), op));
    }
    args[0] = result;
}

void arith(Args args, int op) {
    if (is(args[0], Type::vector) && is(args[1], Type::vector)) return with_vector(args, op);
    // element op scalar, whichever side the vector stood on
    if (!is(args[0], Type::vector)) std::swap(args[0], args[1]);
    with_scalar(args[0], args[1], op);
}

// The width word of a spec ("integer!" ...), or none.
Type type_word(const Cell& w) {
    if (!is(w, Type::word)) return Type::any;
    std::string_view name = symbol::name(word_symbol(w));
    std::string lower;
    for (char c : name) lower.push_back(char(c >= 'A' && c <= 'Z' ? c + 32 : c));
    if (lower == "integer!") return Type::integer;
    if (lower == "char!") return Type::char_;
    if (lower == "float!") return Type::float_;
    if (lower == "percent!") return Type::percent;
    return Type::none;
}

[[noreturn]] void bad_make(const Cell& spec) {
    Cell t = datatype_cell(Type::vector);
    errors::fire(errors::id::bad_make_arg, &t, &spec);
}

[[noreturn]] void bad_field(const Cell& spec) { errors::fire(error::ids::invalid_spec_field, &spec); }

// The values a change adds: a block's elements, or the value itself.
struct Values {
    Cell source;  // block or vector, or the single value
    uint32_t from, count;
    bool single;
};

Values values_of(const Cell& value, int32_t part, bool paths) {
    Type t = type_of(value);
    bool listed = t == Type::block || t == Type::paren || t == Type::hash ||
                  (paths && (t == Type::path || t == Type::lit_path || t == Type::set_path ||
                             t == Type::get_path)) ||
                  (paths && t == Type::vector);
    if (!listed) return {value, 0, 1, true};
    uint32_t total = uint32_t(series::buffer_length(value));
    uint32_t from = std::min(series_index(value), total);
    uint32_t n = total - from;
    if (part >= 1) n = std::min(n, uint32_t(part));
    return {value, from, n, false};
}

Cell value_at(const Values& vs, uint32_t i) {
    if (vs.single) return vs.source;
    if (is(vs.source, Type::vector)) return element_at(vs.source, vs.from + i);
    return memory::buffer(series_node(vs.source))->cells()[vs.from + i];
}

// Encodes the values (checked first), repeated dup times.
std::string encode(const Cell& v, const Values& vs, int32_t dup) {
    Type et = element_type(v);
    uint32_t u = unit(v);
    if (!vs.single && is(vs.source, Type::vector) &&
        (element_type(vs.source) != et || unit(vs.source) != u))
        errors::fire(not_same_type);
    for (uint32_t i = 0; i < vs.count; ++i) {
        Cell x = value_at(vs, i);
        if (!fits(et, x)) errors::fire(errors::id::invalid_arg, &x);
    }
    uint64_t total = uint64_t(vs.count) * u * uint64_t(std::max(dup, 0));
    memory::Series* b = memory::buffer(series_node(v));
    if (total + (b->tail - b->head) > uint64_t(INT32_MAX)) errors::fire(errors::id::no_memory);
    std::string once(size_t(vs.count) * u, '\0');
    for (uint32_t i = 0; i < vs.count; ++i)
        set_value(reinterpret_cast<std::byte*>(once.data()) + size_t(i) * u, value_at(vs, i), u);
    std::string all;
    all.reserve(size_t(total));
    for (int32_t k = 0; k < dup; ++k) all += once;
    return all;
}

int32_t dup_count(const Cell* dup) {
    if (!dup) return 1;
    return is(*dup, Type::integer) ? int_of(*dup) : integer::number_to_integer(*dup);
}

int32_t part_count(const Cell* part) {
    if (!part) return -1;
    if (is(*part, Type::integer)) return int_of(*part);
    return -1;
}

// Inserts bytes at byte offset `at` from the buffer's head.
void put_bytes(Node n, uint32_t at, const std::string& bytes) {
    if (bytes.empty()) return;
    memory::Series* b = series::open_gap(n, at, uint32_t(bytes.size()));
    std::memcpy(b->at_head() + at, bytes.data(), bytes.size());
}

}  // namespace

// --- elements -----------------------------------------------------------------------

Type element_type(const Cell& v) { return Type(series_extra(v)); }
uint32_t unit(const Cell& v) { return memory::buffer(series_node(v))->unit(); }

Cell get_value(const std::byte* p, uint32_t u, Type et) {
    switch (et) {
    case Type::char_: return char_cell(uint32_t(read_int(p, u, true)));
    case Type::integer: return integer_cell(read_int(p, u, false));
    default: return float_cell(read_float(p, u), et);
    }
}

void set_value(std::byte* p, const Cell& value, uint32_t u) {
    Type t = type_of(value);
    if (is_int_type(t)) {
        write_int(p, u, int_of(value));
    } else if (is_float_type(t)) {
        write_float(p, u, float_of(value));
    } else {
        Cell dt = datatype_cell(t);
        errors::fire(errors::id::invalid_type, &dt);
    }
}

bool fits(Type element, const Cell& value) { return type_of(value) == element; }

Cell& make_at(Cell& cell, uint32_t count, Type element, uint32_t u) {
    if (uint64_t(count) * u > uint64_t(INT32_MAX)) errors::fire(errors::id::no_memory);
    Node n = memory::alloc_series(std::max<uint32_t>(count, 1), u);
    memory::buffer(n)->tail = memory::buffer(n)->head;
    cell = series_cell(Type::vector, n, 0, uint32_t(element));
    return cell;
}

void to_block(const Cell& v, const Cell& block) {
    Cell vec = v, blk = block;
    collector::Root r0(vec), r1(blk);
    uint32_t total = memory::buffer(series_node(vec))->length();
    for (uint32_t i = head_index(vec); i < total; ++i) block::rs_append(blk, element_at(vec, i));
}

Cell element_at(const Cell& v, uint32_t p) { return get_value(element_ptr(v, p), unit(v), element_type(v)); }

void store_element(const Cell& v, uint32_t p, const Cell& value) {
    if (!fits(element_type(v), value)) errors::fire(errors::id::invalid_arg, &value);
    set_value(element_ptr(v, p), value, unit(v));
}

// --- make ---------------------------------------------------------------------------

void make(Args args, Type) {
    Cell spec = args[1];
    collector::Root keep(spec);
    Type st = type_of(spec);
    if (st == Type::integer || st == Type::float_) {
        int32_t n = integer::number_to_integer(spec);
        if (n < 0) errors::fire(errors::id::out_of_range, &spec);
        Cell v;
        make_at(v, uint32_t(n), Type::integer, 4);
        memory::Series* b = memory::buffer(series_node(v));
        std::memset(b->at_head(), 0, size_t(n) * 4);
        b->tail = b->head + uint32_t(n) * 4;
        args[0] = v;
        return;
    }
    if (st != Type::block) errors::fire(errors::id::not_done);
    Node sn = series_node(spec);
    uint32_t total = uint32_t(series::buffer_length(spec));
    uint32_t i = std::min(series_index(spec), total);
    auto at = [&](uint32_t k) { return memory::buffer(sn)->cells()[k]; };
    Type et;
    uint32_t u;
    int64_t count = -1;
    Cell values = none_cell();
    Type named = i < total ? type_word(at(i)) : Type::any;
    if (named != Type::any) {
        if (named == Type::none || total - i < 2) bad_make(spec);
        et = named;
        ++i;
        if (is(at(i), Type::integer)) {
            int32_t bits = int_of(at(i));
            bool ok = et == Type::percent || (is_int_type(et) && (bits == 8 || bits == 16 || bits == 32)) ||
                      (et == Type::float_ && (bits == 32 || bits == 64));
            if (!ok) bad_make(spec);
            u = et == Type::percent ? 8 : uint32_t(bits / 8);
            ++i;
        } else if (et == Type::percent) {
            u = 8;
        } else {
            bad_field(spec);
        }
        if (i < total && is(at(i), Type::integer)) {
            count = int_of(at(i));
            if (count < 0) errors::fire(errors::id::out_of_range, &spec);
            ++i;
        }
        if (i < total) {
            if (!is(at(i), Type::block)) bad_field(spec);
            values = at(i);
        }
    } else {
        values = spec;
        if (i >= total) {
            et = Type::integer;
        } else {
            et = type_of(at(i));
            if (!is_int_type(et) && !is_float_type(et)) {
                Cell dt = datatype_cell(et);
                errors::fire(errors::id::invalid_type, &dt);
            }
        }
        u = default_unit(et);
    }
    collector::Root keep_values(values);
    Values vs = is(values, Type::block) ? values_of(values, -1, false) : Values{none_cell(), 0, 0, false};
    for (uint32_t k = 0; k < vs.count; ++k) {
        Cell x = value_at(vs, k);
        if (!fits(et, x)) errors::fire(errors::id::invalid_arg, &x);
    }
    uint64_t n = std::max<uint64_t>(uint64_t(std::max<int64_t>(count, 0)), vs.count);
    if (n * u > uint64_t(INT32_MAX)) errors::fire(errors::id::no_memory);
    Cell v;
    make_at(v, uint32_t(n), et, u);
    collector::Root keep_v(v);
    memory::Series* b = memory::buffer(series_node(v));
    std::memset(b->at_head(), 0, size_t(n) * u);
    for (uint32_t k = 0; k < vs.count; ++k) set_value(b->at_head() + size_t(k) * u, value_at(vs, k), u);
    b->tail = b->head + uint32_t(n) * u;
    args[0] = v;
}

// --- form and mold ------------------------------------------------------------------

namespace {

int32_t write_elements(const Cell& v, Node buffer, bool mold, bool part, int32_t budget) {
    Type et = element_type(v);
    uint32_t u = unit(v);
    uint32_t total = memory::buffer(series_node(v))->length();
    for (uint32_t i = head_index(v); i < total; ++i) {
        if (part && budget < 1) return budget;
        if (i > head_index(v)) budget = mold::append(buffer, " ", budget);
        const std::byte* p = element_ptr(v, i);
        switch (et) {
        case Type::integer: budget = mold::append(buffer, std::to_string(read_int(p, u, false)), budget); break;
        case Type::float_: budget = mold::append(buffer, float_::to_text(read_float(p, u), u == 8 ? 1 : 0), budget); break;
        case Type::percent:
            budget = mold::append(buffer, float_::to_text(read_float(p, u) * 100.0, u == 8 ? 3 : 2), budget);
            break;
        default: {
            uint32_t cp = uint32_t(read_int(p, u, true));
            if (!mold) {
                budget = mold::append_char(buffer, cp, budget);
                break;
            }
            uint32_t before = string::buffer_length(buffer);
            string::append_ascii(buffer, "#\"");
            string::mold_char(buffer, cp, false);
            string::append_char(buffer, '"');
            budget -= int32_t(string::buffer_length(buffer) - before);
            break;
        }
        }
    }
    return budget;
}

}  // namespace

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    collector::NodeRoot keep(buffer);
    return write_elements(value, buffer, false, part, budget);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t) {
    collector::NodeRoot keep(buffer);
    Type et = element_type(value);
    bool compact = unit(value) == default_unit(et) && memory::buffer(series_node(value))->length() > 0;
    if (!flags.only) budget = mold::append(buffer, "make vector! [", budget);
    if (!compact) {
        std::string head = std::string(datatype::name(et)) + " " + std::to_string(unit(value) * 8) + " [";
        budget = mold::append(buffer, head, budget);
    }
    budget = write_elements(value, buffer, true, part, budget);
    if (!compact) budget = mold::append(buffer, "]", budget);
    if (!flags.only) budget = mold::append(buffer, "]", budget);
    return budget;
}

// --- compare ------------------------------------------------------------------------

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::vector)) return -2;
    Type et = element_type(a);
    if (element_type(b) != et) errors::fire(not_same_type);
    bool same = series_node(a) == series_node(b) && series_index(a) == series_index(b);
    if (op == 9) return same ? 0 : 1;
    bool equality = op == 0 || op == 1 || op == 2 || op == 12;
    if (equality && same) return 0;
    uint32_t la = length_of(a), lb = length_of(b);
    if (equality && la != lb) return 1;
    uint32_t ua = unit(a), ub = unit(b);
    for (uint32_t i = 0, n = std::min(la, lb); i < n; ++i) {
        const std::byte* pa = element_ptr(a, head_index(a) + i);
        const std::byte* pb = element_ptr(b, head_index(b) + i);
        if (is_float_type(et)) {
            double x = read_float(pa, ua), y = read_float(pb, ub);
            if (x != y) return x < y ? -1 : 1;
        } else {
            int32_t x = read_int(pa, ua, et == Type::char_), y = read_int(pb, ub, et == Type::char_);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// --- arithmetic ---------------------------------------------------------------------

void add(Args args) { arith(args, integer::add); }
void subtract(Args args) { arith(args, integer::subtract); }
void multiply(Args args) { arith(args, integer::multiply); }
void divide(Args args) { arith(args, integer::divide); }
void remainder(Args args) { arith(args, integer::remainder); }
void and_t(Args args) { arith(args, integer::and_); }
void or_t(Args args) { arith(args, integer::or_); }
void xor_t(Args args) { arith(args, integer::xor_); }

// --- append, insert, change ---------------------------------------------------------

namespace {

void add_values(Args args, const Cell* part, const Cell* dup, bool at_tail) {
    Cell& v = args[0];
    v.w1 = head_index(v);
    int32_t times = dup_count(dup);
    if (times < 1) return;
    Values vs = values_of(args[1], part_count(part), false);
    std::string bytes = encode(v, vs, times);
    uint32_t u = unit(v);
    memory::Series* b = memory::buffer(series_node(v));
    uint32_t at = at_tail ? (b->tail - b->head) / u : v.w1;
    uint32_t added = uint32_t(bytes.size() / u);
    if (added == 0) return;
    series::with_notify(v, at_tail ? series::Change::append : series::Change::insert, int32_t(at),
                        int32_t(added), [&] { put_bytes(series_node(v), at * u, bytes); });
    if (!at_tail) v.w1 += added;
}

}  // namespace

void append(Args args, const Cell* part, bool, const Cell* dup) { add_values(args, part, dup, true); }
void insert(Args args, const Cell* part, bool, const Cell* dup) { add_values(args, part, dup, false); }

void change(Args args, const Cell* part, bool, const Cell* dup) {
    Cell& v = args[0];
    v.w1 = head_index(v);
    uint32_t at = v.w1;
    int32_t range = -1;
    if (part) range = std::clamp<int32_t>(series::part_count(v, *part, "part"), 0, int32_t(length_of(v)));
    Values vs = values_of(args[1], -1, true);
    std::string bytes = encode(v, vs, std::max(dup_count(dup), 0));
    uint32_t u = unit(v);
    uint32_t written = uint32_t(bytes.size() / u);
    Node n = series_node(v);
    series::with_notify(v, series::Change::change, int32_t(at), range < 0 ? int32_t(written) : range, [&] {
        if (range >= 0) {
            series::close_gap(n, at * u, uint32_t(range) * u);
            put_bytes(n, at * u, bytes);
            return;
        }
        memory::Series* b = memory::buffer(n);
        uint32_t used = b->tail - b->head;
        uint64_t end = uint64_t(at) * u + bytes.size();
        if (end > used) b = series::ensure_room(n, end - used);
        if (!bytes.empty()) std::memcpy(b->at_head() + size_t(at) * u, bytes.data(), bytes.size());
        if (end > used) b->tail = b->head + uint32_t(end);
    });
    v.w1 = std::min(at + written, memory::buffer(n)->length());
}

// --- find, select, sort --------------------------------------------------------------
// string!'s routines read units as characters; a vector's elements are
// typed numbers, so these read them through the element type.

namespace {

// Position of the value (absolute), or -1.
int64_t find_position(const Cell& v, const Cell& value, const actions::FindRefs& r) {
    if (!fits(element_type(v), value)) return -1;
    int64_t head = head_index(v), total = memory::buffer(series_node(v))->length();
    int64_t end = total;
    if (r.part && is(*r.part, Type::integer)) end = std::clamp<int64_t>(head + int_of(*r.part), head, total);
    int64_t skip = r.skip && is(*r.skip, Type::integer) ? std::max(int_of(*r.skip), 1) : 1;
    auto element_equal = [&](int64_t p) {
        Cell e = element_at(v, uint32_t(p));
        return is_float_type(element_type(v)) ? float_of(e) == float_of(value) : int_of(e) == int_of(value);
    };
    if (r.match) return head < end && element_equal(head) ? head : -1;
    if (r.last || r.reverse) {
        int64_t from = r.last ? end - 1 : head - 1, low = r.last ? head : 0;
        for (int64_t p = from; p >= low; p -= skip)
            if (element_equal(p)) return p;
        return -1;
    }
    for (int64_t p = head; p < end; p += skip)
        if (element_equal(p)) return p;
    return -1;
}

template <typename T>
void sort_typed(std::byte* base, size_t n, bool reverse) {
    std::vector<T> items(n);
    std::memcpy(items.data(), base, n * sizeof(T));
    if (reverse)
        std::stable_sort(items.begin(), items.end(), [](T a, T b) { return b < a; });
    else
        std::stable_sort(items.begin(), items.end());
    std::memcpy(base, items.data(), n * sizeof(T));
}


// What a record sort needs to know: records of size elements, compared by
// the element at offset, or by all of them in order.
struct RecordSort {
    Type element = Type::integer;
    uint32_t unit = 4;
    uint32_t size = 1;
    uint32_t offset = 0;
    bool all = false;
    bool reverse = false;
    const Cell* function = nullptr;
};

int compare_records(const void* a, const void* b, std::uintptr_t, std::uintptr_t data) {
    const auto& rs = *reinterpret_cast<const RecordSort*>(data);
    const auto* pa = static_cast<const std::byte*>(a);
    const auto* pb = static_cast<const std::byte*>(b);
    uint32_t first = rs.all ? 0 : rs.offset, last = rs.all ? rs.size : rs.offset + 1;
    int answer = 0;
    for (uint32_t i = first; i < last && answer == 0; ++i) {
        const std::byte* x = pa + size_t(i) * rs.unit;
        const std::byte* y = pb + size_t(i) * rs.unit;
        if (is_float_type(rs.element)) {
            double dx = read_float(x, rs.unit), dy = read_float(y, rs.unit);
            answer = dx < dy ? -1 : dx > dy ? 1 : 0;
        } else {
            bool is_char = rs.element == Type::char_;
            int32_t ix = read_int(x, rs.unit, is_char), iy = read_int(y, rs.unit, is_char);
            answer = ix < iy ? -1 : ix > iy ? 1 : 0;
        }
    }
    return rs.reverse ? -answer : answer;
}

// A record as the comparator function sees it: its first element, or with
// /all a new vector of the whole record.
Cell record_value(const RecordSort& rs, const std::byte* p) {
    if (!rs.all) return get_value(p, rs.unit, rs.element);
    Cell out;
    make_at(out, rs.size, rs.element, rs.unit);
    memory::Series* b = memory::buffer(series_node(out));
    std::memcpy(b->at_head(), p, size_t(rs.size) * rs.unit);
    b->tail = b->head + rs.size * rs.unit;
    return out;
}

int compare_by_function(const void* a, const void* b, std::uintptr_t, std::uintptr_t data) {
    const auto& rs = *reinterpret_cast<const RecordSort*>(data);
    Cell x = record_value(rs, static_cast<const std::byte*>(a));
    collector::Root keep_x(x);
    Cell y = record_value(rs, static_cast<const std::byte*>(b));
    collector::Root keep_y(y);
    // The function answers whether its first argument sorts first; it gets
    // (b, a), so true means a goes after b.
    auto call = string::compare_callback_installed();
    Cell answer = rs.reverse ? call(*rs.function, x, y) : call(*rs.function, y, x);
    return string::comparator_answer(answer);
}

}  // namespace

void find(Args args, const actions::FindRefs& r) {
    int64_t p = find_position(args[0], args[1], r);
    if (p < 0) {
        args[0] = none_cell();
        return;
    }
    args[0].w1 = uint32_t(r.tail || r.match ? p + 1 : p);
}

void select(Args args, const actions::FindRefs& r) {
    int64_t p = find_position(args[0], args[1], r);
    uint32_t total = memory::buffer(series_node(args[0]))->length();
    args[0] = p < 0 || p + 1 >= total ? none_cell() : element_at(args[0], uint32_t(p + 1));
}

void sort(Args args, const actions::SortRefs& r) {
    Cell& v = args[0];
    int64_t head = head_index(v);
    int64_t len = length_of(v);
    if (!string::sort_span(v, r, head, len)) return;
    int64_t size = 1;
    if (r.skip) {
        size = is(*r.skip, Type::integer) ? int_of(*r.skip) : 0;
        if (size < 1 || len % size != 0 || len < size) series::fire_refine_arg("skip", *r.skip);
    }
    if (r.all && !r.skip) errors::fire(errors::id::bad_refines);
    RecordSort rs;
    rs.element = element_type(v);
    rs.unit = unit(v);
    rs.size = uint32_t(size);
    rs.all = r.all;
    rs.reverse = r.reverse;
    if (r.compare) {
        const Cell& c = *r.compare;
        if (is(c, Type::function)) {
            rs.function = &c;
        } else if (is(c, Type::integer)) {
            if (!r.skip || r.all) errors::fire(errors::id::bad_refines);
            if (int_of(c) < 1 || int_of(c) > size) errors::fire(errors::id::out_of_range, &c);
            rs.offset = uint32_t(int_of(c) - 1);
        } else {
            series::fire_refine_arg("compare", c);
        }
    }
    if (rs.function && !string::compare_callback_installed()) errors::fire(errors::id::not_done);
    size_t count = size_t(len / size);
    if (count < 2) return;
    Node node = series_node(v);
    series::with_notify(v, series::Change::sort, int32_t(head), int32_t(len), [&] {
        // Plain element order: a typed sort, no comparator call per pair.
        if (size == 1 && !rs.function) {
            std::byte* base = element_ptr(v, uint32_t(head));
            Type et = rs.element;
            switch (rs.unit) {
            case 1: et == Type::char_ ? sort_typed<uint8_t>(base, count, r.reverse) : sort_typed<int8_t>(base, count, r.reverse); break;
            case 2: et == Type::char_ ? sort_typed<uint16_t>(base, count, r.reverse) : sort_typed<int16_t>(base, count, r.reverse); break;
            case 4:
                if (et == Type::float_) sort_typed<float>(base, count, r.reverse);
                else sort_typed<int32_t>(base, count, r.reverse);
                break;
            default: sort_typed<double>(base, count, r.reverse); break;
            }
            return;
        }
        // The buffer stays put while a script comparator allocates.
        memory::Pin pin(node);
        std::byte* base = memory::buffer(node)->at_head() + size_t(head) * rs.unit;
        auto run = r.stable ? sort::stable_merge : sort::adaptive_quick;
        run(base, count, size_t(size) * rs.unit, 0, reinterpret_cast<std::uintptr_t>(&rs),
            rs.function ? &compare_by_function : &compare_records);
    });
}

void init() {
    actions::Row row;
    row.make = &make;
    actions::inherit_series_slots(row);
    using S = actions::Slot;
    actions::inherit(row, {S::random, S::reflect, S::eval_path, S::copy});
    row.form = &form;
    row.mold = &mold;
    row.compare = &compare;
    row.add = &add;
    row.divide = &divide;
    row.multiply = &multiply;
    row.remainder = &remainder;
    row.subtract = &subtract;
    row.and_t = &and_t;
    row.or_t = &or_t;
    row.xor_t = &xor_t;
    row.append = &append;
    row.change = &change;
    row.find = &find;
    row.insert = &insert;
    row.select = &select;
    row.sort = &sort;
    datatype::register_type(Type::vector, Type::string, "vector!", row);
}


}  // namespace zan::vector
