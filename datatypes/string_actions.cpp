// string! actions: making, converting, comparing, adding text (append,
// insert, change), swapping and trimming.
//
// Adding text works in two steps: the value's text is made ready as a string
// (the value itself when it is text in another buffer, else a fresh buffer
// holding the formed text), then it is copied into the series with the
// storage's concatenation. Text that comes from the series' own buffer is
// copied out first, so the copy never reads characters it has just moved.
// Nothing keeps a buffer address across an allocation: positions are indexes.
#include "datatypes/string_actions.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_search.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zan::string {

namespace {

bool is_block_like(Type t) { return t == Type::block || t == Type::paren || t == Type::hash; }

uint32_t head_index(const Cell& s) {
    return std::min(series_index(s), buffer_length(series_node(s)));
}

// A copy of count characters of s from absolute index from, in a new buffer
// of the same unit.
Cell copy_chars(const Cell& s, uint32_t from, uint32_t count, Type t = Type::string) {
    Node src = series_node(s);
    collector::NodeRoot keep(src);
    uint32_t unit = memory::buffer(src)->unit();
    Node n = memory::alloc_series(count ? count : 1, unit);
    memory::Series* out = memory::buffer(n);
    memory::Series* in = memory::buffer(src);
    std::memcpy(out->at_head(), in->at_head() + from * unit, count * unit);
    out->tail = out->head + count * unit;
    return make_cell(n, 0, t);
}

// The text a value adds, ready to be copied: the value itself when it is
// text outside the target's buffer, else a new string. count is its length.
struct Text {
    Cell cell;
    uint32_t count;
};

Text text_of(Node target, const Cell& value, int32_t part) {
    Type t = type_of(value);
    if (any_string_q(t) && t != Type::tag) {
        uint32_t len = length(value);
        uint32_t n = part >= 0 ? std::min<uint32_t>(len, uint32_t(part)) : len;
        if (series_node(value) != target) return {value, n};
        return {copy_chars(value, head_index(value), n), n};
    }
    Cell fresh = make_value(16);
    collector::Root keep(fresh);
    uint32_t n = append_text(series_node(fresh), value, part);
    return {fresh, n};
}

int32_t dup_count(const Cell* dup) {
    if (!dup) return 1;
    if (is(*dup, Type::integer)) return int_of(*dup);
    return integer::number_to_integer(*dup);
}

int32_t value_part(const Cell& value, const Cell* part) {
    if (!part) return -1;
    if (is(*part, Type::integer)) return std::max(int_of(*part), -1);
    if (any_string_q(type_of(value)) && series_node(*part) == series_node(value) &&
        type_of(*part) == type_of(value))
        return std::max(int32_t(series_index(*part)) - int32_t(head_index(value)), 0);
    series::fire_refine_arg("part", *part);
}

// Raises no-memory, before anything changes, when the series could not hold
// the text dup times more.
void check_room(const Cell& series, const Text& text, int32_t dup) {
    memory::Series* b = memory::buffer(series_node(series));
    uint64_t unit = std::max(b->unit(), memory::buffer(series_node(text.cell))->unit());
    uint64_t chars = uint64_t(b->length()) + uint64_t(text.count) * uint64_t(std::max(dup, 0));
    // A buffer's size in bytes, with its header, is a positive 32-bit number:
    // a longer text is refused before anything is allocated or moved.
    uint64_t bytes = (chars * unit + 15) / 16 * 16 + sizeof(memory::Series);
    if (bytes > uint64_t(INT32_MAX) || chars * unit > memory::max_capacity)
        errors::fire(errors::id::no_memory);
}

// The text dup times over, as one fresh string of the text's own unit: filled
// by doubling, so that inserting it costs one move of the target's tail.
Cell repeated(const Text& text, int32_t dup) {
    uint32_t unit = memory::buffer(series_node(text.cell))->unit();
    uint32_t total = text.count * uint32_t(dup);
    Node n = make_buffer(total, unit);
    // Nothing allocates from here on: the raw addresses stay valid.
    memory::Series* src = memory::buffer(series_node(text.cell));
    memory::Series* dst = memory::buffer(n);
    uint32_t one = text.count * unit, all = total * unit;
    std::memcpy(dst->at_head(), src->at_head() + size_t(head_index(text.cell)) * unit, one);
    for (uint32_t done = one; done < all;) {
        uint32_t k = std::min(done, all - done);
        std::memcpy(dst->at_head() + done, dst->at_head(), k);
        done += k;
    }
    dst->tail = dst->head + all;
    return make_cell(n);
}

// Inserts (or, at the tail, appends) the text dup times at absolute index at.
void insert_text(const Cell& series, const Text& text, uint32_t at, int32_t dup) {
    if (text.count == 0 || dup < 1) return;
    Cell target = series;
    target.w1 = at;
    collector::Root keep(target);
    Cell source = dup > 1 ? repeated(text, dup) : text.cell;
    collector::Root keep_source(source);
    concatenate(target, source, int32_t(text.count * uint32_t(dup)), 0, true, Mode::insert);
}

// Whitespace for trim: controls and space, and the Unicode spaces and breaks.
bool white_q(uint32_t c) {
    return (c >= 1 && c <= 32) || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// What a line loses at its ends: spaces, tabs and the Unicode spaces.
bool space_q(uint32_t c) {
    return c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::u32string read_chars(const Cell& s) {
    Node n = series_node(s);
    std::u32string out;
    uint32_t len = buffer_length(n);
    for (uint32_t i = head_index(s); i < len; ++i) out.push_back(char32_t(char_at(n, i)));
    return out;
}

// Writes the characters back from the series' head and moves the tail behind
// them; they were taken from the buffer, so they fit its unit.
void write_chars(const Cell& s, const std::u32string& text) {
    memory::Series* b = memory::buffer(series_node(s));
    uint32_t unit = b->unit(), head = head_index(s);
    std::byte* p = b->at_head() + head * unit;
    for (char32_t c : text) {
        put_char(p, unit, uint32_t(c));
        p += unit;
    }
    b->tail = b->head + (head + uint32_t(text.size())) * unit;
}

std::u32string trim_lines(const std::u32string& in) {
    std::u32string out;
    bool pending = false;
    for (char32_t c : in) {
        if (white_q(c)) {
            pending = !out.empty();
            continue;
        }
        if (pending) out.push_back(U' ');
        pending = false;
        out.push_back(c);
    }
    return out;
}

std::u32string trim_ends(const std::u32string& in, bool head, bool tail) {
    size_t from = 0, to = in.size();
    if (!tail)
        while (from < to && white_q(in[from])) ++from;
    bool kept_line = false;
    if (!head) {
        size_t end = to;
        while (to > from && white_q(in[to - 1])) --to;
        kept_line = in.substr(to, end - to).find(U'\n') != std::u32string::npos;
    }
    std::u32string mid = in.substr(from, to - from);
    if (head || tail) return mid;
    // Neither: every line also loses its spaces at both ends.
    std::u32string out;
    size_t start = 0;
    while (true) {
        size_t nl = mid.find(U'\n', start);
        size_t end = nl == std::u32string::npos ? mid.size() : nl;
        size_t a = start, b = end;
        while (a < b && space_q(mid[a])) ++a;
        while (b > a && space_q(mid[b - 1])) --b;
        out.append(mid, a, b - a);
        if (nl == std::u32string::npos) break;
        out.push_back(U'\n');
        start = nl + 1;
    }
    if (kept_line) out.push_back(U'\n');
    return out;
}

}  // namespace

// --- helpers ------------------------------------------------------------------------

bool any_string_q(Type t) {
    return t == Type::string || t == Type::file || t == Type::url || t == Type::tag ||
           t == Type::email || t == Type::ref;
}

Cell make_value(uint32_t capacity, Type t) { return make_cell(make_buffer(capacity), 0, t); }

Cell word_of(const char* name) {
    return zan::make_cell(Type::word, 0, symbol::make(name), uint32_t(-1));
}

uint32_t append_text(Node buffer, const Cell& value, int32_t part) {
    collector::NodeRoot keep(buffer);
    Cell held = value;
    collector::Root keep_value(held);
    Cell target = make_cell(buffer);
    uint32_t before = buffer_length(buffer);
    if (part == 0) return 0;
    Type t = type_of(held);
    if (any_string_q(t) && t != Type::tag) {
        concatenate(target, held, part, 0, true, Mode::append);
    } else if (t == Type::char_) {
        append_char(buffer, held.w2);
    } else if (t == Type::tag) {
        int32_t left = part < 0 ? mold::no_limit : part;
        append_char(buffer, '<');
        if (--left > 0) {
            int32_t n = int32_t(std::min<uint32_t>(length(held), uint32_t(left)));
            concatenate(target, held, n, 0, true, Mode::append);
            left -= n;
            if (left > 0) append_char(buffer, '>');
        }
    } else if (is_block_like(t)) {
        Node n = series_node(held);
        int32_t budget = part < 0 ? mold::no_limit : part;
        for (uint32_t i = series_index(held); i < memory::buffer(n)->length(); ++i) {
            if (part >= 0 && budget <= 0) break;
            Cell item = memory::buffer(n)->cells()[i];
            collector::Root keep_item(item);
            uint32_t start = buffer_length(buffer);
            mold::form_value(item, buffer, part >= 0, budget);
            budget -= int32_t(buffer_length(buffer) - start);
        }
    } else {
        mold::form_value(held, buffer, part >= 0, part < 0 ? mold::no_limit : part);
    }
    // Whatever ran past the limit is cut back to it.
    if (part >= 0 && buffer_length(buffer) - before > uint32_t(part))
        truncate(buffer, before + uint32_t(part));
    return buffer_length(buffer) - before;
}

Cell from_binary(const Cell& bin) {
    Node n = series_node(bin);
    memory::Pin pin(n);
    memory::Series* b = memory::buffer(n);
    uint32_t from = std::min(series_index(bin), b->tail - b->head);
    uint32_t bytes = b->tail - b->head - from;
    Cell result = make_value(bytes);
    collector::Root keep(result);
    uint32_t left = 0;
    const auto* src = reinterpret_cast<const uint8_t*>(memory::buffer(n)->at_head() + from);
    unicode::load_utf8_into(src, bytes, result, &left);
    if (left) unicode::fire_invalid_utf8(src + bytes - left, left);
    return result;
}

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type) {
    const Cell& spec = args[1];
    if (is(spec, Type::integer) || is(spec, Type::float_)) {
        int32_t size = integer::number_to_integer(spec);
        if (size < 0) errors::fire(errors::id::out_of_range, &spec);
        args[0] = make_value(uint32_t(size), type);
        return;
    }
    if (type == Type::binary && is(spec, Type::money)) errors::bad_make_arg(args[0], spec);
    to(args, type);
}

void to(Args args, Type type) {
    Cell spec = args[1];
    collector::Root keep(spec);
    Type t = type_of(spec);
    Cell result;
    if (t == Type::none) {
        Cell target = datatype_cell(type);
        errors::fire(errors::id::bad_to_arg, &target, &spec);
    } else if (is_block_like(t)) {
        result = make_value(16);
        collector::Root keep_result(result);
        Node n = series_node(spec);
        for (uint32_t i = series_index(spec); i < memory::buffer(n)->length(); ++i) {
            Cell item = memory::buffer(n)->cells()[i];
            collector::Root keep_item(item);
            append_text(series_node(result), item, -1);
        }
    } else if (any_string_q(t)) {
        result = copy_chars(spec, head_index(spec), length(spec));
    } else if (t == Type::binary) {
        result = from_binary(spec);
    } else {
        result = make_value(16);
        collector::Root keep_result(result);
        mold::form_value(spec, series_node(result), false, mold::no_limit);
    }
    set_type(result, type);
    args[0] = result;
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    const Cell& element = *s.element;
    Cell args[3] = {parent, element, s.value_to_set ? *s.value_to_set : unset_cell()};
    collector::Root r0(args[0]), r1(args[1]), r2(args[2]);
    if (is(element, Type::integer)) {
        const actions::Row& row = datatype::row(type_of(parent));
        auto fn_pick = row.pick.fn;
        auto fn_poke = row.poke.fn;
        if (!(s.value_to_set ? fn_poke != nullptr : fn_pick != nullptr))
            errors::fire(errors::id::not_done);
        if (s.value_to_set)
            fn_poke(args, int_of(element));
        else
            fn_pick(args, int_of(element));
        result = args[0];
        return;
    }
    if (is(element, Type::word)) {
        Cell path = s.path ? *s.path : none_cell();
        errors::fire(errors::id::invalid_path, &path, &element);
    }
    actions::FindRefs r;
    r.case_ = s.case_;
    if (!s.value_to_set) {
        select(args, r);
        result = args[0];
        return;
    }
    r.tail = true;
    find(args, r);
    if (is(args[0], Type::none)) {
        Cell path = s.path ? *s.path : none_cell();
        errors::fire(errors::id::bad_path_set, &path, &element);
    }
    // What follows the key is changed.
    args[1] = *s.value_to_set;
    change(args, nullptr, false, nullptr);
    result = *s.value_to_set;
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Type ta = type_of(a), tb = type_of(b);
    if (ta == tb) return compare_text(a, b, op, false);
    if (any_string_q(tb) && (op == 0 || op == 1)) return compare_text(a, b, op, false);
    return -2;
}

namespace {

// append and insert: the text is made ready (and checked) before the owner
// hears of the change. Answers the characters added.
uint32_t add(Args args, const Cell* part, const Cell* dup, bool at_tail) {
    Cell& s = args[0];
    int32_t limit = value_part(args[1], part);
    int32_t times = dup_count(dup);
    Node n = series_node(s);
    uint32_t at = at_tail ? buffer_length(n) : head_index(s);
    if (times < 1) return 0;
    series::Change what = at_tail ? series::Change::append : series::Change::insert;
    if (is(args[1], Type::char_) && times == 1 && limit != 0) {
        bool owned = series::notify_before(s, what, int32_t(at), 1, &args[1]);
        if (at_tail)
            append_char(n, args[1].w2);
        else
            insert_char_at(n, at, args[1].w2);
        if (owned) series::notify_after(s, what, int32_t(at), 1, &args[1]);
        return 1;
    }
    Text text = text_of(n, args[1], limit);
    collector::Root keep(text.cell);
    check_room(s, text, times);
    uint32_t added = text.count * uint32_t(times);
    bool owned = series::notify_before(s, what, int32_t(at), int32_t(added), &args[1]);
    insert_text(s, text, at, times);
    if (owned) series::notify_after(s, what, int32_t(at), int32_t(added), &args[1]);
    return added;
}

}  // namespace

void append(Args args, const Cell* part, bool, const Cell* dup) { add(args, part, dup, true); }

void insert(Args args, const Cell* part, bool, const Cell* dup) {
    uint32_t at = head_index(args[0]);
    uint32_t added = add(args, part, dup, false);
    args[0].w1 = at + added;
}

void change(Args args, const Cell* part, bool, const Cell* dup) {
    Cell& s = args[0];
    int32_t times = std::max(dup_count(dup), 0);
    uint32_t at = head_index(s);
    Node n = series_node(s);
    int32_t range = -1;
    if (part) {
        int32_t c = series::part_count(s, *part, "part");
        range = std::clamp<int32_t>(c, 0, int32_t(buffer_length(n) - at));
    }
    Text text = text_of(n, args[1], -1);
    collector::Root keep(text.cell);
    check_room(s, text, times);
    uint32_t total = text.count * uint32_t(times);
    bool owned = series::notify_before(s, series::Change::change, int32_t(at),
                                       range < 0 ? int32_t(total) : range, &args[1]);
    if (range >= 0) {
        remove_chars(s, at, uint32_t(range));
        insert_text(s, text, at, times);
    } else {
        Cell target = s;
        target.w1 = at;
        collector::Root keep_target(target);
        if (total > 0) {
            Cell source = times > 1 ? repeated(text, times) : text.cell;
            collector::Root keep_source(source);
            concatenate(target, source, int32_t(total), 0, true, Mode::overwrite);
        }
    }
    if (owned) series::notify_after(s, series::Change::change, int32_t(at), int32_t(total), &args[1]);
    s.w1 = at + total;
}

void swap(Args args) {
    Cell& a = args[0];
    Cell& b = args[1];
    if (!any_string_q(type_of(b)) && !is(b, Type::binary))
        errors::fire(errors::id::invalid_arg, &b);
    if (length(a) == 0 || length(b) == 0) return;
    uint32_t ia = head_index(a), ib = head_index(b);
    uint32_t ca = char_at(series_node(a), ia), cb = char_at(series_node(b), ib);
    // A byte series holds bytes only.
    if (is(a, Type::binary) && cb > 0xFF) {
        Cell c = char_cell(cb);
        errors::fire(errors::id::invalid_arg, &c);
    }
    if (is(b, Type::binary) && ca > 0xFF) {
        Cell c = char_cell(ca);
        errors::fire(errors::id::invalid_arg, &c);
    }
    bool owned_a = series::notify_before(a, series::Change::swap, int32_t(ia), 1);
    bool owned_b = series::notify_before(b, series::Change::swap, int32_t(ib), 1);
    poke_char(series_node(a), ia, cb);
    poke_char(series_node(b), ib, ca);
    if (owned_a) series::notify_after(a, series::Change::swap, int32_t(ia), 1);
    if (owned_b) series::notify_after(b, series::Change::swap, int32_t(ib), 1);
}

void trim(Args args, const actions::TrimRefs& r) {
    Cell& s = args[0];
    if (r.auto_) errors::fire(errors::id::not_done);
    std::u32string in = read_chars(s);
    std::u32string out;
    if (r.all || r.with) {
        std::u32string set = U"\t\n\r ";
        if (r.with) {
            const Cell& w = *r.with;
            if (is(w, Type::char_) || is(w, Type::integer))
                set = std::u32string(1, char32_t(w.w2));
            else if (any_string_q(type_of(w)) || is(w, Type::binary))
                set = read_chars(w);
            else
                errors::fire(errors::id::invalid_arg, &w);
        }
        for (char32_t c : in)
            if (set.find(c) == std::u32string::npos) out.push_back(c);
    } else if (r.lines) {
        out = trim_lines(in);
    } else {
        out = trim_ends(in, r.head, r.tail);
    }
    if (out == in) return;
    int32_t at = int32_t(head_index(s));
    bool owned = series::notify_before(s, series::Change::trim, at, int32_t(in.size()));
    write_chars(s, out);
    if (owned) series::notify_after(s, series::Change::trim, at, int32_t(out.size()));
}

void init() {
    actions::Row row;
    row.make = &make;
    actions::inherit_series_slots(row);
    using S = actions::Slot;
    actions::inherit(row, {S::random, S::reflect, S::copy});
    row.to = &to;
    row.form = &form;
    row.mold = &mold;
    row.eval_path = &eval_path;
    row.compare = &compare;
    row.append = &append;
    row.change = &change;
    row.find = &find;
    row.insert = &insert;
    row.select = &select;
    row.sort = &sort;
    row.swap = &swap;
    // series! take already answers a lone character as char!.
    row.trim = &trim;
    datatype::register_type(Type::string, Type::series, "string!", row);
}


}  // namespace zan::string
