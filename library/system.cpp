// The runtime's side of the system object: see system.h.
#include "library/system.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "runtime/collector.h"

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

}  // namespace

Cell* field(std::initializer_list<const char*> path) {
    Cell* at = context::get_by_symbol(symbol::make("system"), context::global());
    for (const char* name : path) {
        if (!at || !is(*at, Type::object)) return nullptr;
        at = context::get_by_symbol(symbol::make(name), object::context_node(*at));
    }
    return at;
}

void install() {
    if (Cell* errors = field({"catalog", "errors"})) *errors = error::catalog_object();
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
}

}  // namespace zan::system_object
