// handle!: an opaque handle carried as a value. w1 the class (0 none, 1 fd,
// 2 monitor, 3 window, 4 font, 5 rich-text), w2 the value (a 32-bit index
// into a handle table, never a pointer), w3 -1.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::handle {

enum Class : uint32_t { null = 0, fd = 1, monitor = 2, window = 3, font = 4, rich_text = 5 };

Cell make_cell_of(uint32_t value, uint32_t cls);
void make_at(Cell& cell, uint32_t value, uint32_t cls);
Cell* make_in(const Cell& block, uint32_t value, uint32_t cls);

void init();

}  // namespace zan::handle
