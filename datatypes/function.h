// function! and routine!: user functions and low-level routines.
//
// A function! cell: header type 24 plus attribute bits (trace, no-trace); w1
// its locals context (kind 1, values on the value stack while a call runs), w2
// the spec block's node (the spec is always held from its head), w3 the more
// block. A routine! has the same shape; its code is an index into the routine
// registry, and header bits 25-29 hold its argument count.
//
// The more block has exactly five cells:
//   0  the body: a deep copy bound to the locals (routine: the block given), or none
//   1  the arity cache, unset until the interpreter fills it on the first call
//   2  integer! index of the compiled body (routine: registry index), else unset
//   3  unset; an op! made from the function keeps a copy of it here
//   4  integer! node of the owning object's context for methods, else unset
//      (routine: the extra integer given)
// The locals context's owner cell holds a copy of the function value.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::function {

namespace attr {
constexpr uint32_t trace = 0x400;
constexpr uint32_t no_trace = 0x200;
constexpr uint32_t routine_flag = 0x8000;
constexpr uint32_t arity_shift = 25;
constexpr uint32_t arity_mask = 0x1Fu << arity_shift;
}  // namespace attr

namespace more {
constexpr int body = 0, arity = 1, code = 2, op_source = 3, owner = 4;
constexpr int size = 5;
}  // namespace more

inline Node context_node(const Cell& f) { return f.w1; }
inline Node spec_node(const Cell& f) { return f.w2; }
inline Node more_node(const Cell& f) { return f.w3; }

// The collector's step for a more block or a native's cache: its cells are
// marked, except cell 1, the interpreter's arity cache, whose block is kept
// as a buffer only: it holds typesets, counts and copies of the spec's
// refinements with numbers packed into their payload, and everything they
// refer to is reached through the spec itself.
void mark_more(Node& more);

// A cell of the more block; valid until the next allocation.
Cell* more_at(const Cell& f, int index);

// A new function! (the caller roots it). A spec not at its head is copied from
// its head; the body (when not none) is deep-copied and, when no context is
// given, bound to the new locals. code 0 and owner 0 leave their cells unset.
// The spec is taken as it is: make and the function natives check it first
// with validate_spec.
Cell push(const Cell& spec, const Cell& body, Node context, int32_t code, Node owner,
                uint32_t flags);

// Checks a spec; answers its attribute flags. Raises bad-func-def (with the
// spec), invalid-type-spec (with the entry) or dup-vars (with the word).
uint32_t validate_spec(const Cell& spec);

// The locals collector of `function`: set-words of the body and the words of
// foreach, remove-each and repeat become locals; /extern words never do.
// Changes the spec in place (cut at /extern, /local and the collected words
// appended) and answers the block of collected words.
Cell collect_words(const Cell& spec, const Cell& body);

// From the start index: 1 for the first /local plus 1 for each word! after
// it; -1 when required and the spec has no /local.
int32_t count_locals(Node spec, int32_t start, bool required);

// Pushes the local slots of a call made from native code: false for /local,
// then n - 1 none values.
void init_locals(int32_t n);

// --- actions ----------------------------------------------------------------------
void make(actions::Args args, Type type);
void reflect(actions::Args args, uint32_t field_symbol);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t compare(const Cell& a, const Cell& b, int32_t op);
// Registers function!.
void init();

}  // namespace zan::function

namespace zan::routine {

// A new routine! for routine-registry entry `code`, its body kept as given
// (not copied), `extra` in more-block cell 4; the flag sets header bit 15.
Cell push(const Cell& spec, const Cell& body, int32_t code, int32_t extra, bool flag);
// Header bits 25-29: the number of word! entries of the spec.
void set_arity(Cell& routine);
inline int get_arity(const Cell& routine) {
    return int((routine.header & function::attr::arity_mask) >> function::attr::arity_shift);
}

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t compare(const Cell& a, const Cell& b, int32_t op);

// Registers routine! (parent function!).
void init();

}  // namespace zan::routine
