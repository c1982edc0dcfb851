// time!: seconds in a double (w2 low half, w3 high half), parent float!.
//
// Fields: hour truncates toward zero, minute is 0-59 of the magnitude, second
// keeps the sign (-1:30:15 reads -1, 30, -15.0). A path set writes the field
// back so that reading it again gives what was set, whatever the sign.
#include "datatypes/time.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/scalar.h"
#include "runtime/errors.h"

namespace zan::time_ {

namespace {

constexpr std::initializer_list<const char*> fields = {"hour", "minute", "second"};

// make and to: seconds, [h m s], or text that loads as a time.
void make(actions::Args args, Type) {
    const Cell spec = args[1];
    double t = 0;
    switch (type_of(spec)) {
    case Type::time: args[0] = spec; return;
    case Type::integer: t = int_of(spec); break;
    case Type::float_:
    case Type::percent: t = float_of(spec); break;
    case Type::block:
    case Type::paren:
    case Type::hash: {
        uint32_t n;
        const Cell* v = scalar::block_values(spec, n);
        if (n > 3) scalar::bad_to_arg(Type::time, spec);
        bool negative = false;
        for (uint32_t i = 0; i < n; ++i) {
            double part;
            if (is(v[i], Type::integer)) part = int_of(v[i]);
            else if (i == 2 && is(v[i], Type::float_)) part = float_of(v[i]);
            else scalar::bad_to_arg(Type::time, spec);
            if (part < 0) {
                // Only the hours may carry the sign of the whole duration.
                if (i > 0) scalar::bad_to_arg(Type::time, spec);
                negative = true;
                part = -part;
            }
            t += part * (i == 0 ? 3600.0 : i == 1 ? 60.0 : 1.0);
        }
        if (negative) t = -t;
        break;
    }
    default: {
        Cell loaded;
        if (!scalar::load_first(spec, Type::time, loaded)) scalar::bad_to_arg(Type::time, spec);
        args[0] = loaded;
        clear_newline(args[0]);
        return;
    }
    }
    args[0] = float_cell(t, Type::time);
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    return write(float_of(v), buffer, budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return write(float_of(v), buffer, budget);
}

// A field value as paths and pick answer it.
Cell field_value(double t, int32_t field) {
    switch (field) {
    case 1: {
        double h = hour_of(t);
        if (integer::float_out_of_range(h)) errors::fire(errors::id::overflow);
        return integer_cell(int32_t(h));
    }
    case 2: return integer_cell(minute_of(t));
    default: return float_cell(second_of(t));
    }
}

// Each field set so that reading it back gives the value set.
double with_field(double t, int32_t field, const Cell& value) {
    switch (field) {
    case 1:
        if (!is(value, Type::integer)) scalar::invalid_arg(value);
        return t + (double(int_of(value)) - hour_of(t)) * 3600.0;
    case 2: {
        if (!is(value, Type::integer)) scalar::invalid_arg(value);
        double a = std::fabs(t);
        a -= (double(minute_of(t)) - double(int_of(value))) * 60.0;
        return std::signbit(t) ? -a : a;
    }
    default: {
        double s;
        if (is(value, Type::integer)) s = int_of(value);
        else if (is(value, Type::float_)) s = float_of(value);
        else scalar::invalid_arg(value);
        return t - (second_of(t) - s);
    }
    }
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    int32_t field = scalar::field_of(*s.element, fields);
    if (field < 1 || field > 3) scalar::invalid_path(s);
    double t = float_of(parent);
    if (!s.value_to_set) {
        result = field_value(t, field);
        return;
    }
    Cell value = *s.value_to_set;
    set_float(scalar::target(parent), with_field(t, field, value));
    result = value;
}

void pick(actions::Args args, int32_t index) {
    const Cell& by = args[1];
    if (is(by, Type::word)) {
        index = scalar::field_of_word(by, fields);
        if (index == 0) scalar::cannot_use(by, args[0]);
    }
    if (index < 1 || index > 3) scalar::out_of_range(by);
    args[0] = field_value(float_of(args[0]), index);
}

void add(actions::Args args) {
    if (is(args[1], Type::date)) {
        // The date does the work, with the time on its right.
        std::swap(args[0], args[1]);
        auto fn = datatype::row(Type::date).add.fn;
        if (!fn) scalar::invalid_type_of(args[0]);
        fn(args);
        return;
    }
    float_::do_math(args, integer::add);
}

void subtract(actions::Args args) {
    if (is(args[1], Type::date)) scalar::not_related_op(integer::subtract, Type::time);
    float_::do_math(args, integer::subtract);
}

void multiply(actions::Args args) {
    if (is(args[1], Type::time)) scalar::not_related_op(integer::multiply, Type::time);
    float_::do_math(args, integer::multiply);
}

void divide(actions::Args args) {
    bool ratio = is(args[1], Type::time);
    float_::do_math(args, integer::divide);
    if (ratio) set_type(args[0], Type::float_);
}

void round(actions::Args args, const actions::RoundRefs& r) {
    if (r.to && is(*r.to, Type::money)) scalar::not_related(Type::money);
    set_type(args[0], Type::float_);
    float_::round(args, r);
    double t = is(args[0], Type::integer) ? double(int_of(args[0])) : float_of(args[0]);
    args[0] = float_cell(t, Type::time);
}

// The parity of the whole seconds field, nudged off rounding noise.
int64_t whole_seconds(const Cell& v) {
    double t = float_of(v);
    t += t >= 0 ? 0.000001 : -0.000001;
    return int64_t(std::fmod(t, 60.0));
}
bool even_q(const Cell& v) { return (whole_seconds(v) & 1) == 0; }
bool odd_q(const Cell& v) { return (whole_seconds(v) & 1) != 0; }

template <typename Fn>
actions::SlotValue<Fn> inherited() {
    return actions::SlotValue<Fn>::inherited();
}

}  // namespace

double hour_of(double t) { return std::trunc(t / 3600.0); }
int32_t minute_of(double t) { return int32_t(std::floor(std::fmod(std::fabs(t), 3600.0) / 60.0)); }
double second_of(double t) { return std::fmod(t, 60.0); }

Cell make_cell_of(double seconds) { return float_cell(seconds, Type::time); }
void make_at(Cell& cell, double seconds) { cell = make_cell_of(seconds); }
Cell* make_in(const Cell& block, uint32_t low, uint32_t high) {
    return block::rs_append(block, zan::make_cell(Type::time, 0, low, high));
}

int32_t write(double t, Node buffer, int32_t budget) {
    if (!std::isfinite(t)) return mold::append(buffer, float_::to_text(t, 1), budget);
    if (std::signbit(t) && t != 0) {
        budget = mold::append(buffer, "-", budget);
        t = -t;
    }
    // Hours are written from the double: they may pass 32 bits.
    char text[48];
    std::snprintf(text, sizeof text, "%.0f:%02d:", std::floor(t / 3600.0),
                  int(std::floor(std::fmod(t, 3600.0) / 60.0)));
    budget = mold::append(buffer, text, budget);
    double s = std::fmod(t, 60.0);
    if (s < 0.000001) return mold::append(buffer, "00", budget);
    const char* digits = float_::to_text(s, 4);
    if (std::strlen(digits) == 1 || digits[1] == '.') budget = mold::append(buffer, "0", budget);
    return mold::append(buffer, digits, budget);
}

void init() {
    actions::Row row;
    row.make = make;
    row.random = inherited<actions::Fn_random>();
    row.to = make;
    row.form = form;
    row.mold = mold;
    row.eval_path = eval_path;
    row.compare = inherited<actions::Fn_compare>();
    row.absolute = inherited<actions::Fn_absolute>();
    row.add = add;
    row.divide = divide;
    row.multiply = multiply;
    row.negate = inherited<actions::Fn_negate>();
    row.remainder = inherited<actions::Fn_remainder>();
    row.round = round;
    row.subtract = subtract;
    row.even_q = even_q;
    row.odd_q = odd_q;
    row.pick = pick;
    datatype::register_type(Type::time, Type::float_, "time!", row);
}

}  // namespace zan::time_
