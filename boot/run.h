// What the runtime thread runs: initialisation, then the script or the
// expression reader.
#pragma once

#include <cstdint>
#include <string>

namespace zan::boot {

// Runs on the runtime thread under the outermost catch; answers the exit status.
int run(int argc, char** argv);

// Puts quit-return into the routine registry.
void register_routines();

// Ends the script with an exit status (quit/return): unwinds to the runner.
[[noreturn]] void quit(int32_t status);

// The report of the error in flight, as shown for an uncaught error.
std::string error_report();

}  // namespace zan::boot
