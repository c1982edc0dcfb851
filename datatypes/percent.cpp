// percent!: float!'s arithmetic, conversion and comparison on the fraction;
// its own text is the fraction times 100 with up to 13 digits and a "%".
#include "datatypes/percent.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/mold.h"

namespace zan::percent {

namespace {

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    return mold::append(buffer, float_::to_text(float_of(v) * 100.0, 3), budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return form(v, buffer, false, budget);
}

}  // namespace

void make_at(Cell& cell, double fraction) { cell = float_cell(fraction, Type::percent); }
Cell* make_in(const Cell& block, uint32_t low, uint32_t high) {
    return block::rs_append(block, make_cell(Type::percent, 0, low, high));
}

#define ZAN_INHERIT(slot) row.slot = decltype(row.slot)::inherited()

void init() {
    actions::Row row;
    ZAN_INHERIT(make);
    ZAN_INHERIT(random);
    ZAN_INHERIT(to);
    row.form = form;
    row.mold = mold;
    ZAN_INHERIT(compare);
    ZAN_INHERIT(absolute);
    ZAN_INHERIT(add);
    ZAN_INHERIT(divide);
    ZAN_INHERIT(multiply);
    ZAN_INHERIT(negate);
    ZAN_INHERIT(power);
    ZAN_INHERIT(remainder);
    ZAN_INHERIT(round);
    ZAN_INHERIT(subtract);
    ZAN_INHERIT(even_q);
    ZAN_INHERIT(odd_q);
    datatype::register_type(Type::percent, Type::float_, "percent!", row);
}

#undef ZAN_INHERIT

}  // namespace zan::percent
