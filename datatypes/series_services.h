// What the series datatypes use of subsystems that are built elsewhere: symbols,
// series ownership, the random generator and the byte hash. One place to adapt
// when those interfaces change.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zan::series::services {

// The symbol id of a NUL-terminated UTF-8 name.
uint32_t symbol_of(const char* name);

// The symbol id of a string!'s text from its head.
uint32_t symbol_of_string(const Cell& string);

// The canonical id of a symbol's case-insensitive class.
uint32_t symbol_canonical(uint32_t id);

// Reports a change of the series to its owner; answers whether it has one.
bool ownership_check(const Cell& series, const char* action, int32_t index, int32_t count,
                     const Cell* value = nullptr);
// The owner object of a series buffer, or nullptr.
const Cell* owner_of(Node n);
// Before cells of an owned block are removed or overwritten: the values in them
// leave the owner.
void ownership_release(const Cell& series, int32_t index, int32_t count);
// After cells were put into an owned block: the values in them join its owner.
void ownership_adopt(const Cell& series, int32_t index, int32_t count);
void ownership_bind(const Cell& series, const Cell& owner, const Cell& word);
void ownership_unbind(const Cell& series);

void random_seed(uint32_t seed);
// Uniform in 1 ... n.
int32_t random_int_range(bool secure, int32_t n);
uint32_t murmur3(const void* bytes, size_t length);

}  // namespace zan::series::services
