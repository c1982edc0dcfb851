// The value stack and the call-frame stack.
//
// Every call passes its arguments and its result through one value stack of
// cells: argument k of the running call is at base + k, and slot 0 doubles as
// the call's result slot. A second stack of call frames says which call owns
// which stretch of the value stack, names the called word for error reports
// and carries the frame kinds that break, continue, return, exit, throw and
// errors look for.
//
// Both stacks are fixed arrays made once at start-up (20,000 cells, 12,000
// frames), so a Cell* into the value stack stays valid for the whole run; the
// collector reaches them through a registered marker. Positions kept elsewhere
// (a stack-held context's values, a frame's previous base) are slot indexes
// plus one, 0 meaning none.
//
// Invariant: bottom <= base <= top <= end, and the frame on top owns the
// cells from base upwards. Non-local exits other than errors travel as status
// codes (see Status); their searches leave exactly the target frame on top
// with base and top set as that frame expects, and every level on the way
// returns the status without touching the stacks.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/unwind.h"

namespace zan::stack {

constexpr uint32_t value_capacity = 20000;
constexpr uint32_t frame_capacity = 12000;

// What an evaluation routine answers: 0, or the code of a non-local exit in
// flight (unwind::break_, continue_, return_, exit, throw_).
using Status = uint32_t;
constexpr Status ok = 0;

// Frame kinds (bits 24-27 of the header) and flags.
namespace kind {
constexpr uint32_t function = 1;
constexpr uint32_t native = 2;
constexpr uint32_t try_ = 4;
constexpr uint32_t try_all = 5;
constexpr uint32_t catch_ = 6;
constexpr uint32_t eval = 7;
constexpr uint32_t loop = 8;
}  // namespace kind
namespace bits {
constexpr uint32_t kind_shift = 24;
constexpr uint32_t kind_mask = 0x0F000000;
constexpr uint32_t func_entry = 0x10000000;  // target of return and exit
constexpr uint32_t interp = 0x80000000;      // opened by the interpreter
}  // namespace bits

// One call frame. The called word's symbol is kept whole (not in 16 header
// bits), so names above 65,535 stay right in errors and backtraces.
struct Frame {
    uint32_t header;        // kind and flags
    uint32_t prev_base;     // argument base (slot index) when the frame was pushed
    Node word_context;      // context of the called word, 0 for none
    Node func_context;      // locals context (frames of mark_func), else 0
    uint32_t saved_values;  // that context's values reference at call time
    uint32_t symbol;        // symbol id naming the frame
};

inline uint32_t frame_kind(const Frame& f) { return (f.header & bits::kind_mask) >> bits::kind_shift; }

struct State {
    Cell* bottom;
    Cell* top;  // first free slot
    Cell* end;
    Cell* base;  // slot 0 of the running call
    Frame* frame_bottom;
    Frame* frame_top;  // first free frame
    Frame* frame_end;
    const char* native_limit;  // lowest native stack address evaluation may reach
};
extern State s;

// Symbols of the internal frame names, cached by init.
extern uint32_t sym_body;
extern uint32_t sym_anon;

// Makes both stacks (once), registers the collector marker and the error
// where-provider, and caches the internal names. Also resets both stacks.
void init();

// --- overflow -------------------------------------------------------------------
// Lowers the value top by `drop` slots (not below bottom), empties the mold
// cycle guard and raises internal stack-overflow.
[[noreturn]] void overflow(uint32_t drop = 5);

// Deep native recursion must end in the language's own error, not a crash.
[[gnu::always_inline]] inline void check_native_depth() {
    if (static_cast<const char*>(__builtin_frame_address(0)) < s.native_limit) overflow(0);
}

// --- the value stack ----------------------------------------------------------------
[[gnu::always_inline]] inline Cell* push_slot() {
    Cell* slot = s.top;
    if (++s.top >= s.end) overflow(5);
    return slot;
}
[[gnu::always_inline]] inline Cell* push(const Cell& value) {
    Cell v = value;  // the value may lie in the slot being reserved
    Cell* slot = push_slot();
    *slot = v;
    return slot;
}
inline void pop(uint32_t n) { s.top = uint32_t(s.top - s.bottom) < n ? s.bottom : s.top - n; }
inline Cell* top() { return s.top > s.bottom ? s.top - 1 : s.bottom; }
inline Type top_type() { return type_of(*top()); }
inline Cell* base() { return s.base; }
inline Cell* arg(uint32_t k) { return s.base + k; }
inline void reset() { s.top = s.base; }
inline void keep() { s.top = s.base + 1; }
inline void set_last(const Cell& value) { *s.base = value; }
inline void reset_last(const Cell& value) {
    Cell v = value;
    s.top = s.base + 1;
    *s.base = v;
}
void keep_error_result();

// Slot index + 1 of a cell on the value stack, and back (0 is none).
inline uint32_t position(const Cell* slot) { return uint32_t(slot - s.bottom) + 1; }
inline Cell* slot_at(uint32_t position) { return s.bottom + (position - 1); }
inline uint32_t index_of(const Cell* slot) { return uint32_t(slot - s.bottom); }

// --- frames ---------------------------------------------------------------------
// The common opener: the frame is named by a symbol bound in word_context.
[[gnu::always_inline]] inline Frame* mark(uint32_t symbol, Node word_context, uint32_t header) {
    Frame* f = s.frame_top;
    if (f >= s.frame_end) overflow(5);
    f->header = header;
    f->prev_base = uint32_t(s.base - s.bottom);
    f->word_context = word_context;
    f->func_context = 0;
    f->saved_values = 0;
    f->symbol = symbol;
    s.frame_top = f + 1;
    s.base = s.top;
    return f;
}
inline Frame* mark(const Cell& word, uint32_t header) {
    return mark(word_symbol(word), word_context(word), header);
}
inline uint32_t kind_bits(uint32_t k) { return k << bits::kind_shift; }

// Kind 1 with the function's locals context: its values reference is saved in
// the frame and written back when the frame is popped by a restoring closer.
Frame* mark_func(const Cell& word, Node func_context);
inline Frame* mark_native(const Cell& w) { return mark(w, kind_bits(kind::native)); }
inline Frame* mark_try(const Cell& w) { return mark(w, kind_bits(kind::try_)); }
inline Frame* mark_try_all(const Cell& w) { return mark(w, kind_bits(kind::try_all)); }
inline Frame* mark_catch(const Cell& w) { return mark(w, kind_bits(kind::catch_)); }
inline Frame* mark_loop(const Cell& w) { return mark(w, kind_bits(kind::loop)); }
inline Frame* mark_eval(const Cell& w) { return mark(w, kind_bits(kind::eval) | bits::interp); }
inline Frame* mark_interp_native(const Cell& w) {
    return mark(w, kind_bits(kind::native) | bits::interp);
}
inline Frame* mark_interp_func(const Cell& w) {
    return mark(w, kind_bits(kind::function) | bits::interp);
}
// A compiled function's entry frame: the arguments already on the stack are
// its locals, so the context's values reference is pointed at the current base.
Frame* mark_compiled_func(const Cell& word, Node func_context);

// Frames named by an internal name, bound to nothing.
inline Frame* mark_body(uint32_t header) { return mark(sym_body, 0, header); }

void set_func_entry(bool on);
void mark_interp();
Frame* claim_caller_entry();
void clear_func_entry(Frame* f);
inline Frame* top_frame() { return s.frame_top > s.frame_bottom ? s.frame_top - 1 : nullptr; }
void set_frame_top(Frame* f);
bool interp_frame_below(const Frame* f, bool single);
inline uint32_t depth() { return uint32_t(s.frame_top - s.frame_bottom); }

// --- closers ----------------------------------------------------------------------
// Popping restores the argument base from the frame; the *_func forms also
// write back the saved values reference of a kind-1 frame's function context.
[[gnu::always_inline]] inline void unwind() {
    Frame* f = --s.frame_top;
    s.top = s.base + 1;
    s.base = s.bottom + f->prev_base;
}
[[gnu::always_inline]] inline void unwind_last() {
    Frame* f = --s.frame_top;
    Cell result = *s.base;
    s.top = s.base;
    s.base = s.bottom + f->prev_base;
    *s.base = result;
}
inline void unwind_drop() {
    Frame* f = --s.frame_top;
    s.top = s.base;
    s.base = s.bottom + f->prev_base;
}
void restore_context(const Frame& f);
void unwind_func();
void unwind_func_last();
void unwind_func_drop();
void unwind_any();
void unwind_to_kind(uint32_t kind, bool keep);
void unwind_to_kind_last(uint32_t kind);
inline void unwind_to_loop(bool keep) { unwind_to_kind(kind::loop, keep); }

// Pops every frame above `f` (restoring function contexts on the way), so
// that f is the top frame again, and puts base and top back as given. The
// catchers of errors use it: an error is a C++ exception, and the frames it
// left behind are cut here.
void cut_back(Frame* f, Cell* base, Cell* top);

// --- exit searches ------------------------------------------------------------------
// Each finds its target frame and leaves it on top with the stacks as it
// expects, then answers the code the exit travels with; without a target it
// restores the stacks and raises its throw error.
Status throw_break(bool has_value, bool continue_);
Status throw_return(bool has_value, bool no_own_frame);
Status throw_value(uint32_t code);

// Turns a status into the unwinding exception, for callers that are plain
// C++ (comparators, change hooks, lexer and parse callbacks).
inline void raise_status(Status st) {
    if (st) unwind::raise(st);
}

// --- names, errors and backtraces ------------------------------------------------------
// The word of the nearest named call (<not-found> past the bottom).
Cell get_call_word();

// The code at the expression being evaluated (a block at its position), for
// the near field of a raised error; the interpreter installs it.
using NearProvider = Cell (*)();
void set_near_provider(NearProvider provider);
// Frame where a throw started (0 when unset); the next where-lookup clears it.
extern uint32_t throw_origin;

// Stores the call-stack top into the error's stack field as an integer,
// unless that field already holds a block.
void record_error_position(const Cell& error);

// Appends, for every named frame from the top down (the bottom frame left
// out), its word and its previous base as an integer.
void collect_calls(const Cell& block);

// Appends the words of the named frames from the bottom up to `end` (a frame
// count; 0 for the top): every one when level > 1, else only those whose word
// holds a function! in the frame's context.
void collect_call_words(int level, const Cell& block, uint32_t end);

// Forms the same words into a string buffer, each followed by one space;
// answers the budget left.
int32_t form_backtrace(int level, uint32_t end, Node buffer, int32_t budget);

// The call-stack position an error's stack field records (a frame count).
inline Cell error_position() { return integer_cell(int32_t(depth())); }

}  // namespace zan::stack
