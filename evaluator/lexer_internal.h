// What the lexer's scan loop, its structural routines and its token builders
// share: the state of one running scan and the helpers every routine uses.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "evaluator/lexer.h"
#include "evaluator/lexer_tables.h"

namespace zan::lexer {

// Level types of markers (the datatype ids they close into).
constexpr int32_t lv_block = int32_t(Type::block);
constexpr int32_t lv_paren = int32_t(Type::paren);
constexpr int32_t lv_map = int32_t(Type::map);
constexpr int32_t lv_path = int32_t(Type::path);
constexpr int32_t lv_lit_path = int32_t(Type::lit_path);
constexpr int32_t lv_set_path = int32_t(Type::set_path);
constexpr int32_t lv_get_path = int32_t(Type::get_path);
constexpr int32_t lv_point = int32_t(Type::point2d);
constexpr int32_t t_error = int32_t(Type::error);

// Start states.
constexpr int st_text = 0;
constexpr int st_braced = 4;
constexpr int st_point = 35;
constexpr int st_path = 59;

// One running scan. Output positions are cell indexes into the shared output
// buffer, so nothing needs rebasing when the buffer grows.
struct State {
    State* next = nullptr;  // inner scan
    State* prev = nullptr;  // outer scan
    uint32_t out_head = 0;
    uint32_t level_start = 0;
    uint32_t out_tail = 0;
    const uint8_t* in_start = nullptr;
    const uint8_t* in_end = nullptr;
    const uint8_t* pos = nullptr;
    const uint8_t* tok_start = nullptr;
    const uint8_t* tok_end = nullptr;
    int32_t line = 1;
    int32_t lines_in_token = 0;  // line breaks before the current token
    int32_t token_line = 1;      // the line where the automaton left the token
    int32_t type_hint = -1;
    int32_t type = 0;
    int32_t start_state = st_text;
    int32_t last_state = 0;
    int32_t level_type = 0;
    int32_t last_token_type = 0;
    const uint8_t* brace_start = nullptr;
    int32_t brace_depth = 0;
    uint32_t brace_flags = 0;
    int32_t saved_lines = 0;
    Cell callback;
    bool has_callback = false;
    uint32_t event_mask = 0;
    Cell input;        // string!, binary!, or none
    bool input_string = false;
    bool building = false;
    const Cell* into = nullptr;  // block! that keeps the values finished before an error
    const uint8_t* cached_pos = nullptr;
    uint32_t cached_chars = 0;
};

// Thrown (as the lexer's catch level) to end a scan quietly.
[[noreturn]] void stop();

// Output buffer.
Cell* out_cell(uint32_t index);          // valid until the next alloc_slot
Cell& alloc_slot(State& st);             // an unset! cell at the tail, new-line marked
void drop_last(State& st);

// Levels.
void open_level(State& st, int32_t type, const uint8_t* start, const uint8_t* end);
int32_t close_level(State& st, const uint8_t* start, const uint8_t* end, int32_t closer, bool quiet);
Cell* innermost_marker(State& st);      // null at the top
inline bool is_path_level(int32_t t) { return t >= lv_path && t <= lv_get_path; }

// Events and errors.
bool fire_event(State& st, Event ev, int32_t code, const Cell* token, const uint8_t* start,
                const uint8_t* end);
[[noreturn]] void throw_error(State& st, const uint8_t* start, const uint8_t* end, int32_t code);
// End of an error's near text: the input end, a line feed, or the first
// character boundary 30 or more bytes on.
const uint8_t* near_end(const uint8_t* start, const uint8_t* end);
// Raised when building a literal whose datatype does not exist yet.
[[noreturn]] void datatype_not_built(Type t);

// Whether "(" at p starts a point literal rather than a paren.
bool starts_point(const State& st, const uint8_t* p);

// Character offset of a byte position for callbacks (incremental).
uint32_t char_offset(State& st, const uint8_t* p);

// Whether the code point is one of the Unicode spaces that delimit tokens.
bool is_delimiter(uint32_t cp);
// Length of the delimiter sequence at p (0 when none).
uint32_t delimiter_at(const uint8_t* p, const uint8_t* end);

// New values.
Node make_string_node(uint32_t length, uint32_t unit);
Cell make_text(Type t, const uint8_t* from, const uint8_t* to);  // plain UTF-8, no escapes

// Token routines: (state, token start, token end, flags, build). Check and
// build columns, indexed by token kind.
using TokenRoutine = void (*)(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
extern const TokenRoutine check_routines[tables::kind_count];
extern const TokenRoutine build_routines[tables::kind_count];

// Builders shared with the structural routines.
void build_word_as(State& st, const uint8_t* s, const uint8_t* e, Type t, bool build);
void build_braced_string(State& st, const uint8_t* s, const uint8_t* e, bool build);
void word_cell(Cell& c, Type t, const uint8_t* name, uint32_t length);

// The fields of a date literal, checked; the date datatype builds the value.
struct DateFields {
    int32_t year = 0, month = 1, day = 1;
    double seconds = 0;  // time of day
    int32_t zone_hours = 0, zone_minutes = 0;  // magnitudes
    bool zone_negative = false;                // also for a zone under an hour
    bool has_time = false;
    int32_t week = 0, weekday = 0, yearday = 0;  // ISO week and day-of-year forms
};
bool read_date(const uint8_t* s, const uint8_t* e, DateFields& f);

// Decodes one caret escape at p (just after the '^'); answers the code point or
// -1 and moves p past it.
int32_t decode_escape(const uint8_t*& p, const uint8_t* end);
// Decodes one UTF-8 character; -1 when invalid.
int32_t decode_utf8(const uint8_t*& p, const uint8_t* end);

}  // namespace zan::lexer
