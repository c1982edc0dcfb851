// The externals table: kinds, growth, replacement, removal, and the sweep
// that releases unreachable resources exactly once.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "runtime/collector.h"
#include "runtime/externals.h"
#include "runtime/memory.h"

namespace zan {
namespace {

std::map<void*, int>& released() {
    static std::map<void*, int> counts;
    return counts;
}

int kind() {
    static int k = externals::register_kind("test", [](void* r) { ++released()[r]; });
    return k;
}

void* resource(intptr_t i) { return reinterpret_cast<void*>(i * 16 + 0x1000); }

TEST(Externals, KindsAreNumberedFromOneInOrder) {
    externals::init();
    released().clear();
    int a = kind();
    int b = externals::register_kind("quiet", nullptr);
    int c = externals::register_kind("quiet too", nullptr);
    EXPECT_GE(a, 1);
    EXPECT_GT(b, a);
    EXPECT_EQ(c, b + 1);
    EXPECT_STREQ(externals::kind_name(a), "test");
    EXPECT_EQ(externals::kind_name(0), nullptr);
    // A kind without callback, and kind 0, release nothing.
    int32_t i = externals::add(resource(1), b);
    externals::remove(i, true);
    externals::release(0, resource(2));
    EXPECT_TRUE(released().empty());
}

TEST(Externals, ReplaceReleasesOnlyADifferentPointer) {
    released().clear();
    int32_t i = externals::add(resource(10), kind());
    externals::replace(i, resource(10));
    EXPECT_TRUE(released().empty());
    externals::replace(i, resource(11));
    EXPECT_EQ(released()[resource(10)], 1);
    EXPECT_EQ(externals::resource(i), resource(11));
    EXPECT_EQ(externals::remove(i, true), -1);
    EXPECT_EQ(released()[resource(11)], 1);
    EXPECT_EQ(externals::kind_of(i), 0);  // the record is free again
}

TEST(Externals, TableDoublesBeforeItsLastFreeRecordIsTaken) {
    externals::init();
    uint32_t capacity = externals::capacity();
    std::vector<int32_t> taken;
    // Fill the table up to its last free record: no growth yet.
    while (true) {
        int32_t i = externals::add(resource(100), kind());
        taken.push_back(i);
        if (externals::capacity() != capacity) break;
    }
    EXPECT_EQ(externals::capacity(), capacity * 2);
    // Every index handed out is distinct and still readable.
    std::vector<bool> seen(externals::capacity());
    for (int32_t i : taken) {
        ASSERT_FALSE(seen[size_t(i)]);
        seen[size_t(i)] = true;
        EXPECT_EQ(externals::resource(i), resource(100));
    }
    for (int32_t i : taken) externals::remove(i, false);
}

TEST(Externals, ForEachOfKindVisitsLiveRecords) {
    int other = externals::register_kind("other", nullptr);
    int32_t a = externals::add(resource(20), kind());
    int32_t b = externals::add(resource(21), other);
    int32_t c = externals::add(resource(22), kind());
    static std::vector<void*> visited;
    visited.clear();
    externals::for_each_of_kind(kind(), [](void* r) { visited.push_back(r); });
    EXPECT_EQ(visited, (std::vector<void*>{resource(22), resource(20)}));
    for (int32_t i : {a, b, c}) externals::remove(i, false);
}

// Handles in a rooted block keep their records; the rest are released once.
TEST(Externals, CollectionReleasesUnreachableResourcesOnce) {
    memory::init();
    released().clear();
    // The holder first: under collection stress its allocation collects, and
    // must not find the new records unheld.
    static Node block;
    block = memory::alloc_cells(10);
    memory::buffer(block)->tail = memory::buffer(block)->head;
    collector::Marker marker = [] { collector::mark_series(block); };
    collector::register_marker(marker);
    std::vector<int32_t> kept, dropped;
    std::map<int32_t, void*> of;  // record -> resource
    for (int i = 0; i < 10; ++i) {
        int32_t r = externals::add(resource(200 + i), kind());
        of[r] = resource(200 + i);
        (i % 3 ? dropped : kept).push_back(r);
    }
    memory::Series* s = memory::buffer(block);
    for (size_t k = 0; k < kept.size(); ++k) s->cells()[k] = make_cell(Type::handle, 0, 0, uint32_t(kept[k]));
    s->tail = s->head + uint32_t(kept.size() * sizeof(Cell));
    collector::do_cycle();
    collector::do_cycle();
    collector::unregister_marker(marker);
    for (int32_t i : dropped) EXPECT_EQ(released()[of[i]], 1) << i;
    for (int32_t i : kept) {
        EXPECT_EQ(released().count(of[i]), 0u) << i;
        EXPECT_EQ(externals::resource(i), of[i]);
    }
    collector::do_cycle();  // now nothing holds them
    for (int32_t i : kept) EXPECT_EQ(released()[of[i]], 1) << i;
    for (int32_t i : dropped) EXPECT_EQ(released()[of[i]], 1) << i;
}

TEST(Externals, MarkIgnoresFreeAndUnknownRecords) {
    int32_t i = externals::add(resource(300), kind());
    externals::remove(i, false);
    EXPECT_FALSE(externals::mark(i));
    EXPECT_FALSE(externals::mark(-1));
    EXPECT_FALSE(externals::mark(int32_t(externals::capacity())));
    int32_t j = externals::add(resource(301), kind());
    EXPECT_TRUE(externals::mark(j, resource(302)));
    EXPECT_FALSE(externals::mark(j));
    EXPECT_EQ(externals::resource(j), resource(302));
    externals::sweep();  // clears the mark; the record stays
    EXPECT_EQ(externals::resource(j), resource(302));
    externals::remove(j, false);
}

}  // namespace
}  // namespace zan
