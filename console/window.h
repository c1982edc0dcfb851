// Routines of the console window: which console starts, and the settings
// file written so that a failure never leaves half a file behind.
#pragma once

namespace zan::console {

void install_window();

}  // namespace zan::console
