// The lexer: UTF-8 source text to values.
//
// A table-driven automaton over byte classes splits the text into tokens; each
// token kind has a checking routine and a value builder (token_builders.cpp).
// Values are built into one output buffer shared by every running scan; blocks,
// parens, maps and paths sit there as level markers until they close and fold
// into one series value.
//
// Three modes: prescan (the automaton and the structural routines only, the
// answer is the guessed type), scan (every builder checks without building,
// the answer is the recognised type) and load (values are built). In prescan
// and scan a malformed token ends the scan quietly with the type error!; in
// load it raises a syntax error.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zan::lexer {

// Reserves the output and input buffers and registers the collector hook.
// Safe to call more than once; every entry calls it.
void init();

// --- trace callbacks -----------------------------------------------------------

enum Event : uint32_t {
    ev_prescan = 1,
    ev_scan = 2,
    ev_load = 4,
    ev_open = 8,
    ev_close = 16,
    ev_error = 32,
};
constexpr uint32_t all_events = 63;

// What a callback receives. The evaluator turns code into the type argument:
// a datatype! for a positive code, none for 0, and for a negative code c the
// word of exit_state_name(-1 - c). The input is the scanned string! or binary!
// with its index at the token's start or end; when the callback moves that
// index, the hook writes the new index back into `input` and the scan goes on
// from there.
struct EventArgs {
    Event event;
    Cell input;
    int32_t code;
    int32_t line;
    Cell token;  // the value just built, or a pair! of 1-based start and end offsets
};

// The evaluator installs these once the interpreter exists. call() runs the
// callback (a function! or routine!) under a frame named <lexer-callback> and
// answers its result as a condition; script errors and throws it raises pass
// through the lexer. mask() reads the event mask from the callback's body (a
// leading block of event words), all_events when it names none.
struct CallbackHooks {
    bool (*call)(const Cell& callback, EventArgs& args) = nullptr;
    uint32_t (*mask)(const Cell& callback) = nullptr;
};
void set_callback_hooks(const CallbackHooks& hooks);

// Spelling of the word for token kind 0-35 in system/lexer/exit-states; null
// outside that range.
const char* exit_state_name(int kind);
constexpr int exit_state_count = 36;

// --- scanning ------------------------------------------------------------------

struct ScanRequest {
    bool one = false;    // stop after the first complete top-level value
    bool load = true;    // false: prescan
    bool wrap = true;    // with load: build values; without: scan (check only)
    bool next = false;   // with one: wrap the value in a block anyway
    const Cell* callback = nullptr;  // function! or routine!, or null
    const Cell* input = nullptr;     // the string! or binary! handed to callbacks
    const Cell* into = nullptr;      // block! the values are appended to
};

// Scans UTF-8 bytes. Answers the type id of the last token (0 none, 34 error!
// for a quiet failure). With wrap and load the result cell receives the block
// of values (or the value itself with one and not next), unless `into` takes
// them. consumed receives bytes, or characters when the input value is a
// string!. The bytes must stay put while the scan runs: pin their buffer.
int32_t scan(Cell* result, const uint8_t* bytes, uint32_t length, const ScanRequest& req,
             uint32_t* consumed);

// The same over a string! from its index, count characters (-1: all). The
// text is converted to UTF-8 in the lexer's own input buffer.
int32_t scan_string(Cell* result, const Cell& str, int32_t count, const ScanRequest& req,
                    uint32_t* consumed);

// Loading: UTF-8 text to a new block of its values; raises syntax errors.
Cell load_utf8(const uint8_t* bytes, uint32_t length);

// For word conversions: loads UTF-8 text, stores its first value in `first`
// and answers how many values it held; -1 when it does not load.
int32_t transcode_text(std::string_view utf8, Cell& first);

// The console's test: the type a line's text prescans to, error! (34) for an
// invalid or unfinished line. Never raises for bad syntax.
int32_t prescan(const uint8_t* bytes, uint32_t length);

// --- transcode -------------------------------------------------------------------

struct TranscodeRefs {
    bool next = false;
    bool one = false;
    bool prescan = false;
    bool scan = false;
    bool part = false;
    Cell part_arg;                   // integer! count, or a position in the source's series
    const Cell* into = nullptr;      // block!
    const Cell* trace = nullptr;     // callback
};

// The work of the transcode native on a string! or binary! source.
Cell transcode(const Cell& source, const TranscodeRefs& refs);

// --- decimal text readers for to and make -------------------------------------------
// Text of `count` characters of `unit` bytes (1, 2 or 4); err receives 0, or -1
// for malformed text (-2 for an integer overflow).

int32_t scan_integer(const void* text, uint32_t count, uint32_t unit, int32_t& err);
double scan_float(const void* text, uint32_t count, uint32_t unit, int32_t& err);
void scan_tuple(const void* text, uint32_t count, uint32_t unit, int32_t& err, Cell& result);
void scan_money(const void* text, uint32_t count, uint32_t unit, int32_t& err, Cell& result);

// --- errors ----------------------------------------------------------------------------

namespace syntax {
constexpr errors::Id invalid{errors::Category::syntax, 2};
constexpr errors::Id missing{errors::Category::syntax, 3};
constexpr errors::Id malconstruct{errors::Category::syntax, 7};
constexpr errors::Id bad_char{errors::Category::syntax, 8};
}  // namespace syntax

// Raised while loading a literal whose datatype is not built yet; its argument
// is that datatype.
constexpr errors::Id datatype_missing{errors::Category::script, 12};  // invalid-type

}  // namespace zan::lexer
