// object!: records and namespaces with change hooks.
//
// An object cell: w1 its context (kind 2, values in a values series, self
// flag on), w2 the class id, w3 the change hook series or 0. The context's
// owner cell holds a copy of the object, so `self` and bound words lead back
// to it.
//
// The change hook series holds two pair! cells, one for on-change* and one
// for on-deep-change*: w2 the handler's field index << 16 OR its local slot
// count, w3 the node of the handler's spec when that count was computed. A
// field index of -1 (w2 at or above 0xFFFF0000) means no handler.
//
// Objects made from the same prototype with the same fields share a class id;
// every new class takes the next id of a counter that starts at 1,000,000.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::object {

inline Node context_node(const Cell& o) { return o.w1; }
inline uint32_t class_of(const Cell& o) { return o.w2; }
inline Node hooks_node(const Cell& o) { return o.w3; }

constexpr uint32_t first_class_id = 1000000;
constexpr uint32_t no_handler = 0xFFFF0000;

// --- how bodies and handlers run ---------------------------------------------------
// Evaluates a block bound to an object's context; the result is dropped.
using EvalBlock = void (*)(const Cell& block);
// Calls a change handler in a function frame named `name` (on-change* or
// on-deep-change*): the arguments, then `false` and locals - 1 none values
// when locals is at least 1; the object's context owns the call. The result
// is dropped; errors and non-local exits propagate as exceptions.
using CallHandler = void (*)(const Cell& handler, const Cell& object, uint32_t name,
                             const Cell* args, int count, int32_t locals);
// The interpreter's evaluator and caller are used unless others are set (null
// restores them).
void set_interpreter(EvalBlock eval, CallHandler call);
// Evaluates a bound body through the interpreter (internal not-done without one).
void eval(const Cell& block);

// --- making ---------------------------------------------------------------------------
uint32_t new_class_id();
// Keeps later new ids above one made elsewhere (a decoded boot image).
void note_class_id(uint32_t id);
// An empty object: a new context of the capacity, class 0, no hooks.
Cell& make_at(uint32_t capacity, Cell& cell);
// An object of the context with these hooks and class; copied into the owner cell.
Cell push(Node ctx, Node hooks, uint32_t class_id);
// For objects built by start-up code: gives an empty values series as many
// unset values as the context has words, then pushes the object (no hooks).
Cell init_push(Node ctx, uint32_t class_id);
// Gives the object a new hook series for the handler field indexes and local
// counts (-1: no handler); with a deep handler the object owns its series.
// Answers the series.
Node attach_hooks(Cell& object, int32_t on_change, int32_t change_count, int32_t on_deep,
                  int32_t deep_count);
// The hook series of a context's on-change* and on-deep-change* fields, or 0
// when it has neither; a field holding anything but a function or routine
// raises bad-field-set.
Node make_hooks(Node ctx);
// w3 := make_hooks; binds the object's series to it when it has a deep handler.
void finish_hooks(Cell& object);
bool has_deep_handler(const Cell& object);

// --- fields ---------------------------------------------------------------------------
// Whether a set in the context fires no change handler (its owner is no
// object with an on-change* handler).
bool quiet_context(Node ctx);
// A two-item path's field of an object, read (value null) or set without a
// handler: false, with nothing done, when the general path walk must decide
// (no such field, an unset value, a hook to fire, a set of self).
bool path_field(const Cell& object, const Cell& word, const Cell* value, Cell& out);

// A copy of the prototype: its words, capacity and self flag, its values
// copied; series values too with deep (functions are always rebound to the
// copy). The class id is kept, so are the hooks unless new_hooks.
Cell copy_from(const Cell& proto, bool deep, const Cell* types, bool new_hooks);
void duplicate_values(Node dst, Node src, bool copy_all);
bool merge(Node dst, Node src);
// A method rebound to an object's context: a new function from a copy of the
// spec and a deep copy of the body; the copy runs interpreted.
Cell rebind_function(const Cell& fn, Node ctx);

// A copy of an object's context with the same words and copies of its values;
// value.w1 is set to the copy.
Node clone_context(Cell& value);

// Whether the value (of a word, or at an index of a context) is an object of
// the class.
bool word_of_class(const Cell& word, uint32_t class_id);
bool class_at(Node ctx, int32_t index, uint32_t class_id);
// The values series of an object's context.
Node get_values(const Cell& object);

// --- fields -----------------------------------------------------------------------------
Cell select_word(const Cell& object, const Cell& word);
// Stores the value in a field by canonical symbol, firing on-change*.
void set_field(const Cell& object, const Cell& word, const Cell& value);

// --- change hooks --------------------------------------------------------------------------
void fire_on_set(const Cell& object, const Cell& word, const Cell& old_value,
                 const Cell& new_value);
void fire_on_deep_change(const Cell& owner, const Cell& word, const Cell& target,
                         const Cell& action, const Cell& new_value, int32_t index, int32_t part);

// --- the natives' object forms ----------------------------------------------------------------
void set_many(const Cell& object, const Cell& source, bool any, bool only, bool some);
Cell construct(const Cell* proto, const Cell& block, bool only);

// --- actions ------------------------------------------------------------------------------
void make(actions::Args args, Type type);
void copy(actions::Args args, const Cell* part, bool deep, const Cell* types);
void select(actions::Args args, const actions::FindRefs& r);
void put(actions::Args args, bool case_);
void modify(actions::Args args, bool case_);
void reflect(actions::Args args, uint32_t field_symbol);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
// The fields as mold shows them, shared with error!.
int32_t mold_fields(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                    int32_t budget, int32_t indent);

// Registers object!, its cell marking and its context and ownership hooks.
void init();

}  // namespace zan::object
