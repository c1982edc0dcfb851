// The text rules of the OS services that need no process or network: the
// command line, os-release names, architecture words and command splitting.
#include <gtest/gtest.h>

#include "platform/http.h"
#include "platform/process.h"
#include "platform/system_info.h"

namespace zan::platform {
namespace {

TEST(CommandLine, QuotesEmptyAndBlankArguments) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"zan"}, "zan"},
        {{"/usr/bin/zan", "s.zan", "x"}, "/usr/bin/zan s.zan x"},
        {{"zan", ""}, "zan \"\""},
        {{"zan", "a b", "c\td", "e"}, "zan \"a b\" \"c\td\" e"},
        {{"my zan", "--catch"}, "\"my zan\" --catch"},
        {{}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(system_info::command_line(c.args), c.line);
}

TEST(OsRelease, PrettyNameQuotesAndEscapes) {
    struct Case {
        const char* text;
        const char* name;
    } cases[] = {
        {"NAME=\"X\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n", "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='Single quoted'\n", "Single quoted"},
        {"PRETTY_NAME=Bare\n", "Bare"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ now\"\n", "Say \"hi\" \\ now"},
        {"NAME=Only\n", ""},
        {"XPRETTY_NAME=\"no\"\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(system_info::pretty_name(c.text), c.name) << c.text;
}

TEST(OsInfo, ArchitectureWords) {
    struct Case {
        const char* machine;
        const char* word;
    } cases[] = {
        {"x86_64", "x86-64"}, {"aarch64", "ARM64"}, {"i686", "x86-32"}, {"armv7l", "ARM"},
        {"ia64", "IA-64"},    {"riscv64", "Unknown"}, {"", "Unknown"},
    };
    for (const Case& c : cases) EXPECT_EQ(system_info::arch_word(c.machine), c.word);
}

TEST(Processes, ShellCharactersAndSplitting) {
    for (const char* plain : {"ls -l", "printf %s-", "a=b c", "x.y/z", "  spaced\targs  "})
        EXPECT_FALSE(process::needs_shell(plain)) << plain;
    for (const char* shell : {"a|b", "a&", "a;b", "a<b", "a>b", "(a)", "{a}", "[a]", "$a", "a\\b",
                              "\"a\"", "'a'", "a*", "a?", "~", "#x", "`a`", "a\nb"})
        EXPECT_TRUE(process::needs_shell(shell)) << shell;
    using V = std::vector<std::string>;
    EXPECT_EQ(process::split_words("  spaced\targs  x"), (V{"spaced", "args", "x"}));
    EXPECT_EQ(process::split_words("one"), (V{"one"}));
    EXPECT_EQ(process::split_words(" \t "), V{});
}

TEST(HttpHeaders, NamesValuesAndSkippedLines) {
    using L = http::HeaderList;
    struct Case {
        const char* text;
        L pairs;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", L{{"Content-Type", "text/html"}}},
        {"X:v\r\n", L{{"X", "v"}}},
        {"X-Pad: \t padded \t \r\n", L{{"X-Pad", "padded"}}},
        {"X-Empty:\r\nX-Blank:   \r\n", L{{"X-Empty", ""}, {"X-Blank", ""}}},
        {"Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n", L{{"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}}},
        {"Time: 12:30:00\n", L{{"Time", "12:30:00"}}},
        {"no colon here\r\n: no name\r\nLast: end", L{{"Last", "end"}}},
        {"HTTP/1.1 200 OK: with a colon\r\n", L{}},
        {"MiXeD-CaSe: Kept\r\n", L{{"MiXeD-CaSe", "Kept"}}},
        {"", L{}},
    };
    for (const Case& c : cases) EXPECT_EQ(http::parse_headers(c.text), c.pairs) << c.text;
}

}  // namespace
}  // namespace zan::platform
