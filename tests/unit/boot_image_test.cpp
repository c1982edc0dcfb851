// The boot image against the boot from text it was made from: every global
// word's value, molded, must be the same after either start (the values that
// depend on the run aside), and series that the text boot shares must come
// back shared. Each start runs in a child process of its own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "boot/gen/text_boot.h"
#include "boot/init.h"
#include "codecs/zanbin.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/mold.h"
#include "datatypes/symbol.h"
#include "library/system.h"
#include "runtime/collector.h"

namespace zan {
namespace {

std::vector<bootgen::Script> boot_scripts() {
    std::vector<bootgen::Script> scripts;
    std::stringstream list(ZAN_BOOT_SCRIPT_LIST);
    std::string path;
    while (std::getline(list, path, '|')) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        scripts.push_back({path, text.str()});
    }
    return scripts;
}

// What differs from run to run, or is the runtime's own object.
bool run_dependent(const std::string& name) {
    return name == "system" || name == "null-handle";
}

// One line a global word: its name and its molded value; then the system
// object's fields that do not depend on the run; then which of a few values
// share their function.
std::string snapshot() {
    std::string out;
    Node g = context::global();
    for (uint32_t i = 0; i < context::length(g); ++i) {
        std::string name(symbol::name(word_symbol(context::word_at(g, int32_t(i)))));
        Cell* v = context::value_at(g, int32_t(i));
        if (!v || run_dependent(name)) continue;
        out += name + ": " + mold::mold_text(*v, {.all = true}) + "\n";
    }
    for (const char* field : {"version", "build", "platform", "state", "modules", "codecs", "schemes",
                              "locale", "lexer", "console", "view", "reactivity", "tools"}) {
        Cell* v = system_object::field({field});
        out += std::string("system/") + field + ": " + (v ? mold::mold_text(*v, {.all = true}) : "?") + "\n";
    }
    auto more = [&](const char* name) {
        Cell* v = context::get_by_symbol(symbol::make(name), g);
        return v && is(*v, Type::function) ? function::more_node(*v) : 0;
    };
    out += "shared: " + std::to_string(more("dt") == more("time-it")) + std::to_string(more("last?") == more("single?")) +
           "\n";
    return out;
}

// Each start needs a process that has run nothing else: a start-up keeps the
// global words and registries it finds, so a child forked from a test run
// would carry what earlier tests left. The child execs this binary afresh,
// running only this test, which sees the variables below, starts as asked,
// writes its snapshot to the pipe and exits.
constexpr const char* child_mode = "ZAN_BOOT_IMAGE_START";
constexpr const char* child_fd = "ZAN_BOOT_IMAGE_FD";

std::string in_fresh_process(const char* mode) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        setenv(child_mode, mode, 1);
        setenv(child_fd, std::to_string(fds[1]).c_str(), 1);
        int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
        execl("/proc/self/exe", "zan-unit", "--gtest_filter=BootImage.DecodesToWhatTheTextBootBuilt",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string got;
    char buffer[65536];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) got.append(buffer, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got;
}

// In the child: starts as the parent asked and writes the snapshot.
[[noreturn]] void run_child(const std::string& mode, int fd) {
    bool started = false;
    if (mode == "text") {
        started = bootgen::run(boot_scripts());
        if (started) bootgen::write_image();  // clears what depends on the run, as the image has it
    } else {
        boot::init();
        started = true;
    }
    std::string text = started ? snapshot() : "start failed";
    for (size_t at = 0; at < text.size();) {
        ssize_t n = write(fd, text.data() + at, text.size() - at);
        if (n <= 0) break;
        at += size_t(n);
    }
    _exit(0);
}

TEST(BootImage, DecodesToWhatTheTextBootBuilt) {
    if (const char* mode = std::getenv(child_mode)) run_child(mode, std::atoi(std::getenv(child_fd)));
    std::string text = in_fresh_process("text");
    std::string image = in_fresh_process("image");
    ASSERT_GT(text.size(), 10000u) << text.substr(0, 200);
    std::istringstream a(text), b(image);
    std::string la, lb;
    int line = 0;
    while (true) {
        bool ga = bool(std::getline(a, la)), gb = bool(std::getline(b, lb));
        ++line;
        if (!ga && !gb) break;
        ASSERT_EQ(la, lb) << "line " << line;
    }
    EXPECT_NE(text.find("shared: 11"), std::string::npos);
}

// The embedded image cut short (in its middle, or its last record) or with a
// bad magic: start-up reports it
// and ends with a failing status; it never goes on with half a library.
TEST(BootImageDeathTest, ACorruptImageEndsStartUp) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string_view real = boot::image();
    ASSERT_GT(real.size(), 10000u);
    std::vector<uint8_t> cut(real.begin(), real.begin() + real.size() / 2);
    std::vector<uint8_t> short_end(real.begin(), real.end() - 3);
    std::vector<uint8_t> magic(real.begin(), real.end());
    magic[0] = 'X';
    for (const std::vector<uint8_t>* bytes : {&cut, &short_end}) {
        EXPECT_EXIT(
            {
                boot::init_runtime();
                boot::install_registries();
                zanbin::load_payload(bytes->data(), bytes->size());
                std::_Exit(0);
            },
            ::testing::ExitedWithCode(1), "boot image cannot be decoded");
    }
    EXPECT_EXIT(
        {
            boot::init_runtime();
            boot::install_registries();
            zanbin::load_payload(magic.data(), magic.size());
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(1), "Not a Zanbin file");
}

// A boot script failing at its top level, or a routine the registry lacks,
// fails the image generator, naming the script and the line.
TEST(BootImageDeathTest, AFailingBootScriptNamesItsFileAndLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto with = [](bootgen::Script extra) {
        std::vector<bootgen::Script> scripts = boot_scripts();
        scripts.push_back(std::move(extra));
        std::_Exit(bootgen::run(scripts) ? 0 : 1);
    };
    EXPECT_EXIT(with({"extra/broken.zan", "a: 1\n\nb: 1 / 0\n"}), ::testing::ExitedWithCode(1),
                "extra/broken.zan:3: \\*\\*\\* Math Error");
    EXPECT_EXIT(with({"extra/unclosed.zan", "a: 1\nb: [2\n"}), ::testing::ExitedWithCode(1), "extra/unclosed.zan:");
    EXPECT_EXIT(with({"extra/routines.zan", "quit-return [status [integer!]]\nno-such-routine [x]\n"}),
                ::testing::ExitedWithCode(1), "extra/routines.zan:2: no routine is registered under the key no-such-routine");
}

}  // namespace
}  // namespace zan
