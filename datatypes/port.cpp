// port! actions: make from a spec and a registered scheme, mold, and the
// forwarding of every series and I/O action to the port's actor.
//
// Forwarding lays the arguments out as the actor's function takes them: the
// port first, then each argument of the action in spec order, a refinement
// as a logic! followed by its arguments. The values are kept in a block while
// the call runs, so the collector sees them.
#include "datatypes/port.h"

#include <initializer_list>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/handle.h"
#include "datatypes/mold.h"
#include "datatypes/object.h"
#include "datatypes/string_actions.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::port {

namespace {

constexpr errors::Id no_scheme{errors::Category::access, 7};
constexpr errors::Id unknown_scheme{errors::Category::access, 8};
constexpr errors::Id invalid_port{errors::Category::access, 10};
constexpr errors::Id invalid_actor{errors::Category::access, 11};

std::vector<NativeTable>& native_tables() {
    static std::vector<NativeTable> tables;
    return tables;
}

Cell word(const char* name) { return string::word_of(name); }

// A field of the global `system` object by path, or none.
Cell system_field(std::initializer_list<const char*> path) {
    Cell* at = context::get_by_symbol(symbol::make("system"), context::global());
    for (const char* name : path) {
        if (!at || !is(*at, Type::object)) return none_cell();
        at = context::get_by_symbol(symbol::make(name), object::context_node(*at));
    }
    return at ? *at : none_cell();
}

Cell field(const Cell& object, const char* name) { return object::select_word(object, word(name)); }

void set_slot(const Cell& object, const char* name, const Cell& value) {
    Node ctx = object::context_node(object);
    int32_t i = context::find_word(ctx, symbol::make(name), true);
    if (i >= 0) *context::value_at(ctx, i) = value;
}

Cell flag(bool on) { return logic_cell(on); }
Cell opt(const Cell* c) { return c ? *c : none_cell(); }

// Calls the actor's function named by the action with the port and the
// values; answers its result.
Cell call_actor(const Cell& port, const char* action, std::initializer_list<Cell> values) {
    Cell actor = get_actor(port);
    Cell held;
    block::make_at(held, int32_t(values.size()) + 2);
    collector::Root keep(held);
    block::rs_append(held, port);
    for (const Cell& v : values) block::rs_append(held, v);
    collector::Root keep_actor(actor);
    uint32_t sym = symbol::make(action);
    Cell fn = object::select_word(actor, make_cell(Type::word, 0, sym, uint32_t(-1)));
    if (!is(fn, Type::function)) errors::fire(errors::id::no_port_action);
    memory::Pin pin(series_node(held));
    Cell* base = stack::s.top;
    stack::raise_status(interp::call(fn, memory::buffer(series_node(held))->cells(),
                                     uint32_t(block::rs_length(held)), sym));
    Cell result = stack::s.top[-1];
    stack::s.top = base;
    return result;
}

// The native table of a port whose actor is a handle!, or null.
NativeTable table_of(const Cell& port) {
    Cell actor = field(port, "actor");
    if (!is(actor, Type::handle)) return nullptr;
    uint32_t i = actor.w2;
    auto& tables = native_tables();
    if (i >= tables.size()) errors::fire(invalid_port);
    return tables[i];
}

// --- the forwarded actions -----------------------------------------------------------

void f_append(Args a, const Cell* part, bool only, const Cell* dup) {
    a[0] = call_actor(a[0], "append", {a[1], flag(part), opt(part), flag(only), flag(dup), opt(dup)});
}
void f_insert(Args a, const Cell* part, bool only, const Cell* dup) {
    a[0] = call_actor(a[0], "insert", {a[1], flag(part), opt(part), flag(only), flag(dup), opt(dup)});
}
void f_change(Args a, const Cell* part, bool only, const Cell* dup) {
    a[0] = call_actor(a[0], "change", {a[1], flag(part), opt(part), flag(only), flag(dup), opt(dup)});
}
void f_at(Args a) { a[0] = call_actor(a[0], "at", {a[1]}); }
void f_skip(Args a) { a[0] = call_actor(a[0], "skip", {a[1]}); }
void f_pick(Args a, int32_t i) { a[0] = call_actor(a[0], "pick", {integer_cell(i)}); }
void f_poke(Args a, int32_t i) { a[0] = call_actor(a[0], "poke", {integer_cell(i), a[2]}); }
void f_back(Args a) { a[0] = call_actor(a[0], "back", {}); }
void f_clear(Args a) { a[0] = call_actor(a[0], "clear", {}); }
void f_head(Args a) { a[0] = call_actor(a[0], "head", {}); }
void f_head_q(Args a) { a[0] = call_actor(a[0], "head?", {}); }
void f_index_q(Args a) { a[0] = call_actor(a[0], "index?", {}); }
void f_next(Args a) { a[0] = call_actor(a[0], "next", {}); }
void f_tail(Args a) { a[0] = call_actor(a[0], "tail", {}); }
void f_tail_q(Args a) { a[0] = call_actor(a[0], "tail?", {}); }
void f_create(Args a) { a[0] = call_actor(a[0], "create", {}); }
void f_close(Args a) { a[0] = call_actor(a[0], "close", {}); }
void f_delete(Args a) { a[0] = call_actor(a[0], "delete", {}); }
void f_query(Args a) { a[0] = call_actor(a[0], "query", {}); }
void f_update(Args a) { a[0] = call_actor(a[0], "update", {}); }
int32_t f_length_q(const Cell& port) {
    Cell p = port;
    collector::Root keep(p);
    Cell r = call_actor(p, "length?", {});
    return is(r, Type::integer) ? int_of(r) : 0;
}

void f_find(Args a, const actions::FindRefs& r) {
    a[0] = call_actor(a[0], "find",
                      {a[1], flag(r.part), opt(r.part), flag(r.only), flag(r.case_), flag(r.same),
                       flag(r.any), flag(r.with), opt(r.with), flag(r.skip), opt(r.skip), flag(r.last),
                       flag(r.reverse), flag(r.tail), flag(r.match)});
}
void f_select(Args a, const actions::FindRefs& r) {
    a[0] = call_actor(a[0], "select",
                      {a[1], flag(r.part), opt(r.part), flag(r.only), flag(r.case_), flag(r.same),
                       flag(r.any), flag(r.with), opt(r.with), flag(r.skip), opt(r.skip), flag(r.last),
                       flag(r.reverse)});
}
void f_move(Args a, const Cell* part) { a[0] = call_actor(a[0], "move", {a[1], flag(part), opt(part)}); }
void f_copy(Args a, const Cell* part, bool deep, const Cell* types) {
    a[0] = call_actor(a[0], "copy", {flag(part), opt(part), flag(deep), flag(types), opt(types)});
}
void f_modify(Args a, bool case_) { a[0] = call_actor(a[0], "modify", {a[1], a[2], flag(case_)}); }
void f_open(Args a, const actions::OpenRefs& r) {
    a[0] = call_actor(a[0], "open", {flag(r.new_), flag(r.read), flag(r.write), flag(r.seek), opt(r.allow)});
}
void f_put(Args a, bool case_) { a[0] = call_actor(a[0], "put", {a[1], a[2], flag(case_)}); }
void f_remove(Args a, const Cell* part, const Cell*) {
    a[0] = call_actor(a[0], "remove", {flag(part), opt(part)});
}
void f_reverse(Args a, const Cell* part, const Cell*) {
    a[0] = call_actor(a[0], "reverse", {flag(part), opt(part)});
}
void f_rename(Args a) { a[0] = call_actor(a[0], "rename", {a[1]}); }
void f_sort(Args a, const actions::SortRefs& r) {
    a[0] = call_actor(a[0], "sort",
                      {flag(r.case_), flag(r.skip), opt(r.skip), flag(r.compare), opt(r.compare),
                       flag(r.part), opt(r.part), flag(r.all), flag(r.reverse), flag(r.stable)});
}
void f_swap(Args a) { a[0] = call_actor(a[0], "swap", {a[1]}); }
void f_take(Args a, const Cell* part, bool deep, bool last) {
    a[0] = call_actor(a[0], "take", {flag(part), opt(part), flag(deep), flag(last)});
}
void f_trim(Args a, const actions::TrimRefs& r) {
    a[0] = call_actor(a[0], "trim", {flag(r.head), flag(r.tail), flag(r.auto_), flag(r.lines), flag(r.all),
                                     flag(r.with), opt(r.with)});
}

// read: open, copy, close; the answer is copy's.
void f_read(Args a, const actions::ReadRefs& r) {
    Cell port = a[0];
    collector::Root keep(port);
    call_actor(port, "open", {flag(false), flag(false), flag(false), flag(r.seek), none_cell()});
    Cell data = call_actor(port, "copy", {flag(r.part), opt(r.part), flag(false), flag(false), none_cell()});
    collector::Root keep_data(data);
    call_actor(port, "close", {});
    a[0] = data;
}

// write: open/write, insert of the data, copy, close; the answer is copy's.
void f_write(Args a, const actions::WriteRefs& r) {
    Cell port = a[0], value = a[1];
    collector::Root k0(port), k1(value);
    call_actor(port, "open", {flag(false), flag(false), flag(true), flag(r.seek), none_cell()});
    bool part = r.part && is(*r.part, Type::integer);
    call_actor(port, "insert", {value, flag(part), part ? *r.part : none_cell(), flag(false), flag(false),
                                none_cell()});
    Cell data = call_actor(port, "copy", {flag(false), none_cell(), flag(false), flag(false), none_cell()});
    collector::Root keep_data(data);
    call_actor(port, "close", {});
    a[0] = data;
}

void mark_port_cell(Cell& c) {
    if (c.w1) collector::mark_context(c.w1);
    if (c.w3) collector::mark_series(c.w3);
}

}  // namespace

Cell register_native_actor(NativeTable table) {
    auto& tables = native_tables();
    tables.push_back(table);
    return handle::make_cell_of(uint32_t(tables.size() - 1), handle::null);
}

Cell get_actor(const Cell& port) {
    Cell actor = field(port, "actor");
    if (!is(actor, Type::object)) errors::fire(invalid_port);
    return actor;
}

void make(Args args, Type) {
    Cell spec = args[1];
    collector::Root keep_spec(spec);
    Cell spec_object = spec;
    collector::Root keep_object(spec_object);
    if (!is(spec, Type::object)) {
        Cell parts = system_field({"standard", "url-parts"});
        if (!is(parts, Type::object)) errors::fire(no_scheme, &spec);
        Cell tmp[2] = {parts, spec};
        collector::Root r0(tmp[0]), r1(tmp[1]);
        if (is(spec, Type::block)) {
            object::make(tmp, Type::object);
        } else {
            tmp[0] = object::copy_from(parts, false, nullptr, true);
        }
        spec_object = tmp[0];
        spec_object.w2 = 0;
    }
    Cell scheme_word = field(spec_object, "scheme");
    if (!is(scheme_word, Type::word)) errors::fire(no_scheme, &spec);
    Cell proto = system_field({"standard", "port"});
    if (!is(proto, Type::object)) errors::fire(unknown_scheme, &spec);
    Cell port = object::copy_from(proto, false, nullptr, true);
    collector::Root keep_port(port);
    set_type(port, Type::port);
    port.w2 = class_id;
    context::owner(object::context_node(port)) = port;
    Cell schemes = system_field({"schemes"});
    Cell scheme = is(schemes, Type::block) ? block::rs_select(schemes, scheme_word) : none_cell();
    if (!is(scheme, Type::object)) errors::fire(unknown_scheme, &spec);
    Cell actor = field(scheme, "actor");
    if (!is(actor, Type::object) && !is(actor, Type::handle)) errors::fire(invalid_actor);
    set_slot(port, "spec", spec_object);
    set_slot(port, "scheme", scheme_word);
    set_slot(port, "actor", actor);
    args[0] = port;
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    if (mold::cycle_find(object::context_node(value))) return mold::append(buffer, "make port! [...]", budget);
    mold::CycleScope scope(object::context_node(value));
    budget = mold::append(buffer, "make port! [", budget);
    int32_t before = budget;
    actions::MoldFlags inner = flags;
    inner.only = false;
    budget = object::mold_fields(value, buffer, inner, part, budget, indent + 1);
    if (!flags.flat && budget != before) {
        budget = mold::append(buffer, "\n", budget);
        budget = mold::indent(buffer, indent, budget);
    }
    return mold::append(buffer, "]", budget);
}

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    return mold(value, buffer, {}, part, budget, 0);
}

#define ZAN_INHERIT(slot) row.slot = decltype(row.slot)::inherited()

void init() {
    actions::Row row;
    row.make = &make;
    ZAN_INHERIT(reflect);
    row.form = &form;
    row.mold = &mold;
    ZAN_INHERIT(eval_path);
    ZAN_INHERIT(compare);
    row.append = &f_append;
    row.at = &f_at;
    row.back = &f_back;
    row.change = &f_change;
    row.clear = &f_clear;
    row.copy = &f_copy;
    row.find = &f_find;
    row.head = &f_head;
    row.head_q = &f_head_q;
    row.index_q = &f_index_q;
    row.insert = &f_insert;
    row.length_q = &f_length_q;
    row.move = &f_move;
    row.next = &f_next;
    row.pick = &f_pick;
    row.poke = &f_poke;
    row.put = &f_put;
    row.remove = &f_remove;
    row.reverse = &f_reverse;
    row.select = &f_select;
    row.sort = &f_sort;
    row.skip = &f_skip;
    row.swap = &f_swap;
    row.tail = &f_tail;
    row.tail_q = &f_tail_q;
    row.take = &f_take;
    row.trim = &f_trim;
    row.create = &f_create;
    row.close = &f_close;
    row.delete_ = &f_delete;
    row.modify = &f_modify;
    row.open = &f_open;
    row.query = &f_query;
    row.read = &f_read;
    row.rename = &f_rename;
    row.update = &f_update;
    row.write = &f_write;
    datatype::register_type(Type::port, Type::object, "port!", row);
    collector::set_cell_marker(Type::port, mark_port_cell);
    dispatch::set_port_table(&table_of);
}

#undef ZAN_INHERIT

}  // namespace zan::port
