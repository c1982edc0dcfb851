// Base 2, 16, 58 and 64 text of bytes, for enbase, debase and issue! to
// binary!.
//
// Encoders append plain ASCII; decoders take code points and answer false on
// invalid input, leaving the caller to report it. Decoders skip blanks and
// ";" comments up to the line end as each base allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace zan::binary {

void encode_base2(const uint8_t* bytes, size_t n, std::string& out);
void encode_base16(const uint8_t* bytes, size_t n, std::string& out);
void encode_base58(const uint8_t* bytes, size_t n, std::string& out);
void encode_base64(const uint8_t* bytes, size_t n, std::string& out);
// Write into out, which has room for the whole text; answer its end.
char* encode_base16_into(const uint8_t* bytes, size_t n, char* out);
char* encode_base64_into(const uint8_t* bytes, size_t n, char* out);

// Code points of the text, one a unit of `unit` bytes (1, 2 or 4).
struct Text {
    const std::byte* data;
    size_t count;
    uint32_t unit;
    uint32_t at(size_t i) const;
};
bool decode_base2(const Text& text, std::string& out);
bool decode_base16(const Text& text, std::string& out);
bool decode_base58(const Text& text, std::string& out);
bool decode_base64(const Text& text, std::string& out);

// By base number (2, 16, 58, 64); any other base answers false.
bool decode_base(int base, const Text& text, std::string& out);
bool encode_base(int base, const uint8_t* bytes, size_t n, std::string& out);

// Makes these the encoders and decoders of the enbase and debase natives.
void install_base_encodings();

}  // namespace zan::binary
