// event!: the datatype of native input and window notifications (type 54).
#pragma once

#include "runtime/cell.h"

namespace zan::gui::event {

// Registers event! with the datatype registry.
void init();
// Whether a facet is the word, or a block holding it (word! or lit-word!).
bool find_flag(const Cell& facet, const Cell& flag);

}  // namespace zan::gui::event
