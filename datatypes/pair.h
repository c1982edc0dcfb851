// pair!: two 32-bit integers, x in w2 and y in w3 (10x20).
//
// Arithmetic is integer arithmetic per component; a step that overflows 32
// bits or divides unevenly redoes the whole operation in point2D! terms.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::pair {

void make_at(Cell& cell, int32_t x, int32_t y);
Cell* make_in(const Cell& block, int32_t x, int32_t y);

// The point2D! of the same coordinates.
Cell to_point(const Cell& pair);

// Operator codes as integer::add ... integer::xor_.
void do_math(actions::Args args, int op);

void init();

}  // namespace zan::pair
