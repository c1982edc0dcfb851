// The allocator: capacities, placement, expansion, copies and the C heap.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>
#include <memory>

#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

namespace zan {
namespace {

using memory::buffer;
using memory::Series;
namespace flag = memory::flag;

// Raises the error and answers its id, or fails.
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

TEST(Memory, CapacitiesOfTheTypedFrontEnds) {
    struct Case {
        const char* what;
        Node (*make)();
        uint32_t capacity;
        uint32_t unit;
    };
    const Case cases[] = {
        {"bytes 0 gives 16", [] { return memory::alloc_bytes(0); }, 16, 1},
        {"bytes 17 rounds up", [] { return memory::alloc_bytes(17); }, 32, 1},
        {"bytes 16 exact", [] { return memory::alloc_bytes(16); }, 16, 1},
        {"unit 1, count 0: 16 units", [] { return memory::alloc_series_unit(0, 1); }, 16, 1},
        {"unit 2, count 0: 8 units", [] { return memory::alloc_series_unit(0, 2); }, 16, 2},
        {"unit 4, count 0: 4 units", [] { return memory::alloc_series_unit(0, 4); }, 16, 4},
        {"unit 4, count 5", [] { return memory::alloc_series_unit(5, 4); }, 32, 4},
        {"cells 3", [] { return memory::alloc_cells(3); }, 48, 16},
        {"cells 0", [] { return memory::alloc_cells(0); }, 0, 16},
        {"series 7 of unit 2", [] { return memory::alloc_series(7, 2); }, 16, 2},
        {"big series 3 of unit 4", [] { return memory::alloc_big_series(3, 4); }, 16, 4},
    };
    for (const Case& c : cases) {
        Node n = c.make();
        Series* s = buffer(n);
        EXPECT_EQ(s->capacity, c.capacity) << c.what;
        EXPECT_EQ(s->unit(), c.unit) << c.what;
        EXPECT_EQ(s->node, n) << c.what;
        EXPECT_EQ(s->head, 0u) << c.what;
        EXPECT_EQ(s->tail, 0u) << c.what;
        EXPECT_TRUE(s->flags & flag::in_use) << c.what;
        EXPECT_TRUE(s->flags & flag::allocated) << c.what;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(s->data()) % 16, 0u) << c.what;
    }
    EXPECT_EQ(memory::verify_heap(), nullptr);
}

TEST(Memory, HeadRoomPutsTheHeadAtTheMiddle) {
    Node n = memory::alloc_series(64, 1, -1);
    Series* s = buffer(n);
    EXPECT_EQ(s->capacity, 64u);
    EXPECT_EQ(s->head, 32u);
    EXPECT_EQ(s->tail, s->head);
    EXPECT_TRUE(s->flags & flag::head_room);
    Node m = memory::alloc_series(64, 1, 8);
    EXPECT_EQ(buffer(m)->head, 8u);
    EXPECT_FALSE(buffer(m)->flags & flag::head_room);
}

TEST(Memory, BigFrameThresholdEdges) {
    struct Case {
        uint32_t capacity;
        bool big;
    };
    const Case cases[] = {{2097136, true}, {2097120, false}, {2097152, true}, {1048576, false}};
    for (bool collecting : {false, true}) {
        collector::set_enabled(collecting);
        for (const Case& c : cases) {
            Node n = memory::alloc_bytes(c.capacity);
            Series* s = buffer(n);
            EXPECT_EQ(s->capacity, c.capacity);
            EXPECT_EQ(bool(s->flags & flag::big), c.big) << c.capacity;
            std::memset(s->data(), 0xA5, s->capacity);  // the whole area is ours
        }
    }
    collector::set_enabled(false);
    EXPECT_EQ(memory::verify_heap(), nullptr);
}

TEST(Memory, SeriesFramesAreOneOrTwoMegabytes) {
    collector::set_enabled(false);
    auto count_frames = [] {
        struct Count {
            int frames = 0;
            int small = 0;
            int other = 0;
        } c;
        memory::for_each_frame(
            [](int kind, const memory::FrameFigures& f, void* ctx) {
                auto* c = static_cast<Count*>(ctx);
                if (kind != 1) return;
                ++c->frames;
                if (f.size == memory::series_frame_size)
                    ++c->small;
                else if (f.size != memory::max_frame_size)
                    ++c->other;
            },
            &c);
        return c;
    };
    memory::init();
    auto before = count_frames();
    while (count_frames().frames < before.frames + 3) memory::alloc_bytes(100000);
    auto after = count_frames();
    EXPECT_LE(after.small, 1);
    EXPECT_EQ(after.other, 0);
    EXPECT_EQ(memory::verify_heap(), nullptr);
}

TEST(Memory, AlignmentAndBackReferencesAcrossManySizes) {
    std::vector<Node> nodes;
    for (uint32_t i = 0; i < 3000; ++i) nodes.push_back(memory::alloc_series(i % 97, 1u << (i % 3)));
    for (Node n : nodes) {
        Series* s = buffer(n);
        EXPECT_EQ(s->node, n);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(s->data()) % 16, 0u);
    }
    EXPECT_EQ(memory::verify_heap(), nullptr);
}

TEST(Memory, FilledAllocationsCoverTheWholeCapacity) {
    Node cells = memory::alloc_cells_unset(3);
    Series* s = buffer(cells);
    auto* c = reinterpret_cast<Cell*>(s->data());
    for (uint32_t i = 0; i < s->capacity / 16; ++i) {
        EXPECT_TRUE(is(c[i], Type::unset));
        EXPECT_EQ(c[i].w1 | c[i].w2 | c[i].w3, 0u);
    }
    Node bytes = memory::alloc_bytes_filled(20, 0x5A);
    s = buffer(bytes);
    ASSERT_EQ(s->capacity, 32u);
    for (uint32_t i = 0; i < s->capacity; ++i) EXPECT_EQ(uint8_t(s->data()[i]), 0x5A);
}

// A byte series holding "0123456789" from head 4, with a datatype flag bit.
Node sample(bool c_heap = false) {
    Node n = c_heap ? memory::alloc_big_series(32, 1, 4) : memory::alloc_series(32, 1, 4);
    Series* s = buffer(n);
    std::memcpy(s->at_head(), "0123456789", 10);
    s->tail = s->head + 10;
    memory::set_series_flags(n, 1u << 9);
    return n;
}

TEST(Memory, ExpandKeepsFlagsNodeAndLength) {
    for (bool c_heap : {false, true}) {
        Node n = sample(c_heap);
        Series* old = buffer(n);
        Series* s = memory::expand_series_copy(n, 100);
        EXPECT_EQ(buffer(n), s);
        EXPECT_NE(s, old);
        EXPECT_EQ(s->node, n);
        EXPECT_EQ(s->capacity, 112u);
        EXPECT_EQ(s->head, 0u);
        EXPECT_EQ(s->tail, 10u);
        EXPECT_EQ(std::memcmp(s->data(), "0123456789", 10), 0);
        EXPECT_TRUE(s->flags & (1u << 9));
        EXPECT_TRUE(s->flags & flag::in_use);
        // The new buffer lives in a series frame, whatever the old one was.
        EXPECT_FALSE(s->flags & flag::c_heap);
        EXPECT_FALSE(s->flags & flag::big);
        if (!c_heap) {
            EXPECT_EQ(old->node, 0u);
            EXPECT_FALSE(old->flags & flag::in_use);
        }
    }
    EXPECT_EQ(memory::verify_heap(), nullptr);
}

TEST(Memory, ExpandVariants) {
    Node n = sample();
    Series* s = memory::expand_series(n, 0);  // twice the capacity
    EXPECT_EQ(s->capacity, 64u);
    EXPECT_EQ(s->tail - s->head, 10u);

    Node empty = memory::alloc_cells(0);
    EXPECT_EQ(memory::expand_series(empty, 0)->capacity, 16u);  // never zero

    Node f = sample();
    s = memory::expand_series_fill(f, 64, 0xEE);
    EXPECT_EQ(std::memcmp(s->data(), "0123456789", 10), 0);
    // Copied: the old bytes from the head to the end of the old area (28); then fill.
    for (uint32_t i = 28; i < s->capacity; ++i) EXPECT_EQ(uint8_t(s->data()[i]), 0xEE) << i;

    // Expanding to a bigger unit count keeps the unit.
    Node cells = memory::alloc_cells(2);
    s = memory::expand_series(cells, 100);
    EXPECT_EQ(s->unit(), 16u);
    EXPECT_EQ(s->capacity, 112u);

    // Into a big frame and back.
    Node b = sample();
    s = memory::expand_series_copy(b, memory::max_frame_size);
    EXPECT_TRUE(s->flags & flag::big);
    EXPECT_EQ(std::memcmp(s->data(), "0123456789", 10), 0);
    s = memory::expand_series_copy(b, 64);
    EXPECT_FALSE(s->flags & flag::big);
    EXPECT_EQ(std::memcmp(s->data(), "0123456789", 10), 0);
    EXPECT_EQ(memory::verify_heap(), nullptr);
}

// Big buffers grow by moving their pages into a larger mapping: every byte
// written before the growth reads back after it, the new part reads as a
// copy-or-fill would leave it, and no old frame stays behind. Pinned buffers,
// buffers with head room and growth under collections take the same care.
TEST(Memory, BigBuffersGrowWithTheirBytes) {
    struct Case {
        const char* what;
        bool pinned;
        int32_t offset;    // head room of the first buffer
        int fill;          // -1: expand_series_copy, else expand_series_fill with it
        uint32_t stress;   // collections every Nth allocation
    } cases[] = {
        {"copy", false, 0, -1, 0},
        {"fill with zero", false, 0, 0, 0},
        {"fill with 0xEE", false, 0, 0xEE, 0},
        {"pinned", true, 0, -1, 0},
        {"head room", false, 4096, -1, 0},
        {"under collections", false, 0, 0, 1},
    };
    collector::set_enabled(true);
    for (const Case& c : cases) {
        Node n = memory::alloc_series(memory::max_frame_size + 100, 1, c.offset);
        collector::NodeRoot keep(n);
        Series* s = buffer(n);
        ASSERT_TRUE(s->flags & flag::big) << c.what;
        uint32_t written = s->capacity - s->head;
        for (uint32_t i = 0; i < written; ++i) s->at_head()[i] = std::byte(i * 7 + i / 4096);
        s->tail = s->capacity;
        uint64_t before = memory::total_bytes();
        memory::set_gc_stress(c.stress);
        {
            std::unique_ptr<memory::Pin> pin(c.pinned ? new memory::Pin(n) : nullptr);
            for (int round = 0; round < 3; ++round) {
                s = c.fill < 0 ? memory::expand_series_copy(n, 0)
                               : memory::expand_series_fill(n, 0, uint8_t(c.fill));
                // The node may have a new handle after a collection.
                ASSERT_EQ(buffer(n), s) << c.what;
            }
        }
        memory::set_gc_stress(0);
        EXPECT_TRUE(s->flags & flag::big) << c.what;
        EXPECT_EQ(s->node, n) << c.what;
        EXPECT_EQ(s->head, 0u) << c.what;
        EXPECT_EQ(s->tail, written) << c.what;
        EXPECT_GE(s->capacity, 8 * written) << c.what;
        uint32_t bad = 0;
        for (uint32_t i = 0; i < written; ++i)
            if (s->data()[i] != std::byte(i * 7 + i / 4096)) ++bad;
        EXPECT_EQ(bad, 0u) << c.what;
        if (c.fill >= 0) {
            for (uint32_t i = written; i < s->capacity; ++i)
                if (uint8_t(s->data()[i]) != c.fill) ++bad;
            EXPECT_EQ(bad, 0u) << c.what;
        }
        EXPECT_EQ(memory::verify_heap(), nullptr) << c.what;
        collector::collect();
        // Only the last buffer's pages remain of the four sizes.
        EXPECT_LE(memory::total_bytes(), before + uint64_t(s->capacity) + (4u << 20)) << c.what;
        EXPECT_EQ(memory::verify_heap(), nullptr) << c.what;
    }
    collector::set_enabled(false);
}

TEST(Memory, SizesPastTheLimitRaiseNoMemory) {
    Node n = memory::alloc_bytes(16);
    struct Case {
        const char* what;
        void (*run)(Node);
    };
    const Case cases[] = {
        {"expand past 32 bits", [](Node n) { memory::expand_series(n, uint64_t(1) << 33); }},
        {"expand just past the limit", [](Node n) { memory::expand_series(n, memory::max_capacity + 1); }},
        {"cells whose bytes overflow 32 bits", [](Node) { memory::alloc_cells(0x20000000); }},
        {"series count times unit overflows", [](Node) { memory::alloc_series(0xFFFFFFFF, 4); }},
        {"big series overflows", [](Node) { memory::alloc_big_series(0x80000000, 16); }},
    };
    for (const Case& c : cases) EXPECT_EQ(raised([&] { c.run(n); }), errors::id::no_memory) << c.what;
    // The node is untouched.
    EXPECT_EQ(buffer(n)->capacity, 16u);
    EXPECT_EQ(memory::verify_heap(), nullptr);
}

// With the address space capped, a big series finds no pages: the error is
// catchable and the heap stays sound and usable.
TEST(Memory, RefusedPagesRaiseNoMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer reserves the address space itself";
#endif
    memory::init();
    collector::set_enabled(false);
    uint64_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit tight{pages * 4096 + (64u << 20), old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    errors::Id id = raised([] { memory::alloc_bytes(512u << 20); });
    setrlimit(RLIMIT_AS, &old);
    EXPECT_EQ(id, errors::id::no_memory);
    EXPECT_EQ(memory::verify_heap(), nullptr);
    Node n = memory::alloc_bytes(100);
    EXPECT_EQ(buffer(n)->capacity, 112u);
}

TEST(Memory, CopySeries) {
    Node n = sample();
    Node c = memory::copy_series(n);
    ASSERT_NE(c, n);
    Series* s = buffer(c);
    Series* o = buffer(n);
    EXPECT_NE(s, o);
    EXPECT_EQ(s->node, c);
    EXPECT_EQ(s->capacity, o->capacity);
    EXPECT_EQ(s->unit(), 1u);
    EXPECT_EQ(s->head, 0u);
    EXPECT_EQ(s->tail, 10u);
    EXPECT_TRUE(s->flags & (1u << 9));
    EXPECT_EQ(std::memcmp(s->data(), "0123456789", 10), 0);
    EXPECT_EQ(o->node, n);  // the original is intact

    Node cells = memory::alloc_cells(2);
    buffer(cells)->cells()[0] = integer_cell(7);
    buffer(cells)->tail = 16;
    Node cc = memory::copy_series(cells);
    EXPECT_EQ(buffer(cc)->unit(), 16u);
    EXPECT_EQ(buffer(cc)->length(), 1u);
    EXPECT_EQ(int_of(buffer(cc)->cells()[0]), 7);
}

TEST(Memory, UsedBytesCountsNodesBuffersAndBigFrames) {
    collector::set_enabled(false);
    memory::init();
    double before = memory::used_bytes();
    memory::alloc_bytes(100);
    EXPECT_EQ(memory::used_bytes() - before, double(sizeof(uintptr_t) + sizeof(Series) + 112));
    before = memory::used_bytes();
    memory::alloc_bytes(3u << 20);
    EXPECT_GE(memory::used_bytes() - before, double(3u << 20));
}

TEST(Memory, CHeapBlocks) {
    auto* p = static_cast<char*>(memory::allocate(10));
    std::memcpy(p, "abcdefghi", 10);
    p = static_cast<char*>(memory::reallocate(p, 100000));
    EXPECT_STREQ(p, "abcdefghi");
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    EXPECT_EQ(memory::reallocate(p, 0), nullptr);  // frees

    auto* z = static_cast<unsigned char*>(memory::allocate_zeroed(64));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(z[i], 0);
    memory::free(z);
    memory::free(z);  // no longer ours: ignored

    int local = 0;
    void* volatile stranger = &local;  // volatile: the optimiser may not see through it
    memory::free(stranger);            // never ours: ignored
    memory::free(nullptr);
    void* fresh = memory::reallocate(nullptr, 8);
    EXPECT_NE(fresh, nullptr);
    memory::free(fresh);
}

}  // namespace
}  // namespace zan
