// string! actions: the action table row of string! and the routines that
// file!, url!, tag!, email!, ref!, binary! and vector! take from it.
//
// Every action gets its operands on the value stack from args (args[0] is the
// series and the result slot) and answers in args[0]. Searching, selecting,
// sorting and the set operations are in string_search.h.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::string {

using actions::Args;

// string!, file!, url!, tag!, email!, ref!: values whose elements are characters.
bool any_string_q(Type t);

// A new empty value of the type with room for capacity characters.
Cell make_value(uint32_t capacity, Type t = Type::string);

// A word! of the name, unbound.
Cell word_of(const char* name);

// Appends the text of a value as append does (a tag! in its brackets, a block
// element by element, anything else formed), at most part characters when
// part is 0 or more. Answers the characters appended.
uint32_t append_text(Node buffer, const Cell& value, int32_t part);

// The bytes of a binary! from its position decoded as UTF-8 into a new string!;
// an incomplete sequence at the end raises access invalid-utf8.
Cell from_binary(const Cell& bin);

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type);
void to(Args args, Type type);
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void append(Args args, const Cell* part, bool only, const Cell* dup);
void insert(Args args, const Cell* part, bool only, const Cell* dup);
void change(Args args, const Cell* part, bool only, const Cell* dup);
void swap(Args args);
void trim(Args args, const actions::TrimRefs& r);

// Registers string! (parent series!).
void init();

}  // namespace zan::string
