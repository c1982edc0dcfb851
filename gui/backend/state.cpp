// The back end's small services: the widget value table that keeps the faces
// of native windows alive, the window handle table, facet access, DPI
// conversion and the hook table.
//
// The value table is one block held by a collector marker. A free cell is an
// integer! holding the index of the next free cell (-1 in the last); a used
// cell holds the value. Indexes handed out are 1-based, so 0 means none.
//
// Window handles are indexes into a table of widgets whose slots carry a
// generation: a handle holds (generation << 20 | slot), never 0, and a handle
// kept after its widget went answers nullptr instead of a freed widget.
#include <cmath>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "gui/backend/backend.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::gui {

Hooks& hooks() {
    static Hooks h;
    return h;
}

// --- widget value table --------------------------------------------------------

namespace values {

namespace {
Cell table = none_cell();
int32_t free_head = -1;
uint32_t cap = 0;

void mark() {
    if (is(table, Type::block)) collector::mark_cell(table);
}

Cell* cells() { return memory::buffer(series_node(table))->cells(); }

void chain(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i) cells()[i] = integer_cell(i + 1 < to ? int32_t(i + 1) : -1);
    free_head = int32_t(from);
}

void grow(uint32_t n) {
    while (uint32_t(block::rs_length(table)) < n) block::append_cell(table);
    chain(cap, n);
    cap = n;
}
}  // namespace

void init() {
    if (is(table, Type::block)) return;
    collector::register_marker(mark);
    block::make_at(table, 100);
    grow(100);
}

uint32_t add(const Cell& value) {
    init();
    Cell v = value;
    collector::Root keep(v);
    if (free_head < 0) grow(cap * 2);
    uint32_t i = uint32_t(free_head);
    free_head = int_of(cells()[i]);
    cells()[i] = v;
    return i + 1;
}

Cell* get(uint32_t index) { return index && index <= cap ? &cells()[index - 1] : nullptr; }

void remove(uint32_t index) {
    if (index == 0 || index > cap) return;
    cells()[index - 1] = integer_cell(free_head);
    free_head = int32_t(index - 1);
}

uint32_t capacity() { return cap; }

}  // namespace values

// --- window handles -------------------------------------------------------------

namespace windows {

namespace {
constexpr uint32_t slot_bits = 20, slot_mask = (1u << slot_bits) - 1, generations = 1u << (32 - slot_bits);
struct Slot {
    GtkWidget* widget = nullptr;
    uint32_t generation = 1;  // 1 .. generations - 1
};
std::vector<Slot> slots(1);  // slot 0 is never used
std::vector<uint32_t> free_slots;
}  // namespace

uint32_t add(GtkWidget* w) {
    uint32_t i;
    if (!free_slots.empty()) {
        i = free_slots.back();
        free_slots.pop_back();
    } else {
        // Past the last slot a handle could not name it: no window.
        if (slots.size() > slot_mask) return 0;
        i = uint32_t(slots.size());
        slots.push_back({});
    }
    slots[i].widget = w;
    g_object_ref(w);
    return slots[i].generation << slot_bits | i;
}

GtkWidget* get(uint32_t handle) {
    uint32_t i = handle & slot_mask;
    if (i == 0 || i >= slots.size()) return nullptr;
    if (slots[i].generation != (handle >> slot_bits) || !slots[i].widget) return nullptr;
    return slots[i].widget;
}

void remove(uint32_t handle) {
    GtkWidget* w = get(handle);
    if (!w) return;
    uint32_t i = handle & slot_mask;
    slots[i].widget = nullptr;
    if (++slots[i].generation == generations) slots[i].generation = 1;
    free_slots.push_back(i);
    g_object_unref(w);
}

}  // namespace windows

// --- facets -----------------------------------------------------------------------

namespace {
constexpr const char* facet_names[facet::count] = {
    "type", "offset", "size", "text", "image", "color", "menu", "data", "enabled?", "visible?",
    "selected", "flags", "options", "parent", "pane", "state", "rate", "edge", "para", "font",
    "actors", "extra", "draw"};

// The value slot of a field by its resolved symbol, or nullptr. Position
// first (faces), then the name, so a small object is never read past its end.
Cell* field_slot(const Cell& object, int position, uint32_t sym) {
    if (!is(object, Type::object)) return nullptr;
    Node ctx = object::context_node(object);
    if (position >= 0 && uint32_t(position) < context::length(ctx) &&
        symbol::resolve(word_symbol(context::word_at(ctx, position))) == sym)
        return context::value_at(ctx, position);
    int32_t i = context::find_word(ctx, sym, true);
    return i >= 0 ? context::value_at(ctx, i) : nullptr;
}

// Facets are read on every event and measure: their symbols are looked up
// once (symbols are never removed).
uint32_t facet_symbol(int k) {
    static uint32_t known[facet::count] = {};
    if (!known[k]) known[k] = symbol::resolve(symbol::make(facet_names[k]));
    return known[k];
}
}  // namespace

Cell get_facet(const Cell& face, int k) {
    Cell* v = field_slot(face, k, facet_symbol(k));
    return v ? *v : none_cell();
}

Cell get_field(const Cell& object, const char* name) {
    Cell* v = field_slot(object, -1, symbol::resolve(symbol::make(name)));
    return v ? *v : none_cell();
}

void set_facet_quiet(const Cell& face, int k, const Cell& value) {
    if (Cell* v = field_slot(face, k, facet_symbol(k))) *v = value;
}

Cell face_of(uint32_t handle) {
    GtkWidget* w = windows::get(handle);
    WidgetRecord* r = w ? record_of(w) : nullptr;
    if (!r || !r->face_slot) return none_cell();
    Cell* c = values::get(r->face_slot);
    return c ? *c : none_cell();
}

uint32_t face_handle(const Cell& face) {
    Cell state = get_facet(face, facet::state);
    if (!is(state, Type::block) || block::rs_length(state) < 1) return 0;
    Cell h = *block::rs_abs_at(state, int32_t(series_index(state)));
    return is(h, Type::handle) ? handle_value(h) : 0;
}

uint32_t get_flags(const Cell& flags) {
    struct Entry {
        const char* word;
        uint32_t bit;
    };
    static constexpr Entry table[] = {
        {"all-over", 0x1},         {"focusable", 0x2},     {"tri-state", 0x20000},
        {"scrollable", 0x40000},   {"password", 0x80000},  {"no-sync", 0x100000},
        {"fullscreen", 0x200000},  {"popup", 0x1000000},   {"modal", 0x2000000},
        {"resize", 0x4000000},     {"no-buttons", 0x8000000}, {"no-max", 0x10000000},
        {"no-min", 0x20000000},    {"no-title", 0x40000000}, {"no-border", 0x80000000},
    };
    auto one = [](const Cell& w) -> uint32_t {
        if (!is(w, Type::word)) errors::fire(errors::id::invalid_arg, &w);
        uint32_t sym = symbol::resolve(word_symbol(w));
        for (const Entry& e : table)
            if (symbol::resolve(symbol::make(e.word)) == sym) return e.bit;
        errors::fire(errors::id::invalid_arg, &w);
    };
    if (is(flags, Type::word)) return one(flags);
    if (!is(flags, Type::block)) return 0;
    uint32_t bits = 0;
    Cell b = flags;
    collector::Root keep(b);
    for (int32_t i = 0; i < block::rs_length(b); ++i)
        bits |= one(*block::rs_abs_at(b, int32_t(series_index(b)) + i));
    return bits;
}

// --- DPI ----------------------------------------------------------------------------

namespace {
int32_t dpi_now = 0;
double factor_now = 1.0;
int dpi_depth = 0;
}  // namespace

int32_t dpi() { return dpi_now; }
double dpi_factor() { return factor_now; }
void set_dpi(int32_t d, double factor) {
    dpi_now = d;
    factor_now = factor > 0 ? factor : 1.0;
}

int32_t to_physical(double logical) {
    double v = logical * factor_now;
    if (!std::isfinite(v)) return 0;
    v = std::round(v);  // half away from zero, for negatives too
    if (v > 2147483647.0) return INT32_MAX;
    if (v < -2147483648.0) return INT32_MIN;
    return int32_t(v);
}

double to_logical(int32_t physical) { return physical / factor_now; }

// GTK scales whole screens, not windows: a context keeps the DPI it found and
// puts it back, so a window operation never leaves another DPI behind.
DpiContext::DpiContext(uint32_t) : previous(dpi_now), previous_factor(factor_now) { ++dpi_depth; }
DpiContext::~DpiContext() {
    --dpi_depth;
    if (previous != dpi_now) set_dpi(previous, previous_factor);
}

}  // namespace zan::gui
