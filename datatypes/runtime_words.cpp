// Runtime services shared by compiled and interpreted code.
#include "datatypes/runtime_words.h"

#include "datatypes/datatype.h"
#include "runtime/memory.h"

namespace zan::interp {

Cell switch_find(const Cell& value, const Cell& cases, bool interpreted, bool to_block) {
    if (is(value, Type::block)) return none_cell();
    auto compare = datatype::row(type_of(value)).compare.fn;
    if (!compare) return none_cell();
    Node n = series_node(cases);
    uint32_t step = interpreted ? 1 : 2;
    // A comparator may allocate and so move the buffer: re-read it each time.
    for (uint32_t i = series_index(cases); i < memory::buffer(n)->length(); i += step) {
        Cell c = memory::buffer(n)->cells()[i];
        if (type_id(c) != type_id(value) || compare(c, value, 0) != 0) continue;
        uint32_t length = memory::buffer(n)->length();
        if (!to_block) return i + 1 < length ? memory::buffer(n)->cells()[i + 1] : c;
        for (uint32_t k = i + 1; k < length; ++k) {
            Cell b = memory::buffer(n)->cells()[k];
            if (is(b, Type::block)) return b;
        }
        return none_cell();
    }
    return none_cell();
}

}  // namespace zan::interp
