// Stand-in for the callable datatypes: see callable_stub.h.
#include "evaluator/callable_stub.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::callable {

namespace {

Cell* cells(Node n) { return memory::buffer(n)->cells(); }

// A spec block held from its head.
Cell spec_from_head(const Cell& spec) {
    if (series_index(spec) == 0) return spec;
    return block::clone(spec, false, false);
}

// make native! [spec index], make action! [spec index].
void make_builtin(actions::Args args, Type type) {
    const Cell& spec = args[1];
    int32_t limit = type == Type::native ? 120 : 62;
    Cell datatype = datatype_cell(type);
    if (!is(spec, Type::block) || block::rs_length(spec) != 2) errors::bad_make_arg(datatype, spec);
    Cell s = *block::rs_abs_at(spec, int32_t(series_index(spec)));
    Cell index = *block::rs_abs_at(spec, int32_t(series_index(spec)) + 1);
    if (!is(s, Type::block) || !is(index, Type::integer) || int_of(index) < 1 || int_of(index) > limit)
        errors::bad_make_arg(datatype, spec);
    Cell* held = stack::push(spec_from_head(s));
    Cell* cache = stack::push(none_cell());
    block::make_at(*cache, 2);
    Node ctx = context::make_from_spec(*held, true, false, context::Kind::locals);
    block::rs_append(*cache, context::cell(ctx));
    block::rs_append(*cache, none_cell());
    args[0] = make_cell(type, uint32_t(int_of(index)), series_node(*held), series_node(*cache));
    stack::pop(2);
}

void make_op(actions::Args args, Type) {
    Cell src = args[1];
    Type t = type_of(src);
    if (t != Type::native && t != Type::action && t != Type::function && t != Type::routine) {
        Cell type = datatype_cell(t);
        errors::fire(errors::Id{errors::Category::script, 12}, &type);
    }
    if (t == Type::function || t == Type::routine) cells(callable_more(src))[3] = src;
    src.header = uint32_t(Type::op) | (uint32_t(t) << 16);
    args[0] = src;
}

void make_function(actions::Args args, Type) {
    const Cell& spec = args[1];
    if (!is(spec, Type::block) || block::rs_length(spec) < 2) errors::fire(errors::id::bad_func_def, &spec);
    Cell s = *block::rs_abs_at(spec, int32_t(series_index(spec)));
    Cell b = *block::rs_abs_at(spec, int32_t(series_index(spec)) + 1);
    if (!is(s, Type::block) || !is(b, Type::block)) errors::fire(errors::id::bad_func_def, &spec);
    Cell* top = stack::s.top;
    Cell f = function_push(s, b);
    stack::s.top = top;
    args[0] = f;
}

int32_t form_text(Node buffer, const char* text, int32_t budget) { return mold::append(buffer, text, budget); }

int32_t mold_spec(const Cell& v, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
                  int32_t indent) {
    Cell spec = series_cell(Type::block, callable_spec(v));
    return mold::mold_value(spec, buffer, flags, part, budget, indent);
}

template <Type T>
int32_t form_builtin(const Cell&, Node buffer, bool, int32_t budget) {
    return form_text(buffer, T == Type::native ? "?native?" : T == Type::action ? "?action?" : "?op?", budget);
}

template <Type T>
int32_t mold_builtin(const Cell& v, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
                     int32_t indent) {
    budget = form_text(buffer, T == Type::native ? "make native! [" : T == Type::action ? "make action! [" : "make op! [",
                       budget);
    budget = mold_spec(v, buffer, flags, part, budget, indent);
    return form_text(buffer, "]", budget);
}

int32_t compare_code(const Cell& a, const Cell& b, int32_t op) {
    if (type_of(a) != type_of(b)) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: {
            int64_t x = int64_t(a.w1) * 2 + (type_of(a) == Type::function ? a.w3 : 0);
            int64_t y = int64_t(b.w1) * 2 + (type_of(b) == Type::function ? b.w3 : 0);
            if (type_of(a) == Type::function || type_of(a) == Type::routine) {
                x = int32_t(a.w3);
                y = int32_t(b.w3);
            }
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default: return -2;
    }
}

int32_t form_function(const Cell& v, Node buffer, bool, int32_t budget) {
    return form_text(buffer, is(v, Type::routine) ? "?routine?" : "?function?", budget);
}

int32_t mold_function(const Cell& v, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
                      int32_t indent) {
    budget = form_text(buffer, is(v, Type::routine) ? "routine " : "func ", budget);
    budget = mold_spec(v, buffer, flags, part, budget, indent);
    Cell body = cells(callable_more(v))[0];
    if (is(body, Type::block)) {
        budget = form_text(buffer, " ", budget);
        return mold::mold_value(body, buffer, flags, part, budget, indent);
    }
    return form_text(buffer, " none", budget);
}

// The collector's view of a callable: its spec, its cache or more block, and
// a function's locals context.
void mark_callable(Cell& c) {
    if (c.w2) collector::mark_series(c.w2);
    if (c.w3) collector::mark_series(c.w3);
    Type t = type_of(c);
    Type src = t == Type::op ? op_source(c) : t;
    if ((src == Type::function || src == Type::routine) && c.w1) collector::mark_context(c.w1);
}

}  // namespace

Cell function_push(const Cell& spec, const Cell& body) {
    Cell* slots = stack::push(spec_from_head(spec));
    stack::push(body);
    Cell* more = stack::push(none_cell());
    block::make_at(*more, 5);
    Node ctx = context::make_from_spec(slots[0], true, false, context::Kind::locals);
    Cell fn = make_cell(Type::function, ctx, series_node(slots[0]), series_node(*more));
    Cell* result = stack::push(fn);
    context::owner(ctx) = fn;
    Cell copy = is(slots[1], Type::block) ? block::clone(slots[1], true, false) : none_cell();
    block::rs_append(*more, copy);
    if (is(copy, Type::block)) context::bind(copy, ctx, false);
    for (int i = 1; i < 5; ++i) block::rs_append(*more, unset_cell());
    fn = *result;
    stack::pop(4);
    *stack::push_slot() = fn;
    return fn;
}

Cell routine_make(const Cell& spec, uint32_t index) {
    Cell* slots = stack::push(spec_from_head(spec));
    Cell* more = stack::push(none_cell());
    block::make_at(*more, 5);
    Node ctx = context::make_from_spec(slots[0], true, false, context::Kind::locals);
    Cell r = make_cell(Type::routine, ctx, series_node(slots[0]), series_node(*more));
    block::rs_append(*more, none_cell());
    block::rs_append(*more, unset_cell());
    block::rs_append(*more, integer_cell(int32_t(index)));
    block::rs_append(*more, unset_cell());
    block::rs_append(*more, integer_cell(-1));
    context::owner(ctx) = r;
    stack::pop(2);
    return r;
}

void init() {
    if (datatype::registered(Type::native)) return;
    actions::Row n;
    n.make = make_builtin;
    n.form = form_builtin<Type::native>;
    n.mold = mold_builtin<Type::native>;
    n.compare = compare_code;
    datatype::register_type(Type::native, Type::any, "native!", n);
    actions::Row a;
    a.make = make_builtin;
    a.form = form_builtin<Type::action>;
    a.mold = mold_builtin<Type::action>;
    a.compare = compare_code;
    datatype::register_type(Type::action, Type::native, "action!", a);
    actions::Row o;
    o.make = make_op;
    o.form = form_builtin<Type::op>;
    o.mold = mold_builtin<Type::op>;
    o.compare = compare_code;
    datatype::register_type(Type::op, Type::native, "op!", o);
    actions::Row f;
    f.make = make_function;
    f.form = form_function;
    f.mold = mold_function;
    f.compare = compare_code;
    datatype::register_type(Type::function, Type::any, "function!", f);
    actions::Row r;
    r.form = form_function;
    r.mold = mold_function;
    r.compare = compare_code;
    datatype::register_type(Type::routine, Type::function, "routine!", r);
    for (Type t : {Type::native, Type::action, Type::op, Type::function, Type::routine})
        collector::set_cell_marker(t, mark_callable);
}

}  // namespace zan::callable
