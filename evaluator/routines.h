// The routine registry: the C++ functions behind routine! values.
//
// A routine's code (more-block cell 2) is an index into this registry; the
// boot scripts give each routine its spec and name its C++ function by a
// stable key, so the index can change from build to build while the key stays.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zan::routines {

// A routine reads its arguments at args (spec order, already type-checked)
// and writes its result into args[0].
using Fn = void (*)(Cell* args);

// Registers a function under a key; answers its index (from 1). A key given
// twice keeps its first function.
uint32_t add(std::string_view key, Fn fn);
// The index of a key, 0 when unknown.
uint32_t find(std::string_view key);
Fn at(uint32_t index);
// The key of an index, empty when unknown.
std::string_view key_of(uint32_t index);

// Runs a routine value whose arguments are in place at the argument base.
void exec(const Cell& routine);

// C++ bodies of library functions: a function! whose more block holds such a
// body's index in its code cell runs it in place of its Zan body. A body
// reads the call's arguments, refinements and locals at args and leaves the
// result in args[0], answering the status of its evaluation (0 when it ran
// no script code); it answers -1 for a case it leaves to the Zan body, which
// then runs with the arguments as the C++ body left them.
using BodyFn = int32_t (*)(Cell* args);
uint32_t add_body(std::string_view key, BodyFn fn);
uint32_t find_body(std::string_view key);
BodyFn body_at(uint32_t index);

}  // namespace zan::routines
