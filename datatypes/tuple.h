// tuple!: 3 to 12 unsigned bytes held in the cell (1.2.3, 255.0.0.128), the
// length in header bits 19-22. Arithmetic works byte by byte and clamps every
// result to 0-255.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::tuple {

// A tuple of up to 12 bytes; fewer than 3 are padded with zeros.
Cell make_of(const uint8_t* bytes, int count);
Cell* make_in(const Cell& block, const uint8_t* bytes, int count);

// True when every byte is 0.
bool zero_q(const Cell& t);

// Operator codes as integer::add ... integer::xor_; the tuple in args[0].
void do_math(actions::Args args, int op);

void init();

}  // namespace zan::tuple
