// Process start and the small operating-system wrappers of the natives.
//
// The runtime runs on a thread of its own with a 256 MiB stack; the main thread
// only waits for it. Both threads carry an alternate signal stack so that a fault
// reports even when it is the stack that ran out.
#include "runtime/platform.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

#include "runtime/fatal.h"
#include "runtime/output.h"

#ifndef ZAN_BUILD_DATE
#define ZAN_BUILD_DATE "1970-01-01"
#endif

namespace zan::platform {

namespace {

std::vector<std::string> arguments;
std::vector<char*> argument_vector{nullptr};

void keep_arguments(int count, char** values) {
    arguments.assign(values, values + count);
    argument_vector.clear();
    for (auto& a : arguments) argument_vector.push_back(a.data());
    argument_vector.push_back(nullptr);
}

struct ThreadCall {
    int (*routine)(void*);
    void* context;
    int result;
};

void* thread_main(void* p) {
    auto* call = static_cast<ThreadCall*>(p);
    runtime::FaultStack fault_stack;
    call->result = call->routine(call->context);
    return nullptr;
}

struct StartCall {
    Entry entry;
    int status;
};

int run_entry(void* p) {
    auto* call = static_cast<StartCall*>(p);
    init();
    runtime::boot_catch([&] { call->status = call->entry(argc(), argv()); });
    output::flush();
    return call->status;
}

bool valid_env_name(const std::string& name) {
    return !name.empty() && name.find('=') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

constexpr const char* month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

int run_on_thread(size_t stack_size, int (*routine)(void*), void* context) {
    ThreadCall call{routine, context, 0};
    pthread_attr_t attr;
    pthread_t thread;
    bool started = pthread_attr_init(&attr) == 0;
    if (started) {
        started = pthread_attr_setstacksize(&attr, stack_size) == 0 &&
                  pthread_attr_setguardsize(&attr, 64 * 1024) == 0 &&
                  pthread_create(&thread, &attr, thread_main, &call) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!started) return routine(context);
    pthread_join(thread, nullptr);
    return call.result;
}

int start(int argc, char** argv, Entry entry) {
    runtime::install_fault_handlers();
    runtime::FaultStack fault_stack;
    keep_arguments(argc, argv);
    StartCall call{entry, 0};
    return run_on_thread(runtime_stack_size, run_entry, &call);
}

void init() { output::init(); }

int argc() { return int(arguments.size()); }
char** argv() { return argument_vector.data(); }

// --- time ---------------------------------------------------------------------

double get_time(bool precise) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    double seconds = double(now.tv_sec % 86400);
    // The clock is read in 100 ns steps, as the date-time values keep it.
    if (precise) seconds += double(now.tv_nsec / 100 * 100) / 1e9;
    return seconds;
}

uint32_t zone_bits(int32_t offset_minutes) {
    // The sign is taken from the whole offset, so that a zone less than an hour
    // west of UTC keeps it.
    uint32_t magnitude = uint32_t(offset_minutes < 0 ? -offset_minutes : offset_minutes);
    uint32_t hours = magnitude / 60;
    uint32_t quarters = (magnitude % 60) / 15;
    if (offset_minutes < 0) hours = (hours & 0xF) | 0x10;
    return (hours << 2 | quarters) & 0x7F;
}

uint32_t get_date(bool utc) {
    time_t now = time(nullptr);
    tm parts{};
    uint32_t zone = 0;
    if (utc) {
        gmtime_r(&now, &parts);
    } else {
        localtime_r(&now, &parts);
        zone = zone_bits(int32_t(parts.tm_gmtoff / 60));
    }
    uint32_t year = uint32_t(parts.tm_year + 1900);
    uint32_t month = uint32_t(parts.tm_mon + 1);
    return year << 17 | month << 12 | uint32_t(parts.tm_mday) << 7 | zone;
}

uint64_t sleep_millis(double seconds) {
    double millis = seconds * 1000.0;
    if (!(millis >= 1.0)) return 1;  // also NaN and negative times
    if (millis >= 1e15) return uint64_t(1e15);
    return uint64_t(millis);
}

void sleep(double seconds) {
    uint64_t millis = sleep_millis(seconds);
    timespec wait{time_t(millis / 1000), long(millis % 1000) * 1000000L};
    timespec left{};
    while (nanosleep(&wait, &left) != 0 && errno == EINTR) wait = left;
}

// --- environment and current directory ---------------------------------------

std::optional<std::string> get_env(const std::string& name) {
    if (!valid_env_name(name)) return std::nullopt;
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

bool set_env(const std::string& name, const std::string& value) {
    if (!valid_env_name(name) || value.find('\0') != std::string::npos) return false;
    return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool unset_env(const std::string& name) {
    if (!valid_env_name(name)) return false;
    return unsetenv(name.c_str()) == 0;
}

std::optional<std::string> get_current_dir() {
    std::string path(256, '\0');
    for (;;) {
        if (getcwd(path.data(), path.size())) {
            path.resize(std::strlen(path.c_str()));
            return path;
        }
        if (errno != ERANGE || path.size() > (1u << 20)) return std::nullopt;
        path.resize(path.size() * 2);
    }
}

bool set_current_dir(const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    return chdir(path.c_str()) == 0;
}

// --- helpers of the natives ---------------------------------------------------

double normalize_angle(double degrees, int mode) {
    double d = std::fmod(degrees, 360.0);
    if (d > 180.0 || d < -180.0) d += d >= 0.0 ? -360.0 : 360.0;
    if (d > 90.0 || d < -90.0) {
        if (mode == 0)
            d += d >= 0.0 ? -180.0 : 180.0;
        else if (mode == 2)
            d = d >= 0.0 ? 180.0 - d : -180.0 - d;
    }
    return d * std::numbers::pi / 180.0;
}

std::string format_build_date(const char* iso) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 0;
    int fields = std::sscanf(iso, "%4d-%2d-%2d%c%2d:%2d:%2d", &year, &month, &day, &separator,
                             &hour, &minute, &second);
    if (fields < 3 || month < 1 || month > 12 || day < 1 || day > 31) return iso;
    char text[48];
    int n = std::snprintf(text, sizeof text, "%d-%s-%d", day, month_names[month - 1], year);
    if (fields == 7)
        std::snprintf(text + n, sizeof text - size_t(n), "/%d:%02d:%02d", hour, minute, second);
    return text;
}

const char* build_date() {
    static const std::string text = format_build_date(ZAN_BUILD_DATE);
    return text.c_str();
}

// --- debug printing -----------------------------------------------------------

void print_char_literal(uint8_t c) {
    char text[12] = "#\"";
    size_t n = 2;
    auto add = [&](const char* s) {
        while (*s) text[n++] = *s++;
    };
    switch (c) {
        case 0: add("^@"); break;
        case 9: add("^-"); break;
        case 10: add("^/"); break;
        case 27: add("^]"); break;
        default:
            if (c < 32) {
                text[n++] = '^';
                text[n++] = char(64 + c);
            } else if (c <= 127) {
                text[n++] = char(c);
            } else {
                n += size_t(std::snprintf(text + n, sizeof text - n, "^(%02X)", c));
            }
    }
    text[n++] = '"';
    output::print_latin1(text, uint32_t(n));
}

void print_c_string(const char* text, size_t count) {
    output::print_latin1(text, uint32_t(strnlen(text, count)));
}

bool c_string_equal(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

void print_typed(std::initializer_list<Typed> values, bool separate) {
    size_t left = values.size();
    for (const Typed& v : values) {
        char last = 0;
        switch (v.tag) {
            case Typed::logic: {
                const char* s = v.bits ? "true" : "false";
                output::print_ascii(s);
                last = 'e';
                break;
            }
            case Typed::integer: output::print_integer(v.integer_value); break;
            case Typed::char_: {
                char32_t c = v.bits;
                output::print_ucs4(&c, 4);
                last = char(v.bits < 128 ? v.bits : 0);
                break;
            }
            case Typed::float32: output::print_float32(v.float32_value); break;
            case Typed::float64: output::print_float(v.float64_value); break;
            case Typed::text: {
                const char* s = v.text_value ? v.text_value : "";
                output::print_ascii(s);
                size_t n = std::strlen(s);
                last = n ? s[n - 1] : 0;
                break;
            }
            default: output::print_hex8(v.bits); break;
        }
        --left;
        bool blank_ends = last == ' ' || last == '\n' || last == '\r' || last == '\t';
        if (separate && left > 0 && !blank_ends) output::print_latin1(" ", 1);
    }
}

void print(std::initializer_list<Typed> values) { print_typed(values, false); }

void print_line(std::initializer_list<Typed> values) {
    print_typed(values, false);
    output::print_latin1("\n", 1);
}

}  // namespace zan::platform
