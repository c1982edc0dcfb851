// libFuzzer target: any bytes through the LZ decoder. A refusal is expected;
// a crash, a sanitizer report, a read past the input or an output of another
// size than the header declares is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/lz.h"

using namespace zan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size), out;  // exact size: reads past it are seen
    if (lz::decompress(copy.data(), copy.size(), out)) {
        if (int64_t(out.size()) != lz::declared_size(copy.data(), copy.size())) std::abort();
    } else if (!out.empty()) {
        std::abort();
    }
    return 0;
}
