// object!: making from specs and prototypes, copying, change hooks, field
// access, reflection, comparison and mold.
//
// Objects never share series with their prototypes after `make` (series
// values are copied) but do share everything else. Methods are rebound to
// the copy, so `self` inside them means the new object. An assignment to a
// field of an object with on-change* stores first and then calls the handler
// with the word, the old value and the new one.
#include "datatypes/object.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/native.h"
#include "datatypes/typeset.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

namespace zan::object {

namespace {

// The interpreter's own roads: a body evaluated for its effects, and a
// handler run in a function frame named after its field, its arguments
// fitted to its spec (missing ones none, extra ones dropped).
void interpreter_eval(const Cell& block) {
    Cell* top = stack::s.top;
    stack::raise_status(interp::eval_block(block, false));
    stack::s.top = top;
}

void interpreter_call(const Cell& handler, const Cell& object, uint32_t name, const Cell* args,
                      int count, int32_t locals) {
    Cell* guard = stack::push(handler);
    Cell word = make_cell(Type::word, 0, name, uint32_t(-1));
    int wanted = native::spec_arity(series_cell(Type::block, function::spec_node(handler)));
    stack::mark_interp_func(word);
    for (int i = 0; i < wanted; ++i) stack::push(i < count ? args[i] : none_cell());
    function::init_locals(locals);
    stack::raise_status(interp::exec_function(handler, context_node(object), word));
    stack::unwind();
    stack::s.top = guard;
}

EvalBlock eval_block_ = interpreter_eval;
CallHandler call_handler_ = interpreter_call;
uint32_t class_counter = first_class_id;

uint32_t canonical(const char* name) { return symbol::resolve(symbol::make(name)); }
uint32_t sym(const char* name) { return symbol::make(name); }

// Names looked up on every assignment, make and mold, interned once.
uint32_t on_change_symbol() {
    static const uint32_t s = symbol::make("on-change*");
    return s;
}
uint32_t on_deep_change_symbol() {
    static const uint32_t s = symbol::make("on-deep-change*");
    return s;
}
uint32_t self_canonical() {
    static const uint32_t s = symbol::resolve(symbol::make("self"));
    return s;
}

Cell block_of(Node n) { return series_cell(Type::block, n, 0); }

bool is_object_like(const Cell& v) { return is(v, Type::object) || is(v, Type::error); }
bool is_word_key(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::get_word || t == Type::lit_word;
}
bool is_block_family(Type t) {
    return t == Type::block || t == Type::paren || t == Type::hash || t == Type::path ||
           t == Type::lit_path || t == Type::set_path || t == Type::get_path;
}
bool is_string_family(Type t) {
    return t == Type::string || t == Type::file || t == Type::url || t == Type::tag ||
           t == Type::email || t == Type::ref;
}

uint32_t hook_index(uint32_t w2) { return w2 >> 16; }
uint32_t hook_count(uint32_t w2) { return w2 & 0xFFFF; }

Cell word_cell(Type t, Node ctx, uint32_t symbol, int32_t index) {
    return make_cell(t, ctx, symbol, uint32_t(index));
}

// The copy action of a value's type, deep; the value itself when it has none.
Cell copy_value(const Cell& v, const Cell* types) {
    auto fn = datatype::row(type_of(v)).copy.fn;
    if (!fn) return v;
    Cell args[2] = {v, none_cell()};
    collector::Root k0(args[0]), k1(args[1]);
    fn(args, nullptr, true, types);
    return args[0];
}

void clear_changed_marks(Node ctx) {
    uint32_t n = context::length(ctx);
    for (uint32_t i = 0; i < n; ++i) clear_flag(context::word_at(ctx, int32_t(i)), header::field_assigned);
}

void mark_changed(Node ctx, int32_t index) {
    if (index >= 0 && uint32_t(index) < context::length(ctx))
        set_flag(context::word_at(ctx, index), header::field_assigned);
}

// Paths name the same few fields again and again (obj/field, self/x): a small
// direct-mapped cache answers them without the hash table. An entry is
// trusted only while the context holds that very symbol at that index, and
// only exact finds are kept, so it answers what the table would.
struct FieldEntry {
    Node ctx = 0;
    uint32_t sym = 0;
    int32_t index = -1;
};
FieldEntry field_cache[256];

int32_t field_index(Node ctx, const Cell& word) {
    if (word_context(word) == ctx && word_index(word) >= 0 &&
        uint32_t(word_index(word)) < context::length(ctx))
        return word_index(word);
    uint32_t sym = word_symbol(word);
    FieldEntry& e = field_cache[(ctx * 40503u + sym) & 255];
    if (e.ctx == ctx && e.sym == sym && uint32_t(e.index) < context::length(ctx) &&
        word_symbol(context::word_at(ctx, e.index)) == sym)
        return e.index;
    int32_t i = context::find_word(ctx, sym, true);
    if (i >= 0 && uint32_t(i) < context::length(ctx) && word_symbol(context::word_at(ctx, i)) == sym)
        e = FieldEntry{ctx, sym, i};
    return i;
}

// Locals a handler needs: /local and the words after it.
int32_t locals_of(const Cell& handler) {
    return function::count_locals(function::spec_node(handler), 0, false);
}

}  // namespace

void set_interpreter(EvalBlock eval, CallHandler call) {
    eval_block_ = eval ? eval : interpreter_eval;
    call_handler_ = call ? call : interpreter_call;
}

void eval(const Cell& block) {
    if (!eval_block_) errors::fire(errors::id::not_done);
    eval_block_(block);
}

uint32_t new_class_id() { return ++class_counter; }

void note_class_id(uint32_t id) {
    if (id > class_counter && id != uint32_t(-1)) class_counter = id;
}

Cell push(Node ctx, Node hooks, uint32_t class_id) {
    Cell o = make_cell(Type::object, ctx, class_id, hooks);
    context::owner(ctx) = o;
    return o;
}

Cell init_push(Node ctx, uint32_t class_id) {
    Node values = context::values(ctx);
    memory::Series* b = memory::buffer(values);
    uint32_t n = context::length(ctx);
    if (b->length() == 0 && n > 0) {
        if (b->capacity < n * sizeof(Cell)) b = memory::expand_series(values, n * sizeof(Cell));
        for (uint32_t i = 0; i < n; ++i) b->cells()[i] = unset_cell();
        b->tail = b->head + n * uint32_t(sizeof(Cell));
    }
    return push(ctx, 0, class_id);
}

Node attach_hooks(Cell& object, int32_t on_change, int32_t change_count, int32_t on_deep,
                  int32_t deep_count) {
    Node hooks = memory::alloc_cells(2);
    memory::Series* b = memory::buffer(hooks);
    auto entry = [](int32_t index, int32_t count) {
        uint32_t w2 = index < 0 ? no_handler : (uint32_t(index) << 16) | uint32_t(count & 0xFFFF);
        return make_cell(Type::pair, 0, w2, 0);
    };
    b->cells()[0] = entry(on_change, change_count);
    b->cells()[1] = entry(on_deep, deep_count);
    b->tail = b->head + 2 * sizeof(Cell);
    object.w3 = hooks;
    Node ctx = context_node(object);
    context::owner(ctx) = object;
    if (on_deep >= 0) {
        Cell self = object;
        collector::Root keep(self);
        ownership::bind(self, self, none_cell());
        context::owner(ctx) = object;
    }
    return hooks;
}

bool word_of_class(const Cell& word, uint32_t class_id) {
    const Cell* v = context::get(word);
    return v && is(*v, Type::object) && class_of(*v) == class_id;
}

bool class_at(Node ctx, int32_t index, uint32_t class_id) {
    const Cell* v = context::value_at(ctx, index);
    return v && is(*v, Type::object) && class_of(*v) == class_id;
}

Node get_values(const Cell& object) { return context::values(context_node(object)); }

Cell& make_at(uint32_t capacity, Cell& cell) {
    Node ctx = context::create(capacity, false, true, 0, context::Kind::object);
    cell = push(ctx, 0, 0);
    return cell;
}

Node make_hooks(Node ctx) {
    const uint32_t names[2] = {on_change_symbol(), on_deep_change_symbol()};
    uint32_t w2[2] = {no_handler, no_handler};
    uint32_t w3[2] = {0, 0};
    bool any = false;
    for (int k = 0; k < 2; ++k) {
        int32_t i = context::find_word(ctx, names[k], true);
        if (i < 0) continue;
        Cell v = *context::value_at(ctx, i);
        if (!is(v, Type::function) && !is(v, Type::routine)) {
            Cell w = context::word_at(ctx, i);
            Cell dt = datatype_cell(type_of(v));
            errors::fire(error::ids::bad_field_set, &w, &dt);
        }
        int32_t count = locals_of(v);
        w2[k] = (uint32_t(i) << 16) | uint32_t(count & 0xFFFF);
        w3[k] = function::spec_node(v);
        any = true;
    }
    if (!any) return 0;
    Node hooks = memory::alloc_cells(2);
    memory::Series* b = memory::buffer(hooks);
    for (int k = 0; k < 2; ++k) b->cells()[k] = make_cell(Type::pair, 0, w2[k], w3[k]);
    b->tail = b->head + 2 * sizeof(Cell);
    return hooks;
}

bool has_deep_handler(const Cell& object) {
    Node h = hooks_node(object);
    return h && memory::buffer(h)->cells()[1].w2 < no_handler;
}

void finish_hooks(Cell& object) {
    Node ctx = context_node(object);
    object.w3 = make_hooks(ctx);
    context::owner(ctx) = object;
    if (has_deep_handler(object)) {
        Cell self = object;
        collector::Root keep(self);
        ownership::bind(self, self, none_cell());
        context::owner(ctx) = object;
    }
}

Cell rebind_function(const Cell& fn_in, Node ctx) {
    Cell fn = fn_in;
    collector::Root keep_fn(fn);
    Cell body = *function::more_at(fn, function::more::body);
    if (!is(body, Type::block)) errors::fire(error::ids::bad_func_def, &fn);
    Cell spec = block::clone(block_of(function::spec_node(fn)), false, false);
    collector::Root keep_spec(spec);
    Cell copy = block::clone(body, true, true);
    collector::Root keep_copy(copy);
    context::bind(copy, ctx, true);
    Cell owner = *function::more_at(fn, function::more::owner);
    uint32_t flags = fn.header & (function::attr::trace | function::attr::no_trace);
    return function::push(spec, copy, 0, 0, is(owner, Type::integer) ? ctx : 0, flags);
}

void duplicate_values(Node dst, Node src, bool copy_all) {
    collector::NodeRoot keep_dst(dst, collector::NodeRoot::As::context);
    collector::NodeRoot keep_src(src, collector::NodeRoot::As::context);
    uint32_t n = std::min(context::length(dst), context::length(src));
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *context::value_at(src, int32_t(i));
        collector::Root keep(v);
        Type t = type_of(v);
        if (is_block_family(t) || is_string_family(t) || t == Type::vector || t == Type::binary ||
            t == Type::image) {
            Cell c = copy_value(v, nullptr);
            collector::Root keep_c(c);
            if (is_block_family(t)) context::bind(c, dst, true);
            *context::value_at(dst, int32_t(i)) = c;
        } else if (copy_all) {
            *context::value_at(dst, int32_t(i)) = v;
        }
    }
}

namespace {

// Objects being copied by a typed copy, to refuse cycles.
std::vector<Node> copying;

struct CopyingScope {
    explicit CopyingScope(Node n) { copying.push_back(n); }
    ~CopyingScope() { copying.pop_back(); }
};

}  // namespace

Node clone_context(Cell& value) {
    Node src = value.w1;
    collector::NodeRoot keep_src(src, collector::NodeRoot::As::context);
    Node ctx = context::clone(value, context::Kind::object);
    uint32_t n = context::length(src);
    for (uint32_t i = 0; i < n; ++i) *context::value_at(ctx, int32_t(i)) = *context::value_at(src, int32_t(i));
    return ctx;
}

Cell copy_from(const Cell& proto_in, bool deep, const Cell* types, bool new_hooks) {
    Cell proto = proto_in;
    collector::Root keep_proto(proto);
    Node src = context_node(proto);
    CopyingScope scope(src);
    Cell result = proto;
    collector::Root keep_result(result);
    Node ctx = clone_context(result);
    collector::NodeRoot keep_ctx(ctx, collector::NodeRoot::As::context);
    result = push(ctx, new_hooks ? 0 : hooks_node(proto), class_of(proto));
    set_type(result, type_of(proto));
    context::owner(ctx) = result;

    uint32_t n = context::length(ctx);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *context::value_at(ctx, int32_t(i));
        collector::Root keep(v);
        Type t = type_of(v);
        if (t == Type::function) {
            if (is(*function::more_at(v, function::more::body), Type::block)) {
                Cell f = rebind_function(v, ctx);
                *context::value_at(ctx, int32_t(i)) = f;
            }
            continue;
        }
        if (types) {
            if (!typeset::has(*types, t)) continue;
            if (is_object_like(v)) {
                for (Node c : copying)
                    if (c == context_node(v)) errors::fire(errors::id::no_cycle);
                Cell c = copy_from(v, deep, types, false);
                *context::value_at(ctx, int32_t(i)) = c;
                continue;
            }
            if (series::is_block_like(t) || series::is_string_like(t) || t == Type::binary ||
                t == Type::vector) {
                Cell c = copy_value(v, types);
                *context::value_at(ctx, int32_t(i)) = c;
            }
            continue;
        }
        if (deep && (is_block_family(t) || is_string_family(t))) {
            Cell c = copy_value(v, nullptr);
            *context::value_at(ctx, int32_t(i)) = c;
        }
    }
    if (new_hooks) finish_hooks(result);
    return result;
}

bool merge(Node dst, Node src) {
    collector::NodeRoot keep_dst(dst, collector::NodeRoot::As::context);
    collector::NodeRoot keep_src(src, collector::NodeRoot::As::context);
    uint32_t before = context::length(dst);
    uint32_t n = context::length(src);
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = context::word_at(src, int32_t(i));
        Cell v = *context::value_at(src, int32_t(i));
        collector::Root kw(w), kv(v);
        context::put(dst, w, v);
    }
    uint32_t m = context::length(dst);
    for (uint32_t i = 0; i < m; ++i) {
        Cell v = *context::value_at(dst, int32_t(i));
        collector::Root keep(v);
        Type t = type_of(v);
        if (is_block_family(t) || is_string_family(t)) {
            Cell c = copy_value(v, nullptr);
            collector::Root keep_c(c);
            if (is_block_family(t)) context::bind(c, dst, true);
            *context::value_at(dst, int32_t(i)) = c;
        } else if (t == Type::function && is(*function::more_at(v, function::more::body), Type::block)) {
            Cell f = rebind_function(v, dst);
            *context::value_at(dst, int32_t(i)) = f;
        }
    }
    return m > before;
}

// --- change hooks -------------------------------------------------------------------------

void fire_on_set(const Cell& object_in, const Cell& word_in, const Cell& old_in,
                 const Cell& new_in) {
    Node hooks = hooks_node(object_in);
    if (!hooks) return;
    uint32_t w2 = memory::buffer(hooks)->cells()[0].w2;
    if (w2 >= no_handler) return;
    Cell object = object_in, word = word_in, old_value = old_in, new_value = new_in;
    collector::Root k0(object), k1(word), k2(old_value), k3(new_value);
    Node ctx = context_node(object);
    Cell handler = *context::value_at(ctx, int32_t(hook_index(w2)));
    collector::Root k4(handler);
    if (!is(handler, Type::function)) errors::fire(error::ids::invalid_obj_evt, &handler);
    Cell& entry = memory::buffer(hooks)->cells()[0];
    if (entry.w3 != function::spec_node(handler)) {
        int32_t count = locals_of(handler);
        entry.w2 = (hook_index(w2) << 16) | uint32_t(count & 0xFFFF);
        entry.w3 = function::spec_node(handler);
    }
    int32_t locals = int32_t(hook_count(memory::buffer(hooks)->cells()[0].w2));
    if (word_context(word) != ctx) {
        set_type(word, Type::word);
        context::bind_word(ctx, word);
    } else {
        set_type(word, Type::word);
    }
    if (!call_handler_) errors::fire(errors::id::not_done);
    Cell args[3] = {word, old_value, new_value};
    collector::Root a0(args[0]), a1(args[1]), a2(args[2]);
    call_handler_(handler, object, on_change_symbol(), args, 3, locals);
}

void fire_on_deep_change(const Cell& owner_in, const Cell& word_in, const Cell& target_in,
                         const Cell& action_in, const Cell& new_in, int32_t index, int32_t part) {
    Cell owner = owner_in;
    collector::Root k0(owner);
    Node hooks = hooks_node(owner);
    if (!hooks) errors::fire(error::ids::invalid_obj_evt, &owner);
    uint32_t w2 = memory::buffer(hooks)->cells()[1].w2;
    if (w2 >= no_handler) return;
    Node ctx = context_node(owner);
    Cell handler = *context::value_at(ctx, int32_t(hook_index(w2)));
    collector::Root k1(handler);
    if (!is(handler, Type::function)) return;
    Cell& entry = memory::buffer(hooks)->cells()[1];
    if (entry.w3 != function::spec_node(handler)) {
        int32_t count = locals_of(handler);
        entry.w2 = (hook_index(w2) << 16) | uint32_t(count & 0xFFFF);
        entry.w3 = function::spec_node(handler);
    }
    int32_t locals = int32_t(hook_count(memory::buffer(hooks)->cells()[1].w2));
    if (!call_handler_) errors::fire(errors::id::not_done);
    Cell args[7] = {owner, word_in, target_in, action_in, new_in, integer_cell(index),
                    integer_cell(part)};
    collector::Root a0(args[0]), a1(args[1]), a2(args[2]), a3(args[3]), a4(args[4]);
    call_handler_(handler, owner, on_deep_change_symbol(), args, 7, locals);
}

namespace {

// Series ownership reports a change: the handler gets the count as its part
// when the action has no /part of its own.
void on_deep_change(const Cell& owner, const Cell& word, const Cell& series, const Cell& action,
                    const Cell& value, int32_t index, int32_t count, int32_t part) {
    if (!is_object_like(owner) || context_node(owner) == 0) return;
    fire_on_deep_change(owner, word, series, action, value, index, part >= 0 ? part : count);
}

// Assignments through words: store, then call on-change* with the old value.
bool on_context_set(Node ctx, const Cell& word, const Cell& value, Cell& slot) {
    Cell object = context::owner(ctx);
    if (!is_object_like(object) || !hooks_node(object)) return false;
    if (memory::buffer(hooks_node(object))->cells()[0].w2 >= no_handler) return false;
    Cell old_value = slot;
    slot = value;
    mark_changed(ctx, field_index(ctx, word));
    collector::Root k(old_value);
    fire_on_set(object, word, old_value, value);
    return true;
}

}  // namespace

// --- fields ---------------------------------------------------------------------------------

bool quiet_context(Node ctx) {
    const Cell& object = context::owner(ctx);
    return !is_object_like(object) || !hooks_node(object) ||
           memory::buffer(hooks_node(object))->cells()[0].w2 >= no_handler;
}

bool path_field(const Cell& object, const Cell& word, const Cell* value, Cell& out) {
    Node ctx = context_node(object);
    int32_t i = field_index(ctx, word);
    if (i < 0) return false;
    Cell* slot = context::value_at(ctx, i);
    if (!slot) return false;
    if (!value) {
        if (is(*slot, Type::unset)) return false;
        out = *slot;
        return true;
    }
    if (hooks_node(object) || is(*value, Type::unset) ||
        symbol::resolve(word_symbol(word)) == self_canonical())
        return false;
    *slot = *value;
    mark_changed(ctx, i);
    out = *value;
    return true;
}

Cell select_word(const Cell& object, const Cell& word) {
    Node ctx = context_node(object);
    int32_t i = context::find_word(ctx, word_symbol(word), true);
    return i < 0 ? none_cell() : *context::value_at(ctx, i);
}

void set_field(const Cell& object_in, const Cell& word_in, const Cell& value_in) {
    Cell object = object_in, word = word_in, value = value_in;
    collector::Root k0(object), k1(word), k2(value);
    Node ctx = context_node(object);
    int32_t i = field_index(ctx, word);
    if (i < 0) {
        Cell none = none_cell();
        errors::fire(error::ids::invalid_path, &none, &word);
    }
    Cell old_value = *context::value_at(ctx, i);
    collector::Root k3(old_value);
    *context::value_at(ctx, i) = value;
    mark_changed(ctx, i);
    if (hooks_node(object)) fire_on_set(object, word, old_value, value);
}

void set_many(const Cell& object_in, const Cell& source_in, bool any, bool only, bool some) {
    Cell object = object_in, source = source_in;
    collector::Root k0(object), k1(source);
    Node ctx = context_node(object);
    uint32_t n = context::length(ctx);
    bool by_field = !only && (is(source, Type::block) || is_object_like(source));
    auto source_value = [&](uint32_t i, bool& present) -> Cell {
        present = true;
        if (!by_field) return source;
        if (is(source, Type::block)) {
            if (int32_t(i) >= block::rs_length(source)) return none_cell();
            return *block::rs_abs_at(source, int32_t(series_index(source) + i));
        }
        Node sctx = context_node(source);
        int32_t k = context::find_word(sctx, word_symbol(context::word_at(ctx, int32_t(i))), true);
        if (k < 0) {
            present = false;
            return none_cell();
        }
        return *context::value_at(sctx, k);
    };
    if (by_field && !some && !any) {
        for (uint32_t i = 0; i < n; ++i) {
            bool present;
            Cell v = source_value(i, present);
            if (present && is(v, Type::unset)) {
                Cell w = context::word_at(ctx, int32_t(i));
                errors::fire(errors::id::need_value, &w);
            }
        }
    }
    const uint32_t on_change = symbol::resolve(on_change_symbol());
    const uint32_t on_deep = symbol::resolve(on_deep_change_symbol());
    for (uint32_t i = 0; i < n; ++i) {
        bool present;
        Cell v = source_value(i, present);
        collector::Root kv(v);
        if (!present) continue;
        if (some && is(v, Type::none)) continue;
        Cell w = context::word_at(ctx, int32_t(i));
        collector::Root kw(w);
        if (hooks_node(object)) {
            uint32_t s = symbol::resolve(word_symbol(w));
            if (s == on_change || s == on_deep) continue;
            Cell old_value = *context::value_at(ctx, int32_t(i));
            collector::Root ko(old_value);
            *context::value_at(ctx, int32_t(i)) = v;
            mark_changed(ctx, int32_t(i));
            fire_on_set(object, w, old_value, v);
        } else {
            *context::value_at(ctx, int32_t(i)) = v;
            mark_changed(ctx, int32_t(i));
        }
    }
}

Cell construct(const Cell* proto, const Cell& block_in, bool only) {
    Cell block = block_in;
    collector::Root keep_block(block);
    Cell result;
    collector::Root keep(result);
    if (proto) {
        result = copy_from(*proto, false, nullptr, false);
    } else {
        make_at(4, result);
        result.w2 = new_class_id();
        context::owner(context_node(result)) = result;
    }
    Node ctx = context_node(result);
    const uint32_t t_true = canonical("true"), t_yes = canonical("yes"), t_on = canonical("on");
    const uint32_t t_false = canonical("false"), t_no = canonical("no"), t_off = canonical("off");
    const uint32_t t_none = canonical("none");
    int32_t n = block::rs_length(block);
    int32_t head = int32_t(series_index(block));
    int32_t i = 0;
    while (i < n) {
        int32_t start = i;
        while (i < n && is(*block::rs_abs_at(block, head + i), Type::set_word)) ++i;
        if (i == start) {
            ++i;
            continue;
        }
        Cell v = i < n ? *block::rs_abs_at(block, head + i) : none_cell();
        if (!only && is(v, Type::word)) {
            uint32_t s = symbol::resolve(word_symbol(v));
            if (s == t_true || s == t_yes || s == t_on) v = logic_cell(true);
            else if (s == t_false || s == t_no || s == t_off) v = logic_cell(false);
            else if (s == t_none) v = none_cell();
        }
        collector::Root kv(v);
        for (int32_t k = start; k < i; ++k) {
            Cell w = *block::rs_abs_at(block, head + k);
            collector::Root kw(w);
            context::put(ctx, w, v);
        }
        ++i;
    }
    finish_hooks(result);
    return result;
}

// --- actions --------------------------------------------------------------------------------

void make(actions::Args args, Type) {
    Cell proto = args[0];
    Cell spec = args[1];
    collector::Root k0(proto), k1(spec);
    bool has_proto = is_object_like(proto);
    Cell result;
    collector::Root keep(result);
    if (has_proto) {
        result = copy_from(proto, false, nullptr, false);
        set_type(result, Type::object);
    } else {
        make_at(4, result);
    }
    Node ctx = context_node(result);
    if (is_object_like(spec)) {
        bool added = merge(ctx, context_node(spec));
        result.w2 = (added || !has_proto) ? new_class_id() : class_of(proto);
    } else if (is(spec, Type::block)) {
        bool added = context::collect_set_words(ctx, spec);
        context::bind(spec, ctx, true);
        if (has_proto) duplicate_values(ctx, context_node(proto), false);
        result.w2 = (added || !has_proto) ? new_class_id() : class_of(proto);
        context::owner(ctx) = result;
        eval(spec);
        clear_changed_marks(ctx);
        uint32_t n = context::length(ctx);
        for (uint32_t i = 0; i < n; ++i) clear_newline(*context::value_at(ctx, int32_t(i)));
    } else {
        errors::fire(error::ids::malconstruct, &spec);
    }
    finish_hooks(result);
    args[0] = result;
}

void copy(actions::Args args, const Cell* part, bool deep, const Cell* types) {
    if (part) {
        Cell w = make_cell(Type::refinement, 0, sym("part"), uint32_t(-1));
        errors::fire(errors::id::invalid_refine_arg, &w, part);
    }
    Cell t = types ? *types : none_cell();
    bool typed = types && is(t, Type::typeset);
    if (types && is(t, Type::datatype)) {
        t = typeset::make();
        typeset::add(t, Type(types->w1));
        typed = true;
    }
    args[0] = copy_from(args[0], deep, typed ? &t : nullptr, false);
}

void select(actions::Args args, const actions::FindRefs&) {
    if (!is_word_key(type_of(args[1]))) {
        Cell dt = datatype_cell(type_of(args[1]));
        errors::fire(errors::id::invalid_type, &dt);
    }
    args[0] = select_word(args[0], args[1]);
}

void put(actions::Args args, bool) {
    if (!is(args[1], Type::word)) {
        Cell dt = datatype_cell(type_of(args[1]));
        errors::fire(error::ids::invalid_key_type, &dt);
    }
    Cell result;
    actions::PathStep s{&args[1], &args[2], nullptr, nullptr, nullptr, 0, false, false, true, false};
    eval_path(result, args[0], s);
    args[0] = args[2];
}

void modify(actions::Args args, bool) {
    Cell object = args[0], field = args[1], value = args[2];
    collector::Root k0(object), k1(field), k2(value);
    uint32_t f = is_word_key(type_of(field)) ? symbol::resolve(word_symbol(field)) : 0;
    Node ctx = context_node(object);
    if (f == canonical("changed")) {
        if (!is(value, Type::none)) errors::fire(errors::id::invalid_arg, &value);
        clear_changed_marks(ctx);
    } else if (f == canonical("owner")) {
        ownership::bind(object, object, none_cell());
    } else if (f == canonical("owned")) {
        if (is(value, Type::none)) {
            ownership::unbind(object);
        } else if (is(value, Type::block) && block::rs_length(value) >= 2) {
            Cell owner = *block::rs_abs_at(value, int32_t(series_index(value)));
            Cell word = *block::rs_abs_at(value, int32_t(series_index(value)) + 1);
            collector::Root ko(owner), kw(word);
            ownership::bind(object, owner, word);
        } else {
            errors::fire(errors::id::invalid_arg, &value);
        }
    } else {
        errors::fire(errors::id::invalid_arg, &field);
    }
}

void reflect(actions::Args args, uint32_t field_symbol) {
    Cell object = args[0];
    collector::Root keep(object);
    Node ctx = context_node(object);
    uint32_t f = symbol::resolve(field_symbol);
    uint32_t n = context::length(ctx);
    Cell out;
    collector::Root keep_out(out);
    if (f == canonical("words")) {
        out = block::clone(block_of(context::words(ctx)), false, false);
        for (uint32_t i = 0; i < n; ++i) {
            Cell* w = block::rs_abs_at(out, int32_t(i));
            w->w1 = ctx;
            w->w3 = i;
            w->header &= ~header::field_assigned;
        }
    } else if (f == canonical("values")) {
        out = block::clone(block_of(context::values(ctx)), false, false);
    } else if (f == canonical("body")) {
        block::make_at(out, int32_t(n * 2));
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = word_cell(Type::set_word, ctx, word_symbol(context::word_at(ctx, int32_t(i))),
                               int32_t(i));
            set_flag(w, header::newline);
            block::rs_append(out, w);
            Cell v = *context::value_at(ctx, int32_t(i));
            if (is(v, Type::word)) set_type(v, Type::lit_word);
            else if (is(v, Type::path)) set_type(v, Type::lit_path);
            block::rs_append(out, v);
        }
    } else if (f == canonical("class")) {
        out = integer_cell(int32_t(class_of(object)));
    } else if (f == canonical("changed")) {
        block::make_at(out, 4);
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = context::word_at(ctx, int32_t(i));
            if (!has_flag(w, header::field_assigned)) continue;
            Cell plain = word_cell(Type::word, ctx, word_symbol(w), int32_t(i));
            block::rs_append(out, plain);
        }
    } else if (f == canonical("owner")) {
        out = logic_cell(has_flag(context::cell(ctx), ownership::owned_cell_flag));
    } else if (f == canonical("events?")) {
        out = logic_cell(hooks_node(object) != 0);
    } else {
        errors::fire(errors::id::not_done);
    }
    args[0] = out;
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is_object_like(b)) return -2;
    Node ca = context_node(a), cb = context_node(b);
    if (ca == cb) return 0;
    if (op == 9) return -1;
    if (mold::cycle_find(ca)) return mold::cycle_find(cb) ? 0 : -1;
    uint32_t na = context::length(ca), nb = context::length(cb);
    if (na != nb) return na > nb ? 1 : -1;
    mold::CycleScope scope(ca, cb);
    for (uint32_t i = 0; i < na; ++i) {
        uint32_t sa = symbol::resolve(word_symbol(context::word_at(ca, int32_t(i))));
        uint32_t sb = symbol::resolve(word_symbol(context::word_at(cb, int32_t(i))));
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell va = *context::value_at(ca, int32_t(i));
        Cell vb = *context::value_at(cb, int32_t(i));
        collector::Root k0(va), k1(vb);
        Type ta = type_of(va), tb = type_of(vb);
        auto numeric = [](Type t) {
            return t == Type::integer || t == Type::float_ || t == Type::percent;
        };
        auto wordish = [](Type t) { return t >= Type::word && t <= Type::refinement; };
        int32_t r;
        if (ta == tb || (wordish(ta) && wordish(tb)) || (numeric(ta) && numeric(tb))) {
            r = block::compare_values(va, vb, op);
        } else {
            r = ta < tb ? -1 : 1;
        }
        if (r != 0) return r;
    }
    return 0;
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    Cell object = parent;
    collector::Root keep(object);
    Cell element = *s.element;
    collector::Root keep_el(element);
    Cell path = s.path ? *s.path : none_cell();
    collector::Root keep_path(path);
    if (!is_word_key(type_of(element))) errors::fire(error::ids::invalid_path, &path, &element);
    Node ctx = context_node(object);
    int32_t i = field_index(ctx, element);
    bool setting = s.value_to_set != nullptr;
    if (i < 0) {
        if (setting) errors::fire(error::ids::invalid_path, &path, &element);
        errors::fire(error::ids::unset_path, &path, &element);
    }
    if (!setting) {
        Cell v = *context::value_at(ctx, i);
        if (is(v, Type::unset)) errors::fire(error::ids::unset_path, &path, &element);
        result = v;
        return;
    }
    if (symbol::resolve(word_symbol(element)) == self_canonical())
        errors::fire(error::ids::invalid_path, &path, &element);
    Cell value = *s.value_to_set;
    collector::Root keep_value(value);
    Cell old_value = *context::value_at(ctx, i);
    collector::Root keep_old(old_value);
    *context::value_at(ctx, i) = value;
    mark_changed(ctx, i);
    Cell word = word_cell(Type::word, ctx, word_symbol(element), i);
    if (hooks_node(object)) fire_on_set(object, word, old_value, value);
    result = value;
}

int32_t mold_fields(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                    int32_t budget, int32_t indent) {
    Cell object = value;
    collector::Root keep(object);
    Node ctx = context_node(object);
    const uint32_t on_change = symbol::resolve(on_change_symbol());
    const uint32_t on_deep = symbol::resolve(on_deep_change_symbol());
    actions::MoldFlags inner = flags;
    inner.only = false;
    bool first = true;
    uint32_t n = context::length(ctx);
    for (uint32_t i = 0; i < n; ++i) {
        if (part && budget < 1) return budget;
        Cell w = context::word_at(ctx, int32_t(i));
        uint32_t s = symbol::resolve(word_symbol(w));
        if (!flags.all && (s == on_change || s == on_deep)) continue;
        if (flags.flat) {
            if (!first) budget = mold::append(buffer, " ", budget);
        } else if (!first || !flags.only) {
            budget = mold::append(buffer, "\n", budget);
            budget = mold::indent(buffer, indent, budget);
        }
        first = false;
        std::string_view name = symbol::name(word_symbol(w));
        budget = mold::append(buffer, std::string(name), budget);
        budget = mold::append(buffer, ": ", budget);
        Cell v = *context::value_at(ctx, int32_t(i));
        collector::Root kv(v);
        if (is(v, Type::word)) budget = mold::append(buffer, "'", budget);
        budget = mold::mold_value(v, buffer, inner, part, budget, indent);
    }
    return budget;
}

namespace {
int32_t mold_object(const char* lead, const Cell& value, Node buffer, actions::MoldFlags flags,
                    bool part, int32_t budget, int32_t indent) {
    if (mold::cycle_find(context_node(value))) return mold::append(buffer, "make object! [...]", budget);
    mold::CycleScope scope(context_node(value));
    if (!flags.only) budget = mold::append(buffer, lead, budget);
    int32_t before = budget;
    actions::MoldFlags inner = flags;
    inner.only = false;
    budget = mold_fields(value, buffer, inner, part, budget, indent + 1);
    if (!flags.flat && budget != before) {
        budget = mold::append(buffer, "\n", budget);
        budget = mold::indent(buffer, indent, budget);
    }
    if (!flags.only) budget = mold::append(buffer, "]", budget);
    return budget;
}
}  // namespace

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    if (mold::cycle_find(context_node(value))) return mold::append(buffer, "...", budget);
    mold::CycleScope scope(context_node(value));
    actions::MoldFlags f;
    f.only = true;
    return mold_fields(value, buffer, f, part, budget, 0);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    return mold_object("make object! [", value, buffer, flags, part, budget, indent);
}

namespace {
void mark_object_cell(Cell& c) {
    if (c.w1) collector::mark_context(c.w1);
    if (c.w3) collector::mark_series(c.w3);
}
}  // namespace

void init() {
    actions::Row r;
    r.make = make;
    r.reflect = reflect;
    r.form = form;
    r.mold = mold;
    r.eval_path = eval_path;
    r.compare = compare;
    r.copy = copy;
    r.put = put;
    r.select = select;
    r.modify = modify;
    datatype::register_type(Type::object, Type::any, "object!", r);
    collector::set_cell_marker(Type::object, mark_object_cell);
    collector::set_cell_marker(Type::error, mark_object_cell);
    context::fire_on_set = on_context_set;
    ownership::set_deep_change_hook(on_deep_change);
}

}  // namespace zan::object
