// function! and routine!: making, the spec rules, the locals collector of
// `function`, reflection, form, mold and compare.
//
// The spec is always kept from its head, and the body is a deep copy bound
// to the function's own locals, so changing the block a function was made
// from never changes the function. Calls themselves are the interpreter's.
#include "datatypes/function.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/mold.h"
#include "datatypes/symbol.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::function {

namespace {

uint32_t canonical(const char* name) { return symbol::resolve(symbol::make(name)); }

Cell block_of(Node n) { return series_cell(Type::block, n, 0); }

bool is_arg_word(Type t) { return t == Type::word || t == Type::lit_word || t == Type::get_word; }
bool is_word_like(Type t) { return is_arg_word(t) || t == Type::set_word || t == Type::refinement; }

// The cells of a block from its head, copied out: the walkers below never
// allocate while they read them, except where they re-read by index.
std::vector<Cell> cells_from_head(const Cell& block) {
    std::vector<Cell> out;
    int32_t n = block::rs_length(block);
    out.reserve(size_t(n));
    for (int32_t i = 0; i < n; ++i)
        out.push_back(*block::rs_abs_at(block, int32_t(series_index(block)) + i));
    return out;
}

[[noreturn]] void bad_def(const Cell& spec) { errors::fire(error::ids::bad_func_def, &spec); }

void check_type_block(const Cell& types) {
    for (const Cell& entry : cells_from_head(types)) {
        Cell v = entry;
        if (is(entry, Type::word)) {
            const Cell* slot = context::get(entry);
            if (!slot || is(*slot, Type::unset)) errors::fire(errors::id::no_value, &entry);
            v = *slot;
        }
        Type t = type_of(v);
        if (t != Type::datatype && t != Type::typeset && t != Type::word)
            errors::fire(errors::id::invalid_type_spec, &entry);
    }
}

}  // namespace

void mark_more(Node& more) {
    if (!collector::mark_node(more)) return;
    memory::Series* s = memory::buffer(more);
    for (uint32_t i = 0, n = s->length(); i < n; ++i) {
        Cell& c = s->cells()[i];
        if (i == uint32_t(more::arity) && is(c, Type::block)) {
            collector::mark_node(c.w2);
            continue;
        }
        collector::mark_cell(c);
    }
}

Cell* more_at(const Cell& f, int index) { return memory::buffer(more_node(f))->cells() + index; }

uint32_t validate_spec(const Cell& spec_in) {
    Cell spec = spec_in;
    collector::Root keep(spec);
    std::vector<Cell> v = cells_from_head(spec);
    const uint32_t sym_local = canonical("local"), sym_return = canonical("return");
    uint32_t flags = 0;
    bool locals = false, seen_return = false;
    size_t i = 0, n = v.size();
    auto type_at = [&](size_t k) { return k < n ? type_of(v[k]) : Type::any; };

    if (n && is(v[0], Type::block)) {
        const uint32_t sym_trace = canonical("trace"), sym_no_trace = canonical("no-trace");
        for (const Cell& a : cells_from_head(v[0])) {
            if (!is(a, Type::word)) bad_def(spec);
            uint32_t s = symbol::resolve(word_symbol(a));
            if (s == sym_trace) flags |= attr::trace;
            if (s == sym_no_trace) flags |= attr::no_trace;
        }
        i = 1;
    }
    while (i < n) {
        const Cell& c = v[i];
        Type t = type_of(c);
        if (is_arg_word(t)) {
            if (locals && t != Type::word) bad_def(spec);
            if (seen_return && !locals) bad_def(spec);
            if (type_at(i + 1) == Type::string && type_at(i + 2) == Type::block) bad_def(spec);
            if (type_at(i + 1) == Type::block) {
                check_type_block(v[i + 1]);
                i += 2;
            } else {
                i += 1;
            }
        } else if (t == Type::string) {
            i += 1;
        } else if (t == Type::set_word) {
            if (symbol::resolve(word_symbol(c)) != sym_return || seen_return || locals) bad_def(spec);
            if (type_at(i + 1) != Type::block) bad_def(spec);
            Type after = type_at(i + 2);
            if (after != Type::any && after != Type::refinement && after != Type::string) bad_def(spec);
            seen_return = true;
            i += 2;
        } else if (t == Type::refinement) {
            if (symbol::resolve(word_symbol(c)) == sym_local) {
                locals = true;
            } else if (locals || seen_return) {
                bad_def(spec);
            }
            if (i + 1 < n && !is_word_like(type_at(i + 1)) && type_at(i + 1) != Type::string)
                bad_def(spec);
            i += 1;
        } else {
            bad_def(spec);
        }
    }
    // No two argument, refinement or local words with one canonical symbol.
    std::vector<uint32_t> seen;
    for (const Cell& c : v) {
        Type t = type_of(c);
        if (!is_arg_word(t) && t != Type::refinement) continue;
        uint32_t s = symbol::resolve(word_symbol(c));
        for (uint32_t other : seen)
            if (other == s) errors::fire(error::ids::dup_vars, &c);
        seen.push_back(s);
    }
    return flags;
}

int32_t count_locals(Node spec_node_, int32_t start, bool required) {
    Cell spec = block_of(spec_node_);
    const uint32_t sym_local = canonical("local");
    int32_t len = block::rs_length(spec);
    int32_t count = 0;
    bool found = false;
    for (int32_t i = start; i < len; ++i) {
        const Cell& c = *block::rs_abs_at(spec, i);
        if (!found) {
            if (is(c, Type::refinement) && symbol::resolve(word_symbol(c)) == sym_local) {
                found = true;
                count = 1;
            }
        } else if (is(c, Type::word)) {
            ++count;
        }
    }
    if (!found) return required ? -1 : 0;
    return count;
}

namespace {

bool in_list(const Cell& list, uint32_t symbol) {
    uint32_t s = symbol::resolve(symbol);
    int32_t len = block::rs_length(list);
    for (int32_t i = 0; i < len; ++i) {
        const Cell& c = *block::rs_abs_at(list, int32_t(series_index(list)) + i);
        if (is(c, Type::word) && symbol::resolve(word_symbol(c)) == s) return true;
    }
    return false;
}

struct Collector {
    Cell result, ignore;
    uint32_t sym_foreach, sym_remove_each, sym_repeat;

    void collect(const Cell& word) {
        if (in_list(ignore, word_symbol(word))) return;
        Cell w = word;
        set_type(w, Type::word);
        clear_newline(w);
        block::rs_append(result, w);
        block::rs_append(ignore, w);
    }
    void collect_loop_word(const Cell& v) {
        Type t = type_of(v);
        if (t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word) {
            collect(v);
        } else if (t == Type::block) {
            for (const Cell& c : cells_from_head(v)) {
                Type ct = type_of(c);
                if (ct == Type::word || ct == Type::get_word || ct == Type::lit_word) collect(c);
            }
        }
    }
    std::vector<Node> walked;  // a block met again (a cycle) is not walked twice

    void walk(const Cell& body_in) {
        for (Node n : walked)
            if (n == series_node(body_in)) return;
        walked.push_back(series_node(body_in));
        Cell body = body_in;
        collector::Root keep(body);
        std::vector<Cell> v = cells_from_head(body);
        for (size_t i = 0; i < v.size(); ++i) {
            Type t = type_of(v[i]);
            if (t == Type::set_word) {
                collect(v[i]);
            } else if (t == Type::word) {
                uint32_t s = symbol::resolve(word_symbol(v[i]));
                if ((s == sym_foreach || s == sym_remove_each || s == sym_repeat) && i + 1 < v.size())
                    collect_loop_word(v[i + 1]);
            } else if (t == Type::block || t == Type::paren) {
                Cell inner = v[i];
                collector::Root keep_inner(inner);
                walk(inner);
            }
        }
    }
};

}  // namespace

Cell collect_words(const Cell& spec_in, const Cell& body_in) {
    Cell spec = spec_in, body = body_in;
    collector::Root keep_spec(spec), keep_body(body);
    Collector c{};
    collector::Root keep_result(c.result), keep_ignore(c.ignore);
    block::make_at(c.result, 8);
    c.ignore = block::clone(spec, false, false);
    c.sym_foreach = canonical("foreach");
    c.sym_remove_each = canonical("remove-each");
    c.sym_repeat = canonical("repeat");
    const uint32_t sym_local = canonical("local"), sym_extern = canonical("extern");

    std::vector<Cell> v = cells_from_head(spec);
    int32_t head = int32_t(series_index(spec));
    bool has_extern = false;
    for (size_t i = 0; i < v.size(); ++i) {
        if (!is(v[i], Type::refinement) || symbol::resolve(word_symbol(v[i])) != sym_extern) continue;
        has_extern = true;
        size_t k = i + 1;
        while (k < v.size() && is(v[k], Type::word)) ++k;
        if (k < v.size() && is(v[k], Type::refinement) && symbol::resolve(word_symbol(v[k])) == sym_local) {
            for (++k; k < v.size() && is(v[k], Type::word); ++k) block::rs_append(c.result, v[k]);
        }
        block::rs_truncate(spec, head + int32_t(i));
        break;
    }

    int32_t len = block::rs_length(c.ignore);
    for (int32_t i = 0; i < len; ++i) {
        Cell* e = block::rs_abs_at(c.ignore, i);
        Type t = type_of(*e);
        if (t == Type::set_word || t == Type::lit_word || t == Type::get_word || t == Type::refinement) {
            set_type(*e, Type::word);
        } else if (t != Type::word && t != Type::block && t != Type::string && has_extern) {
            Cell bad = *e;
            errors::fire(error::ids::bad_func_extern, &bad);
        }
    }

    c.walk(body);

    if (block::rs_length(c.result) > 0) {
        bool has_local = false;
        for (const Cell& s : cells_from_head(spec))
            if (is(s, Type::refinement) && symbol::resolve(word_symbol(s)) == sym_local) has_local = true;
        if (!has_local) {
            Cell local = make_cell(Type::refinement, 0, symbol::make("local"), uint32_t(-1));
            block::rs_append(spec, local);
        }
        // The word `local` never becomes a local of its own.
        int32_t kept = 0, len = block::rs_length(c.result);
        for (int32_t i = 0; i < len; ++i) {
            Cell w = *block::rs_abs_at(c.result, i);
            if (symbol::resolve(word_symbol(w)) != sym_local) *block::rs_abs_at(c.result, kept++) = w;
        }
        block::rs_truncate(c.result, kept);
        block::rs_append_block(spec, c.result);
    }
    return c.result;
}

Cell push(const Cell& spec_in, const Cell& body_in, Node context, int32_t code, Node owner,
                uint32_t flags) {
    Cell spec = spec_in, body = body_in;
    collector::Root keep_spec(spec), keep_body(body);
    if (series_index(spec) != 0) spec = block::clone(spec, false, false);
    block::rs_head(spec);
    if (is(body, Type::block)) block::rs_head(body);

    Node more = memory::alloc_cells(more::size);
    collector::NodeRoot keep_more(more);
    {
        memory::Series* b = memory::buffer(more);
        for (int i = 0; i < more::size; ++i) b->cells()[i] = unset_cell();
        b->tail = b->head + more::size * sizeof(Cell);
    }
    bool own_context = context == 0;
    if (own_context) context = context::make_from_spec(spec, true, false, context::Kind::locals);
    collector::NodeRoot keep_ctx(context, collector::NodeRoot::As::context);

    Cell fn = make_cell(Type::function, context, series_node(spec), more);
    fn.header |= flags;
    collector::Root keep_fn(fn);
    context::owner(context) = fn;

    Cell copy = none_cell();
    collector::Root keep_copy(copy);
    if (is(body, Type::block)) copy = block::clone(body, true, true);
    Cell* m = memory::buffer(more)->cells();
    m[more::body] = copy;
    if (code) m[more::code] = integer_cell(code);
    if (owner) m[more::owner] = integer_cell(int32_t(owner));
    if (own_context && is(copy, Type::block)) context::bind(copy, context, false);
    return fn;
}

void init_locals(int32_t n) {
    if (n < 1) return;
    stack::push(logic_cell(false));
    for (int32_t i = 1; i < n; ++i) stack::push(none_cell());
}

void make(actions::Args args, Type) {
    Cell value = args[1];
    if (!is(value, Type::block) || block::rs_length(value) < 2) bad_def(value);
    Cell spec = block::rs_head(value)[0];
    Cell body = block::rs_head(value)[1];
    if (!is(spec, Type::block) || !is(body, Type::block)) bad_def(value);
    collector::Root keep_spec(spec), keep_body(body);
    uint32_t flags = validate_spec(spec);
    args[0] = push(spec, body, 0, 0, 0, flags);
}

void reflect(actions::Args args, uint32_t field_symbol) {
    Cell f = args[0];
    collector::Root keep(f);
    uint32_t field = symbol::resolve(field_symbol);
    if (field == canonical("spec")) {
        args[0] = block_of(spec_node(f));
    } else if (field == canonical("body")) {
        Cell body = *more_at(f, more::body);
        args[0] = is(body, Type::block) ? block::clone(body, true, true) : body;
    } else if (field == canonical("words")) {
        Node ctx = context_node(f);
        Cell words = block::clone(block_of(context::words(ctx)), false, false);
        int32_t len = block::rs_length(words);
        for (int32_t i = 0; i < len; ++i) {
            Cell* w = block::rs_abs_at(words, i);
            w->w1 = ctx;
            w->w3 = uint32_t(i);
        }
        args[0] = words;
    } else {
        errors::fire(errors::id::not_done);
    }
}

int32_t form(const Cell&, Node buffer, bool, int32_t budget) {
    return mold::append(buffer, "?function?", budget);
}

namespace detail {
int32_t mold_callable(const char* lead, const Cell& value, Node buffer, actions::MoldFlags flags,
                      bool part, int32_t budget, int32_t indent) {
    Cell f = value;
    collector::Root keep(f);
    actions::MoldFlags inner = flags;
    inner.only = false;
    budget = mold::append(buffer, lead, budget);
    Cell spec = block_of(spec_node(f));
    collector::Root keep_spec(spec);
    budget = mold::mold_value(spec, buffer, inner, part, budget, indent);
    Cell body = *more_at(f, more::body);
    collector::Root keep_body(body);
    budget = mold::append(buffer, " ", budget);
    return mold::mold_value(body, buffer, inner, part, budget, indent);
}

int32_t compare_nodes(const Cell& a, const Cell& b, int32_t op) {
    if (type_of(a) != type_of(b) || !logic::equality_or_sort(op)) return -2;
    int32_t x = int32_t(more_node(a)), y = int32_t(more_node(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

void mark_function_cell(Cell& c) {
    if (c.w1) collector::mark_context(c.w1);
    if (c.w2) collector::mark_series(c.w2);
    if (c.w3) mark_more(c.w3);
}
}  // namespace detail
using detail::compare_nodes;
using detail::mark_function_cell;
using detail::mold_callable;

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    return mold_callable("func ", value, buffer, flags, part, budget, indent);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) { return compare_nodes(a, b, op); }

void init() {
    actions::Row f;
    f.make = make;
    f.reflect = reflect;
    f.form = form;
    f.mold = mold;
    f.compare = compare;
    datatype::register_type(Type::function, Type::context, "function!", f);
    collector::set_cell_marker(Type::function, mark_function_cell);
}

}  // namespace zan::function

namespace zan::routine {

using function::more_node;
using function::spec_node;
namespace more = function::more;
namespace attr = function::attr;

namespace {
Cell block_of(Node n) { return series_cell(Type::block, n, 0); }
}  // namespace

Cell push(const Cell& spec_in, const Cell& body_in, int32_t code, int32_t extra, bool flag) {
    Cell spec = spec_in, body = body_in;
    collector::Root keep_spec(spec), keep_body(body);
    if (series_index(spec) != 0) spec = block::clone(spec, false, false);
    Node context = context::make_from_spec(spec, true, false, context::Kind::locals);
    collector::NodeRoot keep_ctx(context, collector::NodeRoot::As::context);
    Node more = memory::alloc_cells(more::size);
    memory::Series* b = memory::buffer(more);
    Cell* m = b->cells();
    for (int i = 0; i < more::size; ++i) m[i] = unset_cell();
    b->tail = b->head + more::size * sizeof(Cell);
    m[more::body] = is(body, Type::block) ? body : none_cell();
    m[more::code] = integer_cell(code);
    m[more::owner] = integer_cell(extra);
    Cell r = make_cell(Type::routine, context, series_node(spec), more);
    if (flag) r.header |= attr::routine_flag;
    set_arity(r);
    context::owner(context) = r;
    return r;
}

void set_arity(Cell& routine) {
    Cell spec = block_of(spec_node(routine));
    uint32_t n = 0;
    int32_t len = block::rs_length(spec);
    for (int32_t i = 0; i < len; ++i)
        if (is(*block::rs_abs_at(spec, i), Type::word)) ++n;
    routine.header = (routine.header & ~attr::arity_mask) | ((n << attr::arity_shift) & attr::arity_mask);
}

int32_t form(const Cell&, Node buffer, bool, int32_t budget) {
    return mold::append(buffer, "?routine?", budget);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    return function::detail::mold_callable("routine ", value, buffer, flags, part, budget, indent);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    return function::detail::compare_nodes(a, b, op);
}

// Routines come only with the boot image, bound to their C++ code: a script
// cannot make one, as `routine` cannot.
void make(actions::Args, Type) {
    static const int id = error::catalog::find_id(int(errors::Category::internal), "routines");
    errors::fire(errors::Id{errors::Category::internal, uint8_t(id + 2)});
}

void init() {
    actions::Row r;
    r.make = make;
    r.reflect = actions::SlotValue<actions::Fn_reflect>::inherited();
    r.form = form;
    r.mold = mold;
    r.compare = compare;
    datatype::register_type(Type::routine, Type::function, "routine!", r);
    collector::set_cell_marker(Type::routine, function::detail::mark_function_cell);
}

}  // namespace zan::routine
