// The datatype registry: the action table (one row per type id) and the
// type-name table, filled once at start-up as each datatype registers.
#pragma once

#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"

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

// The global word named like the type ("integer!"), made by make_name_words
// (or at registration once that has run); none before.
Cell name_word(Type t);

// Makes the word of every type registered so far; types registering later get
// theirs at once. Runs once, after the global context and the symbol table.
void make_name_words();

// Highest type id registered so far.
int type_count();

// Whether a row has been installed for the type.
bool registered(Type t);

// Appends a datatype! value to a block; answers the new cell.
Cell* make_in(const Cell& block, Type t);

// datatype! itself: form gives the name without "!", mold with it.
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void init();

// Registers every datatype built so far, parents before children, in start-up
// order. Runs once; later calls do nothing.
void register_all();

}  // namespace zan::datatype
