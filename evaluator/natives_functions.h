// The natives that make functions, read and write words, bind words, build
// objects, retag series and apply functions.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "evaluator/natives.h"

namespace zan::natives {

stack::Status n_func(int32_t check, const int32_t* refs);
stack::Status n_function(int32_t check, const int32_t* refs);
stack::Status n_does(int32_t check, const int32_t* refs);
stack::Status n_has(int32_t check, const int32_t* refs);
stack::Status n_get(int32_t check, const int32_t* refs);
stack::Status n_set(int32_t check, const int32_t* refs);
stack::Status n_type_q(int32_t check, const int32_t* refs);
stack::Status n_bind(int32_t check, const int32_t* refs);
stack::Status n_in(int32_t check, const int32_t* refs);
stack::Status n_construct(int32_t check, const int32_t* refs);
stack::Status n_value_q(int32_t check, const int32_t* refs);
stack::Status n_extend(int32_t check, const int32_t* refs);
stack::Status n_unset(int32_t check, const int32_t* refs);
stack::Status n_new_line(int32_t check, const int32_t* refs);
stack::Status n_new_line_q(int32_t check, const int32_t* refs);
stack::Status n_context_q(int32_t check, const int32_t* refs);
stack::Status n_as(int32_t check, const int32_t* refs);
stack::Status n_apply(int32_t check, const int32_t* refs);

}  // namespace zan::natives

// Services of function! and object! these natives stand on.
namespace zan::function {
uint32_t validate_spec(const Cell& spec);
Cell collect_words(const Cell& spec, const Cell& body);
Cell push(const Cell& spec, const Cell& body, Node context, int32_t code, Node owner, uint32_t flags);
}  // namespace zan::function
namespace zan::object {
void set_many(const Cell& object, const Cell& source, bool any, bool only, bool some);
Cell construct(const Cell* proto, const Cell& block, bool only);
}  // namespace zan::object
