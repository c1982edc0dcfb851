// Fatal errors: the last line of defence.
//
// quit() reports a numbered runtime error on standard error and ends the
// process with that number as its status. Processor faults arrive as signals on
// an alternate stack and end in the same report; that path only writes and
// exits, because the fault may have hit the allocator or the output code in the
// middle of a change. An address in a report is an offset from the executable's
// load base, so it stays the same from run to run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "runtime/unwind.h"

namespace zan::runtime {

// Runtime error numbers that the runtime itself reports.
namespace fatal {
constexpr int32_t access_violation = 1;
constexpr int32_t stack_overflow = 19;
constexpr int32_t out_of_memory = 94;
constexpr int32_t no_catch = 95;
constexpr int32_t assertion_failed = 98;
constexpr int32_t unknown = 99;
constexpr int32_t no_case = 100;  // also every impossible default branch
constexpr int32_t no_switch = 101;
}  // namespace fatal

// Text of a runtime error number; "unknown error code!" for numbers without one.
const char* error_text(int32_t code);

// Writes "*** Runtime Error <code>: <text>\n*** at: <address>h\n" into out (at
// least 128 bytes) and answers its length. Safe inside a signal handler.
uint32_t format_report(char* out, int32_t code, uint32_t address);

// Reports the error (nothing for code 0), flushes standard output and ends the
// process with the code as its status.
[[noreturn]] void quit(int32_t code, uint32_t address);

// Offset of a code address from the executable's load base, 32 bits wide.
uint32_t code_offset(const void* address);

// The place in the caller of the routine that calls this: a failing routine
// passes it to quit() so the report points at the call that failed.
[[gnu::always_inline]] inline uint32_t caller_address() {
    return code_offset(__builtin_return_address(0));
}

// (value + alignment - 1) rounded down to a multiple of alignment, a power of two.
constexpr int32_t align_up(int32_t value, int32_t alignment) {
    return int32_t((uint32_t(value) + uint32_t(alignment) - 1) & (0u - uint32_t(alignment)));
}

// Writes all of data to fd, again after an interruption; a failed write ends it
// and answers its errno (0 when everything was written). Safe inside a signal
// handler.
int write_all(int fd, const char* data, size_t length);

// Runtime error number of a processor fault: signal number and its si_code.
int32_t fault_code(int signal, int si_code);

// Installs the process-wide fault handlers (once).
void install_fault_handlers();

// Gives the calling thread an alternate signal stack, so that a fault reports
// even when the thread's own stack is exhausted, and remembers the thread's stack
// bounds so that running off them reports as a stack overflow. Undone when the
// object dies; one per thread that runs runtime code.
class FaultStack {
public:
    FaultStack();
    ~FaultStack();
    FaultStack(const FaultStack&) = delete;
    FaultStack& operator=(const FaultStack&) = delete;

private:
    void* memory_;
    int slot_;
};

// Where a throw that nothing stopped ends: the quiet end gives status 0, any other
// code runtime error 95.
[[noreturn]] void boot_catch_handler(uint32_t code);

// Runs body as the outermost frame: stops every code.
template <typename Body>
void boot_catch(Body&& body) {
    uint32_t code = 0;
    try {
        body();
        return;
    } catch (const unwind::Thrown& t) {
        code = t.code;
    } catch (const std::bad_alloc&) {
        quit(fatal::out_of_memory, 0);
    } catch (...) {
        quit(fatal::unknown, 0);
    }
    boot_catch_handler(code);
}

}  // namespace zan::runtime
