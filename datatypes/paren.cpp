// paren!: a block that the evaluator evaluates in place. It shares every block
// routine and only molds between parentheses.
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series_services.h"

namespace zan::paren {

namespace svc = series::services;

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    if (svc::cycle_find(series_node(value))) {
        svc::text_append(buffer, "(...)");
        return budget - 5;
    }
    if (!flags.only) {
        svc::text_append(buffer, "(");
        --budget;
    }
    budget = block::mold_each(value, buffer, flags, part, budget, indent);
    if (!flags.only) {
        svc::text_append(buffer, ")");
        --budget;
    }
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
