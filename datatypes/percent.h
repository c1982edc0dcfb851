// percent!: a float! (the fraction, 50% is 0.5) that writes itself as a
// percentage; every other slot is float!'s.
//
// triple!: three 32-bit integers in w1, w2, w3, which can only be written.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zan::percent {
void make_at(Cell& cell, double fraction);
// Appends a percent! made of the double's two 32-bit halves to a block.
Cell* make_in(const Cell& block, uint32_t low, uint32_t high);
void init();
}  // namespace zan::percent

namespace zan::triple {
void init();
}  // namespace zan::triple
