// libFuzzer target: any bytes compressed with the LZ codec and decoded back
// must give the same bytes; input under 128 bytes or that would not shrink
// must be refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/lz.h"

using namespace zan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Short inputs repeated, so that matches of every length and distance occur.
    std::vector<uint8_t> in;
    size_t times = size ? 1 + data[0] % 8 : 0;
    for (size_t i = 0; i < times; ++i) in.insert(in.end(), data, data + size);
    std::vector<uint8_t> packed, back;
    if (!lz::compress(in.data(), in.size(), packed)) {
        if (!packed.empty()) std::abort();
        return 0;
    }
    if (in.size() < lz::min_input || packed.size() >= in.size()) std::abort();
    if (!lz::decompress(packed.data(), packed.size(), back) || back != in) std::abort();
    return 0;
}
