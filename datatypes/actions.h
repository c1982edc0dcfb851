// The 62 action slots: one list gives their order, names and C++ signatures.
//
// A datatype fills one row of the action table with its routines. Operands lie
// on the value stack from `args` (args[0] is operand 1 and also the result
// slot, so everything reachable from them is rooted); refinement arguments are
// passed converted: a flag for a refinement without argument, the address of
// its argument cell (nullptr when absent) for one with an argument.
// form, mold, compare and eval-path are also called by the runtime on values
// that are not on the stack, so they take cells directly.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/cell.h"

namespace zan::actions {

using Args = Cell*;

struct RoundRefs {
    const Cell* to = nullptr;
    bool even = false, down = false, half_down = false, floor = false, ceiling = false,
         half_ceiling = false;
};
struct FindRefs {
    const Cell* part = nullptr;
    bool only = false, case_ = false, same = false, any = false;
    const Cell* with = nullptr;
    const Cell* skip = nullptr;
    bool last = false, reverse = false, tail = false, match = false;
};
struct SortRefs {
    bool case_ = false;
    const Cell* skip = nullptr;
    const Cell* compare = nullptr;
    const Cell* part = nullptr;
    bool all = false, reverse = false, stable = false;
};
struct TrimRefs {
    bool head = false, tail = false, auto_ = false, lines = false, all = false;
    const Cell* with = nullptr;
};
struct OpenRefs {
    bool new_ = false, read = false, write = false, seek = false;
    const Cell* allow = nullptr;
};
struct ReadRefs {
    const Cell* part = nullptr;
    const Cell* seek = nullptr;
    bool binary = false, lines = false, info = false;
    const Cell* as = nullptr;
};
struct WriteRefs {
    bool binary = false, lines = false, info = false, append = false;
    const Cell* part = nullptr;
    const Cell* seek = nullptr;
    const Cell* allow = nullptr;
    const Cell* as = nullptr;
};
struct MoldFlags {
    bool only = false, all = false, flat = false;
};
// One step of a path on a value (eval-path slot).
struct PathStep {
    const Cell* element;        // the path item applied to the parent
    const Cell* value_to_set;   // set-path's value on the last step, else nullptr
    const Cell* path;           // the whole path, nullptr when there is none
    const Cell* grandparent;    // nullptr when there is none
    const Cell* previous;       // the previous element, nullptr on the first step
    int32_t step;               // 0-based step index
    bool case_, get, last, owner_notify;
};

// X(slot, name, word, result, parameters)
#define ZAN_ACTION_LIST(X)                                                                      \
    X(1, make, "make", void, (Args args, Type type))                                          \
    X(2, random, "random", void, (Args args, bool seed, bool secure, bool only))               \
    X(3, reflect, "reflect", void, (Args args, uint32_t field_symbol))                          \
    X(4, to, "to", void, (Args args, Type type))                                              \
    X(5, form, "form", int32_t, (const Cell& value, Node buffer, bool part, int32_t budget))    \
    X(6, mold, "mold", int32_t,                                                                 \
      (const Cell& value, Node buffer, MoldFlags flags, bool part, int32_t budget,              \
       int32_t indent))                                                                         \
    X(7, eval_path, "eval-path", void, (Cell & result, const Cell& parent, const PathStep& s))  \
    X(8, set_path, "set-path", void, (Args args))                                             \
    X(9, compare, "compare", int32_t, (const Cell& a, const Cell& b, int32_t op))              \
    X(10, absolute, "absolute", void, (Args args))                                            \
    X(11, add, "add", void, (Args args))                                                      \
    X(12, divide, "divide", void, (Args args))                                                \
    X(13, multiply, "multiply", void, (Args args))                                            \
    X(14, negate, "negate", void, (Args args))                                                \
    X(15, power, "power", void, (Args args))                                                  \
    X(16, remainder, "remainder", void, (Args args))                                          \
    X(17, round, "round", void, (Args args, const RoundRefs& r))                              \
    X(18, subtract, "subtract", void, (Args args))                                            \
    X(19, even_q, "even?", bool, (const Cell& value))                                         \
    X(20, odd_q, "odd?", bool, (const Cell& value))                                           \
    X(21, and_t, "and~", void, (Args args))                                                   \
    X(22, complement, "complement", void, (Args args))                                        \
    X(23, or_t, "or~", void, (Args args))                                                     \
    X(24, xor_t, "xor~", void, (Args args))                                                   \
    X(25, append, "append", void, (Args args, const Cell* part, bool only, const Cell* dup))  \
    X(26, at, "at", void, (Args args))                                                        \
    X(27, back, "back", void, (Args args))                                                    \
    X(28, change, "change", void, (Args args, const Cell* part, bool only, const Cell* dup))  \
    X(29, clear, "clear", void, (Args args))                                                  \
    X(30, copy, "copy", void, (Args args, const Cell* part, bool deep, const Cell* types))    \
    X(31, find, "find", void, (Args args, const FindRefs& r))                                 \
    X(32, head, "head", void, (Args args))                                                    \
    X(33, head_q, "head?", void, (Args args))                                                 \
    X(34, index_q, "index?", void, (Args args))                                               \
    X(35, insert, "insert", void, (Args args, const Cell* part, bool only, const Cell* dup))  \
    X(36, length_q, "length?", int32_t, (const Cell& value))                                  \
    X(37, move, "move", void, (Args args, const Cell* part))                                  \
    X(38, next, "next", void, (Args args))                                                    \
    X(39, pick, "pick", void, (Args args, int32_t index))                                     \
    X(40, poke, "poke", void, (Args args, int32_t index))                                     \
    X(41, put, "put", void, (Args args, bool case_))                                          \
    X(42, remove, "remove", void, (Args args, const Cell* part, const Cell* key))            \
    X(43, reverse, "reverse", void, (Args args, const Cell* part, const Cell* skip))         \
    X(44, select, "select", void, (Args args, const FindRefs& r))                             \
    X(45, sort, "sort", void, (Args args, const SortRefs& r))                                 \
    X(46, skip, "skip", void, (Args args))                                                    \
    X(47, swap, "swap", void, (Args args))                                                    \
    X(48, tail, "tail", void, (Args args))                                                    \
    X(49, tail_q, "tail?", void, (Args args))                                                 \
    X(50, take, "take", void, (Args args, const Cell* part, bool deep, bool last))           \
    X(51, trim, "trim", void, (Args args, const TrimRefs& r))                                 \
    X(52, create, "create", void, (Args args))                                                \
    X(53, close, "close", void, (Args args))                                                  \
    X(54, delete_, "delete", void, (Args args))                                               \
    X(55, modify, "modify", void, (Args args, bool case_))                                    \
    X(56, open, "open", void, (Args args, const OpenRefs& r))                                 \
    X(57, open_q, "open?", void, (Args args))                                                 \
    X(58, query, "query", void, (Args args))                                                  \
    X(59, read, "read", void, (Args args, const ReadRefs& r))                                 \
    X(60, rename, "rename", void, (Args args))                                                \
    X(61, update, "update", void, (Args args))                                                \
    X(62, write, "write", void, (Args args, const WriteRefs& r))

enum class Slot : uint8_t {
#define ZAN_SLOT_ENUM(n, name, word, result, params) name = n,
    ZAN_ACTION_LIST(ZAN_SLOT_ENUM)
#undef ZAN_SLOT_ENUM
};
constexpr int slot_count = 62;

// One typedef per slot: Fn_make, Fn_random, ...
#define ZAN_SLOT_TYPE(n, name, word, result, params) using Fn_##name = result(*) params;
ZAN_ACTION_LIST(ZAN_SLOT_TYPE)
#undef ZAN_SLOT_TYPE

// A slot value in a register list: a routine, inherit the parent's, or unsupported.
template <typename Fn>
struct SlotValue {
    enum Kind : int8_t { unsupported = 0, inherit = -1, own = 1 } kind = unsupported;
    Fn fn = nullptr;
    SlotValue() = default;
    SlotValue(Fn f) : kind(f ? own : unsupported), fn(f) {}
    static SlotValue inherited() {
        SlotValue v;
        v.kind = inherit;
        return v;
    }
};

// A datatype's row: one member per slot, named after the action.
struct Row {
#define ZAN_ROW_MEMBER(n, name, word, result, params) SlotValue<Fn_##name> name;
    ZAN_ACTION_LIST(ZAN_ROW_MEMBER)
#undef ZAN_ROW_MEMBER
};

// Marks the given slots as taken from the parent type.
void inherit(Row& row, std::initializer_list<Slot> slots);
// Marks the slots that every series type takes from its parent unchanged:
// moving through the series and editing it in place.
void inherit_series_slots(Row& row);

// The word of a slot ("make", "even?", ...); slot is 1-based.
const char* slot_word(int slot);

}  // namespace zan::actions
