// Process and system facts: the command line as one text, the environment,
// and the OS's name, architecture, version and build.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/cell.h"

namespace zan::platform::system_info {

// The arguments joined by blanks; an empty argument, or one holding a blank
// or a tab, in double quotes.
std::string command_line(const std::vector<std::string>& args);

// The PRETTY_NAME of an os-release text, its quotes and escapes undone;
// empty when it has none.
std::string pretty_name(std::string_view os_release);

struct OsInfo {
    std::string name;
    std::string arch;
    int major = 0, minor = 0, patch = 0;
};
OsInfo os_info();
// The architecture word for a machine name from uname.
std::string arch_word(std::string_view machine);

// A new map! of the environment's names to values.
Cell environment();

void install();
// After the boot scripts: system/script/args.
void after_boot();

}  // namespace zan::platform::system_info
