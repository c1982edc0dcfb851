// GTK, started on first use: nothing that shows no window needs a display.
// The clipboard and the GUI back end share this one start.
#pragma once

namespace zan::platform::gtk {

// Starts GTK once, when a display is usable; answers whether it runs. A
// failed start is not retried.
bool start();
// Runs hook just before GTK starts (the GUI back end quiets GTK's logs there,
// so that a run showing no window never loads GLib).
void before_start(void (*hook)());
// Whether GTK was started.
bool started();
// Handles pending GTK events without waiting (no-op before start).
void pump();

}  // namespace zan::platform::gtk
