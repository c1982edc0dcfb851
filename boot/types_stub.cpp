// Stand-in registration of string!: see types_stub.h.
#include "boot/types_stub.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"

namespace zan::types_stub {

namespace {
int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::string)) return -2;
    return string::compare_text(a, b, op, false);
}
}  // namespace

void init() {
    if (datatype::registered(Type::string)) return;
    actions::Row r;
    r.form = string::form;
    r.mold = string::mold;
    r.compare = compare;
    datatype::register_type(Type::string, Type::any, "string!", r);
}

}  // namespace zan::types_stub
