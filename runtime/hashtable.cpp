// The hash table: one open-addressing scheme for every keyed lookup.
//
// A table is a small series of ten words (Header) naming its other series:
// the buckets (a tag and a 32-bit slot each; zero bytes = all empty) and the
// indexed series the slots point into. hash! adds a position index (position -> bucket, so a position is
// forgotten without looking at the cell that stood there) and duplicate lists
// (a bucket holding -k stands for list k of equal keys). Node-keyed sets keep
// records of their own: a live record's first cell is unset with the key node
// in its second word, so the key is never marked through it.
//
// Invariants: used = occupied + deleted buckets, used < upper bound <= 0.77 of
// the buckets, so a probe always ends at an empty bucket; count = occupied
// buckets. Everything lives in movable buffers: addresses are re-read after
// every allocation.
#include "runtime/hashtable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"


namespace zan::hashtable {

namespace {

constexpr uint32_t f_occupied = 0, f_deleted = 1, f_empty = 2;
constexpr uint32_t no_bucket = 0xFFFFFFFF;
constexpr uint32_t refresh_rebuild_above = 30000;

uint32_t g_seed = 0x2F6B1C3Du;
bool g_tables_made = false;  // the seed is fixed from then on
NodeCycles g_node_cycles = nullptr;

uint32_t node_cycle() { return g_node_cycles ? g_node_cycles() : collector::node_cycles(); }

// Tables held by C++ locals (being made or rebuilt, or a caller's): marked
// whole, with every series they name, by a marker of their own.
std::vector<Node*> g_rooted;
void mark_rooted() {
    for (Node* t : g_rooted) mark(*t);
}
using Building = TableRoot;

// --- raw access -------------------------------------------------------------------

Header* hdr(Node t) { return reinterpret_cast<Header*>(memory::buffer(t)->at_head()); }
uint32_t* words(Node n) { return reinterpret_cast<uint32_t*>(memory::buffer(n)->at_head()); }
uint32_t word_count(Node n) {
    memory::Series* s = memory::buffer(n);
    return (s->tail - s->head) / 4;
}
Cell* cells(Node n) { return memory::buffer(n)->cells(); }
uint32_t cell_count(Node n) { return memory::buffer(n)->length(); }

// Buckets: word 2b is the tag, word 2b + 1 the slot. The tag keeps the hash
// with its top bit set, so its low bits still give the home bucket (a table
// never has 2^31 buckets).
constexpr uint32_t tag_empty = 0, tag_deleted = 1, tag_bit = 0x80000000u;
uint32_t tag_of(uint32_t hash) { return hash | tag_bit; }
uint32_t* buckets_of(Node t) { return words(hdr(t)->keys); }
uint32_t state_at(const uint32_t* bk, uint32_t b) {
    uint32_t g = bk[2 * b];
    return g == tag_empty ? 2u : g == tag_deleted ? 1u : 0u;
}

// The relocation map's two flag bits a bucket.
uint32_t flag_at(const uint32_t* f, uint32_t b) { return (f[b >> 4] >> ((b & 15) * 2)) & 3; }
void set_bucket(uint32_t* f, uint32_t b, uint32_t v) {
    uint32_t shift = (b & 15) * 2;
    f[b >> 4] = (f[b >> 4] & ~(3u << shift)) | (v << shift);
}

// A byte series of exactly `bytes` bytes, each set to `fill`.
Node new_bytes(uint32_t bytes, uint8_t fill) {
    Node n = memory::alloc_series(bytes, 1);
    memory::Series* s = memory::buffer(n);
    std::memset(s->at_head(), fill, bytes);
    s->tail = s->head + bytes;
    return n;
}

// Makes room for `bytes` from the head; the content is kept.
memory::Series* reserve(Node n, uint64_t bytes) {
    memory::Series* s = memory::buffer(n);
    if (s->head + bytes <= s->capacity) return s;
    uint64_t size = std::max<uint64_t>(uint64_t(s->capacity) * 2, s->head + bytes);
    size = (size + 15) & ~uint64_t(15);
    return memory::expand_series_copy(n, size);
}

void push_word(Node n, uint32_t w) {
    memory::Series* s = memory::buffer(n);
    uint32_t len = s->tail - s->head;
    s = reserve(n, len + 4);
    std::memcpy(s->at_head() + len, &w, 4);
    s->tail = s->head + len + 4;
}

// Appends k unset cells; answers the index of the first.
uint32_t push_cells(Node n, uint32_t k) {
    uint32_t len = cell_count(n);
    memory::Series* s = reserve(n, uint64_t(len + k) * 16);
    Cell* c = s->cells();
    for (uint32_t i = 0; i < k; ++i) c[len + i] = unset_cell();
    s->tail = s->head + (len + k) * 16;
    return len;
}

uint32_t next_pow2(uint64_t n) {
    uint64_t p = 4;
    while (p < n) p <<= 1;
    return uint32_t(p);
}

bool is_identity_type(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::hash: case Type::image:
        case Type::event: case Type::map: case Type::native: case Type::action:
        case Type::port: case Type::error: case Type::object: case Type::op:
        case Type::function:
            return true;
        default:
            return false;
    }
}

bool is_any_word(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::get_word || t == Type::lit_word;
}

bool is_word_like(Type t) {
    return is_any_word(t) || t == Type::refinement || t == Type::issue;
}

bool is_string_like(Type t) {
    switch (t) {
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref:
            return true;
        default:
            return false;
    }
}

// --- MurmurHash3 pieces ------------------------------------------------------------

constexpr uint32_t c1 = 0xCC9E2D51, c2 = 0x1B873593;

uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

uint32_t mix_block(uint32_t h, uint32_t k) {
    k *= c1;
    k = rotl(k, 15);
    k *= c2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xE6546B64;
}

// The tail block (k: the last length % 4 bytes, or 0), the length, the final mix.
uint32_t finish(uint32_t h, uint32_t k, size_t length) {
    if (length & 3) {
        k *= c1;
        k = rotl(k, 15);
        k *= c2;
        h ^= k;
    }
    h ^= uint32_t(length);
    return fmix32(h);
}

// A string-like value: its head, length in characters and unit.
struct Text {
    const std::byte* at;
    uint32_t length;
    uint32_t unit;
    uint32_t operator[](uint32_t i) const {
        return string::get_char(at + size_t(i) * unit, unit);
    }
};

Text text_of(const Cell& s) {
    Node n = series_node(s);
    if (n == 0) return {nullptr, 0, 1};
    memory::Series* b = memory::buffer(n);
    uint32_t len = b->length();
    uint32_t index = std::min(series_index(s), len);
    return {b->at_head() + size_t(index) * b->unit(), len - index, b->unit()};
}

Text bytes_of(const Cell& s) { return text_of(s); }

// --- probing -------------------------------------------------------------------------

struct Found {
    int32_t bucket;  // the bucket holding the key, or -1
    int32_t free;    // where the key would go, or -1
};

// Walks the probe sequence of a hash; `match` sees the slot of every occupied
// bucket whose tag is the hash's. Remembers the last deleted bucket passed for
// the insertion.
template <typename Match>
Found probe(Node t, uint32_t hash, Match&& match) {
    Header* h = hdr(t);
    uint32_t mask = h->buckets - 1;
    const uint32_t* bk = words(h->keys);
    uint32_t tag = tag_of(hash);
    uint32_t i = hash & mask, first = i, k = 0;
    int32_t deleted = -1;
    for (;;) {
        uint32_t g = bk[2 * i];
        if (g == tag_empty) return {-1, deleted >= 0 ? deleted : int32_t(i)};
        if (g == tag_deleted)
            deleted = int32_t(i);
        else if (g == tag && match(bk[2 * i + 1]))
            return {int32_t(i), -1};
        i = (i + ++k) & mask;
        if (i == first || k > 2 * h->buckets) return {-1, deleted};
    }
}

// Fills a bucket found free with the slot of a key of that hash.
void occupy(Node t, uint32_t bucket, uint32_t slot, uint32_t hash) {
    Header* h = hdr(t);
    uint32_t* bk = words(h->keys);
    if (bk[2 * bucket] == tag_empty) h->used++;
    bk[2 * bucket] = tag_of(hash);
    bk[2 * bucket + 1] = slot;
    h->count++;
}

void vacate(Node t, uint32_t bucket) {
    Header* h = hdr(t);
    words(h->keys)[2 * bucket] = tag_deleted;
    h->count--;
}

void empty_buckets(Node t) {
    Header* h = hdr(t);
    std::memset(memory::buffer(h->keys)->at_head(), 0, size_t(h->buckets) * 8);
    h->count = 0;
    h->used = 0;
}

// Fresh buckets, all empty.
void fresh_buckets(Node t, uint32_t buckets, uint32_t upper) {
    Node keys = new_bytes(buckets * 8, 0);
    Header* h = hdr(t);
    h->keys = keys;
    h->buckets = buckets;
    h->upper = upper;
    h->count = 0;
    h->used = 0;
}

// --- hash! position index and duplicate lists -------------------------------------

uint32_t index_at(Node t, uint32_t pos) {
    Node ix = hdr(t)->index;
    if (pos >= word_count(ix)) return no_bucket;
    return words(ix)[pos];
}

void set_index(Node t, uint32_t pos, uint32_t bucket) {
    Node ix = hdr(t)->index;
    uint32_t have = word_count(ix);
    if (pos >= have) {
        if (bucket == no_bucket) return;
        uint32_t want = std::max(have * 2, pos + 1);
        memory::Series* s = reserve(ix, uint64_t(want) * 4);
        std::memset(s->at_head() + size_t(have) * 4, 0xFF, size_t(want - have) * 4);
        s->tail = s->head + want * 4;
    }
    words(ix)[pos] = bucket;
}

Node dup_list(Node t, int32_t slot) { return words(hdr(t)->duplicates)[-slot - 1]; }

// The first position a bucket's slot stands for.
uint32_t first_position(Node t, int32_t slot) {
    if (slot >= 0) return uint32_t(slot);
    return words(dup_list(t, slot))[0];
}

// Calls fn(position) for every occurrence a slot stands for.
template <typename Fn>
void for_positions(Node t, int32_t slot, Fn&& fn) {
    if (slot >= 0) {
        fn(uint32_t(slot));
        return;
    }
    Node list = dup_list(t, slot);
    uint32_t n = word_count(list);
    for (uint32_t i = 0; i < n; ++i) fn(words(list)[i]);
}

void add_duplicate(Node t, uint32_t bucket, uint32_t pos) {
    int32_t slot = int32_t(buckets_of(t)[2 * bucket + 1]);
    if (slot >= 0) {
        Node list = new_bytes(8, 0);
        collector::NodeRoot keep(list);
        words(list)[0] = uint32_t(slot);
        words(list)[1] = pos;
        Node dups = hdr(t)->duplicates;
        push_word(dups, list);
        buckets_of(t)[2 * bucket + 1] = uint32_t(-int32_t(word_count(dups)));
    } else {
        push_word(dup_list(t, slot), pos);
    }
}

// Forgets one occurrence; the bucket goes only with its last occurrence.
void forget_position(Node t, uint32_t pos) {
    uint32_t b = index_at(t, pos);
    if (b == no_bucket) return;
    set_index(t, pos, no_bucket);
    int32_t slot = int32_t(buckets_of(t)[2 * b + 1]);
    if (slot >= 0) {
        if (uint32_t(slot) == pos) vacate(t, b);
        return;
    }
    Node list = dup_list(t, slot);
    memory::Series* s = memory::buffer(list);
    uint32_t* w = reinterpret_cast<uint32_t*>(s->at_head());
    uint32_t n = (s->tail - s->head) / 4;
    uint32_t i = 0;
    while (i < n && w[i] != pos) ++i;
    if (i == n) return;
    std::memmove(w + i, w + i + 1, size_t(n - i - 1) * 4);
    s->tail -= 4;
    if (n == 1) vacate(t, b);
}

// --- stamps -----------------------------------------------------------------------------

void stamp_now(Node t) { hdr(t)->stamp = node_cycle() + 1; }

void check_stamp(Node t) {
    Header* h = hdr(t);
    if (h->stamp == 0 || h->stamp == node_cycle() + 1 || collector::collecting()) return;
    if (h->kind == kind_hash)
        resize(t, cell_count(h->series));
    else if (h->kind >= kind_nodes)
        rebuild_ptr(t);
    stamp_now(t);
}

// --- inserting the cells of kinds 0 and 1 ----------------------------------------------

uint32_t slot_hash(Node t, uint32_t slot);

// Inserts a position without growing; answers the position of the key now in
// the table (map!: an equal key already there wins).
int32_t insert_position(Node t, uint32_t pos, Mode mode = Mode::any_case) {
    Header* h = hdr(t);
    uint32_t kind = h->kind;
    Node series = h->series;
    if (pos >= cell_count(series)) return -1;
    if (kind == kind_hash && index_at(t, pos) != no_bucket) return int32_t(pos);
    const Cell& key = cells(series)[pos];
    if (kind == kind_hash && h->stamp == 0 && is_identity_type(type_of(key))) stamp_now(t);
    bool map_keys = kind == kind_map;
    uint32_t hash = hash_value(key);
    Found f = probe(t, hash, [&](uint32_t slot) {
        uint32_t p = first_position(t, int32_t(slot));
        return keys_equal(cells(series)[p], cells(series)[pos], map_keys ? mode : Mode::any_case,
                          map_keys);
    });
    if (f.bucket >= 0) {
        if (kind == kind_map) return int32_t(buckets_of(t)[2 * f.bucket + 1]);
        add_duplicate(t, uint32_t(f.bucket), pos);
        set_index(t, pos, uint32_t(f.bucket));
        return int32_t(pos);
    }
    occupy(t, uint32_t(f.free), pos, hash);
    if (kind == kind_hash) set_index(t, pos, uint32_t(f.free));
    return int32_t(pos);
}

void grow(Node t) {
    Header* h = hdr(t);
    uint32_t request = h->count * 2 < h->buckets ? h->buckets - 1 : h->buckets + 1;
    switch (h->kind) {
        case kind_hash: resize(t, request); break;
        case kind_map: resize_in_place(t, request); break;
        case kind_symbols: resize_in_place(t, 16 * request); break;
        default: break;
    }
}

// --- node-keyed records ---------------------------------------------------------------

Cell* record_at(Node t, uint32_t offset) {
    return reinterpret_cast<Cell*>(memory::buffer(hdr(t)->series)->at_head() + offset);
}
bool record_live(const Cell* r) { return r->header == uint32_t(Type::unset) && r->w1 != 0; }
uint32_t record_cells(Node t) { return hdr(t)->index / 16 - 1; }

void reset_record(Cell* r, Node key, uint32_t n) {
    r[0] = make_cell(Type::unset, key);
    for (uint32_t i = 1; i <= n; ++i) r[i] = unset_cell();
}

void rebuild_records(Node t, uint32_t requested) {
    uint32_t buckets = next_pow2(requested);
    uint32_t upper = uint32_t(0.77 * buckets + 0.5);
    uint32_t size = hdr(t)->index;
    NodesStay hold;
    Building keep(t);
    // Everything the rebuild needs is allocated while the table is still whole,
    // so that a collection meanwhile sweeps the old records as usual; the live
    // records then move over without allocating.
    uint32_t live = 0;
    {
        memory::Series* s = memory::buffer(hdr(t)->series);
        for (uint32_t off = 0; off < s->tail - s->head; off += size)
            live += record_live(reinterpret_cast<const Cell*>(s->at_head() + off));
    }
    Node records = memory::alloc_cells(std::max<uint32_t>(1, live * (size / 16)));
    collector::NodeRoot keep_records(records, collector::NodeRoot::As::buffer);
    memory::buffer(records)->tail = memory::buffer(records)->head;
    Node old = hdr(t)->series;
    collector::NodeRoot keep_old(old, collector::NodeRoot::As::buffer);
    fresh_buckets(t, buckets, upper);
    // No allocation from here on.
    hdr(t)->series = records;
    memory::Series* from = memory::buffer(old);
    memory::Series* to = memory::buffer(records);
    for (uint32_t off = 0; off < from->tail - from->head; off += size) {
        const Cell* r = reinterpret_cast<const Cell*>(from->at_head() + off);
        if (!record_live(r)) continue;
        uint32_t at = to->tail - to->head;
        std::memcpy(to->at_head() + at, r, size);
        to->tail += size;
        uint32_t hash = hash_pointer(r->w1);
        Found f = probe(t, hash, [](uint32_t) { return false; });
        occupy(t, uint32_t(f.free), at, hash);
    }
}

}  // namespace

// --- hashing ------------------------------------------------------------------------

uint32_t fmix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

uint32_t murmur3(const void* bytes, size_t length, uint32_t seed) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t h = seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i) {
        uint32_t k = uint32_t(p[4 * i]) | uint32_t(p[4 * i + 1]) << 8 |
                     uint32_t(p[4 * i + 2]) << 16 | uint32_t(p[4 * i + 3]) << 24;
        h = mix_block(h, k);
    }
    const uint8_t* tail = p + blocks * 4;
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
        case 1: k ^= tail[0];
    }
    return finish(h, k, length);
}

uint32_t murmur3(const void* bytes, size_t length) { return murmur3(bytes, length, g_seed); }
uint32_t seed() { return g_seed; }
void set_seed(uint32_t s) {
    if (!g_tables_made && s) g_seed = s;
}

uint32_t hash_pointer(uint32_t word) { return fmix32(word); }

// Runs of 16 neighbouring integers keep their order: counting keys walk the
// buckets (and the cache lines) one after the other. The runs themselves are
// scattered, so strided keys (multiples of the bucket count) spread out.
uint32_t hash_integer(uint32_t x) { return x + fmix32(x >> 4); }

uint32_t hash_symbol_name(const char* name, size_t length) {
    // Lowered on the fly, four bytes a block, as murmur3 over the lowered copy.
    auto lower = [&](size_t i) {
        uint8_t b = uint8_t(name[i]);
        return uint32_t(b >= 'A' && b <= 'Z' ? b | 0x20 : b);
    };
    uint32_t h = g_seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i)
        h = mix_block(h, lower(4 * i) | lower(4 * i + 1) << 8 | lower(4 * i + 2) << 16 |
                             lower(4 * i + 3) << 24);
    uint32_t k = 0;
    size_t t = blocks * 4;
    switch (length & 3) {
        case 3: k ^= lower(t + 2) << 16; [[fallthrough]];
        case 2: k ^= lower(t + 1) << 8; [[fallthrough]];
        case 1: k ^= lower(t);
    }
    return finish(h, k, length);
}

namespace {

// Lowering as unicode::to_lower does, without its call for ASCII.
inline uint32_t lower(uint32_t cp) {
    if (cp < 0x80) return cp - 'A' < 26 ? cp | 0x20 : cp;
    return unicode::to_lower(cp);
}

// lower() of every Latin-1 code point, for one-byte text.
const uint32_t* latin1_lower() {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t c = 0; c < 256; ++c) t[c] = lower(c);
        return t;
    }();
    return table.data();
}

template <uint32_t Unit>
uint32_t hash_units(const std::byte* p, uint32_t n, bool case_sensitive) {
    uint32_t h = g_seed;
    if constexpr (Unit == 1) {
        const auto* b = reinterpret_cast<const uint8_t*>(p);
        if (case_sensitive) {
            for (uint32_t i = 0; i < n; ++i) h = mix_block(h, b[i]);
        } else {
            const uint32_t* low = latin1_lower();
            for (uint32_t i = 0; i < n; ++i) h = mix_block(h, low[b[i]]);
        }
        h ^= n * 4;
        return fmix32(h);
    }
    if (case_sensitive)
        for (uint32_t i = 0; i < n; ++i) h = mix_block(h, string::get_char(p + i * Unit, Unit));
    else
        for (uint32_t i = 0; i < n; ++i) h = mix_block(h, lower(string::get_char(p + i * Unit, Unit)));
    h ^= n * 4;
    return fmix32(h);
}

}  // namespace

uint32_t hash_string(const Cell& s, bool case_sensitive) {
    Text text = text_of(s);
    switch (text.unit) {
        case 1: return hash_units<1>(text.at, text.length, case_sensitive);
        case 2: return hash_units<2>(text.at, text.length, case_sensitive);
        default: return hash_units<4>(text.at, text.length, case_sensitive);
    }
}

uint32_t hash_value(const Cell& v, bool case_sensitive) {
    Type t = type_of(v);
    if (t == Type::integer) return hash_integer(v.w2);
    if (is_word_like(t)) return fmix32(symbol::resolve(word_symbol(v)));
    if (is_string_like(t)) return hash_string(v, case_sensitive);
    if (is_identity_type(t)) {
        switch (t) {
            case Type::object: case Type::error: case Type::port:
                return fmix32(v.w1);
            case Type::native: case Type::action:
                return fmix32(v.w3);
            case Type::event: case Type::map:
                return fmix32(v.w2);
            case Type::op: case Type::function: {
                uint32_t w[3] = {v.w1, v.w2, v.w3};
                return murmur3(w, 12);
            }
            default: {
                uint32_t w[2] = {v.w1, v.w2};
                return murmur3(w, 8);
            }
        }
    }
    switch (t) {
        case Type::integer: case Type::char_:
            return hash_integer(v.w2);
        case Type::symbol: {
            if (v.w3 == 0) return 0;
            memory::Series* s = memory::buffer(v.w3);
            return hash_symbol_name(reinterpret_cast<const char*>(s->at_head()), s->length());
        }
        case Type::float_: case Type::percent: case Type::time: case Type::pair: {
            uint32_t w[2] = {v.w2, v.w3};
            return murmur3(w, 8);
        }
        case Type::point2d: {
            uint32_t w[2] = {v.w1, v.w2};
            return murmur3(w, 8);
        }
        case Type::point3d: case Type::typeset: case Type::triple: case Type::date:
        case Type::tuple: {
            uint32_t w[3] = {v.w1, v.w2, v.w3};
            return murmur3(w, 12);
        }
        case Type::money: {
            Cell c = v;
            c.header &= header::type_mask;
            return murmur3(&c, 16);
        }
        case Type::binary: {
            Text b = bytes_of(v);
            return murmur3(b.at, size_t(b.length) * b.unit);
        }
        case Type::none: return 0xFFFFFFFF;
        case Type::unset: return 0xFFFFFFFE;
        case Type::logic: case Type::datatype: return fmix32(v.w1);
        case Type::handle: return fmix32(v.w2);
        default: return 0;
    }
}

bool keys_equal(const Cell& a, const Cell& b, Mode mode, bool map_keys) {
    Type ta = type_of(a), tb = type_of(b);
    // The common case of integer keys first.
    if (ta == Type::integer && tb == Type::integer) return a.w2 == b.w2;
    if (map_keys) {
        if (is_any_word(ta)) ta = Type::set_word;
        if (is_any_word(tb)) tb = Type::set_word;
    }
    if (ta != tb) return false;
    if (is_word_like(ta)) {
        if (mode == Mode::any_case)
            return symbol::resolve(word_symbol(a)) == symbol::resolve(word_symbol(b));
        return word_symbol(a) == word_symbol(b);
    }
    if (is_string_like(ta)) {
        Text x = text_of(a), y = text_of(b);
        if (x.length != y.length) return false;
        if (x.unit == y.unit && std::memcmp(x.at, y.at, size_t(x.length) * x.unit) == 0)
            return true;
        for (uint32_t i = 0; i < x.length; ++i) {
            uint32_t p = x[i], q = y[i];
            if (p == q) continue;
            if (mode != Mode::any_case || lower(p) != lower(q)) return false;
        }
        return true;
    }
    switch (ta) {
        case Type::none: case Type::unset: return true;
        case Type::logic: case Type::datatype: return a.w1 == b.w1;
        case Type::integer: case Type::char_: return a.w2 == b.w2;
        case Type::symbol: return a.w3 == b.w3;
        case Type::binary: {
            Text x = bytes_of(a), y = bytes_of(b);
            size_t n = size_t(x.length) * x.unit;
            return n == size_t(y.length) * y.unit && std::memcmp(x.at, y.at, n) == 0;
        }
        case Type::money: case Type::tuple:
            return ((a.header ^ b.header) & ~header::newline) == 0 && a.w1 == b.w1 &&
                   a.w2 == b.w2 && a.w3 == b.w3;
        default:
            return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
    }
}

// --- tables ----------------------------------------------------------------------------

uint32_t buckets_for(uint32_t size) {
    if (size < 4) size = 4;
    return next_pow2(uint64_t(size / 0.77));
}
uint32_t upper_bound(uint32_t buckets) { return uint32_t(buckets * 0.77); }

Node make(uint32_t size, const Cell* series, Kind kind, uint32_t record_cells_) {
    g_tables_made = true;
    Node t = new_bytes(sizeof(Header), 0);
    Building keep(t);
    hdr(t)->kind = kind;
    if (kind == kind_symbols && size >= 4000) size *= 2;
    if (kind >= kind_nodes) {
        hdr(t)->index = (record_cells_ + 1) * 16;
        stamp_now(t);
    }
    if (size < 4) size = 4;
    uint32_t buckets = buckets_for(size);
    fresh_buckets(t, buckets, upper_bound(buckets));
    if (kind == kind_hash) {
        Node ix = new_bytes(size * 4, 0xFF);
        hdr(t)->index = ix;
        Node dups = new_bytes(0, 0);
        hdr(t)->duplicates = dups;
    }
    bool given = series && series_node(*series) != 0 && kind < kind_nodes;
    if (given) {
        hdr(t)->series = series_node(*series);
        rehash_block(t, series_index(*series), kind == kind_map ? 2 : 1);
    } else {
        Node s = memory::alloc_cells(kind >= kind_nodes ? size * (record_cells_ + 1) : size);
        memory::buffer(s)->tail = memory::buffer(s)->head;
        hdr(t)->series = s;
    }
    return t;
}

Header header(Node t) { return *hdr(t); }
uint32_t count(Node t) { return hdr(t)->count; }
Node indexed_series(Node t) { return hdr(t)->series; }

// --- hash! and map! -----------------------------------------------------------------------

int32_t put(Node t, uint32_t pos, bool* resized, Mode mode) {
    check_stamp(t);
    if (resized) *resized = false;
    if (hdr(t)->used >= hdr(t)->upper) {
        grow(t);
        if (resized) *resized = true;
    }
    return insert_position(t, pos, mode);
}

void put_unique(Node t, uint32_t pos) { put_unique(t, pos, slot_hash(t, pos)); }

void put_unique(Node t, uint32_t pos, uint32_t hash) {
    check_stamp(t);
    if (hdr(t)->used >= hdr(t)->upper) grow(t);
    Found f = probe(t, hash, [](uint32_t) { return false; });
    occupy(t, uint32_t(f.free), pos, hash);
}

int32_t get(Node t, const Cell& key, uint32_t start, uint32_t skip, Mode mode, bool last,
            bool reverse) {
    return get_hashed(t, key, hash_value(key), start, skip, mode, last, reverse);
}

int32_t get_hashed(Node t, const Cell& key_in, uint32_t hash, uint32_t start, uint32_t skip,
                   Mode mode, bool last, bool reverse) {
    Cell key = key_in;  // a rebuild may move the buffer the key stands in
    check_stamp(t);
    // Nothing below allocates: the buffers stay where they are.
    const Header* h = hdr(t);
    const Cell* cs = cells(h->series);
    const uint32_t* bk = words(h->keys);
    bool map_keys = h->kind == kind_map;
    if (skip == 0) skip = 1;
    auto qualifies = [&](uint32_t p) {
        if (reverse) return p < start && (skip == 1 || (start - p) % skip == 0);
        return p >= start && (skip == 1 || (p - start) % skip == 0);
    };
    int32_t best = -1;
    auto better = [&](uint32_t p) {
        if (best < 0) return true;
        bool later = p > uint32_t(best);
        return (later != reverse) == last;
    };
    uint32_t mask = h->buckets - 1, tag = tag_of(hash);
    for (uint32_t i = hash & mask, first = i, k = 0;;) {
        uint32_t g = bk[2 * i];
        if (g == tag_empty) return best;
        if (g == tag) {
            int32_t slot = int32_t(bk[2 * i + 1]);
            if (map_keys) {
                // Case variants of a key may stand apart: probe on to the one that matches.
                if (keys_equal(cs[slot], key, Mode::any_case, true) &&
                    (mode == Mode::any_case || keys_equal(cs[slot], key, mode, true)))
                    return slot;
            } else if (slot >= 0) {
                // One occurrence: equal loosely first, as every key of a bucket is.
                if (keys_equal(cs[slot], key, Mode::any_case)) {
                    if (qualifies(uint32_t(slot)) &&
                        (mode == Mode::any_case || keys_equal(cs[slot], key, mode)))
                        return slot;
                    return -1;
                }
            } else if (keys_equal(cs[first_position(t, slot)], key, Mode::any_case)) {
                for_positions(t, slot, [&](uint32_t p) {
                    if (qualifies(p) && keys_equal(cs[p], key, mode) && better(p)) best = int32_t(p);
                });
                return best;
            }
        }
        i = (i + ++k) & mask;
        if (i == first || k > 2 * h->buckets) return best;
    }
}

int32_t get_integer(Node t, const Cell& key, uint32_t start) {
    const Header* h = hdr(t);
    // Tables that may need a rebuild, and keys with several occurrences, take
    // the general road.
    if (h->stamp != 0 || h->kind != kind_hash) return get(t, key, start);
    uint32_t hash = hash_integer(key.w2);
    const Cell* cs = cells(h->series);
    const uint32_t* bk = words(h->keys);
    uint32_t mask = h->buckets - 1, tag = tag_of(hash);
    for (uint32_t i = hash & mask, first = i, k = 0;;) {
        uint32_t g = bk[2 * i];
        if (g == tag_empty) return -1;
        if (g == tag) {
            int32_t slot = int32_t(bk[2 * i + 1]);
            if (slot < 0) return get_hashed(t, key, hash, start);
            const Cell& c = cs[slot];
            if (type_of(c) == Type::integer && c.w2 == key.w2) return uint32_t(slot) >= start ? slot : -1;
        }
        i = (i + ++k) & mask;
        if (i == first || k > 2 * h->buckets) return -1;
    }
}

int32_t get_next(Node t, const Cell& key_in, Probe& st) {
    Cell key = key_in;
    check_stamp(t);
    Header* h = hdr(t);
    Node series = h->series;
    uint32_t mask = h->buckets - 1;
    bool map_keys = h->kind == kind_map;
    if (st.bucket < 0) {
        st.first = hash_value(key) & mask;
        st.bucket = int32_t(st.first);
        st.step = 0;
        st.within = 0;
    } else if (st.within == 0) {
        st.bucket = int32_t((uint32_t(st.bucket) + ++st.step) & mask);
        if (uint32_t(st.bucket) == st.first) return -1;
    }
    for (;;) {
        uint32_t b = uint32_t(st.bucket);
        uint32_t f = state_at(words(h->keys), b);
        if (f == f_empty) return -1;
        if (f == f_occupied) {
            int32_t slot = int32_t(words(h->keys)[2 * b + 1]);
            if (slot < 0 && h->kind == kind_hash) {
                Node list = dup_list(t, slot);
                if (st.within < word_count(list)) {
                    uint32_t p = words(list)[st.within++];
                    if (keys_equal(cells(series)[p], key, Mode::any_case)) return int32_t(p);
                }
                st.within = 0;
            } else if (st.within == 0) {
                if (keys_equal(cells(series)[uint32_t(slot)], key, Mode::any_case, map_keys)) {
                    st.within = 0;
                    int32_t p = slot;
                    st.bucket = int32_t(b);
                    // Next call moves on to the following bucket.
                    return p;
                }
            }
        }
        st.bucket = int32_t((b + ++st.step) & mask);
        st.within = 0;
        if (uint32_t(st.bucket) == st.first) return -1;
    }
}

void remove(Node t, uint32_t pos) {
    check_stamp(t);
    Header* h = hdr(t);
    if (h->kind == kind_hash) {
        forget_position(t, pos);
        return;
    }
    Node series = h->series;
    if (pos >= cell_count(series)) return;
    Found f = probe(t, hash_value(cells(series)[pos]), [&](uint32_t slot) { return slot == pos; });
    if (f.bucket >= 0) vacate(t, uint32_t(f.bucket));
}

void rehash_block(Node t, uint32_t start, uint32_t step) {
    Building keep(t);
    if (hdr(t)->kind == kind_symbols) {
        for (uint32_t p = start; p < cell_count(hdr(t)->series); p += step) {
            if (hdr(t)->used >= hdr(t)->upper) grow(t);
            uint32_t hash = slot_hash(t, p);
            Found f = probe(t, hash, [](uint32_t) { return false; });
            occupy(t, uint32_t(f.free), p, hash);
        }
        return;
    }
    if (hdr(t)->kind != kind_map) {
        for (uint32_t p = start; p < cell_count(hdr(t)->series); p += step) put(t, p);
        return;
    }
    // map!: the later of two equal keys gives its value to the earlier and leaves.
    uint32_t p = start;
    while (p + 1 < cell_count(hdr(t)->series)) {
        int32_t at = put(t, p);
        if (uint32_t(at) == p) {
            p += 2;
            continue;
        }
        Node s = hdr(t)->series;
        memory::Series* b = memory::buffer(s);
        Cell* c = b->cells();
        c[at + 1] = c[p + 1];
        uint32_t n = b->length();
        std::memmove(c + p, c + p + 2, size_t(n - p - 2) * 16);
        b->tail -= 32;
        // Keys behind the removed pair moved down by two: their slots follow.
        Header* h = hdr(t);
        uint32_t* bk = words(h->keys);
        for (uint32_t i = 0; i < h->buckets; ++i)
            if (state_at(bk, i) == f_occupied && bk[2 * i + 1] > p) bk[2 * i + 1] -= 2;
    }
}

void resize(Node t, uint32_t requested) {
    Header* h = hdr(t);
    if (h->kind == kind_map || h->kind == kind_symbols) return resize_in_place(t, requested);
    if (h->kind >= kind_nodes) return rebuild_records(t, requested);
    Building keep(t);
    NodesStay hold;
    // Every cell of the block comes back in, also those not put yet (a table
    // made smaller than its block grows while it is filled): room for them all.
    requested = std::max(requested, cell_count(hdr(t)->series));
    uint32_t buckets = next_pow2(uint64_t(1.5 * requested));
    bool stamped = h->stamp != 0;
    fresh_buckets(t, buckets, upper_bound(buckets));
    uint32_t len = cell_count(hdr(t)->series);
    Node ix = new_bytes(std::max<uint32_t>(len, 1) * 4, 0xFF);
    hdr(t)->index = ix;
    Node dups = new_bytes(0, 0);
    h = hdr(t);
    h->duplicates = dups;
    h->stamp = 0;
    for (uint32_t p = 0; p < cell_count(hdr(t)->series); ++p) insert_position(t, p);
    if (stamped) stamp_now(t);
}

void clear(Node t) {
    Header* h = hdr(t);
    memory::Series* s = memory::buffer(h->series);
    s->tail = s->head;
    empty_buckets(t);
    if (h->kind == kind_map) h->index = 0;
    if (h->kind == kind_hash) {
        memory::Series* ix = memory::buffer(h->index);
        std::memset(ix->at_head(), 0xFF, ix->tail - ix->head);
        memory::Series* d = memory::buffer(h->duplicates);
        d->tail = d->head;
    }
}

void clear_range(Node t, uint32_t index, uint32_t n) {
    check_stamp(t);
    Header* h = hdr(t);
    uint32_t len = cell_count(h->series);
    if (index >= len) return;
    n = std::min(n, len - index);
    if (h->kind != kind_hash) {
        for (uint32_t p = index; p < index + n; ++p) remove(t, p);
        return;
    }
    if (index == 0 && n == len) {
        empty_buckets(t);
        memory::Series* ix = memory::buffer(h->index);
        std::memset(ix->at_head(), 0xFF, ix->tail - ix->head);
        memory::Series* d = memory::buffer(h->duplicates);
        d->tail = d->head;
        return;
    }
    for (uint32_t p = index; p < index + n; ++p) forget_position(t, p);
}

namespace {

// Renumbers the hash! positions in [lo, hi) by f, which must map them onto
// positions no other key holds. List entries are tagged while renumbering so
// that a new number is never taken for an old one.
template <typename F>
void remap(Node t, uint32_t lo, uint32_t hi, F&& f) {
    constexpr uint32_t tag = 0x80000000u;
    struct Move {
        uint32_t to, bucket;
    };
    std::vector<Move> moves;
    std::vector<Node> lists;
    for (uint32_t p = lo; p < hi; ++p) {
        uint32_t b = index_at(t, p);
        if (b == no_bucket) continue;
        moves.push_back({f(p), b});
        int32_t slot = int32_t(buckets_of(t)[2 * b + 1]);
        if (slot >= 0) continue;
        Node list = dup_list(t, slot);
        uint32_t* w = words(list);
        uint32_t n = word_count(list);
        for (uint32_t i = 0; i < n; ++i)
            if (w[i] == p) {
                w[i] = f(p) | tag;
                break;
            }
        lists.push_back(list);
    }
    for (uint32_t p = lo; p < hi; ++p) set_index(t, p, no_bucket);
    for (const Move& m : moves) {
        uint32_t* bk = buckets_of(t);
        if (int32_t(bk[2 * m.bucket + 1]) >= 0) bk[2 * m.bucket + 1] = m.to;
        set_index(t, m.to, m.bucket);
    }
    for (Node list : lists) {
        uint32_t* w = words(list);
        uint32_t n = word_count(list);
        for (uint32_t i = 0; i < n; ++i) w[i] &= ~tag;
    }
}

}  // namespace

void refresh(Node t, int32_t offset, uint32_t start, uint32_t n, bool removal) {
    check_stamp(t);
    Header* h = hdr(t);
    if (h->kind != kind_hash) return;
    if (n > refresh_rebuild_above) {
        // Too many positions to move one by one: build afresh from the block.
        resize(t, cell_count(h->series));
        return;
    }
    if (removal && offset < 0) {
        uint32_t from = uint32_t(std::max<int64_t>(0, int64_t(start) + offset));
        for (uint32_t p = from; p < start; ++p) forget_position(t, p);
    }
    remap(t, start, start + n, [&](uint32_t p) { return uint32_t(int64_t(p) + offset); });
}

void move(Node t, uint32_t to, uint32_t from, uint32_t n) {
    check_stamp(t);
    if (hdr(t)->kind != kind_hash || n == 0 || to == from) return;
    uint32_t lo = std::min(to, from), hi = std::max(to, from) + n;
    remap(t, lo, hi, [&](uint32_t p) {
        if (p >= from && p < from + n) return to + (p - from);
        return to < from ? p + n : p - n;
    });
}

Node copy(Node t, Node new_series) {
    Building keep(t);
    Node c = memory::copy_series(t);
    Building keep_copy(c);
    Node keys = memory::copy_series(hdr(t)->keys);
    hdr(c)->keys = keys;
    if (hdr(t)->kind == kind_hash) {
        Node ix = memory::copy_series(hdr(t)->index);
        hdr(c)->index = ix;
        Node dups = memory::copy_series(hdr(t)->duplicates);
        hdr(c)->duplicates = dups;
        for (uint32_t i = 0; i < word_count(dups); ++i) {
            Node list = memory::copy_series(words(dups)[i]);
            words(dups)[i] = list;
        }
    }
    if (hdr(t)->kind >= kind_nodes) {
        Node records = memory::copy_series(hdr(t)->series);
        hdr(c)->series = records;
    } else {
        hdr(c)->series = new_series;
    }
    return c;
}

uint32_t removed(Node t) { return hdr(t)->kind == kind_map ? hdr(t)->index : 0; }
void set_removed(Node t, uint32_t n) {
    if (hdr(t)->kind == kind_map) hdr(t)->index = n;
}

// --- symbol and word tables -----------------------------------------------------------

namespace {

bool ascii_equal_nocase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t x = uint8_t(a[i]), y = uint8_t(b[i]);
        if (x >= 'A' && x <= 'Z') x |= 0x20;
        if (y >= 'A' && y <= 'Z') y |= 0x20;
        if (x != y) return false;
    }
    return true;
}

// The name bytes of a symbol entry in the symbol block.
std::pair<const char*, size_t> entry_name(const Cell& entry) {
    memory::Series* s = memory::buffer(entry.w3);
    return {reinterpret_cast<const char*>(s->at_head()), s->tail - s->head};
}

uint32_t slot_hash(Node t, uint32_t slot) {
    const Cell& c = cells(hdr(t)->series)[slot];
    if (is(c, Type::symbol)) {
        auto [name, len] = entry_name(c);
        return hash_symbol_name(name, len);
    }
    if (hdr(t)->kind == kind_symbols) return fmix32(symbol::resolve(word_symbol(c)));
    return hash_value(c);
}

}  // namespace

void resize_in_place(Node t, uint32_t requested) {
    uint32_t buckets = next_pow2(requested);
    uint32_t upper = uint32_t(0.77 * buckets + 0.5);
    Header* h = hdr(t);
    if (h->count >= upper) return;
    // The old buckets keep every hash: no key is read again.
    Building keep(t);
    Node old = h->keys;
    collector::NodeRoot keep_old(old);
    uint32_t old_buckets = h->buckets;
    fresh_buckets(t, buckets, upper);
    // No allocation from here on.
    const uint32_t* from = words(old);
    uint32_t* to = buckets_of(t);
    uint32_t mask = buckets - 1, count = 0;
    for (uint32_t i = 0; i < old_buckets; ++i) {
        uint32_t g = from[2 * i];
        if (g == tag_empty || g == tag_deleted) continue;
        uint32_t b = g & mask;
        for (uint32_t k = 1; to[2 * b] != tag_empty; ++k) b = (b + k) & mask;
        to[2 * b] = g;
        to[2 * b + 1] = from[2 * i + 1];
        ++count;
    }
    h = hdr(t);
    h->count = count;
    h->used = count;
}

uint32_t put_symbol(Node t, const char* name, size_t length, bool any_case) {
    // The name may stand in a series buffer: copied before anything allocates.
    std::string copy;
    auto keep_name = [&] {
        if (copy.empty() && length) name = copy.assign(name, length).data();
    };
    if (hdr(t)->used >= hdr(t)->upper) {
        keep_name();
        grow(t);
    }
    uint32_t hash = hash_symbol_name(name, length);
    Node block = hdr(t)->series;
    // Lengths first, then bytes: a longer name sharing the prefix is another name.
    auto same = [&](uint32_t slot, bool nocase) {
        auto [n, len] = entry_name(cells(block)[slot]);
        if (len != length) return false;
        return nocase ? ascii_equal_nocase(n, name, length) : std::memcmp(n, name, length) == 0;
    };
    Found f = probe(t, hash, [&](uint32_t slot) { return same(slot, any_case); });
    if (f.bucket >= 0) return buckets_of(t)[2 * f.bucket + 1] + 1;
    int32_t alias = -1;
    if (!any_case) {
        Found twin = probe(t, hash, [&](uint32_t slot) { return same(slot, true); });
        if (twin.bucket >= 0) {
            // The twin met first was interned first; store its canonical id so
            // that aliases never chain.
            uint32_t id = buckets_of(t)[2 * twin.bucket + 1] + 1;
            int32_t twin_alias = int32_t(cells(block)[id - 1].w1);
            alias = twin_alias > 0 ? twin_alias : int32_t(id);
        }
    }
    // The entry: its name copied into a byte series with a NUL behind the tail.
    keep_name();
    Node name_node = memory::alloc_series(uint32_t(length) + 1, 1);
    {
        memory::Series* s = memory::buffer(name_node);
        std::memcpy(s->at_head(), name, length);
        s->at_head()[length] = std::byte{0};
        s->tail = s->head + uint32_t(length);
    }
    collector::NodeRoot keep_entry_name(name_node);
    block = hdr(t)->series;
    uint32_t pos = push_cells(block, 1);
    cells(block)[pos] = make_cell(Type::symbol, uint32_t(alias), 0, name_node);
    occupy(t, uint32_t(f.free), pos, hash);
    return pos + 1;
}

int32_t put_word(Node t, uint32_t sym, bool any_case, bool add) {
    if (add && hdr(t)->used >= hdr(t)->upper) grow(t);
    uint32_t canon = symbol::resolve(sym);
    Node words_block = hdr(t)->series;
    uint32_t hash = fmix32(canon);
    Found f = probe(t, hash, [&](uint32_t slot) {
        uint32_t s = word_symbol(cells(words_block)[slot]);
        return any_case ? symbol::resolve(s) == canon : s == sym;
    });
    if (f.bucket >= 0) return int32_t(buckets_of(t)[2 * f.bucket + 1]);
    if (add) occupy(t, uint32_t(f.free), cell_count(words_block), hash);
    return -1;
}

// --- node-keyed records -------------------------------------------------------------------

Cell* put_ptr(Node t, Node key) {
    check_stamp(t);
    if (hdr(t)->used >= hdr(t)->upper) {
        Header* h = hdr(t);
        rebuild_records(t, h->count * 2 < h->buckets ? h->buckets - 1 : h->buckets + 1);
    }
    uint32_t n = record_cells(t);
    uint32_t hash = hash_pointer(key);
    Found f = probe(t, hash, [&](uint32_t off) {
        const Cell* r = record_at(t, off);
        return record_live(r) && r->w1 == key;
    });
    if (f.bucket >= 0) {
        Cell* r = record_at(t, buckets_of(t)[2 * f.bucket + 1]);
        reset_record(r, key, n);
        return r + 1;
    }
    uint32_t bucket = uint32_t(f.free);
    uint32_t off;
    if (state_at(buckets_of(t), bucket) == f_deleted) {
        off = buckets_of(t)[2 * bucket + 1];
    } else {
        Building keep(t);
        NodesStay hold;  // the key stays the key
        off = push_cells(hdr(t)->series, n + 1) * 16;
    }
    occupy(t, bucket, off, hash);
    Cell* r = record_at(t, off);
    reset_record(r, key, n);
    return r + 1;
}

Cell* get_ptr(Node t, Node key) {
    check_stamp(t);
    Found f = probe(t, hash_pointer(key), [&](uint32_t off) {
        const Cell* r = record_at(t, off);
        return record_live(r) && r->w1 == key;
    });
    if (f.bucket < 0) return nullptr;
    return record_at(t, buckets_of(t)[2 * f.bucket + 1]) + 1;
}

void delete_ptr(Node t, Node key) {
    check_stamp(t);
    Found f = probe(t, hash_pointer(key), [&](uint32_t off) {
        const Cell* r = record_at(t, off);
        return record_live(r) && r->w1 == key;
    });
    if (f.bucket < 0) return;
    Cell* r = record_at(t, buckets_of(t)[2 * f.bucket + 1]);
    r->header = 0;
    r->w1 = 0;
    vacate(t, uint32_t(f.bucket));
}

void sweep_dead(Node t) {
    Header* h = hdr(t);
    auto dead = [](Node n) { return n != 0 && !collector::marked(n); };
    uint32_t* bk = words(h->keys);
    for (uint32_t b = 0; b < h->buckets; ++b) {
        if (state_at(bk, b) != f_occupied) continue;
        Cell* r = record_at(t, bk[2 * b + 1]);
        if (!record_live(r)) continue;
        Node key = r->w1;
        bool drop = dead(key);
        if (!drop && h->kind == kind_owners && record_cells(t) >= 2) drop = dead(r[2].w1);
        if (!drop) continue;
        if (h->kind == kind_owners && !dead(key))
            // The series outlives its owner: it is free to be owned again.
            memory::buffer(key)->flags &= ~memory::flag::owned;
        r->header = 0;
        r->w1 = 0;
        bk[2 * b] = tag_deleted;
        h->count--;
    }
}

void relocate_keys(Node t) {
    Header* h = hdr(t);
    memory::Series* s = memory::buffer(h->series);
    uint32_t end = s->tail - s->head;
    for (uint32_t off = 0; off < end; off += h->index) {
        Cell* r = reinterpret_cast<Cell*>(s->at_head() + off);
        if (record_live(r)) r->w1 = collector::relocated(r->w1);
    }
}

void rebuild_ptr(Node t) {
    empty_buckets(t);
    Header* h = hdr(t);
    memory::Series* s = memory::buffer(h->series);
    uint32_t end = s->tail - s->head;
    for (uint32_t off = 0; off < end; off += h->index) {
        const Cell* r = record_at(t, off);
        if (!record_live(r)) continue;
        uint32_t hash = hash_pointer(r->w1);
        Found f = probe(t, hash, [](uint32_t) { return false; });
        occupy(t, uint32_t(f.free), off, hash);
    }
}

// --- the collector ---------------------------------------------------------------------

void mark(Node& t) {
    if (t == 0) return;
    auto node = [](Node& n) {
        if (n) collector::mark_node(n);
    };
    node(t);
    Header* h = hdr(t);
    node(h->keys);
    if (h->kind == kind_hash) {
        node(h->index);
        node(h->duplicates);
        if (h->duplicates) {
            uint32_t* lists = words(h->duplicates);
            for (uint32_t i = 0, n = word_count(h->duplicates); i < n; ++i) node(lists[i]);
        }
    }
    if (h->series == 0) return;
    if (h->kind < kind_nodes) {
        collector::mark_series(h->series);
        return;
    }
    // Node-keyed sets hold their keys weakly: the records' storage only. Plain
    // sets keep the values of their live records; the owner table keeps nothing.
    node(h->series);
    if (h->kind == kind_nodes) {
        uint32_t n = record_cells(t);
        memory::Series* s = memory::buffer(h->series);
        uint32_t end = s->tail - s->head;
        for (uint32_t off = 0; off < end; off += h->index) {
            Cell* r = reinterpret_cast<Cell*>(s->at_head() + off);
            if (record_live(r)) collector::mark_cells(r + 1, r + 1 + n);
        }
    }
}

void set_node_cycles(NodeCycles fn) { g_node_cycles = fn; }

static int g_nodes_stay = 0;  // NodesStay guards alive

NodesStay::NodesStay() {
    if (g_nodes_stay++ == 0) collector::set_node_compaction_allowed(false);
}
NodesStay::~NodesStay() {
    if (--g_nodes_stay == 0) collector::set_node_compaction_allowed(true);
}

TableRoot::TableRoot(Node& t) {
    static bool registered = false;
    if (!registered) {
        collector::register_marker(mark_rooted);
        registered = true;
    }
    g_rooted.push_back(&t);
}

// Roots end in the reverse order of their making (they are scoped locals).
TableRoot::~TableRoot() { g_rooted.pop_back(); }

const char* check(Node t) {
    Header* h = hdr(t);
    if (h->buckets < 4 || (h->buckets & (h->buckets - 1)) != 0) return "bucket count";
    if (h->used >= h->upper + 1 || h->upper > h->buckets) return "upper bound";
    if (memory::buffer(h->keys)->tail - memory::buffer(h->keys)->head != h->buckets * 8)
        return "bucket series size";
    uint32_t occupied = 0, deleted = 0;
    const uint32_t* bk = words(h->keys);
    for (uint32_t b = 0; b < h->buckets; ++b) {
        uint32_t f = state_at(bk, b);
        if (f == f_deleted) ++deleted;
        if (f != f_occupied) continue;
        ++occupied;
        if (bk[2 * b] < tag_bit) return "tag without its top bit";
        int32_t slot = int32_t(bk[2 * b + 1]);
        if (h->kind == kind_hash) {
            bool bad = false;
            for_positions(t, slot, [&](uint32_t p) {
                if (p >= cell_count(h->series) || index_at(t, p) != b) bad = true;
            });
            if (bad) return "position index disagrees with a bucket";
            if (slot < 0 && word_count(dup_list(t, slot)) == 0) return "empty duplicate list";
        } else if (h->kind < kind_nodes && uint32_t(slot) >= cell_count(h->series)) {
            return "slot beyond the indexed series";
        }
        // A stale stamp means node numbers, and so identity hashes, changed:
        // the next use rebuilds.
        bool current = h->stamp == 0 || h->stamp == node_cycle() + 1;
        if (current && h->kind <= kind_symbols) {
            uint32_t at = h->kind == kind_hash ? first_position(t, slot) : uint32_t(slot);
            if (at < cell_count(h->series) && bk[2 * b] != tag_of(slot_hash(t, at)))
                return "tag disagrees with the key's hash";
        }
    }
    if (occupied != h->count) return "count";
    if (occupied + deleted != h->used) return "used";
    if (h->kind == kind_map) {
        // Every pair is keyed once; the removed ones are counted.
        uint32_t pairs = cell_count(h->series) / 2, dead = 0;
        for (uint32_t b = 0; b < h->buckets; ++b) {
            if (state_at(bk, b) != f_occupied) continue;
            uint32_t slot = bk[2 * b + 1];
            if (slot % 2 || slot + 1 >= cell_count(h->series)) return "map key slot";
            if (cells(h->series)[slot + 1].header == 0) ++dead;
        }
        if (occupied != pairs) return "map pairs";
        if (dead != h->index) return "map removed count";
    }
    return "";
}

// --- relocation map ------------------------------------------------------------------------

namespace relocmap {

namespace {
// Flags are read a 32-bit word at a time.
size_t flag_bytes(uint32_t buckets) { return std::max<size_t>(buckets / 4, 4); }

Found find(const RelocMap* m, uint32_t key) {
    uint32_t mask = m->buckets - 1;
    uint32_t i = fmix32(key) & mask, first = i, k = 0;
    int32_t deleted = -1;
    for (;;) {
        uint32_t f = flag_at(m->flags, i);
        if (f == f_empty) return {-1, deleted >= 0 ? deleted : int32_t(i)};
        if (f == f_deleted)
            deleted = int32_t(i);
        else if (m->entries[2 * i] == key)
            return {int32_t(i), -1};
        i = (i + ++k) & mask;
        if (i == first || k > 2 * m->buckets) return {-1, deleted};
    }
}

int grow(RelocMap* m) {
    uint32_t buckets = m->buckets * 2;
    auto* entries = static_cast<uint32_t*>(std::malloc(size_t(buckets) * 8));
    auto* flags = static_cast<uint32_t*>(std::malloc(flag_bytes(buckets)));
    if (!entries || !flags) {
        std::free(entries);
        std::free(flags);
        return -1;
    }
    std::memset(flags, 0xAA, flag_bytes(buckets));
    RelocMap bigger{0, flags, entries, 0, buckets, uint32_t(0.77 * buckets + 0.5)};
    for (uint32_t i = 0; i < m->buckets; ++i) {
        if (flag_at(m->flags, i) != f_occupied) continue;
        Found f = find(&bigger, m->entries[2 * i]);
        uint32_t b = uint32_t(f.free);
        set_bucket(bigger.flags, b, f_occupied);
        bigger.entries[2 * b] = m->entries[2 * i];
        bigger.entries[2 * b + 1] = m->entries[2 * i + 1];
        bigger.count++;
        bigger.used++;
    }
    std::free(m->entries);
    std::free(m->flags);
    *m = bigger;
    return 0;
}
}  // namespace

RelocMap* make(uint32_t size) {
    // Plain process heap: a failed growth must answer -1, not end the process.
    auto* m = static_cast<RelocMap*>(std::calloc(1, sizeof(RelocMap)));
    if (!m) return nullptr;
    m->buckets = buckets_for(size);
    m->upper = upper_bound(m->buckets);
    m->flags = static_cast<uint32_t*>(std::malloc(flag_bytes(m->buckets)));
    m->entries = static_cast<uint32_t*>(std::malloc(size_t(m->buckets) * 8));
    if (!m->flags || !m->entries) {
        free(m);
        return nullptr;
    }
    std::memset(m->flags, 0xAA, flag_bytes(m->buckets));
    return m;
}

int put(RelocMap* m, uint32_t key, uint32_t value) {
    if (m->used >= m->upper && grow(m) < 0) return -1;
    Found f = find(m, key);
    uint32_t b;
    if (f.bucket >= 0) {
        b = uint32_t(f.bucket);
    } else {
        b = uint32_t(f.free);
        if (flag_at(m->flags, b) == f_empty) m->used++;
        set_bucket(m->flags, b, f_occupied);
        m->count++;
        m->entries[2 * b] = key;
    }
    m->entries[2 * b + 1] = value;
    return 0;
}

bool get(const RelocMap* m, uint32_t key, uint32_t* value) {
    Found f = find(m, key);
    if (f.bucket < 0) return false;
    *value = m->entries[2 * f.bucket + 1];
    return true;
}

void remove(RelocMap* m, uint32_t key) {
    Found f = find(m, key);
    if (f.bucket < 0) return;
    set_bucket(m->flags, uint32_t(f.bucket), f_deleted);
    m->count--;
}

bool next(const RelocMap* m, uint32_t* cursor, uint32_t* key, uint32_t* value) {
    while (*cursor < m->buckets) {
        uint32_t b = (*cursor)++;
        if (flag_at(m->flags, b) != f_occupied) continue;
        *key = m->entries[2 * b];
        *value = m->entries[2 * b + 1];
        return true;
    }
    return false;
}

void clear(RelocMap* m) {
    std::memset(m->flags, 0xAA, flag_bytes(m->buckets));
    m->count = 0;
    m->used = 0;
}

void free(RelocMap* m) {
    if (!m) return;
    std::free(m->flags);
    std::free(m->entries);
    std::free(m);
}

}  // namespace relocmap

}  // namespace zan::hashtable
