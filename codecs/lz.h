// The runtime's own LZ codec: the compression of Zanbin buffers.
//
// A stream is an 8-byte header (payload size, uncompressed size; u32 little
// endian) and then blocks until the payload is used up: a u32 block size n
// (1 to 1,048,576) and a bit stream, least-significant bit first, that makes
// exactly n bytes and ends at the byte boundary after its last code. Codes are
// a literal (flag 0, 8 bits) or a match (flag 1, length 3-566, distance
// 1-262,144 within the block). Bytes after the payload are not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zan::lz {

constexpr uint32_t header_size = 8;
constexpr uint32_t max_block = 0x100000;
constexpr uint32_t min_input = 128;  // shorter input is never compressed

// Decodes the stream held in `length` bytes into out (replacing its content).
// Answers false, leaving out empty, when the stream is corrupt: a header or
// payload past the input, a bad block size, a match outside its block, a
// declared size that the payload cannot produce, or an output of another size
// than the header declares. Never reads past in + length.
bool decompress(const uint8_t* in, size_t length, std::vector<uint8_t>& out);

// The uncompressed size the header declares, or -1 when fewer than 8 bytes.
int64_t declared_size(const uint8_t* in, size_t length);

// Compresses into out (replacing its content) and answers true; false when the
// input is shorter than 128 bytes or would not get smaller (out is then empty
// and the caller keeps the data as it is).
bool compress(const uint8_t* in, size_t length, std::vector<uint8_t>& out);

}  // namespace zan::lz
