#include "datatypes/logic.h"
#include "value_support.h"

using namespace zan;
using R = actions::Row;

namespace {

TEST(Logic, Text) {
    struct Case {
        Cell v;
        const char* form;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {unset_cell(), "", "unset", "#(unset)"},
        {none_cell(), "none", "none", "#(none)"},
        {logic_cell(true), "true", "true", "#(true)"},
        {logic_cell(false), "false", "false", "#(false)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::form(c.v), c.form);
        EXPECT_EQ(test::mold(c.v), c.mold);
        actions::MoldFlags all;
        all.all = true;
        EXPECT_EQ(test::mold(c.v, all), c.mold_all);
    }
}

TEST(Logic, MakeReadsNumbersToReadsTruth) {
    struct Case {
        Cell spec;
        bool make, to;
    } cases[] = {
        {integer_cell(0), false, true},       {integer_cell(2), true, true},
        {float_cell(0.0), false, true},       {float_cell(0.0, Type::percent), false, true},
        {none_cell(), false, false},          {logic_cell(false), false, false},
        {make_cell(Type::block, 0, 1), true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(logic_of(test::make(Type::logic, c.spec)), c.make) << int(type_of(c.spec));
        EXPECT_EQ(logic_of(test::to(Type::logic, c.spec)), c.to) << int(type_of(c.spec));
    }
}

TEST(Logic, Compare) {
    Cell t = logic_cell(true), f = logic_cell(false);
    EXPECT_EQ(test::compare(t, t, 0), 0);
    EXPECT_NE(test::compare(t, f, 0), 0);
    EXPECT_GT(test::compare(t, f, 7), 0);  // false sorts first
    EXPECT_EQ(test::compare(t, f, 3), -2);
    EXPECT_EQ(test::compare(t, integer_cell(1), 0), -2);
    EXPECT_EQ(test::compare(none_cell(), none_cell(), 0), 0);
    EXPECT_EQ(test::compare(none_cell(), f, 0), -2);
    EXPECT_EQ(test::compare(none_cell(), none_cell(), 3), -2);
    EXPECT_EQ(test::compare(unset_cell(), unset_cell(), 8), 0);
}

TEST(Logic, Operators) {
    Cell t = logic_cell(true), f = logic_cell(false);
    EXPECT_TRUE(logic_of(test::binary(&R::and_t, t, t)));
    EXPECT_FALSE(logic_of(test::binary(&R::and_t, t, f)));
    EXPECT_TRUE(logic_of(test::binary(&R::or_t, f, t)));
    EXPECT_FALSE(logic_of(test::binary(&R::xor_t, t, t)));
    EXPECT_FALSE(logic_of(test::unary(&R::complement, t)));
    EXPECT_EQ(test::raised([&] { test::binary(&R::and_t, t, integer_cell(1)); }),
              errors::id::expect_arg);
    EXPECT_EQ(errors::pending_arg(2).w1, uint32_t(Type::integer));
}

TEST(Logic, NoneAnswersNoneToSeriesActions) {
    datatype::register_all();
    const R& row = datatype::row(Type::none);
    EXPECT_EQ(row.length_q.fn(none_cell()), -1);
    Cell args[2] = {none_cell(), integer_cell(1)};
    row.find.fn(args, {});
    EXPECT_TRUE(is(args[0], Type::none));
    EXPECT_EQ(row.append.fn, nullptr);
    EXPECT_TRUE(is(test::make(Type::none, integer_cell(1)), Type::none));
    EXPECT_TRUE(is(test::to(Type::unset, integer_cell(1)), Type::unset));
}

TEST(Logic, Truth) {
    Cell falsy[] = {none_cell(), logic_cell(false), make_cell(Type::logic, 2)};
    Cell truthy[] = {unset_cell(), logic_cell(true), integer_cell(0), float_cell(0)};
    for (const Cell& v : falsy) EXPECT_FALSE(logic::value_true(v));
    for (const Cell& v : truthy) EXPECT_TRUE(logic::value_true(v));
    EXPECT_EQ(test::raised([] { logic::value_true(unset_cell(), true); }), errors::id::no_value);
    EXPECT_EQ(test::raised([] { logic::condition_true(unset_cell()); }), errors::id::no_return);
}

}  // namespace
