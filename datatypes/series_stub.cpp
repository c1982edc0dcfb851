// Stand-in for the random generator, which belongs to a subsystem not built
// yet: a small xorshift, replaced by a call to the real generator when it lands.
#include "datatypes/series_services.h"

namespace zan::series::services {

namespace {
uint32_t random_state = 1;
}

void random_seed(uint32_t seed) { random_state = seed ? seed : 1; }

int32_t random_int_range(bool, int32_t n) {
    random_state ^= random_state << 13;
    random_state ^= random_state >> 17;
    random_state ^= random_state << 5;
    return int32_t(random_state % uint32_t(n)) + 1;
}

}  // namespace zan::series::services
