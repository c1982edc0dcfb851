// unset!, none! and logic!: the values that carry no data or one bit, and the
// truth rule of the language (only none and false are false).
#pragma once

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::unset {
void init();
Cell* make_in(const Cell& block);
}  // namespace zan::unset

namespace zan::none {
void init();
Cell* make_in(const Cell& block);
}  // namespace zan::none

namespace zan::logic {

void init();
Cell* make_in(const Cell& block, bool flag);

// The truth of a value. With check set, an unset value raises no-value naming
// the word (none when no word is given).
bool value_true(const Cell& value, bool check = false, const Cell* word = nullptr);

// The truth of a condition's result: an unset result raises no-return.
bool condition_true(const Cell& result);

// Whether a compare op is one that types without an order still answer: the
// equalities, sameness, the sorts and find.
bool equality_or_sort(int32_t op);

}  // namespace zan::logic
