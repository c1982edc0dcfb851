// Library code in C++ that needs a few words of script: load, bind, evaluate.
#include <string_view>

#include "boot/init.h"
#include "datatypes/block.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "library/library.h"
#include "runtime/collector.h"

namespace zan::library {

Cell eval_text(std::string_view code, const Cell* last) {
    Cell block = boot::load_text(code);
    collector::Root keep(block);
    if (last) block::rs_append(block, *last);
    Cell* held = stack::push(block);
    stack::raise_status(interp::eval_block(*held, false));
    Cell result = stack::s.top[-1];
    stack::s.top = held;
    return result;
}

}  // namespace zan::library
