// What native!, function!, object! and error! use of contexts, until the
// context interface is in the tree: the declarations of the calls they make,
// exactly as that interface gives them. Becomes an include when it lands.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

#if __has_include("datatypes/context.h")
#include "datatypes/context.h"
#else
namespace zan::context {

enum class Kind : uint8_t { plain = 0, locals = 1, object = 2 };

Node global();

using FireOnSet = bool (*)(Node ctx, const Cell& word, const Cell& value, Cell& slot);
extern FireOnSet fire_on_set;

Cell& cell(Node ctx);
Cell& owner(Node ctx);
Kind kind_of(Node ctx);
bool values_on_stack(Node ctx);
bool has_self(Node ctx);
Node words(Node ctx);
Node values(Node ctx);
uint32_t length(Node ctx);
Cell& word_at(Node ctx, int32_t index);
Cell* value_at(Node ctx, int32_t index);

Node create(uint32_t capacity, bool on_stack, bool self, Node source, Kind kind);
Node make_from_spec(const Cell& spec, bool on_stack, bool self, Kind kind);
Node clone(Cell& value, Kind kind);

int32_t find_word(Node ctx, uint32_t symbol, bool any_case);
int32_t add(Node ctx, const Cell& word);
Cell* add_value(Node ctx, const Cell& word, const Cell& value);
void put(Node ctx, const Cell& word, const Cell& value);
bool collect_set_words(Node ctx, const Cell& block);

Cell* get(const Cell& word);
Cell* set_in(Cell& word, const Cell& value, Node ctx, bool fire);

int32_t bind_word(Node ctx, Cell& word);
void bind(const Cell& block, Node ctx, bool self);

}  // namespace zan::context
#endif
