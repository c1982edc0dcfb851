// float!: the 64-bit IEEE double, and the number core that percent! and time!
// (same cell layout) build on: arithmetic, tolerant equality, text.
//
// Float arithmetic raises no math errors: infinities and NaN are values, and
// they form as 1.#INF, -1.#INF and 1.#NaN.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::float_ {

bool is_nan(double d);
bool special(double d);  // infinite or NaN

// Equal within 2.22e-16 or 10 units in the last place; never for NaN.
bool almost_equal(double a, double b);
bool almost_equal32(float a, float b);

// Pixel rounding: x + 0.49999999999999994 truncated; out-of-range raises overflow.
int32_t round_to_int(double d);

// Text of a number, valid until the next call. Kinds: 0 single (vector),
// 1 float! form, 2 single percent, 3 percent! form, 4 seconds of a time!,
// 5 point coordinates.
const char* to_text(double d, int kind);

// The "pretty" clean-up of formed text (system/options/float/pretty?).
bool pretty();
void set_pretty(bool on);

// Operator codes as integer::Op (add to remainder).
double do_math_op(double a, double b, int op);

// The worker of the arithmetic slots; args[0] may be integer!, float!,
// percent! or time!.
void do_math(actions::Args args, int op);

int32_t compare(const Cell& a, const Cell& b, int32_t op);

// An integer! or float! as a double; anything else raises bad-to-arg.
double get_number(const Cell& value);

// Appends a float! made of its two 32-bit halves to a block.
Cell* make_in(const Cell& block, uint32_t low, uint32_t high);

// Slots integer! hands its decimal cases to.
void power(actions::Args args);
void round(actions::Args args, const actions::RoundRefs& r);

void init();

}  // namespace zan::float_
