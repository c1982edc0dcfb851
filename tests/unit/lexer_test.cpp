// Lexer: source text to values, by tables of text and expected shape.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/collector.h"
#include "tests/unit/lexer_support.h"

using namespace lexer_test;

namespace {

struct Case {
    const char* text;
    const char* expected;
};

void check(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; i++) EXPECT_EQ(load(cases[i].text), cases[i].expected) << "source: " << cases[i].text;
}
#define CHECK_TABLE(t) check(t, sizeof t / sizeof *t)

TEST(Lexer, EmptyAndWhiteSpace) {
    static const Case cases[] = {
        {"", "[]"},
        {"   \t\r\n ", "[]"},
        {"; only a comment", "[]"},
        {"a\xC2\xA0" "b", "[a b]"},
        {"\xC2\xA0\xC2\xA0", "[]"},
        {"1\xE3\x80\x80" "2", "[1 2]"},
        {"x\xE2\x80\x8By", "[x y]"},
    };
    CHECK_TABLE(cases);
}

TEST(Lexer, Words) {
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

TEST(Lexer, Integers) {
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

TEST(Lexer, FloatsAndPercents) {
    static const Case cases[] = {
        {"1.5 -0.25 .5 1e3 1.5e-2", "[1.5 -0.25 0.5 1000.0 0.015]"},
        {"1'000.5", "[1000.5]"},
        {"1.#INF -1.#INF", "[inf -inf]"},
        {"50% 12.5%", "[50.0% 12.5%]"},
    };
    CHECK_TABLE(cases);
}

TEST(Lexer, Strings) {
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

TEST(Lexer, MoreLiterals) {
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

TEST(Lexer, StringUnits) {
    using namespace zan;
    Cell b = lexer::load_utf8(reinterpret_cast<const uint8_t*>("\"a^(1F600)\" \"a^(41)\" \"^(0100)\""), 31);
    Cell* v = memory::buffer(series_node(b))->cells();
    EXPECT_EQ(unit_of(v[0]), 4u);
    EXPECT_EQ(unit_of(v[1]), 1u);
    EXPECT_EQ(unit_of(v[2]), 2u);
}

TEST(Lexer, CharsFilesAndFriends) {
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
        {"#(true) #(none) #(integer!)", "[true none datatype:11]"},
    };
    CHECK_TABLE(cases);
}

TEST(Lexer, Nesting) {
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

TEST(Lexer, SyntaxErrors) {
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
    };
    CHECK_TABLE(cases);
}

TEST(Lexer, LiteralsOfLaterDatatypes) {
    static const Case cases[] = {
        {"1-Jan-2024", "error 3.12 datatype:47"},
        {"$1.50", "error 3.12 datatype:49"},
        {"(1, 2)", "error 3.12 datatype:51"},
        {"(1, 2, 3)", "error 3.12 datatype:52"},
        {"#[a 1]", "error 3.12 datatype:40"},
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
    EXPECT_EQ(scan_type("#[a]", false, true), int32_t(Type::map));
    EXPECT_EQ(load("#[a]"), "error 2.2 (line 1)");
}

TEST(Lexer, PrescanAndScanAnswerTypes) {
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

TEST(Lexer, NewLineMarkers) {
    using namespace zan;
    Cell b = lexer::load_utf8(reinterpret_cast<const uint8_t*>("a\nb [\nc]"), 8);
    Cell* v = memory::buffer(series_node(b))->cells();
    EXPECT_FALSE(newline_before(v[0]));
    EXPECT_TRUE(newline_before(v[1]));
    EXPECT_FALSE(newline_before(v[2]));
    Cell* inner = memory::buffer(series_node(v[2]))->cells();
    EXPECT_TRUE(newline_before(inner[0]));
}

TEST(Lexer, DecimalReaders) {
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

Cell make_source(Type t, const std::string& utf8) {
    Node n = memory::alloc_series(uint32_t(utf8.size() ? utf8.size() : 1), 1);
    memory::Series* s = memory::buffer(n);
    std::memcpy(s->at_head(), utf8.data(), utf8.size());
    s->tail = s->head + uint32_t(utf8.size());
    return series_cell(t, n);
}

Cell block_at(const Cell& b, uint32_t i) { return memory::buffer(series_node(b))->cells()[i]; }
uint32_t block_length(const Cell& b) { return memory::buffer(series_node(b))->length(); }

TEST(Transcode, ResultsByRefinement) {
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

TEST(Transcode, PartIsClampedToTheTail) {
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

TEST(Transcode, BinaryByteOrderMarkAndInto) {
    Cell src = make_source(Type::binary, "\xEF\xBB\xBF" "a b");
    Cell into = series_cell(Type::block, memory::alloc_cells(1));
    lexer::TranscodeRefs r;
    r.into = &into;
    Cell out = lexer::transcode(src, r);
    EXPECT_EQ(show(out), "[a b]");
    lexer::transcode(make_source(Type::string, "c"), r);
    EXPECT_EQ(show(into), "[a b c]");
}

TEST(Transcode, StringConsumedIsInCharacters) {
    Cell src = make_source(Type::string, "x");
    // A wide string: "é 1" with unit 2.
    Node n = memory::alloc_series(3, 2);
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

TEST_F(CallbackFixture, MovingTheInputIndexMovesTheScan) {
    rec.mask = lexer::ev_load;
    rec.answer = [](const lexer::EventArgs& a) {
        // After the first value, jump over "skip".
        if (is(a.token, Type::integer) && int_of(a.token) == 1) const_cast<lexer::EventArgs&>(a).input.w1 = 7;
        return true;
    };
    EXPECT_EQ(show(run("1 skip 2")), "[1 2]");
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
