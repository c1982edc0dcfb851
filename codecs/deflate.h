// DEFLATE, and the zlib and gzip framings around it. zlib does the coding
// (level 6, raw streams); the framing is ours:
//   zlib: 78 01, the data, the Adler-32 of the output big-endian;
//   gzip: 1F 8B 08 00, MTIME 0, XFL 4, OS 4, the data, then CRC-32 and the
//         length mod 2^32, both little-endian.
// Decoding is strict: headers are checked, each trailer is read right after
// its data and must match, gzip members are decoded in turn and joined, and
// nothing may follow the zlib trailer or the last gzip member. Raw DEFLATE
// must reach its final block; bytes after it are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/byte_buffer.h"

namespace zan::deflate {

// The method numbers the compress and decompress natives pass.
enum class Method : int { zlib = 0, raw = 1, gzip = 2 };

enum class Result {
    ok,
    bad_data,   // bad framing, a checksum mismatch, or a corrupt or cut stream
    too_large,  // the output would pass the caller's limit
};

// DEFLATE's largest expansion: 258 bytes from a 2-bit code.
constexpr uint64_t max_ratio = 1032;

// Compresses the input into out (replacing its content). An input that
// already starts 1F 8B 08 (and is longer than 2 bytes) is copied as it is
// for gzip.
void compress(Method method, const uint8_t* in, size_t length, ByteBuffer& out);

// Decodes the input into out (replacing its content). The hint (an expected
// size, 0 for none) only sizes the first allocation, which is also clamped to
// what the input can produce; the output grows as needed up to limit bytes.
// On failure out is empty.
Result decompress(Method method, const uint8_t* in, size_t length, size_t hint, size_t limit,
                  ByteBuffer& out);

}  // namespace zan::deflate
