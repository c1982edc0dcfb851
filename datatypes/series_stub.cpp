// Stand-ins for subsystems that have not been merged yet (the global context,
// the random generator). Each is replaced by a call to the real interface when
// it lands.
#include "datatypes/series_services.h"

namespace zan::series::services {

namespace {
uint32_t random_state = 1;
}

Node global_context() { return 0; }

void random_seed(uint32_t seed) { random_state = seed ? seed : 1; }

int32_t random_int_range(bool, int32_t n) {
    random_state ^= random_state << 13;
    random_state ^= random_state >> 17;
    random_state ^= random_state << 5;
    return int32_t(random_state % uint32_t(n)) + 1;
}

}  // namespace zan::series::services
