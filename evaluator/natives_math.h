// Comparison, logic and math natives: the comparisons, same?, not, the number
// tests, max and min, shift and to-hex, and the elementary functions.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "evaluator/natives.h"

namespace zan::natives {

// The seven comparisons and same? (codes of the compare slot).
template <int32_t Code>
stack::Status n_compare(int32_t check, const int32_t* refs);

stack::Status n_not(int32_t check, const int32_t* refs);
stack::Status n_negative_q(int32_t check, const int32_t* refs);
stack::Status n_positive_q(int32_t check, const int32_t* refs);
stack::Status n_sign_q(int32_t check, const int32_t* refs);
stack::Status n_zero_q(int32_t check, const int32_t* refs);
stack::Status n_nan_q(int32_t check, const int32_t* refs);
stack::Status n_max(int32_t check, const int32_t* refs);
stack::Status n_min(int32_t check, const int32_t* refs);
stack::Status n_shift(int32_t check, const int32_t* refs);
// The shift core, shared with the shift routines: a negative count is 0; 32
// or more gives 0, or -1 for an arithmetic right shift of a negative number.
enum class Shift { left, right, logical };
int32_t shift_bits(int32_t data, int32_t bits, Shift how);
stack::Status n_to_hex(int32_t check, const int32_t* refs);
stack::Status n_sine(int32_t check, const int32_t* refs);
stack::Status n_cosine(int32_t check, const int32_t* refs);
stack::Status n_tangent(int32_t check, const int32_t* refs);
stack::Status n_arcsine(int32_t check, const int32_t* refs);
stack::Status n_arccosine(int32_t check, const int32_t* refs);
stack::Status n_arctangent(int32_t check, const int32_t* refs);
stack::Status n_arctangent2(int32_t check, const int32_t* refs);
stack::Status n_log_2(int32_t check, const int32_t* refs);
stack::Status n_log_10(int32_t check, const int32_t* refs);
stack::Status n_log_e(int32_t check, const int32_t* refs);
stack::Status n_exp(int32_t check, const int32_t* refs);
stack::Status n_square_root(int32_t check, const int32_t* refs);

// Identity of two values (shared with compiled code).
bool same(const Cell& a, const Cell& b);

}  // namespace zan::natives
