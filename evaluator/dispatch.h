// Action dispatch: the 62 entry routines that action! values run, the typed
// callers runtime code uses, and compare* with its codes.
//
// An action's routine for a value is found in two array reads: the type's row
// of the action table, then the slot. A port! whose actor is a native table
// answers actions 25 and up itself.
//
// Entry convention: the operands lie on the value stack from the argument base
// in spec order; refinements come as one integer each, -1 when absent, else
// the slot index of the refinement's first argument relative to the base. The
// entry converts them into the typed parameters of datatypes/actions.h (a flag,
// or the address of the argument cell) and leaves the result in the result slot.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "datatypes/datatype.h"

namespace zan::dispatch {

using Entry = void (*)(const int32_t* refinements);

// Slot k (1-62) of the action entry table; slot 8 is null.
Entry entry(int slot);
// Number of refinements of each action, in spec order.
int refinement_count(int slot);

void init();

// A port actor that is a native table answers the routines of actions 25-62;
// the port! datatype installs the finder (null table: not such a port).
using PortTable = void* const* (*)(const Cell& port);
void set_port_table(PortTable fn);

// Slot number to row member and routine type.
template <int N>
struct Slot;
#define ZAN_SLOT_TRAITS(n, name, word, result, params)                           \
    template <>                                                                 \
    struct Slot<n> {                                                            \
        using Fn = actions::Fn_##name;                                          \
        static Fn of(const actions::Row& r) { return r.name.fn; }               \
    };
ZAN_ACTION_LIST(ZAN_SLOT_TRAITS)
#undef ZAN_SLOT_TRAITS

[[noreturn]] void unsupported(const Cell& value);
void* port_routine(const Cell& port, int slot);

// The routine of a slot for a value: the port rule, then the type's row. A
// null routine raises expect-arg (calling word, datatype, first argument).
template <int N>
typename Slot<N>::Fn get_action(const Cell& value) {
    if constexpr (N >= 25) {
        if (is(value, Type::port)) [[unlikely]] {
            if (void* p = port_routine(value, N)) return reinterpret_cast<typename Slot<N>::Fn>(p);
        }
    }
    auto fn = Slot<N>::of(datatype::row(type_of(value)));
    if (!fn) [[unlikely]] unsupported(value);
    return fn;
}

// The eval-path routine for a path step; a type without one raises
// bad-path-type2 (no path) or bad-path-type.
actions::Fn_eval_path get_path_action(const Cell& value, const Cell* path, const Cell& item,
                                      int32_t item_index);

// --- typed callers ----------------------------------------------------------------
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
void find(actions::Args args, const actions::FindRefs& r);
void pick(actions::Args args);
void poke(actions::Args args);
void copy(actions::Args args, const Cell* part, bool deep, const Cell* types);
void open(actions::Args args, const actions::OpenRefs& r);
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& step);

// The index an index cell stands for in pick and poke: an integer's value, a
// character's code point, true 1 and false 2, anything else 0.
int32_t index_of(const Cell& index);

// Compare codes of the compare slot, and the answer as a truth: equality
// kinds (0, 2, 9-12) when the routine answers 0, and so on. An ordering code
// on values that cannot be ordered raises invalid-compare.
namespace code {
constexpr int32_t equal = 0, not_equal = 1, strict_equal = 2, lesser = 3, lesser_or_equal = 4,
                  greater = 5, greater_or_equal = 6, sort = 7, case_sort = 8, same = 9,
                  find = 12;
}
bool compare(const Cell& a, const Cell& b, int32_t code);

}  // namespace zan::dispatch
