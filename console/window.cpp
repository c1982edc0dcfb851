// Routines of the console window.
//
// console-gui?: the window console needs a display that GTK can open and a
// standard input that is not a pipe or a regular file (input meant for the
// text console). GTK is started only when the first two hold.
//
// console-write-file: the settings file may hold typed lines (passwords among
// them), so it is written private (0600) into a temporary file beside the old
// one, synced, then renamed over it: a full disk or a crash leaves the old
// file whole. Any failure raises an access error naming the file and the cause.
#include "console/window.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "evaluator/routines.h"
#include "platform/gtk_start.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "runtime/output.h"

namespace zan::console {

namespace {

bool set_env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

void gui_usable(Cell* args) {
    struct stat st {};
    bool input_ok = ::fstat(0, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISREG(st.st_mode));
    bool ok = input_ok && (set_env("DISPLAY") || set_env("WAYLAND_DISPLAY")) && platform::gtk::start();
    args[0] = logic_cell(ok);
}

// The message names the file and the OS's reason.
[[noreturn]] void write_failed(const std::string& path, int err) {
    Cell what = platform::text::decode(path + " (" + std::strerror(err) + ")", false);
    errors::fire(platform::id::no_create, &what);
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

void write_file(Cell* args) {
    std::string path = file::to_os_path(args[0]);
    std::string_view bytes = platform::text::binary_bytes(args[1]);
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());  // made with mode 0600
    if (fd < 0) write_failed(path, errno);
    int err = 0;
    if (!write_all(fd, bytes) || ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(tmp.c_str());
        write_failed(path, err);
    }
    args[0] = unset_cell();
}

// console-report: one line on standard error, for what must be seen even
// when the console's own output goes to its window.
void report(Cell* args) {
    std::string line = platform::text::encode(args[0]) + "\n";
    output::flush();
    (void)!::write(2, line.data(), line.size());
    args[0] = unset_cell();
}

// The print hook: every printed value goes on to the terminal of the console
// window through gui-console-win/print-hook, after standard output had it.
void print_to_window(const Cell& value, bool newline) {
    // Deep recursion that prints ends in the language's error, not inside
    // the terminal's own code with the stacks full.
    if (stack::s.frame_end - stack::s.frame_top <= 60 || stack::s.end - stack::s.top <= 80)
        errors::fire(errors::id::stack_overflow);
    const Cell* ctx = context::get_by_symbol(symbol::make("gui-console-win"), context::global());
    if (!ctx || !is(*ctx, Type::object)) return;
    const Cell* fn = context::get_by_symbol(symbol::make("print-hook"), object::context_node(*ctx));
    if (!fn || !is(*fn, Type::function)) return;
    Cell callable = *fn;
    Cell* args = stack::push(value);
    stack::push(logic_cell(newline));
    stack::Status st = interp::call(callable, args, 2);
    stack::s.top = args;
    stack::raise_status(st);
}

// console-wayland?: Wayland lets no client place its windows.
void wayland(Cell* args) {
    bool on = false;
    if (platform::gtk::started())
        if (GdkDisplay* d = gdk_display_get_default())
            on = std::strcmp(G_OBJECT_TYPE_NAME(d), "GdkWaylandDisplay") == 0;
    args[0] = logic_cell(on);
}

void add_print(Cell* args) {
    static bool added = false;
    if (!added) output::add_hooks(print_to_window, nullptr);
    added = true;
    args[0] = unset_cell();
}

}  // namespace

void install_window() {
    routines::add("console-add-print", add_print);
    routines::add("console-wayland?", wayland);
    routines::add("console-report", report);
    routines::add("console-gui?", gui_usable);
    routines::add("console-write-file", write_file);
}

}  // namespace zan::console
