// string! actions: adding text (append, insert, change) with /part and /dup,
// making and converting, comparing, swapping, trimming, path steps and mold
// through the registry row.
#include <gtest/gtest.h>

#include <vector>

#include "datatypes/series.h"
#include "datatypes/string_search.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "tests/unit/strings_support.h"

using namespace zan;
using namespace zan::test;
namespace ids = errors::id;

namespace {

struct StringActions : ::testing::Test {
    void SetUp() override { setup_strings(); }
};

Cell at(Cell s, uint32_t i) {
    s.w1 = i;
    return s;
}

uint32_t unit_of(const Cell& s) { return memory::buffer(series_node(s))->unit(); }

Cell do_append(Cell s, Cell v, const Cell* part = nullptr, const Cell* dup = nullptr) {
    Cell args[2] = {s, v};
    string::append(args, part, false, dup);
    return args[0];
}

TEST_F(StringActions, AppendValues) {
    Cell two = integer_cell(2), three = integer_cell(3), zero = integer_cell(0);
    struct Case {
        const char* name;
        const char* start;
        Cell value;
        const Cell* part;
        const Cell* dup;
        const char* expect;
    };
    Case cases[] = {
        {"string", "ab", str("cd"), nullptr, nullptr, "abcd"},
        {"string from its position", "ab", at(str("xcd"), 1), nullptr, nullptr, "abcd"},
        {"string part", "ab", str("cde"), &two, nullptr, "abcd"},
        {"char", "a", char_cell('b'), nullptr, nullptr, "ab"},
        {"tag", "ab", str("x", Type::tag), nullptr, nullptr, "ab<x>"},
        {"tag part", "ab", str("x", Type::tag), &two, nullptr, "ab<x"},
        {"dup", "a", str("b"), nullptr, &three, "abbb"},
        {"dup of a char", "a", char_cell('b'), nullptr, &three, "abbb"},
        {"dup zero", "a", str("b"), nullptr, &zero, "a"},
        {"integer", "a", integer_cell(42), nullptr, nullptr, "a42"},
        {"block, no separators", "", block({integer_cell(1), str("a"), word_value("b")}), nullptr, nullptr, "1ab"},
        {"file", "a", str("b/c", Type::file), nullptr, nullptr, "ab/c"},
        {"wide", "a", str("\u4e2d"), nullptr, nullptr, "a\u4e2d"},
        {"tag part with dup", "", str("ab", Type::tag), &three, &two, "<ab<ab"},
    };
    for (const Case& c : cases) {
        Cell s = str(c.start);
        Cell r = do_append(s, c.value, c.part, c.dup);
        EXPECT_EQ(text(s), c.expect) << c.name;
        EXPECT_EQ(r.w1, 0u) << c.name;  // the series as given
    }
    Cell four = integer_cell(4);
    Cell s = str("");
    do_append(s, block({str("abc"), str("def"), str("ghi")}), &four);
    EXPECT_EQ(text(s), "abcd");
    Cell wrong = str("q");
    EXPECT_EQ(raised([&] { do_append(str("a"), str("b"), &wrong); }), ids::invalid_refine_arg);
}

TEST_F(StringActions, AppendUnits) {
    Cell s = str("ab");
    EXPECT_EQ(unit_of(s), 1u);
    do_append(s, char_cell(0xE9));
    EXPECT_EQ(unit_of(s), 2u);
    do_append(s, latin1(U"\u00ff"));
    do_append(s, str("\U0001F600"));
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(text(s), "ab\u00e9\u00ff\U0001F600");
    // A narrow string appended to a wide one keeps its own buffer narrow.
    Cell narrow = str("xy");
    do_append(s, narrow);
    EXPECT_EQ(unit_of(narrow), 1u);
}

TEST_F(StringActions, AppendToItself) {
    Cell s = str("abc");
    Cell three = integer_cell(3);
    do_append(s, s, nullptr, &three);
    EXPECT_EQ(text(s), "abcabcabcabc");
    Cell t = str("abcd");
    Cell args[2] = {at(t, 1), t};
    string::insert(args, nullptr, false, nullptr);
    EXPECT_EQ(text(t), "aabcdbcd");
    EXPECT_EQ(args[0].w1, 5u);
}

TEST_F(StringActions, Insert) {
    struct Case {
        const char* name;
        const char* start;
        uint32_t index;
        Cell value;
        int32_t dup;
        const char* expect;
        uint32_t after;
    };
    Case cases[] = {
        {"at head", "cd", 0, str("ab"), 1, "abcd", 2},
        {"inside", "ad", 1, str("bc"), 1, "abcd", 3},
        {"at tail", "ab", 2, str("cd"), 1, "abcd", 4},
        {"char", "ac", 1, char_cell('b'), 1, "abc", 2},
        {"wide char", "ac", 1, char_cell(0x4E2D), 1, "a\u4e2dc", 2},
        {"dup", "ad", 1, str("bc"), 2, "abcbcd", 5},
        {"tag", "ab", 1, str("t", Type::tag), 1, "a<t>b", 4},
        {"head past the tail", "ab", 9, str("c"), 1, "abc", 3},
    };
    for (const Case& c : cases) {
        Cell s = str(c.start);
        Cell args[2] = {at(s, c.index), c.value};
        Cell dup = integer_cell(c.dup);
        string::insert(args, nullptr, false, c.dup == 1 ? nullptr : &dup);
        EXPECT_EQ(text(s), c.expect) << c.name;
        EXPECT_EQ(args[0].w1, c.after) << c.name;
    }
}

TEST_F(StringActions, Change) {
    Cell two = integer_cell(2), zero = integer_cell(0), big = integer_cell(99);
    struct Case {
        const char* name;
        const char* start;
        uint32_t index;
        Cell value;
        const Cell* part;
        const Cell* dup;
        const char* expect;
        uint32_t after;
    };
    Case cases[] = {
        {"same length", "abcd", 1, str("XY"), nullptr, nullptr, "aXYd", 3},
        {"longer than the rest", "abc", 2, str("XYZ"), nullptr, nullptr, "abXYZ", 5},
        {"at the tail appends", "ab", 2, str("c"), nullptr, nullptr, "abc", 3},
        {"char", "abc", 1, char_cell('X'), nullptr, nullptr, "aXc", 2},
        {"part shorter", "abcd", 1, str("X"), &two, nullptr, "aXd", 2},
        {"part longer", "abcd", 1, str("XYZ"), &two, nullptr, "aXYZd", 4},
        {"part zero inserts", "abcd", 1, str("X"), &zero, nullptr, "aXbcd", 2},
        {"part past the end", "abcd", 1, str("X"), &big, nullptr, "aX", 2},
        {"dup", "abcdef", 1, str("XY"), nullptr, &two, "aXYXYf", 5},
        {"part and dup", "abcd", 1, str("X"), &two, &two, "aXXd", 3},
        {"integer formed", "abcd", 0, integer_cell(12), nullptr, nullptr, "12cd", 2},
    };
    for (const Case& c : cases) {
        Cell s = str(c.start);
        Cell args[2] = {at(s, c.index), c.value};
        string::change(args, c.part, false, c.dup);
        EXPECT_EQ(text(s), c.expect) << c.name;
        EXPECT_EQ(args[0].w1, c.after) << c.name;
    }
    Cell s = str("abcd");
    Cell range = at(s, 3);
    Cell args[2] = {at(s, 1), str("X")};
    string::change(args, &range, false, nullptr);
    EXPECT_EQ(text(s), "aXd");
    Cell other = str("abcd");
    Cell args2[2] = {s, str("X")};
    EXPECT_EQ(raised([&] { string::change(args2, &other, false, nullptr); }), ids::invalid_refine_arg);
}

TEST_F(StringActions, MakeAndTo) {
    Cell m[2] = {datatype_cell(Type::string), integer_cell(100)};
    string::make(m, Type::string);
    EXPECT_TRUE(is(m[0], Type::string));
    EXPECT_EQ(string::length(m[0]), 0u);
    EXPECT_GE(memory::buffer(series_node(m[0]))->capacity, 100u);
    EXPECT_EQ(raised([] { test::make(Type::string, integer_cell(-1)); }), ids::out_of_range);
    EXPECT_EQ(raised([] { test::to(Type::string, none_cell()); }), ids::bad_to_arg);

    struct Case {
        const char* name;
        Type type;
        Cell spec;
        const char* expect;
    };
    Case cases[] = {
        {"block", Type::string, block({integer_cell(1), str("a"), word_value("b")}), "1ab"},
        {"string copy", Type::string, at(str("xabc"), 1), "abc"},
        {"binary", Type::string, binary("\xC3\xA9t\xC3\xA9"), "\u00e9t\u00e9"},
        {"integer", Type::string, integer_cell(-12), "-12"},
        {"char", Type::string, char_cell('z'), "z"},
        {"to file", Type::file, str("a b"), "a b"},
        {"make from a string", Type::string, str("abc"), "abc"},
    };
    for (const Case& c : cases) {
        Cell r = test::to(c.type, c.spec);
        EXPECT_EQ(type_of(r), c.type) << c.name;
        EXPECT_EQ(text(r), c.expect) << c.name;
    }
    Cell src = str("abc");
    Cell copy = test::to(Type::string, src);
    EXPECT_NE(series_node(copy), series_node(src));
    EXPECT_EQ(raised([] { test::to(Type::string, binary("ab\xC3")); }), ids::invalid_utf8);
}

TEST_F(StringActions, Compare) {
    struct Case {
        Cell a, b;
        int32_t op, expect;
    };
    Case cases[] = {
        {str("abc"), str("ABC"), 0, 0},
        {str("abc"), str("ABC"), 2, 1},
        {str("a"), str("ab"), 3, -1},
        {str("a"), str("ab"), 0, 1},
        {str("abc"), str("abc", Type::file), 0, 0},
        {str("abc"), str("abd", Type::file), 1, -1},
        {str("abc"), str("abc", Type::file), 3, -2},
        {str("1"), integer_cell(1), 0, -2},
        {str("b", Type::url), str("a", Type::url), 5, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(test::compare(c.a, c.b, c.op), c.expect) << text(c.a) << " " << text(c.b) << " " << c.op;
}

TEST_F(StringActions, Swap) {
    Cell a = str("ab"), b = str("cd");
    Cell args[2] = {a, b};
    string::swap(args);
    EXPECT_EQ(text(a), "cb");
    EXPECT_EQ(text(b), "ad");
    Cell w = str("\u4e2d");
    Cell args2[2] = {a, w};
    string::swap(args2);
    EXPECT_EQ(text(a), "\u4e2db");
    EXPECT_EQ(text(w), "c");
    Cell args3[2] = {a, integer_cell(1)};
    EXPECT_EQ(raised([&] { string::swap(args3); }), ids::invalid_arg);
    Cell args4[2] = {a, at(str("x"), 1)};
    string::swap(args4);
    EXPECT_EQ(text(a), "\u4e2db");
    Cell args5[2] = {binary("a"), a};
    EXPECT_EQ(raised([&] { string::swap(args5); }), ids::invalid_arg);
}

TEST_F(StringActions, Trim) {
    Cell x = char_cell('x');
    Cell set = str("ab");
    struct Case {
        const char* name;
        const char* start;
        actions::TrimRefs refs;
        const char* expect;
    };
    actions::TrimRefs plain, head, tail, lines, all, with_x, with_set;
    head.head = true;
    tail.tail = true;
    lines.lines = true;
    all.all = true;
    with_x.with = &x;
    with_set.with = &set;
    Case cases[] = {
        {"both ends", "  a  b  ", plain, "a  b"},
        {"head", "  a  ", head, "a  "},
        {"tail", "  a  ", tail, "  a"},
        {"lines", " a\n b ", lines, "a b"},
        {"all", " a\t b\r\n c ", all, "abc"},
        {"with char", "xaxbx", with_x, "ab"},
        {"with string", "abcabd", with_set, "cd"},
        {"each line", "  a  \n   b \t\n\n", plain, "a\nb\n"},
        {"unicode spaces", "\u3000a\u00a0", plain, "a"},
        {"nothing to do", "abc", plain, "abc"},
    };
    for (const Case& c : cases) {
        Cell s = str(c.start);
        Cell args[1] = {s};
        string::trim(args, c.refs);
        EXPECT_EQ(text(s), c.expect) << c.name;
    }
    actions::TrimRefs automatic;
    automatic.auto_ = true;
    Cell args[1] = {str("a")};
    EXPECT_EQ(raised([&] { string::trim(args, automatic); }), ids::not_done);
    // From the position on; what lies before stays.
    Cell s = str("  a  b  ");
    Cell args2[1] = {at(s, 4)};
    string::trim(args2, {});
    EXPECT_EQ(text(s), "  a b");
}

TEST_F(StringActions, PathSteps) {
    Cell s = str("a=1;b=2");
    Cell key = str("b=");
    Cell result;
    actions::PathStep step{&key, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false};
    string::eval_path(result, s, step);
    EXPECT_TRUE(is(result, Type::char_));
    EXPECT_EQ(result.w2, uint32_t('2'));
    Cell value = char_cell('9');
    step.value_to_set = &value;
    string::eval_path(result, s, step);
    EXPECT_EQ(text(s), "a=1;b=9");
    Cell missing = str("c=");
    step.element = &missing;
    EXPECT_EQ(raised([&] { string::eval_path(result, s, step); }), ids::bad_path_set);
    Cell w = word_value("x");
    step.element = &w;
    EXPECT_EQ(raised([&] { string::eval_path(result, s, step); }), ids::invalid_path);
}

TEST_F(StringActions, RowAndMold) {
    const actions::Row& row = datatype::row(Type::string);
    EXPECT_EQ(row.append.fn, &string::append);
    EXPECT_EQ(row.find.fn, &string::find);
    EXPECT_EQ(row.put.fn, nullptr);
    EXPECT_EQ(row.set_path.fn, nullptr);
    EXPECT_EQ(datatype::name(Type::string), "string!");
    EXPECT_EQ(mold_of(str(std::string(49, 'x'))), "\"" + std::string(49, 'x') + "\"");
    EXPECT_EQ(mold_of(str(std::string(50, 'x'))), "{" + std::string(50, 'x') + "}");
    EXPECT_EQ(mold_of(str("a\nb")), "\"a^/b\"");
    EXPECT_EQ(form_of(str("a\nb")), "a\nb");
}

TEST_F(StringActions, ChangeCaseWithLongPart) {
    Cell s = str("abc");
    Cell part = integer_cell(10);
    unicode::change_case(s, &part, true);
    EXPECT_EQ(text(s), "ABC");
    EXPECT_EQ(string::length(s), 3u);
}

TEST_F(StringActions, PokeCharAtGrows) {
    Cell s = str("");
    for (uint32_t i = 0; i < 100; ++i) string::poke_char_at(series_node(s), i, 'a' + i % 26);
    EXPECT_EQ(string::length(s), 100u);
    string::poke_char_at(series_node(s), 300, 0x4E2D);
    EXPECT_EQ(string::length(s), 301u);
    EXPECT_EQ(string::char_at(series_node(s), 300), 0x4E2Du);
    EXPECT_EQ(string::char_at(series_node(s), 150), 0u);
}

TEST_F(StringActions, UnderCollections) {
    memory::set_gc_stress(3);
    collector::set_enabled(true);
    uint32_t cycles = collector::cycles();
    Cell s = str("");
    collector::Root keep(s);
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        Cell v = i % 3 == 0 ? str("ab") : i % 3 == 1 ? char_cell(0xE9) : integer_cell(i);
        collector::Root keep_v(v);
        Cell args[2] = {s, v};
        collector::Root k0(args[0]), k1(args[1]);
        if (i % 2) string::append(args, nullptr, false, nullptr);
        else string::insert(args, nullptr, false, nullptr);
        std::string piece = i % 3 == 0 ? "ab" : i % 3 == 1 ? "\u00e9" : std::to_string(i);
        if (i % 2) expected += piece;
        else expected.insert(0, piece);
    }
    EXPECT_EQ(text(s), expected);
    Cell args[1] = {s};
    collector::Root k(args[0]);
    actions::SortRefs refs;
    string::sort(args, refs);
    EXPECT_EQ(string::length(s), string::length(str(expected)));
    EXPECT_GE(collector::cycles() - cycles, 3u);
    memory::set_gc_stress(0);
    collector::set_enabled(false);
}

}  // namespace

// --- change reports to an owning object ---------------------------------------------

namespace {

std::vector<std::string> reported;
void record_change(const Cell&, const Cell&, const Cell&, const Cell& action, const Cell&, int32_t,
                   int32_t, int32_t) {
    reported.emplace_back(symbol::name(word_symbol(action)));
}

// An object of one field, laid out as contexts lay it down, whose field owns
// the value bound to it.
Cell own(Cell value) {
    Node ctx = memory::alloc_cells(2);
    memory::buffer(ctx)->tail = memory::buffer(ctx)->head + 32;
    Node words = memory::alloc_cells(2);
    Node values = memory::alloc_cells(2);
    Cell field = make_cell(Type::word, ctx, symbol::make("field"), 0);
    memory::buffer(words)->cells()[0] = field;
    memory::buffer(values)->cells()[0] = value;
    memory::buffer(words)->tail = memory::buffer(words)->head + 16;
    memory::buffer(values)->tail = memory::buffer(values)->head + 16;
    Cell wv = series_cell(Type::block, words);
    Node table = hashtable::make(1, &wv, hashtable::kind_symbols);
    Cell object = make_cell(Type::object, ctx, 1000001, memory::alloc_cells(2));
    Cell* c = memory::buffer(ctx)->cells();
    c[0] = make_cell(Type::context, table, values);
    c[0].header |= 2u << header::context_kind_shift;
    c[1] = object;
    ownership::bind(value, object, field);
    return value;
}

struct Reports : StringActions {
    void SetUp() override {
        StringActions::SetUp();
        ownership::init();
        ownership::set_deep_change_hook(record_change);
        reported.clear();
    }
    void TearDown() override { ownership::set_deep_change_hook(nullptr); }
};

TEST_F(Reports, ModifyingActionsReportBeforeAndAfter) {
    using Words = std::vector<std::string>;
    Cell s = own(str("b a "));
    Cell args[2] = {s, str("c")};
    string::append(args, nullptr, false, nullptr);
    EXPECT_EQ(reported, (Words{"append", "appended"}));
    reported.clear();
    Cell ins[2] = {s, char_cell('x')};
    string::insert(ins, nullptr, false, nullptr);
    Cell chg[2] = {s, char_cell('y')};
    string::change(chg, nullptr, false, nullptr);
    Cell srt[1] = {s};
    string::sort(srt, {});
    Cell trm[1] = {s};
    string::trim(trm, {});
    Cell swp[2] = {s, str("z")};
    string::swap(swp);
    EXPECT_EQ(reported, (Words{"insert", "inserted", "change", "changed", "sort", "sorted", "trim",
                               "trimmed", "swap", "swaped"}));
    reported.clear();
    Cell plain = str("q");
    Cell other[2] = {plain, str("r")};
    string::append(other, nullptr, false, nullptr);
    EXPECT_TRUE(reported.empty());

    Cell bits = own(bitset::make_from(str("a"), bitset::Caller::make));
    Cell poke[3] = {bits, char_cell('b'), logic_cell(true)};
    bitset::poke(poke, 0);
    Cell app[2] = {bits, char_cell('c')};
    bitset::append(app, nullptr, false, nullptr);
    Cell part = char_cell('a');
    Cell rem[1] = {bits};
    bitset::remove(rem, &part, nullptr);
    Cell clr[1] = {bits};
    bitset::clear(clr);
    EXPECT_EQ(reported, (Words{"poke", "poked", "append", "appended", "remove", "removed", "clear",
                               "cleared"}));
    Cell refl[1] = {bits};
    bitset::reflect(refl, symbol::make("owned"));
    EXPECT_TRUE(is(refl[0], Type::object));
    Cell mod[3] = {bits, word_value("owned"), none_cell()};
    bitset::modify(mod, false);
    Cell refl2[1] = {bits};
    bitset::reflect(refl2, symbol::make("owned"));
    EXPECT_TRUE(is(refl2[0], Type::none));
    EXPECT_EQ(raised([&] { Cell r[1] = {bits}; bitset::reflect(r, symbol::make("size")); }), ids::not_done);
}

}  // namespace

namespace {

// What string! takes from series!: its row, once series! is registered first.
TEST_F(StringActions, InheritsFromSeries) {
    series::init();
    string::init();
    url::init();
    file::init();
    EXPECT_EQ(datatype::row(Type::string).pick.fn, &series::pick);
    EXPECT_EQ(datatype::row(Type::file).take.fn, &series::take);
    EXPECT_EQ(datatype::row(Type::string).append.fn, &string::append);

    Cell s = str("abc");
    Cell i = integer_cell(2);
    Cell result;
    actions::PathStep step{&i, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false};
    string::eval_path(result, s, step);
    EXPECT_TRUE(is(result, Type::char_));
    EXPECT_EQ(result.w2, uint32_t('b'));
    Cell value = char_cell('X');
    step.value_to_set = &value;
    string::eval_path(result, s, step);
    EXPECT_EQ(text(s), "aXc");

    Cell t[1] = {s};
    datatype::row(Type::string).take.fn(t, nullptr, false, false);
    EXPECT_TRUE(is(t[0], Type::char_));
    EXPECT_EQ(t[0].w2, uint32_t('a'));
    Cell two = integer_cell(2);
    Cell t2[1] = {s};
    datatype::row(Type::string).take.fn(t2, &two, false, false);
    EXPECT_EQ(text(t2[0]), "Xc");
    EXPECT_EQ(text(s), "");
}

}  // namespace
