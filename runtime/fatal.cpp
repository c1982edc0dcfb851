// Fatal errors and processor faults.
//
// Everything reachable from the signal handler is async-signal-safe: it formats
// into a stack buffer by hand, reads only values fixed before the fault (the load
// base, the stack bounds of the runtime's threads), and ends with write and
// _exit. It never allocates, never frees and never opens a window, since the
// fault may have struck inside the allocator or the windowing code.
#include "runtime/fatal.h"

#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/output.h"

namespace zan::runtime {

namespace {

struct ErrorText {
    int32_t code;
    const char* text;
};

constexpr ErrorText error_texts[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {19, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {94, "out of memory"},
    {95, "no CATCH for THROW"},
    {98, "assertion failed"},
    {99, "unknown error"},
    {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// Signal and si_code to runtime error number; si_code -1 is the signal's
// fallback (raised by a program, or a cause without its own number).
struct FaultCode {
    int signal;
    int si_code;
    int32_t code;
};

constexpr FaultCode fault_codes[] = {
    {SIGSEGV, SEGV_MAPERR, 1},   {SIGSEGV, SEGV_ACCERR, 1},  {SIGSEGV, -1, 32},
    {SIGBUS, BUS_ADRALN, 2},     {SIGBUS, BUS_ADRERR, 27},   {SIGBUS, BUS_OBJERR, 28},
    {SIGBUS, BUS_MCEERR_AR, 29}, {SIGBUS, BUS_MCEERR_AO, 30}, {SIGBUS, -1, 34},
    {SIGFPE, FPE_INTDIV, 13},    {SIGFPE, FPE_INTOVF, 14},   {SIGFPE, FPE_FLTDIV, 7},
    {SIGFPE, FPE_FLTOVF, 10},    {SIGFPE, FPE_FLTUND, 12},   {SIGFPE, FPE_FLTRES, 8},
    {SIGFPE, FPE_FLTINV, 9},     {SIGFPE, FPE_FLTSUB, 5},    {SIGFPE, -1, 33},
    {SIGILL, ILL_ILLOPC, 17},    {SIGILL, ILL_ILLOPN, 23},   {SIGILL, ILL_ILLADR, 24},
    {SIGILL, ILL_ILLTRP, 25},    {SIGILL, ILL_PRVOPC, 15},   {SIGILL, ILL_PRVREG, 31},
    {SIGILL, ILL_COPROC, 26},    {SIGILL, ILL_BADSTK, 19},   {SIGILL, -1, 17},
    {SIGTRAP, TRAP_BRKPT, 3},    {SIGTRAP, TRAP_TRACE, 4},   {SIGTRAP, -1, 3},
};

constexpr int fault_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

uintptr_t find_load_base() {
    uintptr_t base = 0;
    // The first object reported is the executable itself.
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* out) {
            *static_cast<uintptr_t*>(out) = info->dlpi_addr;
            return 1;
        },
        &base);
    return base;
}

const uintptr_t load_base = find_load_base();

// Stack bounds of the threads that run runtime code; read by the fault handler.
struct StackBounds {
    std::atomic<uintptr_t> low{0};
    std::atomic<uintptr_t> high{0};
};
constexpr int stack_slots = 8;
StackBounds thread_stacks[stack_slots];

constexpr size_t alt_stack_size = 64 * 1024;
// A fault this far below a stack's lowest address is taken for running off it.
constexpr uintptr_t overflow_reach = 1024 * 1024;

bool is_stack_overflow(uintptr_t address) {
    for (auto& s : thread_stacks) {
        uintptr_t low = s.low.load(std::memory_order_relaxed);
        if (low == 0) continue;
        if (address + overflow_reach >= low && address < low + 4096) return true;
    }
    return false;
}

uint32_t append(char* out, uint32_t at, const char* text) {
    while (*text) out[at++] = *text++;
    return at;
}

void on_fault(int signal, siginfo_t* info, void* context) {
    int32_t code = fault_code(signal, info->si_code);
    if (signal == SIGSEGV && info->si_code > 0 &&
        is_stack_overflow(reinterpret_cast<uintptr_t>(info->si_addr)))
        code = fatal::stack_overflow;
    uintptr_t pc = 0;
    if (context) pc = uintptr_t(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
    output::flush_after_fault();
    char report[256];
    uint32_t length = format_report(report, code, uint32_t(pc - load_base));
    write_all(2, report, length);
    _exit(code);
}

}  // namespace

int write_all(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        length -= size_t(n);
    }
    return 0;
}

const char* error_text(int32_t code) {
    for (const auto& e : error_texts)
        if (e.code == code) return e.text;
    return "unknown error code!";
}

uint32_t format_report(char* out, int32_t code, uint32_t address) {
    uint32_t at = append(out, 0, "*** Runtime Error ");
    char digits[12];
    int n = 0;
    uint32_t magnitude = code < 0 ? 0u - uint32_t(code) : uint32_t(code);
    do {
        digits[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (code < 0) out[at++] = '-';
    while (n) out[at++] = digits[--n];
    at = append(out, at, ": ");
    at = append(out, at, error_text(code));
    at = append(out, at, "\n*** at: ");
    for (int shift = 28; shift >= 0; shift -= 4) out[at++] = "0123456789ABCDEF"[(address >> shift) & 0xF];
    return append(out, at, "h\n");
}

void quit(int32_t code, uint32_t address) {
    output::flush();
    std::fflush(stdout);
    if (code != 0) {
        char report[256];
        uint32_t length = format_report(report, code, address);
        write_all(2, report, length);
    }
    _exit(code);
}

uint32_t code_offset(const void* address) {
    return uint32_t(reinterpret_cast<uintptr_t>(address) - load_base);
}

int32_t fault_code(int signal, int si_code) {
    int32_t fallback = fatal::unknown;
    for (const auto& f : fault_codes) {
        if (f.signal != signal) continue;
        if (f.si_code == si_code && si_code > 0) return f.code;
        if (f.si_code == -1) fallback = f.code;
    }
    return fallback;
}

void install_fault_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_sigaction = on_fault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int s : fault_signals) sigaddset(&action.sa_mask, s);
    for (int s : fault_signals) sigaction(s, &action, nullptr);
}

FaultStack::FaultStack() : memory_(nullptr), slot_(-1) {
    void* memory = mmap(nullptr, alt_stack_size, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory != MAP_FAILED) {
        stack_t alt{};
        alt.ss_sp = memory;
        alt.ss_size = alt_stack_size;
        if (sigaltstack(&alt, nullptr) == 0)
            memory_ = memory;
        else
            munmap(memory, alt_stack_size);
    }
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
        for (int i = 0; i < stack_slots; ++i) {
            uintptr_t expected = 0;
            if (thread_stacks[i].low.compare_exchange_strong(expected,
                                                             reinterpret_cast<uintptr_t>(low))) {
                thread_stacks[i].high.store(reinterpret_cast<uintptr_t>(low) + size);
                slot_ = i;
                break;
            }
        }
    }
    pthread_attr_destroy(&attr);
}

FaultStack::~FaultStack() {
    if (slot_ >= 0) {
        thread_stacks[slot_].high.store(0);
        thread_stacks[slot_].low.store(0);
    }
    if (memory_) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory_, alt_stack_size);
    }
}

void boot_catch_handler(uint32_t code) {
    if (code == unwind::quiet_end) quit(0, 0);
    quit(fatal::no_catch, code_offset(reinterpret_cast<const void*>(&boot_catch_handler)));
}

}  // namespace zan::runtime
