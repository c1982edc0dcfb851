// unset!, none! and logic!.
//
// A logic! value is true only when w1 is exactly 1; any other w1 is false.
// unset and none answer their own value for make and to, whatever the spec;
// none also answers none for the series actions a script may try on it.
#include "datatypes/logic.h"
#include "codecs/random.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "runtime/errors.h"

namespace zan {

bool logic::equality_or_sort(int32_t op) {
    switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12: return true;
    default: return false;
    }
}

using logic::equality_or_sort;

namespace {

// unset! and none! equal only a value of their own type and have no order.
template <Type T>
int32_t compare_unit(const Cell&, const Cell& b, int32_t op) {
    return is(b, T) && equality_or_sort(op) ? 0 : -2;
}

// The row both start from: make and to answer the value itself.
actions::Row unit_row(actions::Fn_make make, actions::Fn_form form, actions::Fn_mold mold,
                      actions::Fn_compare compare) {
    actions::Row r;
    r.make = make;
    r.to = make;
    r.form = form;
    r.mold = mold;
    r.compare = compare;
    return r;
}

}  // namespace

// --- unset! -------------------------------------------------------------------

namespace unset {
namespace {
void make(actions::Args args, Type) { args[0] = unset_cell(); }
int32_t form(const Cell&, Node, bool, int32_t budget) { return budget; }
int32_t mold(const Cell&, Node buffer, actions::MoldFlags f, bool, int32_t budget, int32_t) {
    return mold::append(buffer, f.all ? "#(unset)" : "unset", budget);
}
}  // namespace

void init() {
    actions::Row r = unit_row(make, form, mold, compare_unit<Type::unset>);
    datatype::register_type(Type::unset, Type::any, "unset!", r);
}

Cell* make_in(const Cell& block) { return block::rs_append(block, unset_cell()); }
}  // namespace unset

// --- none! --------------------------------------------------------------------

namespace none {
namespace {
void make(actions::Args args, Type) { args[0] = none_cell(); }
void answer_none(actions::Args args) { args[0] = none_cell(); }
int32_t form(const Cell&, Node buffer, bool, int32_t budget) {
    return mold::append(buffer, "none", budget);
}
int32_t mold(const Cell&, Node buffer, actions::MoldFlags f, bool, int32_t budget, int32_t) {
    return mold::append(buffer, f.all ? "#(none)" : "none", budget);
}
void find(actions::Args args, const actions::FindRefs&) { answer_none(args); }
void remove(actions::Args args, const Cell*, const Cell*) { answer_none(args); }
void take(actions::Args args, const Cell*, bool, bool) { answer_none(args); }
int32_t length(const Cell&) { return -1; }
}  // namespace

void init() {
    actions::Row r = unit_row(make, form, mold, compare_unit<Type::none>);
    r.clear = answer_none;
    r.find = find;
    r.length_q = length;
    r.remove = remove;
    r.select = find;
    r.take = take;
    datatype::register_type(Type::none, Type::any, "none!", r);
}

Cell* make_in(const Cell& block) { return block::rs_append(block, none_cell()); }
}  // namespace none

// --- logic! -------------------------------------------------------------------

namespace logic {
namespace {

void to(actions::Args args, Type) {
    const Cell& spec = args[1];
    if (is(spec, Type::logic)) {
        args[0] = spec;
        return;
    }
    args[0] = logic_cell(!is(spec, Type::none));
}

// make reads numbers by their value; everything else as to.
void make(actions::Args args, Type t) {
    const Cell& spec = args[1];
    switch (type_of(spec)) {
    case Type::integer: args[0] = logic_cell(int_of(spec) != 0); return;
    case Type::float_:
    case Type::percent: args[0] = logic_cell(float_of(spec) != 0.0); return;
    default: to(args, t);
    }
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    return mold::append(buffer, logic_of(v) ? "true" : "false", budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags f, bool, int32_t budget, int32_t) {
    if (f.all) return mold::append(buffer, logic_of(v) ? "#(true)" : "#(false)", budget);
    return form(v, buffer, false, budget);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::logic) || !equality_or_sort(op)) return -2;
    return int32_t(a.w1) - int32_t(b.w1);
}

void complement(actions::Args args) { args[0].w1 ^= 1; }

// True for the upper half of the generator's 31-bit range.
void random_(actions::Args args, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(int32_t(args[0].w1));
        args[0] = unset_cell();
        return;
    }
    args[0] = logic_cell(random::draw(secure) > 0x3FFFFFFF);
}

const Cell& second_logic(actions::Args args) {
    if (!is(args[1], Type::logic)) errors::expect_arg(args[1], 2);
    return args[1];
}
void and_t(actions::Args args) { args[0].w1 &= second_logic(args).w1; }
void or_t(actions::Args args) { args[0].w1 |= second_logic(args).w1; }
void xor_t(actions::Args args) { args[0].w1 ^= second_logic(args).w1; }

}  // namespace

void init() {
    actions::Row r;
    r.make = make;
    r.random = random_;
    r.to = to;
    r.form = form;
    r.mold = mold;
    r.compare = compare;
    r.and_t = and_t;
    r.complement = complement;
    r.or_t = or_t;
    r.xor_t = xor_t;
    datatype::register_type(Type::logic, Type::any, "logic!", r);
}

Cell* make_in(const Cell& block, bool flag) { return block::rs_append(block, logic_cell(flag)); }

bool value_true(const Cell& value, bool check, const Cell* word) {
    if (check && is(value, Type::unset)) {
        Cell w = word ? *word : none_cell();
        errors::fire(errors::id::no_value, &w);
    }
    return is_truthy(value);
}

bool condition_true(const Cell& result) {
    if (is(result, Type::unset)) errors::fire(errors::id::no_return);
    return is_truthy(result);
}

}  // namespace logic

}  // namespace zan
