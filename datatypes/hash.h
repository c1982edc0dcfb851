// hash!: a block! whose values are also indexed by a hash table, so that find
// and select in large blocks do not scan.
//
// Cell: w1 head index, w2 node of the block storage, w3 node of the hash
// table (kind hash) indexing every cell of the storage by its position.
// Invariant: after every action each cell from the storage's first to its
// tail is in the table at its current position. block!'s routines keep it for
// the actions hash! inherits; this file makes hash! values and keeps the index
// right after the actions that rebuild or copy a series wholesale.
#pragma once

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::hash {

using actions::Args;

// Turns a block! value in place into a hash! over its own storage.
void index_in_place(Cell& block);

void make(Args args, Type type);
void to(Args args, Type type);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
void copy(Args args, const Cell* part, bool deep, const Cell* types);
void sort(Args args, const actions::SortRefs& r);
void trim(Args args, const actions::TrimRefs& r);

// Registers hash! (parent block!).
void init();

}  // namespace zan::hash
