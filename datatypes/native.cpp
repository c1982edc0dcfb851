// native!, action! and op!: making, reflecting, forming, molding, comparing.
//
// A native or action value is only ever made for a filled table entry, so
// calling one never jumps through an empty entry; the natives' specs must
// agree in arity with the natives they name.
#include "datatypes/native.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/mold.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan {
namespace {

Cell block_of(Node n) { return series_cell(Type::block, n, 0); }

bool is_callable_source(Type t) {
    return t == Type::native || t == Type::action || t == Type::function || t == Type::routine;
}

// The canonical symbol of a name, interned on first use.
uint32_t canonical(const char* name) { return symbol::resolve(symbol::make(name)); }

// The cache, like a function's more block, keeps the interpreter's own cache
// in cell 1.
void mark_native_cell(Cell& c) {
    if (c.w2) collector::mark_series(c.w2);
    if (c.w3) function::mark_more(c.w3);
}
void mark_op_cell(Cell& c) {
    Type source = op_source(c);
    if (source == Type::function || source == Type::routine) {
        if (c.w1) collector::mark_context(c.w1);
    }
    mark_native_cell(c);
}

// action! and op! take native!'s reflect and show and compare as natives do.
void register_native_kind(Type t, const char* name, actions::Fn_make make,
                          collector::CellMarker marker) {
    actions::Row r;
    r.make = make;
    r.reflect = actions::SlotValue<actions::Fn_reflect>::inherited();
    r.form = native::form;
    r.mold = native::mold;
    r.compare = native::compare;
    datatype::register_type(t, Type::native, name, r);
    collector::set_cell_marker(t, marker);
}

}  // namespace
}  // namespace zan

namespace zan::native {

namespace {

constexpr int last_native = 107;
constexpr int empty_action_slot = 8;

bool default_native_filled(int index) { return index >= 1 && index <= last_native; }
bool default_action_filled(int index) {
    return index >= 1 && index <= action_table_size && index != empty_action_slot;
}

Tables tables{default_native_filled, nullptr, default_action_filled};

// The arity of the first native made for each index: start-up defines every
// native once from its spec, and a later make of that index must agree.
int8_t made_arity[table_size + 1];
bool made_arity_ready = false;
int8_t& made_arity_of(int index) {
    if (!made_arity_ready) {
        for (int8_t& a : made_arity) a = -1;
        made_arity_ready = true;
    }
    return made_arity[index];
}

void check_spec(Type type, const Cell& spec, int32_t& index) {
    auto bad = [&] {
        Cell t = datatype_cell(type);
        errors::fire(errors::id::bad_make_arg, &t, &spec);
    };
    if (!is(spec, Type::block) || block::rs_length(spec) != 2) bad();
    Cell copy = spec;
    Cell first = block::rs_head(copy)[0];
    Cell second = block::rs_head(copy)[1];
    if (!is(first, Type::block) || !is(second, Type::integer)) bad();
    index = int_of(second);
    if (type == Type::native) {
        if (index < 1 || index > table_size || !tables.native_filled(index)) bad();
        int arity = tables.native_arity ? tables.native_arity(index) : made_arity_of(index);
        int given = spec_arity(first);
        if (arity >= 0 && given != arity) bad();
        if (made_arity_of(index) < 0) made_arity_of(index) = int8_t(given);
    } else {
        if (index < 1 || index > action_table_size || !tables.action_filled(index)) bad();
    }
}

}  // namespace

void forget_made_arities() { made_arity_ready = false; }

void set_tables(const Tables& t) {
    tables.native_filled = t.native_filled ? t.native_filled : default_native_filled;
    tables.native_arity = t.native_arity;
    tables.action_filled = t.action_filled ? t.action_filled : default_action_filled;
}

int spec_arity(const Cell& spec) {
    int n = 0;
    int32_t len = block::rs_length(spec);
    for (int32_t i = 0; i < len; ++i) {
        Type t = type_of(*block::rs_abs_at(spec, int32_t(series_index(spec)) + i));
        if (t == Type::refinement || t == Type::set_word) break;
        if (t == Type::word || t == Type::lit_word || t == Type::get_word) ++n;
    }
    return n;
}


Cell make_at_index(Type type, const Cell& spec_in, int32_t index) {
    Cell spec = spec_in;
    collector::Root keep_spec(spec);
    Node ctx = context::make_from_spec(spec, true, false, context::Kind::locals);
    collector::NodeRoot keep_ctx(ctx, collector::NodeRoot::As::context);
    Node cache = memory::alloc_cells(2);
    memory::Series* b = memory::buffer(cache);
    b->cells()[0] = context::cell(ctx);
    b->cells()[1] = none_cell();
    b->tail = b->head + 2 * sizeof(Cell);
    return make_cell(type, uint32_t(index), series_node(spec), cache);
}

void make(actions::Args args, Type type) {
    int32_t index = 0;
    check_spec(type, args[1], index);
    Cell spec = block::rs_head(args[1])[0];
    args[0] = make_at_index(type, spec, index);
}



void reflect(actions::Args args, uint32_t field_symbol) {
    Cell v = args[0];
    uint32_t field = symbol::resolve(field_symbol);
    if (field == canonical("spec")) {
        args[0] = block_of(spec_node(v));
        return;
    }
    if (field == canonical("body")) {
        Type source = is(v, Type::op) ? op_source(v) : type_of(v);
        if (source == Type::function || source == Type::routine) {
            Cell body = *function::more_at(v, function::more::body);
            args[0] = is(body, Type::block) ? block::clone(body, true, true) : body;
        } else {
            args[0] = integer_cell(code_index(v));
        }
        return;
    }
    errors::fire(errors::id::not_done);
}

int32_t form(const Cell& value, Node buffer, bool, int32_t budget) {
    switch (type_of(value)) {
        case Type::action: return mold::append(buffer, "?action?", budget);
        case Type::op: return mold::append(buffer, "?op?", budget);
        default: return mold::append(buffer, "?native?", budget);
    }
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    Cell v = value;
    collector::Root keep(v);
    actions::MoldFlags inner = flags;
    inner.only = false;
    Cell spec = block_of(spec_node(v));
    collector::Root keep_spec(spec);
    if (is(v, Type::op)) {
        budget = mold::append(buffer, "make op! ", budget);
        if (op_source(v) == Type::function) {
            budget = mold::append(buffer, "func ", budget);
            budget = mold::mold_value(spec, buffer, inner, part, budget, indent);
            Cell body = *function::more_at(v, function::more::body);
            if (is(body, Type::block)) {
                collector::Root keep_body(body);
                budget = mold::append(buffer, " ", budget);
                budget = mold::mold_value(body, buffer, inner, part, budget, indent);
            }
            return budget;
        }
    } else {
        budget = mold::append(buffer, is(v, Type::action) ? "make action! " : "make native! ", budget);
    }
    budget = mold::append(buffer, "[", budget);
    budget = mold::mold_value(spec, buffer, inner, part, budget, indent);
    return mold::append(buffer, "]", budget);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (type_of(b) != type_of(a) || !logic::equality_or_sort(op)) return -2;
    int32_t x = int32_t(a.w1), y = int32_t(b.w1);
    return x < y ? -1 : x > y ? 1 : 0;
}


void init() {
    actions::Row n;
    n.make = make;
    n.reflect = reflect;
    n.form = form;
    n.mold = mold;
    n.compare = compare;
    datatype::register_type(Type::native, Type::any, "native!", n);
    collector::set_cell_marker(Type::native, mark_native_cell);
}

}  // namespace zan::native

namespace zan::action {

void make(actions::Args args, Type) { native::make(args, Type::action); }

void init() { register_native_kind(Type::action, "action!", make, mark_native_cell); }

}  // namespace zan::action

namespace zan::op {

bool spec_ok(const Cell& spec) {
    int count = 0;
    uint32_t local = canonical("local"), extern_ = canonical("extern");
    int32_t len = block::rs_length(spec);
    for (int32_t i = 0; i < len; ++i) {
        const Cell& v = *block::rs_abs_at(spec, int32_t(series_index(spec)) + i);
        Type t = type_of(v);
        if (t == Type::word) {
            ++count;
        } else if (t == Type::lit_word || t == Type::get_word) {
            if (count == 0) return false;  // the left argument must be a plain word
            ++count;
        } else if (t == Type::set_word) {
            break;
        } else if (t == Type::refinement) {
            uint32_t s = symbol::resolve(word_symbol(v));
            if (s != local && s != extern_) return false;
            break;
        }
    }
    return count == 2;
}

void make(actions::Args args, Type) {
    Cell source = args[1];
    Type t = type_of(source);
    if (!is_callable_source(t)) {
        Cell dt = datatype_cell(t);
        errors::fire(errors::id::invalid_type, &dt);
    }
    if (!spec_ok(block_of(native::spec_node(source)))) errors::fire(error::ids::bad_op_spec);
    Cell op = source;
    op.header = uint32_t(Type::op) | (uint32_t(t) << native::op_source_shift);
    if (t == Type::function || t == Type::routine) *function::more_at(source, function::more::op_source) = source;
    args[0] = op;
}

void init() { register_native_kind(Type::op, "op!", make, mark_op_cell); }

}  // namespace zan::op
