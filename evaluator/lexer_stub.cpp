// Throwaway stand-in until contexts land: words stay unbound. Delete this
// file when the global context (datatypes/context.h) is on main.
#include "evaluator/lexer_internal.h"

namespace zan::lexer {

void bind_to_global(Cell&) {}

}  // namespace zan::lexer
