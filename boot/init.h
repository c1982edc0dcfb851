// Runtime initialisation: the order in which start-up brings the runtime up,
// and the boot image that holds the language's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zan::boot {

// Brings the runtime up and decodes the boot image embedded in the
// executable: afterwards every global word of the library has its value.
// Runs once; later calls do nothing. Without an embedded image (the image
// generator itself) it stops after the runtime and the C++ registries.
void init();

// The steps of init, for the image generator, which runs the boot scripts
// from text in place of the decoding:
// memory, datatypes, symbols, the global context, the stacks, the action and
// natives tables, the interpreter, the datatype and runtime words, the boot
// typesets; the collector is on at the end.
void init_runtime();
// The C++ functions the library's values name by key: routines, predicates,
// compiled bodies, the OS services. Must precede any decoding of routines.
void install_registries();
// What the runtime keeps on its own side of the library once it exists: the
// error catalogue in `system`, the library context's marker, the compiled
// bodies.
void finish_library();

// The embedded boot image (empty in the image generator).
std::string_view image();

// ZAN_BOOT_TIMES=1: phase times on standard error.
void phase(const char* name);

// Loads UTF-8 text into a block whose words are bound to the global context.
Cell load_text(std::string_view utf8);

}  // namespace zan::boot
