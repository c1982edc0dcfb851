// Platform start and the operating-system wrappers.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "capture.h"
#include "runtime/platform.h"
#include "runtime/unwind.h"

namespace zan::platform {
namespace {

// Sets TZ for the life of the object.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

TEST(Platform, ZoneBits) {
    struct Case {
        int32_t minutes;
        uint32_t bits;
    } cases[] = {
        {0, 0},
        {60, 1 << 2},
        {330, 5 << 2 | 2},                  // India
        {345, 5 << 2 | 3},                  // Nepal
        {840, 14 << 2},                     // Line Islands
        {-60, (1 | 0x10) << 2},
        {-210, (3 | 0x10) << 2 | 2},        // Newfoundland
        {-600, (10 | 0x10) << 2},
        {-720, (12 | 0x10) << 2},
        {-30, 0x10 << 2 | 2},               // under an hour west keeps its sign
        {-45, 0x10 << 2 | 3},
        {50, 3},                            // quarters are rounded down
    };
    for (const auto& c : cases) EXPECT_EQ(zone_bits(c.minutes), c.bits) << c.minutes;
}

uint32_t expected_date(const tm& t, uint32_t zone) {
    return uint32_t(t.tm_year + 1900) << 17 | uint32_t(t.tm_mon + 1) << 12 |
           uint32_t(t.tm_mday) << 7 | zone;
}

TEST(Platform, DateInZones) {
    struct Case {
        const char* tz;
        bool utc;
        uint32_t zone;
    } cases[] = {
        {"Asia/Kolkata", false, 22},
        {"Asia/Kolkata", true, 0},
        {"UTC", false, 0},
        {"Asia/Kathmandu", false, 23},
        {"America/St_Johns", true, 0},
    };
    for (const auto& c : cases) {
        TimeZone zone(c.tz);
        time_t now = time(nullptr);
        tm parts{};
        if (c.utc)
            gmtime_r(&now, &parts);
        else
            localtime_r(&now, &parts);
        uint32_t date = get_date(c.utc);
        if (date != expected_date(parts, c.zone)) {  // the day may just have turned
            now = time(nullptr);
            c.utc ? gmtime_r(&now, &parts) : localtime_r(&now, &parts);
        }
        EXPECT_EQ(date, expected_date(parts, c.zone)) << c.tz;
    }
}

TEST(Platform, DateWestOfUtcCarriesTheSign) {
    struct Case {
        const char* tz;  // POSIX form: a positive offset lies west of UTC
        uint32_t zone;
    } cases[] = {{"XYZ3:30", (3 | 0x10) << 2 | 2}, {"XYZ0:30", 0x10 << 2 | 2}, {"XYZ-0:45", 3}};
    for (const auto& c : cases) {
        TimeZone zone(c.tz);
        EXPECT_EQ(get_date(false) & 0x7F, c.zone) << c.tz;
    }
}

TEST(Platform, TimeIsSecondsSinceMidnightUtc) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    double whole = get_time(false);
    double precise = get_time(true);
    EXPECT_EQ(whole, std::floor(whole));
    EXPECT_GE(whole, 0.0);
    EXPECT_LT(precise, 86400.0);
    double expected = double(now.tv_sec % 86400);
    if (whole >= expected) {  // unless midnight passed in between
        EXPECT_LE(whole - expected, 1.0);
    }
    EXPECT_GE(precise, whole);
    EXPECT_LT(precise - whole, 1.0);
}

TEST(Platform, SleepMillis) {
    struct Case {
        double seconds;
        uint64_t millis;
    } cases[] = {{0.0004, 1}, {0.0, 1}, {-3.0, 1}, {NAN, 1},       {0.0015, 1},
                 {0.002, 2},  {1.5, 1500}, {86400, 86400000}, {1e300, 1000000000000000}};
    for (const auto& c : cases) EXPECT_EQ(sleep_millis(c.seconds), c.millis) << c.seconds;
}

using Clock = std::chrono::steady_clock;

TEST(Platform, SleepWaitsAtLeastAMillisecond) {
    auto before = Clock::now();
    sleep(0.0004);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(1));
}

void on_alarm(int) {}

TEST(Platform, SleepResumesAfterASignal) {
    struct sigaction action {}, old {};
    action.sa_handler = on_alarm;  // no SA_RESTART: the sleep is interrupted
    sigaction(SIGALRM, &action, &old);
    itimerval timer{};
    timer.it_value.tv_usec = 10000;
    setitimer(ITIMER_REAL, &timer, nullptr);
    auto before = Clock::now();
    sleep(0.06);
    auto slept = Clock::now() - before;
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_GE(slept, std::chrono::milliseconds(60));
}

TEST(Platform, Environment) {
    const std::string name = "ZAN_TEST_VARIABLE";
    EXPECT_TRUE(set_env(name, "caf\xC3\xA9 = \xE2\x82\xAC"));
    EXPECT_EQ(get_env(name), "caf\xC3\xA9 = \xE2\x82\xAC");
    EXPECT_TRUE(set_env(name, ""));
    EXPECT_EQ(get_env(name), "");
    EXPECT_TRUE(unset_env(name));
    EXPECT_EQ(get_env(name), std::nullopt);
    EXPECT_TRUE(unset_env(name));  // unsetting a missing variable is no failure

    const std::string bad_names[] = {"", "A=B", std::string("A\0B", 3)};
    for (const auto& bad : bad_names) {
        EXPECT_FALSE(set_env(bad, "x")) << bad;
        EXPECT_FALSE(unset_env(bad)) << bad;
        EXPECT_EQ(get_env(bad), std::nullopt) << bad;
    }
    EXPECT_FALSE(set_env(name, std::string("a\0b", 3)));
    EXPECT_EQ(get_env(name), std::nullopt);
}

TEST(Platform, CurrentDirectory) {
    auto start = get_current_dir();
    ASSERT_TRUE(start.has_value());
    EXPECT_TRUE(set_current_dir("/"));
    EXPECT_EQ(get_current_dir(), "/");
    EXPECT_FALSE(set_current_dir("/no/such/directory/here"));
    EXPECT_EQ(get_current_dir(), "/");
    EXPECT_FALSE(set_current_dir(std::string("/tmp\0x", 6)));
    EXPECT_TRUE(set_current_dir(*start));
    EXPECT_EQ(get_current_dir(), start);
}

TEST(Platform, NormalizeAngle) {
    constexpr double pi = std::numbers::pi;
    struct Case {
        double degrees;
        int mode;
        double radians;
    } cases[] = {
        {450, 1, pi / 2},   {135, 2, pi / 4},   {-135, 2, -pi / 4}, {135, 0, -pi / 4},
        {-135, 0, pi / 4},  {135, 1, 3 * pi / 4}, {190, 1, -170 * pi / 180},
        {720, 2, 0},        {-450, 2, -pi / 2}, {90, 0, pi / 2},    {180, 2, 0},
        {-180, 0, 0},       {30, 0, pi / 6},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(normalize_angle(c.degrees, c.mode), c.radians, 1e-12)
            << c.degrees << " mode " << c.mode;
    // The function keeps its value on the normalised angle.
    for (double d = -1000; d <= 1000; d += 7.5) {
        double r = d * pi / 180;
        EXPECT_NEAR(std::sin(normalize_angle(d, 2)), std::sin(r), 1e-9) << d;
        EXPECT_NEAR(std::cos(normalize_angle(d, 1)), std::cos(r), 1e-9) << d;
        if (std::fabs(std::cos(r)) > 1e-6) {
            EXPECT_NEAR(std::tan(normalize_angle(d, 0)), std::tan(r), 1e-6) << d;
        }
        EXPECT_LE(std::fabs(normalize_angle(d, 2)), pi / 2 + 1e-12) << d;
    }
}

TEST(Platform, BuildDate) {
    struct Case {
        const char* iso;
        const char* text;
    } cases[] = {
        {"2026-12-09", "9-Dec-2026"},
        {"2026-01-31", "31-Jan-2026"},
        {"2025-06-05T07:08:09", "5-Jun-2025/7:08:09"},
        {"2025-06-05 23:59:00Z", "5-Jun-2025/23:59:00"},
        {"2026-13-01", "2026-13-01"},  // not a date: shown as it came
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(format_build_date(c.iso), c.text) << c.iso;
    EXPECT_EQ(build_date(), format_build_date(ZAN_BUILD_DATE));
    EXPECT_NE(std::string(build_date()).find('-'), std::string::npos);
}

TEST(Platform, CharLiterals) {
    struct Case {
        uint8_t c;
        const char* text;
    } cases[] = {
        {0, "#\"^@\""},   {9, "#\"^-\""},   {10, "#\"^/\""},  {27, "#\"^]\""},
        {1, "#\"^A\""},   {13, "#\"^M\""},  {31, "#\"^_\""},  {'a', "#\"a\""},
        {'"', "#\"\"\""}, {127, "#\"\x7F\""}, {128, "#\"^(80)\""}, {0xE9, "#\"^(E9)\""},
        {255, "#\"^(FF)\""},
    };
    for (const auto& c : cases) {
        test::StdoutCapture capture;
        print_char_literal(c.c);
        EXPECT_EQ(capture.text(), c.text) << int(c.c);
    }
}

TEST(Platform, TypedPrints) {
    struct Case {
        const char* name;
        void (*print)();
        const char* text;
    } cases[] = {
        {"separated",
         [] {
             print_typed({Typed::of_integer(-1), Typed::of_text("a"), Typed::of_logic(true),
                          Typed::of_logic(false), Typed::of_float(0.5), Typed::of_char('x'),
                          Typed::of_float32(2.5f), Typed::of_bits(9, 0xABC)},
                         true);
         },
         "-1 a true false 0.5 x 2.5 00000ABC"},
        {"no blank after blanks",
         [] {
             print_typed({Typed::of_text("a "), Typed::of_text("b\n"), Typed::of_text("c\t"),
                          Typed::of_char(' '), Typed::of_text("d\r"), Typed::of_integer(1)},
                         true);
         },
         "a b\nc\t d\r1"},
        {"no blank after the last", [] { print_typed({Typed::of_integer(7)}, true); }, "7"},
        {"print", [] { print({Typed::of_integer(1), Typed::of_text("x")}); }, "1x"},
        {"print line", [] { print_line({Typed::of_text("a"), Typed::of_char(0xE9)}); },
         "a\xC3\xA9\n"},
        {"c string", [] { print_c_string("abcdef", 3); }, "abc"},
        {"c string stops at nul", [] { print_c_string("ab\0cd", 5); }, "ab"},
    };
    for (const auto& c : cases) {
        test::StdoutCapture capture;
        c.print();
        EXPECT_EQ(capture.text(), c.text) << c.name;
    }
    EXPECT_TRUE(c_string_equal("abc", "abc"));
    EXPECT_FALSE(c_string_equal("abc", "abd"));
    EXPECT_FALSE(c_string_equal("ab", "abc"));
}

// --- start ------------------------------------------------------------------------

size_t stack_size_here() {
    pthread_attr_t attr;
    size_t size = 0;
    void* low = nullptr;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    return size;
}

[[gnu::noinline]] int deep(int depth) {
    volatile char pad[1024];
    pad[0] = char(depth);
    if (depth == 0) return pad[0];
    return deep(depth - 1) + pad[0];
}

TEST(PlatformStart, RunsEntryOnABigStackWithTheArguments) {
    auto r = test::run_child([] {
        char a0[] = "zan", a1[] = "script.zan", a2[] = "caf\xC3\xA9";
        char* args[] = {a0, a1, a2, nullptr};
        int status = start(3, args, [](int count, char** values) {
            if (count != 3 || values[3] != nullptr) return 10;
            if (std::string(values[2]) != "caf\xC3\xA9" || argc() != 3) return 11;
            if (stack_size_here() < runtime_stack_size) return 12;
            deep(100000);  // about 100 MiB of native stack
            zan::output::print_latin1("ran", 3);
            return 42;
        });
        _exit(status);
    });
    EXPECT_EQ(r.status, 42);
    EXPECT_EQ(r.out, "ran");
    EXPECT_EQ(r.err, "");
}

TEST(PlatformStart, ThrowsThatNothingStopsEndTheProcess) {
    struct Case {
        int (*entry)(int, char**);
        int status;
        const char* err;
    } cases[] = {
        {[](int, char**) -> int { unwind::raise(unwind::quiet_end); return 3; }, 0, ""},
        {[](int, char**) -> int { unwind::raise(unwind::break_); return 3; }, 95,
         "*** Runtime Error 95: no CATCH for THROW\n"},
    };
    for (const auto& c : cases) {
        auto r = test::run_child([&] {
            char a0[] = "zan";
            char* args[] = {a0, nullptr};
            _exit(start(1, args, c.entry) + 100);
        });
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.substr(0, std::strlen(c.err)), c.err);
    }
}

TEST(PlatformStart, FaultOnTheRuntimeThreadReports) {
    auto r = test::run_child([] {
        char a0[] = "zan";
        char* args[] = {a0, nullptr};
        _exit(start(1, args, [](int, char**) { return deep(1 << 30); }));
    });
    EXPECT_EQ(r.status, 19);
    EXPECT_EQ(r.err.substr(0, 45), "*** Runtime Error 19: stack error or overflow");
}

}  // namespace
}  // namespace zan::platform
