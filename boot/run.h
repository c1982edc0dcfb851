// What the runtime thread runs: initialisation, then the script or the console.
#pragma once

namespace zan::boot {

// Runs on the runtime thread under the outermost catch; answers the exit status.
int run(int argc, char** argv);

}  // namespace zan::boot
