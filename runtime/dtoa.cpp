// Number text: doubles to decimal text and back, exactly.
//
// The correctly rounded work is done by std::to_chars / std::from_chars, which
// are exact in both directions and independent of the locale. This file owns
// what the language adds around them: the syntax it reads (the extra exponent,
// the "1.#INF" texts, saturating exponents), the "at most n digits" rule (n is a
// maximum: a value whose shortest digits are fewer keeps them), and the layout
// of a float's loadable text.
//
// Invariant of the digit buffer: byte 0 is always "-", the digits or special
// text start at byte 1, so a negative number's text is the buffer from byte 0.
#include "runtime/dtoa.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace zan::dtoa {

namespace {

// "-", at most 30 characters, NUL. The longest text form_float writes is a
// sign, "0.", six zeros and 17 digits: 26 characters.
char buffer[32] = "-";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits kept for the exact conversion. A halfway point between two doubles
// has at most 767 significant digits, so past this many only "is anything
// non-zero left" matters: one sticky digit stands for the rest.
constexpr std::ptrdiff_t kept_digits = 780;

// Exponents saturate here: far beyond any double, far within int64.
constexpr int64_t exponent_limit = 1'000'000'000;

// The significant digits of the text, which may sit on both sides of the point.
struct DigitRun {
    const char* int_first;
    const char* int_last;
    const char* frac_first;
    const char* frac_last;

    std::ptrdiff_t size() const { return (int_last - int_first) + (frac_last - frac_first); }
    char at(std::ptrdiff_t i) const {
        std::ptrdiff_t n = int_last - int_first;
        return i < n ? int_first[i] : frac_first[i - n];
    }
};

double special(const char* p, bool negative) {
    if (*p == 'I' || *p == 'i')
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    return std::numeric_limits<double>::quiet_NaN();
}

// Value of digits * 10^exponent, correctly rounded; digits has no leading or
// trailing zeros and is not empty.
double convert(const DigitRun& digits, int64_t exponent) {
    std::ptrdiff_t count = digits.size();
    int64_t decade = exponent + count;  // the value lies in [10^(decade-1), 10^decade)
    if (decade > 330) return std::numeric_limits<double>::infinity();
    if (decade < -330) return 0.0;

    char text[kept_digits + 24];
    std::ptrdiff_t used = count < kept_digits ? count : kept_digits;
    for (std::ptrdiff_t i = 0; i < used; ++i) text[i] = digits.at(i);
    if (count > used) {
        // The dropped digits end in a non-zero one (trailing zeros are gone).
        text[used++] = '1';
        exponent += count - used;
    }
    text[used++] = 'e';
    auto [end, ec] = std::to_chars(text + used, text + sizeof text, exponent);
    (void)ec;
    double value = 0.0;
    auto result = std::from_chars(text, end, value, std::chars_format::scientific);
    if (result.ec == std::errc::result_out_of_range)
        return decade > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return value;
}

// Shortest (precision < 0) or rounded scientific digits of a positive finite x
// into out; answers the digit count and sets the decimal exponent of d1.
int scientific(double x, int precision, char* out, int* exponent) {
    char text[48];
    std::to_chars_result r = precision < 0
        ? std::to_chars(text, text + sizeof text, x, std::chars_format::scientific)
        : std::to_chars(text, text + sizeof text, x, std::chars_format::scientific, precision);
    int count = 0;
    const char* p = text;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (is_digit(*p)) out[count++] = *p;
    int e = 0;
    std::from_chars(p + 1 + (p[1] == '+'), r.ptr, e);
    *exponent = e;
    while (count > 1 && out[count - 1] == '0') --count;
    return count;
}

char* put_zeros(char* p, int n) {
    for (; n > 0; --n) *p++ = '0';
    return p;
}

}  // namespace

double strtod(const char* first, const char* end, int extra_exponent, std::ptrdiff_t* left) {
    const char* p = first;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';

    DigitRun run{p, p, p, p};
    while (p < end && is_digit(*p)) ++p;
    run.int_last = p;
    run.frac_first = run.frac_last = p;
    if (p < end && *p == '.') {
        if (p - run.int_first == 1 && end - p >= 3 && p[1] == '#' &&
            (p[2] == 'I' || p[2] == 'i' || p[2] == 'N' || p[2] == 'n')) {
            if (left) *left = 0;
            return special(p + 2, negative);
        }
        run.frac_first = ++p;
        while (p < end && is_digit(*p)) ++p;
        run.frac_last = p;
    }
    if (run.size() == 0) {
        if (left) *left = end - first;
        return negative ? -0.0 : 0.0;
    }

    int64_t exponent = 0;
    if (end - p >= 2 && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exp_negative = false;
        if (*q == '+' || *q == '-') exp_negative = *q++ == '-';
        if (q < end && is_digit(*q)) {  // else the "e" is not part of the number
            for (p = q; p < end && is_digit(*p); ++p)
                if (exponent < exponent_limit) exponent = exponent * 10 + (*p - '0');
            if (exp_negative) exponent = -exponent;
        }
    }
    if (left) *left = end - p;

    // Only the significant digits count: strip leading zeros (of the whole
    // run) and trailing zeros (into the exponent).
    exponent += extra_exponent;
    exponent -= run.frac_last - run.frac_first;
    while (run.int_first < run.int_last && *run.int_first == '0') ++run.int_first;
    if (run.int_first == run.int_last)
        while (run.frac_first < run.frac_last && *run.frac_first == '0') ++run.frac_first;
    while (run.frac_first < run.frac_last && run.frac_last[-1] == '0') {
        --run.frac_last;
        ++exponent;
    }
    if (run.frac_first == run.frac_last)
        while (run.int_first < run.int_last && run.int_last[-1] == '0') {
            --run.int_last;
            ++exponent;
        }
    if (run.size() == 0) return negative ? -0.0 : 0.0;

    double value = convert(run, exponent);
    return negative ? -value : value;
}

const char* digits(double v, int n, int* point, int* sign, int* count, bool with_point_zero) {
    char* text = buffer + 1;
    buffer[0] = '-';
    *sign = std::signbit(v) ? 1 : 0;
    const char* fixed = nullptr;
    if (std::isnan(v)) {
        *sign = 0;
        *point = point_special;
        fixed = "1.#NaN";
    } else if (std::isinf(v)) {
        *point = point_special;
        fixed = "1.#INF";
    } else if (v == 0.0) {
        *point = point_zero;
        fixed = with_point_zero ? "0.0" : "0";
    }
    if (fixed) {
        *count = int(std::strlen(fixed));
        std::memcpy(text, fixed, std::size_t(*count) + 1);
        return text;
    }

    double x = std::fabs(v);
    int exponent = 0;
    int m = scientific(x, -1, text, &exponent);
    if (n > 0 && m > n) m = scientific(x, n - 1, text, &exponent);
    text[m] = '\0';
    *point = exponent + 1;
    *count = m;
    return text;
}

const char* form_float(double v, int n, bool with_point_zero) {
    int p = 0;
    int sign = 0;
    int m = 0;
    const char* text = digits(v, n, &p, &sign, &m, with_point_zero);
    if (p >= point_zero) return sign ? text - 1 : text;

    char d[32];
    std::memcpy(d, text, std::size_t(m));
    char* out = buffer + 1;
    if (p >= 18 || p < -6) {
        *out++ = d[0];
        if (m > 1) {
            *out++ = '.';
            std::memcpy(out, d + 1, std::size_t(m - 1));
            out += m - 1;
        } else if (with_point_zero) {
            *out++ = '.';
            *out++ = '0';
        }
        *out++ = 'e';
        out = std::to_chars(out, buffer + sizeof buffer - 1, p - 1).ptr;
    } else if (p >= 1) {
        if (m <= p) {
            std::memcpy(out, d, std::size_t(m));
            out = put_zeros(out + m, p - m);
            if (with_point_zero) {
                *out++ = '.';
                *out++ = '0';
            }
        } else {
            std::memcpy(out, d, std::size_t(p));
            out += p;
            *out++ = '.';
            std::memcpy(out, d + p, std::size_t(m - p));
            out += m - p;
        }
    } else {
        *out++ = '0';
        *out++ = '.';
        out = put_zeros(out, -p);
        std::memcpy(out, d, std::size_t(m));
        out += m;
    }
    *out = '\0';
    return sign ? buffer : buffer + 1;
}

}  // namespace zan::dtoa
