// The low-level routines the boot scripts declare (library/routines.zan): what
// only the runtime can do for script code. Each reads its type-checked
// arguments at args and leaves its result in args[0]. The OS routines
// (directories, clipboard, standard output) live with the platform services;
// quit-return lives with the runner, which owns the process's exit.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "evaluator/natives_math.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "gui/backend/backend.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"

namespace zan::library {

namespace {

bool is_any(const Cell& c, std::initializer_list<Type> types) {
    for (Type t : types)
        if (is(c, t)) return true;
    return false;
}

// set-quiet word value: sets without running on-change*.
void set_quiet(Cell* args) {
    if (!is_any(args[0], {Type::word, Type::set_word, Type::get_word, Type::lit_word}))
        errors::expect_arg(args[0], 0);
    Node ctx = word_context(args[0]) ? word_context(args[0]) : context::global();
    Cell word = args[0];
    context::set_in(word, args[1], ctx, false);
    args[0] = args[1];
}

// set-slot-quiet series value: overwrites the head cell, owner not told.
void set_slot_quiet(Cell* args) {
    if (!is_any(args[0], {Type::block, Type::paren, Type::path, Type::lit_path, Type::set_path,
                          Type::get_path}))
        errors::expect_arg(args[0], 0);
    memory::Series* b = memory::buffer(series_node(args[0]));
    if (series_index(args[0]) < b->length()) {
        Cell v = args[1];
        b->cells()[series_index(args[0])] = v;
    }
    args[0] = unset_cell();
}

void shift_right(Cell* args) {
    args[0] = integer_cell(natives::shift_bits(int_of(args[0]), int_of(args[1]), natives::Shift::right));
}
void shift_left(Cell* args) {
    args[0] = integer_cell(natives::shift_bits(int_of(args[0]), int_of(args[1]), natives::Shift::left));
}
void shift_logical(Cell* args) {
    args[0] = integer_cell(natives::shift_bits(int_of(args[0]), int_of(args[1]), natives::Shift::logical));
}

// Whether the last print ended its line: the print hook records it.
bool last_line_ended = true;
void note_print(const Cell&, bool newline) { last_line_ended = newline; }
void last_lf(Cell* args) { args[0] = logic_cell(last_line_ended); }

// Tuples: header bits 19 up hold the length, the bytes follow in memory order.
Cell tuple_of(const uint8_t* bytes, int count) {
    uint8_t all[12] = {};
    std::memcpy(all, bytes, size_t(count));
    Cell c = make_cell(Type::tuple);
    c.header |= uint32_t(count) << 19;
    std::memcpy(&c.w1, all, 4);
    std::memcpy(&c.w2, all + 4, 4);
    std::memcpy(&c.w3, all + 8, 4);
    return c;
}

void check_components(Cell* args, int count) {
    for (int i = 0; i < count; ++i)
        if (int_of(args[i]) < 0) errors::fire(errors::id::invalid_arg, &args[i]);
}

void as_color(Cell* args) {
    check_components(args, 3);
    uint8_t bytes[3];
    for (int i = 0; i < 3; ++i) bytes[i] = uint8_t(int_of(args[i]) & 0xFF);
    args[0] = tuple_of(bytes, 3);
}

// Components above 255 carry their high bits into the following bytes.
void as_ipv4(Cell* args) {
    check_components(args, 4);
    uint32_t packed = 0;
    for (int i = 0; i < 4; ++i) packed |= uint32_t(int_of(args[i])) << (8 * i);
    uint8_t bytes[4];
    std::memcpy(bytes, &packed, 4);
    args[0] = tuple_of(bytes, 4);
}

// count-chars start pos: characters by their lead bytes, from start's position
// up to pos's index; never past start's tail, whatever pos belongs to.
void count_chars(Cell* args) {
    memory::Series* b = memory::buffer(series_node(args[0]));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(b->at_head());
    uint32_t end = std::min(series_index(args[1]), b->length());
    int32_t n = 0;
    for (uint32_t i = series_index(args[0]); i < end; ++n) {
        uint8_t lead = bytes[i];
        i += lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }
    args[0] = integer_cell(n);
}

void stack_size(Cell* args) { args[0] = integer_cell(int32_t(stack::s.top - stack::s.bottom)); }

void pick_stack(Cell* args) {
    int32_t idx = int_of(args[0]);
    int32_t size = int32_t(stack::s.top - stack::s.bottom);
    args[0] = idx > 0 && idx < size ? stack::s.bottom[idx - 1] : none_cell();
}

void frame_index(Cell* args) { args[0] = integer_cell(int32_t(stack::s.base - stack::s.bottom)); }

void collect_calls(Cell* args) {
    stack::collect_calls(args[0]);
    args[0] = unset_cell();
}

void tracing(Cell* args) { args[0] = logic_cell(trace::on); }

// trace true/false: switches tracing, but on only inside a traced run.
void trace_mode(Cell* args) {
    trace::on = is(args[0], Type::logic) && args[0].w1 != 0 && trace::in_run();
    args[0] = unset_cell();
}

void gc_active(Cell* args) { args[0] = logic_cell(collector::enabled()); }
void gc_series_cycles(Cell* args) { args[0] = integer_cell(int32_t(collector::cycles())); }
void gc_nodes_cycles(Cell* args) { args[0] = integer_cell(int32_t(collector::node_cycles())); }

// True when any frame up the chain was opened by the interpreter.
void interpreted(Cell* args) {
    bool found = false;
    for (stack::Frame* f = stack::s.frame_top; f > stack::s.frame_bottom && !found;)
        found = ((--f)->header & stack::bits::interp) != 0;
    args[0] = logic_cell(found);
}

// The global context as an object, recorded as the context's owner.
void global_object(Cell* args) {
    Node g = context::global();
    Cell o = make_cell(Type::object, g, uint32_t(-1), 0);
    context::owner(g) = o;
    args[0] = o;
}

// boot-routine key spec: a routine! of the registry's function under key,
// for the routines the boot scripts store in objects. Gone after start-up.
void boot_routine(Cell* args) {
    uint32_t index = routines::find(symbol::name(word_symbol(args[0])));
    if (!index) errors::fire(errors::id::not_done, &args[0]);
    args[0] = routine::push(args[1], none_cell(), int32_t(index), -1, false);
}

struct Entry {
    const char* key;
    routines::Fn fn;
};
const Entry entries[] = {
    {"set-quiet", set_quiet},
    {"set-slot-quiet", set_slot_quiet},
    {"shift-right", shift_right},
    {"shift-left", shift_left},
    {"shift-logical", shift_logical},
    {"last-lf?", last_lf},
    {"as-color", as_color},
    {"as-ipv4", as_ipv4},
    {"as-rgba", as_ipv4},
    {"count-chars", count_chars},
    {"stack-size?", stack_size},
    {"pick-stack", pick_stack},
    {"frame-index?", frame_index},
    {"collect-calls", collect_calls},
    {"tracing?", tracing},
    {"trace-mode", trace_mode},
    {"gc-active?", gc_active},
    {"gc-series-cycles", gc_series_cycles},
    {"gc-nodes-cycles", gc_nodes_cycles},
    {"interpreted?", interpreted},
    {"global-object", global_object},
    {"boot-routine", boot_routine},
};

}  // namespace

void register_routines() {
    for (const Entry& e : entries) routines::add(e.key, e.fn);
    register_codec_routines();
    register_image_codec_routines();
    register_json_routines();
    register_csv_routines();
    gui::register_routines();
    gui::register_view_bodies();
    gui::register_face_change_body();
    output::add_hooks(note_print, nullptr);
}

}  // namespace zan::library
