// typeset!: membership bits of type ids in a 96-bit mask (see typeset.h).
// Only ids 1 up to the highest registered one are listed, counted or molded;
// the other bits are kept as they are (complement flips all 96).
#include "datatypes/typeset.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace zan::typeset {

Cell* make_in(const Cell& block, uint32_t w1, uint32_t w2, uint32_t w3) {
    return block::rs_append(block, make(w1, w2, w3));
}

Cell* make_default_in(const Cell& block) { return block::rs_append(block, default_arg()); }

Cell* make_in_from_spec(const Cell& block, const Cell& types) {
    Cell set = from_spec(types);
    return block::rs_append(block, set);
}

Cell& to_block(const Cell& set, Cell& result) {
    Cell members = set;  // result may be set itself
    block::make_at(result, 4);
    for (int t = 1; t <= datatype::type_count(); ++t) {
        if (!has(members, Type(t)) || !datatype::registered(Type(t))) continue;
        Cell w = datatype::name_word(Type(t));
        if (is(w, Type::none)) w = word::load(datatype::name(Type(t)).data());
        block::rs_append(result, w);
    }
    return result;
}

int count(const Cell& set) {
    int n = 0;
    for (int t = 1; t <= datatype::type_count(); ++t)
        n += has(set, Type(t));
    return n;
}

void add_type(Cell& set, const Cell& value) {
    if (is(value, Type::typeset)) {
        set.w1 |= value.w1;
        set.w2 |= value.w2;
        set.w3 |= value.w3;
    } else if (is(value, Type::datatype)) {
        add(set, Type(value.w1));
    } else {
        errors::fire(errors::id::invalid_arg, &value);
    }
}

void do_bitwise(actions::Args args, int code) {
    if (code == 8) return;
    Cell other = args[1];
    if (is(other, Type::datatype)) {
        Cell one = make();
        add(one, Type(other.w1));
        other = one;
    } else if (!is(other, Type::typeset)) {
        errors::fire(errors::id::invalid_arg, &other);
    }
    const Cell& a = args[0];
    Cell r = make();
    switch (code) {
    case 5: case 9: r = make(a.w1 | other.w1, a.w2 | other.w2, a.w3 | other.w3); break;
    case 6: case 10: r = make(a.w1 & other.w1, a.w2 & other.w2, a.w3 & other.w3); break;
    case 7: case 12: r = make(a.w1 ^ other.w1, a.w2 ^ other.w2, a.w3 ^ other.w3); break;
    case 11: r = make(a.w1 & ~other.w1, a.w2 & ~other.w2, a.w3 & ~other.w3); break;
    default: runtime::quit(runtime::fatal::no_switch, runtime::caller_address());
    }
    args[0] = r;
}

// Names are written with a space between them; the budget counts each name
// with its "!" and one space, as a trailing space replaced by "]" would.
int32_t form_mold(const Cell& value, Node buffer, bool only, bool part, int32_t budget) {
    if (!only) budget = mold::append(buffer, "make typeset! [", budget);
    bool first = true;
    for (int t = 1; t <= datatype::type_count(); ++t) {
        // A type not registered yet has no name to write.
        if (!has(value, Type(t)) || !datatype::registered(Type(t))) continue;
        if (part && budget < 0) return budget;
        std::string_view name = datatype::name(Type(t));
        if (!first) mold::append(buffer, " ", 0);
        mold::append(buffer, name, 0);
        budget -= int32_t(name.size()) + 1;
        first = false;
    }
    if (!only) mold::append(buffer, "]", 0);
    return budget;
}

namespace {

// A word in a type block stands for its value.
Cell looked_up(const Cell& value) { return is(value, Type::word) ? word::get(value) : value; }

}  // namespace

Cell from_spec(const Cell& types) {
    Cell set = make();
    Node n = series_node(types);
    for (uint32_t i = series_index(types); i < memory::buffer(n)->length(); ++i) {
        Cell item = memory::buffer(n)->cells()[i];
        bool named = is(item, Type::word);
        Cell value = named ? looked_up(item) : item;
        switch (type_of(value)) {
        case Type::datatype:
        case Type::typeset: add_type(set, value); break;
        case Type::block: break;
        case Type::word:
            if (named) {
                add(set, Type::object);
                break;
            }
            [[fallthrough]];
        default: errors::fire(errors::id::invalid_type_spec, &value);
        }
    }
    return set;
}

namespace {

void make_slot(actions::Args args, Type) {
    const Cell spec = args[1];
    if (is(spec, Type::typeset)) {
        args[0] = spec;
        return;
    }
    if (is(spec, Type::block)) {
        Cell set = make();
        Node n = series_node(spec);
        for (uint32_t i = series_index(spec); i < memory::buffer(n)->length(); ++i) {
            Cell item = memory::buffer(n)->cells()[i];
            add_type(set, looked_up(item));
        }
        args[0] = set;
        return;
    }
    Cell target = datatype_cell(Type::typeset);
    errors::fire(errors::id::bad_to_arg, &target, &spec);
}

int32_t form(const Cell& v, Node buffer, bool part, int32_t budget) {
    return form_mold(v, buffer, false, part, budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags f, bool part, int32_t budget,
             int32_t) {
    return form_mold(v, buffer, f.only, part, budget);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::typeset)) return -2;
    switch (op) {
    case 0: case 1: case 2: case 9: case 12:
        return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3 ? 0 : 1;
    case 7: case 8: {
        int x = count(a), y = count(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    default: return -2;
    }
}

void and_t(actions::Args args) { do_bitwise(args, 6); }
void or_t(actions::Args args) { do_bitwise(args, 5); }
void xor_t(actions::Args args) { do_bitwise(args, 7); }

void complement(actions::Args args) {
    args[0].w1 = ~args[0].w1;
    args[0].w2 = ~args[0].w2;
    args[0].w3 = ~args[0].w3;
}

void find(actions::Args args, const actions::FindRefs&) {
    const Cell value = args[1];
    if (!is(value, Type::datatype)) errors::fire(errors::id::invalid_arg, &value);
    args[0] = logic_cell(has(args[0], Type(value.w1)));
}

}  // namespace

void init() {
    actions::Row row;
    row.make = make_slot;
    row.to = make_slot;
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    row.and_t = and_t;
    row.complement = complement;
    row.or_t = or_t;
    row.xor_t = xor_t;
    row.find = find;
    datatype::register_type(Type::typeset, Type::any, "typeset!", row);
}

}  // namespace zan::typeset
