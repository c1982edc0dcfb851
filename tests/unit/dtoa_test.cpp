// Number text: layouts, digit cuts, reading edge cases, and random round trips
// checked against the C library's own conversions.
#include "runtime/dtoa.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace {

using namespace zan;

constexpr double inf = std::numeric_limits<double>::infinity();

uint64_t bits(double v) { return std::bit_cast<uint64_t>(v); }

double read(const std::string& s, int extra = 0, std::ptrdiff_t* left = nullptr) {
    return dtoa::strtod(s.data(), s.data() + s.size(), extra, left);
}

std::string form(double v, int n = 0, bool point_zero = true) {
    return dtoa::form_float(v, n, point_zero);
}

TEST(DtoaForm, Layouts) {
    struct Case {
        double value;
        int n;
        bool point_zero;
        const char* text;
    };
    const Case cases[] = {
        {1.0, 0, true, "1.0"},
        {0.1, 0, true, "0.1"},
        {100.0, 0, true, "100.0"},
        {100.0, 0, false, "100"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {1e20, 0, false, "1e20"},
        {123456789.125, 0, true, "123456789.125"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {1.5e300, 0, true, "1.5e300"},
        {-2.5, 0, true, "-2.5"},
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {-1.25e-7, 0, true, "-0.000000125"},
        {-1.25e-8, 0, true, "-1.25e-8"},
        {1.2345e-6, 0, true, "0.0000012345"},
        {-1.2345678901234568e-5, 0, true, "-0.000012345678901234568"},
        {12345678901234566e1, 0, true, "1.2345678901234566e17"},
        {1.2345678901234567e16, 0, true, "12345678901234568.0"},
        {5e-324, 0, true, "5.0e-324"},
        {std::numeric_limits<double>::max(), 0, true, "1.7976931348623157e308"},
        {-std::numeric_limits<double>::max(), 0, true, "-1.7976931348623157e308"},
        {0.0, 0, true, "0.0"},
        {-0.0, 0, true, "-0.0"},
        {0.0, 0, false, "0"},
        {-0.0, 0, false, "-0"},
        {inf, 0, true, "1.#INF"},
        {-inf, 0, false, "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), 0, true, "1.#NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), 0, true, "1.#NaN"},
        // seconds of a time: six digits, no point zero
        {12.3456789, 6, false, "12.3457"},
        {59.0, 6, false, "59"},
        {0.0000015, 6, false, "0.0000015"},
        {59.9999999, 6, false, "60"},
        // money from a float: 22 digits never add digits
        {0.1, 22, true, "0.1"},
        {1234.5678, 22, true, "1234.5678"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(form(c.value, c.n, c.point_zero), c.text)
            << c.value << " n=" << c.n << " point_zero=" << c.point_zero;
}

TEST(DtoaDigits, CutToAtMostNDigits) {
    struct Case {
        double value;
        int n;
        const char* digits;
        int point;
    };
    const Case cases[] = {
        {12.3456789, 6, "123457", 2},
        {2.5, 6, "25", 1},
        {0.1, 22, "1", 0},
        {0.1, 0, "1", 0},
        {2.5, 1, "2", 1},      // exact tie: even digit
        {3.5, 1, "4", 1},      // exact tie: even digit
        {0.125, 2, "12", 0},   // exact tie: even digit
        {0.375, 2, "38", 0},
        {9.5, 1, "1", 2},      // the carry adds a leading 1
        {999999.5, 6, "1", 7},
        {0.30000000000000004, 16, "3", 0},
        {0.30000000000000004, 17, "30000000000000004", 0},
        {1e23, 0, "1", 24},
        {5e-324, 0, "5", -323},
        {5e-324, 1, "5", -323},
        {1.7976931348623157e308, 3, "18", 309},
    };
    for (const Case& c : cases) {
        int point = 0;
        int sign = 0;
        int count = 0;
        std::string got = dtoa::digits(c.value, c.n, &point, &sign, &count, true);
        EXPECT_EQ(got, c.digits) << c.value << " n=" << c.n;
        EXPECT_EQ(point, c.point) << c.value << " n=" << c.n;
        EXPECT_EQ(count, int(got.size()));
        EXPECT_EQ(sign, 0);
    }
}

TEST(DtoaDigits, SignAndSpecialsShareTheBuffer) {
    int point = 0;
    int sign = 0;
    int count = 0;
    const char* d = dtoa::digits(-0.015625, 0, &point, &sign, &count, true);
    EXPECT_STREQ(d, "15625");
    EXPECT_EQ(sign, 1);
    EXPECT_EQ(point, -1);
    EXPECT_STREQ(d - 1, "-15625");

    d = dtoa::digits(-inf, 0, &point, &sign, &count, true);
    EXPECT_EQ(point, dtoa::point_special);
    EXPECT_EQ(sign, 1);
    EXPECT_STREQ(d - 1, "-1.#INF");

    d = dtoa::digits(-0.0, 0, &point, &sign, &count, false);
    EXPECT_EQ(point, dtoa::point_zero);
    EXPECT_EQ(sign, 1);
    EXPECT_STREQ(d, "0");

    d = dtoa::digits(std::numeric_limits<double>::quiet_NaN(), 0, &point, &sign, &count, false);
    EXPECT_EQ(point, dtoa::point_special);
    EXPECT_EQ(sign, 0);
    EXPECT_STREQ(d, "1.#NaN");
}

TEST(DtoaRead, Table) {
    struct Case {
        const char* text;
        int extra;
        double value;
        std::ptrdiff_t left;
    };
    const Case cases[] = {
        {"0", 0, 0.0, 0},
        {"1", 0, 1.0, 0},
        {"+1.5", 0, 1.5, 0},
        {"-2.5", 0, -2.5, 0},
        {"0001.2500", 0, 1.25, 0},
        {".5", 0, 0.5, 0},
        {"5.", 0, 5.0, 0},
        {"1e3", 0, 1000.0, 0},
        {"1E+3", 0, 1000.0, 0},
        {"12.5e-1", 0, 1.25, 0},
        {"100", 0, 100.0, 0},
        {"0.1", 0, 0.1, 0},
        {"0.30000000000000004", 0, 0.1 + 0.2, 0},
        {"50", -2, 0.5, 0},
        {"12.5", -2, 0.125, 0},
        {"1e-2", -2, 1e-4, 0},
        {"1e17", 0, 1e17, 0},
        {"1.0e-8", 0, 1e-8, 0},
        {"9007199254740993", 0, 9007199254740992.0, 0},  // tie to even
        {"9007199254740995", 0, 9007199254740996.0, 0},  // tie to even
        {"1.5x", 0, 1.5, 1},
        {"2e", 0, 2.0, 1},
        {"2e+", 0, 2.0, 2},
        {"2ex", 0, 2.0, 2},
        {"1.#X", 0, 1.0, 2},
        {"", 0, 0.0, 0},
        {"abc", 0, 0.0, 3},
        {".", 0, 0.0, 1},
        {"0.000", 0, 0.0, 0},
        {"1e309", 0, inf, 0},
        {"-1e309", 0, -inf, 0},
        {"1.7976931348623157e308", 0, 1.7976931348623157e308, 0},
        {"1.7976931348623159e308", 0, inf, 0},
        {"2.2250738585072014e-308", 0, 2.2250738585072014e-308, 0},
        {"4.9406564584124654e-324", 0, 5e-324, 0},
        {"2.4703282292062328e-324", 0, 5e-324, 0},
        {"2.4703282292062327e-324", 0, 0.0, 0},
        {"1e-400", 0, 0.0, 0},
        {"1e99999999999999999999", 0, inf, 0},
        {"-1e99999999999999999999", 0, -inf, 0},
        {"1e-99999999999999999999", 0, 0.0, 0},
        {"0e99999999999999999999", 0, 0.0, 0},
        {"0.000000000000000000001e330", 0, inf, 0},
        {"100000000000000000000000e-330", 0, 1e-307, 0},
        {"1.#INF", 0, inf, 0},
        {"-1.#INF", 0, -inf, 0},
        {"1.#inf", 0, inf, 0},
    };
    for (const Case& c : cases) {
        std::ptrdiff_t left = -1;
        double v = read(c.text, c.extra, &left);
        EXPECT_EQ(bits(v), bits(c.value)) << '"' << c.text << "\" gave " << v;
        EXPECT_EQ(left, c.left) << '"' << c.text << '"';
    }
}

TEST(DtoaRead, SignedZeroAndNaN) {
    EXPECT_EQ(bits(read("-0")), bits(-0.0));
    EXPECT_EQ(bits(read("-0.000e5")), bits(-0.0));
    EXPECT_EQ(bits(read("-")), bits(-0.0));
    EXPECT_EQ(bits(read("-1e-400")), bits(-0.0));
    EXPECT_EQ(form(read("-0")), "-0.0");
    EXPECT_TRUE(std::isnan(read("1.#NaN")));
    EXPECT_TRUE(std::isnan(read("-1.#nan")));
    // "#" is special only right after a single digit and a point
    EXPECT_EQ(read("12.#INF"), 12.0);
}

TEST(DtoaRead, ReadsOnlyItsRange) {
    const char text[] = "12345";
    std::ptrdiff_t left = -1;
    EXPECT_EQ(dtoa::strtod(text, text + 3, 0, &left), 123.0);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(dtoa::strtod(text + 1, text + 2, 0, &left), 2.0);
}

// Halfway points need every digit: a long digit string exactly halfway
// between two doubles rounds to the even one, one more digit decides.
TEST(DtoaRead, LongHalfwayDigits) {
    const std::string below_even = "1.00000000000000011102230246251565404236316680908203125";
    const std::string above_odd = "1.00000000000000033306690738754696212708950042724609375";
    const double one_up = std::nextafter(1.0, 2.0);
    const double two_up = std::nextafter(one_up, 2.0);
    for (std::string zeros : {std::string(5, '0'), std::string(1000, '0')}) {
        EXPECT_EQ(read(below_even + zeros), 1.0);
        EXPECT_EQ(read(below_even + zeros + "1"), one_up);
        EXPECT_EQ(read(above_odd + zeros), two_up);
        EXPECT_EQ(read(above_odd.substr(0, above_odd.size() - 1) + "49" + zeros + "9"), one_up);
    }
    // 60 significant digits, with the exponent carrying the scale
    const std::string sixty = "100000000000000011102230246251565404236316680908203125000000";
    ASSERT_EQ(sixty.size(), 60u);
    EXPECT_EQ(read(sixty + "e-59"), 1.0);
    EXPECT_EQ(read(sixty.substr(0, 59) + "1e-59"), one_up);
    // digits far beyond any double's precision, on both sides of the point
    EXPECT_EQ(read(std::string(400, '9') + "." + std::string(400, '9')), inf);
    EXPECT_EQ(read("0." + std::string(400, '0') + "1e400"), 0.1);
}

std::string to_chars_shortest(double v) {
    char text[64];
    auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific);
    return std::string(text, r.ptr);
}

// The digits and point of digits() written the way to_chars writes them.
std::string as_scientific(const char* d, int point, int sign) {
    std::string s = sign ? "-" : "";
    s += d[0];
    if (d[1]) s += std::string(".") + (d + 1);
    char e[16];
    std::snprintf(e, sizeof e, "e%c%02d", point - 1 < 0 ? '-' : '+', std::abs(point - 1));
    return s + e;
}

double random_double(std::mt19937_64& rng) {
    for (;;) {
        double v = std::bit_cast<double>(rng());
        if (std::isfinite(v)) return v;
    }
}

TEST(DtoaRoundTrip, RandomBitPatterns) {
    std::mt19937_64 rng(20261210);
    for (int i = 0; i < 200000; ++i) {
        double v = random_double(rng);
        std::string text = form(v);
        ASSERT_EQ(bits(read(text)), bits(v)) << text;
        ASSERT_EQ(bits(std::strtod(text.c_str(), nullptr)), bits(v)) << text;

        int point = 0;
        int sign = 0;
        int count = 0;
        const char* d = dtoa::digits(v, 0, &point, &sign, &count, true);
        if (point >= dtoa::point_zero) continue;
        ASSERT_EQ(as_scientific(d, point, sign), to_chars_shortest(v));
    }
}

TEST(DtoaRoundTrip, RandomShortDecimals) {
    // Values with few digits, the common case of script text.
    std::mt19937_64 rng(7);
    for (int i = 0; i < 100000; ++i) {
        long long mantissa = (long long)(rng() % 10000000000000000ull);
        int exponent = int(rng() % 80) - 40;
        char text[64];
        std::snprintf(text, sizeof text, "%llde%d", mantissa, exponent);
        double v = read(text);
        ASSERT_EQ(bits(v), bits(std::strtod(text, nullptr))) << text;
        ASSERT_EQ(bits(read(form(v))), bits(v)) << text;
    }
}

TEST(DtoaRoundTrip, RandomLongDigitStrings) {
    // Long texts against the C library's correctly rounded reader.
    std::mt19937_64 rng(11);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        int length = 1 + int(rng() % 120);
        for (int k = 0; k < length; ++k) text += char('0' + rng() % 10);
        text.insert(rng() % (text.size() + 1), ".");
        text += "e" + std::to_string(int(rng() % 700) - 380);
        double v = read(text);
        ASSERT_EQ(bits(v), bits(std::strtod(text.c_str(), nullptr))) << text;
    }
}

TEST(DtoaRoundTrip, CutDigitsMatchPrintf) {
    // With n digits, a value whose shortest text is longer is rounded exactly,
    // as printf does; a shorter one keeps its shortest digits.
    std::mt19937_64 rng(3);
    for (int i = 0; i < 50000; ++i) {
        double v = std::fabs(random_double(rng));
        if (v == 0.0) continue;
        int n = 1 + int(rng() % 17);
        int point = 0;
        int sign = 0;
        int count = 0;
        std::string got = dtoa::digits(v, n, &point, &sign, &count, true);
        std::string shortest = dtoa::digits(v, 0, &point, &sign, &count, true);
        dtoa::digits(v, n, &point, &sign, &count, true);
        if (int(shortest.size()) <= n) {
            ASSERT_EQ(got, shortest);
            continue;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%.*e", n - 1, v);
        std::string expect;
        const char* p = text;
        for (; *p != 'e'; ++p)
            if (*p != '.') expect += *p;
        while (expect.size() > 1 && expect.back() == '0') expect.pop_back();
        ASSERT_EQ(got, expect) << text;
        ASSERT_EQ(point, std::atoi(p + 1) + 1) << text;
    }
}

TEST(DtoaRoundTrip, Extremes) {
    const double values[] = {
        5e-324,
        2.2250738585072014e-308,
        2.225073858507201e-308,  // largest subnormal
        1.7976931348623157e308,
        std::nextafter(1.0, 0.0),
        9007199254740993.0,
        1e15,
        999999999999999.9,
        1e22,
        1e23,
    };
    for (double v : values) {
        for (double s : {v, -v}) {
            EXPECT_EQ(bits(read(form(s))), bits(s)) << form(s);
            EXPECT_EQ(bits(read(form(s, 0, false))), bits(s)) << form(s, 0, false);
        }
    }
    for (double s : {inf, -inf}) EXPECT_EQ(bits(read(form(s))), bits(s));
    EXPECT_TRUE(std::isnan(read(form(std::numeric_limits<double>::quiet_NaN()))));
}

}  // namespace
