// What the series datatypes use of subsystems that are built elsewhere: symbols,
// series ownership, the random generator and the byte hash. One place to adapt
// when those interfaces change.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zan::series::services {

// The symbol id of a NUL-terminated UTF-8 name.
uint32_t symbol_of(const char* name);

// The symbol id of a string!'s text from its head.
uint32_t symbol_of_string(const Cell& string);
// The node of the global context.
Node global_context();

// The canonical id of a symbol's case-insensitive class.
uint32_t symbol_canonical(uint32_t id);

// The cycle guard shared by mold, compare and deep copies.
void cycle_push(Node n);
void cycle_pop();
bool cycle_find(Node n);
void cycle_reset();

// Text output of form and mold: appends ASCII text to a string buffer; the
// last character of the buffer (-1 when empty).
void text_append(Node buffer, const char* text);
int32_t text_last(Node buffer);

// Record sorts: stable (merge) or not (quick); the callback answers negative,
// 0 or positive. Callback errors propagate.
using RecordCompare = int32_t (*)(const void* a, const void* b, int32_t mode, int32_t flags);
void sort_records(void* base, int32_t count, uint32_t size, bool stable, int32_t mode,
                  int32_t flags, RecordCompare cmp);

// Reports a change of the series to its owner; answers whether it has one.
bool ownership_check(const Cell& series, const char* action, int32_t index, int32_t count);
// The owner object of a series buffer, or nullptr.
const Cell* owner_of(Node n);
void ownership_bind(const Cell& series, const Cell& owner, const Cell& word);
void ownership_unbind(const Cell& series);

void random_seed(uint32_t seed);
// Uniform in 1 ... n.
int32_t random_int_range(bool secure, int32_t n);
uint32_t murmur3(const void* bytes, size_t length);

}  // namespace zan::series::services
