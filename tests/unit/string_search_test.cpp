// string! search, sort and set operations: find and select with their
// refinements, sorting by units, records and comparators, and the set
// operations with /case and /skip.
#include <gtest/gtest.h>

#include "datatypes/string_search.h"
#include "tests/unit/strings_support.h"

using namespace zan;
using namespace zan::test;
namespace ids = errors::id;

namespace {

struct StringSearch : ::testing::Test {
    // Sorting starts with no script comparator, as before the evaluator is up.
    void SetUp() override {
        setup_strings();
        string::set_compare_callback(nullptr);
    }
};

Cell at(Cell s, uint32_t i) {
    s.w1 = i;
    return s;
}

// The 1-based index of find's answer, 0 for none.
uint32_t find_index(Cell series, Cell value, const actions::FindRefs& r = {}) {
    Cell args[2] = {series, value};
    string::find(args, r);
    return is(args[0], Type::none) ? 0 : args[0].w1 + 1;
}

TEST_F(StringSearch, Find) {
    Cell two = integer_cell(2), three = integer_cell(3), zero = integer_cell(0);
    actions::FindRefs plain, case_, last, tail, skip2, match, reverse, part3, last_case, skip0, part0,
        match_tail, reverse_part;
    case_.case_ = true;
    last.last = true;
    tail.tail = true;
    skip2.skip = &two;
    match.match = true;
    reverse.reverse = true;
    part3.part = &three;
    last_case.last = last_case.case_ = true;
    part0.part = &zero;
    match_tail.match = match_tail.tail = true;
    reverse_part.reverse = true;
    reverse_part.part = &two;
    struct Case {
        const char* name;
        Cell series;
        Cell value;
        actions::FindRefs r;
        uint32_t expect;
    };
    Case cases[] = {
        {"text, any case", str("abcABC"), str("C"), plain, 3},
        {"text, case", str("abcABC"), str("C"), case_, 6},
        {"last", str("abcABC"), str("C"), last, 6},
        {"last case lower", str("abcABC"), str("c"), last_case, 3},
        {"tail", str("abc"), str("ab"), tail, 3},
        {"integer searched as text", str("a1b"), integer_cell(1), plain, 2},
        {"skip", str("abcd"), str("c"), skip2, 3},
        {"skip misses", str("abcd"), str("b"), skip2, 0},
        {"char", str("abcABC"), char_cell('B'), plain, 2},
        {"char case", str("abcABC"), char_cell('b'), case_, 2},
        {"bitset", str("abc1"), bitset::make_from(str("0123456789"), bitset::Caller::make), plain, 4},
        {"match at head", str("abc"), str("ab"), match, 1},
        {"match not at head", str("abc"), str("bc"), match, 0},
        {"match tail", str("abc"), str("ab"), match_tail, 3},
        {"from position", at(str("abab"), 1), str("a"), plain, 3},
        {"part cuts the range", str("abcd"), str("cd"), part3, 0},
        {"part keeps", str("abcd"), str("bc"), part3, 2},
        {"part zero", str("abcd"), str("a"), part0, 0},
        {"reverse", at(str("abab"), 3), str("a"), reverse, 3},
        {"reverse text ends before head", at(str("abcabc"), 5), str("bc"), reverse, 2},
        {"reverse from head", str("abc"), str("a"), reverse, 0},
        {"reverse part", at(str("abcde"), 4), str("a"), reverse_part, 0},
        {"reverse at tail", at(str("abc"), 3), str("c"), reverse, 3},
        {"not found", str("abc"), str("x"), plain, 0},
        {"empty series", str(""), str("a"), plain, 0},
        {"at tail", at(str("abc"), 3), str("c"), plain, 0},
        {"longer than the rest", str("ab"), str("abc"), plain, 0},
        {"wide text", str("x\u00e9\u4e2dy"), str("\u4e2dY"), plain, 3},
        {"latin-1 against wide folding", latin1(U"\u00e9t\u00e9"), str("\u00c9T"), plain, 1},
        {"file in string", str("a/b/c"), str("b/c", Type::file), plain, 3},
        {"word by its spelling", str("a-Word"), word_value("word"), plain, 3},
    };
    for (const Case& c : cases) EXPECT_EQ(find_index(c.series, c.value, c.r), c.expect) << c.name;

    Cell answer[2] = {str("abc", Type::file), str("B")};
    string::find(answer, {});
    EXPECT_TRUE(is(answer[0], Type::file));

    actions::FindRefs any, with, bad_skip, other_part;
    any.any = true;
    with.with = &two;
    bad_skip.skip = &zero;
    Cell other = str("abc");
    other_part.part = &other;
    EXPECT_EQ(raised([&] { find_index(str("a"), str("a"), any); }), ids::not_done);
    EXPECT_EQ(raised([&] { find_index(str("a"), str("a"), with); }), ids::not_done);
    EXPECT_EQ(raised([&] { find_index(str("a"), str("a"), bad_skip); }), ids::out_of_range);
    EXPECT_EQ(raised([&] { find_index(str("a"), str("a"), other_part); }), ids::invalid_refine_arg);
    EXPECT_EQ(raised([&] { find_index(str("a"), binary("a")); }), ids::invalid_arg);
    // A part given as a position in the same series.
    Cell s = str("abcd");
    actions::FindRefs pos;
    Cell end = at(s, 2);
    pos.part = &end;
    EXPECT_EQ(find_index(s, str("c"), pos), 0u);
    EXPECT_EQ(find_index(s, str("b"), pos), 2u);
}

TEST_F(StringSearch, FindInBinary) {
    Cell bin = binary("aAb\x01");
    EXPECT_EQ(find_index(bin, char_cell('A')), 2u);  // always exact
    EXPECT_EQ(find_index(bin, integer_cell(1)), 4u);
    EXPECT_EQ(find_index(bin, binary("Ab")), 2u);
    Cell args[2] = {bin, char_cell('A')};
    string::select(args, {});
    EXPECT_TRUE(is(args[0], Type::integer));
    EXPECT_EQ(int_of(args[0]), 'b');
}

TEST_F(StringSearch, Select) {
    struct Case {
        Cell series, value;
        int64_t expect;  // -1 none
    };
    Case cases[] = {
        {str("abc"), str("b"), 'c'},
        {str("abc"), str("c"), -1},
        {str("abc"), str("AB"), 'c'},
        {str("abc"), char_cell('a'), 'b'},
        {str("a\u4e2db"), char_cell(0x4E2D), 'b'},
        {str("abc"), str("x"), -1},
    };
    for (const Case& c : cases) {
        Cell args[2] = {c.series, c.value};
        string::select(args, {});
        if (c.expect < 0) {
            EXPECT_TRUE(is(args[0], Type::none)) << text(c.series) << " " << text(c.value);
        } else {
            EXPECT_TRUE(is(args[0], Type::char_));
            EXPECT_EQ(args[0].w2, uint32_t(c.expect));
        }
    }
}

std::string sorted(Cell s, const actions::SortRefs& r = {}) {
    Cell args[1] = {s};
    string::sort(args, r);
    return text(s);
}

TEST_F(StringSearch, Sort) {
    Cell two = integer_cell(2), three = integer_cell(3), off2 = integer_cell(2), minus2 = integer_cell(-2);
    actions::SortRefs plain, case_, reverse, skip2, skip2_all, skip2_offset, part2, stable, minus_part;
    case_.case_ = true;
    reverse.reverse = true;
    skip2.skip = &two;
    skip2_all.skip = &two;
    skip2_all.all = true;
    skip2_offset.skip = &two;
    skip2_offset.compare = &off2;
    part2.part = &two;
    stable.stable = true;
    stable.skip = &two;
    actions::SortRefs stable_case = stable;
    stable_case.case_ = true;
    minus_part.part = &minus2;
    struct Case {
        const char* name;
        Cell series;
        actions::SortRefs r;
        const char* expect;
    };
    Case cases[] = {
        {"letters", str("cBa"), plain, "aBc"},
        {"case", str("cBa"), case_, "Bac"},
        {"reverse", str("cBa"), reverse, "cBa"},
        {"reverse case", str("abc"), reverse, "cba"},
        {"records by first char", str("b2a9c1"), skip2, "a9b2c1"},
        {"records whole", str("b2a9a1"), skip2_all, "a1a9b2"},
        {"records by offset", str("b2a9a1"), skip2_offset, "a1b2a9"},
        {"stable records", str("b1a2b0a1"), stable, "a2a1b1b0"},
        {"stable with case", str("b1a2b0a1b9B5"), stable_case, "B5a2a1b1b0b9"},
        {"part", str("dcba"), part2, "cdba"},
        {"underscore in bytes", str("_a"), plain, "_a"},
        {"underscore in wide text", str("_a\u4e2d"), plain, "a_\u4e2d"},
        {"wide letters", str("\u00e9Ea"), plain, "aE\u00e9"},
        {"empty", str(""), plain, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(sorted(c.series, c.r), c.expect) << c.name;
    Cell s = str("dcba");
    Cell args[1] = {at(s, 3)};
    string::sort(args, minus_part);
    EXPECT_EQ(text(s), "dbca");

    actions::SortRefs bad_skip, all_alone, int_no_skip, int_all, bad_offset, bad_compare;
    bad_skip.skip = &three;
    all_alone.all = true;
    int_no_skip.compare = &off2;
    int_all.skip = &two;
    int_all.all = true;
    int_all.compare = &off2;
    bad_offset.skip = &two;
    bad_offset.compare = &three;
    Cell text_cmp = str("x");
    bad_compare.compare = &text_cmp;
    struct Err {
        const char* name;
        actions::SortRefs r;
        errors::Id id;
    };
    Err errs[] = {
        {"skip longer than the text", bad_skip, ids::invalid_refine_arg},
        {"all without skip", all_alone, ids::bad_refines},
        {"offset without skip", int_no_skip, ids::bad_refines},
        {"offset with all", int_all, ids::bad_refines},
        {"offset outside the record", bad_offset, ids::out_of_range},
        {"comparator of another type", bad_compare, ids::invalid_refine_arg},
    };
    for (const Err& e : errs) {
        Cell t = str("ba");
        EXPECT_EQ(raised([&] { sorted(t, e.r); }), e.id) << e.name;
        EXPECT_EQ(text(t), "ba") << e.name;  // nothing moved
    }
    Cell odd = str("abc");
    EXPECT_EQ(raised([&] { sorted(odd, skip2); }), ids::invalid_refine_arg);
}

// A stand-in for the evaluator: the comparator "function" is an integer!
// choosing what the call answers.
// How fake_call compares. The function cell it is handed stays empty: once
// function! is registered the collector marks that cell's nodes.
int compare_mode = 0;

Cell fake_call(const Cell&, const Cell& first, const Cell& second) {
    collector::collect();  // the buffer being sorted stays where it is
    Cell junk = str("allocation while sorting");
    (void)junk;
    uint32_t a = is(first, Type::char_) ? first.w2 : string::char_at(series_node(first), 1);
    uint32_t b = is(second, Type::char_) ? second.w2 : string::char_at(series_node(second), 1);
    switch (compare_mode) {
    case 0: return logic_cell(a < b);
    case 1: return integer_cell(int32_t(a) - int32_t(b));
    case 2: return float_cell(double(b) - double(a));
    default: return none_cell();
    }
}

TEST_F(StringSearch, SortWithFunction) {
    Cell fn = make_cell(Type::function, 0, 0);
    compare_mode = 0;
    actions::SortRefs r;
    r.compare = &fn;
    EXPECT_EQ(raised([&] { sorted(str("ba"), r); }), ids::not_done);
    string::set_compare_callback(&fake_call);
    collector::set_enabled(true);
    EXPECT_EQ(sorted(str("dbca"), r), "abcd");  // true: the first goes first
    compare_mode = 1;
    EXPECT_EQ(sorted(str("dbca"), r), "abcd");  // first minus second: ascending
    compare_mode = 2;
    EXPECT_EQ(sorted(str("dbca"), r), "dcba");  // second minus first: descending
    compare_mode = 0;
    r.reverse = true;
    EXPECT_EQ(sorted(str("dbca"), r), "dcba");
    // Whole records are passed as strings.
    Cell two = integer_cell(2);
    actions::SortRefs rec;
    rec.compare = &fn;
    rec.skip = &two;
    rec.all = true;
    EXPECT_EQ(sorted(str("a3b1c2"), rec), "b1c2a3");
    collector::set_enabled(false);
}

std::string set_op(string::SetOp op, Cell a, Cell b, bool case_ = false, const Cell* skip = nullptr) {
    Cell args[2] = {a, b};
    string::do_set_op(args, case_, skip, op);
    EXPECT_TRUE(is(args[0], Type::string));
    return text(args[0]);
}

TEST_F(StringSearch, SetOperations) {
    using Op = string::SetOp;
    Cell two = integer_cell(2);
    struct Case {
        const char* name;
        Op op;
        Cell a, b;
        bool case_;
        const Cell* skip;
        const char* expect;
    };
    Case cases[] = {
        {"union", Op::union_, str("abc"), str("bcd"), false, nullptr, "abcd"},
        {"intersect", Op::intersect, str("abc"), str("bcd"), false, nullptr, "bc"},
        {"exclude", Op::exclude, str("abc"), str("bcd"), false, nullptr, "a"},
        {"difference", Op::difference, str("abc"), str("bcd"), false, nullptr, "ad"},
        {"unique", Op::unique, str("aabca"), none_cell(), false, nullptr, "abc"},
        {"union ignores case", Op::union_, str("a"), str("A"), false, nullptr, "a"},
        {"union with case", Op::union_, str("a"), str("A"), true, nullptr, "aA"},
        {"unique keeps the first spelling", Op::unique, str("Aa\u00e9\u00c9"), none_cell(), false, nullptr, "A\u00e9"},
        {"records", Op::unique, str("abcdab"), none_cell(), false, &two, "abcd"},
        {"records not chars", Op::intersect, str("abba"), str("bacd"), false, &two, "ba"},
        {"records union", Op::union_, str("ab"), str("baab"), false, &two, "abba"},
        {"from position", Op::unique, at(str("xaab"), 1), none_cell(), false, nullptr, "ab"},
    };
    for (const Case& c : cases) EXPECT_EQ(set_op(c.op, c.a, c.b, c.case_, c.skip), c.expect) << c.name;
    Cell zero = integer_cell(0);
    EXPECT_EQ(raised([&] { set_op(Op::unique, str("a"), none_cell(), false, &zero); }), ids::invalid_refine_arg);
    EXPECT_EQ(raised([&] { set_op(Op::union_, str("a"), integer_cell(1)); }), ids::invalid_arg);
}

}  // namespace
