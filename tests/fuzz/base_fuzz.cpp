// libFuzzer target: the base 2, 16, 58 and 64 decoders on any text (bytes as
// 1-byte and 2-byte characters), and each encoder's text decoded back to the
// same bytes. A crash, a sanitizer report or a failed round trip is a fault.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary_base.h"

using namespace zan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;
    const int bases[] = {2, 16, 58, 64};
    binary::Text narrow{reinterpret_cast<const std::byte*>(data), size, 1};
    std::vector<uint16_t> wide(size / 2);
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = uint16_t(data[2 * i] | data[2 * i + 1] << 8);
    binary::Text wide_text{reinterpret_cast<const std::byte*>(wide.data()), wide.size(), 2};
    for (int base : bases) {
        std::string out;
        binary::decode_base(base, narrow, out);
        out.clear();
        binary::decode_base(base, wide_text, out);
        // Base 58 is quadratic: round trips on a prefix only.
        size_t n = base == 58 ? std::min<size_t>(size, 256) : size;
        std::string text, back;
        binary::encode_base(base, data, n, text);
        binary::Text t{reinterpret_cast<const std::byte*>(text.data()), text.size(), 1};
        if (!binary::decode_base(base, t, back)) __builtin_trap();
        if (back.size() != n || (n && std::memcmp(back.data(), data, n) != 0)) __builtin_trap();
    }
    return 0;
}
