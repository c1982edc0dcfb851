// The exact errors of the control, exit and function natives, the stacks they
// leave behind, and the argument checks natives make when asked to.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "evaluator/natives.h"
#include "evaluator_support.h"

namespace zan {
namespace {

using test::eval_text;
using test::raised_id;

class NativesErrors : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }
};

TEST_F(NativesErrors, ErrorIds) {
    struct Case {
        const char* code;
        errors::Id id;
    };
    const Case cases[] = {
        {"while [break] [1]", errors::id::throw_while_cond},
        {"n: 0 while [n: n + 1 if n > 1 [continue] true] [1]", errors::id::throw_while_cond},
        {"break", errors::id::throw_break},
        {"continue", errors::id::throw_continue},
        {"return 1", errors::id::throw_return},
        {"exit", errors::id::throw_return},
        {"f: func [] [try/all [return 1]] f", errors::id::not_done},  // stopped: nothing raised
        {"throw 1", errors::id::throw_throw},
        {"catch/name [throw/name 1 'a] 'b", errors::id::throw_throw},
        {"catch/name [throw 1] 'a", errors::id::throw_throw},
        {"catch/name [1] [a 1]", errors::id::invalid_refine_arg},
        {"case [true]", errors::id::need_value},
        {"do pick [a:] 1", errors::id::need_value},
        {"reduce pick [a:] 1", errors::id::need_value},
        {"foreach [] [1] [1]", errors::id::invalid_arg},
        {"foreach [a 1] [1 2] [1]", errors::id::invalid_arg},
        {"foreach [a b] reduce [1 ()] [1]", errors::id::need_value},
        {"s: 1 forall s [1]", errors::id::expect_arg},
        {"s: [1 2] forall s [s: [3]]", errors::id::bad_loop_series},
        {"compose 1", errors::id::expect_arg},
        {"get 'never-set-anywhere", errors::id::no_value},
        {"set 'x ()", errors::id::need_value},
        {"set [x 1] [1 2]", errors::id::invalid_arg},
        {"as string! [1]", errors::id::not_same_class},
        {"new-line/skip [1] true 0", errors::id::out_of_range},
        {"x: 1 apply 'x []", errors::id::invalid_arg},
        {"extend [] []", errors::id::expect_arg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        errors::Id got = raised_id([&] { eval_text(c.code); });
        EXPECT_EQ(got.category, c.id.category);
        EXPECT_EQ(got.index, c.id.index);
    }
}

// try stops the errors of exits without a target; the function goes on.
TEST_F(NativesErrors, TryStopsNoTargetErrors) {
    struct Case {
        const char* code;
        errors::Id id;
    };
    const Case cases[] = {
        {"f: func [] [try/all [return 1] 7] f", errors::id::throw_return},
        {"f: func [] [try/all [exit] 7] f", errors::id::throw_return},
        {"loop 1 [try/all [break]] 7", errors::id::throw_break},
        {"loop 1 [try/all [continue]] 7", errors::id::throw_continue},
        {"catch [try/all [throw 1]] 7", errors::id::throw_throw},
        {"try [throw 1] 7", errors::id::throw_throw},
        {"try [catch/name [throw/name 1 'a] 'b] 7", errors::id::throw_throw},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Cell* top = stack::s.top;
        EXPECT_EQ(int_of(eval_text(c.code)), 7);
        EXPECT_EQ(errors::pending_id(), c.id);
        EXPECT_EQ(stack::s.top, top);
    }
}

// A failing set of a block of words checks every pair before assigning any.
TEST_F(NativesErrors, SetBlockLeavesWordsAlone) {
    eval_text("sa: 10 sb: 20");
    EXPECT_EQ(raised_id([] { eval_text("set [sa sb] reduce [1 ()]"); }), errors::id::need_value);
    EXPECT_EQ(int_of(eval_text("sa")), 10);
    EXPECT_EQ(int_of(eval_text("sb")), 20);
}

// Exits that end in errors leave the stacks as they found them, so that the
// error's catcher cuts back to a sound state.
TEST_F(NativesErrors, NoTargetKeepsStacks) {
    for (const char* code : {"loop 2 [try/all [break]] 1 / 0", "catch/name [loop 2 [throw 1]] 'a"}) {
        SCOPED_TRACE(code);
        Cell* top = stack::s.top;
        stack::Frame* frames = stack::s.frame_top;
        raised_id([&] { eval_text(code); });
        EXPECT_EQ(stack::s.top, top);
        EXPECT_EQ(stack::s.frame_top, frames);
    }
}

// A caught throw must not leave its origin for the next error's report.
TEST_F(NativesErrors, CaughtThrowClearsOrigin) {
    stack::throw_origin = 0;
    EXPECT_EQ(int_of(eval_text("catch [loop 2 [throw 3]]")), 3);
    EXPECT_EQ(stack::throw_origin, 0u);
    EXPECT_EQ(int_of(eval_text("catch/name [catch/name [throw/name 4 'b] 'a] 'b")), 4);
    EXPECT_EQ(stack::throw_origin, 0u);
}

TEST_F(NativesErrors, LoopCountsSaturate) {
    EXPECT_EQ(int_of(eval_text("loop 1e300 [break/return 5]")), 5);
    EXPECT_TRUE(is(eval_text("loop -1e300 [1]"), Type::none));
    EXPECT_TRUE(is(eval_text("repeat i -1e300 [1]"), Type::none));
    EXPECT_TRUE(is(eval_text("loop 0.0 / 0.0 [1]"), Type::none));  // NaN counts as 0
}

// Called with the check flag (as compiled code calls), a native tests its
// operands against its spec itself.
TEST_F(NativesErrors, CheckFlagTestsOperands) {
    natives::Fn fn = natives::entry(natives::index_of("if"));
    ASSERT_NE(fn, nullptr);
    int32_t refs[1] = {-1};
    Cell* base = stack::s.top;
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::native));
    stack::push(logic_cell(true));
    stack::push(integer_cell(3));  // then-blk must be a block
    EXPECT_EQ(raised_id([&] { fn(1, refs); }), errors::id::expect_arg);
    stack::s.top = stack::s.base;
    Cell body = boot::load_text("7");
    stack::push(logic_cell(true));
    stack::push(body);
    ASSERT_EQ(fn(1, refs), stack::ok);
    EXPECT_EQ(int_of(*stack::s.base), 7);
    stack::unwind_drop();
    stack::s.top = base;

    // A refinement's argument is checked at the slot the refinement names.
    natives::Fn sw = natives::entry(natives::index_of("switch"));
    int32_t with_default[1] = {2};
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::native));
    stack::push(integer_cell(1));
    stack::push(body);
    stack::push(integer_cell(3));  // the /default case must be a block
    EXPECT_EQ(raised_id([&] { sw(1, with_default); }), errors::id::expect_arg);
    stack::s.top = stack::s.base + 2;
    stack::push(body);
    ASSERT_EQ(sw(1, with_default), stack::ok);
    EXPECT_EQ(int_of(*stack::s.base), 7);
    stack::unwind_drop();
    stack::s.top = base;
}

// Reached without the interpreter's check, compose still refuses a non-block.
TEST_F(NativesErrors, ComposeOfNonBlock) {
    natives::Fn fn = natives::entry(natives::index_of("compose"));
    int32_t refs[3] = {-1, -1, -1};
    Cell* base = stack::s.top;
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::native));
    stack::push(integer_cell(1));
    EXPECT_EQ(raised_id([&] { fn(0, refs); }), errors::id::expect_val);
    stack::unwind_drop();
    stack::s.top = base;
}

}  // namespace
}  // namespace zan
