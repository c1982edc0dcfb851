// Token routines: the exact literal syntax of every token kind.
//
// The automaton has already accepted a token's bytes; a routine checks what
// the tables cannot (digit counts, ranges, escapes), refines the type (a word
// token may be a set-word!), and, when building, appends one value through
// alloc_slot. Every routine leaves the scan position after what it consumed.
// Literals whose datatypes are not built yet are still checked in full; only
// building them raises an error naming the datatype.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer_internal.h"
#include "runtime/dtoa.h"
#include "runtime/memory.h"

namespace zan::lexer {


using namespace tables;

namespace {

inline int hex_value(uint8_t b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    return -1;
}
inline bool is_digit(uint8_t b) { return b >= '0' && b <= '9'; }
// Bytes that end a value: white space and the brackets, parens, braces and quote.
inline bool is_delimiter_byte(uint8_t b) {
    switch (class_of(b)) {
        case c_blank: case c_newline: case c_lbracket: case c_rbracket: case c_lparen:
        case c_rparen: case c_lbrace: case c_rbrace: case c_dquote: case c_semicolon:
        case c_control: case c_end:
            return true;
        default:
            return false;
    }
}
inline uint8_t lower(uint8_t b) { return b >= 'A' && b <= 'Z' ? uint8_t(b + 32) : b; }

[[noreturn]] void bad(State& st, Type t) { throw_error(st, st.tok_start, st.pos, int32_t(t)); }

Cell& slot(State& st) { return alloc_slot(st); }

}  // namespace

// --- characters ----------------------------------------------------------------------

int32_t decode_utf8(const uint8_t*& p, const uint8_t* end) {
    uint8_t b = *p;
    if (b < 0x80) {
        p++;
        return b;
    }
    int n;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) n = 1, cp = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF) n = 2, cp = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4) n = 3, cp = b & 0x07;
    else return -1;
    if (end - p <= n) return -1;
    for (int i = 1; i <= n; i++) {
        if ((p[i] & 0xC0) != 0x80) return -1;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    p += n + 1;
    return int32_t(cp);
}

int32_t decode_escape(const uint8_t*& p, const uint8_t* end) {
    if (p >= end) return -1;
    if (*p == '(') {
        const uint8_t* q = p + 1;
        const uint8_t* close = q;
        while (close < end && *close != ')' && close - q <= 8) close++;
        if (close >= end || *close != ')') return -1;
        uint32_t n = uint32_t(close - q);
        bool hex = n > 0;
        for (const uint8_t* r = q; r < close; r++) hex = hex && hex_value(*r) >= 0;
        if (hex) {
            if (n > 6) return -1;
            uint32_t v = 0;
            for (const uint8_t* r = q; r < close; r++) v = v << 4 | uint32_t(hex_value(*r));
            // Six digits can name numbers past the last code point.
            if (v > 0x10FFFF) return -1;
            p = close + 1;
            return int32_t(v);
        }
        static const struct { const char* name; int32_t cp; } names[] = {
            {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
        };
        for (auto& e : names) {
            uint32_t len = uint32_t(std::strlen(e.name));
            if (len != n) continue;
            bool same = true;
            for (uint32_t i = 0; i < n && same; i++) same = lower(q[i]) == uint8_t(e.name[i]);
            if (same) {
                p = close + 1;
                return e.cp;
            }
        }
        return -1;
    }
    int32_t c = decode_utf8(p, end);
    switch (c) {
        case '@': return 0;
        case '/': return 10;
        case '-': return 9;
        case '"': return 34;
        case '{': return 123;
        case '}': return 125;
        case '^': return 94;
        case '~': return 127;
        default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 96;
    if (c >= 65 && c <= 95) return c - 64;
    return c;
}

namespace {

// Characters and unit of text, escapes decoded when asked; false when a
// character or an escape is malformed.
bool measure_text(const uint8_t* s, const uint8_t* e, bool escapes, uint32_t& length, uint32_t& unit) {
    length = 0;
    unit = 1;
    while (s < e) {
        uint8_t b = *s;
        if (b < 0x80 && !(escapes && b == '^')) {
            s++;
            length++;
            continue;
        }
        if (b == '^' && escapes) {
            s++;
            const uint8_t* q = s;
            if (decode_escape(s, e) < 0) return false;
            if (*q == '(') {
                uint32_t digits = uint32_t(s - q) - 2;
                bool hex = true;
                for (const uint8_t* r = q + 1; r < s - 1; r++) hex = hex && hex_value(*r) >= 0;
                if (hex && digits > 4) unit = 4;
                else if (hex && digits > 2 && unit < 2) unit = 2;
            }
            length++;
            continue;
        }
        if (b >= 0xF0) unit = 4;
        else if (unit < 2) unit = 2;
        if (decode_utf8(s, e) < 0) return false;
        length++;
    }
    return true;
}

void fill_text(std::byte* d, uint32_t unit, const uint8_t* s, const uint8_t* e, bool escapes) {
    while (s < e) {
        int32_t cp;
        if (*s < 0x80 && !(escapes && *s == '^')) cp = *s++;
        else if (*s == '^' && escapes) {
            s++;
            cp = decode_escape(s, e);
        } else {
            cp = decode_utf8(s, e);
        }
        uint32_t c = uint32_t(cp);
        d[0] = std::byte(c);
        if (unit >= 2) d[1] = std::byte(c >> 8);
        if (unit == 4) {
            d[2] = std::byte(c >> 16);
            d[3] = std::byte(c >> 24);
        }
        d += unit;
    }
}

// Checks text and, when building, appends it as a value of type t.
bool text_value(State& st, Type t, const uint8_t* s, const uint8_t* e, bool escapes, bool build) {
    uint32_t length, unit;
    if (!measure_text(s, e, escapes, length, unit)) return false;
    if (!build) return true;
    Node n = make_string_node(length, unit);
    fill_text(memory::buffer(n)->at_head(), unit, s, e, escapes);
    memory::Series* b = memory::buffer(n);
    b->tail = b->head + length * unit;
    Cell& c = slot(st);
    uint32_t keep = c.header & header::newline;
    c = string::make_cell(n, 0, t);
    c.header |= keep;
    return true;
}

}  // namespace

Node make_string_node(uint32_t length, uint32_t unit) { return string::make_buffer(length, unit); }

// Words are bound to the global context, which gains the word when new;
// refinements stay unbound and issues name the global context.
void word_cell(Cell& c, Type t, const uint8_t* name, uint32_t length) {
    uint32_t sym = symbol::make_bytes(reinterpret_cast<const char*>(name), length);
    uint32_t keep = c.header & header::newline;
    if (t == Type::refinement) {
        c = make_cell(t, 0, sym, uint32_t(-1));
    } else if (t == Type::issue) {
        c = make_cell(t, context::global(), sym, uint32_t(-1));
    } else {
        word::make_at(sym, c);  // the output buffer does not move meanwhile
        set_type(c, t);
    }
    c.header |= keep;
}

Cell make_text(Type t, const uint8_t* from, const uint8_t* to) {
    uint32_t length, unit;
    if (!measure_text(from, to, false, length, unit)) {
        // Not UTF-8: keep the bytes as Latin-1 characters.
        Node n = make_string_node(uint32_t(to - from), 1);
        memory::Series* b = memory::buffer(n);
        std::memcpy(b->at_head(), from, size_t(to - from));
        b->tail = b->head + uint32_t(to - from);
        return series_cell(t, n);
    }
    Node n = make_string_node(length, unit);
    fill_text(memory::buffer(n)->at_head(), unit, from, to, false);
    memory::Series* b = memory::buffer(n);
    b->tail = b->head + length * unit;
    return series_cell(t, n);
}

// --- structural routines (kinds 0-12) ---------------------------------------------------

namespace {

void k_end(State& st, const uint8_t*, const uint8_t*, uint32_t, bool) { st.pos = st.in_end; }

void k_error(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool) {
    int32_t code = state_types[st.last_state];
    const uint8_t* start = s;
    if (code == 0) code = -1;
    if (code == int32_t(Type::path) || code == lv_block || code == lv_paren) start = nullptr;
    if (st.start_state == st_braced && st.brace_start) {
        start = st.brace_start;
        code = int32_t(Type::string);
    }
    st.pos = e;
    throw_error(st, start, e < st.in_end ? e + 1 : e, code);
}

void k_block(State& st, const uint8_t*, const uint8_t* s, uint32_t, bool) {
    open_level(st, lv_block, s, s + 1);
    st.pos = s + 1;
    st.type = 0;
}

void k_block_end(State& st, const uint8_t*, const uint8_t* s, uint32_t, bool) {
    st.pos = s;
    close_level(st, s, s + 1, lv_block, false);
    st.pos = s + 1;
}

void k_paren(State& st, const uint8_t*, const uint8_t* s, uint32_t, bool) {
    st.type = 0;
    if (starts_point(st, s)) {
        Cell* m = innermost_marker(st);
        if (m && int32_t(m->w2 & 0xFFFF) == lv_point) throw_error(st, s, s + 1, lv_point);
        st.saved_lines = st.lines_in_token;
        st.start_state = st_point;
        st.pos = s + 1;
        return;
    }
    open_level(st, lv_paren, s, s + 1);
    st.pos = s + 1;
}

void k_paren_end(State& st, const uint8_t*, const uint8_t* s, uint32_t, bool) {
    st.pos = s;
    close_level(st, s, s + 1, lv_paren, false);
    st.pos = s + 1;
}

void k_brace(State& st, const uint8_t*, const uint8_t* s, uint32_t flags, bool) {
    st.pos = s + 1;
    st.type = 0;
    if (st.start_state == st_braced) {
        st.brace_flags |= flags;
        st.brace_depth++;
        return;
    }
    if (!fire_event(st, ev_open, int32_t(Type::string), nullptr, s, s + 1)) return;
    st.brace_start = s;
    st.brace_depth = 1;
    st.brace_flags = flags | (st.lines_in_token > 0 ? 0x20000u : 0u);
    st.start_state = st_braced;
}

void k_brace_end(State& st, const uint8_t*, const uint8_t* s, uint32_t flags, bool build) {
    st.pos = s + 1;
    st.brace_flags |= flags;
    if (--st.brace_depth > 0) {
        st.type = 0;
        return;
    }
    build_braced_string(st, st.brace_start, s, build);
}

void k_map(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool) {
    open_level(st, lv_map, s, e + 1);
    st.pos = e + 1;
    st.type = 0;
}

void k_path(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    int32_t type = *s == '\'' ? lv_lit_path : *s == ':' ? lv_get_path : lv_path;
    open_level(st, type, s, e + 1);
    const uint8_t* head = (*s == '\'' || *s == ':') ? s + 1 : s;
    if (build) {
        st.pos = e;
        build_word_as(st, head, e, Type::word, true);
    }
    st.type_hint = int32_t(Type::word);
    st.type = 0;
    st.start_state = st_path;
    st.pos = e + 1;
}

// The registered datatype named by the text (with its "!"), letter case
// ignored; 0 when none.
int construct_type(const uint8_t* s, uint32_t n) {
    for (int t = 1; t < type_count_max; t++) {
        if (!datatype::registered(Type(t))) continue;
        std::string_view name = datatype::name(Type(t));
        if (name.size() != n) continue;
        bool same = true;
        for (uint32_t i = 0; i < n && same; i++) same = lower(s[i]) == lower(uint8_t(name[i]));
        if (same) return t;
    }
    return 0;
}

void k_construct(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    const uint8_t* t = s + 2;
    uint32_t n = uint32_t(e - t);
    auto is_word = [&](const char* w) {
        if (std::strlen(w) != n) return false;
        for (uint32_t i = 0; i < n; i++)
            if (lower(t[i]) != uint8_t(w[i])) return false;
        return true;
    };
    Cell v;
    if (is_word("true")) v = logic_cell(true);
    else if (is_word("false")) v = logic_cell(false);
    else if (is_word("none")) v = none_cell();
    else if (is_word("unset")) v = unset_cell();
    else if (int dt = construct_type(t, n)) v = datatype_cell(Type(dt));
    else {
        st.pos = e;
        throw_error(st, s, e + 1, -2);
    }
    st.pos = e + 1;
    st.type = type_id(v);
    if (build) {
        Cell& c = slot(st);
        uint32_t keep = c.header & header::newline;
        c = v;
        c.header |= keep;
    }
}

void k_comment(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool) {
    st.pos = e;
    st.type = 0;
    fire_event(st, ev_scan, -(11 + 1), nullptr, s, e);
}

void k_comma(State& st, const uint8_t*, const uint8_t* s, uint32_t, bool) {
    st.pos = s;
    Cell* m = innermost_marker(st);
    int32_t mt = m ? int32_t(m->w2 & 0xFFFF) : 0;
    if (mt == lv_paren) m->w2 = uint32_t(lv_point) | 1u << 16;
    else if (mt == lv_point) m->w2 += 1u << 16;
    else throw_error(st, s, s + 1, lv_point);
    st.pos = s + 1;
    st.type = 0;
}

// --- strings and their relatives ------------------------------------------------------------

void k_string(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e + 1;
    Type t = st.type_hint > 0 ? Type(st.type_hint) : Type::string;
    if (!text_value(st, t, s + 1, e, true, build)) bad(st, t);
    st.type = int32_t(t);
}

}  // namespace

void build_braced_string(State& st, const uint8_t* open, const uint8_t* close, bool build) {
    if (!fire_event(st, ev_close, int32_t(Type::string), nullptr, close, close + 1)) {
        st.brace_depth = 0;
        st.start_state = st_text;
        return;
    }
    int32_t lines = st.lines_in_token;
    if (st.brace_flags & 0x20000u) st.lines_in_token = 1;
    else st.lines_in_token = 0;
    bool ok = text_value(st, Type::string, open + 1, close, true, false);
    st.brace_depth = 0;
    st.start_state = st_text;
    st.type = int32_t(Type::string);
    if (!fire_event(st, ev_scan, ok ? st.type : -2, nullptr, open, close + 1) && ok) {
        st.brace_flags = 0;
        st.lines_in_token = lines;
        return;
    }
    if (!ok) {
        st.tok_start = open;
        throw_error(st, open, close + 1, int32_t(Type::string));
    }
    if (build) {
        text_value(st, Type::string, open + 1, close, true, true);
        Cell value = *out_cell(st.out_tail - 1);
        if (!fire_event(st, ev_load, st.type, &value, open, close + 1)) drop_last(st);
    }
    st.brace_flags = 0;
    st.lines_in_token = lines;
}

namespace {

// Percent-decoding of a bare file or a url: %hh becomes the byte, and the
// result is read as UTF-8.
bool percent_text(State& st, Type t, const uint8_t* s, const uint8_t* e, bool build) {
    std::string bytes;
    bytes.reserve(size_t(e - s));
    for (const uint8_t* p = s; p < e; p++) {
        if (*p == '%' && e - p >= 3 && hex_value(p[1]) >= 0 && hex_value(p[2]) >= 0) {
            bytes.push_back(char(hex_value(p[1]) << 4 | hex_value(p[2])));
            p += 2;
        } else {
            bytes.push_back(char(*p));
        }
    }
    auto b = reinterpret_cast<const uint8_t*>(bytes.data());
    return text_value(st, t, b, b + bytes.size(), false, build);
}

void k_file(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    Type t = Type::file;
    if (s + 1 < st.in_end && s[1] == '"') {
        // The closing quote is the first one not escaped by a caret.
        const uint8_t* p = s + 2;
        while (p < st.in_end && *p != '"' && *p != '\n') p += (*p == '^' && p + 1 < st.in_end) ? 2 : 1;
        if (p >= st.in_end || *p != '"') {
            st.pos = p;
            bad(st, t);
        }
        st.pos = p + 1;
        if (!text_value(st, t, s + 2, p, true, build)) bad(st, t);
    } else {
        st.pos = e;
        if (!percent_text(st, t, s + 1, e, build)) bad(st, t);
    }
    st.type = int32_t(t);
}

void k_tag(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e + 1;
    if (*s != '<' || !text_value(st, Type::tag, s + 1, e, false, build)) bad(st, Type::tag);
    st.type = int32_t(Type::tag);
}

void k_url(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    st.pos = e;
    if (*s == ':') bad(st, Type::get_word);
    if (*s == '\'') bad(st, Type::lit_word);
    bool ok = (flags & flag::percent) ? percent_text(st, Type::url, s, e, build)
                                      : text_value(st, Type::url, s, e, false, build);
    if (!ok) bad(st, Type::url);
    st.type = int32_t(Type::url);
}

void k_email(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    if (!text_value(st, Type::email, s, e, false, build)) bad(st, Type::email);
    st.type = int32_t(Type::email);
}

void k_ref(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    if (!text_value(st, Type::ref, s + 1, e, false, build)) bad(st, Type::ref);
    st.type = int32_t(Type::ref);
}

void k_raw(State& st, const uint8_t* s, const uint8_t*, uint32_t, bool build) {
    uint32_t n = 0;
    while (s + n < st.in_end && s[n] == '%') n++;
    const uint8_t* body = s + n + 1;
    const uint8_t* p = body;
    for (;;) {
        while (p < st.in_end && *p != '}') p++;
        if (p >= st.in_end) {
            st.pos = st.in_end;
            bad(st, Type::string);
        }
        uint32_t run = 0;
        while (p + 1 + run < st.in_end && p[1 + run] == '%') run++;
        if (run == n) break;
        if (run > n) {
            st.pos = p + 1 + run;
            bad(st, Type::string);
        }
        p++;
    }
    st.pos = p + 1 + n;
    // Lines past the point where the automaton gave up on the closing run.
    st.line = st.token_line;
    for (const uint8_t* q = st.tok_end; q < st.pos; q++) st.line += *q == '\n';
    if (!build) {
        fire_event(st, ev_open, int32_t(Type::string), nullptr, s, body);
        fire_event(st, ev_close, int32_t(Type::string), nullptr, p, st.pos);
    }
    if (!text_value(st, Type::string, body, p, false, build)) bad(st, Type::string);
    st.type = int32_t(Type::string);
}

void k_char(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e + 1;
    const uint8_t* p = s + 2;
    if (p >= e || s[1] != '"') bad(st, Type::char_);
    int32_t cp = *p == '^' ? (p++, decode_escape(p, e)) : decode_utf8(p, e);
    if (cp < 0 || p != e) bad(st, Type::char_);
    st.type = int32_t(Type::char_);
    if (build) {
        Cell& c = slot(st);
        uint32_t keep = c.header & header::newline;
        c = char_cell(uint32_t(cp));
        c.header |= keep;
    }
}

// --- words -------------------------------------------------------------------------------

void k_word(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    build_word_as(st, s, e, Type::word, build);
}

void k_issue(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    if (*s != '#' || e - s < 2) bad(st, Type::issue);
    st.type = int32_t(Type::issue);
    if (build) word_cell(slot(st), Type::issue, s + 1, uint32_t(e - s - 1));
}

void k_refinement(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    static const uint8_t slash[] = {'/'};
    Type t = Type::refinement;
    const uint8_t* name = s + 1;
    uint32_t n = uint32_t(e - s - 1);
    if (e - s == 1 && *s == '/') t = Type::word, name = slash, n = 1;
    else if (e - s == 2 && s[0] == '\'' && s[1] == '/') t = Type::lit_word, name = slash, n = 1;
    else if (e - s == 2 && s[0] == ':' && s[1] == '/') t = Type::get_word, name = slash, n = 1;
    else if (e - s == 2 && s[0] == '/' && s[1] == ':') t = Type::set_word, name = slash, n = 1;
    else if (*s != '/' || n == 0) bad(st, Type::refinement);
    st.type = int32_t(t);
    if (build) word_cell(slot(st), t, name, n);
}

}  // namespace

void build_word_as(State& st, const uint8_t* s, const uint8_t* e, Type t, bool build) {
    // (The Unicode spaces of the delimiter set never reach a word: the
    // automaton reads them as blanks.)
    st.pos = e;
    Type type = t;
    const uint8_t* name = s;
    const uint8_t* end = e;
    bool lead_colon = *s == ':', lit = *s == '\'';
    bool trail_colon = e - s > 1 && e[-1] == ':';
    // The automaton ends a word of equal signs at a colon without taking it
    // (`=:`): outside a path that colon is the word's own and makes it a
    // set-word, consumed with it.
    bool colon_after = t == Type::word && st.start_state != st_path && !trail_colon &&
                       e < st.in_end && *e == ':';
    if (colon_after) {
        trail_colon = true;
        st.pos = e + 1;
    }
    if (t == Type::word) {
        if (lead_colon && !trail_colon) type = Type::get_word, name++;
        else if (trail_colon && !lead_colon) type = lit ? Type::lit_word : Type::set_word, end -= !colon_after;
        else if (lead_colon && trail_colon) bad(st, Type::word);
        if (lit) {
            if (trail_colon) bad(st, Type::lit_word);
            type = Type::lit_word;
            name = s + 1;
        }
    }
    if (end <= name) bad(st, type);
    if (type != Type::set_word && !colon_after && e < st.in_end && *e == ':') {
        // In a path a colon ends it as a set-path when a delimiter or the end
        // follows (":/" is the path's own error); anywhere else it is an error.
        const uint8_t* after = e + 1;
        bool ends = after >= st.in_end || is_delimiter_byte(*after) || delimiter_at(after, st.in_end);
        if (st.start_state != st_path || !(ends || *after == '/')) bad(st, Type::word);
    }
    st.type = int32_t(type);
    if (build) word_cell(slot(st), type, name, uint32_t(end - name));
}

namespace {

// --- numbers -----------------------------------------------------------------------------

// The float syntax table: columns other, sign, digit, e, '.', apostrophe, end.
constexpr uint8_t F_REJ = 10, F_ACC = 9;
constexpr uint8_t float_syntax[11][7] = {
    {10, 0, 1, 10, 4, 10, 10},   // 0 start
    {10, 10, 1, 6, 5, 2, 9},     // 1 integer digits
    {10, 10, 1, 10, 10, 10, 9},  // 2 after an apostrophe
    {10, 10, 3, 6, 10, 4, 9},    // 3 fraction digits
    {10, 10, 3, 10, 10, 10, 9},  // 4 after '.' or a fraction apostrophe
    {10, 10, 3, 10, 10, 10, 9},  // 5 after digits and '.'
    {10, 7, 8, 10, 10, 10, 10},  // 6 after e
    {10, 10, 8, 10, 10, 10, 10}, // 7 after the exponent sign
    {10, 10, 8, 10, 10, 10, 9},  // 8 exponent digits
    {9, 9, 9, 9, 9, 9, 9},       // 9 accepted
    {10, 10, 10, 10, 10, 10, 10},// 10 rejected
};

int float_column(uint8_t b) {
    if (b == '+' || b == '-') return 1;
    if (is_digit(b)) return 2;
    if (b == 'e' || b == 'E') return 3;
    if (b == '.') return 4;
    if (b == '\'') return 5;
    return 0;
}

// Float text to a double, correctly rounded; false on bad syntax.
bool read_float(const uint8_t* s, const uint8_t* e, double& out, int extra_exponent = 0) {
    if (e - s >= 313 || s >= e) return false;
    int state = 0;
    for (const uint8_t* p = s; p < e && state < F_ACC; p++) state = float_syntax[state][float_column(*p)];
    if (state < F_ACC) state = float_syntax[state][6];
    if (state != F_ACC) return false;
    char buf[320];
    int n = 0;
    for (const uint8_t* p = s; p < e; p++)
        if (*p != '\'') buf[n++] = char(*p);
    out = dtoa::strtod(buf, buf + n, extra_exponent);
    return true;
}

// Signed decimal digits with single apostrophes; err 1 when malformed, 2 when
// beyond 32 bits.
int32_t read_integer(const uint8_t* s, const uint8_t* e, int& err) {
    err = 0;
    bool neg = false;
    if (s < e && (*s == '+' || *s == '-')) neg = *s++ == '-';
    if (s >= e || !is_digit(*s)) return err = 1, 0;
    int64_t v = 0;
    int digits = 0;
    for (const uint8_t* p = s; p < e; p++) {
        if (*p == '\'') {
            if (p + 1 >= e || p[1] == '\'') return err = 1, 0;
            continue;
        }
        if (!is_digit(*p)) return err = 1, 0;
        digits++;
        v = v * 10 + (*p - '0');
        if (digits > 10) return err = 2, 0;
    }
    if (neg) v = -v;
    if (v > 2147483647 || v < -2147483648LL) return err = 2, 0;
    return int32_t(v);
}

void put_value(State& st, const Cell& v) {
    Cell& c = slot(st);
    uint32_t keep = c.header & header::newline;
    c = v;
    c.header |= keep;
}

// A number read as a double (float!, percent!, time!): the token's type, and
// its value when building.
void put_float(State& st, double d, Type t, bool build) {
    st.type = int32_t(t);
    if (build) put_value(st, float_cell(d, t));
}

void k_integer(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    int err;
    int32_t v = read_integer(s, e, err);
    if (err == 1) bad(st, Type::integer);
    if (err == 2) {
        double d;
        if (!read_float(s, e, d)) bad(st, Type::integer);
        put_float(st, d, Type::float_, build);
        return;
    }
    st.type = int32_t(Type::integer);
    if (build) put_value(st, integer_cell(v));
}

void k_float(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    double d;
    if (!read_float(s, e, d)) bad(st, Type::float_);
    put_float(st, d, Type::float_, build);
}

void k_percent(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e + 1;
    double d;
    if (!read_float(s, e, d, -2)) bad(st, Type::float_);
    put_float(st, d, Type::percent, build);
}

bool special_float(const uint8_t* s, const uint8_t* e, double& d) {
    bool neg = false;
    if (s < e && (*s == '+' || *s == '-')) neg = *s++ == '-';
    if (e - s != 6 || s[0] != '1' || s[1] != '.' || s[2] != '#') return false;
    char w[3] = {char(lower(s[3])), char(lower(s[4])), char(lower(s[5]))};
    if (!std::memcmp(w, "nan", 3)) d = std::numeric_limits<double>::quiet_NaN();
    else if (!std::memcmp(w, "inf", 3)) d = neg ? -HUGE_VAL : HUGE_VAL;
    else return false;
    return true;
}

void k_special_float(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    double d;
    if (!special_float(s, e, d)) bad(st, Type::float_);
    put_float(st, d, Type::float_, build);
}

bool read_tuple(const uint8_t* s, const uint8_t* e, uint8_t bytes[12], int& count) {
    count = 0;
    const uint8_t* p = s;
    while (p <= e) {
        uint32_t v = 0;
        int digits = 0;
        while (p < e && is_digit(*p)) {
            v = v * 10 + uint32_t(*p++ - '0');
            if (++digits > 3) return false;
        }
        if (digits == 0 || v > 255 || count == 12) return false;
        bytes[count++] = uint8_t(v);
        if (p == e) break;
        if (*p != '.') return false;
        p++;
        if (p == e) return false;
    }
    return count > 0;
}


void k_tuple(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    uint8_t bytes[12];
    int count;
    if (!read_tuple(s, e, bytes, count)) bad(st, Type::tuple);
    st.type = int32_t(Type::tuple);
    if (build) put_value(st, tuple_cell(bytes, count));
}

void k_pair(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    const uint8_t* x = s;
    while (x < e && *x != 'x' && *x != 'X') x++;
    int e1, e2;
    bool dot = std::memchr(s, '.', size_t(e - s)) != nullptr;
    if (dot || x >= e) bad(st, Type::pair);
    int32_t a = read_integer(s, x, e1), b = read_integer(x + 1, e, e2);
    if (e1 || e2) bad(st, Type::pair);
    st.type = int32_t(Type::pair);
    if (build) put_value(st, make_cell(Type::pair, 0, uint32_t(a), uint32_t(b)));
}

void k_point(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e + 1;
    st.start_state = st_text;
    st.lines_in_token = st.saved_lines;
    float v[3];
    int n = 0;
    const uint8_t* p = s;
    for (;;) {
        while (p < e && (*p == ' ' || *p == '\t')) p++;
        const uint8_t* q = p;
        while (q < e && *q != ',' && *q != ' ' && *q != '\t') q++;
        double d;
        if (n == 3 || !(read_float(p, q, d) || special_float(p, q, d))) bad(st, Type::point2d);
        v[n++] = float(d);
        while (q < e && (*q == ' ' || *q == '\t')) q++;
        if (q == e) break;
        if (*q != ',') bad(st, Type::point2d);
        p = q + 1;
    }
    if (n < 2) bad(st, Type::point2d);
    Type t = n == 2 ? Type::point2d : Type::point3d;
    st.type = int32_t(t);
    if (build) put_value(st, point_cell(t, v[0], v[1], n == 3 ? v[2] : 0.0f));
}

// Time: [+-]h:m[:s] or m:s.f; seconds as a double.
bool read_time(const uint8_t* s, const uint8_t* e, uint32_t flags, double& out) {
    bool neg = false;
    const uint8_t* p = s;
    if (p < e && (*p == '+' || *p == '-')) neg = *p++ == '-';
    const uint8_t* c1 = p;
    while (c1 < e && *c1 != ':') c1++;
    if (c1 >= e || c1 + 1 >= e) return false;
    int err;
    int32_t h = read_integer(p, c1, err);
    if (err) return false;
    const uint8_t* f2 = c1 + 1;
    const uint8_t* q = f2;
    while (q < e && (is_digit(*q) || *q == '\'')) q++;
    int32_t m = read_integer(f2, q, err);
    if (err || m < 0) return false;
    double secs = 0;
    if (q < e) {
        if ((flags & flag::exponent) || !(*q == '.' || *q == ',' || *q == ':')) return false;
        if (*q == ':') {
            if (q + 1 >= e) return false;
            if (!read_float(q + 1, e, secs) || secs < 0) return false;
        } else {
            std::string t(reinterpret_cast<const char*>(f2), size_t(e - f2));
            for (char& ch : t) if (ch == ',') ch = '.';
            auto b = reinterpret_cast<const uint8_t*>(t.data());
            if (!read_float(b, b + t.size(), secs) || secs < 0) return false;
            m = h;
            h = 0;
        }
    }
    double v = secs + double(m) * 60 + std::fabs(double(h)) * 3600;
    out = (neg || h < 0) ? -v : v;
    return true;
}

void k_time(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    st.pos = e;
    double v;
    if (!read_time(s, e, flags, v)) bad(st, Type::time);
    put_float(st, v, Type::time, build);
}

// Money: [+-][CUR]$digits[.decimals]; true when well formed.
bool money_syntax(const uint8_t* s, const uint8_t* e) {
    const uint8_t* p = s;
    if (p < e && (*p == '+' || *p == '-')) p++;
    const uint8_t* dollar = p;
    while (dollar < e && *dollar != '$') dollar++;
    if (dollar >= e) return false;
    uint32_t letters = uint32_t(dollar - p);
    if (letters != 0 && letters != 3) return false;
    for (const uint8_t* q = p; q < dollar; q++)
        if (!((*q | 32) >= 'a' && (*q | 32) <= 'z')) return false;
    p = dollar + 1;
    if (p >= e || !is_digit(*p)) return false;
    while (p + 1 < e && *p == '0' && is_digit(p[1])) p++;
    int digits = 0;
    for (; p < e && (is_digit(*p) || *p == '\''); p++) {
        if (*p == '\'') {
            if (p + 1 >= e || !is_digit(p[1]) || p[-1] == '$') return false;
            continue;
        }
        digits++;
    }
    if (digits > 17) return false;
    if (p == e) return true;
    if (*p != '.' && *p != ',') return false;
    p++;
    int decimals = 0;
    for (; p < e; p++, decimals++)
        if (!is_digit(*p)) return false;
    return decimals >= 1 && decimals <= 5;
}

// Builds a money literal already checked by money_syntax; false for an
// unknown currency.
bool build_money(const uint8_t* s, const uint8_t* e, Cell& out) {
    const uint8_t* p = s;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const uint8_t* dollar = p;
    while (*dollar != '$') dollar++;
    auto text = [](const uint8_t* a, const uint8_t* b) {
        return std::string_view(reinterpret_cast<const char*>(a), size_t(b - a));
    };
    const uint8_t* q = dollar + 1;
    while (q < e && *q != '.' && *q != ',') q++;
    std::string_view fraction = q < e ? text(q + 1, e) : std::string_view();
    return money::make_at(out, negative, text(p, dollar), text(dollar + 1, q), fraction);
}

void k_money(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    if (!money_syntax(s, e)) bad(st, Type::money);
    st.type = int32_t(Type::money);
    Cell m;
    if (!build_money(s, e, m)) bad(st, Type::money);
    if (build) put_value(st, m);
}

// --- dates ---------------------------------------------------------------------------------

struct DateReader {
    const uint8_t* p;
    const uint8_t* e;
    int digits(int min, int max, int32_t& v) {
        int n = 0;
        v = 0;
        while (p < e && is_digit(*p) && n < max) v = v * 10 + (*p++ - '0'), n++;
        return n >= min ? n : -1;
    }
    bool two(int32_t& v) { return digits(2, 2, v) == 2; }
    bool at(uint8_t c) {
        if (p < e && *p == c) return ++p, true;
        return false;
    }
};

bool leap(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Reads an optional time after a date: hour:minute[:seconds][Z|zone].
bool date_time(DateReader& r, bool iso, double& secs, int32_t& zh, int32_t& zm, bool& zneg) {
    int32_t h, m;
    if (iso) {
        if (!r.two(h) || !r.two(m)) return false;
    } else {
        if (r.digits(1, 2, h) < 0 || !r.at(':') || r.digits(1, 2, m) < 0) return false;
    }
    double s = 0;
    if (iso ? (r.p < r.e && is_digit(*r.p)) : r.at(':')) {
        const uint8_t* q = r.p;
        while (r.p < r.e && (is_digit(*r.p) || *r.p == '.')) r.p++;
        if (q == r.p || !read_float(q, r.p, s)) return false;
    }
    if (h >= 24 || m >= 60 || s >= 60.0) return false;
    secs = h * 3600.0 + m * 60.0 + s;
    if (r.at('Z')) return true;
    if (r.p < r.e && (*r.p == '+' || *r.p == '-')) {
        bool neg = *r.p++ == '-';
        if (iso) {
            if (!r.two(zh) || !r.two(zm)) return false;
        } else {
            if (r.digits(1, 2, zh) < 0) return false;
            if (r.at(':')) {
                if (r.digits(1, 2, zm) < 0) return false;
            } else if (r.p < r.e && is_digit(*r.p) && r.digits(1, 2, zm) < 0) {
                return false;
            }
        }
        if (zh >= 16 || zm >= 60) return false;
        zneg = neg;
    }
    return true;
}

}  // namespace

bool read_date(const uint8_t* s, const uint8_t* e, DateFields& f) {
    static const char* months[] = {"january", "february", "march", "april", "may", "june", "july",
                                   "august", "september", "october", "november", "december"};
    static const int month_days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    DateReader r{s, e};
    int32_t year = 0, month = 1, day = 1, zh = 0, zm = 0, week = 0, wd = 0, yd = 0;
    bool zneg = false;
    double secs = 0;
    bool has_time = false;
    const uint8_t* dash = s;
    while (dash < e && is_digit(*dash)) dash++;
    int lead = int(dash - s);
    if (lead == 8 && dash < e && *dash == 'T') {
        // Basic ISO: yyyymmddThhmm[ss][Z|zone]
        r.digits(4, 4, year), r.two(month), r.two(day);
        r.at('T');
        if (!date_time(r, true, secs, zh, zm, zneg)) return false;
        has_time = true;
    } else if (lead == 4 && e - dash >= 2 && dash[0] == '-' && dash[1] == 'W') {
        r.digits(4, 4, year);
        r.p += 2;
        wd = 1;
        if (!r.two(week) || week > 53) return false;
        if (r.at('-') && (r.digits(1, 1, wd) < 0 || wd < 1 || wd > 7)) return false;
        if (r.at('T') || r.at('/')) {
            if (!date_time(r, false, secs, zh, zm, zneg)) return false;
            has_time = true;
        }
    } else if (lead >= 1 && lead <= 4 && e - dash >= 4 && dash[0] == '-' && is_digit(dash[1]) &&
               is_digit(dash[2]) && is_digit(dash[3]) && (e - dash == 4 || !is_digit(dash[4]))) {
        r.digits(1, 4, year);
        r.p++;
        r.digits(3, 3, yd);
        if (yd == 0 || yd > (leap(year) ? 366 : 365)) return false;
        if (r.at('T') || r.at('/')) {
            if (!date_time(r, false, secs, zh, zm, zneg)) return false;
            has_time = true;
        }
    } else {
        bool neg = r.at('-');
        int32_t a, c;
        int na = r.digits(1, 5, a);
        if (na < 0 || r.p >= r.e || (*r.p != '-' && *r.p != '/')) return false;
        uint8_t sep = *r.p++;
        if (r.p < r.e && is_digit(*r.p)) {
            if (r.digits(1, 2, month) < 0) return false;
        } else {
            const uint8_t* q = r.p;
            while (r.p < r.e && ((*r.p | 32) >= 'a' && (*r.p | 32) <= 'z')) r.p++;
            int n = int(r.p - q);
            if (n < 3 || n > 9) return false;
            month = 0;
            for (int m = 0; m < 12 && !month; m++) {
                if (n > int(std::strlen(months[m]))) continue;
                bool same = true;
                for (int i = 0; i < n && same; i++) same = lower(q[i]) == uint8_t(months[m][i]);
                if (same) month = m + 1;
            }
            if (!month) return false;
        }
        if (!r.at(sep)) return false;
        bool cneg = r.at('-');
        int nc = r.digits(1, 5, c);
        if (nc < 0) return false;
        if (cneg) c = -c;
        if (neg) a = -a;
        int ny;
        if (c < 0 || c > 31 || a < 100) {
            day = a, year = c, ny = nc;
            if (neg) return false;
        } else {
            year = a, day = c, ny = na;
        }
        if (year >= 0 && year < 100 && ny < 3) year += year < 50 ? 2000 : 1900;
        if (r.at('/') || r.at('T')) {
            if (!date_time(r, false, secs, zh, zm, zneg)) return false;
            has_time = true;
        }
    }
    if (r.p != r.e) return false;
    if (day <= 0 || month < 1 || month > 12 || year <= -10000 || year >= 10000) return false;
    if (day > month_days[month - 1] || (month == 2 && day == 29 && !leap(year))) return false;
    f.year = year, f.month = month, f.day = day, f.seconds = secs, f.zone_hours = zh, f.zone_minutes = zm;
    f.zone_negative = zneg;
    f.has_time = has_time, f.week = week, f.weekday = wd, f.yearday = yd;
    return true;
}

namespace {

void k_date(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    DateFields f;
    if (!read_date(s, e, f)) bad(st, Type::date);
    st.type = int32_t(Type::date);
    if (!build) return;
    Cell d;
    date::make_at(d, f.year, f.month, f.day, f.seconds, f.zone_negative, f.zone_hours,
                  f.zone_minutes, f.has_time);
    if (f.week != 0) date::set_isoweek(d, f.week);
    if (f.weekday != 0) date::set_weekday(d, f.weekday);
    if (f.yearday != 0) date::set_yearday(d, f.yearday);
    put_value(st, d);
}

// --- binary and hexadecimal ------------------------------------------------------------------

void k_binary(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e + 1;
    const uint8_t* hash = s;
    while (*hash != '#') hash++;
    int base;
    std::string prefix(reinterpret_cast<const char*>(s), size_t(hash - s));
    if (prefix.empty() || prefix == "16") base = 16;
    else if (prefix == "2") base = 2;
    else if (prefix == "64") base = 64;
    else bad(st, Type::binary);
    const uint8_t* p = hash + 2;
    std::string out;
    uint32_t acc = 0;
    int have = 0;
    const uint8_t* last = p;
    bool padded = false;
    auto fail = [&](const uint8_t* at) {
        st.tok_start = at;
        throw_error(st, at, e, int32_t(Type::binary));
    };
    for (; p < e; p++) {
        uint8_t b = *p;
        if (b == ';') {
            while (p < e && *p != '\n') p++;
            continue;
        }
        if (base == 64) {
            if (b == 8 || b == '\t' || b == '\n' || b == 12 || b == '\r' || b == ' ' || b == '\'') continue;
            int v = b >= 'A' && b <= 'Z' ? b - 'A' : b >= 'a' && b <= 'z' ? b - 'a' + 26
                    : is_digit(b) ? b - '0' + 52 : b == '+' ? 62 : b == '/' ? 63 : b == '=' ? -2 : -1;
            if (v == -1 || (padded && v != -2)) fail(p);
            if (v == -2) {
                if (!padded && have < 2) fail(p);
                padded = true;
                continue;
            }
            acc = acc << 6 | uint32_t(v);
            last = p;
            if (++have == 4) {
                out.push_back(char(acc >> 16)), out.push_back(char(acc >> 8)), out.push_back(char(acc));
                acc = 0, have = 0;
            }
            continue;
        }
        if (b == '\t' || b == '\n' || b == '\r' || b == ' ') continue;
        last = p;
        if (base == 16) {
            int v = hex_value(b);
            if (v < 0) fail(p);
            acc = acc << 4 | uint32_t(v);
            if (++have == 2) out.push_back(char(acc)), acc = 0, have = 0;
        } else {
            if (b != '0' && b != '1') fail(p);
            acc = acc << 1 | uint32_t(b - '0');
            if (++have == 8) out.push_back(char(acc)), acc = 0, have = 0;
        }
    }
    if (base == 64) {
        if (have == 1) fail(last);
        if (have == 2) out.push_back(char(acc >> 4));
        if (have == 3) out.push_back(char(acc >> 10)), out.push_back(char(acc >> 2));
    } else if (have) {
        fail(last);
    }
    st.type = int32_t(Type::binary);
    if (build) {
        Node n = memory::alloc_bytes(uint32_t(out.size()));
        memory::Series* b = memory::buffer(n);
        std::memcpy(b->at_head(), out.data(), out.size());
        b->tail = b->head + uint32_t(out.size());
        put_value(st, series_cell(Type::binary, n));
    }
}

void k_hex(State& st, const uint8_t* s, const uint8_t* e, uint32_t, bool build) {
    st.pos = e;
    const uint8_t* h = e - 1;  // the final 'h'
    uint32_t n = uint32_t(h - s);
    if (n == 1 && !is_digit(*s)) bad(st, Type::word);
    if (n < 2 || n > 8) bad(st, Type::integer);
    uint32_t v = 0;
    for (const uint8_t* p = s; p < h; p++) {
        int d = hex_value(*p);
        if (d < 0) bad(st, Type::integer);
        v = v << 4 | uint32_t(d);
    }
    st.type = int32_t(Type::integer);
    if (build) put_value(st, integer_cell(int32_t(v)));
}

}  // namespace

// --- the token table ------------------------------------------------------------------------

const TokenRoutine check_routines[kind_count] = {
    k_end,   k_error,  k_block,  k_block_end, k_paren,   k_paren_end, k_brace,  k_brace_end,
    k_map,   k_path,   k_construct, k_comment, k_comma, k_string,  k_word,   k_issue,
    nullptr, nullptr,  nullptr,  nullptr,     nullptr,   nullptr,     nullptr,  nullptr,
    nullptr, nullptr,  nullptr,  nullptr,     nullptr,   nullptr,     nullptr,  nullptr,
    nullptr, nullptr,  nullptr,  nullptr,
};

const TokenRoutine build_routines[kind_count] = {
    nullptr,   nullptr,    nullptr, nullptr, nullptr,   nullptr,   nullptr,         nullptr,
    nullptr,   nullptr,    nullptr, nullptr, nullptr,   k_string,  k_word,          k_issue,
    k_integer, k_refinement, k_char, k_file, k_binary,  k_percent, k_float,         k_special_float,
    k_tuple,   k_date,     k_pair,  k_point, k_time,    k_money,   k_tag,           k_url,
    k_email,   k_hex,      k_raw,   k_ref,
};

// --- decimal text readers ----------------------------------------------------------------------

namespace {

// Wide text to bytes; false when a character is not ASCII.
bool narrow(const void* text, uint32_t count, uint32_t unit, std::string& out, bool comma_dot) {
    auto p = static_cast<const uint8_t*>(text);
    out.clear();
    out.reserve(count);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = p[i * unit];
        if (unit >= 2) c |= uint32_t(p[i * unit + 1]) << 8;
        if (unit == 4) c |= uint32_t(p[i * unit + 2]) << 16 | uint32_t(p[i * unit + 3]) << 24;
        if (c == 0 || c > 0x7F) return false;
        out.push_back(char(comma_dot && c == ',' ? '.' : c));
    }
    return true;
}

}  // namespace

int32_t scan_integer(const void* text, uint32_t count, uint32_t unit, int32_t& err) {
    std::string s;
    err = 0;
    if (!narrow(text, count, unit, s, false)) return err = -1, 0;
    auto b = reinterpret_cast<const uint8_t*>(s.data());
    const uint8_t* p = b;
    const uint8_t* e = b + s.size();
    bool neg = false;
    if (p < e && (*p == '+' || *p == '-')) neg = *p++ == '-';
    if (p >= e) return err = -1, 0;
    int64_t v = 0;
    for (; p < e; p++) {
        if (*p == '\'') continue;
        if (!is_digit(*p)) return err = -1, 0;
        v = v * 10 + (*p - '0');
        if (v > 2147483648LL) return err = -2, 0;
    }
    if (neg) v = -v;
    if (v > 2147483647) return err = -2, 0;
    return int32_t(v);
}

double scan_float(const void* text, uint32_t count, uint32_t unit, int32_t& err) {
    std::string s;
    err = 0;
    double d;
    if (count > 312 || !narrow(text, count, unit, s, true)) return err = -1, std::nan("");
    auto b = reinterpret_cast<const uint8_t*>(s.data());
    if (!read_float(b, b + s.size(), d)) return err = -1, std::nan("");
    return d;
}

void scan_tuple(const void* text, uint32_t count, uint32_t unit, int32_t& err, Cell& result) {
    std::string s;
    err = 0;
    uint8_t bytes[12];
    int n;
    if (!narrow(text, count, unit, s, false)) return void(err = -1);
    auto b = reinterpret_cast<const uint8_t*>(s.data());
    if (!read_tuple(b, b + s.size(), bytes, n)) return void(err = -1);
    result = tuple_cell(bytes, n);
}

void scan_money(const void* text, uint32_t count, uint32_t unit, int32_t& err, Cell& result) {
    std::string s;
    err = 0;
    if (!narrow(text, count, unit, s, false)) return void(err = -1);
    auto b = reinterpret_cast<const uint8_t*>(s.data());
    if (!money_syntax(b, b + s.size()) || !build_money(b, b + s.size(), result)) err = -1;
}

}  // namespace zan::lexer
