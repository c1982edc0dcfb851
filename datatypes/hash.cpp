// hash! actions: make, to, mold, copy, sort and trim; everything else is
// block!'s, which keeps a hash!'s table in line as it changes the cells.
#include "datatypes/hash.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/block_sort.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zan::hash {

void index_in_place(Cell& block) {
    Cell whole = block;
    whole.w1 = 0;
    set_type(whole, Type::block);
    collector::Root keep(whole);
    uint32_t n = uint32_t(std::max(series::buffer_length(whole), 1));
    Node t = hashtable::make(n, &whole, hashtable::kind_hash);
    set_type(block, Type::hash);
    set_series_extra(block, t);
}

void make(Args args, Type type) {
    const Cell& spec = args[1];
    Type t = type_of(spec);
    if (t == Type::integer || t == Type::float_) {
        int32_t n = std::max(integer::number_to_integer(spec), 1);
        Cell b;
        block::make_at(b, n);
        collector::Root keep(b);
        index_in_place(b);
        args[0] = b;
    } else if (t == Type::block) {
        Cell b = block::clone(spec, false, false);
        collector::Root keep(b);
        index_in_place(b);
        args[0] = b;
    } else if (t == Type::hash) {
        args[0] = spec;
        copy(args, nullptr, false, nullptr);
    } else {
        to(args, type);
    }
}

void to(Args args, Type) {
    if (is(args[1], Type::hash)) {
        args[0] = args[1];
        copy(args, nullptr, false, nullptr);
        return;
    }
    block::to(args, Type::block);
    Cell b = args[0];
    collector::Root keep(b);
    set_type(b, Type::block);
    clear_newline(b);
    index_in_place(b);
    args[0] = b;
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    if (!flags.only) budget = mold::append(buffer, "make hash! ", budget);
    return block::mold(value, buffer, flags, part, budget, indent);
}

void copy(Args args, const Cell* part, bool deep, const Cell* types) {
    Cell src = args[0];
    collector::Root keep(src);
    block::copy(args, part, deep, types);
    Cell b = args[0];
    collector::Root keep_b(b);
    Node table = series::hash_table_of(src);
    if (series_index(src) == 0 && !part && !deep && !types && table) {
        Node t = hashtable::copy(table, series_node(b));
        set_type(b, Type::hash);
        set_series_extra(b, t);
    } else {
        index_in_place(b);
    }
    args[0] = b;
}

void sort(Args args, const actions::SortRefs& r) {
    block::sort(args, r);
    series::reindex(args[0]);
}

void trim(Args args, const actions::TrimRefs& r) {
    block::trim(args, r);
    series::reindex(args[0]);
}

#define ZAN_INHERIT(slot) row.slot = decltype(row.slot)::inherited()

void init() {
    actions::Row row;
    row.make = &make;
    ZAN_INHERIT(reflect);
    row.to = &to;
    ZAN_INHERIT(form);
    row.mold = &mold;
    ZAN_INHERIT(eval_path);
    ZAN_INHERIT(compare);
    ZAN_INHERIT(append);
    ZAN_INHERIT(at);
    ZAN_INHERIT(back);
    ZAN_INHERIT(change);
    ZAN_INHERIT(clear);
    row.copy = &copy;
    ZAN_INHERIT(find);
    ZAN_INHERIT(head);
    ZAN_INHERIT(head_q);
    ZAN_INHERIT(index_q);
    ZAN_INHERIT(insert);
    ZAN_INHERIT(length_q);
    ZAN_INHERIT(move);
    ZAN_INHERIT(next);
    ZAN_INHERIT(pick);
    ZAN_INHERIT(poke);
    ZAN_INHERIT(put);
    ZAN_INHERIT(remove);
    ZAN_INHERIT(reverse);
    ZAN_INHERIT(select);
    row.sort = &sort;
    ZAN_INHERIT(skip);
    ZAN_INHERIT(swap);
    ZAN_INHERIT(tail);
    ZAN_INHERIT(tail_q);
    ZAN_INHERIT(take);
    row.trim = &trim;
    ZAN_INHERIT(modify);
    datatype::register_type(Type::hash, Type::block, "hash!", row);
}

#undef ZAN_INHERIT

}  // namespace zan::hash
