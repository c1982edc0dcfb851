// Text on pango: fonts, text boxes (rich-text faces) and their metrics.
#pragma once

#include <pango/pangocairo.h>

#include <string>

#include "runtime/cell.h"

namespace zan::render {

// A font name as pango takes it: at most 31 characters.
std::string font_family_name(const std::string& name);

// The shared pango context: measuring and painting use the same one.
PangoContext* text_context();

// Lays a face's text out (font, para, tabs, line spacing, styles of `data`)
// and, for a rich-text face, keeps the layout in its `handles` state. The
// caller unrefs the answer. Style errors raise unless catch_errors.
PangoLayout* text_box_layout(const Cell& face, bool catch_errors);

// The back end's hooks: lay a face out into its state; answer a metric of
// the layout state (args: the handles block, arg0, the query type).
void text_box_layout_hook(const Cell& box);
void text_box_metrics(Cell* args);

}  // namespace zan::render
