// The series! routines: navigation, pick and poke, removal, reversal, take,
// copy, move and shuffle, on blocks (through block!'s inherited row) and on a
// byte series (unit 1) to show they do not depend on the unit size.
#include <algorithm>
#include <cstring>

#include "datatypes/string.h"
#include "series_support.h"

namespace zan {
namespace {

using blocktest::block_of;
using blocktest::ints;
using blocktest::raised;
using blocktest::Slots;
namespace id = errors::id;

class SeriesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { blocktest::start_runtime(); }
    const actions::Row& r = blocktest::row(Type::block);
};

Cell at_index(Cell b, int32_t i) {
    set_series_index(b, uint32_t(i));
    return b;
}

// A byte series holding the given bytes.
Cell bytes_of(std::initializer_list<uint8_t> bytes) {
    Node n = memory::alloc_series(uint32_t(std::max<size_t>(bytes.size(), 1)), 1);
    memory::Series* s = memory::buffer(n);
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<uint8_t*>(s->at_head()));
    s->tail = s->head + uint32_t(bytes.size());
    return series_cell(Type::binary, n);
}

std::vector<int> bytes(const Cell& b) {
    std::vector<int> out;
    memory::Series* s = memory::buffer(series_node(b));
    for (uint32_t i = series_index(b); i < s->length(); ++i) out.push_back(uint8_t(s->at_head()[i]));
    return out;
}

TEST_F(SeriesTest, Navigation) {
    struct Case {
        const char* what;
        void (*fn)(Cell*);
        int32_t start, arg, index;
    };
    const Case cases[] = {
        {"head", series::head, 3, 0, 0},
        {"tail", series::tail, 1, 0, 5},
        {"next", series::next, 2, 0, 3},
        {"next at tail", series::next, 5, 0, 5},
        {"back", series::back, 2, 0, 1},
        {"back at head", series::back, 0, 0, 0},
        {"at 1", series::at, 2, 1, 2},
        {"at 0 as at 1", series::at, 2, 0, 2},
        {"at -1", series::at, 2, -1, 1},
        {"at past tail", series::at, 2, 10, 5},
        {"skip 2", series::skip, 1, 2, 3},
        {"skip -5 stops at head", series::skip, 1, -5, 0},
    };
    for (const Case& c : cases) {
        Slots s;
        s[0] = at_index(block_of({1, 2, 3, 4, 5}), c.start);
        s[1] = integer_cell(c.arg);
        c.fn(s);
        EXPECT_EQ(series_index(s[0]), uint32_t(c.index)) << c.what;
    }
}

TEST_F(SeriesTest, AtNeedsAnInteger) {
    Slots s;
    s[0] = block_of({1});
    s[1] = none_cell();
    EXPECT_EQ(raised([&] { r.at.fn(s); }), id::invalid_arg);
}

TEST_F(SeriesTest, Queries) {
    Slots s;
    s[0] = at_index(block_of({1, 2, 3}), 3);
    s[1] = s[0];
    r.index_q.fn(s);
    EXPECT_EQ(int_of(s[0]), 4);
    r.tail_q.fn(s + 1);
    EXPECT_TRUE(logic_of(s[1]));
    s[0] = block_of({1, 2, 3});
    r.head_q.fn(s);
    EXPECT_TRUE(logic_of(s[0]));
}

TEST_F(SeriesTest, LengthClampsAHeadPastTheTail) {
    Slots s;
    s[0] = block_of({1, 2, 3, 4});
    s[1] = at_index(s[0], 3);
    r.clear.fn(s);  // clears everything from the head: the other value is past the tail
    EXPECT_EQ(r.length_q.fn(s[1]), 0);
    EXPECT_EQ(series::get_length(s[1]), 0);
    EXPECT_EQ(series_index(s[1]), 0u);
}

TEST_F(SeriesTest, Pick) {
    struct Case {
        int32_t start, index;
        int expect;  // 0: none
    };
    const Case cases[] = {{0, 1, 10}, {0, 3, 30}, {0, 0, 0}, {0, -1, 0},
                          {2, -1, 20}, {2, -2, 10}, {2, 2, 40}, {0, 5, 0}};
    for (const Case& c : cases) {
        Slots s;
        s[0] = at_index(block_of({10, 20, 30, 40}), c.start);
        r.pick.fn(s, c.index);
        if (c.expect == 0)
            EXPECT_TRUE(is(s[0], Type::none)) << c.start << " " << c.index;
        else
            EXPECT_EQ(int_of(s[0]), c.expect) << c.start << " " << c.index;
    }
}

TEST_F(SeriesTest, PokeStoresOrRaisesOutOfRange) {
    Slots s;
    s[3] = block_of({1, 2, 3});
    s[0] = s[3];
    s[2] = integer_cell(9);
    r.poke.fn(s, 2);
    EXPECT_EQ(int_of(s[0]), 9);
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1, 9, 3}));
    s[0] = s[3];
    EXPECT_EQ(raised([&] { r.poke.fn(s, 4); }), id::out_of_range);
    EXPECT_EQ(int_of(errors::pending_arg(1)), 4);
    EXPECT_EQ(raised([&] { r.poke.fn(s, 0); }), id::out_of_range);
}

TEST_F(SeriesTest, Remove) {
    struct Case {
        int32_t start;
        int part;  // -100: no /part
        std::vector<int> left;
    };
    const Case cases[] = {
        {0, -100, {2, 3, 4, 5}}, {1, 2, {1, 4, 5}}, {3, 10, {1, 2, 3}},
        {1, 0, {1, 2, 3, 4, 5}}, {5, -100, {1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        Slots s;
        s[3] = block_of({1, 2, 3, 4, 5});
        s[0] = at_index(s[3], c.start);
        s[1] = integer_cell(c.part);
        r.remove.fn(s, c.part == -100 ? nullptr : &s[1], nullptr);
        EXPECT_EQ(ints(s[3]), c.left) << c.start << " " << c.part;
    }
}

TEST_F(SeriesTest, RemovePartAsPosition) {
    Slots s;
    s[3] = block_of({1, 2, 3, 4, 5});
    s[0] = at_index(s[3], 1);
    s[1] = at_index(s[3], 3);
    r.remove.fn(s, &s[1], nullptr);
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1, 4, 5}));
    s[2] = block_of({1, 2});
    EXPECT_EQ(raised([&] { r.remove.fn(s, &s[2], nullptr); }), id::invalid_refine_arg);
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1, 4, 5}));
}

TEST_F(SeriesTest, RemoveKey) {
    Slots s;
    s[3] = block_of({1, 2, 3, 4, 5});
    s[0] = s[3];
    s[2] = integer_cell(3);
    r.remove.fn(s, nullptr, &s[2]);  // the key and the value after it
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1, 2, 5}));
    s[0] = s[3];
    s[2] = integer_cell(9);
    r.remove.fn(s, nullptr, &s[2]);
    EXPECT_TRUE(is(s[0], Type::none));
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1, 2, 5}));
}

TEST_F(SeriesTest, Reverse) {
    struct Case {
        int part, skip;  // 0: absent
        std::vector<int> result;
        errors::Id error;
    };
    const Case cases[] = {
        {0, 0, {6, 5, 4, 3, 2, 1}, blocktest::no_error},
        {3, 0, {3, 2, 1, 4, 5, 6}, blocktest::no_error},
        {0, 2, {5, 6, 3, 4, 1, 2}, blocktest::no_error},
        {0, 3, {4, 5, 6, 1, 2, 3}, blocktest::no_error},
        {0, 6, {1, 2, 3, 4, 5, 6}, blocktest::no_error},
        {0, 4, {1, 2, 3, 4, 5, 6}, id::invalid_refine_arg},
        {0, 7, {1, 2, 3, 4, 5, 6}, id::invalid_refine_arg},
        {0, -1, {1, 2, 3, 4, 5, 6}, id::out_of_range},
        {4, 2, {3, 4, 1, 2, 5, 6}, blocktest::no_error},
    };
    for (const Case& c : cases) {
        Slots s;
        s[3] = block_of({1, 2, 3, 4, 5, 6});
        s[0] = s[3];
        s[1] = integer_cell(c.part);
        s[2] = integer_cell(c.skip);
        errors::Id e = raised(
            [&] { r.reverse.fn(s, c.part ? &s[1] : nullptr, c.skip ? &s[2] : nullptr); });
        EXPECT_EQ(e, c.error) << c.part << " " << c.skip;
        EXPECT_EQ(ints(s[3]), c.result) << c.part << " " << c.skip;
    }
}

TEST_F(SeriesTest, ReverseSkipOfBytes) {
    Slots s;
    s[0] = bytes_of({1, 2, 3, 4, 5, 6});
    s[3] = s[0];
    s[2] = integer_cell(2);
    series::reverse(s, nullptr, &s[2]);
    EXPECT_EQ(bytes(s[3]), (std::vector<int>{5, 6, 3, 4, 1, 2}));
}

TEST_F(SeriesTest, Take) {
    struct Case {
        int32_t start;
        int part;  // -100: no /part
        bool last;
        std::vector<int> taken;  // empty with single: none expected
        bool single;
        std::vector<int> left;
    };
    const Case cases[] = {
        {0, -100, false, {1}, true, {2, 3, 4, 5}},
        {0, -100, true, {5}, true, {1, 2, 3, 4}},
        {1, 2, false, {2, 3}, false, {1, 4, 5}},
        {0, 2, true, {4, 5}, false, {1, 2, 3}},
        {3, -2, false, {2, 3}, false, {1, 4, 5}},
        {1, -5, false, {1}, false, {2, 3, 4, 5}},
        {0, 9, false, {1, 2, 3, 4, 5}, false, {}},
        // Nothing to take: an empty series, nothing removed.
        {2, 0, false, {}, false, {1, 2, 3, 4, 5}},
        {2, -1, true, {}, false, {1, 2, 3, 4, 5}},
        {0, -1, false, {}, false, {1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        Slots s;
        s[3] = block_of({1, 2, 3, 4, 5});
        s[0] = at_index(s[3], c.start);
        s[1] = integer_cell(c.part);
        r.take.fn(s, c.part == -100 ? nullptr : &s[1], false, c.last);
        if (c.single) {
            ASSERT_TRUE(is(s[0], Type::integer));
            EXPECT_EQ(int_of(s[0]), c.taken[0]);
        } else {
            ASSERT_TRUE(is(s[0], Type::block)) << c.start << " " << c.part;
            EXPECT_EQ(ints(s[0]), c.taken) << c.start << " " << c.part;
        }
        EXPECT_EQ(ints(s[3]), c.left) << c.start << " " << c.part;
    }
}

TEST_F(SeriesTest, TakePartPositionBeforeTheHeadTakesNothing) {
    Slots s;
    s[3] = block_of({1, 2, 3});
    s[0] = at_index(s[3], 2);
    s[1] = at_index(s[3], 0);
    r.take.fn(s, &s[1], false, false);
    EXPECT_TRUE(ints(s[0]).empty());
    EXPECT_EQ(ints(s[3]), (std::vector<int>{1, 2, 3}));
}

TEST_F(SeriesTest, TakeOfAnEmptyRestIsNone) {
    Slots s;
    s[0] = at_index(block_of({1}), 1);
    r.take.fn(s, nullptr, false, false);
    EXPECT_TRUE(is(s[0], Type::none));
}

TEST_F(SeriesTest, TakeOfBytes) {
    Slots s;
    s[3] = bytes_of({7, 8, 9});
    s[0] = s[3];
    series::take(s, nullptr, false, true);
    EXPECT_TRUE(is(s[0], Type::integer));
    EXPECT_EQ(int_of(s[0]), 9);
    s[0] = s[3];
    s[1] = integer_cell(2);
    series::take(s, &s[1], false, false);
    EXPECT_EQ(bytes(s[0]), (std::vector<int>{7, 8}));
    EXPECT_TRUE(bytes(s[3]).empty());
}

TEST_F(SeriesTest, CopyPart) {
    struct Case {
        int32_t start;
        Cell part;
        std::vector<int> copied;
    };
    const Case cases[] = {
        {0, make_cell(Type::pair, 0, 2, 4), {2, 3}},
        {1, make_cell(Type::pair, 0, 1, 3), {2, 3}},
        {0, make_cell(Type::pair, 0, 3, 1), {}},
        {0, integer_cell(2), {1, 2}},
        {3, integer_cell(-2), {2, 3}},
        {4, integer_cell(-9), {1, 2, 3, 4}},
        {1, integer_cell(99), {2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        Slots s;
        s[0] = at_index(block_of({1, 2, 3, 4, 5}), c.start);
        s[1] = c.part;
        series::copy(s, &s[1], false, nullptr);
        EXPECT_EQ(series_index(s[0]), 0u);
        EXPECT_EQ(ints(s[0]), c.copied) << c.start;
    }
}

TEST_F(SeriesTest, CopyDropsTheOwnedFlag) {
    Slots s;
    s[0] = block_of({1, 2});
    memory::set_series_flags(series_node(s[0]), memory::flag::owned);
    series::copy(s, nullptr, false, nullptr);
    EXPECT_EQ(memory::buffer(series_node(s[0]))->flags & memory::flag::owned, 0u);
    EXPECT_EQ(memory::buffer(series_node(s[0]))->unit(), 16u);
}

TEST_F(SeriesTest, CopyPartOfAnotherSeriesRaises) {
    Slots s;
    s[0] = block_of({1, 2});
    s[1] = block_of({1, 2});
    EXPECT_EQ(raised([&] { series::copy(s, &s[1], false, nullptr); }), id::invalid_refine_arg);
}

TEST_F(SeriesTest, MoveWithinOneBlock) {
    struct Case {
        int32_t from, to;
        int part;
        std::vector<int> result;
    };
    const Case cases[] = {
        {0, 3, 1, {2, 3, 1, 4, 5}},
        {3, 0, 2, {4, 5, 1, 2, 3}},
        {0, 5, 2, {3, 4, 5, 1, 2}},
        {1, 1, 1, {1, 2, 3, 4, 5}},
        {0, 1, 3, {1, 2, 3, 4, 5}},  // the target lies inside the moved part
    };
    for (const Case& c : cases) {
        Slots s;
        s[3] = block_of({1, 2, 3, 4, 5});
        s[0] = at_index(s[3], c.from);
        s[1] = at_index(s[3], c.to);
        s[2] = integer_cell(c.part);
        r.move.fn(s, &s[2]);
        EXPECT_EQ(ints(s[3]), c.result) << c.from << " " << c.to;
    }
}

TEST_F(SeriesTest, MoveBetweenSeries) {
    Slots s;
    s[2] = block_of({1, 2, 3});
    s[3] = block_of({7, 8});
    s[0] = s[2];
    s[1] = at_index(s[3], 1);
    Cell part = integer_cell(2);
    r.move.fn(s, &part);
    EXPECT_EQ(ints(s[2]), (std::vector<int>{3}));
    EXPECT_EQ(ints(s[3]), (std::vector<int>{7, 1, 2, 8}));
    EXPECT_EQ(series_node(s[0]), series_node(s[3]));

    s[0] = s[2];
    s[1] = bytes_of({1});
    EXPECT_EQ(raised([&] { r.move.fn(s, nullptr); }), id::move_bad);
    s[1] = integer_cell(1);
    EXPECT_EQ(raised([&] { r.move.fn(s, nullptr); }), id::expect_arg);
}

Cell text_of(const char* utf8) {
    Cell t;
    collector::Root keep(t);
    string::make_at(t, 8, 1);
    string::append_utf8(series_node(t), utf8);
    return t;
}

TEST_F(SeriesTest, TextElements) {
    Slots s;
    s[3] = text_of("abc");
    s[0] = s[3];
    series::pick(s, 2);
    EXPECT_TRUE(is(s[0], Type::char_));
    EXPECT_EQ(int_of(s[0]), 'b');
    s[0] = s[3];
    s[2] = char_cell(0x3B1);  // wider than the buffer's unit: it widens
    series::poke(s, 2);
    EXPECT_EQ(string::to_utf8(s[3]), "a\u03B1c");
    s[0] = s[3];
    s[2] = integer_cell(1);
    EXPECT_EQ(raised([&] { series::poke(s, 1); }), id::invalid_arg);
}

TEST_F(SeriesTest, MoveBetweenTextsOfDifferentWidths) {
    Slots s;
    s[2] = text_of("xy");
    s[3] = text_of("\u03B1\u03B2");
    s[0] = s[2];
    s[1] = at_index(s[3], 1);
    Cell part = integer_cell(2);
    series::move(s, &part);
    EXPECT_EQ(string::to_utf8(s[2]), "");
    EXPECT_EQ(string::to_utf8(s[3]), "\u03B1xy\u03B2");
    s[0] = s[3];
    s[1] = block_of({1});
    EXPECT_EQ(raised([&] { series::move(s, nullptr); }), id::move_bad);
}

TEST_F(SeriesTest, Random) {
    Slots s;
    s[0] = at_index(block_of({1}), 1);
    r.random.fn(s, false, false, true);
    EXPECT_TRUE(is(s[0], Type::none));

    s[3] = block_of({1, 2, 3, 4, 5, 6, 7, 8});
    s[0] = at_index(s[3], 2);
    r.random.fn(s, false, false, false);
    std::vector<int> v = ints(s[3]);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[1], 2);
    std::sort(v.begin(), v.end());
    EXPECT_EQ(v, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));

    s[0] = s[3];
    r.random.fn(s, false, false, true);
    ASSERT_TRUE(is(s[0], Type::integer));
    EXPECT_GE(int_of(s[0]), 1);
    EXPECT_LE(int_of(s[0]), 8);
}

TEST_F(SeriesTest, FillRepeat) {
    uint8_t buf[10] = {1, 2};
    std::byte* end = series::fill_repeat(reinterpret_cast<std::byte*>(buf), 2, 5);
    EXPECT_EQ(end, reinterpret_cast<std::byte*>(buf) + 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(buf[i], i % 2 + 1);
}

TEST_F(SeriesTest, ChangeWordsPairUp) {
    EXPECT_STREQ(series::change_word(series::Change::swap, true), "swaped");
    EXPECT_STREQ(series::change_word(series::Change::put, true), "put-ed");
    EXPECT_STREQ(series::change_word(series::Change::take, false), "take");
}

}  // namespace
}  // namespace zan
