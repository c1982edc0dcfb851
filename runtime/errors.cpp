// Raising script errors. The pending error is kept as its id and arguments
// until the error! datatype builds real error values.
#include "runtime/errors.h"

#include "runtime/unwind.h"

namespace zan::errors {

namespace {
Id pending_id_ = id::not_done;
Cell pending_value_;
}  // namespace

void fire(Id id, const Cell* arg1, const Cell*, const Cell*) {
    pending_id_ = id;
    pending_value_ = arg1 ? *arg1 : none_cell();
    throw unwind::Thrown{unwind::error};
}

const Cell& pending() { return pending_value_; }
Id pending_id() { return pending_id_; }

}  // namespace zan::errors
