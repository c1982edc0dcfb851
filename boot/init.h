// Runtime initialisation: the order in which start-up brings the runtime up,
// and the boot scripts that define the language's words.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zan::boot {

// One embedded boot script (library/, gui/view/, console/), named by its path
// under the source root, as UTF-8 text.
struct Script {
    const char* name;
    const unsigned char* text;
    uint32_t size;
};
extern const Script scripts[];  // ends with a null name
extern const int script_count;

// Brings the runtime up: memory, datatypes, symbols, contexts, the stacks,
// the action and natives tables, the interpreter, then the boot scripts.
// Runs once; later calls do nothing.
void init();

// Loads UTF-8 text into a block whose words are bound to the global context.
Cell load_text(std::string_view utf8);

}  // namespace zan::boot
