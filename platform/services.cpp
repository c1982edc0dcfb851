// Installs every OS service in one place, so start-up names one call.
#include "platform/services.h"

#include "platform/files.h"
#include "platform/process.h"

namespace zan::platform {

void install_services() {
    static bool done = false;
    if (done) return;
    done = true;
    files::install();
    process::install();
}

}  // namespace zan::platform
