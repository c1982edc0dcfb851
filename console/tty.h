// The terminal variant of the console: its low-level routines.
#pragma once

namespace zan::console {

// Registers the console's routines (console-read-line, console-read-key ...)
// before the boot scripts declare them.
void install();

}  // namespace zan::console
