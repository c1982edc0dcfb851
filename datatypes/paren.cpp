// paren!: a block that the evaluator evaluates in place. It shares every block
// routine and only molds between parentheses.
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"

namespace zan::paren {

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    if (mold::cycle_detect(value, buffer, budget, true)) return budget;
    if (!flags.only) budget = mold::append(buffer, "(", budget);
    budget = block::mold_each(value, buffer, flags, part, budget, indent);
    if (!flags.only) budget = mold::append(buffer, ")", budget);
    return budget;
}

// Registers paren! (parent block!): every slot but mold and trim is the block's.
void init() {
    actions::Row r;
#define ZAN_INHERIT(n, name, word, result, params) \
    r.name = actions::SlotValue<actions::Fn_##name>::inherited();
    ZAN_ACTION_LIST(ZAN_INHERIT)
#undef ZAN_INHERIT
    r.mold = mold;
    r.trim = {};
    datatype::register_type(Type::paren, Type::block, "paren!", r);
}

}  // namespace zan::paren
