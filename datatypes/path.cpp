// The path family: make/to, copy, form and mold of path!, lit-path!, set-path!
// and get-path!. Everything else is block!'s, through inherited slots.
//
// Form and mold write the values joined by "/", with the prefix or suffix of the
// path type ("'a/b", "a/b:", ":a/b"); a path met again inside itself is written
// as the cycle text, and a /part budget stops the walk between values.
#include "datatypes/path.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::path {

namespace {

bool is_block_like(Type t) {
    return t == Type::block || t == Type::paren || t == Type::hash || is_path(t);
}

// A copy of a block-like value's cells from its head, as block! converts.
Cell copy_values(const Cell& spec, Type type) {
    Cell c = block::clone(spec, false, false);
    clear_newline(c);
    return set_type(c, type);
}

int32_t write_values(const Cell& value, Node buffer, bool molding, actions::MoldFlags flags,
                     bool part, int32_t budget, int32_t indent) {
    if (mold::cycle_detect(value, buffer, budget, molding)) return budget;
    // The value itself may lie in a buffer that moves while its values are written.
    Node n = series_node(value);
    uint32_t head = series_index(value);
    collector::NodeRoot keep_series(n);
    mold::CycleScope guard(n);
    for (uint32_t i = head;; ++i) {
        // Re-read: forming a value may allocate and move the buffer.
        memory::Series* s = memory::buffer(n);
        if (i >= s->length()) break;
        if (part && budget < 1) break;
        Cell item = s->cells()[i];
        collector::Root keep(item);
        if (i > head) budget = mold::append(buffer, "/", budget);
        if (molding) {
            actions::MoldFlags inner = flags;
            inner.only = false;
            budget = mold::mold_value(item, buffer, inner, part, budget, indent);
        } else {
            budget = mold::form_value(item, buffer, part, budget);
        }
    }
    return budget;
}

[[noreturn]] void bad_make(Type type, const Cell& spec) {
    Cell target = datatype_cell(type);
    errors::fire(errors::id::bad_make_arg, &target, &spec);
}

}  // namespace

bool is_path(Type t) { return t >= Type::path && t <= Type::get_path; }

Cell& make_empty(Cell& cell, uint32_t capacity) {
    cell = series_cell(Type::path, memory::alloc_cells(capacity));
    return cell;
}

void make(actions::Args args, Type type) {
    const Cell& spec = args[1];
    Type t = type_of(spec);
    Cell result;
    if (is_block_like(t)) {
        result = copy_values(spec, type);
    } else if (t == Type::integer || t == Type::float_ || t == Type::percent) {
        double room = t == Type::integer ? double(int_of(spec)) : float_of(spec);
        if (!(room >= 0)) room = 0;  // negative or NaN: no room asked for
        if (room > double(INT32_MAX)) bad_make(type, spec);
        make_empty(result, uint32_t(room));
        set_type(result, type);
    } else {
        bad_make(type, spec);
    }
    args[0] = result;
}

void to(actions::Args args, Type type) {
    const Cell& spec = args[1];
    Type t = type_of(spec);
    if (t == Type::object || t == Type::typeset || t == Type::map) {
        Cell result;
        make_empty(result, 1);
        memory::Series* s = memory::buffer(series_node(result));
        s->cells()[0] = args[1];
        s->tail = s->head + uint32_t(sizeof(Cell));
        args[0] = set_type(result, type);
    } else if (is_block_like(t)) {
        args[0] = copy_values(spec, type);
    } else {
        block::to(args, Type::block);
        set_type(args[0], type);
    }
}

void copy(actions::Args args, const Cell* part, bool deep, const Cell* types) {
    Type t = type_of(args[0]);
    block::copy(args, part, deep, types);
    set_type(args[0], t);
}

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    return write_values(value, buffer, false, {}, part, budget, 0);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    return write_values(value, buffer, true, flags, part, budget, indent);
}

int32_t mold_lit(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent) {
    budget = mold::append(buffer, "'", budget);
    return mold(value, buffer, flags, part, budget, indent);
}

int32_t mold_set(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent) {
    budget = mold(value, buffer, flags, part, budget, indent);
    return mold::append(buffer, ":", budget);
}

int32_t mold_get(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent) {
    budget = mold::append(buffer, ":", budget);
    return mold(value, buffer, flags, part, budget, indent);
}

void init() {
    using actions::Row;
    auto inherit = [](auto& slot) { slot = std::remove_reference_t<decltype(slot)>::inherited(); };
    // Slots every path type takes from block! through path!.
    auto inherit_series = [&](Row& r) {
        inherit(r.reflect), inherit(r.eval_path), inherit(r.compare), inherit(r.append);
        inherit(r.at), inherit(r.back), inherit(r.change), inherit(r.clear), inherit(r.find);
        inherit(r.head), inherit(r.head_q), inherit(r.index_q), inherit(r.insert);
        inherit(r.length_q), inherit(r.move), inherit(r.next), inherit(r.pick), inherit(r.poke);
        inherit(r.put), inherit(r.remove), inherit(r.reverse), inherit(r.select), inherit(r.skip);
        inherit(r.swap), inherit(r.tail), inherit(r.tail_q), inherit(r.take), inherit(r.modify);
    };

    Row p;
    inherit_series(p);
    p.make = make;
    p.to = to;
    p.form = form;
    p.mold = mold;
    p.copy = copy;
    datatype::register_type(Type::path, Type::block, "path!", p);

    auto derived = [&](Type t, const char* name, actions::Fn_mold m) {
        Row r;
        inherit_series(r);
        inherit(r.make), inherit(r.to), inherit(r.form), inherit(r.copy);
        r.mold = m;
        datatype::register_type(t, Type::path, name, r);
    };
    derived(Type::lit_path, "lit-path!", mold_lit);
    derived(Type::set_path, "set-path!", mold_set);
    derived(Type::get_path, "get-path!", mold_get);
}

}  // namespace zan::path
