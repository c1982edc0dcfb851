// The word family: word!, set-word!, lit-word!, get-word! and refinement!.
//
// One cell layout for all five: w1 the context the word is bound to (0 for an
// unbound refinement), w2 the symbol id with its own letter case, w3 the index
// in that context or -1 when unresolved. The four derived types differ from
// word! only in how they mold.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::word {

// Filled by the lexer: loads the values of a UTF-8 text, stores the first one
// in `first` and answers how many values the text held (-1 on a syntax error).
using Transcode = int32_t (*)(std::string_view utf8, Cell& first);
extern Transcode transcode;

bool is_word_family(Type t);  // word! to refinement!

// --- creation ---------------------------------------------------------------

// The global word of a name (interned exactly). A name that differs only in
// letter case from a global word answers a copy with its own spelling, bound
// to the shared value slot.
Cell load(const char* name);
// The same for an interned symbol, matched exactly.
Cell load_symbol(uint32_t symbol);
// set-word!, lit-word!, get-word!: `load` retyped. refinement!: an unbound
// refinement of the exactly interned name.
Cell load_as(Type t, const char* name);

// Writes a word! bound to the global context (added there when absent).
Cell& make_at(uint32_t symbol, Cell& cell);

// A global word! appended to a block; answers the new cell (valid until the
// next allocation). make_in_as retypes it (refinement!: unbound).
Cell* make_in(uint32_t symbol, const Cell& block);
Cell* make_in_text(const char* name, const Cell& block);
Cell* make_in_as(Type t, const char* name, const Cell& block);

// The word record at an index of a context's word list.
Cell at_local(Node ctx, int32_t index);
// The word record of the symbol in the context, else the global word.
Cell find_in_context(Node ctx, uint32_t symbol);
// The value slot at an index of a context's values (nullptr without values).
Cell* local_value_at(Node ctx, int32_t index);

// A new string! holding the word's spelling.
Cell as_string(const Cell& word);

// Type of the first value the word's name loads as; -1 when it loads nothing.
int32_t transcode_name(const Cell& word);

// --- reading and writing ----------------------------------------------------

// A copy of the word's value; unset raises no-value.
Cell get(const Cell& word);
// The value at an index of a context, unchecked; no values raises not-defined.
Cell get_local(Node ctx, int32_t index);
// Sets the word; an unset value raises need-value.
void set_checked(Cell& word, const Cell& value);

// --- actions ----------------------------------------------------------------

void make(actions::Args args, Type type);  // make and to of all five types
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t mold_set(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent);
int32_t mold_lit(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent);
int32_t mold_get(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent);
int32_t mold_refinement(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                        int32_t budget, int32_t indent);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void index_q(actions::Args args);

// Registers word!, lit-word!, set-word!, get-word! and refinement!.
void init();

}  // namespace zan::word
