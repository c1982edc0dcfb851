// Runtime initialisation, in dependency order: memory and the root block, the
// datatype rows, symbols and the global context, the value and call stacks,
// the action and natives tables, the interpreter and tracing, the datatype
// words, the routines, then the boot scripts. The collector is switched on
// once every root is in place.
#include "boot/init.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "codecs/random.h"
#include "codecs/services.h"
#include "console/tty.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
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
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"

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

// library/routines.zan is a block of routine names, each followed by its spec
// block; the name is the key of the C++ function in the routine registry.
void define_routines(const Script& s) {
    Cell list = load_text(std::string_view(reinterpret_cast<const char*>(s.text), s.size));
    Cell* held = stack::push(list);
    for (int32_t i = 0; i + 1 < block::rs_length(*held); i += 2) {
        Cell name = *block::rs_abs_at(*held, int32_t(series_index(*held)) + i);
        Cell spec = *block::rs_abs_at(*held, int32_t(series_index(*held)) + i + 1);
        if (!is(name, Type::word) || !is(spec, Type::block)) continue;
        uint32_t index = routines::find(symbol::name(word_symbol(name)));
        if (!index) continue;
        Cell r = routine::push(spec, none_cell(), int32_t(index), -1, false);
        context::set(name, r);
    }
    stack::s.top = held;
}

// The definitions of natives and actions, `name: make native! [spec index]`,
// are built as the boot image's records are: without evaluating `make`, which
// is itself one of them.
void define_builtins(const Script& s) {
    Cell code = load_text(std::string_view(reinterpret_cast<const char*>(s.text), s.size));
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

void run_script(const Script& s) {
    Cell code = load_text(std::string_view(reinterpret_cast<const char*>(s.text), s.size));
    Cell* held = stack::push(code);
    stack::Status st = interp::eval_block(*held, false);
    stack::raise_status(st);
    stack::s.top = held;
}

}  // namespace

Cell load_text(std::string_view utf8) {
    Cell block = lexer::load_utf8(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()));
    collector::Root keep(block);
    bind_global(block);
    return block;
}

void init() {
    static bool done = false;
    if (done) return;
    done = true;
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
    set_global("null-handle", make_cell(Type::handle));
    collector::set_enabled(true);

    // The boot scripts: the natives and actions first, then what builds on them.
    // The library's own scripts in their order; any other script runs after
    // them, folder by folder (library, gui/view, console), in name order.
    const char* order[] = {"library/boot.zan",    "library/constants.zan",   "library/base.zan",
                           "library/predicates.zan", "library/conversions.zan", "library/utility.zan",
                           "library/series.zan",  "library/math.zan",        "library/system.zan",
                           "library/operators.zan"};
    std::vector<bool> ran(size_t(script_count), false);
    for (const char* name : {"library/natives.zan", "library/actions.zan"})
        for (int i = 0; i < script_count; ++i)
            if (std::strcmp(scripts[i].name, name) == 0) {
                ran[i] = true;
                define_builtins(scripts[i]);
            }
    library::register_routines();
    library::register_predicates();
    library::register_bodies();
    platform::install_services();
    console::install();
    for (int i = 0; i < script_count; ++i)
        if (std::strcmp(scripts[i].name, "library/routines.zan") == 0 ||
            std::strcmp(scripts[i].name, "console/routines.zan") == 0) {
            ran[i] = true;
            define_routines(scripts[i]);
        }
    for (const char* name : order)
        for (int i = 0; i < script_count; ++i)
            if (!ran[i] && std::strcmp(scripts[i].name, name) == 0) {
                ran[i] = true;
                run_script(scripts[i]);
            }
    // The view layer's scripts build on one another: the templates, the
    // back end's routines, then the rest; the layout dialect's
    // (gui/view/vid*.zan) in name order; the functions on top of it last.
    const char* view_first[] = {"gui/view/faces.zan", "gui/view/platform.zan", "gui/view/screens.zan",
                                "gui/view/rtd.zan", "gui/view/draw.zan"};
    const char* view_last[] = {"gui/view/show.zan", "gui/view/events.zan"};
    auto is_view = [](const char* name) { return std::strncmp(name, "gui/view/", 9) == 0; };
    auto run_named = [&](const char* name) {
        for (int j = 0; j < script_count; ++j)
            if (!ran[j] && std::strcmp(scripts[j].name, name) == 0) {
                ran[j] = true;
                run_script(scripts[j]);
            }
    };
    for (int i = 0; i < script_count; ++i) {
        if (ran[i]) continue;
        if (is_view(scripts[i].name)) {
            for (const char* name : view_first) run_named(name);
            for (int j = i; j < script_count && is_view(scripts[j].name); ++j) {
                bool later = std::any_of(std::begin(view_last), std::end(view_last),
                                         [&](const char* n) { return std::strcmp(n, scripts[j].name) == 0; });
                if (!ran[j] && !later) {
                    ran[j] = true;
                    run_script(scripts[j]);
                }
            }
            for (const char* name : view_last) run_named(name);
            continue;
        }
        ran[i] = true;
        run_script(scripts[i]);
    }
    system_object::install();
    library::finish_boot();
    platform::after_boot();
}

}  // namespace zan::boot
