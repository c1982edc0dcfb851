// The natives table: the entry routines native! values index (1-107 filled in
// a fixed order, 108-120 empty), their calling convention and the loop steps.
//
// Convention: the operands lie on the value stack from the argument base in
// spec order; `check` asks the native to test the operands against its spec
// itself (0 from the interpreter, which has done it); each refinement is one
// integer, -1 when absent, else the slot index of its first argument from the
// base. The result goes into the result slot (the base). A native answers a
// status: ok, or the code of a non-local exit it started or let through.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "evaluator/stack.h"

namespace zan::natives {

using Fn = stack::Status (*)(int32_t check, const int32_t* refinements);

constexpr int table_size = 120;
constexpr int native_count = 107;

// Slot i (1-120); an unbuilt native raises internal not-done.
Fn entry(int index);
// The word of native i in the fixed order ("if", "unless", ...).
const char* word(int index);
// Index of a native by its word, 0 when none.
int index_of(const char* word);

// Makes the table with every native built so far; the natives of later work
// register themselves by index.
void init_table();
void set_entry(int index, Fn fn);

// --- loop steps ---------------------------------------------------------------
// The loop's series is the slot two below the argument base, its word the slot
// directly below it.
bool foreach_next();
bool loop_at_tail(bool advance);
void forall_set();
void loop_count_to_integer();
void repeat_next(Cell& word);

}  // namespace zan::natives
