// money!: an exact decimal amount of 22 digits (17 before the point, 5 after),
// a sign and an optional currency.
//
// Every operation works on the decimal digits themselves, never through a
// binary double, so $0.1 + $0.2 is exactly $0.3. Multiplication and division
// keep five fraction digits and truncate the rest; nothing rounds but round.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::money {

constexpr int digit_count = 22;
constexpr int integer_digits = 17;
constexpr int fraction_digits = 5;
constexpr int currency_limit = 255;  // every index fits the currency byte

// An amount unpacked: d[0] is digit 1 (the most significant), d[16] the units,
// d[17] the tenths.
struct Amount {
    bool negative = false;
    uint8_t currency = 0;
    uint8_t d[digit_count] = {};
    bool zero() const;
};

Amount unpack(const Cell& money);
Cell pack(const Amount& a);  // a zero amount keeps no sign

// --- digit arithmetic (currencies are not looked at) ------------------------------
enum class Status { ok, overflow, underflow, zero_divide };
Status add(const Amount& a, const Amount& b, Amount& out);
Status subtract(const Amount& a, const Amount& b, Amount& out);
Status multiply(const Amount& a, const Amount& b, Amount& out);
Status divide(const Amount& a, const Amount& b, Amount& out);
Status remainder(const Amount& a, const Amount& b, Amount& out);
// Magnitudes only: -1, 0 or 1.
int compare_magnitude(const Amount& a, const Amount& b);

// --- making ------------------------------------------------------------------------
// The lexer's builder: digits of the integer part (apostrophes skipped) and of
// the fraction, and a currency code (empty for none). False for an unknown
// currency or digits that do not fit.
bool make_at(Cell& out, bool negative, std::string_view currency, std::string_view whole,
             std::string_view fraction);
// From the serialised form: sign, currency index and the 11 packed digit bytes.
Cell load(bool negative, uint8_t currency, const uint8_t bytes[11]);
Cell from_integer(int32_t n);
// From the float's shortest text. Infinities, NaN, magnitudes below 1e-5 or
// from 1e17 on, and (when checking) more than five fraction digits raise
// bad-make-arg; without the check extra fraction digits are cut.
Cell from_float(double x, bool check);
bool float_overflow(double x);   // |x| >= 1e17
bool float_underflow(double x);  // 0 < |x| < 1e-5

// The integer part; beyond 32 bits raises type-limit.
int32_t to_integer(const Cell& money);
double to_float(const Cell& money);

int32_t sign(const Cell& money);  // 0 for zero, else by the sign bit
bool zero_q(const Cell& money);
bool same(const Cell& a, const Cell& b);

// --- currencies ----------------------------------------------------------------------
// Positions (from 1) in system/locale/currencies/list, compared without case;
// -1 when unknown. Before the system object exists the built-in list answers.
int32_t find_currency(std::string_view code);
int32_t find_currency_symbol(uint32_t symbol);
// The code at a position, empty when there is none.
std::string code_of(int32_t index);
void set_currency(Cell& money, int32_t index);
// The built-in list the system object starts with.
int builtin_currency_count();
const char* builtin_currency(int index);  // index from 1

// The worker of the arithmetic slots and of integer!/float! with money! on the
// right: op is integer::add ... integer::remainder.
void do_math(actions::Args args, int op);
// The interpreter's operator fast path: add, subtract or multiply of money!
// with money! or integer! (at least one money!), in place into `left`. Answers
// false, changing nothing, for anything it does not do, including every case
// that raises an error: the operator's call then does the work.
bool fast_math(Cell& left, const Cell& right, int op);
int32_t compare(const Cell& a, const Cell& b, int32_t op);

void init();

}  // namespace zan::money
