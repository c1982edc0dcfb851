// What the datatypes held whole in their cell share: field words for paths
// and pick, loading a value from text, and the errors their make, to and path
// steps raise.
//
// A path set on such a value changes it in place: the eval-path routine writes
// the new value into the parent cell it was given (a slot of the path walk),
// and the walk stores that cell back where the value came from, telling the
// owner as any set does.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::scalar {

// The 1-based position of a word among field names (case-insensitive), or 0.
int32_t field_of_word(const Cell& word, std::initializer_list<const char*> names);

// The field a path element or pick index names: an integer as it stands, a
// word by its position among the names; 0 for anything else.
int32_t field_of(const Cell& element, std::initializer_list<const char*> names);

// Text that loads to a value of the type: the first value, when it has one.
bool load_first(const Cell& text, Type want, Cell& out);

// The cell a path set changes in place.
inline Cell& target(const Cell& parent) { return const_cast<Cell&>(parent); }

[[noreturn]] void bad_to_arg(Type t, const Cell& spec);
[[noreturn]] void malconstruct(const Cell& spec);
[[noreturn]] void invalid_path(const actions::PathStep& s);
[[noreturn]] void invalid_type_of(const Cell& value);
[[noreturn]] void invalid_arg(const Cell& value);
[[noreturn]] void out_of_range(const Cell& index);
[[noreturn]] void cannot_use(const Cell& word, const Cell& value);
// not-related naming the called function and the type.
[[noreturn]] void not_related(Type t);
// not-related naming the operation word (add, subtract, multiply, divide).
[[noreturn]] void not_related_op(int op, Type t);

// The blocks a make or to reads from (block!, paren!, hash!): the values from
// the position and their count.
const Cell* block_values(const Cell& block, uint32_t& count);

}  // namespace zan::scalar
