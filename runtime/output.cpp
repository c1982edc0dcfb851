// Standard output through one buffer, and the two print-hook lists.
//
// Every code unit is encoded to UTF-8 into a 1,024-byte buffer, written out when
// fewer than 4 bytes are left (one code point always fits). While the buffer is
// being changed a flag is up, so that the fault handler writes out only a
// buffer in a consistent state. A failed write does not stop the program, but
// it is remembered: a run whose output was lost must not end as a success.
#include "runtime/output.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "runtime/fatal.h"
#include "runtime/unicode.h"

namespace zan::output {

namespace {

constexpr uint32_t buffer_size = 1024;
char buffer[buffer_size];
uint32_t used = 0;
bool terminal = false;
volatile sig_atomic_t busy = 0;

// The fences keep the buffer's changes between the two flag stores, as a signal
// handler on this thread sees them.
void enter() {
    busy = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}
void leave() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    busy = 0;
}

int first_write_error = 0;

void write_out() {
    int e = runtime::write_all(1, buffer, used);
    if (e && !first_write_error) first_write_error = e;
    used = 0;
}

// Lone surrogates and values beyond Unicode are not characters; they go out as
// the replacement character rather than as bytes no decoder accepts.
std::u32string open_text;

void put(uint32_t c) {
    if (terminal) {
        if (c == '\n') open_text.clear();
        else if (open_text.size() < 1024) open_text.push_back(char32_t(c));
    }
    if (used > buffer_size - 4) write_out();
    char* p = buffer + used;
    if (c < 0x80) {
        p[0] = char(c);
        used += 1;
        return;
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    used += unicode::cp_to_utf8(c, reinterpret_cast<uint8_t*>(p));
}

template <typename Unit>
bool put_all(const void* text, uint32_t count) {
    bool line_feed = false;
    for (uint32_t i = 0; i < count; ++i) {
        Unit u;
        std::memcpy(&u, static_cast<const char*>(text) + i * sizeof(Unit), sizeof(Unit));
        uint32_t c = uint32_t(u);
        line_feed |= c == '\n';
        put(c);
    }
    return line_feed;
}

bool exit_flush_registered = false;

// While a list is being fired, a removed hook only leaves a hole, so that the
// hooks after it keep their places and none is skipped or called once removed;
// the holes close when the outermost firing ends.
template <typename Hook>
struct HookList {
    std::unique_ptr<Hook[]> items;
    uint32_t count = 0;  // used slots, holes included
    uint32_t capacity = 0;
    uint32_t firing = 0;
    bool holes = false;

    HookList() { reset(); }
    void reset() {
        items = std::make_unique<Hook[]>(5);
        count = 0;
        capacity = 5;
        holes = false;
    }
    void add(Hook h) {
        if (count == capacity) {
            uint32_t room = capacity ? capacity * 2 : 5;
            auto grown = std::make_unique<Hook[]>(room);
            for (uint32_t i = 0; i < count; ++i) grown[i] = items[i];
            items = std::move(grown);
            capacity = room;
        }
        items[count++] = h;
    }
    void remove(Hook h) {
        for (uint32_t i = 0; i < count; ++i) {
            if (items[i] != h) continue;
            items[i] = nullptr;
            holes = true;
            break;
        }
        if (firing == 0) close_holes();
    }
    void close_holes() {
        if (!holes) return;
        uint32_t kept = 0;
        for (uint32_t i = 0; i < count; ++i)
            if (items[i]) items[kept++] = items[i];
        count = kept;
        holes = false;
    }
    uint32_t live() const {
        uint32_t n = 0;
        for (uint32_t i = 0; i < count; ++i) n += items[i] != nullptr;
        return n;
    }
    template <typename... Args>
    void fire(Args... args) {
        struct Firing {
            HookList& list;
            explicit Firing(HookList& l) : list(l) { ++list.firing; }
            ~Firing() {
                if (--list.firing == 0) list.close_holes();
            }
        } firing_now(*this);
        // Slots are re-read each step: a hook may add hooks and so move the array.
        for (uint32_t i = 0; i < count; ++i)
            if (Hook h = items[i]) h(args...);
    }
};

HookList<ValueHook> value_hooks;
HookList<TextHook> text_hooks;

// A debug print: the text goes out as Latin-1 and to hook list 2.
void print_debug(const char* text, uint32_t length) {
    print_units(text, length, 1, false);
    fire_text_hooks(text, length, 1);
}

template <typename... Args>
void print_formatted(const char* format, Args... args) {
    char scratch[64];
    int n = std::snprintf(scratch, sizeof scratch, format, args...);
    if (n < 0) return;
    print_debug(scratch, uint32_t(n) < sizeof scratch ? uint32_t(n) : sizeof scratch - 1);
}

}  // namespace

void init() {
    terminal = isatty(1) == 1;
    if (!exit_flush_registered) {
        exit_flush_registered = true;
        std::atexit(flush);
    }
}

void flush() {
    enter();
    write_out();
    leave();
}

std::u32string open_line() { return open_text; }
void end_line() { open_text.clear(); }

int write_error() { return first_write_error; }

void flush_after_fault() noexcept {
    if (busy || used > buffer_size) return;
    runtime::write_all(1, buffer, used);
    used = 0;
}

void print_units(const void* text, uint32_t bytes, uint32_t unit, bool newline) {
    enter();
    bool line_feed = false;
    switch (unit) {
        case 1: line_feed = put_all<uint8_t>(text, bytes); break;
        case 2: line_feed = put_all<uint16_t>(text, bytes / 2); break;
        case 4: line_feed = put_all<uint32_t>(text, bytes / 4); break;
        default: break;
    }
    if (newline) {
        put('\n');
        line_feed = true;
    }
    if (terminal && line_feed) write_out();
    leave();
}

void print_utf8(std::string_view text) {
    std::u32string chars;
    chars.reserve(text.size());
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        if (unicode::utf8_char_size(*p) > uint32_t(end - p)) {
            chars.push_back(0xFFFD);  // a sequence cut short by the end
            break;
        }
        int32_t cp = 0;
        const uint8_t* next = unicode::fast_decode_utf8_char(p, cp);
        chars.push_back(cp < 0 ? char32_t(0xFFFD) : char32_t(cp));
        p = next > p ? next : p + 1;
    }
    print_units(chars.data(), uint32_t(chars.size() * 4), 4, false);
}

void print_latin1(const void* text, uint32_t bytes) { print_units(text, bytes, 1, false); }
void print_latin1_line(const void* text, uint32_t bytes) { print_units(text, bytes, 1, true); }
void print_ucs2(const void* text, uint32_t bytes) { print_units(text, bytes, 2, false); }
void print_ucs2_line(const void* text, uint32_t bytes) { print_units(text, bytes, 2, true); }
void print_ucs4(const void* text, uint32_t bytes) { print_units(text, bytes, 4, false); }
void print_ucs4_line(const void* text, uint32_t bytes) { print_units(text, bytes, 4, true); }

void print_ascii(const char* text) { print_debug(text, uint32_t(std::strlen(text))); }
void print_integer(int32_t value) { print_formatted("%i", value); }
void print_hex2(uint32_t value) { print_formatted("%02X", value); }
void print_hex8(uint32_t value) { print_formatted("%08X", value); }
void print_float(double value) { print_formatted("%.16g", value); }
void print_float32(float value) { print_formatted("%.7g", double(value)); }

void init_hooks() {
    value_hooks.reset();
    text_hooks.reset();
}

void add_hooks(ValueHook value_hook, TextHook text_hook) {
    if (value_hook) value_hooks.add(value_hook);
    if (text_hook) text_hooks.add(text_hook);
}

void remove_hooks(ValueHook value_hook, TextHook text_hook) {
    if (value_hook) value_hooks.remove(value_hook);
    if (text_hook) text_hooks.remove(text_hook);
}

void fire_value_hooks(const Cell& value, bool newline) {
    value_hooks.fire<const Cell&, bool>(value, newline);
}

void fire_text_hooks(const void* text, uint32_t length, uint32_t unit) {
    text_hooks.fire(text, length, unit);
}

uint32_t hook_count(int list) { return list == 1 ? value_hooks.live() : text_hooks.live(); }
uint32_t hook_capacity(int list) { return list == 1 ? value_hooks.capacity : text_hooks.capacity; }

}  // namespace zan::output
