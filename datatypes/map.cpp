// map! actions: making, path access, put/select/find/remove, extend, the
// foreach step, reflection, copy, mold and form, and comparison.
//
// Keys put case-sensitively may stand beside their case variants; a loose
// lookup then finds the first of them. Pairs are only ever
// appended or revived, never moved, so a storage position found once stays
// valid until the map is cleared. Every routine keeps nodes, not addresses,
// across allocations.
#include "datatypes/map.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/series_services.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::map {

namespace {

using hashtable::Mode;

Node storage_of(const Cell& map) { return series_node(map); }
Node table_of(const Cell& map) { return Node(series_extra(map)); }
Cell* pairs(const Cell& map) { return memory::buffer(storage_of(map))->cells(); }
uint32_t cell_count(const Cell& map) { return memory::buffer(storage_of(map))->length(); }
bool live_at(const Cell& map, uint32_t pos) { return pairs(map)[pos + 1].header != 0; }

bool text_key(Type t) { return string::any_string_q(t) || t == Type::binary; }
bool word_key(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word;
}

Mode mode_of(bool case_) { return case_ ? Mode::case_sensitive : Mode::any_case; }

[[noreturn]] void fire_bad_to(const Cell& spec) {
    Cell target = datatype_cell(Type::map);
    errors::fire(errors::id::bad_to_arg, &target, &spec);
}

// The key as scripts get it: any word as word!, text keys as a fresh copy.
Cell key_out(const Cell& stored) {
    Cell k = stored;
    clear_newline(k);
    if (word_key(type_of(k))) {
        set_type(k, Type::word);
    } else if (text_key(type_of(k))) {
        collector::Root keep(k);
        k = series::copy_range(k, int32_t(series_index(k)), series::get_length(k));
    }
    return k;
}

void adjust_removed(const Cell& map, int32_t delta) {
    Node t = table_of(map);
    hashtable::set_removed(t, uint32_t(int32_t(hashtable::removed(t)) + delta));
}

// Appends a normalised key, known to be missing, and its value and indexes
// the key.
void append_pair(const Cell& map, const Cell& key, const Cell& value, uint32_t hash) {
    Cell store = series_cell(Type::block, storage_of(map));
    collector::Root keep(store);
    uint32_t pos = cell_count(map);
    block::rs_append(store, key);
    block::rs_append(store, value);
    hashtable::put_unique(table_of(map), pos, hash);
}

// Sets a pair found at pos (reviving a removed one).
void set_at(const Cell& map, uint32_t pos, const Cell& value) {
    if (!live_at(map, pos)) adjust_removed(map, -1);
    Cell v = value;
    clear_newline(v);
    pairs(map)[pos + 1] = v;
}

bool same_value(const Cell& a, const Cell& b, int32_t op) { return block::compare_values(a, b, op) == 0; }

}  // namespace

// --- keys and pairs -------------------------------------------------------------------

bool valid_key_type_q(Type t) {
    switch (t) {
    case Type::string: case Type::file: case Type::url: case Type::char_: case Type::integer:
    case Type::float_: case Type::word: case Type::set_word: case Type::lit_word:
    case Type::get_word: case Type::refinement: case Type::issue: case Type::pair:
    case Type::percent: case Type::tuple: case Type::binary: case Type::time: case Type::tag:
    case Type::email: case Type::date: case Type::money: case Type::ref: case Type::point2d:
    case Type::point3d:
        return true;
    default:
        return false;
    }
}

void preprocess_key(Cell& key) {
    Type t = type_of(key);
    if (!valid_key_type_q(t)) {
        Cell none = none_cell();
        errors::fire(errors::id::invalid_path, &none, &key);
    }
    if (word_key(t)) {
        key.header = uint32_t(Type::set_word);
    } else if (text_key(t)) {
        Cell from = key;
        collector::Root keep(from);
        key = series::copy_range(from, int32_t(std::min<uint32_t>(series_index(from),
                                                                  uint32_t(series::buffer_length(from)))),
                                 series::get_length(from));
    } else {
        clear_newline(key);
    }
}

Cell& make_at(Cell& cell, const Cell* block, uint32_t size) {
    uint32_t n = block ? uint32_t(block::rs_length(*block)) : 0;
    if (block) {
        if (n % 2) errors::fire(errors::id::invalid_arg, block);
        Node src = series_node(*block);
        uint32_t from = series_index(*block);
        for (uint32_t i = 0; i < n; i += 2) {
            Cell k = memory::buffer(src)->cells()[from + i];
            if (!valid_key_type_q(type_of(k))) {
                Cell none = none_cell();
                errors::fire(errors::id::invalid_path, &none, &k);
            }
        }
    }
    Cell source = block ? *block : none_cell();
    collector::Root keep_source(source);
    Cell store = series_cell(Type::block, memory::alloc_cells(std::max<uint32_t>(std::max(n, size * 2), 2)));
    collector::Root keep(store);
    for (uint32_t i = 0; i < n; ++i) {
        Cell c = memory::buffer(series_node(source))->cells()[series_index(source) + i];
        collector::Root keep_c(c);
        if (i % 2 == 0) preprocess_key(c);
        clear_newline(c);
        block::rs_append(store, c);
    }
    Node t = hashtable::make(std::max(n / 2, size), &store, hashtable::kind_map);
    cell = series_cell(Type::map, series_node(store), 0, t);
    return cell;
}

uint32_t count(const Cell& map) {
    Node t = table_of(map);
    return hashtable::count(t) - hashtable::removed(t);
}

int32_t find_position(const Cell& map, const Cell& key, Mode mode) {
    if (!valid_key_type_q(type_of(key))) return -1;
    return find_position(map, key, mode, hashtable::hash_value(key));
}

int32_t find_position(const Cell& map, const Cell& key, Mode mode, uint32_t hash) {
    if (!valid_key_type_q(type_of(key))) return -1;
    int32_t pos = hashtable::get_hashed(table_of(map), key, hash, 0, 1, mode);
    if (pos < 0 || mode != Mode::any_case || live_at(map, uint32_t(pos))) return pos;
    // A removed case variant stands first: a live one is preferred.
    hashtable::Probe probe;
    for (int32_t p; (p = hashtable::get_next(table_of(map), key, probe)) >= 0;)
        if (live_at(map, uint32_t(p))) return p;
    return pos;
}

void put(const Cell& map, const Cell& key, const Cell& value, bool case_) {
    // The stored key (a copy, or the word as set-word) hashes as the key does.
    uint32_t hash = hashtable::hash_value(key);
    int32_t pos = find_position(map, key, mode_of(case_), hash);
    if (pos >= 0) {
        set_at(map, uint32_t(pos), value);
        return;
    }
    Cell m = map, k = key, v = value;
    collector::Root r0(m), r1(k), r2(v);
    preprocess_key(k);
    clear_newline(v);
    append_pair(m, k, v, hash);
}

Cell get(const Cell& map, const Cell& key, bool case_) {
    int32_t pos = find_position(map, key, mode_of(case_));
    if (pos < 0 || !live_at(map, uint32_t(pos))) return none_cell();
    return pairs(map)[pos + 1];
}

void extend(const Cell& map, const Cell& block, bool case_) {
    Cell m = map, b = block;
    collector::Root r0(m), r1(b);
    if (is(b, Type::map)) {
        // The live pairs of another map, in its order.
        Cell body[1] = {b};
        collector::Root r2(body[0]);
        reflect(body, series::services::symbol_of("body"));
        b = body[0];
    }
    int32_t n = block::rs_length(b);
    if (n % 2) errors::fire(errors::id::invalid_arg, &b);
    // Every key is checked before the first pair goes in.
    for (int32_t i = 0; i < n; i += 2) {
        Cell k = *block::rs_abs_at(b, int32_t(series_index(b)) + i);
        if (!valid_key_type_q(type_of(k))) {
            Cell none = none_cell();
            errors::fire(errors::id::invalid_path, &none, &k);
        }
    }
    series::ensure_room(storage_of(m), uint64_t(n) * sizeof(Cell));
    for (int32_t i = 0; i < n; i += 2) {
        Cell k = *block::rs_abs_at(b, int32_t(series_index(b)) + i);
        Cell v = *block::rs_abs_at(b, int32_t(series_index(b)) + i + 1);
        put(m, k, v, case_);
    }
}

int32_t foreach_next(const Cell& map, uint32_t pos, const Cell& words, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        Cell w = *block::rs_abs_at(words, int32_t(series_index(words)) + i);
        if (!word_key(type_of(w))) errors::fire(errors::id::invalid_arg, &w);
    }
    uint32_t total = cell_count(map);
    pos &= ~1u;
    while (pos + 1 < total && !live_at(map, pos)) pos += 2;
    if (pos + 1 >= total) return -1;
    Cell m = map;
    collector::Root keep(m);
    Cell k = key_out(pairs(m)[pos]);
    collector::Root keep_k(k);
    Cell v = pairs(m)[pos + 1];
    for (int32_t i = 0; i < n; ++i) {
        Cell w = *block::rs_abs_at(words, int32_t(series_index(words)) + i);
        set_type(w, Type::word);
        context::set(w, i == 0 ? k : i == 1 ? v : none_cell());
    }
    return int32_t(pos + 2);
}

void set_words(const Cell& words, const Cell& map) {
    Cell m = map, body[1] = {map};
    collector::Root r0(m), r1(body[0]);
    reflect(body, series::services::symbol_of("body"));
    int32_t n = block::rs_length(words);
    int32_t have = block::rs_length(body[0]);
    for (int32_t i = 0; i < n; ++i) {
        Cell w = *block::rs_abs_at(words, int32_t(series_index(words)) + i);
        if (!word_key(type_of(w))) errors::fire(errors::id::invalid_arg, &w);
    }
    for (int32_t i = 0; i < n; ++i) {
        Cell w = *block::rs_abs_at(words, int32_t(series_index(words)) + i);
        Cell v = i < have ? *block::rs_abs_at(body[0], i) : none_cell();
        if (i % 2 == 0 && i < have) v = key_out(v);
        set_type(w, Type::word);
        context::set(w, v);
    }
}

// --- actions ------------------------------------------------------------------------

namespace {

void make_or_to(Args args, bool to) {
    const Cell& spec = args[1];
    Type t = type_of(spec);
    if (t == Type::block || t == Type::paren || t == Type::hash) {
        Cell result;
        make_at(result, &args[1], 0);
        args[0] = result;
    } else if (t == Type::integer || t == Type::float_) {
        if (to) fire_bad_to(spec);
        int32_t size = integer::number_to_integer(spec);
        if (size < 0) errors::fire(errors::id::out_of_range, &spec);
        Cell result;
        make_at(result, nullptr, uint32_t(std::max(size, 1)));
        args[0] = result;
    } else if (t == Type::map) {
        copy(args + 1, nullptr, false, nullptr);
        args[0] = args[1];
    } else {
        fire_bad_to(spec);
    }
}

}  // namespace

void make(Args args, Type) { make_or_to(args, false); }
void to(Args args, Type) { make_or_to(args, true); }

void reflect(Args args, uint32_t field_symbol) {
    uint32_t f = symbol::resolve(field_symbol);
    auto named = [&](const char* w) { return f == symbol::resolve(series::services::symbol_of(w)); };
    int which = named("words") ? 0 : named("values") ? 1 : named("body") ? 2 : -1;
    if (which < 0) errors::fire(errors::id::not_done);
    Cell m = args[0];
    collector::Root keep(m);
    Cell out;
    block::make_at(out, int32_t(std::max<uint32_t>(count(m) * (which == 2 ? 2 : 1), 1)));
    collector::Root keep_out(out);
    for (uint32_t pos = 0; pos + 1 < cell_count(m); pos += 2) {
        if (!live_at(m, pos)) continue;
        if (which != 1) {
            Cell k = which == 0 ? key_out(pairs(m)[pos]) : pairs(m)[pos];
            collector::Root keep_k(k);
            if (which == 2) {
                if (text_key(type_of(k))) k = key_out(k);
                set_flag(k, header::newline);
            }
            block::rs_append(out, k);
        }
        if (which != 0) block::rs_append(out, pairs(m)[pos + 1]);
    }
    args[0] = out;
}

namespace {

// Writes the live pairs: form (plain), flat, one-line-each (mold), or /only.
int32_t write_pairs(const Cell& map, Node buffer, actions::MoldFlags flags, bool part,
                    int32_t budget, int32_t level, bool form) {
    Cell m = map;
    collector::Root keep(m);
    collector::NodeRoot keep_buffer(buffer);
    mold::CycleScope scope(storage_of(m));
    actions::MoldFlags inner = flags;
    inner.only = false;
    bool lines = !flags.flat && !flags.only && !form;
    bool first = true;
    for (uint32_t pos = 0; pos + 1 < cell_count(m); pos += 2) {
        if (!live_at(m, pos)) continue;
        if (part && budget < 1) return budget;
        if (lines) {
            budget = mold::indent(buffer, level + 1, budget);
        } else if (!first) {
            budget = mold::append(buffer, flags.flat ? " " : "\n", budget);
        }
        first = false;
        Cell k = pairs(m)[pos];
        clear_newline(k);
        collector::Root keep_k(k);
        budget = mold::mold_value(k, buffer, inner, part, budget, form ? 0 : level + 1);
        budget = mold::append(buffer, " ", budget);
        Cell v = pairs(m)[pos + 1];
        clear_newline(v);
        collector::Root keep_v(v);
        budget = mold::mold_value(v, buffer, inner, part, budget, form ? 0 : level + 1);
        if (lines) budget = mold::append(buffer, "\n", budget);
    }
    if (!first && !form && !flags.flat && level >= 1) budget = mold::indent(buffer, level, budget);
    return budget;
}

}  // namespace

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    if (mold::cycle_detect(value, buffer, budget, false)) return budget;
    return write_pairs(value, buffer, {}, part, budget, 0, true);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    if (mold::cycle_detect(value, buffer, budget, true)) return budget;
    if (!flags.only) budget = mold::append(buffer, "#[", budget);
    if (!flags.flat && !flags.only && count(value) > 0) budget = mold::append(buffer, "\n", budget);
    budget = write_pairs(value, buffer, flags, part, budget, indent, false);
    if (!flags.only) budget = mold::append(buffer, "]", budget);
    return budget;
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    if (!s.value_to_set) {
        result = get(parent, *s.element, s.case_);
        return;
    }
    Cell value = *s.value_to_set;
    collector::Root keep(value);
    put(parent, *s.element, value, s.case_);
    result = value;
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::map)) return -2;
    bool same = storage_of(a) == storage_of(b) && series_index(a) == series_index(b);
    if (op == 9) return same ? 0 : 1;
    if (op == 7 || op == 8) {
        int64_t d = int64_t(storage_of(a)) - int64_t(storage_of(b));
        return d < 0 ? -1 : d > 0 ? 1 : 0;
    }
    if (op != 0 && op != 1 && op != 2 && op != 12) return -2;
    if (same) return 0;
    bool in_a = mold::cycle_find(storage_of(a)), in_b = mold::cycle_find(storage_of(b));
    if (in_a || in_b) return in_a && in_b ? 0 : 1;
    if (count(a) != count(b)) return 1;
    Cell x = a, y = b;
    collector::Root r0(x), r1(y);
    mold::CycleScope scope(storage_of(x), storage_of(y));
    bool strict = op == 2;
    for (uint32_t pos = 0; pos + 1 < cell_count(x); pos += 2) {
        if (!live_at(x, pos)) continue;
        Cell k = pairs(x)[pos];
        int32_t at = find_position(y, k, strict ? Mode::case_sensitive : Mode::any_case);
        if (at < 0 || !live_at(y, uint32_t(at))) return 1;
        Cell vx = pairs(x)[pos + 1], vy = pairs(y)[at + 1];
        if (!same_value(vx, vy, strict ? 2 : 0)) return 1;
    }
    return 0;
}

void clear(Args args) {
    hashtable::clear(table_of(args[0]));
}

void copy(Args args, const Cell*, bool deep, const Cell* types) {
    Cell m = args[0];
    collector::Root keep(m);
    Cell tmp[1] = {series_cell(Type::block, storage_of(m))};
    collector::Root keep_tmp(tmp[0]);
    block::copy(tmp, nullptr, deep, types);
    Node t = hashtable::copy(table_of(m), series_node(tmp[0]));
    args[0] = series_cell(Type::map, series_node(tmp[0]), 0, t);
}

void find(Args args, const actions::FindRefs& r) {
    Mode mode = r.same ? Mode::strict : mode_of(r.case_);
    int32_t pos = find_position(args[0], args[1], mode);
    if (pos < 0 || !live_at(args[0], uint32_t(pos))) {
        args[0] = none_cell();
        return;
    }
    Cell k = pairs(args[0])[pos];
    if (r.same && series::is_series(type_of(args[1])) && !(k.w1 == args[1].w1 && k.w2 == args[1].w2)) {
        args[0] = none_cell();
        return;
    }
    args[0] = key_out(k);
}

int32_t length_q(const Cell& value) { return int32_t(count(value)); }

void put_action(Args args, bool case_) {
    put(args[0], args[1], args[2], case_);
    args[0] = args[2];
}

void remove(Args args, const Cell*, const Cell* key) {
    if (!key) errors::fire(errors::id::missing_arg);
    int32_t pos = find_position(args[0], *key, Mode::case_sensitive);
    if (pos < 0 || !live_at(args[0], uint32_t(pos))) return;
    pairs(args[0])[pos + 1].header = 0;
    adjust_removed(args[0], 1);
}

void select(Args args, const actions::FindRefs& r) {
    Mode mode = r.same ? Mode::strict : mode_of(r.case_);
    int32_t pos = find_position(args[0], args[1], mode);
    if (pos < 0 || !live_at(args[0], uint32_t(pos))) {
        args[0] = none_cell();
        return;
    }
    Cell k = pairs(args[0])[pos];
    if (r.same && series::is_series(type_of(args[1])) && !(k.w1 == args[1].w1 && k.w2 == args[1].w2)) {
        args[0] = none_cell();
        return;
    }
    args[0] = pairs(args[0])[pos + 1];
}

void init() {
    actions::Row row;
    row.make = &make;
    row.reflect = &reflect;
    row.to = &to;
    row.form = &form;
    row.mold = &mold;
    row.eval_path = &eval_path;
    row.compare = &compare;
    row.clear = &clear;
    row.copy = &copy;
    row.find = &find;
    row.length_q = &length_q;
    row.put = &put_action;
    row.remove = &remove;
    row.select = &select;
    datatype::register_type(Type::map, Type::any, "map!", row);
}

}  // namespace zan::map
