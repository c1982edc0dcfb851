// The runtime's side of the system object (library/system.zan): the routine
// behind system/options/float's change handler, and the fields the runtime
// fills and reads.
#pragma once

#include <initializer_list>

#include "runtime/cell.h"

namespace zan::system_object {

// The value slot at a path of field names from the global word `system`;
// null when a step is missing or not an object.
Cell* field(std::initializer_list<const char*> path);

// After the boot scripts: puts the error catalogue, the standard error object
// and the lexer's exit-state words in, and lets error forms read
// system/state/stack-trace.
void install();

}  // namespace zan::system_object
