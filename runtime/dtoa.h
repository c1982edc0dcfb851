// Number text: exact conversion between doubles and decimal text.
//
// Text to double is correctly rounded (nearest double, ties to even); double to
// text gives the shortest digits that read back to the same double, or at most
// n digits rounded against the exact value. Neither direction looks at the C
// locale. The special values read and write as "1.#INF", "-1.#INF" and "1.#NaN".
//
// Results of digits() and form_float() live in one static digit buffer and stay
// valid until the next conversion: copy them before converting again. Main
// thread only.
#pragma once

#include <cstddef>

namespace zan::dtoa {

// Decimal-point positions that mark the special results of digits().
constexpr int point_special = 9999;  // infinity or NaN
constexpr int point_zero = 9998;     // +0.0 or -0.0

// Reads the number in [first, end): an optional sign, digits, an optional "."
// and fraction digits, an optional exponent ("e" or "E", a sign, digits).
// extra_exponent is added to the text's own exponent (a percent passes -2, so
// that "50" reads as 0.5). "1.#INF", "-1.#INF" and "1.#NaN" give the special
// values. No digits at all give 0.0 (-0.0 with "-"). Values past the largest
// double give infinity; below the smallest subnormal, zero. When left is given
// it receives the number of bytes after the point where reading stopped (0
// after a special value; the whole text when it holds no digit).
double strtod(const char* first, const char* end, int extra_exponent = 0,
              std::ptrdiff_t* left = nullptr);

// The digits of v: the shortest string that reads back to v, cut to at most n
// significant digits when n > 0 (rounded against the exact value, ties to
// even). Trailing zeros are removed. The answer points at the digits; *point
// receives p with v = 0.d1d2... * 10^p, *sign 1 when the sign bit is set,
// *count the number of characters at the answer. A negative value's digits are
// preceded by a "-" in the buffer (answer - 1), so the signed text needs no
// copy. Special values: *point is point_special and the text "1.#INF" or
// "1.#NaN" (NaN has no sign); zero: *point is point_zero and the text "0.0"
// (with_point_zero) or "0".
const char* digits(double v, int n, int* point, int* sign, int* count, bool with_point_zero);

// The loadable text of v from its digits (see digits for n):
//   exponent form "d.ddde-x" for p >= 18 or p < -6 (1e17 is "1.0e17");
//   plain form otherwise (1e16 is "10000000000000000.0", 1e-7 is "0.0000001");
// with_point_zero keeps a ".0" where no fraction digit follows the point (else
// the point is dropped: 100.0 is "100", 1e20 is "1e20").
const char* form_float(double v, int n, bool with_point_zero);

}  // namespace zan::dtoa
