// integer!: the 32-bit signed integer.
//
// Arithmetic never wraps: add, subtract, multiply and power that leave 32 bits
// give a float!, a division with a remainder gives a float!, and only the
// minimum value negated, made absolute or divided by -1 raises overflow.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::integer {

// Operator codes of the arithmetic workers.
constexpr int add = 0, subtract = 1, multiply = 2, divide = 3, remainder = 4, or_ = 5, and_ = 6,
              xor_ = 7;

// The slot of an operator code in a row (add to xor~); null when the type
// lacks it.
actions::Fn_add arith_slot(const actions::Row& row, int op);

int32_t sign(int32_t n);
int32_t abs(int32_t n);  // the minimum value raises overflow

// Above 2147483647.0, below -2147483648.0, or NaN.
bool float_out_of_range(double d);

// Up to `count` (at most 8) bytes of a binary! from its position, read
// big-endian.
uint64_t leading_bytes(const Cell& binary, uint32_t count);

// Decimal text in a static area, valid until the next call.
std::string_view form_signed(int32_t n);

// Combines two integers. With a result cell, an overflowing add, subtract or
// multiply, and a division that leaves a remainder, turn the cell into a
// float! and answer 0; an integer result is written into the cell's payload.
// Without one, overflow wraps and division truncates.
int32_t do_math_op(int32_t left, int32_t right, int op, Cell* result);

// The worker of the arithmetic slots: left operand in args[0] (the result),
// right in args[1].
void do_math(actions::Args args, int op);

int32_t compare(const Cell& a, const Cell& b, int32_t op);

// A number narrowed for code that needs an int32: a float! out of range or
// NaN raises out-of-range; other values give their integer payload.
int32_t number_to_integer(const Cell& value);

// Appends an integer! to a block (boot image and serialisation readers).
Cell* make_in(const Cell& block, int32_t n);

// Slots other datatypes call directly.
void to(actions::Args args, Type type);
void round(actions::Args args, const actions::RoundRefs& r);

void init();

}  // namespace zan::integer
