// Installs every OS service in one place, so start-up names one call.
#include "platform/services.h"

#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/process.h"
#include "platform/system_info.h"

namespace zan::platform {

void install_services() {
    static bool done = false;
    if (done) return;
    done = true;
    files::install();
    clipboard::install();
    http::install();
    process::install();
    system_info::install();
}

void after_boot() { system_info::after_boot(); }

}  // namespace zan::platform
