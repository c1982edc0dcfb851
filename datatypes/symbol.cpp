// Symbols: interning, aliases and spellings.
//
// The symbol block and the symbol table live for the whole run and are
// collector roots (one marker). Interning itself is the hash table's
// put_symbol; this file holds the entry accessors, the cached string of each
// spelling and the symbol! datatype.
#include "datatypes/symbol.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"


namespace zan::symbol {

namespace {

constexpr uint32_t block_size = 4000;

Node g_block = 0;
Node g_table = 0;
uint32_t g_any_type = 0;

void mark_roots() {
    if (g_table) hashtable::mark(g_table);
    if (g_block) collector::mark_series(g_block);
}

Cell& entry(uint32_t id) { return memory::buffer(g_block)->cells()[id - 1]; }

// Lenient UTF-8 decoding: a byte that starts no valid sequence stands for
// itself, so every spelling (any bytes may be interned) has a string and
// molding a word never raises.
uint32_t decode(const uint8_t* p, const uint8_t* end, const uint8_t** next) {
    uint8_t b = p[0];
    int extra = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : 0;
    if (b < 0x80 || extra == 0 || end - p <= extra) {
        *next = p + 1;
        return b;
    }
    uint32_t cp = b & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            *next = p + 1;
            return b;
        }
        cp = cp << 6 | (p[i] & 0x3F);
    }
    static constexpr uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
        *next = p + 1;
        return b;
    }
    *next = p + extra + 1;
    return cp;
}

void put_unit(std::byte* at, uint32_t unit, uint32_t cp) {
    for (uint32_t i = 0; i < unit; ++i) at[i] = std::byte((cp >> (8 * i)) & 0xFF);
}

// A new string buffer holding the decoded spelling.
Node decode_name(uint32_t id) {
    std::string_view n = name(id);
    const auto* p = reinterpret_cast<const uint8_t*>(n.data());
    const uint8_t* end = p + n.size();
    uint32_t length = 0, widest = 0;
    for (const uint8_t* q = p; q < end; ++length) widest = std::max(widest, decode(q, end, &q));
    uint32_t unit = widest <= 0xFF ? 1 : widest <= 0xFFFF ? 2 : 4;
    Node s = memory::alloc_series(std::max<uint32_t>(length, 1), unit);
    memory::Series* b = memory::buffer(s);
    n = name(id);  // the allocation may have moved the name
    p = reinterpret_cast<const uint8_t*>(n.data());
    end = p + n.size();
    std::byte* out = b->at_head();
    while (p < end) {
        put_unit(out, unit, decode(p, end, &p));
        out += unit;
    }
    b->tail = b->head + length * unit;
    return s;
}

}  // namespace

void make_table() {
    if (g_table) return;
    collector::register_marker(mark_roots);
    collector::set_cell_marker(Type::symbol, mark_cell);
    g_block = memory::alloc_cells(block_size);
    memory::buffer(g_block)->tail = memory::buffer(g_block)->head;
    Cell block = series_cell(Type::block, g_block);
    g_table = hashtable::make(block_size, &block, hashtable::kind_symbols);
}

void init() {
    actions::Row row;
    row.compare = &compare;
    datatype::register_type(Type::symbol, Type::any, "symbol!", row);
}

Node table() { return g_table; }
Node symbol_block() { return g_block; }
uint32_t count() { return g_block ? memory::buffer(g_block)->length() : 0; }

uint32_t make_bytes(const char* bytes, size_t length) {
    if (!g_table) make_table();
    return hashtable::put_symbol(g_table, bytes, length, false);
}
uint32_t make(const char* text) { return make_bytes(text, std::strlen(text)); }
uint32_t make(std::string_view text) { return make_bytes(text.data(), text.size()); }
uint32_t make_any_case(const char* text) {
    if (!g_table) make_table();
    return hashtable::put_symbol(g_table, text, std::strlen(text), true);
}

uint32_t make_from_string(const Cell& s) {
    std::string utf8 = string::to_utf8(s);
    return make_bytes(utf8.data(), utf8.size());
}

std::string_view name(uint32_t id) {
    memory::Series* s = memory::buffer(entry(id).w3);
    return {reinterpret_cast<const char*>(s->at_head()), s->tail - s->head};
}

const char* name_text(uint32_t id) {
    Node n = entry(id).w3;
    memory::Series* s = memory::buffer(n);
    if (s->tail >= s->capacity) s = memory::expand_series_copy(n, s->capacity + 16);
    *s->at_tail() = std::byte{0};
    return reinterpret_cast<const char*>(s->at_head());
}

void cache_string(uint32_t id) {
    if (entry(id).w2 != 0) return;
    Node s = decode_name(id);
    entry(id).w2 = s;
}

Cell get(uint32_t id) {
    cache_string(id);
    return entry(id);
}

uint32_t resolve(uint32_t id) {
    if (id == 0 || id > count()) return id;  // no such symbol: nothing to fold
    int32_t a = int32_t(entry(id).w1);
    return a > 0 ? uint32_t(a) : id;
}

int32_t alias(uint32_t id) { return id == 0 || id > count() ? -1 : int32_t(entry(id).w1); }

Cell spelling(uint32_t id) {
    cache_string(id);
    Node copy = memory::copy_series(entry(id).w2);
    return series_cell(Type::string, copy);
}

bool any_type_q(const Cell& word) {
    if (!g_any_type) g_any_type = resolve(make("any-type!"));
    return resolve(word_symbol(word)) == g_any_type;
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (a.w2 && b.w2)
        return string::compare_text(series_cell(Type::string, a.w2),
                                    series_cell(Type::string, b.w2), op, false);
    // Entries not fetched through get(): their names decoded as they go.
    if (op == 9) return a.w3 == b.w3 ? 0 : 1;
    bool fold = op != 2 && op != 8;
    memory::Series* x = memory::buffer(a.w3);
    memory::Series* y = memory::buffer(b.w3);
    const auto* p = reinterpret_cast<const uint8_t*>(x->at_head());
    const auto* pe = p + (x->tail - x->head);
    const auto* q = reinterpret_cast<const uint8_t*>(y->at_head());
    const auto* qe = q + (y->tail - y->head);
    while (p < pe && q < qe) {
        uint32_t c = decode(p, pe, &p), d = decode(q, qe, &q);
        if (fold) {
            c = unicode::to_upper(c);
            d = unicode::to_upper(d);
        }
        if (c != d) return c < d ? -1 : 1;
    }
    if (p < pe) return 1;
    if (q < qe) return -1;
    return 0;
}

void mark_cell(Cell& c) {
    if (c.w3) collector::mark_node(c.w3);
    if (c.w2) collector::mark_node(c.w2);
}

}  // namespace zan::symbol
