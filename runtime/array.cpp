// Typed arrays over series buffers: the unit is the buffer's own, the length is
// tail - head, and growth doubles the capacity through the memory manager
// (which may collect, so no buffer address is kept across it).
#include "runtime/array.h"

#include <algorithm>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::array {

namespace {

using memory::Series;

uint32_t used_bytes(Series* s) { return s->tail - s->head; }

// A buffer with room for extra more bytes at its tail.
Series* room(Node a, uint32_t extra) {
    Series* s = memory::buffer(a);
    if (uint64_t(s->capacity) - s->tail >= extra) return s;
    uint64_t needed = uint64_t(used_bytes(s)) + extra;
    uint64_t size = std::max<uint64_t>(uint64_t(s->capacity) * 2, 16);
    while (size < needed) size *= 2;
    return memory::expand_series_copy(a, size);
}

// The byte offset of 1-based word i, or the out-of-range error.
uint32_t word_at(Series* s, uint32_t i) {
    if (i == 0 || i > used_bytes(s) / 4) {
        Cell index = integer_cell(int32_t(i));
        errors::fire(errors::id::out_of_range, &index);
    }
    return s->head + (i - 1) * 4;
}

uint32_t load(Series* s, uint32_t offset) {
    uint32_t v;
    std::memcpy(&v, s->data() + offset, 4);
    return v;
}

void store(Series* s, uint32_t offset, uint32_t v) { std::memcpy(s->data() + offset, &v, 4); }

}  // namespace

Node make(uint32_t count, uint32_t unit) { return memory::alloc_series(count, unit); }

uint32_t length(Node a) { return memory::buffer(a)->length(); }

void clear(Node a) {
    Series* s = memory::buffer(a);
    s->tail = s->head;
}

void set_last(Node a, uint32_t n) {
    Series* s = memory::buffer(a);
    uint64_t bytes = n == 0 ? 0 : uint64_t(n - 1) * s->unit();
    s->tail = s->head + uint32_t(std::min<uint64_t>(bytes, s->capacity - s->head));
}

Node copy(Node a) { return memory::copy_series(a); }

std::byte* head(Node a) { return memory::buffer(a)->at_head(); }

void append_byte(Node a, uint8_t b) {
    Series* s = room(a, 1);
    s->data()[s->tail++] = std::byte(b);
}

uint8_t pick_byte(Node a, uint32_t i) {
    Series* s = memory::buffer(a);
    if (i == 0 || i > used_bytes(s)) {
        Cell index = integer_cell(int32_t(i));
        errors::fire(errors::id::out_of_range, &index);
    }
    return uint8_t(s->data()[s->head + i - 1]);
}

void append_bytes(Node a, const void* bytes, std::size_t n) {
    if (n > memory::max_capacity) errors::fire(errors::id::no_memory);
    Series* s = room(a, uint32_t(n));
    if (n) std::memcpy(s->at_tail(), bytes, n);
    s->tail += uint32_t(n);
}

void remove_bytes(Node a, uint32_t offset, uint32_t n) {
    Series* s = memory::buffer(a);
    uint32_t used = used_bytes(s);
    if (offset >= used) return;
    n = std::min(n, used - offset);
    std::byte* at = s->at_head() + offset;
    std::memmove(at, at + n, used - offset - n);
    s->tail -= n;
}

void append_int(Node a, uint32_t v) {
    Series* s = room(a, 4);
    store(s, s->tail, v);
    s->tail += 4;
}

uint32_t pick_int(Node a, uint32_t i) {
    Series* s = memory::buffer(a);
    return load(s, word_at(s, i));
}

void insert_int(Node a, uint32_t v, uint32_t i) {
    Series* s = memory::buffer(a);
    if (i > used_bytes(s) / 4) {
        Cell index = integer_cell(int32_t(i));
        errors::fire(errors::id::out_of_range, &index);
    }
    s = room(a, 4);
    std::byte* at = s->at_head() + i * 4;
    std::memmove(at + 4, at, used_bytes(s) - i * 4);
    store(s, s->head + i * 4, v);
    s->tail += 4;
}

int32_t find_int(Node a, uint32_t v) {
    Series* s = memory::buffer(a);
    uint32_t used = used_bytes(s) / 4 * 4;
    for (uint32_t offset = 0; offset < used; offset += 4)
        if (load(s, s->head + offset) == v) return int32_t(offset);
    return -1;
}

uint32_t pick_ptr(Node a, uint32_t i) { return pick_int(a, i); }

void poke_ptr(Node a, uint32_t i, uint32_t p) {
    Series* s = memory::buffer(a);
    store(s, word_at(s, i), p);
}

void remove_ptr(Node a, uint32_t p) {
    int32_t at = find_int(a, p);
    if (at >= 0) remove_bytes(a, uint32_t(at), 4);
}

}  // namespace zan::array

namespace zan::series {

void append_int(Node s, uint32_t v) { array::append_int(s, v); }

int32_t find_ptr(Node s, uint32_t p) { return array::find_int(s, p); }

}  // namespace zan::series
