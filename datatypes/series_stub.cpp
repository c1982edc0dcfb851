// Stand-ins for subsystems that have not been merged yet (symbols, ownership,
// random numbers, byte hash). Each is replaced by a call to the real interface
// when it lands.
#include <cstring>
#include <vector>

#include "datatypes/series_services.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::series::services {

namespace {
uint32_t random_state = 1;
}

uint32_t symbol_of(const char*) { return 0; }
uint32_t symbol_of_string(const Cell&) { return 0; }
Node global_context() { return 0; }
uint32_t symbol_canonical(uint32_t id) { return id; }

namespace {
Node guard[1000];
int guard_top = 0;
}  // namespace
void cycle_push(Node n) {
    if (guard_top == 999) {
        guard_top = 0;
        errors::fire(errors::id::too_deep);
    }
    guard[guard_top++] = n;
}
void cycle_pop() {
    if (guard_top) --guard_top;
}
bool cycle_find(Node n) {
    for (int i = 0; i < guard_top; ++i)
        if (guard[i] == n) return true;
    return false;
}
void cycle_reset() { guard_top = 0; }

bool ownership_check(const Cell&, const char*, int32_t, int32_t) { return false; }
const Cell* owner_of(Node) { return nullptr; }
void ownership_bind(const Cell&, const Cell&, const Cell&) {}
void ownership_unbind(const Cell&) {}

void text_append(Node buffer, const char* text) {
    size_t n = std::strlen(text);
    memory::Series* b = memory::buffer(buffer);
    if (b->tail + n > b->capacity) b = memory::expand_series_copy(buffer, (b->tail + n) * 2);
    std::memcpy(b->at_tail(), text, n);
    b->tail += uint32_t(n);
}
int32_t text_last(Node buffer) {
    memory::Series* b = memory::buffer(buffer);
    return b->tail > b->head ? int32_t(uint8_t(b->at_tail()[-1])) : -1;
}

void sort_records(void* base, int32_t count, uint32_t size, bool, int32_t mode, int32_t flags,
                  RecordCompare cmp) {
    // Insertion sort: stable, and enough until the record sorts land.
    auto* p = static_cast<std::byte*>(base);
    std::vector<std::byte> temp(size);
    for (int32_t i = 1; i < count; ++i) {
        std::memcpy(temp.data(), p + size_t(i) * size, size);
        int32_t j = i;
        while (j > 0 && cmp(p + size_t(j - 1) * size, temp.data(), mode, flags) > 0) {
            std::memcpy(p + size_t(j) * size, p + size_t(j - 1) * size, size);
            --j;
        }
        std::memcpy(p + size_t(j) * size, temp.data(), size);
    }
}

void random_seed(uint32_t seed) { random_state = seed ? seed : 1; }

int32_t random_int_range(bool, int32_t n) {
    random_state ^= random_state << 13;
    random_state ^= random_state >> 17;
    random_state ^= random_state << 5;
    return int32_t(random_state % uint32_t(n)) + 1;
}

uint32_t murmur3(const void* bytes, size_t length) {
    uint32_t h = 2166136261u;
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

}  // namespace zan::series::services
