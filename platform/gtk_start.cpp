// The lazy GTK start.
//
// GTK would set the C locale from the environment, which changes how the C
// library reads and writes numbers: that is switched off before the start.
#include "platform/gtk_start.h"

#include <gtk/gtk.h>

#include <cstdlib>

namespace zan::platform::gtk {

namespace {
enum class State { untried, running, failed } state = State::untried;
void (*hook_before)() = nullptr;
}

void before_start(void (*hook)()) { hook_before = hook; }

bool start() {
    if (state == State::untried) {
        const char* x = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        bool display = (x && *x) || (wayland && *wayland);
        if (hook_before) hook_before();
        gtk_disable_setlocale();
        state = display && gtk_init_check(nullptr, nullptr) ? State::running : State::failed;
    }
    return state == State::running;
}

bool started() { return state == State::running; }

void pump() {
    if (state != State::running) return;
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

}  // namespace zan::platform::gtk
