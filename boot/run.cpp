// The runner: `zan script.zan [args]` checks the script's header, evaluates
// the rest and exits with 0, with the status given to quit/return, or with -2
// (254) after an uncaught error, whose report goes to standard error. Without
// a script, expressions are read from standard input, one per line, and each
// result is printed after "== ".
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

namespace zan::boot {

namespace {

int32_t quit_status = 0;

// quit-return status: the routine behind quit/return.
void quit_return(Cell* args) { quit(is(args[0], Type::integer) ? int_of(args[0]) : 0); }
[[maybe_unused]] const uint32_t quit_key = routines::add("quit-return", quit_return);

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

int run_script(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "*** Cannot open script: %s\n", path);
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string source = text.str();
    Cell code = none_cell();
    int status = as_do([&] {
        code = load_text(source);
        return 0;
    });
    if (status) return status;
    Cell* held = stack::push(code);
    if (!after_header(*held)) {
        std::fprintf(stderr, "*** Script header not found: %s\n", path);
        return 1;
    }
    return evaluate(*held, false);
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

int run_console() {
    Cell code = load_text("gui-console-ctx/launch");
    collector::Root keep(code);
    return evaluate(code, false);
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

int run(int argc, char** argv) {
    int status = 0;
    try {
        init();
        if (console_wanted(argc, argv)) status = run_console();
        else status = argc > 1 ? run_script(argv[1]) : read_expressions();
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
