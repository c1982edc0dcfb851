// Stand-in for the callable datatypes (native!, action!, op!, function!,
// routine!) until their own code lands: construction, registration and their
// text forms, as far as the interpreter and the boot scripts need them.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zan::callable {

// A new function! from a spec block and a body (deep-copied and bound to the
// function's locals); answers it, also rooted on the value stack top.
Cell function_push(const Cell& spec, const Cell& body);

// A new routine! from its spec and a routine-registry index.
Cell routine_make(const Cell& spec, uint32_t index);

// Registers native!, action!, op!, function! and routine!.
void init();

}  // namespace zan::callable
