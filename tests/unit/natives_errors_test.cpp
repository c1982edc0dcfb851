// What scripts cannot see of the control, exit and function natives: the
// stacks their errors leave behind, the throw origin, and the argument checks
// natives make when asked to. Their error ids are checked by the scripts.
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
