// issue!: a word-shaped value written with a leading "#", never bound to a
// variable: w1 the global context, w2 the symbol, w3 -1.
#pragma once

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::issue {

// Writes the issue named by the NUL-terminated UTF-8 text into the cell.
Cell& make_at(Cell& cell, const char* name);
// The same in a new cell appended to the block; answers the cell.
Cell* make_in(const Cell& block, const char* name);

void make(actions::Args args, Type type);  // also the to slot
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t compare(const Cell& a, const Cell& b, int32_t op);

// Registers issue! (parent word!).
void init();

}  // namespace zan::issue
