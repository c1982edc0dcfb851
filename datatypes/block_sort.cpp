// Sorting blocks by records of one or more cells, and the set operations.
//
// A sort works in place on the block's buffer, which is pinned for the whole
// sort: a function comparator runs script code that may allocate, and the record
// sort keeps raw addresses. Every refinement is checked before anything moves.
// Values of types that cannot be compared are grouped by type id, so any
// mixture of values has one order.
#include "datatypes/block_sort.h"

#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/series_services.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::block {

namespace svc = series::services;

namespace {

constexpr int32_t code_sort = 7, code_sort_case = 8, code_find = 12, code_strict = 2;

CompareCallback compare_callback = nullptr;

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
    make_at(scratch[0], 1);
    make_at(scratch[1], 1);
    collector::register_marker(mark_scratch);
    scratch_made = true;
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

int32_t record_compare(const void* a, const void* b, int32_t code, int32_t flags) {
    return sort_compare(static_cast<const Cell*>(a), static_cast<const Cell*>(b), code, flags);
}

int32_t record_compare_func(const void* a, const void* b, int32_t, int32_t flags) {
    return sort_compare_func(static_cast<const Cell*>(a), static_cast<const Cell*>(b),
                             *sort_function, flags);
}

int32_t integer_refinement(const Cell& value, const char* name) {
    if (!is(value, Type::integer)) series::fire_refine_arg(name, value);
    return int_of(value);
}

}  // namespace

void set_compare_callback(CompareCallback cb) { compare_callback = cb; }

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
        int32_t answer = compare_values(a[i], b[i], code);
        if (answer == -2) answer = int32_t(type_id(a[i])) - int32_t(type_id(b[i]));
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
            n = std::min(-n, start);
            start -= n;
        }
        len = std::min(n, len);
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
                svc::sort_records(base, count, uint32_t(size) * 16, r.stable, 0, flags,
                                  record_compare_func);
            } catch (...) {
                sort_function = outer;
                throw;
            }
            sort_function = outer;
            if (r.all && uint64_t(size) * 16 >= scratch_shrink_bytes) shrink_scratch();
        } else {
            svc::sort_records(base, count, uint32_t(size) * 16, r.stable,
                              r.case_ ? code_sort_case : code_sort, flags, record_compare);
        }
    });
}

// --- set operations ---------------------------------------------------------------------------

namespace {

bool records_equal(const Cell* a, const Cell* b, int32_t size, int32_t code) {
    for (int32_t i = 0; i < size; ++i)
        if (compare_values(a[i], b[i], code) != 0) return false;
    return true;
}

// Whether a record equal to rec is among the whole records of blk from its head.
bool contains(const Cell& blk, const Cell* rec, int32_t size, int32_t code) {
    const Cell* c = memory::buffer(series_node(blk))->cells();
    int32_t from = int32_t(series_index(blk));
    int32_t to = series::buffer_length(blk);
    for (int32_t i = from; i + size <= to; i += size)
        if (records_equal(c + i, rec, size, code)) return true;
    return false;
}

// Appends the record at absolute index i of src to out unless out holds it.
void keep_record(const Cell& out, const Cell& src, int32_t i, int32_t size, int32_t code) {
    const Cell* rec = memory::buffer(series_node(src))->cells() + i;
    if (contains(out, rec, size, code)) return;
    for (int32_t k = 0; k < size; ++k)
        rs_append(out, memory::buffer(series_node(src))->cells()[i + k]);
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
    collector::Root keep(out);
    make_at(out, capacity);

    auto walk = [&](const Cell& from, const Cell* other, bool keep_present) {
        int32_t to = series::buffer_length(from);
        for (int32_t i = int32_t(series_index(from)); i + size <= to; i += size) {
            if (other) {
                const Cell* rec = memory::buffer(series_node(from))->cells() + i;
                if (contains(*other, rec, size, code) != keep_present) continue;
            }
            keep_record(out, from, i, size, code);
        }
    };
    switch (op) {
    case SetOp::unique: walk(args[0], nullptr, true); break;
    case SetOp::union_:
        walk(args[0], nullptr, true);
        walk(args[1], nullptr, true);
        break;
    case SetOp::intersect: walk(args[0], &args[1], true); break;
    case SetOp::exclude: walk(args[0], &args[1], false); break;
    case SetOp::difference:
        walk(args[0], &args[1], false);
        walk(args[1], &args[0], false);
        break;
    }
    args[0] = out;
}

}  // namespace zan::block
