// Sorting blocks by records of one or more cells, and the set operations.
//
// A sort works in place on the block's buffer, which is pinned for the whole
// sort: a function comparator runs script code that may allocate, and the record
// sort keeps raw addresses. Every refinement is checked before anything moves.
// The order is total, whatever the mixture: values group by type id, except
// that the numbers (integer!, float!, percent!) form one group, placed at
// integer!'s id and ordered by value, NaN after every other number. (Comparing
// across groups by value would not be transitive: 50 < #"c" by code point,
// #"c" < 20.0 by type, 20.0 < 50 by value.)
#include "datatypes/block_sort.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/sort.h"

namespace zan::block {

namespace {

constexpr int32_t code_sort = 7, code_sort_case = 8, code_find = 12, code_strict = 2;

CompareCallback compare_callback = nullptr;

// The group a value sorts in: its type id, or integer!'s for every number.
bool number_like(Type t) { return t == Type::integer || t == Type::float_ || t == Type::percent; }
int32_t sort_group(Type t) { return int32_t(number_like(t) ? Type::integer : t); }

bool is_nan_number(const Cell& v) {
    return (is(v, Type::float_) || is(v, Type::percent)) && std::isnan(float_of(v));
}

// One pair of cells under the sort order.
int32_t sort_order(const Cell& a, const Cell& b, int32_t code) {
    Type ta = type_of(a), tb = type_of(b);
    int32_t ga = sort_group(ta), gb = sort_group(tb);
    if (ga != gb) return ga < gb ? -1 : 1;
    if (ga == int32_t(Type::integer)) {
        bool na = is_nan_number(a), nb = is_nan_number(b);
        if (na || nb) return na == nb ? int32_t(ta) - int32_t(tb) : na ? 1 : -1;
    }
    int32_t answer = compare_values(a, b, code);
    if (answer == -2) answer = int32_t(type_id(a)) - int32_t(type_id(b));
    return answer;
}

// The comparator function of the sort in progress, and the scratch blocks that
// hand whole records to it.
const Cell* sort_function = nullptr;
Cell scratch[2];
bool scratch_made = false;
constexpr uint32_t scratch_shrink_bytes = 0x200000;

void mark_scratch() {
    collector::mark_cell(scratch[0]);
    collector::mark_cell(scratch[1]);
}

void make_scratch() {
    if (scratch_made) return;
    scratch_made = true;
    collector::register_marker(mark_scratch);
    make_at(scratch[0], 1);
    make_at(scratch[1], 1);
}

// Fills scratch block i with the record's cells.
void fill_scratch(int i, const Cell* record, int32_t size) {
    Node n = series_node(scratch[i]);
    memory::Series* b = memory::buffer(n);
    uint32_t bytes = uint32_t(size) * 16;
    if (b->capacity - b->head < bytes) memory::expand_series(n, uint64_t(b->head) + bytes);
    b = memory::buffer(n);
    std::memcpy(b->cells(), record, bytes);
    b->tail = b->head + bytes;
}

void shrink_scratch() {
    for (Cell& s : scratch) make_at(s, 1);
}

int record_compare(const void* a, const void* b, std::uintptr_t code, std::uintptr_t flags) {
    return sort_compare(static_cast<const Cell*>(a), static_cast<const Cell*>(b), int32_t(code),
                        int32_t(flags));
}

int record_compare_func(const void* a, const void* b, std::uintptr_t, std::uintptr_t flags) {
    return sort_compare_func(static_cast<const Cell*>(a), static_cast<const Cell*>(b),
                             *sort_function, int32_t(flags));
}

void sort_records(Cell* base, int32_t count, int32_t size, bool stable, int32_t code,
                  int32_t flags, sort::Compare compare) {
    auto run = stable ? sort::stable_merge : sort::adaptive_quick;
    run(base, size_t(count), size_t(size) * 16, std::uintptr_t(code), std::uintptr_t(flags),
        compare);
}

int32_t integer_refinement(const Cell& value, const char* name) {
    if (!is(value, Type::integer)) series::fire_refine_arg(name, value);
    return int_of(value);
}

}  // namespace

void set_compare_callback(CompareCallback cb) { compare_callback = cb; }
CompareCallback compare_callback_installed() { return compare_callback; }

int32_t sort_compare(const Cell* a, const Cell* b, int32_t code, int32_t flags) {
    if (flags & sort_reverse) std::swap(a, b);
    int32_t from = 0, to = 1;
    if (flags & sort_all) {
        to = flags >> sort_shift;
    } else {
        from = flags >> sort_shift;
        to = from + 1;
    }
    for (int32_t i = from; i < to; ++i) {
        int32_t answer = sort_order(a[i], b[i], code);
        if (answer != 0) return answer;
    }
    return 0;
}

int32_t sort_compare_func(const Cell* a, const Cell* b, const Cell& function, int32_t flags) {
    if (!compare_callback) errors::fire(errors::id::not_done);
    const Cell* first = (flags & sort_reverse) ? a : b;
    const Cell* second = (flags & sort_reverse) ? b : a;
    Cell x, y;
    collector::Root rx(x), ry(y);
    if (flags & sort_all) {
        int32_t size = flags >> sort_shift;
        fill_scratch(0, first, size);
        fill_scratch(1, second, size);
        x = scratch[0];
        y = scratch[1];
    } else {
        x = *first;
        y = *second;
    }
    Cell result = compare_callback(function, x, y);
    switch (type_of(result)) {
    case Type::logic: return logic_of(result) ? 1 : -1;
    case Type::integer: return int_of(result);
    case Type::float_: {
        double d = float_of(result);
        return d > 0 ? 1 : d < 0 ? -1 : 0;
    }
    case Type::none: return -1;
    default: return 1;
    }
}

void sort(actions::Args args, const actions::SortRefs& r) {
    Cell& blk = args[0];
    int32_t total = series::buffer_length(blk);
    int32_t start = std::min(int32_t(series_index(blk)), total);
    int32_t len = total - start;
    if (r.part) {
        int32_t n = series::part_count(blk, *r.part, "part");
        if (n < 0) {
            len = int32_t(std::min(-int64_t(n), int64_t(start)));
            start -= len;
        } else {
            len = std::min(n, len);
        }
    }
    int32_t size = 1;
    if (r.skip) {
        size = integer_refinement(*r.skip, "skip");
        if (size < 1 || size > len || len % size != 0) series::fire_refine_arg("skip", *r.skip);
    }
    if (r.all && !r.skip) errors::fire(errors::id::bad_refines);
    int32_t field = 0;
    bool by_function = false;
    if (r.compare) {
        if (is(*r.compare, Type::function)) {
            by_function = true;
        } else if (is(*r.compare, Type::integer)) {
            if (!r.skip || r.all) errors::fire(errors::id::bad_refines);
            int32_t k = int_of(*r.compare);
            if (k < 1 || k > size) errors::fire(errors::id::out_of_range, r.compare);
            field = k - 1;
        } else {
            series::fire_refine_arg("compare", *r.compare);
        }
    }
    int32_t flags = (r.reverse ? sort_reverse : 0) | (r.all ? sort_all : 0) |
                    ((r.all ? size : field) << sort_shift);
    int32_t count = size ? len / size : 0;
    if (count < 2) return;
    if (by_function && r.all) make_scratch();
    series::with_notify(blk, series::Change::sort, start, len, [&] {
        Node n = series_node(blk);
        memory::Pin pin(n);
        Cell* base = memory::buffer(n)->cells() + start;
        if (by_function) {
            const Cell* outer = sort_function;
            sort_function = r.compare;
            try {
                sort_records(base, count, size, r.stable, 0, flags, record_compare_func);
            } catch (...) {
                sort_function = outer;
                throw;
            }
            sort_function = outer;
            if (r.all && uint64_t(size) * 16 >= scratch_shrink_bytes) shrink_scratch();
        } else {
            sort_records(base, count, size, r.stable, r.case_ ? code_sort_case : code_sort, flags,
                         record_compare);
        }
        series::reindex(blk);
    });
}

// --- set operations ---------------------------------------------------------------------------

namespace {

bool records_equal(const Cell* a, const Cell* b, int32_t size, int32_t code) {
    for (int32_t i = 0; i < size; ++i)
        if (compare_values(a[i], b[i], code) != 0) return false;
    return true;
}

// A hash index over a block's cells from its head, made for the operation or
// (a hash!'s) its own.
struct Index {
    Node table = 0;
    hashtable::TableRoot root{table};
    Cell block;
    collector::Root keep{block};

    explicit Index(const Cell& b) : block(b) {
        table = is(b, Type::hash) && series_extra(b)
                    ? Node(series_extra(b))
                    : hashtable::make(uint32_t(rs_length(b)), &block, hashtable::kind_hash);
    }

    // Whether a whole record equal to rec starts at a record boundary from the head.
    bool contains(const std::vector<Cell>& rec, int32_t code) {
        int32_t head = int32_t(series_index(block));
        int32_t total = series::buffer_length(block);
        int32_t size = int32_t(rec.size());
        hashtable::Probe probe;
        for (int32_t at; (at = hashtable::get_next(table, rec[0], probe)) >= 0;) {
            if (at < head || (at - head) % size != 0 || at + size > total) continue;
            const Cell* c = memory::buffer(series_node(block))->cells() + at;
            if (records_equal(c, rec.data(), size, code)) return true;
        }
        return false;
    }
};

std::vector<Cell> record_at(const Cell& blk, int32_t i, int32_t size) {
    const Cell* c = memory::buffer(series_node(blk))->cells() + i;
    return std::vector<Cell>(c, c + size);
}

}  // namespace

void do_set_op(actions::Args args, bool case_, const Cell* skip, SetOp op) {
    int32_t size = 1;
    if (skip) {
        size = integer_refinement(*skip, "skip");
        if (size < 1) series::fire_refine_arg("skip", *skip);
    }
    bool two = op != SetOp::unique;
    for (int i = 0; i < (two ? 2 : 1); ++i) {
        int32_t total = series::buffer_length(args[i]);
        if (int32_t(series_index(args[i])) > total) set_series_index(args[i], uint32_t(total));
    }
    int32_t code = case_ ? code_strict : code_find;
    int32_t capacity = rs_length(args[0]) + (op == SetOp::union_ ? rs_length(args[1]) : 0);
    Cell out;
    make_at(out, capacity);
    Index result(out);

    // Appends the record at i unless the result holds it already. The cells
    // are read from their block again for each append: appending may move it.
    auto keep = [&](const Cell& from, int32_t i) {
        if (result.contains(record_at(from, i, size), code)) return;
        for (int32_t k = 0; k < size; ++k) {
            rs_append(result.block, memory::buffer(series_node(from))->cells()[i + k]);
            hashtable::put(result.table, uint32_t(series::buffer_length(result.block) - 1));
        }
    };
    auto walk = [&](const Cell& from, Index* other, bool keep_present) {
        for (int32_t i = int32_t(series_index(from)); i + size <= series::buffer_length(from);
             i += size) {
            if (other && other->contains(record_at(from, i, size), code) != keep_present) continue;
            keep(from, i);
        }
    };
    switch (op) {
    case SetOp::unique: walk(args[0], nullptr, true); break;
    case SetOp::union_:
        walk(args[0], nullptr, true);
        walk(args[1], nullptr, true);
        break;
    case SetOp::intersect: {
        Index other(args[1]);
        walk(args[0], &other, true);
        break;
    }
    case SetOp::exclude: {
        Index other(args[1]);
        walk(args[0], &other, false);
        break;
    }
    case SetOp::difference: {
        Index second(args[1]);
        walk(args[0], &second, false);
        Index first(args[0]);
        walk(args[1], &first, false);
        break;
    }
    }
    // A hash! operand gives a hash! that keeps the result's index.
    bool hashed = is(args[0], Type::hash) || (two && is(args[1], Type::hash));
    args[0] = result.block;
    if (hashed) {
        set_type(args[0], Type::hash);
        set_series_extra(args[0], result.table);
    }
}

}  // namespace zan::block
