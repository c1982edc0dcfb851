// time!: a signed duration in seconds, the double in w2 and w3 as float!.
//
// It inherits float!'s arithmetic, comparison, negation and random; its own
// routines give the h:mm:ss text, the hour, minute and second fields, and the
// rules of mixing durations (time * time is not related, time / time a ratio).
#pragma once

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::time_ {

Cell make_cell_of(double seconds);
void make_at(Cell& cell, double seconds);
// Appends a time! made of the double's two 32-bit halves to a block.
Cell* make_in(const Cell& block, uint32_t low, uint32_t high);

// The fields as paths and pick read them.
double hour_of(double t);    // truncated toward zero
int32_t minute_of(double t); // 0-59 of the magnitude
double second_of(double t);  // keeps the sign

// Writes the h:mm:ss[.fff] text; answers the budget less what was written.
int32_t write(double t, Node buffer, int32_t budget);

void init();

}  // namespace zan::time_
