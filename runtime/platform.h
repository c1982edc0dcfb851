// The thin layer between the runtime and the operating system: process start,
// time and date, environment, current directory, sleeping, and the small debug
// printers the runtime uses for its own reports. Text crossing this layer is
// UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

namespace zan::platform {

// --- start --------------------------------------------------------------------
using Entry = int (*)(int argc, char** argv);

// Native stack of the runtime thread: deep but legal recursion reaches the
// language's own stack-overflow error long before the end of it.
constexpr size_t runtime_stack_size = size_t(256) << 20;

// Installs the fault handlers, keeps the argument list, starts the runtime
// thread and runs entry there under the outermost catch. Answers entry's status
// once the runtime thread has ended; the calling thread only waits.
int start(int argc, char** argv, Entry entry);

// Runs body on a new thread with the given native stack size and its own
// alternate signal stack, and answers body's result. When no such thread can be
// made, body runs on the calling thread.
template <typename Body>
int run_on_thread(size_t stack_size, Body& body);
int run_on_thread(size_t stack_size, int (*routine)(void*), void* context);

// Starts the platform services the runtime needs (standard output).
void init();

// The command line, each argument a NUL-terminated UTF-8 string; argv()[argc()]
// is null.
int argc();
char** argv();

// --- time ---------------------------------------------------------------------
// Seconds since midnight UTC; precise adds the fraction of the second.
double get_time(bool precise);

// Today as year << 17 | month << 12 | day << 7 | zone; zone 0 for UTC.
uint32_t get_date(bool utc);

// Zone bits of an offset east of UTC in minutes: hours << 2 | quarter-hours,
// a zone west of UTC with its hours stored as (magnitude AND 0xF) | 0x10.
uint32_t zone_bits(int32_t offset_minutes);

// Sleeps for at least 1 millisecond, resuming after interrupting signals.
void sleep(double seconds);

// Milliseconds sleep() waits for the given seconds.
uint64_t sleep_millis(double seconds);

// --- environment and current directory ---------------------------------------
std::optional<std::string> get_env(const std::string& name);
// Fails for an empty name or one holding "=" or NUL, and for a value holding NUL.
bool set_env(const std::string& name, const std::string& value);
bool unset_env(const std::string& name);

std::optional<std::string> get_current_dir();
bool set_current_dir(const std::string& path);

// --- helpers of the natives ---------------------------------------------------
// Degrees to radians for the trigonometric natives. Mode 0 tangent, 1 cosine,
// 2 sine: the angle is first brought into the half turn where the function has
// the same value.
double normalize_angle(double degrees, int mode);

// Date and time of the build in the language's date syntax, e.g. "9-Dec-2026";
// with "/hh:mm:ss" when the build recorded the time of day.
const char* build_date();
std::string format_build_date(const char* iso);  // "YYYY-MM-DD[Thh:mm:ss]"

// --- debug printing -----------------------------------------------------------
// Prints a byte as a char literal: #"a", #"^/", #"^(E9)".
void print_char_literal(uint8_t c);

// Prints at most count bytes of text, stopping at a NUL.
void print_c_string(const char* text, size_t count);
bool c_string_equal(const char* a, const char* b);

// One value of a debug print list.
struct Typed {
    enum Tag : uint32_t { logic = 1, integer, char_, float32, float64, text } tag;
    union {
        uint32_t bits;
        int32_t integer_value;
        float float32_value;
        double float64_value;
        const char* text_value;
    };
    static Typed of_logic(bool v) { Typed t{}; t.tag = logic; t.bits = v; return t; }
    static Typed of_integer(int32_t v) { Typed t{}; t.tag = integer; t.integer_value = v; return t; }
    static Typed of_char(uint32_t v) { Typed t{}; t.tag = char_; t.bits = v; return t; }
    static Typed of_float32(float v) { Typed t{}; t.tag = float32; t.float32_value = v; return t; }
    static Typed of_float(double v) { Typed t{}; t.tag = float64; t.float64_value = v; return t; }
    static Typed of_text(const char* v) { Typed t{}; t.tag = text; t.text_value = v; return t; }
    static Typed of_bits(uint32_t tag, uint32_t v) { Typed t{}; t.tag = Tag(tag); t.bits = v; return t; }
};

// Prints each value; with separate, a blank between values unless the one just
// printed ends in a blank, LF, CR or tab.
void print_typed(std::initializer_list<Typed> values, bool separate);
void print(std::initializer_list<Typed> values);
void print_line(std::initializer_list<Typed> values);  // then a line feed

// --- implementation -----------------------------------------------------------
template <typename Body>
int run_on_thread(size_t stack_size, Body& body) {
    return run_on_thread(
        stack_size, [](void* b) { return int((*static_cast<Body*>(b))()); }, &body);
}

}  // namespace zan::platform
