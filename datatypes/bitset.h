// bitset!: a growable array of bits indexed from 0, above all a set of
// characters (a bit per code point).
//
// Cell: w2 the node of a unit-1 buffer used from its head; w1 and w3 unused.
// Index i is bit 0x80 >> (i % 8) of byte i / 8. A complemented bitset (flag
// on the buffer) holds every index beyond its stored bytes, so "every
// character but these few" costs a few bytes; growing it fills with 0xFF.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::bitset {

using actions::Args;

// Buffer flag of a complemented bitset.
constexpr uint32_t complement_flag = 1u << 19;

Cell make_cell(Node n);
bool complemented(const Cell& bits);
uint32_t byte_count(const Cell& bits);
uint8_t* rs_head(const Cell& bits);  // re-read after any allocation

// Membership: the stored bit, or the complement flag beyond the bytes (and
// for negative indexes).
bool has(const Cell& bits, int64_t index);
// Grows the bytes to hold index (new bytes 0xFF when complemented, else 0).
uint8_t* grow_to_bit(const Cell& bits, int64_t index);
bool out_of_range_q(const Cell& bits, int64_t index);
void invert_bytes(Node n);
// Each byte as two upper-case hexadecimal digits (inverted first when asked).
int32_t form_bytes(const Cell& bits, Node buffer, bool part, int32_t budget, bool invert);

// The spec language: a character, number, string! or block of them, with
// ranges `low - high` in blocks.
enum class Op : uint8_t { measure = 0, set = 1, test = 2, clear = 3 };
// Chooses the error for a spec of the wrong type.
enum class Caller : uint8_t { make = 0, to = 1, other = 2 };
// measure answers the bytes that hold the highest index named; test answers 1
// when every index is present, else 0; set and clear answer 0.
int64_t process(const Cell& spec, const Cell* bits, Op op, Caller caller);
int64_t process_range(const Cell* bits, int64_t low, int64_t high, Op op);

// A new bitset from a spec (`make` and `to`).
Cell make_from(const Cell& spec, Caller caller);
// and~ 6, or~ 5, xor~ 7; the natives' set operations 8 unique, 9 union,
// 10 intersect, 11 exclude, 12 difference. args[0] and args[1] are the
// operands, the result replaces args[0].
void do_bitwise(Args args, int32_t code);

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type);
void reflect(Args args, uint32_t field_symbol);
void to(Args args, Type type);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void negate(Args args);
void and_t(Args args);
void complement(Args args);
void or_t(Args args);
void xor_t(Args args);
void append(Args args, const Cell* part, bool only, const Cell* dup);
void clear(Args args);
void copy(Args args, const Cell* part, bool deep, const Cell* types);
void find(Args args, const actions::FindRefs& r);
int32_t length_q(const Cell& value);
// args[1] the index spec (and args[2] the value for poke).
void pick(Args args, int32_t index);
void poke(Args args, int32_t index);
void remove(Args args, const Cell* part, const Cell* key);
void modify(Args args, bool case_);

// Registers bitset! (no parent).
void init();

}  // namespace zan::bitset
