// The services of other subsystems, reached through their own interfaces.
#include "datatypes/series_services.h"

#include "codecs/random.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

namespace zan::series::services {

uint32_t symbol_of(const char* name) { return symbol::make(name); }
uint32_t symbol_of_string(const Cell& string) { return symbol::make_from_string(string); }
uint32_t symbol_canonical(uint32_t id) { return symbol::resolve(id); }

bool ownership_check(const Cell& series, const char* action, int32_t index, int32_t count,
                     const Cell* value) {
    // Only a value flagged as owned has a record; most series have none.
    if (!ownership::table()) return false;
    bool owned = is(series, Type::image)
                     ? has_flag(series, ownership::owned_cell_flag)
                     : (memory::buffer(series_node(series))->flags & memory::flag::owned) != 0;
    if (!owned) return false;
    Cell word = make_cell(Type::word, 0, symbol::make(action), uint32_t(-1));
    return ownership::check(series, word, index, count, -1, value);
}

const Cell* owner_of(Node n) { return ownership::get_owner(n); }

void ownership_release(const Cell& series, int32_t index, int32_t count) {
    memory::Series* b = memory::buffer(series_node(series));
    if (b->unit() != 16 || !(b->flags & memory::flag::owned) || count < 1) return;
    ownership::unset_owner_range(series, uint32_t(index), uint32_t(count));
}

void ownership_adopt(const Cell& series, int32_t index, int32_t count) {
    Node n = series_node(series);
    memory::Series* b = memory::buffer(n);
    if (b->unit() != 16 || !(b->flags & memory::flag::owned) || count < 1) return;
    const Cell* owner_cell = ownership::get_owner(n);
    if (!owner_cell) return;
    Cell owner = *owner_cell, word = *ownership::get_owner_word(n);
    collector::Root keep_owner(owner), keep_word(word);
    collector::NodeRoot keep_series(n);
    for (int32_t i = index; i < index + count; ++i) {
        if (uint32_t(i) >= memory::buffer(n)->length()) break;
        Cell value = memory::buffer(n)->cells()[i];
        collector::Root keep_value(value);
        ownership::set_owner_deep(value, owner, word);
        if (uint32_t(i) < memory::buffer(n)->length()) memory::buffer(n)->cells()[i] = value;
    }
}

void ownership_bind(const Cell& series, const Cell& owner, const Cell& word) {
    Cell value = series;
    ownership::bind(value, owner, word);
}

void ownership_unbind(const Cell& series) {
    Cell value = series;
    ownership::unbind(value);
}

uint32_t murmur3(const void* bytes, size_t length) { return hashtable::murmur3(bytes, length); }

void random_seed(uint32_t seed) { random::seed(int32_t(seed)); }
int32_t random_int_range(bool secure, int32_t n) { return random::int_range(secure, n); }

}  // namespace zan::series::services
