// Sorting blocks by records, the comparator hook, and the set operations.
#include "datatypes/block_sort.h"
#include "runtime/hashtable.h"
#include "series_support.h"

namespace zan {
namespace {

using blocktest::block_of;
using blocktest::block_of_cells;
using blocktest::ints;
using blocktest::raised;
using blocktest::Slots;
namespace id = errors::id;

class BlockSortTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { blocktest::start_runtime(); }
    const actions::Row& r = blocktest::row(Type::block);
};

struct SortCase {
    const char* what;
    std::vector<int> input;
    int skip, compare, part;  // 0: absent
    bool all, reverse, stable;
    std::vector<int> result;
};

TEST_F(BlockSortTest, SortsByRecords) {
    const SortCase cases[] = {
        {"plain", {3, 1, 2}, 0, 0, 0, false, false, false, {1, 2, 3}},
        {"reverse", {3, 1, 2}, 0, 0, 0, false, true, false, {3, 2, 1}},
        {"stable", {5, 4, 4, 1, 9, 0}, 0, 0, 0, false, false, true, {0, 1, 4, 4, 5, 9}},
        {"records of 2", {3, 30, 1, 10, 2, 20}, 2, 0, 0, false, false, false, {1, 10, 2, 20, 3, 30}},
        {"by the second field", {1, 30, 2, 10, 3, 20}, 2, 2, 0, false, false, false,
         {2, 10, 3, 20, 1, 30}},
        {"whole records", {1, 3, 1, 2, 0, 9}, 2, 0, 0, true, false, false, {0, 9, 1, 2, 1, 3}},
        {"first field only keeps equal keys in order when stable", {1, 3, 1, 2, 0, 9}, 2, 0, 0,
         false, false, true, {0, 9, 1, 3, 1, 2}},
        {"part", {4, 3, 2, 1}, 0, 0, 2, false, false, false, {3, 4, 2, 1}},
        {"nothing to sort", {}, 0, 0, 0, false, false, false, {}},
    };
    for (const SortCase& c : cases) {
        Slots s;
        block::make_at(s[0], 1);
        for (int v : c.input) block::rs_append(s[0], integer_cell(v));
        s[3] = s[0];
        s[1] = integer_cell(c.skip);
        s[2] = integer_cell(c.compare);
        Cell part = integer_cell(c.part);
        actions::SortRefs refs;
        refs.skip = c.skip ? &s[1] : nullptr;
        refs.compare = c.compare ? &s[2] : nullptr;
        refs.part = c.part ? &part : nullptr;
        refs.all = c.all;
        refs.reverse = c.reverse;
        refs.stable = c.stable;
        r.sort.fn(s, refs);
        EXPECT_EQ(ints(s[3]), c.result) << c.what;
        EXPECT_EQ(series_node(s[0]), series_node(s[3]));
    }
}

TEST_F(BlockSortTest, NegativePartSortsBeforeTheHead) {
    Slots s;
    s[3] = block_of({3, 2, 1, 0});
    s[0] = s[3];
    set_series_index(s[0], 3);
    Cell part = integer_cell(-2);
    actions::SortRefs refs;
    refs.part = &part;
    r.sort.fn(s, refs);
    EXPECT_EQ(ints(s[3]), (std::vector<int>{3, 1, 2, 0}));
}

TEST_F(BlockSortTest, MixedTypesGroupByTypeId) {
    Slots s;
    s[0] = block_of_cells({integer_cell(2), none_cell(), integer_cell(1), logic_cell(true),
                           none_cell()});
    s[3] = s[0];
    actions::SortRefs refs;
    refs.stable = true;
    r.sort.fn(s, refs);
    Cell* c = memory::buffer(series_node(s[3]))->cells();
    // none! (3) before logic! (4) before integer! (11)
    EXPECT_TRUE(is(c[0], Type::none));
    EXPECT_TRUE(is(c[1], Type::none));
    EXPECT_TRUE(is(c[2], Type::logic));
    EXPECT_EQ(int_of(c[3]), 1);
    EXPECT_EQ(int_of(c[4]), 2);
}

TEST_F(BlockSortTest, RefinementErrorsChangeNothing) {
    struct Case {
        const char* what;
        Cell skip, compare;
        bool all;
        errors::Id error;
    };
    Cell absent = unset_cell();
    const Case cases[] = {
        {"skip does not divide", integer_cell(4), absent, false, id::invalid_refine_arg},
        {"skip too large", integer_cell(12), absent, false, id::invalid_refine_arg},
        {"skip zero", integer_cell(0), absent, false, id::invalid_refine_arg},
        {"skip not an integer", none_cell(), absent, false, id::invalid_refine_arg},
        {"all without skip", absent, absent, true, id::bad_refines},
        {"field without skip", absent, integer_cell(1), false, id::bad_refines},
        {"field with all", integer_cell(2), integer_cell(1), true, id::bad_refines},
        {"field outside the record", integer_cell(2), integer_cell(3), false, id::out_of_range},
        {"field zero", integer_cell(2), integer_cell(0), false, id::out_of_range},
        {"comparator of another type", absent, none_cell(), false, id::invalid_refine_arg},
    };
    for (const Case& c : cases) {
        Slots s;
        s[3] = block_of({6, 5, 4, 3, 2, 1});
        s[0] = s[3];
        s[1] = c.skip;
        s[2] = c.compare;
        actions::SortRefs refs;
        refs.skip = is(c.skip, Type::unset) ? nullptr : &s[1];
        refs.compare = is(c.compare, Type::unset) ? nullptr : &s[2];
        refs.all = c.all;
        EXPECT_EQ(raised([&] { r.sort.fn(s, refs); }), c.error) << c.what;
        EXPECT_EQ(ints(s[3]), (std::vector<int>{6, 5, 4, 3, 2, 1})) << c.what;
    }
}

// A comparator standing in for a script function: "lesser?" on the first
// integer of each argument (an integer or a block of a record).
int first_int(const Cell& v) {
    if (is(v, Type::integer)) return int_of(v);
    return int_of(*block::rs_abs_at(v, int32_t(series_index(v))));
}
int comparator_calls = 0;
Cell lesser(const Cell&, const Cell& a, const Cell& b) {
    ++comparator_calls;
    // Allocates, as script code would.
    Cell garbage;
    block::make_at(garbage, 8);
    return logic_cell(first_int(a) < first_int(b));
}

TEST_F(BlockSortTest, FunctionComparator) {
    Slots s;
    s[2] = make_cell(Type::function);
    actions::SortRefs refs;
    refs.compare = &s[2];

    s[3] = block_of({2, 1});
    s[0] = s[3];
    block::set_compare_callback(nullptr);
    EXPECT_EQ(raised([&] { r.sort.fn(s, refs); }), id::not_done);

    block::set_compare_callback(lesser);
    struct Case {
        bool reverse, all;
        int skip;
        std::vector<int> input, result;
    };
    const Case cases[] = {
        {false, false, 0, {3, 1, 4, 1, 5, 9, 2, 6}, {1, 1, 2, 3, 4, 5, 6, 9}},
        {true, false, 0, {3, 1, 4, 1, 5}, {5, 4, 3, 1, 1}},
        {false, true, 2, {3, 0, 1, 7, 2, 5}, {1, 7, 2, 5, 3, 0}},
    };
    for (const Case& c : cases) {
        comparator_calls = 0;
        block::make_at(s[3], 1);
        for (int v : c.input) block::rs_append(s[3], integer_cell(v));
        s[0] = s[3];
        s[1] = integer_cell(c.skip);
        refs.reverse = c.reverse;
        refs.all = c.all;
        refs.skip = c.skip ? &s[1] : nullptr;
        memory::set_gc_stress(2);
        r.sort.fn(s, refs);
        memory::set_gc_stress(0);
        EXPECT_EQ(ints(s[3]), c.result);
        EXPECT_GT(comparator_calls, 0);
    }
    block::set_compare_callback(nullptr);
}

TEST_F(BlockSortTest, RecordComparison) {
    Cell a[2] = {integer_cell(1), integer_cell(5)};
    Cell b[2] = {integer_cell(1), integer_cell(3)};
    EXPECT_EQ(block::sort_compare(a, b, 7, 0), 0);
    EXPECT_GT(block::sort_compare(a, b, 7, 1 << block::sort_shift), 0);
    EXPECT_GT(block::sort_compare(a, b, 7, block::sort_all | (2 << block::sort_shift)), 0);
    EXPECT_LT(block::sort_compare(a, b, 7,
                                  block::sort_all | block::sort_reverse | (2 << block::sort_shift)),
              0);
}

TEST_F(BlockSortTest, UniqueOfALargeBlockKeepsFirstSeenOrder) {
    Slots s;
    block::make_at(s[0], 50000);
    for (int i = 0; i < 50000; ++i) block::rs_append(s[0], integer_cell((i * 7) % 1000));
    block::do_set_op(s, false, nullptr, block::SetOp::unique);
    std::vector<int> v = ints(s[0]);
    ASSERT_EQ(v.size(), 1000u);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(v[i], (i * 7) % 1000);
}

TEST_F(BlockSortTest, AHashOperandGivesAnIndexedHash) {
    Slots s;
    s[0] = block_of({1, 2, 3});
    s[1] = block_of({2, 4});
    Node t = hashtable::make(2, &s[1], hashtable::kind_hash);
    set_type(s[1], Type::hash);
    set_series_extra(s[1], t);
    block::do_set_op(s, false, nullptr, block::SetOp::union_);
    ASSERT_TRUE(is(s[0], Type::hash));
    EXPECT_EQ(ints(s[0]), (std::vector<int>{1, 2, 3, 4}));
    Node index = Node(series_extra(s[0]));
    EXPECT_STREQ(hashtable::check(index), "");
    EXPECT_EQ(hashtable::get(index, integer_cell(4)), 3);
}

TEST_F(BlockSortTest, SetOperations) {
    struct Case {
        block::SetOp op;
        std::vector<int> a, b;
        int skip;
        std::vector<int> result;
    };
    using block::SetOp;
    const Case cases[] = {
        {SetOp::union_, {1, 2, 3, 2}, {3, 4, 1, 5}, 0, {1, 2, 3, 4, 5}},
        {SetOp::intersect, {1, 2, 3, 2}, {3, 4, 2}, 0, {2, 3}},
        {SetOp::exclude, {1, 2, 3, 2, 4}, {3, 4}, 0, {1, 2}},
        {SetOp::difference, {1, 2, 3}, {3, 4, 4}, 0, {1, 2, 4}},
        {SetOp::unique, {1, 2, 1, 3, 2}, {}, 0, {1, 2, 3}},
        {SetOp::unique, {1, 2, 1, 2, 1, 3, 2, 1}, {}, 2, {1, 2, 1, 3, 2, 1}},
        {SetOp::union_, {1, 2}, {1, 2, 2, 1}, 2, {1, 2, 2, 1}},
        {SetOp::intersect, {}, {1}, 0, {}},
    };
    for (const Case& c : cases) {
        Slots s;
        s[0] = block_of_cells({});
        for (int v : c.a) block::rs_append(s[0], integer_cell(v));
        s[1] = block_of_cells({});
        for (int v : c.b) block::rs_append(s[1], integer_cell(v));
        s[2] = integer_cell(c.skip);
        block::do_set_op(s, false, c.skip ? &s[2] : nullptr, c.op);
        EXPECT_TRUE(is(s[0], Type::block));
        EXPECT_EQ(series_index(s[0]), 0u);
        EXPECT_EQ(ints(s[0]), c.result) << int(c.op);
    }
    Slots s;
    s[0] = block_of({1});
    s[2] = integer_cell(0);
    EXPECT_EQ(raised([&] { block::do_set_op(s, false, &s[2], block::SetOp::unique); }),
              id::invalid_refine_arg);
}

}  // namespace
}  // namespace zan
