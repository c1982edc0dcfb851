// image!: a rectangle of 32-bit pixels seen as a series.
//
// Cell: w1 the head, a 0-based pixel offset 0 .. w*h; w2 the back end's record
// node (0 for an empty image); w3 the size, width | height << 16. Pixel k is
// column k mod width, row k / width. Scripts see a pixel as the tuple R.G.B.T
// with T = 255 - alpha (a 3-byte tuple is opaque).
#pragma once

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::image {

// Registers the back end and image! (parent series!).
void init();

}  // namespace zan::image
