// block!: the list of values and the shape of all code.
//
// A block value: w1 head index in cells, w2 node of a unit-16 series buffer,
// w3 0 (a hash! keeps its hash table's node there). Every helper reads by the
// value's head. Cell pointers answered here point into a buffer that moves on
// the next allocation: use them at once, keep the block value instead.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::block {

using actions::Args;

// --- reading and writing by the head ---------------------------------------------

int32_t rs_length(const Cell& block);          // cells from the head to the tail
bool rs_next(Cell& block);                     // head + 1 unless past the tail
Cell* rs_head(Cell& block);                    // clamps a head past the tail first
Cell* rs_tail(const Cell& block);              // past the last cell
bool rs_tail_q(const Cell& block);
Cell* rs_abs_at(const Cell& block, int32_t i);  // cell at absolute index i
void rs_clear(const Cell& block);              // tail := the head's cell
void rs_truncate(const Cell& block, int32_t i);  // tail := absolute index i

// A new unset! cell at the tail (the buffer grows when full).
Cell* append_cell(const Cell& block);
// A copy of the value in a new tail cell; answers it.
Cell* rs_append(const Cell& block, const Cell& value);
// Copies of the source's cells from its head, appended.
void rs_append_block(const Cell& block, const Cell& source);

// The value after the first cell equal to the key; none when absent or last.
Cell rs_select(const Cell& block, const Cell& key);
// The value after the first word of the word family with the word's symbol
// (letter case folded unless case_); none when absent or last.
Cell select_word(const Cell& block, const Cell& word, bool case_);
// Removes the first cell equal to the key, from the head or from the buffer
// start; answers whether one was removed.
bool rs_remove_value(const Cell& block, const Cell& key, bool from_start);
// Opens a cell at the head (or the buffer start) and copies the value in; with
// advance the head moves past it.
void insert_value(Cell& block, const Cell& value, bool advance, bool from_start);
void insert_block(Cell& target, const Cell& source);

// --- making blocks -----------------------------------------------------------------

// An empty block! in the cell with room for capacity cells (below 1: 1).
Cell& make_at(Cell& cell, int32_t capacity);
// The same, the buffer on the C heap when big.
Cell& make_at_big(Cell& cell, int32_t capacity, bool big);
// A big block appended to parent, or the root block itself when parent is null.
// Answers the new block's cell (valid until the next allocation).
Cell* make_root(const Cell* parent, int32_t capacity);
// A new block appended to parent, or the root block when parent is null.
Cell* make_in(const Cell* parent, int32_t capacity);

// The root block: a collector root holding everything the runtime keeps for
// good (the boot image's cells, the stacks' buffers, the symbol block).
constexpr int32_t root_capacity = 9695;
Cell& root();
void init_root();

// A new value of the block's type (no new-line marker) holding copies of its
// cells from the head. deep clones nested blocks, all_blocks also parens and
// paths.
Cell clone(const Cell& block, bool deep, bool all_blocks);

// Compares two values through the first one's compare slot; -2 when the types
// cannot be compared.
int32_t compare_values(const Cell& a, const Cell& b, int32_t op);

// --- actions -----------------------------------------------------------------------

// Filled by the lexer: the values of a string!'s text from its index, as a new
// block written into the result; raises the syntax error of malformed text.
using LoadString = void (*)(Cell& result, const Cell& string);
extern LoadString load_string;

void make(Args args, Type type);
void to(Args args, Type type);
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void append(Args args, const Cell* part, bool only, const Cell* dup);
void insert(Args args, const Cell* part, bool only, const Cell* dup);
void change(Args args, const Cell* part, bool only, const Cell* dup);
void copy(Args args, const Cell* part, bool deep, const Cell* types);
void find(Args args, const actions::FindRefs& r);
void select(Args args, const actions::FindRefs& r);
void put(Args args, bool case_);
void swap(Args args);
void take(Args args, const Cell* part, bool deep, bool last);
void trim(Args args, const actions::TrimRefs& r);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
             int32_t budget, int32_t indent);
// The values of a block molded with the line-break and indentation rule.
int32_t mold_each(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                  int32_t budget, int32_t indent);

// Registers block! (parent series!).
void init();

}  // namespace zan::block
