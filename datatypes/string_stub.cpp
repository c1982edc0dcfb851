// Throwaway string buffers for mold and form until strings land: buffers are
// kept outside the series heap, indexed by handles from a high range.
#include <vector>

#include "datatypes/string_stub.h"

namespace zan::string {

namespace {
constexpr Node base = 0x40000000;
std::vector<std::u32string>& buffers() {
    static std::vector<std::u32string> b;
    return b;
}
std::u32string& at(Node n) { return buffers()[n - base]; }

void put_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}
}  // namespace

Node make_buffer(uint32_t, uint32_t) {
    buffers().emplace_back();
    return base + Node(buffers().size() - 1);
}

void append_char(Node buffer, uint32_t cp) { at(buffer) += char32_t(cp); }

void append_ascii(Node buffer, std::string_view text) {
    for (unsigned char c : text) at(buffer) += char32_t(c);
}

void append_utf8(Node buffer, std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = text[i];
        uint32_t cp = c;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more) cp = c & (0x3F >> more);
        ++i;
        for (int k = 0; k < more && i < text.size(); ++k, ++i) cp = (cp << 6) | (text[i] & 0x3F);
        at(buffer) += char32_t(cp);
    }
}

std::string to_utf8(const Cell& value) {
    std::string out;
    const std::u32string& s = at(series_node(value));
    for (size_t i = series_index(value); i < s.size(); ++i) put_utf8(out, s[i]);
    return out;
}

Cell make_cell(Node buffer, uint32_t index, Type t) { return series_cell(t, buffer, index); }

int32_t last_char(Node buffer) {
    const std::u32string& s = at(buffer);
    return s.empty() ? -1 : int32_t(s.back());
}

void mold_char(Node buffer, uint32_t cp, bool) {
    static const char* const names[] = {"@", "A", "B", "C", "D", "E", "F", "G", "H", "-",
                                        "/", "K", "L", "M", "N", "O", "P", "Q", "R", "S",
                                        "T", "U", "V", "W", "X", "Y", "Z", "[", "\\", "]",
                                        "_"};
    if (cp < 0x1F) {
        append_char(buffer, '^');
        append_ascii(buffer, names[cp]);
    } else if (cp == '"' || cp == '^') {
        append_char(buffer, '^');
        append_char(buffer, cp);
    } else if (cp == 0x7F) {
        append_ascii(buffer, "^~");
    } else {
        append_char(buffer, cp);
    }
}

}  // namespace zan::string
