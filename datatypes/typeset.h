// typeset!: a set of datatypes as a 96-bit mask in w1, w2 and w3.
//
// Bytes 0-11 of the mask are the bytes of w1, w2, w3 in memory order (each
// word little-endian); type id t is bit 0x80 >> (t % 8) of byte t / 8. The
// boot image and the serialisation format store typesets as these bytes.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::typeset {

namespace detail {
inline uint32_t& word(Cell& c, int t) { return t < 32 ? c.w1 : t < 64 ? c.w2 : c.w3; }
inline uint32_t word(const Cell& c, int t) { return t < 32 ? c.w1 : t < 64 ? c.w2 : c.w3; }
// 0x80 >> (t % 8) within byte (t % 32) / 8 of the word: flipping the low
// three bits of t % 32 gives that bit's number.
inline uint32_t bit(int t) { return 1u << ((t & 31) ^ 7); }
}  // namespace detail

inline Cell make(uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
    return make_cell(Type::typeset, w1, w2, w3);
}
inline bool has(const Cell& set, Type t) {
    return (detail::word(set, int(t)) & detail::bit(int(t))) != 0;
}
inline void add(Cell& set, Type t) { detail::word(set, int(t)) |= detail::bit(int(t)); }
inline void clear_bits(Cell& set) { set.w1 = set.w2 = set.w3 = 0; }

// The typeset of an argument written without a type block: all but unset!.
inline Cell default_arg() {
    Cell c = make(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    detail::word(c, int(Type::unset)) &= ~detail::bit(int(Type::unset));
    return c;
}

// Appends a typeset to a block: from its three mask words, the default
// argument typeset, or the typeset of a spec's type block.
Cell* make_in(const Cell& block, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* make_default_in(const Cell& block);
Cell* make_in_from_spec(const Cell& block, const Cell& types);

// A new block of the name words of the member types, in id order.
Cell& to_block(const Cell& set, Cell& result);

// Members among the registered type ids.
int count(const Cell& set);

// Adds a datatype or ORs in a typeset; anything else raises invalid-arg.
void add_type(Cell& set, const Cell& value);

// The typeset of a function spec's type block: datatypes and typesets are
// added, a word stands for its value (a word naming a word adds object!),
// blocks are skipped; anything else raises invalid-type-spec.
Cell from_spec(const Cell& types);

// The set operations: 5 and 9 union, 6 and 10 intersect, 7 and 12 difference,
// 11 exclude, 8 the first operand unchanged. Operands in args[0] and args[1].
void do_bitwise(actions::Args args, int code);

int32_t form_mold(const Cell& value, Node buffer, bool only, bool part, int32_t budget);

void init();

}  // namespace zan::typeset
