// binary!: a series of bytes written #{0A1B}.
//
// Cell: w1 head index in bytes, w2 node of a unit-1 buffer, w3 0. It inherits
// navigation, copying, searching, removal, pick and the rest from string! and
// series!, which treat each byte as one unit. What is its own: turning values
// into bytes (to, append, insert, change), the hexadecimal text, unsigned byte
// comparison, the bitwise operations and trimming of zero bytes. A head index
// past the tail reads as the tail.
//
// Values are turned into bytes before a single byte of the target moves, so a
// value that cannot be added leaves the binary as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::binary {

using actions::Args;

// --- low-level helpers ------------------------------------------------------------

// Bytes from the head (0 when the head lies past the tail).
uint32_t rs_length_q(const Cell& bin);
// Address of the byte at the head; re-read after any allocation.
std::byte* rs_head(const Cell& bin);
// The byte at an absolute offset from the buffer's start.
uint8_t rs_abs_at(const Cell& bin, uint32_t offset);
// A new empty binary with room for capacity bytes.
Cell make_value(uint32_t capacity);
Cell& make_at(Cell& cell, uint32_t capacity);
// A new binary holding a copy of the bytes.
Cell load(const void* bytes, size_t length);
// Replaces the content (from the buffer's start) by a copy of the bytes.
void set_data(const Cell& bin, const void* bytes, size_t length);
// Inserts bytes at a byte offset from the head, growing the buffer to at
// least twice its size when it must grow.
void insert_bytes(const Cell& bin, uint32_t offset, const void* bytes, size_t length);
// Writes bytes at a byte offset from the head; the tail moves when they run
// past it.
void write_bytes(const Cell& bin, uint32_t offset, const void* bytes, size_t length);
// Appends a 32-bit integer, most significant byte first.
void append_int32_be(const Cell& bin, uint32_t value);
// The bytes from the head.
std::string bytes_of(const Cell& bin);

// Stores one element for poke: an integer! in -128..255 or a char! up to 255
// as its low byte; anything else raises invalid-arg.
void set_byte(const Cell& bin, uint32_t offset, const Cell& value);

// Compares the bytes of a with those of b (a string-like or binary! value,
// its units from its head), by the comparison codes; -2 when b has no bytes
// to compare. In match mode only b's length is compared, so a binary that
// starts with b matches.
int32_t compare_bytes(const Cell& a, const Cell& b, int32_t op, bool match = false);
// Whether the byte at the head is in the bitset (beyond its size: the
// bitset's complement flag).
bool match_bitset_q(const Cell& bin, const Cell& bits);

// The bytes a value adds to a binary (append, insert and change): part limits
// the bytes (for a block: its values), -1 for no limit. With change_mode a
// value of no byte form adds the UTF-8 of its formed text, else it raises
// bad-to-arg. none adds nothing.
void value_bytes(const Cell& value, int32_t part, bool change_mode, std::string& out);

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type);
void to(Args args, Type type);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void and_t(Args args);
void or_t(Args args);
void xor_t(Args args);
void complement(Args args);
void append(Args args, const Cell* part, bool only, const Cell* dup);
void insert(Args args, const Cell* part, bool only, const Cell* dup);
void change(Args args, const Cell* part, bool only, const Cell* dup);
void trim(Args args, const actions::TrimRefs& r);

// Registers binary! (parent string!) and installs the base encodings.
void init();

}  // namespace zan::binary
