// The draw dialect's walker (draw_walker.cpp).
#pragma once

#include "gui/backend/draw_context.h"

namespace zan::render {

// Walks a block of draw commands in the pass's context. Draw errors are raised
// (draw-invalid, draw-infinite), or Abandon is thrown when
// system/view/silent? is true.
void walk(Context& c, const Cell& commands);

// Raises the draw error at a position of a block (draw-infinite when the
// block itself was met again).
[[noreturn]] void throw_draw_error(const Cell& block, uint32_t index, bool infinite = false);

}  // namespace zan::render
