// tag!: a string! written between angle brackets, <b>.
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "datatypes/text_kinds.h"

namespace zan::tag {

namespace {

int32_t form(const Cell& v, Node buffer, bool part, int32_t budget) {
    budget = mold::append(buffer, "<", budget);
    budget = string::form(v, buffer, part, budget);
    return mold::append(buffer, ">", budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool part, int32_t budget, int32_t) {
    return form(v, buffer, part, budget);
}

}  // namespace

void init() {
    actions::Row row;
    actions::inherit_series_slots(row);
    using S = actions::Slot;
    actions::inherit(row, {S::make, S::reflect, S::to, S::eval_path, S::compare, S::append,
                           S::change, S::copy, S::find, S::insert, S::put, S::select, S::swap});
    row.form = form;
    row.mold = mold;
    datatype::register_type(Type::tag, Type::string, "tag!", row);
}

}  // namespace zan::tag
