// paren!: a block evaluated in place, molded between parentheses.
#pragma once

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::paren {

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
void init();

}  // namespace zan::paren
