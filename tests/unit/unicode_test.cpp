// Decoding, loading, widening, encoding and case mapping of text.
#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"

using namespace zan;
using Bytes = std::vector<uint8_t>;

namespace {

template <typename F>
std::optional<errors::Id> raised(F&& f) {
    try {
        f();
    } catch (const unwind::Thrown& t) {
        EXPECT_EQ(t.code, unwind::error);
        return errors::pending_id();
    }
    return std::nullopt;
}

// The bytes of the binary! argument of the last error.
Bytes error_bytes() {
    const Cell& arg = errors::pending_arg(1);
    EXPECT_TRUE(is(arg, Type::binary));
    memory::Series* s = memory::buffer(series_node(arg));
    auto* p = reinterpret_cast<const uint8_t*>(s->at_head());
    return Bytes(p, p + (s->tail - s->head));
}

std::vector<uint32_t> chars(Node n) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < string::buffer_length(n); i++) out.push_back(string::char_at(n, i));
    return out;
}

uint32_t unit_of(Node n) { return memory::buffer(n)->unit(); }

Node load(const Bytes& b, bool fold = false, uint32_t* rest = nullptr) {
    return unicode::load_utf8(b.data(), uint32_t(b.size()), 0, rest, fold);
}

Bytes utf16(std::initializer_list<uint16_t> units) {
    Bytes b;
    for (uint16_t u : units) {
        b.push_back(uint8_t(u));
        b.push_back(uint8_t(u >> 8));
    }
    return b;
}

}  // namespace

// --- the table-driven decoder -----------------------------------------------------

TEST(FastDecode, DecodesAndRejectsByTheTable) {
    struct Case {
        Bytes in;
        int32_t cp;
        size_t consumed;
    } cases[] = {
        {{0x41}, 0x41, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0x80, 0x41}, -1, 1},              // stray continuation
        {{0xC0, 0x80}, -1, 1},              // overlong lead
        {{0xED, 0xA0, 0x80}, -1, 2},        // surrogate
        {{0xF4, 0x90, 0x80, 0x80}, -1, 2},  // above U+10FFFF
        {{0xE2, 0x41, 0x41}, -1, 2},        // bad continuation
    };
    for (const Case& c : cases) {
        int32_t cp = 0;
        const uint8_t* end = unicode::fast_decode_utf8_char(c.in.data(), cp);
        EXPECT_EQ(cp, c.cp) << "first byte " << int(c.in[0]);
        EXPECT_EQ(size_t(end - c.in.data()), c.consumed) << "first byte " << int(c.in[0]);
    }
}

TEST(FastDecode, CountsAndSkipsWithinTheEnd) {
    Bytes b = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80};
    EXPECT_EQ(unicode::count_utf8_chars(b.data(), b.data() + b.size()), 4u);
    EXPECT_EQ(unicode::skip_utf8_chars(b.data(), b.data() + b.size(), 2), b.data() + 3);
    EXPECT_EQ(unicode::skip_utf8_chars(b.data(), b.data() + b.size(), 99), b.data() + b.size());
    // A sequence cut by the end stops the walk at the end.
    EXPECT_EQ(unicode::skip_utf8_chars(b.data(), b.data() + 8, 9), b.data() + 8);
}

TEST(FastDecode, LeadByteSizes) {
    struct {
        uint8_t lead;
        uint32_t size;
    } cases[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC3, 2}, {0xE2, 3}, {0xF0, 4}, {0xFF, 4}};
    for (auto c : cases) EXPECT_EQ(unicode::utf8_char_size(c.lead), c.size) << int(c.lead);
}

// --- the checked decoder ------------------------------------------------------------

TEST(CheckedDecode, ValidOverlongAndCutSequences) {
    struct Case {
        Bytes in;
        int32_t cp;
        int32_t length;  // count after the call
    } cases[] = {
        {{0x00}, 0, 1},
        {{0x7F, 0x41}, 0x7F, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xC0, 0x80}, 0, 2},              // overlong forms are accepted
        {{0xE0, 0x81, 0x81}, 0x41, 3},     // overlong three-byte form
        {{0xEF, 0xBF, 0xBF}, 0xFFFF, 3},
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0xE2, 0x82}, -1, 2},             // cut by the end: count unchanged
        {{0xF0, 0x9F, 0x98}, -1, 3},
        {{0xC3}, -1, 1},
    };
    for (const Case& c : cases) {
        int32_t count = int32_t(c.in.size());
        EXPECT_EQ(unicode::decode_utf8_checked(c.in.data(), count), c.cp) << "first byte " << int(c.in[0]);
        EXPECT_EQ(count, c.length) << "first byte " << int(c.in[0]);
    }
}

TEST(CheckedDecode, InvalidSequencesRaiseWithTheirBytes) {
    struct Case {
        Bytes in;
        Bytes reported;
    } cases[] = {
        {{0x80}, {0x80}},
        {{0xBF, 0x41, 0x42, 0x43, 0x44, 0x45}, {0xBF, 0x41, 0x42, 0x43}},  // at most 4
        {{0xF8, 0x80, 0x80, 0x80, 0x80}, {0xF8, 0x80, 0x80, 0x80}},
        {{0xFF}, {0xFF}},
        {{0xC3, 0x41}, {0xC3, 0x41}},
        {{0xE2, 0x82, 0x41}, {0xE2, 0x82, 0x41}},
        {{0xE2, 0x41}, {0xE2, 0x41}},          // cut, but already wrong: not a remainder
        {{0xF4, 0x90, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}},  // above U+10FFFF
        {{0xED, 0xA0, 0x80}, {0xED, 0xA0, 0x80}},              // high surrogate
        {{0xED, 0xB3, 0xBF}, {0xED, 0xB3, 0xBF}},              // low surrogate
        {{0xED, 0xBF, 0xBF}, {0xED, 0xBF, 0xBF}},
    };
    for (const Case& c : cases) {
        int32_t count = int32_t(c.in.size());
        auto id = raised([&] { unicode::decode_utf8_checked(c.in.data(), count); });
        ASSERT_EQ(id, errors::id::invalid_utf8) << "first byte " << int(c.in[0]);
        EXPECT_EQ(error_bytes(), c.reported) << "first byte " << int(c.in[0]);
    }
    EXPECT_EQ(errors::id::invalid_utf8.code(), 502);
}

// --- loading UTF-8 ---------------------------------------------------------------------

TEST(LoadUtf8, PicksTheNarrowestUnit) {
    struct Case {
        Bytes in;
        uint32_t unit;
        std::vector<uint32_t> text;
    } cases[] = {
        {{'a', 'b'}, 1, {'a', 'b'}},
        {{0xC3, 0xA9}, 1, {0xE9}},  // Latin-1 stays in one byte
        {{0xE2, 0x82, 0xAC}, 2, {0x20AC}},
        {{0xF0, 0x9F, 0x98, 0x80}, 4, {0x1F600}},
        {{'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}, 4, {'a', 0xE9, 0x20AC, 0x1F600}},
        {{'a', 0xF0, 0x9F, 0x98, 0x80, 'b'}, 4, {'a', 0x1F600, 'b'}},  // 1 -> 4 directly
        {{}, 1, {}},
    };
    for (const Case& c : cases) {
        Node n = load(c.in);
        EXPECT_EQ(unit_of(n), c.unit) << c.in.size();
        EXPECT_EQ(chars(n), c.text) << c.in.size();
    }
}

TEST(LoadUtf8, ByteOrderMarkAndLineEnds) {
    struct Case {
        Bytes in;
        bool fold;
        std::vector<uint32_t> text;
    } cases[] = {
        {{0xEF, 0xBB, 0xBF}, false, {}},
        {{0xEF, 0xBB, 0xBF, 'A'}, false, {'A'}},
        {{'A', 0xEF, 0xBB, 0xBF}, false, {'A', 0xFEFF}},  // only a leading mark is skipped
        {{'a', '\r', '\n', 'b'}, true, {'a', '\n', 'b'}},
        {{'a', '\r', 'b'}, true, {'a', '\n', 'b'}},
        {{'a', '\r'}, true, {'a', '\n'}},
        {{'\r', '\r', '\n'}, true, {'\n', '\n'}},
        {{'a', '\r', '\n', 'b'}, false, {'a', '\r', '\n', 'b'}},
    };
    for (const Case& c : cases) EXPECT_EQ(chars(load(c.in, c.fold)), c.text) << c.in.size();
}

TEST(LoadUtf8, CutSequenceEndsTheLoadWithARemainder) {
    uint32_t rest = 99;
    Node n = load({'a', 'b', 0xE2, 0x82}, false, &rest);
    EXPECT_EQ(chars(n), (std::vector<uint32_t>{'a', 'b'}));
    EXPECT_EQ(rest, 2u);
    load({'a'}, false, &rest);
    EXPECT_EQ(rest, 0u);
    load({0xEF, 0xBB, 0xBF}, false, &rest);
    EXPECT_EQ(rest, 0u);
}

TEST(LoadUtf8, InvalidInputKeepsWhatWasDecodedBefore) {
    Node target = string::make_buffer(4);
    collector::NodeRoot keep(target);
    Bytes in = {'o', 'k', 0xE2, 0x82, 0xAC, 0x80, 'x'};
    auto id = raised([&] { unicode::load_utf8(in.data(), uint32_t(in.size()), target, nullptr, false); });
    EXPECT_EQ(id, errors::id::invalid_utf8);
    EXPECT_EQ(error_bytes(), (Bytes{0x80, 'x'}));
    // The buffer is consistent: what came before the bad byte, in unit 2.
    EXPECT_EQ(unit_of(target), 2u);
    EXPECT_EQ(chars(target), (std::vector<uint32_t>{'o', 'k', 0x20AC}));
}

// Loading into a string whose offset lies inside its buffer measures the room
// from the offset, where writing starts.
TEST(LoadUtf8, IntoAStringWithHeadRoom) {
    Node target = memory::alloc_series(64, 1, -1);  // offset in the middle
    collector::NodeRoot keep(target);
    string::append_ascii(target, "old");
    ASSERT_GT(memory::buffer(target)->head, 0u);
    std::string text(60, 'x');
    text += "\xE2\x82\xAC";
    Cell str = string::make_cell(target);
    unicode::load_utf8_into(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), str,
                            nullptr);
    memory::Series* s = memory::buffer(target);
    EXPECT_LE(s->tail, s->capacity);
    EXPECT_EQ(string::to_utf8(str), text);
    EXPECT_EQ(s->unit(), 2u);
}

TEST(LoadUtf8, IntoAWiderStringKeepsItsUnitAndReplacesTheText) {
    Node target = string::make_buffer(2, 4);
    collector::NodeRoot keep(target);
    string::append_char(target, 0x1F600);
    Bytes in = {'h', 'i', '\r', '\n'};
    Cell str = string::make_cell(target);
    unicode::load_utf8_into(in.data(), uint32_t(in.size()), str, nullptr);  // no folding
    EXPECT_EQ(unit_of(target), 4u);
    EXPECT_EQ(chars(target), (std::vector<uint32_t>{'h', 'i', '\r', '\n'}));
}

// --- loading UTF-16LE -------------------------------------------------------------------

TEST(LoadUtf16, PicksTheUnitAndJoinsPairs) {
    struct Case {
        Bytes in;
        bool drop_cr;
        uint32_t unit;
        std::vector<uint32_t> text;
    } cases[] = {
        {utf16({'a', 0xE9}), false, 1, {'a', 0xE9}},
        {utf16({'a', 0x20AC}), false, 2, {'a', 0x20AC}},
        {utf16({0xD83D, 0xDE00, 'b'}), false, 4, {0x1F600, 'b'}},
        {utf16({0xDC00, 'a'}), false, 4, {0xDC00, 'a'}},  // a lone low surrogate is kept
        {utf16({'a', '\r', '\n', '\r', 'b'}), true, 1, {'a', '\n', 'b'}},
        {utf16({'a', '\r', '\n'}), false, 1, {'a', '\r', '\n'}},
        {utf16({}), false, 2, {}},
    };
    for (const Case& c : cases) {
        Node n = unicode::load_utf16le(c.in.data(), uint32_t(c.in.size() / 2), nullptr, c.drop_cr);
        EXPECT_EQ(unit_of(n), c.unit) << c.in.size();
        EXPECT_EQ(chars(n), c.text) << c.in.size();
        EXPECT_TRUE(memory::buffer(n)->flags & unicode::utf16_loaded_flag);
    }
}

// An unpaired high surrogate is a catchable error, not the end of the process.
TEST(LoadUtf16, UnpairedHighSurrogateRaises) {
    struct Case {
        Bytes in;
        Bytes reported;
    } cases[] = {
        {{0x3D, 0xD8}, {0x3D, 0xD8}},                                  // last unit
        {utf16({'a', 0xD83D, 'b'}), {0x3D, 0xD8, 'b', 0}},           // followed by no low one
        {utf16({0xD83D, 0xD83D, 0xDE00}), {0x3D, 0xD8, 0x3D, 0xD8}},  // high after high
    };
    for (const Case& c : cases) {
        auto id = raised([&] { unicode::load_utf16le(c.in.data(), uint32_t(c.in.size() / 2), nullptr, false); });
        EXPECT_EQ(id, errors::id::invalid_utf8);
        EXPECT_EQ(error_bytes(), c.reported);
    }
}

TEST(LoadUtf16, IntoATargetAndFromItsCache) {
    Cell str = string::make_cell(string::make_buffer(1));
    collector::Root keep(str);
    string::append_ascii(series_node(str), "previous text");
    Bytes in = utf16({0x41, 0x20AC});
    unicode::load_utf16le(in.data(), 2, &str, false);
    EXPECT_EQ(string::to_utf8(str), "A\xE2\x82\xAC");
    EXPECT_EQ(unit_of(series_node(str)), 2u);

    // An OS call leaves UTF-16 in the cache; loading with no source reads it.
    memory::Series* cache = unicode::get_cache(str, 6);
    Bytes text = utf16({'o', 'k', '!'});
    std::memcpy(cache->at_head(), text.data(), text.size());
    unicode::load_utf16le(nullptr, 3, &str, false);
    EXPECT_EQ(string::to_utf8(str), "ok!");
    EXPECT_EQ(unit_of(series_node(str)), 1u);
}

// --- widening ------------------------------------------------------------------------------

TEST(Widening, OneToTwoToFourKeepsTheContent) {
    Node n = memory::alloc_series(4, 1, -1);
    collector::NodeRoot keep(n);
    std::vector<uint32_t> text;
    for (uint32_t c : {0x61u, 0xE9u, 0xFFu}) {
        string::poke_char_at(n, string::buffer_length(n), c);
        text.push_back(c);
    }
    ASSERT_EQ(unit_of(n), 1u);
    unicode::latin1_to_ucs2(n);
    EXPECT_EQ(unit_of(n), 2u);
    EXPECT_EQ(chars(n), text);
    string::append_char(n, 0x20AC);
    text.push_back(0x20AC);
    unicode::ucs2_to_ucs4(n);
    EXPECT_EQ(unit_of(n), 4u);
    EXPECT_EQ(chars(n), text);
    memory::Series* s = memory::buffer(n);
    EXPECT_GE(s->capacity - s->tail, 4u);  // room for one more character

    Node m = string::make_buffer(1);
    collector::NodeRoot keep_m(m);
    for (int i = 0; i < 100; i++) string::append_char(m, 'a' + i % 26);
    unicode::latin1_to_ucs4(m);
    EXPECT_EQ(unit_of(m), 4u);
    ASSERT_EQ(string::buffer_length(m), 100u);
    for (uint32_t i = 0; i < 100; i++) EXPECT_EQ(string::char_at(m, i), 'a' + i % 26);
}

// --- encoding -------------------------------------------------------------------------------

TEST(Encode, Utf8Sequences) {
    struct Case {
        uint32_t cp;
        Bytes out;
    } cases[] = {
        {0, {0}},
        {0x7F, {0x7F}},
        {0x80, {0xC2, 0x80}},
        {0x7FF, {0xDF, 0xBF}},
        {0x800, {0xE0, 0xA0, 0x80}},
        {0xFFFF, {0xEF, 0xBF, 0xBF}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
    };
    for (const Case& c : cases) {
        uint8_t buf[4] = {};
        EXPECT_EQ(unicode::cp_utf8_size(c.cp), c.out.size());
        ASSERT_EQ(unicode::cp_to_utf8(c.cp, buf), c.out.size());
        EXPECT_EQ(Bytes(buf, buf + c.out.size()), c.out) << c.cp;
        for (int32_t room = -1; room <= 4; room++) {
            uint8_t cut[4] = {};
            uint32_t n = unicode::cp_to_utf8_bounded(c.cp, cut, room);
            EXPECT_EQ(n, std::min<uint32_t>(std::max(room, 0), uint32_t(c.out.size())));
            EXPECT_EQ(Bytes(cut, cut + n), Bytes(c.out.begin(), c.out.begin() + n));
        }
    }
}

TEST(Encode, AboveTheLastCodePointRaisesInvalidChar) {
    uint8_t buf[4] = {1, 2, 3, 4};
    struct Case {
        void (*f)(uint8_t*);
        uint32_t cp;
    } cases[] = {
        {[](uint8_t* b) { unicode::cp_to_utf8(0x110000, b); }, 0x110000},
        {[](uint8_t* b) { unicode::cp_to_utf8_bounded(0x110000, b, 4); }, 0x110000},
        {[](uint8_t*) { unicode::cp_utf8_size(0xFFFFFFFF); }, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(raised([&] { c.f(buf); }), errors::id::invalid_char);
        EXPECT_TRUE(is(errors::pending_arg(1), Type::integer));
        EXPECT_EQ(errors::pending_arg(1).w2, c.cp);
    }
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{1, 2, 3, 4}));  // nothing written
}

TEST(Encode, StringToUtf8ThroughTheCache) {
    Cell str = string::make_cell(string::make_buffer(4));
    collector::Root keep(str);
    string::append_utf8(series_node(str), "a\nb\xE2\x82\xAC\xF0\x9F\x98\x80");
    int32_t count = -1;
    const char* text = unicode::to_utf8(str, count);
    EXPECT_EQ(std::string(text), "a\nb\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(count, 10);
    EXPECT_NE(str.w3, 0u);  // the cache is kept in the cell
    Node cache = str.w3;

    count = 2;
    EXPECT_EQ(std::string(unicode::to_utf8_crlf(str, count, true)), "a\r\n");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(str.w3, cache);  // reused

    str.w1 = 2;  // from the value's position
    count = -1;
    EXPECT_EQ(std::string(unicode::to_utf8(str, count)), "b\xE2\x82\xAC\xF0\x9F\x98\x80");

    uint8_t buf[16];
    str.w1 = 0;
    EXPECT_EQ(unicode::to_utf8_buffer(str, buf, 4, true), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "a\nb\xE2\x82\xAC");
    EXPECT_EQ(unicode::to_utf8_bounded(str, buf, 5, -1, false), 5u);  // the euro sign is cut
    EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{'a', '\n', 'b', 0xE2, 0x82}));
    EXPECT_EQ(unicode::to_utf8_bounded(str, buf, 99, 2, false), 2u);
}

TEST(Encode, StringToUtf16) {
    Cell str = string::make_cell(string::make_buffer(4));
    collector::Root keep(str);
    string::append_ascii(series_node(str), "a\nb");
    const char16_t* u = unicode::to_utf16(str);
    EXPECT_EQ(std::u16string(u), u"a\r\nb");

    int32_t count = -1;
    u = unicode::to_utf16_part(str, count, true);
    EXPECT_EQ(count, 4);
    count = 2;
    u = unicode::to_utf16_part(str, count, false);
    EXPECT_EQ(std::u16string(u), u"a\n");
    EXPECT_EQ(count, 2);

    string::append_char(series_node(str), 0x1F600);
    count = -1;
    u = unicode::to_utf16_part(str, count, false);
    EXPECT_EQ(std::u16string(u), u"a\nb\U0001F600");
    EXPECT_EQ(count, 5);

    // A value beyond Unicode (only reachable by poking) makes the conversion fail.
    string::poke_char(series_node(str), 0, 0x110000);
    count = -1;
    EXPECT_EQ(unicode::to_utf16_part(str, count, false), nullptr);

    char16_t out[8];
    EXPECT_EQ(std::u16string(unicode::latin1_to_utf16("\xE9t\xE9", out)), u"\u00E9t\u00E9");
}

// --- case ------------------------------------------------------------------------------------

TEST(CaseTables, CountsAndOrder) {
    using namespace unicode::case_tables;
    struct List {
        const Pair* pairs;
        int count;
        int expected;
    } lists[] = {
        {upper_list, upper_count, 1250},
        {lower_list, lower_count, 1158},
        {upper_supplementary, upper_supplementary_count, 225},
        {lower_supplementary, lower_supplementary_count, 225},
    };
    for (const List& l : lists) {
        EXPECT_EQ(l.count, l.expected);
        for (int i = 1; i < l.count; i++) ASSERT_LT(l.pairs[i - 1].from, l.pairs[i].from);
        for (int i = 0; i < l.count; i++) ASSERT_NE(l.pairs[i].from, l.pairs[i].to);
    }
    EXPECT_EQ(upper_list[0].from, 0x61u);
    EXPECT_EQ(upper_list[0].to, 0x41u);
    EXPECT_EQ(lower_list[0].from, 0x41u);
    EXPECT_EQ(lower_list[0].to, 0x61u);
    EXPECT_EQ(upper_supplementary[0].from, 0x10428u);
    EXPECT_EQ(upper_supplementary[224].from, 0x1E943u);
    EXPECT_EQ(lower_supplementary[0].from, 0x10400u);
    EXPECT_EQ(lower_supplementary[224].to, 0x1E943u);

    // Deseret 40, Osage 36, Old Hungarian 51, Warang Citi 32, Medefaidrin 32, Adlam 34.
    struct Block {
        uint32_t first, last;
        int pairs;
    } blocks[] = {{0x10400, 0x1044F, 40}, {0x104B0, 0x104FF, 36}, {0x10C80, 0x10CFF, 51},
                  {0x118A0, 0x118FF, 32}, {0x16E40, 0x16E9F, 32}, {0x1E900, 0x1E95F, 34}};
    for (const Block& b : blocks) {
        int n = 0;
        for (const Pair& p : upper_supplementary) n += p.from >= b.first && p.from <= b.last;
        EXPECT_EQ(n, b.pairs) << std::hex << b.first;
    }
}

TEST(CaseFold, NamedMappings) {
    unicode::init_case_tables();
    struct Case {
        uint32_t cp;
        bool upper;
        uint32_t expected;
    } cases[] = {
        {'a', true, 'A'},        {'A', true, 'A'},        {'A', false, 'a'},
        {0xDF, true, 0x53},      {0x149, true, 0x2BC},    {0x1F80, true, 0x1F08},
        {0x130, false, 0x69},    {0xFF, true, 0x178},     {0x3C3, true, 0x3A3},
        {0x1E922, true, 0x1E900}, {0x1E943, true, 0x1E921}, {0x10400, false, 0x10428},
        {0x10428, true, 0x10400}, {0x20000, true, 0x20000}, {0x20000, false, 0x20000},
        {0x10000, true, 0x10000}, {0x1E944, true, 0x1E944}, {0x10FFFF, false, 0x10FFFF},
        {0xFB00, true, 0x46},    {'_', true, '_'},
    };
    for (const Case& c : cases)
        EXPECT_EQ(unicode::case_fold(c.cp, c.upper), c.expected) << std::hex << c.cp << " " << c.upper;
    EXPECT_EQ(unicode::to_upper(0xE9), 0xC9u);
    EXPECT_EQ(unicode::to_lower(0xC9), 0xE9u);
    EXPECT_EQ(unicode::compare_ci('a', 'A'), 0);
    EXPECT_EQ(unicode::compare_ci(0xE9, 0xC9), 0);
    EXPECT_LT(unicode::compare_ci('a', 'B'), 0);
    EXPECT_GT(unicode::compare_ci('_', 'a'), 0);  // "_" sorts after "a" by upper case
    EXPECT_EQ(unicode::char_width(0xFF), 1u);
    EXPECT_EQ(unicode::char_width(0x100), 2u);
    EXPECT_EQ(unicode::char_width(0x10000), 4u);
}

TEST(ChangeCase, CharsAndStringRangesWidenWhenNeeded) {
    Cell c = char_cell(0xDF);
    unicode::change_case(c, nullptr, true);
    EXPECT_EQ(c.w2, 0x53u);

    Cell str = string::make_cell(string::make_buffer(4));
    collector::Root keep(str);
    string::append_ascii(series_node(str), "abcd");
    str.w1 = 1;
    Cell part = integer_cell(2);
    unicode::change_case(str, &part, true);
    EXPECT_EQ(string::to_utf8(string::make_cell(series_node(str))), "aBCd");

    // U+00FF upper-cases to U+0178, which needs two bytes.
    string::poke_char(series_node(str), 3, 0xFF);
    ASSERT_EQ(unit_of(series_node(str)), 1u);
    str.w1 = 0;
    unicode::change_case(str, nullptr, true);
    EXPECT_EQ(unit_of(series_node(str)), 2u);
    EXPECT_EQ(string::to_utf8(str), "ABC\xC5\xB8");

    Cell end = str;
    end.w1 = 2;
    unicode::change_case(str, &end, false);  // a position in the same series
    EXPECT_EQ(string::to_utf8(str), "abC\xC5\xB8");
    Cell back = integer_cell(-3);
    unicode::change_case(str, &back, true);  // a negative count changes nothing
    EXPECT_EQ(string::to_utf8(str), "abC\xC5\xB8");

    Cell other = string::make_cell(string::make_buffer(1));
    EXPECT_EQ(raised([&] { unicode::change_case(str, &other, true); }), errors::id::invalid_refine_arg);
    Cell file = str;
    file.header = uint32_t(Type::file);
    EXPECT_EQ(raised([&] { unicode::change_case(str, &file, true); }), errors::id::invalid_refine_arg);

    str.w1 = 99;  // past the tail: clamped and written back
    unicode::change_case(str, nullptr, true);
    EXPECT_EQ(str.w1, 4u);
}
