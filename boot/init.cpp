// Runtime initialisation, in dependency order: memory and the root block, the
// datatype rows, symbols and the global context, the value and call stacks,
// the action and natives tables, the interpreter and tracing, the datatype
// words, the C++ registries, then the boot image, decoded with the collector
// held off: it holds every global word's value as the boot scripts left it
// when zan-bootgen ran them. Last come the values that depend on the run:
// the directory, the cache, the command line.
#include "boot/init.h"
#include "boot/run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "codecs/random.h"
#include "codecs/services.h"
#include "codecs/zanbin.h"
#include "console/tty.h"
#include "console/window.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "library/library.h"
#include "library/system.h"
#include "platform/services.h"
#include "platform/text.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/ownership.h"
#include "runtime/platform.h"

// The boot image, linked in by the build; the image generator links an
// empty one of its own.
extern "C" {
extern const unsigned char zan_boot_image[];
extern const unsigned long zan_boot_image_size;
}

namespace zan::boot {

namespace {

// Binds every word of the block (at any depth) to the global context, adding
// the words it lacks.
void bind_global(const Cell& block) {
    // Loaded code may hold hundreds of thousands of blocks and paths: the set of
    // series walked already must answer in constant time.
    std::vector<Node> todo{series_node(block)};
    std::unordered_set<Node> seen;
    while (!todo.empty()) {
        Node n = todo.back();
        todo.pop_back();
        if (!seen.insert(n).second) continue;
        for (uint32_t i = 0; i < memory::buffer(n)->length(); ++i) {
            Cell v = memory::buffer(n)->cells()[i];
            Type t = type_of(v);
            if (t >= Type::word && t <= Type::get_word && word_context(v) == 0) {
                Cell g = context::add_global(word_symbol(v), true, false);
                Cell& slot = memory::buffer(n)->cells()[i];
                slot.w1 = g.w1;
                slot.w3 = g.w3;
            } else if (t == Type::block || t == Type::paren || t == Type::path || t == Type::lit_path ||
                       t == Type::set_path || t == Type::get_path) {
                todo.push_back(series_node(v));
            }
        }
    }
}

void set_global(const char* name, const Cell& value) {
    Cell w = context::add_global(symbol::make(name), false, false);
    context::set(w, value);
}

// The datatype words, integer! and the others: one per type id, registered
// yet or not, so that specs may name every type.
void define_datatype_words() {
    for (int t = 1; t <= int(Type::event); ++t)
        set_global(std::string(datatype::name(Type(t))).c_str(), datatype_cell(Type(t)));
}

// The boot typesets, in definition order: each row's members, then the
// earlier rows it unites. Natives' specs name them, so they exist before any
// native is made.
void define_typesets() {
    struct Set {
        const char* name;
        std::vector<Type> types;
        std::vector<const char*> unites;
    };
    using T = Type;
    const Set sets[] = {
        {"internal!", {T::unset}, {}},
        {"external!", {T::event}, {}},
        {"number!", {T::integer, T::float_, T::percent}, {}},
        {"planar!", {T::pair, T::point2d}, {}},
        {"any-point!", {T::point2d, T::point3d}, {}},
        {"scalar!", {T::money, T::char_, T::pair, T::tuple, T::time, T::date}, {"number!", "any-point!"}},
        {"any-word!", {T::word, T::set_word, T::lit_word, T::get_word}, {}},
        {"all-word!", {T::refinement, T::issue}, {"any-word!"}},
        {"any-list!", {T::block, T::paren, T::hash}, {}},
        {"any-path!", {T::path, T::lit_path, T::set_path, T::get_path}, {}},
        {"any-block!", {}, {"any-path!", "any-list!"}},
        {"any-function!", {T::native, T::action, T::op, T::function, T::routine}, {}},
        {"any-object!", {T::object, T::error, T::port}, {}},
        {"any-string!", {T::string, T::file, T::url, T::tag, T::email, T::ref}, {}},
        {"series!", {T::binary, T::image, T::vector}, {"any-block!", "any-string!"}},
        {"immediate!", {T::none, T::logic, T::datatype, T::typeset, T::handle, T::date},
         {"scalar!", "all-word!"}},
        {"default!", {T::map, T::bitset},
         {"series!", "immediate!", "any-object!", "external!", "any-function!"}},
        {"any-type!", {}, {"default!", "internal!"}},
    };
    for (const Set& s : sets) {
        Cell ts = typeset::make();
        for (Type m : s.types) typeset::add(ts, m);
        for (const char* other : s.unites) {
            const Cell* o = context::get_by_symbol(symbol::make(other), context::global());
            ts.w1 |= o->w1;
            ts.w2 |= o->w2;
            ts.w3 |= o->w3;
        }
        set_global(s.name, ts);
    }
}

using Clock = std::chrono::steady_clock;
Clock::time_point phase_start;
bool show_times = false;

// A call of a global function from C++, on values that evaluate to
// themselves: [name arg ...] made as a block, no text loaded.
Cell call(const char* name, std::initializer_list<Cell> args) {
    // The arguments wait on the value stack, where the collector sees them,
    // while the block is made.
    Cell* base = stack::s.top;
    for (const Cell& a : args) stack::push(a);
    Cell code;
    collector::Root keep(code);
    block::make_at(code, int32_t(args.size() + 1));
    block::rs_append(code, context::add_global(symbol::make(name), true, false));
    for (Cell* a = base; a < base + args.size(); ++a) block::rs_append(code, *a);
    stack::s.top = base;
    Cell* held = stack::push(code);
    stack::raise_status(interp::eval_block(*held, false));
    Cell result = stack::s.top[-1];
    stack::s.top = held;
    return result;
}

// system/a/b: value, evaluated, so that the object's change handlers run
// and its series know their owner.
void set_system(const char* field, const char* sub, const Cell& value_in) {
    Cell value = value_in, code, path;
    collector::Root k0(value), k1(code), k2(path);
    block::make_at(path, 3);
    block::rs_append(path, context::add_global(symbol::make("system"), true, false));
    for (const char* name : {field, sub}) {
        Cell w = make_cell(Type::word, 0, symbol::make(name), uint32_t(-1));
        block::rs_append(path, w);
    }
    set_type(path, Type::set_path);
    block::make_at(code, 2);
    block::rs_append(code, path);
    block::rs_append(code, value);
    Cell* held = stack::push(code);
    stack::raise_status(interp::eval_block(*held, false));
    stack::s.top = held;
}

Cell utf8_string(std::string_view text) { return platform::text::decode(text, false); }

// The values that depend on the run, not on the build: the global context as
// an object, the current directory, the cache directory, the null handle and
// the command line (the program, its arguments as given, and their text).
void set_run_values() {
    if (Cell* words = system_object::field({"words"})) {
        Node g = context::global();
        Cell o = make_cell(Type::object, g, uint32_t(-1), 0);
        context::owner(g) = o;
        *words = o;
    }
    {
        Cell dir = file::os_current_dir();
        set_type(dir, Type::file);
        collector::Root keep(dir);
        set_system("options", "path", dir);
    }
    {
        const char* home = std::getenv("HOME");
        Cell cache = home && *home ? call("to-zan-file", {utf8_string(std::string(home) + "/.zan/")})
                                   : call("to-zan-file", {utf8_string("/tmp/.zan/")});
        collector::Root keep(cache);
        set_system("options", "cache", cache);
    }
    set_global("null-handle", make_cell(Type::handle));
    platform::after_boot();
    // The program and its arguments from the command-line text, then the
    // arguments again as the process got them: quotes and blanks inside an
    // argument survive.
    call("extract-boot-args", {});
    Cell args;
    collector::Root keep(args);
    block::make_at(args, platform::argc());
    for (int i = 1; i < platform::argc(); ++i) {
        Cell arg = utf8_string(platform::argv()[i]);
        collector::Root keep_arg(arg);
        block::rs_append(args, arg);
    }
    set_system("options", "args", args);
    if (platform::argc() > 0) set_system("options", "boot", utf8_string(platform::argv()[0]));
    // The new series belong to the options object, as those it was made with:
    // changes inside them reach its on-deep-change* (the directory follows
    // system/options/path).
    Cell* options = system_object::field({"options"});
    if (!options || !is(*options, Type::object)) return;
    Cell o = *options;
    collector::Root keep_o(o);
    Node ctx = object::context_node(o);
    for (const char* name : {"path", "cache", "args", "boot"}) {
        int32_t i = context::find_word(ctx, symbol::make(name), false);
        if (i < 0) continue;
        Cell w = make_cell(Type::word, ctx, symbol::make(name), uint32_t(i));
        Cell v = *context::value_at(ctx, i);
        collector::Root kv(v);
        ownership::set_owner_deep(v, o, w);
        *context::value_at(ctx, i) = v;
    }
}

}  // namespace

void phase(const char* name) {
    if (!show_times) return;
    Clock::time_point now = Clock::now();
    double ms = std::chrono::duration<double, std::milli>(now - phase_start).count();
    std::fprintf(stderr, "boot: %-10s %8.3f ms\n", name, ms);
    phase_start = now;
}

Cell load_text(std::string_view utf8) {
    Cell block = lexer::load_utf8(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()));
    collector::Root keep(block);
    bind_global(block);
    return block;
}

std::string_view image() {
    return std::string_view(reinterpret_cast<const char*>(zan_boot_image), size_t(zan_boot_image_size));
}

void init_runtime() {
    const char* times = std::getenv("ZAN_BOOT_TIMES");
    show_times = times && std::strcmp(times, "1") == 0;
    phase_start = Clock::now();
    random::init();
    memory::init();
    block::init_root();
    datatype::register_all();
    symbol::make_table();
    context::make_global();
    if (!datatype::registered(Type::symbol)) symbol::init();
    if (!datatype::registered(Type::context)) context::init();
    stack::init();
    dispatch::init();
    natives::init_table();
    codecs::install();
    interp::init();
    interp::install_lexer_hooks();
    trace::init();
    lexer::init();
    define_datatype_words();
    runtime_words::init_words();
    runtime_words::init_refinement_words();
    runtime_words::init_issue_words();
    define_typesets();
    collector::set_enabled(true);
    phase("runtime");
}

void install_registries() {
    register_routines();
    library::register_routines();
    library::register_predicates();
    library::register_bodies();
    platform::install_services();
    console::install();
    console::install_window();
}

void finish_library() {
    system_object::install();
    library::attach_bodies();
}

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    init_runtime();
    install_registries();
    std::string_view bytes = image();
    if (bytes.empty()) return;
    zanbin::load_payload(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    library::adopt_context(zanbin::root_node(1));
#ifdef ZAN_DEBUG
    if (const char* fault = memory::verify_heap()) {
        std::fprintf(stderr, "heap after decode: %s\n", fault);
        std::abort();
    }
#endif
    phase("decode");
    finish_library();
    set_run_values();
    phase("run values");
}

}  // namespace zan::boot
