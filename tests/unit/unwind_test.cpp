// Thrown codes stop at the first catcher whose level is not below them.
#include <gtest/gtest.h>

#include <ostream>

#include "runtime/unwind.h"

namespace zan::unwind {
namespace {

struct LevelCase {
    uint32_t level;
    uint32_t code;
    bool stopped;
};

void PrintTo(const LevelCase& c, std::ostream* out) {
    *out << std::hex << "level " << c.level << " code " << c.code;
}

class GuardLevel : public testing::TestWithParam<LevelCase> {};

TEST_P(GuardLevel, StopsCodesNotAboveItsLevel) {
    const auto c = GetParam();
    bool passed = false;
    uint32_t got = 0;
    try {
        got = guard(c.level, [&] { raise(c.code); });
    } catch (const Thrown& t) {
        passed = true;
        EXPECT_EQ(t.code, c.code);
    }
    EXPECT_EQ(!passed, c.stopped);
    if (c.stopped) {
        EXPECT_EQ(got, c.code);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, GuardLevel,
    testing::Values(LevelCase{error, error, true},            // equal level stops
                    LevelCase{error, break_, true},           // lower code stopped
                    LevelCase{throw_, error, false},          // catch lets an error pass
                    LevelCase{throw_, throw_, true},
                    LevelCase{break_, continue_, true},
                    LevelCase{continue_, break_, false},
                    LevelCase{page_guard, page_alloc_failed, true},
                    LevelCase{page_guard, throw_, false},
                    LevelCase{lexer, lexer, true},
                    LevelCase{lexer, quiet_end, false},
                    LevelCase{9, lexer, false},
                    LevelCase{catch_all, error, true},        // unsigned: the boot level stops all
                    LevelCase{catch_all, 0x80000000u, true},
                    LevelCase{error, 0x80000000u, false}));   // above every script code

TEST(Unwind, CodeZeroReturnsToTheThrower) {
    bool after = false;
    uint32_t got = guard(catch_all, [&] {
        raise(none);
        after = true;
    });
    EXPECT_TRUE(after);
    EXPECT_EQ(got, 0u);
}

TEST(Unwind, NestedCatchersStopInOrderAndRunDestructors) {
    struct Counter {
        int& n;
        ~Counter() { ++n; }
    };
    int destroyed = 0;
    std::vector<int> stops;
    uint32_t outer = guard(error, [&] {
        Counter a{destroyed};
        uint32_t inner = guard(throw_, [&] {
            Counter b{destroyed};
            guard(lexer, [&] {
                Counter c{destroyed};
                raise(break_);
            });
            stops.push_back(99);  // never reached
        });
        stops.push_back(int(inner));
    });
    EXPECT_EQ(outer, uint32_t(break_));
    EXPECT_TRUE(stops.empty());
    EXPECT_EQ(destroyed, 3);
}

TEST(Unwind, OwnKeepsItsRangeAndThrowsTheRestOn) {
    auto stopped_by_page_guard = [](uint32_t code) {
        return own(guard(page_guard, [&] { raise(code); }), page_release_failed, page_guard);
    };
    EXPECT_EQ(stopped_by_page_guard(page_alloc_failed), uint32_t(page_alloc_failed));
    EXPECT_EQ(stopped_by_page_guard(page_release_failed), uint32_t(page_release_failed));
    EXPECT_EQ(own(0, page_release_failed, page_guard), 0u);
    for (uint32_t code : {uint32_t(lexer), uint32_t(quiet_end)}) {
        uint32_t outer = guard(catch_all, [&] { stopped_by_page_guard(code); });
        EXPECT_EQ(outer, code);
    }
}

}  // namespace
}  // namespace zan::unwind
