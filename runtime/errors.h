// Raising script errors: the one road every script error takes.
//
// An error is named by its category and its field index in the catalogue
// (id number + 2, since fields 0 and 1 of a category are code and type).
// fire() builds the error value, keeps it as the pending error and throws
// unwind::error; the catcher takes the value with pending().
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zan::errors {

enum class Category : uint8_t {
    throw_ = 0,
    note,
    syntax,
    script,
    math,
    access,
    reserved1,
    reserved2,
    user,
    internal,
};

struct Id {
    Category category;
    uint8_t index;  // field index in the category: id number + 2
    constexpr int code() const { return int(category) * 100 + index - 2; }
    friend constexpr bool operator==(Id, Id) = default;
};

// The ids the runtime raises by number; the catalogue holds them all.
namespace id {
constexpr Id no_value{Category::script, 2};
constexpr Id need_value{Category::script, 3};
constexpr Id not_defined{Category::script, 4};
constexpr Id expect_arg{Category::script, 7};
constexpr Id cannot_use{Category::script, 10};
constexpr Id invalid_arg{Category::script, 11};
constexpr Id invalid_type{Category::script, 12};
constexpr Id invalid_type_spec{Category::script, 13};
constexpr Id invalid_data{Category::script, 18};
constexpr Id not_related{Category::script, 22};
constexpr Id bad_refines{Category::script, 27};
constexpr Id bad_path_set{Category::script, 38};
constexpr Id out_of_range{Category::script, 43};
constexpr Id invalid_compare{Category::script, 45};
constexpr Id invalid_refine_arg{Category::script, 47};
constexpr Id type_limit{Category::script, 48};
constexpr Id no_return{Category::script, 50};
constexpr Id bad_make_arg{Category::script, 55};
constexpr Id bad_to_arg{Category::script, 56};
constexpr Id move_bad{Category::script, 60};
constexpr Id zero_divide{Category::math, 2};
constexpr Id overflow{Category::math, 3};
constexpr Id positive{Category::math, 4};
constexpr Id no_memory{Category::internal, 4};
constexpr Id stack_overflow{Category::internal, 6};
constexpr Id too_deep{Category::internal, 8};
constexpr Id no_cycle{Category::internal, 9};
constexpr Id not_done{Category::internal, 11};
// string!, unicode
constexpr Id invalid_char{Category::script, 62};
constexpr Id invalid_utf8{Category::access, 4};
// evaluator: exits without a target, calls, arguments and paths
constexpr Id throw_break{Category::throw_, 2};
constexpr Id throw_return{Category::throw_, 3};
constexpr Id throw_throw{Category::throw_, 4};
constexpr Id throw_continue{Category::throw_, 5};
constexpr Id no_arg{Category::script, 6};
constexpr Id no_op_arg{Category::script, 16};
constexpr Id invalid_part{Category::script, 19};
constexpr Id bad_func_def{Category::script, 23};
constexpr Id no_refine{Category::script, 26};
constexpr Id bad_refine{Category::script, 28};
constexpr Id dup_refine{Category::script, 29};
constexpr Id word_first{Category::script, 30};
constexpr Id empty_path{Category::script, 31};
constexpr Id unset_path{Category::script, 32};
constexpr Id invalid_path{Category::script, 33};
constexpr Id invalid_path_set{Category::script, 34};
constexpr Id invalid_path_get{Category::script, 35};
constexpr Id bad_path_type{Category::script, 36};
constexpr Id bad_path_type2{Category::script, 37};
constexpr Id no_port_action{Category::access, 12};
constexpr Id zan_system{Category::internal, 14};
// string!, file!, url!, bitset!
constexpr Id past_end{Category::script, 41};
constexpr Id missing_arg{Category::script, 42};
constexpr Id cannot_open{Category::access, 2};
constexpr Id no_connect{Category::access, 6};
// image!
constexpr Id bad_media{Category::access, 15};
// natives: loops, selectors, word natives
constexpr Id throw_while_cond{Category::throw_, 6};
constexpr Id expect_val{Category::script, 8};
constexpr Id not_same_class{Category::script, 21};
constexpr Id bad_loop_series{Category::script, 63};
// context!, word!
constexpr Id not_in_context{Category::script, 5};
constexpr Id invalid_chars{Category::script, 44};
// date!, money!
constexpr Id protected_{Category::script, 53};
constexpr Id invalid_months{Category::script, 57};
constexpr Id wrong_denom{Category::script, 64};
constexpr Id bad_denom{Category::script, 65};
}  // namespace id

// Builds the error value from the id and up to three arguments, then unwinds
// with unwind::error. Never returns.
[[noreturn]] void fire(Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);

// Raises an error value made before (do of an error!): it learns where and
// near, as a fired one does, unless it holds them already.
[[noreturn]] void raise(Id id, const Cell& error);

// Registers the pending error's cells with the collector; start-up calls it once.
void init();

// The error value of the throw in flight (valid in a catcher of unwind::error).
const Cell& pending();

// Category and id of the pending error.
Id pending_id();

// Argument n (1-3) of the pending error; unset when it was not given.
const Cell& pending_arg(int n);

// The word of the function being called, for errors that name it (expect-arg,
// not-related). The call stack installs the provider; until then none is used.
using CallWordFn = Cell (*)();
void set_call_word_provider(CallWordFn fn);
Cell call_word();

// An argument of an unaccepted type: expect-arg naming the called function, the
// argument's datatype and the argument's position in the function's spec.
using ArgWordFn = Cell (*)(int position);
void set_arg_word_provider(ArgWordFn fn);
[[noreturn]] void expect_arg(const Cell& value, int position);

// make of a value that cannot be made from the spec (native!, action! ...).
[[noreturn]] void bad_make_arg(const Cell& value, const Cell& spec);

// error!: builds the error value of each fire from the id and the arguments
// (copies of them, kept rooted); until one is installed the pending value is
// the first argument. Installed by the error! datatype at start-up.
using Builder = Cell (*)(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
void set_builder(Builder b);
// Puts back an error that was pending before a nested one was raised and
// handled (an error report that could not show a value).
void restore_pending(Id id, const Cell& value);

// The pending error as a whole, for code that runs script code while an error
// is being raised. save_pending clears it; the caller keeps the saved cells
// reachable by the collector until it restores them.
struct Pending {
    Id id;
    Cell value;
    Cell args[3];
};
Pending save_pending();
void restore_pending(const Pending& p);

// The evaluator's steps between building an error value and unwinding: `trace`
// sends the trace error event (it checks whether tracing is on itself), then
// `locate` records where the error was raised. Either may be null. Each
// setter answers the hook it replaced.
using RaiseHook = void (*)(const Cell& error);
RaiseHook set_trace_hook(RaiseHook trace);
RaiseHook set_locate_hook(RaiseHook locate);

}  // namespace zan::errors
