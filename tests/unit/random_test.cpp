#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "codecs/random.h"

using namespace zan;

namespace {

// The tempering of one state word, written out with 64-bit arithmetic and
// explicit sign extension, apart from the generator's own code.
int32_t temper(int32_t word) {
    auto sar = [](int64_t v, int bits) { return int64_t(int32_t(uint32_t(v))) >> bits; };
    int64_t y = word;
    y = int32_t(uint32_t(y ^ sar(y, 11)));
    y = int32_t(uint32_t(y ^ ((int64_t(uint32_t(y)) << 7) & 0x9D2C5680)));
    y = int32_t(uint32_t(y ^ ((int64_t(uint32_t(y)) << 15) & 0xEFC60000)));
    y = int32_t(uint32_t(y ^ sar(y, 18)));
    return int32_t(y);
}

TEST(Twister, FirstDrawsTemperTheSeedWords) {
    random::seed(19650218);
    std::vector<int32_t> words;
    for (int i = 0; i < 624; ++i) words.push_back(random::state_word(i));
    EXPECT_EQ(words[0], 19650218);
    for (int i = 0; i < 624; ++i) ASSERT_EQ(random::next(), temper(words[size_t(i)])) << i;
}

TEST(Twister, Draw625ComesFromARegeneratedState) {
    random::seed(19650218);
    for (int i = 0; i < 624; ++i) random::next();
    EXPECT_EQ(random::state_index(), 624);
    int32_t d = random::next();
    EXPECT_EQ(random::state_index(), 1);
    EXPECT_EQ(d, temper(random::state_word(0)));
    EXPECT_NE(random::state_word(0), 19650218);
}

TEST(Twister, OutputsStayIn31Bits) {
    random::seed(-1);
    for (int i = 0; i < 5000; ++i) ASSERT_GE(random::next(), 0);
}

// (s >> 30) is an arithmetic shift: a negative seed's second word differs
// from the one its unsigned reading gives.
TEST(Twister, NegativeSeedSignExtends) {
    random::seed(-5);
    uint32_t s0 = uint32_t(-5);
    uint32_t unsigned_reading = 1812433253u * (s0 ^ (s0 >> 30)) + 1u;
    uint32_t signed_reading = 1812433253u * (s0 ^ uint32_t(int32_t(s0) >> 30)) + 1u;
    EXPECT_EQ(uint32_t(random::state_word(1)), signed_reading);
    EXPECT_NE(uint32_t(random::state_word(1)), unsigned_reading);
}

TEST(Twister, KnownSequences) {
    random::seed(19650218);
    EXPECT_EQ(random::int_range(false, 1000000), 102753);
    random::seed(42);
    EXPECT_EQ(random::int_range(false, 100), 8);
    EXPECT_EQ(random::int_range(false, 100), 26);
    EXPECT_EQ(random::int_range(false, 100), 47);
    random::seed(7);
    EXPECT_EQ(random::int_range(false, -6), -6);
}

TEST(IntRange, Edges) {
    random::seed(1);
    EXPECT_EQ(random::int_range(false, 0), 0);
    int before = random::state_index();
    EXPECT_EQ(random::int_range(false, 0), 0);
    EXPECT_EQ(random::state_index(), before);  // zero draws nothing
    EXPECT_EQ(random::int_range(false, 1), 1);
    EXPECT_EQ(random::state_index(), before + 1);  // one still draws
    EXPECT_EQ(random::int_range(false, -1), -1);
    for (int i = 0; i < 2000; ++i) {
        int32_t r = random::int_range(false, -3);
        ASSERT_TRUE(r >= -3 && r <= -1) << r;
        int32_t m = random::int_range(false, INT32_MIN);
        ASSERT_LT(m, 0);
        int32_t big = random::int_range(false, INT32_MAX);
        ASSERT_GE(big, 1);
        int32_t s = random::int_range(true, 6);
        ASSERT_TRUE(s >= 1 && s <= 6) << s;
    }
}

// A range that does not divide 2^31 - 1 rejects the top partial block, so
// every value comes up about equally often.
TEST(IntRange, Uniform) {
    random::seed(123);
    int counts[3] = {};
    for (int i = 0; i < 30000; ++i) counts[random::int_range(false, 3) - 1]++;
    for (int c : counts) EXPECT_NEAR(c, 10000, 400);
}

TEST(Secure, DrawsAre31BitsAndVary) {
    int32_t first = random::secure_int();
    bool varied = false;
    for (int i = 0; i < 16; ++i) {
        int32_t d = random::secure_int();
        ASSERT_GE(d, 0);
        varied |= d != first;
    }
    EXPECT_TRUE(varied);
}

}  // namespace
