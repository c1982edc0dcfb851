// Rendering on cairo and pango: the draw pass over an image or a face's
// cairo_t, and the routines scripts reach it through (draw-image, draw-face,
// text-box-metrics).
//
// An image target draws into a premultiplied ARGB32 surface kept in the
// image's device slot (datatypes/image_backend.h): made from the pixels when
// missing or when scripts wrote pixels since, synced back when pixels are
// next read. One unit is one pixel; no display is needed.
#pragma once

#include <cairo.h>

#include "runtime/cell.h"

namespace zan::render {

// Installs the image device hooks and registers the routines; start-up.
void init();

// Draws a command block onto an image (nothing for a 0-sized image). Draw
// errors are raised after the pass has ended; what was drawn stays.
void do_draw(const Cell& image, const Cell& commands);

// Paints a face into a window's cairo_t (device units = logical × scale):
// its colour (none: transparent), image stretched to its size, text, then the
// commands (a block, or none); then `drawing(window)` may draw more into the
// open pass through draw_into_open_pass. Errors are printed, never raised.
void paint_face(cairo_t* cr, const Cell& face, double scale, const Cell& commands, uint32_t window,
                void (*drawing)(uint32_t window));
void draw_into_open_pass(uint32_t window, const Cell& commands);

// What a face that draws itself shows, as an image! (none for no size).
Cell face_image(const Cell& face, const Cell& commands);

// Fills the GUI back end's rendering hooks (render_window.cpp).
void connect_window_target();

// Prints the pending error as the usual "*** " lines (face painting).
void report_pending_error();

}  // namespace zan::render
