// The boot from text that zan-bootgen runs: the boot scripts loaded and
// evaluated in their manifest order, then the state they built written out
// as the boot image that zan decodes at start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zan::bootgen {

struct Script {
    std::string path;  // as named in errors
    std::string text;  // UTF-8
};

// Brings the runtime up and runs the scripts. A script that does not load
// or raises an error at its top level is reported on standard error as
// "path:line: " and the error's report; answers false then.
bool run(const std::vector<Script>& scripts);

// The boot image of the state run() built: the global words in their order,
// the library context, every global word's value with sharing kept, and a
// definition for each word that has a value. Raises (and reports, naming the
// word) when a value cannot be written.
std::vector<uint8_t> write_image();

}  // namespace zan::bootgen
