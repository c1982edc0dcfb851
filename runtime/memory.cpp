// The memory manager: node frames, series frames, big frames, C-heap series.
//
// Node frames hold 10,000 slots each and sit in a directory, so a handle is
// an index that survives other frames being freed. A slot in use holds its
// buffer's address (16-byte aligned, so even); a free slot holds
// (next free slot + 1) << 1 | 1, so a free slot is always odd.
//
// Series frames are bump-allocated and kept in address order, so compaction
// can slide buffers down within a frame and into the free tail of the frame
// below. Buffers are laid end to end: header, then capacity bytes of data; a
// buffer that lost its node (expanded away) or was never marked is garbage.
// Buffers of 2 MB and more get a big frame each, which never moves.
#include "runtime/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"

namespace zan::memory {

uintptr_t** detail::node_slots = nullptr;
uint32_t detail::moves = 0;

namespace {

constexpr size_t page_size = 4096;

struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t count;      // slots
    uint32_t free_head;  // first free slot + 1; 0 when none
    uint32_t used;
    uint32_t birth_cycle;
    uint32_t last_used;  // used count seen by the previous sweep
    uint32_t history;    // one bit a sweep: 1 when the used count did not change
    uint32_t release;    // emptied by evacuation: the next sweep frees it
    uint32_t index;      // in the directory
    uint32_t received;   // took nodes in this cycle's evacuation: not evacuated itself
    uintptr_t slots[node_frame_nodes];
};

struct SeriesFrame {
    SeriesFrame* next;  // in address order
    SeriesFrame* prev;
    uint64_t size;  // bytes mapped
    std::byte* heap;
    std::byte* end;
    uint64_t spare;
    std::byte* start() { return reinterpret_cast<std::byte*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) % 16 == 0);

struct BigFrame {
    BigFrame* next;
    uint64_t size;  // bytes mapped
    Series* series() { return reinterpret_cast<Series*>(this + 1); }
};
static_assert(sizeof(BigFrame) % 16 == 0);

// C-heap series are linked so the collector can sweep them.
struct HeapLink {
    HeapLink* next;
    HeapLink* prev;
    Series* series() { return reinterpret_cast<Series*>(this + 1); }
};
static_assert(sizeof(HeapLink) % 16 == 0);

struct State {
    bool ready = false;
    uint64_t total = 0;

    NodeFrame** directory = nullptr;
    uint32_t directory_size = 0;
    NodeFrame* first_node_frame = nullptr;
    NodeFrame* last_node_frame = nullptr;
    NodeFrame* current_node_frame = nullptr;

    SeriesFrame* first_frame = nullptr;
    SeriesFrame* last_frame = nullptr;
    SeriesFrame* current_frame = nullptr;
    uint32_t next_frame_size = series_frame_size;

    BigFrame* first_big = nullptr;
    // Bytes of series and big frames, now and when the last collection ended.
    uint64_t frame_bytes = 0;
    uint64_t frame_bytes_after_collection = 0;
    HeapLink heap_series{&heap_series, &heap_series};

    std::vector<Node> free_queue;
    // flush_free_nodes' work space: a bit per node slot, and the frames marked.
    std::vector<uint64_t> free_bits;
    std::vector<uint32_t> free_frames;
    std::vector<uint8_t> free_frame_marked;
    std::unordered_map<Node, Node>* relocations = nullptr;  // old -> new, made on first use
    bool relocating = false;

    uint32_t stress = 0;   // every stress-th allocation collects
    uint32_t allocations = 0;

    Pin* pins = nullptr;
};
constinit State m;

// --- the C heap ---------------------------------------------------------------

// Blocks carry a 16-byte header with their size; the set tells ours from others.
struct BlockHeader {
    uint64_t size;
    uint64_t spare;
};
std::unordered_set<void*>& blocks() {
    static auto* set = new std::unordered_set<void*>;
    return *set;
}

// --- pages --------------------------------------------------------------------

// Fresh pages cost a fault each on first touch, and faults are dear. Start-up
// takes its frames from one arena advised for huge pages, so that the heap the
// boot image decodes into comes in a few faults; frames a collection frees are
// kept (up to a bound) for the next frame of the same size instead of going
// back to the system and being faulted in again.
constexpr uint64_t huge_page = 2u << 20;
constexpr uint64_t arena_size = 4u << 20;
constexpr int cache_slots = 8;
constexpr uint64_t cache_limit = 16u << 20;

struct Pages {
    std::byte* arena = nullptr;  // next free byte of the start-up arena
    std::byte* arena_end = nullptr;
    struct Kept {
        void* at;
        uint64_t size;
    } kept[cache_slots] = {};
    uint64_t kept_bytes = 0;
};
constinit Pages pages;

uint64_t page_rounded(uint64_t size) { return (size + page_size - 1) & ~uint64_t(page_size - 1); }

// size bytes starting on a huge-page boundary, the whole huge pages inside
// advised as such; null when the system refuses.
std::byte* map_huge(uint64_t size) {
    void* p = mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    auto start = reinterpret_cast<uintptr_t>(p);
    uintptr_t aligned = (start + huge_page - 1) & ~uintptr_t(huge_page - 1);
    if (aligned > start) munmap(p, aligned - start);
    uintptr_t slack_end = start + size + huge_page;
    if (slack_end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), slack_end - aligned - size);
    madvise(reinterpret_cast<void*>(aligned), size & ~(huge_page - 1), MADV_HUGEPAGE);
    return reinterpret_cast<std::byte*>(aligned);
}

void make_arena() {
    pages.arena = map_huge(arena_size);
    if (pages.arena) pages.arena_end = pages.arena + arena_size;  // else frames come from mmap one by one
}

// A refused mapping raises the no-memory error. Nothing is held across the
// call, so the heap is consistent when the error is built; raising it must not
// need fresh pages itself (the error raiser keeps that error ready). Pages
// taken from the kept frames hold old bytes unless zeroed is asked.
void* alloc_pages(uint64_t size, bool zeroed = false) {
    size = page_rounded(size);
    for (auto& k : pages.kept) {
        if (k.size != size) continue;
        void* p = k.at;
        k = {};
        pages.kept_bytes -= size;
        m.total += size;
        if (zeroed) std::memset(p, 0, size);
        return p;
    }
    void* p;
    if (uint64_t(pages.arena_end - pages.arena) >= size) {
        p = pages.arena;
        pages.arena += size;
    } else {
        // Full frames and big buffers fill their pages: huge ones fault in once.
        p = size >= huge_page ? map_huge(size) : nullptr;
        if (!p) p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) errors::fire(errors::id::no_memory);
    }
    m.total += size;
    return p;
}

// Runs inside collections, which must not unwind: a refused release only
// leaves the pages mapped.
void free_pages(void* p, uint64_t size) {
    size = page_rounded(size);
    m.total -= size;
    if (pages.kept_bytes + size <= cache_limit) {
        for (auto& k : pages.kept) {
            if (k.at) continue;
            k = {p, size};
            pages.kept_bytes += size;
            return;
        }
    }
    munmap(p, size);
}

// --- node frames --------------------------------------------------------------

NodeFrame* make_node_frame() {
    uint32_t index = 0;
    while (index < m.directory_size && m.directory[index]) ++index;
    // Every handle must fit in 32 bits.
    if (index > (UINT32_MAX >> node_handle_shift) - 1) errors::fire(errors::id::no_memory);
    if (index == m.directory_size) {
        uint32_t size = m.directory_size ? m.directory_size * 2 : 16;
        m.directory = static_cast<NodeFrame**>(reallocate(m.directory, size * sizeof(NodeFrame*)));
        detail::node_slots =
            static_cast<uintptr_t**>(reallocate(detail::node_slots, size * sizeof(uintptr_t*)));
        for (uint32_t i = m.directory_size; i < size; ++i) {
            m.directory[i] = nullptr;
            detail::node_slots[i] = nullptr;
        }
        m.directory_size = size;
    }
    auto* f = static_cast<NodeFrame*>(alloc_pages(sizeof(NodeFrame)));
    f->count = node_frame_nodes;
    for (uint32_t i = 0; i < node_frame_nodes; ++i)
        f->slots[i] = i + 1 < node_frame_nodes ? (uintptr_t(i + 2) << 1) | 1 : 1;
    f->free_head = 1;
    f->used = 0;
    f->birth_cycle = 0;
    f->last_used = 0;
    f->history = 0;
    f->release = 0;
    f->index = index;
    f->received = 0;
    m.directory[index] = f;
    detail::node_slots[index] = f->slots;
    f->next = nullptr;
    f->prev = m.last_node_frame;
    if (m.last_node_frame)
        m.last_node_frame->next = f;
    else
        m.first_node_frame = f;
    m.last_node_frame = f;
    return f;
}

void free_node_frame(NodeFrame* f) {
    (f->prev ? f->prev->next : m.first_node_frame) = f->next;
    (f->next ? f->next->prev : m.last_node_frame) = f->prev;
    if (m.current_node_frame == f) m.current_node_frame = m.last_node_frame;
    m.directory[f->index] = nullptr;
    detail::node_slots[f->index] = nullptr;
    free_pages(f, sizeof(NodeFrame));
}

Node handle_of(const NodeFrame* f, uint32_t slot) { return (f->index << node_handle_shift) + slot + 1; }

bool slot_free(uintptr_t v) { return v & 1; }

// Pops a slot of f's free chain; the node starts out empty.
Node pop_node(NodeFrame* f) {
    uint32_t slot = f->free_head - 1;
    f->free_head = uint32_t(f->slots[slot] >> 1);
    f->slots[slot] = 0;
    ++f->used;
    return handle_of(f, slot);
}

Node alloc_node() {
    NodeFrame* f = m.current_node_frame;
    if (!f || !f->free_head || f->release) {
        f = m.first_node_frame;
        while (f && (!f->free_head || f->release)) f = f->next;
        if (!f) f = make_node_frame();
        m.current_node_frame = f;
    }
    return pop_node(f);
}

NodeFrame* frame_of(Node n) {
    uint32_t i = (n - 1) >> node_handle_shift;
    return i < m.directory_size ? m.directory[i] : nullptr;
}

void free_node(Node n) {
    note_moves();
    NodeFrame* f = frame_of(n);
    uint32_t slot = (n - 1) & node_handle_mask;
    f->slots[slot] = (uintptr_t(f->free_head) << 1) | 1;
    f->free_head = slot + 1;
    --f->used;
}

uintptr_t& slot_of(Node n) { return detail::node_slots[(n - 1) >> node_handle_shift][(n - 1) & node_handle_mask]; }

// --- series frames ------------------------------------------------------------

uint64_t span(const Series* s) { return sizeof(Series) + s->capacity; }

SeriesFrame* make_series_frame() {
    uint32_t size = m.next_frame_size;
    if (size < max_frame_size) m.next_frame_size = std::min(size * 2, max_frame_size);
    uint64_t mapped = sizeof(SeriesFrame) + size;
    auto* f = static_cast<SeriesFrame*>(alloc_pages(mapped));
    m.frame_bytes += mapped;
    f->size = mapped;
    f->heap = f->start();
    f->end = f->start() + size;
    f->spare = 0;
    // Insert by address.
    SeriesFrame* after = m.last_frame;
    while (after && after > f) after = after->prev;
    f->prev = after;
    f->next = after ? after->next : m.first_frame;
    (f->prev ? f->prev->next : m.first_frame) = f;
    (f->next ? f->next->prev : m.last_frame) = f;
    if (!m.current_frame) m.current_frame = f;
    return f;
}

void free_series_frame(SeriesFrame* f) {
    (f->prev ? f->prev->next : m.first_frame) = f->next;
    (f->next ? f->next->prev : m.last_frame) = f->prev;
    if (m.current_frame == f) m.current_frame = m.last_frame;
    m.frame_bytes -= f->size;
    free_pages(f, f->size);
}

// A big frame takes whole huge pages: its last page is a huge one too, and a
// growing buffer's pages can move into a larger frame as they are.
uint64_t big_frame_bytes(uint64_t capacity) {
    return (sizeof(BigFrame) + sizeof(Series) + capacity + huge_page - 1) & ~(huge_page - 1);
}

bool fits(const SeriesFrame* f, uint64_t k) { return uint64_t(f->end - f->heap) >= k; }

SeriesFrame* find_series_frame(uint64_t k) {
    for (SeriesFrame* f = m.first_frame; f; f = f->next)
        if (fits(f, k)) return f;
    return nullptr;
}

// Raises no-memory for sizes past what a buffer header can describe.
uint64_t checked_capacity(uint64_t count, uint64_t unit) {
    if (unit && count > max_capacity / unit) errors::fire(errors::id::no_memory);
    uint64_t p = (count * unit + 15) & ~uint64_t(15);
    if (p > max_capacity) errors::fire(errors::id::no_memory);
    return p;
}

void collect_for_room() { collector::collect(); }

// A collection costs time in proportion to what is live, so the frames may
// grow by half of what the last collection left before room is sought by
// collecting again: filling a large heap would otherwise collect it whole for
// every new frame. ZAN_GC_STRESS keeps collecting at its own pace.
bool may_grow_by(uint64_t bytes) {
    uint64_t left = m.frame_bytes_after_collection;
    return m.frame_bytes + bytes <= left + left / 2;
}

void init_header(Series* s, uint32_t capacity, uint32_t unit, int32_t offset, uint32_t where) {
    s->flags = unit | flag::in_use | flag::allocated | where;
    s->node = 0;
    s->capacity = capacity;
    uint32_t head;
    if (offset == -1) {
        head = capacity / 2;
        s->flags |= flag::head_room;
    } else {
        head = std::min<uint32_t>(offset < 0 ? 0 : uint32_t(offset), capacity);
    }
    s->head = head;
    s->tail = head;
    s->pins = 0;
    s->spare[0] = s->spare[1] = 0;
}

// Under ZAN_GC_STRESS, every Nth allocation collects first.
void maybe_stress() {
#ifdef ZAN_DEBUG
    // A sweep hook or release callback that allocates would hand the sweep an
    // unmarked, live buffer.
    if (collector::collecting()) runtime::quit(runtime::fatal::assertion_failed, runtime::caller_address());
#endif
    if (m.stress && collector::enabled() && ++m.allocations % m.stress == 0) collector::collect();
}

// A buffer of count units with its head offset bytes in. May collect.
Series* alloc_series_buffer(uint64_t count, uint32_t unit, int32_t offset) {
    init();
    uint64_t p = checked_capacity(count, unit);
    maybe_stress();
    uint64_t k = needed_bytes(p);
    if (k >= max_frame_size) {
        uint64_t mapped = big_frame_bytes(p);
        if (!may_grow_by(mapped)) collect_for_room();
        auto* b = static_cast<BigFrame*>(alloc_pages(mapped, true));
        m.frame_bytes += mapped;
        b->size = mapped;
        b->next = nullptr;
        BigFrame** tail = &m.first_big;
        while (*tail) tail = &(*tail)->next;
        *tail = b;
        Series* s = b->series();
        init_header(s, uint32_t(p), unit, offset, flag::big);
        return s;
    }
    uint64_t need = sizeof(Series) + p;
    SeriesFrame* f = m.current_frame;
    if (!fits(f, need)) {
        f = find_series_frame(need);
        if (!f) {
            if (!may_grow_by(m.next_frame_size)) {
                collect_for_room();
                f = find_series_frame(need);
            }
            if (!f || uint64_t(f->end - f->heap) < reuse_threshold) {
                if (k >= m.next_frame_size) m.next_frame_size = max_frame_size;
                f = make_series_frame();
                // A frame made at 1 MB cannot take every request below 2 MB.
                if (!fits(f, need)) f = make_series_frame();
            }
        }
        m.current_frame = f;
    }
    auto* s = reinterpret_cast<Series*>(f->heap);
    f->heap += need;
    init_header(s, uint32_t(p), unit, offset, 0);
    return s;
}

Node link_new_node(Series* s) {
    Node n = alloc_node();
    slot_of(n) = reinterpret_cast<uintptr_t>(s);
    s->node = n;
    return n;
}

// The node of a buffer just made: node frames never collect, so s stays put.
Node alloc_with_node(uint64_t count, uint32_t unit, int32_t offset) {
    Series* s = alloc_series_buffer(count, unit, offset);
    return link_new_node(s);
}

void fill_unset(Series* s) {
    Cell unset = unset_cell();
    auto* c = reinterpret_cast<Cell*>(s->data());
    for (uint32_t i = 0; i < s->capacity / sizeof(Cell); ++i) c[i] = unset;
}

// Units are chosen by the runtime, never by scripts: another is a fault.
// 8 is the width of a vector's doubles.
uint32_t checked_unit(uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4 && unit != 8 && unit != 16)
        runtime::quit(runtime::fatal::no_case, 0);
    return unit;
}

}  // namespace

// --- initialisation -------------------------------------------------------------

void init() {
    if (m.ready) return;
    m.ready = true;
    if (const char* s = std::getenv("ZAN_GC_STRESS")) {
        long v = std::strtol(s, nullptr, 10);
        m.stress = v > 0 ? uint32_t(v) : 0;
    }
    make_arena();
    m.current_node_frame = make_node_frame();
    make_series_frame();
}

uint64_t total_bytes() { return m.total; }

void set_gc_stress(uint32_t every) {
    init();
    m.stress = every;
    m.allocations = 0;
}

uint32_t gc_stress() { return m.stress; }

// --- allocation -------------------------------------------------------------------

Node alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    return alloc_with_node(count, checked_unit(unit), offset);
}

Node alloc_cells(uint32_t count) { return alloc_with_node(count, 16, 0); }

Node alloc_cells_unset(uint32_t count) {
    Node n = alloc_with_node(count, 16, 0);
    fill_unset(buffer(n));
    return n;
}

Node alloc_bytes(uint32_t count) { return alloc_with_node(count ? count : 16, 1, 0); }

Node alloc_series_unit(uint32_t count, uint32_t unit) {
    checked_unit(unit);
    if (count == 0) count = 16 >> (unit >> 1);
    return alloc_with_node(count, unit, 0);
}

Node alloc_bytes_filled(uint32_t count, uint8_t byte) {
    Node n = alloc_bytes(count);
    Series* s = buffer(n);
    std::memset(s->data(), byte, s->capacity);
    return n;
}

Node alloc_big_series(uint32_t count, uint32_t unit, int32_t offset) {
    init();
    uint64_t p = checked_capacity(count, checked_unit(unit));
    maybe_stress();
    auto* link = static_cast<HeapLink*>(allocate(sizeof(HeapLink) + sizeof(Series) + p));
    link->next = &m.heap_series;
    link->prev = m.heap_series.prev;
    link->prev->next = link;
    m.heap_series.prev = link;
    Series* s = link->series();
    init_header(s, uint32_t(p), unit, offset, flag::c_heap);
    return link_new_node(s);
}

void set_series_flags(Node n, uint32_t bits) { buffer(n)->flags |= bits; }

namespace {

void free_heap_series(Series* s) {
    HeapLink* link = reinterpret_cast<HeapLink*>(s) - 1;
    link->prev->next = link->next;
    link->next->prev = link->prev;
    memory::free(link);
}

// Gives n a new buffer of new_size bytes; answers it and the old one (still
// intact unless it was a C-heap buffer, then null after copy_old runs).
struct Moved {
    Series* fresh;
    Series* old;
};

Moved rebuffer(Node n, uint64_t new_size) {
    Series* old = buffer(n);
    if (new_size == 0) new_size = std::max<uint64_t>(uint64_t(old->capacity) * 2, 16);
    uint32_t unit = old->unit();
    Node held = n;
    Series* fresh;
    {
        collector::NodeRoot keep(held);  // the allocation may collect
        fresh = alloc_series_buffer(new_size / unit + (new_size % unit ? 1 : 0), unit, 0);
    }
    n = held;
    old = buffer(n);  // it may have moved
    fresh->flags = (old->flags & ~flag::allocator_bits) | (fresh->flags & flag::allocator_bits);
    fresh->node = n;
    fresh->pins = old->pins;
    fresh->head = 0;
    fresh->tail = std::min(old->tail - old->head, fresh->capacity);
    slot_of(n) = reinterpret_cast<uintptr_t>(fresh);
    note_moves();
    old->node = 0;
    old->pins = 0;
    old->flags &= ~flag::in_use;
    return {fresh, old};
}

void retire(Series* old) {
    if (old->flags & flag::c_heap) free_heap_series(old);
}

// A big buffer growing into another big one: its pages move into a larger
// fresh mapping instead of being copied into it, so the old bytes are neither
// copied nor faulted in again. Both ends sit on huge-page boundaries, so the
// kernel moves whole huge pages. Answers null where that does not apply (a
// pinned buffer, data not at the start, an unaligned frame, a refused
// mapping); the caller then copies as for any buffer.
Series* grow_big_in_place(Node n, uint64_t new_size) {
    Series* old = buffer(n);
    if (!(old->flags & flag::big) || old->pins || old->head != 0) return nullptr;
    if (new_size == 0) new_size = std::max<uint64_t>(uint64_t(old->capacity) * 2, 16);
    uint32_t unit = old->unit();
    uint64_t p = checked_capacity(new_size / unit + (new_size % unit ? 1 : 0), unit);
    if (p <= old->capacity) return nullptr;
    uint64_t mapped = big_frame_bytes(p);
    auto* frame = reinterpret_cast<BigFrame*>(old) - 1;
    if (mapped > frame->size) {
        Node held = n;
        collector::NodeRoot keep(held);  // a collection may run, as for any allocation
        maybe_stress();
        if (!may_grow_by(mapped - frame->size)) collect_for_room();
        n = held;
        old = buffer(n);
        frame = reinterpret_cast<BigFrame*>(old) - 1;
    }
    if (reinterpret_cast<uintptr_t>(frame) % huge_page || frame->size % huge_page) return nullptr;
    if (mapped <= frame->size) {
        // The frame's last huge page still has room.
        old->capacity = uint32_t(p);
        note_moves();
        return old;
    }
    uint64_t old_bytes = frame->size, new_bytes = mapped;
    std::byte* target = map_huge(new_bytes);
    if (!target) return nullptr;
    if (mremap(frame, old_bytes, old_bytes, MREMAP_MAYMOVE | MREMAP_FIXED, target) == MAP_FAILED) {
        munmap(target, new_bytes);
        return nullptr;
    }
    auto* grown = reinterpret_cast<BigFrame*>(target);
    for (BigFrame** link = &m.first_big; *link; link = &(*link)->next) {
        if (*link != frame) continue;
        *link = grown;
        break;
    }
    m.frame_bytes += mapped - grown->size;
    m.total += new_bytes - old_bytes;
    grown->size = mapped;
    Series* s = grown->series();
    s->capacity = uint32_t(p);
    slot_of(n) = reinterpret_cast<uintptr_t>(s);
    note_moves();
    return s;
}

void copy_content(Series* fresh, Series* old) {
    uint32_t bytes = std::min(old->capacity - old->head, fresh->capacity);
    std::memcpy(fresh->data(), old->at_head(), bytes);
}

}  // namespace

Series* expand_series(Node n, uint64_t new_size) {
    Moved mv = rebuffer(n, new_size);
    retire(mv.old);
    return mv.fresh;
}

Series* expand_series_copy(Node n, uint64_t new_size) {
    if (Series* s = grow_big_in_place(n, new_size)) return s;
    Moved mv = rebuffer(n, new_size);
    copy_content(mv.fresh, mv.old);
    retire(mv.old);
    return mv.fresh;
}

Series* expand_series_fill(Node n, uint64_t new_size, uint8_t byte) {
    if (Series* s = buffer(n); byte != 0 && (s->flags & flag::big)) {
        // Grown pages read zero: other fill bytes take the copying road.
    } else if (Series* grown = grow_big_in_place(n, new_size)) {
        return grown;
    }
    Moved mv = rebuffer(n, new_size);
    copy_content(mv.fresh, mv.old);
    uint32_t copied = std::min(mv.old->capacity - mv.old->head, mv.fresh->capacity);
    std::memset(mv.fresh->data() + copied, byte, mv.fresh->capacity - copied);
    retire(mv.old);
    return mv.fresh;
}

Node copy_series(Node n) {
    Node held = n;
    Series* fresh;
    {
        collector::NodeRoot keep(held);
        fresh = alloc_series_buffer(buffer(held)->capacity, 1, 0);
    }
    Series* old = buffer(held);
    fresh->flags = (old->flags & ~flag::allocator_bits) | (fresh->flags & flag::allocator_bits);
    fresh->head = 0;
    fresh->tail = old->tail - old->head;
    copy_content(fresh, old);
    return link_new_node(fresh);
}

// --- pins ---------------------------------------------------------------------------

Pin::Pin(Node n) : node_(n), prev_(nullptr), next_(m.pins) {
    if (m.pins) m.pins->prev_ = this;
    m.pins = this;
    ++buffer(n)->pins;
}

Pin::~Pin() {
    --buffer(node_)->pins;
    (prev_ ? prev_->next_ : m.pins) = next_;
    if (next_) next_->prev_ = prev_;
}

void for_each_pin(void (*fn)(Node&)) {
    for (Pin* p = m.pins; p; p = p->next_) fn(p->node_);
}

// --- the C heap -----------------------------------------------------------------------

namespace {
[[gnu::always_inline]] inline void* adopt_block(BlockHeader* h, size_t size) {
    if (!h) runtime::quit(runtime::fatal::out_of_memory, runtime::caller_address());
    h->size = size;
    void* p = h + 1;
    blocks().insert(p);
    return p;
}
}  // namespace

void* allocate(size_t size) { return adopt_block(static_cast<BlockHeader*>(std::malloc(size + sizeof(BlockHeader))), size); }

// calloc knows when its memory is fresh from the system and leaves those pages
// untouched: the value and call stacks are large and mostly never used.
void* allocate_zeroed(size_t size) {
    return adopt_block(static_cast<BlockHeader*>(std::calloc(1, size + sizeof(BlockHeader))), size);
}

void* reallocate(void* p, size_t size) {
    if (!p) return allocate(size);
    if (size == 0) {
        memory::free(p);
        return nullptr;
    }
    if (!blocks().count(p)) return nullptr;
    auto* h = static_cast<BlockHeader*>(p) - 1;
    auto* moved = static_cast<BlockHeader*>(std::realloc(h, size + sizeof(BlockHeader)));
    if (!moved) runtime::quit(runtime::fatal::out_of_memory, runtime::caller_address());
    moved->size = size;
    blocks().erase(p);
    blocks().insert(moved + 1);
    return moved + 1;
}

void free(void* p) {
    if (!p || !blocks().erase(p)) return;
    std::free(static_cast<BlockHeader*>(p) - 1);
}

void free_all() {
    for (void* p : blocks()) std::free(static_cast<BlockHeader*>(p) - 1);
    blocks().clear();
}

// --- collector support ------------------------------------------------------------

namespace {

constexpr uint32_t evacuation_max_used = node_frame_nodes / 2;

// A free node of a frame other than avoid, the current frame first.
Node take_free_node(NodeFrame* avoid) {
    NodeFrame* f = m.current_node_frame;
    if (!f || f == avoid || f->release || !f->free_head) {
        for (f = m.first_node_frame; f; f = f->next)
            if (f != avoid && !f->release && f->free_head) break;
        m.current_node_frame = f;
    }
    if (!f) return 0;
    f->received = 1;
    return pop_node(f);
}

}  // namespace

bool evacuate_node_frames(uint32_t history_depth) {
    uint32_t mask = (2u << history_depth) - 1;
    NodeFrame* current = m.first_node_frame;
    while (current && (!current->free_head || current->release)) current = current->next;
    if (!current) return false;
    m.current_node_frame = current;
    uint64_t free_nodes = 0;
    for (NodeFrame* f = m.first_node_frame; f; f = f->next) {
        f->received = 0;
        if (f->free_head && !f->release) free_nodes += f->count - f->used;
    }
    bool any = false;
    for (NodeFrame* f = m.last_node_frame; f; f = f->prev) {
        // A frame that took moved nodes keeps them: moving them twice would
        // leave a chain in the relocation map.
        if (f == m.current_node_frame || f->release || f->received) continue;
        if ((f->history & mask) != mask || f->used >= evacuation_max_used || free_nodes <= node_frame_nodes)
            continue;
        for (uint32_t i = 0; i < f->count; ++i) {
            uintptr_t v = f->slots[i];
            if (v == 0 || slot_free(v)) continue;
            Node to = take_free_node(f);
            if (!to) break;  // cannot happen while more than a frame's worth is free
            slot_of(to) = v;
            reinterpret_cast<Series*>(v)->node = to;
            if (!m.relocations) m.relocations = new std::unordered_map<Node, Node>;
            (*m.relocations)[handle_of(f, i)] = to;
            // The old slot keeps its address until the frame is freed, so a
            // stale handle still reads the buffer during this cycle.
            --f->used;
        }
        f->release = 1;
        free_nodes -= node_frame_nodes;
        any = true;
    }
    m.relocating = m.relocations && !m.relocations->empty();
    return any;
}

Node relocated(Node n) {
    if (!m.relocating || n == 0) return n;
    auto it = m.relocations->find(n);
    return it == m.relocations->end() ? n : it->second;
}

bool relocating() { return m.relocating; }

bool node_in_use(Node n) {
    if (n == 0) return false;
    NodeFrame* f = frame_of(n);
    return f && !slot_free(f->slots[(n - 1) & node_handle_mask]);
}

void drop_relocations() {
    delete m.relocations;
    m.relocations = nullptr;
    m.relocating = false;
}

namespace {

void queue_dead(Series* s) {
    if (s->node) m.free_queue.push_back(s->node);
    s->node = 0;
}

// Points the nodes of the buffers in [from, from + size) at their new place.
void repoint(std::byte* from, uint64_t size) {
    for (std::byte* p = from; p < from + size;) {
        auto* s = reinterpret_cast<Series*>(p);
        slot_of(s->node) = reinterpret_cast<uintptr_t>(s);
        p += span(s);
    }
}

// Leaves [from, to) as one dead buffer, so the frame stays walkable.
void write_hole(std::byte* from, std::byte* to) {
    auto* s = reinterpret_cast<Series*>(from);
    std::memset(s, 0, sizeof(Series));
    s->capacity = uint32_t(to - from - sizeof(Series));
}

bool live(const Series* s) { return s->flags & flag::mark; }

void compact_frame(SeriesFrame* f) {
    SeriesFrame* below = f->prev;
    uint64_t room = below ? uint64_t(below->end - below->heap) : 0;
    bool into_below = room > reuse_threshold;
    std::byte* gap = nullptr;
    std::byte* p = f->start();
    while (p < f->heap) {
        auto* s = reinterpret_cast<Series*>(p);
        if (!live(s)) {
            queue_dead(s);
            if (!gap) gap = p;
            p += span(s);
            continue;
        }
        if (s->pins) {
            // Stays put: whatever dead space lies before it stays a hole.
            s->flags &= ~flag::mark;
            if (gap) write_hole(gap, p);
            gap = nullptr;
            into_below = false;
            p += span(s);
            continue;
        }
        std::byte* run = p;
        uint64_t size = 0;
        bool to_below = into_below && span(s) <= room;
        while (p < f->heap) {
            s = reinterpret_cast<Series*>(p);
            if (!live(s) || s->pins) break;
            uint64_t sp = span(s);
            if (to_below && size + sp > room) break;
            s->flags &= ~flag::mark;
            size += sp;
            p += sp;
        }
        if (to_below) {
            std::memcpy(below->heap, run, size);
            repoint(below->heap, size);
            below->heap += size;
            room -= size;
            if (room <= reuse_threshold) into_below = false;
            if (!gap) gap = run;
        } else if (gap) {
            std::memmove(gap, run, size);
            repoint(gap, size);
            gap += size;
        } else {
            into_below = false;
        }
    }
    if (gap) {
#ifdef ZAN_DEBUG
        // Stale addresses into the freed space read garbage that shows.
        std::memset(gap, 0xDB, size_t(f->heap - gap));
#endif
        f->heap = gap;
    }
}

}  // namespace

void compact_series_frames() {
    for (SeriesFrame* f = m.first_frame; f;) {
        SeriesFrame* next = f->next;
        compact_frame(f);
        if (f->heap == f->start() && f != m.last_frame) free_series_frame(f);
        f = next;
    }
}

void sweep_big_frames() {
    for (BigFrame** link = &m.first_big; *link;) {
        BigFrame* b = *link;
        Series* s = b->series();
        if (live(s)) {
            s->flags &= ~flag::mark;
            link = &b->next;
            continue;
        }
        queue_dead(s);
        *link = b->next;
        m.frame_bytes -= b->size;
        free_pages(b, b->size);
    }
    // Series frames were compacted before: this is what the collection left.
    m.frame_bytes_after_collection = m.frame_bytes;
}

void sweep_c_heap_series() {
    for (HeapLink* l = m.heap_series.next; l != &m.heap_series;) {
        HeapLink* next = l->next;
        Series* s = l->series();
        if (live(s)) {
            s->flags &= ~flag::mark;
        } else {
            queue_dead(s);
            free_heap_series(s);
        }
        l = next;
    }
}

// Each frame's dead slots join its free chain in ascending order, so the
// chains come out the same however the sweep met the nodes. They are marked in
// a bitmap per frame and read back in order: linear in the count, where a sort
// of the queue cost a fifth of an allocation-heavy loop.
void flush_free_nodes() {
    constexpr uint32_t words_per_frame = (node_frame_nodes + 63) / 64;
    auto& bits = m.free_bits;
    auto& touched = m.free_frames;
    auto& marked = m.free_frame_marked;
    if (marked.size() < m.directory_size) {
        bits.resize(size_t(m.directory_size) * words_per_frame, 0);
        marked.resize(m.directory_size, 0);
    }
    for (Node n : m.free_queue) {
        uint32_t frame = (n - 1) >> node_handle_shift, slot = (n - 1) & node_handle_mask;
        if (!marked[frame]) {
            marked[frame] = 1;
            touched.push_back(frame);
        }
        bits[size_t(frame) * words_per_frame + (slot >> 6)] |= uint64_t(1) << (slot & 63);
    }
    for (uint32_t frame : touched) {
        marked[frame] = 0;
        uint64_t* w = &bits[size_t(frame) * words_per_frame];
        for (uint32_t i = 0; i < words_per_frame; ++i) {
            for (uint64_t x = w[i]; x; x &= x - 1)
                free_node((frame << node_handle_shift) + i * 64 + uint32_t(std::countr_zero(x)) + 1);
            w[i] = 0;
        }
    }
    touched.clear();
    m.free_queue.clear();
}

void sweep_node_frames() {
    NodeFrame* current = nullptr;
    for (NodeFrame* f = m.first_node_frame; f;) {
        NodeFrame* next = f->next;
        if (f->used == 0 || f->release) {
            free_node_frame(f);
        } else {
            if (!current && f->used < f->count) current = f;
            f->history = (f->history << 1) | (f->used == f->last_used ? 1 : 0);
            f->last_used = f->used;
        }
        f = next;
    }
    m.current_node_frame = current;
}

// --- the heap verifier ----------------------------------------------------------------

namespace {

const char* check_buffer(Series* s, uint32_t where) {
    if (reinterpret_cast<uintptr_t>(s->data()) % 16) return "buffer data not 16-byte aligned";
    if (s->capacity % 16) return "buffer capacity not a multiple of 16";
    if (s->flags & flag::mark) return "mark left on a buffer";
    if (!(s->flags & flag::in_use)) return s->node ? "abandoned buffer still has a node" : nullptr;
    uint32_t u = s->unit();
    if (u != 1 && u != 2 && u != 4 && u != 8 && u != 16) return "buffer with a bad unit";
    if (s->head > s->tail || s->tail > s->capacity) return "buffer head or tail out of bounds";
    if ((s->flags & (flag::big | flag::c_heap)) != where) return "buffer flags disagree with its frame";
    if (s->node == 0) return "buffer in use without a node";
    NodeFrame* nf = frame_of(s->node);
    if (!nf) return "buffer's node lies in no node frame";
    if (slot_of(s->node) != reinterpret_cast<uintptr_t>(s)) return "node does not point back at its buffer";
    return nullptr;
}

}  // namespace

const char* verify_heap() {
    if (!m.ready) return nullptr;
    for (NodeFrame* f = m.first_node_frame; f; f = f->next) {
        if (f->index >= m.directory_size || m.directory[f->index] != f) return "node frame not in the directory";
        if (f->release) return "released node frame left after a sweep";
        uint32_t in_use = 0;
        for (uint32_t i = 0; i < f->count; ++i) {
            uintptr_t v = f->slots[i];
            if (slot_free(v)) continue;
            ++in_use;
            if (v == 0) continue;
            if (v % 16) return "node holds a misaligned address";
            auto* s = reinterpret_cast<Series*>(v);
            if (s->node != handle_of(f, i)) return "buffer does not point back at its node";
            if (!(s->flags & flag::in_use)) return "node holds a buffer not in use";
        }
        if (in_use != f->used) return "node frame used count is wrong";
        uint32_t free_count = 0;
        for (uint32_t k = f->free_head; k; k = uint32_t(f->slots[k - 1] >> 1)) {
            if (k > f->count || !slot_free(f->slots[k - 1])) return "free chain runs through a used node";
            if (++free_count > f->count) return "free chain loops";
        }
        if (free_count != f->count - f->used) return "free chain misses free nodes";
    }
    for (SeriesFrame* f = m.first_frame; f; f = f->next) {
        if (f->prev && f->prev >= f) return "series frames out of address order";
        if (f->heap < f->start() || f->heap > f->end) return "series frame heap out of bounds";
        for (std::byte* p = f->start(); p < f->heap;) {
            auto* s = reinterpret_cast<Series*>(p);
            if (p + span(s) > f->heap) return "buffer runs past its frame's heap";
            if (const char* why = check_buffer(s, 0)) return why;
            p += span(s);
        }
    }
    for (BigFrame* b = m.first_big; b; b = b->next)
        if (const char* why = check_buffer(b->series(), flag::big)) return why;
    for (HeapLink* l = m.heap_series.next; l != &m.heap_series; l = l->next)
        if (const char* why = check_buffer(l->series(), flag::c_heap)) return why;
    return nullptr;
}

// --- figures --------------------------------------------------------------------------

double used_bytes() {
    double total = 0;
    for (NodeFrame* f = m.first_node_frame; f; f = f->next) total += double(f->used) * sizeof(uintptr_t);
    for (SeriesFrame* f = m.first_frame; f; f = f->next) total += double(f->heap - f->start());
    for (BigFrame* b = m.first_big; b; b = b->next) total += double(b->size);
    return total;
}

void for_each_frame(void (*fn)(int kind, const FrameFigures& f, void* ctx), void* ctx) {
    for (NodeFrame* f = m.first_node_frame; f; f = f->next)
        fn(0, FrameFigures{f->count - f->used, f->used, f->count}, ctx);
    for (SeriesFrame* f = m.first_frame; f; f = f->next)
        fn(1,
           FrameFigures{uint64_t(f->end - f->heap), uint64_t(f->heap - f->start()),
                        uint64_t(f->end - f->start())},
           ctx);
    for (BigFrame* b = m.first_big; b; b = b->next) fn(2, FrameFigures{0, b->size, b->size}, ctx);
}

}  // namespace zan::memory
