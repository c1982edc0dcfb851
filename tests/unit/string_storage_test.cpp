// string! storage: units and widening, reading and writing characters,
// concatenation, text comparison, form and mold.
#include "datatypes/string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"
#include "runtime/unwind.h"

using namespace zan;

namespace {

template <typename F>
std::optional<errors::Id> raised(F&& f) {
    try {
        f();
    } catch (const unwind::Thrown&) {
        return errors::pending_id();
    }
    return std::nullopt;
}

uint32_t unit_of(Node n) { return memory::buffer(n)->unit(); }

// A rooted string value made from UTF-8 text.
struct Str {
    Cell cell;
    collector::Root root{cell};
    explicit Str(std::string_view utf8 = "", uint32_t capacity = 4) {
        cell = string::make_cell(string::make_buffer(capacity));
        string::append_utf8(node(), utf8);
    }
    Node node() const { return series_node(cell); }
    std::string text() const { return string::to_utf8(cell); }
    std::string all() const { return string::to_utf8(string::make_cell(node())); }
    uint32_t unit() const { return unit_of(node()); }
};

}  // namespace

// --- units ----------------------------------------------------------------------------

TEST(StringUnits, AppendKeepsUnitOneForAsciiOnly) {
    struct Case {
        uint32_t cp;
        uint32_t unit;
    } cases[] = {{0x41, 1}, {0x7F, 1}, {0x80, 2}, {0xE9, 2}, {0xFFFF, 2}, {0x10000, 4}, {0x1F600, 4}};
    for (const Case& c : cases) {
        Str s("ab");
        string::append_char(s.node(), c.cp);
        EXPECT_EQ(s.unit(), c.unit) << std::hex << c.cp;
        EXPECT_EQ(string::buffer_length(s.node()), 3u);
        EXPECT_EQ(string::char_at(s.node(), 0), uint32_t('a'));
        EXPECT_EQ(string::char_at(s.node(), 2), c.cp);
    }
}

TEST(StringUnits, PokeAndInsertKeepUnitOneForLatin1) {
    Str s("abc");
    string::poke_char(s.node(), 1, 0xE9);
    EXPECT_EQ(s.unit(), 1u);
    string::insert_char_at(s.node(), 0, 0xFF);
    EXPECT_EQ(s.unit(), 1u);
    EXPECT_EQ(s.text(), "\xC3\xBF" "a\xC3\xA9" "c");
    string::poke_char(s.node(), 3, 0x20AC);
    EXPECT_EQ(s.unit(), 2u);
    string::insert_char_at(s.node(), 4, 0x1F600);
    EXPECT_EQ(s.unit(), 4u);
    EXPECT_EQ(s.text(), "\xC3\xBF" "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(StringUnits, WideningOneToTwoToFourKeepsLongContent) {
    Str s("", 1);
    std::string expected;
    for (int i = 0; i < 300; i++) {
        string::append_char(s.node(), 'a' + i % 26);
        expected += char('a' + i % 26);
    }
    string::append_char(s.node(), 0x3B1);  // alpha
    expected += "\xCE\xB1";
    EXPECT_EQ(s.unit(), 2u);
    EXPECT_EQ(s.text(), expected);
    for (int i = 0; i < 300; i++) string::append_char(s.node(), 0x3B1);
    for (int i = 0; i < 300; i++) expected += "\xCE\xB1";
    string::append_char(s.node(), 0x1F600);
    expected += "\xF0\x9F\x98\x80";
    EXPECT_EQ(s.unit(), 4u);
    EXPECT_EQ(s.text(), expected);
    EXPECT_EQ(string::buffer_length(s.node()), 602u);
}

// --- positions --------------------------------------------------------------------------

TEST(StringPositions, LengthAndClampingPastTheTail) {
    Str s("hello");
    s.cell.w1 = 2;
    EXPECT_EQ(string::length(s.cell), 3u);
    EXPECT_EQ(s.text(), "llo");
    s.cell.w1 = 9;
    EXPECT_EQ(string::length(s.cell), 0u);
    EXPECT_TRUE(string::rs_tail_q(s.cell));
    EXPECT_EQ(s.text(), "");
    EXPECT_EQ(s.cell.w1, 9u);  // reading leaves the cell alone
    EXPECT_EQ(string::rs_head(s.cell), string::rs_tail(s.cell));
    EXPECT_EQ(s.cell.w1, 5u);  // taking the head clamps and writes back
}

TEST(StringPositions, FindAndHasChar) {
    Str s("abcABC");
    s.cell.w1 = 1;
    EXPECT_EQ(string::find_char(s.cell, 'c'), 1);
    EXPECT_EQ(string::find_char(s.cell, 'a'), -1);
    EXPECT_EQ(string::find_char(s.cell, 'A'), 2);
    EXPECT_TRUE(string::has_char_q(s.cell, 'a', 1, 0));   // case-insensitive
    EXPECT_FALSE(string::has_char_q(s.cell, 'a', 1, 1));  // exact
    EXPECT_TRUE(string::has_char_q(s.cell, 'B', 3, 1));   // b at 1, B at 4
    EXPECT_FALSE(string::has_char_q(s.cell, 'C', 3, 1));
    EXPECT_EQ(string::rs_abs_at(s.cell, 0), uint32_t('a'));
    EXPECT_EQ(string::last_char(s.node()), int32_t('C'));
    Str empty;
    EXPECT_EQ(string::last_char(empty.node()), -1);
}

TEST(StringPositions, HeadEqualLiteral) {
    Str s("http://x");
    EXPECT_TRUE(string::head_equal_literal_q(s.cell, "http"));
    EXPECT_TRUE(string::head_equal_literal_q(s.cell, "http://x"));
    EXPECT_FALSE(string::head_equal_literal_q(s.cell, "HTTP"));
    EXPECT_FALSE(string::head_equal_literal_q(s.cell, "http://xy"));
    Str wide("\xC4\x80" "a");  // U+0100 never matches a byte
    EXPECT_FALSE(string::head_equal_literal_q(wide.cell, "\xC4"));
}

// --- writing -----------------------------------------------------------------------------

TEST(StringWrite, PokeAtAppendsAndGrows) {
    Str s("ab", 2);
    string::poke_char_at(s.node(), 2, 'c');  // index == length appends
    EXPECT_EQ(s.text(), "abc");
    string::poke_char_at(s.node(), 0, 'X');
    EXPECT_EQ(s.text(), "Xbc");
    // Far past the tail: grows as far as needed, the gap reads as NUL.
    string::poke_char_at(s.node(), 200, 'z');
    EXPECT_EQ(string::buffer_length(s.node()), 201u);
    EXPECT_EQ(string::char_at(s.node(), 3), 0u);
    EXPECT_EQ(string::char_at(s.node(), 199), 0u);
    EXPECT_EQ(string::char_at(s.node(), 200), uint32_t('z'));
    memory::Series* b = memory::buffer(s.node());
    EXPECT_LE(b->tail, b->capacity);
}

TEST(StringWrite, InsertRemoveAndMove) {
    Str s("abc");
    string::insert_char_at(s.node(), 1, 'X');
    string::insert_char_at(s.node(), 99, 'Z');  // clamped to the tail
    EXPECT_EQ(s.text(), "aXbcZ");
    string::remove_chars(s.cell, 1, 2);
    EXPECT_EQ(s.text(), "acZ");
    string::remove_chars(s.cell, 2, 99);
    EXPECT_EQ(s.text(), "ac");
    string::remove_chars(s.cell, 5, 1);
    EXPECT_EQ(s.text(), "ac");

    Str from("12345"), to("ab");
    from.cell.w1 = 1;
    to.cell.w1 = 1;
    string::move_chars(from.cell, to.cell, 3);
    EXPECT_EQ(from.all(), "15");
    EXPECT_EQ(to.all(), "a234b");
}

TEST(StringWrite, ResetTruncateAndMake) {
    Str s("\xE2\x82\xAC" "abc");
    ASSERT_EQ(s.unit(), 2u);
    string::truncate(s.node(), 2);
    EXPECT_EQ(s.text(), "\xE2\x82\xAC" "a");
    string::truncate(s.node(), 5);
    EXPECT_EQ(s.text(), "\xE2\x82\xAC" "a");
    s.cell.w1 = 1;
    string::rs_reset(s.cell);
    EXPECT_EQ(s.unit(), 1u);
    EXPECT_EQ(s.cell.w1, 0u);
    EXPECT_EQ(string::length(s.cell), 0u);

    Cell c;
    string::make_at(c, 0, 4);
    EXPECT_TRUE(is(c, Type::string));
    EXPECT_EQ(unit_of(series_node(c)), 4u);
    string::rs_make_at(c, 0);
    EXPECT_EQ(unit_of(series_node(c)), 1u);
    EXPECT_EQ(c.w3, 0u);
}

TEST(StringWrite, AppendTextAndBadUtf8) {
    Str s;
    string::append_ascii(s.node(), "plain ");
    string::append_utf8(s.node(), "caf\xC3\xA9");
    EXPECT_EQ(s.text(), "plain caf\xC3\xA9");
    EXPECT_EQ(s.unit(), 2u);
    string::concatenate_literal(s.cell, "!");
    string::concatenate_literal_part(s.cell, "?!", 1);
    EXPECT_EQ(s.text(), "plain caf\xC3\xA9!?");
    EXPECT_EQ(raised([&] { string::append_utf8(s.node(), "x\xFFy"); }), errors::id::invalid_utf8);
    EXPECT_EQ(raised([&] { string::append_utf8(s.node(), "x\xE2\x82"); }), errors::id::invalid_utf8);
}

TEST(StringWrite, SwapRegions) {
    std::string text = "abcdefg";
    auto* p = reinterpret_cast<std::byte*>(text.data());
    string::swap_regions(p, 2, 5);
    EXPECT_EQ(text, "cdefgab");
    string::swap_regions(p, 5, 2);
    EXPECT_EQ(text, "abcdefg");
    string::swap_regions(p + 1, 0, 3);
    EXPECT_EQ(text, "abcdefg");
}

// --- concatenation --------------------------------------------------------------------------

TEST(Concatenate, ModesAndCounts) {
    struct Case {
        const char* target;
        uint32_t target_head;
        const char* source;
        uint32_t source_head;
        int32_t count;
        int32_t offset;
        string::Mode mode;
        const char* expected;
    } cases[] = {
        {"abc", 0, "xyz", 0, -1, 0, string::Mode::append, "abcxyz"},
        {"abc", 2, "xyz", 1, -1, 0, string::Mode::append, "abcyz"},
        {"abc", 0, "xyz", 0, 2, 0, string::Mode::append, "abcxy"},
        {"abc", 0, "xyz", 0, 99, 0, string::Mode::append, "abcxyz"},
        {"abc", 1, "xyz", 0, -1, 0, string::Mode::insert, "axyzbc"},
        {"abc", 1, "xyz", 0, -1, 1, string::Mode::insert, "abxyzc"},
        {"abc", 0, "xy", 0, -1, 0, string::Mode::overwrite, "xyc"},
        {"abc", 2, "xyz", 0, -1, 0, string::Mode::overwrite, "abxyz"},
        {"", 0, "", 0, -1, 0, string::Mode::append, ""},
    };
    for (const Case& c : cases) {
        Str t(c.target), s(c.source);
        t.cell.w1 = c.target_head;
        s.cell.w1 = c.source_head;
        EXPECT_EQ(string::concatenate(t.cell, s.cell, c.count, c.offset, false, c.mode), t.node());
        EXPECT_EQ(t.all(), c.expected) << c.target << " + " << c.source;
        EXPECT_EQ(s.text(), std::string(c.source).substr(c.source_head));
    }
}

TEST(Concatenate, UnitsMeetTheWiderOne) {
    {  // a wider source widens the target
        Str t("ab"), s("\xE2\x82\xAC");
        string::concatenate(t.cell, s.cell, -1, 0, true, string::Mode::append);
        EXPECT_EQ(t.unit(), 2u);
        EXPECT_EQ(t.text(), "ab\xE2\x82\xAC");
    }
    {  // a narrower source, kept: converted character by character
        Str t("\xF0\x9F\x98\x80"), s("xy");
        string::concatenate(t.cell, s.cell, -1, 0, true, string::Mode::insert);
        EXPECT_EQ(s.unit(), 1u);
        EXPECT_EQ(t.text(), "xy\xF0\x9F\x98\x80");
    }
    {  // a narrower source, not kept: widened in place, text unchanged
        Str t("\xE2\x82\xAC"), s("xy");
        string::concatenate(t.cell, s.cell, -1, 0, false, string::Mode::append);
        EXPECT_EQ(s.unit(), 2u);
        EXPECT_EQ(s.text(), "xy");
        EXPECT_EQ(t.text(), "\xE2\x82\xAC" "xy");
    }
}

TEST(Concatenate, SourceInTheSameBuffer) {
    Str t("abc", 3);
    Cell tail_part = t.cell;
    tail_part.w1 = 1;
    string::concatenate(t.cell, tail_part, -1, 0, true, string::Mode::append);
    EXPECT_EQ(t.text(), "abcbc");
    Cell head_part = t.cell;
    string::concatenate(t.cell, head_part, 2, 0, true, string::Mode::insert);
    EXPECT_EQ(t.text(), "ababcbc");
}

TEST(StringLoad, LoadAtByEncoding) {
    Cell c;
    collector::Root keep(c);
    const uint8_t utf8[] = {'h', 0xC3, 0xA9};
    string::load_at(utf8, 3, c, 0);
    EXPECT_TRUE(is(c, Type::string));
    EXPECT_EQ(string::to_utf8(c), "h\xC3\xA9");
    const uint8_t utf16[] = {'h', 0, 0xAC, 0x20};
    string::load_at(utf16, 2, c, -1);
    EXPECT_EQ(string::to_utf8(c), "h\xE2\x82\xAC");
    EXPECT_EQ(raised([&] { string::load_at(utf8, 3, c, 7); }), errors::id::invalid_arg);
}

// --- comparison -------------------------------------------------------------------------------

TEST(CompareText, CodesAndModes) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        bool prefix;
        int32_t expected;
    } cases[] = {
        {"abc", "ABC", 0, false, 0},  {"abc", "ABC", 2, false, 1},  {"abc", "ABC", 8, false, 1},
        {"ABC", "abc", 8, false, -1}, {"a", "ab", 3, false, -1},    {"a", "ab", 0, false, 1},
        {"ab", "a", 3, false, 1},     {"b", "AB", 3, false, 1},     {"_", "a", 3, false, 1},
        {"", "", 0, false, 0},        {"", "a", 3, false, -1},      {"a", "", 3, false, 1},
        {"abc", "ABC", 9, false, -1}, {"abcd", "AB", 12, true, 0},  {"abcd", "Ab", 2, true, 1},
        {"ab", "abc", 12, true, 1},   {"ab", "", 12, true, 1},      {"ab", "", 0, true, 0},
        {"\xC3\xA9", "\xC3\x89", 0, false, 0},
    };
    for (const Case& c : cases) {
        Str a(c.a), b(c.b);
        EXPECT_EQ(string::compare_text(a.cell, b.cell, c.op, c.prefix), c.expected)
            << '"' << c.a << "\" \"" << c.b << "\" op " << c.op;
    }
    Str s("same");
    EXPECT_EQ(string::compare_text(s.cell, s.cell, 9, false), 0);
    Cell later = s.cell;
    later.w1 = 1;
    EXPECT_EQ(string::compare_text(s.cell, later, 9, false), -1);
}

TEST(CompareText, ParseMatching) {
    Str input("<b>bold");
    Str tag("b");
    tag.cell.header = uint32_t(Type::tag);
    EXPECT_TRUE(string::tag_at_q(input.cell, tag.cell));
    EXPECT_TRUE(string::match_at_q(input.cell, tag.cell, 0));
    Str pat("<B");
    EXPECT_TRUE(string::match_at_q(input.cell, pat.cell, 0));
    EXPECT_FALSE(string::match_at_q(input.cell, pat.cell, 2));
    EXPECT_TRUE(string::match_at_q(input.cell, char_cell('<'), 2));
    input.cell.w1 = 3;
    EXPECT_TRUE(string::match_at_q(input.cell, char_cell('B'), 0));
    EXPECT_FALSE(string::match_at_q(input.cell, char_cell('B'), 2));
    EXPECT_FALSE(string::match_at_q(input.cell, integer_cell(1), 0));
}

TEST(CompareText, CharInBitset) {
    Node bits = memory::alloc_bytes(9);
    collector::NodeRoot keep(bits);
    memory::Series* b = memory::buffer(bits);
    std::memset(b->at_head(), 0, 9);
    b->at_head()[8] = std::byte(0x40);  // "A" is 65: byte 8, mask 0x40
    b->tail = b->head + 9;
    Cell set = series_cell(Type::bitset, bits);
    struct Case {
        const char* text;
        bool complemented;
        bool in;
    } cases[] = {
        {"A", false, true},  {"B", false, false}, {"a", false, false}, {"", false, false},
        {"\xC3\xA9", false, false},  // beyond the stored bits
        {"\xC3\xA9", true, true},    {"A", true, true}, {"B", true, false},
    };
    for (const Case& c : cases) {
        memory::Series* s = memory::buffer(bits);
        s->flags = c.complemented ? s->flags | (1u << 19) : s->flags & ~(1u << 19);
        Str str(c.text);
        EXPECT_EQ(string::char_in_bitset_q(str.cell, set), c.in) << c.text << " " << c.complemented;
    }
}

// --- numbers as text ----------------------------------------------------------------------------

TEST(HexText, BytesAndIntegers) {
    EXPECT_STREQ(string::byte_to_hex(0x0A), "0A");
    EXPECT_STREQ(string::int_to_hex(0x1E, false), "0000001E");
    EXPECT_STREQ(string::int_to_hex(-1, false), "FFFFFFFF");
    EXPECT_STREQ(string::int_to_hex(0x1E, true), "1E");
    EXPECT_STREQ(string::int_to_hex(0x100, true), "100");
    EXPECT_STREQ(string::int_to_hex(0, true), "00");
}

// --- form and mold ---------------------------------------------------------------------------------

TEST(MoldString, DelimitersAndEscapes) {
    struct Case {
        std::string in;
        bool all;
        std::string out;
    } cases[] = {
        {std::string(49, 'x'), false, "\"" + std::string(49, 'x') + "\""},
        {std::string(50, 'x'), false, "{" + std::string(50, 'x') + "}"},
        {"a\nb", false, "\"a^/b\""},
        {"a\n\nb\n", false, "{a^/^/b^/}"},  // three line feeds choose braces
        {"say \"hi\"", false, "{say \"hi\"}"},
        {"\"{", false, "{\"^{}"},
        {"\"{a}", false, "{\"{a}}"},
        {"\"}{", false, "{\"^}^{}"},
        {"\"{{}", false, "{\"^{^{^}}"},  // after an unbalanced brace every later one is escaped
        {"a^b", false, "\"a^^b\""},
        {"\"a^b", false, "{\"a^^b}"},
        {"\t\x1E\x7F", false, "\"^-^(1E)^~\""},
        {"\xC2\x85", false, "\"^(85)\""},
        {"\xC3\xA9", false, "\"\xC3\xA9\""},
        {"\xC3\xA9\xC4\x80", true, "\"^(E9)^(100)\""},
        {std::string(1, '\0') + "\x1B", false, "\"^@^[\""},
        {"", false, "\"\""},
    };
    for (const Case& c : cases) {
        Str s(c.in), out;
        int32_t left = string::mold(s.cell, out.node(), {false, c.all, false}, false, 100, 0);
        EXPECT_EQ(out.text(), c.out) << c.in;
        EXPECT_EQ(left, 100 - int32_t(string::length(s.cell)) - 2) << c.in;
    }
}

TEST(MoldString, PartLimitAndForm) {
    Str s("abcdef"), out;
    EXPECT_EQ(string::mold(s.cell, out.node(), {}, true, 3, 0), -2);
    EXPECT_EQ(out.text(), "\"abc\"");
    Str none;
    EXPECT_EQ(string::mold(s.cell, none.node(), {}, true, -1, 0), -3);
    EXPECT_EQ(none.text(), "\"\"");

    Str formed("x");
    s.cell.w1 = 2;
    EXPECT_EQ(string::form(s.cell, formed.node(), false, 10), 6);
    EXPECT_EQ(formed.text(), "xcdef");
    EXPECT_EQ(string::form(s.cell, formed.node(), true, 2), -2);
    EXPECT_EQ(formed.text(), "xcdefcd");
    EXPECT_EQ(string::form(s.cell, formed.node(), true, -1), -5);
    EXPECT_EQ(formed.text(), "xcdefcd");
}

TEST(MoldString, BraceBalanceAndCounts) {
    std::string t = "{a{b}c}d";
    auto* p = reinterpret_cast<const std::byte*>(t.data());
    EXPECT_TRUE(string::braces_balanced_q(p, p + t.size(), 1));
    EXPECT_FALSE(string::braces_balanced_q(p, p + 5, 1));
    uint32_t quotes = 0, lines = 0;
    std::string q = "\"a\n\"\n";
    auto* qp = reinterpret_cast<const std::byte*>(q.data());
    string::count_quotes_lines(qp, qp + q.size(), 1, quotes, lines);
    EXPECT_EQ(quotes, 2u);
    EXPECT_EQ(lines, 2u);
}

// --- under collections ---------------------------------------------------------------------------
// Needs the real collector; collections are forced between steps and, when
// the test runs in a process of its own, after every few allocations too.
#if __has_include("runtime/collector.cpp")

#include <cstdlib>

namespace {

struct Collecting {
    uint32_t cycles_before;
    Collecting() {
        setenv("ZAN_GC_STRESS", "3", 0);  // takes effect when no allocation came first
        memory::init();
        collector::set_enabled(true);
        cycles_before = collector::cycles();
    }
    ~Collecting() {
        EXPECT_GE(collector::cycles() - cycles_before, 3u);  // the test did run collections
        collector::set_enabled(false);
    }
};

void churn(int n) {
    for (int i = 0; i < n; i++) memory::alloc_bytes(uint32_t(16 + i % 200));
}

void collect_and_verify() {
    collector::collect();
#ifdef ZAN_DEBUG
    const char* fault = memory::verify_heap();
    ASSERT_EQ(fault, nullptr) << fault;
#endif
}

}  // namespace

TEST(StringUnderCollection, AppendingAndWideningWhileBuffersMove) {
    Collecting on;
    churn(500);
    Str s("", 1);
    Str other("kept");
    std::string expected;
    const uint32_t cps[] = {'a', 'z', 0xE9, 0x3B1, 0x20AC, 0x1F600};
    for (int i = 0; i < 3000; i++) {
        churn(3);
        // ASCII first, then wider characters, so each widening moves real content.
        uint32_t cp = cps[i < 1000 ? i % 2 : i < 2000 ? i % 4 : i % 6];
        string::append_char(s.node(), cp);
        uint8_t b[4];
        expected.append(reinterpret_cast<char*>(b), unicode::cp_to_utf8(cp, b));
        if (i % 250 == 0) collect_and_verify();
    }
    collect_and_verify();
    EXPECT_EQ(s.unit(), 4u);
    EXPECT_EQ(s.text(), expected);
    EXPECT_EQ(other.text(), "kept");
}

TEST(StringUnderCollection, LoadingAndTheConversionCacheSurvive) {
    Collecting on;
    std::string text;
    for (int i = 0; i < 400; i++) text += i % 3 ? "ab\r\n" : "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    Cell str;
    collector::Root keep(str);
    churn(300);
    str = string::make_cell(
        unicode::load_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0, nullptr, true));
    collect_and_verify();
    std::string folded;
    for (int i = 0; i < 400; i++) folded += i % 3 ? "ab\n" : "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(string::to_utf8(str), folded);

    int32_t count = -1;
    unicode::to_utf8(str, count);
    Node cache = str.w3;
    ASSERT_NE(cache, 0u);
    churn(300);
    collect_and_verify();
    EXPECT_NE(str.w3, 0u);  // the cache lives as long as its string
    count = -1;
    EXPECT_EQ(std::string(unicode::to_utf8(str, count)), folded);
    EXPECT_EQ(count, int32_t(folded.size()));

    Str mold_out;
    churn(100);
    string::mold(str, mold_out.node(), {}, false, 0, 0);
    collect_and_verify();
    EXPECT_EQ(mold_out.text().substr(0, 12), "{\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "ab");
}

#endif
