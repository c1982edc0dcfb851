// money!: the header's bit 14 holds the sign, the low byte of w1 the currency
// index, cell bytes 5-15 the 22 digits packed two a byte (runtime/cell.h).
//
// The work is decimal throughout: sums add the 22 packed digits at once with
// decimal carries, products are long multiplication of unpacked digits
// (Amount) into a double-width area, quotients long division counting
// subtractions, so every result is the exact decimal one cut to five fraction
// digits. A zero amount has no sign, whatever the bit.
#include "datatypes/money.h"

#include <cmath>
#include <cstring>
#include <string>

#include "codecs/random.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/locale.h"
#include "datatypes/mold.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "runtime/dtoa.h"
#include "runtime/errors.h"

namespace zan::money {

namespace {

// The codes the system object's list starts with; EUR is 47, USD 155.
constexpr const char* builtin_codes[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT",
    "BTC", "BGN", "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD",
    "CAD", "CDF", "CHF", "CKD", "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF",
    "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL",
    "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD", "HNL", "HRK", "HTG", "HUF", "IDR",
    "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY", "KES", "KGS", "KHR",
    "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD",
    "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR",
    "MZN", "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR",
    "PLN", "PND", "PRB", "PYG", "QAR", "ZAN", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR",
    "SDG", "SEK", "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB",
    "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU",
    "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER", "ZAR",
    "ZMW",
};
constexpr int builtin_count = int(sizeof builtin_codes / sizeof builtin_codes[0]);
static_assert(builtin_count == 170);

constexpr int units = integer_digits - 1;  // index of the units digit

Cell money_type() { return datatype_cell(Type::money); }

[[noreturn]] void type_limit(Type t = Type::money) {
    Cell target = datatype_cell(t);
    errors::fire(errors::id::type_limit, &target);
}

[[noreturn]] void bad_make_arg(const Cell& spec) {
    Cell target = money_type();
    errors::fire(errors::id::bad_make_arg, &target, &spec);
}

[[noreturn]] void invalid_type(Type t) {
    Cell type = datatype_cell(t);
    errors::fire(errors::id::invalid_type, &type);
}

void raise(Status s) {
    switch (s) {
    case Status::ok: return;
    case Status::zero_divide: errors::fire(errors::id::zero_divide);
    default: type_limit();
    }
}

bool ascii_equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return false;
    }
    return true;
}

// --- magnitudes ------------------------------------------------------------------------

// a - b into out, a not below b; n digits.
void subtract_magnitude(const uint8_t* a, const uint8_t* b, uint8_t* out, int n) {
    int borrow = 0;
    for (int i = n - 1; i >= 0; --i) {
        int s = a[i] - b[i] - borrow;
        borrow = s < 0;
        out[i] = uint8_t(borrow ? s + 10 : s);
    }
}

int compare_digits(const uint8_t* a, const uint8_t* b, int n) {
    for (int i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

bool all_zero(const uint8_t* d, int n) {
    for (int i = 0; i < n; ++i)
        if (d[i]) return false;
    return true;
}

// Long division of the digits of `dividend` (n of them) by the 22 digits of
// `divisor`, which is not zero: quotient digits into q (n of them), the
// remainder into rem (22 digits). Each quotient digit counts subtractions.
void long_divide(const uint8_t* dividend, int n, const uint8_t* divisor, uint8_t* q,
                 uint8_t* rem) {
    // The running remainder has one digit more than the divisor, so that
    // shifting a digit in never loses one.
    constexpr int w = digit_count + 1;
    uint8_t r[w] = {};
    uint8_t b[w] = {};
    std::memcpy(b + 1, divisor, digit_count);
    for (int i = 0; i < n; ++i) {
        std::memmove(r, r + 1, w - 1);
        r[w - 1] = dividend[i];
        int count = 0;
        while (compare_digits(r, b, w) >= 0) {
            subtract_magnitude(r, b, r, w);
            ++count;
        }
        q[i] = uint8_t(count);
    }
    std::memcpy(rem, r + 1, digit_count);
}

// --- text ---------------------------------------------------------------------------------

// Loads integer and fraction digit texts; false when they do not fit.
bool load_digits(Amount& a, std::string_view whole, std::string_view fraction) {
    std::string w;
    for (char c : whole)
        if (c != '\'') w += c;
    size_t lead = 0;
    while (lead + 1 < w.size() && w[lead] == '0') ++lead;
    w.erase(0, lead);
    if (w.size() > size_t(integer_digits) || fraction.size() > size_t(fraction_digits)) return false;
    for (size_t i = 0; i < w.size(); ++i) {
        if (w[i] < '0' || w[i] > '9') return false;
        a.d[integer_digits - w.size() + i] = uint8_t(w[i] - '0');
    }
    for (size_t i = 0; i < fraction.size(); ++i) {
        if (fraction[i] < '0' || fraction[i] > '9') return false;
        a.d[integer_digits + i] = uint8_t(fraction[i] - '0');
    }
    return true;
}

// Sign, currency code, "$", the integer digits (grouped by apostrophes when
// asked) and `fraction` fraction digits, cut rather than rounded.
std::string text_of(const Amount& a, bool grouped, int fraction) {
    std::string s;
    if (a.negative && !a.zero()) s += '-';
    if (a.currency) s += code_of(a.currency);
    s += '$';
    int first = 0;
    while (first < units && a.d[first] == 0) ++first;
    for (int i = first; i <= units; ++i) {
        s += char('0' + a.d[i]);
        if (grouped && i < units && (units - i) % 3 == 0) s += '\'';
    }
    if (fraction > 0) {
        s += '.';
        for (int i = 0; i < fraction; ++i) s += char('0' + a.d[integer_digits + i]);
    }
    return s;
}

// --- operands -------------------------------------------------------------------------

// A number taking part in money arithmetic, as an amount.
Amount amount_of_integer(int32_t n) {
    Amount a;
    int64_t m = n < 0 ? -int64_t(n) : int64_t(n);
    for (int i = units; m != 0; --i, m /= 10) a.d[i] = uint8_t(m % 10);
    a.negative = n < 0;
    return a;
}

Amount operand(const Cell& v) {
    switch (type_of(v)) {
    case Type::money: return unpack(v);
    case Type::integer: return amount_of_integer(int_of(v));
    case Type::float_:
    case Type::percent: return unpack(from_float(float_of(v), false));
    default: invalid_type(type_of(v));
    }
}

bool currencies_agree(const Amount& a, const Amount& b) {
    return a.currency == 0 || b.currency == 0 || a.currency == b.currency;
}

[[noreturn]] void wrong_denom(const Cell& a, const Cell& b) {
    errors::fire(errors::id::wrong_denom, &a, &b);
}

// --- packed decimal sums ---------------------------------------------------------------------
// Sums and differences add all 22 digits at once as packed decimal (four bits
// a digit, digit 22 lowest) in one 128-bit word: each digit is biased by 6 so
// that a decimal carry is a binary one, and the bias is taken back from the
// digits that did not carry.

using Packed = unsigned __int128;

constexpr Packed nibbles(unsigned v) {
    Packed r = 0;
    for (int i = 0; i < digit_count; ++i) r = r << 4 | v;
    return r;
}
constexpr Packed sixes = nibbles(6), nines = nibbles(9);
constexpr Packed boundaries = nibbles(1) << 4;  // bits 4, 8, ... 88
constexpr Packed all_digits = (Packed(1) << (4 * digit_count)) - 1;

// a + b with the carry out of digit 1 in bit 88.
Packed bcd_sum(Packed a, Packed b) {
    Packed t1 = a + sixes;
    Packed t2 = t1 + b;
    Packed carried = t2 ^ t1 ^ b;  // the carry into every bit
    Packed kept = ~carried & boundaries;
    return t2 - ((kept >> 2) | (kept >> 3));
}

// a - b for a not below b: a plus the ten's complement of b, carry dropped.
Packed bcd_difference(Packed a, Packed b) {
    return bcd_sum(bcd_sum(a, nines - b) & all_digits, 1) & all_digits;
}

Packed bcd_of(const uint8_t* d) {
    Packed v = 0;
    for (int i = 0; i < digit_count; ++i) v = v << 4 | d[i];
    return v;
}

void digits_of(Packed v, uint8_t* d) {
    for (int i = digit_count - 1; i >= 0; --i, v >>= 4) d[i] = uint8_t(v & 0xF);
}

// The 11 digit bytes read as one big-endian number: digits 1-16, then 17-22.
Packed bcd_of_cell(const Cell& c) {
    uint8_t p[11];
    money_packed(c, p);
    uint64_t high;
    std::memcpy(&high, p, 8);
    uint32_t low = uint32_t(p[8]) << 16 | uint32_t(p[9]) << 8 | p[10];
    return Packed(__builtin_bswap64(high)) << 24 | low;
}

void set_bcd(Cell& c, Packed v) {
    uint8_t p[11];
    uint64_t high = __builtin_bswap64(uint64_t(v >> 24));
    std::memcpy(p, &high, 8);
    p[8] = uint8_t(v >> 16);
    p[9] = uint8_t(v >> 8);
    p[10] = uint8_t(v);
    set_money_packed(c, p);
}

struct Signed {
    bool negative;
    Packed magnitude;  // packed decimal order is numeric order
};

// false when the sum does not fit 22 digits; a zero result has no sign.
bool add_signed(Signed a, Signed b, Signed& r) {
    if (a.magnitude == 0) {
        r = b;
    } else if (b.magnitude == 0) {
        r = a;
    } else if (a.negative == b.negative) {
        Packed s = bcd_sum(a.magnitude, b.magnitude);
        if (s > all_digits) return false;
        r = {a.negative, s};
    } else {
        // Signs differ: the smaller magnitude from the larger, whose sign wins.
        const Signed& big = a.magnitude >= b.magnitude ? a : b;
        const Signed& small = a.magnitude >= b.magnitude ? b : a;
        r = {big.negative, bcd_difference(big.magnitude, small.magnitude)};
    }
    if (r.magnitude == 0) r.negative = false;
    return true;
}

// --- scaling by an integer ------------------------------------------------------------------
// An amount times an integer needs no rounding, so the packed digits can be
// read as an exact binary integer, multiplied, and written back as digits.

// 16 packed digits to their value: pairs, then fours, eights, sixteen.
uint64_t value_of_digits(uint64_t x) {
    x = (x & 0x0F0F0F0F0F0F0F0Full) + ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) * 10;
    x = (x & 0x00FF00FF00FF00FFull) + ((x >> 8) & 0x00FF00FF00FF00FFull) * 100;
    x = (x & 0x0000FFFF0000FFFFull) + ((x >> 16) & 0x0000FFFF0000FFFFull) * 10000;
    return (x & 0xFFFFFFFFull) + (x >> 32) * 100000000ull;
}

// The packed digits of every number below 10000.
struct FourDigits {
    uint16_t of[10000];
    FourDigits() {
        for (uint32_t c = 0; c < 10000; ++c)
            of[c] = uint16_t((c / 1000) << 12 | (c / 100 % 10) << 8 | (c / 10 % 10) << 4 | (c % 10));
    }
};
const FourDigits four_digits;

// A value below 10^16 as 16 packed digits, four at a time.
uint64_t digits_of_value(uint64_t v) {
    uint32_t high = uint32_t(v / 100000000), low = uint32_t(v % 100000000);
    return uint64_t(four_digits.of[high / 10000]) << 48 | uint64_t(four_digits.of[high % 10000]) << 32 |
           uint64_t(four_digits.of[low / 10000]) << 16 | four_digits.of[low % 10000];
}

constexpr uint64_t e16 = 10000000000000000ull;

// money * n into out; false (out unchanged) when the product does not fit.
bool scaled(const Cell& m, int32_t n, Cell& out) {
    Packed a = bcd_of_cell(m);
    unsigned __int128 value =
        (unsigned __int128)value_of_digits(uint64_t(a >> 64)) * e16 + value_of_digits(uint64_t(a));
    uint64_t factor = n < 0 ? uint64_t(-int64_t(n)) : uint64_t(n);
    unsigned __int128 product = value * factor;
    if (product >> 64) return false;  // past 1.8e14 the digit path decides
    uint64_t p = uint64_t(product);
    Packed digits = Packed(digits_of_value(p / e16)) << 64 | digits_of_value(p % e16);
    Cell c = make_cell(Type::money);
    set_bcd(c, digits);
    set_money_currency(c, money_currency(m));
    if (p != 0 && has_flag(m, header::money_negative) != (n < 0)) set_flag(c, header::money_negative);
    out = c;
    return true;
}

// Two amounts summed (or subtracted) as they lie packed in their cells; the
// currency is the right one's, else the left one's. False on overflow, with
// `out` unchanged.
bool packed_sum(const Cell& left, const Cell& right, bool subtract, Cell& out) {
    bool bn = has_flag(right, header::money_negative);
    Signed r;
    if (!add_signed({has_flag(left, header::money_negative), bcd_of_cell(left)},
                    {subtract ? !bn : bn, bcd_of_cell(right)}, r))
        return false;
    uint8_t ca = money_currency(left), cb = money_currency(right);
    Cell c = make_cell(Type::money);
    set_bcd(c, r.magnitude);
    set_money_currency(c, cb ? cb : ca);
    if (r.negative) set_flag(c, header::money_negative);
    out = c;
    return true;
}

}  // namespace

// --- amounts ----------------------------------------------------------------------------

bool Amount::zero() const { return all_zero(d, digit_count); }

Amount unpack(const Cell& money) {
    Amount a;
    uint8_t packed[11];
    money_packed(money, packed);
    for (int k = 0; k < 11; ++k) {
        a.d[2 * k] = packed[k] >> 4;
        a.d[2 * k + 1] = packed[k] & 0xF;
    }
    a.negative = has_flag(money, header::money_negative);
    a.currency = money_currency(money);
    return a;
}

Cell pack(const Amount& a) {
    Cell c = make_cell(Type::money);
    uint8_t packed[11];
    int any = 0;
    for (int k = 0; k < 11; ++k) any |= packed[k] = uint8_t(a.d[2 * k] << 4 | a.d[2 * k + 1]);
    set_money_packed(c, packed);
    set_money_currency(c, a.currency);
    if (a.negative && any) set_flag(c, header::money_negative);
    return c;
}

int compare_magnitude(const Amount& a, const Amount& b) {
    return compare_digits(a.d, b.d, digit_count);
}

Status add(const Amount& a, const Amount& b, Amount& out) {
    Signed r;
    if (!add_signed({a.negative, bcd_of(a.d)}, {b.negative, bcd_of(b.d)}, r)) return Status::overflow;
    uint8_t currency = out.currency;
    out = Amount();
    out.currency = currency;
    out.negative = r.negative;
    digits_of(r.magnitude, out.d);
    return Status::ok;
}

Status subtract(const Amount& a, const Amount& b, Amount& out) {
    Amount nb = b;
    nb.negative = !b.negative;
    return add(a, nb, out);
}

Status multiply(const Amount& a, const Amount& b, Amount& out) {
    Amount r;
    r.currency = out.currency;
    int fa = 0, la = digit_count - 1, fb = 0, lb = digit_count - 1;
    while (fa < digit_count && a.d[fa] == 0) ++fa;
    while (fb < digit_count && b.d[fb] == 0) ++fb;
    if (fa == digit_count || fb == digit_count) {
        out = r;
        return Status::ok;
    }
    while (a.d[la] == 0) --la;
    while (b.d[lb] == 0) --lb;
    // Place i + j + 1 of 44 holds the product of digits i and j; the product
    // of two amounts in units of 1e-5 is in units of 1e-10. Only the spans
    // between each operand's first and last non-zero digits take part, and
    // only the places they reach are written: the others count as zero.
    constexpr int width = 2 * digit_count;
    uint16_t area[width];  // at most 22 products of 81 and their carries a place
    int lo = fa + fb + 1, hi = la + lb + 1;
    for (int k = lo; k <= hi; ++k) area[k] = 0;
    for (int i = fa; i <= la; ++i) {
        if (!a.d[i]) continue;
        for (int j = fb; j <= lb; ++j) area[i + j + 1] = uint16_t(area[i + j + 1] + a.d[i] * b.d[j]);
    }
    for (int k = hi; k > lo; --k) {
        area[k - 1] = uint16_t(area[k - 1] + area[k] / 10);
        area[k] %= 10;
    }
    int top = lo;  // the highest place written
    while (area[top] > 9) {
        area[top - 1] = uint16_t(area[top] / 10);
        area[top] %= 10;
        --top;
    }
    // Dropping the five lowest places truncates to units of 1e-5: the result
    // is places 17-38; anything above is an eighteenth integer digit.
    constexpr int first = width - fraction_digits - digit_count;
    for (int k = top; k < first && k <= hi; ++k)
        if (area[k]) return Status::overflow;
    int any = 0;
    for (int k = 0; k < digit_count; ++k) {
        int place = first + k;
        any |= r.d[k] = place >= top && place <= hi ? uint8_t(area[place]) : 0;
    }
    if (!any) return Status::underflow;
    r.negative = a.negative != b.negative;
    out = r;
    return Status::ok;
}

Status divide(const Amount& a, const Amount& b, Amount& out) {
    if (b.zero()) return Status::zero_divide;
    Amount r;
    r.currency = out.currency;
    if (a.zero()) {
        out = r;
        return Status::ok;
    }
    // The dividend shifted left by five digits gives a quotient in units of
    // 1e-5 whose extra digits were truncated away.
    constexpr int n = digit_count + fraction_digits;
    uint8_t dividend[n] = {};
    std::memcpy(dividend, a.d, digit_count);
    uint8_t q[n], rem[digit_count];
    long_divide(dividend, n, b.d, q, rem);
    if (!all_zero(q, fraction_digits)) return Status::overflow;
    std::memcpy(r.d, q + fraction_digits, digit_count);
    if (r.zero()) return Status::underflow;
    r.negative = a.negative != b.negative;
    out = r;
    return Status::ok;
}

Status remainder(const Amount& a, const Amount& b, Amount& out) {
    if (b.zero()) return Status::zero_divide;
    Amount r;
    r.currency = out.currency;
    if (!a.zero()) {
        uint8_t q[digit_count];
        long_divide(a.d, digit_count, b.d, q, r.d);
        r.negative = a.negative && !r.zero();
    }
    out = r;
    return Status::ok;
}

// --- making ---------------------------------------------------------------------------------

bool make_at(Cell& out, bool negative, std::string_view currency, std::string_view whole,
             std::string_view fraction) {
    Amount a;
    if (!currency.empty()) {
        int32_t index = find_currency(currency);
        if (index < 0) return false;
        a.currency = uint8_t(index);
    }
    if (!load_digits(a, whole, fraction)) return false;
    a.negative = negative;
    out = pack(a);
    return true;
}

Cell load(bool negative, uint8_t currency, const uint8_t bytes[11]) {
    Cell c = make_cell(Type::money);
    set_money_packed(c, bytes);
    set_money_currency(c, currency);
    if (negative) set_flag(c, header::money_negative);
    return c;
}

Cell from_integer(int32_t n) { return pack(amount_of_integer(n)); }

bool float_overflow(double x) { return std::fabs(x) >= 1e17; }
bool float_underflow(double x) { return x != 0.0 && std::fabs(x) < 1e-5; }

Cell from_float(double x, bool check) {
    Cell spec = float_cell(x);
    if (!std::isfinite(x) || float_overflow(x) || float_underflow(x)) bad_make_arg(spec);
    Amount a;
    if (x == 0.0) return pack(a);
    int point, sign, count;
    const char* digits = dtoa::digits(x, 22, &point, &sign, &count, false);
    // Digit i of the text stands for 10^(point - 1 - i).
    for (int i = 0; i < count; ++i) {
        int place = units - (point - 1 - i);
        if (place >= digit_count) {
            if (check) bad_make_arg(spec);
            break;
        }
        if (place >= 0) a.d[place] = uint8_t(digits[i] - '0');
    }
    a.negative = sign != 0;
    return pack(a);
}

int32_t to_integer(const Cell& money) {
    Amount a = unpack(money);
    int first = 0;
    while (first <= units && a.d[first] == 0) ++first;
    if (units + 1 - first > 10) type_limit(Type::integer);
    int64_t v = 0;
    for (int i = first; i <= units; ++i) v = v * 10 + a.d[i];
    if (a.negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) type_limit(Type::integer);
    return int32_t(v);
}

double to_float(const Cell& money) {
    Amount a = unpack(money);
    if (a.zero()) return 0.0;
    std::string s = text_of(a, false, fraction_digits);
    size_t dollar = s.find('$');
    std::string number = (a.negative ? "-" : "") + s.substr(dollar + 1);
    return dtoa::strtod(number.data(), number.data() + number.size());
}

int32_t sign(const Cell& money) {
    Amount a = unpack(money);
    return a.zero() ? 0 : a.negative ? -1 : 1;
}

bool zero_q(const Cell& money) { return unpack(money).zero(); }

bool same(const Cell& a, const Cell& b) {
    Amount x = unpack(a), y = unpack(b);
    return x.currency == y.currency && sign(a) == sign(b) && compare_magnitude(x, y) == 0;
}

// --- currencies ------------------------------------------------------------------------------

int builtin_currency_count() { return builtin_count; }
const char* builtin_currency(int index) {
    return index >= 1 && index <= builtin_count ? builtin_codes[index - 1] : nullptr;
}

int32_t find_currency(std::string_view code) {
    if (code.size() != 3) return -1;
    if (Cell* list = locale::currency_list()) {
        int32_t n = block::rs_length(*list);
        for (int32_t i = 0; i < n && i < currency_limit; ++i) {
            const Cell& w = *block::rs_abs_at(*list, int32_t(series_index(*list)) + i);
            if (word::is_word_family(type_of(w)) && ascii_equal_nocase(symbol::name(word_symbol(w)), code))
                return i + 1;
        }
        return -1;
    }
    for (int i = 0; i < builtin_count; ++i)
        if (ascii_equal_nocase(builtin_codes[i], code)) return i + 1;
    return -1;
}

int32_t find_currency_symbol(uint32_t symbol) { return find_currency(symbol::name(symbol)); }

std::string code_of(int32_t index) {
    if (index < 1) return {};
    if (Cell* list = locale::currency_list()) {
        if (index > block::rs_length(*list)) return {};
        const Cell& w = *block::rs_abs_at(*list, int32_t(series_index(*list)) + index - 1);
        if (!word::is_word_family(type_of(w))) return {};
        return std::string(symbol::name(word_symbol(w)));
    }
    const char* code = builtin_currency(index);
    return code ? code : "";
}

void set_currency(Cell& money, int32_t index) {
    set_money_currency(money, uint8_t(index < 0 ? 0 : index));
}

// --- arithmetic ---------------------------------------------------------------------------

void do_math(actions::Args args, int op) {
    Cell left = args[0], right = args[1];
    Type lt = type_of(left), rt = type_of(right);
    if (lt == Type::money && rt == Type::money && (op == integer::add || op == integer::subtract)) {
        uint8_t ca = money_currency(left), cb = money_currency(right);
        if (ca && cb && ca != cb) wrong_denom(left, right);
        if (!packed_sum(left, right, op == integer::subtract, args[0])) type_limit();
        return;
    }
    // money! times money!, and a number divided by money!, have no meaning.
    if (lt == Type::money && rt == Type::money && op == integer::multiply) invalid_type(rt);
    if (lt != Type::money && (op == integer::divide || op == integer::remainder))
        invalid_type(Type::money);
    Amount a = operand(left), b = operand(right);
    if (!currencies_agree(a, b)) wrong_denom(left, right);
    Amount r;
    r.currency = b.currency ? b.currency : a.currency;
    Status s = Status::ok;
    switch (op) {
    case integer::add: s = add(a, b, r); break;
    case integer::subtract: s = subtract(a, b, r); break;
    case integer::multiply: s = multiply(a, b, r); break;
    case integer::divide: s = divide(a, b, r); break;
    case integer::remainder: s = remainder(a, b, r); break;
    default: invalid_type(rt);
    }
    raise(s);
    // Money over money is a plain ratio.
    if (op == integer::divide && rt == Type::money) args[0] = float_cell(to_float(pack(r)));
    else args[0] = pack(r);
}

bool fast_math(Cell& left, const Cell& right, int op) {
    Type lt = type_of(left), rt = type_of(right);
    if (lt == Type::money && rt == Type::money && (op == integer::add || op == integer::subtract)) {
        uint8_t ca = money_currency(left), cb = money_currency(right);
        if (ca && cb && ca != cb) return false;
        return packed_sum(left, right, op == integer::subtract, left);
    }
    if (!((lt == Type::money || lt == Type::integer) && (rt == Type::money || rt == Type::integer)))
        return false;
    if (op == integer::multiply && lt == Type::money && rt == Type::money) return false;
    if (op == integer::multiply)
        return lt == Type::money ? scaled(left, int_of(right), left) : scaled(right, int_of(left), left);
    uint8_t ca = lt == Type::money ? money_currency(left) : 0;
    uint8_t cb = rt == Type::money ? money_currency(right) : 0;
    if (ca && cb && ca != cb) return false;
    Amount a = operand(left), b = operand(right), r;
    r.currency = cb ? cb : ca;
    Status s;
    switch (op) {
    case integer::add: s = add(a, b, r); break;
    case integer::subtract: s = subtract(a, b, r); break;
    case integer::multiply: s = multiply(a, b, r); break;
    default: return false;
    }
    if (s != Status::ok) return false;
    left = pack(r);
    return true;
}

// --- comparison --------------------------------------------------------------------------

namespace {

// Amounts by sign, then by magnitude (reversed for two negatives).
int32_t compare_amounts(const Amount& a, const Amount& b) {
    int sa = a.zero() ? 0 : a.negative ? -1 : 1;
    int sb = b.zero() ? 0 : b.negative ? -1 : 1;
    if (sa != sb) return sa < sb ? -1 : 1;
    int c = compare_magnitude(a, b);
    return sa < 0 ? -c : c;
}

bool equality_code(int32_t op) { return op == 0 || op == 1 || op == 2 || op == 9 || op == 10 || op == 11 || op == 12; }

// A float beyond money's range, ordered by value: a huge one lies beyond every
// amount, a tiny non-zero one between zero and the smallest amount.
int32_t compare_out_of_range(const Amount& a, double x, int32_t op) {
    if (equality_code(op)) return 1;
    if (std::isnan(x)) return op == 3 || op == 4 ? 1 : op == 5 || op == 6 ? -1 : 0;
    if (float_overflow(x)) return x > 0 ? -1 : 1;
    if (!a.zero()) return a.negative ? -1 : 1;
    return x > 0 ? -1 : 1;
}

}  // namespace

int32_t compare(const Cell& left, const Cell& right, int32_t op) {
    Amount a = unpack(left);
    Type rt = type_of(right);
    if ((op == 2 || op == 9 || op == 12) && rt != Type::money) return 1;
    Amount b;
    switch (rt) {
    case Type::money:
        b = unpack(right);
        if (op == 7 || op == 8) {
            if (a.currency != b.currency) return a.currency < b.currency ? -1 : 1;
            return compare_amounts(a, b);
        }
        if (op == 12 && a.currency != b.currency) return 1;
        if (!currencies_agree(a, b)) {
            if (op >= 3 && op <= 6) wrong_denom(left, right);
            return 1;
        }
        break;
    case Type::integer: b = unpack(from_integer(int_of(right))); break;
    case Type::float_: {
        double x = float_of(right);
        if (!std::isfinite(x) || float_overflow(x) || float_underflow(x))
            return compare_out_of_range(a, x, op);
        b = unpack(from_float(x, true));
        break;
    }
    default: return -2;
    }
    if (op == 9) return same(left, right) ? 0 : 1;
    return compare_amounts(a, b);
}

// --- actions ------------------------------------------------------------------------------

namespace {

// [currency] amount [fraction]: a currency word, an integer! or float!, and
// after an integer a fraction 0-99999 right-aligned in the five places.
Cell from_block(const Cell& spec) {
    int32_t n = block::rs_length(spec);
    int32_t at = int32_t(series_index(spec));
    int32_t i = 0;
    Amount a;
    auto element = [&](int32_t k) { return *block::rs_abs_at(spec, at + k); };
    if (i < n && is(element(i), Type::word)) {
        int32_t index = find_currency_symbol(word_symbol(element(i)));
        if (index < 0) bad_make_arg(spec);
        a.currency = uint8_t(index);
        ++i;
    }
    if (i >= n) bad_make_arg(spec);
    Cell amount = element(i++);
    if (is(amount, Type::integer)) {
        Amount whole = unpack(from_integer(int_of(amount)));
        std::memcpy(a.d, whole.d, digit_count);
        a.negative = whole.negative;
        if (i < n) {
            Cell fraction = element(i++);
            if (!is(fraction, Type::integer) || int_of(fraction) < 0 || int_of(fraction) > 99999)
                bad_make_arg(spec);
            int32_t f = int_of(fraction);
            for (int k = digit_count - 1; f != 0; --k, f /= 10) a.d[k] = uint8_t(f % 10);
        }
    } else if (is(amount, Type::float_)) {
        Amount whole = unpack(from_float(float_of(amount), true));
        std::memcpy(a.d, whole.d, digit_count);
        a.negative = whole.negative;
    } else {
        bad_make_arg(spec);
    }
    if (i != n) bad_make_arg(spec);
    return pack(a);
}

void to(actions::Args args, Type) {
    Cell spec = args[1];
    Type t = type_of(spec);
    switch (t) {
    case Type::money: args[0] = spec; return;
    case Type::integer: args[0] = from_integer(int_of(spec)); return;
    case Type::float_: args[0] = from_float(float_of(spec), true); return;
    default: break;
    }
    if (series::is_string_like(t) && t != Type::binary) {
        std::string text = string::to_utf8(spec);
        int32_t err = 0;
        Cell result;
        lexer::scan_money(text.data(), uint32_t(text.size()), 1, err, result);
        if (err == 0) {
            args[0] = result;
            return;
        }
    }
    Cell target = money_type();
    errors::fire(errors::id::bad_to_arg, &target, &spec);
}

void make(actions::Args args, Type type) {
    Cell spec = args[1];
    if (is(spec, Type::word)) {
        int32_t index = find_currency_symbol(word_symbol(spec));
        if (index < 0) bad_make_arg(spec);
        Amount a;
        a.currency = uint8_t(index);
        args[0] = pack(a);
        return;
    }
    if (is(spec, Type::block)) {
        args[0] = from_block(spec);
        return;
    }
    to(args, type);
}

int32_t emit(const Cell& v, Node buffer, bool grouped, int fraction, int32_t budget) {
    return mold::append(buffer, text_of(unpack(v), grouped, fraction), budget);
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    return emit(v, buffer, true, locale::money_digits(), budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags flags, bool, int32_t budget, int32_t) {
    return emit(v, buffer, false, flags.all ? fraction_digits : locale::money_digits(), budget);
}

// code / 1: the currency word (none without one); amount / 2: the same
// amount without currency.
bool field(const Cell& money, const Cell& element, Cell& out) {
    int32_t which = 0;
    if (is(element, Type::integer)) {
        which = int_of(element);
    } else if (word::is_word_family(type_of(element))) {
        uint32_t s = symbol::resolve(word_symbol(element));
        if (s == symbol::resolve(symbol::make("code"))) which = 1;
        else if (s == symbol::resolve(symbol::make("amount"))) which = 2;
    }
    if (which == 1) {
        std::string code = code_of(money_currency(money));
        if (code.empty()) {
            out = none_cell();
        } else {
            word::make_at(symbol::make(code), out);
        }
        return true;
    }
    if (which == 2) {
        out = money;
        set_money_currency(out, 0);
        clear_flag(out, header::newline);
        return true;
    }
    return false;
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    Cell path = s.path ? *s.path : none_cell();
    Cell element = *s.element;
    if (s.value_to_set) errors::fire(errors::id::bad_path_set, &path, &element);
    if (!field(parent, element, result)) errors::fire(errors::id::invalid_path, &path, &element);
}

void pick(actions::Args args, int32_t) {
    Cell element = args[1];
    Cell out;
    if (!field(args[0], element, out)) errors::fire(errors::id::out_of_range, &element);
    args[0] = out;
}

// A random amount from zero up to the given one: digits drawn from the most
// significant, each up to the given digit while the drawn ones equal the given
// ones (keeping the given digit itself is rare), freely once one fell below.
void random(actions::Args args, bool seed, bool secure, bool) {
    Cell m = args[0];
    if (seed) {
        uint32_t sign_bit = has_flag(m, header::money_negative) ? 1 : 0;
        random::seed(int32_t(m.w1 ^ m.w2 ^ m.w3 ^ sign_bit));
        args[0] = unset_cell();
        return;
    }
    Amount a = unpack(m);
    int first = 0;
    while (first < digit_count && a.d[first] == 0) ++first;
    bool below = false;
    for (int i = first; i < digit_count; ++i) {
        if (below) {
            a.d[i] = uint8_t(random::draw(secure) % 10);
            continue;
        }
        int given = a.d[i];
        for (;;) {
            int d = random::draw(secure) % (given + 1);
            if (d < given) {
                a.d[i] = uint8_t(d);
                below = true;
                break;
            }
            if (random::draw(secure) % 1000 == random::draw(secure) % 1000) break;
        }
    }
    args[0] = pack(a);
}

void absolute(actions::Args args) { clear_flag(args[0], header::money_negative); }

void negate(actions::Args args) {
    args[0].header ^= header::money_negative;
}

void add_(actions::Args args) { do_math(args, integer::add); }
void subtract_(actions::Args args) { do_math(args, integer::subtract); }
void multiply_(actions::Args args) { do_math(args, integer::multiply); }
void divide_(actions::Args args) { do_math(args, integer::divide); }
void remainder_(actions::Args args) { do_math(args, integer::remainder); }

bool even_q(const Cell& v) { return unpack(v).d[units] % 2 == 0; }
bool odd_q(const Cell& v) { return unpack(v).d[units] % 2 != 0; }

// The /to scale as an amount: integer! or float!, by magnitude; $1 by default.
Amount scale_of(const actions::RoundRefs& r) {
    if (!r.to) return unpack(from_integer(1));
    const Cell& s = *r.to;
    Amount a;
    if (is(s, Type::integer)) a = unpack(from_integer(int_of(s)));
    else if (is(s, Type::float_)) a = unpack(from_float(float_of(s), true));
    else if (is(s, Type::money)) a = unpack(s);
    else {
        Cell word = errors::call_word();
        Cell type = datatype_cell(type_of(s));
        errors::fire(errors::id::not_related, &word, &type);
    }
    a.negative = false;
    a.currency = 0;
    return a;
}

void round(actions::Args args, const actions::RoundRefs& r) {
    Amount a = unpack(args[0]);
    if (a.zero()) return;
    Amount scale = scale_of(r);
    if (scale.zero()) return;
    bool negative = a.negative;
    Amount m = a;
    m.negative = false;
    Amount rem, t, up, rest;
    raise(remainder(m, scale, rem));
    if (rem.zero()) return;
    raise(subtract(m, rem, t));
    raise(add(t, scale, up));
    // The remainder against what is left of the scale: below, at or above half.
    raise(subtract(scale, rem, rest));
    int half = compare_magnitude(rem, rest);
    bool use_up;
    if (r.down) use_up = false;
    else if (r.floor) use_up = negative;
    else if (r.ceiling) use_up = !negative;
    else if (half != 0) use_up = half > 0;
    else if (r.half_down) use_up = false;
    else if (r.half_ceiling) use_up = !negative;
    else if (r.even) {
        // The last kept digit: t counted in scales.
        uint8_t qd[digit_count], rd[digit_count];
        long_divide(t.d, digit_count, scale.d, qd, rd);
        use_up = qd[digit_count - 1] % 2 != 0;
    } else use_up = true;
    Amount out = use_up ? up : t;
    out.negative = negative;
    out.currency = a.currency;
    args[0] = pack(out);
}

}  // namespace

void init() {
    actions::Row row;
    row.make = make;
    row.random = random;
    row.to = to;
    row.form = form;
    row.mold = mold;
    row.eval_path = eval_path;
    row.compare = compare;
    row.absolute = absolute;
    row.add = add_;
    row.subtract = subtract_;
    row.multiply = multiply_;
    row.divide = divide_;
    row.remainder = remainder_;
    row.negate = negate;
    row.round = round;
    row.even_q = even_q;
    row.odd_q = odd_q;
    row.pick = pick;
    datatype::register_type(Type::money, Type::any, "money!", row);
}

}  // namespace zan::money
