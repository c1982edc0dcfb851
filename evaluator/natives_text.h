// Set, text and encoding natives: print and prin, stats, the set operations,
// case changes, percent and base encodings, checksums, compression, and the
// front ends of the lexer (transcode) and the parse engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/cell.h"
#include "evaluator/natives.h"

namespace zan::natives {

stack::Status n_print(int32_t check, const int32_t* refs);
stack::Status n_prin(int32_t check, const int32_t* refs);
stack::Status n_stats(int32_t check, const int32_t* refs);
stack::Status n_union(int32_t check, const int32_t* refs);
stack::Status n_intersect(int32_t check, const int32_t* refs);
stack::Status n_unique(int32_t check, const int32_t* refs);
stack::Status n_difference(int32_t check, const int32_t* refs);
stack::Status n_exclude(int32_t check, const int32_t* refs);
stack::Status n_complement_q(int32_t check, const int32_t* refs);
stack::Status n_dehex(int32_t check, const int32_t* refs);
stack::Status n_enhex(int32_t check, const int32_t* refs);
stack::Status n_debase(int32_t check, const int32_t* refs);
stack::Status n_enbase(int32_t check, const int32_t* refs);
stack::Status n_uppercase(int32_t check, const int32_t* refs);
stack::Status n_lowercase(int32_t check, const int32_t* refs);
stack::Status n_to_local_file(int32_t check, const int32_t* refs);
stack::Status n_checksum(int32_t check, const int32_t* refs);
stack::Status n_compress(int32_t check, const int32_t* refs);
stack::Status n_decompress(int32_t check, const int32_t* refs);
stack::Status n_transcode(int32_t check, const int32_t* refs);
stack::Status n_parse(int32_t check, const int32_t* refs);

// Whether the last text print or prin wrote ended with a new line.
bool last_print_newline();

// The services the encoding natives hand their work to: binary! codecs,
// checksums and compression. Each is installed by the subsystem that owns it;
// a native whose service is missing raises internal not-done.
struct TextServices {
    // Decodes the text from its position in base 2, 16, 58 or 64 into a new
    // binary! (the caller keeps the text alive); false when the text holds an
    // invalid character.
    bool (*decode_base)(int base, const Cell& text, Cell& result) = nullptr;
    // Appends the text of the bytes in base 2, 16, 58 or 64 to the string.
    void (*encode_base)(int base, const uint8_t* bytes, size_t length, Node target) = nullptr;
    // crc32, tcp and adler32: method ids 1, 0 and 7.
    int32_t (*sum)(int method, const uint8_t* bytes, size_t length) = nullptr;
    // The digest (key null) or the HMAC of md5, sha1, sha256, sha384, sha512
    // (method ids 2-6) into out, which has room for 64 bytes; false when the
    // crypto library refuses the algorithm.
    bool (*digest)(int method, const uint8_t* bytes, size_t length, const uint8_t* key,
                   size_t key_length, uint8_t* out) = nullptr;
    // The hash-table form of checksum/with an integer size.
    int32_t (*hash_table)(const uint8_t* bytes, size_t length, int32_t size) = nullptr;
    // zlib 0, deflate 1, gzip 2. compress fills out with the whole result.
    // decompress decodes into out, whose first allocation the hint (0: none)
    // sizes; false on bad data or an output longer than limit. Neither
    // allocates series memory, so the input may point into a series.
    void (*compress)(int method, const uint8_t* in, size_t length, ByteBuffer& out) = nullptr;
    bool (*decompress)(int method, const uint8_t* in, size_t length, size_t hint, size_t limit,
                       ByteBuffer& out) = nullptr;
    // The whole content of a file as bytes (raises its own access errors).
    std::string (*read_file)(const Cell& file) = nullptr;
};
void set_text_services(const TextServices& services);
const TextServices& text_services();

// A new binary! holding a copy of the bytes.
Cell make_binary(const uint8_t* bytes, size_t length);

}  // namespace zan::natives
