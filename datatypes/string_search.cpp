// Searching, sorting and the set operations of string!.
//
// Case folding happens per comparison through the case tables; no folded copy
// of the text is made for find or sort. Sorting works in place on the buffer's
// bytes, records of size units, through the record sorts; a script comparator
// runs with the buffer pinned, so the sort's addresses stay valid while it
// allocates.
#include "datatypes/string_search.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/unicode.h"

namespace zan::string {

namespace {

CompareCallback compare_callback = nullptr;

uint32_t head_index(const Cell& s) {
    return std::min(series_index(s), buffer_length(series_node(s)));
}

int32_t to_int(const Cell& c) {
    return is(c, Type::integer) ? int_of(c) : integer::number_to_integer(c);
}

// What is searched for: one character, a bitset's members, or a text.
struct Pattern {
    enum Kind : uint8_t { character, members, text } kind;
    uint32_t cp = 0;
    Cell cell;         // the bitset, or the text from its head
    uint32_t len = 1;  // characters matched
};

Pattern pattern_of(const Cell& series, const Cell& value) {
    bool bytes = is(series, Type::binary);
    Type t = type_of(value);
    if (t == Type::char_) return {Pattern::character, value.w2, {}, 1};
    if (t == Type::bitset) return {Pattern::members, 0, value, 1};
    if (bytes && t == Type::integer)
        return {Pattern::character, uint32_t(int_of(value)) & 0xFF, {}, 1};
    if (t == Type::binary && !bytes) errors::fire(errors::id::invalid_arg, &value);
    // A tag! is searched for as it is written, brackets and all: it is formed.
    if ((any_string_q(t) && t != Type::tag) || t == Type::binary)
        return {Pattern::text, 0, value, length(value)};
    Cell text = make_value(16);
    collector::Root keep(text);
    if (t == Type::word) {
        std::string_view name = symbol::name(word_symbol(value));
        append_utf8(series_node(text), std::string(name));
    } else {
        mold::form_value(value, series_node(text), false, mold::no_limit);
    }
    return {Pattern::text, 0, text, length(text)};
}

struct Searcher {
    Node n;
    const Pattern& p;
    bool fold;

    bool same(uint32_t a, uint32_t b) const {
        return a == b || (fold && unicode::to_upper(a) == unicode::to_upper(b));
    }
    // Whether the pattern matches from absolute index at (room checked by the caller).
    bool at(uint32_t i) const {
        switch (p.kind) {
            case Pattern::character: return same(char_at(n, i), p.cp);
            case Pattern::members: return bitset::has(p.cell, char_at(n, i));
            default: {
                Node pn = series_node(p.cell);
                uint32_t from = std::min(series_index(p.cell), buffer_length(pn));
                for (uint32_t k = 0; k < p.len; ++k)
                    if (!same(char_at(n, i + k), char_at(pn, from + k))) return false;
                return true;
            }
        }
    }
};

struct Match {
    int64_t at = -1;  // absolute index of the match, -1 when none
    uint32_t len = 0;
};

Match search(const Cell& series, const Cell& value, const actions::FindRefs& r) {
    Node n = series_node(series);
    uint32_t total = buffer_length(n);
    uint32_t head = head_index(series);
    if (total == 0 || (head >= total && !r.reverse)) return {};
    if (r.any || r.with) errors::fire(errors::id::not_done);
    int64_t step = 1;
    if (r.skip) {
        step = to_int(*r.skip);
        if (step < 1) errors::fire(errors::id::out_of_range, r.skip);
    }
    int64_t count = -1;
    if (r.part) {
        count = series::part_count(series, *r.part, "part");
        if (count < 1) return {};
    }
    Cell held = value;
    collector::Root keep(held);
    Pattern p = pattern_of(series, held);
    collector::Root keep_text(p.cell);
    if (p.kind == Pattern::text && p.len == 0) return {};
    bool fold = any_string_q(type_of(series)) && !r.case_ && !r.same && p.kind != Pattern::members;
    Searcher s{n, p, fold};
    int64_t m = p.len;

    if (!r.reverse && !r.last) {
        int64_t hi = count < 0 ? total : std::min<int64_t>(total, head + count);
        for (int64_t i = head; i + m <= hi; i += step) {
            if (s.at(uint32_t(i))) return {i, uint32_t(m)};
            if (r.match) break;
        }
        return {};
    }
    // Backward: each position is the last character of a candidate match.
    int64_t lo, start;
    if (r.reverse) {
        if (r.match) return {};
        start = int64_t(head) - 1;
        lo = count < 0 ? 0 : std::max<int64_t>(0, int64_t(head) - count);
    } else {
        lo = head;
        start = (count < 0 ? total : std::min<int64_t>(total, head + count)) - 1;
    }
    if (start < lo) return {};
    for (int64_t q = start; q - m + 1 >= lo; q -= step) {
        if (s.at(uint32_t(q - m + 1))) return {q - m + 1, uint32_t(m)};
        if (r.match) break;
    }
    return {};
}

// --- sorting ----------------------------------------------------------------------

constexpr std::uintptr_t sort_reverse = 1, sort_all = 2, sort_shift = 2;

template <uint32_t Unit>
int compare_chars(const void* a, const void* b, std::uintptr_t case_sensitive,
                  std::uintptr_t mode) {
    const auto* pa = static_cast<const std::byte*>(a);
    const auto* pb = static_cast<const std::byte*>(b);
    uint32_t offset = (mode & sort_all) ? 0 : uint32_t(mode >> sort_shift);
    uint32_t count = (mode & sort_all) ? uint32_t(mode >> sort_shift) : 1;
    int r = 0;
    for (uint32_t i = offset; i < offset + count && r == 0; ++i) {
        uint32_t ca = get_char(pa + i * Unit, Unit), cb = get_char(pb + i * Unit, Unit);
        if (!case_sensitive) {
            if constexpr (Unit == 1) {
                if (ca >= 'A' && ca <= 'Z') ca += 32;
                if (cb >= 'A' && cb <= 'Z') cb += 32;
            } else {
                ca = unicode::to_upper(ca);
                cb = unicode::to_upper(cb);
            }
        }
        r = ca < cb ? -1 : ca > cb ? 1 : 0;
    }
    return (mode & sort_reverse) ? -r : r;
}

// A sort through a script function: what the comparator needs to know.
struct FunctionSort {
    Cell function;
    Type type;
    uint32_t unit;
    uint32_t size;  // characters a record
    bool records;   // pass whole records as strings, else their first characters
    bool reverse;
};

Cell record_value(const FunctionSort& f, const std::byte* p) {
    if (!f.records) return char_cell(get_char(p, f.unit));
    // The sorted buffer is pinned: p stays valid across this allocation.
    Node n = memory::alloc_series(f.size, f.unit);
    memory::Series* s = memory::buffer(n);
    std::memcpy(s->at_head(), p, f.size * f.unit);
    s->tail = s->head + f.size * f.unit;
    return make_cell(n, 0, f.type);
}

int sort_call_comparator(const void* a, const void* b, std::uintptr_t, std::uintptr_t data) {
    const auto& f = *reinterpret_cast<const FunctionSort*>(data);
    Cell x = record_value(f, static_cast<const std::byte*>(a));
    collector::Root keep_x(x);
    Cell y = record_value(f, static_cast<const std::byte*>(b));
    collector::Root keep_y(y);
    // The function answers whether its first argument sorts first; it gets
    // (b, a), so true means a goes after b.
    Cell result =
        f.reverse ? compare_callback(f.function, x, y) : compare_callback(f.function, y, x);
    return comparator_answer(result);
}

}  // namespace

int comparator_answer(const Cell& result) {
    switch (type_of(result)) {
        case Type::logic: return logic_of(result) ? 1 : -1;
        case Type::integer: return int_of(result) > 0 ? -1 : int_of(result) < 0 ? 1 : 0;
        case Type::float_: {
            double d = float_of(result);
            return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
        }
        case Type::none: return -1;
        default: return 1;
    }
}

int compare_chars_1(const void* a, const void* b, std::uintptr_t cs, std::uintptr_t mode) {
    return compare_chars<1>(a, b, cs, mode);
}
int compare_chars_2(const void* a, const void* b, std::uintptr_t cs, std::uintptr_t mode) {
    return compare_chars<2>(a, b, cs, mode);
}
int compare_chars_4(const void* a, const void* b, std::uintptr_t cs, std::uintptr_t mode) {
    return compare_chars<4>(a, b, cs, mode);
}

void set_compare_callback(CompareCallback cb) { compare_callback = cb; }
CompareCallback compare_callback_installed() { return compare_callback; }

// --- actions ----------------------------------------------------------------------

void find(actions::Args args, const actions::FindRefs& r) {
    Match m = search(args[0], args[1], r);
    if (m.at < 0) {
        args[0] = none_cell();
        return;
    }
    args[0].w1 = uint32_t(m.at + (r.tail ? m.len : 0));
}

void select(actions::Args args, const actions::FindRefs& given) {
    actions::FindRefs r = given;
    r.tail = r.match = false;
    Match m = search(args[0], args[1], r);
    Node n = series_node(args[0]);
    uint64_t after = uint64_t(m.at) + m.len;
    if (m.at < 0 || after >= buffer_length(n)) {
        args[0] = none_cell();
        return;
    }
    uint32_t c = char_at(n, uint32_t(after));
    args[0] = is(args[0], Type::binary) ? integer_cell(int32_t(c)) : char_cell(c);
}

bool sort_span(const Cell& s, const actions::SortRefs& r, int64_t& head, int64_t& len) {
    if (!r.part) return true;
    int64_t c = series::part_count(s, *r.part, "part");
    if (c >= 0) {
        len = std::min(len, c);
        return true;
    }
    if (head + c < 0) return false;
    head += c;
    len = -c;
    return true;
}

void sort(actions::Args args, const actions::SortRefs& r) {
    Cell& s = args[0];
    Node n = series_node(s);
    uint32_t total = buffer_length(n);
    int64_t head = head_index(s);
    int64_t len = total - head;
    if (!sort_span(s, r, head, len)) return;
    int64_t size = 1;
    if (r.skip) {
        size = to_int(*r.skip);
        if (size < 1 || len % size != 0 || len < size) series::fire_refine_arg("skip", *r.skip);
    }
    if (r.all && !r.skip) errors::fire(errors::id::bad_refines);
    int64_t offset = 0;
    bool by_function = false;
    if (r.compare) {
        const Cell& c = *r.compare;
        if (is(c, Type::function)) {
            by_function = true;
        } else if (is(c, Type::integer)) {
            if (!r.skip || r.all) errors::fire(errors::id::bad_refines);
            offset = int_of(c);
            if (offset < 1 || offset > size) errors::fire(errors::id::out_of_range, &c);
            offset -= 1;
        } else {
            series::fire_refine_arg("compare", c);
        }
    }
    if (by_function && !compare_callback) errors::fire(errors::id::not_done);
    uint64_t count = uint64_t(len / size);
    if (count < 2) return;

    uint32_t unit = memory::buffer(n)->unit();
    bool owned = series::notify_before(s, series::Change::sort, int32_t(head), int32_t(len));
    std::uintptr_t mode = r.reverse ? sort_reverse : 0;
    if (r.all)
        mode |= sort_all | (std::uintptr_t(size) << sort_shift);
    else
        mode |= std::uintptr_t(offset) << sort_shift;
    auto run = [&](std::uintptr_t a, std::uintptr_t b, sort::Compare cmp) {
        std::byte* base = memory::buffer(n)->at_head() + head * unit;
        // A stable sort when asked, whatever the letter case rule.
        if (r.stable)
            sort::stable_merge(base, count, size_t(size) * unit, a, b, cmp);
        else
            sort::adaptive_quick(base, count, size_t(size) * unit, a, b, cmp);
    };
    if (by_function) {
        FunctionSort f{*r.compare, r.all ? type_of(s) : Type::string, unit, uint32_t(size), r.all,
                       r.reverse};
        collector::Root keep_fn(f.function);
        memory::Pin pin(n);
        run(0, reinterpret_cast<std::uintptr_t>(&f), &sort_call_comparator);
    } else {
        sort::Compare cmp = unit == 1   ? &compare_chars_1
                            : unit == 2 ? &compare_chars_2
                                        : &compare_chars_4;
        run(r.case_ ? 1 : 0, mode, cmp);
    }
    if (owned) series::notify_after(s, series::Change::sort, int32_t(head), int32_t(len));
}

void do_set_op(actions::Args args, bool case_, const Cell* skip, SetOp op) {
    int32_t size = 1;
    if (skip) {
        size = to_int(*skip);
        if (size < 1) series::fire_refine_arg("skip", *skip);
    }
    if (op != SetOp::unique && !any_string_q(type_of(args[1])) && !is(args[1], Type::binary))
        errors::fire(errors::id::invalid_arg, &args[1]);
    auto records = [size](const Cell& s) {
        std::vector<std::u32string> out;
        Node n = series_node(s);
        uint32_t len = buffer_length(n);
        for (uint32_t i = head_index(s); i < len; i += uint32_t(size)) {
            std::u32string rec;
            for (uint32_t k = i; k < std::min(len, i + uint32_t(size)); ++k)
                rec.push_back(char32_t(char_at(n, k)));
            out.push_back(std::move(rec));
        }
        return out;
    };
    auto key = [case_](std::u32string rec) {
        if (!case_)
            for (char32_t& c : rec) c = char32_t(unicode::to_upper(uint32_t(c)));
        return rec;
    };
    std::vector<std::u32string> a = records(args[0]), b;
    if (op != SetOp::unique) b = records(args[1]);
    std::unordered_set<std::u32string> in_b, seen;
    for (const auto& rec : b) in_b.insert(key(rec));

    Cell result = make_value(uint32_t(a.size() + b.size()) * uint32_t(size));
    collector::Root keep(result);
    auto add = [&](const std::u32string& rec) {
        if (!seen.insert(key(rec)).second) return;
        for (char32_t c : rec) append_char(series_node(result), uint32_t(c));
    };
    switch (op) {
        case SetOp::unique:
            for (const auto& rec : a) add(rec);
            break;
        case SetOp::union_:
            for (const auto& rec : a) add(rec);
            for (const auto& rec : b) add(rec);
            break;
        case SetOp::intersect:
            for (const auto& rec : a)
                if (in_b.count(key(rec))) add(rec);
            break;
        case SetOp::exclude:
            for (const auto& rec : a)
                if (!in_b.count(key(rec))) add(rec);
            break;
        case SetOp::difference: {
            std::unordered_set<std::u32string> in_a;
            for (const auto& rec : a) in_a.insert(key(rec));
            for (const auto& rec : a)
                if (!in_b.count(key(rec))) add(rec);
            for (const auto& rec : b)
                if (!in_a.count(key(rec))) add(rec);
            break;
        }
    }
    args[0] = result;
}

}  // namespace zan::string
