// Series ownership: records, deep walks with their cycle guard, the
// deep-change hook, and weak records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

using namespace zan;
namespace ht = zan::hashtable;

namespace {

Cell block_of(std::initializer_list<Cell> items) {
    Node n = memory::alloc_cells(uint32_t(items.size()) + 4);
    memory::Series* s = memory::buffer(n);
    uint32_t i = 0;
    for (const Cell& c : items) s->cells()[i++] = c;
    s->tail = s->head + i * 16;
    return series_cell(Type::block, n);
}

void append(const Cell& block, const Cell& c) {
    memory::Series* s = memory::buffer(series_node(block));
    ASSERT_LE(s->tail + 16, s->capacity);
    s->cells()[s->length()] = c;
    s->tail += 16;
}

// An object laid out as the context and object cells lay it down: the context
// (context cell, owner value), its words block behind a word table, its values.
struct Object {
    Cell value;
    Node ctx;
    Object(std::initializer_list<const char*> names, bool with_hook = true) {
        uint32_t n = uint32_t(names.size());
        ctx = memory::alloc_cells(2);
        memory::buffer(ctx)->tail = memory::buffer(ctx)->head + 32;
        Node words = memory::alloc_cells(n + 1);
        Node values = memory::alloc_cells(n + 1);
        uint32_t i = 0;
        for (const char* name : names) {
            memory::buffer(words)->cells()[i] = make_cell(Type::word, ctx, symbol::make(name), i);
            memory::buffer(values)->cells()[i] = none_cell();
            ++i;
        }
        memory::buffer(words)->tail = memory::buffer(words)->head + n * 16;
        memory::buffer(values)->tail = memory::buffer(values)->head + n * 16;
        Cell wv = series_cell(Type::block, words);
        Node table = ht::make(n, &wv, ht::kind_symbols);
        Node hooks = with_hook ? memory::alloc_cells(2) : 0;
        value = make_cell(Type::object, ctx, 1000001, hooks);
        Cell* c = memory::buffer(ctx)->cells();
        c[0] = make_cell(Type::context, table, values);
        c[0].header |= 2u << header::context_kind_shift;
        c[1] = value;
    }
    Cell& field(uint32_t i) { return memory::buffer(memory::buffer(ctx)->cells()[0].w2)->cells()[i]; }
    Cell word(uint32_t i) {
        Node words = ht::indexed_series(memory::buffer(ctx)->cells()[0].w1);
        return memory::buffer(words)->cells()[i];
    }
    void bind_fields() {
        Node words = ht::indexed_series(memory::buffer(ctx)->cells()[0].w1);
        for (uint32_t i = 0; i < memory::buffer(words)->length(); ++i) {
            Cell w = word(i);
            ownership::bind(field(i), value, w);
        }
    }
};

bool owned(const Cell& series) {
    return (memory::buffer(series_node(series))->flags & memory::flag::owned) != 0;
}

struct Fired {
    Cell owner, word, series, action;
    int32_t index, count, part;
};
std::vector<Fired> fired;
void record_fire(const Cell& owner, const Cell& word, const Cell& series, const Cell& action,
                 const Cell&, int32_t index, int32_t count, int32_t part) {
    fired.push_back({owner, word, series, action, index, count, part});
}

class Ownership : public ::testing::Test {
protected:
    void SetUp() override {
        ownership::init();
        ownership::set_deep_change_hook(record_fire);
        fired.clear();
    }
    void TearDown() override { ownership::set_deep_change_hook(nullptr); }
};

}  // namespace

TEST_F(Ownership, BoundFieldFiresDeepChange) {
    Object o({"items", "name"});
    Cell inner = block_of({integer_cell(1)});
    o.field(0) = block_of({inner, integer_cell(2)});
    o.field(1) = block_of({});
    o.bind_fields();

    Cell items = o.field(0);
    EXPECT_TRUE(owned(items));
    EXPECT_TRUE(owned(inner));
    EXPECT_TRUE(memory::buffer(o.ctx)->cells()[0].header & ownership::owned_cell_flag);
    Cell* owner = ownership::get_owner(series_node(inner));
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(owner->w1, o.value.w1);
    // Nested series report with the field word that reached them.
    Cell* word = ownership::get_owner_word(series_node(inner));
    ASSERT_NE(word, nullptr);
    EXPECT_EQ(word_symbol(*word), symbol::make("items"));
    Cell loose = block_of({});
    EXPECT_EQ(ownership::get_owner_word(series_node(loose)), nullptr);

    Cell action = make_cell(Type::word, 0, symbol::make("appended"));
    EXPECT_TRUE(ownership::check(inner, action, 1, 1));
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].owner.w1, o.value.w1);
    EXPECT_EQ(word_symbol(fired[0].word), symbol::make("items"));
    EXPECT_EQ(series_node(fired[0].series), series_node(inner));
    EXPECT_EQ(word_symbol(fired[0].action), symbol::make("appended"));
    EXPECT_EQ(fired[0].index, 1);
    EXPECT_EQ(fired[0].count, 1);
    EXPECT_EQ(fired[0].part, -1);

    // No record, or an owner without change hooks: nothing fires.
    EXPECT_FALSE(ownership::check(block_of({}), action, 0, 0));
    Object quiet({"b"}, false);
    quiet.field(0) = block_of({});
    quiet.bind_fields();
    EXPECT_FALSE(ownership::check(quiet.field(0), action, 0, 0));
    EXPECT_EQ(fired.size(), 1u);
}

TEST_F(Ownership, CyclesTerminateAndOwnOnce) {
    Object o({"loop"});
    Cell loop = block_of({integer_cell(1)});
    append(loop, loop);
    Cell pair = block_of({loop});
    append(loop, pair);
    o.field(0) = loop;
    uint32_t before = ht::count(ownership::table());
    o.bind_fields();
    EXPECT_EQ(ht::count(ownership::table()), before + 2);  // loop and pair, once each
    EXPECT_TRUE(owned(pair));
}

TEST_F(Ownership, FieldHoldingTheOwnerIsSkipped) {
    Object parent({"b", "child"});
    Object child({"up", "x"});
    parent.field(0) = block_of({});
    child.field(0) = parent.value;
    child.field(1) = block_of({});
    Cell w = parent.word(1);
    ownership::bind(child.value, parent.value, w);
    Cell* x_owner = ownership::get_owner(series_node(child.field(1)));
    ASSERT_NE(x_owner, nullptr);
    EXPECT_EQ(x_owner->w1, parent.value.w1);
    EXPECT_EQ(word_symbol(*ownership::get_owner_word(series_node(child.field(1)))),
              symbol::make("x"));
    EXPECT_EQ(ownership::get_owner(series_node(parent.field(0))), nullptr);
}

TEST_F(Ownership, AlreadyOwnedBitsetStaysBlockStillRecurses) {
    Object first({"f"}), second({"s"});
    Node bits = memory::alloc_bytes(4);
    Cell bitset = series_cell(Type::bitset, bits);
    first.field(0) = bitset;
    first.bind_fields();
    second.field(0) = bitset;
    second.bind_fields();
    EXPECT_EQ(ownership::get_owner(bits)->w1, first.value.w1);

    Cell shared = block_of({});
    first.field(0) = shared;
    first.bind_fields();
    Cell added = block_of({});
    append(shared, added);
    second.field(0) = shared;
    second.bind_fields();
    EXPECT_EQ(ownership::get_owner(series_node(shared))->w1, first.value.w1);
    ASSERT_NE(ownership::get_owner(series_node(added)), nullptr);
    EXPECT_EQ(ownership::get_owner(series_node(added))->w1, second.value.w1);
}

TEST_F(Ownership, UnbindAndRanges) {
    Object o({"v"});
    Cell a = block_of({}), b = block_of({}), text = series_cell(Type::string, memory::alloc_bytes(4));
    Cell holder = block_of({a, b, text});
    o.field(0) = holder;
    o.bind_fields();
    EXPECT_TRUE(owned(a) && owned(b) && owned(text));

    ownership::unset_owner_range(holder, 1, 5);  // b and the text; cut at the tail
    EXPECT_TRUE(owned(a));
    EXPECT_FALSE(owned(b));
    EXPECT_FALSE(owned(text));
    EXPECT_EQ(ownership::get_owner(series_node(b)), nullptr);
    EXPECT_EQ(ownership::get_owner(series_node(text)), nullptr);

    ownership::unbind(holder);
    EXPECT_FALSE(owned(holder));
    EXPECT_FALSE(owned(a));
    EXPECT_EQ(ownership::get_owner(series_node(a)), nullptr);
    EXPECT_FALSE(ownership::check(a, none_cell(), 0, 0));
    EXPECT_STREQ(ht::check(ownership::table()), "");
}

TEST_F(Ownership, RecordsAreWeak) {
    // What a collection leaves: marks on the live buffers only, then the sweep.
    Object o({"keep", "lose"}), gone({"g"});
    o.field(0) = block_of({});
    o.field(1) = block_of({});
    gone.field(0) = block_of({});
    o.bind_fields();
    gone.bind_fields();
    Node kept = series_node(o.field(0)), lost = series_node(o.field(1));
    Node orphan = series_node(gone.field(0));

    std::vector<Node> live = {kept, o.ctx, orphan};  // `lose` and the `gone` object died
    for (Node n : live) memory::buffer(n)->flags |= memory::flag::mark;
    ownership::sweep();
    for (Node n : live) memory::buffer(n)->flags &= ~memory::flag::mark;

    EXPECT_NE(ownership::get_owner(kept), nullptr);
    EXPECT_EQ(ownership::get_owner(lost), nullptr);
    // The series outlived its owner: no record, and free to be owned again.
    EXPECT_EQ(ownership::get_owner(orphan), nullptr);
    EXPECT_FALSE(ownership::check(gone.field(0), none_cell(), 0, 0));
    EXPECT_FALSE(memory::buffer(orphan)->flags & memory::flag::owned);
    Object next({"n"});
    next.field(0) = series_cell(Type::block, orphan);
    next.bind_fields();
    ASSERT_NE(ownership::get_owner(orphan), nullptr);
    EXPECT_EQ(ownership::get_owner(orphan)->w1, next.value.w1);
    EXPECT_STREQ(ht::check(ownership::table()), "");
}

TEST_F(Ownership, CollectionDropsRecordsOfDeadKeysAndOwners) {
    Cell kept = block_of({integer_cell(1)});
    collector::Root keep(kept);
    uint32_t before = ht::count(ownership::table());
    {
        Object o({"a", "b"});
        o.field(0) = kept;
        o.field(1) = block_of({});
        o.bind_fields();
        ASSERT_EQ(ht::count(ownership::table()), before + 2);
        EXPECT_TRUE(owned(kept));
    }
    // The object and its second block are unreachable; the records hold nothing.
    collector::do_cycle();
    EXPECT_LE(ht::count(ownership::table()), before);
    EXPECT_EQ(ownership::get_owner(series_node(kept)), nullptr);
    EXPECT_FALSE(owned(kept));
    EXPECT_FALSE(ownership::check(kept, none_cell(), 0, 0));
    EXPECT_STREQ(ht::check(ownership::table()), "");

    // A live owner keeps its records through a collection.
    Object o({"c"});
    o.field(0) = kept;
    o.bind_fields();
    Cell owner = o.value;
    // object! marks its context through its own cell marker; here the context
    // node is rooted directly.
    collector::NodeRoot keep_owner(o.ctx, collector::NodeRoot::As::buffer);
    collector::do_cycle();
    ASSERT_NE(ownership::get_owner(series_node(kept)), nullptr);
    EXPECT_EQ(ownership::get_owner(series_node(kept))->w1, owner.w1);
    EXPECT_TRUE(ownership::check(kept, none_cell(), 0, 0));
}

TEST_F(Ownership, RecordsAndIdentityKeysFollowEvacuatedNodes) {
    // Three node frames of garbage around a few live series: the sparse frames
    // are evacuated after six steady sweeps and the live nodes get new handles.
    collector::set_enabled(false);
    std::vector<Node> garbage;
    for (uint32_t i = 0; i < 3 * memory::node_frame_nodes; ++i) garbage.push_back(memory::alloc_bytes(16));
    Node holder_node = memory::alloc_cells(48);
    memory::buffer(holder_node)->tail = memory::buffer(holder_node)->head;
    Cell holder = series_cell(Type::block, holder_node);
    collector::Root keep_holder(holder);
    for (int k = 0; k < 40; ++k) append(holder, series_cell(Type::block, garbage[size_t(k) * 613]));
    garbage.clear();
    Object o({"items"});
    o.field(0) = holder;
    o.bind_fields();
    Node ctx = o.ctx;
    collector::NodeRoot keep_ctx(ctx, collector::NodeRoot::As::buffer);
    Cell hv = holder;
    Node table = ht::make(0, &hv, ht::kind_hash);
    ht::TableRoot keep_table(table);
    uint32_t name = symbol::make("evacuated-name");

    collector::set_enabled(true);
    collector::set_node_evacuation(true);
    uint32_t node_cycles = collector::node_cycles();
    for (int i = 0; i < 10; ++i) collector::collect();
    collector::set_node_evacuation(false);
    collector::set_enabled(false);
    ASSERT_GT(collector::node_cycles(), node_cycles);

    EXPECT_EQ(symbol::name(name), "evacuated-name");
    for (int k = 0; k < 40; ++k) {
        Cell inner = memory::buffer(series_node(holder))->cells()[k];
        EXPECT_EQ(ht::get(table, inner), k);
        Cell* owner = ownership::get_owner(series_node(inner));
        ASSERT_NE(owner, nullptr) << k;
        EXPECT_EQ(owner->w1, ctx);
    }
    EXPECT_TRUE(ownership::check(memory::buffer(series_node(holder))->cells()[3], none_cell(), 0, 1));
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].owner.w1, ctx);
    EXPECT_STREQ(ht::check(ownership::table()), "");
    EXPECT_STREQ(ht::check(table), "");
}

TEST_F(Ownership, ManyRecordsThroughGrowthUnderStress) {
    Node holder_node = memory::alloc_cells(2100);
    memory::buffer(holder_node)->tail = memory::buffer(holder_node)->head;
    Cell holder = series_cell(Type::block, holder_node);
    collector::Root keep_holder(holder);
    for (int i = 0; i < 2000; ++i) append(holder, block_of({integer_cell(i)}));
    // An owner whose context is rooted directly (its cell marker is object!'s).
    Node ctx = memory::alloc_cells(2);
    collector::NodeRoot keep_ctx(ctx, collector::NodeRoot::As::buffer);
    Node hooks = memory::alloc_cells(2);
    collector::NodeRoot keep_hooks(hooks, collector::NodeRoot::As::buffer);
    Cell owner = make_cell(Type::object, ctx, 7, hooks);
    Cell word = make_cell(Type::word, 0, symbol::make("all"));
    // Records other tests of the process left (a booted runtime owns series too).
    uint32_t before = ht::count(ownership::table());

    collector::set_enabled(true);
    memory::set_gc_stress(3);
    ownership::set_owner_deep(holder, owner, word);
    memory::set_gc_stress(0);
    EXPECT_GT(ht::header(ownership::table()).buckets, 2048u);
    for (int i = 0; i < 2000; i += 2) memory::buffer(holder_node)->cells()[i] = none_cell();
    collector::do_cycle();
    collector::set_enabled(false);

    ASSERT_STREQ(ht::check(ownership::table()), "");
    for (int i = 1; i < 2000; i += 2) {
        Cell inner = memory::buffer(holder_node)->cells()[i];
        Cell* o = ownership::get_owner(series_node(inner));
        ASSERT_NE(o, nullptr) << i;
        EXPECT_EQ(o->w1, ctx);
        EXPECT_EQ(int_of(memory::buffer(series_node(inner))->cells()[0]), i);
    }
    EXPECT_TRUE(ownership::check(memory::buffer(holder_node)->cells()[1], none_cell(), 0, 1));
    // The holder and the 1,000 blocks left.
    EXPECT_LE(ht::count(ownership::table()), before + 1001u + 8u);
}
