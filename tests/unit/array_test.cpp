// Typed arrays: growth, head-relative positions, word insertion and removal,
// and the errors of positions outside the array.
#include "runtime/array.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

namespace {

using namespace zan;

std::vector<uint32_t> words(Node a) {
    std::vector<uint32_t> out;
    for (uint32_t i = 1; i <= array::length(a); ++i) out.push_back(array::pick_int(a, i));
    return out;
}

template <typename F>
errors::Id raised(F&& f) {
    try {
        f();
    } catch (const unwind::Thrown& t) {
        EXPECT_EQ(t.code, unwind::error);
        return errors::pending_id();
    }
    ADD_FAILURE() << "no error raised";
    return errors::id::not_done;
}

TEST(Array, EmptyArray) {
    Node a = array::make(0, 4);
    EXPECT_EQ(array::length(a), 0u);
    EXPECT_EQ(array::find_int(a, 0), -1);
    EXPECT_EQ(series::find_ptr(a, 0), -1);
    array::remove_ptr(a, 7);
    array::remove_bytes(a, 0, 4);
    EXPECT_EQ(array::length(a), 0u);
}

TEST(Array, InsertAtZeroOfAFullBufferGrowsAndShifts) {
    Node a = array::make(4, 4);
    for (uint32_t v : {10u, 20u, 30u, 40u}) array::append_int(a, v);
    ASSERT_EQ(memory::buffer(a)->capacity, 16u);  // full
    array::insert_int(a, 5, 0);
    EXPECT_GT(memory::buffer(a)->capacity, 16u);
    EXPECT_EQ(words(a), (std::vector<uint32_t>{5, 10, 20, 30, 40}));
    array::insert_int(a, 25, 3);
    array::insert_int(a, 50, 6);  // at the end
    EXPECT_EQ(words(a), (std::vector<uint32_t>{5, 10, 20, 25, 30, 40, 50}));
    EXPECT_EQ(raised([&] { array::insert_int(a, 1, 8); }), errors::id::out_of_range);
    EXPECT_EQ(array::length(a), 7u);
}

TEST(Array, FindAndRemoveWords) {
    Node a = array::make(2, 4);
    for (uint32_t v : {3u, 9u, 4u, 9u, 8u}) series::append_int(a, v);
    EXPECT_EQ(array::find_int(a, 3), 0);
    EXPECT_EQ(array::find_int(a, 9), 4);  // byte offset of the first
    EXPECT_EQ(series::find_ptr(a, 8), 16);
    EXPECT_EQ(array::find_int(a, 5), -1);
    array::remove_ptr(a, 9);
    EXPECT_EQ(words(a), (std::vector<uint32_t>{3, 4, 9, 8}));
    array::remove_ptr(a, 77);
    EXPECT_EQ(words(a), (std::vector<uint32_t>{3, 4, 9, 8}));
    array::poke_ptr(a, 4, 1);
    EXPECT_EQ(array::pick_ptr(a, 4), 1u);
    array::remove_bytes(a, 4, 100);  // cut to what is there
    EXPECT_EQ(words(a), (std::vector<uint32_t>{3}));
}

TEST(Array, PositionsOutsideRaiseOutOfRange) {
    Node a = array::make(4, 4);
    array::append_int(a, 1);
    array::append_int(a, 2);
    EXPECT_EQ(raised([&] { array::pick_int(a, 0); }), errors::id::out_of_range);
    EXPECT_EQ(raised([&] { array::pick_int(a, 3); }), errors::id::out_of_range);
    EXPECT_EQ(raised([&] { array::poke_ptr(a, 3, 9); }), errors::id::out_of_range);
    Node b = array::make(4, 1);
    array::append_byte(b, 7);
    EXPECT_EQ(array::pick_byte(b, 1), 7);
    EXPECT_EQ(raised([&] { array::pick_byte(b, 2); }), errors::id::out_of_range);
    EXPECT_EQ(words(a), (std::vector<uint32_t>{1, 2}));
}

TEST(Array, BytesAndLength) {
    Node a = array::make(0, 1);
    const char text[] = "abcdefghijklmnopqrstuvwxyz";
    array::append_bytes(a, text, 26);
    array::append_byte(a, '!');
    EXPECT_EQ(array::length(a), 27u);
    EXPECT_EQ(std::memcmp(array::head(a), "abcdefghijklmnopqrstuvwxyz!", 27), 0);
    array::remove_bytes(a, 1, 3);
    EXPECT_EQ(std::memcmp(array::head(a), "aefgh", 5), 0);
    EXPECT_EQ(array::pick_byte(a, 2), 'e');
    array::set_last(a, 4);
    EXPECT_EQ(array::length(a), 3u);
    array::set_last(a, 0);
    EXPECT_EQ(array::length(a), 0u);
    array::set_last(a, 1000000);  // stays inside the buffer
    EXPECT_LE(memory::buffer(a)->tail, memory::buffer(a)->capacity);

    Node w = array::make(8, 4);
    for (uint32_t v = 1; v <= 5; ++v) array::append_int(w, v);
    Node c = array::copy(w);
    array::clear(w);
    EXPECT_EQ(array::length(w), 0u);
    EXPECT_EQ(words(c), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
}

// Positions count from the head, not from the start of the buffer.
TEST(Array, HeadRoomIsNotPartOfTheArray) {
    Node a = memory::alloc_series(8, 4, 16);
    ASSERT_EQ(memory::buffer(a)->head, 16u);
    for (uint32_t v : {7u, 8u, 9u}) array::append_int(a, v);
    EXPECT_EQ(array::length(a), 3u);
    EXPECT_EQ(array::find_int(a, 7), 0);
    EXPECT_EQ(array::pick_int(a, 3), 9u);
    array::insert_int(a, 6, 0);
    array::remove_ptr(a, 8);
    EXPECT_EQ(words(a), (std::vector<uint32_t>{6, 7, 9}));
    uint32_t first;
    std::memcpy(&first, array::head(a), 4);
    EXPECT_EQ(first, 6u);
}

// Growth may collect and move the buffer: the content follows the node.
TEST(Array, GrowthUnderCollections) {
    Node a = array::make(0, 4);
    collector::NodeRoot keep(a);
    collector::set_enabled(true);
    memory::set_gc_stress(1);
    for (uint32_t v = 0; v < 3000; ++v) {
        array::append_int(a, v * 3);
        memory::alloc_bytes(64);  // garbage to move things around
    }
    for (uint32_t v = 0; v < 50; ++v) array::insert_int(a, v, v);
    memory::set_gc_stress(0);
    collector::set_enabled(false);
    ASSERT_EQ(array::length(a), 3050u);
    for (uint32_t i = 0; i < 50; ++i) EXPECT_EQ(array::pick_int(a, i + 1), i);
    for (uint32_t v = 0; v < 3000; ++v) ASSERT_EQ(array::pick_int(a, v + 51), v * 3);
}

}  // namespace
