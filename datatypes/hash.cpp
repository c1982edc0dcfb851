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

// find of one value without refinements goes straight to the index;
// everything else is block!'s find.
void find(Args args, const actions::FindRefs& r) {
    const Cell& v = args[1];
    Type vt = type_of(v);
    bool plain = !r.part && !r.only && !r.case_ && !r.same && !r.any && !r.with && !r.skip &&
                 !r.last && !r.reverse && !r.tail && !r.match;
    if (!plain || vt == Type::datatype || vt == Type::typeset || vt == Type::object ||
        (series::is_block_like(vt) && block::rs_length(v) > 0))
        return block::find(args, r);
    Cell& blk = args[0];
    int32_t total = series::buffer_length(blk), head = int32_t(series_index(blk));
    Node table = Node(series_extra(blk));
    int32_t at = total == 0 || head >= total ? -1
                 : vt == Type::integer    ? hashtable::get_integer(table, v, uint32_t(head))
                                          : hashtable::get(table, v, uint32_t(head));
    if (at < 0 || at >= total)
        blk = none_cell();
    else
        set_series_index(blk, uint32_t(at));
}

void init() {
    actions::Row row;
    row.make = &make;
    actions::inherit_series_slots(row);
    using S = actions::Slot;
    actions::inherit(row, {S::reflect, S::form, S::eval_path, S::compare, S::append, S::change,
                           S::insert, S::put, S::select, S::swap});
    row.to = &to;
    row.mold = &mold;
    row.copy = &copy;
    row.sort = &sort;
    row.trim = &trim;
    row.find = &find;
    datatype::register_type(Type::hash, Type::block, "hash!", row);
}


}  // namespace zan::hash
