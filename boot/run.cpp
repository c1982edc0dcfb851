// The runner: `zan [--catch] [--] [script [args]]`. Leading switches come
// first: --catch (any case) keeps a reader of expressions on standard input
// after the script, others are passed over, "--" ends them. The script's
// header is checked here; do-file then runs it as any script is run. Exit
// statuses: 0 at the end; the status given to quit/return; 254 (-2) after an
// uncaught error, throw, break or return, reported on standard error; 1 with a
// message on standard error when the file cannot be read or is not a Zan
// program. Without a script, expressions are read from standard input, one
// per line, and each result is printed after "== ". When the console defines
// gui-console-ctx/launch, start-up hands over to it instead.
#include "boot/run.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <fstream>
#include <iostream>
#include <sstream>

#include "boot/init.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/mold.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/unwind.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "library/system.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include <strings.h>
#include <vector>

namespace zan::boot {

namespace {

int32_t quit_status = 0;

// quit-return status: the routine behind quit/return.
void quit_return(Cell* args) { quit(is(args[0], Type::integer) ? int_of(args[0]) : 0); }

// The script's code after its header: a word Zan (any case) and a block.
bool after_header(Cell& code) {
    if (block::rs_length(code) < 2) return false;
    Cell head = *block::rs_abs_at(code, int32_t(series_index(code)));
    Cell spec = *block::rs_abs_at(code, int32_t(series_index(code)) + 1);
    if (!is(head, Type::word) || !is(spec, Type::block)) return false;
    if (symbol::resolve(word_symbol(head)) != symbol::resolve(symbol::make("Zan"))) return false;
    code.w1 += 2;
    return true;
}

// Top-level code is loaded and run as `do` runs a script: inside a native
// frame named `do`, so that an error raised there (a syntax error included)
// names `do` as where it happened. Answers the body's status, or -2 after
// reporting an uncaught error; the stacks are put back either way.
template <typename Body>
int as_do(Body body) {
    static const uint32_t sym_do = symbol::make("do");
    Cell* top = stack::s.top;
    Cell* base = stack::s.base;
    stack::Frame* frame = stack::s.frame_top;
    try {
        stack::mark(sym_do, 0, stack::kind_bits(stack::kind::native));
        int status = body();
        stack::cut_back(frame - 1, base, top);
        return status;
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        // The report names the call that failed: read it before the frames go.
        std::string report = error_report();
        stack::cut_back(frame - 1, base, top);
        output::flush();
        std::fwrite(report.data(), 1, report.size(), stderr);
        std::fflush(stderr);
        return -2;
    }
}

// Evaluates code; answers the exit status (uncaught errors reported).
int evaluate(const Cell& code, bool show_result) {
    return as_do([&] {
        Cell* held = stack::push(code);
        stack::Status st = interp::eval_block(*held, false);
        if (!st && show_result && !is(stack::s.top[-1], Type::unset)) {
            std::string text = "== " + mold::mold_text(stack::s.top[-1]) + "\n";
            output::print_utf8(text);
        }
        return 0;
    });
}

// The header's start: "Zan", optionally "/System", blanks, tabs, CR or LF,
// then "[" (case-sensitive, also inside a longer word); npos when absent.
size_t header_at(const std::string& text) {
    for (size_t at = text.find("Zan"); at != std::string::npos; at = text.find("Zan", at + 1)) {
        size_t p = at + 3;
        if (text.compare(p, 7, "/System") == 0) p += 7;
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n')) ++p;
        if (p < text.size() && text[p] == '[') return at;
    }
    return std::string::npos;
}

// A loaded script is a Zan program when the word Zan (this case) stands in it
// followed by a block.
bool zan_program(const Cell& code) {
    static const uint32_t sym_zan = symbol::make("Zan");
    int32_t n = block::rs_length(code), from = int32_t(series_index(code));
    for (int32_t i = 0; i + 1 < n; ++i) {
        Cell w = *block::rs_abs_at(code, from + i);
        if (is(w, Type::word) && word_symbol(w) == sym_zan && is(*block::rs_abs_at(code, from + i + 1), Type::block))
            return true;
    }
    return false;
}

// Fails with status 1: the file is not a script that can be run.
int not_runnable(const char* message) {
    output::flush();
    std::fprintf(stderr, "*** Error: %s\n", message);
    return 1;
}

// Evaluates a block [name arg ...] of values that evaluate to themselves.
Cell call(const char* name, std::initializer_list<Cell> args) {
    // The arguments wait on the value stack, where the collector sees them,
    // while the code block is made.
    Cell* waiting = stack::s.top;
    for (const Cell& a : args) stack::push(a);
    Cell code;
    collector::Root keep(code);
    block::make_at(code, int32_t(args.size() + 1));
    block::rs_append(code, context::add_global(symbol::make(name), true, false));
    for (Cell* a = waiting; a < waiting + args.size(); ++a) block::rs_append(code, *a);
    stack::s.top = waiting;
    Cell* held = stack::push(code);
    stack::raise_status(interp::eval_block(*held, false));
    Cell result = stack::s.top[-1];
    stack::s.top = held;
    return result;
}

void set_field(std::initializer_list<const char*> path, const Cell& value) {
    if (Cell* at = system_object::field(path)) *at = value;
}

Cell utf8(const std::string& text) { return platform::text::decode(text, false); }

int run_script(const std::string& path, const std::vector<std::string>& args) {
    // The script's own arguments, as given and as text.
    Cell list;
    collector::Root keep_list(list);
    block::make_at(list, int32_t(args.size()));
    for (const std::string& a : args) {
        Cell arg = utf8(a);
        collector::Root keep_arg(arg);
        block::rs_append(list, arg);
    }
    Cell raw = utf8(platform::system_info::command_line(args));
    collector::Root keep_raw(raw);
    Cell file = none_cell();
    collector::Root keep_file(file);
    int status = as_do([&] {
        file = call("to-zan-file", {utf8(path)});
        return 0;
    });
    if (status) return status;
    set_field({"options", "script"}, file);
    set_field({"options", "args"}, list);
    set_field({"script", "args"}, raw);

    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    if (in) text << in.rdbuf();
    if (!in || in.bad()) {
        // the report of read's own error
        as_do([&] {
            call("read", {file});
            return 0;
        });
        return 1;
    }
    std::string source = text.str();
    size_t at = header_at(source);
    if (at == std::string::npos) return not_runnable("Zan header not found!");
    Cell code = none_cell();
    collector::Root keep_code(code);
    status = as_do([&] {
        code = load_text(std::string_view(source).substr(at));
        return 0;
    });
    if (status) return status;
    if (!zan_program(code))
        return not_runnable(source.find("Zan/System") != std::string::npos
                                ? "contains Zan/System code which requires compilation!"
                                : "not a Zan program!");
    return as_do([&] {
        call("do-file", {file, none_cell(), raw});
        return 0;
    });
}

// The console takes over when it is there and no script is named, or when
// --catch comes before the script's name ("--" ends the switches).
bool console_wanted(int argc, char** argv) {
    const Cell* launch = context::get_by_symbol(symbol::make("gui-console-ctx"), context::global());
    if (!launch || !is(*launch, Type::object)) return false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) != 0 || (i > 1 && std::strcmp(argv[i - 1], "--") == 0)) return false;
        if (strcasecmp(argv[i], "--catch") == 0) return true;
    }
    return true;
}

int read_expressions() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty()) continue;
        Cell code = none_cell();
        if (as_do([&] {
                code = load_text(line);
                return 0;
            }) == 0)
            evaluate(code, true);
        output::flush();
    }
    return 0;
}

}  // namespace

void register_routines() { routines::add("quit-return", quit_return); }

void quit(int32_t status) {
    quit_status = status;
    throw unwind::Thrown{unwind::quiet_end};
}

std::string error_report() {
    const Cell& e = errors::pending();
    // Only an error raised before error! was registered is not an error! value.
    if (!is(e, Type::error)) return "*** Error: " + std::to_string(errors::pending_id().code()) + "\n";
    return error::form_text(e) + "\n";
}

// gui-console-ctx/launch when the console defines it: it takes the command
// line over.
int console_launch() {
    Cell path;
    collector::Root keep(path);
    block::make_at(path, 2);
    block::rs_append(path, context::add_global(symbol::make("gui-console-ctx"), true, false));
    block::rs_append(path, make_cell(Type::word, 0, symbol::make("launch"), uint32_t(-1)));
    set_type(path, Type::path);
    Cell code;
    collector::Root keep_code(code);
    block::make_at(code, 1);
    block::rs_append(code, path);
    return evaluate(code, false);
}

int launch(int argc, char** argv) {
    if (console_wanted(argc, argv)) return console_launch();
    bool catch_ = false;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (strcasecmp(argv[i], "--catch") == 0) catch_ = true;
    }
    if (i >= argc) return read_expressions();
    std::vector<std::string> args(argv + i + 1, argv + argc);
    int status = run_script(argv[i], args);
    if (status == 1 || !catch_) return status;
    return read_expressions();
}

int run(int argc, char** argv) {
    int status = 0;
    try {
        init();
        status = launch(argc, argv);
    } catch (const unwind::Thrown& t) {
        if (t.code == unwind::quiet_end) {
            status = quit_status;
        } else if (t.code == unwind::error) {
            output::flush();
            std::string report = error_report();
            std::fwrite(report.data(), 1, report.size(), stderr);
            status = -2;
        } else {
            status = -2;
        }
    }
    output::flush();
    if (int e = output::write_error()) {
        std::fprintf(stderr, "*** Output error: %s\n", std::strerror(e));
        if (status == 0) status = 1;
    }
    return status;
}

}  // namespace zan::boot
