// Unicode conversion and string widening.
//
// Loading decodes once and discovers the narrowest unit on the way: a buffer
// starts at unit 1 and is widened in place (1->2, 1->4, 2->4) the first time a
// character does not fit, so one load widens at most twice. Widening converts
// from the last unit to the first so source and destination share the buffer.
//
// Every routine re-reads the buffer through its node after anything that can
// allocate: expansion moves buffers and may run a collection.
#include "runtime/unicode.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <optional>

#include "datatypes/string.h"
#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::unicode {

using memory::Series;

namespace {

// Höhrmann's DFA: 256 byte classes, then transitions indexed by state + class.
// States are multiples of 12: 0 accepts, 12 rejects.
constexpr uint8_t accept = 0;
constexpr uint8_t reject = 12;
constexpr std::array<uint8_t, 364> utf8_dfa = {
    // classes of 0x00-0x7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x80-0xFF
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
};

[[noreturn]] void fire_invalid_char(uint32_t cp) {
    Cell arg = integer_cell(int32_t(cp));
    errors::fire(errors::id::invalid_char, &arg);
}

bool continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Grows the buffer so that `bytes` fit from its offset; keeps the content.
Series* ensure_room(Node n, uint64_t bytes) {
    Series* s = memory::buffer(n);
    if (s->capacity - s->head >= bytes) return s;
    return memory::expand_series_copy(n, bytes);
}

// Widens the content in place from unit `from` to unit `to`.
Series* widen(Node n, uint32_t from, uint32_t to, uint32_t spare) {
    Series* s = memory::buffer(n);
    uint32_t len = (s->tail - s->head) / from;
    s = ensure_room(n, uint64_t(len) * to + spare);
    std::byte* base = s->at_head();
    for (uint32_t i = len; i-- > 0;)
        string::put_char(base + i * to, to, string::get_char(base + i * from, from));
    s->tail = s->head + len * to;
    s->flags = (s->flags & ~memory::flag::unit_mask) | to;
    return s;
}

}  // namespace

// --- decoding UTF-8 ------------------------------------------------------------

// The offending bytes (at most 4, never past the end) go with the error as a binary!.
void fire_invalid_utf8(const uint8_t* p, uint32_t left) {
    uint32_t n = std::min<uint32_t>(left, 4);
    uint8_t bytes[4];
    std::memcpy(bytes, p, n);  // p may lie in a buffer that the allocation moves
    Node bin = memory::alloc_bytes(n);
    Series* s = memory::buffer(bin);
    std::memcpy(s->at_tail(), bytes, n);
    s->tail += n;
    Cell arg = series_cell(Type::binary, bin);
    errors::fire(errors::id::invalid_utf8, &arg);
}

const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t& cp) {
    uint8_t b = *p++;
    uint8_t cls = utf8_dfa[b];
    uint32_t code = (0xFFu >> cls) & b;
    uint32_t state = utf8_dfa[256 + cls];
    while (state != accept) {
        if (state == reject) {
            cp = -1;
            return p;
        }
        b = *p++;
        code = (b & 0x3Fu) | (code << 6);
        state = utf8_dfa[256 + state + utf8_dfa[b]];
    }
    cp = int32_t(code);
    return p;
}

uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    int32_t cp;
    while (start < end) {
        start = fast_decode_utf8_char(start, cp);
        n++;
    }
    return n;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    int32_t cp;
    while (n-- > 0 && p < end) {
        const uint8_t* next = fast_decode_utf8_char(p, cp);
        if (next > end) return end;
        p = next;
    }
    return p;
}

uint32_t utf8_char_size(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

int32_t decode_utf8_checked(const uint8_t* p, int32_t& count) {
    uint32_t left = uint32_t(std::max(count, 0));
    if (left == 0) return -1;
    uint8_t b = p[0];
    if (b < 0x80) {
        count = 1;
        return b;
    }
    uint32_t need = b < 0xC0 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : 0;
    if (need == 0) fire_invalid_utf8(p, left);
    // Bytes that are there must be continuations, even in a cut sequence:
    // only a sequence that could still be completed counts as cut.
    uint32_t have = std::min(need, left);
    for (uint32_t i = 1; i < have; i++)
        if (!continuation(p[i])) fire_invalid_utf8(p, left);
    if (left < need) return -1;
    uint32_t cp;
    if (need == 2) {
        cp = (b - 0xC0u) << 6 | (p[1] - 0x80u);
    } else if (need == 3) {
        cp = (b - 0xE0u) << 12 | (p[1] - 0x80u) << 6 | (p[2] - 0x80u);
        // UTF-16 surrogates are not characters.
        if (cp >= 0xD800 && cp <= 0xDFFF) fire_invalid_utf8(p, left);
    } else {
        cp = (b - 0xF0u) << 18 | (p[1] - 0x80u) << 12 | (p[2] - 0x80u) << 6 | (p[3] - 0x80u);
        if (cp > 0x10FFFF) fire_invalid_utf8(p, left);
    }
    count = int32_t(need);
    return int32_t(cp);
}

Node load_utf8(const uint8_t* src, uint32_t bytes, Node target, uint32_t* remainder,
               bool fold_crlf) {
    uint32_t n = bytes ? bytes : 1;
    Node node = target;
    collector::NodeRoot keep(node);
    uint32_t unit;
    if (node) {
        Series* s = memory::buffer(node);
        unit = s->unit();
        // Room counts from the offset, where writing starts.
        if ((s->capacity - s->head) / unit < n) s = memory::expand_series(node, uint64_t(n) * unit);
        s->tail = s->head;
    } else {
        node = memory::alloc_series(n, 1);
        unit = 1;
    }
    if (remainder) *remainder = 0;
    if (bytes == 0) return node;

    const uint8_t* p = src;
    const uint8_t* end = src + bytes;
    if (bytes > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;

    uint32_t pos = 0;  // bytes written from the offset
    while (p < end) {
        int32_t count = int32_t(end - p);
        int32_t cp = decode_utf8_checked(p, count);
        if (cp < 0) {
            if (remainder) *remainder = uint32_t(end - p);
            break;
        }
        p += count;
        if (fold_crlf && cp == '\r') {
            if (p < end && *p == '\n') continue;
            cp = '\n';
        }
        uint32_t c = uint32_t(cp);
        Series* s = memory::buffer(node);
        if (c > 0xFF && unit == 1) {
            s->tail = s->head + pos;
            unit = c > 0xFFFF ? 4 : 2;
            s = unit == 2 ? latin1_to_ucs2(node) : latin1_to_ucs4(node);
            pos = s->tail - s->head;
        } else if (c > 0xFFFF && unit == 2) {
            s->tail = s->head + pos;
            unit = 4;
            s = ucs2_to_ucs4(node);
            pos = s->tail - s->head;
        }
        if (s->head + pos + unit > s->capacity) {
            // Every byte left makes at most one character: one growth holds
            // them all (growing by a share of the text copied long texts
            // again and again once they widened).
            s->tail = s->head + pos;
            s = memory::expand_series_copy(node, uint64_t(pos) + uint64_t(end - p + 1) * unit);
        }
        string::put_char(s->at_head() + pos, unit, c);
        pos += unit;
        s->tail = s->head + pos;  // an error on the next character keeps this much
    }
    Series* s = memory::buffer(node);
    s->tail = s->head + pos;
    return node;
}

Node load_utf8_into(const uint8_t* src, uint32_t bytes, const Cell& str, uint32_t* remainder) {
    return load_utf8(src, bytes, series_node(str), remainder, false);
}

Node load_utf8_new(const uint8_t* src, uint32_t bytes) {
    return load_utf8(src, bytes, 0, nullptr, false);
}

uint32_t utf16_unit_size(const uint8_t* src, uint32_t units) {
    uint32_t unit = 1;
    for (uint32_t i = 0; i < units; i++) {
        uint8_t hi = src[2 * i + 1];
        if (hi >= 0xD8 && hi <= 0xDF) return 4;
        if (hi) unit = 2;
    }
    return unit;
}

Node load_utf16le(const uint8_t* src, uint32_t units, Cell* target, bool drop_cr) {
    Node node = target ? series_node(*target) : 0;
    collector::NodeRoot keep(node);
    std::optional<collector::Root> keep_target;
    if (target) keep_target.emplace(*target);
    // Reading from the cache: the cache buffer does not move while we copy,
    // as nothing below allocates once the target has room.
    auto source = [&]() -> const uint8_t* {
        if (src || !target || units == 0) return src;
        return reinterpret_cast<const uint8_t*>(memory::buffer(target->w3)->at_head());
    };
    uint32_t unit = utf16_unit_size(source(), units);
    if (node) {
        Series* s = memory::buffer(node);
        if (s->capacity - s->head < (units << (unit >> 1)))
            s = memory::expand_series(node, uint64_t(units) << (unit >> 1));
        s->flags = (s->flags & ~memory::flag::unit_mask) | unit;
        s->tail = s->head;
    } else {
        node = units ? memory::alloc_series(units, unit) : memory::alloc_series(1, 2);
        if (!units) unit = 2;
    }
    Series* s = memory::buffer(node);
    s->flags |= utf16_loaded_flag;
    const uint8_t* p = source();
    std::byte* out = s->at_head();
    uint32_t stored = 0;
    for (uint32_t i = 0; i < units; i++) {
        uint32_t c = uint32_t(p[2 * i]) | uint32_t(p[2 * i + 1]) << 8;
        if (drop_cr && c == '\r') continue;
        if (c >= 0xD800 && c <= 0xDBFF) {
            uint32_t lo = i + 1 < units ? uint32_t(p[2 * i + 2]) | uint32_t(p[2 * i + 3]) << 8 : 0;
            if (lo < 0xDC00 || lo > 0xDFFF) {
                s->tail = s->head + stored * unit;
                fire_invalid_utf8(p + 2 * i, (units - i) * 2);
            }
            c = 0x10000 + ((c & 0x3FF) << 10 | (lo & 0x3FF));
            i++;
        }
        string::put_char(out + stored * unit, unit, c);
        stored++;
    }
    s->tail = s->head + stored * unit;
    return node;
}

// --- encoding to UTF-8 ---------------------------------------------------------

uint32_t cp_utf8_size(uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    fire_invalid_char(cp);
}

uint32_t utf8_length(const std::byte* start, const std::byte* end, uint32_t unit) {
    uint32_t n = 0;
    for (; start < end; start += unit) n += cp_utf8_size(string::get_char(start, unit));
    return n;
}

namespace {
// The bytes of one character's UTF-8 sequence; the size says how many.
uint32_t encode(uint32_t cp, uint8_t (&b)[4]) {
    uint32_t size = cp_utf8_size(cp);
    switch (size) {
        case 1: b[0] = uint8_t(cp); break;
        case 2:
            b[0] = uint8_t(0xC0 | cp >> 6);
            b[1] = uint8_t(0x80 | (cp & 0x3F));
            break;
        case 3:
            b[0] = uint8_t(0xE0 | cp >> 12);
            b[1] = uint8_t(0x80 | (cp >> 6 & 0x3F));
            b[2] = uint8_t(0x80 | (cp & 0x3F));
            break;
        default:
            b[0] = uint8_t(0xF0 | cp >> 18);
            b[1] = uint8_t(0x80 | (cp >> 12 & 0x3F));
            b[2] = uint8_t(0x80 | (cp >> 6 & 0x3F));
            b[3] = uint8_t(0x80 | (cp & 0x3F));
    }
    return size;
}
}  // namespace

uint32_t cp_to_utf8(uint32_t cp, uint8_t* dest) {
    uint8_t b[4];
    uint32_t size = encode(cp, b);
    std::memcpy(dest, b, size);
    return size;
}

uint32_t cp_to_utf8_bounded(uint32_t cp, uint8_t* dest, int32_t room) {
    uint8_t b[4];
    uint32_t size = encode(cp, b);
    uint32_t n = room <= 0 ? 0 : std::min<uint32_t>(size, uint32_t(room));
    std::memcpy(dest, b, n);
    return n;
}

Series* get_cache(Cell& str, uint32_t size) {
    if (str.w3 == 0) {
        Node n = memory::alloc_bytes(size);
        str.w3 = n;
        return memory::buffer(n);
    }
    Series* s = memory::buffer(str.w3);
    if (s->capacity - s->head < size) s = memory::expand_series_copy(str.w3, size);
    return s;
}

namespace {
// The characters a conversion takes from the value's position: all when
// count is negative or too large.
uint32_t part_length(Cell& str, int32_t count) {
    uint32_t len = string::length(str);
    return count >= 0 && uint32_t(count) < len ? uint32_t(count) : len;
}
}  // namespace

const char* to_utf8_cache(Cell& str, int32_t& count, bool cr) {
    collector::Root keep(str);
    uint32_t n = part_length(str, count);
    Series* s = memory::buffer(series_node(str));
    uint32_t unit = s->unit();
    uint32_t w = unit == 1 ? 2 : unit == 2 ? 3 : 4;
    uint64_t size = (uint64_t(n) + 1) * w;
    if (cr) {  // room for the CR before each LF
        std::byte* h = string::rs_head(str);
        for (uint32_t i = 0; i < n; i++) size += string::get_char(h + i * unit, unit) == '\n';
    }
    Series* cache = get_cache(str, uint32_t(size));
    s = memory::buffer(series_node(str));
    const std::byte* h = string::rs_head(str);
    auto* out = reinterpret_cast<uint8_t*>(cache->at_head());
    uint32_t written = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c = string::get_char(h + i * unit, unit);
        if (cr && c == '\n') out[written++] = '\r';
        written += cp_to_utf8(c, out + written);
    }
    out[written] = 0;
    count = int32_t(written);
    return reinterpret_cast<const char*>(out);
}

const char* to_utf8(Cell& str, int32_t& count) { return to_utf8_cache(str, count, false); }
const char* to_utf8_crlf(Cell& str, int32_t& count, bool cr) {
    return to_utf8_cache(str, count, cr);
}

uint32_t to_utf8_bounded(const Cell& str, uint8_t* dest, int32_t room, int32_t count,
                         bool terminate) {
    Cell c = str;
    uint32_t n = part_length(c, count);
    Series* s = memory::buffer(series_node(c));
    uint32_t unit = s->unit();
    const std::byte* h = string::rs_head(c);
    uint32_t written = 0;
    for (uint32_t i = 0; i < n && int32_t(written) < room; i++)
        written += cp_to_utf8_bounded(string::get_char(h + i * unit, unit), dest + written,
                                      room - int32_t(written));
    if (terminate) dest[written] = 0;
    return written;
}

uint32_t to_utf8_buffer(const Cell& str, uint8_t* dest, int32_t count, bool terminate) {
    return to_utf8_bounded(str, dest, INT32_MAX, count, terminate);
}

// --- encoding to UTF-16 ----------------------------------------------------------

uint32_t utf16_extra_size(const std::byte* start, const std::byte* end, uint32_t unit, bool cr) {
    uint32_t extra = 0;
    for (; start < end; start += unit) {
        uint32_t c = string::get_char(start, unit);
        if ((cr && c == '\n') || c >= 0x10000) extra += 2;
    }
    return extra;
}

const char16_t* to_utf16_part(Cell& str, int32_t& count, bool cr) {
    collector::Root keep(str);
    uint32_t n = part_length(str, count);
    uint32_t unit = memory::buffer(series_node(str))->unit();
    std::byte* h = string::rs_head(str);
    uint32_t size = n * 2 + 2 + utf16_extra_size(h, h + n * unit, unit, cr);
    Series* cache = get_cache(str, size);
    h = string::rs_head(str);
    auto* out = reinterpret_cast<uint8_t*>(cache->at_head());
    uint32_t written = 0;
    auto put = [&](uint32_t u) {
        out[2 * written] = uint8_t(u);
        out[2 * written + 1] = uint8_t(u >> 8);
        written++;
    };
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c = string::get_char(h + i * unit, unit);
        if (c > 0x10FFFF) return nullptr;
        if (cr && c == '\n') put('\r');
        if (c >= 0x10000) {
            put(0xD800 | (c - 0x10000) >> 10);
            put(0xDC00 | ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    put(0);
    count = int32_t(written - 1);
    return reinterpret_cast<const char16_t*>(out);
}

const char16_t* to_utf16(Cell& str) {
    int32_t count = -1;
    return to_utf16_part(str, count, true);
}

char16_t* latin1_to_utf16(const char* text, char16_t* dest) {
    char16_t* d = dest;
    while (*text) *d++ = char16_t(uint8_t(*text++));
    *d = 0;
    return dest;
}

// --- widening ----------------------------------------------------------------------

Series* latin1_to_ucs2(Node n) { return widen(n, 1, 2, 2); }
Series* latin1_to_ucs4(Node n) { return widen(n, 1, 4, 4); }
Series* ucs2_to_ucs4(Node n) { return widen(n, 2, 4, 4); }

// --- case ----------------------------------------------------------------------------

namespace {
struct CaseTables {
    std::array<uint32_t, 0x10000> upper{};
    std::array<uint32_t, 0x10000> lower{};
    CaseTables() {
        for (auto& p : case_tables::upper_list) upper[p.from] = p.to;
        for (auto& p : case_tables::lower_list) lower[p.from] = p.to;
    }
};

const CaseTables& tables() {
    static const CaseTables* t = new CaseTables();  // kept for the process's life
    return *t;
}

uint32_t search(const case_tables::Pair* list, int count, uint32_t cp) {
    if (cp < list[0].from || cp > list[count - 1].from) return cp;
    auto it = std::lower_bound(list, list + count, cp,
                               [](const case_tables::Pair& p, uint32_t c) { return p.from < c; });
    return it != list + count && it->from == cp ? it->to : cp;
}
}  // namespace

void init_case_tables() { tables(); }

uint32_t case_fold(uint32_t cp, bool upper) {
    // ASCII answers without the tables: most text is ASCII, and the first use
    // of the tables touches half a megabyte of fresh pages.
    if (cp < 0x80) {
        if (upper) return cp >= 'a' && cp <= 'z' ? cp - 32 : cp;
        return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
    }
    if (cp <= 0xFFFF) {
        uint32_t e = upper ? tables().upper[cp] : tables().lower[cp];
        return e ? e : cp;
    }
    return upper ? search(case_tables::upper_supplementary, case_tables::upper_supplementary_count, cp)
                 : search(case_tables::lower_supplementary, case_tables::lower_supplementary_count, cp);
}

void change_case(Cell& value, const Cell* part, bool upper) {
    if (is(value, Type::char_)) {
        value.w2 = case_fold(value.w2, upper);
        return;
    }
    collector::Root keep(value);
    uint32_t head = string::rs_head_index(value);
    Node n = series_node(value);
    int64_t count = string::length(value);
    if (part) {
        if (is(*part, Type::integer)) {
            count = std::min<int64_t>(int_of(*part), count);
        } else if (type_of(*part) == type_of(value) && series_node(*part) == n) {
            count = std::min<int64_t>(int64_t(part->w1) - head, count);
        } else {
            // The word `part` goes first once words can be made from here.
            Cell word = none_cell();
            errors::fire(errors::id::invalid_refine_arg, &word, part);
        }
    }
    if (count < 0) count = 0;
    for (uint32_t i = head; i < head + uint32_t(count); i++) {
        uint32_t c = string::char_at(series_node(value), i);
        uint32_t m = case_fold(c, upper);
        if (m != c) string::poke_char(series_node(value), i, m);
    }
}

}  // namespace zan::unicode
