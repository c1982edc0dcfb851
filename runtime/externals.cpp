// The externals table: records chained into a live list and a free list by
// index, so the table can grow (doubling) without invalidating any index a
// value holds. The last free record is never handed out: the table grows
// first, so the free list is never empty.
#include "runtime/externals.h"

#include "runtime/memory.h"

namespace zan::externals {

namespace {

constexpr uint32_t kind_mask = 0xFF;
constexpr uint32_t free_bit = 0x40000000;
constexpr uint32_t mark_bit = 0x80000000;
constexpr uint32_t start_capacity = 1000;

struct Record {
    uint32_t kind;  // kind number in the low byte, free and mark bits above
    int32_t next;   // next record of its list; -1 ends it
    void* resource;
};

struct Kind {
    const char* name;
    Release release;
};

struct State {
    Kind kinds[max_kinds];
    int kind_count = 0;
    Record* table = nullptr;
    uint32_t capacity = 0;
    int32_t free_head = -1;
    int32_t live_head = -1;
};
State x;

void chain_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i)
        x.table[i] = Record{free_bit, i + 1 < to ? int32_t(i + 1) : -1, nullptr};
}

void grow() {
    uint32_t old = x.capacity;
    x.table = static_cast<Record*>(memory::reallocate(x.table, sizeof(Record) * old * 2));
    x.capacity = old * 2;
    chain_free(old, x.capacity);
    x.table[x.free_head].next = int32_t(old);
}

bool live(int32_t index) {
    return index >= 0 && uint32_t(index) < x.capacity && !(x.table[index].kind & free_bit);
}

void unlink_live(int32_t index) {
    if (x.live_head == index) {
        x.live_head = x.table[index].next;
        return;
    }
    for (int32_t i = x.live_head; i != -1; i = x.table[i].next) {
        if (x.table[i].next == index) {
            x.table[i].next = x.table[index].next;
            return;
        }
    }
}

void push_free(int32_t index) {
    x.table[index] = Record{free_bit, x.free_head, nullptr};
    x.free_head = index;
}

}  // namespace

void init() {
    if (x.table) return;
    x.table = static_cast<Record*>(memory::allocate(sizeof(Record) * start_capacity));
    x.capacity = start_capacity;
    chain_free(0, start_capacity);
    x.free_head = 0;
    x.live_head = -1;
}

int register_kind(const char* name, Release release) {
    if (x.kind_count == max_kinds) return 0;
    x.kinds[x.kind_count] = Kind{name, release};
    return ++x.kind_count;
}

const char* kind_name(int kind) { return kind >= 1 && kind <= x.kind_count ? x.kinds[kind - 1].name : nullptr; }

int32_t add(void* resource, int kind) {
    init();
    if (x.table[x.free_head].next == -1) grow();
    int32_t index = x.free_head;
    x.free_head = x.table[index].next;
    x.table[index] = Record{uint32_t(kind) & kind_mask, x.live_head, resource};
    x.live_head = index;
    return index;
}

void release(uint32_t kind_word, void* resource) {
    int kind = int(kind_word & kind_mask);
    if (kind >= 1 && kind <= x.kind_count && x.kinds[kind - 1].release) x.kinds[kind - 1].release(resource);
}

void replace(int32_t index, void* resource) {
    if (!live(index)) return;
    Record& r = x.table[index];
    void* old = r.resource;
    r.resource = resource;
    if (old != resource) release(r.kind, old);
}

int32_t remove(int32_t index, bool release_it) {
    if (!live(index)) return -1;
    if (release_it) release(x.table[index].kind, x.table[index].resource);
    unlink_live(index);
    push_free(index);
    return -1;
}

bool mark(int32_t index, void* resource) {
    if (!live(index)) return false;
    Record& r = x.table[index];
    if (resource) r.resource = resource;
    if (r.kind & mark_bit) return false;
    r.kind |= mark_bit;
    return true;
}

void for_each_of_kind(int kind, void (*fn)(void* resource)) {
    for (int32_t i = x.live_head; i != -1; i = x.table[i].next)
        if (int(x.table[i].kind & kind_mask) == kind) fn(x.table[i].resource);
}

void* resource(int32_t index) { return live(index) ? x.table[index].resource : nullptr; }
int kind_of(int32_t index) { return live(index) ? int(x.table[index].kind & kind_mask) : 0; }
uint32_t capacity() { return x.capacity; }

void sweep() {
    int32_t prev = -1;
    for (int32_t i = x.live_head; i != -1;) {
        Record& r = x.table[i];
        int32_t next = r.next;
        if (r.kind & mark_bit) {
            r.kind &= ~mark_bit;
            prev = i;
        } else {
            // Unlink and free the record before the callback runs, so a
            // callback that looks at the table finds it consistent.
            uint32_t kind = r.kind;
            void* res = r.resource;
            (prev == -1 ? x.live_head : x.table[prev].next) = next;
            push_free(i);
            release(kind, res);
        }
        i = next;
    }
}

}  // namespace zan::externals
