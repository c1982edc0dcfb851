// The boot image against the boot from text it was made from: every global
// word's value, molded, must be the same after either start (the values that
// depend on the run aside), and series that the text boot shares must come
// back shared. Each start runs in a child process of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "boot/gen/text_boot.h"
#include "boot/init.h"
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

// Runs start in a child; answers what it wrote.
template <typename Start>
std::string in_child(Start start) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string text = start() ? snapshot() : "start failed";
        for (size_t at = 0; at < text.size();) {
            ssize_t n = write(fds[1], text.data() + at, text.size() - at);
            if (n <= 0) break;
            at += size_t(n);
        }
        _exit(0);
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

TEST(BootImage, DecodesToWhatTheTextBootBuilt) {
    std::string text = in_child([] {
        if (!bootgen::run(boot_scripts())) return false;
        bootgen::write_image();  // clears what depends on the run, as the image has it
        return true;
    });
    std::string image = in_child([] {
        boot::init();
        return true;
    });
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

}  // namespace
}  // namespace zan
