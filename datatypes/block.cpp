// block!: storage helpers and the block actions.
//
// A block is a unit-16 series: its buffer holds whole cells, its value names the
// buffer by node and a head index. The invariants every routine here keeps:
// the tail is a whole number of cells past the buffer's head offset; a value's
// head may lie past the tail (another value shortened the buffer), so readers
// clamp; and no Cell* into a buffer survives an allocation, because the
// collector may move the buffer (the node stays, the address changes). Cells
// that must survive an allocation are copied into rooted locals first.
//
// The root block holds what the runtime keeps for good; it is registered with
// the collector as a root.
#include "datatypes/block.h"
#include "datatypes/block_sort.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/vector.h"
#include "datatypes/series_services.h"
#include "datatypes/typeset.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zan::block {

namespace svc = series::services;
using series::Change;

namespace {

constexpr int32_t op_strict_equal = 2, op_same = 9, op_find = 12;

int32_t index_of(const Cell& b) { return int32_t(series_index(b)); }
memory::Series* buf(const Cell& b) { return memory::buffer(series_node(b)); }
int32_t total_of(const Cell& b) { return int32_t(buf(b)->length()); }
Cell* cells_of(const Cell& b) { return buf(b)->cells(); }

bool is_word_family(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word ||
           t == Type::refinement || t == Type::issue;
}
bool is_number_like(Type t) {
    return t == Type::integer || t == Type::float_ || t == Type::percent;
}

Cell root_cell;

void mark_root() { collector::mark_cell(root_cell); }

// Counts a dup refinement's repetitions.
int32_t dup_count(const Cell* dup) {
    if (!dup) return 1;
    if (!is(*dup, Type::integer)) series::fire_refine_arg("dup", *dup);
    return std::max(int_of(*dup), 0);
}

// The cells a value contributes to append, insert and change.
struct Source {
    bool cells;      // the value's cells from its head, else the value itself
    int32_t count;
};

Source source_of(const Cell& value, const Cell* part, bool only) {
    Source src{series::is_block_like(type_of(value)) && !only, 1};
    if (src.cells) src.count = rs_length(value);
    if (part) {
        int32_t limit = src.cells ? series::part_count(value, *part, "part")
                                  : is(*part, Type::integer) ? int_of(*part)
                                                             : (series::fire_refine_arg("part", *part), 0);
        src.count = std::clamp(limit, 0, src.count);
    }
    return src;
}

// The cells to write: a copy of the source's cells, taken before the gap
// opens (they may lie in the very buffer that changes), or the value itself.
std::vector<Cell> take_source(const Cell& value, const Source& src) {
    if (!src.cells) return src.count ? std::vector<Cell>{value} : std::vector<Cell>{};
    const Cell* from = cells_of(value) + index_of(value);
    return std::vector<Cell>(from, from + src.count);
}

// Writes the cells dup times from dst (no allocation happens here).
void write_source(Cell* dst, const std::vector<Cell>& cells, int32_t dup) {
    if (cells.empty() || dup == 0) return;
    std::memcpy(dst, cells.data(), cells.size() * sizeof(Cell));
    if (dup > 1)
        series::fill_repeat(reinterpret_cast<std::byte*>(dst), uint32_t(cells.size()) * 16,
                            uint32_t(dup));
}

// What an insert, append or change puts in: the source, its repeat count, the
// cells in all and their bytes (checked against the size limit).
struct Incoming {
    Source src;
    int32_t dup;
    uint64_t count;
    uint32_t bytes;
};

Incoming incoming(const Cell& value, const Cell* part, bool only, const Cell* dup_ref) {
    Source src = source_of(value, part, only);
    int32_t dup = dup_count(dup_ref);
    uint64_t count = uint64_t(src.count) * uint64_t(dup);
    return {src, dup, count, series::checked_size(count, 16)};
}

void insert_or_append(Args args, const Cell* part, bool only, const Cell* dup_ref, bool append) {
    Cell& blk = args[0];
    const Cell& value = args[1];
    // Plain locals, not a structured binding: lambdas below capture them.
    const Incoming in = incoming(value, part, only, dup_ref);
    const Source& src = in.src;
    const int32_t dup = in.dup;
    const uint64_t count = in.count;
    const uint32_t bytes = in.bytes;
    int32_t total = total_of(blk);
    int32_t at = append ? total : std::min(index_of(blk), total);
    series::with_notify_value(blk, append ? Change::append : Change::insert, at, int32_t(count), value, [&] {
        Node n = series_node(blk);
        series::ensure_room(n, bytes, dup < 5);
        std::vector<Cell> cells = take_source(value, src);
        memory::Series* b = series::open_gap(n, uint32_t(at) * 16, bytes);
        write_source(b->cells() + at, cells, dup);
        svc::ownership_adopt(blk, at, int32_t(count));
        if (append)
            series::index_appended(blk, at);
        else
            series::reindex(blk);
    });
    set_series_index(blk, append ? 0u : uint32_t(at + int32_t(count)));
}

bool typeset_or_datatype_match(const Cell& filter, Type t) {
    if (is(filter, Type::datatype)) return datatype_of(filter) == t;
    if (is(filter, Type::typeset)) return typeset::has(filter, t);
    return false;
}

bool copyable_nested(Type t) {
    return series::is_series(t) || t == Type::bitset || t == Type::object || t == Type::error ||
           t == Type::map;
}

// Copies the value in place with its type's copy action (a series without one
// of its own is copied as a plain series); keeps the value's header flags.
void copy_value(Cell* slot, bool deep, const Cell* types) {
    auto fn = datatype::row(type_of(slot[0])).copy.fn;
    if (!fn && series::is_series(type_of(slot[0]))) fn = series::copy;
    if (!fn) return;
    uint32_t header = slot[0].header;
    fn(slot, nullptr, deep, types);
    slot[0].header = (slot[0].header & header::type_mask) | (header & ~header::type_mask);
}

// Replaces the cell at index i of blk by its copy.
void copy_nested_at(const Cell& blk, int32_t i, bool deep, const Cell* types) {
    Cell tmp[1] = {cells_of(blk)[i]};
    collector::Root keep(tmp[0]);
    copy_value(tmp, deep, deep ? types : nullptr);
    cells_of(blk)[i] = tmp[0];
}

// Walks the new copy's cells and copies nested values (deep, or by type filter).
void copy_nested(const Cell& blk, bool deep, const Cell* types) {
    int32_t total = total_of(blk);
    for (int32_t i = 0; i < total; ++i) {
        Type t = type_of(cells_of(blk)[i]);
        if (types) {
            if (copyable_nested(t) && typeset_or_datatype_match(*types, t))
                copy_nested_at(blk, i, deep, types);
        } else if (series::is_series(t)) {
            copy_nested_at(blk, i, true, nullptr);
        }
    }
}

bool cells_equal(const Cell& a, const Cell& b, int32_t op) {
    return compare_values(a, b, op) == 0;
}

}  // namespace

// --- reading and writing by the head ---------------------------------------------

int32_t rs_length(const Cell& block) { return std::max(total_of(block) - index_of(block), 0); }

bool rs_next(Cell& block) { return series::rs_skip(block, 1); }

Cell* rs_head(Cell& block) {
    int32_t total = total_of(block);
    if (index_of(block) > total) set_series_index(block, uint32_t(total));
    return cells_of(block) + index_of(block);
}

Cell* rs_tail(const Cell& block) { return cells_of(block) + total_of(block); }
bool rs_tail_q(const Cell& block) { return index_of(block) >= total_of(block); }
Cell* rs_abs_at(const Cell& block, int32_t i) { return cells_of(block) + i; }

void rs_clear(const Cell& block) {
    memory::Series* b = buf(block);
    b->tail = b->head + uint32_t(std::min(index_of(block), total_of(block))) * 16;
}

void rs_truncate(const Cell& block, int32_t i) {
    memory::Series* b = buf(block);
    b->tail = b->head + uint32_t(std::clamp(i, 0, total_of(block))) * 16;
}

Cell* append_cell(const Cell& block) {
    memory::Series* b = memory::buffer(series_node(block));
    if (b->tail + 16 > b->capacity) {
        memory::expand_series_copy(series_node(block), 0);
        b = memory::buffer(series_node(block));
    }
    Cell* c = reinterpret_cast<Cell*>(b->at_tail());
    *c = unset_cell();
    b->tail += 16;
    return c;
}

Cell* rs_append(const Cell& block, const Cell& value) {
    Cell v = value;  // the value may lie in the buffer that moves
    collector::Root keep(v);
    Cell* c = append_cell(block);
    *c = v;
    return c;
}

void rs_append_block(const Cell& block, const Cell& source) {
    int32_t n = rs_length(source);
    for (int32_t i = 0; i < n; ++i) rs_append(block, cells_of(source)[index_of(source) + i]);
}

Cell rs_select(const Cell& block, const Cell& key) {
    int32_t total = total_of(block);
    for (int32_t i = index_of(block); i < total; ++i) {
        if (cells_equal(cells_of(block)[i], key, op_find))
            return i + 1 < total ? cells_of(block)[i + 1] : none_cell();
    }
    return none_cell();
}

Cell select_word(const Cell& block, const Cell& word, bool case_) {
    uint32_t want = case_ ? word_symbol(word) : svc::symbol_canonical(word_symbol(word));
    int32_t total = total_of(block);
    for (int32_t i = index_of(block); i < total; ++i) {
        const Cell& c = cells_of(block)[i];
        Type t = type_of(c);
        if (t != Type::word && t != Type::set_word && t != Type::lit_word && t != Type::get_word)
            continue;
        uint32_t sym = case_ ? word_symbol(c) : svc::symbol_canonical(word_symbol(c));
        if (sym == want) return i + 1 < total ? cells_of(block)[i + 1] : none_cell();
    }
    return none_cell();
}

bool rs_remove_value(const Cell& block, const Cell& key, bool from_start) {
    int32_t total = total_of(block);
    for (int32_t i = from_start ? 0 : index_of(block); i < total; ++i) {
        if (cells_equal(cells_of(block)[i], key, op_find)) {
            series::close_gap(series_node(block), uint32_t(i) * 16, 16);
            return true;
        }
    }
    return false;
}

void insert_value(Cell& block, const Cell& value, bool advance, bool from_start) {
    Cell v = value;
    collector::Root keep(v);
    Node n = series_node(block);
    int32_t at = from_start ? 0 : std::min(index_of(block), total_of(block));
    memory::Series* b = series::open_gap(n, uint32_t(at) * 16, 16);
    b->cells()[at] = v;
    if (advance) set_series_index(block, uint32_t(at + 1));
}

void insert_block(Cell& target, const Cell& source) {
    Cell src = source;
    collector::Root keep(src);
    int32_t n = rs_length(src);
    for (int32_t i = 0; i < n; ++i) insert_value(target, cells_of(src)[index_of(src) + i], true, false);
}

// --- making blocks -------------------------------------------------------------------

Cell& make_at(Cell& cell, int32_t capacity) { return make_at_big(cell, capacity, false); }

Cell& make_at_big(Cell& cell, int32_t capacity, bool big) {
    uint32_t n = uint32_t(std::max(capacity, 1));
    series::checked_size(n, 16);
    Node node = big ? memory::alloc_big_series(n, 16) : memory::alloc_cells(n);
    cell = series_cell(Type::block, node);
    return cell;
}

Cell* make_root(const Cell* parent, int32_t capacity) {
    if (!parent) return &make_at_big(root_cell, capacity, true);
    Cell blk;
    collector::Root keep(blk);
    make_at_big(blk, capacity, true);
    return rs_append(*parent, blk);
}

Cell* make_in(const Cell* parent, int32_t capacity) {
    if (!parent) return &make_at(root_cell, capacity);
    Cell blk;
    collector::Root keep(blk);
    make_at(blk, capacity);
    return rs_append(*parent, blk);
}

Cell& root() { return root_cell; }

void init_root() {
    make_root(nullptr, root_capacity);
    collector::register_marker(mark_root);
}

Cell clone(const Cell& block, bool deep, bool all_blocks) {
    Cell src = block;
    collector::Root keep_src(src);
    int32_t n = rs_length(src);
    Cell out;
    collector::Root keep_out(out);
    make_at(out, n);
    set_type(out, type_of(src));
    memory::Series* to = buf(out);
    std::memcpy(to->cells(), cells_of(src) + index_of(src), size_t(n) * sizeof(Cell));
    to->tail = to->head + uint32_t(n) * 16;
    if (deep) {
        for (int32_t i = 0; i < n; ++i) {
            Type t = type_of(cells_of(out)[i]);
            bool nested = t == Type::block ||
                          (all_blocks && series::is_block_like(t) && t != Type::hash);
            if (!nested) continue;
            Cell inner = cells_of(out)[i];
            uint32_t header = inner.header;
            Cell copy = clone(inner, deep, all_blocks);
            copy.header = header;
            cells_of(out)[i] = copy;
        }
    }
    return out;
}

int32_t compare_values(const Cell& a, const Cell& b, int32_t op) {
    auto fn = datatype::row(type_of(a)).compare.fn;
    return fn ? fn(a, b, op) : -2;
}

// --- make and to ------------------------------------------------------------------------

namespace {
Cell block_form_of(const Cell& spec) {
    if (is(spec, Type::vector)) {
        Cell out;
        make_at(out, std::max(series::buffer_length(spec), 1));
        collector::Root keep(out);
        vector::to_block(spec, out);
        return out;
    }
    Cell tmp[1] = {spec};
    collector::Root keep(tmp[0]);
    auto reflect = datatype::row(type_of(spec)).reflect.fn;
    if (!reflect) errors::fire(errors::id::not_done);
    reflect(tmp, svc::symbol_of("body"));
    return tmp[0];
}
}  // namespace

void make(Args args, Type type) {
    const Cell& spec = args[1];
    Type st = type_of(spec);
    if (st == Type::integer || st == Type::float_) {
        double d = st == Type::integer ? int_of(spec) : float_of(spec);
        if (!(d >= -2147483648.0 && d < 2147483648.0)) errors::fire(errors::id::bad_make_arg, &args[0], &spec);
        make_at(args[0], int32_t(d));
    } else if (series::is_block_like(st)) {
        args[0] = clone(spec, false, false);
    } else if (st == Type::object || st == Type::map || st == Type::vector) {
        args[0] = block_form_of(spec);
    } else {
        Cell dt = datatype_cell(type);
        errors::fire(errors::id::bad_make_arg, &dt, &spec);
    }
    set_type(args[0], type);
    clear_newline(args[0]);
}

LoadString load_string = nullptr;

void to(Args args, Type type) {
    const Cell& spec = args[1];
    Type st = type_of(spec);
    if (st == Type::typeset) {
        typeset::to_block(spec, args[0]);
    } else if (st == Type::object || st == Type::map || st == Type::vector) {
        args[0] = block_form_of(spec);
    } else if (st == Type::string) {
        if (!load_string) errors::fire(errors::id::not_done);
        Cell text = spec;
        collector::Root keep(text);
        load_string(args[0], text);
    } else if (series::is_block_like(st)) {
        args[0] = clone(spec, false, false);
    } else {
        Cell v = spec;
        collector::Root keep(v);
        make_at(args[0], 1);
        rs_append(args[0], v);
    }
    set_type(args[0], type);
    clear_newline(args[0]);
}

// --- compare ------------------------------------------------------------------------------

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Type ta = type_of(a), tb = type_of(b);
    if (ta != tb) {
        bool paths = (ta == Type::path || ta == Type::lit_path) &&
                     (tb == Type::path || tb == Type::lit_path);
        if (!((op == 10 || op == 11) && paths)) return -2;
    }
    Node na = series_node(a), nb = series_node(b);
    if (na == nb && index_of(a) == index_of(b)) return 0;
    if (op == op_same) return -1;
    if (mold::cycle_find(na)) return mold::cycle_find(nb) ? 0 : -1;
    int32_t la = rs_length(a), lb = rs_length(b);
    if (la != lb && (op <= op_strict_equal || op == 10 || op == 11 || op == op_find)) return 1;
    // An empty block orders before any other; answering 0 would make the
    // order depend on the side it is asked from.
    if (la == 0 || lb == 0) return la == lb ? 0 : la < lb ? -1 : 1;
    mold::CycleScope guard(na, nb);
    int32_t answer = 0;
    int32_t n = std::min(la, lb);
    for (int32_t i = 0; i < n && answer == 0; ++i) {
        Cell x = cells_of(a)[index_of(a) + i];
        Cell y = cells_of(b)[index_of(b) + i];
        Type tx = type_of(x), ty = type_of(y);
        bool comparable = tx == ty || (is_word_family(tx) && is_word_family(ty)) ||
                          (is_number_like(tx) && is_number_like(ty));
        if (!comparable) {
            answer = tx < ty ? -1 : 1;
            break;
        }
        answer = compare_values(x, y, op);
    }
    if (answer != 0) return answer;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// --- append, insert, change ----------------------------------------------------------------

void append(Args args, const Cell* part, bool only, const Cell* dup) {
    insert_or_append(args, part, only, dup, true);
}

void insert(Args args, const Cell* part, bool only, const Cell* dup) {
    insert_or_append(args, part, only, dup, false);
}

void change(Args args, const Cell* part, bool only, const Cell* dup_ref) {
    Cell& blk = args[0];
    const Cell& value = args[1];
    // Plain locals, not a structured binding: lambdas below capture them.
    const Incoming in = incoming(value, nullptr, only, dup_ref);
    const Source& src = in.src;
    const int32_t dup = in.dup;
    const uint64_t count = in.count;
    const uint32_t bytes = in.bytes;
    int32_t total = total_of(blk);
    int32_t at = std::min(index_of(blk), total);
    int32_t rest = total - at;
    int32_t replaced = part ? std::clamp(series::part_count(blk, *part, "part"), 0, rest)
                            : int32_t(std::min<uint64_t>(count, uint64_t(rest)));
    series::with_notify(blk, Change::change, at, int32_t(count), [&] {
        svc::ownership_release(blk, at, replaced);
        Node n = series_node(blk);
        uint32_t old_bytes = uint32_t(replaced) * 16;
        if (bytes > old_bytes) series::ensure_room(n, bytes - old_bytes, dup < 5);
        std::vector<Cell> cells = take_source(value, src);
        uint32_t pos = uint32_t(at) * 16;
        if (bytes > old_bytes) {
            series::open_gap(n, pos + old_bytes, bytes - old_bytes);
        } else if (bytes < old_bytes) {
            series::close_gap(n, pos + bytes, old_bytes - bytes);
        }
        write_source(memory::buffer(n)->cells() + at, cells, dup);
        svc::ownership_adopt(blk, at, int32_t(count));
        series::reindex(blk);
    });
    set_series_index(blk, uint32_t(std::min<int64_t>(at + int64_t(count), total_of(blk))));
}

// --- copy and take --------------------------------------------------------------------------

void copy(Args args, const Cell* part, bool deep, const Cell* types) {
    Cell src = args[0];
    collector::Root keep(src);
    series::copy(args, part, deep, types);
    if (!deep && !types) return;
    if (is(args[0], Type::hash)) set_type(args[0], Type::block);
    Node n = series_node(src);
    if (mold::cycle_find(n)) {
        mold::cycle_reset();
        errors::fire(errors::id::no_cycle);
    }
    mold::CycleScope guard(n);
    copy_nested(args[0], deep, types);
}

void take(Args args, const Cell* part, bool deep, bool last) {
    series::take(args, part, deep, last);
    if (!deep) return;
    if (part) {
        copy_nested(args[0], true, nullptr);
    } else if (series::is_series(type_of(args[0]))) {
        copy_value(args, true, nullptr);
    }
}

// --- swap and trim ----------------------------------------------------------------------------

void swap(Args args) {
    Cell& a = args[0];
    Cell& b = args[1];
    if (!series::is_block_like(type_of(b))) errors::fire(errors::id::invalid_arg, &b);
    if (rs_tail_q(a) || rs_tail_q(b)) return;
    bool owned_a = series::notify_before(a, Change::swap, index_of(a), 1);
    bool owned_b = series::notify_before(b, Change::swap, index_of(b), 1);
    Cell* x = cells_of(a) + index_of(a);
    Cell* y = cells_of(b) + index_of(b);
    std::swap(*x, *y);
    series::reindex(a);
    if (series_node(b) != series_node(a)) series::reindex(b);
    if (owned_a) series::notify_after(a, Change::swap, index_of(a), 1);
    if (owned_b) series::notify_after(b, Change::swap, index_of(b), 1);
}

void trim(Args args, const actions::TrimRefs&) {
    Cell& blk = args[0];
    int32_t at = std::min(index_of(blk), total_of(blk));
    int32_t total = total_of(blk);
    series::with_notify(blk, Change::trim, at, total - at, [&] {
        Cell* c = cells_of(blk);
        int32_t kept = at;
        for (int32_t i = at; i < total; ++i)
            if (!is(c[i], Type::none)) c[kept++] = c[i];
        rs_truncate(blk, kept);
        series::reindex(blk);
    });
}

// --- find, select, put ------------------------------------------------------------------------

namespace {

struct Match {
    int32_t at;   // absolute index of the match, -1 when none
    int32_t len;  // cells matched (a run's length, else 1)
};

Match find_in(const Cell& blk, const Cell& value, const actions::FindRefs& r) {
    Match none{-1, 0};
    int32_t total = total_of(blk);
    int32_t head = index_of(blk);
    if (total == 0 || (head >= total && !r.reverse)) return none;
    int32_t step = 1;
    if (r.skip) {
        if (!is(*r.skip, Type::integer)) series::fire_refine_arg("skip", *r.skip);
        step = int_of(*r.skip);
        if (step < 1) errors::fire(errors::id::out_of_range, r.skip);
    }
    int32_t bound = total - 1;  // the last cell tried
    if (r.part) {
        if (is(*r.part, Type::integer)) {
            if (int_of(*r.part) < 1) return none;
            bound = int32_t(std::min<int64_t>(int64_t(head) + int_of(*r.part) - 1, total - 1));
        } else if (type_of(*r.part) == type_of(blk) && series_node(*r.part) == series_node(blk)) {
            bound = std::min(index_of(*r.part), total - 1);
        } else {
            series::fire_refine_arg("part", *r.part);
        }
    }
    int32_t op = r.same ? op_same : r.case_ ? op_strict_equal : op_find;
    Type vt = type_of(value);
    bool by_type = !r.only && vt == Type::datatype;
    bool by_typeset = !r.only && vt == Type::typeset;
    int32_t run = 0;
    if (!r.only && series::is_block_like(vt) && rs_length(value) > 0) run = rs_length(value);
    int32_t len = run ? run : 1;

    // A hash! finds single values through its index.
    Node table = series::hash_table_of(blk);
    if (table && !r.match && !run && !by_type && !by_typeset &&
        !(vt == Type::object && !r.same)) {
        hashtable::Mode mode = r.same     ? hashtable::Mode::strict
                               : r.case_ ? hashtable::Mode::case_sensitive
                                         : hashtable::Mode::any_case;
        int32_t at = hashtable::get(table, value, uint32_t(std::min(head, total)), uint32_t(step),
                                    mode, r.last, r.reverse);
        if (at < 0 || at > bound) return none;
        return {at, 1};
    }

    auto matches = [&](int32_t i) -> bool {
        const Cell* c = cells_of(blk);
        if (by_type) return type_of(c[i]) == datatype_of(value);
        if (by_typeset) return typeset::has(value, type_of(c[i]));
        if (run) {
            if (i + run - 1 > bound && !r.last && !r.reverse) return false;
            if (i + run > total) return false;
            for (int32_t k = 0; k < run; ++k) {
                Cell x = cells_of(blk)[i + k];
                Cell y = cells_of(value)[index_of(value) + k];
                if (!cells_equal(x, y, op)) return false;
            }
            return true;
        }
        Cell x = c[i];
        return cells_equal(x, value, op);
    };

    if (r.last || r.reverse) {
        // With /skip the positions tried stay on record boundaries counted
        // from the head, as they do forward.
        int32_t start;
        if (r.last) {
            start = std::min(r.part ? bound : total - len, total - len);
            if (start > head) start = head + (start - head) / step * step;
        } else {
            start = std::min(r.part ? bound : head - (run ? len : step), total - len);
        }
        // /last looks back to the head, /reverse to the buffer start.
        int32_t floor = r.last ? head : 0;
        for (int32_t i = start; i >= floor; i -= step) {
            if (matches(i)) return {i, len};
            if (r.match) break;
        }
        return none;
    }
    for (int32_t i = head; i <= bound; i += step) {
        if (matches(i)) return {i, len};
        if (r.match) break;
    }
    return none;
}

}  // namespace

void find(Args args, const actions::FindRefs& r) {
    Cell& blk = args[0];
    Match m = find_in(blk, args[1], r);
    if (m.at < 0) {
        args[0] = none_cell();
        return;
    }
    int32_t at = m.at;
    if (r.tail) {
        bool backward = r.last || r.reverse;
        bool single = m.len == 1;
        at += single && !backward ? std::max<int32_t>(r.skip ? int_of(*r.skip) : 1, 1) : m.len;
    }
    set_series_index(blk, uint32_t(std::min(at, total_of(blk))));
}

void select(Args args, const actions::FindRefs& r) {
    Cell& blk = args[0];
    Match m = find_in(blk, args[1], r);
    int32_t next = m.at + m.len;
    if (m.at < 0 || next >= total_of(blk)) {
        args[0] = none_cell();
        return;
    }
    args[0] = cells_of(blk)[next];
}

void put(Args args, bool case_) {
    Cell& blk = args[0];
    const Cell& key = args[1];
    const Cell& value = args[2];
    actions::FindRefs r;
    r.only = true;
    r.case_ = case_;
    Match m = find_in(blk, key, r);
    int32_t at = m.at < 0 ? total_of(blk) : m.at;
    series::with_notify(blk, Change::put, at, 1, [&] {
        int32_t total = total_of(blk);
        if (m.at < 0) {
            rs_append(blk, key);
            rs_append(blk, value);
        } else if (m.at + 1 < total) {
            Cell old = cells_of(blk)[m.at + 1];
            if (!cells_equal(old, value, op_find)) {
                svc::ownership_release(blk, m.at + 1, 1);
                cells_of(blk)[m.at + 1] = value;
                series::reindex(blk);
            }
        } else {
            rs_append(blk, value);
        }
        series::index_appended(blk, total);
        svc::ownership_adopt(blk, m.at < 0 ? total : m.at + 1, 2);
    });
    args[0] = args[2];
}

// --- path steps ----------------------------------------------------------------------------------

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    const Cell& element = *s.element;
    Cell args[3] = {parent, element, s.value_to_set ? *s.value_to_set : unset_cell()};
    collector::Root r0(args[0]), r1(args[1]), r2(args[2]);
    if (is(element, Type::integer)) {
        if (s.value_to_set) {
            series::poke(args, int_of(element));
        } else {
            series::pick(args, int_of(element));
        }
        result = args[0];
        return;
    }
    if (!s.value_to_set) {
        if (is(element, Type::word) && !is(parent, Type::hash)) {
            result = select_word(parent, element, s.case_);
        } else {
            actions::FindRefs r;
            r.case_ = s.case_;
            select(args, r);
            result = args[0];
        }
        return;
    }
    actions::FindRefs r;
    r.case_ = s.case_;
    Match m = find_in(parent, element, r);
    if (m.at < 0) {
        Cell path = s.path ? *s.path : none_cell();
        errors::fire(errors::id::bad_path_set, &path, &element);
    }
    Cell at = parent;
    set_series_index(at, uint32_t(m.at));
    args[0] = at;
    series::poke(args, 2);
    result = args[0];
}

// --- form and mold ---------------------------------------------------------------------------------

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    if (mold::cycle_detect(value, buffer, budget, false)) return budget;
    return mold::form_each(series_node(value), series_index(value), buffer, part, budget);
}

int32_t mold_each(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                  int32_t budget, int32_t indent) {
    return mold::mold_each(series_node(value), series_index(value), buffer, flags, part, budget,
                           indent);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
             int32_t budget, int32_t indent) {
    if (mold::cycle_detect(value, buffer, budget, true)) return budget;
    if (!flags.only) budget = mold::append(buffer, "[", budget);
    budget = mold_each(value, buffer, flags, part, budget, indent);
    if (!flags.only) budget = mold::append(buffer, "]", budget);
    return budget;
}

// --- registration -----------------------------------------------------------------------------------

void init() {
    using actions::SlotValue;
    actions::Row r;
    r.make = make;
    r.to = to;
    r.form = form;
    r.mold = mold;
    r.eval_path = eval_path;
    r.compare = compare;
    r.append = append;
    r.insert = insert;
    r.change = change;
    r.copy = copy;
    r.find = find;
    r.put = put;
    r.select = select;
    r.sort = sort;
    r.swap = swap;
    r.take = take;
    r.trim = trim;
    r.random = SlotValue<actions::Fn_random>::inherited();
    r.reflect = SlotValue<actions::Fn_reflect>::inherited();
    r.at = SlotValue<actions::Fn_at>::inherited();
    r.back = SlotValue<actions::Fn_back>::inherited();
    r.clear = SlotValue<actions::Fn_clear>::inherited();
    r.head = SlotValue<actions::Fn_head>::inherited();
    r.head_q = SlotValue<actions::Fn_head_q>::inherited();
    r.index_q = SlotValue<actions::Fn_index_q>::inherited();
    r.length_q = SlotValue<actions::Fn_length_q>::inherited();
    r.move = SlotValue<actions::Fn_move>::inherited();
    r.next = SlotValue<actions::Fn_next>::inherited();
    r.pick = SlotValue<actions::Fn_pick>::inherited();
    r.poke = SlotValue<actions::Fn_poke>::inherited();
    r.remove = SlotValue<actions::Fn_remove>::inherited();
    r.reverse = SlotValue<actions::Fn_reverse>::inherited();
    r.skip = SlotValue<actions::Fn_skip>::inherited();
    r.tail = SlotValue<actions::Fn_tail>::inherited();
    r.tail_q = SlotValue<actions::Fn_tail_q>::inherited();
    r.modify = SlotValue<actions::Fn_modify>::inherited();
    datatype::register_type(Type::block, Type::series, "block!", r);
}

}  // namespace zan::block
