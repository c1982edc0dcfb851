// The block interpreter: expressions, calls with argument fetching, operators.
//
// Results are pushed: an expression leaves exactly one value above the top
// it found. A call pushes its callable as a guard slot (keeping it alive),
// opens its frame above it, evaluates the arguments straight into the
// callee's slots, runs, and leaves its result where the guard was.
//
// Operators chain strictly left to right: after an expression, an op! word
// that follows takes the value as its left operand and one value (without
// look-ahead) as its right. Integer and float arithmetic and integer
// comparisons through operators take a fast path without a frame when the
// right operand is a literal or a word holding a number.
//
// The arity cache of a callable, built on its first call, is a block: one
// typeset per argument (argument kind in header bits 20-21), a copy of each
// refinement (w3: its number in the low 16 bits, its function slot in the
// high 16), an integer holding
// the local count (functions) or the refinement count (natives and actions).
#include "evaluator/interpreter.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/dispatch.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/natives_control.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::interp {

Code* current = nullptr;

namespace {

constexpr uint32_t kind_mask = 0x300000;
constexpr uint32_t kind_get = 0x100000;
constexpr uint32_t kind_lit = 0x200000;
constexpr uint32_t kind_return = 0x300000;
constexpr int max_refinements = 32;

uint32_t sym_set_path = 0;
uint32_t sym_local = 0;
uint32_t sym_return = 0;

inline Cell* cells(Node n) { return memory::buffer(n)->cells(); }
inline uint32_t length(Node n) {
    memory::Series* s = memory::buffer(n);
    return (s->tail - s->head) / sizeof(Cell);
}

inline Cell name_word(uint32_t sym) { return make_cell(Type::word, 0, sym, uint32_t(-1)); }


// A word's value slot when its context has values now, else nullptr; never
// raises. Inline because every word evaluated and every operator look-ahead
// comes here: a context is two cells, the context cell first, whose w2 holds
// the values node (or the value-stack position of a stack-held context).
// The global context's node and its values node, read again whenever a
// collection may have renumbered nodes.
// Its cells are kept while the moves epoch stands (a collection, which is
// also what renumbers nodes, always bumps it).
struct GlobalValues {
    Node ctx = 0;
    Node values = 0;
    Cell* cells = nullptr;
    uint32_t epoch = 0;
};
GlobalValues globals;

[[gnu::always_inline]] inline void refresh_globals() {
    if (globals.epoch == memory::moves()) [[likely]]
        return;
    globals.ctx = context::global();
    globals.values = context::values(globals.ctx);
    globals.cells = memory::buffer(globals.values)->cells();
    globals.epoch = memory::moves();
}

[[gnu::always_inline]] inline Cell* peek_value(const Cell& word) {
    Node ctx = word_context(word);
    int32_t index = word_index(word);
    if (!ctx || index < 0) [[unlikely]]
        return nullptr;
    refresh_globals();
    if (ctx == globals.ctx) [[likely]]
        return globals.cells + index;
    const Cell& cc = memory::buffer(ctx)->cells()[0];
    if (cc.w2 == 0) [[unlikely]]
        return nullptr;
    if (has_flag(cc, header::context_on_stack)) return stack::slot_at(cc.w2) + index;
    return memory::buffer(cc.w2)->cells() + index;
}

// A word's value slot, with the errors of context::get.
[[gnu::always_inline]] inline Cell* word_slot(const Cell& word) {
    if (Cell* slot = peek_value(word)) [[likely]]
        return slot;
    return context::get(word);
}

// Stores a set-word's value where nothing can hear of it or fail: a plain
// store into a resolved slot unless the context is an object's with a change
// handler. False, with nothing stored, when context::set must do it.
bool store_quiet_local(const Cell& word, Cell* slot, const Cell& value);
[[gnu::always_inline]] inline bool store_quiet(const Cell& word, const Cell& value) {
    Cell* slot = peek_value(word);
    if (!slot) return false;
    if (word_context(word) == globals.ctx) [[likely]] {
        *slot = value;
        return true;
    }
    return store_quiet_local(word, slot, value);
}

bool store_quiet_local(const Cell& word, Cell* slot, const Cell& value) {
    Node ctx = word_context(word);
    const Cell& cc = memory::buffer(ctx)->cells()[0];
    if (((cc.header & header::context_kind_mask) >> header::context_kind_shift) !=
            uint32_t(context::Kind::object) ||
        has_flag(cc, header::context_on_stack)) {
        *slot = value;
        return true;
    }
    // An object's field with no change handler to hear of it: marked
    // assigned and stored, as a set through the context does.
    if (!object::quiet_context(ctx)) return false;
    set_flag(context::word_at(ctx, word_index(word)), header::field_assigned);
    *slot = value;
    return true;
}

// Stores a set-word's value (change hooks and errors through context::set).
inline void store(Cell& word, const Cell& value) {
    if (!store_quiet(word, value)) context::set(word, value);
}

// A two-item path on an object (obj/field, self/x, obj/method): its field
// read, or set (value given) when no handler hears of it. False, with
// nothing done, when the general path walk must handle the path.
inline bool object_field(const Cell& path, const Cell* value, Cell& owner, Cell& out) {
    memory::Series* s = memory::buffer(series_node(path));
    uint32_t at = series_index(path);
    if ((s->tail - s->head) / sizeof(Cell) != at + 2) return false;
    const Cell* items = s->cells() + at;
    if (!is(items[0], Type::word) || !is(items[1], Type::word)) return false;
    Cell* head = peek_value(items[0]);
    if (!head || !is(*head, Type::object)) return false;
    owner = *head;
    Cell field = items[1];
    return object::path_field(owner, field, value, out);
}

// The typeset of a type block: datatypes and typesets, words standing for
// their values; a word holding a word stands for object!.
Cell typeset_of(const Cell& types) {
    Cell set = typeset::make();
    Node n = series_node(types);
    for (uint32_t i = series_index(types); i < length(n); ++i) {
        Cell item = cells(n)[i];
        Cell value = item;
        if (is(item, Type::word)) {
            Cell* slot = word_context(item) ? context::get(item) : nullptr;
            value = slot ? *slot : unset_cell();
            if (is(value, Type::word)) {
                typeset::add(set, Type::object);
                continue;
            }
        }
        if (is(value, Type::datatype) || is(value, Type::typeset))
            typeset::add_type(set, value);
        else if (!is(value, Type::block))
            errors::fire(errors::Id{errors::Category::script, 13}, &item);
    }
    return set;
}

}  // namespace


void init() {
    globals.epoch = memory::moves() - 1;
    refresh_globals();
    sym_set_path = symbol::make("set-path");
    sym_local = symbol::make("local");
    sym_return = symbol::make("return");
    context::stack_slots = [](uint32_t position) { return stack::slot_at(position); };
    stack::set_near_provider([]() -> Cell {
        if (!current) return none_cell();
        Cell at = current->block;
        set_series_index(at, current->start);
        return at;
    });
    errors::set_arg_word_provider([](int position) -> Cell {
        // The callable of the nearest interpreted call sits in the guard slot
        // just below its frame's base.
        stack::Frame* f = stack::top_frame();
        for (; f && f >= stack::s.frame_bottom; --f) {
            if (stack::frame_kind(*f) != stack::kind::native &&
                stack::frame_kind(*f) != stack::kind::function)
                continue;
            Cell* base = (f + 1 < stack::s.frame_top) ? stack::s.bottom + f[1].prev_base : stack::s.base;
            Type t = base > stack::s.bottom ? type_of(base[-1]) : Type::none;
            if (is_callable(t))
                return spec_word(base[-1], uint32_t(position > 0 ? position - 1 : 0));
            // An operator's call has no guard slot (its left operand is slot
            // 0): the frame's word still names the op!.
            Cell* named = context::get_by_symbol(f->symbol, f->word_context ? f->word_context
                                                                           : context::global());
            if (named && (is(*named, Type::op) || is_callable(type_of(*named))))
                return spec_word(*named, uint32_t(position > 0 ? position - 1 : 0));
            break;
        }
        return none_cell();
    });
}

// --- arity cache ---------------------------------------------------------------------

Node arity_cache(const Cell& callable) {
    Node more = callable_more(callable);
    Cell& slot = cells(more)[1];
    if (is(slot, Type::block)) return series_node(slot);

    bool native_like = !is(callable, Type::function) && !is(callable, Type::routine);
    Node spec = callable_spec(callable);
    Cell spec_cell = series_cell(Type::block, spec);
    collector::Root keep_spec(spec_cell);
    Cell cache;
    block::make_at(cache, int32_t(length(spec)) + 2);
    collector::Root keep_cache(cache);

    uint32_t slot_index = 0;  // function slots: arguments and refinements
    int32_t refinement_number = 0;
    int32_t local_count = -1;
    uint32_t n = length(spec);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = cells(spec)[i];
        Type t = type_of(v);
        if (local_count >= 0) {
            if (t == Type::set_word) break;
            ++local_count;
            continue;
        }
        if (t == Type::word || t == Type::get_word || t == Type::lit_word || t == Type::set_word) {
            if (t == Type::set_word && symbol::resolve(word_symbol(v)) != sym_return)
                errors::fire(errors::id::bad_func_def, &v);
            Cell ts = typeset::default_arg();
            if (i + 1 < n && is(cells(spec)[i + 1], Type::block)) {
                Cell types = cells(spec)[i + 1];
                if (length(series_node(types)) > series_index(types)) ts = typeset_of(types);
            }
            if (t == Type::get_word) ts.header |= kind_get;
            if (t == Type::lit_word) ts.header |= kind_lit;
            if (t == Type::set_word) ts.header |= kind_return;
            block::rs_append(cache, ts);
            if (t != Type::set_word) ++slot_index;
        } else if (t == Type::refinement) {
            if (symbol::resolve(word_symbol(v)) == sym_local) {
                local_count = 1;
                continue;
            }
            Cell r = v;
            // w1 stays the refinement's context (the collector follows it);
            // w3 packs the refinement's number and its function slot.
            r.w3 = uint32_t(++refinement_number) | (slot_index++ << 16);
            block::rs_append(cache, r);
        }
    }
    if (local_count > 0 && !native_like) block::rs_append(cache, integer_cell(local_count));
    if (native_like && refinement_number > 0) block::rs_append(cache, integer_cell(refinement_number));
    Node result = series_node(cache);
    cells(more)[1] = cache;
    return result;
}

Cell spec_word(const Cell& callable, uint32_t index) {
    Node spec = callable_spec(callable);
    uint32_t k = 0;
    for (uint32_t i = 0, n = length(spec); i < n; ++i) {
        Cell v = cells(spec)[i];
        Type t = type_of(v);
        if (t == Type::refinement && symbol::resolve(word_symbol(v)) == sym_local) break;
        if (t == Type::word || t == Type::get_word || t == Type::lit_word || t == Type::set_word ||
            t == Type::refinement) {
            if (k++ == index) {
                set_type(v, Type::word);
                return v;
            }
        }
    }
    return none_cell();
}

// --- expressions ---------------------------------------------------------------------

namespace {

Status eval_infix(Code& c);

// Operators with a fast path on numbers (see fast_apply).
enum class Fast : uint8_t { none, add, subtract, multiply, divide, eq, ne, lt, gt, le, ge, modulo };
bool fast_apply(Fast kind, Cell& left, const Cell& right);
// The fast kind of the operator whose call eval_infix is about to open: its
// operands are fetched as for any call, then fast_apply may answer in place
// of the operator's routine.
Fast pending_fast = Fast::none;

// What quick did with the expression at c.pos.
enum class Quick : uint8_t {
    none,     // nothing: the expression needs the general evaluation
    done,     // its value is pushed and c.pos is past it
    partial,  // the value so far is pushed and c.pos is past an operator
              // word the general evaluation must call (infix_call with
              // quick_stop, then eval_infix)
};
// The operator a partial answer stopped at: its word, its value, its fast
// kind. To be used at once (it is no collector root).
struct QuickStop {
    Cell name;
    Cell op;
    Fast kind;
};
QuickStop quick_stop;
Status infix_call(Code& c, const Cell& name, Cell op, Fast kind);
// Finishes an expression quick answered partial for.
Status finish_partial(Code& c) {
    Status st = infix_call(c, quick_stop.name, quick_stop.op, quick_stop.kind);
    if (st) return st;
    return eval_infix(c);
}
// The value of the expression at p (c.pos) when it starts simple: an inert
// value, or a word holding one, with operators on two numbers after it.
// Tracing must be off. Inline: most attempts end at the first value.
Quick quick_ops_from(Code& c, Cell v, const Cell* q, const Cell* op);
Quick quick_ops(Code& c, Cell v);
[[gnu::always_inline]] inline Quick quick(Code& c, const Cell* p);
bool quick_paren_whole(const Cell& paren, Cell& out);

// One argument by kind: evaluated (normal), the value itself (get-word), or
// quoted (lit-word: parens and get-words still evaluated).
Status fetch_one(Code& c, const Cell* p, uint32_t kind, bool infix) {
    if (kind == 0) return eval_value(c, *p, infix, false);
    Cell v = *p;
    // An argument taken as it stands is fetched and pushed like a literal.
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::fetch, &c.block, int32_t(c.pos), &v, nullptr);
    ++c.pos;
    if (kind == kind_get || !(is(v, Type::paren) || is(v, Type::get_word) || is(v, Type::get_path))) {
        stack::push(v);
        if (trace::on) [[unlikely]]
            trace::dispatch(trace::event::push, &c.block, int32_t(c.pos - 1), &v, nullptr);
        return stack::ok;
    }
    switch (type_of(v)) {
        case Type::paren: {
            stack::mark(stack::sym_anon, 0, stack::kind_bits(stack::kind::native) | stack::bits::interp);
            Status st = eval_block(v, true);
            if (st) return st;
            stack::unwind();
            return stack::ok;
        }
        case Type::get_word:
            stack::push(*context::get(v));
            if (trace::on) [[unlikely]]
                trace::dispatch(trace::event::push, &c.block, int32_t(c.pos - 1), stack::s.top - 1, nullptr);
            return stack::ok;
        default: return eval_path(v, &c, false, true, nullptr);
    }
}

[[noreturn]] void expect_arg(const Cell& fn, const Cell& name, uint32_t entry, const Cell& value) {
    Cell word = spec_word(fn, entry);
    Cell type = datatype_cell(type_of(value));
    errors::fire(errors::id::expect_arg, &name, &type, &word);
}

// The cache entry of a refinement named by a symbol, or -1.
int32_t find_refinement(Node cache, uint32_t sym) {
    uint32_t canon = symbol::resolve(sym);
    for (uint32_t i = 0, n = length(cache); i < n; ++i) {
        const Cell& e = cells(cache)[i];
        if (is(e, Type::refinement) && symbol::resolve(word_symbol(e)) == canon) return int32_t(i);
    }
    return -1;
}

bool find_any_refinement(Node cache) {
    for (uint32_t i = 0, n = length(cache); i < n; ++i)
        if (is(cells(cache)[i], Type::refinement)) return true;
    return false;
}

// The cache entry index of an argument, counting arguments and refinements
// only (the index spec_word takes).
uint32_t spec_entry(Node cache, uint32_t i) {
    (void)cache;
    return i;
}

// Fetches the arguments that follow a named refinement's cache entry. An
// apply block that ends first completes them with none.
Status fetch_refinement_args(const Cell& fn, Code* c, const Cell& name, Node cache, uint32_t at,
                             bool used, Cell* slot, bool function, bool safer, bool tail_complete) {
    uint32_t n = length(cache);
    for (uint32_t i = at + 1; i < n; ++i) {
        Cell e = cells(cache)[i];
        if (!is(e, Type::typeset)) break;
        uint32_t k = e.header & kind_mask;
        if (k == kind_return) continue;
        if (!used && safer && c && value_at(*c, c->pos)) {
            // apply/safer: the arguments of an unused refinement stay unevaluated.
            ++c->pos;
            if (function) ++slot;
            continue;
        }
        const Cell* p = c ? value_at(*c, c->pos) : nullptr;
        if (p) {
            Status st = fetch_one(*c, p, k, safer);
            if (st) return st;
            Cell* v = stack::s.top - 1;
            if (!typeset::has(e, type_of(*v))) expect_arg(fn, name, spec_entry(cache, i), *v);
        } else if (tail_complete) {
            stack::push(none_cell());
        } else {
            Cell word = spec_word(fn, spec_entry(cache, i));
            errors::fire(errors::id::no_arg, &name, &word);
        }
        Cell* v = stack::s.top - 1;
        if (function) {
            ++slot;
            if (used) *slot = *v;
            stack::pop(1);
        } else if (!used) {
            stack::pop(1);
        }
    }
    return stack::ok;
}

// The arity cache, built on the first call.
inline Node cached_arity(const Cell& fn) {
    const Cell& slot = cells(callable_more(fn))[1];
    if (is(slot, Type::block)) [[likely]]
        return series_node(slot);
    return arity_cache(fn);
}

// Whether the value at a position is a word holding an operator (which
// would take the value before it as its left operand).
[[gnu::always_inline]] inline bool operator_at(const Code& c, uint32_t pos) {
    const Cell* p = value_at(c, pos);
    if (!p || !is(*p, Type::word)) return false;
    const Cell* v = peek_value(*p);
    return !v || is(*v, Type::op);
}

// Refinement slots of a native or action called without any refinement.
const int32_t no_refinements[max_refinements] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                 -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                 -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

// One argument of a call with fixed arguments, as fetch_plain takes it: a block
// (a branch, a body) is its own value.
[[gnu::always_inline]] inline Status fetch_arg(const Cell& fn, const Cell& e, uint32_t i, Code& c,
                                               const Cell& name) {
    uint32_t k = e.header & kind_mask;
    const Cell* p = value_at(c, c.pos);
    if (!p) [[unlikely]] {
        if (k == kind_lit && typeset::has(e, Type::unset)) {
            stack::push(unset_cell());
            return stack::ok;
        }
        Cell word = spec_word(fn, i);
        errors::fire(errors::id::no_arg, &name, &word);
    }
    if (k == 0 && is(*p, Type::block) && !trace::on && !operator_at(c, c.pos + 1)) {
        stack::push(*p);
        ++c.pos;
    } else if (k != 0 || trace::on) {
        Status st = k == 0 ? eval_value(c, *p, false, false) : fetch_one(c, p, k, false);
        if (st) return st;
    } else if (Quick q = quick(c, p); q != Quick::done) {
        Status st = q == Quick::none ? eval_value(c, *p, false, false) : finish_partial(c);
        if (st) return st;
    }
    const Cell& v = stack::s.top[-1];
    if (!typeset::has(e, type_of(v))) [[unlikely]]
        expect_arg(fn, name, i, v);
    return stack::ok;
}

// The arguments of a call through a plain word (no path, no apply, not an
// operator): fixed arguments are fetched, and a function's refinements,
// their arguments and its locals are given false and none; then the callable
// runs (a function's body is left to the caller). What fetch_args does for
// such a call, without its refinement and apply machinery.
Status fetch_plain(const Cell& fn, Type t, Code& c, const Cell& name) {
    bool function = t == Type::function;
    Node cache = cached_arity(fn);
    bool active = true;
    int32_t local_count = 0;
    // The cache's cells, read again only when buffers may have moved.
    memory::Series* cs = memory::buffer(cache);
    uint32_t n = (cs->tail - cs->head) / sizeof(Cell);
    const Cell* entries = cs->cells();
    uint32_t epoch = memory::moves();
    for (uint32_t i = 0; i < n; ++i) {
        if (epoch != memory::moves()) [[unlikely]] {
            entries = cells(cache);
            epoch = memory::moves();
        }
        Cell e = entries[i];
        if (is(e, Type::typeset)) [[likely]] {
            if ((e.header & kind_mask) == kind_return) continue;
            if (!active) {
                if (!function) break;
                stack::push(none_cell());
                continue;
            }
            Status st = fetch_arg(fn, e, i, c, name);
            if (st) return st;
        } else if (is(e, Type::refinement)) {
            if (!function) break;
            stack::push(logic_cell(false));
            active = false;
        } else if (is(e, Type::integer)) {
            if (function) local_count = int_of(e);
        }
    }
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::call, nullptr, -1, &fn, &name);
    switch (t) {
        case Type::native: {
            natives::Fn entry = natives::entry(int(callable_code(fn)));
            if (!entry) errors::fire(errors::id::not_done);
            return entry(0, no_refinements);
        }
        case Type::action: {
            dispatch::Entry entry = dispatch::entry(int(callable_code(fn)));
            if (!entry) errors::fire(errors::id::not_done);
            entry(no_refinements);
            return stack::ok;
        }
        default:
            if (local_count > 0) {
                stack::push(logic_cell(false));
                for (int32_t k = 1; k < local_count; ++k) stack::push(none_cell());
            }
            return stack::ok;
    }
}

// --- control natives taken inline ---------------------------------------------------
// if, unless, either and the loops called through a word with tracing off:
// the same guard slot, frames, argument checks and errors as a call through
// invoke, without the generic argument walk and the native's entry.

namespace control {
constexpr uint32_t if_ = 1, unless = 2, either = 3, while_ = 6, until = 7, loop = 8, repeat = 9,
                   forever = 10;
// Arguments of each (0: not taken inline); repeat's first is quoted.
constexpr uint8_t arity[11] = {0, 2, 2, 3, 0, 0, 2, 1, 2, 3, 1};
}  // namespace control

// The control native `code` run inline, or false when its spec is not the
// one the inline form knows (nothing evaluated then). Tracing must be off.
// The argument typesets of a control native whose arity cache was found to
// have the inline form's shape, kept with its more-block node while the moves
// epoch stands (a collection, the only thing that renumbers or frees nodes,
// bumps it): the next call of the same native skips the check.
struct ControlShape {
    Node more = 0;
    uint32_t epoch = 0;
    Cell e[3];
};
ControlShape control_shapes[control::forever + 1];

[[gnu::noinline]] bool check_control_shape(const Cell& fn, uint32_t code, uint32_t n) {
    Node cache = cached_arity(fn);
    memory::Series* cs = memory::buffer(cache);
    if ((cs->tail - cs->head) / sizeof(Cell) != n) return false;
    ControlShape& shape = control_shapes[code];
    for (uint32_t i = 0; i < n; ++i) {
        const Cell& e = cs->cells()[i];
        uint32_t want = code == control::repeat && i == 0 ? kind_lit : 0;
        if (!is(e, Type::typeset) || (e.header & kind_mask) != want) return false;
    }
    for (uint32_t i = 0; i < n; ++i) shape.e[i] = cs->cells()[i];
    shape.more = callable_more(fn);
    shape.epoch = memory::moves();
    return true;
}

bool control_inline(const Cell& fn, uint32_t code, Code& c, const Cell& name, Status& st) {
    uint32_t n = code <= control::forever ? control::arity[code] : 0;
    if (!n) return false;
    const ControlShape& shape = control_shapes[code];
    if ((shape.more != callable_more(fn) || shape.epoch != memory::moves()) &&
        !check_control_shape(fn, code, n))
        return false;
    // Copies: an argument may run this native again and renew the shape.
    Cell e[3];
    for (uint32_t i = 0; i < n; ++i) e[i] = shape.e[i];
    stack::check_native_depth();
    Cell* guard = stack::push(fn);
    stack::mark_interp_native(name);
    for (uint32_t i = 0; i < n; ++i) {
        st = fetch_arg(fn, e[i], i, c, name);
        if (st) return true;
    }
    if (trace::on) [[unlikely]]  // turned on by an argument
        trace::dispatch(trace::event::call, nullptr, -1, &fn, &name);
    Cell* base = stack::s.base;
    switch (code) {
        case control::if_:
        case control::unless:
        case control::either: {
            bool truthy = is_truthy(base[0]);
            const Cell* branch = code == control::either ? (truthy ? &base[1] : &base[2])
                                 : truthy == (code == control::if_) ? &base[1]
                                                                    : nullptr;
            if (!branch) {
                stack::reset_last(none_cell());
                break;
            }
            Cell block = *branch;
            st = natives::guarded(block, true);
            if (st) return true;
            break;
        }
        default:
            st = natives::entry(int(code))(0, no_refinements);
            if (st) return true;
            break;
    }
    stack::unwind();
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::return_, nullptr, -1, stack::s.top - 1, &name);
    *guard = stack::s.top[-1];
    stack::s.top = guard + 1;
    return true;
}

// A native, action or function called through a word with tracing off:
// what invoke and fetch_args do for such a call, in one step.
[[gnu::always_inline]] inline Status call_plain(const Cell& fn, Type t, Code& c, const Cell& name) {
    stack::check_native_depth();
    Cell* guard = stack::push(fn);
    if (t == Type::function)
        stack::mark_interp_func(name);
    else
        stack::mark_interp_native(name);
    Status st = fetch_plain(fn, t, c, name);
    if (st) return st;
    if (t == Type::function) {
        st = exec_function(fn, 0, name);
        if (st) return st;
    }
    stack::unwind();
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::return_, nullptr, -1, stack::s.top - 1, &name);
    *guard = stack::s.top[-1];
    stack::s.top = guard + 1;
    return stack::ok;
}

// call_plain for a method called through a path: out of line, so the word
// call in eval_value keeps its own inline copy.
[[gnu::noinline]] Status call_method(const Cell& fn, Type t, Code& c, const Cell& name) {
    return call_plain(fn, t, c, name);
}

// The right operand of an operator from a native or action (its left one is
// slot 0, just above the top), then the fast answer or the routine: what
// fetch_args does for such a call.
Status fetch_infix(const Cell& fn, Type t, Code& c, const Cell& name) {
    ++stack::s.top;  // cover the left operand before anything allocates
    Fast fast = pending_fast;
    pending_fast = Fast::none;
    Node cache = cached_arity(fn);
    bool left_pending = true;
    for (uint32_t i = 0;; ++i) {
        memory::Series* cs = memory::buffer(cache);
        if (i >= (cs->tail - cs->head) / sizeof(Cell)) break;
        Cell e = cs->cells()[i];
        if (!is(e, Type::typeset)) break;
        uint32_t k = e.header & kind_mask;
        if (k == kind_return) continue;
        if (left_pending) {
            left_pending = false;
            if (!typeset::has(e, type_of(*stack::s.base))) expect_arg(fn, name, i, *stack::s.base);
            continue;
        }
        const Cell* p = value_at(c, c.pos);
        if (!p) [[unlikely]] {
            if (k == kind_lit && typeset::has(e, Type::unset)) {
                stack::push(unset_cell());
                continue;
            }
            Cell word = spec_word(fn, i);
            errors::fire(errors::id::no_arg, &name, &word);
        }
        Status st = fetch_one(c, p, k, true);
        if (st) return st;
        const Cell& v = stack::s.top[-1];
        if (!typeset::has(e, type_of(v))) [[unlikely]]
            expect_arg(fn, name, i, v);
    }
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::call, nullptr, -1, &fn, &name);
    else if (fast != Fast::none && fast_apply(fast, stack::s.base[0], stack::s.base[1]))
        return stack::ok;
    if (t == Type::native) {
        natives::Fn entry = natives::entry(int(callable_code(fn)));
        if (!entry) errors::fire(errors::id::not_done);
        return entry(0, no_refinements);
    }
    dispatch::Entry entry = dispatch::entry(int(callable_code(fn)));
    if (!entry) errors::fire(errors::id::not_done);
    entry(no_refinements);
    return stack::ok;
}

Status fetch_args(const Cell& fn, Code* c, const Cell& name, const Cell* path, uint32_t path_pos,
                  int mode, bool infix) {
    Type t = type_of(fn);
    if (!path && mode == mode::word && c) [[likely]] {
        if (!infix && t != Type::routine) return fetch_plain(fn, t, *c, name);
        if (infix && (t == Type::native || t == Type::action)) return fetch_infix(fn, t, *c, name);
    }
    bool function = t == Type::function || t == Type::routine;
    // The infix left operand is slot 0: cover it before anything allocates.
    if (infix) ++stack::s.top;
    Fast fast = infix ? pending_fast : Fast::none;
    pending_fast = Fast::none;
    Node cache = cached_arity(fn);
    int32_t refs[max_refinements];
    // Filled with -1 when the first refinement entry shows up: a callable
    // without refinements never reads it.
    bool refs_ready = false;
    auto ready_refs = [&] {
        if (refs_ready) return;
        refs_ready = true;
        for (int32_t& r : refs) r = -1;
    };
    int refinement_total = 0;
    bool active = true;
    bool left_pending = infix;

    memory::Series* cache_series = memory::buffer(cache);
    uint32_t n = (cache_series->tail - cache_series->head) / sizeof(Cell);
    int32_t local_count = 0;
    // Refreshed only when buffers may have moved.
    const Cell* entries = cache_series->cells();
    uint32_t epoch = memory::moves();
    auto refresh = [&] {
        if (epoch != memory::moves()) [[unlikely]] {
            entries = cells(cache);
            epoch = memory::moves();
        }
    };
    for (uint32_t i = 0; i < n; ++i) {
        Cell e = entries[i];
        switch (type_of(e)) {
            case Type::typeset: {
                uint32_t k = e.header & kind_mask;
                if (k == kind_return) break;
                if (!active) {
                    if ((mode & 3) == mode::all && c && value_at(*c, c->pos)) {
                        Status st = eval_expression(*c, (mode & mode::safer) != 0, false);
                        if (st) return st;
                        refresh();
                        --stack::s.top;
                    }
                    if (function) stack::push(none_cell());
                    break;
                }
                if (left_pending) {
                    left_pending = false;
                    if (!typeset::has(e, type_of(*stack::s.base))) expect_arg(fn, name, i, *stack::s.base);
                    break;
                }
                const Cell* p = c ? value_at(*c, c->pos) : nullptr;
                if (!p) {
                    if (mode > 0) {
                        stack::push(none_cell());
                        break;
                    }
                    if (k == kind_lit && typeset::has(e, Type::unset)) {
                        stack::push(unset_cell());
                        break;
                    }
                    Cell word = spec_word(fn, i);
                    errors::fire(errors::id::no_arg, &name, &word);
                }
                Status st = fetch_one(*c, p, k, infix || (mode & mode::safer) != 0);
                if (st) return st;
                refresh();
                const Cell& v = stack::s.top[-1];
                if (!typeset::has(e, type_of(v))) expect_arg(fn, name, i, v);
                break;
            }
            case Type::refinement: {
                ready_refs();
                bool at_end = !c || !value_at(*c, c->pos);
                if ((mode & 3) == mode::all && !at_end) {
                    // apply/all: the block gives each refinement's use as a logic!,
                    // fetched as an argument is (operators included).
                    Status st = eval_expression(*c, (mode & mode::safer) != 0, false);
                    if (st) return st;
                    refresh();
                    Cell v = stack::s.top[-1];
                    if (!is(v, Type::logic)) expect_arg(fn, name, i, v);
                    if (!function) {
                        --stack::s.top;
                        int32_t num = int32_t(e.w3 & 0xFFFF) - 1;
                        if (logic_of(v) && num < max_refinements)
                            refs[num] = int32_t(stack::s.top - stack::s.base);
                    }
                    active = logic_of(v);
                    break;
                }
                if (function) stack::push(logic_cell(false));
                // At the end of an apply block the rest is completed with none.
                active = mode > 0 && at_end;
                break;
            }
            case Type::integer:
                if (function)
                    local_count = int_of(e);
                else
                    refinement_total = int_of(e);
                break;
            default: break;
        }
    }
    (void)refinement_total;

    // A refinement named by a path item or an apply block, and whether it is used.
    auto named = [&](const Cell& item, bool used, const Cell* where) -> Status {
        ready_refs();
        int32_t at = find_refinement(cache, word_symbol(item));
        if (at < 0) errors::fire(errors::id::no_refine, &name, &item);
        Cell r = cells(cache)[at];
        Cell* slot = nullptr;
        if (function) {
            slot = stack::s.base + (r.w3 >> 16);
            if (logic_of(*slot)) errors::fire(errors::id::dup_refine, where);
            *slot = logic_cell(used);
        } else {
            int32_t num = int32_t(r.w3 & 0xFFFF) - 1;
            if (num < max_refinements) {
                if (refs[num] != -1) errors::fire(errors::id::dup_refine, where);
                if (used) refs[num] = int32_t(stack::s.top - stack::s.base);
            }
        }
        return fetch_refinement_args(fn, c, name, cache, uint32_t(at), used, slot, function,
                                     (mode & mode::safer) != 0, mode > 0);
    };

    // Refinements named by the path items after the callable. They come first:
    // apply 'f/r [...] takes r's arguments from the block, after the others.
    if (path) {
        Node pn = series_node(*path);
        for (uint32_t p = path_pos; p < length(pn); ++p) {
            Cell item = cells(pn)[p];
            bool used = true;
            if (is(item, Type::get_word))
                used = is_truthy(*context::get(item));
            else if (!is(item, Type::word))
                errors::fire(errors::id::bad_refine, &item);
            if (Status st = named(item, used, path)) return st;
        }
    }
    // apply without /all: refinement! values in the block, each followed by
    // the expression that says whether it is used.
    if ((mode & 3) == mode::named && c) {
        bool has_refinements = find_any_refinement(cache);
        while (const Cell* p = value_at(*c, c->pos)) {
            Cell item = *p;
            bool used = true;
            if (!is(item, Type::refinement) && !is(item, Type::get_word)) {
                if (!has_refinements) break;
                errors::fire(errors::id::bad_refine, &item);
            }
            ++c->pos;
            if (is(item, Type::get_word)) {
                used = is_truthy(*word_slot(item));
            } else if (value_at(*c, c->pos)) {
                Status st = eval_expression(*c, false, false);
                if (st) return st;
                used = is_truthy(stack::s.top[-1]);
                --stack::s.top;
            }
            if (Status st = named(item, used, &c->block)) return st;
        }
    }

    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::call, nullptr, -1, &fn, &name);
    else if (fast != Fast::none && fast_apply(fast, stack::s.base[0], stack::s.base[1]))
        return stack::ok;

    switch (t) {
        case Type::native: {
            natives::Fn entry = natives::entry(int(callable_code(fn)));
            if (!entry) errors::fire(errors::id::not_done);
            return entry(0, refs);
        }
        case Type::action: {
            dispatch::Entry entry = dispatch::entry(int(callable_code(fn)));
            if (!entry) errors::fire(errors::id::not_done);
            entry(refs);
            return stack::ok;
        }
        default:
            if (local_count > 0) {
                stack::push(logic_cell(false));
                for (int32_t k = 1; k < local_count; ++k) stack::push(none_cell());
            }
            return stack::ok;
    }
}

// Values held in a locals context while its function runs point at the
// frame's argument base; the caller's are put back on any way out.
// (The context cell's w2 is the values reference: see peek_value.)
class LocalsScope {
public:
    LocalsScope(Node ctx) : ctx_(ctx) {
        Cell& cc = memory::buffer(ctx)->cells()[0];
        saved_ = cc.w2;
        cc.w2 = stack::position(stack::s.base);
    }
    ~LocalsScope() { memory::buffer(ctx_)->cells()[0].w2 = saved_; }

private:
    Node ctx_;
    uint32_t saved_;
};

}  // namespace

Status exec_function(const Cell& fn, Node owner, const Cell& name) {
    (void)owner;
    if (is(fn, Type::routine)) {
        routines::exec(fn);
        return stack::ok;
    }
    const Cell* more = cells(callable_more(fn));
    Cell body = more[0];
    if (!is(body, Type::block)) return stack::ok;
    stack::Frame* frame = stack::top_frame();
    // A library function with a C++ body runs it, unless it leaves the case
    // to the Zan body; tracing sees the Zan body run.
    if (is(more[2], Type::integer) && !trace::on) [[unlikely]] {
        if (routines::BodyFn compiled = routines::body_at(uint32_t(int_of(more[2])))) {
            frame->header |= stack::bits::func_entry;
            int32_t st = compiled(stack::s.base);
            frame->header &= ~stack::bits::func_entry;
            if (st >= 0) return Status(st) == unwind::return_ || Status(st) == unwind::exit ? stack::ok : Status(st);
        }
    }
    bool was_tracing = trace::on;
    if (fn.header & 0x200) trace::on = false;
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::prolog, nullptr, -1, &fn, &name);
    Status st;
    {
        LocalsScope locals(callable_code(fn));
        frame->header |= stack::bits::func_entry;
        st = eval_block(body, true);
        frame->header &= ~stack::bits::func_entry;
    }
    if (st == unwind::return_ || st == unwind::exit) st = stack::ok;
    if (trace::on) [[unlikely]] {
        // The body's result lies at the top: the callback's frame goes above it.
        ++stack::s.top;
        trace::dispatch(trace::event::epilog, nullptr, -1, &fn, &name);
        --stack::s.top;
    }
    // Only a body run untraced puts tracing back: `trace true/false`
    // inside a traced function keeps its effect.
    if (fn.header & 0x200) trace::on = was_tracing;
    return st;
}

Status invoke(const Cell& callable, Code* c, const Cell& name, const Cell* path, uint32_t path_pos,
              const Cell* owner, int mode, bool infix) {
    stack::check_native_depth();
    Cell fn = callable;
    Cell* guard = infix ? nullptr : stack::push(fn);
    Cell frame_name = is(name, Type::word) ? name : name_word(stack::sym_anon);
    if (trace::on) [[unlikely]] {
        // The left operand of an operator lies just above the top.
        if (infix) ++stack::s.top;
        // The word or path called through; the function itself when nameless.
        bool nameless = !is(name, Type::word) || word_symbol(name) == stack::sym_anon;
        const Cell* through = path ? path : nameless ? &fn : &frame_name;
        trace::dispatch(trace::event::open, nullptr, -1, through, &frame_name);
        if (infix) --stack::s.top;
    }
    Type t = type_of(fn);
    Status st;
    if (t == Type::function) {
        stack::mark_interp_func(frame_name);
        st = fetch_args(fn, c, frame_name, path, path_pos, mode, infix);
        if (st) return st;
        Node owner_ctx = owner && is(*owner, Type::object) ? owner->w1 : 0;
        st = exec_function(fn, owner_ctx, frame_name);
    } else {
        stack::mark_interp_native(frame_name);
        st = fetch_args(fn, c, frame_name, path, path_pos, mode, infix);
        if (!st && t == Type::routine) routines::exec(fn);
    }
    if (st) return st;
    stack::unwind();
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::return_, nullptr, -1, stack::s.top - 1, &frame_name);
    if (guard) {
        *guard = stack::s.top[-1];
        stack::s.top = guard + 1;
    }
    return stack::ok;
}

namespace {

// --- operators ---------------------------------------------------------------------

// Fast path of an operator on numbers; answers false when it does not apply
// (the caller then calls the operator).

Fast fast_kind_of(Type src, uint32_t code) {
    if (src == Type::action) {
        switch (code) {
            case 11: return Fast::add;
            case 12: return Fast::divide;
            case 18: return Fast::subtract;
            case 13: return Fast::multiply;
            default: return Fast::none;
        }
    }
    if (src == Type::native) {
        switch (code) {
            case 25: return Fast::eq;
            case 26: return Fast::ne;
            case 28: return Fast::lt;
            case 29: return Fast::gt;
            case 30: return Fast::le;
            case 31: return Fast::ge;
            default: return Fast::none;
        }
    }
    return Fast::none;
}

// The fast kinds of operator sources, by action and native number.
struct FastKinds {
    Fast action[64];
    Fast native[128];
    FastKinds() {
        for (uint32_t i = 0; i < 64; ++i) action[i] = fast_kind_of(Type::action, i);
        for (uint32_t i = 0; i < 128; ++i) native[i] = fast_kind_of(Type::native, i);
    }
};
const FastKinds fast_kinds;

// The library's modulo function (//) when it has its C++ body: integers
// take that body's answer without a call.
bool modulo_function(const Cell& op) {
    static uint32_t body = 0;
    if (!body) body = routines::find_body("modulo");
    const Cell& code = cells(callable_more(op))[2];
    return body && is(code, Type::integer) && uint32_t(int_of(code)) == body;
}

inline Fast fast_kind(const Cell& op) {
    Type src = op_source(op);
    uint32_t code = callable_code(op);
    if (src == Type::action) return code < 64 ? fast_kinds.action[code] : Fast::none;
    if (src == Type::native) return code < 128 ? fast_kinds.native[code] : Fast::none;
    if (src == Type::function && modulo_function(op)) return Fast::modulo;
    return Fast::none;
}

bool number(const Cell& v) { return is(v, Type::integer) || is(v, Type::float_); }
// Operands the fast path may look at: numbers, and amounts of money.
bool operand(const Cell& v) { return number(v) || is(v, Type::money); }

// The operator's result in place of its left operand, or false (nothing
// changed) when the operands need the operator's routine: other types, float
// equality, a division by zero or one that overflows.
bool fast_apply(Fast kind, Cell& left, const Cell& right) {
    if (is(left, Type::money) || is(right, Type::money)) {
        int op = kind == Fast::add        ? integer::add
                 : kind == Fast::subtract ? integer::subtract
                 : kind == Fast::multiply ? integer::multiply
                                          : -1;
        return op >= 0 && money::fast_math(left, right, op);
    }
    if (!number(left) || !number(right)) return false;
    bool ints = is(left, Type::integer) && is(right, Type::integer);
    switch (kind) {
        case Fast::modulo: return false;  // past int_apply: the function decides
        case Fast::add:
        case Fast::subtract:
        case Fast::multiply: {
            if (ints) {
                int64_t a = int_of(left), b = int_of(right);
                int64_t r = kind == Fast::add ? a + b : kind == Fast::subtract ? a - b : a * b;
                if (r >= INT32_MIN && r <= INT32_MAX)
                    left = integer_cell(int32_t(r));
                else
                    left = float_cell(double(r));
            } else {
                double a = is(left, Type::integer) ? double(int_of(left)) : float_of(left);
                double b = is(right, Type::integer) ? double(int_of(right)) : float_of(right);
                left = float_cell(kind == Fast::add ? a + b : kind == Fast::subtract ? a - b : a * b);
            }
            return true;
        }
        case Fast::divide: {
            if (ints) {
                int32_t a = int_of(left), b = int_of(right);
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                left = a % b ? float_cell(double(a) / double(b)) : integer_cell(a / b);
            } else {
                double a = is(left, Type::integer) ? double(int_of(left)) : float_of(left);
                double b = is(right, Type::integer) ? double(int_of(right)) : float_of(right);
                left = float_cell(a / b);
            }
            return true;
        }
        default: {
            if (!ints) {
                // Orderings of floats are exact; float equality is tolerant,
                // so it takes the compare routine.
                if (kind == Fast::eq || kind == Fast::ne) return false;
                double a = is(left, Type::integer) ? double(int_of(left)) : float_of(left);
                double b = is(right, Type::integer) ? double(int_of(right)) : float_of(right);
                bool r = kind == Fast::lt ? a < b : kind == Fast::gt ? a > b : kind == Fast::le ? a <= b : a >= b;
                left = logic_cell(r);
                return true;
            }
            int32_t a = int_of(left), b = int_of(right);
            bool r = kind == Fast::eq   ? a == b
                     : kind == Fast::ne ? a != b
                     : kind == Fast::lt ? a < b
                     : kind == Fast::gt ? a > b
                     : kind == Fast::le ? a <= b
                                        : a >= b;
            left = logic_cell(r);
            return true;
        }
    }
}

// Two numbers as floats: arithmetic and orderings inline (float equality is
// tolerant: the compare routine decides it).
[[gnu::always_inline]] inline bool float_apply(Fast kind, Cell& left, double a, double b) {
    switch (kind) {
        case Fast::add: left = float_cell(a + b); return true;
        case Fast::subtract: left = float_cell(a - b); return true;
        case Fast::multiply: left = float_cell(a * b); return true;
        case Fast::divide: left = float_cell(a / b); return true;
        case Fast::lt: left = logic_cell(a < b); return true;
        case Fast::gt: left = logic_cell(a > b); return true;
        case Fast::le: left = logic_cell(a <= b); return true;
        case Fast::ge: left = logic_cell(a >= b); return true;
        default: return false;
    }
}

// An integer next to a float, as fast_apply answers it; false for other types.
[[gnu::noinline]] bool mixed_apply(Fast kind, Cell& left, const Cell& right) {
    double a, b;
    if (is(left, Type::integer) && is(right, Type::float_)) {
        a = double(int_of(left));
        b = float_of(right);
    } else if (is(left, Type::float_) && is(right, Type::integer)) {
        a = float_of(left);
        b = double(int_of(right));
    } else {
        return false;
    }
    return float_apply(kind, left, a, b);
}

// Two integers, the commonest operands, answered inline (floats, alone or
// next to an integer, too: as fast_apply answers them); false for what
// fast_apply must see (other types, a result past 32 bits, a division).
[[gnu::always_inline]] inline bool int_apply(Fast kind, Cell& left, const Cell& right) {
    if (!is(left, Type::integer) || !is(right, Type::integer)) {
        if (is(left, Type::float_) && is(right, Type::float_))
            return float_apply(kind, left, float_of(left), float_of(right));
        if (!number(left) || !number(right)) return false;
        return mixed_apply(kind, left, right);
    }
    int32_t a = int_of(left), b = int_of(right), r;
    switch (kind) {
        case Fast::add:
            if (__builtin_add_overflow(a, b, &r)) return false;
            left = integer_cell(r);
            return true;
        case Fast::subtract:
            if (__builtin_sub_overflow(a, b, &r)) return false;
            left = integer_cell(r);
            return true;
        case Fast::multiply:
            if (__builtin_mul_overflow(a, b, &r)) return false;
            left = integer_cell(r);
            return true;
        case Fast::eq: left = logic_cell(a == b); return true;
        case Fast::ne: left = logic_cell(a != b); return true;
        case Fast::lt: left = logic_cell(a < b); return true;
        case Fast::gt: left = logic_cell(a > b); return true;
        case Fast::le: left = logic_cell(a <= b); return true;
        case Fast::ge: left = logic_cell(a >= b); return true;
        case Fast::modulo: {
            // What modulo's C++ body answers: operands whose magnitudes add
            // up within 32 bits, a divisor other than zero.
            int64_t m = b < 0 ? -int64_t(b) : b;
            if (!b || (a < 0 ? -int64_t(a) : a) + m > INT32_MAX) return false;
            r = int32_t(a % m);
            left = integer_cell(r < 0 ? r + int32_t(m) : r);
            return true;
        }
        default: return false;
    }
}

// Types whose literal evaluates to itself, and types a word's value may
// have to stand for itself (not called, not an error).
struct Inert {
    bool literal[256] = {};
    bool held[256] = {};
    Inert() {
        for (int t = 0; t < 256; ++t) literal[t] = held[t] = true;
        for (Type t : {Type::word, Type::set_word, Type::get_word, Type::lit_word, Type::paren,
                       Type::path, Type::get_path, Type::lit_path, Type::set_path, Type::issue,
                       Type::op, Type::native, Type::action, Type::function, Type::routine,
                       Type::unset})
            literal[int(t)] = false;
        for (Type t : {Type::op, Type::native, Type::action, Type::function, Type::routine,
                       Type::unset})
            held[int(t)] = false;
    }
};
const Inert inert;

// Parens nested in what quick is evaluating now (a bound on its recursion).
uint32_t quick_depth = 0;

// The operators after a paren's simple first value `v`, as quick_paren needs
// them: true when they end the paren.
bool quick_paren_ops(const Cell& paren, Cell v, Cell& out) {
    if (quick_depth >= 8) return false;
    Code pc = code_of(paren);
    ++quick_depth;
    Quick q = quick_ops(pc, v);
    --quick_depth;
    out = *--stack::s.top;
    return q == Quick::done && pc.pos >= pc.end;
}

// The value of a paren holding one simple expression that quick would answer
// whole; false (nothing pushed, nothing run) otherwise. Nothing in such a
// paren can fail or be traced, so it needs none of the frames a paren opens.
// Inline: most parens that are not simple start with a call, refused here.
[[gnu::always_inline]] inline bool quick_paren(const Cell& paren, Cell& out) {
    memory::Series* s = memory::buffer_inline(series_node(paren));
    uint32_t at = series_index(paren);
    uint32_t len = (s->tail - s->head) / sizeof(Cell);
    if (at >= len) return false;
    const Cell& first = s->cells()[at];
    Cell v;
    if (is(first, Type::word)) {
        const Cell* slot = peek_value(first);
        if (!slot || !inert.held[type_id(*slot)]) return false;
        v = *slot;
    } else if (is(first, Type::paren)) {
        if (quick_depth >= 8) return false;
        ++quick_depth;
        bool simple = quick_paren_whole(first, v);
        --quick_depth;
        if (!simple) return false;
    } else {
        if (!inert.literal[type_id(first)]) return false;
        v = first;
    }
    if (at + 1 >= len) {
        out = v;
        return true;
    }
    return quick_paren_ops(paren, v, out);
}

bool quick_paren_whole(const Cell& paren, Cell& out) { return quick_paren(paren, out); }

// A simple operand: a number-like value as it stands, a word's value or a
// quick paren's value; nullptr when the general road must evaluate it.
[[gnu::always_inline]] inline const Cell* quick_operand(const Cell* p, Cell& scratch) {
    if (is(*p, Type::word)) return peek_value(*p);
    if (is(*p, Type::paren)) return quick_paren(*p, scratch) ? &scratch : nullptr;
    return p;
}

// An operator whose right operand is a number, a word holding one or a quick paren.
[[gnu::always_inline]] inline bool fast_infix(Fast kind, Code& c) {
    const Cell* p = value_at(c, c.pos);
    if (!p) return false;
    Cell scratch;
    const Cell* right = quick_operand(p, scratch);
    if (!right) return false;
    Cell& left = stack::s.top[-1];
    if (int_apply(kind, left, *right)) {
        ++c.pos;
        return true;
    }
    if (!operand(*right)) return false;
    Cell r = *right;
    if (!fast_apply(kind, left, r)) return false;
    ++c.pos;
    return true;
}

inline Quick quick(Code& c, const Cell* p) {
    Cell v;
    if (is(*p, Type::word)) {
        const Cell* slot = peek_value(*p);
        if (!slot || !inert.held[type_id(*slot)]) return Quick::none;
        v = *slot;
    } else if (is(*p, Type::paren)) {
        if (!quick_paren(*p, v) || !inert.held[type_id(v)]) return Quick::none;
    } else {
        if (!inert.literal[type_id(*p)]) return Quick::none;
        v = *p;
    }
    const Cell* q = value_at(c, c.pos + 1);
    if (!q || !is(*q, Type::word)) {
        stack::push(v);
        ++c.pos;
        return Quick::done;
    }
    return quick_ops(c, v);
}

// The operators after a simple first value, from the first one (word q at
// c.pos + 1, holding op).
Quick quick_ops_from(Code& c, Cell v, const Cell* q, const Cell* op) {
    uint32_t pos = c.pos + 1;
    for (;;) {
        Fast k = fast_kind(*op);
        const Cell* r = k == Fast::none ? nullptr : value_at(c, pos + 1);
        Cell scratch;
        if (r) r = quick_operand(r, scratch);
        bool answered = r && int_apply(k, v, *r);
        if (!answered && r && number(v) && number(*r)) {
            // Mixed integer and float operands: still no operator routine.
            Cell right = *r;
            answered = fast_apply(k, v, right);
        }
        if (!answered) {
            // The general road calls this operator.
            quick_stop = QuickStop{*q, *op, k};
            stack::push(v);
            c.pos = pos + 1;
            return Quick::partial;
        }
        pos += 2;
        q = value_at(c, pos);
        if (!q || !is(*q, Type::word)) break;
        op = peek_value(*q);
        if (!op || !is(*op, Type::op)) break;  // as eval_infix: no operator here
    }
    stack::push(v);
    c.pos = pos;
    return Quick::done;
}

// The operators after a simple first value.
Quick quick_ops(Code& c, Cell v) {
    const Cell* q = value_at(c, c.pos + 1);
    if (q && is(*q, Type::word)) {
        const Cell* op = peek_value(*q);
        if (op && is(*op, Type::op)) return quick_ops_from(c, v, q, op);
    }
    stack::push(v);
    ++c.pos;
    return Quick::done;
}

// The operators after a value; inline in eval_value, its hot caller.
[[gnu::always_inline]] inline Status infix_chain(Code& c) {
    for (;;) {
        const Cell* p = value_at(c, c.pos);
        if (!p || !is(*p, Type::word)) return stack::ok;
        Cell* v = peek_value(*p);
        if (!v || !is(*v, Type::op)) return stack::ok;
        Cell name = *p;
        Cell op = *v;
        if (trace::on) [[unlikely]]
            trace::dispatch(trace::event::fetch, &c.block, int32_t(c.pos), &name, nullptr);
        ++c.pos;
        Fast k = Fast::none;
        if (!trace::on) {
            k = fast_kind(op);
            if (k != Fast::none && fast_infix(k, c)) continue;
        }
        Status st = infix_call(c, name, op, k);
        if (st) return st;
    }
}

Status eval_infix(Code& c) { return infix_chain(c); }

// Calls an operator (c.pos just past its word) on the value on top; its fast
// kind, if any, is tried once its operands are fetched.
Status infix_call(Code& c, const Cell& name, Cell op, Fast kind) {
    pending_fast = kind;
    op.header = uint32_t(op_source(op));
    --stack::s.top;  // the left operand becomes slot 0 of the call
    Type t = type_of(op);
    if (trace::on || (t != Type::native && t != Type::action))
        return invoke(op, &c, name, nullptr, 0, nullptr, mode::word, true);
    // What invoke does for an operator from a native or action, untraced.
    stack::check_native_depth();
    stack::mark_interp_native(name);
    Status st = fetch_infix(op, t, c, name);
    if (st) return st;
    stack::unwind();
    if (trace::on) [[unlikely]]  // turned on by the right operand
        trace::dispatch(trace::event::return_, nullptr, -1, stack::s.top - 1, &name);
    return stack::ok;
}

}  // namespace

void set_word(Cell& word, const Cell& value) { store(word, value); }

Status eval_expression(Code& c, bool no_infix, bool no_call) {
    return eval_value(c, *value_at(c, c.pos), no_infix, no_call);
}

// eval_expression for the value at c.pos, already read by the caller.
Status eval_value(Code& c, Cell v, bool no_infix, bool no_call) {
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::fetch, &c.block, int32_t(c.pos), &v, nullptr);
    ++c.pos;
    Status st = stack::ok;
    bool plain = false;  // delivered without a call: a push event follows
    switch (type_of(v)) {
        case Type::word: {
            Cell value = *word_slot(v);
            switch (type_of(value)) {
                case Type::native:
                    if (!trace::on && callable_code(value) <= control::forever &&
                        control_inline(value, callable_code(value), c, v, st)) {
                        if (st) return st;
                        break;
                    }
                    [[fallthrough]];
                case Type::action:
                case Type::function:
                    if (!trace::on) [[likely]] {
                        st = call_plain(value, type_of(value), c, v);
                        if (st) return st;
                        break;
                    }
                    [[fallthrough]];
                case Type::routine:
                    st = invoke(value, &c, v, nullptr, 0, nullptr, mode::word, false);
                    if (st) return st;
                    break;
                case Type::op: errors::fire(errors::id::no_op_arg, &v);
                case Type::unset: errors::fire(errors::id::no_value, &v);
                default:
                    stack::push(value);
                    plain = true;
                    break;
            }
            break;
        }
        case Type::set_word: {
            // A simple value for a word no change handler hears of: stored
            // as the general road below stores it, with nothing that could
            // fail. Other values go the general road, a simple start taken quick.
            Quick q = Quick::none;
            Cell started;
            if (!trace::on) [[likely]] {
                if (const Cell* next = value_at(c, c.pos)) {
                    q = quick(c, next);
                    if (q == Quick::done && store_quiet(v, stack::s.top[-1])) break;
                    if (q != Quick::none) started = *--stack::s.top;
                }
            }
            stack::mark_interp_native(v);
            stack::push(v);
            if (q != Quick::none) {
                stack::push(started);
                if (q == Quick::partial) {
                    st = finish_partial(c);
                    if (st) return st;
                }
            } else {
                if (trace::on) [[unlikely]]
                    trace::dispatch(trace::event::push, &c.block, int32_t(c.pos - 1), &v, nullptr);
                const Cell* next = value_at(c, c.pos);
                if (!next) errors::fire(errors::id::need_value, &v);
                st = eval_value(c, *next, false, false);
                if (st) return st;
            }
            Cell* base = stack::s.base;
            if (trace::on) [[unlikely]]
                trace::dispatch(trace::event::set, &c.block, int32_t(c.pos), &base[1], &base[0]);
            if (is(base[1], Type::unset)) errors::fire(errors::id::need_value, &base[0]);
            store(base[0], base[1]);
            base[0] = base[1];
            stack::unwind();
            break;
        }
        case Type::get_word:
            stack::push(*word_slot(v));
            plain = true;
            break;
        case Type::lit_word:
            stack::push(set_type(v, Type::word));
            plain = true;
            break;
        case Type::paren: {
            Cell value;
            if (!trace::on && quick_paren(v, value)) {
                stack::push(value);
                break;
            }
            stack::mark_body(stack::kind_bits(stack::kind::native) | stack::bits::interp);
            st = eval_block(v, true);
            if (st) return st;
            stack::unwind();
            break;
        }
        case Type::path: {
            Cell owner, field;
            if (!trace::on && object_field(v, nullptr, owner, field)) {
                if (!is_callable(type_of(field))) {
                    stack::push(field);
                    break;
                }
                // A method: called with its owner kept alive below it, as the
                // path walk calls it.
                Node pn = series_node(v);
                Cell name = memory::buffer(pn)->cells()[series_index(v) + 1];
                stack::push(owner);
                // The path has no refinement items: a plain call's road.
                Type ft = type_of(field);
                st = ft != Type::routine && !trace::on
                         ? call_method(field, ft, c, name)
                         : invoke(field, &c, name, &v, series_index(v) + 2, &stack::s.top[-1], mode::word, false);
                if (st) return st;
                stack::s.top[-2] = stack::s.top[-1];
                --stack::s.top;
                break;
            }
            st = eval_path(v, &c, false, false, nullptr);
            if (st) return st;
            break;
        }
        case Type::get_path:
            st = eval_path(v, &c, false, true, nullptr);
            if (st) return st;
            break;
        case Type::lit_path: {
            set_type(v, Type::path);
            v.w3 = 0;
            stack::push(v);
            plain = true;
            break;
        }
        case Type::set_path: {
            if (trace::on) [[unlikely]]
                trace::dispatch(trace::event::push, &c.block, int32_t(c.pos - 1), &v, nullptr);
            if (!value_at(c, c.pos)) errors::fire(errors::id::need_value, &v);
            stack::mark_interp_native(name_word(sym_set_path));
            stack::push(v);
            st = eval_expression(c, false, false);
            if (st) return st;
            Cell* base = stack::s.base;
            if (trace::on) [[unlikely]]
                trace::dispatch(trace::event::set, &c.block, int32_t(c.pos), &base[1], &base[0]);
            Cell owner, field;
            if (!trace::on && object_field(base[0], &base[1], owner, field)) {
                stack::push(field);
            } else {
                st = eval_path(base[0], nullptr, true, false, &base[1]);
                if (st) return st;
            }
            base[0] = base[1];
            stack::unwind();
            break;
        }
        case Type::issue: {
            // #system [...] and #system-global [...] hold code that only a
            // compiler can run: refused rather than skipped as data.
            static const uint32_t sym_system = symbol::resolve(symbol::make("system"));
            static const uint32_t sym_system_global = symbol::resolve(symbol::make("system-global"));
            uint32_t sym = symbol::resolve(word_symbol(v));
            const Cell* next = value_at(c, c.pos);
            if ((sym == sym_system || sym == sym_system_global) && next && is(*next, Type::block))
                errors::fire(errors::id::zan_system);
            stack::push(v);
            plain = true;
            break;
        }
        case Type::op: errors::fire(errors::id::not_done);
        case Type::native:
        case Type::action:
        case Type::function:
        case Type::routine:
            if (no_call) {
                stack::push(v);
                plain = true;
            } else {
                st = invoke(v, &c, name_word(stack::sym_anon), nullptr, 0, nullptr, mode::word, false);
                if (st) return st;
            }
            break;
        default:
            stack::push(v);
            plain = true;
            break;
    }
    if (plain && trace::on) [[unlikely]]
        trace::dispatch(trace::event::push, &c.block, int32_t(c.pos - 1), stack::s.top - 1, nullptr);
    if (!no_infix) {
        st = infix_chain(c);
        if (st) return st;
    }
    return stack::ok;
}

Status eval_block(const Cell& block, bool chain) {
    stack::check_native_depth();
    stack::mark_body(stack::kind_bits(stack::kind::eval) | stack::bits::interp);
    Code c = code_of(block);
    // The block being evaluated, for the near field of an error raised in it;
    // an error unwinding through here gives the caller's back too.
    struct Current {
        Code* saved = current;
        explicit Current(Code* c) { current = c; }
        ~Current() { current = saved; }
    } in_block(&c);
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::enter, &block, int32_t(c.pos), nullptr, nullptr);
    if (c.pos >= c.end) {
        stack::push(unset_cell());
    } else {
        while (const Cell* p = value_at(c, c.pos)) {
            stack::s.top = stack::s.base;
            c.start = c.pos;
            Status st = eval_value(c, *p, false, false);
            if (st) return st;
            if (trace::on) [[unlikely]]
                trace::dispatch(trace::event::expr, &block, int32_t(c.pos), stack::s.base, nullptr);
        }
        if (stack::s.top == stack::s.base) stack::push(unset_cell());
    }
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::exit, &block, int32_t(c.end), stack::s.base, nullptr);
    if (chain)
        stack::unwind_last();
    else
        stack::unwind();
    return stack::ok;
}

Status eval_next_index(const Cell& block, uint32_t& next) {
    stack::mark_body(stack::kind_bits(stack::kind::native) | stack::bits::interp);
    Code c = code_of(block);
    if (!value_at(c, c.pos)) {
        stack::push(unset_cell());
    } else {
        Status st = eval_expression(c, false, false);
        if (st) return st;
    }
    next = c.pos;
    stack::unwind();
    return stack::ok;
}

Status call(const Cell& callable, const Cell* args, uint32_t count, uint32_t name_symbol) {
    Cell fn = callable;
    if (!is_callable(type_of(fn))) errors::fire(errors::id::invalid_arg, &fn);
    Cell* guard = stack::push(fn);
    Cell name = name_word(name_symbol ? name_symbol : stack::sym_anon);
    struct TracingOff {
        bool was = trace::on;
        TracingOff() { trace::on = false; }
        ~TracingOff() { trace::on = was; }
    } tracing_off;
    bool function = is(fn, Type::function) || is(fn, Type::routine);
    if (function)
        stack::mark_interp_func(name);
    else
        stack::mark_interp_native(name);
    Node cache = arity_cache(fn);
    int32_t refs[max_refinements];
    for (int r = 0; r < max_refinements; ++r) refs[r] = -1;
    uint32_t given = 0;
    bool active = true;
    int32_t local_count = 0;
    for (uint32_t i = 0; i < length(cache); ++i) {
        Cell e = cells(cache)[i];
        if (is(e, Type::typeset)) {
            if ((e.header & kind_mask) == kind_return) continue;
            if (!active) {
                if (function) stack::push(none_cell());
                continue;
            }
            Cell v = given < count ? args[given] : none_cell();
            ++given;
            if (!typeset::has(e, type_of(v))) expect_arg(fn, name, i, v);
            stack::push(v);
        } else if (is(e, Type::refinement)) {
            if (function) stack::push(logic_cell(false));
            active = false;
        } else if (is(e, Type::integer) && function) {
            local_count = int_of(e);
        }
    }
    Status st = stack::ok;
    switch (type_of(fn)) {
        case Type::native: {
            natives::Fn entry = natives::entry(int(callable_code(fn)));
            if (!entry) errors::fire(errors::id::not_done);
            st = entry(0, refs);
            break;
        }
        case Type::action: dispatch::entry(int(callable_code(fn)))(refs); break;
        case Type::routine: routines::exec(fn); break;
        default:
            if (local_count > 0) {
                stack::push(logic_cell(false));
                for (int32_t k = 1; k < local_count; ++k) stack::push(none_cell());
            }
            st = exec_function(fn, 0, name);
            break;
    }
    if (st) return st;
    stack::unwind();
    *guard = stack::s.top[-1];
    stack::s.top = guard + 1;
    return stack::ok;
}

// --- lexer callbacks --------------------------------------------------------------------

namespace {

const char* const lexer_event_words[] = {"prescan", "scan", "load", "open", "close", "error"};

Cell global_word_of(const char* name) {
    return context::add_global(symbol::make(name), false, false);
}

// The callback gets the event word, the input, the token's type, the line and
// the token; a moved input index moves the scan.
bool lexer_call(const Cell& callback, lexer::EventArgs& a) {
    static uint32_t sym_callback = symbol::make("<lexer-callback>");
    Cell* top = stack::s.top;
    Cell* args = stack::push(global_word_of(lexer_event_words[__builtin_ctz(uint32_t(a.event))]));
    stack::push(a.input);
    if (a.code > 0)
        stack::push(datatype_cell(Type(a.code)));
    else if (a.code == 0)
        stack::push(none_cell());
    else
        stack::push(global_word_of(lexer::exit_state_name(-1 - a.code)));
    stack::push(integer_cell(a.line));
    stack::push(a.token);
    Cell* guard = stack::s.top;
    Status st = call(callback, args, 5, sym_callback);
    stack::raise_status(st);
    Cell result = stack::s.top[-1];
    // The callback's input argument, after the guard and the event word.
    Cell input = guard[2];
    stack::s.top = top;
    if (type_of(input) == type_of(a.input) && series_node(input) == series_node(a.input)) a.input = input;
    return is_truthy(result);
}

uint32_t lexer_mask(const Cell& callback) {
    if (!is(callback, Type::function)) return lexer::all_events;
    Cell body = cells(callable_more(callback))[0];
    if (!is(body, Type::block) || series_index(body) >= length(series_node(body))) return lexer::all_events;
    Cell first = cells(series_node(body))[series_index(body)];
    if (!is(first, Type::block)) return lexer::all_events;
    uint32_t mask = 0;
    for (uint32_t i = series_index(first); i < length(series_node(first)); ++i) {
        Cell w = cells(series_node(first))[i];
        if (!is(w, Type::word)) continue;
        for (uint32_t k = 0; k < 6; ++k)
            if (symbol::resolve(word_symbol(w)) == symbol::resolve(symbol::make(lexer_event_words[k])))
                mask |= 1u << k;
    }
    return mask ? mask : lexer::all_events;
}

}  // namespace

void install_lexer_hooks() { lexer::set_callback_hooks(lexer::CallbackHooks{lexer_call, lexer_mask}); }

}  // namespace zan::interp
