// map!: the hash table stays consistent with the storage after every action,
// and removed pairs are counted, not moved.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/map.h"
#include "evaluator_support.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zan {
namespace {

class MapTest : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }

    // Runs the step, then checks the table over the map held by m.
    void step(const std::string& code) {
        test::eval_text(code);
        Cell m = test::eval_text("m");
        ASSERT_TRUE(is(m, Type::map)) << code;
        Node t = Node(series_extra(m));
        EXPECT_STREQ(hashtable::check(t), "") << "after: " << code;
        // Live pairs are the pairs whose value cell still has a header.
        memory::Series* s = memory::buffer(series_node(m));
        uint32_t live = 0;
        for (uint32_t i = 0; i + 1 < s->length(); i += 2) live += s->cells()[i + 1].header != 0;
        EXPECT_EQ(map::count(m), live) << "after: " << code;
    }
};

TEST_F(MapTest, TableFollowsEveryAction) {
    const char* steps[] = {
        "m: make map! [a 1 b 2 a 3]",
        "m/c: 4",
        "put m \"Key\" 5",
        "put/case m \"KEY\" 6",
        "remove/key m 'b",
        "remove/key m 'b",
        "m/b: 7",
        "remove/key m 'a remove/key m 'c",
        "extend m [x 1 y 2 a 8]",
        "repeat i 200 [put m i i * 2]",
        "repeat i 100 [remove/key m i * 2]",
        "repeat i 50 [put m i * 4 0]",
        "m: copy m",
        "m/z: 1",
        "m: copy/deep m",
        "clear m",
        "m/q: 1 remove/key m 'q",
        "m: make map! 3",
        "repeat i 1000 [put m append copy \"k\" i i]",
    };
    for (const char* s : steps) step(s);
    Cell m = test::eval_text("m");
    EXPECT_EQ(map::count(m), 1000u);
}

TEST_F(MapTest, RemovedPairKeepsItsSlot) {
    step("m: make map! [a 1 b 2 c 3]");
    Cell before = test::eval_text("m");
    uint32_t cells = memory::buffer(series_node(before))->length();
    step("remove/key m 'a");
    step("m/a: 9");
    Cell after = test::eval_text("m");
    EXPECT_EQ(memory::buffer(series_node(after))->length(), cells);
    EXPECT_EQ(int_of(memory::buffer(series_node(after))->cells()[1]), 9);
}

}  // namespace
}  // namespace zan
