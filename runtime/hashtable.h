// The one hash table of the runtime.
//
// Open addressing over a power-of-two number of buckets, triangular probing
// (offsets 0, 1, 3, 6, ...) and a load factor of 0.77. A bucket is two words
// side by side, a tag (0 empty, 1 deleted, else the key's hash with its top
// bit set) and a slot, so a probe reads one cache line and compares keys only
// where the hashes agree. A table never stores values: a bucket holds a
// 32-bit position into an indexed series (a block, the symbol block, a word
// list, or a record series of its own), so the series keeps insertion order and
// the table can always be rebuilt from it.
//
// Every part of a table is a series buffer reached through a node, so a table
// moves with compaction like any series: callers keep the table's node, never
// an address inside it, across anything that allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zan::hashtable {

// What the table indexes and how its key slots read.
enum Kind : uint32_t {
    kind_hash = 0,     // hash!: cell positions of a block, equal keys in duplicate lists
    kind_map = 1,      // map!: positions of the keys of key/value pairs
    kind_symbols = 2,  // symbol table and context word tables: cell positions
    kind_nodes = 3,    // node-keyed record sets; the keys are held weakly
    kind_owners = 4,   // as kind_nodes, and the node in a record's third cell is weak too
};

// Equality of keys in lookups.
enum class Mode : uint8_t { any_case, case_sensitive, strict };

// The table itself: ten words at the head of its own series.
struct Header {
    uint32_t count;       // live keys
    uint32_t index;       // kind 0: node of the position index; kind 1: pairs removed but
                          // still keyed (map!); kinds 3+: record size in bytes
    uint32_t duplicates;  // kind 0: node of the duplicate lists
    uint32_t keys;        // node of the buckets: (tag, slot) word pairs
    uint32_t series;      // node of the indexed series
    uint32_t used;        // occupied plus deleted buckets
    uint32_t buckets;     // a power of two, at least 4
    uint32_t upper;       // the used count at which the table grows
    uint32_t kind;
    uint32_t stamp;       // 0, or node-cycle counter + 1 at the last build
};

// --- hashing --------------------------------------------------------------------

uint32_t fmix32(uint32_t h);
uint32_t murmur3(const void* bytes, size_t length, uint32_t seed);
uint32_t murmur3(const void* bytes, size_t length);  // with the shared seed
uint32_t seed();
// The shared seed starts as a fixed non-zero value. Setting another (non-zero)
// one takes effect only before the first table is made: every table's buckets
// depend on it.
void set_seed(uint32_t s);

uint32_t hash_pointer(uint32_t word);
uint32_t hash_integer(uint32_t value);
// A spelling: ASCII A-Z lowered, every other byte as it is.
uint32_t hash_symbol_name(const char* name, size_t length);
// A string-like value from its head to its tail, one block per code point.
uint32_t hash_string(const Cell& s, bool case_sensitive);
uint32_t hash_value(const Cell& v, bool case_sensitive = false);

// Equality of two keys as the tables see it: same type (map!: any-word keys
// count as set-word!) and equal under the mode.
bool keys_equal(const Cell& a, const Cell& b, Mode mode, bool map_keys = false);

// --- tables -----------------------------------------------------------------------

// A new table for `size` keys. `series` is the value of the series to index
// (its cells are inserted), or nullptr / a none! cell for a new empty one.
// Kinds 3+ keep records of `record_cells` value cells each.
Node make(uint32_t size, const Cell* series, Kind kind, uint32_t record_cells = 0);

Header header(Node table);  // a copy of the header words
uint32_t count(Node table);
Node indexed_series(Node table);

// The capacity rules: buckets for a requested size, and the grow threshold.
uint32_t buckets_for(uint32_t size);
uint32_t upper_bound(uint32_t buckets);

// --- hash! and map! (kinds 0 and 1) ---------------------------------------------------
// Positions count cells from the head of the indexed series' buffer, whatever
// index the series value stands at.

// Inserts the key at a position of the indexed series; answers the position
// of the key now in the table: `position` itself, or, for map!, the position of
// a key already there that is equal under `mode` (so a map can hold case
// variants apart when put case-sensitively). `resized` is set when the table
// grew (and was so rebuilt). Putting a position a hash! already holds changes
// nothing.
int32_t put(Node table, uint32_t position, bool* resized = nullptr,
            Mode mode = Mode::any_case);
// map!: inserts the key at a position that the caller has just looked up and
// not found, without comparing it again.
void put_unique(Node table, uint32_t position);
// The same with the key's hash_value known.
void put_unique(Node table, uint32_t position, uint32_t hash);

// The position of a key equal under the mode, or -1. hash!: among all the
// occurrences, only positions at or after `start` (before it when `reverse`)
// whose distance from `start` is a multiple of `skip` qualify; the nearest wins,
// the farthest with `last`. map! answers its one key.
int32_t get(Node table, const Cell& key, uint32_t start = 0, uint32_t skip = 1,
            Mode mode = Mode::any_case, bool last = false, bool reverse = false);
// The same with the key's hash_value known.
int32_t get_hashed(Node table, const Cell& key, uint32_t hash, uint32_t start = 0,
                   uint32_t skip = 1, Mode mode = Mode::any_case, bool last = false,
                   bool reverse = false);

// hash!: the first position at or after `start` of an integer key (a plain
// find), the same answer as get with its defaults, by a shorter road.
int32_t get_integer(Node table, const Cell& key, uint32_t start);

// Walks the equal keys one after the other. Start with a default Probe.
struct Probe {
    int32_t bucket = -1;  // -1: not started
    uint32_t first = 0;
    uint32_t step = 0;
    uint32_t within = 0;  // next entry of a duplicate list
};
int32_t get_next(Node table, const Cell& key, Probe& probe);

// Forgets the key at a position (hash!: only that occurrence; map!: the key
// must still stand there).
void remove(Node table, uint32_t position);

// Re-inserts the cells of the indexed series from `start`, every `step`-th
// cell (map!: 2, key/value pairs; a repeated key takes the later value and the
// later pair leaves the block).
void rehash_block(Node table, uint32_t start, uint32_t step);

// Rebuilds the table from the whole indexed series for `requested` keys.
void resize(Node table, uint32_t requested);

// Keeping a hash!'s positions right while its block changes:
// clear: the block and the table are emptied.
void clear(Node table);
// clear_range: the keys at `count` positions from `index` are forgotten.
void clear_range(Node table, uint32_t index, uint32_t count);
// refresh: the keys at `count` positions from `start` move by `offset`
// (after an insertion or removal in the block); with `removal`, the keys at
// the positions the move overwrites are forgotten first.
void refresh(Node table, int32_t offset, uint32_t start, uint32_t count, bool removal);
// move: `count` keys from `from` now stand at `to` (the block's `move`);
// the keys in between close up behind them.
void move(Node table, uint32_t to, uint32_t from, uint32_t count);
// A copy of the table indexing another series of the same content.
Node copy(Node table, Node new_series);

// map!: pairs marked removed whose keys the table still holds (so that a
// later put revives them in place); the live pairs are count - removed.
uint32_t removed(Node table);
void set_removed(Node table, uint32_t n);

// --- symbol and word tables (kind 2) --------------------------------------------

// Interns a spelling; answers its 1-based symbol id.
uint32_t put_symbol(Node table, const char* name, size_t length, bool any_case);
// A context word table: the 0-based index of the word record of the symbol
// (exact, or by canonical ids when `any_case`), or -1. With `add`, a missing
// word gets the next index (the indexed series' length): the caller appends
// its word record there; the answer is then -1 too (check() fails until it
// has).
int32_t put_word(Node table, uint32_t symbol, bool any_case, bool add);
void resize_in_place(Node table, uint32_t requested);

// --- node-keyed record sets (kinds 3 and 4) ------------------------------------------

// The value cells of the key's record, made fresh (all unset). Never keep the
// address across an allocation; re-read with get_ptr.
Cell* put_ptr(Node table, Node key);
Cell* get_ptr(Node table, Node key);  // nullptr when absent
void delete_ptr(Node table, Node key);
// After marking: every record whose key buffer (kind 4: or whose third cell's
// node) carries no mark is deleted.
void sweep_dead(Node table);
// Recomputes the bucket of every live record (after nodes moved).
void rebuild_ptr(Node table);
// For the collector's relocation hook: gives every live record the new handle
// of its key (the buckets follow on the table's next use).
void relocate_keys(Node table);
// Visits the live records: key and value cells.
template <typename Fn>
void for_each_record(Node table, Fn&& fn);

// --- the collector ---------------------------------------------------------------------

// Keeps a table held in a C++ local alive, with every series it names, and
// rewrites the local when the table's node moves.
class TableRoot {
public:
    explicit TableRoot(Node& table);
    ~TableRoot();
    TableRoot(const TableRoot&) = delete;
    TableRoot& operator=(const TableRoot&) = delete;
};

// While one lives, collections move no nodes (buffers still move): for code
// that keeps node handles in places marking does not reach. Nests.
class NodesStay {
public:
    NodesStay();
    ~NodesStay();
    NodesStay(const NodesStay&) = delete;
    NodesStay& operator=(const NodesStay&) = delete;
};

// Marks the table's own storage and its indexed series. Node-keyed sets hold
// their keys weakly: only their storage is marked.
void mark(Node& table);

// Stamped tables rebuild on their next use when the collector's node-cycle
// counter changed. Tests may put another counter in its place (nullptr: the
// collector's again).
using NodeCycles = uint32_t (*)();
void set_node_cycles(NodeCycles fn);

// Checks every invariant of a table; answers an empty string or the first fault.
const char* check(Node table);

// --- the collector's relocation map (process heap only) ----------------------------

struct RelocMap {
    uint32_t count = 0;
    uint32_t* flags = nullptr;
    uint32_t* entries = nullptr;  // (key, value) pairs, one per bucket
    uint32_t used = 0;
    uint32_t buckets = 0;
    uint32_t upper = 0;
};
namespace relocmap {
RelocMap* make(uint32_t size);
// Answers 0, or -1 when growing failed (the map is then unchanged).
int put(RelocMap* m, uint32_t key, uint32_t value);
bool get(const RelocMap* m, uint32_t key, uint32_t* value);
void remove(RelocMap* m, uint32_t key);
// Iterates the entries in bucket order: start with *cursor = 0.
bool next(const RelocMap* m, uint32_t* cursor, uint32_t* key, uint32_t* value);
void clear(RelocMap* m);
void free(RelocMap* m);
}  // namespace relocmap

}  // namespace zan::hashtable

// --- template bodies ------------------------------------------------------------

#include "runtime/memory.h"

namespace zan::hashtable {

template <typename Fn>
void for_each_record(Node table, Fn&& fn) {
    Header h = header(table);
    memory::Series* records = memory::buffer(h.series);
    uint32_t end = records->tail - records->head;
    for (uint32_t off = 0; off < end; off += h.index) {
        Cell* rec = reinterpret_cast<Cell*>(memory::buffer(header(table).series)->at_head() + off);
        if (rec->header != uint32_t(Type::unset) || rec->w1 == 0) continue;
        fn(Node(rec->w1), rec + 1);
    }
}

}  // namespace zan::hashtable
