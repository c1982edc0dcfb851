// Form and mold of the values of a series, shared by every block-like type.
//
// Molding a value may allocate (the text buffer grows), and allocation may
// move the series' buffer, so each cell is re-read through its node and the
// copy being molded is rooted. The caller keeps the series and the text
// buffer alive.
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace zan::mold {

namespace {
uint32_t length_of(Node series) { return memory::buffer(series)->length(); }
Cell cell_at(Node series, uint32_t i) { return memory::buffer(series)->cells()[i]; }
}  // namespace

int32_t form_each(Node series, uint32_t index, Node buffer, bool part, int32_t budget) {
    CycleScope scope(series);
    for (uint32_t i = index; i < length_of(series); ++i) {
        if (part && budget < 1) return budget;
        Cell value = cell_at(series, i);
        collector::Root keep(value);
        budget = form_value(value, buffer, part, budget);
        if (i + 1 < length_of(series)) {
            int32_t last = string::last_char(buffer);
            if (last != '\n' && last != '\r' && last != '\t') budget = append(buffer, " ", budget);
        }
    }
    return budget;
}

int32_t mold_each(Node series, uint32_t index, Node buffer, actions::MoldFlags flags, bool part,
                  int32_t budget, int32_t level) {
    bool broke = false;
    {
        CycleScope scope(series);
        actions::MoldFlags inner = flags;
        inner.only = false;
        for (uint32_t i = index; i < length_of(series); ++i) {
            if (part && budget < 1) return budget;
            Cell value = cell_at(series, i);
            collector::Root keep(value);
            bool first = i == index;
            if (!flags.flat && newline_before(value)) {
                if (!flags.only && first) {
                    broke = true;
                    ++level;
                }
                if (!(flags.only && first)) budget = append(buffer, "\n", budget);
                budget = indent(buffer, level, budget);
            } else if (!first) {
                budget = append(buffer, " ", budget);
            }
            budget = mold_value(value, buffer, inner, part, budget, level);
        }
    }
    if (broke) {
        --level;
        budget = append(buffer, "\n", budget);
        budget = indent(buffer, level, budget);
    }
    return budget;
}

}  // namespace zan::mold
