// hash!: after every block action the table holds each cell of the storage at
// its current position, and finds agree with a plain scan.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "evaluator_support.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zan {
namespace {

class HashTest : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }

    void step(const std::string& code) {
        test::eval_text(code);
        Cell h = test::eval_text("h");
        ASSERT_TRUE(is(h, Type::hash)) << code;
        Node t = Node(series_extra(h));
        ASSERT_NE(t, 0u) << code;
        EXPECT_STREQ(hashtable::check(t), "") << "after: " << code;
        // Every cell is found at its own position or at an equal one before it.
        for (uint32_t i = 0; i < memory::buffer(series_node(h))->length(); ++i) {
            Cell v = memory::buffer(series_node(h))->cells()[i];
            int32_t at = hashtable::get(t, v, 0, 1, hashtable::Mode::strict);
            ASSERT_GE(at, 0) << "after: " << code << " cell " << i;
            EXPECT_LE(uint32_t(at), i) << "after: " << code;
        }
    }
};

TEST_F(HashTest, IndexFollowsEveryBlockAction) {
    const char* steps[] = {
        "h: make hash! [a 1 b 2 c 3 a 4]",
        "append h [d 5]",
        "insert h [x 0]",
        "insert at h 3 [y y]",
        "remove next h",
        "remove/part at h 2 3",
        "change h [p q]",
        "change/part next h [r] 2",
        "poke h 1 'z",
        "h/2: 'w",
        "reverse h",
        "sort h",
        "move h tail h",
        "swap h next h",
        "take/last h",
        "take/part h 2",
        "append h reduce [none 1 none]",
        "trim h",
        "h: copy h",
        "h: copy/part next h 3",
        "h: copy/deep h",
        "clear h",
        "repeat i 500 [append h i]",
        "repeat i 50 [insert h i]",
        "h: to hash! [1 2 3 2 1]",
        "h: make hash! 0",
    };
    for (const char* s : steps) step(s);
}

}  // namespace
}  // namespace zan
