// The datatype registry: the action table (one row per type id) and the
// type-name table, filled once at start-up as each datatype registers.
#pragma once

#include <string_view>

#include "datatypes/actions.h"
#include "datatypes/cell.h"

namespace zan::datatype {

// Installs a type's row. A slot marked inherited takes the parent's slot as it
// stands now, so parents register before their children. `slot_count` is the
// number of slot values the caller meant to give; anything but 62 is reported
// and ends the process.
void register_type(Type id, Type parent, const char* name, const actions::Row& row,
                   int slot_count = actions::slot_count);

// The resolved row of a type: every slot is a routine or null.
const actions::Row& row(Type t);

// The name with its "!" ("integer!"), and its length without it.
std::string_view name(Type t);

// Highest type id registered so far.
int type_count();

}  // namespace zan::datatype
