// point2D! and point3D!: two or three binary32 coordinates in w1, w2, w3.
//
// Arithmetic is done in double precision and stored back rounded to binary32;
// equality allows 10 single-precision units in the last place.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::point {

inline int axes(Type t) { return t == Type::point3d ? 3 : 2; }

void make_at(Cell& cell, Type t, float x, float y, float z = 0.0f);
Cell* make_in(const Cell& block, Type t, float x, float y, float z = 0.0f);

// An integer! or float! as a binary32 coordinate; anything else raises
// invalid-type.
float get_coord(const Cell& number);

// Operator codes as integer::add ... integer::remainder; the point in args[0].
void do_math(actions::Args args, int op);

int32_t compare(const Cell& a, const Cell& b, int32_t op);

void init();  // point2D! then point3D!

}  // namespace zan::point
