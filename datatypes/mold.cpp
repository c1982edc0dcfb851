// Form and mold: writing helpers, slot dispatch and the cycle guard.
//
// The guard is a fixed array searched linearly: nesting depth, not value
// count, sets its cost. Its entries are marked as roots, which also rewrites
// them when a collection evacuates node frames.
#include "datatypes/mold.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::mold {

namespace {
Node guard[cycle_capacity];
int top = 0;
}  // namespace

int32_t append(Node buffer, std::string_view ascii, int32_t budget) {
    string::append_ascii(buffer, ascii);
    return budget - int32_t(ascii.size());
}

int32_t append_char(Node buffer, uint32_t cp, int32_t budget) {
    string::append_char(buffer, cp);
    return budget - 1;
}

int32_t indent(Node buffer, int32_t level, int32_t budget) {
    for (int32_t i = 0; i < level; ++i) string::append_ascii(buffer, "    ");
    return level > 0 ? budget - 4 * level : budget;
}

int32_t form_value(const Cell& value, Node buffer, bool part, int32_t budget) {
    auto fn = datatype::row(type_of(value)).form.fn;
    if (!fn) errors::expect_arg(value, 1);
    return fn(value, buffer, part, budget);
}

int32_t mold_value(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                   int32_t budget, int32_t level) {
    auto fn = datatype::row(type_of(value)).mold.fn;
    if (!fn) errors::expect_arg(value, 1);
    return fn(value, buffer, flags, part, budget, level);
}

namespace {

template <typename Write>
Cell text_of(const Cell& value, int32_t limit, Write write) {
    Cell held = value;
    collector::Root keep(held);
    bool part = limit >= 0;
    Node buffer = string::make_buffer(part && limit < 1 ? 1 : 16, 1);
    collector::NodeRoot keep_buffer(buffer, collector::NodeRoot::As::buffer);
    if (!part || limit >= 1) {
        write(held, buffer, part, part ? limit : no_limit);
        if (part) string::truncate(buffer, uint32_t(limit));
    }
    return string::make_cell(buffer, 0, Type::string);
}

}  // namespace

Cell form_string(const Cell& value, int32_t limit) {
    return text_of(value, limit, [](const Cell& v, Node buffer, bool part, int32_t budget) {
        form_value(v, buffer, part, budget);
    });
}

Cell mold_string(const Cell& value, actions::MoldFlags flags, int32_t limit) {
    return text_of(value, limit, [flags](const Cell& v, Node buffer, bool part, int32_t budget) {
        mold_value(v, buffer, flags, part, budget, 0);
    });
}

std::string form_text(const Cell& value, int32_t limit) {
    Cell s = form_string(value, limit);
    collector::Root keep(s);
    return string::to_utf8(s);
}

std::string mold_text(const Cell& value, actions::MoldFlags flags, int32_t limit) {
    Cell s = mold_string(value, flags, limit);
    collector::Root keep(s);
    return string::to_utf8(s);
}

// --- cycle guard ------------------------------------------------------------------

namespace {
// The walked series are live anyway; marking the entries keeps their handles
// current when a collection gives nodes new ones.
void mark_guard() {
    for (int i = 0; i < top; ++i) collector::mark_series(guard[i]);
}
}  // namespace

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    collector::register_marker(mark_guard);
}

void cycle_push(Node n) {
    guard[top++] = n;
    if (top == cycle_capacity) {
        top = 0;
        errors::fire(errors::id::too_deep);
    }
}

void cycle_pop() {
    if (top > 0) --top;
}

void cycle_drop(int n) { top = n > top ? 0 : top - n; }

void cycle_reset() { top = 0; }

bool cycle_find(Node n) {
    for (int i = 0; i < top; ++i)
        if (guard[i] == n) return true;
    return false;
}

int cycle_depth() { return top; }

bool cycle_detect(const Cell& value, Node buffer, int32_t& budget, bool mold) {
    Type t = type_of(value);
    Node n = t == Type::object ? value.w1 : value.w2;
    if (!cycle_find(n)) return false;
    std::string_view text = "...";
    if (mold) {
        switch (t) {
        case Type::block: case Type::hash: text = "[...]"; break;
        case Type::paren: text = "(...)"; break;
        case Type::map: text = "#[...]"; break;
        case Type::object: text = "make object! [...]"; break;
        default: break;
        }
    }
    budget = append(buffer, text, budget);
    return true;
}

CycleScope::CycleScope(Node n) : depth_(top) { cycle_push(n); }

CycleScope::CycleScope(Node a, Node b) : depth_(top) {
    cycle_push(a);
    cycle_push(b);
}

// A too-deep error empties the guard before unwinding; never grow it back.
CycleScope::~CycleScope() {
    if (top > depth_) top = depth_;
}

}  // namespace zan::mold
