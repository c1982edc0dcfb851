// The value stack and call frames: limits, closers, exit searches, names.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/stack.h"
#include "evaluator_support.h"

namespace zan {
namespace {

using test::raised_id;

class StackTest : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }
};

TEST_F(StackTest, PopBeyondTheBottomEmptiesTheStack) {
    stack::push(integer_cell(1));
    stack::push(integer_cell(2));
    stack::pop(10);
    EXPECT_EQ(stack::s.top, stack::s.bottom);
    EXPECT_EQ(stack::top(), stack::s.bottom);
}

TEST_F(StackTest, FullValueStackRaisesOverflowAndLeavesRoom) {
    EXPECT_EQ(raised_id([] {
                  for (uint32_t i = 0; i < stack::value_capacity + 1; ++i) stack::push(integer_cell(int32_t(i)));
              }),
              errors::id::stack_overflow);
    // The failed push left the top below the end, with room for the error.
    stack::s.top = stack::s.end - 1;
    try {
        stack::push(none_cell());
        ADD_FAILURE() << "no overflow";
    } catch (const unwind::Thrown&) {
        EXPECT_EQ(errors::pending_id(), errors::id::stack_overflow);
        EXPECT_EQ(stack::s.top, stack::s.end - 5);  // up by one, down by five
    }
    stack::s.top = stack::s.base = stack::s.bottom;
    stack::push(integer_cell(7));
    EXPECT_EQ(int_of(*stack::top()), 7);
}

TEST_F(StackTest, FullCallStackRaisesOverflow) {
    EXPECT_EQ(raised_id([] {
                  for (uint32_t i = 0; i < stack::frame_capacity + 1; ++i)
                      stack::mark_body(stack::kind_bits(stack::kind::eval));
              }),
              errors::id::stack_overflow);
    stack::s.frame_top = stack::s.frame_bottom;
    stack::s.top = stack::s.base = stack::s.bottom;
}

TEST_F(StackTest, ClosersLeaveTheResultWhereTheCallerExpectsIt) {
    struct Case {
        void (*close)();
        int32_t result_at_caller_base;  // -1: the caller's result slot untouched
        uint32_t top_above_caller_base;
    };
    const Case cases[] = {
        {stack::unwind, -1, 2},      // result stays one slot above: pushed
        {stack::unwind_last, 42, 1},  // copied into the caller's result slot
        {stack::unwind_drop, -1, 1},  // nothing kept
    };
    for (const Case& c : cases) {
        stack::s.top = stack::s.base = stack::s.bottom;
        stack::push(integer_cell(-1));  // the caller's result slot
        stack::mark_body(stack::kind_bits(stack::kind::native));
        stack::push(integer_cell(42));
        stack::push(integer_cell(43));
        c.close();
        EXPECT_EQ(stack::s.base, stack::s.bottom);
        EXPECT_EQ(stack::s.top - stack::s.base, c.top_above_caller_base);
        EXPECT_EQ(int_of(stack::s.base[0]), c.result_at_caller_base);
    }
}

TEST_F(StackTest, BreakLandsOnTheNearestLoopFrame) {
    stack::mark_body(stack::kind_bits(stack::kind::loop));
    Cell* loop_base = stack::s.base;
    stack::push(none_cell());
    stack::mark_body(stack::kind_bits(stack::kind::eval));
    stack::push(none_cell());
    stack::mark_body(stack::kind_bits(stack::kind::native));  // break's own frame
    stack::push(integer_cell(5));                              // break/return 5
    EXPECT_EQ(stack::throw_break(true, false), unwind::break_);
    EXPECT_EQ(stack::s.frame_top - stack::s.frame_bottom, 1);
    EXPECT_EQ(stack::s.base, loop_base);
    EXPECT_EQ(int_of(stack::s.base[0]), 5);
}

TEST_F(StackTest, ExitsWithoutTargetRaiseAndLeaveTheStacksAlone) {
    struct Case {
        stack::Status (*exit)();
        errors::Id id;
        uint32_t blocking_kind;  // a frame between the exit and its target
    };
    const Case cases[] = {
        {[] { return stack::throw_break(false, false); }, errors::id::throw_break, stack::kind::try_all},
        {[] { return stack::throw_break(false, true); }, errors::id::throw_continue, stack::kind::try_all},
        {[] { return stack::throw_return(true, false); }, errors::id::throw_return, stack::kind::try_all},
        {[] { return stack::throw_value(unwind::throw_); }, errors::id::throw_throw, stack::kind::try_all},
        {[] { return stack::throw_break(false, false); }, errors::id::throw_break, stack::kind::eval},
    };
    for (const Case& c : cases) {
        stack::s.top = stack::s.base = stack::s.bottom;
        stack::s.frame_top = stack::s.frame_bottom;
        stack::mark_body(stack::kind_bits(c.blocking_kind == stack::kind::eval ? stack::kind::eval
                                                                                : stack::kind::loop) |
                         stack::bits::func_entry);
        stack::mark_body(stack::kind_bits(stack::kind::catch_));
        if (c.blocking_kind == stack::kind::eval) stack::s.frame_top = stack::s.frame_bottom;
        stack::mark_body(stack::kind_bits(c.blocking_kind));
        stack::mark_body(stack::kind_bits(stack::kind::native));
        stack::push(integer_cell(1));
        stack::Frame* frames = stack::s.frame_top;
        Cell* top = stack::s.top;
        EXPECT_EQ(raised_id([&] { c.exit(); }), c.id);
        EXPECT_EQ(stack::s.frame_top, frames);
        EXPECT_EQ(stack::s.top, top);
    }
    stack::s.frame_top = stack::s.frame_bottom;
}

TEST_F(StackTest, CallWordSkipsInternalNamesAndKeepsLargeSymbolIds) {
    stack::mark(70000, 0, stack::kind_bits(stack::kind::function));
    stack::mark_body(stack::kind_bits(stack::kind::eval));
    stack::mark(stack::sym_anon, 0, stack::kind_bits(stack::kind::native));
    Cell w = stack::get_call_word();
    EXPECT_TRUE(is(w, Type::word));
    EXPECT_EQ(word_symbol(w), 70000u);
    stack::s.frame_top = stack::s.frame_bottom;
    EXPECT_EQ(symbol::name(word_symbol(stack::get_call_word())), "<not-found>");
}

TEST_F(StackTest, UnwindToKindStopsAtTryAllAndKeepsTheFrame) {
    stack::mark_body(stack::kind_bits(stack::kind::try_));
    stack::mark_body(stack::kind_bits(stack::kind::try_all));
    stack::Frame* try_all = stack::top_frame();
    stack::mark_body(stack::kind_bits(stack::kind::native));
    stack::mark_body(stack::kind_bits(stack::kind::eval));
    stack::unwind_to_kind(stack::kind::try_, false);
    EXPECT_EQ(stack::top_frame(), try_all);
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

TEST(StackBacktrace, NamedFramesFromTheBottomUpWithTheirLevels) {
    test::start();
    test::eval_text("bt-fn: func [] [1]");
    Node global = context::global();
    stack::mark(symbol::make("bt-fn"), global, stack::kind_bits(stack::kind::function));
    stack::mark_body(stack::kind_bits(stack::kind::eval));
    stack::mark(symbol::make("print"), global, stack::kind_bits(stack::kind::native));
    stack::mark(stack::sym_anon, 0, stack::kind_bits(stack::kind::native));

    Cell words;
    block::make_at(words, 4);
    collector::Root keep(words);
    stack::collect_call_words(1, words, 0);
    EXPECT_EQ(mold::mold_text(words), "[bt-fn]");
    block::rs_clear(words);
    stack::collect_call_words(2, words, 0);
    EXPECT_EQ(mold::mold_text(words), "[bt-fn print]");
    block::rs_clear(words);
    stack::collect_call_words(2, words, 1);  // the frames of a depth of 1
    EXPECT_EQ(mold::mold_text(words), "[bt-fn]");

    Node text = string::make_buffer(16);
    collector::NodeRoot keep_text(text, collector::NodeRoot::As::buffer);
    stack::form_backtrace(2, 0, text, mold::no_limit);
    EXPECT_EQ(string::to_utf8(string::make_cell(text)), "bt-fn print ");

    block::rs_clear(words);
    stack::collect_calls(words);  // top down, the bottom frame left out
    EXPECT_EQ(mold::mold_text(words), "[print 0]");
    stack::s.frame_top = stack::s.frame_bottom;
    stack::s.top = stack::s.base = stack::s.bottom;
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

// Evaluation that nears the end of the native stack stops with the
// language's stack-overflow error instead of a crash.
TEST(StackNativeDepth, NearTheNativeStackEndEvaluationRaisesOverflow) {
    test::start();
    const char* saved = stack::s.native_limit;
    char here;
    stack::s.native_limit = &here + 4096;  // everything deeper is "too deep"
    errors::Id id = test::raised_id([] { test::eval_text("1 + 2"); });
    stack::s.native_limit = saved;
    EXPECT_EQ(id, errors::id::stack_overflow);
    EXPECT_EQ(int_of(test::eval_text("1 + 2")), 3);
}

}  // namespace
}  // namespace zan
