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
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zan::memory {

// Series buffer flags.
namespace flag {
constexpr uint32_t unit_mask = 0x1F;       // 1, 2, 4 or 16 bytes per unit
constexpr uint32_t owned = 1u << 17;       // owned by an object (change reporting)
constexpr uint32_t c_heap = 1u << 20;      // made on the C heap; never moved
constexpr uint32_t big = 1u << 24;         // lives in a big frame; never moved
constexpr uint32_t mark = 1u << 27;        // collector mark
constexpr uint32_t head_room = 1u << 28;   // data started mid-buffer
constexpr uint32_t allocated = 1u << 29;   // made by the allocator
constexpr uint32_t in_use = 1u << 31;
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

// The buffer a node designates now. Re-read after any allocation.
Series* buffer(Node n);

// --- allocation ---------------------------------------------------------------
// offset: bytes of head room before the head; -1 puts the head at the middle.
Node alloc_series(uint32_t count, uint32_t unit, int32_t offset = 0);
Node alloc_cells(uint32_t count);
Node alloc_cells_unset(uint32_t count);   // whole capacity filled with unset!
Node alloc_bytes(uint32_t count);         // count 0 gives 16 bytes
Node alloc_series_unit(uint32_t count, uint32_t unit);  // count 0 gives 16 bytes' worth
Node alloc_bytes_filled(uint32_t count, uint8_t byte);
Node alloc_big_series(uint32_t count, uint32_t unit, int32_t offset = 0);  // C heap

// Gives the node a new buffer of new_size bytes (0: twice the capacity) with the
// same flags and the same head-to-tail distance; the old buffer becomes garbage.
// Sizes are checked in 64 bits: past the limit raises the no-memory error.
Series* expand_series(Node n, uint64_t new_size);
Series* expand_series_copy(Node n, uint64_t new_size);  // old content copied over
Series* expand_series_fill(Node n, uint64_t new_size, uint8_t byte);
Node copy_series(Node n);
void set_series_flags(Node n, uint32_t bits);

// --- the C heap for the runtime's own tables -------------------------------------
// Failure is fatal error 94.
void* allocate(size_t size);
void* allocate_zeroed(size_t size);
void* reallocate(void* p, size_t size);
void free(void* p);

// Keeps a buffer in place while script code may run.
class Pin {
public:
    explicit Pin(Node n);
    ~Pin();
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

private:
    Node node_;
};

}  // namespace zan::memory
