// Small runtime services that compiled and interpreted code share: finding a
// switch case.
#pragma once

#include "datatypes/cell.h"

namespace zan::interp {

// Searches a cases block for a value: a case matches when it has the value's
// type and is equal to it (so 1 never matches 1.0); a block value matches
// nothing. Interpreted cases are read one cell at a time, compiled ones
// alternate value and branch marker. With to_block the answer is the first
// block after the match, else the cell after it (the match itself when it is
// the last). No match, or no block after it, answers none.
Cell switch_find(const Cell& value, const Cell& cases, bool interpreted, bool to_block);

}  // namespace zan::interp
