// Throwing a code: one C++ exception type, caught by level.
#include "runtime/unwind.h"

namespace zan::unwind {

void raise(uint32_t code) {
    if (code == none) return;
    throw Thrown{code};
}

}  // namespace zan::unwind
