// Raising script errors.
//
// The pending error is its id, its arguments (kept in static cells) and the
// error! value the installed builder made of them. The builder must not
// allocate for no-memory, which the memory manager itself raises when pages
// run out.
#include "runtime/errors.h"

#include <utility>

#include "runtime/collector.h"
#include "runtime/unwind.h"

namespace zan::errors {

namespace {
Id pending_id_ = id::not_done;
Cell pending_value_;
Cell pending_args_[3];

CallWordFn call_word_provider = nullptr;
Builder builder = nullptr;
ArgWordFn arg_word_provider = nullptr;
RaiseHook trace_hook = nullptr;
RaiseHook locate_hook = nullptr;

// The arguments may hold series (a string that could not be converted).
void mark_pending() {
    collector::mark_cell(pending_value_);
    collector::mark_cells(pending_args_, pending_args_ + 3);
}
}  // namespace

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    collector::register_marker(mark_pending);
}

void fire(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    pending_id_ = id;
    pending_args_[0] = arg1 ? *arg1 : unset_cell();
    pending_args_[1] = arg2 ? *arg2 : unset_cell();
    pending_args_[2] = arg3 ? *arg3 : unset_cell();
    if (builder) {
        auto given = [](const Cell* arg, const Cell& copy) { return arg ? &copy : nullptr; };
        pending_value_ = builder(id, given(arg1, pending_args_[0]), given(arg2, pending_args_[1]),
                                 given(arg3, pending_args_[2]));
    } else {
        pending_value_ = arg1 ? *arg1 : none_cell();
    }
    if (trace_hook || locate_hook) {
        Cell error = pending_value_;
        collector::Root keep(error);
        if (trace_hook) trace_hook(error);
        if (locate_hook) locate_hook(error);
    }
    throw unwind::Thrown{unwind::error};
}

void raise(Id id, const Cell& error) {
    restore_pending(id, error);
    if (locate_hook) {
        Cell e = error;
        collector::Root keep(e);
        locate_hook(e);
    }
    throw unwind::Thrown{unwind::error};
}

const Cell& pending() { return pending_value_; }
Id pending_id() { return pending_id_; }

const Cell& pending_arg(int n) {
    static const Cell unset = unset_cell();
    return n >= 1 && n <= 3 ? pending_args_[n - 1] : unset;
}

void set_builder(Builder b) { builder = b; }

void restore_pending(Id id, const Cell& value) {
    pending_id_ = id;
    pending_value_ = value;
}

Pending save_pending() {
    Pending p{pending_id_, pending_value_, {pending_args_[0], pending_args_[1], pending_args_[2]}};
    pending_value_ = none_cell();
    for (Cell& a : pending_args_) a = unset_cell();
    return p;
}

void restore_pending(const Pending& p) {
    pending_id_ = p.id;
    pending_value_ = p.value;
    for (int i = 0; i < 3; ++i) pending_args_[i] = p.args[i];
}

RaiseHook set_trace_hook(RaiseHook trace) { return std::exchange(trace_hook, trace); }
RaiseHook set_locate_hook(RaiseHook locate) { return std::exchange(locate_hook, locate); }

void set_call_word_provider(CallWordFn fn) { call_word_provider = fn; }
void set_arg_word_provider(ArgWordFn fn) { arg_word_provider = fn; }

Cell call_word() { return call_word_provider ? call_word_provider() : none_cell(); }

void expect_arg(const Cell& value, int position) {
    Cell word = call_word();
    Cell type = datatype_cell(type_of(value));
    Cell arg = arg_word_provider ? arg_word_provider(position) : none_cell();
    fire(id::expect_arg, &word, &type, &arg);
}

void bad_make_arg(const Cell& value, const Cell& spec) { fire(id::bad_make_arg, &value, &spec); }

}  // namespace zan::errors
