// Typed arrays: an ordinary series buffer used as a growable array of bytes or
// of 32-bit words. The hash table keeps its duplicate lists and position
// indexes in them.
//
// Positions are 1-based in the pick and poke routines and 0-based byte offsets
// in the find routines. "Pointer" words are 32-bit node handles. A pick or poke
// outside the array raises the out-of-range error; every growth may collect, so
// callers keep the node, not the buffer's address, across appends and inserts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zan::array {

// A series with room for count units of unit bytes (1, 2, 4 or 16), empty.
Node make(uint32_t count, uint32_t unit);
uint32_t length(Node a);  // in units
void clear(Node a);
// Sets the length to n - 1 units (n of 0 or 1 empties the array), within the
// capacity.
void set_last(Node a, uint32_t n);
Node copy(Node a);
std::byte* head(Node a);  // valid until the next allocation

void append_byte(Node a, uint8_t b);
uint8_t pick_byte(Node a, uint32_t i);
// The bytes must not lie in a series buffer: growing may move it.
void append_bytes(Node a, const void* bytes, std::size_t n);
void remove_bytes(Node a, uint32_t offset, uint32_t n);  // cut to what is there

void append_int(Node a, uint32_t v);
uint32_t pick_int(Node a, uint32_t i);
void insert_int(Node a, uint32_t v, uint32_t i);  // before 0-based index i (i <= length)
int32_t find_int(Node a, uint32_t v);             // byte offset, -1 when absent

uint32_t pick_ptr(Node a, uint32_t i);
void poke_ptr(Node a, uint32_t i, uint32_t p);
void remove_ptr(Node a, uint32_t p);  // the first equal word, if any

}  // namespace zan::array

namespace zan::series {

// The same as array::append_int and array::find_int, for callers that hold a
// plain series.
void append_int(Node s, uint32_t v);
int32_t find_ptr(Node s, uint32_t p);

}  // namespace zan::series
