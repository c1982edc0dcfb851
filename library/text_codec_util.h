// Shared by the JSON and CSV routines: a string's characters copied out as
// code points (so no buffer pointer outlives an allocation), a string! built
// back from them in its narrowest unit, and UTF-8 output.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/string.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zan::library::text_codec {

// The characters from the string's position to its tail.
inline void code_points_into(const Cell& str, std::u32string& out) {
    uint32_t n = string::length(str);
    out.resize(n);
    memory::Series* b = memory::buffer(series_node(str));
    uint32_t unit = b->unit();
    const std::byte* p = b->at_head() + series_index(str) * unit;
    for (uint32_t i = 0; i < n; ++i) out[i] = char32_t(string::get_char(p + i * unit, unit));
}
inline std::u32string code_points(const Cell& str) {
    std::u32string out;
    code_points_into(str, out);
    return out;
}

// A new string! of n characters, one a unit, in the narrowest unit that holds
// them; the caller roots it.
template <typename Unit>
Cell make_string(const Unit* text, size_t n) {
    uint32_t top = 0;
    for (size_t i = 0; i < n; ++i) top = std::max(top, uint32_t(text[i]));
    uint32_t unit = top < 0x100 ? 1 : top < 0x10000 ? 2 : 4;
    Cell c;
    string::make_at(c, uint32_t(n), unit);
    memory::Series* b = memory::buffer(series_node(c));
    std::byte* p = b->at_head();
    if (unit == sizeof(Unit)) {
        std::memcpy(p, text, n * unit);
    } else {
        for (size_t i = 0; i < n; ++i) string::put_char(p + i * unit, unit, uint32_t(text[i]));
    }
    b->tail = b->head + uint32_t(n) * unit;
    return c;
}
inline Cell make_string(const std::u32string& text) { return make_string(text.data(), text.size()); }

inline void append_utf8_cp(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace zan::library::text_codec
