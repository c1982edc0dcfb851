// map!: an associative table of key/value pairs written #[key value ...].
//
// Cell: w1 head index into the storage (always 0), w2 node of the storage
// block, w3 node of its hash table (kind map). The storage holds the pairs in
// insertion order, key cell then value cell. Removing a pair zeroes its value
// cell's header and leaves the key in the storage and in the table, so a later
// put of the same key revives the pair where it stood and nothing ever moves;
// the table counts such pairs as removed, and every reader skips them.
//
// Keys are normalised on the way in: text and binary keys are copied, any
// word becomes a set-word!. A stored key is never handed out as it is: text
// keys are copied again, so a caller's change cannot corrupt the index.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/hashtable.h"

namespace zan::map {

using actions::Args;

// Whether values of the type may be keys.
bool valid_key_type_q(Type t);
// Normalises a key in place (a copy for text and binary keys); an invalid
// key type raises invalid-path.
void preprocess_key(Cell& key);

// Writes into cell a new map over a copy of the block's cells from its head
// (null: an empty map with room for size pairs). An odd count raises
// invalid-arg, a bad key invalid-path; a later duplicate key gives way.
Cell& make_at(Cell& cell, const Cell* block, uint32_t size);

// Live pairs.
uint32_t count(const Cell& map);
// Storage position of the key (live or removed pair), or -1.
int32_t find_position(const Cell& map, const Cell& key, hashtable::Mode mode);
// The same with the key's hash_value known.
int32_t find_position(const Cell& map, const Cell& key, hashtable::Mode mode, uint32_t hash);
// Sets a key's value (adding or reviving the pair); case selects the
// case-sensitive lookup.
void put(const Cell& map, const Cell& key, const Cell& value, bool case_);
// The value of a live pair, or none.
Cell get(const Cell& map, const Cell& key, bool case_);

// extend on a map: the block's pairs are checked whole before any is stored.
void extend(const Cell& map, const Cell& block, bool case_);
// One foreach step from storage position pos: sets the words of the block
// (count of them) to the next live key (as word!) and value; answers the
// position after the pair taken, or -1 when no live pair is left.
int32_t foreach_next(const Cell& map, uint32_t pos, const Cell& words, int32_t count);
// Sets the words of the block to the values of the live pairs in turn
// (`set` with a map of values); words left over get none.
void set_words(const Cell& words, const Cell& map);

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type);
void reflect(Args args, uint32_t field_symbol);
void to(Args args, Type type);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void clear(Args args);
void copy(Args args, const Cell* part, bool deep, const Cell* types);
void find(Args args, const actions::FindRefs& r);
int32_t length_q(const Cell& value);
void put_action(Args args, bool case_);
void remove(Args args, const Cell* part, const Cell* key);
void select(Args args, const actions::FindRefs& r);

// Registers map! (no parent).
void init();

}  // namespace zan::map
