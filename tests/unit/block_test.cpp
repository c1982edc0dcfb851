// block!: building blocks, the block actions through block!'s row, their
// errors, the root block and deep copies, some under forced collections.
#include <algorithm>
#include <cstdlib>

#include "datatypes/paren.h"
#include "datatypes/symbol.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "series_support.h"

namespace zan {
namespace {

using blocktest::block_of;
using blocktest::block_of_cells;
using blocktest::ints;
using blocktest::molded;
using blocktest::raised;
using blocktest::Slots;
namespace id = errors::id;

class BlockTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { blocktest::start_runtime(); }
    const actions::Row& r = blocktest::row(Type::block);
};

Cell at_index(Cell b, int32_t i) {
    set_series_index(b, uint32_t(i));
    return b;
}

TEST_F(BlockTest, MakeAtAndAppendCell) {
    Slots s;
    block::make_at(s[0], 0);
    EXPECT_TRUE(is(s[0], Type::block));
    EXPECT_EQ(block::rs_length(s[0]), 0);
    for (int i = 0; i < 100; ++i) *block::append_cell(s[0]) = integer_cell(i);
    EXPECT_EQ(block::rs_length(s[0]), 100);
    EXPECT_EQ(int_of(*block::rs_abs_at(s[0], 99)), 99);
    block::rs_truncate(s[0], 10);
    EXPECT_EQ(block::rs_length(s[0]), 10);
}

TEST_F(BlockTest, AppendAndInsert) {
    struct Case {
        bool append, only;
        int part, dup;  // 0: absent
        std::vector<int> all;
        uint32_t index;  // of the result
    };
    const Case cases[] = {
        {true, false, 0, 0, {1, 2, 3, 4}, 0},
        {true, false, 1, 0, {1, 2, 3}, 0},
        {true, false, 0, 2, {1, 2, 3, 4, 3, 4}, 0},
        {false, false, 0, 0, {3, 4, 1, 2}, 2},
        {false, false, 0, 3, {3, 4, 3, 4, 3, 4, 1, 2}, 6},
        {true, false, 0, -1, {1, 2}, 0},
    };
    for (const Case& c : cases) {
        Slots s;
        s[3] = block_of({1, 2});
        s[0] = s[3];
        s[1] = block_of({3, 4});
        s[2] = integer_cell(c.part);
        Cell dup = integer_cell(c.dup);
        auto fn = c.append ? r.append.fn : r.insert.fn;
        fn(s, c.part ? &s[2] : nullptr, c.only, c.dup ? &dup : nullptr);
        EXPECT_EQ(ints(s[3]), c.all) << c.append << c.part << c.dup;
        EXPECT_EQ(series_index(s[0]), c.index);
    }
}

TEST_F(BlockTest, AppendOnlyAddsTheBlockAsOneValue) {
    Slots s;
    s[3] = block_of({1});
    s[0] = s[3];
    s[1] = block_of({2, 3});
    r.append.fn(s, nullptr, true, nullptr);
    EXPECT_EQ(molded(s[3]), "[1 [2 3]]");
}

TEST_F(BlockTest, AppendPartZeroOfAValueAddsNothing) {
    Slots s;
    s[3] = block_of({1});
    s[0] = s[3];
    s[1] = integer_cell(7);
    s[2] = integer_cell(0);
    r.append.fn(s, &s[2], false, nullptr);
    r.insert.fn(s, &s[2], false, nullptr);
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1}));
}

TEST_F(BlockTest, AppendDupOfAValue) {
    Slots s;
    block::make_at(s[0], 1);
    s[3] = s[0];
    s[1] = integer_cell(7);
    Cell dup = integer_cell(3);
    r.append.fn(s, nullptr, false, &dup);
    EXPECT_EQ(ints(s[3]), (std::vector<int>{7, 7, 7}));
}

TEST_F(BlockTest, AppendDupOverflowRaisesNoMemory) {
    Slots s;
    s[3] = block_of({1});
    s[0] = s[3];
    s[1] = block_of({1, 2, 3, 4});
    Cell dup = integer_cell(0x7FFFFFFF);
    EXPECT_EQ(raised([&] { r.append.fn(s, nullptr, false, &dup); }), id::no_memory);
    dup = integer_cell(0x10000000);  // 4 cells x 2^28 x 16 bytes wraps 32 bits exactly
    EXPECT_EQ(raised([&] { r.insert.fn(s, nullptr, false, &dup); }), id::no_memory);
    dup = integer_cell(0x20000000);
    EXPECT_EQ(raised([&] { r.change.fn(s, nullptr, false, &dup); }), id::no_memory);
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1}));
}

TEST_F(BlockTest, MakeWithAHugeCapacityRaisesNoMemory) {
    Slots s;
    s[0] = datatype_cell(Type::block);
    s[1] = integer_cell(0x7FFFFFFF);
    EXPECT_EQ(raised([&] { r.make.fn(s, Type::block); }), id::no_memory);
}

TEST_F(BlockTest, AppendABlockToItself) {
    Slots s;
    s[3] = block_of({1, 2, 3});
    s[0] = s[3];
    s[1] = at_index(s[3], 1);
    r.insert.fn(s, nullptr, false, nullptr);
    EXPECT_EQ(ints(s[3]), (std::vector<int>{2, 3, 1, 2, 3}));
}

TEST_F(BlockTest, Change) {
    struct Case {
        int32_t start;
        bool only;
        int part, dup;
        std::vector<int> all;
        uint32_t index;
    };
    const Case cases[] = {
        {0, false, 0, 0, {8, 9, 3, 4, 5}, 2},
        {4, false, 0, 0, {1, 2, 3, 4, 8, 9}, 6},
        {1, false, 3, 0, {1, 8, 9, 5}, 3},
        {1, false, 1, 0, {1, 8, 9, 3, 4, 5}, 3},
        {0, false, 0, 2, {8, 9, 8, 9, 5}, 4},
        {0, false, 5, 0, {8, 9}, 2},
    };
    for (const Case& c : cases) {
        Slots s;
        s[3] = block_of({1, 2, 3, 4, 5});
        s[0] = at_index(s[3], c.start);
        s[1] = block_of({8, 9});
        s[2] = integer_cell(c.part);
        Cell dup = integer_cell(c.dup);
        r.change.fn(s, c.part ? &s[2] : nullptr, c.only, c.dup ? &dup : nullptr);
        EXPECT_EQ(ints(s[3]), c.all) << c.start << " " << c.part << " " << c.dup;
        EXPECT_EQ(series_index(s[0]), c.index) << c.start << " " << c.part;
    }
}

TEST_F(BlockTest, FindAndSelect) {
    Cell n = none_cell(), t = logic_cell(true);
    struct Case {
        const char* what;
        actions::FindRefs refs;
        Cell value;
        int32_t found;  // index, -1 for none
    };
    Cell skip2 = integer_cell(2), part2 = integer_cell(2);
    actions::FindRefs plain, last, only, skip, match, tail, part, reverse;
    last.last = true;
    only.only = true;
    skip.skip = &skip2;
    match.match = true;
    tail.tail = true;
    part.part = &part2;
    reverse.reverse = true;
    // block: [none 1 true 2 1 datatype!-integer]
    const Case cases[] = {
        {"value", plain, integer_cell(1), 1},
        {"last", last, integer_cell(1), 4},
        {"datatype", plain, datatype_cell(Type::integer), 1},
        {"datatype only", only, datatype_cell(Type::integer), 5},
        {"skip 2 misses odd cells", skip, integer_cell(1), 4},
        {"skip 2 finds even cells", skip, integer_cell(2), -1},
        {"match head", match, none_cell(), 0},
        {"match fails", match, integer_cell(1), -1},
        {"tail", tail, integer_cell(1), 2},
        {"part", part, integer_cell(2), -1},
        {"absent", plain, integer_cell(5), -1},
        {"reverse from the head", reverse, integer_cell(1), -1},
    };
    for (const Case& c : cases) {
        Slots s;
        s[0] = block_of_cells({n, integer_cell(1), t, integer_cell(2), integer_cell(1),
                               datatype_cell(Type::integer)});
        s[1] = c.value;
        r.find.fn(s, c.refs);
        if (c.found < 0)
            EXPECT_TRUE(is(s[0], Type::none)) << c.what;
        else
            EXPECT_EQ(int32_t(series_index(s[0])), c.found) << c.what;
    }
}

TEST_F(BlockTest, FindARun) {
    Slots s;
    s[0] = block_of({1, 2, 3, 2, 3, 4});
    s[1] = block_of({2, 3, 4});
    r.find.fn(s, {});
    EXPECT_EQ(series_index(s[0]), 3u);
    s[0] = block_of({1, 2, 3, 2, 3});
    s[1] = block_of({2, 3});
    actions::FindRefs last;
    last.last = true;
    r.find.fn(s, last);
    EXPECT_EQ(series_index(s[0]), 3u);
}

TEST_F(BlockTest, FindLastStaysFromTheHeadOn) {
    actions::FindRefs last;
    last.last = true;
    Slots s;
    s[0] = block_of({2, 1, 1, 3});
    set_series_index(s[0], 1);
    s[1] = integer_cell(2);
    r.find.fn(s, last);
    EXPECT_TRUE(is(s[0], Type::none));
    s[0] = block_of({2, 1, 1, 3});
    set_series_index(s[0], 1);
    s[1] = integer_cell(1);
    r.find.fn(s, last);
    EXPECT_EQ(series_index(s[0]), 2u);
}

TEST_F(BlockTest, FindErrors) {
    Slots s;
    s[0] = block_of({1, 2});
    s[1] = integer_cell(1);
    Cell zero = integer_cell(0), other = block_of({1});
    actions::FindRefs a, b;
    a.skip = &zero;
    b.part = &other;
    EXPECT_EQ(raised([&] { r.find.fn(s, a); }), id::out_of_range);
    EXPECT_EQ(raised([&] { r.find.fn(s, b); }), id::invalid_refine_arg);
}

TEST_F(BlockTest, Select) {
    Slots s;
    s[0] = block_of({1, 2, 3});
    s[1] = integer_cell(2);
    r.select.fn(s, {});
    EXPECT_EQ(int_of(s[0]), 3);
    s[0] = block_of({1, 2, 3});
    s[1] = integer_cell(3);
    r.select.fn(s, {});
    EXPECT_TRUE(is(s[0], Type::none));
    s[3] = block_of({1, 2, 3});
    EXPECT_EQ(int_of(block::rs_select(s[3], integer_cell(1))), 2);
}

Cell word_of(Type t, const char* name) {
    return make_cell(t, 0, symbol::make(name), uint32_t(-1));
}

TEST_F(BlockTest, SelectWord) {
    Slots s;
    s[0] = block_of_cells({word_of(Type::set_word, "Alpha"), integer_cell(1),
                           word_of(Type::refinement, "beta"), integer_cell(2),
                           word_of(Type::lit_word, "beta"), integer_cell(3),
                           word_of(Type::word, "last")});
    struct Case {
        const char* name;
        bool case_;
        int expect;  // 0: none
    };
    const Case cases[] = {
        {"alpha", false, 1}, {"ALPHA", false, 1}, {"alpha", true, 0}, {"Alpha", true, 1},
        {"beta", false, 3},  // a refinement is not among the words looked at
        {"last", false, 0}, {"gamma", false, 0},
    };
    for (const Case& c : cases) {
        Cell got = block::select_word(s[0], word_of(Type::word, c.name), c.case_);
        if (c.expect)
            EXPECT_EQ(int_of(got), c.expect) << c.name;
        else
            EXPECT_TRUE(is(got, Type::none)) << c.name;
    }
    Cell key = word_of(Type::word, "ALPHA");
    actions::PathStep step{&key, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false};
    r.eval_path.fn(s[1], s[0], step);
    EXPECT_EQ(int_of(s[1]), 1);
}

TEST_F(BlockTest, RemoveValue) {
    Slots s;
    s[0] = block_of({1, 2, 3, 2});
    set_series_index(s[0], 2);
    EXPECT_TRUE(block::rs_remove_value(s[0], integer_cell(2), false));
    EXPECT_EQ(ints(s[0]), (std::vector<int>{3}));
    EXPECT_TRUE(block::rs_remove_value(s[0], integer_cell(2), true));
    set_series_index(s[0], 0);
    EXPECT_EQ(ints(s[0]), (std::vector<int>{1, 3}));
    EXPECT_FALSE(block::rs_remove_value(s[0], integer_cell(7), true));
}

TEST_F(BlockTest, InsertValueAndBlock) {
    Slots s;
    s[0] = block_of({1, 2});
    set_series_index(s[0], 1);
    block::insert_value(s[0], integer_cell(9), true, false);
    EXPECT_EQ(series_index(s[0]), 2u);
    block::insert_value(s[0], integer_cell(0), false, true);
    s[1] = block_of({7, 8});
    block::insert_block(s[0], s[1]);
    set_series_index(s[0], 0);
    EXPECT_EQ(ints(s[0]), (std::vector<int>{0, 1, 7, 8, 9, 2}));  // the head index stayed
}

TEST_F(BlockTest, Put) {
    Slots s;
    s[3] = block_of({1, 2, 3, 4});
    struct Case {
        int key, value;
        std::vector<int> all;
    };
    const Case cases[] = {{1, 9, {1, 9, 3, 4}}, {4, 5, {1, 9, 3, 4, 5}}, {7, 8, {1, 9, 3, 4, 5, 7, 8}}};
    for (const Case& c : cases) {
        s[0] = s[3];
        s[1] = integer_cell(c.key);
        s[2] = integer_cell(c.value);
        r.put.fn(s, false);
        EXPECT_EQ(int_of(s[0]), c.value);
        EXPECT_EQ(ints(s[3]), c.all);
    }
}

TEST_F(BlockTest, Compare) {
    struct Case {
        std::vector<int> a, b;
        int32_t op;
        int sign;
    };
    const Case cases[] = {
        {{1, 2}, {1, 2}, 0, 0},
        {{1, 2}, {1, 2, 3}, 0, 1},  // lengths differ: unequal at once
        {{1, 2}, {1, 3}, 3, -1},
        {{1, 3}, {1, 2}, 3, 1},
        {{1}, {1, 2}, 3, -1},
        // The empty block orders before others, whichever side it is on.
        {{}, {1}, 3, -1},
        {{1}, {}, 5, 1},
        {{}, {}, 3, 0},
    };
    for (const Case& c : cases) {
        Slots s;
        s[0] = block_of_cells({});
        for (int v : c.a) block::rs_append(s[0], integer_cell(v));
        s[1] = block_of_cells({});
        for (int v : c.b) block::rs_append(s[1], integer_cell(v));
        int32_t got = r.compare.fn(s[0], s[1], c.op);
        EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.a.size() << " " << c.b.size() << " " << c.op;
    }
    Slots s;
    s[0] = block_of({1});
    s[1] = integer_cell(1);
    EXPECT_EQ(r.compare.fn(s[0], s[1], 0), -2);
    s[1] = block_of_cells({logic_cell(true)});
    EXPECT_NE(r.compare.fn(s[0], s[1], 0), 0);
}

TEST_F(BlockTest, CompareOfSelfContainingBlocksEnds) {
    Slots s;
    s[0] = block_of({1});
    block::rs_append(s[0], s[0]);
    s[1] = block_of({1});
    block::rs_append(s[1], s[1]);
    EXPECT_EQ(r.compare.fn(s[0], s[1], 0), 0);
}

TEST_F(BlockTest, TrimRemovesNoneOnly) {
    Slots s;
    s[0] = block_of_cells({none_cell(), integer_cell(1), none_cell(), logic_cell(false),
                           integer_cell(2), none_cell()});
    s[3] = s[0];
    r.trim.fn(s, {});
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1, INT_MIN, 2}));
}

TEST_F(BlockTest, Swap) {
    Slots s;
    s[2] = block_of({1, 2});
    s[3] = block_of({3, 4});
    s[0] = s[2];
    s[1] = at_index(s[3], 1);
    r.swap.fn(s);
    EXPECT_EQ(ints(s[2]), (std::vector<int>{4, 2}));
    EXPECT_EQ(ints(s[3]), (std::vector<int>{3, 1}));
    Node str = memory::alloc_series(4, 1);
    s[1] = series_cell(Type::string, str);
    EXPECT_EQ(raised([&] { r.swap.fn(s); }), id::invalid_arg);
    s[1] = at_index(s[3], 2);  // at the tail: nothing happens
    r.swap.fn(s);
    EXPECT_EQ(ints(s[2]), (std::vector<int>{4, 2}));
}

TEST_F(BlockTest, CopyDeep) {
    Slots s;
    s[2] = block_of({2, 3});
    s[0] = block_of({1});
    block::rs_append(s[0], s[2]);
    s[3] = s[0];
    r.copy.fn(s, nullptr, true, nullptr);
    Cell inner = *block::rs_abs_at(s[0], 1);
    EXPECT_NE(series_node(inner), series_node(s[2]));
    EXPECT_EQ(ints(inner), (std::vector<int>{2, 3}));
    s[0] = s[3];
    r.copy.fn(s, nullptr, false, nullptr);
    EXPECT_EQ(series_node(*block::rs_abs_at(s[0], 1)), series_node(s[2]));
}

TEST_F(BlockTest, CopyDeepCopiesNestedByteSeries) {
    Slots s;
    Node bytes = memory::alloc_series(4, 1);
    memory::buffer(bytes)->tail = memory::buffer(bytes)->head + 3;
    s[2] = series_cell(Type::binary, bytes);
    set_flag(s[2], header::newline);
    s[0] = block_of_cells({});
    block::rs_append(s[0], s[2]);
    r.copy.fn(s, nullptr, true, nullptr);
    Cell copy = *block::rs_abs_at(s[0], 0);
    EXPECT_TRUE(is(copy, Type::binary));
    EXPECT_TRUE(newline_before(copy));
    EXPECT_NE(series_node(copy), bytes);
    EXPECT_EQ(memory::buffer(series_node(copy))->length(), 3u);
}

TEST_F(BlockTest, CopyTypesCopiesOnlyTheMatchingNested) {
    Slots s;
    s[2] = block_of({2});
    s[0] = block_of({1});
    block::rs_append(s[0], s[2]);
    Cell paren = s[2];
    set_type(paren, Type::paren);
    block::rs_append(s[0], paren);
    Cell types = datatype_cell(Type::paren);
    r.copy.fn(s, nullptr, false, &types);
    EXPECT_EQ(series_node(*block::rs_abs_at(s[0], 1)), series_node(s[2]));
    EXPECT_NE(series_node(*block::rs_abs_at(s[0], 2)), series_node(s[2]));
}

TEST_F(BlockTest, DeepCopyOfASelfContainingBlockRaisesNoCycle) {
    Slots s;
    s[0] = block_of({1});
    block::rs_append(s[0], s[0]);
    EXPECT_EQ(raised([&] { r.copy.fn(s, nullptr, true, nullptr); }), id::no_cycle);
    EXPECT_EQ(mold::cycle_depth(), 0);
}

TEST_F(BlockTest, TakeDeepCopiesNestedBlocks) {
    Slots s;
    s[2] = block_of({5});
    s[0] = block_of_cells({});
    block::rs_append(s[0], s[2]);
    r.take.fn(s, nullptr, true, false);
    ASSERT_TRUE(is(s[0], Type::block));
    EXPECT_NE(series_node(s[0]), series_node(s[2]));
    EXPECT_EQ(ints(s[0]), (std::vector<int>{5}));
}

TEST_F(BlockTest, MakeAndTo) {
    Slots s;
    s[0] = datatype_cell(Type::block);
    s[1] = integer_cell(10);
    r.make.fn(s, Type::block);
    EXPECT_TRUE(is(s[0], Type::block));
    EXPECT_EQ(block::rs_length(s[0]), 0);

    s[2] = block_of({1, 2, 3});
    s[1] = at_index(s[2], 1);
    r.make.fn(s, Type::block);
    EXPECT_NE(series_node(s[0]), series_node(s[2]));
    EXPECT_EQ(ints(s[0]), (std::vector<int>{2, 3}));

    s[1] = logic_cell(true);
    EXPECT_EQ(raised([&] { r.make.fn(s, Type::block); }), id::bad_make_arg);

    s[1] = integer_cell(4);
    r.to.fn(s, Type::block);
    EXPECT_EQ(ints(s[0]), (std::vector<int>{4}));
}

TEST_F(BlockTest, EvalPath) {
    Slots s;
    s[0] = block_of_cells({logic_cell(true), integer_cell(20), none_cell(), integer_cell(30)});
    Cell element = integer_cell(2), value = integer_cell(99);
    actions::PathStep step{&element, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false};
    r.eval_path.fn(s[1], s[0], step);  // an integer picks
    EXPECT_EQ(int_of(s[1]), 20);
    element = logic_cell(true);  // another value selects
    r.eval_path.fn(s[1], s[0], step);
    EXPECT_EQ(int_of(s[1]), 20);
    element = logic_cell(false);
    r.eval_path.fn(s[1], s[0], step);
    EXPECT_TRUE(is(s[1], Type::none));

    step.value_to_set = &value;
    element = integer_cell(4);
    r.eval_path.fn(s[1], s[0], step);
    EXPECT_EQ(int_of(*block::rs_abs_at(s[0], 3)), 99);
    element = none_cell();  // sets the value after the key
    value = integer_cell(7);
    r.eval_path.fn(s[1], s[0], step);
    EXPECT_EQ(int_of(*block::rs_abs_at(s[0], 3)), 7);
    element = logic_cell(false);
    EXPECT_EQ(raised([&] { r.eval_path.fn(s[1], s[0], step); }), id::bad_path_set);
    element = integer_cell(9);
    EXPECT_EQ(raised([&] { r.eval_path.fn(s[1], s[0], step); }), id::out_of_range);
}

TEST_F(BlockTest, MoldAndForm) {
    Slots s;
    s[0] = block_of({1, 2});
    s[1] = block_of({3});
    block::rs_append(s[0], s[1]);
    EXPECT_EQ(molded(s[0]), "[1 2 [3]]");
    EXPECT_EQ(mold::form_text(s[0]), "1 2 3");
    actions::MoldFlags only;
    only.only = true;
    EXPECT_EQ(mold::mold_text(s[0], only), "1 2 [3]");
    block::rs_append(s[0], s[0]);
    EXPECT_EQ(molded(s[0]), "[1 2 [3] [...]]");
}

TEST_F(BlockTest, MoldWithNewLineMarkers) {
    Slots s;
    Cell one = integer_cell(1), two = integer_cell(2);
    set_flag(one, header::newline);
    set_flag(two, header::newline);
    s[0] = block_of_cells({one, two});
    EXPECT_EQ(molded(s[0]), "[\n    1\n    2\n]");
    actions::MoldFlags flat;
    flat.flat = true;
    EXPECT_EQ(mold::mold_text(s[0], flat), "[1 2]");
    s[1] = block_of_cells({integer_cell(1), two});
    EXPECT_EQ(molded(s[1]), "[1\n2]");
}

TEST_F(BlockTest, MoldPartStopsEarly) {
    Slots s;
    block::make_at(s[0], 1000);
    for (int i = 0; i < 1000; ++i) block::rs_append(s[0], integer_cell(i));
    EXPECT_EQ(mold::mold_text(s[0], {}, 5), "[0 1 ");
    EXPECT_EQ(mold::form_text(s[0], 3), "0 1");
}

TEST_F(BlockTest, DeepNestingRaisesTooDeep) {
    Slots s;
    block::make_at(s[0], 1);
    s[1] = s[0];
    for (int i = 0; i < 1000; ++i) {
        block::make_at(s[2], 1);
        block::rs_append(s[1], s[2]);
        s[1] = s[2];
    }
    EXPECT_EQ(raised([&] { molded(s[0]); }), id::too_deep);
    EXPECT_EQ(mold::cycle_depth(), 0);
    Slots t;
    t[0] = s[0];
    t[1] = s[0];
    EXPECT_EQ(raised([&] { r.copy.fn(t, nullptr, true, nullptr); }), id::too_deep);
    EXPECT_EQ(mold::cycle_depth(), 0);
}

TEST_F(BlockTest, Paren) {
    Slots s;
    s[0] = block_of({1, 2});
    set_type(s[0], Type::paren);
    EXPECT_EQ(molded(s[0]), "(1 2)");
    EXPECT_EQ(mold::form_text(s[0]), "1 2");
    block::rs_append(s[0], s[0]);
    EXPECT_EQ(molded(s[0]), "(1 2 (...))");
    const actions::Row& pr = blocktest::row(Type::paren);
    EXPECT_EQ(pr.trim.fn, nullptr);
    EXPECT_EQ(pr.append.fn, r.append.fn);
    EXPECT_EQ(pr.sort.fn, r.sort.fn);
    EXPECT_EQ(pr.pick.fn, r.pick.fn);
}

std::vector<std::string> reported;
void record_change(const Cell&, const Cell&, const Cell&, const Cell& action, const Cell&, int32_t,
                   int32_t, int32_t) {
    reported.push_back(std::string(symbol::name(word_symbol(action))));
}

// Every modifying action reports to the owner of the series, before and after.
TEST_F(BlockTest, ModifyingActionsReportToTheirOwner) {
    collector::set_enabled(false);  // the stand-in owner has no context to keep it
    ownership::init();
    ownership::set_deep_change_hook(record_change);
    struct Case {
        const char* before;
        const char* after;
        void (*call)(const actions::Row& r, Slots& s);
    };
    const Case cases[] = {
        {"append", "appended", [](const actions::Row& r, Slots& s) { r.append.fn(s, nullptr, false, nullptr); }},
        {"insert", "inserted", [](const actions::Row& r, Slots& s) { r.insert.fn(s, nullptr, false, nullptr); }},
        {"change", "changed", [](const actions::Row& r, Slots& s) { r.change.fn(s, nullptr, false, nullptr); }},
        {"remove", "removed", [](const actions::Row& r, Slots& s) { r.remove.fn(s, nullptr, nullptr); }},
        {"clear", "cleared", [](const actions::Row& r, Slots& s) { r.clear.fn(s); }},
        {"poke", "poked", [](const actions::Row& r, Slots& s) { r.poke.fn(s, 1); }},
        {"reverse", "reversed", [](const actions::Row& r, Slots& s) { r.reverse.fn(s, nullptr, nullptr); }},
        {"take", "taken", [](const actions::Row& r, Slots& s) { r.take.fn(s, nullptr, false, false); }},
        {"sort", "sorted", [](const actions::Row& r, Slots& s) { r.sort.fn(s, {}); }},
        {"trim", "trimmed", [](const actions::Row& r, Slots& s) { r.trim.fn(s, {}); }},
        {"put", "put-ed", [](const actions::Row& r, Slots& s) { r.put.fn(s, false); }},
        {"random", "randomized", [](const actions::Row& r, Slots& s) { r.random.fn(s, false, false, false); }},
        {"swap", "swaped", [](const actions::Row& r, Slots& s) {
             s[1] = block_of({9});
             r.swap.fn(s);
         }},
        {"move", "moved", [](const actions::Row& r, Slots& s) {
             s[1] = s[0];
             s[0] = block_of({9});
             r.move.fn(s, nullptr);
         }},
    };
    for (const Case& c : cases) {
        Slots s;
        s[0] = block_of({3, 1, 2});
        Cell owner = make_cell(Type::object, 0, 0, 1);
        Cell word = make_cell(Type::word, 0, symbol::make("field"), uint32_t(-1));
        ownership::set_owner_deep(s[0], owner, word);
        s[1] = integer_cell(1);
        s[2] = integer_cell(5);
        reported.clear();
        c.call(r, s);
        EXPECT_EQ(reported, (std::vector<std::string>{c.before, c.after})) << c.before;
    }
    // A series without an owner reports nothing.
    Slots s;
    s[0] = block_of({1});
    s[1] = integer_cell(2);
    reported.clear();
    r.append.fn(s, nullptr, false, nullptr);
    EXPECT_TRUE(reported.empty());
    ownership::set_deep_change_hook(nullptr);
    collector::set_enabled(true);
}

// A value removed or overwritten in an owned block leaves the owner.
TEST_F(BlockTest, RemovedValuesLeaveTheOwner) {
    collector::set_enabled(false);
    ownership::init();
    auto owned = [](const Cell& b) {
        return (memory::buffer(series_node(b))->flags & memory::flag::owned) != 0;
    };
    for (int action = 0; action < 4; ++action) {
        Slots s;
        s[2] = block_of({5});
        s[0] = block_of({1});
        block::rs_append(s[0], s[2]);
        Cell owner = make_cell(Type::object, 0, 0, 1);
        Cell word = make_cell(Type::word, 0, symbol::make("field"), uint32_t(-1));
        ownership::set_owner_deep(s[0], owner, word);
        ASSERT_TRUE(owned(s[2]));
        set_series_index(s[0], 1);
        s[1] = integer_cell(0);
        switch (action) {
        case 0: r.remove.fn(s, nullptr, nullptr); break;
        case 1: r.clear.fn(s); break;
        case 2: r.take.fn(s, nullptr, false, false); break;
        case 3: r.change.fn(s, nullptr, false, nullptr); break;
        }
        EXPECT_FALSE(owned(s[2])) << action;
    }
    collector::set_enabled(true);
}

// A value put into an owned block joins the owner.
TEST_F(BlockTest, AddedValuesJoinTheOwner) {
    collector::set_enabled(false);
    ownership::init();
    auto owned = [](const Cell& b) {
        return (memory::buffer(series_node(b))->flags & memory::flag::owned) != 0;
    };
    for (int action = 0; action < 5; ++action) {
        Slots s;
        s[0] = block_of({1, 2});
        Cell owner = make_cell(Type::object, 0, 0, 1);
        Cell word = make_cell(Type::word, 0, symbol::make("field"), uint32_t(-1));
        ownership::set_owner_deep(s[0], owner, word);
        s[3] = block_of({5});
        s[1] = s[3];
        s[2] = s[3];
        switch (action) {
        case 0: r.append.fn(s, nullptr, true, nullptr); break;
        case 1: r.insert.fn(s, nullptr, true, nullptr); break;
        case 2: r.change.fn(s, nullptr, true, nullptr); break;
        case 3: r.poke.fn(s, 2); break;
        case 4:
            s[1] = integer_cell(1);
            r.put.fn(s, false);
            break;
        }
        EXPECT_TRUE(owned(s[3])) << action;
        const Cell* by = ownership::get_owner(series_node(s[3]));
        ASSERT_NE(by, nullptr) << action;
        EXPECT_TRUE(is(*by, Type::object)) << action;
    }
    collector::set_enabled(true);
}

// A hash! over the integers: a block whose w3 names a hash table of its cells.
Cell hash_of(std::initializer_list<int> values) {
    Cell b = block_of(values);
    collector::Root keep(b);
    Node t = hashtable::make(uint32_t(values.size()), &b, hashtable::kind_hash);
    set_type(b, Type::hash);
    set_series_extra(b, t);
    return b;
}

// Whether the hash index finds every integer of the block at its first place.
::testing::AssertionResult index_matches(const Cell& h) {
    Node t = Node(series_extra(h));
    if (const char* fault = hashtable::check(t); fault && *fault)
        return ::testing::AssertionFailure() << fault;
    Cell whole = h;
    set_series_index(whole, 0);
    std::vector<int> v = ints(whole);
    for (size_t p = 0; p < v.size(); ++p) {
        int32_t first = int32_t(std::find(v.begin(), v.end(), v[p]) - v.begin());
        int32_t got = hashtable::get(t, integer_cell(v[p]));
        if (got != first)
            return ::testing::AssertionFailure() << v[p] << " found at " << got << ", not " << first;
    }
    if (hashtable::get(t, integer_cell(-99)) != -1)
        return ::testing::AssertionFailure() << "a missing value is found";
    return ::testing::AssertionSuccess();
}

// A hash! held only by a cell keeps its index table through collections.
TEST_F(BlockTest, HashTableLivesAsLongAsItsHash) {
    Slots s;
    s[0] = hash_of({1, 2, 3, 4});
    for (int i = 0; i < 3; ++i) {
        memory::alloc_bytes(64);
        collector::do_cycle();
    }
    Node t = Node(series_extra(s[0]));
    ASSERT_TRUE(memory::node_in_use(t));
    EXPECT_TRUE(index_matches(s[0]));
}

// Every action that moves or replaces the cells of a hash! keeps its index right.
TEST_F(BlockTest, HashIndexFollowsTheCells) {
    struct Case {
        const char* what;
        void (*call)(const actions::Row& r, Slots& s);
        std::vector<int> result;
    };
    const Case cases[] = {
        {"append", [](const actions::Row& r, Slots& s) { r.append.fn(s, nullptr, false, nullptr); },
         {1, 2, 3, 4, 5, 7, 8}},
        {"insert", [](const actions::Row& r, Slots& s) { r.insert.fn(s, nullptr, false, nullptr); },
         {1, 7, 8, 2, 3, 4, 5}},
        {"change", [](const actions::Row& r, Slots& s) { r.change.fn(s, nullptr, false, nullptr); },
         {1, 7, 8, 4, 5}},
        {"remove", [](const actions::Row& r, Slots& s) { r.remove.fn(s, nullptr, nullptr); },
         {1, 3, 4, 5}},
        {"clear", [](const actions::Row& r, Slots& s) { r.clear.fn(s); }, {1}},
        {"poke", [](const actions::Row& r, Slots& s) { r.poke.fn(s, 2); }, {1, 2, 5, 4, 5}},
        {"reverse", [](const actions::Row& r, Slots& s) { r.reverse.fn(s, nullptr, nullptr); },
         {1, 5, 4, 3, 2}},
        {"take", [](const actions::Row& r, Slots& s) { r.take.fn(s, nullptr, false, false); },
         {1, 3, 4, 5}},
        {"swap", [](const actions::Row& r, Slots& s) {
             s[1] = block_of({9});
             r.swap.fn(s);
         }, {1, 9, 3, 4, 5}},
        {"move", [](const actions::Row& r, Slots& s) {
             s[1] = s[0];
             set_series_index(s[1], 4);
             r.move.fn(s, nullptr);
         }, {1, 3, 4, 2, 5}},
        {"put", [](const actions::Row& r, Slots& s) {
             s[1] = integer_cell(3);
             s[2] = integer_cell(1);
             r.put.fn(s, false);
         }, {1, 2, 3, 1, 5}},
        {"sort", [](const actions::Row& r, Slots& s) {
             actions::SortRefs refs;
             refs.reverse = true;
             r.sort.fn(s, refs);
         }, {1, 5, 4, 3, 2}},
    };
    for (const Case& c : cases) {
        Slots s;
        s[3] = hash_of({1, 2, 3, 4, 5});
        s[0] = s[3];
        set_series_index(s[0], 1);
        s[1] = block_of({7, 8});
        s[2] = integer_cell(5);
        c.call(r, s);
        Cell whole = s[3];
        EXPECT_EQ(ints(whole), c.result) << c.what;
        EXPECT_TRUE(index_matches(s[3])) << c.what;
    }
}

// A hash! finds through its index what a block finds by walking.
TEST_F(BlockTest, HashFindsAsABlockDoes) {
    Cell two = integer_cell(2), three = integer_cell(3);
    actions::FindRefs plain, last, skip, tail, part, reverse, skip_last, skip_reverse;
    last.last = true;
    skip.skip = &two;
    tail.tail = true;
    part.part = &three;
    reverse.reverse = true;
    skip_last.last = skip_reverse.reverse = true;
    skip_last.skip = skip_reverse.skip = &two;
    const actions::FindRefs refs[] = {plain, last, skip, tail, part, reverse, skip_last, skip_reverse};
    for (size_t k = 0; k < std::size(refs); ++k) {
        const actions::FindRefs& f = refs[k];
        for (int start : {0, 1, 2, 5}) {
            for (int v : {1, 2, 3, 4, 9}) {
                Slots s;
                s[0] = hash_of({1, 2, 1, 3, 2, 4, 1});
                set_series_index(s[0], uint32_t(start));
                s[2] = block_of({1, 2, 1, 3, 2, 4, 1});
                set_series_index(s[2], uint32_t(start));
                s[1] = integer_cell(v);
                Slots t;
                t[0] = s[2];
                t[1] = s[1];
                r.find.fn(s, f);
                r.find.fn(t, f);
                ASSERT_EQ(is(s[0], Type::none), is(t[0], Type::none)) << k << " " << start << " " << v;
                if (!is(t[0], Type::none)) {
                    EXPECT_EQ(series_index(s[0]), series_index(t[0])) << k << " " << start << " " << v;
                }
            }
        }
    }
}

TEST_F(BlockTest, RootBlockKeepsItsValues) {
    Cell& root = block::root();
    ASSERT_TRUE(is(root, Type::block));
    Cell* kept = block::make_in(&root, 4);
    Cell inner = *kept;
    block::rs_append(inner, integer_cell(42));
    for (int i = 0; i < 2000; ++i) {
        Cell garbage;
        block::make_at(garbage, 64);
    }
    collector::do_cycle();
    Cell last = *(block::rs_tail(root) - 1);
    EXPECT_EQ(ints(last), (std::vector<int>{42}));
}

// Actions that allocate while holding series, with a collection forced often.
TEST_F(BlockTest, ActionsUnderForcedCollections) {
    memory::set_gc_stress(3);
    Slots s;
    block::make_at(s[3], 1);
    for (int i = 0; i < 200; ++i) {
        s[0] = s[3];
        s[1] = block_of({i, i + 1});
        r.append.fn(s, nullptr, false, nullptr);
        s[0] = at_index(s[3], i);
        s[1] = block_of({-1});
        r.insert.fn(s, nullptr, true, nullptr);
    }
    s[0] = s[3];
    r.copy.fn(s, nullptr, true, nullptr);
    memory::set_gc_stress(0);
    EXPECT_EQ(block::rs_length(s[3]), 600);
    EXPECT_EQ(block::rs_length(s[0]), 600);
    std::vector<int> v = ints(s[3]);
    EXPECT_EQ(v[0], INT_MIN);
    Cell first = *block::rs_abs_at(s[0], 0);
    EXPECT_EQ(ints(first), (std::vector<int>{-1}));
}

}  // namespace
}  // namespace zan
