// port!: an object whose series and I/O actions are forwarded to its scheme's
// actor.
//
// Cell: as object! (w1 context, w2 class id 2, w3 change hooks). Fields, in
// order: spec, scheme, actor, awake, state, data, extra, copied from
// system/standard/port. The datatype does no I/O itself: every action from
// append (25) to write (62), but open?, calls the actor's function of the
// same name with the port and the action's arguments, a refinement given as a
// logic! followed by its arguments (none when unused). read runs open, copy
// and close; write runs open/write, insert, copy and close.
//
// An actor is either an object of script functions or a handle! naming a
// native actor: a table of C++ routines for actions 25-62 registered here,
// which the action dispatch calls directly.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::port {

using actions::Args;

// The class id of every port made by make.
constexpr uint32_t class_id = 2;

// A native actor: routines for actions 25-62 (index slot - 25), null for an
// action it does not support.
constexpr int first_slot = 25;
constexpr int native_slots = 62 - first_slot + 1;
using NativeTable = void* const*;
// Registers a table (which must live as long as the process); answers the
// handle! value a scheme puts in its actor field.
Cell register_native_actor(NativeTable table);

// The port's actor, which must be an object (else access invalid-port).
Cell get_actor(const Cell& port);

void make(Args args, Type type);
int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);

// Registers port! (parent object!) and the native-actor finder.
void init();

}  // namespace zan::port
