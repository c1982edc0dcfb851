// Standard output: the bytes that reach fd 1, buffering, and the print hooks.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>

#include <cstring>
#include <vector>

#include "capture.h"
#include "runtime/output.h"

namespace zan::output {
namespace {

struct UnitCase {
    const char* name;
    std::vector<uint32_t> units;
    uint32_t unit;
    bool newline;
    std::string bytes;
};

std::vector<uint8_t> pack(const std::vector<uint32_t>& units, uint32_t unit) {
    std::vector<uint8_t> out;
    for (uint32_t u : units)
        for (uint32_t i = 0; i < unit; ++i) out.push_back(uint8_t(u >> (8 * i)));
    return out;
}

TEST(Output, UnitsAreWrittenAsUtf8) {
    const UnitCase cases[] = {
        {"ascii", {'a', 'b'}, 1, false, "ab"},
        {"latin1 high half", {'c', 'a', 'f', 0xE9, 0xFF}, 1, false, "caf\xC3\xA9\xC3\xBF"},
        {"latin1 line", {'x'}, 1, true, "x\n"},
        {"nul passes", {'a', 0, 'b'}, 1, false, std::string("a\0b", 3)},
        {"ucs2 two and three bytes", {0xE9, 0x20AC}, 2, false, "\xC3\xA9\xE2\x82\xAC"},
        {"ucs2 line", {0x7FF, 0x800}, 2, true, "\xDF\xBF\xE0\xA0\x80\n"},
        {"ucs2 lone surrogate", {0xD800, 'z', 0xDFFF}, 2, false, "\xEF\xBF\xBDz\xEF\xBF\xBD"},
        {"ucs4 astral", {0x1F600, 0xFFFF}, 4, false, "\xF0\x9F\x98\x80\xEF\xBF\xBF"},
        {"ucs4 last code point", {0x10FFFF}, 4, true, "\xF4\x8F\xBF\xBF\n"},
        {"ucs4 beyond unicode", {0x110000, 0xFFFFFFFF}, 4, false, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"escape passes unchanged", {0x1B, '[', '3', '1', 'm', 'r', 0x1B, 'x'}, 2, false,
         "\x1B[31mr\x1Bx"},
        {"empty line", {}, 4, true, "\n"},
        {"empty", {}, 2, false, ""},
    };
    for (const auto& c : cases) {
        auto bytes = pack(c.units, c.unit);
        test::StdoutCapture capture;
        print_units(bytes.data(), uint32_t(bytes.size()), c.unit, c.newline);
        EXPECT_EQ(capture.text(), c.bytes) << c.name;
    }
}

TEST(Output, NamedPrintsPickUnitAndLineEnd) {
    const char16_t ucs2[] = u"\u00e9t\u00e9";
    const char32_t ucs4[] = U"\U0001F600";
    test::StdoutCapture capture;
    print_latin1("ab", 2);
    print_latin1_line("cd", 2);
    print_ucs2(ucs2, 6);
    print_ucs2_line(ucs2, 2);
    print_ucs4(ucs4, 4);
    print_ucs4_line(ucs4, 4);
    EXPECT_EQ(capture.text(),
              "abcd\n\xC3\xA9t\xC3\xA9\xC3\xA9\n\xF0\x9F\x98\x80\xF0\x9F\x98\x80\n");
}

TEST(Output, ByteLengthIsTruncatedToWholeUnits) {
    const char32_t text[] = U"ab";
    test::StdoutCapture capture;
    print_ucs4(text, 7);  // one whole unit and three stray bytes
    EXPECT_EQ(capture.text(), "a");
}

TEST(Output, BufferIsWrittenOutWhenFullAndKeepsEveryByte) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += char('a' + i % 26);
    std::vector<char16_t> wide(text.begin(), text.end());
    wide[1500] = 0x20AC;  // a three-byte character across the buffer's edges
    test::StdoutCapture capture;
    print_ucs2(wide.data(), uint32_t(wide.size() * 2));
    std::string early = capture.arrived();
    EXPECT_GE(early.size(), 2000u);  // full buffers went out unasked
    std::string all = early + capture.text();
    std::string expected = text.substr(0, 1500) + "\xE2\x82\xAC" + text.substr(1501);
    EXPECT_EQ(all, expected);
}

TEST(Output, RedirectedOutputWaitsForFlush) {
    test::StdoutCapture capture;
    print_latin1_line("line", 4);
    EXPECT_EQ(capture.arrived(), "");
    EXPECT_EQ(capture.text(), "line\n");
}

TEST(Output, TerminalOutputGoesOutAtEachLineFeed) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, O_NONBLOCK);
    flush();
    int saved = dup(1);
    dup2(slave, 1);
    init();
    print_latin1("no end", 6);
    std::string before = test::drain(master);
    print_latin1("a\nb", 3);
    usleep(20000);
    std::string after_feed = test::drain(master);
    print_latin1(" c", 2);
    print_latin1_line("", 0);
    usleep(20000);
    std::string after_line = test::drain(master);
    dup2(saved, 1);
    close(saved);
    init();
    close(slave);
    close(master);
    EXPECT_EQ(before, "");
    EXPECT_EQ(after_feed, "no enda\nb");
    EXPECT_EQ(after_line, " c\n");
}

// --- debug prints -----------------------------------------------------------------

std::vector<std::pair<std::string, uint32_t>> text_seen;
void record_text(const void* text, uint32_t length, uint32_t unit) {
    text_seen.emplace_back(std::string(static_cast<const char*>(text), length * unit), unit);
}

TEST(Output, DebugPrintsFormatAndFireListTwo) {
    struct Case {
        const char* name;
        void (*print)();
        const char* printed;  // UTF-8 on fd 1
        const char* hooked;   // the bytes list 2 sees, 1-byte units
    } cases[] = {
        {"ascii", [] { print_ascii("hello \xE9"); }, "hello \xC3\xA9", "hello \xE9"},
        {"integer", [] { print_integer(-2147483647 - 1); }, "-2147483648", "-2147483648"},
        {"hex2", [] { print_hex2(10); }, "0A", "0A"},
        {"hex2 wide", [] { print_hex2(0x1FF); }, "1FF", "1FF"},
        {"hex8", [] { print_hex8(0xBEEF); }, "0000BEEF", "0000BEEF"},
        {"float", [] { print_float(0.1); }, "0.1", "0.1"},
        {"float third", [] { print_float(1.0 / 3); }, "0.3333333333333333", "0.3333333333333333"},
        {"float big", [] { print_float(1e300); }, "1e+300", "1e+300"},
        {"float32", [] { print_float32(0.1f); }, "0.1", "0.1"},
        {"float32 third", [] { print_float32(1.0f / 3); }, "0.3333333", "0.3333333"},
    };
    init_hooks();
    add_hooks(nullptr, record_text);
    for (const auto& c : cases) {
        text_seen.clear();
        test::StdoutCapture capture;
        c.print();
        EXPECT_EQ(capture.text(), c.printed) << c.name;
        ASSERT_EQ(text_seen.size(), 1u) << c.name;
        EXPECT_EQ(text_seen[0].first, c.hooked) << c.name;
        EXPECT_EQ(text_seen[0].second, 1u) << c.name;
    }
    init_hooks();
}

// --- hooks ------------------------------------------------------------------------

std::vector<std::string> calls;
void value_a(const Cell&, bool newline) { calls.push_back(newline ? "a/" : "a"); }
void value_b(const Cell&, bool newline) { calls.push_back(newline ? "b/" : "b"); }
void text_a(const void*, uint32_t length, uint32_t unit) {
    calls.push_back("ta" + std::to_string(length) + ":" + std::to_string(unit));
}
void text_b(const void*, uint32_t, uint32_t) { calls.push_back("tb"); }

class Hooks : public testing::Test {
protected:
    void SetUp() override {
        init_hooks();
        calls.clear();
    }
    void TearDown() override { init_hooks(); }
};

TEST_F(Hooks, FireInOrderOfRegistration) {
    add_hooks(value_b, text_a);
    add_hooks(value_a, nullptr);
    add_hooks(nullptr, text_b);
    Cell value{};
    fire_value_hooks(value, true);
    fire_value_hooks(value, false);
    fire_text_hooks("xyz", 3, 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"b/", "a/", "b", "a", "ta3:1", "tb"}));
}

TEST_F(Hooks, RemoveTakesTheFirstOccurrenceOnly) {
    add_hooks(value_a, text_a);
    add_hooks(value_b, text_b);
    add_hooks(value_a, text_a);
    remove_hooks(value_a, nullptr);
    EXPECT_EQ(hook_count(1), 2u);
    EXPECT_EQ(hook_count(2), 3u);
    remove_hooks(value_a, text_b);
    remove_hooks(value_a, text_b);  // neither is left: nothing happens
    Cell value{};
    fire_value_hooks(value, false);
    fire_text_hooks("", 0, 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"b", "ta0:2", "ta0:2"}));
}

void remove_b(const Cell&, bool) {
    calls.push_back("rb");
    remove_hooks(value_b, nullptr);
}
void remove_self(const Cell&, bool) {
    calls.push_back("rs");
    remove_hooks(remove_self, nullptr);
}
void add_many(const Cell&, bool) {
    calls.push_back("add");
    for (int i = 0; i < 6; ++i) add_hooks(value_b, nullptr);  // moves the list
}

TEST_F(Hooks, ChangesWhileFiringSkipNothingAndCallNothingRemoved) {
    add_hooks(remove_self, nullptr);
    add_hooks(value_a, nullptr);
    add_hooks(remove_b, nullptr);
    add_hooks(value_b, nullptr);
    add_hooks(value_a, nullptr);
    Cell value{};
    fire_value_hooks(value, false);
    EXPECT_EQ(calls, (std::vector<std::string>{"rs", "a", "rb", "a"}));
    EXPECT_EQ(hook_count(1), 3u);
    calls.clear();
    fire_value_hooks(value, false);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "rb", "a"}));

    init_hooks();
    calls.clear();
    add_hooks(add_many, nullptr);
    add_hooks(value_a, nullptr);
    fire_value_hooks(value, false);
    EXPECT_EQ(calls, (std::vector<std::string>{"add", "a", "b", "b", "b", "b", "b", "b"}));
    EXPECT_EQ(hook_count(1), 8u);
}

TEST_F(Hooks, ListsGrowByDoubling) {
    EXPECT_EQ(hook_capacity(1), 5u);
    EXPECT_EQ(hook_capacity(2), 5u);
    for (int i = 0; i < 5; ++i) add_hooks(value_a, nullptr);
    EXPECT_EQ(hook_capacity(1), 5u);
    add_hooks(value_a, nullptr);
    add_hooks(value_b, nullptr);  // the seventh
    EXPECT_EQ(hook_capacity(1), 10u);
    EXPECT_EQ(hook_capacity(2), 5u);
    for (int i = 0; i < 4; ++i) add_hooks(value_a, nullptr);
    EXPECT_EQ(hook_capacity(1), 20u);
    EXPECT_EQ(hook_count(1), 11u);
    Cell value{};
    fire_value_hooks(value, false);
    ASSERT_EQ(calls.size(), 11u);
    EXPECT_EQ(calls[6], "b");
}

}  // namespace
}  // namespace zan::output
