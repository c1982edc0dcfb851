// The lexer's scan loop, its output buffer, levels, events and error report.
//
// The inner loop reads one byte at a time: its class entry (class and flags),
// then the next state from the transition table, until a final state names a
// token kind; the byte that led there is not consumed. The Unicode spaces of
// the delimiter set are read as blanks (outside strings they end a token like
// any other white space), which the byte tables alone cannot express.
//
// Output: one buffer of cells on the C heap shared by every running scan; a
// nested scan (a callback running transcode) starts at the tail of the scan
// that called it. Levels are marker cells (triple!) holding the distance to
// the enclosing level's start, the level type and the opener's byte offset.
// States keep cell indexes, so growing the buffer needs no rebasing.
//
// Invariant: a running scan's input bytes never move (a string is converted
// into the lexer's own input buffer, a binary's buffer is pinned), so the
// byte pointers in a State stay valid while callbacks run script code.
#include "evaluator/lexer.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/lexer_internal.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/unwind.h"

namespace zan::lexer {

using namespace tables;

namespace {

Cell* g_out = nullptr;
uint32_t g_cap = 0;
State* g_running = nullptr;  // innermost running scan
uint8_t* g_in = nullptr;     // input buffer for converted strings
uint32_t g_in_used = 0;
constexpr uint32_t out_initial = 1000;
constexpr uint32_t in_size = 100000;
CallbackHooks g_hooks;
uint8_t g_delims[8290];
bool g_ready = false;

constexpr uint32_t delimiter_points[] = {
    0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007,
    0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B,
};

const char* const exit_states[exit_state_count] = {
    "eof",     "error",      "block",      "block-end", "paren",   "paren-end",
    "brace",   "brace-end",  "map",        "path",      "construct", "comment",
    "comma",   "string",     "word",       "issue",     "integer", "refinement",
    "char",    "file",       "binary",     "percent",   "float",   "float-special",
    "tuple",   "date",       "pair",       "point",     "time",    "money",
    "tag",     "url",        "email",      "hex",       "rawstring", "ref",
};

void mark_states() {
    for (State* st = g_running; st; st = st->prev) {
        if (st->out_tail > st->out_head) collector::mark_cells(g_out + st->out_head, g_out + st->out_tail);
        collector::mark_cell(st->input);
        if (st->has_callback) collector::mark_cell(st->callback);
    }
}

// Pushes a state on the chain of running scans for the scope of one scan.
struct Running {
    State& st;
    explicit Running(State& s) : st(s) {
        st.prev = g_running;
        if (g_running) g_running->next = &st;
        g_running = &st;
    }
    ~Running() {
        g_running = st.prev;
        if (g_running) g_running->next = nullptr;
    }
};

uint32_t output_base() { return g_running ? g_running->out_tail : 0; }

}  // namespace

// --- set-up --------------------------------------------------------------------------

void init() {
    if (g_ready) return;
    g_ready = true;
    g_out = static_cast<Cell*>(std::malloc(out_initial * sizeof(Cell)));
    g_cap = g_out ? out_initial : 0;
    g_in = static_cast<uint8_t*>(std::malloc(in_size));
    std::memset(g_delims, 0, sizeof g_delims);
    for (uint32_t c : delimiter_points) g_delims[c >> 3] |= uint8_t(0x80 >> (c & 7));
    collector::register_marker(mark_states);
    word::transcode = transcode_text;
    block::load_string = [](Cell& result, const Cell& text) {
        scan_string(&result, text, -1, ScanRequest{}, nullptr);
    };
}

void set_callback_hooks(const CallbackHooks& hooks) { g_hooks = hooks; }

const char* exit_state_name(int kind) {
    return kind >= 0 && kind < exit_state_count ? exit_states[kind] : nullptr;
}

bool is_delimiter(uint32_t cp) {
    return cp < 8290u * 8 && (g_delims[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

uint32_t delimiter_at(const uint8_t* p, const uint8_t* end) {
    uint8_t b = *p;
    if (b != 0xC2 && (b < 0xE1 || b > 0xE3)) return 0;
    const uint8_t* q = p;
    int32_t cp = decode_utf8(q, end);
    return cp >= 0 && is_delimiter(uint32_t(cp)) ? uint32_t(q - p) : 0;
}

void stop() {
    unwind::raise(unwind::lexer);
    __builtin_unreachable();
}

// --- output --------------------------------------------------------------------------

Cell* out_cell(uint32_t index) { return g_out + index; }

Cell& alloc_slot(State& st) {
    if (st.out_tail >= g_cap) {
        uint64_t cap = uint64_t(g_cap ? g_cap : out_initial) * 2;
        void* p = cap * sizeof(Cell) > 0xFFFFFFFFull ? nullptr : std::realloc(g_out, cap * sizeof(Cell));
        if (!p) errors::fire(errors::id::no_memory);
        g_out = static_cast<Cell*>(p);
        g_cap = uint32_t(cap);
    }
    Cell& c = g_out[st.out_tail++];
    c = unset_cell();
    if (st.lines_in_token > 0) set_flag(c, header::newline);
    return c;
}

void drop_last(State& st) {
    if (st.out_tail > st.level_start) st.out_tail--;
}

// --- positions -------------------------------------------------------------------------

uint32_t char_offset(State& st, const uint8_t* p) {
    if (!st.input_string) return uint32_t(p - st.in_start);
    if (!st.cached_pos || p < st.cached_pos) {
        st.cached_pos = st.in_start;
        st.cached_chars = 0;
    }
    for (const uint8_t* q = st.cached_pos; q < p; q++)
        if ((*q & 0xC0) != 0x80) st.cached_chars++;
    st.cached_pos = p;
    return st.cached_chars;
}

namespace {

const uint8_t* byte_of_offset(State& st, uint32_t offset) {
    if (!st.input_string) {
        uint64_t room = uint64_t(st.in_end - st.in_start);
        return st.in_start + (offset < room ? offset : room);
    }
    const uint8_t* q = st.in_start;
    while (q < st.in_end && offset) {
        q++;
        while (q < st.in_end && (*q & 0xC0) == 0x80) q++;
        offset--;
    }
    return q;
}

Cell make_ascii_string(const std::string& s) {
    return make_text(Type::string, reinterpret_cast<const uint8_t*>(s.data()),
                     reinterpret_cast<const uint8_t*>(s.data()) + s.size());
}

}  // namespace

// Whether "(" at p starts a point literal: point-set characters up to a comma
// or the input end, with at least three more bytes of input.
bool starts_point(const State& st, const uint8_t* p) {
    const uint8_t* q = p + 1;
    if (st.in_end - q < 3) return false;
    for (; q < st.in_end; q++) {
        uint8_t b = *q;
        if (b == ',') return true;
        bool in_set = b == '\t' || b == ' ' || b == '#' || b == '+' || b == '-' || b == '.' ||
                      (b >= '0' && b <= '9') || std::strchr("AEFINaefin", b) != nullptr;
        if (!in_set || b == 0) return false;
    }
    return true;
}

// --- events --------------------------------------------------------------------------

bool fire_event(State& st, Event ev, int32_t code, const Cell* token, const uint8_t* start,
                const uint8_t* end) {
    if (!st.has_callback || !(st.event_mask & ev) || !g_hooks.call) return true;
    if (ev == ev_scan && code == -2) {
        ev = ev_error;
        code = t_error;
        if (!(st.event_mask & ev)) return true;
    }
    if (ev == ev_scan && (code == lv_point || code == int32_t(Type::point3d))) start--;
    if (ev == ev_prescan) {
        if (code == -5 && starts_point(st, start)) return true;
        if (code == t_error && st.start_state == st_braced && st.brace_start) start = st.brace_start;
        if (code == lv_point) {
            start--;
            end++;
        }
    }
    if (start < st.in_start) start = st.in_start;
    if (end > st.in_end) end = st.in_end;
    EventArgs args;
    args.event = ev;
    args.input = st.input;
    uint32_t base = series_index(st.input);
    bool at_start = ev == ev_open || (ev == ev_prescan && code < 0);
    uint32_t index = base + char_offset(st, at_start ? start : end);
    args.input.w1 = index;
    args.code = code;
    args.line = st.line;
    if (token) {
        args.token = *token;
    } else {
        args.token = make_cell(Type::pair, 0, base + char_offset(st, start) + 1,
                               base + char_offset(st, end) + 1);
    }
    bool answer = g_hooks.call(st.callback, args);
    if (args.input.w1 != index) {
        uint32_t to = args.input.w1 < base ? 0 : args.input.w1 - base;
        st.pos = byte_of_offset(st, to);
    }
    return answer;
}

// --- levels --------------------------------------------------------------------------

Cell* innermost_marker(State& st) {
    return st.level_start > st.out_head ? &g_out[st.level_start - 1] : nullptr;
}

void open_level(State& st, int32_t type, const uint8_t* start, const uint8_t* end) {
    Cell* m = innermost_marker(st);
    if (m && int32_t(m->w2 & 0xFFFF) == lv_point) throw_error(st, start, end, lv_point);
    if (!fire_event(st, ev_open, type, nullptr, start, end)) return;
    uint32_t at = st.out_tail;
    Cell& c = alloc_slot(st);
    c.header = (c.header & header::newline) | uint32_t(Type::triple);
    c.w1 = at - st.level_start;
    c.w2 = uint32_t(type);
    c.w3 = uint32_t(start - st.in_start);
    st.level_start = at + 1;
    st.start_state = st_text;
}

namespace {

Node fold_cells(uint32_t from, uint32_t count) {
    Node n = memory::alloc_cells(count ? count : 1);
    memory::Series* s = memory::buffer(n);
    if (count) std::memcpy(s->at_head(), g_out + from, count * sizeof(Cell));
    s->tail = s->head + count * uint32_t(sizeof(Cell));
    return n;
}

bool map_key_ok(const Cell& c) { return map::valid_key_type_q(type_of(c)); }

}  // namespace

int32_t close_level(State& st, const uint8_t* start, const uint8_t* end, int32_t closer, bool quiet) {
    Cell* m = innermost_marker(st);
    int32_t mtype = m ? int32_t(m->w2 & 0xFFFF) : 0;
    if (!quiet) {
        int32_t code = closer;
        if (m && (closer == -1 || (mtype == lv_map && closer != lv_map))) code = mtype;
        if (!fire_event(st, ev_close, code, nullptr, start, end)) {
            st.start_state = st_text;
            return 0;
        }
        m = innermost_marker(st);  // a nested scan in the callback may have moved the buffer
    }
    if (!m) {
        st.level_type = closer < 0 ? lv_block : closer;
        throw_error(st, start, end, -3);
    }
    bool mismatch = false;
    if (closer == lv_set_path) {
        mismatch = mtype == lv_lit_path || mtype == lv_get_path || !is_path_level(mtype);
    } else if (closer != -1 && closer != mtype) {
        mismatch = !(mtype == lv_map && closer == lv_block);
    }
    if (mismatch) {
        st.level_type = mtype;
        throw_error(st, nullptr, end, -3);
    }
    int32_t type = closer == lv_set_path ? lv_set_path : mtype;
    uint32_t at = st.level_start - 1;
    uint32_t outer = at - m->w1;
    uint32_t newline = m->header & header::newline;
    uint32_t count = st.out_tail - st.level_start;
    if (st.building) {
        if (type == lv_map) {
            if (count % 2) {
                st.level_type = 0;
                throw_error(st, nullptr, end, lv_map);
            }
            for (uint32_t i = st.level_start; i < st.out_tail; i += 2)
                if (!map_key_ok(g_out[i])) throw_error(st, nullptr, end, lv_map);
        }
        Node n = fold_cells(st.level_start, count);
        if (type == lv_map) {
            Cell pairs = series_cell(Type::block, n);
            collector::Root keep(pairs);
            Cell m;
            map::make_at(m, &pairs, 0);
            g_out[at] = m;
        } else {
            g_out[at] = series_cell(Type(type), n);
        }
        g_out[at].header |= newline;
    } else {
        g_out[at] = none_cell();
    }
    st.out_tail = at + 1;
    st.type = type;
    st.level_start = outer;
    Cell* up = innermost_marker(st);
    int32_t utype = up ? int32_t(up->w2 & 0xFFFF) : 0;
    st.start_state = up && is_path_level(utype) ? st_path : st_text;
    return type;
}

// --- errors --------------------------------------------------------------------------

const uint8_t* near_end(const uint8_t* start, const uint8_t* end) {
    const uint8_t* q = start;
    while (q < end && *q != '\n' && !(q - start >= 30 && (*q & 0xC0) != 0x80)) q++;
    return q;
}

void datatype_not_built(Type t) {
    Cell dt = datatype_cell(t);
    errors::fire(datatype_missing, &dt);
}

// The values of the outermost level finished before an error go to the
// scan's /into block, so a caller that traps the error keeps them.
void keep_finished_values(State& st) {
    uint32_t first_open = st.out_tail;
    for (uint32_t start = st.level_start; start > st.out_head;) {
        first_open = start - 1;
        start = first_open - g_out[first_open].w1;
    }
    for (uint32_t i = st.out_head; i < first_open; i++) block::rs_append(*st.into, g_out[i]);
}

void throw_error(State& st, const uint8_t* start, const uint8_t* end, int32_t code) {
    if (!st.building) {
        st.type = t_error;
        stop();
    }
    if (!start) {
        Cell* m = innermost_marker(st);
        start = m ? st.in_start + m->w3 : st.in_start;
    }
    if (st.has_callback) {
        int32_t c = code > 0 ? code
                    : st.level_type ? st.level_type
                    : st.type ? st.type
                    : st.type_hint > 0 ? st.type_hint
                    : t_error;
        if (!fire_event(st, ev_error, c, nullptr, start, end)) stop();
    }
    if (st.into) keep_finished_values(st);
    Cell near = make_text(Type::string, start, near_end(start, st.in_end));
    Node near_node = series_node(near);
    collector::NodeRoot keep(near_node, collector::NodeRoot::As::buffer);
    Cell line = make_ascii_string("(line " + std::to_string(st.line) + ")");
    near.w2 = near_node;
    int32_t lt = st.level_type;
    st.level_type = 0;
    if (is_path_level(lt)) code = -1;
    uint8_t b = code == -4 ? '_' : st.pos < st.in_end ? *st.pos : st.in_end > st.in_start ? st.in_end[-1] : '_';
    // Everything this scan built is dropped: the error is all it answers.
    st.out_tail = st.out_head;
    st.level_start = st.out_head;
    st.start_state = st_text;
    switch (code) {
        case -1: errors::fire(syntax::bad_char, &line, &near);
        case -2: errors::fire(syntax::malconstruct, &line, &near);
        case -3:
        case -4: {
            Cell ch = none_cell();
            if (lt == lv_block || lt == lv_map) ch = char_cell(b == ']' ? '[' : ']');
            else if (lt == lv_paren || lt == lv_point) ch = char_cell(b == ')' ? '(' : ')');
            errors::fire(syntax::missing, &line, &ch, &near);
        }
        default: {
            Cell dt = datatype_cell(Type(code));
            errors::fire(syntax::invalid, &line, &dt, &near);
        }
    }
}

// --- the scan loop -----------------------------------------------------------------------

namespace {

// Decides, after a path segment, whether the path goes on or closes.
void decide_path_end(State& st) {
    const uint8_t* p = st.pos;
    if (p >= st.in_end || path_end(class_of(*p))) {
        if (p < st.in_end && *p == ':') {
            if (p + 1 < st.in_end && p[1] == '/') {
                st.level_type = 0;
                throw_error(st, p, p + 1, lv_path);
            }
            st.pos = p + 1;
            close_level(st, p, p + 1, lv_set_path, false);
        } else {
            close_level(st, p, p, -1, false);
        }
        return;
    }
    if (*p != '/' || p + 1 >= st.in_end) throw_error(st, p, p + 1, lv_path);
    st.pos = p + 1;
}

bool output_has_one_value(const State& st) {
    uint32_t n = st.out_tail - st.out_head;
    return n == 0 || (n == 1 && !is(g_out[st.out_head], Type::triple));
}

constexpr int k_end = 0, k_error = 1, k_path = 9, k_comment = 11, k_comma = 12, k_string = 13,
              k_file = 19, k_point = 27, k_raw = 34;

// Whether a token's last byte (where the automaton stopped) belongs to it.
bool ends_on_own_byte(const State& st, int kind) {
    switch (kind) {
        case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10: case 12: case 13:
        case 18: case 20: case 21: case 27: case 30:
            return true;
        case k_file:
            return st.tok_end - st.tok_start >= 2 && st.tok_start[1] == '"';
        default:
            return false;
    }
}

// Runs the automaton over one token; answers its final state.
int read_token(State& st, uint32_t& flags) {
    const uint8_t* p = st.pos;
    const uint8_t* end = st.in_end;
    const uint8_t* start = p;
    int state = st.start_state;
    int prev = state;
    int32_t lines = 0;
    int32_t lead = 0;  // line breaks before the token's first byte
    uint32_t f = 0;
    for (;;) {
        if (p >= end) {
            prev = state;
            state = next_state(state, c_end);
            break;
        }
        uint32_t e = char_classes[*p];
        uint32_t cls = e & 0xFF;
        uint32_t step = 1;
        if (cls == c_letter && *p >= 0xC2) {
            uint32_t d = delimiter_at(p, end);
            if (d) {
                cls = c_blank;
                step = d;
            }
        }
        f |= e;
        prev = state;
        state = next_state(state, int(cls));
        if (state > state_count) break;
        lines += cls == c_newline;
        p += step;
        if (state == 0) {
            start = p;
            lead = lines;
        }
    }
    flags = f;
    st.tok_start = start;
    st.tok_end = p;
    st.pos = p;
    // A value is marked as starting a line when a line break comes before
    // it; breaks inside a multi-line token (binary, raw string) do not count.
    st.lines_in_token = lead;
    st.line += lines;
    st.token_line = st.line;
    st.last_state = prev;
    st.type_hint = -1;
    st.type = state_types[state];
    return state;
}

// Runs one token's routines: check, build and their events.
void run_token(State& st, int kind, uint32_t flags, bool prescan) {
    const uint8_t* s = st.tok_start;
    const uint8_t* e = st.tok_end;
    if (prescan && kind <= k_string) {
        if (check_routines[kind]) check_routines[kind](st, s, e, flags, false);
    }
    bool answer = true;
    if (st.has_callback) {
        if (st.start_state != st_braced || kind > k_string) {
            int32_t code = st.type ? st.type : -(kind + 1);
            answer = fire_event(st, ev_prescan, code, nullptr, s, e);
        }
    } else {
        answer = !prescan;
    }
    if (!answer || prescan) return;
    if (kind < k_string) {
        check_routines[kind](st, s, e, flags, st.building);
        return;
    }
    TokenRoutine check = check_routines[kind];
    TokenRoutine build = build_routines[kind];
    bool scan_wanted = st.has_callback && (st.event_mask & ev_scan);
    // Builders check all that the checking routines do, so a build without a
    // scan subscriber skips the separate check.
    if (!(st.building && !scan_wanted)) {
        bool ok = true;
        try {
            if (check) check(st, s, e, flags, false);
            else if (build) build(st, s, e, flags, false);
        } catch (const unwind::Thrown& t) {
            if (t.code > unwind::lexer || st.building) throw;
            ok = false;
            if (!st.has_callback) throw;
        }
        if (st.has_callback) {
            bool r = fire_event(st, ev_scan, ok ? st.type : -2, nullptr, s, st.pos);
            if (!ok) {
                st.type = t_error;
                stop();
            }
            if (!r) return;
        }
    }
    // A load subscriber gets the value even when the scan builds nothing; it
    // is dropped again after the event.
    bool load_wanted = st.building || (st.has_callback && (st.event_mask & ev_load));
    if (load_wanted && build) {
        uint32_t before = st.out_tail;
        build(st, s, e, flags, true);
        if (st.has_callback && st.out_tail > before) {
            Cell value = g_out[st.out_tail - 1];
            if (!fire_event(st, ev_load, st.type, &value, s, st.pos) || !st.building) drop_last(st);
        }
    }
}

}  // namespace

// The scan loop: token by token until the input ends or one value is read.
static void run(State& st, bool one, bool prescan) {
    while (st.pos < st.in_end) {
        uint32_t flags = 0;
        const uint8_t* start_pos = st.pos;
        int state = read_token(st, flags);
        int kind = state - final_base;
        // A raw string whose first closing run is too short searches on.
        if (kind == k_error && st.last_state == 12) kind = k_raw, st.type = int32_t(Type::string);
        try {
            run_token(st, kind, flags, prescan);
        } catch (const unwind::Thrown& t) {
            if (t.code != unwind::lexer) throw;
            if (!st.building) throw;
            // A callback declined an error: go on after the bad token.
            if (st.pos < st.tok_end) st.pos = st.tok_end;
            if (st.pos <= st.tok_start) st.pos = st.tok_start + 1;
            while (st.pos < st.in_end && (*st.pos & 0xC0) == 0x80) st.pos++;
            continue;
        }
        // Routines that did not run (prescan, or a callback declined the
        // token) still leave the token behind them.
        if (st.pos == st.tok_end && st.pos < st.in_end && ends_on_own_byte(st, kind)) {
            st.pos++;
            if (kind == k_point) {
                st.start_state = st_text;
                st.lines_in_token = st.saved_lines;
            }
        }
        if (kind == k_end) st.pos = st.in_end;
        if (st.pos <= start_pos && st.pos < st.in_end) throw_error(st, st.tok_start, st.pos + 1, -1);
        if (st.start_state == st_path && kind != k_path && kind != k_error && kind != k_end)
            decide_path_end(st);
        if (st.type) st.last_token_type = st.type;
        bool open = st.brace_depth > 0 || st.start_state == st_path || st.start_state == st_point;
        if ((one || prescan) && st.type && !open && kind != k_path && output_has_one_value(st))
            return;
        if (st.pos >= st.in_end && st.brace_depth > 0 && !st.type)
            throw_error(st, st.brace_start, st.in_end, int32_t(Type::string));
    }
}

namespace {

// The output buffer does not move while cells are appended from it.
void append_to_block(const Cell& block, const Cell* cells, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) block::rs_append(block, cells[i]);
}

}  // namespace

int32_t scan(Cell* result, const uint8_t* bytes, uint32_t length, const ScanRequest& req,
             uint32_t* consumed) {
    init();
    State st;
    st.in_start = bytes;
    st.in_end = bytes + length;
    st.pos = bytes;
    st.out_head = st.out_tail = st.level_start = output_base();
    st.building = req.load && req.wrap;
    if (st.building && !req.one) st.into = req.into;
    st.input = req.input ? *req.input : none_cell();
    st.input_string = req.input && !is(*req.input, Type::binary);
    if (req.callback && g_hooks.call) {
        st.callback = *req.callback;
        st.has_callback = true;
        st.event_mask = g_hooks.mask ? g_hooks.mask(st.callback) : all_events;
    }
    Running running(st);
    bool prescan = !req.load;
    bool quiet = false;
    try {
        run(st, req.one, prescan);
        if (st.start_state == st_braced && st.brace_depth > 0)
            throw_error(st, st.brace_start, st.in_end, int32_t(Type::string));
        if (Cell* m = innermost_marker(st)) {
            int32_t mt = int32_t(m->w2 & 0xFFFF);
            if (prescan && is_path_level(mt)) {
                st.last_token_type = mt;
            } else {
                st.level_type = mt;
                throw_error(st, nullptr, st.in_end, -4);
            }
        }
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::lexer) {
            st.out_tail = st.out_head;
            throw;
        }
        quiet = true;
    }
    if (consumed) *consumed = st.input_string ? char_offset(st, st.pos) : uint32_t(st.pos - st.in_start);
    int32_t type = quiet ? t_error : st.last_token_type;
    uint32_t count = st.out_tail - st.out_head;
    if (st.building && !quiet) {
        if (req.one && !req.next && count >= 1) {
            Cell v = g_out[st.out_head];
            clear_newline(v);
            if (req.into) append_to_block(*req.into, &v, 1);
            else if (result) *result = v;
        } else if (req.into) {
            append_to_block(*req.into, g_out + st.out_head, count);
            if (result) *result = *req.into;
        } else if (result) {
            *result = series_cell(Type::block, fold_cells(st.out_head, count));
        }
    } else if (result && !st.building) {
        *result = none_cell();
    }
    st.out_tail = st.out_head;
    return type;
}

int32_t scan_string(Cell* result, const Cell& str, int32_t count, const ScanRequest& req,
                    uint32_t* consumed) {
    init();
    Cell s = str;
    memory::Series* b = memory::buffer(series_node(s));
    uint32_t unit = b->unit();
    uint32_t len = b->length();
    uint32_t index = series_index(s) < len ? series_index(s) : len;
    uint32_t n = len - index;
    if (count >= 0 && uint32_t(count) < n) n = uint32_t(count);
    uint64_t worst = uint64_t(n) * (unit + 1) + 1;
    if (unit == 4) worst = uint64_t(n) * 4 + 1;
    uint8_t* dst;
    uint8_t* owned = nullptr;
    uint32_t saved_used = g_in_used;
    if (g_in && worst <= in_size - g_in_used) {
        dst = g_in + g_in_used;
        g_in_used += uint32_t(worst);
    } else {
        owned = static_cast<uint8_t*>(std::malloc(worst));
        if (!owned) errors::fire(errors::id::no_memory);
        dst = owned;
    }
    struct Release {
        uint8_t* owned;
        uint32_t used;
        ~Release() {
            std::free(owned);
            g_in_used = used;
        }
    } release{owned, saved_used};
    const std::byte* src = b->at_head() + index * unit;
    uint8_t* q = dst;
    for (uint32_t i = 0; i < n; i++) q += unicode::cp_to_utf8(string::get_char(src + i * unit, unit), q);
    ScanRequest r = req;
    Cell input = s;
    input.w1 = index;
    if (!r.input) r.input = &input;
    return scan(result, dst, uint32_t(q - dst), r, consumed);
}

Cell load_utf8(const uint8_t* bytes, uint32_t length) {
    Cell result = none_cell();
    ScanRequest req;
    scan(&result, bytes, length, req, nullptr);
    return result;
}

int32_t transcode_text(std::string_view utf8, Cell& first) {
    Cell b;
    try {
        b = load_utf8(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()));
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        return -1;
    }
    memory::Series* s = memory::buffer(series_node(b));
    uint32_t n = s->length();
    if (n) first = s->cells()[0];
    return int32_t(n);
}

int32_t prescan(const uint8_t* bytes, uint32_t length) {
    ScanRequest req;
    req.load = false;
    req.wrap = false;
    req.one = true;
    return scan(nullptr, bytes, length, req, nullptr);
}

// --- transcode -------------------------------------------------------------------------

Cell transcode(const Cell& source, const TranscodeRefs& refs) {
    init();
    Cell src = source;
    memory::Series* b = memory::buffer(series_node(src));
    uint32_t len = b->length();
    uint32_t index = series_index(src) < len ? series_index(src) : len;
    src.w1 = index;
    uint32_t count = len - index;
    if (refs.part) {
        int64_t n;
        if (is(refs.part_arg, Type::integer)) {
            n = int_of(refs.part_arg);
        } else {
            if (type_of(refs.part_arg) != type_of(src)) {
                Cell a = datatype_cell(type_of(src)), c = refs.part_arg;
                errors::fire(errors::Id{errors::Category::script, 20}, &a, &c);  // not-same-type
            }
            n = int64_t(series_index(refs.part_arg)) - index;
        }
        if (n < 0) n = 0;
        // A count past the tail stops at the tail.
        if (uint64_t(n) < count) count = uint32_t(n);
    }
    bool type_only = refs.prescan || refs.scan;
    if (count == 0 && type_only) return none_cell();
    ScanRequest req;
    req.one = refs.next || refs.one;
    req.next = refs.next && !refs.one;
    req.load = !refs.prescan;
    req.wrap = !type_only;
    req.callback = refs.trace;
    // /next answers a new block of the value and the rest, whatever /into says.
    req.into = req.next ? nullptr : refs.into;
    Cell result = none_cell();
    uint32_t consumed = 0;
    int32_t type;
    if (is(src, Type::binary)) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(memory::buffer(series_node(src))->at_head()) + index;
        uint32_t skip = 0;
        if (count > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) skip = 3;
        src.w1 = index + skip;
        req.input = &src;
        memory::Pin pin(series_node(src));
        type = scan(&result, bytes + skip, count - skip, req, &consumed);
        consumed += skip;
    } else {
        req.input = &src;
        type = scan_string(&result, src, int32_t(count), req, &consumed);
    }
    if (type_only) return type ? datatype_cell(Type(type)) : none_cell();
    if (req.next) {
        Cell rest = source;
        rest.w1 = index + consumed;
        memory::Series* r = memory::buffer(series_node(result));
        if (r->length() == 0) return none_cell();
        append_to_block(result, &rest, 1);
        return result;
    }
    return result;
}

}  // namespace zan::lexer
