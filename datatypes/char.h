// char!: one Unicode code point, 0 to 0x10FFFF. It inherits from integer! and
// reuses the integer core, but results stay characters and must stay in range.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::character {

constexpr uint32_t max_code_point = 0x10FFFF;

// Appends a char! to a block.
Cell* make_in(const Cell& block, uint32_t cp);

void do_math(actions::Args args, int op);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void init();

}  // namespace zan::character
