// The operating-system services: files, HTTP, processes, the clipboard, the
// command line, the environment and OS information. install() puts them in
// place of the datatypes' and natives' empty service tables and registers the
// routines that reach them; start-up calls it before the routines are made.
#pragma once

namespace zan::platform {

void install_services();
// After the boot scripts: the facts they leave room for (system/script/args).
void after_boot();

}  // namespace zan::platform
