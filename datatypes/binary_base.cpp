// Base 2, 16, 58 and 64 encoders and decoders, and their installation as the
// services of the enbase and debase natives.
//
// Decoders are table driven: one class table per base says for each ASCII
// code whether it is a digit (its value), a blank to skip, the comment start,
// or invalid. Any code point above 127 is invalid in every base: a decoder
// never folds it onto an ASCII letter and never stops early as if the data
// had ended there.
#include "datatypes/binary_base.h"

#include <array>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/natives_text.h"
#include "runtime/memory.h"

namespace zan::binary {

namespace {

constexpr int8_t invalid = -1, blank = -2, comment = -3, pad = -4;

constexpr char alphabet58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char alphabet64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char hex_digits[] = "0123456789ABCDEF";

using Classes = std::array<int8_t, 128>;

// Base 2 and 16 skip every control and the space; 58 and 64 only the usual
// blanks and the apostrophe.
constexpr Classes make_classes(const char* digits, int count, bool wide_blanks, bool hex) {
    Classes c{};
    for (auto& x : c) x = invalid;
    for (int i = 0; i < count; ++i) c[size_t(uint8_t(digits[i]))] = int8_t(i);
    if (hex)
        for (int i = 10; i < 16; ++i) c[size_t('a' + i - 10)] = int8_t(i);
    if (wide_blanks) {
        for (int i = 0; i <= 32; ++i) c[size_t(i)] = blank;
    } else {
        for (char b : {'\b', '\t', '\n', '\f', '\r', ' ', '\''}) c[size_t(uint8_t(b))] = blank;
    }
    c[size_t(';')] = comment;
    return c;
}

constexpr Classes classes2 = make_classes("01", 2, true, false);
constexpr Classes classes16 = make_classes(hex_digits, 16, true, true);
constexpr Classes classes58 = make_classes(alphabet58, 58, false, false);
constexpr Classes classes64 = [] {
    Classes c = make_classes(alphabet64, 64, false, false);
    c[size_t('=')] = pad;
    return c;
}();

// Walks the digits of the text: fn(value) for each digit, fn(pad) for a
// pad character when the table has one (fn answers false to stop). Answers
// false on an invalid character.
template <typename Fn>
bool walk(const Text& text, const Classes& classes, Fn&& fn) {
    for (size_t i = 0; i < text.count; ++i) {
        uint32_t c = text.at(i);
        if (c > 127) return false;
        int8_t k = classes[c];
        if (k >= 0 || k == pad) {
            if (!fn(k)) return true;
        } else if (k == comment) {
            while (i + 1 < text.count && text.at(i + 1) != '\n') ++i;
        } else if (k == invalid) {
            return false;
        }
    }
    return true;
}

}  // namespace

uint32_t Text::at(size_t i) const {
    if (unit == 1) return uint32_t(uint8_t(data[i]));
    uint32_t v = 0;
    std::memcpy(&v, data + i * unit, unit);
    return v;
}

// --- encoders -----------------------------------------------------------------------

void encode_base2(const uint8_t* bytes, size_t n, std::string& out) {
    out.reserve(out.size() + n * 8);
    for (size_t i = 0; i < n; ++i)
        for (int bit = 7; bit >= 0; --bit) out.push_back((bytes[i] >> bit) & 1 ? '1' : '0');
}

char* encode_base16_into(const uint8_t* bytes, size_t n, char* p) {
    for (size_t i = 0; i < n; ++i) {
        p[2 * i] = hex_digits[bytes[i] >> 4];
        p[2 * i + 1] = hex_digits[bytes[i] & 15];
    }
    return p + 2 * n;
}

void encode_base16(const uint8_t* bytes, size_t n, std::string& out) {
    size_t at = out.size();
    out.resize(at + n * 2);
    encode_base16_into(bytes, n, out.data() + at);
}

void encode_base58(const uint8_t* bytes, size_t n, std::string& out) {
    size_t zeros = 0;
    while (zeros < n && bytes[zeros] == 0) ++zeros;
    out.append(zeros, '1');
    // Repeated division by 58 of a working copy, least significant digit first.
    std::string work(reinterpret_cast<const char*>(bytes + zeros), n - zeros);
    std::string digits;
    size_t start = 0;
    while (start < work.size()) {
        uint32_t rem = 0;
        for (size_t i = start; i < work.size(); ++i) {
            uint32_t cur = rem * 256 + uint8_t(work[i]);
            work[i] = char(cur / 58);
            rem = cur % 58;
        }
        digits.push_back(alphabet58[rem]);
        while (start < work.size() && work[start] == 0) ++start;
    }
    out.append(digits.rbegin(), digits.rend());
}

namespace {

// Two output characters for every 12 bits: half the lookups of one table.
const std::array<char, 8192>& digit_pairs64() {
    static const std::array<char, 8192> pairs = [] {
        std::array<char, 8192> t{};
        for (size_t v = 0; v < 4096; ++v) {
            t[2 * v] = alphabet64[v >> 6];
            t[2 * v + 1] = alphabet64[v & 63];
        }
        return t;
    }();
    return pairs;
}

}  // namespace

char* encode_base64_into(const uint8_t* bytes, size_t n, char* p) {
    const char* pairs = digit_pairs64().data();
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        std::memcpy(p, pairs + 2 * (v >> 12), 2);
        std::memcpy(p + 2, pairs + 2 * (v & 4095), 2);
        p += 4;
    }
    if (i < n) {
        uint32_t v = uint32_t(bytes[i]) << 16 | (i + 1 < n ? uint32_t(bytes[i + 1]) << 8 : 0);
        p[0] = alphabet64[v >> 18];
        p[1] = alphabet64[(v >> 12) & 63];
        p[2] = i + 1 < n ? alphabet64[(v >> 6) & 63] : '=';
        p[3] = '=';
        p += 4;
    }
    return p;
}

void encode_base64(const uint8_t* bytes, size_t n, std::string& out) {
    size_t at = out.size();
    out.resize(at + (n + 2) / 3 * 4);
    encode_base64_into(bytes, n, out.data() + at);
}

bool encode_base(int base, const uint8_t* bytes, size_t n, std::string& out) {
    switch (base) {
    case 2: encode_base2(bytes, n, out); return true;
    case 16: encode_base16(bytes, n, out); return true;
    case 58: encode_base58(bytes, n, out); return true;
    case 64: encode_base64(bytes, n, out); return true;
    default: return false;
    }
}

// --- decoders -----------------------------------------------------------------------
// Each writes at most decoded_bound() bytes at out and answers how many, or -1
// for invalid text.

namespace {

int64_t decode2(const Text& text, uint8_t* out) {
    uint8_t* o = out;
    uint32_t acc = 0, bits = 0;
    bool ok = walk(text, classes2, [&](int8_t d) {
        acc = acc << 1 | uint32_t(d);
        if (++bits % 8 == 0) *o++ = uint8_t(acc);
        return true;
    });
    return ok && bits % 8 == 0 ? o - out : -1;
}

int64_t decode16(const Text& text, uint8_t* out) {
    uint8_t* o = out;
    size_t i = 0;
    // Plain runs of digit pairs go straight through.
    if (text.unit == 1) {
        const auto* p = reinterpret_cast<const uint8_t*>(text.data);
        while (i + 2 <= text.count) {
            uint8_t a = p[i], b = p[i + 1];
            if ((a | b) & 0x80) break;
            int8_t ka = classes16[a], kb = classes16[b];
            if ((ka | kb) < 0) break;
            *o++ = uint8_t(ka << 4 | kb);
            i += 2;
        }
    }
    Text rest{text.data + i * text.unit, text.count - i, text.unit};
    int high = -1;
    bool ok = walk(rest, classes16, [&](int8_t d) {
        if (high < 0) {
            high = d;
        } else {
            *o++ = uint8_t(high << 4 | d);
            high = -1;
        }
        return true;
    });
    return ok ? o - out : -1;
}

int64_t decode64(const Text& text, uint8_t* out) {
    uint8_t* o = out;
    uint32_t acc = 0, have = 0;
    bool failed = false;
    size_t i = 0;
    // Plain runs of four alphabet characters go straight through.
    if (text.unit == 1) {
        const auto* p = reinterpret_cast<const uint8_t*>(text.data);
        while (i + 4 <= text.count) {
            uint8_t a = p[i], b = p[i + 1], c = p[i + 2], d = p[i + 3];
            if ((a | b | c | d) & 0x80) break;
            int8_t ka = classes64[a], kb = classes64[b], kc = classes64[c], kd = classes64[d];
            if ((ka | kb | kc | kd) < 0) break;
            uint32_t v = uint32_t(ka) << 18 | uint32_t(kb) << 12 | uint32_t(kc) << 6 | uint32_t(kd);
            o[0] = uint8_t(v >> 16);
            o[1] = uint8_t(v >> 8);
            o[2] = uint8_t(v);
            o += 3;
            i += 4;
        }
    }
    Text rest{text.data + i * text.unit, text.count - i, text.unit};
    bool ok = walk(rest, classes64, [&](int8_t d) {
        if (d == pad) {
            if (have == 3) {
                *o++ = uint8_t(acc >> 10);
                *o++ = uint8_t(acc >> 2);
            } else if (have == 2) {
                *o++ = uint8_t(acc >> 4);
            } else {
                failed = true;
            }
            have = 0;
            return false;
        }
        acc = acc << 6 | uint32_t(d);
        if (++have == 4) {
            *o++ = uint8_t(acc >> 16);
            *o++ = uint8_t(acc >> 8);
            *o++ = uint8_t(acc);
            acc = 0;
            have = 0;
        }
        return true;
    });
    return ok && !failed ? o - out : -1;
}

// Room any decoding of the text in bases 2, 16 and 64 fits in.
size_t decoded_bound(int base, const Text& text) {
    return base == 2 ? text.count / 8 + 1 : base == 16 ? text.count / 2 + 1 : text.count / 4 * 3 + 3;
}

// Appends through the decoder into a string grown to the bound first.
template <typename Decoder>
bool decode_into(const Text& text, std::string& out, int base, Decoder decoder) {
    size_t at = out.size();
    out.resize(at + decoded_bound(base, text));
    int64_t n = decoder(text, reinterpret_cast<uint8_t*>(out.data() + at));
    out.resize(n < 0 ? at : at + size_t(n));
    return n >= 0;
}

}  // namespace

bool decode_base2(const Text& text, std::string& out) { return decode_into(text, out, 2, decode2); }
bool decode_base16(const Text& text, std::string& out) { return decode_into(text, out, 16, decode16); }
bool decode_base64(const Text& text, std::string& out) { return decode_into(text, out, 64, decode64); }

bool decode_base58(const Text& text, std::string& out) {
    size_t zeros = 0;
    bool leading = true;
    std::string big;  // big-endian magnitude of the digits after the leading "1"s
    bool ok = walk(text, classes58, [&](int8_t d) {
        if (leading && d == 0) {
            ++zeros;
            return true;
        }
        leading = false;
        uint32_t carry = uint32_t(d);
        for (size_t i = big.size(); i-- > 0;) {
            carry += uint32_t(uint8_t(big[i])) * 58;
            big[i] = char(uint8_t(carry));
            carry >>= 8;
        }
        while (carry) {
            big.insert(big.begin(), char(uint8_t(carry)));
            carry >>= 8;
        }
        return true;
    });
    if (!ok) return false;
    out.append(zeros, '\0');
    size_t skip = 0;
    while (skip < big.size() && big[skip] == 0) ++skip;
    out.append(big, skip, std::string::npos);
    return true;
}

bool decode_base(int base, const Text& text, std::string& out) {
    switch (base) {
    case 2: return decode_base2(text, out);
    case 16: return decode_base16(text, out);
    case 58: return decode_base58(text, out);
    case 64: return decode_base64(text, out);
    default: return false;
    }
}

// --- the natives' services ----------------------------------------------------------

namespace {

Text text_at(const Cell& text) {
    memory::Series* b = memory::buffer(series_node(text));
    uint32_t unit = b->unit();
    uint32_t len = b->length();
    uint32_t at = std::min(series_index(text), len);
    return Text{b->at_head() + size_t(at) * unit, len - at, unit};
}

// Decodes straight into a new binary made to the bound; the caller keeps the
// text alive across that allocation.
bool decode_service(int base, const Cell& text, Cell& result) {
    if (base == 58) {
        std::string bytes;
        if (!decode_base58(text_at(text), bytes)) return false;
        result = natives::make_binary(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        return true;
    }
    size_t bound = decoded_bound(base, text_at(text));
    Node out = string::make_buffer(series::checked_size(bound, 1), 1);
    Text t = text_at(text);  // after the allocation, which may move the text
    memory::Series* b = memory::buffer(out);
    int64_t n = base == 2 ? decode2(t, reinterpret_cast<uint8_t*>(b->at_head()))
              : base == 16 ? decode16(t, reinterpret_cast<uint8_t*>(b->at_head()))
                           : decode64(t, reinterpret_cast<uint8_t*>(b->at_head()));
    if (n < 0) return false;
    b->tail = b->head + uint32_t(n);
    result = series_cell(Type::binary, out);
    return true;
}

// Appends to the string, whose buffer the caller made with room for the text.
void encode_service(int base, const uint8_t* bytes, size_t n, Node target) {
    memory::Series* b = memory::buffer(target);
    if (b->unit() == 1 && (base == 64 || base == 16)) {
        uint64_t size = base == 64 ? (uint64_t(n) + 2) / 3 * 4 : uint64_t(n) * 2;
        b = series::ensure_room(target, size, false);
        char* p = reinterpret_cast<char*>(b->at_tail());
        char* end = base == 64 ? encode_base64_into(bytes, n, p) : encode_base16_into(bytes, n, p);
        b->tail += uint32_t(end - p);
        return;
    }
    std::string out;
    encode_base(base, bytes, n, out);
    if (b->unit() == 1) {
        b = series::ensure_room(target, out.size(), false);
        std::memcpy(b->at_tail(), out.data(), out.size());
        b->tail += uint32_t(out.size());
    } else {
        Cell s = series_cell(Type::string, target);
        for (char c : out) string::append_char(series_node(s), uint8_t(c));
    }
}

}  // namespace

void install_base_encodings() {
    natives::TextServices s = natives::text_services();
    s.decode_base = &decode_service;
    s.encode_base = &encode_service;
    natives::set_text_services(s);
}

}  // namespace zan::binary
