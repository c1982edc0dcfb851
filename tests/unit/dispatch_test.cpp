// Action dispatch: the entry table, refinement conversion, compare codes,
// missing routines and port actors.
#include <gtest/gtest.h>

#include "evaluator/dispatch.h"
#include "evaluator_support.h"

namespace zan {
namespace {

using test::raised_id;

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }
};

TEST_F(DispatchTest, EntryTableHasEveryActionButSlotEight) {
    for (int slot = 1; slot <= actions::slot_count; ++slot) {
        if (slot == 8)
            EXPECT_EQ(dispatch::entry(slot), nullptr);
        else
            EXPECT_NE(dispatch::entry(slot), nullptr) << slot;
    }
    EXPECT_EQ(dispatch::entry(0), nullptr);
    EXPECT_EQ(dispatch::entry(63), nullptr);
}

TEST_F(DispatchTest, CompareCodes) {
    struct Case {
        int32_t a, b, code;
        bool answer;
    };
    const Case cases[] = {
        {1, 1, dispatch::code::equal, true},          {1, 2, dispatch::code::equal, false},
        {1, 2, dispatch::code::not_equal, true},      {1, 2, dispatch::code::lesser, true},
        {2, 2, dispatch::code::lesser, false},        {2, 2, dispatch::code::lesser_or_equal, true},
        {3, 2, dispatch::code::greater, true},        {2, 2, dispatch::code::greater_or_equal, true},
        {1, 1, dispatch::code::strict_equal, true},   {1, 2, dispatch::code::greater_or_equal, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dispatch::compare(integer_cell(c.a), integer_cell(c.b), c.code), c.answer)
            << c.a << " " << c.b << " code " << c.code;
}

TEST_F(DispatchTest, IncomparableValuesAreUnequalAndCannotBeOrdered) {
    Cell a = integer_cell(1), b = none_cell();
    EXPECT_FALSE(dispatch::compare(a, b, dispatch::code::equal));
    EXPECT_TRUE(dispatch::compare(a, b, dispatch::code::not_equal));
    EXPECT_EQ(raised_id([&] { dispatch::compare(a, b, dispatch::code::lesser); }),
              errors::id::invalid_compare);
}

TEST_F(DispatchTest, PickIndexOfEachIndexType) {
    EXPECT_EQ(dispatch::index_of(integer_cell(3)), 3);
    EXPECT_EQ(dispatch::index_of(char_cell(65)), 65);
    EXPECT_EQ(dispatch::index_of(logic_cell(true)), 1);
    EXPECT_EQ(dispatch::index_of(logic_cell(false)), 2);
    EXPECT_EQ(dispatch::index_of(none_cell()), 0);
}

TEST_F(DispatchTest, AnActionOnATypeWithoutItRaisesExpectArg) {
    EXPECT_EQ(raised_id([] { test::eval_text("length? 5"); }), errors::id::expect_arg);
}

TEST_F(DispatchTest, LengthOfAnswersThroughTheEntry) {
    Cell v = test::eval_text("length? [1 2 3]");
    EXPECT_EQ(int_of(v), 3);
}

TEST_F(DispatchTest, PortActorWithoutTheActionRaisesNoPortAction) {
    static void* table[38] = {};
    dispatch::set_port_table([](const Cell&) -> void* const* { return table; });
    Cell port = make_cell(Type::port);
    EXPECT_EQ(raised_id([&] { dispatch::get_action<25>(port); }), errors::id::no_port_action);
    // Below slot 25 the type's own row answers (none here: expect-arg).
    EXPECT_EQ(raised_id([&] { dispatch::get_action<11>(port); }), errors::id::expect_arg);
    dispatch::set_port_table(nullptr);
}

TEST_F(DispatchTest, AddOverflowingThirtyTwoBitsGivesAFloat) {
    Cell v = test::eval_text("add 2147483647 1");
    ASSERT_TRUE(is(v, Type::float_));
    EXPECT_EQ(float_of(v), 2147483648.0);
}

}  // namespace
}  // namespace zan
