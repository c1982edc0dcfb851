// series!: the abstract parent of every series datatype.
//
// Its routines work on a buffer of any unit size (1, 2, 4 or 16 bytes per
// element), so strings, binaries and vectors inherit navigation, removal,
// reversal, copying and shuffling from here. A value's head may lie past the
// tail after another value of the same buffer shortened it; every routine
// below tolerates that.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zan::series {

using actions::Args;

// --- helpers ------------------------------------------------------------------

memory::Series* buffer_of(const Cell& s);
uint32_t unit_of(const Cell& s);
// Elements in the whole used buffer, ignoring the head.
int32_t buffer_length(const Cell& s);
bool rs_tail_q(const Cell& s);
// Moves the head n elements on unless that passes the tail; answers whether the
// position is at or past the tail.
bool rs_skip(Cell& s, int32_t n);
// Elements from the head (or from 0 when absolute); a head past the tail is
// clamped to the tail in the value and the answer is 0.
int32_t get_length(Cell& s, bool absolute = false);
// at (base 1) and skip (base 0): args[1] is the integer offset.
void get_position(Args args, int32_t base);

bool is_block_like(Type t);   // elements are cells
bool is_string_like(Type t);  // elements are code points
bool is_series(Type t);       // any type whose values reference a series buffer

// Element p (0-based, absolute) as a value: a cell, an integer! byte or a char!.
Cell element_at(const Cell& s, int32_t p);

// The limit of a /part refinement as a count from the head: an integer!, or a
// position in the same buffer. Anything else raises invalid-refine-arg naming
// the refinement.
int32_t part_count(const Cell& s, const Cell& limit, const char* refinement);

// A refinement! word for error arguments ("part" gives /part).
Cell refinement_word(const char* name);
[[noreturn]] void fire_refine_arg(const char* refinement, const Cell& arg);

// Byte size of count elements of unit bytes, raising no-memory past 32 bits.
uint32_t checked_size(uint64_t count, uint64_t unit);
// Makes room for extra more bytes at the tail; grows to twice the need when
// doubling, else exactly. Answers the buffer (re-read: it may have moved).
memory::Series* ensure_room(Node n, uint64_t extra, bool doubling = true);
// Opens a gap of bytes at byte offset at from the buffer's head.
memory::Series* open_gap(Node n, uint32_t at, uint32_t bytes, bool doubling = true);
// Closes a gap of bytes at byte offset at from the buffer's head.
void close_gap(Node n, uint32_t at, uint32_t bytes);
// A new series of the value's type, head 0, holding count elements from
// absolute position start; the new buffer keeps the unit.
Cell copy_range(const Cell& s, int32_t start, int32_t count);

// hash!: w3 names the hash table over its cells. After a change to the cells
// the table is brought in line: rebuilt, or given the cells appended at the
// tail from position `from`.
Node hash_table_of(const Cell& s);
void reindex(const Cell& s);
void index_appended(const Cell& s, int32_t from);

// The first size bytes of buf hold one element; repeats it count times in place.
std::byte* fill_repeat(std::byte* buf, uint32_t size, uint32_t count);

// --- change reports to the series' owner -----------------------------------------

enum class Change : uint8_t {
    random, clear, remove, reverse, take, poke, move,
    append, insert, change, put, sort, swap, trim,
};
// Reports the change about to happen; answers whether the series has an owner,
// in which case the caller reports it again with notify_after.
// `value`, when given, is what the change puts in (the handler's `new`).
bool notify_before(const Cell& s, Change c, int32_t index, int32_t count,
                   const Cell* value = nullptr);
void notify_after(const Cell& s, Change c, int32_t index, int32_t count,
                  const Cell* value = nullptr);
// The two words of a change: "append" and "appended" and so on.
const char* change_word(Change c, bool after);

// Reports before and, when owned, after the change done by the body.
template <typename Body>
void with_notify(const Cell& s, Change c, int32_t index, int32_t count, Body&& body) {
    bool owned = notify_before(s, c, index, count);
    body();
    if (owned) notify_after(s, c, index, count);
}
// The same, telling the handler the value put in.
template <typename Body>
void with_notify_value(const Cell& s, Change c, int32_t index, int32_t count, const Cell& value,
                       Body&& body) {
    bool owned = notify_before(s, c, index, count, &value);
    body();
    if (owned) notify_after(s, c, index, count, &value);
}

// --- actions ---------------------------------------------------------------------

void random(Args args, bool seed, bool secure, bool only);
void reflect(Args args, uint32_t field_symbol);
void at(Args args);
void back(Args args);
void clear(Args args);
void copy(Args args, const Cell* part, bool deep, const Cell* types);
void head(Args args);
void head_q(Args args);
void index_q(Args args);
int32_t length_q(const Cell& value);
void move(Args args, const Cell* part);
void next(Args args);
void pick(Args args, int32_t index);
void poke(Args args, int32_t index);
void remove(Args args, const Cell* part, const Cell* key);
void reverse(Args args, const Cell* part, const Cell* skip);
void skip(Args args);
void tail(Args args);
void tail_q(Args args);
void take(Args args, const Cell* part, bool deep, bool last);
void modify(Args args, bool case_);

// Registers series! (no parent).
void init();

}  // namespace zan::series
