// The operating-system services: files, HTTP, processes, the clipboard, the
// command line, the environment and OS information. install() puts them in
// place of the datatypes' and natives' empty service tables and registers the
// routines that reach them; start-up calls it before the routines are made.
#pragma once

namespace zan::platform {

void install_services();

}  // namespace zan::platform
