// Helpers of the codec tests: hex literals and byte strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zan::test {

using Bytes = std::vector<uint8_t>;

inline Bytes hex(std::string_view text) {
    Bytes out;
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(uint8_t(digit(text[i]) << 4 | digit(text[i + 1])));
    return out;
}

inline Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes repeat(std::string_view text, size_t times) {
    Bytes out;
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), text.begin(), text.end());
    return out;
}

// Bytes that no LZ77 coder can shrink.
inline Bytes noise(size_t n, uint32_t seed = 1) {
    Bytes out(n);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (auto& b : out) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        b = uint8_t(x >> 24);
    }
    return out;
}

}  // namespace zan::test
