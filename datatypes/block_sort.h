// Sorting blocks by records, and the set operations on blocks.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::block {

// The sort slot of block! (inherited by paren! and the path family).
void sort(actions::Args args, const actions::SortRefs& r);

// Record comparison flags: bit 0 reverse, bit 1 all, from bit 2 the field offset
// (or, with all, the record size).
constexpr int32_t sort_reverse = 1, sort_all = 2, sort_shift = 2;
// Compares two records of cells with compare code 7 (or 8, case-sensitive).
int32_t sort_compare(const Cell* a, const Cell* b, int32_t code, int32_t flags);

// Calls a script comparator with two values and answers its result. The
// interpreter installs it; sorting with a function comparator before then
// raises not-done. The records it receives stay in place while it runs.
using CompareCallback = Cell (*)(const Cell& function, const Cell& first, const Cell& second);
void set_compare_callback(CompareCallback cb);
CompareCallback compare_callback_installed();
int32_t sort_compare_func(const Cell* a, const Cell* b, const Cell& function, int32_t flags);

// The set operations behind the union, intersect, unique, difference and
// exclude natives: args[0] (and args[1] except for unique) are the operands,
// the result replaces args[0].
enum class SetOp : int32_t { unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12 };
void do_set_op(actions::Args args, bool case_, const Cell* skip, SetOp op);

}  // namespace zan::block
