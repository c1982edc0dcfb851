// Fatal reports: texts, exit statuses, processor faults and the outermost catch.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>

#include "capture.h"
#include "runtime/fatal.h"
#include "runtime/output.h"
#include "runtime/platform.h"

namespace zan::runtime {
namespace {

struct TextCase {
    int32_t code;
    const char* text;
};

TEST(Fatal, ErrorTexts) {
    const TextCase cases[] = {
        {1, "access violation"},          {2, "invalid alignment"},
        {6, "float denormal operan"},     {13, "integer divide by zero"},
        {19, "stack error or overflow"},  {22, "invalid handle"},
        {23, "illegal operand"},          {29, "hardware memory error consumed AR"},
        {30, "hardware memory error consumed AO"},
        {32, "segmentation fault"},       {33, "FPU error"},
        {34, "Bus error"},                {94, "out of memory"},
        {95, "no CATCH for THROW"},       {98, "assertion failed"},
        {99, "unknown error"},            {100, "no value matched in CASE"},
        {101, "no value matched in SWITCH"},
        {0, "unknown error code!"},       {35, "unknown error code!"},
        {93, "unknown error code!"},      {96, "unknown error code!"},
        {97, "unknown error code!"},      {102, "unknown error code!"},
        {-1, "unknown error code!"},
    };
    for (const auto& c : cases) EXPECT_STREQ(error_text(c.code), c.text) << c.code;
    for (int32_t code = 1; code <= 34; ++code)
        EXPECT_STRNE(error_text(code), "unknown error code!") << code;
}

TEST(Fatal, ReportFormat) {
    struct Case {
        int32_t code;
        uint32_t address;
        const char* report;
    } cases[] = {
        {95, 0x1234, "*** Runtime Error 95: no CATCH for THROW\n*** at: 00001234h\n"},
        {6, 0xDEADBEEF, "*** Runtime Error 6: float denormal operan\n*** at: DEADBEEFh\n"},
        {97, 0, "*** Runtime Error 97: unknown error code!\n*** at: 00000000h\n"},
        {-2147483647 - 1, 0xA,
         "*** Runtime Error -2147483648: unknown error code!\n*** at: 0000000Ah\n"},
    };
    for (const auto& c : cases) {
        char out[256];
        uint32_t n = format_report(out, c.code, c.address);
        EXPECT_EQ(std::string(out, n), c.report);
    }
}

TEST(Fatal, AlignUp) {
    struct Case {
        int32_t value, alignment, aligned;
    } cases[] = {{0, 16, 0},   {1, 16, 16},  {16, 16, 16}, {17, 16, 32},
                 {5, 1, 5},    {7, 8, 8},    {-1, 8, 0},   {-9, 8, -8},
                 {0x7FFFFFF0, 16, 0x7FFFFFF0}};
    for (const auto& c : cases) EXPECT_EQ(align_up(c.value, c.alignment), c.aligned) << c.value;
}

TEST(Fatal, FaultCodes) {
    struct Case {
        int signal, si_code;
        int32_t code;
    } cases[] = {
        {SIGSEGV, SEGV_MAPERR, 1},   {SIGSEGV, SEGV_ACCERR, 1},    {SIGSEGV, SI_USER, 32},
        {SIGBUS, BUS_ADRALN, 2},     {SIGBUS, BUS_ADRERR, 27},     {SIGBUS, BUS_OBJERR, 28},
        {SIGBUS, BUS_MCEERR_AR, 29}, {SIGBUS, BUS_MCEERR_AO, 30},  {SIGBUS, SI_TKILL, 34},
        {SIGFPE, FPE_INTDIV, 13},    {SIGFPE, FPE_INTOVF, 14},     {SIGFPE, FPE_FLTDIV, 7},
        {SIGFPE, FPE_FLTOVF, 10},    {SIGFPE, FPE_FLTUND, 12},     {SIGFPE, FPE_FLTRES, 8},
        {SIGFPE, FPE_FLTINV, 9},     {SIGFPE, FPE_FLTSUB, 5},      {SIGFPE, SI_USER, 33},
        {SIGILL, ILL_ILLOPC, 17},    {SIGILL, ILL_ILLOPN, 23},     {SIGILL, ILL_ILLADR, 24},
        {SIGILL, ILL_ILLTRP, 25},    {SIGILL, ILL_PRVOPC, 15},     {SIGILL, ILL_PRVREG, 31},
        {SIGILL, ILL_COPROC, 26},    {SIGILL, ILL_BADSTK, 19},     {SIGILL, SI_TKILL, 17},
        {SIGTRAP, TRAP_BRKPT, 3},    {SIGTRAP, TRAP_TRACE, 4},     {SIGTRAP, SI_USER, 3},
        {SIGUSR1, SI_USER, 99},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fault_code(c.signal, c.si_code), c.code) << c.signal << "/" << c.si_code;
}

TEST(Fatal, CodeOffsetsAreFromTheLoadBase) {
    // Two places in this executable are a small distance apart and keep their
    // distance; a place outside it is far away.
    uint32_t here = code_offset(reinterpret_cast<const void*>(&error_text));
    uint32_t there = code_offset(reinterpret_cast<const void*>(&quit));
    EXPECT_LT(here, 0x4000000u);
    EXPECT_LT(there, 0x4000000u);
    EXPECT_EQ(code_offset(reinterpret_cast<const char*>(&error_text) + 5), here + 5);
}

uint32_t direct_offset = 0;
[[gnu::noipa]] uint32_t failing_routine() {
    direct_offset = code_offset(__builtin_return_address(0));
    return caller_address();
}
// Work after the call keeps the compiler from making it a jump.
volatile uint32_t calls_made = 0;
[[gnu::noipa]] uint32_t first_site() {
    uint32_t at = failing_routine();
    calls_made = calls_made + 1;
    return at;
}
[[gnu::noipa]] uint32_t second_site() {
    uint32_t at = failing_routine();
    calls_made = calls_made + 1;
    return at;
}

TEST(Fatal, CallerAddressPointsIntoTheCaller) {
    uint32_t a = first_site();
    EXPECT_EQ(a, direct_offset);
    uint32_t b = second_site();
    EXPECT_EQ(b, direct_offset);
    EXPECT_NE(a, b);
    uint32_t first = code_offset(reinterpret_cast<const void*>(&first_site));
    uint32_t second = code_offset(reinterpret_cast<const void*>(&second_site));
    EXPECT_GT(a, first);
    EXPECT_LT(a - first, 64u);
    EXPECT_GT(b, second);
    EXPECT_LT(b - second, 64u);
}

// --- quit ------------------------------------------------------------------------

TEST(FatalDeath, QuitReportsAndExitsWithTheCode) {
    const TextCase cases[] = {{1, "access violation"},       {6, "float denormal operan"},
                              {94, "out of memory"},         {95, "no CATCH for THROW"},
                              {97, "unknown error code!"},   {100, "no value matched in CASE"},
                              {101, "no value matched in SWITCH"}};
    for (const auto& c : cases) {
        std::string expected = "^\\*\\*\\* Runtime Error " + std::to_string(c.code) + ": " +
                               c.text + "\n\\*\\*\\* at: 0000ABCDh\n$";
        EXPECT_EXIT(quit(c.code, 0xABCD), testing::ExitedWithCode(c.code), expected);
    }
}

TEST(FatalDeath, QuitZeroIsSilent) {
    auto r = test::run_child([] {
        output::print_latin1("kept", 4);
        quit(0, 0x1234);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "kept");
    EXPECT_EQ(r.err, "");
}

TEST(FatalDeath, QuitStatusIsEightBits) {
    auto r = test::run_child([] { quit(300, 0); });
    EXPECT_EQ(r.status, 300 & 0xFF);
    EXPECT_EQ(r.err, "*** Runtime Error 300: unknown error code!\n*** at: 00000000h\n");
}

TEST(FatalDeath, BufferedOutputGoesOutBeforeTheReport) {
    auto r = test::run_child(
        [] {
            output::print_latin1("before", 6);
            quit(98, 0);
        },
        true);
    EXPECT_EQ(r.status, 98);
    EXPECT_EQ(r.out, "before*** Runtime Error 98: assertion failed\n*** at: 00000000h\n");
}

// --- processor faults ---------------------------------------------------------------

volatile int zero = 0;
int* volatile null_pointer = nullptr;

// The faults are the point here; sanitizer builds must not report them first.
[[gnu::noipa, gnu::no_sanitize("address", "undefined")]] void null_write() { *null_pointer = 1; }
[[gnu::no_sanitize("undefined")]] void divide_by_zero() {
    volatile int n = 7 / zero;
    (void)n;
}
volatile bool keep_going = true;
[[gnu::noinline]] int recurse_forever(int depth) {
    volatile char pad[512];
    pad[0] = char(depth);
    if (!keep_going) return 0;
    return recurse_forever(depth + 1) + pad[0];
}

struct FaultCase {
    const char* name;
    void (*fault)();
    int32_t code;
    const char* text;
};

TEST(FatalDeath, SignalsBecomeRuntimeErrors) {
    const FaultCase cases[] = {
        {"null write", null_write, 1, "access violation"},
        {"integer division", divide_by_zero, 13, "integer divide by zero"},
        {"raised SIGBUS", [] { raise(SIGBUS); }, 34, "Bus error"},
        {"raised SIGILL", [] { raise(SIGILL); }, 17, "illegal instruction"},
        {"raised SIGSEGV", [] { raise(SIGSEGV); }, 32, "segmentation fault"},
        {"raised SIGTRAP", [] { raise(SIGTRAP); }, 3, "breakpoint"},
        {"raised SIGFPE", [] { raise(SIGFPE); }, 33, "FPU error"},
    };
    for (const auto& c : cases) {
        auto r = test::run_child([&] {
            install_fault_handlers();
            FaultStack stack;
            output::print_latin1("pending", 7);
            c.fault();
        });
        EXPECT_EQ(r.status, c.code) << c.name;
        std::string head = "*** Runtime Error " + std::to_string(c.code) + ": " + c.text + "\n*** at: ";
        EXPECT_EQ(r.err.substr(0, head.size()), head) << c.name;
        EXPECT_EQ(r.err.size(), head.size() + 10) << c.name;
        EXPECT_EQ(r.out, "pending") << c.name;
    }
}

TEST(FatalDeath, FaultAddressIsTheFaultingInstruction) {
    auto r = test::run_child([] {
        install_fault_handlers();
        FaultStack stack;
        null_write();
    });
    ASSERT_EQ(r.status, 1);
    uint32_t at = uint32_t(std::stoul(r.err.substr(r.err.find("at: ") + 4, 8), nullptr, 16));
    uint32_t start = code_offset(reinterpret_cast<const void*>(&null_write));
    EXPECT_GE(at, start);
    EXPECT_LT(at, start + 64);
}

TEST(FatalDeath, RunningOffTheStackIsAStackOverflow) {
    auto r = test::run_child([] {
        install_fault_handlers();
        auto body = [] { return recurse_forever(0); };
        platform::run_on_thread(size_t(1) << 20, body);
    });
    EXPECT_EQ(r.status, 19);
    EXPECT_EQ(r.err.substr(0, 44), "*** Runtime Error 19: stack error or overflo");
}

// --- the outermost catch --------------------------------------------------------------

TEST(FatalDeath, BootCatch) {
    struct Case {
        uint32_t code;
        int status;
        const char* err;
    } cases[] = {
        {unwind::quiet_end, 0, ""},
        {unwind::error, 95, "*** Runtime Error 95: no CATCH for THROW\n*** at: "},
        {unwind::throw_, 95, "*** Runtime Error 95: no CATCH for THROW\n*** at: "},
        {unwind::lexer, 95, "*** Runtime Error 95: no CATCH for THROW\n*** at: "},
    };
    for (const auto& c : cases) {
        auto r = test::run_child([&] { boot_catch([&] { unwind::raise(c.code); }); });
        EXPECT_EQ(r.status, c.status) << c.code;
        EXPECT_EQ(r.err.substr(0, std::strlen(c.err)), c.err) << c.code;
    }
}

TEST(FatalDeath, BootCatchOfForeignExceptions) {
    auto r = test::run_child([] { boot_catch([] { throw std::bad_alloc(); }); });
    EXPECT_EQ(r.status, 94);
    r = test::run_child([] { boot_catch([] { throw 5; }); });
    EXPECT_EQ(r.status, 99);
}

TEST(Fatal, BootCatchReturnsWhenNothingWasThrown) {
    bool ran = false;
    boot_catch([&] { ran = true; });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace zan::runtime
