// The parse dialect engine.
//
// One loop with an explicit state (fetch the next rule value, complete a
// rule, end a rule block) walks the rules over two block! series shared by
// every running parse:
//
//   input stack  one series value per `into` level; the current input is
//                kept in `in` and saved there while a nested level runs.
//   rule stack   frames, each ending in a cell that tells its kind:
//                block frame (3 cells):
//                  [parent rules at the resume position | none]
//                  [the sub-rule block at its start]
//                  [triple: input level, input index, input length at start]
//                keyword frame (4 cells + extras below them):
//                  [extras...]
//                  [triple: minimum, maximum (-1 none), iteration count]
//                  [triple: rule position, input index, input length at start]
//                  [triple: input index, input length at this iteration, 0]
//                  [pair: keyword code, flag | frame size << 8]
//
// Invariants: a rule that fails leaves the input where that rule began; when
// a rule completes, the rule position stands after it. A parse started from a
// paren inside another parse works above the outer parse's frames and cuts
// both stacks back to where it found them when it ends, also on an error.
// Nothing keeps a buffer address across an allocation or script code: the
// loops over text read the buffer afresh after each.
#include "evaluator/parse.h"

#include <algorithm>
#include <bit>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/dispatch.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zan::parse {

namespace {

Hooks g_hooks;
Node g_rules = 0;
Node g_inputs = 0;

// --- keywords ------------------------------------------------------------------

enum Kw : uint8_t {
    kw_no = 0,
    kw_after, kw_ahead, kw_any, kw_break, kw_case, kw_change, kw_collect, kw_copy, kw_end,
    kw_fail, kw_if, kw_insert, kw_into, kw_keep, kw_none, kw_not, kw_only, kw_opt, kw_pick,
    kw_quote, kw_reject, kw_remove, kw_set, kw_skip, kw_some, kw_thru, kw_to, kw_while, kw_bar,
};
constexpr const char* kw_names[] = {
    "",     "after", "ahead",  "any",    "break",  "case", "change", "collect", "copy",
    "end",  "fail",  "if",     "insert", "into",   "keep", "none",   "not",     "only",
    "opt",  "pick",  "quote",  "reject", "remove", "set",  "skip",   "some",    "thru",
    "to",   "while", "|",
};
std::unordered_map<uint32_t, Kw> g_keywords;  // canonical symbol -> keyword

enum Event : uint8_t { ev_push, ev_pop, ev_fetch, ev_match, ev_iterate, ev_paren, ev_end, ev_count };
constexpr const char* event_names[] = {"push", "pop", "fetch", "match", "iterate", "paren", "end"};
uint32_t g_event_symbols[ev_count];

// Keyword codes kept in keyword frames.
enum Code : int32_t {
    c_repeat = -1, c_to = -2, c_thru = -3, c_copy = -4, c_set = -5, c_not = -6, c_into = -7,
    c_remove = -9, c_while = -11, c_collect = -12, c_keep = -13, c_ahead = -16, c_change = -17,
    c_change_only = -18, c_case = -19,
};

// Collect targets.
enum Target : uint32_t { t_parent = 0, t_set = 1, t_into = 2, t_after = 3 };

void mark_stacks() {
    if (g_rules) collector::mark_series(g_rules);
    if (g_inputs) collector::mark_series(g_inputs);
}

// Keyword of each symbol id met so far: 0 not looked up yet, 1 none, else
// the keyword + 1. Rules fetch words all the time; this spares the lookup.
std::vector<uint8_t> g_keyword_cache;

Kw keyword_of(const Cell& word) {
    uint32_t sym = word_symbol(word);
    if (sym < g_keyword_cache.size() && g_keyword_cache[sym]) return Kw(g_keyword_cache[sym] - 1);
    auto it = g_keywords.find(symbol::resolve(sym));
    Kw kw = it == g_keywords.end() ? kw_no : it->second;
    if (sym >= g_keyword_cache.size()) g_keyword_cache.resize(sym + 256, 0);
    g_keyword_cache[sym] = uint8_t(kw + 1);
    return kw;
}

Cell triple(uint32_t a, uint32_t b, uint32_t c) { return make_cell(Type::triple, a, b, c); }
Cell pair(int32_t x, int32_t y) { return make_cell(Type::pair, 0, uint32_t(x), uint32_t(y)); }
int32_t code_of(const Cell& c) { return int32_t(c.w2); }
int32_t flags_of(const Cell& c) { return int32_t(c.w3); }

bool is_word_family(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word ||
           t == Type::refinement;
}
bool is_text(Type t) { return series::is_string_like(t); }
bool is_bytes_input(Type t) { return t == Type::binary; }

// Case folding for matching without /case.
inline uint32_t fold(uint32_t cp) {
    if (cp < 128) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    return unicode::to_upper(cp);
}
inline uint32_t fold_byte(uint32_t b) { return (b >= 'a' && b <= 'z') ? b - 32 : b; }

// Byte tables: each Latin-1 character folded, and left as it is.
const uint8_t* fold_table() {
    static uint8_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t c = 0; c < 256; c++) {
            uint32_t f = fold(c);
            table[c] = uint8_t(f < 256 ? f : c);
        }
        made = true;
    }
    return table;
}
const uint8_t* identity_table() {
    static uint8_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t c = 0; c < 256; c++) table[c] = uint8_t(c);
        made = true;
    }
    return table;
}

// The bytes a folded one-byte value stands for (itself and its other case),
// as two bytes (the same twice for one); false when more than two fold to it.
bool fold_sources(uint32_t folded, uint8_t& a, uint8_t& b) {
    static uint8_t first[256], second[256], count[256];
    static bool made = false;
    if (!made) {
        const uint8_t* table = fold_table();
        for (uint32_t c = 0; c < 256; c++) {
            uint8_t f = table[c];
            if (count[f] == 0) first[f] = uint8_t(c);
            if (count[f] == 1) second[f] = uint8_t(c);
            if (count[f] < 3) ++count[f];
        }
        made = true;
    }
    if (folded > 255 || count[folded] == 0 || count[folded] > 2) return false;
    a = first[folded];
    b = count[folded] == 2 ? second[folded] : a;
    return true;
}

// The first index in [i, end) whose byte is a or b, else end: sixteen bytes
// compared at a time.
uint32_t find_either(const uint8_t* bytes, uint32_t i, uint32_t end, uint8_t a, uint8_t b) {
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi8(char(a)), vb = _mm_set1_epi8(char(b));
    while (end - i >= 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)));
        if (hits) return i + uint32_t(__builtin_ctz(uint32_t(hits)));
        i += 16;
    }
#endif
    for (; i < end; i++)
        if (bytes[i] == a || bytes[i] == b) return i;
    return end;
}

// Raw view of a unit-1/2/4 buffer, absolute indexes from the buffer head.
// Valid until the next allocation.
struct Units {
    const std::byte* p;
    uint32_t unit;
    uint32_t len;
    uint32_t at(uint32_t i) const {
        const std::byte* q = p + size_t(i) * unit;
        switch (unit) {
            case 1: return uint32_t(q[0]);
            case 2: return uint32_t(q[0]) | uint32_t(q[1]) << 8;
            default:
                return uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 |
                       uint32_t(q[3]) << 24;
        }
    }
};
// Units in a buffer: the unit is a power of two, so a shift does it (the
// engine asks for lengths at nearly every step).
inline uint32_t units_in(const memory::Series* b) {
    return (b->tail - b->head) >> std::countr_zero(b->unit());
}
inline uint32_t cells_in(const memory::Series* b) { return (b->tail - b->head) / uint32_t(sizeof(Cell)); }

Units units_of(const Cell& s) {
    memory::Series* b = memory::buffer(series_node(s));
    return Units{b->at_head(), b->unit(), units_in(b)};
}

// A bitset!'s bytes taken once for a loop over many characters; a code
// point beyond them is in the set exactly when the set is complemented.
struct Bits {
    const uint8_t* bytes;
    uint32_t count;
    bool complemented;
    bool has(uint32_t cp) const {
        if (cp / 8 >= count) return complemented;
        return (bytes[cp >> 3] & (0x80u >> (cp & 7))) != 0;
    }
};
Bits bits_of(const Cell& bs) {
    return Bits{bitset::rs_head(bs), bitset::byte_count(bs), bitset::complemented(bs)};
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | cp >> 6));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | cp >> 12));
        out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | cp >> 18));
        out.push_back(char(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// The bytes a value stands for in binary input; false when it stands for none.
bool pattern_bytes(const Cell& v, std::string& out) {
    Type t = type_of(v);
    out.clear();
    if (t == Type::char_) {
        uint32_t cp = v.w2;
        if (cp < 256) out.push_back(char(cp));
        else append_utf8(out, cp);
        return true;
    }
    if (t == Type::binary) {
        Units u = units_of(v);
        for (uint32_t i = series_index(v); i < u.len; i++) out.push_back(char(u.at(i)));
        return true;
    }
    if (is_text(t)) {
        Units u = units_of(v);
        if (t == Type::tag) out.push_back('<');
        for (uint32_t i = series_index(v); i < u.len; i++) append_utf8(out, u.at(i));
        if (t == Type::tag) out.push_back('>');
        return true;
    }
    return false;
}

// --- the stacks ------------------------------------------------------------------------

uint32_t used(Node n) { return cells_in(memory::buffer(n)); }
Cell* cell_at(Node n, uint32_t i) { return memory::buffer(n)->cells() + i; }
Cell* top_cell(Node n, uint32_t k = 0) {
    memory::Series* b = memory::buffer(n);
    return reinterpret_cast<Cell*>(b->data() + b->tail) - 1 - k;
}

void push_cell(Node n, const Cell& value) {
    memory::Series* b = memory::buffer(n);
    if (cells_in(b) >= stack_limit) errors::fire(id::stack);
    if (b->tail + sizeof(Cell) <= b->capacity) {
        std::memcpy(b->data() + b->tail, &value, sizeof(Cell));
        b->tail += uint32_t(sizeof(Cell));
        return;
    }
    Cell v = value;
    collector::Root keep(v);
    Cell stack = series_cell(Type::block, n);
    block::rs_append(stack, v);
}
void drop_cells(Node n, uint32_t k) {
    memory::Series* b = memory::buffer(n);
    b->tail -= k * uint32_t(sizeof(Cell));
}

// Cuts both stacks back to where a parse found them, however it ends.
struct StackMark {
    uint32_t rules, inputs;
    StackMark() : rules(used(g_rules)), inputs(used(g_inputs)) {}
    ~StackMark() {
        if (used(g_rules) > rules) drop_cells(g_rules, used(g_rules) - rules);
        if (used(g_inputs) > inputs) drop_cells(g_inputs, used(g_inputs) - inputs);
    }
};

// --- the engine ---------------------------------------------------------------------------

enum class St : uint8_t { fetch, complete, block_end, done };
enum class Pending : uint8_t { none, break_, reject, broke_block, rejected_block };

struct Engine {
    Cell in;       // the input at its current index
    Cell rule;     // the rule block at the current position
    Cell cb;       // the trace callback, or none
    Cell collected;  // the top-level collect's block, or none
    Cell tmp;      // scratch for values between allocations
    collector::Root r_in{in}, r_rule{rule}, r_cb{cb}, r_collected{collected}, r_tmp{tmp};
    StackMark mark;
    int32_t part = -1;  // absolute limit at level 0, -1 for none
    uint32_t level = 0;  // into depth of the current input
    bool case_ = false;
    bool tracing = false;
    bool stopped = false;
    bool match = false;
    St st = St::fetch;
    Pending pending = Pending::none;
    std::string bytes;  // pattern bytes for binary input

    // --- input -----------------------------------------------------------------
    uint32_t tail() const { return units_in(memory::buffer(series_node(in))); }
    uint32_t limit() const {
        uint32_t t = tail();
        return (level == 0 && part >= 0) ? std::min(uint32_t(part), t) : t;
    }
    uint32_t pos() {
        uint32_t t = tail();
        if (in.w1 > t) in.w1 = t;
        return in.w1;
    }
    // A change of the input's length at level 0 moves the part limit with it.
    void shift_limit(uint32_t at, int32_t delta) {
        if (level == 0 && part >= 0 && int64_t(at) <= part) part = std::max<int32_t>(int32_t(at), part + delta);
    }

    // --- rules -------------------------------------------------------------------
    uint32_t rule_tail() const { return cells_in(memory::buffer(series_node(rule))); }
    bool rule_end() const { return rule.w1 >= rule_tail(); }
    Cell rule_value(uint32_t i) const { return *cell_at(series_node(rule), i); }
    Cell next_value() const { return rule_value(rule.w1); }

    // --- words ---------------------------------------------------------------------
    Cell get(const Cell& word) {
        Cell v = g_hooks.get_word ? g_hooks.get_word(word) : unset_cell();
        if (is(v, Type::unset)) errors::fire(errors::id::no_value, &word);
        return v;
    }
    void set(const Cell& word, const Cell& value) {
        if (!g_hooks.set_word) errors::fire(errors::id::not_done);
        g_hooks.set_word(word, value);
    }
    Cell eval(const Cell& paren) {
        if (!g_hooks.eval_paren) errors::fire(errors::id::not_done);
        Cell p = paren;
        collector::Root keep(p);
        tmp = unset_cell();
        g_hooks.eval_paren(p, tmp);
        return tmp;
    }

    // --- events ----------------------------------------------------------------------
    // Answers false when the callback stopped the parse.
    bool event(Event e, bool m) { return !tracing || fire_event(e, m); }
    [[gnu::noinline]] bool fire_event(Event e, bool m) {
        // The callback sees a copy of this parse's frames: a script that
        // changed the stack itself would leave the engine on broken frames.
        Cell frames = series::copy_range(series_cell(Type::block, g_rules), int32_t(mark.rules),
                                         int32_t(used(g_rules) - mark.rules));
        collector::Root r0(frames);
        Cell word = g_hooks.word_of ? g_hooks.word_of(g_event_symbols[e])
                                    : make_cell(Type::word, 0, g_event_symbols[e], uint32_t(-1));
        Cell args[5] = {word, logic_cell(m),
                        rule, in, frames};
        collector::Root r1(args[2]), r2(args[3]), r3(args[4]), r4(cb);
        if (!g_hooks.call_callback || g_hooks.call_callback(cb, args)) return true;
        stopped = true;
        st = St::done;
        return false;
    }

    // --- frames --------------------------------------------------------------------------
    void push_block(const Cell& sub) {
        guard_recursion(sub);
        if (used(g_rules) + 3 > stack_limit) errors::fire(id::stack);
        Cell s = sub;
        collector::Root keep(s);
        push_cell(g_rules, rule);
        push_cell(g_rules, s);
        push_cell(g_rules, triple(level, pos(), tail()));
        rule = s;
        if (!event(ev_push, true)) return;
        st = St::fetch;
    }

    // Before a sub-rule block is entered: the same block at the same position
    // already walking the same input at the same index would never end. An
    // input that got shorter meanwhile (remove) is progress too.
    void guard_recursion(const Cell& sub) {
        uint32_t i = used(g_rules), idx = pos(), len = tail();
        while (i > mark.rules) {
            Cell* top = cell_at(g_rules, i - 1);
            if (is(*top, Type::triple)) {
                Cell* blk = top - 1;
                if (series_node(*blk) == series_node(sub) && blk->w1 == sub.w1 &&
                    top->w1 == level && top->w2 == idx && top->w3 == len) {
                    Cell b = sub;
                    errors::fire(id::infinite, &b);
                }
                i -= 3;
            } else {
                i -= uint32_t(flags_of(*top) >> 8);
            }
        }
    }

    // Pushes a keyword frame: extras first, then the counts, the position
    // record, the iteration record and the code.
    void push_keyword(int32_t code, int32_t min, int32_t max, uint32_t rule_pos,
                      std::initializer_list<Cell> extras = {}, int32_t flag = 0) {
        uint32_t size = 4 + uint32_t(extras.size());
        if (used(g_rules) + size > stack_limit) errors::fire(id::stack);
        for (const Cell& e : extras) push_cell(g_rules, e);
        uint32_t i = pos(), t = tail();
        push_cell(g_rules, triple(uint32_t(min), uint32_t(max), 1));
        push_cell(g_rules, triple(rule_pos, i, t));
        push_cell(g_rules, triple(i, t, 0));
        push_cell(g_rules, pair(code, flag | int32_t(size << 8)));
        if (!event(ev_push, true)) return;
        st = St::fetch;
    }
    // Cells of the keyword frame on top: 0 code pair, 1 iteration, 2 start, 3 counts,
    // 4.. extras from the top down.
    Cell* kf(uint32_t k) { return top_cell(g_rules, k); }
    void pop_frame(uint32_t size, bool result) {
        drop_cells(g_rules, size);
        match = result;
        st = St::complete;
        event(ev_pop, result);
    }

    // The nearest collect frame's block, or null.
    Cell* collect_block() {
        uint32_t i = used(g_rules);
        while (i > mark.rules) {
            Cell* top = cell_at(g_rules, i - 1);
            if (is(*top, Type::triple)) {
                i -= 3;
                continue;
            }
            uint32_t size = uint32_t(flags_of(*top) >> 8);
            if (code_of(*top) == c_collect) return cell_at(g_rules, i - size);
            i -= size;
        }
        return nullptr;
    }

    // --- matching -------------------------------------------------------------------------

    // Units a value matches at the current index, or -1.
    int32_t match_value(const Cell& v) {
        uint32_t i = pos(), lim = limit();
        Type it = type_of(in), vt = type_of(v);
        if (series::is_block_like(it)) {
            if (i >= lim) return -1;
            Cell here = *cell_at(series_node(in), i);
            return equal_in_block(here, v) ? 1 : -1;
        }
        if (vt == Type::datatype || vt == Type::typeset) return match_type(v);
        if (is_bytes_input(it)) return match_bytes(v, i, lim);
        return match_text(v, i, lim);
    }

    bool equal_in_block(const Cell& here, const Cell& v) {
        Type vt = type_of(v), ht = type_of(here);
        if (vt == Type::lit_word) {
            return ht == Type::word && same_symbol(here, v);
        }
        if (vt == Type::lit_path) {
            if (ht != Type::path) return false;
            Cell a = here, b = v;
            set_type(b, Type::path);
            return dispatch::compare(a, b, 0);
        }
        if (is_word_family(vt)) return ht == vt && same_symbol(here, v);
        if (vt == Type::datatype && ht != Type::datatype) return false;
        if (is_text(vt) || is_text(ht))
            return vt == ht && string::compare_text(here, v, case_ ? 2 : 0, false) == 0;
        return dispatch::compare(here, v, case_ ? 2 : 0);
    }
    bool same_symbol(const Cell& a, const Cell& b) const {
        if (case_) return word_symbol(a) == word_symbol(b);
        return symbol::resolve(word_symbol(a)) == symbol::resolve(word_symbol(b));
    }

    int32_t match_type(const Cell& v) {
        uint32_t i = pos(), lim = limit();
        Type it = type_of(in);
        if (series::is_block_like(it)) {
            if (i >= lim) return -1;
            Type t = type_of(*cell_at(series_node(in), i));
            bool ok = is(v, Type::datatype) ? Type(v.w1) == t : typeset::has(v, t);
            return ok ? 1 : -1;
        }
        if (is_text(it)) errors::fire(id::unsupported);
        // binary input: the next token of the bytes
        if (i >= lim || !g_hooks.scan_token) return -1;
        memory::Pin pin(series_node(in));  // the scanner reads the bytes in place
        const auto* bytes_at = reinterpret_cast<const uint8_t*>(memory::buffer(series_node(in))->at_head());
        uint32_t consumed = 0;
        int32_t t = g_hooks.scan_token(bytes_at + i, lim - i, &consumed);
        if (t <= 0 || t == int32_t(Type::error)) return -1;
        bool ok = is(v, Type::datatype) ? int32_t(v.w1) == t : typeset::has(v, Type(t));
        return ok && consumed > 0 ? int32_t(consumed) : -1;
    }

    int32_t match_text(const Cell& v, uint32_t i, uint32_t lim) {
        Type vt = type_of(v);
        Units u = units_of(in);
        if (vt == Type::char_) {
            if (i >= lim) return -1;
            uint32_t c = u.at(i), p = v.w2;
            return (case_ ? c == p : fold(c) == fold(p)) ? 1 : -1;
        }
        if (vt == Type::bitset) {
            if (i >= lim) return -1;
            return bits_of(v).has(u.at(i)) ? 1 : -1;
        }
        if (is_text(vt)) {
            Units p = units_of(v);
            uint32_t from = std::min(series_index(v), p.len), n = p.len - from;
            bool tag = vt == Type::tag;
            uint32_t need = n + (tag ? 2 : 0);
            if (lim < i || lim - i < need) return -1;
            uint32_t j = i;
            if (tag && u.at(j++) != '<') return -1;
            if (!text_equal(u, j, p, from, n)) return -1;
            if (tag && u.at(j + n) != '>') return -1;
            return int32_t(need);
        }
        return -1;
    }
    bool text_equal(const Units& u, uint32_t i, const Units& p, uint32_t from, uint32_t n) const {
        if (u.unit == 1 && p.unit == 1) {
            // One byte a character on both sides: Latin-1 folds through a table.
            const uint8_t* a = reinterpret_cast<const uint8_t*>(u.p) + i;
            const uint8_t* b = reinterpret_cast<const uint8_t*>(p.p) + from;
            if (case_) return std::memcmp(a, b, n) == 0;
            const uint8_t* table = fold_table();
            for (uint32_t k = 0; k < n; k++)
                if (a[k] != b[k] && table[a[k]] != table[b[k]]) return false;
            return true;
        }
        if (case_) {
            for (uint32_t k = 0; k < n; k++)
                if (u.at(i + k) != p.at(from + k)) return false;
        } else {
            for (uint32_t k = 0; k < n; k++)
                if (fold(u.at(i + k)) != fold(p.at(from + k))) return false;
        }
        return true;
    }

    int32_t match_bytes(const Cell& v, uint32_t i, uint32_t lim) {
        if (is(v, Type::bitset)) {
            if (i >= lim) return -1;
            return bits_of(v).has(units_of(in).at(i)) ? 1 : -1;
        }
        if (!pattern_bytes(v, bytes)) return -1;
        uint32_t n = uint32_t(bytes.size());
        if (lim < i || lim - i < n) return -1;
        Units u = units_of(in);
        for (uint32_t k = 0; k < n; k++) {
            uint32_t a = u.at(i + k), b = uint8_t(bytes[k]);
            if (case_ ? a != b : fold_byte(a) != fold_byte(b)) return -1;
        }
        return int32_t(n);
    }

    // Tries a value as a literal rule at the current index.
    void literal(const Cell& v) {
        int32_t n = match_value(v);
        if (n >= 0) in.w1 = pos() + uint32_t(n);
        match = n >= 0;
        st = St::complete;
        event(ev_match, match);
    }

    // --- the direct loops over text and bytes ------------------------------------------------

    // Whether a repetition or to/thru of this value can run as a direct loop.
    bool direct_value(const Cell& v) const {
        Type it = type_of(in), vt = type_of(v);
        if (!is_text(it) && !is_bytes_input(it)) return false;
        return vt == Type::char_ || vt == Type::bitset || is_text(vt) ||
               (vt == Type::binary && is_bytes_input(it));
    }

    // Counts matches of v from the current index, at most max (-1: no limit).
    // The empty input matches a minimum of 0.
    void direct_repeat(const Cell& v, int32_t min, int32_t max) {
        uint32_t start = pos(), lim = limit(), i = start;
        int64_t count = 0;
        auto more = [&] { return max < 0 || count < max; };
        Type vt = type_of(v);
        if (vt == Type::char_ || vt == Type::bitset) {
            Units u = units_of(in);
            if (vt == Type::char_) {
                uint32_t p = v.w2;
                bool bytes_in = is_bytes_input(type_of(in));
                if (bytes_in && p > 255) {
                    // a wide char stands for its UTF-8 bytes: match as a sequence
                    repeat_sequence(v, min, max);
                    return;
                }
                if (case_) {
                    while (i < lim && more() && u.at(i) == p) i++, count++;
                } else {
                    uint32_t fp = bytes_in ? fold_byte(p) : fold(p);
                    while (i < lim && more() && (bytes_in ? fold_byte(u.at(i)) : fold(u.at(i))) == fp)
                        i++, count++;
                }
            } else {
                Bits b = bits_of(v);
                while (i < lim && more() && b.has(u.at(i))) i++, count++;
            }
        } else {
            repeat_sequence(v, min, max);
            return;
        }
        finish_repeat(start, i, count, min);
    }
    void repeat_sequence(const Cell& v, int32_t min, int32_t max) {
        uint32_t start = pos(), i = start;
        int64_t count = 0;
        while (max < 0 || count < max) {
            in.w1 = i;
            int32_t n = match_value(v);
            if (n < 0) break;
            count++;
            if (n == 0) {  // an empty match matches every remaining time
                count = std::max<int64_t>(count, min);
                break;
            }
            i += uint32_t(n);
        }
        finish_repeat(start, i, count, min);
    }
    void finish_repeat(uint32_t start, uint32_t i, int64_t count, int32_t min) {
        match = count >= min;
        in.w1 = match ? i : start;
        st = St::complete;
        event(ev_match, match);
    }

    // Direct search for to and thru.
    void direct_to(const Cell& v, bool thru) {
        uint32_t start = pos(), lim = limit();
        Type vt = type_of(v);
        Units u = units_of(in);
        bool bytes_in = is_bytes_input(type_of(in));
        int64_t found = -1;
        uint32_t len = 0;
        if (vt == Type::char_ && !(bytes_in && v.w2 > 255)) {
            uint32_t p = v.w2;
            if (case_) {
                for (uint32_t i = start; i < lim; i++)
                    if (u.at(i) == p) { found = i; break; }
            } else {
                uint32_t fp = bytes_in ? fold_byte(p) : fold(p);
                for (uint32_t i = start; i < lim; i++)
                    if ((bytes_in ? fold_byte(u.at(i)) : fold(u.at(i))) == fp) { found = i; break; }
            }
            len = 1;
        } else if (vt == Type::bitset) {
            Bits b = bits_of(v);
            for (uint32_t i = start; i < lim; i++)
                if (b.has(u.at(i))) { found = i; break; }
            len = 1;
        } else if (is_text(vt) && is_text(type_of(in)) && !(vt == Type::tag)) {
            len = search_text(v, start, lim, found);
        } else {
            for (uint32_t i = start; i <= lim; i++) {
                in.w1 = i;
                int32_t n = match_value(v);
                if (n >= 0) {
                    found = i;
                    len = uint32_t(n);
                    break;
                }
            }
        }
        match = found >= 0;
        in.w1 = match ? uint32_t(found) + (thru ? len : 0) : start;
        st = St::complete;
        event(ev_match, match);
    }

    // Finds a string's text in text input from start; answers its length and
    // sets found (-1 when absent). The first character is looked for with a
    // byte table when both sides are one byte a character.
    uint32_t search_text(const Cell& v, uint32_t start, uint32_t lim, int64_t& found) {
        Units u = units_of(in), p = units_of(v);
        uint32_t from = std::min(series_index(v), p.len), n = p.len - from;
        found = -1;
        if (n == 0) {
            found = start <= lim ? int64_t(start) : -1;
            return 0;
        }
        if (lim < n) return n;
        uint32_t last = lim - n;  // the last start that leaves room
        uint32_t first = case_ ? p.at(from) : fold(p.at(from));
        if (u.unit == 1 && first < 256) {
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(u.p);
            const uint8_t* table = case_ ? identity_table() : fold_table();
            uint8_t a = uint8_t(first), b = a;
            // The second character is checked here before the rest is compared.
            int32_t second = n > 1 && p.unit == 1 ? table[p.at(from + 1)] : -1;
            if (start <= last && (case_ || fold_sources(first, a, b))) {
                for (uint32_t i = start; i <= last; i++) {
                    i = find_either(bytes, i, last + 1, a, b);
                    if (i > last) break;
                    if (second >= 0 && table[bytes[i + 1]] != second) continue;
                    if (text_equal(u, i + 1, p, from + 1, n - 1)) {
                        found = i;
                        return n;
                    }
                }
                return n;
            }
            for (uint32_t i = start; i <= last; i++) {
                if (table[bytes[i]] != first) continue;
                if (text_equal(u, i + 1, p, from + 1, n - 1)) {
                    found = i;
                    return n;
                }
            }
            return n;
        }
        for (uint32_t i = start; i <= last; i++) {
            uint32_t c = u.at(i);
            if ((case_ ? c : fold(c)) != first) continue;
            if (text_equal(u, i + 1, p, from + 1, n - 1)) {
                found = i;
                return n;
            }
        }
        return n;
    }

    // Direct search for a value in block input.
    void block_to(const Cell& v, bool thru) {
        uint32_t start = pos(), lim = limit();
        for (uint32_t i = start; i < lim; i++) {
            Cell here = *cell_at(series_node(in), i);
            if (equal_in_block(here, v)) {
                in.w1 = i + (thru ? 1 : 0);
                match = true;
                st = St::complete;
                event(ev_match, true);
                return;
            }
        }
        in.w1 = start;
        match = false;
        st = St::complete;
        event(ev_match, false);
    }

    // --- series changes ---------------------------------------------------------------------

    // Inserts value at index; answers the units inserted.
    uint32_t insert_at(uint32_t at, const Cell& value, bool only) {
        Cell* args = stack::push(in);
        stack::push(value);
        args = stack::s.top - 2;
        args[0].w1 = at;
        Cell target = args[0];
        auto fn = dispatch::get_action<35>(target);
        fn(args, nullptr, only, nullptr);
        uint32_t after = stack::s.top[-2].w1;
        stack::pop(2);
        uint32_t n = after > at ? after - at : 0;
        shift_limit(at, int32_t(n));
        return n;
    }
    // Replaces count units at index by value; answers the units put in.
    uint32_t change_at(uint32_t at, uint32_t count, const Cell& value, bool only) {
        stack::push(in);
        stack::push(value);
        stack::push(integer_cell(int32_t(count)));
        Cell* args = stack::s.top - 3;
        args[0].w1 = at;
        Cell target = args[0];
        auto fn = dispatch::get_action<28>(target);
        fn(args, &args[2], only, nullptr);
        uint32_t after = stack::s.top[-3].w1;
        stack::pop(3);
        uint32_t n = after > at ? after - at : 0;
        shift_limit(at, int32_t(n) - int32_t(count));
        return n;
    }
    void remove_at(uint32_t at, uint32_t count) {
        if (count == 0) return;
        stack::push(in);
        stack::push(integer_cell(int32_t(count)));
        Cell* args = stack::s.top - 2;
        args[0].w1 = at;
        auto fn = datatype::row(type_of(args[0])).remove.fn;
        if (fn) fn(args, &args[1], nullptr);
        else series::remove(args, &args[1], nullptr);
        stack::pop(2);
        shift_limit(at, -int32_t(count));
    }

    // A word or get-word whose value is the input series at some position.
    bool position_of(const Cell& v, uint32_t& at) {
        Type t = type_of(v);
        if (t != Type::word && t != Type::get_word) return false;
        if (t == Type::word && keyword_of(v) != kw_no) return false;
        Cell val = g_hooks.get_word ? g_hooks.get_word(v) : unset_cell();
        if (!series::is_series(type_of(val)) || series_node(val) != series_node(in)) return false;
        at = std::min(series_index(val), tail());
        return true;
    }

    // The value after insert or change: a paren's result, a word's value.
    Cell value_operand(const Cell& after_word) {
        if (rule_end()) errors::fire(id::end, &after_word);
        Cell v = next_value();
        rule.w1++;
        Type t = type_of(v);
        if (t == Type::paren) {
            Cell r = eval(v);
            event(ev_paren, true);
            return r;
        }
        if (t == Type::word) {
            Cell r = g_hooks.get_word ? g_hooks.get_word(v) : unset_cell();
            if (is(r, Type::unset)) errors::fire(id::rule, &v);
            return r;
        }
        if (t == Type::path || t == Type::get_path || t == Type::set_path || t == Type::lit_path)
            errors::fire(id::rule, &v);
        return v;
    }

    // --- fetching --------------------------------------------------------------------------

    // The value after a keyword must be a rule.
    void need_rule(const Cell& word) {
        if (rule_end()) errors::fire(id::end, &word);
        Cell v = next_value();
        if (is(v, Type::word) && keyword_of(v) == kw_bar) errors::fire(id::end, &word);
    }
    // The word after copy, set and case.
    Cell need_word(const Cell& kw) {
        if (rule_end()) errors::fire(id::end, &kw);
        Cell w = next_value();
        if (!is(w, Type::word)) errors::fire(id::rule, &kw);
        rule.w1++;
        return w;
    }
    // The next rule value resolved through a word, for the direct loops.
    bool simple_next(Cell& out) {
        Cell v = next_value();
        if (is(v, Type::word)) {
            if (keyword_of(v) != kw_no) return false;
            v = get(v);
        }
        out = v;
        return true;
    }

    void fetch() {
        if (rule_end()) {
            // A keyword frame on top still waits for its rule: a paren or the
            // callback cut the rule block under it.
            if (!is(*top_cell(g_rules), Type::triple)) {
                Cell r = rule;
                errors::fire(id::end, &r);
            }
            match = true;
            st = St::block_end;
            return;
        }
        if (!event(ev_fetch, true)) return;
        Cell v = next_value();
        rule.w1++;
        switch (type_of(v)) {
            case Type::word: {
                Kw kw = keyword_of(v);
                if (kw != kw_no) return keyword(kw, v);
                tmp = get(v);
                Cell val = tmp;
                return value_rule(val, v);
            }
            case Type::set_word:
                pos();
                set(v, in);
                match = true;
                st = St::complete;
                return;
            case Type::get_word: {
                Cell val = get(v);
                if (!series::is_series(type_of(val)) || series_node(val) != series_node(in))
                    errors::fire(id::invalid_ref);
                in.w1 = std::min(series_index(val), tail());
                match = true;
                st = St::complete;
                return;
            }
            case Type::paren:
                eval(v);
                match = true;
                st = St::complete;
                event(ev_paren, true);
                return;
            default:
                return value_rule(v, v);
        }
    }

    // A value met as a rule (written in the rules, or a word's value).
    void value_rule(const Cell& v, const Cell& source) {
        switch (type_of(v)) {
            case Type::block: return push_block(v);
            case Type::integer: return repetition(v, source);
            case Type::datatype:
            case Type::typeset: {
                int32_t n = match_type(v);
                if (n >= 0) in.w1 = pos() + uint32_t(n);
                match = n >= 0;
                st = St::complete;
                event(ev_match, match);
                return;
            }
            default: return literal(v);
        }
    }

    // An integer count or range before a rule.
    void repetition(const Cell& first, const Cell& source) {
        int32_t min = int_of(first), max = min;
        if (!rule_end()) {
            Cell second = next_value();
            if (is(second, Type::word) && keyword_of(second) == kw_no) {
                Cell val = get(second);
                if (is(val, Type::integer)) second = val;
            }
            if (is(second, Type::integer)) {
                max = int_of(second);
                rule.w1++;
            }
        }
        if (min < 0 || max < 0 || max < min) errors::fire(id::rule, &source);
        need_rule(source);
        start_repeat(c_repeat, min, max);
    }

    void start_repeat(int32_t code, int32_t min, int32_t max) {
        Cell v;
        if (code != c_while && simple_next(v) && direct_value(v)) {
            rule.w1++;
            return direct_repeat(v, min, max);
        }
        push_keyword(code, min, max, rule.w1);
    }

    void keyword(Kw kw, const Cell& word) {
        switch (kw) {
            case kw_any: need_rule(word); return start_repeat(c_repeat, 0, -1);
            case kw_some: need_rule(word); return start_repeat(c_repeat, 1, -1);
            case kw_opt: need_rule(word); return start_repeat(c_repeat, 0, 1);
            case kw_while: need_rule(word); return start_repeat(c_while, 0, -1);
            case kw_to:
            case kw_thru: {
                need_rule(word);
                bool thru = kw == kw_thru;
                Cell v = next_value();
                if (is(v, Type::word) && keyword_of(v) == kw_end) {
                    rule.w1++;
                    in.w1 = std::max(pos(), limit());
                    match = true;
                    st = St::complete;
                    event(ev_match, true);
                    return;
                }
                if (simple_next(v)) {
                    if (direct_value(v)) {
                        rule.w1++;
                        return direct_to(v, thru);
                    }
                    Type it = type_of(in), vt = type_of(v);
                    if (series::is_block_like(it) && vt != Type::block &&
                        vt != Type::integer && vt != Type::datatype && vt != Type::typeset &&
                        !is(next_value(), Type::paren) && !is(next_value(), Type::set_word) &&
                        !is(next_value(), Type::get_word)) {
                        rule.w1++;
                        return block_to(v, thru);
                    }
                }
                return push_keyword(thru ? c_thru : c_to, 0, 0, rule.w1);
            }
            case kw_skip: {
                uint32_t i = pos();
                match = i < limit();
                if (match) in.w1 = i + 1;
                st = St::complete;
                event(ev_match, match);
                return;
            }
            case kw_end:
                match = pos() >= limit();
                st = St::complete;
                event(ev_match, match);
                return;
            case kw_none: match = true; st = St::complete; return;
            case kw_fail: match = false; st = St::complete; return;
            case kw_break:
            case kw_reject:
                pending = kw == kw_break ? Pending::break_ : Pending::reject;
                match = kw == kw_break;
                st = St::complete;
                return;
            case kw_bar: {
                // the alternative so far matched: the block succeeds
                if (rule_end()) errors::fire(id::end, &word);
                match = true;
                st = St::block_end;
                return;
            }
            case kw_copy:
            case kw_set: {
                Cell w = need_word(word);
                need_rule(word);
                return push_keyword(kw == kw_copy ? c_copy : c_set, 0, 0, rule.w1, {w});
            }
            case kw_not: need_rule(word); return push_keyword(c_not, 0, 0, rule.w1);
            case kw_ahead: need_rule(word); return push_keyword(c_ahead, 0, 0, rule.w1);
            case kw_case: {
                Cell w = need_word(word);
                bool on = is_truthy(get(w));
                need_rule(word);
                push_keyword(c_case, 0, 0, rule.w1, {}, case_ ? 1 : 0);
                case_ = on;
                return;
            }
            case kw_quote: {
                if (rule_end()) errors::fire(id::end, &word);
                Cell v = next_value();
                rule.w1++;
                return literal(v);
            }
            case kw_if: {
                if (rule_end()) errors::fire(id::end, &word);
                Cell v = next_value();
                if (!is(v, Type::paren)) errors::fire(id::rule, &word);
                rule.w1++;
                bool ok = is_truthy(eval(v));
                match = ok;
                st = St::complete;
                event(ev_paren, ok);
                return;
            }
            case kw_into: return into(word);
            case kw_remove: return remove(word);
            case kw_insert: return insert(word);
            case kw_change: return change(word);
            case kw_collect: return collect(word);
            case kw_keep: return keep(word);
            case kw_after:
            case kw_only:
            case kw_pick:
            case kw_no: errors::fire(id::rule, &word);
        }
    }

    void into(const Cell& word) {
        need_rule(word);
        Cell r = next_value();
        if (is(r, Type::word)) r = get(r);
        if (!is(r, Type::block)) errors::fire(id::rule, &word);
        uint32_t i = pos();
        Type it = type_of(in);
        if (!series::is_block_like(it) || i >= limit()) {
            rule.w1++;
            match = false;
            st = St::complete;
            event(ev_match, false);
            return;
        }
        Cell nested = *cell_at(series_node(in), i);
        Type nt = type_of(nested);
        if (nt == Type::vector || nt == Type::image) errors::fire(id::rule, &word);
        if (!(series::is_block_like(nt) || is_text(nt) || nt == Type::binary)) {
            rule.w1++;
            match = false;
            st = St::complete;
            event(ev_match, false);
            return;
        }
        if (used(g_inputs) >= stack_limit) errors::fire(id::stack);
        tmp = nested;
        push_keyword(c_into, 0, 0, rule.w1);
        if (stopped) return;
        push_cell(g_inputs, in);  // the outer input, resumed when the level ends
        in = tmp;
        level++;
        rule.w1++;
        push_block(r);
    }

    void remove(const Cell& word) {
        if (rule_end()) errors::fire(id::end, &word);
        uint32_t at;
        if (position_of(next_value(), at)) {
            rule.w1++;
            uint32_t i = pos(), from = std::min(at, i), to = std::max(at, i);
            remove_at(from, to - from);
            in.w1 = from;
            match = true;
            st = St::complete;
            return;
        }
        need_rule(word);
        push_keyword(c_remove, 0, 0, rule.w1);
    }

    void insert(const Cell& word) {
        bool only = false;
        if (!rule_end() && is(next_value(), Type::word) && keyword_of(next_value()) == kw_only) {
            only = true;
            rule.w1++;
        }
        if (rule_end()) errors::fire(id::end, &word);
        uint32_t i = pos(), at = i;
        if (position_of(next_value(), at)) rule.w1++;
        Cell v = value_operand(word);
        collector::Root keep(v);
        uint32_t n = insert_at(at, v, only);
        if (at <= i) in.w1 = i + n;
        match = true;
        st = St::complete;
    }

    void change(const Cell& word) {
        bool only = false;
        if (!rule_end() && is(next_value(), Type::word) && keyword_of(next_value()) == kw_only) {
            only = true;
            rule.w1++;
        }
        if (rule_end()) errors::fire(id::end, &word);
        uint32_t at;
        if (position_of(next_value(), at)) {
            rule.w1++;
            Cell v = value_operand(word);
            collector::Root keep(v);
            uint32_t i = pos(), from = std::min(at, i), to = std::max(at, i);
            uint32_t n = change_at(from, to - from, v, only);
            in.w1 = from + n;
            match = true;
            st = St::complete;
            return;
        }
        need_rule(word);
        push_keyword(only ? c_change_only : c_change, 0, 0, rule.w1, {word});
    }

    void collect(const Cell& word) {
        if (rule_end()) errors::fire(id::end, &word);
        Cell target = none_cell();
        uint32_t mode = t_parent;
        Cell v = next_value();
        if (is(v, Type::word)) {
            Kw k = keyword_of(v);
            if (k == kw_set || k == kw_into || k == kw_after) {
                rule.w1++;
                if (rule_end()) errors::fire(id::end, &v);
                target = next_value();
                if (!is(target, Type::word)) errors::fire(id::rule, &v);
                rule.w1++;
                mode = k == kw_set ? t_set : k == kw_into ? t_into : t_after;
                if (mode != t_set) {
                    Cell series_val = g_hooks.get_word ? g_hooks.get_word(target) : unset_cell();
                    Type st_ = type_of(series_val);
                    if (!series::is_series(st_)) errors::fire(id::into_bad, &series_val);
                    if (!series::is_block_like(st_))
                        errors::fire(id::into_type, &series_val);
                }
            }
        }
        need_rule(word);
        Cell r = next_value();
        if (is(r, Type::word)) r = get(r);
        if (!is(r, Type::block)) errors::fire(id::rule, &word);
        Cell blk;
        collector::Root keep(blk);
        block::make_at(blk, 8);
        bool top_level = used(g_rules) == mark.rules + 3;
        push_keyword(c_collect, 0, 0, rule.w1,
                     {blk, target, make_cell(Type::integer, 0, mode | (top_level ? 4u : 0u))});
    }

    void keep(const Cell& word) {
        if (!collect_block()) errors::fire(id::keep);
        bool pick = false;
        if (!rule_end() && is(next_value(), Type::word) && keyword_of(next_value()) == kw_pick) {
            pick = true;
            rule.w1++;
        }
        if (rule_end()) errors::fire(id::end, &word);
        Cell v = next_value();
        if (is(v, Type::paren)) {
            rule.w1++;
            Cell val = eval(v);
            collector::Root r(val);
            event(ev_paren, true);
            if (stopped) return;
            keep_value(val, pick);
            match = true;
            st = St::complete;
            return;
        }
        need_rule(word);
        push_keyword(c_keep, 0, 0, rule.w1, {}, pick ? 1 : 0);
    }

    // Appends a kept value to the nearest collect level's block.
    void keep_value(const Cell& value, bool pick) {
        Cell val = value;
        collector::Root r(val);
        if (pick && series::is_block_like(type_of(val))) {
            uint32_t n = memory::buffer(series_node(val))->length();
            for (uint32_t i = series_index(val); i < n; i++) {
                Cell item = *cell_at(series_node(val), i);
                Cell blk = *collect_block();
                block::rs_append(blk, item);
            }
            return;
        }
        Cell blk = *collect_block();
        block::rs_append(blk, val);
    }

    // --- completing ---------------------------------------------------------------------

    void complete() {
        Cell* top = top_cell(g_rules);
        if (is(*top, Type::triple)) return complete_in_block();
        int32_t code = code_of(*top);
        bool repeating = code == c_repeat || code == c_while;
        if (pending == Pending::broke_block || pending == Pending::rejected_block) {
            if (!repeating) pending = Pending::none;
        }
        switch (code) {
            case c_repeat:
            case c_while: return complete_repeat(code);
            case c_to:
            case c_thru: return complete_to(code == c_thru);
            default: return complete_keyword(code);
        }
    }

    void complete_in_block() {
        if (pending == Pending::broke_block || pending == Pending::rejected_block) pending = Pending::none;
        if (pending == Pending::break_ || pending == Pending::reject) {
            match = pending == Pending::break_;
            pending = match ? Pending::broke_block : Pending::rejected_block;
            st = St::block_end;
            return;
        }
        if (match) {
            st = St::fetch;
            return;
        }
        // the alternative failed: resume after the next |, from the block's start
        uint32_t n = rule_tail();
        for (uint32_t j = rule.w1; j < n; j++) {
            Cell v = rule_value(j);
            if (is(v, Type::word) && keyword_of(v) == kw_bar) {
                if (j + 1 >= n) errors::fire(id::end, &v);
                rule.w1 = j + 1;
                in.w1 = top_cell(g_rules)->w2;
                st = St::fetch;
                return;
            }
        }
        st = St::block_end;
    }

    void block_end() {
        Cell* top = top_cell(g_rules);
        uint32_t start = top->w2;
        if (!match) in.w1 = start;
        Cell parent = *top_cell(g_rules, 2);
        bool last = used(g_rules) - 3 == mark.rules;
        drop_cells(g_rules, 3);
        if (last) {
            st = St::done;
            event(ev_pop, match);
            return;
        }
        rule = parent;
        st = St::complete;
        event(ev_pop, match);
    }

    void complete_repeat(int32_t code) {
        Cell counts = *kf(3), start = *kf(2), iter = *kf(1);
        int32_t min = int32_t(counts.w1), max = int32_t(counts.w2), count = int32_t(counts.w3);
        uint32_t i = pos();
        bool progress = i != iter.w1 || tail() < iter.w2;
        bool result;
        if (pending != Pending::none) {
            result = pending == Pending::break_ || pending == Pending::broke_block;
            pending = Pending::none;
        } else if (match && (max < 0 || count < max) && (code == c_while || progress)) {
            Cell* c = kf(3);
            c->w3 = uint32_t(count + 1);
            Cell* it = kf(1);
            it->w1 = i;
            it->w2 = tail();
            rule.w1 = start.w1;
            st = St::fetch;
            event(ev_iterate, true);
            return;
        } else if (match) {
            result = true;  // the maximum reached, or a match that went nowhere
        } else {
            result = count - 1 >= min || min == 0;
        }
        if (!result) in.w1 = start.w2;
        pop_frame(4, result);
    }

    void complete_to(bool thru) {
        Cell start = *kf(2), iter = *kf(1);
        if (match) {
            if (!thru) in.w1 = iter.w1;
            return pop_frame(4, true);
        }
        uint32_t next = iter.w1 + 1;
        if (next > limit()) {
            in.w1 = start.w2;
            return pop_frame(4, false);
        }
        in.w1 = next;
        Cell* it = kf(1);
        it->w1 = next;
        it->w2 = tail();
        rule.w1 = start.w1;
        st = St::fetch;
    }

    void complete_keyword(int32_t code) {
        Cell start = *kf(2);
        uint32_t orig = std::min(start.w2, tail());  // a paren may have cut the input
        uint32_t size = uint32_t(flags_of(*kf(0)) >> 8);
        int32_t flag = flags_of(*kf(0)) & 0xFF;
        bool m = match;
        switch (code) {
            case c_copy:
            case c_set: {
                Cell w = *kf(4);
                if (m) {
                    uint32_t i = pos();
                    if (code == c_copy) {
                        tmp = series::copy_range(in, int32_t(orig), int32_t(i > orig ? i - orig : 0));
                    } else {
                        tmp = i > orig ? series::element_at(in, int32_t(orig)) : none_cell();
                    }
                    set(w, tmp);
                } else {
                    in.w1 = orig;
                }
                break;
            }
            case c_not:
                in.w1 = orig;
                m = !m;
                break;
            case c_ahead:
                in.w1 = orig;
                break;
            case c_into: {
                uint32_t nested_end = limit();
                bool ok = m && pos() >= nested_end;
                in = *top_cell(g_inputs);
                drop_cells(g_inputs, 1);
                level--;
                if (ok) in.w1 = pos() + 1;
                m = ok;
                break;
            }
            case c_remove:
                if (m) {
                    uint32_t i = pos();
                    if (i > orig) remove_at(orig, i - orig);
                }
                in.w1 = orig;
                break;
            case c_keep:
                if (m) {
                    uint32_t i = pos();
                    if (i > orig) {
                        if (i - orig == 1) {
                            tmp = series::element_at(in, int32_t(orig));
                            keep_value(tmp, flag != 0);
                        } else if (flag) {
                            for (uint32_t k = orig; k < i; k++) {
                                tmp = series::element_at(in, int32_t(k));
                                keep_value(tmp, false);
                            }
                        } else {
                            tmp = series::copy_range(in, int32_t(orig), int32_t(i - orig));
                            keep_value(tmp, false);
                        }
                    }
                } else {
                    in.w1 = orig;
                }
                break;
            case c_change:
            case c_change_only: {
                Cell word = *kf(4);
                Cell v = value_operand(word);
                collector::Root keep(v);
                if (m) {
                    uint32_t i = pos();
                    uint32_t n = change_at(orig, i > orig ? i - orig : 0, v, code == c_change_only);
                    in.w1 = orig + n;
                } else {
                    in.w1 = orig;
                }
                break;
            }
            case c_case:
                case_ = flag != 0;
                if (!m) in.w1 = orig;
                break;
            case c_collect: {
                if (!m) in.w1 = orig;
                Cell blk = *kf(6), target = *kf(5);
                uint32_t mode = kf(4)->w2;
                collector::Root rb(blk), rt(target);
                drop_cells(g_rules, size);
                deliver(blk, target, mode & 3, (mode & 4) != 0, m);
                match = m;
                st = St::complete;
                event(ev_pop, m);
                return;
            }
            default: break;
        }
        pop_frame(size, m);
    }

    void deliver(const Cell& blk, const Cell& target, uint32_t mode, bool top_level, bool m) {
        switch (mode) {
            case t_set: set(target, blk); return;
            case t_into:
            case t_after: {
                Cell series_val = get(target);
                collector::Root r(series_val);
                Type t = type_of(series_val);
                if (!series::is_series(t)) errors::fire(id::into_bad, &series_val);
                if (!series::is_block_like(t)) errors::fire(id::into_type, &series_val);
                stack::push(series_val);
                stack::push(blk);
                Cell* args = stack::s.top - 2;
                dispatch::get_action<35>(args[0])(args, nullptr, false, nullptr);
                Cell after = stack::s.top[-2];
                stack::pop(2);
                if (mode == t_after) set(target, after);
                return;
            }
            default:
                if (top_level) {
                    collected = blk;
                } else if (m && collect_block()) {
                    keep_value(blk, false);
                }
                return;
        }
    }

    // --- the loop ------------------------------------------------------------------------------

    Cell run(const Cell& input, const Cell& rules) {
        in = input;
        rule = none_cell();
        collected = none_cell();
        pos();
        push_cell(g_inputs, in);
        push_block(rules);
        if (!stopped) st = St::fetch;
        while (st != St::done) {
            switch (st) {
                case St::fetch: fetch(); break;
                case St::complete: complete(); break;
                case St::block_end: block_end(); break;
                case St::done: break;
            }
        }
        if (stopped) return logic_cell(false);
        bool ok = match && pos() >= limit();
        event(ev_end, ok);
        if (stopped) return logic_cell(false);
        if (is(collected, Type::block)) return collected;
        return logic_cell(ok);
    }
};

}  // namespace

void set_hooks(const Hooks& hooks) { g_hooks = hooks; }
const Hooks& hooks() { return g_hooks; }

void init() {
    if (g_rules) return;
    symbol::make_table();
    collector::register_marker(mark_stacks);
    Cell c;
    block::make_at(c, 100);
    g_rules = series_node(c);
    collector::NodeRoot keep(g_rules);
    block::make_at(c, 8);
    g_inputs = series_node(c);
    for (int k = 1; k <= int(kw_bar); k++) g_keywords[symbol::resolve(symbol::make(kw_names[k]))] = Kw(k);
    for (int e = 0; e < int(ev_count); e++) g_event_symbols[e] = symbol::make(event_names[e]);
    if (!g_hooks.eval_paren) install_runtime_hooks();
}

uint32_t rule_depth() { return g_rules ? used(g_rules) : 0; }
uint32_t input_depth() { return g_inputs ? used(g_inputs) : 0; }

Cell engine(const Cell& input, const Cell& rules, bool case_, int32_t limit, const Cell* callback) {
    init();
    Engine e;
    e.case_ = case_;
    e.part = limit;
    if (callback && !is(*callback, Type::none) && !is(*callback, Type::unset)) {
        e.cb = *callback;
        e.tracing = true;
    } else {
        e.cb = none_cell();
    }
    return e.run(input, rules);
}

Cell run(const Cell& input, const Cell& rules, bool case_, const Cell* part, const Cell* callback) {
    Type t = type_of(input);
    if (!(series::is_block_like(t) || series::is_string_like(t) || t == Type::binary))
        errors::fire(id::block, &input);
    if (!is(rules, Type::block)) errors::fire(errors::id::invalid_arg, &rules);
    Cell in = input;
    uint32_t tail = memory::buffer(series_node(in))->length();
    if (in.w1 > tail) in.w1 = tail;
    int32_t limit = -1;
    if (part) {
        int64_t end;
        Type pt = type_of(*part);
        if (pt == Type::integer) {
            end = int64_t(in.w1) + int_of(*part);
        } else if (pt == Type::float_ || pt == Type::percent) {
            end = int64_t(in.w1) + int64_t(float_of(*part));
        } else if (pt == type_of(in) && series_node(*part) == series_node(in)) {
            end = series_index(*part);
        } else {
            series::fire_refine_arg("part", *part);
        }
        // An end at the very start runs no rules: only an empty input matches.
        if (end <= 0) return logic_cell(in.w1 >= tail);
        limit = int32_t(std::min<int64_t>(end, INT32_MAX));
    }
    return engine(in, rules, case_, limit, callback);
}

}  // namespace zan::parse
