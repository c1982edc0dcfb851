// What the Zanbin walks share: catalogue ids, and the depth guard (a level
// count and a look at how much native stack is left, whichever runs out first).
#include <pthread.h>

#include <cstdint>

#include "codecs/zanbin.h"
#include "codecs/zanbin_internal.h"
#include "datatypes/error.h"
#include "runtime/errors.h"

namespace zan::zanbin::detail {

namespace {

// Room kept free below the deepest frame for whatever the walk calls (the
// allocator, a collection, error building).
constexpr uintptr_t stack_reserve = 512 * 1024;
uintptr_t stack_floor = 0;

uintptr_t here() { return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)); }

}  // namespace

errors::Id catalog_id(errors::Category category, const char* name) {
    int i = error::catalog::find_id(int(category), name);
    return errors::Id{category, uint8_t(i + 2)};
}

uint32_t Depth::level_ = 0;

void Depth::start() {
    level_ = 0;
    pthread_attr_t attr;
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstack(&attr, &addr, &size);
        pthread_attr_destroy(&attr);
    }
    uintptr_t low = reinterpret_cast<uintptr_t>(addr);
    // The main thread's stack may report more than it can grow to; stay within
    // 8 MiB of where the walk starts when the report looks unbounded.
    uintptr_t now = here();
    if (!addr || now - low > (uintptr_t(1) << 32)) low = now > (8u << 20) ? now - (8u << 20) : 0;
    stack_floor = low + stack_reserve;
}

Depth::Depth() {
    if (++level_ > max_depth || here() < stack_floor) {
        --level_;
        errors::fire(errors::id::too_deep);
    }
}

}  // namespace zan::zanbin::detail
