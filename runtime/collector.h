// The collector: stop-the-world mark, sweep and sliding compaction.
//
// Roots are precise: the root block, the symbol and owner tables, the value and
// call-frame stacks, the global context, registered markers and the RAII root
// guards below. A collection runs only inside an allocation that finds no room
// (or on recycle); every series buffer in a series frame may then move.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zan::collector {

void collect();          // one cycle, unless collection is disabled
bool collecting();
void set_enabled(bool);  // recycle/on, recycle/off
bool enabled();

// Marking, for markers and the per-type marking table.
void mark_cell(const Cell& c);
void mark_cells(const Cell* begin, const Cell* end);
void mark_node(Node& n);     // the buffer only; rewrites n if its node moved
void mark_series(Node& n);   // the buffer and, for units of 16, its cells
void mark_context(Node& n);

using Marker = void (*)();
void register_marker(Marker m);
void unregister_marker(Marker m);

// Per-type cell marking, filled as datatypes register.
using CellMarker = void (*)(Cell& c);
void set_cell_marker(Type t, CellMarker m);

// Keeps C++ locals alive and up to date across collections.
class Root {
public:
    explicit Root(Cell& c);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

private:
    Cell* cell_;
};
class NodeRoot {
public:
    explicit NodeRoot(Node& n);
    ~NodeRoot();
    NodeRoot(const NodeRoot&) = delete;
    NodeRoot& operator=(const NodeRoot&) = delete;

private:
    Node* node_;
};

}  // namespace zan::collector
