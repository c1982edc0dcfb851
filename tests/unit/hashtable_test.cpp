// The hash table: hashing, capacity rules, and every table kind checked
// against a plain model under random operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

using namespace zan;
namespace ht = zan::hashtable;

namespace {

// A series of cells the test owns, rooted for the test's life.
struct Block {
    Node node;
    collector::NodeRoot root;
    explicit Block(uint32_t capacity = 8) : node(memory::alloc_cells(capacity)), root(node) {
        memory::buffer(node)->tail = memory::buffer(node)->head;
    }
    uint32_t length() const { return memory::buffer(node)->length(); }
    Cell& at(uint32_t i) { return memory::buffer(node)->cells()[i]; }
    void reserve(uint32_t n) {
        memory::Series* s = memory::buffer(node);
        if (s->head + n * 16 > s->capacity) memory::expand_series_copy(node, uint64_t(n) * 32 + 16);
    }
    void insert(uint32_t i, Cell c) {
        uint32_t len = length();
        reserve(len + 1);
        memory::Series* s = memory::buffer(node);
        Cell* cells = s->cells();
        std::memmove(cells + i + 1, cells + i, size_t(len - i) * 16);
        cells[i] = c;
        s->tail += 16;
    }
    void append(Cell c) { insert(length(), c); }
    void erase(uint32_t i, uint32_t n) {
        uint32_t len = length();
        memory::Series* s = memory::buffer(node);
        Cell* cells = s->cells();
        std::memmove(cells + i, cells + i + n, size_t(len - i - n) * 16);
        s->tail -= n * 16;
    }
    Cell value(Type t = Type::block) const { return series_cell(t, node); }
};

Cell str(const std::string& text, Type t = Type::string) {
    Node n = memory::alloc_series(uint32_t(text.size()), 1);
    memory::Series* s = memory::buffer(n);
    std::memcpy(s->at_head(), text.data(), text.size());
    s->tail = s->head + uint32_t(text.size());
    return series_cell(t, n);
}

Cell word(const char* name, Type t = Type::word) {
    return make_cell(t, 0, symbol::make(name), uint32_t(-1));
}

}  // namespace

// --- hashing -------------------------------------------------------------------------

TEST(Murmur3, PublishedVectors) {
    struct Case {
        std::string bytes;
        uint32_t seed, hash;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7},
        {"", 0xFFFFFFFF, 0x81F16F39},
        {std::string("\0\0\0\0", 4), 0, 0x2362F9DE},
        {"\xFF\xFF\xFF\xFF", 0, 0x76293B50},
        {"\x21\x43\x65\x87", 0, 0xF55B516B},
        {"\x21\x43\x65", 0, 0x7E4A8634},
        {"\x21\x43", 0, 0xA0F7B07A},
        {"\x21", 0, 0x72661CF4},
        {"aaaa", 0x9747B28C, 0x5A97808A},
        {"aaa", 0x9747B28C, 0x283E0130},
        {"aa", 0x9747B28C, 0x5D211726},
        {"a", 0x9747B28C, 0x7FA09EA6},
        {"abcd", 0x9747B28C, 0xF0478627},
        {"abc", 0x9747B28C, 0xC84A62DD},
        {"ab", 0x9747B28C, 0x74875592},
        {"Hello, world!", 0x9747B28C, 0x24884CBA},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ht::murmur3(c.bytes.data(), c.bytes.size(), c.seed), c.hash)
            << '"' << c.bytes << "\" seed " << c.seed;
}

TEST(Hashing, FixedValuesAndCaseRules) {
    collector::set_enabled(false);  // the strings here are held by no root
    EXPECT_EQ(ht::hash_value(none_cell()), 0xFFFFFFFFu);
    EXPECT_EQ(ht::hash_value(unset_cell()), 0xFFFFFFFEu);
    EXPECT_EQ(ht::hash_value(integer_cell(7)), ht::hash_integer(7));
    EXPECT_EQ(ht::hash_value(char_cell(7)), ht::hash_integer(7));
    EXPECT_EQ(ht::hash_pointer(12345), ht::fmix32(12345));

    // A symbol name hashes its ASCII-lowered bytes; other bytes stay as they are.
    std::string lowered = "hello-world\xC3\x89";
    EXPECT_EQ(ht::hash_symbol_name("HeLLo-World\xC3\x89", lowered.size()),
              ht::murmur3(lowered.data(), lowered.size()));

    // Strings: one block per code point, case folded unless asked not to.
    EXPECT_EQ(ht::hash_value(str("ABC")), ht::hash_value(str("abc")));
    EXPECT_NE(ht::hash_string(str("ABC"), true), ht::hash_string(str("abc"), true));
    uint32_t blocks[] = {'a', 'b', 'c'};
    EXPECT_EQ(ht::hash_string(str("abc"), true), ht::murmur3(blocks, sizeof blocks));
    // The head index counts: only the characters from the head on.
    Cell tail_part = str("xxabc");
    tail_part.w1 = 2;
    EXPECT_EQ(ht::hash_value(tail_part), ht::hash_value(str("abc")));

    // Words hash their canonical symbol, so every letter case meets.
    EXPECT_EQ(ht::hash_value(word("Hash-Case")), ht::hash_value(word("hash-case")));
    EXPECT_EQ(ht::hash_value(word("hash-case", Type::set_word)), ht::hash_value(word("HASH-CASE")));
}

// Counting integer keys take neighbouring buckets (within runs of 16), while
// keys a power of two apart still spread over the buckets.
TEST(Hashing, IntegersKeepRunsAndSpreadStrides) {
    for (uint32_t x : {0u, 32u, 0x7FFFFFF0u, 0xFFFFFFE0u})
        for (uint32_t i = 0; i < 15; ++i) EXPECT_EQ(ht::hash_integer(x + i + 1), ht::hash_integer(x + i) + 1);
    for (uint32_t shift : {4u, 12u, 16u, 20u}) {
        std::set<uint32_t> buckets;
        for (uint32_t k = 0; k < 4096; ++k) buckets.insert(ht::hash_integer(k << shift) & 4095);
        EXPECT_GT(buckets.size(), 2000u) << "stride 2^" << shift;
    }
}

TEST(Hashing, KeyEqualityByMode) {
    collector::set_enabled(false);  // the strings here are held by no root
    struct Case {
        Cell a, b;
        bool any_case, case_sensitive;
    };
    const Case cases[] = {
        {str("abc"), str("ABC"), true, false},
        {str("abc"), str("abc"), true, true},
        {str("abc"), str("abc", Type::file), false, false},
        {str("abc"), str("abcd"), false, false},
        {word("eqw"), word("EQW"), true, false},
        {word("eqw"), word("eqw", Type::set_word), false, false},
        {integer_cell(3), integer_cell(3), true, true},
        {integer_cell(3), float_cell(3.0), false, false},
        {none_cell(), none_cell(), true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ht::keys_equal(c.a, c.b, ht::Mode::any_case), c.any_case);
        EXPECT_EQ(ht::keys_equal(c.a, c.b, ht::Mode::case_sensitive), c.case_sensitive);
    }
    // Map keys: any word is a set-word.
    EXPECT_TRUE(ht::keys_equal(word("mk"), word("mk", Type::set_word), ht::Mode::any_case, true));
    EXPECT_TRUE(ht::keys_equal(word("mk", Type::lit_word), word("MK", Type::get_word),
                               ht::Mode::any_case, true));
}

// --- sizes -------------------------------------------------------------------------------

TEST(HashTable, SizesAndBounds) {
    struct Case {
        uint32_t size;
        ht::Kind kind;
        uint32_t buckets, upper;
    };
    const Case cases[] = {
        {0, ht::kind_hash, 8, 6},
        {3, ht::kind_map, 8, 6},
        {4, ht::kind_nodes, 8, 6},
        {10, ht::kind_hash, 16, 12},
        {4000, ht::kind_symbols, 16384, 12615},
        {3999, ht::kind_symbols, 8192, 6307},
        {4000, ht::kind_hash, 8192, 6307},
    };
    for (const Case& c : cases) {
        Node t = ht::make(c.size, nullptr, c.kind, 1);
        ht::Header h = ht::header(t);
        EXPECT_EQ(h.buckets, c.buckets) << c.size;
        EXPECT_EQ(h.upper, c.upper) << c.size;
        EXPECT_EQ(h.count, 0u);
        EXPECT_STREQ(ht::check(t), "");
    }
}

// --- hash! against a model ------------------------------------------------------------------

namespace {

// A hash! block and its table, changed the way the block actions change them,
// and compared with a linear search after every step.
struct HashBlock {
    Block block;
    Node table;
    ht::TableRoot root;
    HashBlock() : table(make_table()), root(table) {}
    Node make_table() {
        Cell v = block.value();
        return ht::make(0, &v, ht::kind_hash);
    }

    void insert(uint32_t i, Cell c) {
        uint32_t len = block.length();
        block.insert(i, c);
        ht::refresh(table, 1, i, len - i, false);
        ht::put(table, i);
    }
    void remove(uint32_t i, uint32_t n) {
        uint32_t len = block.length();
        ht::clear_range(table, i, n);
        block.erase(i, n);
        ht::refresh(table, -int32_t(n), i + n, len - i - n, false);
    }
    void move(uint32_t to, uint32_t from, uint32_t n) {
        std::vector<Cell> cells(block.length());
        for (uint32_t i = 0; i < cells.size(); ++i) cells[i] = block.at(i);
        std::vector<Cell> moved(cells.begin() + from, cells.begin() + from + n);
        cells.erase(cells.begin() + from, cells.begin() + from + n);
        cells.insert(cells.begin() + to, moved.begin(), moved.end());
        for (uint32_t i = 0; i < cells.size(); ++i) block.at(i) = cells[i];
        ht::move(table, to, from, n);
    }

    int32_t linear(Cell key, uint32_t start, uint32_t skip, ht::Mode mode, bool last,
                   bool reverse) {
        int32_t best = -1;
        for (uint32_t p = 0; p < block.length(); ++p) {
            bool ok = reverse ? p < start && (start - p) % skip == 0
                              : p >= start && (p - start) % skip == 0;
            if (!ok || !ht::keys_equal(block.at(p), key, mode)) continue;
            bool nearer = best < 0 || (reverse ? p > uint32_t(best) : p < uint32_t(best));
            if (best < 0 || nearer != last) best = int32_t(p);
        }
        return best;
    }
};

}  // namespace

TEST(HashBlock, RandomOperationsMatchLinearSearch) {
    std::mt19937 rng(20261210);
    HashBlock hb;
    std::vector<Cell> keys;
    for (int i = 0; i < 40; ++i) keys.push_back(integer_cell(i));
    const char* texts[] = {"abc", "ABC", "Abc", "xyz", "XYZ", "q"};
    for (const char* t : texts) keys.push_back(str(t));
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };

    for (int step = 0; step < 3000; ++step) {
        uint32_t len = hb.block.length();
        uint32_t op = pick(10);
        if (op < 5 || len < 4) {
            hb.insert(pick(len + 1), keys[pick(uint32_t(keys.size()))]);
        } else if (op < 8) {
            uint32_t i = pick(len);
            hb.remove(i, 1 + pick(std::min<uint32_t>(3, len - i)));
        } else {
            uint32_t n = 1 + pick(3);
            if (n > len) continue;
            uint32_t from = pick(len - n + 1), to = pick(len - n + 1);
            hb.move(to, from, n);
        }
        ASSERT_STREQ(ht::check(hb.table), "") << "step " << step;
        if (step % 7) continue;
        for (const Cell& k : keys) {
            uint32_t start = pick(hb.block.length() + 1), skip = 1 + pick(3);
            for (ht::Mode mode : {ht::Mode::any_case, ht::Mode::case_sensitive})
                for (bool last : {false, true})
                    for (bool reverse : {false, true})
                        ASSERT_EQ(ht::get(hb.table, k, start, skip, mode, last, reverse),
                                  hb.linear(k, start, skip, mode, last, reverse))
                            << "step " << step << " start " << start << " skip " << skip;
        }
    }
}

TEST(HashBlock, MatchesMultimapThroughGrowthAndRemoval) {
    // Positions never move here: the table is a multimap from key to positions.
    // Cells are appended or changed in place, as append and poke do.
    std::mt19937 rng(7);
    HashBlock hb;
    std::unordered_multimap<int32_t, uint32_t> model;
    std::vector<bool> live;
    for (int i = 0; i < 5000; ++i) {
        int32_t k = int32_t(rng() % 700);
        hb.block.append(integer_cell(k));
        ht::put(hb.table, hb.block.length() - 1);
        model.emplace(k, hb.block.length() - 1);
        live.push_back(true);
        if (rng() % 3 == 0) {
            uint32_t p = rng() % hb.block.length();
            if (live[p]) {
                // The cell is changed (as by poke): its key leaves, a new one comes.
                ht::remove(hb.table, p);
                live[p] = false;
                auto range = model.equal_range(int_of(hb.block.at(p)));
                for (auto it = range.first; it != range.second; ++it)
                    if (it->second == p) {
                        model.erase(it);
                        break;
                    }
                hb.block.at(p) = integer_cell(100000 + i);
                ht::put(hb.table, p);
            }
        }
    }
    ASSERT_STREQ(ht::check(hb.table), "");
    EXPECT_GT(ht::header(hb.table).buckets, 512u);
    for (int32_t k = 0; k < 700; ++k) {
        auto range = model.equal_range(k);
        std::vector<uint32_t> want;
        for (auto it = range.first; it != range.second; ++it) want.push_back(it->second);
        std::sort(want.begin(), want.end());
        int32_t first = want.empty() ? -1 : int32_t(want.front());
        int32_t last = want.empty() ? -1 : int32_t(want.back());
        EXPECT_EQ(ht::get(hb.table, integer_cell(k)), first) << k;
        EXPECT_EQ(ht::get(hb.table, integer_cell(k), 0, 1, ht::Mode::any_case, true), last) << k;
        // get_next walks every occurrence once.
        ht::Probe probe;
        std::vector<uint32_t> seen;
        for (int32_t p; (p = ht::get_next(hb.table, integer_cell(k), probe)) >= 0;)
            seen.push_back(uint32_t(p));
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, want) << k;
    }
}

TEST(HashBlock, MadeSmallerThanItsBlock) {
    // Growing while the block is put re-inserts the cells not put yet too.
    Block b;
    for (int i = 0; i < 100; ++i) b.append(integer_cell(i % 30));
    Cell v = b.value(Type::hash);
    Node t = ht::make(0, &v, ht::kind_hash);
    ht::TableRoot keep(t);
    ASSERT_STREQ(ht::check(t), "");
    EXPECT_EQ(ht::count(t), 30u);
    EXPECT_EQ(ht::get(t, integer_cell(29)), 29);
    EXPECT_EQ(ht::get(t, integer_cell(29), 0, 1, ht::Mode::any_case, true), 89);
    EXPECT_EQ(ht::get(t, integer_cell(5), 40), 65);
}

TEST(HashBlock, RefreshOfManyPositionsRebuilds) {
    HashBlock hb;
    const uint32_t n = 40000;
    for (uint32_t i = 0; i < n; ++i) {
        hb.block.append(integer_cell(int32_t(i)));
        ht::put(hb.table, i);
    }
    hb.insert(0, integer_cell(-1));
    ASSERT_STREQ(ht::check(hb.table), "");
    for (uint32_t i : {0u, 1u, 20000u, n - 1})
        EXPECT_EQ(ht::get(hb.table, integer_cell(int32_t(i))), int32_t(i + 1));
    EXPECT_EQ(ht::get(hb.table, integer_cell(-1)), 0);
    hb.remove(0, 2);
    EXPECT_EQ(ht::get(hb.table, integer_cell(0)), -1);
    EXPECT_EQ(ht::get(hb.table, integer_cell(5)), 4);
}

TEST(HashBlock, ClearEmptiesBlockAndTable) {
    HashBlock hb;
    for (int i = 0; i < 20; ++i) {
        hb.block.append(integer_cell(i % 5));
        ht::put(hb.table, uint32_t(i));
    }
    ht::clear_range(hb.table, 0, 100);  // cut to the block: the whole block
    EXPECT_EQ(ht::count(hb.table), 0u);
    EXPECT_EQ(ht::get(hb.table, integer_cell(1)), -1);
    ht::put(hb.table, 3);
    EXPECT_EQ(ht::get(hb.table, integer_cell(3)), 3);
    ht::clear(hb.table);
    EXPECT_EQ(hb.block.length(), 0u);
    EXPECT_EQ(ht::count(hb.table), 0u);
    EXPECT_STREQ(ht::check(hb.table), "");
}

TEST(HashBlock, IdentityKeysStampAndRebuildAfterNodeCycles) {
    static uint32_t cycles = 0;
    ht::set_node_cycles([] { return cycles; });
    HashBlock hb;
    Block inner;
    hb.block.append(inner.value());
    ht::put(hb.table, 0);
    EXPECT_EQ(ht::header(hb.table).stamp, 1u);
    cycles = 3;
    EXPECT_EQ(ht::get(hb.table, inner.value()), 0);
    EXPECT_EQ(ht::header(hb.table).stamp, 4u);
    ht::set_node_cycles(nullptr);
}

// --- map! ---------------------------------------------------------------------------------

TEST(Map, RepeatedKeyKeepsLastValueAndOnePair) {
    Block b;
    Cell pairs[] = {word("k1", Type::set_word), integer_cell(1), str("s"), integer_cell(2),
                    word("K1", Type::set_word), integer_cell(3), str("S"), integer_cell(4),
                    integer_cell(9), integer_cell(5)};
    for (const Cell& c : pairs) b.append(c);
    Cell v = b.value(Type::map);
    Node t = ht::make(5, &v, ht::kind_map);
    ht::TableRoot keep(t);
    ASSERT_EQ(b.length(), 6u);
    EXPECT_EQ(int_of(b.at(1)), 3);
    EXPECT_EQ(int_of(b.at(3)), 4);
    EXPECT_EQ(ht::count(t), 3u);
    // Any word finds its set-word key; a key stays found after the removals.
    EXPECT_EQ(ht::get(t, word("k1", Type::lit_word)), 0);
    EXPECT_EQ(ht::get(t, str("S")), 2);
    EXPECT_EQ(ht::get(t, str("S"), 0, 1, ht::Mode::case_sensitive), -1);
    EXPECT_EQ(ht::get(t, integer_cell(9)), 4);
    EXPECT_STREQ(ht::check(t), "");
}

TEST(Map, DeleteAndReinsertReusesTheBucket) {
    Block b;
    b.append(integer_cell(1));
    b.append(integer_cell(10));
    Cell v = b.value(Type::map);
    Node t = ht::make(4, &v, ht::kind_map);
    ht::TableRoot keep(t);
    uint32_t used = ht::header(t).used;
    ht::remove(t, 0);
    EXPECT_EQ(ht::get(t, integer_cell(1)), -1);
    EXPECT_EQ(ht::header(t).used, used);
    EXPECT_EQ(ht::put(t, 0), 0);
    EXPECT_EQ(ht::header(t).used, used);
    EXPECT_EQ(ht::count(t), 1u);
    EXPECT_EQ(ht::get(t, integer_cell(1)), 0);
}

TEST(Map, GrowsAndMatchesModel) {
    std::mt19937 rng(3);
    Block b;
    Cell v = b.value(Type::map);
    Node t = ht::make(0, &v, ht::kind_map);
    ht::TableRoot keep(t);
    std::map<int32_t, int32_t> model;
    for (int i = 0; i < 3000; ++i) {
        int32_t k = int32_t(rng() % 1000), val = int32_t(rng());
        b.append(integer_cell(k));
        b.append(integer_cell(val));
        int32_t at = ht::put(t, b.length() - 2);
        if (uint32_t(at) != b.length() - 2) {
            b.at(uint32_t(at) + 1) = integer_cell(val);
            b.erase(b.length() - 2, 2);
        }
        model[k] = val;
    }
    ASSERT_STREQ(ht::check(t), "");
    EXPECT_EQ(ht::count(t), model.size());
    for (int32_t k = 0; k < 1000; ++k) {
        int32_t at = ht::get(t, integer_cell(k));
        auto it = model.find(k);
        if (it == model.end()) {
            EXPECT_EQ(at, -1);
        } else {
            ASSERT_GE(at, 0);
            EXPECT_EQ(int_of(b.at(uint32_t(at) + 1)), it->second);
        }
    }
}

// --- word tables and copies -----------------------------------------------------------------

TEST(WordTable, FindsByExactOrCanonicalSymbolAndGrows) {
    Block words;
    Cell v = words.value();
    Node t = ht::make(0, &v, ht::kind_symbols);
    ht::TableRoot keep(t);
    auto add = [&](const char* name) {
        uint32_t sym = symbol::make(name);
        uint32_t index = words.length();
        EXPECT_EQ(ht::put_word(t, sym, false, true), -1) << name;
        words.append(make_cell(Type::word, 0, sym, index));
        return int32_t(index);
    };
    int32_t foo = add("wt-foo");
    int32_t bar = add("wt-bar");
    struct Case {
        const char* name;
        bool any_case;
        int32_t index;
    };
    const Case cases[] = {
        {"wt-foo", false, foo}, {"WT-FOO", false, -1}, {"WT-FOO", true, foo},
        {"wt-Bar", true, bar},  {"wt-baz", true, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ht::put_word(t, symbol::make(c.name), c.any_case, false), c.index) << c.name;
    // The exact twin is a word of its own.
    int32_t upper_foo = add("WT-FOO");
    EXPECT_EQ(ht::put_word(t, symbol::make("WT-FOO"), false, false), upper_foo);
    EXPECT_EQ(ht::put_word(t, symbol::make("wt-foo"), false, false), foo);
    for (int i = 0; i < 300; ++i) add(("wt-" + std::to_string(i)).c_str());
    EXPECT_GT(ht::header(t).buckets, 300u);
    EXPECT_EQ(ht::put_word(t, symbol::make("WT-299"), true, false), int32_t(words.length()) - 1);
    EXPECT_EQ(ht::put_word(t, symbol::make("wt-bar"), false, false), bar);
    EXPECT_STREQ(ht::check(t), "");
}

TEST(HashBlock, CopyIsIndependent) {
    HashBlock hb;
    for (int i = 0; i < 30; ++i) hb.insert(hb.block.length(), integer_cell(i % 6));
    Block other;
    for (uint32_t i = 0; i < hb.block.length(); ++i) other.append(hb.block.at(i));
    Node c = ht::copy(hb.table, other.node);
    ht::TableRoot keep(c);
    ASSERT_STREQ(ht::check(c), "");
    EXPECT_EQ(ht::indexed_series(c), other.node);
    // Removing from the original leaves the copy whole.
    hb.remove(0, 1);
    EXPECT_EQ(ht::get(hb.table, integer_cell(0)), 5);
    EXPECT_EQ(ht::get(c, integer_cell(0)), 0);
    EXPECT_EQ(ht::get(c, integer_cell(5), 0, 1, ht::Mode::any_case, true), 29);
    ht::remove(c, 0);
    EXPECT_EQ(ht::get(c, integer_cell(0)), 6);
    EXPECT_EQ(ht::get(hb.table, integer_cell(0)), 5);
}

// --- node-keyed sets ---------------------------------------------------------------------

TEST(NodeSet, MatchesUnorderedMap) {
    std::mt19937 rng(11);
    Node t = ht::make(0, nullptr, ht::kind_nodes, 2);
    ht::TableRoot keep(t);
    std::unordered_map<Node, int32_t> model;
    for (int i = 0; i < 20000; ++i) {
        Node key = 1 + rng() % 3000;
        switch (rng() % 3) {
            case 0:
            case 1: {
                Cell* v = ht::put_ptr(t, key);
                EXPECT_TRUE(is(v[0], Type::unset) && is(v[1], Type::unset));
                v[1] = integer_cell(int32_t(i));
                model[key] = i;
                break;
            }
            default:
                ht::delete_ptr(t, key);
                model.erase(key);
        }
    }
    ASSERT_STREQ(ht::check(t), "");
    EXPECT_EQ(ht::count(t), model.size());
    for (Node key = 1; key <= 3000; ++key) {
        Cell* v = ht::get_ptr(t, key);
        auto it = model.find(key);
        if (it == model.end()) {
            EXPECT_EQ(v, nullptr);
        } else {
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(int_of(v[1]), it->second);
        }
    }
    size_t visited = 0;
    ht::for_each_record(t, [&](Node, Cell*) { ++visited; });
    EXPECT_EQ(visited, model.size());
}

TEST(NodeSet, ManyDeletionsRebuildInsteadOfDoubling) {
    Node t = ht::make(0, nullptr, ht::kind_nodes, 1);
    ht::TableRoot keep(t);
    for (Node k = 1; k <= 40; ++k) ht::put_ptr(t, k);
    uint32_t buckets = ht::header(t).buckets;
    for (Node k = 1; k <= 36; ++k) ht::delete_ptr(t, k);
    // Fill the deleted buckets up to the grow trigger with new keys.
    Node k = 100;
    while (ht::header(t).used < ht::header(t).upper) ht::put_ptr(t, k++);
    ht::put_ptr(t, k++);
    EXPECT_EQ(ht::header(t).buckets, buckets);
    EXPECT_EQ(ht::header(t).used, ht::header(t).count);
    for (Node key : {37u, 40u, 100u, k - 1}) EXPECT_NE(ht::get_ptr(t, key), nullptr);
    EXPECT_EQ(ht::get_ptr(t, 1), nullptr);
    EXPECT_STREQ(ht::check(t), "");
}

// --- relocation map -----------------------------------------------------------------------

TEST(RelocMap, MatchesUnorderedMapAndIterates) {
    std::mt19937 rng(5);
    ht::RelocMap* m = ht::relocmap::make(4);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->buckets, 8u);
    EXPECT_EQ(m->upper, 6u);
    std::unordered_map<uint32_t, uint32_t> model;
    for (int i = 0; i < 20000; ++i) {
        uint32_t key = rng() % 5000;
        if (rng() % 4) {
            ASSERT_EQ(ht::relocmap::put(m, key, uint32_t(i)), 0);
            model[key] = uint32_t(i);
        } else {
            ht::relocmap::remove(m, key);
            model.erase(key);
        }
    }
    EXPECT_EQ(m->count, model.size());
    for (uint32_t key = 0; key < 5000; ++key) {
        uint32_t value = 0;
        bool found = ht::relocmap::get(m, key, &value);
        auto it = model.find(key);
        ASSERT_EQ(found, it != model.end()) << key;
        if (found) {
            EXPECT_EQ(value, it->second);
        }
    }
    uint32_t cursor = 0, key, value;
    size_t n = 0;
    while (ht::relocmap::next(m, &cursor, &key, &value)) {
        EXPECT_EQ(model.at(key), value);
        ++n;
    }
    EXPECT_EQ(n, model.size());
    ht::relocmap::clear(m);
    EXPECT_FALSE(ht::relocmap::get(m, key, &value));
    ht::relocmap::free(m);
}

// --- across collections ------------------------------------------------------------------

namespace {

// Every Nth allocation collects while it lives, so every buffer may move at
// any allocation the table makes.
struct Stress {
    explicit Stress(uint32_t every) {
        collector::set_enabled(true);
        memory::set_gc_stress(every);
    }
    ~Stress() {
        memory::set_gc_stress(0);
        collector::set_enabled(false);
    }
};

void add_key(Block& keys, Cell c) {
    collector::Root keep(c);
    keys.append(c);
}

}  // namespace

TEST(HashTableGC, HashBlockUnderStressMatchesLinearSearch) {
    HashBlock hb;
    Block keys;
    for (int i = 0; i < 30; ++i) add_key(keys, integer_cell(i));
    for (const char* t : {"abc", "ABC", "xyz", "Xyz", "q"}) add_key(keys, str(t));
    Stress stress(3);
    uint32_t cycles = collector::cycles();
    std::mt19937 rng(99);
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    for (int step = 0; step < 1500; ++step) {
        uint32_t len = hb.block.length();
        uint32_t op = pick(10);
        if (op < 6 || len < 4) {
            hb.insert(pick(len + 1), keys.at(pick(keys.length())));
        } else if (op < 8) {
            uint32_t i = pick(len);
            hb.remove(i, 1 + pick(std::min<uint32_t>(3, len - i)));
        } else {
            uint32_t from = pick(len - 1), to = pick(len - 1);
            hb.move(to, from, 2);
        }
        if (step % 25) continue;
        collector::do_cycle();
        ASSERT_STREQ(ht::check(hb.table), "") << "step " << step;
        for (uint32_t j = 0; j < keys.length(); ++j) {
            Cell k = keys.at(j);
            ASSERT_EQ(ht::get(hb.table, k), hb.linear(k, 0, 1, ht::Mode::any_case, false, false))
                << "step " << step;
        }
    }
    EXPECT_GT(collector::cycles(), cycles + 100);
}

TEST(HashTableGC, NodeSetAndMapSurviveCompaction) {
    Node set = ht::make(0, nullptr, ht::kind_nodes, 1);
    ht::TableRoot keep_set(set);
    Block b;
    Cell v = b.value(Type::map);
    Node map = ht::make(0, &v, ht::kind_map);
    ht::TableRoot keep_map(map);
    Stress stress(2);
    for (int i = 0; i < 2000; ++i) {
        Cell* r = ht::put_ptr(set, Node(i + 1));
        r[0] = integer_cell(i);
        b.append(integer_cell(i * 7));
        b.append(integer_cell(i));
        ht::put(map, b.length() - 2);
    }
    collector::do_cycle();
    ASSERT_STREQ(ht::check(set), "");
    ASSERT_STREQ(ht::check(map), "");
    for (int i = 0; i < 2000; i += 37) {
        Cell* r = ht::get_ptr(set, Node(i + 1));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(int_of(r[0]), i);
        int32_t at = ht::get(map, integer_cell(i * 7));
        ASSERT_GE(at, 0);
        EXPECT_EQ(int_of(b.at(uint32_t(at) + 1)), i);
    }
}
