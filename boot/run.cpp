// The runtime's work once started; nothing runs yet.
#include "boot/run.h"

namespace zan::boot {

int run(int, char**) { return 0; }

}  // namespace zan::boot
