// What the scalar datatypes read from the system object: month names,
// currency codes and the number of fraction digits money shows.
//
// Each read walks from the global word `system`; before the boot scripts have
// made it (and in tests that run without them) the lookups answer nothing and
// the callers use their built-in defaults.
#pragma once

#include <initializer_list>

#include "runtime/cell.h"

namespace zan::locale {

// The value slot at a path of field names under `system`; null when a step is
// missing or not an object. Valid until the next allocation.
Cell* system_field(std::initializer_list<const char*> path);

// system/locale/currencies/list when it is a block, else null.
Cell* currency_list();

// system/options/money-digits limited to 0-5; 2 when it is not an integer.
int money_digits();

}  // namespace zan::locale
