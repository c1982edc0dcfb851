// binary! actions: conversion of values to bytes, the hexadecimal text, byte
// comparison, bitwise operations and trimming.
//
// Adding a value (append, insert, change) first gathers all of its bytes in a
// C++ string: every check runs there, so an error leaves the target as it was
// and the gathering may allocate freely. Only then does the owner hear of the
// change and the buffer grow and take the bytes. Positions are indexes; no
// buffer address is kept across an allocation.
#include "datatypes/image_backend.h"
#include "datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "datatypes/binary_base.h"
#include "datatypes/bitset.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zan::binary {

namespace {

bool is_block_like(Type t) { return t == Type::block || t == Type::paren || t == Type::hash; }

bool text_type(Type t) { return string::any_string_q(t); }

uint32_t head_index(const Cell& bin) {
    memory::Series* b = memory::buffer(series_node(bin));
    return std::min(series_index(bin), b->tail - b->head);
}

void put_utf8(std::string& out, uint32_t cp) {
    uint8_t b[4];
    out.append(reinterpret_cast<char*>(b), unicode::cp_to_utf8(cp, b));
}

// The UTF-8 of a text value from its head, at most limit bytes (-1: all).
void text_bytes(const Cell& text, int32_t limit, std::string& out) {
    std::string s = string::to_utf8(text);
    if (limit >= 0 && s.size() > size_t(limit)) s.resize(size_t(limit));
    out += s;
}

void byte_bytes(const Cell& value, std::string& out) {
    int32_t i = int_of(value);
    if (i < -128 || i > 255) errors::fire(errors::id::invalid_arg, &value);
    out.push_back(char(uint8_t(i)));
}

[[noreturn]] void fire_bad_to(const Cell& value) {
    Cell target = datatype_cell(Type::binary);
    errors::fire(errors::id::bad_to_arg, &target, &value);
}

void block_bytes(const Cell& block, int32_t part, bool change_mode, std::string& out) {
    Node n = series_node(block);
    collector::NodeRoot keep(n);
    mold::CycleScope guard(n);
    uint32_t len = memory::buffer(n)->length();
    uint32_t end = len;
    if (part >= 0) end = uint32_t(std::min<uint64_t>(len, uint64_t(series_index(block)) + uint32_t(part)));
    for (uint32_t i = series_index(block); i < end && i < memory::buffer(n)->length(); ++i) {
        Cell item = memory::buffer(n)->cells()[i];
        collector::Root keep_item(item);
        if (is_block_like(type_of(item)) && mold::cycle_find(series_node(item)))
            errors::fire(errors::id::too_deep);
        value_bytes(item, -1, change_mode, out);
    }
}

void tuple_out(const Cell& tuple, std::string& out) {
    uint8_t b[12];
    tuple_bytes(tuple, b);
    out.append(reinterpret_cast<const char*>(b), size_t(tuple_length(tuple)));
}

void put_be(std::string& out, uint64_t v, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) out.push_back(char(uint8_t(v >> (8 * k))));
}

// The bytes of an issue's name read as hexadecimal digits.
bool issue_hex(const Cell& issue, std::string& out) {
    std::string_view name = symbol::name(word_symbol(issue));
    if (name.size() % 2) return false;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (size_t i = 0; i < name.size(); i += 2) {
        int hi = digit(name[i]), lo = digit(name[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(char(hi << 4 | lo));
    }
    return true;
}

}  // namespace

// --- low-level helpers ------------------------------------------------------------

uint32_t rs_length_q(const Cell& bin) {
    memory::Series* b = memory::buffer(series_node(bin));
    return b->tail - b->head - head_index(bin);
}

std::byte* rs_head(const Cell& bin) {
    return memory::buffer(series_node(bin))->at_head() + head_index(bin);
}

uint8_t rs_abs_at(const Cell& bin, uint32_t offset) {
    return uint8_t(memory::buffer(series_node(bin))->at_head()[offset]);
}

Cell make_value(uint32_t capacity) {
    return series_cell(Type::binary, string::make_buffer(capacity ? capacity : 1, 1));
}

Cell& make_at(Cell& cell, uint32_t capacity) {
    cell = make_value(capacity);
    return cell;
}

Cell load(const void* bytes, size_t length) {
    Cell c = make_value(series::checked_size(length, 1));
    memory::Series* b = memory::buffer(series_node(c));
    if (length) std::memcpy(b->at_head(), bytes, length);
    b->tail = b->head + uint32_t(length);
    return c;
}

void set_data(const Cell& bin, const void* bytes, size_t length) {
    Node n = series_node(bin);
    memory::Series* b = memory::buffer(n);
    b->tail = b->head;
    b = series::ensure_room(n, series::checked_size(length, 1), false);
    if (length) std::memcpy(b->at_head(), bytes, length);
    b->tail = b->head + uint32_t(length);
}

void insert_bytes(const Cell& bin, uint32_t offset, const void* bytes, size_t length) {
    if (!length) return;
    uint32_t at = head_index(bin) + offset;
    memory::Series* b = series::open_gap(series_node(bin), at, series::checked_size(length, 1), true);
    std::memcpy(b->at_head() + at, bytes, length);
}

void write_bytes(const Cell& bin, uint32_t offset, const void* bytes, size_t length) {
    if (!length) return;
    Node n = series_node(bin);
    uint64_t at = uint64_t(head_index(bin)) + offset;
    memory::Series* b = memory::buffer(n);
    uint64_t used = b->tail - b->head;
    if (at + length > used) b = series::ensure_room(n, at + length - used, true);
    std::memcpy(b->at_head() + at, bytes, length);
    if (at + length > used) b->tail = b->head + uint32_t(at + length);
}

void append_int32_be(const Cell& bin, uint32_t value) {
    std::string be;
    put_be(be, value, 4);
    memory::Series* b = memory::buffer(series_node(bin));
    write_bytes(bin, b->tail - b->head - head_index(bin), be.data(), 4);
}

std::string bytes_of(const Cell& bin) {
    memory::Series* b = memory::buffer(series_node(bin));
    const char* p = reinterpret_cast<const char*>(b->at_head());
    return std::string(p + head_index(bin), p + (b->tail - b->head));
}

void set_byte(const Cell& bin, uint32_t offset, const Cell& value) {
    bool ok = (is(value, Type::integer) && int_of(value) >= -128 && int_of(value) <= 255) ||
              (is(value, Type::char_) && value.w2 <= 255);
    if (!ok) errors::fire(errors::id::invalid_arg, &value);
    memory::buffer(series_node(bin))->at_head()[offset] = std::byte(uint8_t(value.w2));
}

int32_t compare_bytes(const Cell& a, const Cell& b, int32_t op, bool match) {
    Type tb = type_of(b);
    if (!(tb == Type::binary || text_type(tb))) return -2;
    if (op == 9) return series_node(a) == series_node(b) && series_index(a) == series_index(b) ? 0 : 1;
    bool equality = op == 0 || op == 1 || op == 2 || op == 12;
    if (equality && series_node(a) == series_node(b) && head_index(a) == head_index(b)) return 0;
    memory::Series* sa = memory::buffer(series_node(a));
    memory::Series* sb = memory::buffer(series_node(b));
    uint32_t unit = sb->unit();
    uint32_t la = rs_length_q(a);
    uint32_t hb = std::min(series_index(b), sb->length());
    uint32_t lb = sb->length() - hb;
    if (match) {
        if (lb == 0) return 0;
        if (la < lb) return -1;
        la = lb;
    } else if (equality && la != lb) {
        return la < lb ? -1 : 1;
    }
    const uint8_t* pa = reinterpret_cast<const uint8_t*>(sa->at_head()) + head_index(a);
    const std::byte* pb = sb->at_head() + size_t(hb) * unit;
    uint32_t n = std::min(la, lb);
    if (unit == 1) {
        int c = std::memcmp(pa, pb, n);
        if (c) return c < 0 ? -1 : 1;
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t y = string::get_char(pb + size_t(i) * unit, unit);
            if (pa[i] != y) return pa[i] < y ? -1 : 1;
        }
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

bool match_bitset_q(const Cell& bin, const Cell& bits) {
    if (rs_length_q(bin) == 0) return false;
    return bitset::has(bits, uint8_t(*rs_head(bin)));
}

void value_bytes(const Cell& value, int32_t part, bool change_mode, std::string& out) {
    size_t start = out.size();
    Type t = type_of(value);
    switch (t) {
    case Type::none: return;
    case Type::char_: put_utf8(out, value.w2); break;
    case Type::integer: byte_bytes(value, out); break;
    case Type::binary: {
        std::string b = bytes_of(value);
        out += b;
        break;
    }
    case Type::tuple: tuple_out(value, out); break;
    case Type::block:
    case Type::paren:
    case Type::hash: block_bytes(value, part, change_mode, out); return;
    default:
        if (text_type(t)) {
            text_bytes(value, part, out);
            return;
        }
        if (!change_mode) fire_bad_to(value);
        out += mold::form_text(value);
        break;
    }
    if (part >= 0 && out.size() - start > size_t(part)) out.resize(start + size_t(part));
}

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type) {
    const Cell& spec = args[1];
    if (is(spec, Type::integer) || is(spec, Type::float_)) {
        int32_t size = integer::number_to_integer(spec);
        if (size < 0) errors::fire(errors::id::out_of_range, &spec);
        args[0] = make_value(uint32_t(size));
        return;
    }
    if (is(spec, Type::money)) errors::bad_make_arg(args[0], spec);
    to(args, type);
}

void to(Args args, Type) {
    Cell spec = args[1];
    collector::Root keep(spec);
    Type t = type_of(spec);
    std::string out;
    switch (t) {
    case Type::block:
    case Type::paren:
    case Type::hash: value_bytes(spec, -1, false, out); break;
    case Type::char_: put_utf8(out, spec.w2); break;
    case Type::integer: put_be(out, uint32_t(int_of(spec)), 4); break;
    case Type::float_:
    case Type::percent: put_be(out, std::bit_cast<uint64_t>(float_of(spec)), 8); break;
    case Type::issue:
        if (!issue_hex(spec, out)) errors::fire(errors::id::invalid_data, &spec);
        break;
    case Type::bitset: {
        uint32_t n = bitset::byte_count(spec);
        out.assign(reinterpret_cast<const char*>(bitset::rs_head(spec)), n);
        break;
    }
    case Type::binary: out = bytes_of(spec); break;
    case Type::tuple: tuple_out(spec, out); break;
    case Type::image: args[0] = image::extract_data(spec, image::argb); return;
    default:
        if (!text_type(t)) fire_bad_to(spec);
        text_bytes(spec, -1, out);
        break;
    }
    args[0] = load(out.data(), out.size());
}

namespace {

// The hexadecimal text; with a limit (part) it stops once fewer than 3 of
// the budget are left.
int32_t write_hex(const Cell& value, Node buffer, bool only, bool flat, bool part, int32_t budget,
                  int32_t level) {
    collector::NodeRoot keep(buffer);
    std::string bytes = bytes_of(value);
    size_t n = bytes.size();
    bool lines = !flat && n > 30;
    std::string pad = "\n" + std::string(size_t(std::max(level, 0)) * 4, ' ');
    std::string text;
    text.reserve(n * 2 + n / 16 * pad.size() + 8);
    if (!only) text += "#{";
    if (lines) text += pad;
    static const char digits[] = "0123456789ABCDEF";
    size_t cut = std::string::npos;
    for (size_t i = 0; i < n; ++i) {
        if (part && int64_t(budget) - int64_t(text.size()) < 3) {
            cut = text.size();
            break;
        }
        uint8_t b = uint8_t(bytes[i]);
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
        if (lines && (i + 1) % 32 == 0) text += pad;
    }
    if (cut == std::string::npos) {
        if (lines && n % 32 != 0) text += pad;
        if (!only) text += "}";
    }
    return mold::append(buffer, text, budget);
}

}  // namespace

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    return write_hex(value, buffer, false, false, part, budget, 1);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    return write_hex(value, buffer, flags.only, flags.flat, part, budget, indent + 1);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::binary)) return -2;
    return compare_bytes(a, b, op);
}

namespace {

enum class Bitwise { and_, or_, xor_ };

void bitwise(Args args, Bitwise op) {
    if (!is(args[1], Type::binary)) errors::fire(errors::id::invalid_arg, &args[1]);
    uint32_t la = rs_length_q(args[0]), lb = rs_length_q(args[1]);
    uint32_t n = std::max(la, lb), common = std::min(la, lb);
    Cell result = make_value(n);
    memory::Series* r = memory::buffer(series_node(result));
    auto* out = reinterpret_cast<uint8_t*>(r->at_head());
    const auto* a = reinterpret_cast<const uint8_t*>(rs_head(args[0]));
    const auto* b = reinterpret_cast<const uint8_t*>(rs_head(args[1]));
    for (uint32_t i = 0; i < common; ++i) {
        switch (op) {
        case Bitwise::and_: out[i] = a[i] & b[i]; break;
        case Bitwise::or_: out[i] = a[i] | b[i]; break;
        case Bitwise::xor_: out[i] = a[i] ^ b[i]; break;
        }
    }
    const uint8_t* longer = la > lb ? a : b;
    if (op == Bitwise::and_)
        std::memset(out + common, 0, n - common);
    else if (n > common)
        std::memcpy(out + common, longer + common, n - common);
    r->tail = r->head + n;
    args[0] = result;
}

}  // namespace

void and_t(Args args) { bitwise(args, Bitwise::and_); }
void or_t(Args args) { bitwise(args, Bitwise::or_); }
void xor_t(Args args) { bitwise(args, Bitwise::xor_); }

void complement(Args args) {
    uint32_t n = rs_length_q(args[0]);
    auto* p = reinterpret_cast<uint8_t*>(rs_head(args[0]));
    for (uint32_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
}

namespace {

int32_t dup_count(const Cell* dup) {
    if (!dup) return 1;
    if (is(*dup, Type::integer)) return int_of(*dup);
    return integer::number_to_integer(*dup);
}

int32_t part_limit(const Cell& value, const Cell* part) {
    if (!part) return -1;
    if (is(*part, Type::integer)) return std::max(int_of(*part), 0);
    if (series_node(*part) == series_node(value) && type_of(*part) == type_of(value))
        return std::max(int32_t(series_index(*part)) - int32_t(series_index(value)), 0);
    series::fire_refine_arg("part", *part);
}

// The bytes repeated times times, checked to fit beside the current ones.
std::string gather(const Cell& target, const Cell& value, int32_t part, bool change_mode,
                   int32_t times) {
    std::string once;
    value_bytes(value, part, change_mode, once);
    uint64_t total = uint64_t(once.size()) * uint64_t(std::max(times, 0));
    memory::Series* b = memory::buffer(series_node(target));
    if (total + (b->tail - b->head) > memory::max_capacity) errors::fire(errors::id::no_memory);
    if (times <= 1) return times == 1 ? once : std::string();
    std::string all;
    all.reserve(size_t(total));
    for (int32_t k = 0; k < times; ++k) all += once;
    return all;
}

// append (at the tail) and insert (at the head): answers the bytes added.
uint32_t add(Args args, const Cell* part, const Cell* dup, bool at_tail) {
    Cell& s = args[0];
    s.w1 = head_index(s);
    std::string bytes = gather(s, args[1], part_limit(args[1], part), false, dup_count(dup));
    if (bytes.empty()) return 0;
    memory::Series* b = memory::buffer(series_node(s));
    uint32_t at = at_tail ? b->tail - b->head : s.w1;
    series::Change what = at_tail ? series::Change::append : series::Change::insert;
    series::with_notify(s, what, int32_t(at), int32_t(bytes.size()), [&] {
        Cell whole = s;
        whole.w1 = 0;
        insert_bytes(whole, at, bytes.data(), bytes.size());
    });
    return uint32_t(bytes.size());
}

}  // namespace

void append(Args args, const Cell* part, bool, const Cell* dup) {
    add(args, part, dup, true);
    args[0].w1 = 0;
}

void insert(Args args, const Cell* part, bool, const Cell* dup) {
    uint32_t added = add(args, part, dup, false);
    args[0].w1 += added;
}

void change(Args args, const Cell* part, bool, const Cell* dup) {
    Cell& s = args[0];
    s.w1 = head_index(s);
    uint32_t at = s.w1;
    int32_t range = -1;
    if (part) {
        int32_t c = series::part_count(s, *part, "part");
        range = std::clamp<int32_t>(c, 0, int32_t(rs_length_q(s)));
    }
    std::string bytes = gather(s, args[1], -1, true, std::max(dup_count(dup), 0));
    int32_t count = range < 0 ? int32_t(bytes.size()) : range;
    series::with_notify(s, series::Change::change, int32_t(at), count, [&] {
        if (range >= 0) {
            series::close_gap(series_node(s), at, uint32_t(range));
            insert_bytes(s, 0, bytes.data(), bytes.size());
        } else {
            write_bytes(s, 0, bytes.data(), bytes.size());
        }
    });
    s.w1 = at + uint32_t(bytes.size());
}

void trim(Args args, const actions::TrimRefs& r) {
    Cell& s = args[0];
    if (r.auto_ || r.lines) errors::fire(errors::id::not_done);
    std::string in = bytes_of(s);
    std::string out;
    if (r.all || r.with) {
        std::string set(1, '\0');
        if (r.with) {
            const Cell& w = *r.with;
            set.clear();
            if (is(w, Type::char_) || is(w, Type::integer)) {
                if (w.w2 > 255) errors::fire(errors::id::invalid_arg, &w);
                set.push_back(char(uint8_t(w.w2)));
            } else if (is(w, Type::binary)) {
                set = bytes_of(w);
            } else if (text_type(type_of(w))) {
                set = string::to_utf8(w);
            } else {
                errors::fire(errors::id::invalid_arg, &w);
            }
        }
        for (char c : in)
            if (set.find(c) == std::string::npos) out.push_back(c);
    } else {
        size_t from = 0, to = in.size();
        bool only_head = r.head && !r.tail, only_tail = r.tail && !r.head;
        if (!only_tail)
            while (from < to && in[from] == '\0') ++from;
        if (!only_head)
            while (to > from && in[to - 1] == '\0') --to;
        out = in.substr(from, to - from);
    }
    if (out == in) return;
    uint32_t at = head_index(s);
    series::with_notify(s, series::Change::trim, int32_t(at), int32_t(in.size()), [&] {
        memory::Series* b = memory::buffer(series_node(s));
        std::memcpy(b->at_head() + at, out.data(), out.size());
        b->tail = b->head + at + uint32_t(out.size());
    });
}

void init() {
    actions::Row row;
    row.make = &make;
    actions::inherit_series_slots(row);
    using S = actions::Slot;
    actions::inherit(row, {S::random, S::reflect, S::eval_path, S::copy, S::find, S::select,
                           S::sort, S::swap});
    row.to = &to;
    row.form = &form;
    row.mold = &mold;
    row.compare = &compare;
    row.and_t = &and_t;
    row.complement = &complement;
    row.or_t = &or_t;
    row.xor_t = &xor_t;
    row.append = &append;
    row.change = &change;
    row.insert = &insert;
    row.trim = &trim;
    datatype::register_type(Type::binary, Type::string, "binary!", row);
    install_base_encodings();
}


}  // namespace zan::binary
