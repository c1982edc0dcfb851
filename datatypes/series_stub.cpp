// Stand-ins for subsystems that have not been merged yet (symbols, ownership,
// random numbers, byte hash, record sorts). Each is replaced by a call to the real interface
// when it lands.
#include <cstring>
#include <vector>

#include "datatypes/series_services.h"
#include "runtime/errors.h"

namespace zan::series::services {

namespace {
uint32_t random_state = 1;
}

uint32_t symbol_of(const char*) { return 0; }
uint32_t symbol_of_string(const Cell&) { return 0; }
Node global_context() { return 0; }
uint32_t symbol_canonical(uint32_t id) { return id; }


bool ownership_check(const Cell&, const char*, int32_t, int32_t) { return false; }
const Cell* owner_of(Node) { return nullptr; }
void ownership_bind(const Cell&, const Cell&, const Cell&) {}
void ownership_unbind(const Cell&) {}

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
