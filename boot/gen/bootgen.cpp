// zan-bootgen OUT SCRIPT...: boots from the boot scripts' text in the order
// given, runs their top level, writes the boot image to OUT. The image is
// decoded once before it is written, so a build never embeds one that start-up
// cannot read. Exits 1, naming the script and line, on any failure.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "datatypes/block.h"
#include "boot/gen/text_boot.h"
#include "boot/run.h"
#include "codecs/zanbin.h"
#include "runtime/collector.h"
#include "runtime/platform.h"
#include "runtime/unwind.h"

// No image yet: start-up stops after the runtime and its registries.
extern "C" {
extern const unsigned char zan_boot_image[1] = {0};
extern const unsigned long zan_boot_image_size = 0;
}

namespace {

int generate(int argc, char** argv) {
    using namespace zan;
    if (argc < 3) {
        std::fprintf(stderr, "usage: zan-bootgen OUT SCRIPT...\n");
        return 2;
    }
    std::vector<bootgen::Script> scripts;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "zan-bootgen: cannot read %s\n", argv[i]);
            return 1;
        }
        std::stringstream text;
        text << in.rdbuf();
        scripts.push_back({argv[i], text.str()});
    }
    if (!bootgen::run(scripts)) return 1;
    std::vector<uint8_t> image;
    try {
        image = bootgen::write_image();
        Cell check;
        collector::Root keep(check);
        block::make_at(check, 4);
        zanbin::decode_boot(image.data(), image.size(), check);
    } catch (const unwind::Thrown&) {
        std::fprintf(stderr, "zan-bootgen: the boot image cannot be made: %s", boot::error_report().c_str());
        return 1;
    }
    std::string out = argv[1];
    std::ofstream file(out + ".tmp", std::ios::binary);
    file.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    file.close();
    if (!file || std::rename((out + ".tmp").c_str(), out.c_str()) != 0) {
        std::fprintf(stderr, "zan-bootgen: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return zan::platform::start(argc, argv, generate); }
