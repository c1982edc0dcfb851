// Throwing a code: one C++ exception type, caught by level.
#include "runtime/unwind.h"

namespace zan::unwind {

void raise(uint32_t code) {
    if (code == none) return;
    throw Thrown{code};
}

uint32_t own(uint32_t code, uint32_t low, uint32_t high) {
    if (code != none && (code < low || code > high)) raise(code);
    return code;
}

}  // namespace zan::unwind
