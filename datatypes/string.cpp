// string! storage and its primitives.
//
// A string value is (head index, buffer node, cache node). The buffer holds
// characters from its offset to its tail in units of 1, 2 or 4 bytes; the unit
// only ever grows. Two unit rules coexist on purpose: appending keeps unit 1
// for ASCII only (so text built by form, mold and the lexer is never Latin-1
// above 0x7F), while poking and loading keep unit 1 for all of Latin-1.
//
// Positions are kept as indexes, never addresses, across anything that can
// allocate: growing or widening the buffer moves it.
#include "datatypes/string.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/series.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"

namespace zan::string {

namespace {

// The unit append_char needs: unit 1 holds ASCII only.
uint32_t append_width(uint32_t cp) { return cp <= 0x7F ? 1 : cp <= 0xFFFF ? 2 : 4; }

Series* widen_for(Node s, uint32_t need) {
    Series* b = memory::buffer(s);
    return b->unit() < need ? widen_to(s, b->unit(), need) : b;
}

// Room for `bytes` more behind the tail; doubles at least.
Series* room_at_tail(Node s, uint32_t bytes) {
    Series* b = memory::buffer(s);
    if (b->tail + bytes <= b->capacity) return b;
    uint64_t used = b->tail - b->head;
    uint64_t want = std::max<uint64_t>(used + bytes, uint64_t(b->capacity - b->head) * 2);
    return memory::expand_series_copy(s, want);
}

// Characters from a value's position, without writing the clamp back.
uint32_t head_of(const Cell& str) { return std::min(series_index(str), buffer_length(series_node(str))); }

constexpr char escapes[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

}  // namespace

// --- cells and buffers -----------------------------------------------------------

Node make_buffer(uint32_t capacity, uint32_t unit) {
    return memory::alloc_series(capacity ? capacity : 1, unit);
}

Cell make_cell(Node n, uint32_t index, Type t) { return series_cell(t, n, index, 0); }

Cell& rs_make_at(Cell& c, uint32_t capacity) {
    c = unset_cell();
    Node n = make_buffer(capacity, 1);
    c = make_cell(n);
    return c;
}

Cell& make_at(Cell& c, uint32_t capacity, uint32_t unit) {
    c = unset_cell();
    Node n = memory::alloc_series_unit(capacity, unit);
    c = make_cell(n);
    return c;
}

void rs_reset(Cell& str) {
    Series* s = memory::buffer(series_node(str));
    s->tail = s->head;
    s->flags = (s->flags & ~memory::flag::unit_mask) | 1;
    str.w1 = 0;
}

void truncate(Node s, uint32_t n) {
    Series* b = memory::buffer(s);
    uint32_t end = b->head + n * b->unit();
    if (b->tail > end) b->tail = end;
}

// --- reading ---------------------------------------------------------------------

uint32_t buffer_length(Node s) { return memory::buffer(s)->length(); }

uint32_t char_at(Node s, uint32_t index) {
    Series* b = memory::buffer(s);
    return get_char(b->at_head() + index * b->unit(), b->unit());
}

int32_t last_char(Node s) {
    uint32_t len = buffer_length(s);
    return len ? int32_t(char_at(s, len - 1)) : -1;
}

uint32_t length(const Cell& str) {
    uint32_t len = buffer_length(series_node(str));
    return series_index(str) < len ? len - series_index(str) : 0;
}

uint32_t rs_head_index(Cell& str) {
    uint32_t len = buffer_length(series_node(str));
    if (str.w1 > len) str.w1 = len;
    return str.w1;
}

std::byte* rs_head(Cell& str) {
    uint32_t i = rs_head_index(str);
    Series* b = memory::buffer(series_node(str));
    return b->at_head() + i * b->unit();
}

std::byte* rs_tail(const Cell& str) { return memory::buffer(series_node(str))->at_tail(); }

bool rs_tail_q(const Cell& str) { return length(str) == 0; }

int32_t find_char(const Cell& str, uint32_t cp) {
    Node n = series_node(str);
    uint32_t head = head_of(str), len = buffer_length(n);
    for (uint32_t i = head; i < len; i++)
        if (char_at(n, i) == cp) return int32_t(i - head);
    return -1;
}

bool has_char_q(const Cell& str, uint32_t cp, uint32_t skip, int32_t case_flag) {
    Node n = series_node(str);
    uint32_t len = buffer_length(n);
    bool fold = case_flag != 1;
    if (fold) cp = unicode::to_upper(cp);
    if (skip == 0) skip = 1;
    for (uint32_t i = head_of(str); i < len; i += skip) {
        uint32_t c = char_at(n, i);
        if ((fold ? unicode::to_upper(c) : c) == cp) return true;
    }
    return false;
}

bool head_equal_literal_q(const Cell& str, const char* text) {
    Node n = series_node(str);
    uint32_t head = head_of(str), len = std::strlen(text);
    if (length(str) < len) return false;
    for (uint32_t i = 0; i < len; i++)
        if (char_at(n, head + i) != uint8_t(text[i])) return false;
    return true;
}

std::string to_utf8(const Cell& str) {
    Node n = series_node(str);
    uint32_t len = buffer_length(n);
    std::string out;
    uint8_t b[4];
    for (uint32_t i = head_of(str); i < len; i++)
        out.append(reinterpret_cast<char*>(b), unicode::cp_to_utf8(char_at(n, i), b));
    return out;
}

// --- writing ---------------------------------------------------------------------

Series* widen_to(Node s, uint32_t current, uint32_t wanted) {
    if (wanted <= current) return memory::buffer(s);
    if (current == 1) return wanted == 2 ? unicode::latin1_to_ucs2(s) : unicode::latin1_to_ucs4(s);
    return unicode::ucs2_to_ucs4(s);
}

void append_char(Node s, uint32_t cp) {
    Series* b = memory::buffer(s);
    uint32_t unit = b->unit();
    if (unit >= append_width(cp) && b->tail + unit <= b->capacity) {  // the common case
        put_char(b->at_tail(), unit, cp);
        b->tail += unit;
        return;
    }
    collector::NodeRoot keep(s);  // widening and growing may both allocate
    b = widen_for(s, append_width(cp));
    b = room_at_tail(s, b->unit());
    put_char(b->at_tail(), b->unit(), cp);
    b->tail += b->unit();
}

void append_ascii(Node s, std::string_view text) {
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x80; });
    if (!ascii) {
        collector::NodeRoot keep(s);
        for (char c : text) append_char(s, uint8_t(c));
        return;
    }
    Series* b = room_at_tail(s, uint32_t(text.size()) * memory::buffer(s)->unit());
    uint32_t unit = b->unit();
    for (char c : text) {
        put_char(b->at_tail(), unit, uint8_t(c));
        b->tail += unit;
    }
}

void append_utf8(Node s, std::string_view text) {
    collector::NodeRoot keep(s);
    auto* p = reinterpret_cast<const uint8_t*>(text.data());
    auto* end = p + text.size();
    while (p < end) {
        int32_t count = int32_t(end - p);
        int32_t cp = unicode::decode_utf8_checked(p, count);
        if (cp < 0) unicode::fire_invalid_utf8(p, uint32_t(end - p));  // cut at the end
        p += count;
        append_char(s, uint32_t(cp));
    }
}

void poke_char(Node s, uint32_t index, uint32_t cp) {
    Series* b = widen_for(s, unicode::char_width(cp));
    put_char(b->at_head() + index * b->unit(), b->unit(), cp);
}

void poke_char_at(Node s, uint32_t index, uint32_t cp) {
    collector::NodeRoot keep(s);
    Series* b = widen_for(s, unicode::char_width(cp));
    uint32_t unit = b->unit();
    uint64_t end = (uint64_t(index) + 1) * unit;
    if (b->capacity - b->head < end)
        b = memory::expand_series_copy(s, std::max<uint64_t>(end, uint64_t(b->capacity - b->head) * 2));
    uint32_t len = (b->tail - b->head) / unit;
    if (index > len)  // no stale bytes between the old tail and the new character
        std::memset(b->at_tail(), 0, (index - len) * unit);
    put_char(b->at_head() + index * unit, unit, cp);
    if (index >= len) b->tail = b->head + uint32_t(end);
}

void insert_char_at(Node s, uint32_t index, uint32_t cp) {
    collector::NodeRoot keep(s);
    Series* b = widen_for(s, unicode::char_width(cp));
    b = room_at_tail(s, b->unit());
    uint32_t unit = b->unit();
    uint32_t len = (b->tail - b->head) / unit;
    index = std::min(index, len);
    std::byte* at = b->at_head() + index * unit;
    std::memmove(at + unit, at, (len - index) * unit);
    put_char(at, unit, cp);
    b->tail += unit;
}

void remove_chars(const Cell& str, uint32_t index, uint32_t n) {
    Series* b = memory::buffer(series_node(str));
    uint32_t unit = b->unit(), len = b->length();
    if (index >= len) return;
    n = std::min(n, len - index);
    std::byte* at = b->at_head() + index * unit;
    std::memmove(at, at + n * unit, (len - index - n) * unit);
    b->tail -= n * unit;
}

void move_chars(Cell& source, Cell& target, uint32_t n) {
    collector::Root keep_source(source), keep_target(target);
    uint32_t from = rs_head_index(source);
    uint32_t to = rs_head_index(target);
    n = std::min(n, length(source));
    for (uint32_t i = 0; i < n; i++)
        insert_char_at(series_node(target), to + i, char_at(series_node(source), from + i));
    remove_chars(source, from, n);
}

void swap_regions(std::byte* first, uint32_t first_len, uint32_t second_len) {
    if (first_len == 0 || second_len == 0) return;
    std::byte* second = first + first_len;
    if (first_len <= second_len) {
        std::vector<std::byte> scratch(first, first + first_len);
        std::memmove(first, second, second_len);
        std::memcpy(first + second_len, scratch.data(), first_len);
    } else {
        std::vector<std::byte> scratch(second, second + second_len);
        std::memmove(first + second_len, first, first_len);
        std::memcpy(first, scratch.data(), second_len);
    }
}

Node concatenate(const Cell& target, const Cell& source, int32_t count, int32_t offset,
                 bool keep_source, Mode mode) {
    Node tn = series_node(target), sn = series_node(source);
    collector::NodeRoot keep_t(tn), keep_s(sn);
    uint32_t tu = memory::buffer(tn)->unit(), su = memory::buffer(sn)->unit();
    if (tu < su) {
        widen_to(tn, tu, su);
        tu = su;
    } else if (tu > su && !keep_source) {
        widen_to(sn, su, tu);
        su = tu;
    }
    uint32_t from = head_of(source);
    uint32_t n = buffer_length(sn) - from;
    if (count >= 0 && uint32_t(count) < n) n = uint32_t(count);
    uint32_t bytes = n * tu;

    Series* t = memory::buffer(tn);
    uint32_t used = t->tail - t->head;
    if (uint64_t(used) + bytes > t->capacity - t->head)
        t = memory::expand_series_copy(tn, (uint64_t(used) + bytes) * 2);
    uint32_t tlen = used / tu;
    uint32_t at = mode == Mode::append
                      ? tlen
                      : std::min<uint32_t>(uint32_t(std::max<int64_t>(int64_t(head_of(target)) + offset, 0)), tlen);
    std::byte* dst = t->at_head() + at * tu;
    if (mode == Mode::insert) std::memmove(dst + bytes, dst, (tlen - at) * tu);

    // Re-read the source: it may share the (moved) target buffer, and an
    // insert into the same buffer shifts characters behind the insertion point.
    Series* s = memory::buffer(sn);
    uint32_t src_index = from;
    if (sn == tn && mode == Mode::insert && from >= at) src_index += n;
    const std::byte* src = s->at_head() + src_index * su;
    if (su != tu) {
        for (uint32_t i = 0; i < n; i++) put_char(dst + i * tu, tu, get_char(src + i * su, su));
    } else if (sn == tn) {
        std::memmove(dst, src, bytes);
    } else {
        std::memcpy(dst, src, bytes);
    }
    if (mode == Mode::overwrite)
        t->tail = std::max(t->tail, t->head + at * tu + bytes);
    else
        t->tail = t->head + used + bytes;
    return tn;
}

void concatenate_literal(const Cell& target, const char* text) {
    append_ascii(series_node(target), text);
}

void concatenate_literal_part(const Cell& target, const char* text, uint32_t n) {
    append_ascii(series_node(target), std::string_view(text, n));
}

Cell& load_at(const uint8_t* src, uint32_t count, Cell& cell, int32_t encoding) {
    if (encoding != 0 && encoding != -1) {
        Cell arg = integer_cell(encoding);
        errors::fire(errors::id::invalid_arg, &arg);
    }
    cell = unset_cell();
    Node n = encoding == 0 ? unicode::load_utf8_new(src, count)
                           : unicode::load_utf16le(src, count, nullptr, false);
    cell = make_cell(n);
    return cell;
}

// --- comparing --------------------------------------------------------------------

int32_t compare_text(const Cell& a, const Cell& b, int32_t op, bool prefix) {
    bool equality = op == 0 || op == 1 || op == 2 || op == 12;
    uint32_t ha = head_of(a), hb = head_of(b);
    if (series_node(a) == series_node(b) && ha == hb) {
        if (op == 9 || equality) return 0;
    } else if (op == 9) {
        return -1;
    }
    uint32_t la = length(a);
    uint32_t lb = type_id(b) == 56 && int32_t(b.w3) >= 0 ? b.w3 : length(b);
    if (prefix) {
        if (lb == 0) return op == 12 ? 1 : 0;
        if (la < lb) return 1;
    } else if (la != lb) {
        if (equality || lb == 0) return 1;
    }
    uint32_t walk = std::min(la, lb);
    bool fold = op != 2 && op != 8;
    Node na = series_node(a), nb = series_node(b);
    for (uint32_t i = 0; i < walk; i++) {
        uint32_t ca = char_at(na, ha + i), cb = char_at(nb, hb + i);
        if (fold) {
            ca = unicode::to_upper(ca);
            cb = unicode::to_upper(cb);
        }
        if (ca != cb) return ca > cb ? 1 : -1;
    }
    if (prefix) return 0;
    return la > lb ? 1 : la < lb ? -1 : 0;
}

bool tag_at_q(const Cell& input, const Cell& tag) {
    uint32_t len = length(input), tl = length(tag);
    if (len < tl + 2) return false;
    Node n = series_node(input);
    uint32_t h = head_of(input);
    return char_at(n, h) == '<' && char_at(n, h + tl + 1) == '>';
}

bool match_at_q(const Cell& input, const Cell& pattern, int32_t op) {
    Type t = type_of(pattern);
    if (t == Type::tag) {
        if (!tag_at_q(input, pattern)) return false;
        Cell inner = input;
        inner.w1 = head_of(input) + 1;
        return compare_text(inner, pattern, op, true) == 0;
    }
    if (series::is_string_like(t)) return compare_text(input, pattern, op, true) == 0;
    if (t == Type::char_) {
        if (length(input) == 0) return false;
        uint32_t c = char_at(series_node(input), head_of(input)), p = pattern.w2;
        return op == 2 ? c == p : unicode::to_upper(c) == unicode::to_upper(p);
    }
    return false;
}

bool char_in_bitset_q(const Cell& str, const Cell& bitset) {
    constexpr uint32_t complemented = 1u << 19;
    if (length(str) == 0) return false;
    uint32_t c = char_at(series_node(str), head_of(str));
    Series* bits = memory::buffer(series_node(bitset));
    uint32_t bytes = bits->tail - bits->head;
    if (c / 8 >= bytes) return (bits->flags & complemented) != 0;
    return (uint8_t(bits->at_head()[c >> 3]) & (0x80u >> (c & 7))) != 0;
}

// --- numbers as text -------------------------------------------------------------

namespace {
constexpr char hex_digits[] = "0123456789ABCDEF";
}

const char* byte_to_hex(uint8_t byte) {
    static char buf[3];
    buf[0] = hex_digits[byte >> 4];
    buf[1] = hex_digits[byte & 15];
    buf[2] = 0;
    return buf;
}

const char* int_to_hex(int32_t value, bool short_form) {
    static char buf[9];
    uint32_t v = uint32_t(value);
    for (int i = 7; i >= 0; i--, v >>= 4) buf[i] = hex_digits[v & 15];
    buf[8] = 0;
    if (!short_form) return buf;
    if (value == 0) return "00";
    const char* p = buf;
    while (*p == '0') p++;
    return p;
}

// --- form and mold ----------------------------------------------------------------

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    uint32_t len = length(value);
    if (!part || budget > 0) concatenate(make_cell(buffer), value, part ? budget : -1, 0, true, Mode::append);
    return budget - int32_t(len);
}

void count_quotes_lines(const std::byte* start, const std::byte* end, uint32_t unit,
                        uint32_t& quotes, uint32_t& lines) {
    for (; start < end; start += unit) {
        uint32_t c = get_char(start, unit);
        quotes += c == '"';
        lines += c == '\n';
    }
}

bool braces_balanced_q(const std::byte* p, const std::byte* end, uint32_t unit) {
    uint32_t depth = 0;
    for (; p < end; p += unit) {
        uint32_t c = get_char(p, unit);
        if (c == '{') depth++;
        else if (c == '}' && --depth == 0) return true;
    }
    return false;
}

void mold_char(Node buffer, uint32_t cp, bool all) {
    collector::NodeRoot keep(buffer);
    if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 0x7F)) {
        append_ascii(buffer, "^(");
        append_ascii(buffer, int_to_hex(int32_t(cp), true));
        append_char(buffer, ')');
    } else if (cp < 0x20 || cp == '"' || cp == '^') {
        append_char(buffer, '^');
        append_char(buffer, cp < 0x20 ? uint8_t(escapes[cp]) : cp);
    } else if (cp == 0x7F) {
        append_ascii(buffer, "^~");
    } else {
        append_char(buffer, cp);
    }
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t) {
    Node n = series_node(value);
    collector::NodeRoot keep(n), keep_out(buffer);
    uint32_t head = head_of(value), len = length(value);
    uint32_t count = len;
    if (part) count = budget < 0 ? 0 : std::min<uint32_t>(len, uint32_t(budget));
    uint32_t end = head + count;

    uint32_t quotes = 0, lines = 0;
    {
        Series* s = memory::buffer(n);
        count_quotes_lines(s->at_head() + head * s->unit(), s->at_head() + end * s->unit(), s->unit(),
                           quotes, lines);
    }
    bool braces = lines >= 3 || quotes > 0 || len >= 50;
    append_char(buffer, braces ? '{' : '"');
    uint32_t open = 0;
    bool balanced = true;
    for (uint32_t i = head; i < end; i++) {
        uint32_t c = char_at(n, i);
        if (!braces) {
            mold_char(buffer, c, flags.all);
        } else if (c == '{') {
            if (balanced) {
                Series* s = memory::buffer(n);
                balanced = braces_balanced_q(s->at_head() + i * s->unit(), s->at_head() + end * s->unit(),
                                             s->unit());
            }
            if (balanced) {
                open++;
                append_char(buffer, '{');
            } else {
                append_ascii(buffer, "^{");
            }
        } else if (c == '}') {
            if (open > 0) {
                open--;
                append_char(buffer, '}');
            } else {
                append_ascii(buffer, "^}");
            }
        } else if (c == '"') {
            append_char(buffer, '"');
        } else if (c == '^') {
            append_ascii(buffer, "^^");
        } else {
            mold_char(buffer, c, flags.all);
        }
    }
    append_char(buffer, braces ? '}' : '"');
    return budget - int32_t(count) - 2;
}

}  // namespace zan::string
