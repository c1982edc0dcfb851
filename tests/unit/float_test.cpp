#include <cfloat>
#include <cmath>

#include <cstring>

#include "datatypes/float.h"
#include "datatypes/string.h"
#include "runtime/memory.h"
#include "datatypes/integer.h"
#include "value_support.h"

using namespace zan;
using test::binary;
using R = actions::Row;

namespace {

Cell f(double v) { return float_cell(v); }
Cell i(int32_t v) { return integer_cell(v); }

Cell math(Cell a, Cell b, int op) {
    datatype::register_all();
    Cell args[2] = {a, b};
    float_::do_math(args, op);
    return args[0];
}

TEST(Float, Arithmetic) {
    struct Case {
        int op;
        Cell a, b;
        Type type;
        double expect;
    } cases[] = {
        {integer::add, f(1.5), f(2.25), Type::float_, 3.75},
        {integer::add, f(1.5), i(2), Type::float_, 3.5},
        {integer::add, i(2), f(1.5), Type::float_, 3.5},
        {integer::subtract, f(1.5), char_cell(1), Type::float_, 0.5},
        {integer::divide, f(1.0), i(0), Type::float_, HUGE_VAL},
        {integer::divide, f(-1.0), i(0), Type::float_, -HUGE_VAL},
        {integer::remainder, f(5.5), i(2), Type::float_, 1.5},
        {integer::remainder, f(-5.5), i(2), Type::float_, -1.5},
        {integer::remainder, f(1.0), f(HUGE_VAL), Type::float_, 1.0},
        {integer::add, float_cell(0.1, Type::percent), i(1), Type::percent, 1.1},
        {integer::add, f(1.5), float_cell(1, Type::time), Type::time, 2.5},
        {integer::multiply, float_cell(2, Type::time), float_cell(3, Type::time), Type::time, 6},
        {integer::multiply, float_cell(2, Type::percent), f(3), Type::percent, 6},
    };
    for (const auto& c : cases) {
        Cell r = math(c.a, c.b, c.op);
        ASSERT_EQ(type_of(r), c.type);
        EXPECT_EQ(float_of(r), c.expect) << float_of(c.a);
    }
    EXPECT_TRUE(std::isnan(float_of(binary(&R::divide, f(0.0), i(0)))));
    EXPECT_TRUE(std::isnan(float_of(binary(&R::remainder, f(HUGE_VAL), f(HUGE_VAL)))));
    EXPECT_EQ(float_of(binary(&R::subtract, f(1), f(0.25))), 0.75);
    EXPECT_EQ(test::raised([] { math(float_cell(1, Type::percent), char_cell(1), 0); }),
              errors::id::invalid_type);
    EXPECT_EQ(test::raised([] { binary(&R::add, f(1), none_cell()); }), errors::id::invalid_type);
    EXPECT_EQ(test::raised([] { math(f(1), f(1), 9); }), errors::id::cannot_use);
}

TEST(Float, TolerantEquality) {
    EXPECT_EQ(test::compare(f(0.1 + 0.2), f(0.3), 0), 0);
    EXPECT_NE(test::compare(f(0.1 + 0.2), f(0.3), 2), 0);
    EXPECT_EQ(test::compare(f(1.0), i(1), 0), 0);
    EXPECT_NE(test::compare(f(1.0), i(1), 2), 0);
    EXPECT_NE(test::compare(f(std::nan("")), f(std::nan("")), 0), 0);
    Cell nan = f(std::nan(""));
    EXPECT_EQ(test::compare(nan, nan, 9), 0);
    EXPECT_EQ(test::compare(f(0.0), f(-0.0), 0), 0);
    EXPECT_NE(test::compare(f(0.0), f(-0.0), 9), 0);
    EXPECT_EQ(test::compare(f(1.0), char_cell(1), 0), -2);
    EXPECT_TRUE(float_::almost_equal(1.0, std::nextafter(1.0, 2.0)));
    EXPECT_FALSE(float_::almost_equal(1.0, 1.0 + 1e-12));
    EXPECT_TRUE(float_::almost_equal(-1e300, std::nextafter(-1e300, 0.0)));
    EXPECT_TRUE(float_::almost_equal32(1.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_FALSE(float_::almost_equal32(1.0f, 1.001f));
}

TEST(Float, OrderingWithNaN) {
    EXPECT_EQ(test::compare(f(1), f(2), 3), -1);
    EXPECT_EQ(test::compare(f(std::nan("")), f(2), 3), 1);  // lesser? is false
    EXPECT_EQ(test::compare(f(std::nan("")), f(2), 5), -1);  // greater? is false
}

TEST(Float, FormAndMold) {
    struct Case {
        double d;
        const char* form;
        const char* mold;
    } cases[] = {
        {0.1 + 0.2, "0.3", "0.30000000000000004"},
        {1e20, "1.0e20", "1.0e20"},
        {100.0, "100.0", "100.0"},
        {1.5e-7, "1.5e-7", "0.00000015"},
        {1e-8, "1.0e-8", "1.0e-8"},
        {1e17, "1.0e17", "1.0e17"},
        {1e-7, "1.0e-7", "0.0000001"},
        {1e16, "1.0e16", "10000000000000000.0"},
        {434.99999999999994, "435.0", "434.99999999999994"},
        {1e-17, "0.0", "1.0e-17"},
        {-2.5, "-2.5", "-2.5"},
        {HUGE_VAL, "1.#INF", "1.#INF"},
        {-HUGE_VAL, "-1.#INF", "-1.#INF"},
        {std::nan(""), "1.#NaN", "1.#NaN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::form(f(c.d)), c.form) << c.d;
        EXPECT_EQ(test::mold(f(c.d)), c.mold) << c.d;
    }
}

TEST(Float, TextKinds) {
    EXPECT_STREQ(float_::to_text(0.5, 3), "0.5%");
    EXPECT_STREQ(float_::to_text(1e-20, 3), "0%");
    EXPECT_STREQ(float_::to_text(1.5, 5), "1.5");
    EXPECT_STREQ(float_::to_text(2.0, 5), "2");
    EXPECT_STREQ(float_::to_text(2.0, 0), "2.0");
    float_::set_pretty(false);
    EXPECT_STREQ(float_::to_text(1e-17, 1), "1.0e-17");
    EXPECT_STREQ(float_::to_text(434.99999999999994, 1), "434.9999999999999");
    float_::set_pretty(true);
}

TEST(Float, UnaryActions) {
    for (double d : {0.0, -0.0}) {
        Cell r = test::unary(&R::negate, f(d));
        EXPECT_EQ(float_of(r), 0.0);
        EXPECT_FALSE(std::signbit(float_of(r))) << d;
    }
    EXPECT_EQ(float_of(test::unary(&R::absolute, f(-2.5))), 2.5);
    const R& row = test::row_of(f(0));
    EXPECT_TRUE(row.even_q.fn(f(2.9)));
    EXPECT_TRUE(row.odd_q.fn(f(-3.5)));
    EXPECT_TRUE(row.even_q.fn(f(1e20)));
    EXPECT_FALSE(row.odd_q.fn(f(1e20)));
    EXPECT_TRUE(row.odd_q.fn(f(4294967297.0)));
}

TEST(Float, Power) {
    EXPECT_EQ(float_of(binary(&R::power, f(2), i(10))), 1024.0);
    Cell args[2] = {float_cell(0.5, Type::percent), i(2)};
    float_::power(args);
    EXPECT_TRUE(is(args[0], Type::percent));
    EXPECT_EQ(float_of(args[0]), 0.25);
    EXPECT_EQ(test::raised([] { binary(&R::power, f(2), none_cell()); }), errors::id::expect_arg);
}

TEST(Float, Round) {
    auto refs = [](auto set) {
        actions::RoundRefs r;
        set(r);
        return r;
    };
    struct Case {
        double v;
        actions::RoundRefs r;
        double expect;
    } cases[] = {
        {2.5, {}, 3.0},
        {-2.5, {}, -3.0},
        {2.4, {}, 2.0},
        {2.5, refs([](auto& r) { r.even = true; }), 2.0},
        {3.5, refs([](auto& r) { r.even = true; }), 4.0},
        {2.5, refs([](auto& r) { r.half_down = true; }), 2.0},
        {-2.5, refs([](auto& r) { r.half_ceiling = true; }), -2.0},
        {-2.7, refs([](auto& r) { r.down = true; }), -2.0},
        {-2.1, refs([](auto& r) { r.floor = true; }), -3.0},
        {2.1, refs([](auto& r) { r.ceiling = true; }), 3.0},
        {1e300, {}, 1e300},
    };
    for (const auto& c : cases) {
        Cell v = test::round(f(c.v), c.r);
        ASSERT_TRUE(is(v, Type::float_));
        EXPECT_EQ(float_of(v), c.expect) << c.v;
    }
    Cell hundredth = f(0.01), one = i(1), tenth = f(0.1);
    actions::RoundRefs r;
    r.to = &hundredth;
    EXPECT_DOUBLE_EQ(float_of(test::round(f(3.14159), r)), 3.14);
    r.to = &tenth;
    EXPECT_DOUBLE_EQ(float_of(test::round(f(1.26), r)), 1.3);
    r.to = &one;
    Cell n = test::round(f(3.7), r);
    ASSERT_TRUE(is(n, Type::integer));
    EXPECT_EQ(int_of(n), 4);
    Cell tiny = f(5e-324);
    r.to = &tiny;
    EXPECT_EQ(float_of(test::round(f(1e-323), r)), 1e-323);
    Cell pct[2] = {float_cell(0.1234, Type::percent), none_cell()};
    float_::round(pct, {});
    EXPECT_TRUE(is(pct[0], Type::percent));
    EXPECT_DOUBLE_EQ(float_of(pct[0]), 0.12);
}

TEST(Float, RoundLeavingTheIntegerRangeRaisesOverflow) {
    Cell one = i(1);
    actions::RoundRefs r;
    r.to = &one;
    for (double d : {2147483648.0, -2147483649.0, 1e300, std::nan("")})
        EXPECT_EQ(test::raised([&] { test::round(f(d), r); }), errors::id::overflow) << d;
    Cell big = f(1e308);
    r.to = &big;
    EXPECT_EQ(test::raised([&] { test::round(f(1.7e308), r); }), errors::id::overflow);
}

TEST(Float, ToAndMake) {
    EXPECT_EQ(float_of(test::to(Type::float_, i(3))), 3.0);
    EXPECT_EQ(float_of(test::to(Type::float_, char_cell(65))), 65.0);
    EXPECT_EQ(float_of(test::to(Type::float_, float_cell(7, Type::time))), 7.0);
    Cell args[2] = {datatype_cell(Type::percent), f(0.5)};
    datatype::row(Type::float_).make.fn(args, Type::percent);
    EXPECT_TRUE(is(args[0], Type::percent));
    EXPECT_EQ(float_of(args[0]), 0.5);
    EXPECT_EQ(test::raised([] { test::to(Type::float_, none_cell()); }), errors::id::bad_to_arg);
    EXPECT_EQ(errors::pending_arg(1).w1, uint32_t(Type::float_));
}

TEST(Float, RoundToInt) {
    EXPECT_EQ(float_::round_to_int(2.5), 3);
    EXPECT_EQ(float_::round_to_int(0.49999999999999994), 0);
    EXPECT_EQ(test::raised([] { float_::round_to_int(1e10); }), errors::id::overflow);
}

}  // namespace

namespace {

Cell series_of(Type t, const void* data, uint32_t bytes, uint32_t unit) {
    Node n = memory::alloc_series(bytes / unit, unit);
    memory::Series* s = memory::buffer(n);
    std::memcpy(s->at_head(), data, bytes);
    s->tail = s->head + bytes;
    return make_cell(t, 0, n);
}

Cell text(std::string_view s) {
    Node n = string::make_buffer(16, 1);
    string::append_utf8(n, s);
    return string::make_cell(n, 0, Type::string);
}

TEST(Float, ToFromText) {
    struct Case {
        const char* text;
        double expect;
    } good[] = {{"1.5", 1.5}, {"1,5", 1.5}, {"-2e3", -2000}, {"1'000.25", 1000.25},
                {".5", 0.5}, {"7", 7}, {"1.#INF", HUGE_VAL}, {"0.1", 0.1}, {"5.", 5}};
    for (const auto& c : good) EXPECT_EQ(float_of(test::to(Type::float_, text(c.text))), c.expect) << c.text;
    for (const char* bad : {"", "abc", "1.5x", " 1.5", "1e", "inf", "0x10", "--1", "e5", "1.2.3"})
        EXPECT_EQ(test::raised([&] { test::to(Type::float_, text(bad)); }), errors::id::bad_to_arg)
            << bad;
}

TEST(Float, ToFromBlockAndBinary) {
    Cell pair[] = {float_cell(1.5), integer_cell(3)};
    EXPECT_EQ(float_of(test::to(Type::float_, series_of(Type::block, pair, sizeof pair, 16))), 1500.0);
    Cell neg[] = {integer_cell(25), float_cell(-1.9)};
    EXPECT_EQ(float_of(test::to(Type::float_, series_of(Type::block, neg, sizeof neg, 16))), 2.5);
    Cell three[] = {integer_cell(1), integer_cell(2), integer_cell(3)};
    EXPECT_EQ(test::raised([&] { test::to(Type::float_, series_of(Type::block, three, sizeof three, 16)); }),
              errors::id::bad_to_arg);
    Cell word_in[] = {integer_cell(1), none_cell()};
    EXPECT_EQ(test::raised([&] { test::to(Type::float_, series_of(Type::block, word_in, sizeof word_in, 16)); }),
              errors::id::bad_to_arg);
    const uint8_t one[] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF};
    EXPECT_EQ(float_of(test::to(Type::float_, series_of(Type::binary, one, sizeof one, 1))), 1.0);
}

}  // namespace
