// Function, word and context natives: thin layers over function!, the
// contexts and object!. What is settled here is argument handling, which
// refinement takes which road, and the errors.
#include "evaluator/natives_functions.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives_control.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::natives {

using stack::Status;

namespace {

bool any_path(Type t) {
    return t == Type::path || t == Type::lit_path || t == Type::set_path || t == Type::get_path;
}
bool any_function(Type t) {
    return t == Type::native || t == Type::action || t == Type::op || t == Type::function ||
           t == Type::routine;
}

// A block argument whose index lies past its tail is taken at its tail.
Cell clamped(const Cell& block) {
    Cell b = block;
    uint32_t len = memory::buffer(series_node(b))->length();
    if (series_index(b) > len) set_series_index(b, len);
    return b;
}

// Makes the function from the spec and body in slots 0 and 1.
Status make_function() {
    Cell spec = clamped(*arg(0));
    Cell body = clamped(*arg(1));
    *arg(0) = spec;
    *arg(1) = body;
    uint32_t flags = function::validate_spec(spec);
    Cell fn = function::push(spec, body, 0, 0, 0, flags);
    return finish(fn);
}

Cell unbound_word(Type t, const char* name) {
    return make_cell(t, 0, symbol::make(name), uint32_t(-1));
}

}  // namespace

Status n_func(int32_t check, const int32_t* refs) {
    check_args(check, 14, refs);
    return make_function();
}

Status n_function(int32_t check, const int32_t* refs) {
    check_args(check, 15, refs);
    stack::s.top = stack::s.base + 2;
    *arg(0) = block::clone(clamped(*arg(0)), false, false);
    function::collect_words(*arg(0), clamped(*arg(1)));
    return make_function();
}

Status n_does(int32_t check, const int32_t* refs) {
    check_args(check, 16, refs);
    stack::s.top = stack::s.base + 2;
    *arg(1) = *arg(0);
    block::make_at(*arg(0), 1);
    return make_function();
}

Status n_has(int32_t check, const int32_t* refs) {
    check_args(check, 17, refs);
    stack::s.top = stack::s.base + 2;
    *arg(0) = block::clone(clamped(*arg(0)), false, false);
    block::insert_value(*arg(0), unbound_word(Type::refinement, "local"), false, false);
    return make_function();
}

Status n_get(int32_t check, const int32_t* refs) {
    check_args(check, 21, refs);
    Cell w = *arg(0);
    Type t = type_of(w);
    if (any_path(t)) {
        stack::keep();
        Status st = interp::eval_path(w, nullptr, false, true, nullptr, nullptr, given(refs, 1));
        if (st) return st;
        return finish(stack::s.top[-1]);
    }
    if (t == Type::object) {
        // The object's values, as reflect gives them.
        Cell* a = stack::push(w);
        dispatch::get_action<3>(*a)(a, symbol::make("values"));
        return finish(*a);
    }
    Cell v = *context::get(w);
    if (is(v, Type::unset) && !given(refs, 0)) errors::fire(errors::id::no_value, &w);
    return finish(v);
}

Status n_set(int32_t check, const int32_t* refs) {
    check_args(check, 22, refs);
    bool any = given(refs, 0), only = given(refs, 2), some = given(refs, 3);
    Cell target = *arg(0);
    Cell value = *arg(1);
    if (is(value, Type::unset) && !any) errors::fire(errors::id::need_value, &target);
    Type t = type_of(target);
    if (any_path(t)) {
        stack::s.top = stack::s.base + 2;
        Status st = interp::eval_path(target, nullptr, true, false, &value);
        if (st) return st;
    } else if (t == Type::object) {
        object::set_many(target, value, any, only, some);
    } else if (t == Type::block) {
        stack::s.top = stack::s.base + 2;
        stack::mark(stack::sym_anon, 0, stack::kind_bits(stack::kind::native));
        set_words(target, value, block::rs_length(target), any, only, some);
        stack::unwind_drop();
    } else {
        context::set(target, value);
    }
    return finish(value);
}

Status n_unset(int32_t check, const int32_t* refs) {
    check_args(check, 88, refs);
    Cell target = *arg(0);
    if (is(target, Type::word)) {
        context::set(target, unset_cell());
    } else {
        for (int32_t i = 0, n = block::rs_length(target); i < n; ++i) {
            Cell w = *block::rs_abs_at(target, int32_t(series_index(target)) + i);
            if (is(w, Type::word)) context::set(w, unset_cell());
        }
    }
    return finish(unset_cell());
}

Status n_value_q(int32_t check, const int32_t* refs) {
    check_args(check, 69, refs);
    Cell v = *arg(0);
    if (!any_word(type_of(v))) return finish(logic_cell(!is(v, Type::unset)));
    // A word bound nowhere, or to a context without values now, has none.
    Node ctx = word_context(v);
    if (!ctx || word_index(v) < 0) return finish(logic_cell(false));
    Cell* slot = context::value_at(ctx, word_index(v));
    return finish(logic_cell(slot && !is(*slot, Type::unset)));
}

Status n_type_q(int32_t check, const int32_t* refs) {
    check_args(check, 34, refs);
    Type t = type_of(*arg(0));
    if (!given(refs, 0)) return finish(datatype_cell(t));
    Cell w = context::add_global(symbol::make(datatype::name(t)), false, false);
    return finish(w);
}

namespace {

// The context a bind or in argument stands for; 0 when it has none.
Node context_of(const Cell& v) {
    Type t = type_of(v);
    if (any_word(t)) return word_context(v);
    if (t == Type::object || t == Type::error || t == Type::port) return v.w1;
    if (t == Type::function || t == Type::routine) return callable_code(v);
    return 0;
}

}  // namespace

Status n_bind(int32_t check, const int32_t* refs) {
    check_args(check, 38, refs);
    Cell target = *arg(0);
    Cell ctx_value = *arg(1);
    Node ctx = context_of(ctx_value);
    if (!ctx) errors::fire(errors::id::not_defined, &ctx_value);
    if (any_word(type_of(target))) {
        context::bind_word(ctx, target);
        return finish(target);
    }
    if (given(refs, 0)) {
        *arg(0) = block::clone(target, true, true);
        target = *arg(0);
    }
    context::bind(target, ctx, is(ctx_value, Type::object));
    return finish(target);
}

Status n_in(int32_t check, const int32_t* refs) {
    check_args(check, 39, refs);
    Node ctx = context_of(*arg(0));
    Cell w = *arg(1);
    if (!ctx || context::bind_word(ctx, w) < 0) return finish(none_cell());
    if (is(w, Type::refinement)) set_type(w, Type::word);
    return finish(w);
}

Status n_context_q(int32_t check, const int32_t* refs) {
    check_args(check, 92, refs);
    Node ctx = word_context(*arg(0));
    if (!ctx) return finish(none_cell());
    Cell owner = context::owner(ctx);
    return finish(is(owner, Type::unset) ? none_cell() : owner);
}

Status n_construct(int32_t check, const int32_t* refs) {
    check_args(check, 68, refs);
    Cell block = *arg(0);
    const Cell* proto = given(refs, 0) ? arg(refs[0]) : nullptr;
    Cell obj = object::construct(proto, block, given(refs, 1));
    return finish(obj);
}

Status n_extend(int32_t check, const int32_t* refs) {
    check_args(check, 83, refs);
    // Objects cannot grow this way; maps extend through their own datatype.
    if (!is(*arg(0), Type::map)) errors::fire(errors::id::not_done);
    map::extend(*arg(0), *arg(1), given(refs, 0));
    return finish(*arg(0));
}

// --- new-line markers -------------------------------------------------------------------

Status n_new_line(int32_t check, const int32_t* refs) {
    check_args(check, 89, refs);
    Cell pos = *arg(0);
    bool on = logic_of(*arg(1));
    int32_t size = 0;
    if (given(refs, 0)) size = 1;
    if (given(refs, 1)) {
        size = int_of(*arg(refs[1]));
        if (size <= 0) {
            Cell s = *arg(refs[1]);
            errors::fire(errors::id::out_of_range, &s);
        }
    }
    Node n = series_node(pos);
    uint32_t len = memory::buffer(n)->length();
    uint32_t at = series_index(pos);
    if (size == 0) {
        if (at < len) {
            Cell& c = memory::buffer(n)->cells()[at];
            if (on) set_flag(c, header::newline); else clear_newline(c);
        }
    } else {
        for (uint32_t i = at; i < len; ++i) {
            bool period = (i - at) % uint32_t(size) == 0;
            Cell& c = memory::buffer(n)->cells()[i];
            if (period == on) set_flag(c, header::newline); else clear_newline(c);
        }
    }
    return finish(pos);
}

Status n_new_line_q(int32_t check, const int32_t* refs) {
    check_args(check, 90, refs);
    Cell pos = *arg(0);
    Node n = series_node(pos);
    bool set = series_index(pos) < memory::buffer(n)->length() &&
               newline_before(memory::buffer(n)->cells()[series_index(pos)]);
    return finish(logic_cell(set));
}

// --- as ---------------------------------------------------------------------------------

namespace {

// 1 the list class, 2 the text class, 0 neither.
int coerce_class(Type t) {
    switch (t) {
        case Type::block:
        case Type::paren:
        case Type::path:
        case Type::lit_path:
        case Type::set_path:
        case Type::get_path: return 1;
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::tag:
        case Type::email:
        case Type::ref: return 2;
        default: return 0;
    }
}

}  // namespace

Status n_as(int32_t check, const int32_t* refs) {
    check_args(check, 98, refs);
    Cell type = *arg(0);
    Cell spec = *arg(1);
    Type to = is(type, Type::datatype) ? datatype_of(type) : type_of(type);
    int c = coerce_class(to);
    if (c == 0 || c != coerce_class(type_of(spec))) {
        Cell from_type = datatype_cell(type_of(spec)), to_type = datatype_cell(to);
        errors::fire(errors::id::not_same_class, &from_type, &to_type);
    }
    // The series is shared: only the type tag changes.
    Cell result = spec;
    set_type(result, to);
    return finish(result);
}

// --- apply ------------------------------------------------------------------------------

Status n_apply(int32_t check, const int32_t* refs) {
    check_args(check, 107, refs);
    Cell f = *arg(0);
    Cell args = *arg(1);
    Cell name = unbound_word(Type::word, "<applied>");
    Cell* path = nullptr;
    Cell fn = f;
    if (any_word(type_of(f))) {
        fn = *context::get(f);
        name = f;
        set_type(name, Type::word);
    } else if (any_path(type_of(f))) {
        Cell head = *block::rs_abs_at(f, int32_t(series_index(f)));
        if (!any_word(type_of(head))) errors::fire(errors::id::invalid_arg, &f);
        fn = *context::get(head);
        name = head;
        set_type(name, Type::word);
        path = arg(0);
    }
    if (!any_function(type_of(fn))) errors::fire(errors::id::invalid_arg, &f);
    if (is(fn, Type::op)) fn.header = uint32_t(op_source(fn));
    int mode = given(refs, 0) ? interp::mode::all : interp::mode::named;
    if (given(refs, 1)) mode |= interp::mode::safer;
    stack::s.top = stack::s.base + 2;
    interp::Code c = interp::code_of(args);
    uint32_t path_pos = path ? series_index(*path) + 1 : 0;
    Status st = interp::invoke(fn, &c, name, path, path_pos, nullptr, mode, false);
    if (st) return st;
    return finish(stack::s.top[-1]);
}

}  // namespace zan::natives
