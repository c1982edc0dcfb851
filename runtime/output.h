// Standard output and the print hooks.
//
// All text the runtime prints goes through one buffer to file descriptor 1, as
// UTF-8 with LF line ends, whatever the unit size of the text it was given
// (1-byte Latin-1, 2-byte UCS-2 or 4-byte UCS-4). Escape sequences pass through
// unchanged: a terminal interprets them itself. The buffer is written out when
// full, after a line feed when the output is a terminal, at exit, and by flush(),
// which anything about to write to standard error or to read standard input
// must call first.
//
// Two hook lists let other components (the GUI console) see what is printed:
// list 1 gets every value printed by print/prin with its new-line flag, list 2
// the text of every debug print. Hooks run in order of registration.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace zan::output {

// Decides whether standard output is a terminal; call again after fd 1 changes.
void init();

// Writes out what is buffered.
void flush();

// The errno of the first write to standard output that failed, 0 when none did.
// Printing goes on after a failure; the process reports it when it ends.
int write_error();

// Flush for the fault handler: only write(), and nothing when the fault struck
// while the buffer was being changed.
void flush_after_fault() noexcept;

// The characters printed since the last line feed (at most 1,024, kept only
// while standard output is a terminal): the console's line editor draws the
// input after them. end_line() forgets them once something else ended the row.
std::u32string open_line();
void end_line();

// --- text ---------------------------------------------------------------------
// Each takes the address of the first unit and the length in bytes; the -line
// forms add a line feed.
void print_latin1(const void* text, uint32_t bytes);
void print_latin1_line(const void* text, uint32_t bytes);
void print_ucs2(const void* text, uint32_t bytes);
void print_ucs2_line(const void* text, uint32_t bytes);
void print_ucs4(const void* text, uint32_t bytes);
void print_ucs4_line(const void* text, uint32_t bytes);

// Any unit size (1, 2 or 4).
void print_units(const void* text, uint32_t bytes, uint32_t unit, bool newline);
// UTF-8 text such as mold_text answers: each character written once, not each byte.
void print_utf8(std::string_view text);

// --- debug prints (each fires hook list 2 with the text it printed, unit 1) ----
void print_ascii(const char* text);  // NUL-terminated bytes
void print_integer(int32_t value);   // "%i"
void print_hex2(uint32_t value);     // "%02X"
void print_hex8(uint32_t value);     // "%08X"
void print_float(double value);      // "%.16g"
void print_float32(float value);     // "%.7g"

// --- hooks --------------------------------------------------------------------
using ValueHook = void (*)(const Cell& value, bool newline);
using TextHook = void (*)(const void* text, uint32_t length, uint32_t unit);  // length in units

// Empties both lists, each with room for 5 hooks (as they start).
void init_hooks();
// Appends each hook that is not null; a full list doubles its room.
void add_hooks(ValueHook value_hook, TextHook text_hook);
// Removes the first occurrence of each hook that is not null.
void remove_hooks(ValueHook value_hook, TextHook text_hook);
// Calls every hook of list 1 / list 2 in order of registration.
void fire_value_hooks(const Cell& value, bool newline);
void fire_text_hooks(const void* text, uint32_t length, uint32_t unit);

// Count and room of list 1 or 2.
uint32_t hook_count(int list);
uint32_t hook_capacity(int list);

}  // namespace zan::output
