// Trace callbacks: a script function called at chosen evaluation events
// (do/trace). With tracing off every trace point costs one flag test.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zan::trace {

// Event bits, in the order of their words.
namespace event {
constexpr uint32_t init = 1, end = 2, prolog = 4, epilog = 8, enter = 16, exit = 32, open = 64,
                   return_ = 128, fetch = 256, push = 512, set = 1024, call = 2048, error = 4096,
                   throw_ = 8192, catch_ = 16384, expr = 32768;
}
constexpr uint32_t default_mask = 0x1FFFF;

extern bool on;  // tracing now

// Whether a traced run (do/trace) is in progress.
bool in_run();

// Installs the callback cell (a root) once.
void init();

// The event mask of a callback: the event words of a block that begins its
// body, else every event.
uint32_t mask_of(const Cell& callback);

// Calls the callback for an event when it is wanted: block and position
// (-1 without), a value and a reference value (null for none).
void dispatch(uint32_t event, const Cell* block, int32_t position, const Cell* value,
              const Cell* reference);

// do/trace: installs the callback, emits init, evaluates the block with
// tracing on, emits end and restores the previous tracing state. The result
// is pushed.
uint32_t run_traced(const Cell& block, const Cell& callback);

}  // namespace zan::trace
