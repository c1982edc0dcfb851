// The interpreter over blocks built in C++ and loaded from text: results,
// errors of evaluation, the arity cache and the value stack's balance.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "datatypes/mold.h"
#include "evaluator_support.h"
#include "runtime/memory.h"

namespace zan {
namespace {

using test::eval_text;
using test::raised_id;

class InterpreterTest : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }
};

Cell global_word(const char* name, Type t = Type::word) {
    Cell w = context::add_global(symbol::make(name), false, false);
    return set_type(w, t);
}

TEST_F(InterpreterTest, BlocksBuiltInCpp) {
    Cell b;
    block::make_at(b, 4);
    collector::Root keep(b);
    Cell* held = stack::push(b);
    ASSERT_EQ(interp::eval_block(*held, false), stack::ok);
    EXPECT_TRUE(is(stack::s.top[-1], Type::unset));  // an empty block
    stack::s.top = held + 1;

    block::rs_append(b, global_word("x", Type::set_word));
    block::rs_append(b, integer_cell(5));
    block::rs_append(b, global_word("x"));
    block::rs_append(b, global_word("+"));
    block::rs_append(b, integer_cell(2));
    ASSERT_EQ(interp::eval_block(*held, false), stack::ok);
    EXPECT_EQ(int_of(stack::s.top[-1]), 7);
    EXPECT_EQ(stack::s.top, held + 2);  // exactly one value left
    stack::s.top = held;
}

TEST_F(InterpreterTest, Results) {
    struct Case {
        const char* code;
        int32_t value;
    };
    const Case cases[] = {
        {"1 2 3", 3},
        {"1 + 2 * 3", 9},
        {"negate 1 + 2", -3},
        {"f: func [n] [n * 2] f 1 + 2", 6},
        {"f: func [a /r b] [either r [a + b] [a]] f/r 1 2", 3},
        {"(1 + 1) * 3", 6},
        {"g: func [n] [if n > 0 [return n] 0 - 1] g 4", 4},
    };
    for (const Case& c : cases) {
        Cell v = eval_text(c.code);
        ASSERT_TRUE(is(v, Type::integer)) << c.code;
        EXPECT_EQ(int_of(v), c.value) << c.code;
    }
}

TEST_F(InterpreterTest, EvaluationErrors) {
    struct Case {
        const char* code;
        errors::Id id;
    };
    const Case cases[] = {
        {"x:", errors::id::need_value},
        {"+ 1 2", errors::id::no_op_arg},
        {"undefined-word-here", errors::id::no_value},
        {"f: func [a [integer!]] [a] f none", errors::id::expect_arg},
        {"f: func [a] [a] f", errors::id::no_arg},
        {"append/only/only [] 1", errors::id::dup_refine},
        {"append/nothing [] 1", errors::id::no_refine},
        {"append/3 [] 1", errors::id::bad_refine},
        {"f: func [a: 1] [a] f", errors::id::bad_func_def},
    };
    for (const Case& c : cases) {
        errors::Id id = raised_id([&] { eval_text(c.code); });
        EXPECT_EQ(id.code(), c.id.code()) << c.code;
    }
}

TEST_F(InterpreterTest, ArityCacheIsBuiltOnceAndReused) {
    Cell f = eval_text("h: func [a b /c d] [a] :h");
    collector::Root keep(f);
    Node first = interp::arity_cache(f);
    EXPECT_EQ(interp::arity_cache(f), first);
    // Two arguments, the refinement, its argument.
    EXPECT_EQ(memory::buffer(first)->length(), 4u);
    EXPECT_EQ(symbol::name(word_symbol(interp::spec_word(f, 2))), "c");
}

TEST_F(InterpreterTest, ErrorsLeaveTheStacksUsable) {
    Cell* top = stack::s.top;
    stack::Frame* frames = stack::s.frame_top;
    raised_id([] { eval_text("f: func [n] [f n + 1] f 1"); });
    EXPECT_EQ(stack::s.top, top);
    EXPECT_EQ(stack::s.frame_top, frames);
    EXPECT_EQ(int_of(eval_text("1 + 1")), 2);
}

TEST_F(InterpreterTest, CallFromCpp) {
    Cell f = eval_text("func [a b] [a - b]");
    collector::Root keep(f);
    Cell args[2] = {integer_cell(10), integer_cell(3)};
    Cell* top = stack::s.top;
    ASSERT_EQ(interp::call(f, args, 2), stack::ok);
    EXPECT_EQ(int_of(stack::s.top[-1]), 7);
    EXPECT_EQ(stack::s.top, top + 1);
    stack::s.top = top;
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

// Apply modes: the arguments come from a block; /all takes every value in
// spec order (refinement uses as logic!), the named mode takes refinement!
// values each followed by its use; missing values are completed with none.
TEST(InterpreterApply, ModesTakeTheirArgumentsFromABlock) {
    test::start();
    Cell f = test::eval_text("func [a /r b /s c] [reduce-list a r b s c]");
    collector::Root keep_f(f);
    test::eval_text("reduce-list: func [a b c d e] [append append append append append copy [] a b c d e]");
    struct Case {
        const char* args;
        int mode;
        const char* result;
    };
    const Case cases[] = {
        {"[1 true 2 false 3]", interp::mode::all, "[1 true 2 false none]"},
        {"[1 false 2 true 3]", interp::mode::all, "[1 false none true 3]"},
        {"[1]", interp::mode::all, "[1 false none false none]"},
        {"[1 /s true 3]", interp::mode::named, "[1 false none true 3]"},
        {"[1 /s false 3 /r 1 = 1 2]", interp::mode::named, "[1 true 2 false none]"},
        {"[1 /s false (print-nothing) /r true 2]", interp::mode::named | interp::mode::safer,
         "[1 true 2 false none]"},
    };
    for (const Case& c : cases) {
        Cell args = boot::load_text(c.args);
        Cell* held = stack::push(*block::rs_abs_at(args, 0));
        interp::Code code = interp::code_of(*held);
        Cell name = context::add_global(symbol::make("applied"), false, false);
        ASSERT_EQ(interp::invoke(f, &code, name, nullptr, 0, nullptr, c.mode, false), stack::ok) << c.args;
        EXPECT_EQ(mold::mold_text(stack::s.top[-1]), c.result) << c.args;
        stack::s.top = held;
    }
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

// A walk given a resume record stops before a paren, leaves its state in
// the record, and goes on from there once the caller has the paren's value.
TEST(InterpreterPathResume, StopsBeforeParensAndGoesOn) {
    test::start();
    test::eval_text("rb: [10 [20 30] 40]");
    Cell code = boot::load_text("rb/(1 + 1)/(0 + 1)");
    Cell* held = stack::push(code);
    Cell path = *block::rs_abs_at(*held, 0);
    ASSERT_TRUE(is(path, Type::path));
    Cell* record = stack::s.top;
    for (int i = 0; i < 4; ++i) stack::push(none_cell());
    record[0] = integer_cell(0);

    int stops = 0;
    for (;;) {
        ASSERT_EQ(interp::eval_path(path, nullptr, false, false, nullptr, record), stack::ok);
        if (record[0].w1 == 0) break;
        ++stops;
        ASSERT_EQ(stack::s.top, record + 3);
        // The caller evaluates the paren item itself.
        Cell paren = *block::rs_abs_at(path, int32_t(record[0].w1 - 1));
        ASSERT_TRUE(is(paren, Type::paren));
        ASSERT_EQ(interp::eval_block(paren, false), stack::ok);
    }
    EXPECT_EQ(stops, 2);
    EXPECT_EQ(int_of(stack::s.top[-1]), 20);
    EXPECT_EQ(stack::s.top, record + 4);
    stack::s.top = held;
}

}  // namespace
}  // namespace zan
