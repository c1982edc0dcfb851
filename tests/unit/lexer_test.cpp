// Lexer: source text to values, by tables of text and expected shape.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "datatypes/paren.h"
#include "datatypes/series.h"
#include "runtime/collector.h"
#include "evaluator/lexer_internal.h"
#include "tests/unit/lexer_support.h"

using namespace lexer_test;

namespace {

// Every test starts the runtime the lexer builds on (symbols, global context).
struct Started : ::testing::Test {
    void SetUp() override { testing_contexts::start_runtime(); }
};
struct Lexer : Started {};
struct Transcode : Started {};
struct LexerMold : Started {};

struct Case {
    const char* text;
    const char* expected;
};

void check(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; i++) EXPECT_EQ(load(cases[i].text), cases[i].expected) << "source: " << cases[i].text;
}
#define CHECK_TABLE(t) check(t, sizeof t / sizeof *t)

TEST_F(Lexer, EmptyAndWhiteSpace) {
    static const Case cases[] = {
        {"", "[]"},
        {"   \t\r\n ", "[]"},
        {"; only a comment", "[]"},
        {"a\xC2\xA0" "b", "[a b]"},
        {"\xC2\xA0\xC2\xA0", "[]"},
        {"1\xE3\x80\x80" "2", "[1 2]"},
        {"x\xE2\x80\x8By", "[x y]"},
        // Inside strings and characters they are content.
        {"\"a\xC2\xA0" "b\" #\"\xC2\xA0\" {c\xE3\x80\x80}", "[\"a\xC2\xA0" "b\" char:160 \"c\xE3\x80\x80\"]"},
        {"<a\xC2\xA0" "b> %{\xC2\xA0}%", "[<a\xC2\xA0" "b> \"\xC2\xA0\"]"},
    };
    CHECK_TABLE(cases);
}

TEST_F(Lexer, Words) {
    static const Case cases[] = {
        {"abc", "[abc]"},
        {"a: 1", "[a: 1]"},
        {":a 'b", "[:a 'b]"},
        {"/ref", "[/ref]"},
        {"/ '/ :/ /:", "[/ '/ :/ /:]"},
        {"#iss", "[#iss]"},
        {"+ - = < > <= >=", "[+ - = < > <= >=]"},
        {"XYZ def", "[XYZ def]"},
        {"e Ee abc? a-b", "[e Ee abc? a-b]"},
    };
    CHECK_TABLE(cases);
}

TEST_F(Lexer, WordsAreBoundToTheGlobalContext) {
    using namespace zan;
    Cell b = lexer::load_utf8(reinterpret_cast<const uint8_t*>("lexword lexword: :lexword 'lexword /lexref #lexiss"), 49);
    collector::Root keep(b);
    Cell* v = memory::buffer(series_node(b))->cells();
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(word_context(v[i]), context::global()) << i;
        EXPECT_EQ(word_index(v[i]), word_index(v[0])) << i;
        EXPECT_GE(word_index(v[i]), 0) << i;
    }
    EXPECT_EQ(word_context(v[4]), 0u);  // refinements stay unbound
    EXPECT_EQ(word_context(v[5]), context::global());
    EXPECT_EQ(word_index(v[5]), -1);
}

TEST_F(Lexer, Integers) {
    static const Case cases[] = {
        {"0 7 -12 +3", "[0 7 -12 3]"},
        {"1'000'000", "[1000000]"},
        {"2147483647 -2147483648", "[2147483647 -2147483648]"},
        {"2147483648", "[2147483648.0]"},
        {"12345678901", "[12345678901.0]"},
        {"FFh 7Fh 00FFh", "[255 127 255]"},
        {"FFFFFFFFh", "[-1]"},
    };
    CHECK_TABLE(cases);
    EXPECT_EQ(scan_type("2147483648", false, true), int32_t(zan::Type::float_));
    EXPECT_EQ(scan_type("-2147483648", false, true), int32_t(zan::Type::integer));
}

TEST_F(Lexer, FloatsAndPercents) {
    static const Case cases[] = {
        {"1.5 -0.25 .5 1e3 1.5e-2", "[1.5 -0.25 0.5 1000.0 0.015]"},
        {"1'000.5", "[1000.5]"},
        {"1.#INF -1.#INF", "[inf -inf]"},
        {"50% 12.5%", "[50.0% 12.5%]"},
    };
    CHECK_TABLE(cases);
}

TEST_F(Lexer, Strings) {
    static const Case cases[] = {
        {"\"abc\"", "[\"abc\"]"},
        {"\"a^\"b\"", "[\"a\"b\"]"},
        {"\"^(41)^(tab)^-^/\"", "[\"A\t\t\n\"]"},
        {"{a {b} c}", "[\"a {b} c\"]"},
        {"{a^}b}", "[\"a}b\"]"},
        {"{line\nbreak}", "[\"line\nbreak\"]"},
        {"%{raw ^ {}%", "[\"raw ^ {\"]"},
        {"%%{a}%b}%%", "[\"a}%b\"]"},
        {"\"h\xC3\xA9\"", "[\"h\xC3\xA9\"]"},
    };
    CHECK_TABLE(cases);
}

TEST_F(Lexer, MoreLiterals) {
    static const Case cases[] = {
        {"007 -0", "[7 0]"},
        {"1e400", "[inf]"},
        {"12:30.5 10:00", "[time:750.5 time:36000.0]"},
        {"64#{QUI=} 64#{QQ==}", "[#{4142} #{41}]"},
        {"#{0A ; comment\n 0B}", "[#{0A0B}]"},
        {"2#{0000000100000010}", "[#{0102}]"},
        {"ABh 12h", "[171 18]"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "[1.2.3.4.5.6.7.8.9.10.11.12]"},
        {"ftp://a%20b", "[url:ftp://a b]"},
        {"<a <b>", "[<a <b>]"},
    };
    CHECK_TABLE(cases);
    static const Case errors[] = {
        {"1.5e", "error 2.2 (line 1)"},
        {"1''0", "error 2.2 (line 1)"},
        {"1h", "error 2.2 (line 1)"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "error 2.2 (line 1)"},
        {"64#{Q}", "error 2.2 (line 1)"},
        {"2#{0101}", "error 2.2 (line 1)"},
        {"3#{00}", "error 2.2 (line 1)"},
        {"1:", "error 2.2 (line 1)"},
        {"1:30:", "error 2.2 (line 1)"},
        {"1.#XYZ", "error 2.2 (line 1)"},
        {"''a", "error 2.2 (line 1)"},
        {"'a:", "error 2.2 (line 1)"},
        {"%%{a}%%%", "error 2.2 (line 1)"},
        {"%%{a}%", "error 2.2 (line 1)"},
        {"%\"a", "error 2.2 (line 1)"},
    };
    CHECK_TABLE(errors);
}

TEST_F(Lexer, StringUnits) {
    using namespace zan;
    Cell b = lexer::load_utf8(reinterpret_cast<const uint8_t*>("\"a^(1F600)\" \"a^(41)\" \"^(0100)\""), 31);
    Cell* v = memory::buffer(series_node(b))->cells();
    EXPECT_EQ(unit_of(v[0]), 4u);
    EXPECT_EQ(unit_of(v[1]), 1u);
    EXPECT_EQ(unit_of(v[2]), 2u);
}

TEST_F(Lexer, CharsFilesAndFriends) {
    static const Case cases[] = {
        {"#\"a\" #\"^(tab)\" #\"^\"\"", "[char:97 char:9 char:34]"},
        {"#\"\xE2\x82\xAC\"", "[char:8364]"},
        {"%a/b.txt %\"a b\" %a%20b", "[%a/b.txt %a b %a b]"},
        {"%\"a^\"b\"", "[%a\"b]"},
        {"http://x.y/z", "[url:http://x.y/z]"},
        {"a@b.c", "[email:a@b.c]"},
        {"<a href=\"x\">", "[<a href=\"x\">]"},
        {"@ref", "[@ref]"},
        {"#{0A ff} 2#{00000001} 64#{QUJD}", "[#{0AFF} #{01} #{414243}]"},
        {"1.2.3 255.0.0.1", "[1.2.3 255.0.0.1]"},
        {"1x2 -3x4", "[1x2 -3x4]"},
        {"1:30 1:02:03.5 -0:30", "[time:5400.0 time:3723.5 time:-1800.0]"},
        {"-1:30 +2:00", "[time:-5400.0 time:7200.0]"},
        {"#(true) #(none) #(integer!)", "[true none datatype:11]"},
    };
    CHECK_TABLE(cases);
}

TEST_F(Lexer, Nesting) {
    static const Case cases[] = {
        {"[a [b] (c)]", "[[a [b] (c)]]"},
        {"a/b", "[a/b]"},
        {"a/b:", "[a/b:]"},
        {"a/b: 1", "[a/b: 1]"},
        {"'a/b :a/b", "['a/b :a/b]"},
        {"a/1/(b)", "[a/1/(b)]"},
        {"[a/b]", "[[a/b]]"},
        {"[a/b:]", "[[a/b:]]"},
        {"a/b:[1]", "[a/b: [1]]"},
        {"a/b:\xC2\xA0" "1", "[a/b: 1]"},
        {"(a/b:)", "[(a/b:)]"},
    };
    CHECK_TABLE(cases);
}

TEST_F(Lexer, SyntaxErrors) {
    static const Case cases[] = {
        {"[a", "error 2.3 (line 1)"},
        {"]", "error 2.3 (line 1)"},
        {"(a]", "error 2.3 (line 1)"},
        {"\"abc", "error 2.2 (line 1)"},
        {"{abc", "error 2.2 (line 1)"},
        {"\n\n1.2.3.256", "error 2.2 (line 3)"},
        {"#\"\"", "error 2.2 (line 1)"},
        {"#\"ab\"", "error 2.2 (line 1)"},
        {"#{ABC}", "error 2.2 (line 1)"},
        {"#(foo)", "error 2.7 (line 1)"},
        {"\"^(110000)\"", "error 2.2 (line 1)"},
        {"\"^(1234567)\"", "error 2.2 (line 1)"},
        {"29-Feb-2023", "error 2.2 (line 1)"},
        {"31-Apr-2024", "error 2.2 (line 1)"},
        {"1a", "error 2.2 (line 1)"},
        {"a/:b/", "error 2.2 (line 1)"},
        {"a/b:c", "error 2.2 (line 1)"},
        {"a/b:/c", "error 2.2 (line 1)"},
        {"\\", "error 2.8 (line 1)"},
        {"1,5", "error 2.2 (line 1)"},
        {"%%{a}%\nb}%%\n]", "error 2.3 (line 3)"},
        {"{a\nb}\n]", "error 2.3 (line 3)"},
        {"#{00\n01} \"x\n\"", "error 2.2 (line 2)"},
    };
    CHECK_TABLE(cases);
}

TEST_F(Lexer, ErrorValues) {
    static const Case cases[] = {
        {"a [b c", "2.3|\"(line 1)\"|char:93|\"[b c\""},
        {"a\n]", "2.3|\"(line 2)\"|char:91|\"]\""},
        {"(a]", "2.3|\"(line 1)\"|char:41|\"(a]\""},
        {"x 1.2.3.256 y", "2.2|\"(line 1)\"|datatype:39|\"1.2.3.256 y\""},
        {"\\ x", "2.8|\"(line 1)\"|\"\\ x\""},
        {"#(foo) x", "2.7|\"(line 1)\"|\"#(foo) x\""},
        {"a\nb {c\nd", "2.2|\"(line 3)\"|datatype:7|\"{c\""},
        {"#\"\"", "2.2|\"(line 1)\"|datatype:10|\"#\"\"\""},
    };
    for (auto& c : cases) EXPECT_EQ(load_error(c.text), c.expected) << "source: " << c.text;
}

TEST_F(Lexer, NearTextOfErrors) {
    auto near = [](const std::string& s) {
        auto b = reinterpret_cast<const uint8_t*>(s.data());
        return std::string(s.data(), size_t(zan::lexer::near_end(b, b + s.size()) - b));
    };
    EXPECT_EQ(near("[a b\nc]"), "[a b");
    EXPECT_EQ(near("short"), "short");
    std::string long_ascii(40, 'x');
    EXPECT_EQ(near(long_ascii), std::string(30, 'x'));
    // 29 bytes, then a 3-byte character: the cut comes after it, not inside.
    std::string wide = std::string(29, 'y') + "\xE2\x82\xAC" + "zzz";
    EXPECT_EQ(near(wide), std::string(29, 'y') + "\xE2\x82\xAC");
}

TEST_F(Lexer, LiteralsOfLaterDatatypes) {
    static const Case cases[] = {
        {"#[a 1]", "[type:40]"},
    };
    CHECK_TABLE(cases);
    using zan::Type;
    struct T { const char* text; Type type; } types[] = {
        {"1-Jan-2024", Type::date}, {"2024-01-05", Type::date}, {"5/7/2024", Type::date},
        {"2024-W01-1", Type::date}, {"2024-032", Type::date}, {"20240105T1030Z", Type::date},
        {"1-Jan-2024/10:30:00+2:00", Type::date}, {"29-Feb-2024", Type::date},
        {"$1.50", Type::money}, {"-EUR$1'000.5", Type::money}, {"(1, 2)", Type::point2d},
        {"(1.5, 2, 3)", Type::point3d}, {"#[a 1]", Type::map}, {"1x2", Type::pair},
    };
    for (auto& t : types) EXPECT_EQ(scan_type(t.text, false, true), int32_t(t.type)) << t.text;
    const char* invalid[] = {
        "$'1", "$1''0", "$1'", "ABCD$1", "$1.123456", "$1.", "$1,5'0", "$123456789012345678",
        "29-Feb-2023", "31-Apr-2024", "0-Jan-2024", "1-Foo-2024", "1-Ja-2024", "1-Jan-2024/24:00",
        "1-Jan-2024/10:60", "1-Jan-2024/10:00+16:00", "2024-W54", "2024-W01-8", "2024-000",
        "2023-366", "1-13-2024", "1/Jan-2024", "20240105T2500",
    };
    for (const char* t : invalid) EXPECT_EQ(scan_type(t, false, true), int32_t(Type::error)) << t;
    EXPECT_EQ(scan_type("#[a]", false, true), int32_t(Type::map));
    EXPECT_EQ(load("#[a]"), "error 2.2 (line 1)");
}

TEST_F(Lexer, DateFields) {
    struct Case { const char* text; int y, m, d; double secs; int zh, zm; bool time; } cases[] = {
        {"05-Jan-2024", 2024, 1, 5, 0, 0, 0, false},
        {"2024-Jan-05", 2024, 1, 5, 0, 0, 0, false},
        {"05-Jan-07", 2007, 1, 5, 0, 0, 0, false},
        {"1-Jan-49", 2049, 1, 1, 0, 0, 0, false},
        {"1-Jan-50", 1950, 1, 1, 0, 0, 0, false},
        {"5/7/2024", 2024, 7, 5, 0, 0, 0, false},
        {"2024-07-05", 2024, 7, 5, 0, 0, 0, false},
        {"1-September-2024", 2024, 9, 1, 0, 0, 0, false},
        {"1-sep-2024/10:30:15.5+5:30", 2024, 9, 1, 37815.5, 5, 30, true},
        {"1-Jan-2024T8:05-3", 2024, 1, 1, 29100, -3, 0, true},
        {"20240105T103000Z", 2024, 1, 5, 37800, 0, 0, true},
        {"29-Feb-2000", 2000, 2, 29, 0, 0, 0, false},
    };
    for (auto& c : cases) {
        zan::lexer::DateFields f;
        auto b = reinterpret_cast<const uint8_t*>(c.text);
        ASSERT_TRUE(zan::lexer::read_date(b, b + std::strlen(c.text), f)) << c.text;
        EXPECT_EQ(f.year, c.y) << c.text;
        EXPECT_EQ(f.month, c.m) << c.text;
        EXPECT_EQ(f.day, c.d) << c.text;
        EXPECT_DOUBLE_EQ(f.seconds, c.secs) << c.text;
        EXPECT_EQ(f.zone_negative ? -f.zone_hours : f.zone_hours, c.zh) << c.text;
        EXPECT_EQ(f.zone_minutes, c.zm) << c.text;
        EXPECT_EQ(f.has_time, c.time) << c.text;
    }
    zan::lexer::DateFields f;
    // A zone less than an hour west of UTC keeps its sign.
    auto west = reinterpret_cast<const uint8_t*>("1-Jan-2024/10:00-0:30");
    ASSERT_TRUE(zan::lexer::read_date(west, west + 21, f));
    EXPECT_TRUE(f.zone_negative);
    EXPECT_EQ(f.zone_hours, 0);
    EXPECT_EQ(f.zone_minutes, 30);
    auto week = reinterpret_cast<const uint8_t*>("2024-W10-3");
    ASSERT_TRUE(zan::lexer::read_date(week, week + 10, f));
    EXPECT_EQ(f.week, 10);
    EXPECT_EQ(f.weekday, 3);
    auto yday = reinterpret_cast<const uint8_t*>("2024-366");
    ASSERT_TRUE(zan::lexer::read_date(yday, yday + 8, f));
    EXPECT_EQ(f.yearday, 366);
}

TEST_F(Lexer, PrescanAndScanAnswerTypes) {
    using zan::Type;
    EXPECT_EQ(scan_type("[1 2", true), int32_t(Type::error));
    EXPECT_EQ(scan_type("[1 2]", true), int32_t(Type::block));
    EXPECT_EQ(scan_type("{abc", true), int32_t(Type::error));
    EXPECT_EQ(scan_type("", true), 0);
    EXPECT_EQ(scan_type("12 abc", false, true), int32_t(Type::integer));
    // Tokens whose routines do not run in prescan still move the scan on.
    EXPECT_EQ(scan_type("[(1, 2) <t> 50% #\"a\" %\"f\" x]", true), int32_t(Type::block));
    EXPECT_EQ(scan_type("[\"a\" #{00}]", true), int32_t(Type::block));
    EXPECT_EQ(scan_type("a/b c", true), int32_t(Type::path));
    EXPECT_EQ(scan_type("a/b: c", true), int32_t(Type::set_path));
    EXPECT_EQ(scan_type("1 2 x", false, false), int32_t(Type::word));
    EXPECT_EQ(scan_type("a: 1", false, true), int32_t(Type::set_word));
    EXPECT_EQ(scan_type("1.2.3.999", false, true), int32_t(Type::error));
    EXPECT_EQ(zan::lexer::prescan(reinterpret_cast<const uint8_t*>("print [1"), 8), int32_t(Type::word));
    EXPECT_EQ(zan::lexer::prescan(reinterpret_cast<const uint8_t*>("[print 1"), 8), int32_t(Type::error));
}

TEST_F(Lexer, TranscodeTextForWordNames) {
    using namespace zan;
    Cell first = none_cell();
    EXPECT_EQ(lexer::transcode_text("abc:", first), 1);
    EXPECT_EQ(show(first), "abc:");
    EXPECT_EQ(lexer::transcode_text("a b", first), 2);
    EXPECT_EQ(show(first), "a");
    EXPECT_EQ(lexer::transcode_text("", first), 0);
    EXPECT_EQ(lexer::transcode_text("a]", first), -1);
    lexer::init();
    EXPECT_EQ(word::transcode, &lexer::transcode_text);
    EXPECT_EQ(word::transcode_name(word::load("abc")), int32_t(Type::word));
}

TEST_F(Lexer, NewLineMarkers) {
    using namespace zan;
    Cell b = lexer::load_utf8(reinterpret_cast<const uint8_t*>("a\nb [\nc]"), 8);
    Cell* v = memory::buffer(series_node(b))->cells();
    EXPECT_FALSE(newline_before(v[0]));
    EXPECT_TRUE(newline_before(v[1]));
    EXPECT_FALSE(newline_before(v[2]));
    Cell* inner = memory::buffer(series_node(v[2]))->cells();
    EXPECT_TRUE(newline_before(inner[0]));
    // Line breaks inside a token do not mark it; one before it does.
    Cell m = lexer::load_utf8(reinterpret_cast<const uint8_t*>("a #{00\n01} %{x\ny}% {p\nq}\n{r}"), 31);
    Cell* w = memory::buffer(series_node(m))->cells();
    EXPECT_FALSE(newline_before(w[1]));
    EXPECT_FALSE(newline_before(w[2]));
    EXPECT_FALSE(newline_before(w[3]));
    EXPECT_TRUE(newline_before(w[4]));
}

TEST_F(Lexer, DecimalReaders) {
    using namespace zan;
    int32_t err;
    EXPECT_EQ(lexer::scan_integer("-2147483648", 11, 1, err), INT32_MIN);
    EXPECT_EQ(err, 0);
    lexer::scan_integer("2147483648", 10, 1, err);
    EXPECT_EQ(err, -2);
    lexer::scan_integer("12a", 3, 1, err);
    EXPECT_EQ(err, -1);
    const char16_t wide[] = u"1'234";
    EXPECT_EQ(lexer::scan_integer(wide, 5, 2, err), 1234);
    EXPECT_DOUBLE_EQ(lexer::scan_float("2,5", 3, 1, err), 2.5);
    EXPECT_EQ(err, 0);
    lexer::scan_float("2..5", 4, 1, err);
    EXPECT_EQ(err, -1);
    Cell t;
    lexer::scan_tuple("1.2.300", 7, 1, err, t);
    EXPECT_EQ(err, -1);
    lexer::scan_tuple("1.2.3", 5, 1, err, t);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(show(t), "1.2.3");
}

}  // namespace

// --- transcode and callbacks -------------------------------------------------------------

namespace {

using namespace zan;

// A string! or binary! of the bytes whose buffer stays alive (and in the
// node table) for the whole test.
Cell make_source(Type t, const std::string& utf8) {
    static std::vector<std::unique_ptr<Node>> kept_nodes;
    static std::vector<std::unique_ptr<collector::NodeRoot>> roots;
    Node n = memory::alloc_series(uint32_t(utf8.size() ? utf8.size() : 1), 1);
    memory::Series* s = memory::buffer(n);
    std::memcpy(s->at_head(), utf8.data(), utf8.size());
    s->tail = s->head + uint32_t(utf8.size());
    kept_nodes.push_back(std::make_unique<Node>(n));
    roots.push_back(std::make_unique<collector::NodeRoot>(*kept_nodes.back(), collector::NodeRoot::As::buffer));
    return series_cell(t, n);
}

Cell block_at(const Cell& b, uint32_t i) { return memory::buffer(series_node(b))->cells()[i]; }
uint32_t block_length(const Cell& b) { return memory::buffer(series_node(b))->length(); }

TEST_F(Transcode, ResultsByRefinement) {
    Cell src = make_source(Type::string, "1 [a] c");
    lexer::TranscodeRefs none;
    EXPECT_EQ(show(lexer::transcode(src, none)), "[1 [a] c]");

    lexer::TranscodeRefs one;
    one.one = true;
    EXPECT_EQ(show(lexer::transcode(src, one)), "1");

    lexer::TranscodeRefs next;
    next.next = true;
    Cell r = lexer::transcode(src, next);
    ASSERT_EQ(block_length(r), 2u);
    EXPECT_EQ(show(block_at(r, 0)), "1");
    EXPECT_EQ(series_index(block_at(r, 1)), 1u);  // after "1"

    Cell at = src;
    at.w1 = 2;
    r = lexer::transcode(at, next);
    EXPECT_EQ(show(block_at(r, 0)), "[a]");
    EXPECT_EQ(series_index(block_at(r, 1)), 5u);

    lexer::TranscodeRefs scan;
    scan.scan = true;
    scan.one = true;
    EXPECT_EQ(show(lexer::transcode(src, scan)), "datatype:11");
    lexer::TranscodeRefs pre;
    pre.prescan = true;
    pre.one = true;
    Cell bad = make_source(Type::string, "[1 2");
    EXPECT_EQ(show(lexer::transcode(bad, pre)), "datatype:34");
    Cell empty = make_source(Type::string, "");
    EXPECT_EQ(show(lexer::transcode(empty, pre)), "none");
}

TEST_F(Transcode, PartIsClampedToTheTail) {
    Cell src = make_source(Type::binary, "12 34");
    lexer::TranscodeRefs part;
    part.part = true;
    part.part_arg = integer_cell(2);
    EXPECT_EQ(show(lexer::transcode(src, part)), "[12]");
    part.part_arg = integer_cell(1000000);
    EXPECT_EQ(show(lexer::transcode(src, part)), "[12 34]");
    part.part_arg = integer_cell(-5);
    EXPECT_EQ(show(lexer::transcode(src, part)), "[]");
    Cell pos = src;
    pos.w1 = 4;
    part.part_arg = pos;
    EXPECT_EQ(show(lexer::transcode(src, part)), "[12 3]");
}

TEST_F(Transcode, PartPositionOfAnotherTypeIsRefused) {
    Cell src = make_source(Type::string, "1 2");
    lexer::TranscodeRefs part;
    part.part = true;
    part.part_arg = make_source(Type::binary, "xx");
    try {
        lexer::transcode(src, part);
        ADD_FAILURE() << "no error";
    } catch (const unwind::Thrown&) {
        EXPECT_EQ(errors::pending_id(), (errors::Id{errors::Category::script, 20}));
    }
}

TEST_F(Transcode, ScanStringCountsCharacters) {
    Cell src = make_source(Type::string, "abc def ghi");
    src.w1 = 4;
    Cell result = none_cell();
    lexer::ScanRequest req;
    uint32_t consumed = 0;
    EXPECT_EQ(lexer::scan_string(&result, src, 3, req, &consumed), int32_t(Type::word));
    EXPECT_EQ(show(result), "[def]");
    EXPECT_EQ(consumed, 3u);
}

TEST_F(Transcode, BinaryByteOrderMarkAndInto) {
    Cell src = make_source(Type::binary, "\xEF\xBB\xBF" "a b");
    Cell into;
    block::make_at(into, 1);
    collector::Root keep(into);
    lexer::TranscodeRefs r;
    r.into = &into;
    Cell out = lexer::transcode(src, r);
    EXPECT_EQ(show(out), "[a b]");
    lexer::transcode(make_source(Type::string, "c"), r);
    EXPECT_EQ(show(into), "[a b c]");
}

TEST_F(Transcode, StringConsumedIsInCharacters) {
    Cell src = make_source(Type::string, "x");
    // A wide string: "é 1" with unit 2.
    Node n = memory::alloc_series(3, 2);
    collector::NodeRoot keep(n, collector::NodeRoot::As::buffer);
    memory::Series* s = memory::buffer(n);
    const uint16_t chars[] = {0xE9, ' ', '1'};
    std::memcpy(s->at_head(), chars, sizeof chars);
    s->tail = s->head + sizeof chars;
    src = series_cell(Type::string, n);
    lexer::TranscodeRefs next;
    next.next = true;
    Cell r = lexer::transcode(src, next);
    EXPECT_EQ(show(block_at(r, 0)), "\xC3\xA9");
    EXPECT_EQ(series_index(block_at(r, 1)), 1u);
}

// A recording callback: every event with its code and token.
struct Recorder {
    std::vector<std::string> log;
    uint32_t mask = lexer::all_events;
    bool (*answer)(const lexer::EventArgs&) = nullptr;
};
Recorder* recorder = nullptr;

const char* event_name(uint32_t e) {
    switch (e) {
        case lexer::ev_prescan: return "prescan";
        case lexer::ev_scan: return "scan";
        case lexer::ev_load: return "load";
        case lexer::ev_open: return "open";
        case lexer::ev_close: return "close";
        default: return "error";
    }
}

bool record(const Cell&, lexer::EventArgs& a) {
    std::string tok = is(a.token, Type::pair) ? std::to_string(a.token.w2) + "x" + std::to_string(a.token.w3)
                                              : show(a.token);
    recorder->log.push_back(std::string(event_name(a.event)) + " " + std::to_string(a.code) + " " + tok);
    return recorder->answer ? recorder->answer(a) : true;
}
uint32_t record_mask(const Cell&) { return recorder->mask; }

struct CallbackFixture : ::testing::Test {
    Recorder rec;
    void SetUp() override {
        testing_contexts::start_runtime();
        recorder = &rec;
        lexer::set_callback_hooks({record, record_mask});
    }
    void TearDown() override {
        lexer::set_callback_hooks({});
        recorder = nullptr;
    }
    Cell run(const std::string& text) {
        Cell src = make_source(Type::string, text);
        Cell cb = none_cell();
        lexer::TranscodeRefs r;
        r.trace = &cb;
        return lexer::transcode(src, r);
    }
};

TEST_F(CallbackFixture, LoadEventsOnly) {
    rec.mask = lexer::ev_load;
    EXPECT_EQ(show(run("a [1]")), "[a [1]]");
    std::vector<std::string> want = {"load 15 a", "load 11 1"};
    EXPECT_EQ(rec.log, want);
}

TEST_F(CallbackFixture, LoadSubscriberOfAScanSeesValues) {
    rec.mask = lexer::ev_load;
    Cell src = make_source(Type::string, "abc 12");
    Cell cb = none_cell();
    lexer::TranscodeRefs r;
    r.trace = &cb;
    r.scan = true;
    EXPECT_EQ(show(lexer::transcode(src, r)), "datatype:11");
    std::vector<std::string> want = {"load 15 abc", "load 11 12"};
    EXPECT_EQ(rec.log, want);
}

TEST_F(CallbackFixture, FalseToLoadDropsTheValue) {
    rec.mask = lexer::ev_load;
    rec.answer = [](const lexer::EventArgs& a) { return !(is(a.token, Type::integer) && int_of(a.token) == 2); };
    EXPECT_EQ(show(run("1 2 3")), "[1 3]");
}

TEST_F(CallbackFixture, OpenAndCloseOfLevels) {
    rec.mask = lexer::ev_open | lexer::ev_close;
    run("[(a)]");
    std::vector<std::string> want = {"open 5 1x2", "open 6 2x3", "close 6 4x5", "close 5 5x6"};
    EXPECT_EQ(rec.log, want);
}

TEST_F(CallbackFixture, PrescanCodesForUntypedTokens) {
    rec.mask = lexer::ev_prescan;
    run("[x]");
    ASSERT_EQ(rec.log.size(), 3u);
    EXPECT_EQ(rec.log[0], "prescan -3 1x1");  // kind 2, "[", before it is consumed
    EXPECT_EQ(rec.log[1], "prescan 15 2x3");
    EXPECT_EQ(lexer::exit_state_name(2), std::string("block"));
    EXPECT_EQ(lexer::exit_state_name(36), nullptr);
    EXPECT_EQ(lexer::exit_state_name(-1), nullptr);
}

TEST_F(CallbackFixture, FalseToErrorSkipsTheBadTokenAndGoesOn) {
    rec.mask = lexer::ev_error;
    rec.answer = [](const lexer::EventArgs&) { return false; };
    EXPECT_EQ(show(run("1 1.2.3.999 2 \\ 3")), "[1 2 3]");
    ASSERT_EQ(rec.log.size(), 2u);
    EXPECT_EQ(rec.log[0].substr(0, 8), "error 39");  // tuple!
}

TEST_F(CallbackFixture, TrueToErrorRaisesTheSyntaxError) {
    rec.mask = lexer::ev_error;
    Cell src = make_source(Type::string, "1 #\"\"");
    Cell cb = none_cell();
    lexer::TranscodeRefs r;
    r.trace = &cb;
    EXPECT_THROW(lexer::transcode(src, r), unwind::Thrown);
    ASSERT_EQ(rec.log.size(), 1u);
    EXPECT_EQ(rec.log[0].substr(0, 8), "error 10");  // char!
}

TEST_F(CallbackFixture, MissingIsReportedAtTheOpener) {
    rec.mask = lexer::ev_error;
    struct Case { const char* text; const char* event; } cases[] = {
        {"a [b c", "error 5 3x"},   // at the "["
        {"x (y [z]", "error 6 3x"},  // at the "("
        {"a ]", "error 5 3x"},      // at the "]"
        {"a {b", "error 7 3x"},     // a braced string at its "{"
    };
    for (auto& c : cases) {
        rec.log.clear();
        EXPECT_THROW(run(c.text), unwind::Thrown) << c.text;
        ASSERT_EQ(rec.log.size(), 1u) << c.text;
        EXPECT_EQ(rec.log[0].substr(0, std::strlen(c.event)), c.event) << c.text;
    }
}

TEST_F(CallbackFixture, MovingTheInputIndexMovesTheScan) {
    rec.mask = lexer::ev_load;
    rec.answer = [](const lexer::EventArgs& a) {
        // After the first value, jump over "skip".
        if (is(a.token, Type::integer) && int_of(a.token) == 1) const_cast<lexer::EventArgs&>(a).input.w1 = 7;
        return true;
    };
    EXPECT_EQ(show(run("1 skip 2")), "[1 2]");
}

TEST_F(CallbackFixture, CallbacksMayRunTheLexerAgain) {
    // Every close event loads a big text, so the shared output buffer grows
    // under the outer scan.
    rec.mask = lexer::ev_close;
    rec.answer = [](const lexer::EventArgs&) {
        std::string big;
        for (int i = 0; i < 3000; i++) big += "[x] ";
        lexer::set_callback_hooks({});
        Cell inner = lexer::load_utf8(reinterpret_cast<const uint8_t*>(big.data()), uint32_t(big.size()));
        lexer::set_callback_hooks({record, record_mask});
        EXPECT_EQ(block_length(inner), 3000u);
        return true;
    };
    EXPECT_EQ(show(run("a [b [c] d] (e)")), "[a [b [c] d] (e)]");
    EXPECT_EQ(rec.log.size(), 3u);
}

}  // namespace

// --- the loaded values through their own mold -------------------------------------------------

namespace {

std::string load_mold(const std::string& text) {
    testing_contexts::start_runtime();
    if (!datatype::registered(Type::series)) series::init();
    if (!datatype::registered(Type::block)) block::init();
    if (!datatype::registered(Type::paren)) paren::init();
    Cell b = lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    collector::Root keep(b);
    return mold::mold_text(b);
}

TEST_F(LexerMold, ValuesMoldAsTheyWereWritten) {
    static const Case cases[] = {
        {"1 -2 2147483648 1.5 1e20", "[1 -2 2147483648.0 1.5 1.0e20]"},
        {"#\"a\" #\"^(tab)\" #(true) #(none)", "[#\"a\" #\"^-\" true none]"},
        {"[1 (2 3)] []", "[[1 (2 3)] []]"},
        {"a b: :c 'd /e a/b/c :a/b 'a/b a/b:", "[a b: :c 'd /e a/b/c :a/b 'a/b a/b:]"},
        {"1 [\n2 [\n3]]", "[1 [\n    2 [\n        3\n    ]\n]]"},
    };
    for (auto& c : cases) EXPECT_EQ(load_mold(c.text), c.expected) << "source: " << c.text;
}

}  // namespace

// --- collections while loading --------------------------------------------------------------

namespace {

using namespace zan;

// Until the series datatypes register their cell markers, the test marks
// their buffers itself, so that it checks the lexer's own rooting.
struct StressFixture : ::testing::Test {
    std::vector<std::pair<Type, collector::CellMarker>> saved;
    static void mark_block(Cell& c) { collector::mark_series(c.w2); }
    static void mark_bytes(Cell& c) { collector::mark_node(c.w2); }
    void SetUp() override {
        testing_contexts::start_runtime();
        for (Type t : {Type::block, Type::paren, Type::path, Type::set_path, Type::lit_path, Type::get_path})
            stand_in(t, mark_block);
        for (Type t : {Type::string, Type::file, Type::url, Type::tag, Type::email, Type::ref, Type::binary})
            stand_in(t, mark_bytes);
        was_enabled = collector::enabled();
        collector::set_enabled(true);
        memory::set_gc_stress(1);
    }
    bool was_enabled = false;
    void stand_in(Type t, collector::CellMarker m) {
        saved.emplace_back(t, collector::cell_marker(t));
        if (!collector::cell_marker(t)) collector::set_cell_marker(t, m);
    }
    void TearDown() override {
        memory::set_gc_stress(0);
        collector::set_enabled(was_enabled);
        for (auto& [t, m] : saved) collector::set_cell_marker(t, m);
    }
};

TEST_F(StressFixture, NestedValuesSurviveCollections) {
    uint32_t before = collector::cycles();
    std::string text = "a [b \"s1\" [c %f (d \"s2\") x/y/\"z\"] #{0102}] {br {ace}} <t> @r http://u";
    EXPECT_EQ(load(text),
              "[a [b \"s1\" [c %f (d \"s2\") x/y/\"z\"] #{0102}] \"br {ace}\" <t> @r url:http://u]");
    EXPECT_GT(collector::cycles(), before);
    EXPECT_EQ(load("[1 \"abc"), "error 2.2 (line 1)");
    EXPECT_EQ(memory::verify_heap(), nullptr);
}

}  // namespace
