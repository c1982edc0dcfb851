// vector!: a packed array of numbers of one element type and width.
//
// Cell: w1 head index in elements, w2 node of the buffer, w3 the element type
// id (char!, integer!, float! or percent!). The buffer's unit is the element
// width in bytes: char! and integer! 1, 2 or 4, float! 4 or 8, percent! 8.
// Elements are little-endian two's-complement integers (char! elements read
// unsigned) or IEEE floats; a percent! element holds the fraction.
//
// Arithmetic with a scalar changes the vector's own elements, whichever side
// the vector stood on; arithmetic of two vectors makes a new one. Values are
// checked whole before an element moves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::vector {

using actions::Args;

Type element_type(const Cell& v);
uint32_t unit(const Cell& v);

// The element at p as a value of the element type.
Cell get_value(const std::byte* p, uint32_t unit, Type element);
// Stores a value of the element type in the element at p (the low bytes of an
// integer, a double or a single float).
void set_value(std::byte* p, const Cell& value, uint32_t unit);
// Whether a value may be stored in a vector of the element type.
bool fits(Type element, const Cell& value);

// A new empty vector with room for count elements.
Cell& make_at(Cell& cell, uint32_t count, Type element, uint32_t unit);
// Appends the elements from the head to the block as values.
void to_block(const Cell& v, const Cell& block);

// The element at absolute position p, and a checked store there (poke).
Cell element_at(const Cell& v, uint32_t p);
void store_element(const Cell& v, uint32_t p, const Cell& value);

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void add(Args args);
void subtract(Args args);
void multiply(Args args);
void divide(Args args);
void remainder(Args args);
void and_t(Args args);
void or_t(Args args);
void xor_t(Args args);
void append(Args args, const Cell* part, bool only, const Cell* dup);
void insert(Args args, const Cell* part, bool only, const Cell* dup);
void change(Args args, const Cell* part, bool only, const Cell* dup);
void find(Args args, const actions::FindRefs& r);
void select(Args args, const actions::FindRefs& r);
void sort(Args args, const actions::SortRefs& r);

// Registers vector! (parent string!).
void init();

}  // namespace zan::vector
