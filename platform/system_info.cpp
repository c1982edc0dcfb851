// Process and system facts from argv, environ, /etc/os-release and uname.
#include "platform/system_info.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "evaluator/natives_system.h"
#include "evaluator/routines.h"
#include "library/system.h"
#include "platform/text.h"
#include "runtime/collector.h"
#include "runtime/platform.h"

extern char** environ;

namespace zan::platform::system_info {

std::string command_line(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        if (!line.empty()) line += ' ';
        bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
        if (quote) line += '"';
        line += a;
        if (quote) line += '"';
    }
    return line;
}

std::string pretty_name(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string_view v = std::string_view(line).substr(12);
        std::string out;
        char quote = 0;
        if (!v.empty() && (v[0] == '"' || v[0] == '\'')) {
            quote = v[0];
            v.remove_prefix(1);
        }
        for (size_t i = 0; i < v.size(); ++i) {
            if (quote && v[i] == quote) break;
            if (quote == '"' && v[i] == '\\' && i + 1 < v.size()) ++i;
            out += v[i];
        }
        return out;
    }
    return {};
}

std::string arch_word(std::string_view m) {
    struct Row {
        std::string_view machine, word;
    };
    static constexpr Row rows[] = {
        {"x86_64", "x86-64"}, {"amd64", "x86-64"}, {"i386", "x86-32"}, {"i486", "x86-32"},
        {"i586", "x86-32"},   {"i686", "x86-32"},  {"aarch64", "ARM64"}, {"arm64", "ARM64"},
        {"ia64", "IA-64"},
    };
    for (const Row& r : rows)
        if (m == r.machine) return std::string(r.word);
    if (m.rfind("arm", 0) == 0) return "ARM";
    return "Unknown";
}

OsInfo os_info() {
    OsInfo info;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream f(path);
        if (!f) continue;
        std::stringstream text;
        text << f.rdbuf();
        info.name = pretty_name(text.str());
        break;
    }
    if (info.name.empty()) info.name = "Linux";
    utsname u;
    if (::uname(&u) == 0) {
        info.arch = arch_word(u.machine);
        std::sscanf(u.release, "%d.%d.%d", &info.major, &info.minor, &info.patch);
    } else {
        info.arch = "Unknown";
    }
    return info;
}

Cell environment() {
    Cell map;
    map::make_at(map, nullptr, 64);
    collector::Root keep(map);
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry = *e;
        // The first "=" after the first character splits the entry.
        size_t eq = entry.find('=', 1);
        if (eq == std::string_view::npos) continue;
        Cell name = text::decode(entry.substr(0, eq), false);
        collector::Root keep_name(name);
        Cell value = text::decode(entry.substr(eq + 1), false);
        collector::Root keep_value(value);
        // Names are case-sensitive here: PATH and path are two variables.
        map::put(map, name, value, true);
    }
    return map;
}

namespace {

void os_info_routine(Cell* args) {
    OsInfo info = os_info();
    Cell spec;
    block::make_at(spec, 8);
    collector::Root keep(spec);
    auto field = [&](const char* name, const Cell& value) {
        Cell w = string::word_of(name);
        set_type(w, Type::set_word);
        block::rs_append(spec, w);
        block::rs_append(spec, value);
    };
    Cell name = text::decode(info.name, false);
    collector::Root keep_name(name);
    field("name", name);
    field("arch", string::word_of(info.arch.c_str()));
    field("version", text::make_tuple({uint8_t(info.major), uint8_t(info.minor), 0}));
    field("build", integer_cell(info.patch));
    args[0] = object::construct(nullptr, spec, true);
}

}  // namespace

void install() {
    natives::SystemServices s = natives::system_services();
    s.environment = &environment;
    natives::set_system_services(s);
    routines::add("os-info", os_info_routine);
}

void after_boot() {
    std::vector<std::string> args(platform::argv(), platform::argv() + platform::argc());
    Cell line = text::decode(command_line(args), false);
    collector::Root keep(line);
    // Looked up after the decoding: the slot moves with its context.
    if (Cell* slot = system_object::field({"script", "args"})) *slot = line;
}

}  // namespace zan::platform::system_info
