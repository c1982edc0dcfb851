// handle!: formed as eight hexadecimal digits and "h"; molded as "handle!",
// or with /all as #[handle! 0001A2B0h window]. Two handles are equal when
// their values are, whatever their classes.
#include "datatypes/handle.h"

#include <cstdio>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"

namespace zan::handle {

namespace {

constexpr const char* class_names[] = {"", "fd", "monitor", "window", "font", "rich-text"};

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) {
    char text[16];
    std::snprintf(text, sizeof text, "%08Xh", handle_value(v));
    return mold::append(buffer, text, budget);
}

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags f, bool part, int32_t budget, int32_t) {
    if (!f.all) return mold::append(buffer, "handle!", budget);
    budget = mold::append(buffer, "#[handle! ", budget);
    budget = form(v, buffer, part, budget);
    if (handle_class(v) > 0 && handle_class(v) < std::size(class_names)) {
        budget = mold::append(buffer, " ", budget);
        budget = mold::append(buffer, class_names[handle_class(v)], budget);
    }
    return mold::append(buffer, "]", budget);
}

int32_t compare(const Cell& a, const Cell& b, int32_t) {
    if (!is(b, Type::handle)) return 1;
    int32_t x = int32_t(handle_value(a)), y = int32_t(handle_value(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

Cell make_cell_of(uint32_t value, uint32_t cls) {
    return make_cell(Type::handle, cls, value, uint32_t(-1));
}
void make_at(Cell& cell, uint32_t value, uint32_t cls) { cell = make_cell_of(value, cls); }
Cell* make_in(const Cell& block, uint32_t value, uint32_t cls) {
    return block::rs_append(block, make_cell_of(value, cls));
}

void init() {
    actions::Row row;
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    datatype::register_type(Type::handle, Type::integer, "handle!", row);
}

}  // namespace zan::handle
