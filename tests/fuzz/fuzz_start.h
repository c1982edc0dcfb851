// What the fuzz targets that run library code share: the whole runtime booted
// once per process, and the input bytes as a string! value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "boot/init.h"
#include "datatypes/string.h"

namespace zan::fuzz {

inline void boot_once() {
    static bool ready = [] {
        boot::init();
        return true;
    }();
    (void)ready;
}

// The bytes loaded as UTF-8 text; the caller roots the answer.
inline Cell text_of(const uint8_t* data, size_t size) {
    Cell text;
    string::load_at(data, uint32_t(size), text, 0);
    return text;
}

}  // namespace zan::fuzz
