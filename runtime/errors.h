// Raising script errors: the one road every script error takes.
//
// An error is named by its category and its field index in the catalogue
// (id number + 2, since fields 0 and 1 of a category are code and type).
// fire() builds the error value, keeps it as the pending error and throws
// unwind::error; the catcher takes the value with pending().
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

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
// context!, word!
constexpr Id not_in_context{Category::script, 5};
constexpr Id invalid_chars{Category::script, 44};
}  // namespace id

// Builds the error value from the id and up to three arguments, then unwinds
// with unwind::error. Never returns.
[[noreturn]] void fire(Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);

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

}  // namespace zan::errors
