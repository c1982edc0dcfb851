// native!, action! and op!: built-in functions as values.
//
// A native! names an entry of the natives table, an action! an entry of the
// action entry table, both by 1-based index in w1; w2 holds the spec block's
// node and w3 a cache series of two cells: a copy of the context cell of a
// locals context made from the spec (it gives the argument and refinement
// words their indexes) and a cell the interpreter fills for itself.
//
// An op! is an infix operator made from a native, action, function or routine:
// it keeps its source's w1, w2 and w3, and header bits 16-23 hold the source's
// type id. For a function or routine source, w3 is the more block, and its
// cell 3 holds a copy of the source.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::native {

constexpr int table_size = 120;  // natives-table index range
constexpr int action_table_size = 62;

// What the evaluator knows of its tables. A native or action value may only
// name a filled entry, and a native's spec must have the registered native's
// arity. Until the evaluator installs its own answers, natives 1-107 and every
// action slot but 8 (set-path, which has no entry) count as filled, and a
// native's arity is that of the first native made for its index (start-up
// makes each one from its spec).
struct Tables {
    bool (*native_filled)(int index) = nullptr;
    int (*native_arity)(int index) = nullptr;  // -1: unknown
    bool (*action_filled)(int index) = nullptr;
};
void set_tables(const Tables& t);
// Forgets the arities of the natives made so far, as before start-up: the
// unit tests' set-up, whose own makes must not meet those of another test.
void forget_made_arities();

// Header bits 16-23 of an op!: the type of its source (op_source in cell.h).
constexpr uint32_t op_source_shift = 16;

// The code index of a native or action (for an op!, its source's).
inline int32_t code_index(const Cell& v) { return int32_t(v.w1); }
inline Node spec_node(const Cell& v) { return v.w2; }
inline Node cache_node(const Cell& v) { return v.w3; }

// Builds a native! or action! at a table index from a spec block, as the
// boot payload's records do. The caller roots the answer.
Cell make_at_index(Type type, const Cell& spec, int32_t index);

// Number of arguments a spec describes: word!, lit-word! and get-word! entries
// before the first refinement or set-word.
int spec_arity(const Cell& spec);

// --- actions ----------------------------------------------------------------------
void make(actions::Args args, Type type);
void reflect(actions::Args args, uint32_t field_symbol);  // inherited by action! and op!
// The text slots of all three types.
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t compare(const Cell& a, const Cell& b, int32_t op);

// Registers native!.
void init();

}  // namespace zan::native

namespace zan::action {
void make(actions::Args args, Type type);
// Registers action! (parent native!).
void init();
}  // namespace zan::action

namespace zan::op {
// Whether the spec describes exactly two arguments with a plain left one.
bool spec_ok(const Cell& spec);
void make(actions::Args args, Type type);
// Registers op! (parent native!).
void init();
}  // namespace zan::op
