// The runtime's side of the system object: see system.h.
#include "library/system.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "git_info.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/platform.h"

namespace zan::system_object {

namespace {

// float-pretty value: system/options/float/pretty? was set; only true turns
// the clean-up of formed floats on.
void float_pretty(Cell* args) {
    float_::set_pretty(is(args[0], Type::logic) && logic_of(args[0]));
    args[0] = unset_cell();
}
[[maybe_unused]] const uint32_t float_pretty_key = routines::add("float-pretty", float_pretty);

// An error's text form ends with a stack line only when this is above 0.
int stack_trace_level() {
    Cell* level = field({"state", "stack-trace"});
    return level && is(*level, Type::integer) ? int_of(*level) : 0;
}

// currency-assigned word old: a field of system/locale/currencies was
// assigned; the old value goes back without a second report.
void currency_assigned(Cell* args) {
    Cell word = args[0], old = args[1];
    if (word::is_word_family(type_of(word)) && word_context(word)) *context::get(word) = old;
    errors::fire(errors::id::protected_);
}
[[maybe_unused]] const uint32_t currency_assigned_key =
    routines::add("currency-assigned", currency_assigned);

size_t code_points(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// currency-changed word target action new index: the currency list may only
// grow by one new three-letter word at a time, stored upper-cased, and never
// past the positions a money! value can name.
void currency_changed(Cell* args) {
    Cell word = args[0], target = args[1], action = args[2], value = args[3], index = args[4];
    collector::Root k0(word), k1(target), k2(action), k3(value);
    std::string_view act = word::is_word_family(type_of(action)) ? symbol::name(word_symbol(action)) : "";
    bool appending = act == "append", appended = act == "appended";
    bool ok = word::is_word_family(type_of(word)) && symbol::name(word_symbol(word)) == "list" &&
              is(target, Type::block) && (appending || appended) && is(value, Type::word) &&
              code_points(symbol::name(word_symbol(value))) == 3;
    if (ok && appending)
        ok = money::find_currency_symbol(word_symbol(value)) < 0 &&
             block::rs_length(target) + int32_t(series_index(target)) < money::currency_limit;
    if (!ok) errors::fire(errors::id::protected_);
    if (appended && is(index, Type::integer)) {
        std::string code(symbol::name(word_symbol(value)));
        for (char& c : code)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        Cell upper;
        collector::Root k4(upper);
        word::make_at(symbol::make(code), upper);
        int32_t at = int_of(index);
        if (at >= 0 && at < int32_t(memory::buffer(series_node(target))->length()))
            *block::rs_abs_at(target, at) = upper;
    }
    args[0] = unset_cell();
}
[[maybe_unused]] const uint32_t currency_changed_key =
    routines::add("currency-changed", currency_changed);

// The currency list starts as the runtime's built-in one.
void fill_currencies() {
    Cell* at = field({"locale", "currencies", "list"});
    if (!at || !is(*at, Type::block) || block::rs_length(*at) > 0) return;
    Cell list = *at;
    collector::Root keep(list);
    for (int i = 1; i <= money::builtin_currency_count(); ++i) {
        Cell w;
        collector::Root kw(w);
        word::make_at(symbol::make(money::builtin_currency(i)), w);
        block::rs_append(list, w);
    }
}

}  // namespace

Cell* field(std::initializer_list<const char*> path) {
    Cell* at = context::get_by_symbol(symbol::make("system"), context::global());
    for (const char* name : path) {
        if (!at || !is(*at, Type::object)) return nullptr;
        at = context::get_by_symbol(symbol::make(name), object::context_node(*at));
    }
    return at;
}

namespace {

// Text as a string literal of the language.
std::string string_literal(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "^\""; break;
        case '^': out += "^^"; break;
        case '\n': out += "^/"; break;
        case '\t': out += "^-"; break;
        default: out += c;
        }
    }
    return out + "\"";
}

// The build's date, and where in git's history the build comes from when it
// was built from a checkout.
void fill_build() {
    // Once made (the boot image holds what the image generator made), kept.
    if (Cell* made = field({"build", "date"}); made && is(*made, Type::date)) return;
    // The value first, then the slot: evaluating may move the object's values.
    Cell date = library::eval_text(platform::build_date());
    collector::Root keep(date);
    if (Cell* slot = field({"build", "date"})) *slot = date;
    if (!field({"build", "git"}) || !*ZAN_GIT_COMMIT) return;
    std::string code = "make object! [branch: ";
    code += string_literal(ZAN_GIT_BRANCH);
    code += *ZAN_GIT_TAG ? std::string(" tag: #") + ZAN_GIT_TAG : " tag: none";
    code += std::string(" ahead: ") + (*ZAN_GIT_AHEAD ? ZAN_GIT_AHEAD : "0");
    code += *ZAN_GIT_DATE ? std::string(" date: ") + ZAN_GIT_DATE : " date: none";
    code += std::string(" commit: #") + ZAN_GIT_COMMIT;
    code += " message: " + string_literal(ZAN_GIT_MESSAGE) + "]";
    Cell git = library::eval_text(code);
    collector::Root keep_git(git);
    if (Cell* slot = field({"build", "git"})) *slot = git;
}

}  // namespace

void install() {
    // The boot image holds the catalogue the image generator built; the
    // runtime raises from that one. A text boot fills the field.
    if (Cell* errors = field({"catalog", "errors"})) {
        if (is(*errors, Type::object)) error::set_catalog(*errors);
        else *errors = error::catalog_object();
    }
    if (Cell* standard = field({"standard", "error"})) *standard = error::standard_object();
    if (field({"lexer", "exit-states"})) {
        Cell states;
        collector::Root keep(states);
        block::make_at(states, lexer::exit_state_count);
        for (int kind = 0; kind < lexer::exit_state_count; ++kind) {
            Cell w;
            word::make_at(symbol::make(lexer::exit_state_name(kind)), w);
            block::rs_append(states, w);
        }
        *field({"lexer", "exit-states"}) = states;
    }
    error::set_form_services(stack_trace_level, nullptr);
    fill_currencies();
    fill_build();
}

}  // namespace zan::system_object
