// The collector: reachability, compaction, pins, guards, big and C-heap
// series, node evacuation, deep nesting and stress mode. Object graphs are
// built with the raw allocation API and checked against a model of the same
// graph before and after collections, with the heap verifier after each.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "runtime/collector.h"
#include "runtime/memory.h"

namespace zan {
namespace {

using memory::buffer;
using memory::Series;
namespace flag = memory::flag;

struct Figures {
    uint64_t occupied_frames = 0;  // series frames holding anything
    uint64_t nodes = 0;        // nodes in use
    uint64_t node_frames = 0;
    uint64_t series_used = 0;  // bytes in use in series frames
    uint64_t series_frames = 0;
    uint64_t big_frames = 0;
};

Figures figures() {
    Figures f;
    memory::for_each_frame(
        [](int kind, const memory::FrameFigures& x, void* ctx) {
            auto* f = static_cast<Figures*>(ctx);
            if (kind == 0) {
                f->nodes += x.used;
                ++f->node_frames;
            } else if (kind == 1) {
                f->series_used += x.used;
                ++f->series_frames;
                if (x.used) ++f->occupied_frames;
            } else {
                ++f->big_frames;
            }
        },
        &f);
    return f;
}

// Collection on, and a root set the test fills.
class Collector : public ::testing::Test {
protected:
    static inline std::vector<Node>* roots_ = nullptr;
    static void mark_roots() {
        for (Node& n : *roots_) collector::mark_series(n);
    }

    void SetUp() override {
        memory::init();
        memory::set_gc_stress(0);  // these tests count what each collection does
        roots_ = &roots;
        collector::register_marker(mark_roots);
        collector::set_enabled(true);
        collect();  // whatever earlier tests left is garbage now
        baseline = figures();
    }
    void TearDown() override {
        collector::unregister_marker(mark_roots);
        collector::set_node_evacuation(false);
        memory::set_gc_stress(0);
        roots.clear();
        collect();
        collector::set_enabled(false);
    }

    void collect() {
        collector::do_cycle();
        ASSERT_EQ(memory::verify_heap(), nullptr);
    }

    std::vector<Node> roots;
    Figures baseline;
};

// --- a random graph and its model ---------------------------------------------------

struct ModelCell {
    enum Kind { integer, block, string } kind;
    int32_t value = 0;  // integer value, or target block
    std::string text;   // text: the string's bytes; extra: the w3 node's bytes
    std::string extra;
};
using Model = std::vector<std::vector<ModelCell>>;  // cell 0 of block i is integer i

Model random_model(std::mt19937& rng, int blocks) {
    Model model(blocks);
    for (int i = 0; i < blocks; ++i) {
        model[i].push_back({ModelCell::integer, i, {}, {}});
        int n = int(rng() % 6);
        for (int k = 0; k < n; ++k) {
            switch (rng() % 3) {
                case 0: model[i].push_back({ModelCell::integer, int32_t(rng()), {}, {}}); break;
                case 1: model[i].push_back({ModelCell::block, int32_t(rng() % blocks), {}, {}}); break;
                default: {
                    std::string t(rng() % 40, 'a' + char(rng() % 26));
                    std::string x = rng() % 2 ? "extra" + std::to_string(i) : "";
                    model[i].push_back({ModelCell::string, 0, t, x});
                }
            }
        }
    }
    return model;
}

Node make_text(const std::string& t) {
    Node n = memory::alloc_bytes(uint32_t(t.size()));
    Series* s = buffer(n);
    std::memcpy(s->data(), t.data(), t.size());
    s->tail = uint32_t(t.size());
    return n;
}

// Builds the blocks (each rooted while the rest is made), then answers their
// nodes. Collections may run at any allocation.
// padding: garbage nodes made after each block, spreading the graph thin
// over many node frames.
std::vector<Node> build(const Model& model, std::vector<Node>& rooted, int padding = 0) {
    size_t first = rooted.size();
    for (const auto& b : model) {
        Node n = memory::alloc_cells(uint32_t(b.size()));
        rooted.push_back(n);
        for (int i = 0; i < padding; ++i) memory::alloc_cells(0);
    }
    for (size_t i = 0; i < model.size(); ++i) {
        for (size_t k = 0; k < model[i].size(); ++k) {
            const ModelCell& mc = model[i][k];
            Cell c;
            switch (mc.kind) {
                case ModelCell::integer: c = integer_cell(mc.value); break;
                case ModelCell::block: c = series_cell(Type::block, rooted[first + mc.value]); break;
                case ModelCell::string: {
                    Node t = make_text(mc.text);
                    collector::NodeRoot keep(t);
                    Node x = mc.extra.empty() ? 0 : make_text(mc.extra);
                    c = series_cell(Type::string, t, 0, x);
                }
            }
            Series* s = buffer(rooted[first + i]);  // re-read: the allocations above may move it
            s->cells()[k] = c;
            s->tail = uint32_t((k + 1) * sizeof(Cell));
        }
    }
    return {rooted.begin() + first, rooted.end()};
}

std::string text_of(Node n) {
    Series* s = buffer(n);
    return std::string(reinterpret_cast<const char*>(s->at_head()), s->tail - s->head);
}

// Walks the real graph from a block and compares it with the model; answers
// the model blocks reached, or reports the first difference.
::testing::AssertionResult matches(Node start, int32_t id, const Model& model, std::unordered_set<int>& seen) {
    std::vector<std::pair<Node, int32_t>> todo{{start, id}};
    while (!todo.empty()) {
        auto [n, i] = todo.back();
        todo.pop_back();
        if (!seen.insert(i).second) continue;
        Series* s = buffer(n);
        if (s->node != n) return ::testing::AssertionFailure() << "block " << i << " lost its back reference";
        if (s->length() != model[i].size()) return ::testing::AssertionFailure() << "block " << i << " length";
        for (size_t k = 0; k < model[i].size(); ++k) {
            const Cell& c = s->cells()[k];
            const ModelCell& mc = model[i][k];
            bool ok = true;
            switch (mc.kind) {
                case ModelCell::integer: ok = is(c, Type::integer) && int_of(c) == mc.value; break;
                case ModelCell::block:
                    ok = is(c, Type::block) && int_of(buffer(series_node(c))->cells()[0]) == mc.value;
                    if (ok) todo.push_back({series_node(c), mc.value});
                    break;
                case ModelCell::string:
                    ok = is(c, Type::string) && text_of(series_node(c)) == mc.text &&
                         (mc.extra.empty() ? c.w3 == 0 : text_of(c.w3) == mc.extra);
            }
            if (!ok) return ::testing::AssertionFailure() << "block " << i << " cell " << k << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

// Roots a few blocks of a random graph, collects, and checks the survivors.
void check_random_graphs(Collector* t, std::vector<Node>& roots, bool evacuate, uint32_t stress) {
    std::mt19937 rng(evacuate * 7 + stress);
    for (int round = 0; round < 4; ++round) {
        Model model = random_model(rng, 400);
        memory::set_gc_stress(stress);
        std::vector<Node> nodes = build(model, roots, evacuate ? 60 : 0);
        memory::set_gc_stress(0);
        roots.resize(roots.size() - nodes.size());
        std::vector<int> kept;
        for (int k = 0; k < 5; ++k) kept.push_back(int(rng() % model.size()));
        size_t first = roots.size();
        for (int i : kept) roots.push_back(nodes[i]);
        collector::set_node_evacuation(evacuate);
        uint32_t node_cycles = collector::node_cycles();
        // Evacuation waits for frames steady over six sweeps.
        for (int cycle = 0; cycle < (evacuate ? 9 : 3); ++cycle) {
            collector::do_cycle();
            ASSERT_EQ(memory::verify_heap(), nullptr);
            std::unordered_set<int> seen;
            for (size_t k = 0; k < kept.size(); ++k) ASSERT_TRUE(matches(roots[first + k], kept[k], model, seen));
        }
        if (evacuate) {
            EXPECT_GT(collector::node_cycles(), node_cycles);
        }
    }
    (void)t;
}

TEST_F(Collector, RandomGraphsSurvive) { check_random_graphs(this, roots, false, 0); }
TEST_F(Collector, RandomGraphsSurviveEvacuation) { check_random_graphs(this, roots, true, 0); }
TEST_F(Collector, RandomGraphsSurviveStress) { check_random_graphs(this, roots, false, 3); }

TEST_F(Collector, OnlyReachableSeriesSurviveAndNoSpaceIsLeft) {
    std::mt19937 rng(42);
    Model model = random_model(rng, 2000);
    std::vector<Node> nodes = build(model, roots);
    roots.clear();
    roots.push_back(nodes[0]);
    roots.push_back(nodes[1]);
    collect();
    std::unordered_set<int> seen;
    ASSERT_TRUE(matches(roots[0], 0, model, seen));
    ASSERT_TRUE(matches(roots[1], 1, model, seen));
    // Count what the model reaches: blocks, strings and their extras.
    uint64_t live_nodes = 0, live_bytes = 0;
    for (int i : seen) {
        ++live_nodes;
        live_bytes += sizeof(Series) + model[i].size() * sizeof(Cell);
        for (const ModelCell& mc : model[i]) {
            if (mc.kind != ModelCell::string) continue;
            ++live_nodes;
            live_bytes += sizeof(Series) + (mc.text.empty() ? 16 : (mc.text.size() + 15) / 16 * 16);
            if (!mc.extra.empty()) {
                ++live_nodes;
                live_bytes += sizeof(Series) + (mc.extra.size() + 15) / 16 * 16;
            }
        }
    }
    Figures after = figures();
    EXPECT_EQ(after.nodes, baseline.nodes + live_nodes);
    EXPECT_EQ(after.series_used, baseline.series_used + live_bytes);
}

TEST_F(Collector, GarbageOnlyAtTheEndLowersTheHeap) {
    Node live = memory::alloc_bytes(100);
    roots.push_back(live);
    // Room left below by earlier tests would draw the buffer down: settle it first.
    collect();
    Series* before = buffer(live);
    for (int i = 0; i < 50; ++i) memory::alloc_bytes(100);
    collect();
    EXPECT_EQ(buffer(live), before);
    EXPECT_EQ(figures().series_used, baseline.series_used + sizeof(Series) + 112);
}

// Dead nodes rejoin their frame's free chain in ascending order whatever
// order the sweep meets their buffers in, so allocation hands them back
// highest first within a frame, each exactly once.
TEST_F(Collector, FreedNodesComeBackInOrderOncePerNode) {
    std::vector<Node> made;
    for (int i = 0; i < 3000; ++i) made.push_back(memory::alloc_bytes(16));
    roots = made;
    // Move every third buffer behind the others: buffer order is no longer node order.
    for (size_t i = 0; i < made.size(); i += 3) memory::expand_series_copy(made[i], 256);
    std::mt19937 rng(7);
    std::unordered_set<Node> freed;
    roots.clear();
    for (Node n : made) {
        if (rng() % 2) roots.push_back(n);
        else freed.insert(n);
    }
    collect();
    std::vector<Node> back;
    for (int i = 0; i < 200000 && back.size() < freed.size(); ++i) {
        Node n = memory::alloc_bytes(16);
        roots.push_back(n);  // kept, so no node comes round twice
        if (freed.count(n)) back.push_back(n);
    }
    ASSERT_EQ(back.size(), freed.size());
    std::unordered_set<Node> once(back.begin(), back.end());
    EXPECT_EQ(once.size(), back.size());
    for (size_t i = 1; i < back.size(); ++i) {
        bool same_frame = (back[i] - 1) >> memory::node_handle_shift ==
                          (back[i - 1] - 1) >> memory::node_handle_shift;
        if (same_frame) EXPECT_LT(back[i], back[i - 1]) << "at " << i;
    }
}

TEST_F(Collector, CompactionFillsTheFrameBelow) {
    // Leave most of the lower frames empty, then keep buffers spread over a
    // higher frame: they move down, and the emptied frames are released.
    collector::set_enabled(false);  // let the frames fill up
    for (int i = 0; i < 120; ++i) memory::alloc_bytes(60000);
    for (int i = 0; i < 30; ++i) {
        Node n = memory::alloc_bytes(30000);
        std::memset(buffer(n)->data(), i, 30000);
        roots.push_back(n);
        memory::alloc_bytes(60000);
    }
    collector::set_enabled(true);
    uint64_t frames_before = figures().series_frames;
    collect();
    EXPECT_LT(figures().series_frames, frames_before);
    // The 900 KB kept were spread over two frames; now they share one.
    EXPECT_LE(figures().occupied_frames, baseline.occupied_frames + 1);
    for (int i = 0; i < 30; ++i) {
        Series* s = buffer(roots[i]);
        EXPECT_EQ(uint8_t(s->data()[0]), i);
        EXPECT_EQ(uint8_t(s->data()[29999]), i);
    }
}

std::vector<memory::FrameFigures> series_frames() {
    std::vector<memory::FrameFigures> v;
    memory::for_each_frame(
        [](int kind, const memory::FrameFigures& f, void* ctx) {
            if (kind == 1) static_cast<std::vector<memory::FrameFigures>*>(ctx)->push_back(f);
        },
        &v);
    return v;
}

// After a collection, a frame with room for the request but less than 52,428
// bytes free is passed over for a new frame; with more free it is used.
TEST_F(Collector, AFrameNearlyFullAfterCollectionIsNotReused) {
    constexpr uint32_t cap = 40000, span = cap + sizeof(Series);
    struct Case {
        uint32_t left;  // free bytes behind the last buffer before the request
        bool new_frame;
    };
    for (Case c : {Case{5008, true}, Case{20000, false}}) {
        roots.clear();
        collect();
        collector::set_enabled(false);
        // Fill every frame below the request size; F is the frame that appears.
        std::vector<memory::FrameFigures> before = series_frames(), now;
        while ((now = series_frames()).size() == before.size()) {
            roots.push_back(memory::alloc_bytes(cap));
            before = now;
        }
        size_t f = 0;
        while (f < before.size() && now[f].used == before[f].used && now[f].free == before[f].free) ++f;
        // Pinned, the buffers of the other frames cannot slide down into F.
        std::vector<std::unique_ptr<memory::Pin>> pins;
        for (size_t k = 0; k + 1 < roots.size(); ++k) pins.push_back(std::make_unique<memory::Pin>(roots[k]));
        auto free_of_f = [&] { return series_frames()[f].free; };
        while (free_of_f() >= 3 * uint64_t(span)) roots.push_back(memory::alloc_bytes(cap));
        memory::alloc_bytes(cap);  // dead
        roots.push_back(memory::alloc_bytes(uint32_t(free_of_f() - c.left - sizeof(Series))));
        ASSERT_EQ(free_of_f(), c.left);
        size_t frames = series_frames().size();
        collector::set_enabled(true);
        uint32_t cycles = collector::cycles();
        roots.push_back(memory::alloc_bytes(cap));
        EXPECT_EQ(collector::cycles(), cycles + 1);
        EXPECT_EQ(series_frames().size(), frames + (c.new_frame ? 1 : 0)) << c.left;
    }
}

TEST_F(Collector, RecycleOffMakesFramesInsteadOfCollecting) {
    collector::set_enabled(false);
    uint32_t cycles = collector::cycles();
    uint64_t frames = figures().series_frames;
    for (int i = 0; i < 100; ++i) memory::alloc_bytes(100000);
    memory::alloc_bytes(3000000);  // a big series too
    EXPECT_EQ(collector::cycles(), cycles);
    EXPECT_GT(figures().series_frames, frames);
    collector::set_enabled(true);
    memory::alloc_bytes(3000000);  // a big series collects first
    EXPECT_EQ(collector::cycles(), cycles + 1);
}

TEST_F(Collector, FullFramesCollectBeforeGrowing) {
    uint32_t cycles = collector::cycles();
    for (int i = 0; i < 200; ++i) memory::alloc_bytes(100000);
    EXPECT_GT(collector::cycles(), cycles);
    EXPECT_LE(figures().series_frames, baseline.series_frames + 2);
}

TEST_F(Collector, PinnedBuffersStayPutAndAlive) {
    memory::alloc_bytes(1000);  // garbage below
    Node pinned = make_text("pinned");
    memory::alloc_bytes(1000);  // garbage between
    Node after = make_text("after");
    roots.push_back(after);
    Series* at = buffer(pinned);
    {
        memory::Pin pin(pinned);
        EXPECT_EQ(at->pins, 1u);
        collect();
        EXPECT_EQ(buffer(pinned), at);
        EXPECT_EQ(text_of(pinned), "pinned");
        EXPECT_EQ(text_of(after), "after");
        EXPECT_LT(reinterpret_cast<std::byte*>(buffer(after)), reinterpret_cast<std::byte*>(at) + 2000);
        collect();  // the hole left below it stays walkable
        EXPECT_EQ(buffer(pinned), at);
    }
    EXPECT_EQ(at->pins, 0u);
    roots.push_back(pinned);
    collect();
    EXPECT_EQ(text_of(pinned), "pinned");
    EXPECT_NE(buffer(pinned), at);  // free to move once unpinned
}

// Live, dead and pinned buffers mixed over several frames, with evacuation on:
// contents survive, pinned buffers never move, the heap stays walkable.
TEST_F(Collector, MixedPinsAcrossCyclesAndEvacuation) {
    std::mt19937 rng(7);
    collector::set_node_evacuation(true);
    collector::set_enabled(false);  // spread the nodes over several frames first
    std::vector<std::unique_ptr<memory::Pin>> pins;
    std::vector<std::pair<size_t, Series*>> pinned_at;  // root index, address
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) {
        std::string t(1 + rng() % 3000, char('A' + i % 26));
        roots.push_back(make_text(t + std::to_string(i)));
        bool pin = rng() % 10 == 0;
        if (pin) pins.push_back(std::make_unique<memory::Pin>(roots.back()));
        for (int k = 0; k < 8; ++k) memory::alloc_bytes(rng() % 2000);  // garbage
        if (pin) pinned_at.push_back({roots.size() - 1, buffer(roots.back())});
        if (!pin && rng() % 3) {
            roots.pop_back();  // dead
            continue;
        }
        texts.push_back(t + std::to_string(i));
    }
    collector::set_enabled(true);
    uint32_t node_cycles = collector::node_cycles();
    for (int cycle = 0; cycle < 9; ++cycle) {
        collect();
        for (size_t k = 0; k < roots.size(); ++k) ASSERT_EQ(text_of(roots[k]), texts[k]) << k;
        for (auto [k, at] : pinned_at) ASSERT_EQ(buffer(roots[k]), at);
        for (auto& p : pins) ASSERT_EQ(buffer(p->node())->pins, 1u);
    }
    EXPECT_GT(collector::node_cycles(), node_cycles);
    pins.clear();
    collect();
    for (size_t k = 0; k < roots.size(); ++k) ASSERT_EQ(text_of(roots[k]), texts[k]) << k;
}

TEST_F(Collector, PinFollowsAnExpandedBuffer) {
    Node n = make_text("grow");
    roots.push_back(n);
    memory::Pin pin(n);
    memory::expand_series_copy(n, 4000);
    EXPECT_EQ(buffer(n)->pins, 1u);
    Series* at = buffer(n);
    memory::alloc_bytes(100);
    collect();
    EXPECT_EQ(buffer(n), at);
}

TEST_F(Collector, GuardsKeepLocalsAlive) {
    Cell block = series_cell(Type::block, memory::alloc_cells(2));
    collector::Root keep_block(block);
    {
        Node inner = make_text("inner");
        collector::NodeRoot keep_inner(inner);
        Series* s = buffer(series_node(block));
        s->cells()[0] = series_cell(Type::string, inner);
        s->tail = 16;
    }
    Node alone = make_text("alone");
    auto keep_alone = std::make_unique<collector::NodeRoot>(alone);
    Node other = make_text("other");
    auto keep_other = std::make_unique<collector::NodeRoot>(other);
    keep_alone.reset();  // guards may end in any order
    for (int i = 0; i < 3; ++i) memory::alloc_bytes(1000);
    collect();
    EXPECT_EQ(text_of(series_node(buffer(series_node(block))->cells()[0])), "inner");
    EXPECT_EQ(text_of(other), "other");
    EXPECT_EQ(figures().nodes, baseline.nodes + 3);  // block, inner, other
}

TEST_F(Collector, DeadBigAndCHeapSeriesAreFreed) {
    Node big = memory::alloc_bytes(3000000);
    Node heap = memory::alloc_big_series(100, 1);
    std::memcpy(buffer(heap)->data(), "heap", 4);
    buffer(heap)->tail = 4;
    roots.push_back(big);
    roots.push_back(heap);
    memory::alloc_bytes(3000000);     // dead big series
    memory::alloc_big_series(50, 2);  // dead C-heap series
    uint64_t total = memory::total_bytes();
    collect();
    EXPECT_LT(memory::total_bytes(), total);
    EXPECT_EQ(figures().big_frames, baseline.big_frames + 1);
    EXPECT_EQ(figures().nodes, baseline.nodes + 2);
    EXPECT_EQ(text_of(heap), "heap");
    EXPECT_TRUE(buffer(big)->flags & flag::big);
    roots.clear();
    collect();
    EXPECT_EQ(figures().big_frames, baseline.big_frames);
    EXPECT_EQ(figures().nodes, baseline.nodes);
}

// Freed frames are kept for reuse: a big buffer made where a dead one lay
// starts out zeroed as fresh pages do, and making and dropping many stays
// within what one live buffer plus the bounded cache takes.
TEST_F(Collector, BigFramesAreReusedZeroedAndStayBounded) {
    constexpr uint32_t size = 3000000;
    uint64_t before = memory::total_bytes();
    for (int i = 0; i < 50; ++i) {
        Node big = memory::alloc_bytes(size);
        Series* s = buffer(big);
        for (uint32_t k = 0; k < s->capacity; k += 4096)
            ASSERT_EQ(s->data()[k], std::byte{0}) << "round " << i << " byte " << k;
        std::memset(s->data(), 0xFF, s->capacity);
        collect();
    }
    collect();
    EXPECT_LE(memory::total_bytes(), before + 2 * size);
    EXPECT_EQ(figures().big_frames, baseline.big_frames);
}

TEST_F(Collector, MillionDeepChain) {
    constexpr int depth = 1000000;
    Node head = memory::alloc_cells(1);
    roots.push_back(head);
    Node prev = head;
    collector::NodeRoot keep(prev);
    for (int i = 1; i < depth; ++i) {
        Node next = memory::alloc_cells(1);
        Series* s = buffer(prev);
        s->cells()[0] = series_cell(Type::block, next);
        s->tail = 16;
        prev = next;
    }
    collect();
    int length = 1;
    for (Node n = roots[0]; buffer(n)->tail; n = series_node(buffer(n)->cells()[0])) ++length;
    EXPECT_EQ(length, depth);
}

// A type whose cells keep a byte series through w1, marked by a test marker.
TEST_F(Collector, InstalledCellMarkersAreUsed) {
    collector::CellMarker old = collector::cell_marker(Type::money);
    collector::set_cell_marker(Type::money, [](Cell& c) {
        if (c.w1) collector::mark_node(c.w1);
    });
    Node holder = memory::alloc_cells(1);
    roots.push_back(holder);
    Node text = make_text("money");
    Series* s = buffer(holder);
    s->cells()[0] = make_cell(Type::money, text);
    s->tail = 16;
    for (int i = 0; i < 3; ++i) memory::alloc_bytes(1000);
    collect();
    EXPECT_EQ(text_of(buffer(holder)->cells()[0].w1), "money");
    collector::set_cell_marker(Type::money, old);
}

// Counts the marks of one node; every other context goes to the marker that was
// installed before, which is put back at the end of the scope whatever happens.
class CountingContextMarker {
public:
    explicit CountingContextMarker(Node target) : previous_(collector::context_marker()) {
        target_ = target;
        calls_ = 0;
        outer_ = previous_;
        collector::set_context_marker([](Node n) {
            if (n == target_)
                ++calls_;
            else if (outer_)
                outer_(n);
        });
    }
    ~CountingContextMarker() { collector::set_context_marker(previous_); }
    CountingContextMarker(const CountingContextMarker&) = delete;
    CountingContextMarker& operator=(const CountingContextMarker&) = delete;
    int calls() const { return calls_; }

private:
    collector::ContextMarker previous_;
    static inline Node target_ = 0;
    static inline int calls_ = 0;
    static inline collector::ContextMarker outer_ = nullptr;
};

TEST_F(Collector, ContextMarkerRunsOncePerContext) {
    collector::ContextMarker before = collector::context_marker();
    Node ctx = memory::alloc_cells(1);
    Node block = memory::alloc_cells(3);
    roots.push_back(block);
    Series* s = buffer(block);
    for (int i = 0; i < 3; ++i) s->cells()[i] = make_cell(Type::word, ctx, 1, 0);
    s->tail = 48;
    {
        CountingContextMarker counting(ctx);
        collect();
        EXPECT_EQ(counting.calls(), 1);
        EXPECT_EQ(figures().nodes, baseline.nodes + 2);
    }
    EXPECT_EQ(collector::context_marker(), before);
}

// Many nodes in a few stable frames: sparse frames are evacuated after six
// steady sweeps, handles reached by marking are rewritten, the frames freed.
TEST_F(Collector, EvacuationMovesNodesOfSparseFrames) {
    collector::set_enabled(false);  // nothing but the block below is rooted
    std::vector<Node> all;
    for (int i = 0; i < 3 * int(memory::node_frame_nodes); ++i) all.push_back(memory::alloc_bytes(16));
    // A block referring to a few of the nodes, plus a rooted word and text.
    Node block = memory::alloc_cells(300);
    roots.push_back(block);
    for (int k = 0; k < 300; ++k) {
        Node t = all[size_t(k) * 97];
        std::memcpy(buffer(t)->data(), &k, sizeof k);
        buffer(t)->tail = sizeof k;
        Series* s = buffer(block);
        s->cells()[k] = series_cell(Type::binary, t);
        s->tail = uint32_t((k + 1) * 16);
    }
    Node loose = all.back();
    collector::NodeRoot keep(loose);
    std::memcpy(buffer(loose)->data(), "LOOSE", 5);
    all.clear();
    collector::set_enabled(true);
    collector::set_node_evacuation(true);
    uint64_t frames = figures().node_frames;
    uint32_t node_cycles = collector::node_cycles();
    for (int i = 0; i < 10; ++i) collect();
    EXPECT_GT(collector::node_cycles(), node_cycles);
    EXPECT_LT(figures().node_frames, frames);
    for (int k = 0; k < 300; ++k) {
        Node t = series_node(buffer(roots[0])->cells()[k]);
        int v;
        std::memcpy(&v, buffer(t)->data(), sizeof v);
        EXPECT_EQ(v, k);
        EXPECT_EQ(buffer(t)->node, t);
    }
    EXPECT_EQ(std::memcmp(buffer(loose)->data(), "LOOSE", 5), 0);
}

TEST_F(Collector, MarkerTableGrowsAndSkipsRemovedEntries) {
    static int calls;
    collector::Marker count = [] { ++calls; };
    for (int i = 0; i < 3000; ++i) collector::register_marker(count);
    calls = 0;
    collect();
    EXPECT_EQ(calls, 3000);
    for (int i = 0; i < 1000; ++i) collector::unregister_marker(count);
    calls = 0;
    collect();
    EXPECT_EQ(calls, 2000);
    for (int i = 0; i < 2000; ++i) collector::unregister_marker(count);
    calls = 0;
    collect();
    EXPECT_EQ(calls, 0);
    // The test's own root marker still runs.
    Node kept = make_text("kept");
    roots.push_back(kept);
    memory::alloc_bytes(100);
    collect();
    EXPECT_EQ(text_of(roots.back()), "kept");
}

TEST_F(Collector, StressModeCollectsEveryNthAllocation) {
    memory::set_gc_stress(5);
    uint32_t cycles = collector::cycles();
    for (int i = 0; i < 50; ++i) memory::alloc_bytes(10);
    EXPECT_EQ(collector::cycles(), cycles + 10);
    memory::set_gc_stress(0);
}

TEST_F(Collector, NoCycleWhileDisabledUnlessAsked) {
    collector::set_enabled(false);
    uint32_t cycles = collector::cycles();
    collector::collect();
    EXPECT_EQ(collector::cycles(), cycles);
    collector::do_cycle();
    EXPECT_EQ(collector::cycles(), cycles + 1);
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

#ifdef ZAN_DEBUG
Node holder, freed;

void mark_through_a_freed_node() {
    memory::init();
    collector::set_enabled(true);
    holder = memory::alloc_cells(1);
    freed = memory::alloc_bytes(16);
    collector::do_cycle();  // nothing rooted: both die
    holder = memory::alloc_cells(1);
    Node stale = freed == holder ? freed + 1 : freed;
    memory::buffer(holder)->cells()[0] = series_cell(Type::binary, stale);
    memory::buffer(holder)->tail = 16;
    collector::register_marker([] { collector::mark_series(holder); });
    collector::do_cycle();
}

// Debug builds stop at a reference to a freed node instead of corrupting the heap.
TEST(CollectorDeathTest, MarkingAFreedNodeStops) {
    EXPECT_DEATH(mark_through_a_freed_node(), "not in use");
}
#endif

}  // namespace
}  // namespace zan
