// Series ownership: which object (and which of its fields) owns a series, so
// that changing the series in place reaches the object's on-deep-change*.
//
// A series reachable from an owning object's fields carries the owned flag
// (buffer flag bit 17; image!: bit 16 of the cell header) and a record in the
// owner table: key the series node (object!: its context node), cells (the
// owned value, the owner object, the owner's field word). The table holds keys
// and owners weakly: a record goes when either dies, so ownership never keeps
// anything alive.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zan::ownership {

// Header bit of an image! cell, and of an object's context cell (the object
// owns its series).
constexpr uint32_t owned_cell_flag = 0x10000;

// Makes the owner table and registers it with the collector.
void init();
Node table();

// Sets the owned flag and, when it was not yet set, writes the record; then
// recurses into block-like cells and object fields (cycles are not re-entered).
void set_owner_deep(Cell& value, const Cell& owner, const Cell& word);
// set_owner_deep, then marks the owner's context as owning its series.
void bind(Cell& value, const Cell& owner, const Cell& word);
// The reverse: clears the flags and drops the records, deeply.
void unbind(Cell& value);
// unbind on `count` cells of a block from `index`, before they are removed or
// overwritten.
void unset_owner_range(const Cell& series, uint32_t index, uint32_t count);

// The owner object cell of a series node's record, or nullptr. Valid until the
// next allocation.
Cell* get_owner(Node series);
// The owner's field word of a series node's record, or nullptr. Valid until the
// next allocation.
Cell* get_owner_word(Node series);

// After a modifying action: when the series has an owner whose object has a
// change-hook series, calls the deep-change hook and answers true.
// `value` is what the change puts in, when the caller tells it.
bool check(const Cell& series, const Cell& action, int32_t index, int32_t count,
           int32_t part = -1, const Cell* value = nullptr);

// Filled by object!: fires the owner's on-deep-change*. Arguments: owner object,
// field word, the changed series, the action word, the value put in (none
// when not told), index, count, part (-1 none).
using DeepChange = void (*)(const Cell& owner, const Cell& word, const Cell& series,
                            const Cell& action, const Cell& value, int32_t index, int32_t count,
                            int32_t part);
void set_deep_change_hook(DeepChange fn);
DeepChange deep_change_hook();

// For the collector, after marking: drops the records of dead keys or owners.
void sweep();

}  // namespace zan::ownership
