// The collector: stop the world, mark, sweep, slide.
//
// What is a root: everything a registered marker marks (the subsystems that
// hold values register one each: the root block, symbol table, owner table,
// value and call-frame stacks, global context, lexer), every pinned buffer,
// and every Root and NodeRoot guard alive on the native stack. Nothing else:
// there are no stack maps, so a C++ local holding a cell or a handle across an
// allocation must be guarded.
//
// When buffers move: only inside a cycle, and a cycle runs only inside an
// allocation (no room, a big series, or ZAN_GC_STRESS) or on recycle. Buffers
// of series frames slide down, within their frame or into the free tail of the
// frame below; big-frame and C-heap buffers and pinned ones stay put.
//
// Marking never recurses: marking a series pushes its node on the mark stack
// and the loop in drain() scans its cells later, so nesting depth costs heap,
// not native stack.
#include "runtime/collector.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/externals.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zan::collector {

void mark_guards();

namespace {

using memory::Series;
namespace flag = memory::flag;

constexpr uint32_t history_depth = 5;
constexpr uint32_t event_by_script = 0x1000;

enum class Work : uint8_t { cells, context };
struct Item {
    Node node;
    Work work;
};

struct State {
    bool enabled = false;
    bool collecting = false;
    bool evacuation = false;
    bool node_compaction_allowed = true;
    uint32_t cycles = 0;
    uint32_t node_cycles = 0;
    std::vector<Marker> markers;
    std::vector<Item> stack;
    ContextMarker context_marker = nullptr;
    Marker owner_sweep = nullptr;
    Marker relocation_hook = nullptr;
    Root* roots = nullptr;
    NodeRoot* node_roots = nullptr;
};
constinit State g;

// --- standard cell markers ---------------------------------------------------------

void mark_block_cell(Cell& c) {
    if (c.w2) mark_series(c.w2);
}

// A hash! keeps its index table in w3.
void mark_hash_cell(Cell& c) {
    if (c.w2) mark_series(c.w2);
    if (c.w3) hashtable::mark(c.w3);
}

void mark_string_cell(Cell& c) {
    if (c.w2) mark_node(c.w2);
    if (c.w3) mark_node(c.w3);
}

void mark_buffer_cell(Cell& c) {
    if (c.w2) mark_node(c.w2);
}

void mark_word_cell(Cell& c) {
    if (c.w1) mark_context(c.w1);
}

void mark_handle_cell(Cell& c) {
    if (int32_t(c.w3) >= 0) externals::mark(int32_t(c.w3));
}

void mark_event_cell(Cell& c) {
    if ((c.header & event_by_script) && c.w2) mark_series(c.w2);
}

constexpr std::array<CellMarker, 256> standard_markers() {
    std::array<CellMarker, 256> t{};
    for (Type ty : {Type::block, Type::paren, Type::path, Type::lit_path, Type::set_path, Type::get_path})
        t[size_t(ty)] = mark_block_cell;
    t[size_t(Type::hash)] = mark_hash_cell;
    t[size_t(Type::map)] = mark_hash_cell;
    for (Type ty : {Type::string, Type::file, Type::url, Type::tag, Type::email, Type::ref})
        t[size_t(ty)] = mark_string_cell;
    for (Type ty : {Type::bitset, Type::vector, Type::binary}) t[size_t(ty)] = mark_buffer_cell;
    for (Type ty : {Type::word, Type::set_word, Type::lit_word, Type::get_word, Type::refinement})
        t[size_t(ty)] = mark_word_cell;
    t[size_t(Type::handle)] = mark_handle_cell;
    t[size_t(Type::event)] = mark_event_cell;
    return t;
}
constinit std::array<CellMarker, 256> cell_markers = standard_markers();

// --- the mark loop --------------------------------------------------------------------

void scan_cells(Node n) {
    Series* s = memory::buffer(n);
    Cell* c = s->cells();
    Cell* end = reinterpret_cast<Cell*>(s->at_tail());
    for (; c < end; ++c) mark_cell(*c);
}

void drain() {
    while (!g.stack.empty()) {
        Item it = g.stack.back();
        g.stack.pop_back();
        if (it.work == Work::cells)
            scan_cells(it.node);
        else if (g.context_marker)
            g.context_marker(it.node);
    }
}

void mark_pinned(Node& n) { mark_series(n); }

void mark_roots() {
    // Markers may unregister (zero) themselves or register more while marking.
    for (size_t i = 0; i < g.markers.size(); ++i) {
        if (g.markers[i]) g.markers[i]();
        drain();
    }
    memory::for_each_pin(mark_pinned);
    drain();
    mark_guards();
    drain();
}

[[maybe_unused]] void check_heap() {
    if (const char* why = memory::verify_heap()) {
        std::fprintf(stderr, "heap check failed after collection %u: %s\n", g.cycles, why);
        std::abort();
    }
}

}  // namespace

void mark_guards() {
    for (Root* r = g.roots; r; r = r->next_) mark_cell(*r->cell_);
    for (NodeRoot* r = g.node_roots; r; r = r->next_) {
        if (!*r->node_) continue;
        switch (r->as_) {
            case NodeRoot::As::series: mark_series(*r->node_); break;
            case NodeRoot::As::buffer: mark_node(*r->node_); break;
            case NodeRoot::As::context: mark_context(*r->node_); break;
        }
    }
}

// --- marking ---------------------------------------------------------------------------

bool mark_node(Node& n) {
    if (n == 0) return false;
    if (memory::relocating()) n = memory::relocated(n);
#ifdef ZAN_DEBUG
    if (!memory::node_in_use(n)) {
        std::fprintf(stderr, "collector: marking node %u, which is not in use\n", n);
        std::abort();
    }
#endif
    Series* s = memory::buffer(n);
    if (!s || (s->flags & flag::mark)) return false;
    s->flags |= flag::mark;
    return true;
}

bool mark_series(Node& n) {
    if (!mark_node(n)) return false;
    if (memory::buffer(n)->unit() == 16) g.stack.push_back(Item{n, Work::cells});
    return true;
}

bool mark_context(Node& n) {
    if (!mark_node(n)) return false;
    g.stack.push_back(Item{n, Work::context});
    return true;
}

void mark_cell(Cell& c) {
    if (CellMarker m = cell_markers[type_id(c)]) m(c);
}

void mark_cells(Cell* begin, Cell* end) {
    for (; begin < end; ++begin) mark_cell(*begin);
}

bool marked(Node n) {
    if (n == 0) return false;
    Series* s = memory::buffer(memory::relocated(n));
    return s && (s->flags & flag::mark);
}

void set_cell_marker(Type t, CellMarker m) { cell_markers[size_t(t)] = m; }
CellMarker cell_marker(Type t) { return cell_markers[size_t(t)]; }
void set_context_marker(ContextMarker m) { g.context_marker = m; }
ContextMarker context_marker() { return g.context_marker; }
void set_owner_sweep(Marker m) { g.owner_sweep = m; }
void set_relocation_hook(Marker m) { g.relocation_hook = m; }
Node relocated(Node n) { return memory::relocated(n); }

// A slot left by an unregistered marker is taken again, so code that comes
// and goes does not grow the table.
void register_marker(Marker m) {
    for (Marker& e : g.markers) {
        if (!e) {
            e = m;
            return;
        }
    }
    g.markers.push_back(m);
}

void unregister_marker(Marker m) {
    for (Marker& e : g.markers) {
        if (e == m) {
            e = nullptr;
            return;
        }
    }
}

// --- the cycle ---------------------------------------------------------------------------

void collect() {
    if (g.enabled) do_cycle();
}

void do_cycle() {
    if (g.collecting) return;
    memory::init();
    g.collecting = true;
    memory::note_moves();
    if (g.evacuation && g.node_compaction_allowed && memory::evacuate_node_frames(history_depth))
        ++g.node_cycles;
    mark_roots();
    if (memory::relocating() && g.relocation_hook) g.relocation_hook();
    externals::sweep();
    if (g.owner_sweep) g.owner_sweep();
    memory::compact_series_frames();
    memory::sweep_big_frames();
    memory::sweep_c_heap_series();
    memory::flush_free_nodes();
    memory::sweep_node_frames();
    memory::drop_relocations();
    ++g.cycles;
    memory::note_moves();
    g.collecting = false;
#ifdef ZAN_DEBUG
    check_heap();
#endif
}

bool collecting() { return g.collecting; }
void set_enabled(bool on) { g.enabled = on; }
bool enabled() { return g.enabled; }
uint32_t cycles() { return g.cycles; }
uint32_t node_cycles() { return g.node_cycles; }
void set_node_evacuation(bool on) { g.evacuation = on; }
void set_node_compaction_allowed(bool allowed) { g.node_compaction_allowed = allowed; }

// --- guards ------------------------------------------------------------------------------

Root::Root(Cell& c) : cell_(&c), prev_(nullptr), next_(g.roots) {
    if (g.roots) g.roots->prev_ = this;
    g.roots = this;
}

Root::~Root() {
    (prev_ ? prev_->next_ : g.roots) = next_;
    if (next_) next_->prev_ = prev_;
}

NodeRoot::NodeRoot(Node& n, As as) : node_(&n), as_(as), prev_(nullptr), next_(g.node_roots) {
    if (g.node_roots) g.node_roots->prev_ = this;
    g.node_roots = this;
}

NodeRoot::~NodeRoot() {
    (prev_ ? prev_->next_ : g.node_roots) = next_;
    if (next_) next_->prev_ = prev_;
}

}  // namespace zan::collector
