// The collector: stop-the-world mark, sweep and sliding compaction.
//
// Roots are precise: whatever the registered markers mark, the pinned buffers
// and the RAII root guards below. Every subsystem that holds values registers a
// marker: the root block, the symbol table, the owner table, the value and
// call-frame stacks (their nodes and the cells in use), the global context, the
// buffer kept by take, the interpreter's root cell, the lexer's and the parse
// engine's states, the GUI's cell table. A collection runs only inside an
// allocation that finds no room (or on recycle); every series buffer in a
// series frame may then move.
//
// Markers, cell markers, the context marker and the sweep hooks run inside the
// cycle: they must not allocate, raise or run script code.
//
// Collection starts disabled: start-up enables it once its roots are in place.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zan::collector {

void collect();          // one cycle, unless collection is disabled or running
void do_cycle();         // one cycle even when disabled (recycle); not while running
bool collecting();
void set_enabled(bool);  // recycle/on, recycle/off
bool enabled();

// Cycles run, and cycles that evacuated a node frame (hash tables keyed by
// node identity rebuild when the latter changes).
uint32_t cycles();
uint32_t node_cycles();

// Node-frame evacuation: off unless switched on. Evacuation gives moved nodes
// new handles, so it needs every holder of a handle to be reached by marking
// (or to relocate through relocated()). Separately, node compaction may be
// held off for a while (a hash table being resized).
void set_node_evacuation(bool on);
void set_node_compaction_allowed(bool allowed);

// Marking, for markers and the per-type marking table. A marker only marks and
// pushes work; the collector drains the work with its own stack, never by
// recursion. Each answers true when the node was newly marked, and rewrites
// the handle it is given when its node moved.
bool mark_node(Node& n);     // the buffer only
bool mark_series(Node& n);   // the buffer and, for units of 16, its cells head to tail
bool mark_context(Node& n);  // the buffer, then the context marker on it
void mark_cell(Cell& c);
void mark_cells(Cell* begin, Cell* end);

// Whether a node's buffer is marked: for the sweeps between marking and
// compaction (the owner table drops its dead records with it).
bool marked(Node n);

using Marker = void (*)();
void register_marker(Marker m);
void unregister_marker(Marker m);

// Per-type cell marking, filled as datatypes register. The standard entries
// cover what cell.h lays down: series of cells (block and path family, hash!,
// map!), byte series with an extra node in w3 (string family), plain buffers
// (bitset!, vector!, binary!), bound words through mark_context, handle!
// through the externals table, event! made by script.
using CellMarker = void (*)(Cell& c);
void set_cell_marker(Type t, CellMarker m);
CellMarker cell_marker(Type t);

// What mark_context does with a newly marked context node (its word table,
// values and owner cells); installed by the context! datatype.
using ContextMarker = void (*)(Node n);
void set_context_marker(ContextMarker m);
ContextMarker context_marker();

// Hooks of the sweeps: the owner table's sweep of dead records runs after the
// externals sweep; the relocation hook runs after marking in a cycle that
// evacuated node frames, for holders of handles that marking does not reach
// (they call relocated()).
void set_owner_sweep(Marker m);
void set_relocation_hook(Marker m);
Node relocated(Node n);

// Keeps C++ locals alive and up to date across collections.
class Root {
public:
    explicit Root(Cell& c);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

private:
    friend void mark_guards();
    Cell* cell_;
    Root* prev_;
    Root* next_;
};

class NodeRoot {
public:
    enum class As : uint8_t { series, buffer, context };
    // series: the buffer and its cells when its unit is 16.
    explicit NodeRoot(Node& n, As as = As::series);
    ~NodeRoot();
    NodeRoot(const NodeRoot&) = delete;
    NodeRoot& operator=(const NodeRoot&) = delete;

private:
    friend void mark_guards();
    Node* node_;
    As as_;
    NodeRoot* prev_;
    NodeRoot* next_;
};

}  // namespace zan::collector
