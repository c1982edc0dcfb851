// Non-local exits of the runtime.
//
// A throw carries a 32-bit code. A catcher guards a call with a catch level and
// stops every code that is not above it (unsigned comparison); codes it does not
// own it throws on. Codes travel as one C++ exception type so that destructors
// (root guards, pins) run on the way out; nothing here uses setjmp/longjmp.
#pragma once

#include <cstdint>

namespace zan::unwind {

// Thrown codes, highest first; a catch level lets pass every code above it.
enum Code : uint32_t {
    none = 0,
    lexer = 10,
    quiet_end = 0x0BADCAFE,
    page_release_failed = 0x7FFFFFF6,
    page_alloc_failed = 0x7FFFFFF7,
    page_guard = 0x7FFFFFF8,
    int_overflow = 0x7FFFFFF9,
    throw_ = 0x7FFFFFFA,
    exit = 0x7FFFFFFB,
    return_ = 0x7FFFFFFC,
    continue_ = 0x7FFFFFFD,
    break_ = 0x7FFFFFFE,
    error = 0x7FFFFFFF,
    catch_all = 0xFFFFFFFF,
};

struct Thrown {
    uint32_t code;
};

// Leaves every frame up to the nearest catcher whose level is not below the code.
// A code of 0 returns at once.
void raise(uint32_t code);

// Runs body; a thrown code at or below level is answered, a higher one passes on.
// Answers 0 when body finished normally.
template <typename Body>
uint32_t guard(uint32_t level, Body&& body) {
    try {
        body();
        return 0;
    } catch (const Thrown& t) {
        if (t.code > level) throw;
        return t.code;
    }
}

// Answers a stopped code when it lies in [low, high] (and 0 as it is); any
// other code is thrown on. Catchers use it after guard() for the codes they own.
uint32_t own(uint32_t code, uint32_t low, uint32_t high);

}  // namespace zan::unwind
