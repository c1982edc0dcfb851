// The control natives (conditionals, loops, selectors, block evaluators), the
// loop helpers they share with the word natives and the small helpers every
// natives file uses.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "evaluator/natives.h"

namespace zan::natives {

// Entry routines, in the natives table's order.
stack::Status n_if(int32_t check, const int32_t* refs);
stack::Status n_unless(int32_t check, const int32_t* refs);
stack::Status n_either(int32_t check, const int32_t* refs);
stack::Status n_any(int32_t check, const int32_t* refs);
stack::Status n_all(int32_t check, const int32_t* refs);
stack::Status n_while(int32_t check, const int32_t* refs);
stack::Status n_until(int32_t check, const int32_t* refs);
stack::Status n_loop(int32_t check, const int32_t* refs);
stack::Status n_repeat(int32_t check, const int32_t* refs);
stack::Status n_forever(int32_t check, const int32_t* refs);
stack::Status n_foreach(int32_t check, const int32_t* refs);
stack::Status n_forall(int32_t check, const int32_t* refs);
stack::Status n_remove_each(int32_t check, const int32_t* refs);
stack::Status n_switch(int32_t check, const int32_t* refs);
stack::Status n_case(int32_t check, const int32_t* refs);
stack::Status n_do(int32_t check, const int32_t* refs);
stack::Status n_reduce(int32_t check, const int32_t* refs);
stack::Status n_compose(int32_t check, const int32_t* refs);

// Whether a series (or map!) has a value at its index.
bool loop_more(const Cell& series);

// Assigns values to the first `count` words of a word block (see set).
// any: unset values allowed; only: `values` itself goes to every word; some:
// a none value leaves its word alone.
void set_words(const Cell& words, const Cell& values, int32_t count, bool any, bool only, bool some);

// Checks the operands against the native's spec when asked to (check != 0).
void check_args(int32_t check, int native_index, const int32_t* refs);

// A single value evaluated as an expression on its own: a word gives its
// value, a paren its evaluation, a callable is called with no arguments. The
// value is pushed.
stack::Status eval_single(const Cell& value);

// A count for loop and repeat: floats truncated toward zero and saturated to
// the 32-bit range (NaN counts as 0).
int32_t loop_count(const Cell& count);

// --- Helpers every natives file shares ----------------------------------------------

// Operand k of the running native.
inline Cell* arg(uint32_t k) { return stack::s.base + k; }

// Whether the native's refinement i was given.
inline bool given(const int32_t* refs, int i) { return refs[i] != -1; }

// Leaves the native's result as the last value; answers ok.
stack::Status finish(const Cell& result);

// Evaluates a block. An exit that crossed plain C++ code arrives as an
// exception with its target already on top; from here on it travels as a
// status again.
stack::Status guarded(const Cell& block, bool chain);

// word!, set-word!, get-word! or lit-word!.
inline bool any_word(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::get_word || t == Type::lit_word;
}

}  // namespace zan::natives
