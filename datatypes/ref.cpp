// ref!: a string! molded after an "@" (@abc) and formed without it.
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "datatypes/text_kinds.h"

namespace zan::ref {

namespace {

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool part, int32_t budget, int32_t) {
    budget = mold::append(buffer, "@", budget);
    return string::form(v, buffer, part, budget);
}

}  // namespace

void init() {
    actions::Row row;
    actions::inherit_series_slots(row);
    using S = actions::Slot;
    actions::inherit(row, {S::make, S::reflect, S::to, S::form, S::compare, S::change, S::copy,
                           S::find, S::insert, S::select, S::swap});
    row.mold = mold;
    datatype::register_type(Type::ref, Type::string, "ref!", row);
}

}  // namespace zan::ref
