// System and constructor natives: wait, now, the environment, call, browse,
// size?, recycle, and the small constructors as-pair, as-point2D, as-point3D
// and as-money.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "evaluator/natives.h"

namespace zan::natives {

stack::Status n_wait(int32_t check, const int32_t* refs);
stack::Status n_now(int32_t check, const int32_t* refs);
stack::Status n_set_env(int32_t check, const int32_t* refs);
stack::Status n_get_env(int32_t check, const int32_t* refs);
stack::Status n_list_env(int32_t check, const int32_t* refs);
stack::Status n_call(int32_t check, const int32_t* refs);
stack::Status n_browse(int32_t check, const int32_t* refs);
stack::Status n_size_q(int32_t check, const int32_t* refs);
stack::Status n_recycle(int32_t check, const int32_t* refs);
stack::Status n_as_pair(int32_t check, const int32_t* refs);
stack::Status n_as_point2d(int32_t check, const int32_t* refs);
stack::Status n_as_point3d(int32_t check, const int32_t* refs);
stack::Status n_as_money(int32_t check, const int32_t* refs);

// The services these natives hand their work to, installed by their owners
// (processes, the environment map, the GUI message loop). A native whose
// service is missing raises internal not-done; wait without a GUI only sleeps.
struct SystemServices {
    // Runs a command (a string!, or a file! naming the program): 0 success,
    // -1 error, or a process id. in, out and err are null when not redirected.
    int32_t (*run)(const Cell& command, bool wait, bool show, bool console, bool shell, const Cell* in,
                   const Cell* out, const Cell* err) = nullptr;
    // A new map! of the process's environment names to values.
    Cell (*environment)() = nullptr;
    // One pass over pending GUI messages without waiting.
    void (*do_events)() = nullptr;
    // The whole wait, when the GUI takes it (handling messages until the time
    // is up); without it wait sleeps, then makes one pass.
    void (*wait)(double seconds) = nullptr;
};
void set_system_services(const SystemServices& services);
const SystemServices& system_services();

}  // namespace zan::natives
