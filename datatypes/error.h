// error!: the value every script-level failure produces.
//
// An error is an object (same cell layout: w1 the context, w2 class id 1, w3
// 0) whose context is a copy of the standard error object, with the fields, in
// this order: code type id arg1 arg2 arg3 near where stack files. `type` and
// `id` name a category of the error catalogue and an id in it; the message is
// the id's template with the arg fields put in.
//
// The catalogue is an object with one field per category; each category is an
// object with `code`, `type` (its display name) and one field per id holding
// the template. An error's code is its category index times 100 plus its id
// number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zan::error {

// --- the catalogue as a table ---------------------------------------------------
namespace catalog {
constexpr int category_count = 10;
int id_count(int category);
const char* category_name(int category);   // "script"
const char* category_type(int category);   // "Script Error"
const char* id_name(int category, int id);  // "no-value"
// The template's source text: a string literal, a block of strings and
// argument words, or a word naming the error field that holds the message.
const char* template_text(int category, int id);
// -1 when absent; names are compared exactly (callers fold letter case).
int find_category(std::string_view name);
int find_id(int category, std::string_view name);
}  // namespace catalog

// The ids raised by function!, object! and error! (field index = id number + 2).
namespace ids {
using errors::Category;
constexpr errors::Id invalid_key_type{Category::script, 14};
constexpr errors::Id bad_op_spec{Category::script, 17};
constexpr errors::Id bad_func_def{Category::script, 23};
constexpr errors::Id bad_func_extern{Category::script, 25};
constexpr errors::Id unset_path{Category::script, 32};
constexpr errors::Id invalid_path{Category::script, 33};
constexpr errors::Id invalid_path_set{Category::script, 34};
constexpr errors::Id bad_field_set{Category::script, 39};
constexpr errors::Id dup_vars{Category::script, 40};
constexpr errors::Id invalid_spec_field{Category::script, 58};
constexpr errors::Id invalid_obj_evt{Category::script, 66};
constexpr errors::Id malconstruct{Category::syntax, 7};
constexpr errors::Id invalid_error{Category::internal, 12};
}  // namespace ids

// Field indexes of an error's context.
namespace field {
constexpr int code = 0, type = 1, id = 2, arg1 = 3, arg2 = 4, arg3 = 5, near = 6, where = 7,
              stack = 8, files = 9;
constexpr int count = 10;
}  // namespace field

constexpr uint32_t class_id = 1;

// The catalogue object (system/catalog/errors) and the standard error object
// (system/standard/error). The standard object is built by init; the
// catalogue is built from the table on first use unless set_catalog gives one
// first (zan's boot image holds it). set_catalog and set_standard replace them.
const Cell& catalog_object();
const Cell& standard_object();
void set_catalog(const Cell& catalog);
void set_standard(const Cell& standard);

// --- making ---------------------------------------------------------------------

// A new error of the id with its arguments (absent arguments stay none).
// The caller roots the answer.
Cell make_from_ids(errors::Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                  const Cell* arg3 = nullptr);

// A field's value slot; valid until the next allocation.
Cell* field_at(const Cell& error, int index);

// Stores the value in `where` when that field still holds none.
void set_where(const Cell& error, const Cell& value);
// Symbol ids of the `type` and `id` words (0 when they are not words).
uint32_t get_type(const Cell& error);
uint32_t get_id(const Cell& error);
constexpr int stack_index() { return field::stack; }
constexpr int near_index() { return field::near; }
// The n-th (1-based) argument word of the callable a word refers to: its
// spec's word!, lit-word!, get-word! and refinement! entries counted; none
// when there is no such entry or the word holds no callable.
Cell get_call_argument(const Cell& word, int n);
// errors::Id of an error value (category and field index), when its words name
// a catalogue entry; internal not-done otherwise.
errors::Id id_of(const Cell& error);

// What the text form needs of the running system: system/state/stack-trace
// and the backtrace of the call stack from a position (the call stack's own
// by default; null restores it). Without a level no "*** Stack: " line is
// written.
using StackTraceLevel = int (*)();
using Backtrace = std::string (*)(int level, uint32_t position);
void set_form_services(StackTraceLevel level, Backtrace backtrace);

// When the stack field holds the call-stack position where the error was
// raised, replaces it with a block of the calling function words up to there.
void capture_stack(const Cell& error);

// The text form with its "*** " lines, as UTF-8.
std::string form_text(const Cell& error);

// --- actions ----------------------------------------------------------------------
void make(actions::Args args, Type type);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s);
int32_t compare(const Cell& a, const Cell& b, int32_t op);

// Registers error!, builds the standard error object, and
// makes errors::fire raise error! values.
void init();

}  // namespace zan::error
