#include <climits>
#include <cmath>

#include <cstring>
#include <vector>

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/memory.h"
#include "value_support.h"

using namespace zan;
using test::binary;
using R = actions::Row;

namespace {

Cell i(int32_t v) { return integer_cell(v); }
Cell f(double v) { return float_cell(v); }

struct MathCase {
    test::BinarySlot slot;
    int32_t a, b;
    Type type;      // type of the result
    double expect;  // its value
};

TEST(Integer, ArithmeticStaysIntegerOrTurnsFloat) {
    const MathCase cases[] = {
        {&R::add, 1, 2, Type::integer, 3},
        {&R::add, INT_MAX, 1, Type::float_, 2147483648.0},
        {&R::subtract, INT_MIN, 1, Type::float_, -2147483649.0},
        {&R::multiply, 65536, 65536, Type::float_, 4294967296.0},
        {&R::multiply, -46341, 46341, Type::float_, -2147488281.0},
        {&R::divide, 6, 3, Type::integer, 2},
        {&R::divide, 7, 2, Type::float_, 3.5},
        {&R::divide, -7, 2, Type::float_, -3.5},
        {&R::divide, INT_MIN, 1, Type::integer, INT_MIN},
        {&R::remainder, 7, -2, Type::integer, 1},
        {&R::remainder, -7, 2, Type::integer, -1},
        {&R::and_t, 12, 10, Type::integer, 8},
        {&R::or_t, 12, 10, Type::integer, 14},
        {&R::xor_t, 12, 10, Type::integer, 6},
    };
    for (const auto& c : cases) {
        Cell r = binary(c.slot, i(c.a), i(c.b));
        SCOPED_TRACE(std::to_string(c.a) + " op " + std::to_string(c.b));
        ASSERT_EQ(type_of(r), c.type);
        if (c.type == Type::integer) EXPECT_EQ(int_of(r), int32_t(c.expect));
        else EXPECT_EQ(float_of(r), c.expect);
    }
}

// Every pair of boundary values against 64-bit arithmetic.
TEST(Integer, BoundaryGridAgainstWideArithmetic) {
    const int32_t edges[] = {INT_MIN, INT_MIN + 1, -65536, -46341, -2, -1, 0,
                             1,       2,           46341,  65536,  INT_MAX - 1, INT_MAX};
    for (int32_t a : edges) {
        for (int32_t b : edges) {
            SCOPED_TRACE(std::to_string(a) + ", " + std::to_string(b));
            struct Op {
                test::BinarySlot slot;
                int64_t wide;
            } ops[] = {{&R::add, int64_t(a) + b},
                       {&R::subtract, int64_t(a) - b},
                       {&R::multiply, int64_t(a) * b}};
            for (const auto& op : ops) {
                Cell r = binary(op.slot, i(a), i(b));
                if (op.wide >= INT_MIN && op.wide <= INT_MAX) {
                    ASSERT_TRUE(is(r, Type::integer));
                    EXPECT_EQ(int_of(r), op.wide);
                } else {
                    ASSERT_TRUE(is(r, Type::float_));
                    EXPECT_EQ(float_of(r), double(op.wide));
                }
            }
            if (b == 0 || (a == INT_MIN && b == -1)) {
                errors::Id expect = b == 0 ? errors::id::zero_divide : errors::id::overflow;
                EXPECT_EQ(test::raised([&] { binary(&R::divide, i(a), i(b)); }), expect);
                EXPECT_EQ(test::raised([&] { binary(&R::remainder, i(a), i(b)); }), expect);
                continue;
            }
            Cell q = binary(&R::divide, i(a), i(b));
            if (int64_t(a) % b == 0) {
                ASSERT_TRUE(is(q, Type::integer));
                EXPECT_EQ(int_of(q), int64_t(a) / b);
            } else {
                ASSERT_TRUE(is(q, Type::float_));
                EXPECT_EQ(float_of(q), double(a) / double(b));
            }
            EXPECT_EQ(int_of(binary(&R::remainder, i(a), i(b))), int64_t(a) % b);
        }
    }
}

TEST(Integer, MixedOperandsGoToTheirCore) {
    Cell r = binary(&R::add, i(3), f(0.5));
    ASSERT_TRUE(is(r, Type::float_));
    EXPECT_EQ(float_of(r), 3.5);
    r = binary(&R::add, i(1), char_cell('a'));
    ASSERT_TRUE(is(r, Type::integer));
    EXPECT_EQ(int_of(r), 98);
    r = binary(&R::add, i(1), float_cell(0.5, Type::percent));
    EXPECT_TRUE(is(r, Type::float_));
}

TEST(Integer, MathErrors) {
    struct Case {
        test::BinarySlot slot;
        int32_t a, b;
        errors::Id id;
    } cases[] = {
        {&R::divide, 1, 0, errors::id::zero_divide},
        {&R::remainder, 1, 0, errors::id::zero_divide},
        {&R::divide, INT_MIN, -1, errors::id::overflow},
        {&R::remainder, INT_MIN, -1, errors::id::overflow},
    };
    for (const auto& c : cases)
        EXPECT_EQ(test::raised([&] { binary(c.slot, i(c.a), i(c.b)); }), c.id) << c.a << " " << c.b;
    EXPECT_EQ(test::raised([] { test::unary(&R::negate, i(INT_MIN)); }), errors::id::overflow);
    EXPECT_EQ(test::raised([] { test::unary(&R::absolute, i(INT_MIN)); }), errors::id::overflow);
    EXPECT_EQ(test::raised([] { binary(&R::add, i(1), logic_cell(true)); }),
              errors::id::invalid_type);
    EXPECT_EQ(errors::pending_arg(1).w1, uint32_t(Type::logic));
}

TEST(Integer, UnaryActions) {
    EXPECT_EQ(int_of(test::unary(&R::negate, i(5))), -5);
    EXPECT_EQ(int_of(test::unary(&R::absolute, i(-5))), 5);
    EXPECT_EQ(int_of(test::unary(&R::complement, i(0))), -1);
    const R& row = test::row_of(i(0));
    EXPECT_TRUE(row.even_q.fn(i(-4)));
    EXPECT_TRUE(row.odd_q.fn(i(INT_MIN + 1)));
    EXPECT_FALSE(row.odd_q.fn(i(INT_MIN)));
}

TEST(Integer, Power) {
    struct Case {
        int32_t base, exp;
        Type type;
        double expect;
    } cases[] = {
        {2, 31, Type::float_, 2147483648.0}, {2, 30, Type::integer, 1073741824},
        {2, -1, Type::float_, 0.5},          {-2, 31, Type::integer, INT_MIN},
        {0, 0, Type::integer, 1},            {3, 40, Type::float_, std::pow(3.0, 40)},
        {-1, 2147483647, Type::integer, -1},
    };
    for (const auto& c : cases) {
        Cell r = binary(&R::power, i(c.base), i(c.exp));
        SCOPED_TRACE(std::to_string(c.base) + " ** " + std::to_string(c.exp));
        ASSERT_EQ(type_of(r), c.type);
        if (c.type == Type::integer) EXPECT_EQ(int_of(r), int32_t(c.expect));
        else EXPECT_EQ(float_of(r), c.expect);
    }
    Cell r = binary(&R::power, i(4), f(0.5));
    EXPECT_EQ(float_of(r), 2.0);
    EXPECT_EQ(test::raised([] { binary(&R::power, i(2), none_cell()); }), errors::id::expect_arg);
}

TEST(Integer, Round) {
    struct Case {
        int32_t n;
        int32_t scale;  // 0: no /to
        actions::RoundRefs refs;
        int32_t expect;
    };
    auto refs = [](auto set) {
        actions::RoundRefs r;
        set(r);
        return r;
    };
    actions::RoundRefs plain;
    auto even = refs([](auto& r) { r.even = true; });
    auto half_down = refs([](auto& r) { r.half_down = true; });
    auto half_ceiling = refs([](auto& r) { r.half_ceiling = true; });
    auto floor = refs([](auto& r) { r.floor = true; });
    auto ceiling = refs([](auto& r) { r.ceiling = true; });
    auto down = refs([](auto& r) { r.down = true; });
    const Case cases[] = {
        {5, 0, plain, 5},          {25, 10, plain, 30},         {-25, 10, plain, -30},
        {25, 10, even, 20},        {35, 10, even, 40},          {25, 10, half_down, 20},
        {-25, 10, half_ceiling, -20}, {25, 10, half_ceiling, 30}, {-21, 10, floor, -30},
        {21, 10, floor, 20},       {21, 10, ceiling, 30},       {-21, 10, ceiling, -20},
        {7, 0 /*scale 0 below*/, plain, 7}, {17, 5, plain, 15}, {18, 5, plain, 20},
        {-15, 10, plain, -20},     {-29, 10, down, -20},        {14, -10, plain, 10},
        {INT_MIN, 0, plain, INT_MIN}, {INT_MAX, 0, plain, INT_MAX},
        {INT_MIN, 2, plain, INT_MIN}, {INT_MIN + 8, 10, down, -2147483640},
    };
    for (const auto& c : cases) {
        Cell scale = i(c.scale);
        actions::RoundRefs r = c.refs;
        if (c.scale) r.to = &scale;
        Cell v = test::round(i(c.n), r);
        ASSERT_TRUE(is(v, Type::integer));
        EXPECT_EQ(int_of(v), c.expect) << c.n << " to " << c.scale;
    }
    Cell zero = i(0);
    actions::RoundRefs to_zero;
    to_zero.to = &zero;
    EXPECT_EQ(int_of(test::round(i(7), to_zero)), 7);

    Cell half = f(2.5);
    actions::RoundRefs to_half;
    to_half.to = &half;
    Cell v = test::round(i(7), to_half);
    ASSERT_TRUE(is(v, Type::float_));
    EXPECT_EQ(float_of(v), 7.5);
}

TEST(Integer, RoundLeavingTheRangeRaisesOverflow) {
    Cell ten = i(10), min = i(INT_MIN);
    actions::RoundRefs r;
    r.to = &ten;
    EXPECT_EQ(test::raised([&] { test::round(i(INT_MIN), r); }), errors::id::overflow);
    EXPECT_EQ(test::raised([&] { test::round(i(INT_MAX), r); }), errors::id::overflow);
    r.to = &min;
    EXPECT_EQ(test::raised([&] { test::round(i(5), r); }), errors::id::overflow);
}

TEST(Integer, ToAndMake) {
    EXPECT_EQ(int_of(test::to(Type::integer, f(-1.9))), -1);
    EXPECT_EQ(int_of(test::to(Type::integer, f(2147483647.0))), INT_MAX);
    EXPECT_EQ(int_of(test::to(Type::integer, f(-2147483648.0))), INT_MIN);
    EXPECT_EQ(int_of(test::to(Type::integer, float_cell(0.5, Type::percent))), 0);
    EXPECT_EQ(int_of(test::to(Type::integer, float_cell(1.5, Type::time))), 2);
    EXPECT_EQ(int_of(test::to(Type::integer, char_cell('A'))), 65);
    EXPECT_EQ(int_of(test::make(Type::integer, logic_cell(true))), 1);
    EXPECT_EQ(int_of(test::make(Type::integer, logic_cell(false))), 0);
    for (double d : {2147483648.0, -2147483649.0, std::nan(""), HUGE_VAL})
        EXPECT_EQ(test::raised([&] { test::to(Type::integer, f(d)); }), errors::id::type_limit) << d;
    EXPECT_EQ(test::raised([] { test::to(Type::integer, logic_cell(true)); }),
              errors::id::bad_to_arg);
    EXPECT_EQ(test::raised([] { test::to(Type::integer, float_cell(3e9, Type::time)); }),
              errors::id::type_limit);
}

Cell text(std::string_view s) {
    Node n = string::make_buffer(16, 1);
    string::append_utf8(n, s);
    return string::make_cell(n, 0, Type::string);
}

TEST(Integer, ToFromText) {
    struct Case {
        const char* text;
        int32_t expect;
    } good[] = {{"1'000", 1000}, {"-2147483648", INT_MIN}, {"+7", 7}, {"2147483647", INT_MAX}};
    for (const auto& c : good) EXPECT_EQ(int_of(test::to(Type::integer, text(c.text))), c.expect) << c.text;
    for (const char* bad : {"12a", "", "2147483648", "-2147483649", "-", " 1", "1.5"})
        EXPECT_EQ(test::raised([&] { test::to(Type::integer, text(bad)); }), errors::id::bad_to_arg)
            << bad;
}

TEST(Integer, ToFromIssue) {
    auto issue = [](const char* s) { return make_cell(Type::issue, 0, symbol::make(s), uint32_t(-1)); };
    struct Case {
        const char* text;
        int32_t expect;
    } good[] = {{"FF", 255}, {"ff", 255}, {"", 0}, {"7fffffff", INT_MAX}, {"FFFFFFFF", -1},
                {"12345678", 0x12345678}};
    for (const auto& c : good) EXPECT_EQ(int_of(test::to(Type::integer, issue(c.text))), c.expect) << c.text;
    for (const char* bad : {"123456789", "FG", "a-b", "\xC3\xA9"})
        EXPECT_EQ(test::raised([&] { test::to(Type::integer, issue(bad)); }), errors::id::invalid_data)
            << bad;
    // Code points are taken modulo 128: U+00C1 reads as "A".
    EXPECT_EQ(int_of(test::to(Type::integer, issue("\xC3\x81"))), 10);
}

TEST(Integer, ToFromBinary) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t index;
        int32_t expect;
    } cases[] = {
        {{0x01, 0x02}, 0, 258},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, 0, 0x01020304},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, 1, 0x02030405},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0, -1},
        {{}, 0, 0},
    };
    for (const auto& c : cases) {
        Node n = memory::alloc_bytes(uint32_t(c.bytes.size()));
        memory::Series* s = memory::buffer(n);
        if (!c.bytes.empty()) std::memcpy(s->at_head(), c.bytes.data(), c.bytes.size());
        s->tail = s->head + uint32_t(c.bytes.size());
        EXPECT_EQ(int_of(test::to(Type::integer, make_cell(Type::binary, c.index, n))), c.expect);
    }
}

TEST(Integer, Compare) {
    EXPECT_EQ(test::compare(i(1), i(2), 3), -1);
    EXPECT_EQ(test::compare(i(1), f(1.0), 0), 0);
    EXPECT_NE(test::compare(i(1), f(1.0), 2), 0);
    EXPECT_EQ(test::compare(i(97), char_cell('a'), 0), 0);
    EXPECT_NE(test::compare(i(97), char_cell('a'), 12), 0);
    EXPECT_EQ(test::compare(i(1), none_cell(), 0), -2);
}

TEST(Integer, Text) {
    struct Case {
        int32_t n;
        const char* text;
    } cases[] = {{0, "0"}, {-1, "-1"}, {INT_MIN, "-2147483648"}, {INT_MAX, "2147483647"}, {1000, "1000"}};
    for (const auto& c : cases) {
        EXPECT_EQ(test::form(i(c.n)), c.text);
        EXPECT_EQ(test::mold(i(c.n)), c.text);
    }
}

TEST(Integer, NumberToInteger) {
    EXPECT_EQ(integer::number_to_integer(f(2147483647.0)), INT_MAX);
    EXPECT_EQ(integer::number_to_integer(f(-2.7)), -2);
    EXPECT_EQ(integer::number_to_integer(i(42)), 42);
    for (double d : {2147483648.0, std::nan("")})
        EXPECT_EQ(test::raised([&] { integer::number_to_integer(f(d)); }),
                  errors::id::out_of_range);
}

TEST(IntegerDeathTest, UnknownOperatorIsFatal) {
    EXPECT_EXIT(integer::do_math_op(1, 2, 9, nullptr), testing::ExitedWithCode(101),
                "no value matched in SWITCH");
}

TEST(Integer, DoMathOpWithoutResultCell) {
    EXPECT_EQ(integer::do_math_op(7, 2, integer::divide, nullptr), 3);
    EXPECT_EQ(integer::do_math_op(INT_MAX, 1, integer::add, nullptr), INT_MIN);
}

}  // namespace
