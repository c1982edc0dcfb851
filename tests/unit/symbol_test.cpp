// Symbols: interning order, case aliases, spellings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

using namespace zan;
namespace ht = zan::hashtable;

namespace {

// A symbol table of its own, so ids and aliases can be read off exactly.
struct Table {
    Node block = 0;
    Node table = 0;
    collector::NodeRoot keep_block{block};
    hashtable::TableRoot keep_table{table};
    explicit Table(uint32_t size = 0) {
        block = memory::alloc_cells(4);
        memory::buffer(block)->tail = memory::buffer(block)->head;
        Cell v = series_cell(Type::block, block);
        table = ht::make(size, &v, ht::kind_symbols);
    }
    uint32_t intern(const std::string& s, bool any_case = false) {
        return ht::put_symbol(table, s.data(), s.size(), any_case);
    }
    const Cell& entry(uint32_t id) { return memory::buffer(block)->cells()[id - 1]; }
    int32_t alias(uint32_t id) { return int32_t(entry(id).w1); }
    std::string name(uint32_t id) {
        memory::Series* s = memory::buffer(entry(id).w3);
        return {reinterpret_cast<const char*>(s->at_head()), s->tail - s->head};
    }
    uint32_t count() { return memory::buffer(block)->length(); }
};

}  // namespace

TEST(SymbolTable, AliasRules) {
    Table t;
    // Each step: spelling, any-case flag, expected id, expected alias (0: -1),
    // whether it was added. Ids are 1-based positions in the block.
    struct Step {
        const char* name;
        bool any_case;
        uint32_t id;
        uint32_t alias;
        bool added;
    };
    const Step steps[] = {
        {"abc", false, 1, 0, true},    {"ABC", false, 2, 1, true},  {"Abc", false, 3, 1, true},
        {"ABC", false, 2, 1, false},   {"abc", false, 1, 0, false}, {"aBC", true, 1, 0, false},
        {"newword", true, 4, 0, true}, {"NEWWORD", true, 4, 0, false},
        {"NEWWORD", false, 5, 4, true},
        // Non-ASCII letters are not folded.
        {"\xC3\x89", false, 6, 0, true}, {"\xC3\xA9", false, 7, 0, true},
        // The empty spelling is a symbol like any other.
        {"", false, 8, 0, true},        {"", false, 8, 0, false},
    };
    for (const Step& s : steps) {
        uint32_t before = t.count();
        uint32_t id = t.intern(s.name, s.any_case);
        EXPECT_EQ(id, s.id) << s.name;
        EXPECT_EQ(t.alias(id), s.alias ? int32_t(s.alias) : -1) << s.name;
        EXPECT_EQ(t.count(), before + (s.added ? 1 : 0)) << s.name;
        if (!s.any_case || s.added) {
            EXPECT_EQ(t.name(id), s.name);
        }
    }
    EXPECT_STREQ(ht::check(t.table), "");
}

TEST(SymbolTable, PrefixesAreOtherNames) {
    // Names sharing a prefix, interned lower case first, then upper case:
    // each upper-case name is the twin of its own lower-case name only.
    Table t;
    std::vector<std::string> lower;
    for (std::string s = "p"; s.size() <= 24; s += char('a' + s.size() % 26)) lower.push_back(s);
    std::vector<uint32_t> ids;
    for (const std::string& s : lower) ids.push_back(t.intern(s));
    for (size_t i = 0; i < lower.size(); ++i) {
        std::string up = lower[i];
        for (char& c : up) c = char(toupper(c));
        uint32_t id = t.intern(up);
        EXPECT_EQ(t.alias(id), int32_t(ids[i])) << up;
        EXPECT_EQ(t.alias(ids[i]), -1);
    }
}

namespace {
uint32_t bucket_of(const std::string& name, uint32_t buckets) {
    return ht::hash_symbol_name(name.data(), name.size()) & (buckets - 1);
}
std::string upper(std::string s) {
    for (char& c : s) c = char(toupper(c));
    return s;
}
}  // namespace

TEST(SymbolTable, LongerNameInTheProbePathIsNoTwin) {
    // A longer name starting with the same letters sits where the shorter one
    // probes: only a twin of equal length may become the alias.
    Table t;  // 8 buckets
    std::string longer;
    for (int i = 0; longer.empty() || bucket_of(longer, 8) != bucket_of("pfx", 8); ++i)
        longer = "pfx" + std::to_string(i);
    uint32_t long_id = t.intern(longer);
    uint32_t short_id = t.intern("PFX");
    EXPECT_EQ(t.alias(short_id), -1);
    EXPECT_EQ(t.intern("pfx", true), short_id);
    EXPECT_EQ(t.alias(t.intern("pFx")), int32_t(short_id));
    EXPECT_EQ(t.intern(upper(longer)), long_id + 3);
    EXPECT_EQ(t.alias(long_id + 3), int32_t(long_id));
}

TEST(SymbolTable, GrowthThatReordersTwinsKeepsAliasesCanonical) {
    // A stem in the last bucket puts its first twin in bucket 0 (the probe
    // wraps); growth re-inserts bucket 0 first, so the twin now comes first
    // on the probe path. A third spelling must still alias the stem.
    Table t;  // 8 buckets, grows at 6 used
    std::string stem;
    for (int i = 0; stem.empty() || bucket_of(stem, 8) != 7; ++i) stem = "stem" + std::to_string(i);
    uint32_t first = t.intern(stem);
    uint32_t twin = t.intern(upper(stem));
    ASSERT_EQ(t.alias(twin), int32_t(first));
    for (const char* f : {"f1", "f2", "f3", "f4"}) t.intern(f);
    ASSERT_EQ(ht::header(t.table).buckets, 8u);
    std::string third = stem;
    third[0] = char(toupper(third[0]));
    uint32_t id = t.intern(third);
    EXPECT_GT(ht::header(t.table).buckets, 8u);
    EXPECT_EQ(t.alias(id), int32_t(first));
}

TEST(SymbolTable, AliasesNeverChainAcrossGrowth) {
    Table t;
    // Many case variants of a few stems, interleaved with filler that makes the
    // table grow several times (growth reorders buckets).
    std::vector<std::string> stems = {"alpha", "beta", "gamma-ray", "d"};
    std::vector<uint32_t> first(stems.size());
    for (size_t i = 0; i < stems.size(); ++i) first[i] = t.intern(stems[i]);
    for (int round = 0; round < 32; ++round) {
        for (int f = 0; f < 40; ++f) t.intern("filler-" + std::to_string(round) + "-" + std::to_string(f));
        for (size_t i = 0; i < stems.size(); ++i) {
            std::string v = stems[i];
            for (size_t c = 0; c < v.size(); ++c)
                if ((round >> (c % 5)) & 1) v[c] = char(toupper(v[c]));
            uint32_t id = t.intern(v);
            int32_t a = t.alias(id);
            if (id != first[i]) {
                EXPECT_EQ(a, int32_t(first[i])) << v;
            }
        }
    }
    for (uint32_t id = 1; id <= t.count(); ++id) {
        int32_t a = t.alias(id);
        if (a > 0) {
            EXPECT_EQ(t.alias(uint32_t(a)), -1) << "alias chain at " << t.name(id);
        }
    }
    EXPECT_GT(ht::header(t.table).buckets, 1024u);
    EXPECT_STREQ(ht::check(t.table), "");
}

TEST(SymbolTable, GlobalTableIsBigAndDeterministic) {
    symbol::make_table();
    ht::Header h = ht::header(symbol::table());
    EXPECT_EQ(h.buckets, 16384u);
    EXPECT_EQ(h.upper, 12615u);
    uint32_t a = symbol::make("glob-sym"), b = symbol::make("GLOB-SYM");
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(symbol::make("glob-sym"), a);
    EXPECT_EQ(symbol::resolve(a), a);
    EXPECT_EQ(symbol::resolve(b), a);
    EXPECT_EQ(symbol::alias(a), -1);
    EXPECT_EQ(symbol::alias(b), int32_t(a));
    EXPECT_EQ(symbol::make_bytes("glob-symXX", 8), a);
    EXPECT_EQ(symbol::make_any_case("Glob-Sym"), a);
    EXPECT_EQ(symbol::name(b), "GLOB-SYM");
    EXPECT_STREQ(symbol::name_text(a), "glob-sym");
}

TEST(Symbol, WordEqualityByAlias) {
    auto w = [](const char* n) { return make_cell(Type::word, 0, symbol::make(n), uint32_t(-1)); };
    struct Case {
        const char* a;
        const char* b;
        bool equal, strict;
    };
    const Case cases[] = {
        {"abc", "ABC", true, false},
        {"abc", "abc", true, true},
        {"\xC3\x89", "\xC3\xA9", false, false},  // É and é
        {"abc", "abcd", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ht::keys_equal(w(c.a), w(c.b), ht::Mode::any_case), c.equal) << c.a << c.b;
        EXPECT_EQ(ht::keys_equal(w(c.a), w(c.b), ht::Mode::strict), c.strict) << c.a << c.b;
    }
}

TEST(Symbol, SpellingsAreCopiesAndCached) {
    uint32_t id = symbol::make("sp\xC3\xA9lling");
    Cell entry = symbol::get(id);
    ASSERT_NE(entry.w2, 0u);
    memory::Series* cached = memory::buffer(entry.w2);
    EXPECT_EQ(cached->unit(), 1u);
    EXPECT_EQ(cached->length(), 8u);
    EXPECT_EQ(uint8_t(cached->at_head()[2]), 0xE9);
    // Decoded once: a second get gives the same buffer.
    EXPECT_EQ(symbol::get(id).w2, entry.w2);

    // A script's copy: changing it changes neither the cache nor the name.
    Cell copy = symbol::spelling(id);
    ASSERT_NE(series_node(copy), entry.w2);
    memory::buffer(series_node(copy))->at_head()[0] = std::byte{'X'};
    EXPECT_EQ(uint8_t(memory::buffer(entry.w2)->at_head()[0]), 's');
    EXPECT_EQ(symbol::name(id), "sp\xC3\xA9lling");

    // Wide spellings get a wide cache.
    uint32_t wide = symbol::make("\xE2\x82\xAC\xF0\x9F\x98\x80");  // euro sign, emoji
    memory::Series* w = memory::buffer(symbol::get(wide).w2);
    EXPECT_EQ(w->unit(), 4u);
    EXPECT_EQ(w->length(), 2u);
}

TEST(Symbol, MakeFromString) {
    Node n = string::make_buffer(4);
    collector::NodeRoot keep(n);
    string::append_utf8(n, "from-\xC3\xA9\xE2\x82\xAC");
    Cell s = string::make_cell(n);
    EXPECT_EQ(symbol::make_from_string(s), symbol::make("from-\xC3\xA9\xE2\x82\xAC"));
    s.w1 = 5;  // from the head on
    EXPECT_EQ(symbol::make_from_string(s), symbol::make("\xC3\xA9\xE2\x82\xAC"));
}

TEST(Symbol, CompareAndAnyType) {
    Cell a = symbol::get(symbol::make("apple")), b = symbol::get(symbol::make("APPLE")),
         c = symbol::get(symbol::make("banana"));
    EXPECT_EQ(symbol::compare(a, b, 0), 0);
    EXPECT_NE(symbol::compare(a, b, 2), 0);
    EXPECT_LT(symbol::compare(a, c, 3), 0);
    EXPECT_GT(symbol::compare(c, b, 3), 0);
    // Entries whose strings were never made compare by their names.
    uint32_t fresh = symbol::make("cmp-fresh"), fresh_up = symbol::make("CMP-FRESH");
    Cell raw = memory::buffer(symbol::symbol_block())->cells()[fresh - 1];
    Cell raw_up = memory::buffer(symbol::symbol_block())->cells()[fresh_up - 1];
    ASSERT_EQ(raw.w2, 0u);
    EXPECT_EQ(symbol::compare(raw, raw_up, 0), 0);
    EXPECT_GT(symbol::compare(raw, raw_up, 2), 0);
    EXPECT_GT(symbol::compare(raw, c, 3), 0);  // "cmp-fresh" after "banana"
    EXPECT_TRUE(symbol::any_type_q(make_cell(Type::word, 0, symbol::make("ANY-TYPE!"))));
    EXPECT_FALSE(symbol::any_type_q(make_cell(Type::word, 0, symbol::make("any-type"))));
}

TEST(SymbolGC, InterningUnderStressKeepsNames) {
    symbol::make_table();
    collector::set_enabled(true);
    memory::set_gc_stress(2);
    std::vector<uint32_t> ids;
    for (int i = 0; i < 3000; ++i) ids.push_back(symbol::make("gc-name-" + std::to_string(i)));
    uint32_t upper_id = symbol::make("GC-NAME-7");
    symbol::cache_string(ids[5]);
    memory::set_gc_stress(0);
    collector::do_cycle();
    collector::set_enabled(false);
    for (int i = 0; i < 3000; i += 97) {
        EXPECT_EQ(symbol::name(ids[i]), "gc-name-" + std::to_string(i));
        EXPECT_EQ(symbol::make("gc-name-" + std::to_string(i)), ids[i]);
    }
    EXPECT_EQ(symbol::resolve(upper_id), ids[7]);
    EXPECT_EQ(memory::buffer(symbol::get(ids[5]).w2)->length(), 9u);
    EXPECT_STREQ(ht::check(symbol::table()), "");
}
