// The evaluator's hooks in errors::fire and saving the pending error around
// script code that runs while an error is raised.
#include "value_support.h"

using namespace zan;

namespace {

std::vector<std::string> calls;
Cell seen_by_trace, seen_by_locate;

TEST(ErrorHooks, TraceThenLocateSeeTheBuiltErrorBeforeUnwinding) {
    calls.clear();
    auto old_trace = errors::set_trace_hook([](const Cell& e) {
        calls.push_back("trace");
        seen_by_trace = e;
        // Script code run by the trace hook may raise and handle errors of its own.
        errors::Pending saved = errors::save_pending();
        EXPECT_TRUE(is(errors::pending(), Type::none));
        EXPECT_TRUE(is(errors::pending_arg(1), Type::unset));
        errors::restore_pending(saved);
    });
    auto old_locate = errors::set_locate_hook([](const Cell& e) {
        calls.push_back("locate");
        seen_by_locate = e;
    });
    Cell a = integer_cell(5);
    EXPECT_EQ(test::raised([&] { errors::fire(errors::id::bad_to_arg, &a); }), errors::id::bad_to_arg);
    errors::set_trace_hook(old_trace);
    errors::set_locate_hook(old_locate);

    EXPECT_EQ(calls, (std::vector<std::string>{"trace", "locate"}));
    const Cell& pending = errors::pending();
    EXPECT_EQ(type_of(seen_by_trace), type_of(pending));
    EXPECT_EQ(seen_by_trace.w1, pending.w1);
    EXPECT_EQ(seen_by_locate.w1, pending.w1);
    EXPECT_EQ(errors::pending_id(), errors::id::bad_to_arg);
    EXPECT_EQ(int_of(errors::pending_arg(1)), 5);
}

TEST(ErrorHooks, SaveClearsAndRestorePutsBack) {
    Cell a = integer_cell(9);
    EXPECT_EQ(test::raised([&] { errors::fire(errors::id::zero_divide, &a); }), errors::id::zero_divide);
    Cell before = errors::pending();
    errors::Pending saved = errors::save_pending();
    EXPECT_TRUE(is(errors::pending(), Type::none));
    // A nested error in between replaces the pending one until the restore.
    EXPECT_EQ(test::raised([] { errors::fire(errors::id::overflow); }), errors::id::overflow);
    errors::restore_pending(saved);
    EXPECT_EQ(errors::pending_id(), errors::id::zero_divide);
    EXPECT_EQ(errors::pending().w1, before.w1);
    EXPECT_EQ(int_of(errors::pending_arg(1)), 9);
}

}  // namespace
