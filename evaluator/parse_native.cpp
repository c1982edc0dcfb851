// The parse native's entry: its refinements handed to the engine, and the
// exits of parens inside the rules turned back into statuses.
//
// Operands: input, rules; /case; /part with its length; /trace with its
// callback. Break, continue, return, exit and throw leave a paren as the
// exception they stand for (their target search has already set the stacks
// up); here they become the status the interpreter carries on with.
#include "evaluator/parse.h"

#include "datatypes/series.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"

namespace zan::parse {

uint32_t native(int32_t check, const int32_t* refs) {
    Cell* args = stack::s.base;
    if (check) {  // compiled callers: the types the spec names
        Type t = type_of(args[0]);
        if (!(series::is_block_like(t) || series::is_string_like(t) || t == Type::binary))
            errors::expect_arg(args[0], 1);
        if (!is(args[1], Type::block)) errors::expect_arg(args[1], 2);
        if (refs[1] != -1) {
            Type pt = type_of(args[refs[1]]);
            if (pt != Type::integer && pt != Type::float_ && pt != Type::percent && !series::is_series(pt))
                errors::expect_arg(args[refs[1]], 5);
        }
    }
    const Cell* part = refs[1] != -1 ? args + refs[1] : nullptr;
    const Cell* callback = refs[2] != -1 ? args + refs[2] : nullptr;
    // The callback is untyped in the spec block: check it before the first event.
    if (callback && !interp::is_callable(type_of(*callback))) errors::expect_arg(*callback, 7);
    try {
        Cell result = run(args[0], args[1], refs[0] != -1, part, callback);
        stack::reset_last(result);
    } catch (const unwind::Thrown& t) {
        if (t.code < unwind::throw_ || t.code > unwind::break_) throw;
        return t.code;
    }
    return stack::ok;
}

}  // namespace zan::parse
