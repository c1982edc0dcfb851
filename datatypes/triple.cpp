// triple!: three signed integers, written as make triple! [1 -2 3].
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/percent.h"

namespace zan::triple {

namespace {

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    std::string text = "make triple! [";
    text += integer::form_signed(triple_at(v, 0));
    text += ' ';
    text += integer::form_signed(triple_at(v, 1));
    text += ' ';
    text += integer::form_signed(triple_at(v, 2));
    text += ']';
    return mold::append(buffer, text, budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return form(v, buffer, false, budget);
}

}  // namespace

void init() {
    actions::Row row;
    row.form = form;
    row.mold = mold;
    datatype::register_type(Type::triple, Type::any, "triple!", row);
}

}  // namespace zan::triple
