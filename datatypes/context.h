// Contexts: the binding environments of the language.
//
// A context is one node whose series holds exactly two cells: the context cell
// (type context!, kind and flags in the header, w1 the word table, w2 the values)
// and the owner value (the object!, error! or function! that owns it, else
// unset). The words block holds one word! record per word, bound to the context
// itself, in the order the words were added; value k belongs to word k. The word
// table is a symbol-keyed hash table whose indexed series is the words block.
//
// The values either live in a values series (w2 its node) or, for function
// locals, on the value stack while a call runs: w2 is then 0, or the value-stack
// position + 1 of the first argument; `stack_slots` turns that into an address.
//
// Every routine takes the context node; a Cell* answered here points into a
// buffer and is good only until the next allocation.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zan::context {

enum class Kind : uint8_t { plain = 0, locals = 1, object = 2 };

// The global context (a collector root once init has run).
Node global();

// Filled by the evaluator: the first value cell of a stack-held context whose
// cell holds `position` (value-stack position + 1) in w2.
using StackSlots = Cell* (*)(uint32_t position);
extern StackSlots stack_slots;

// Filled by object!: called on an assignment with the fire flag in an object
// context; answers true when it stored the value itself (the owner has a change
// hook), false to let the plain store happen.
using FireOnSet = bool (*)(Node ctx, const Cell& word, const Cell& value, Cell& slot);
extern FireOnSet fire_on_set;

// --- layout -----------------------------------------------------------------

Cell& cell(Node ctx);   // the context cell
Cell& owner(Node ctx);  // the owner value
Kind kind_of(Node ctx);
bool values_on_stack(Node ctx);
bool has_self(Node ctx);
Node table(Node ctx);   // the word table
Node words(Node ctx);   // the words block
Node values(Node ctx);  // the values series, 0 for a stack-held context
uint32_t length(Node ctx);             // number of words
Cell& word_at(Node ctx, int32_t index);  // the word record at an index
Cell* value_at(Node ctx, int32_t index);  // the value slot; nullptr without values

// --- making -----------------------------------------------------------------

// A new context with room for `capacity` words (0 taken as 1). With a source its
// word table is duplicated (the caller brings the words block along).
Node create(uint32_t capacity, bool on_stack, bool self, Node source, Kind kind);

// A new context holding the given words, in order, case kept. The words must
// be distinct: they are indexed without being looked up first.
Node create_with_words(const uint32_t* symbols, uint32_t count, bool on_stack, bool self, Kind kind);

// Sets the stack position (value-stack position + 1, 0 for none) of a stack-held context.
void set_stack_position(Node ctx, uint32_t position);

// A context of the argument words of a function spec (word!, get-word!,
// lit-word!, refinement!), in order; set-words and other values are skipped.
Node make_from_spec(const Cell& spec, bool on_stack, bool self, Kind kind);

// A copy of the context held by `value` (w1): same words, capacity and flags,
// its word records rebound to the copy; value.w1 is set to the copy, so the
// value must lie where allocation does not move it (a stack slot, a rooted local).
Node clone(Cell& value, Kind kind);

// --- words ------------------------------------------------------------------

// 0-based index of the word, or -1. any_case compares canonical symbols.
int32_t find_word(Node ctx, uint32_t symbol, bool any_case);

// Adds a word record when absent and stores its index in `index`; answers the
// existing index when the word was there, -1 when it was added.
int32_t add_word(Node ctx, uint32_t symbol, bool any_case, int32_t& index);

// Adds the word's symbol (any case); a new word gets an unset value unless the
// values live on the stack. Answers the index.
int32_t add(Node ctx, const Cell& word);

// Adds the word with a copy of the value and answers its slot; answers nullptr
// and changes nothing when the word is already there.
Cell* add_value(Node ctx, const Cell& word, const Cell& value);

// Adds the word with a copy of the value, or overwrites the value it has.
void put(Node ctx, const Cell& word, const Cell& value);

// Adds every set-word at the top level of the block (from its head) with an
// unset value; answers whether the word list grew.
bool collect_set_words(Node ctx, const Cell& block);

// The global word record of a symbol, added when absent.
Cell add_global(uint32_t symbol, bool any_case, bool alias_copy);

// --- values -----------------------------------------------------------------

// The value slot of a symbol (any case); stack-held contexts are looked up in
// the global context instead. nullptr when absent.
Cell* get_by_symbol(uint32_t symbol, Node ctx);

Cell* get_in(const Cell& word, Node ctx);
Cell* get(const Cell& word);

// Stores a copy of the value as the word's value and answers the slot. A word
// with index -1 takes its index from the context (adding the word when absent),
// so such a word must not lie in a buffer that an allocation can move.
Cell* set_in(Cell& word, const Cell& value, Node ctx, bool fire);
Cell* set(Cell& word, const Cell& value);

// --- binding ----------------------------------------------------------------

// Rebinds the word in place when the context holds its symbol (any case);
// answers the index or -1 (the word is left as it was).
int32_t bind_word(Node ctx, Cell& word);

// Binds the word family values of a block and of every block-like value in
// it, at any depth; a block met again (a cycle) is not walked twice. With the
// self flag a word! spelled exactly `self` is bound to the context with index -1.
void bind(const Cell& block, Node ctx, bool self);

// Checks the invariants of a context: the words bound to it, in order, each
// found by its table; values as long as the words. Answers nullptr when sound,
// else what is wrong.
const char* check(Node ctx);

// Registers context! and the cell marking of contexts and bound words.
void init();

// Makes the global context (4,000 words) and keeps it alive; runs once at
// start-up, before the symbol table is made. Later calls keep the one made.
void make_global();

}  // namespace zan::context
