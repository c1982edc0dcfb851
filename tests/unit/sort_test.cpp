// Record sorting: order, stability, permutation after a throwing or lying
// comparator, and comparison counts on the shapes that break naive quicksorts.
#include "runtime/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/unwind.h"

namespace {

using namespace zan;

// A record of `size` bytes: a 32-bit key, then a 32-bit sequence number
// (its place in the input), then padding up to the size. Odd sizes exercise
// the bytewise moves.
struct Array {
    std::size_t size;
    std::vector<unsigned char> bytes;

    Array(std::size_t record_size, const std::vector<int32_t>& keys)
        : size(record_size), bytes(keys.size() * record_size, 0xA5) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            int32_t seq = int32_t(i);
            std::memcpy(&bytes[i * size], &keys[i], 4);
            std::memcpy(&bytes[i * size + 4], &seq, 4);
        }
    }
    std::size_t count() const { return bytes.size() / size; }
    int32_t key(std::size_t i) const { return field(i, 0); }
    int32_t seq(std::size_t i) const { return field(i, 4); }
    int32_t field(std::size_t i, std::size_t at) const {
        int32_t v;
        std::memcpy(&v, &bytes[i * size + at], 4);
        return v;
    }
    void* data() { return bytes.data(); }
};

int32_t key_of(const void* r) {
    int32_t k;
    std::memcpy(&k, r, 4);
    return k;
}

long comparisons = 0;
long throw_after = -1;  // throw at that comparison; -1 never

// Flags bit 0 reverses the order, to check the pass-through words.
int by_key(const void* a, const void* b, std::uintptr_t mode, std::uintptr_t flags) {
    EXPECT_EQ(mode, 77u);
    ++comparisons;
    if (comparisons == throw_after) throw unwind::Thrown{unwind::error};
    int32_t x = key_of(a);
    int32_t y = key_of(b);
    int c = x < y ? -1 : x > y ? 1 : 0;
    return (flags & 1) ? -c : c;
}

using Sorter = void (*)(void*, std::size_t, std::size_t, std::uintptr_t, std::uintptr_t,
                        sort::Compare);

struct Algorithm {
    const char* name;
    Sorter sort;
    bool stable;
};
const Algorithm algorithms[] = {
    {"stable-merge", sort::stable_merge, true},
    {"adaptive-quick", sort::adaptive_quick, false},
};

// Every record once, no padding byte touched.
void expect_permutation(const Array& a, const std::vector<int32_t>& keys, const std::string& what) {
    std::vector<bool> seen(a.count());
    for (std::size_t i = 0; i < a.count(); ++i) {
        int32_t s = a.seq(i);
        ASSERT_TRUE(s >= 0 && std::size_t(s) < a.count()) << what << " at " << i;
        ASSERT_FALSE(seen[s]) << what << ": record " << s << " twice";
        seen[s] = true;
        ASSERT_EQ(a.key(i), keys[s]) << what << ": record " << s << " torn";
        for (std::size_t b = 8; b < a.size; ++b)
            ASSERT_EQ(a.bytes[i * a.size + b], 0xA5) << what << ": padding of " << s;
    }
}

void expect_sorted(const Array& a, const std::vector<int32_t>& keys, bool stable, bool reversed,
                   const std::string& what) {
    expect_permutation(a, keys, what);
    for (std::size_t i = 1; i < a.count(); ++i) {
        int32_t p = a.key(i - 1);
        int32_t k = a.key(i);
        ASSERT_TRUE(reversed ? p >= k : p <= k) << what << " out of order at " << i;
        if (stable && p == k) {
            ASSERT_LT(a.seq(i - 1), a.seq(i)) << what << " unstable at " << i;
        }
    }
}

std::vector<int32_t> shape(const std::string& kind, std::size_t n, std::mt19937& rng) {
    std::vector<int32_t> k(n);
    for (std::size_t i = 0; i < n; ++i) {
        int32_t v = int32_t(i);
        if (kind == "random-dups") v = int32_t(rng() % (n / 4 + 1));
        else if (kind == "random") v = int32_t(rng());
        else if (kind == "reversed") v = int32_t(n - i);
        else if (kind == "equal") v = 5;
        else if (kind == "organ-pipe") v = int32_t(i < n / 2 ? i : n - i);
        else if (kind == "sawtooth") v = int32_t(i % 37);
        else if (kind == "nearly-sorted") v = int32_t(rng() % 50 == 0 ? rng() % n : i);
        else if (kind == "nearly-reversed") v = int32_t(rng() % 50 == 0 ? rng() % n : n - i);
        else if (kind == "two-values") v = int32_t(rng() % 2);
        k[i] = v;
    }
    return k;
}

const char* const shapes[] = {"sorted",     "random-dups", "random",        "reversed",
                              "equal",      "organ-pipe",  "sawtooth",      "nearly-sorted",
                              "nearly-reversed", "two-values"};

// Sizes around the insertion-sort cut, the 63-record pivot window, the 97-pair
// sampling step and the 512-record thresholds.
const std::size_t counts[] = {0,  1,  2,  3,  6,  7,  8,  9,   15,  62,  63,  64,  96,
                              97, 98, 200, 511, 512, 513, 1024, 1537, 5000};

TEST(Sort, ShapesAndSizes) {
    std::mt19937 rng(1);
    comparisons = 0;
    throw_after = -1;
    for (const Algorithm& alg : algorithms)
        for (const char* kind : shapes)
            for (std::size_t n : counts)
                for (std::size_t size : {8u, 11u, 16u})
                    for (std::uintptr_t flags : {0u, 1u}) {
                        auto keys = shape(kind, n, rng);
                        Array a(size, keys);
                        alg.sort(a.data(), n, size, 77, flags, by_key);
                        std::string what = std::string(alg.name) + " " + kind + " n=" +
                                           std::to_string(n) + " size=" + std::to_string(size) +
                                           " flags=" + std::to_string(flags);
                        expect_sorted(a, keys, alg.stable, flags & 1, what);
                        if (HasFatalFailure()) return;
                    }
}

// A comparator that throws part-way leaves every record in the array once.
TEST(Sort, ThrowingComparatorLeavesAPermutation) {
    std::mt19937 rng(2);
    for (const Algorithm& alg : algorithms)
        for (const char* kind : {"random-dups", "random", "nearly-sorted", "reversed"})
            for (std::size_t n : {5u, 9u, 100u, 700u, 3000u})
                for (std::size_t size : {8u, 13u})
                    for (int trial = 0; trial < 12; ++trial) {
                        auto keys = shape(kind, n, rng);
                        Array a(size, keys);
                        comparisons = 0;
                        throw_after = 1 + long(rng() % (n * 12));
                        bool thrown = false;
                        try {
                            alg.sort(a.data(), n, size, 77, 0, by_key);
                        } catch (const unwind::Thrown& t) {
                            thrown = true;
                            EXPECT_EQ(t.code, uint32_t(unwind::error));
                        }
                        throw_after = -1;
                        std::string what = std::string(alg.name) + " " + kind + " n=" +
                                           std::to_string(n) + (thrown ? " thrown" : " done");
                        if (thrown)
                            expect_permutation(a, keys, what);
                        else
                            expect_sorted(a, keys, alg.stable, false, what);
                        if (HasFatalFailure()) return;
                    }
    EXPECT_EQ(sort::scratch(), nullptr);
}

// A comparator that answers at random must neither crash nor lose records.
std::mt19937 liar_rng(3);
int liar(const void*, const void*, std::uintptr_t, std::uintptr_t) {
    return int(liar_rng() % 3) - 1;
}

TEST(Sort, InconsistentComparatorStaysInBounds) {
    std::mt19937 rng(4);
    for (const Algorithm& alg : algorithms)
        for (std::size_t n : {2u, 7u, 8u, 100u, 600u, 4000u}) {
            auto keys = shape("random", n, rng);
            Array a(12, keys);
            alg.sort(a.data(), n, 12, 0, 0, liar);
            expect_permutation(a, keys, std::string(alg.name) + " n=" + std::to_string(n));
        }
}

// Sorted, reversed and other regular inputs stay near n log n comparisons.
TEST(Sort, NoQuadraticShapes) {
    const std::size_t n = 100000;
    const long bound = 4 * long(n) * 17;  // 4 n log2 n; quadratic would be ~100 times more
    std::mt19937 rng(5);
    for (const Algorithm& alg : algorithms)
        for (const char* kind : {"sorted", "reversed", "equal", "organ-pipe", "sawtooth",
                                 "nearly-sorted", "nearly-reversed", "two-values", "random"}) {
            auto keys = shape(kind, n, rng);
            Array a(8, keys);
            comparisons = 0;
            alg.sort(a.data(), n, 8, 77, 0, by_key);
            EXPECT_LT(comparisons, bound) << alg.name << " " << kind;
            expect_sorted(a, keys, alg.stable, false, std::string(alg.name) + " " + kind);
        }
}

TEST(Sort, PresortedInputCostsOnePass) {
    for (const Algorithm& alg : algorithms)
        for (const char* kind : {"sorted", "reversed"}) {
            std::mt19937 rng(6);
            auto keys = shape(kind, 10000, rng);
            Array a(8, keys);
            comparisons = 0;
            alg.sort(a.data(), keys.size(), 8, 77, 0, by_key);
            EXPECT_EQ(comparisons, long(keys.size()) - 1) << alg.name << " " << kind;
            expect_sorted(a, keys, alg.stable, false, alg.name);
        }
}

TEST(SortRun, FindRun) {
    struct Case {
        std::vector<int32_t> keys;
        std::size_t run;
        std::vector<int32_t> after;  // keys after the call
    };
    const Case cases[] = {
        {{1, 2, 2, 3, 1}, 4, {1, 2, 2, 3, 1}},
        {{5, 4, 3, 3, 1}, 3, {3, 4, 5, 3, 1}},  // strictly descending only
        {{5, 4, 3, 2, 1}, 5, {1, 2, 3, 4, 5}},
        {{2, 2, 1}, 2, {2, 2, 1}},
        {{7}, 1, {7}},
        {{2, 1}, 2, {1, 2}},
    };
    for (const Case& c : cases) {
        Array a(8, c.keys);
        comparisons = 0;
        throw_after = -1;
        auto* base = static_cast<std::byte*>(a.data());
        std::byte* end = sort::find_run(base, base + a.bytes.size(), 8, 77, 0, by_key);
        EXPECT_EQ(std::size_t(end - base) / 8, c.run);
        for (std::size_t i = 0; i < c.after.size(); ++i) EXPECT_EQ(a.key(i), c.after[i]);
    }
}

TEST(SortRun, MergeRunsBothWaysKeepsFirstRunFirst) {
    // The left run shorter (forward merge) and the right run shorter (backward).
    const std::vector<std::vector<int32_t>> inputs = {
        {1, 3, 3, 0, 1, 3, 3, 4, 9},
        {0, 1, 3, 3, 4, 9, 1, 3, 3},
        {5, 1, 2, 3, 4},
        {1, 2, 3, 4, 0},
    };
    const std::size_t middles[] = {3, 6, 1, 4};
    for (std::size_t t = 0; t < inputs.size(); ++t) {
        Array a(8, inputs[t]);
        std::vector<unsigned char> buffer(8 * inputs[t].size());
        auto* base = static_cast<std::byte*>(a.data());
        sort::Context context{8, 77, 0, by_key};
        sort::merge_runs(base, base + middles[t] * 8, base + a.bytes.size(),
                         reinterpret_cast<std::byte*>(buffer.data()), context);
        expect_sorted(a, inputs[t], true, false, "merge " + std::to_string(t));
    }
}

TEST(SortRun, Swap) {
    for (std::size_t size : {12u, 13u, 3u})
        for (bool bytewise : {false, true}) {
            unsigned char a[14];
            unsigned char b[14];
            for (int i = 0; i < 14; ++i) {
                a[i] = (unsigned char)i;
                b[i] = (unsigned char)(100 + i);
            }
            sort::swap(a, b, size, bytewise);
            for (int i = 0; i < 14; ++i) {
                bool in = std::size_t(i) < size;
                EXPECT_EQ(a[i], in ? 100 + i : i) << size << " " << i;
                EXPECT_EQ(b[i], in ? i : 100 + i) << size << " " << i;
            }
        }
}

TEST(Sort, BufferSizeOverflowRaisesNoMemory) {
    int32_t one[4] = {1, 0, 0, 0};
    try {
        sort::stable_merge(one, std::size_t(-1) / 4, 16, 77, 0, by_key);
        FAIL() << "no error";
    } catch (const unwind::Thrown& t) {
        EXPECT_EQ(t.code, uint32_t(unwind::error));
        EXPECT_EQ(errors::pending_id(), errors::id::no_memory);
    }
    EXPECT_EQ(sort::scratch(), nullptr);
}

// While a merge runs its comparator, the records it holds aside are visible
// through scratch(); a comparator that sorts again nests a second entry.
std::vector<std::pair<std::size_t, std::size_t>> scratch_seen;  // depth, bytes
int observing(const void* a, const void* b, std::uintptr_t, std::uintptr_t flags) {
    std::size_t depth = 0;
    for (const sort::Scratch* s = sort::scratch(); s; s = s->outer) {
        ++depth;
        EXPECT_EQ(s->compare, observing);
        EXPECT_EQ(s->bytes % s->size, 0u);
        // every byte reported holds a copy of a record: its key is a real one
        for (std::size_t at = 0; at < s->bytes; at += s->size)
            EXPECT_LT(unsigned(key_of(s->data + at)), 1000u);
    }
    if (flags == 1 && key_of(a) == 3 && key_of(b) < 1000) {
        std::vector<int32_t> inner_keys = {4, 3, 2, 1, 0, 9, 8, 7};
        Array inner(8, inner_keys);
        sort::stable_merge(inner.data(), inner.count(), 8, 0, 2, observing);
    }
    scratch_seen.emplace_back(depth, sort::scratch() ? sort::scratch()->bytes : 0);
    int32_t x = key_of(a);
    int32_t y = key_of(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

TEST(Sort, ScratchChainDuringMerges) {
    std::vector<int32_t> keys = {9, 8, 3, 7, 6, 1, 5, 2, 0, 4};
    Array a(8, keys);
    scratch_seen.clear();
    sort::stable_merge(a.data(), a.count(), 8, 0, 1, observing);
    expect_sorted(a, keys, true, false, "observed");
    bool nested = false;
    for (auto [depth, bytes] : scratch_seen) {
        EXPECT_GE(depth, 1u);
        nested = nested || depth == 2;
    }
    EXPECT_TRUE(nested);
    EXPECT_EQ(sort::scratch(), nullptr);
}

}  // namespace
