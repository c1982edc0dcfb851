// Stand-ins for subsystems not merged yet, so the hash table's tests build:
// a heap without collection, no-op marking, ASCII case mapping. Each part
// disappears by itself once the real source file is in the tree.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/datatype.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

#if !__has_include("runtime/memory.cpp")
namespace zan::memory {
namespace {
std::vector<Series*>& nodes() {
    static std::vector<Series*> v{nullptr};
    return v;
}
Series* raw(uint64_t capacity) {
    capacity = (capacity + 15) & ~uint64_t(15);
    auto* s = static_cast<Series*>(std::calloc(1, sizeof(Series) + capacity));
    s->capacity = uint32_t(capacity);
    return s;
}
}  // namespace
Series* buffer(Node n) { return nodes()[n]; }
Node alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    uint64_t bytes = std::max<uint64_t>(uint64_t(count) * unit, 16);
    uint32_t off = offset < 0 ? uint32_t(bytes / 2) : uint32_t(offset);
    Series* s = raw(bytes + off);
    s->flags = unit | flag::in_use | flag::allocated;
    s->head = s->tail = off;
    nodes().push_back(s);
    s->node = Node(nodes().size() - 1);
    return s->node;
}
Node alloc_cells(uint32_t count) { return alloc_series(count, 16); }
Node alloc_bytes(uint32_t count) { return alloc_series(count, 1); }
Series* expand_series_copy(Node n, uint64_t new_size) {
    Series* old = nodes()[n];
    if (new_size == 0) new_size = uint64_t(old->capacity) * 2;
    Series* s = raw(new_size);
    s->flags = old->flags;
    s->node = n;
    s->head = 0;
    s->tail = old->tail - old->head;
    std::memcpy(s->data(), old->at_head(), std::min<uint64_t>(old->capacity - old->head, new_size));
    nodes()[n] = s;
    std::free(old);
    return s;
}
Node copy_series(Node n) {
    Series* old = nodes()[n];
    Series* s = raw(old->capacity);
    std::memcpy(s, old, sizeof(Series) + old->capacity);
    nodes().push_back(s);
    s->node = Node(nodes().size() - 1);
    return s->node;
}
void* allocate(size_t size) { return std::malloc(size); }
void* allocate_zeroed(size_t size) { return std::calloc(1, size); }
void free(void* p) { std::free(p); }
}  // namespace zan::memory
#endif

#if !__has_include("runtime/collector.cpp")
namespace zan::collector {
bool collecting() { return false; }
void mark_node(Node& n) { memory::buffer(n)->flags |= memory::flag::mark; }
void mark_series(Node& n) { mark_node(n); }
void mark_cells(const Cell*, const Cell*) {}
void register_marker(Marker) {}
void set_cell_marker(Type, CellMarker) {}
Root::Root(Cell& c) : cell_(&c) {}
Root::~Root() {}
NodeRoot::NodeRoot(Node& n) : node_(&n) {}
NodeRoot::~NodeRoot() {}
}  // namespace zan::collector
#endif

#if !__has_include("datatypes/datatype.cpp")
namespace zan::datatype {
void register_type(Type, Type, const char*, const actions::Row&, int) {}
}  // namespace zan::datatype
#endif

#if !__has_include("runtime/unicode.cpp")
namespace zan::unicode {
uint32_t case_fold(uint32_t cp, bool upper) {
    if (upper && cp >= 'a' && cp <= 'z') return cp - 32;
    if (!upper && cp >= 'A' && cp <= 'Z') return cp + 32;
    return cp;
}
}  // namespace zan::unicode
#endif
