// Path evaluation: a walk over a path's items through the eval-path slot of
// each value met, ending in a value, an assignment or a call.
//
// The current value, its parent and the item being applied live in value
// stack slots during the walk, so a collection moving buffers cannot lose
// them; the walk gives the slots back before it pushes its result.
#include "datatypes/context.h"
#include "datatypes/series_services.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::interp {

namespace {

bool callable(Type t) {
    return t == Type::native || t == Type::action || t == Type::function || t == Type::routine;
}

bool block_like(Type t) {
    return t == Type::block || t == Type::paren || t == Type::hash || t == Type::path ||
           t == Type::lit_path || t == Type::set_path || t == Type::get_path;
}

// Values held whole in their cell: a path set changes the cell its eval-path
// step was given, which then goes back where the value came from.
bool held_in_cell(Type t) {
    switch (t) {
    case Type::time: case Type::pair: case Type::tuple: case Type::date: case Type::money:
    case Type::point2d: case Type::point3d: case Type::event: return true;
    default: return false;
    }
}

}  // namespace

Status eval_path(const Cell& path_value, Code* c, bool set, bool get, const Cell* value, Cell* resume,
                 bool case_sensitive) {
    bool resuming = resume && resume[0].w1 != 0;
    Cell paren_value = resuming ? stack::s.top[-1] : none_cell();
    if (resume) stack::s.top = resume + 3;
    Cell* mark = stack::s.top;
    // Slots: 0 the path, 1 the current value, 2 the parent, 3 the item, 4 the value to set.
    Cell* w = stack::push(path_value);
    stack::push(none_cell());
    stack::push(none_cell());
    stack::push(none_cell());
    stack::push(value ? *value : none_cell());
    Cell& path = w[0];
    Cell& cur = w[1];
    Cell& parent = w[2];
    Cell& item = w[3];

    Node pn = series_node(path);
    auto len = [&] {
        memory::Series* s = memory::buffer(pn);
        uint32_t n = (s->tail - s->head) / sizeof(Cell);
        return n > series_index(path) ? n - series_index(path) : 0u;
    };
    auto at = [&](uint32_t i) { return memory::buffer(pn)->cells()[series_index(path) + i]; };

    if (len() == 0) errors::fire(errors::id::empty_path, &path);
    if (trace::on && !resuming) [[unlikely]]
        trace::dispatch(trace::event::enter, &path, 0, nullptr, nullptr);
    Cell head = at(0);
    uint32_t start = 1;
    // Where the current value lies, for a resume record.
    uint32_t kind = resume_kind::head, where = 0;
    if (resuming) {
        start = resume[0].w1 - 1;
        kind = resume[0].w2;
        where = resume[0].w3;
        resume[0].w1 = 0;
        parent = resume[2];
        if (kind == resume_kind::head) {
            cur = *context::get(head);
        } else if (kind == resume_kind::on_stack) {
            cur = *stack::slot_at(where);
        } else if (kind == resume_kind::element && block_like(type_of(parent)) &&
                   where < memory::buffer(series_node(parent))->length()) {
            cur = memory::buffer(series_node(parent))->cells()[where];
        } else {
            cur = resume[1];
        }
        if (is(parent, Type::unset)) parent = none_cell();
        goto walk;
    }
    if (!is(head, Type::word)) errors::fire(errors::id::word_first, &path);
    cur = *context::get(head);
    if (callable(type_of(cur))) {
        if (set) errors::fire(errors::id::invalid_path_set, &path);
        if (get) errors::fire(errors::id::invalid_path_get, &path);
        Cell fn = cur;
        Cell p = path;
        stack::s.top = mark;
        Status st = invoke(fn, c, head, &p, series_index(p) + 1, nullptr, mode::word, false);
        if (st) return st;
        if (trace::on) [[unlikely]]
            trace::dispatch(trace::event::exit, &p, -1, stack::s.top - 1, nullptr);
        return stack::ok;
    }
    if (is(cur, Type::unset)) errors::fire(errors::id::unset_path, &path, &head);

walk:
    Cell previous = start > 0 ? at(start - 1) : head;
    Cell reached_by = previous;  // the previous item as applied
    collector::Root keep_reached_by(reached_by);
    for (uint32_t i = start; i < len(); ++i) {
        item = at(i);
        if (trace::on) [[unlikely]]
            trace::dispatch(trace::event::fetch, &path, int32_t(i), &item, nullptr);
        if (resuming && i == start && is(item, Type::paren)) {
            item = paren_value;  // evaluated by the caller
        } else if (is(item, Type::paren) && resume) {
            resume[0] = make_cell(Type::integer, i + 1, kind, where);
            resume[1] = cur;
            resume[2] = is(parent, Type::none) ? unset_cell() : parent;
            stack::s.top = resume + 3;
            return stack::ok;
        } else if (is(item, Type::get_word)) {
            item = *context::get(item);
        } else if (is(item, Type::paren)) {
            Status st = eval_block(item, false);
            if (st) return st;
            item = stack::s.top[-1];
            --stack::s.top;
        }
        if (is(item, Type::unset)) errors::fire(errors::id::invalid_path, &path, &item);
        bool last = i + 1 == len();
        bool setting = set && last;
        bool notify = setting && ((len() >= 3 && is(parent, Type::object)) || block_like(type_of(cur)));
        actions::PathStep step{&item,     setting ? &w[4] : nullptr,
                               &path,     is(parent, Type::none) ? nullptr : &parent,
                               &previous, int32_t(i),
                               case_sensitive, get,
                               last,      notify};
        Cell result = none_cell();
        dispatch::eval_path(result, cur, step);
        if (setting && held_in_cell(type_of(cur))) {
            // Store the changed value through the step that reached it: the
            // head word, or a set on the parent (which tells its owner).
            if (i == 1) {
                Cell word = head;
                context::set(word, cur);
            } else if ((is(parent, Type::block) || is(parent, Type::paren)) &&
                       is(reached_by, Type::integer) && int_of(reached_by) >= 1 &&
                       series_index(parent) + uint32_t(int_of(reached_by)) <=
                           memory::buffer(series_node(parent))->length()) {
                // In place in its block; the owner hears of a set-path.
                int32_t at = int32_t(series_index(parent)) + int_of(reached_by) - 1;
                Cell& slot = memory::buffer(series_node(parent))->cells()[at];
                bool line_break = newline_before(slot);
                slot = cur;
                if (line_break) set_flag(slot, header::newline);
                else clear_newline(slot);
                series::services::ownership_check(parent, "set-path", at, 1);
            } else {
                Cell where = reached_by;
                actions::PathStep back{&where, &cur, &path, nullptr, nullptr, int32_t(i - 1),
                                       false, false, false, notify};
                Cell ignored = none_cell();
                dispatch::eval_path(ignored, parent, back);
            }
        }
        if (!set && !get && callable(type_of(result))) {
            Cell fn = result;
            Cell owner = cur;
            Cell name = at(i);
            Cell p = path;
            stack::s.top = mark;
            stack::push(owner);  // keeps the owner alive during the call
            Status st = invoke(fn, c, name, &p, series_index(p) + i + 1, &stack::s.top[-1], mode::word, false);
            if (st) return st;
            stack::s.top[-2] = stack::s.top[-1];
            --stack::s.top;
            return stack::ok;
        }
        previous = at(i);
        reached_by = item;
        // A block-like parent picked by an integer: the value is its element.
        if (block_like(type_of(cur)) && is(item, Type::integer) && int_of(item) >= 1) {
            kind = resume_kind::element;
            where = series_index(cur) + uint32_t(int_of(item) - 1);
        } else {
            kind = resume_kind::copy;
        }
        parent = cur;
        cur = result;
    }
    Cell result = cur;
    if (trace::on) [[unlikely]]
        trace::dispatch(trace::event::exit, &path, -1, &result, nullptr);
    stack::s.top = mark;
    stack::push(result);
    return stack::ok;
}

}  // namespace zan::interp
