// Symbols: the interned spellings every word names by a 1-based id.
//
// One symbol block holds an entry per distinct spelling (letter case counts);
// the symbol table (a hash table over the block) finds a spelling by its
// ASCII-lowered hash. Each entry carries its alias: the id of the first
// interned spelling of its case-insensitive class (ASCII letters only), or -1
// when it is that first one. So `abc` and `ABC` are two symbols with one
// canonical id, while `É` and `é` are unrelated. Symbols are never removed.
//
// Entry (symbol! cell): w1 alias (signed), w2 node of the cached string! of the
// spelling (0 until first needed), w3 node of the UTF-8 name, NUL behind its
// tail. Neither buffer is ever handed to scripts: spelling() gives a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zan::symbol {

// Makes the symbol block and the symbol table and registers them as roots.
void make_table();
// Registers the symbol! datatype (only its compare slot is filled).
void init();

Node table();         // the symbol table's node
Node symbol_block();  // the symbol block's node
uint32_t count();     // symbols interned so far

// Interning. make answers the id of the exact spelling, adding it when new;
// make_any_case answers any existing spelling of another letter case as it is.
uint32_t make(const char* text);
uint32_t make_any_case(const char* text);
uint32_t make_bytes(const char* bytes, size_t length);
uint32_t make(std::string_view text);
// A string! value's characters, as UTF-8.
uint32_t make_from_string(const Cell& s);

// The entry of an id, its cached string made first.
Cell get(uint32_t id);
void cache_string(uint32_t id);
// The UTF-8 spelling; valid until the next allocation.
std::string_view name(uint32_t id);
// The NUL-terminated spelling; valid until the next allocation.
const char* name_text(uint32_t id);

// The canonical id of the id's case-insensitive class.
uint32_t resolve(uint32_t id);
// The raw alias: -1, or the canonical id.
int32_t alias(uint32_t id);

// A new string! holding the spelling, the scripts' own to change.
Cell spelling(uint32_t id);

// Whether a word-family cell names any-type! (in any letter case).
bool any_type_q(const Cell& word);

// The compare slot of symbol!: spellings compared as text, letter case
// ignored unless the operator is strict-equal? (2) or case-sensitive sort (8).
int32_t compare(const Cell& a, const Cell& b, int32_t op);

// The collector's marker for symbol! cells: the name and the cached string.
void mark_cell(Cell& c);

}  // namespace zan::symbol
