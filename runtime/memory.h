// The memory manager: nodes, series buffers and the frames that hold them.
//
// A series buffer lives in a series frame (bump-allocated, moved by compaction),
// in a big frame of its own, or on the C heap. Values never hold a buffer's
// address: they hold a 32-bit node handle, an index into the node table whose
// slot holds the buffer's current address. Compaction rewrites node slots only.
//
// Rule for every caller: never keep a Series* across anything that can allocate
// or run script code; keep the node and call buffer() again. A buffer that must
// stay put while script code runs is pinned (Pin), and compaction leaves it be.
//
// The node table is a directory of node frames of 10,000 slots; node n lives in
// frame (n - 1) / 10,000 at slot (n - 1) % 10,000, so handles stay valid while
// other frames come and go. A collection that evacuates node frames (off unless
// switched on, see collector.h) gives the moved nodes new handles; every handle
// the collector reaches while marking is rewritten, others go stale.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zan::memory {

// Series buffer flags.
namespace flag {
constexpr uint32_t unit_mask = 0x1F;       // 1, 2, 4, 8 or 16 bytes per unit
constexpr uint32_t owned = 1u << 17;       // owned by an object (change reporting)
constexpr uint32_t c_heap = 1u << 20;      // made on the C heap; never moved
constexpr uint32_t big = 1u << 24;         // lives in a big frame; never moved
constexpr uint32_t mark = 1u << 27;        // collector mark
constexpr uint32_t head_room = 1u << 28;   // data started mid-buffer
constexpr uint32_t allocated = 1u << 29;   // made by the allocator
constexpr uint32_t in_use = 1u << 31;
// Bits the allocator decides for each new buffer; an expanded or copied
// buffer takes the other bits from the old one.
constexpr uint32_t allocator_bits = c_heap | big | mark | allocated | in_use;
}  // namespace flag

// Header of a series buffer; the data follows, 16-byte aligned. Head and tail
// are byte offsets from the start of the data area.
struct Series {
    uint32_t flags;
    Node node;          // back reference to the owning node; 0 once abandoned
    uint32_t capacity;  // bytes of the data area, a multiple of 16
    uint32_t head;      // byte offset of the first unit
    uint32_t tail;      // byte offset just behind the last unit
    uint32_t pins;      // compaction leaves the buffer in place while non-zero
    uint32_t spare[2];

    std::byte* data() { return reinterpret_cast<std::byte*>(this + 1); }
    uint32_t unit() const { return flags & flag::unit_mask; }
    std::byte* at_head() { return data() + head; }
    std::byte* at_tail() { return data() + tail; }
    uint32_t length() const { return (tail - head) / unit(); }  // in units
    Cell* cells() { return reinterpret_cast<Cell*>(at_head()); }
};
static_assert(sizeof(Series) % 16 == 0);

constexpr uint32_t node_frame_nodes = 10000;
// Handles of one frame start at a multiple of a power of two, so that finding a
// node's slot is a shift and a mask; a frame's last 6,384 handles go unused.
constexpr uint32_t node_handle_shift = 14;
constexpr uint32_t node_handle_mask = (1u << node_handle_shift) - 1;
static_assert(node_frame_nodes <= node_handle_mask + 1);
constexpr uint32_t series_frame_size = 1u << 20;      // the first series frame
constexpr uint32_t max_frame_size = 2u << 20;         // later frames; big-series threshold
constexpr uint32_t reuse_threshold = 52428;           // a frame with less free is not reused
// Bytes a request of capacity P needs, for the big-frame decision. The header
// is larger than that (sizeof(Series)), but the threshold keeps its edges.
constexpr uint64_t needed_bytes(uint64_t capacity) { return capacity + 24; }
// Largest capacity a buffer may have; more raises the no-memory error.
constexpr uint64_t max_capacity = 0xFFFFFF00u;

namespace detail {
// Slot arrays of the node frames, by directory index (null for a free entry).
extern uintptr_t** node_slots;
// Bumped whenever a live node may get a new buffer address: by every
// collection (compaction, freed and moved nodes) and by every expansion.
extern uint32_t moves;
}  // namespace detail

// The buffer a node designates now. Re-read after any allocation.
// buffer_inline is the same, always inlined: the compiler leaves buffer out
// of line in some hot paths, and which ones shifts with unrelated changes
// (forcing it everywhere made other paths slower).
[[gnu::always_inline]] inline Series* buffer_inline(Node n) {
    uint32_t i = n - 1;
    return reinterpret_cast<Series*>(detail::node_slots[i >> node_handle_shift][i & node_handle_mask]);
}
inline Series* buffer(Node n) { return buffer_inline(n); }

// The buffers-moved epoch: while it reads the same, every Series* taken from
// buffer() is still the node's buffer. Hot loops may keep one across
// evaluation and re-read it only when the epoch changed.
inline uint32_t moves() { return detail::moves; }
inline void note_moves() { ++detail::moves; }

// --- allocation ---------------------------------------------------------------
// Every allocation may run a collection (when the frames are full, or under
// ZAN_GC_STRESS), which may move every buffer of a series frame.
//
// offset: bytes of head room before the head; -1 puts the head at the middle.
Node alloc_series(uint32_t count, uint32_t unit, int32_t offset = 0);
Node alloc_cells(uint32_t count);
Node alloc_cells_unset(uint32_t count);   // whole capacity filled with unset!
Node alloc_bytes(uint32_t count);         // count 0 gives 16 bytes
Node alloc_series_unit(uint32_t count, uint32_t unit);  // count 0 gives 16 bytes' worth
Node alloc_bytes_filled(uint32_t count, uint8_t byte);
Node alloc_big_series(uint32_t count, uint32_t unit, int32_t offset = 0);  // C heap

// Gives the node a new buffer of new_size bytes (0: twice the capacity, at
// least 16) with the same flags, pins and head-to-tail distance, its head at
// the start; the old buffer becomes garbage (an old C-heap buffer is freed at
// once). Sizes are checked in 64 bits: past the limit raises the no-memory
// error. The node is kept alive across the allocation; answers its buffer.
Series* expand_series(Node n, uint64_t new_size);
// The same, with the old bytes from the head to the end of the old data area
// copied to the start of the new data area.
Series* expand_series_copy(Node n, uint64_t new_size);
// expand_series_copy, then everything behind the copied bytes set to byte.
Series* expand_series_fill(Node n, uint64_t new_size, uint8_t byte);
// A new node with a buffer of the same capacity, flags and content (copied as
// expand_series_copy does).
Node copy_series(Node n);
void set_series_flags(Node n, uint32_t bits);

// Makes the first frames; called lazily by the first allocation otherwise.
// Reads ZAN_GC_STRESS.
void init();

// Every Nth allocation collects (0: off); ZAN_GC_STRESS sets it at init.
void set_gc_stress(uint32_t every);
uint32_t gc_stress();

// Bytes currently taken from the page allocator.
uint64_t total_bytes();

// --- the C heap for the runtime's own tables -------------------------------------
// Failure is fatal error 94, reported at the caller's call site.
void* allocate(size_t size);
void* allocate_zeroed(size_t size);
void* reallocate(void* p, size_t size);  // null allocates; size 0 frees and answers null
void free(void* p);                      // a pointer not made here is ignored
void free_all();                         // for the runtime's exit

// Keeps a buffer in place while script code may run. A pinned buffer is also
// kept alive by the collector (its cells too when its unit is 16).
class Pin {
public:
    explicit Pin(Node n);
    ~Pin();
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    Node node() const { return node_; }

private:
    friend void for_each_pin(void (*fn)(Node&));
    Node node_;
    Pin* prev_;
    Pin* next_;
};

// --- for the collector ---------------------------------------------------------
// Calls fn on the node of every live Pin (fn may rewrite it).
void for_each_pin(void (*fn)(Node&));
// Moves the nodes of stable, sparsely used node frames into other frames and
// records old -> new handles; answers whether any frame was evacuated.
bool evacuate_node_frames(uint32_t history_depth);
// The new handle of an evacuated node (the handle itself otherwise).
Node relocated(Node n);
bool relocating();
// Whether n is a handle in use (for checks in debug builds).
bool node_in_use(Node n);
void drop_relocations();
// Sweeps after marking: slides live buffers together and queues dead nodes.
void compact_series_frames();
void sweep_big_frames();
void sweep_c_heap_series();
void flush_free_nodes();
void sweep_node_frames();

// Checks every frame: headers, node back references, alignment, free chains,
// and that no mark is left. Answers null when the heap is sound, else what
// is wrong.
const char* verify_heap();

// Figures for stats: bytes in use, and per frame.
struct FrameFigures {
    uint64_t free;
    uint64_t used;
    uint64_t size;
};
double used_bytes();
// Calls fn for every node frame (free, used, count), series frame (free, used,
// size) and big frame (0, size, size), with kind 0, 1 and 2.
void for_each_frame(void (*fn)(int kind, const FrameFigures& f, void* ctx), void* ctx);

}  // namespace zan::memory
