// Process entry: the runtime runs on a thread of its own with a large stack;
// this thread only waits for it and hands on its exit status.
#include "boot/run.h"
#include "runtime/platform.h"

int main(int argc, char** argv) { return zan::platform::start(argc, argv, zan::boot::run); }
