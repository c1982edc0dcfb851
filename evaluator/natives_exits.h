// The natives that start and stop non-local exits: try, catch, throw, break,
// continue, return and exit.
#pragma once

#include <cstdint>

#include "evaluator/natives.h"

namespace zan::natives {

stack::Status n_try(int32_t check, const int32_t* refs);
stack::Status n_break(int32_t check, const int32_t* refs);
stack::Status n_continue(int32_t check, const int32_t* refs);
stack::Status n_exit(int32_t check, const int32_t* refs);
stack::Status n_return(int32_t check, const int32_t* refs);
stack::Status n_throw(int32_t check, const int32_t* refs);
stack::Status n_catch(int32_t check, const int32_t* refs);

}  // namespace zan::natives
