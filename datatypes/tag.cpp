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

#define ZAN_INHERIT(slot) row.slot = decltype(row.slot)::inherited()

void init() {
    actions::Row row;
    ZAN_INHERIT(make);
    ZAN_INHERIT(reflect);
    ZAN_INHERIT(to);
    row.form = form;
    row.mold = mold;
    ZAN_INHERIT(eval_path);
    ZAN_INHERIT(compare);
    ZAN_INHERIT(append);
    ZAN_INHERIT(at);
    ZAN_INHERIT(back);
    ZAN_INHERIT(change);
    ZAN_INHERIT(clear);
    ZAN_INHERIT(copy);
    ZAN_INHERIT(find);
    ZAN_INHERIT(head);
    ZAN_INHERIT(head_q);
    ZAN_INHERIT(index_q);
    ZAN_INHERIT(insert);
    ZAN_INHERIT(length_q);
    ZAN_INHERIT(move);
    ZAN_INHERIT(next);
    ZAN_INHERIT(pick);
    ZAN_INHERIT(poke);
    ZAN_INHERIT(put);
    ZAN_INHERIT(remove);
    ZAN_INHERIT(reverse);
    ZAN_INHERIT(select);
    ZAN_INHERIT(skip);
    ZAN_INHERIT(swap);
    ZAN_INHERIT(tail);
    ZAN_INHERIT(tail_q);
    ZAN_INHERIT(take);
    ZAN_INHERIT(modify);
    datatype::register_type(Type::tag, Type::string, "tag!", row);
}

}  // namespace zan::tag
