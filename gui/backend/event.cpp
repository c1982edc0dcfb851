// event!: what every native input or window notification is to scripts.
//
// The cell: w1 the event type (1-35), w3 the flags in bits 22-31 and the key
// (a key code, a character of up to 21 bits, an item index) below them.
// Header bit 12 marks an event made by `make event!`: its w2 is 0 or the node
// of a block of four cells (face, window, offset, picked), marked by the
// collector. A native event's w2 is the id of a pooled message record with a
// generation in its upper bits: once the message is dispatched the record is
// freed, and an event kept past that reads its native fields as none.
#include <array>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/mold.h"
#include "datatypes/scalar.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/backend/event.h"
#include "gui/backend/spine.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::gui {

namespace {

constexpr uint32_t by_script = 0x1000;

constexpr std::array<const char*, evt::count + 1> type_words = {
    "",        "down",     "up",       "mid-down",  "mid-up",    "alt-down", "alt-up",
    "aux-down", "aux-up",  "click",    "dbl-click", "wheel",     "over",     "key",
    "key-down", "key-up",  "ime",      "focus",     "unfocus",   "enter",    "zoom",
    "pan",     "rotate",   "two-tap",  "press-tap", "select",    "change",   "menu",
    "close",   "move",     "resize",   "moving",    "resizing",  "time",     "drawing",
    "scroll"};

// Flag words in the order `flags` lists them.
struct FlagWord {
    const char* word;
    uint32_t bit;
};
constexpr FlagWord flag_words[] = {
    {"away", flag::away},         {"down", flag::down},       {"mid-down", flag::mid_down},
    {"alt-down", flag::alt_down}, {"aux-down", flag::aux_down}, {"control", flag::control},
    {"shift", flag::shift},       {"alt", flag::alt},         {"command", flag::command},
};

enum Field : int {
    f_type = 1, f_face, f_window, f_offset, f_key, f_picked, f_flags, f_away, f_down, f_mid_down,
    f_alt_down, f_aux_down, f_ctrl, f_shift, f_orientation
};
constexpr std::initializer_list<const char*> field_words = {
    "type", "face", "window", "offset", "key", "picked", "flags", "away?", "down?",
    "mid-down?", "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation"};
// The flag bit each logic field tests.
constexpr uint32_t field_bits[] = {flag::away, flag::down, flag::mid_down, flag::alt_down,
                                   flag::aux_down, flag::control, flag::shift};

// Words of the keys that make no character, by key code.
struct KeyWord {
    uint32_t code;
    const char* word;
};
constexpr KeyWord key_words[] = {
    {0x21, "page-up"},      {0x22, "page-down"},     {0x23, "end"},         {0x24, "home"},
    {0x25, "left"},         {0x26, "up"},            {0x27, "right"},       {0x28, "down"},
    {0x2D, "insert"},       {0x2E, "delete"},        {0x70, "F1"},          {0x71, "F2"},
    {0x72, "F3"},           {0x73, "F4"},            {0x74, "F5"},          {0x75, "F6"},
    {0x76, "F7"},           {0x77, "F8"},            {0x78, "F9"},          {0x79, "F10"},
    {0x7A, "F11"},          {0x7B, "F12"},           {0xA0, "left-shift"},  {0xA1, "right-shift"},
    {0xA2, "left-control"}, {0xA3, "right-control"}, {0x14, "caps-lock"},   {0x90, "num-lock"},
    {0xA4, "left-alt"},     {0xA5, "right-alt"},     {0x5B, "left-command"}, {0x5C, "right-command"},
    {0x91, "scroll-lock"},  {0x13, "pause"},
};

Cell word_of(const char* name) { return word::load(name); }

uint32_t canonical(const Cell& w) { return symbol::resolve(word_symbol(w)); }
bool word_is(const Cell& w, const char* name) {
    return canonical(w) == symbol::resolve(symbol::make(name));
}

// --- the message pool ---

struct Pooled {
    Message m;
    uint32_t generation = 1;
    bool used = false;
};
std::vector<Pooled> pool;

void mark_pool() {
    for (Pooled& p : pool)
        if (p.used) collector::mark_cell(p.m.picked);
}

// --- fields ---

Cell script_part(const Cell& ev, int i) {
    if (!ev.w2) {
        static const Cell defaults[] = {none_cell(), none_cell(), pair_cell(0, 0), integer_cell(0)};
        return defaults[i];
    }
    memory::Series* b = memory::buffer(ev.w2);
    return b->length() > uint32_t(i) ? b->cells()[i] : none_cell();
}

Cell flags_block(uint32_t w3) {
    Cell b;
    block::make_at(b, 8);
    collector::Root keep(b);
    for (const FlagWord& f : flag_words)
        if (f.bit != flag::command && (w3 & f.bit)) word::make_in_text(f.word, b);
    return b;
}

bool has_offset(uint32_t type) {
    return (type >= evt::down && type <= evt::over) || (type >= evt::move && type <= evt::resizing) ||
           (type >= evt::key && type <= evt::key_up) || (type >= evt::zoom && type <= evt::press_tap) ||
           type == evt::menu;
}

Cell native_face(const Message& m, bool window) {
    uint32_t h = m.window;
    if (window) {
        GtkWidget* w = windows::get(h);
        if (!w) return none_cell();
        h = spine::face_window_of(gtk_widget_get_toplevel(w));
    }
    return face_of(h);
}

Cell native_key(const Cell& ev, const Message& m) {
    uint32_t type = ev.w1;
    if (type == evt::wheel) return word_of("wheel");
    if (type == evt::scroll) {
        static const char* vertical[] = {"up", "down", "page-up", "page-down", "end", "track"};
        static const char* horizontal[] = {"left", "right", "page-left", "page-right", "end", "track"};
        int code = m.param & 0xFF;
        const char** words = (m.param & 0x100) ? horizontal : vertical;
        return word_of(code >= 0 && code <= 5 ? words[code] : "end");
    }
    if (type < evt::key || type > evt::key_up) return none_cell();
    uint32_t k = ev.w3 & flag::key_mask;
    if (m.special < 0) return k ? char_cell(k) : none_cell();
    for (const KeyWord& kw : key_words)
        if (kw.code == uint32_t(m.special)) return word_of(kw.word);
    return type == evt::key ? none_cell() : char_cell(k & 0xFFFF);
}

Cell native_picked(const Cell& ev, const Message& m) {
    if (!is(m.picked, Type::none)) return m.picked;
    switch (ev.w1) {
    case evt::wheel: return float_cell(m.wheel);
    case evt::down: case evt::mid_down: case evt::alt_down: case evt::aux_down: case evt::dbl_click:
        return none_cell();
    default: return integer_cell(int16_t(ev.w3 & 0xFFFF));
    }
}

Cell read_field(const Cell& ev, int field) {
    uint32_t type = ev.w1;
    bool script = (ev.header & by_script) != 0;
    switch (field) {
    case f_type:
        if (type < 1 || type > evt::count) return none_cell();
        return word_of(type_words[type]);
    case f_flags: return flags_block(ev.w3);
    case f_away: case f_down: case f_mid_down: case f_alt_down: case f_aux_down: case f_ctrl:
    case f_shift:
        return logic_cell((ev.w3 & field_bits[field - f_away]) != 0);
    default: break;
    }
    if (script) {
        switch (field) {
        case f_face: return script_part(ev, 0);
        case f_window: return script_part(ev, 1);
        case f_offset: return script_part(ev, 2);
        case f_picked: return script_part(ev, 3);
        case f_key: {
            uint32_t k = ev.w3 & flag::key_mask;
            return k ? char_cell(k) : none_cell();
        }
        default: return none_cell();
        }
    }
    Message* m = spine::message(ev.w2);
    if (!m) return none_cell();
    switch (field) {
    case f_face: return native_face(*m, false);
    case f_window: return native_face(*m, true);
    case f_offset: {
        if (!has_offset(type)) return none_cell();
        Cell p = point_cell(Type::point2d, float(to_logical(m->x)), float(to_logical(m->y)));
        if (type == evt::resize || type == evt::resizing) {
            GtkWidget* w = windows::get(m->window);
            WidgetRecord* r = w ? record_of(w) : nullptr;
            if (r && (r->face_kind & 0x10)) return pair_cell(int32_t(point_coord(p, 0)), int32_t(point_coord(p, 1)));
        }
        return p;
    }
    case f_key: return native_key(ev, *m);
    case f_picked: return native_picked(ev, *m);
    case f_orientation:
        if (type != evt::scroll) return none_cell();
        return word_of((m->param & 0x100) ? "horizontal" : "vertical");
    default: return none_cell();
    }
}

// --- actions ---

// The value a spec word stands for: its value when it is a bound word or get-word.
Cell spec_value(const Cell& v) {
    if ((is(v, Type::word) || is(v, Type::get_word)) && word_context(v)) {
        Cell* got = context::get(v);
        if (got && !is(*got, Type::unset)) return *got;
    }
    return v;
}

void make(actions::Args args, Type) {
    Cell spec = args[1];
    Cell ev = make_cell(Type::event);
    ev.header |= by_script;
    Cell parts[4] = {none_cell(), none_cell(), pair_cell(0, 0), integer_cell(0)};
    bool any_part = false;
    if (is(spec, Type::block)) {
        uint32_t n;
        const Cell* first = scalar::block_values(spec, n);
        (void)first;
        for (uint32_t i = 0; i + 1 < n; ++i) {
            // Re-read each time: looking a word up may allocate.
            Cell key = scalar::block_values(spec, n)[i];
            if (!is(key, Type::set_word)) continue;
            Cell value = spec_value(scalar::block_values(spec, n)[i + 1]);
            Cell field = key;
            set_type(field, Type::word);
            if (word_is(field, "type")) {
                if (is(value, Type::word) || is(value, Type::lit_word)) {
                    uint32_t t = spine::type_of_word(value);
                    if (!t) errors::fire(spine::script_error("not-event-type"), &value);
                    ev.w1 = t;
                }
            } else if (word_is(field, "key")) {
                if (is(value, Type::char_)) ev.w3 |= int_of(value) & flag::key_mask;
            } else if (word_is(field, "flags")) {
                if (is(value, Type::block)) {
                    uint32_t m;
                    for (uint32_t j = 0; j < (scalar::block_values(value, m), m); ++j) {
                        Cell w = scalar::block_values(value, m)[j];
                        if (!is(w, Type::word)) continue;
                        for (const FlagWord& f : flag_words)
                            if (word_is(w, f.word)) ev.w3 |= f.bit;
                    }
                }
            } else if (word_is(field, "face") || word_is(field, "window")) {
                if (is(value, Type::object)) {
                    parts[word_is(field, "face") ? 0 : 1] = value;
                    any_part = true;
                }
            } else if (word_is(field, "offset")) {
                if (is(value, Type::pair) || is(value, Type::point2d)) {
                    parts[2] = value;
                    any_part = true;
                }
            } else if (word_is(field, "picked")) {
                if (is(value, Type::integer)) {
                    parts[3] = value;
                    any_part = true;
                }
            }
        }
    }
    if (any_part) {
        Cell b;
        collector::Root k0(parts[0]), k1(parts[1]), k2(parts[2]), k3(parts[3]);
        block::make_at(b, 4);
        collector::Root keep(b);
        for (const Cell& p : parts) block::rs_append(b, p);
        ev.w2 = series_node(b);
    }
    args[0] = ev;
}

int32_t form(const Cell&, Node buffer, bool, int32_t budget) { return mold::append(buffer, "event", budget); }
int32_t mold(const Cell&, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return mold::append(buffer, "event", budget);
}

// Any two events are equal; they have no order.
int32_t compare(const Cell&, const Cell& b, int32_t op) {
    if (!is(b, Type::event)) return -2;
    switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12: return 0;
    default: return -2;
    }
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    int32_t field = is(*s.element, Type::word) ? scalar::field_of_word(*s.element, field_words) : 0;
    if (!s.value_to_set) {
        if (field == 0) scalar::invalid_path(s);
        result = read_field(parent, field);
        return;
    }
    Cell path = s.path ? *s.path : none_cell();
    if (field != f_type || !is(*s.value_to_set, Type::word))
        errors::fire(errors::id::bad_path_set, &path, s.element);
    uint32_t t = spine::type_of_word(*s.value_to_set);
    if (!t) errors::fire(spine::script_error("not-event-type"), s.value_to_set);
    scalar::target(parent).w1 = t;
    result = *s.value_to_set;
}

void pick(actions::Args args, int32_t index) {
    const Cell& by = args[1];
    if (is(by, Type::word)) index = scalar::field_of_word(by, field_words);
    else if (!is(by, Type::integer)) scalar::out_of_range(by);
    if (index < 1 || index > f_orientation) scalar::out_of_range(by);
    args[0] = read_field(args[0], index);
}

}  // namespace

namespace spine {

errors::Id script_error(const char* name) {
    int id = error::catalog::find_id(int(errors::Category::script), name);
    return errors::Id{errors::Category::script, uint8_t(id + 2)};
}

uint32_t open_message(const Message& m) {
    if (pool.empty()) collector::register_marker(mark_pool);
    size_t i = 0;
    while (i < pool.size() && pool[i].used) ++i;
    if (i == pool.size()) pool.emplace_back();
    pool[i].m = m;
    pool[i].used = true;
    return pool[i].generation << 12 | uint32_t(i + 1);
}

void close_message(uint32_t id) {
    size_t i = (id & 0xFFF) - 1;
    if (i >= pool.size() || !pool[i].used || pool[i].generation != id >> 12) return;
    pool[i].used = false;
    pool[i].m = Message{};
    if (++pool[i].generation >= 0xFFFFF) pool[i].generation = 1;
}

Message* message(uint32_t id) {
    size_t i = (id & 0xFFF) - 1;
    if (id == 0 || i >= pool.size() || !pool[i].used || pool[i].generation != id >> 12) return nullptr;
    return &pool[i].m;
}

Cell native_event(uint32_t type, uint32_t message_id, uint32_t w3) {
    return make_cell(Type::event, type, message_id, w3);
}

uint32_t type_symbol(uint32_t type) {
    return type >= 1 && type <= evt::count ? symbol::make(type_words[type]) : 0;
}

uint32_t type_of_word(const Cell& word) {
    uint32_t sym = canonical(word);
    for (uint32_t t = 1; t <= evt::count; ++t)
        if (symbol::resolve(symbol::make(type_words[t])) == sym) return t;
    return 0;
}

}  // namespace spine

namespace event {

void init() {
    actions::Row row;
    row.make = make;
    row.form = form;
    row.mold = mold;
    row.eval_path = eval_path;
    row.compare = compare;
    row.pick = pick;
    datatype::register_type(Type::event, Type::any, "event!", row);
}

bool find_flag(const Cell& facet, const Cell& flag) {
    uint32_t sym = canonical(flag);
    if (is(facet, Type::word)) return canonical(facet) == sym;
    if (!is(facet, Type::block)) return false;
    uint32_t n;
    const Cell* v = scalar::block_values(facet, n);
    for (uint32_t i = 0; i < n; ++i)
        if ((is(v[i], Type::word) || is(v[i], Type::lit_word)) && canonical(v[i]) == sym) return true;
    return false;
}

}  // namespace event

}  // namespace zan::gui
