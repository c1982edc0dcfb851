// Stand-in for the memory manager and the collector's root guards, for as long
// as their real sources are not in the tree: plain heap buffers behind a node
// table, never moved except by expansion, never collected. It compiles to
// nothing once runtime/memory.cpp (resp. runtime/collector.cpp) exists.
// Delete this file when both have landed.
#if !__has_include("runtime/memory.cpp")

#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/memory.h"

namespace zan::memory {

namespace {
std::vector<Series*>& nodes() {
    static std::vector<Series*> table(1, nullptr);
    return table;
}

Series* new_buffer(uint32_t bytes, uint32_t unit) {
    uint32_t cap = (bytes + 15) & ~15u;
    if (cap == 0) cap = 16;
    auto* s = static_cast<Series*>(std::calloc(1, sizeof(Series) + cap));
    if (!s) std::abort();
    s->flags = unit | flag::in_use | flag::allocated;
    s->capacity = cap;
    return s;
}
}  // namespace

Series* buffer(Node n) { return nodes()[n]; }

Node alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    Series* s = new_buffer(count * unit, unit);
    if (offset == -1) offset = int32_t(s->capacity / 2);
    s->head = s->tail = uint32_t(offset);
    nodes().push_back(s);
    s->node = Node(nodes().size() - 1);
    return s->node;
}
Node alloc_bytes(uint32_t count) { return alloc_series(count ? count : 16, 1); }
Node alloc_series_unit(uint32_t count, uint32_t unit) {
    return alloc_series(count ? count : 16 >> (unit >> 1), unit);
}

Series* expand_series(Node n, uint64_t new_size) {
    Series* old = buffer(n);
    if (new_size == 0) new_size = uint64_t(old->capacity) * 2;
    Series* s = new_buffer(uint32_t(new_size), old->unit());
    s->flags = old->flags;
    s->node = n;
    s->tail = old->tail - old->head;
    nodes()[n] = s;
    std::free(old);
    return s;
}

Series* expand_series_copy(Node n, uint64_t new_size) {
    Series* old = buffer(n);
    uint32_t used = old->capacity - old->head;
    std::vector<std::byte> keep(old->data() + old->head, old->data() + old->capacity);
    Series* s = expand_series(n, new_size);
    std::memcpy(s->data(), keep.data(), used < s->capacity ? used : s->capacity);
    return s;
}

void* allocate(size_t size) { return std::malloc(size); }
void* allocate_zeroed(size_t size) { return std::calloc(1, size); }
void* reallocate(void* p, size_t size) { return std::realloc(p, size); }
void free(void* p) { std::free(p); }

}  // namespace zan::memory

#endif

#if !__has_include("runtime/collector.cpp")

#include "runtime/collector.h"

namespace zan::collector {
Root::Root(Cell& c) : cell_(&c) {}
Root::~Root() = default;
NodeRoot::NodeRoot(Node& n) : node_(&n) {}
NodeRoot::~NodeRoot() = default;
void set_cell_marker(Type, CellMarker) {}
}  // namespace zan::collector

#endif
