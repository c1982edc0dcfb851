// Searching, selecting, sorting and the set operations of string! (also used
// by file!, url!, tag!, email!, ref! and binary!).
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::string {

void find(actions::Args args, const actions::FindRefs& r);
void select(actions::Args args, const actions::FindRefs& r);
void sort(actions::Args args, const actions::SortRefs& r);

// Calls a script comparator with two values and answers its result. The
// evaluator installs it; sorting with a function comparator before then
// raises not-done. The sorted buffer is pinned while it runs.
using CompareCallback = Cell (*)(const Cell& function, const Cell& first, const Cell& second);
void set_compare_callback(CompareCallback cb);
CompareCallback compare_callback_installed();
// A comparator function's answer as a sort result: logic, number (negated),
// none first, anything else after.
int comparator_answer(const Cell& result);
// The span sort orders from `head` for `len` values: /part cuts it, or when
// negative moves it back before the head. False: nothing to sort.
bool sort_span(const Cell& s, const actions::SortRefs& r, int64_t& head, int64_t& len);

// Character comparators of sort, one per unit: below, at or above 0. mode:
// bit 0 reverse, bit 1 whole records, from bit 2 the record size in units
// (whole records) or the offset of the compared unit.
int compare_chars_1(const void* a, const void* b, std::uintptr_t case_sensitive,
                    std::uintptr_t mode);
int compare_chars_2(const void* a, const void* b, std::uintptr_t case_sensitive,
                    std::uintptr_t mode);
int compare_chars_4(const void* a, const void* b, std::uintptr_t case_sensitive,
                    std::uintptr_t mode);

// The set operations behind the unique, union, intersect, exclude and
// difference natives: args[0] (and args[1] except for unique) are the
// operands; a new string! in first-occurrence order replaces args[0].
enum class SetOp : int32_t {
    unique = 8,
    union_ = 9,
    intersect = 10,
    exclude = 11,
    difference = 12
};
void do_set_op(actions::Args args, bool case_, const Cell* skip, SetOp op);

}  // namespace zan::string
