// The path family: path!, lit-path!, set-path! and get-path!.
//
// A path is a block whose values are written joined by slashes; it shares the
// block layout (w1 head index, w2 the node of a cell buffer) and inherits nearly
// every series action from block!. What differs: making and converting, the text
// forms and copying. Evaluating a path is the interpreter's.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::path {

bool is_path(Type t);  // path! to get-path!

// Writes an empty path! with room for `capacity` cells into the cell.
Cell& make_empty(Cell& cell, uint32_t capacity);

// --- actions ----------------------------------------------------------------

// args[0] the target, args[1] the spec; the result takes the target type.
void make(actions::Args args, Type type);
void to(actions::Args args, Type type);
void copy(actions::Args args, const Cell* part, bool deep, const Cell* types);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
int32_t mold_lit(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent);
int32_t mold_set(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent);
int32_t mold_get(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                 int32_t budget, int32_t indent);

// Registers path!, lit-path!, set-path! and get-path! (after block!).
void init();

}  // namespace zan::path
