// The boot from text: natives and actions are made from their definitions
// without evaluating `make` (itself one of them), the routines from their
// registry keys, then every other script is evaluated one top-level
// expression at a time, so that a failure can name its line.
#include "boot/gen/text_boot.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "boot/init.h"
#include "boot/run.h"
#include "codecs/zanbin.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "library/library.h"
#include "library/system.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

namespace zan::bootgen {

namespace {

bool ends_with(const std::string& s, const char* tail) {
    size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The line on which top-level value `index` of the text starts (the values
// are scanned again one by one); with index -1, the line where loading fails.
int line_of(const std::string& text, int64_t index) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t off = 0;
    for (int64_t i = 0; index < 0 || i < index; ++i) {
        // the blanks and comments before the value
        while (off < text.size()) {
            char c = text[off];
            if (c == ';') {
                while (off < text.size() && text[off] != '\n') ++off;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++off;
            } else {
                break;
            }
        }
        if (off >= text.size()) break;
        Cell result;
        collector::Root keep(result);
        lexer::ScanRequest req;
        req.one = true;
        uint32_t consumed = 0;
        Cell* top = stack::s.top;
        try {
            lexer::scan(&result, bytes + off, uint32_t(text.size() - off), req, &consumed);
        } catch (const unwind::Thrown&) {
            stack::s.top = top;
            break;
        }
        if (!consumed) break;
        off += consumed;
    }
    while (off < text.size() && (text[off] == ' ' || text[off] == '\t' || text[off] == '\r' || text[off] == '\n'))
        ++off;
    int line = 1;
    for (uint32_t i = 0; i < off && i < text.size(); ++i) line += text[i] == '\n';
    return line;
}

Cell load(const Script& s) { return boot::load_text(s.text); }

// library/routines.zan is a block of routine names, each followed by its spec
// block; the name is the key of the C++ function in the routine registry.
void define_routines(const Script& s) {
    Cell list = load(s);
    Cell* held = stack::push(list);
    for (int32_t i = 0; i + 1 < block::rs_length(*held); i += 2) {
        Cell name = *block::rs_abs_at(*held, int32_t(series_index(*held)) + i);
        Cell spec = *block::rs_abs_at(*held, int32_t(series_index(*held)) + i + 1);
        if (!is(name, Type::word) || !is(spec, Type::block)) continue;
        uint32_t index = routines::find(symbol::name(word_symbol(name)));
        if (!index) {
            std::fprintf(stderr, "%s:%d: no routine is registered under the key %s\n", s.path.c_str(),
                         line_of(s.text, i), std::string(symbol::name(word_symbol(name))).c_str());
            throw std::runtime_error("routine key");
        }
        Cell r = routine::push(spec, none_cell(), int32_t(index), -1, false);
        context::set(name, r);
    }
    stack::s.top = held;
}

// The definitions of natives and actions, `name: make native! [spec index]`.
void define_builtins(const Script& s) {
    Cell code = load(s);
    Cell* held = stack::push(code);
    uint32_t sym_make = symbol::resolve(symbol::make("make"));
    int32_t start = int32_t(series_index(*held));
    for (int32_t i = 0; i + 3 < block::rs_length(*held); ++i) {
        Cell name = *block::rs_abs_at(*held, start + i);
        Cell make = *block::rs_abs_at(*held, start + i + 1);
        Cell type = *block::rs_abs_at(*held, start + i + 2);
        if (!is(name, Type::set_word) || !is(make, Type::word) || !is(type, Type::word) ||
            symbol::resolve(word_symbol(make)) != sym_make)
            continue;
        Cell t = *context::get(type);
        if (!is(t, Type::datatype)) continue;
        Cell* args = stack::push(t);
        stack::push(*block::rs_abs_at(*held, start + i + 3));
        datatype::row(Type(t.w1)).make.fn(args, Type(t.w1));
        context::set(name, args[0]);
        stack::s.top = args;
        i += 3;
    }
    stack::s.top = held;
}

// Evaluates the script's top level expression by expression; `at` follows
// the expression being evaluated.
void evaluate(const Script& s, int64_t& at) {
    at = -1;
    Cell code = load(s);
    Cell* held = stack::push(code);
    uint32_t pos = series_index(*held);
    uint32_t end = uint32_t(block::rs_length(*held)) + pos;
    while (pos < end) {
        at = pos;
        Cell from = *held;
        set_series_index(from, pos);
        uint32_t next = pos;
        stack::raise_status(interp::eval_next_index(from, next));
        stack::s.top = held + 1;
        if (next <= pos) break;
        pos = next;
    }
    stack::s.top = held;
}

bool run_one(const Script& s, void (*how)(const Script&)) {
    Cell* top = stack::s.top;
    Cell* base = stack::s.base;
    stack::Frame* frames = stack::s.frame_top;
    int64_t at = -1;
    try {
        if (how) how(s);
        else evaluate(s, at);
        return true;
    } catch (const std::runtime_error&) {
        stack::cut_back(frames - 1, base, top);
        return false;
    } catch (const unwind::Thrown& t) {
        if (t.code == unwind::error) {
            // The report names the call that failed: read it before the frames go.
            std::string text = boot::error_report();
            stack::cut_back(frames - 1, base, top);
            std::fprintf(stderr, "%s:%d: %s", s.path.c_str(), line_of(s.text, at), text.c_str());
        } else {
            stack::cut_back(frames - 1, base, top);
            std::fprintf(stderr, "%s:%d: a throw, break or return left the top level\n", s.path.c_str(),
                         line_of(s.text, at));
        }
        return false;
    }
}

void set_field(std::initializer_list<const char*> path, const Cell& value) {
    if (Cell* at = system_object::field(path)) *at = value;
}

}  // namespace

bool run(const std::vector<Script>& scripts) {
    boot::init_runtime();
    {
        Cell w = context::add_global(symbol::make("null-handle"), false, false);
        context::set(w, make_cell(Type::handle));
    }
    std::vector<bool> ran(scripts.size(), false);
    // Natives and actions first: everything else calls them.
    for (size_t i = 0; i < scripts.size(); ++i)
        if (ends_with(scripts[i].path, "library/natives.zan") || ends_with(scripts[i].path, "library/actions.zan")) {
            ran[i] = true;
            if (!run_one(scripts[i], define_builtins)) return false;
        }
    boot::install_registries();
    for (size_t i = 0; i < scripts.size(); ++i)
        if (ends_with(scripts[i].path, "/routines.zan")) {
            ran[i] = true;
            if (!run_one(scripts[i], define_routines)) return false;
        }
    for (size_t i = 0; i < scripts.size(); ++i)
        if (!ran[i] && !run_one(scripts[i], nullptr)) return false;
    try {
        system_object::install();
        library::finish_boot();
    } catch (const unwind::Thrown&) {
        std::fprintf(stderr, "zan-bootgen: %s", boot::error_report().c_str());
        return false;
    }
    return true;
}

std::vector<uint8_t> write_image() {
    // What depends on the run is set at each start, not kept: the global
    // context as an object, the directories, the command line; the standard
    // error object is the runtime's own. The error catalogue is kept: start-up
    // takes it from the image instead of building it again.
    for (auto path : {std::initializer_list<const char*>{"words"}, {"options", "path"}, {"options", "cache"},
                      {"options", "boot"}, {"options", "args"}, {"script", "args"}, {"standard", "error"}})
        set_field(path, none_cell());
    Node g = context::global();
    if (Cell* h = context::get_by_symbol(symbol::make("null-handle"), g)) *h = unset_cell();

    collector::set_enabled(false);  // handles are held in plain C++ below
    uint32_t n = context::length(g);
    Cell words, values;
    collector::Root k1(words), k2(values);
    block::make_at(words, int32_t(n));
    block::make_at(values, int32_t(n));
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = context::word_at(g, int32_t(i));
        w = make_cell(Type::word, g, word_symbol(w), i);
        block::rs_append(words, w);
        Cell* v = context::value_at(g, int32_t(i));
        block::rs_append(values, v ? *v : unset_cell());
    }
    zanbin::BootWriter out;
    out.add_root(words);                          // root 0: the words, in order
    out.add_context(library::context_node());    // root 1: the library context
    out.add_root(values);                         // root 2: their values, sharing kept
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *block::rs_abs_at(values, int32_t(i));
        if (is(v, Type::unset)) continue;
        out.add_definition(*block::rs_abs_at(words, int32_t(i)), v);
    }
    std::vector<uint8_t> image = out.finish();
    collector::set_enabled(true);
    return image;
}

}  // namespace zan::bootgen
