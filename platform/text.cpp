// Conversions between outside bytes and values.
//
// Decoding makes two passes over the bytes: the first checks the UTF-8 and
// finds the character count and the widest character, the second fills a
// buffer of exactly that size. Big reads thus cost one allocation and no
// widening, and plain ASCII without CR is one copy.
#include "platform/text.h"

#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zan::platform::text {

namespace {

using memory::Series;

bool string_like(Type t) {
    return t == Type::string || t == Type::file || t == Type::url || t == Type::tag ||
           t == Type::email || t == Type::ref;
}

[[noreturn]] void too_big(const Cell* what) {
    Cell none = none_cell();
    errors::fire(id::limit_hit, what ? what : &none);
}

Node decode_node(std::string_view bytes, bool fold, bool skip_bom, const Cell* what) {
    auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint8_t* end = p + bytes.size();
    if (skip_bom && bytes.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;

    uint64_t chars = 0;
    uint32_t widest = 0;
    bool plain = true;  // ASCII without a CR to fold: one copy
    for (const uint8_t* q = p; q < end;) {
        uint8_t b = *q;
        if (b < 0x80) {
            if (b == '\r' && fold) {
                plain = false;
                if (q + 1 < end && q[1] == '\n') {
                    ++q;
                    continue;
                }
            }
            ++chars;
            ++q;
            continue;
        }
        plain = false;
        int32_t count = int32_t(std::min<ptrdiff_t>(end - q, 4));
        int32_t cp = unicode::decode_utf8_checked(q, count);
        if (cp < 0) unicode::fire_invalid_utf8(q, uint32_t(end - q));
        widest = std::max(widest, uint32_t(cp));
        q += count;
        ++chars;
    }
    uint32_t unit = widest <= 0xFF ? 1 : widest <= 0xFFFF ? 2 : 4;
    if (chars * unit > memory::max_capacity) too_big(what);

    Node node = memory::alloc_series_unit(uint32_t(std::max<uint64_t>(chars, 1)), unit);
    Series* s = memory::buffer(node);
    std::byte* out = s->at_head();
    if (plain) {
        std::memcpy(out, p, size_t(chars));
    } else {
        for (const uint8_t* q = p; q < end;) {
            uint32_t c = *q;
            if (c < 0x80) {
                ++q;
                if (c == '\r' && fold) {
                    if (q < end && *q == '\n') continue;
                    c = '\n';
                }
            } else {
                int32_t count = 4;
                c = uint32_t(unicode::decode_utf8_checked(q, count));
                q += count;
            }
            string::put_char(out, unit, c);
            out += unit;
        }
    }
    s->tail = s->head + uint32_t(chars * unit);
    return node;
}

}  // namespace

Cell decode(std::string_view bytes, bool fold, const Cell* what) {
    return string::make_cell(decode_node(bytes, fold, true, what));
}

void append_decoded(const Cell& target, std::string_view bytes, bool fold) {
    if (bytes.empty()) return;
    Cell held = target;
    collector::Root keep(held);
    Cell part = decode(bytes, fold);
    collector::Root keep_part(part);
    string::concatenate(held, part, -1, 0, false, string::Mode::append);
}

Cell make_binary(std::string_view bytes, const Cell* what) {
    if (bytes.size() > memory::max_capacity) too_big(what);
    Node node = memory::alloc_bytes(uint32_t(bytes.size()));
    Series* s = memory::buffer(node);
    if (!bytes.empty()) std::memcpy(s->at_head(), bytes.data(), bytes.size());
    s->tail = s->head + uint32_t(bytes.size());
    return series_cell(Type::binary, node);
}

void append_bytes(const Cell& target, std::string_view bytes) {
    if (bytes.empty()) return;
    Node n = series_node(target);
    Series* s = memory::buffer(n);
    uint64_t need = uint64_t(s->tail) + bytes.size();
    if (need > s->capacity) {
        uint64_t used = s->tail - s->head;
        s = memory::expand_series_copy(n, std::max<uint64_t>(used + bytes.size(), uint64_t(s->capacity) * 2));
    }
    std::memcpy(s->at_tail(), bytes.data(), bytes.size());
    s->tail += uint32_t(bytes.size());
}

std::string_view binary_bytes(const Cell& bin) {
    Series* s = memory::buffer(series_node(bin));
    uint32_t len = s->tail - s->head;
    uint32_t head = std::min(series_index(bin), len);
    return {reinterpret_cast<const char*>(s->at_head()) + head, len - head};
}

namespace {
// Holds collections off while a result is built whose every new series stays
// alive: a collection then would only mark, again and again, what it must keep.
class NoCollections {
public:
    NoCollections() : was_(collector::enabled()) { collector::set_enabled(false); }
    ~NoCollections() { collector::set_enabled(was_); }
    NoCollections(const NoCollections&) = delete;
    NoCollections& operator=(const NoCollections&) = delete;

private:
    bool was_;
};
}  // namespace

Cell lines_to_block(std::string_view bytes) {
    NoCollections quiet;
    Cell block;
    block::make_at(block, int32_t(std::count(bytes.begin(), bytes.end(), '\n') + 1));
    collector::Root keep(block);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        size_t end = lf == std::string_view::npos ? bytes.size() : lf;
        if (lf != std::string_view::npos && end > start && bytes[end - 1] == '\r') --end;
        Cell line = string::make_cell(decode_node(bytes.substr(start, end - start), false, start == 0, nullptr));
        block::rs_append(block, line);
        if (lf == std::string_view::npos) break;
        start = lf + 1;
    }
    return block;
}

std::string encode(const Cell& str, int64_t part) {
    Series* s = memory::buffer(series_node(str));
    uint32_t unit = s->unit();
    uint32_t len = (s->tail - s->head) / unit;
    uint32_t head = std::min(series_index(str), len);
    uint64_t count = len - head;
    if (part >= 0) count = std::min<uint64_t>(count, uint64_t(part));
    const std::byte* from = s->at_head() + size_t(head) * unit;
    size_t size = 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t c = string::get_char(from + i * unit, unit);
        size += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    std::string out(size, '\0');
    if (size == count && unit == 1) {
        std::memcpy(out.data(), from, size);
        return out;
    }
    if (size == count) {
        for (uint64_t i = 0; i < count; ++i) out[i] = char(string::get_char(from + i * unit, unit));
        return out;
    }
    auto* o = reinterpret_cast<uint8_t*>(out.data());
    for (uint64_t i = 0; i < count; ++i) o += unicode::cp_to_utf8(string::get_char(from + i * unit, unit), o);
    return out;
}

std::string value_bytes(const Cell& value, int64_t part) {
    Type t = type_of(value);
    if (string_like(t)) return encode(value, part);
    if (t == Type::binary) {
        std::string_view b = binary_bytes(value);
        if (part >= 0 && uint64_t(part) < b.size()) b = b.substr(0, size_t(part));
        return std::string(b);
    }
    return mold::mold_text(value);
}

Cell make_tuple(std::initializer_list<uint8_t> bytes) {
    uint32_t w[3] = {0, 0, 0};
    uint32_t n = 0;
    for (uint8_t b : bytes) {
        if (n == 12) break;
        w[n / 4] |= uint32_t(b) << (8 * (n % 4));
        ++n;
    }
    n = std::max<uint32_t>(n, 3);
    Cell c = make_cell(Type::tuple, w[0], w[1], w[2]);
    c.header |= n << 19;
    return c;
}

}  // namespace zan::platform::text
