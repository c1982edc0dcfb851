// The library context. Library functions call natives, actions and each other
// by the values those words had when the boot scripts finished, not by what a
// script later assigns to them: after the boot scripts run, every word! and
// get-word! in a library function's body (at any depth) that is bound to the
// global context and names a function there is rebound to one context of the
// library's own holding a copy of that value. A script redefining `pick` then
// changes `pick` for itself while `first` goes on calling the native.
//
// Library functions are those held by global words or by fields of objects
// reachable from them when the boot scripts end. Set-words and lit-words are
// left global, so library code that assigns a global word still does.
#include <string>
#include <unordered_set>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "evaluator/routines.h"
#include "library/library.h"
#include "library/system.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace zan::library {

namespace {

Node lib_context = 0;

void mark_lib_context() {
    if (lib_context) collector::mark_context(lib_context);
}

bool callable(const Cell& v) {
    Type t = type_of(v);
    return t == Type::native || t == Type::action || t == Type::op || t == Type::function ||
           t == Type::routine;
}

bool block_like(Type t) {
    return t == Type::block || t == Type::paren || t == Type::path || t == Type::lit_path ||
           t == Type::set_path || t == Type::get_path;
}

class Rebinder {
public:
    explicit Rebinder(Node lib) : lib_(lib), global_(context::global()) {}

    // Functions held by the global words and by objects under them.
    void gather() {
        std::vector<Node> objects{global_};
        std::unordered_set<Node> seen_objects{global_};
        while (!objects.empty()) {
            Node ctx = objects.back();
            objects.pop_back();
            for (uint32_t i = 0; i < context::length(ctx); ++i) {
                Cell* v = context::value_at(ctx, int32_t(i));
                if (!v) break;
                if (is(*v, Type::function)) bodies_.push_back(function::more_at(*v, function::more::body)->w2);
                if (is(*v, Type::object) && seen_objects.insert(object::context_node(*v)).second)
                    objects.push_back(object::context_node(*v));
            }
        }
    }

    void rebind_all() {
        std::unordered_set<Node> seen;
        while (!bodies_.empty()) {
            Node n = bodies_.back();
            bodies_.pop_back();
            if (!n || !seen.insert(n).second) continue;
            for (uint32_t i = 0; i < memory::buffer(n)->length(); ++i) {
                Cell v = memory::buffer(n)->cells()[i];
                Type t = type_of(v);
                if ((t == Type::word || t == Type::get_word) && word_context(v) == global_)
                    rebind(n, i, v);
                else if (block_like(t))
                    bodies_.push_back(series_node(v));
            }
        }
    }

private:
    void rebind(Node n, uint32_t i, const Cell& word) {
        const Cell* value = context::get_in(word, global_);
        if (!value || !callable(*value)) return;
        Cell held = *value;
        int32_t index = context::find_word(lib_, word_symbol(word), false);
        if (index < 0) {
            Cell w = word;
            context::add_value(lib_, w, held);
            index = context::find_word(lib_, word_symbol(word), false);
        }
        Cell& slot = memory::buffer(n)->cells()[i];
        slot.w1 = lib_;
        slot.w3 = uint32_t(index);
    }

    Node lib_;
    Node global_;
    std::vector<Node> bodies_;
};

// The library functions that run a C++ body (library/compiled.cpp), by the
// body's key, which is the function's own name.
const char* const compiled_functions[] = {"mod", "modulo", "split", "first", "last", "empty?", "to-string", "rejoin",
                                          "run-event-handlers", "do-safe", "text-to-data", "on-face-change*", "show"};

}  // namespace

namespace {

// The function in f runs the C++ body registered under key.
void attach(Cell* f, const char* key) {
    uint32_t index = routines::find_body(key);
    if (f && index && is(*f, Type::function)) *function::more_at(*f, function::more::code) = integer_cell(int32_t(index));
}

}  // namespace

void attach_bodies() {
    for (const char* name : compiled_functions) attach(context::get_by_symbol(symbol::make(name), context::global()), name);
    // the event dispatch, held by system/view
    attach(system_object::field({"view", "awake"}), "awake");
    // the natural size of a face from its text, held by the layout dialect
    attach(system_object::field({"view", "VID", "calc-size"}), "vid-calc-size");
    attach(system_object::field({"view", "VID", "fetch-options"}), "vid-fetch-options");
    // the standard global event handlers, by their names in system/view/handlers
    if (Cell* handlers = system_object::field({"view", "handlers"}); handlers && is(*handlers, Type::block)) {
        memory::Series* b = memory::buffer(handlers->w2);
        for (uint32_t i = 0; i + 1 < b->length(); i += 2) {
            if (!is(b->cells()[i], Type::word)) continue;
            std::string key = "view-handler-" + std::string(symbol::name(word_symbol(b->cells()[i])));
            attach(&b->cells()[i + 1], key.c_str());
        }
    }
}

namespace {

void take_away(const char* name) {
    Cell* v = context::get_by_symbol(symbol::make(name), context::global());
    if (v) *v = unset_cell();
}

}  // namespace

void finish_boot() {
    take_away("boot-routine");
    take_away("global-object");
    attach_bodies();
    // Handles are held in plain C++ containers here: nothing may move meanwhile.
    bool was = collector::enabled();
    collector::set_enabled(false);
    lib_context = context::create(512, false, false, 0, context::Kind::plain);
    collector::register_marker(mark_lib_context);
    Rebinder r(lib_context);
    r.gather();
    r.rebind_all();
    collector::set_enabled(was);
    // Helpers of the system object's handlers, which reach them through the
    // library context from now on.
    take_away("float-pretty");
}

Node context_node() { return lib_context; }

Cell value_of(uint32_t sym) {
    Cell* v = context::get_by_symbol(sym, lib_context);
    if (!v) v = context::get_by_symbol(sym, context::global());
    return v ? *v : none_cell();
}

void adopt_context(Node ctx) {
    lib_context = ctx;
    collector::register_marker(mark_lib_context);
}

}  // namespace zan::library
