// The event loop: one GLib main context, entered from script code only
// (do-event-loop, wait). Loops nest; a quit is a count that only waiting
// loops take, so a pass without waiting never eats the quit meant for the
// loop around it.
//
// The loop counter rises with every waiting loop and falls when a window that
// owns a loop is destroyed with empty?; the exit counter rises with that same
// destruction and falls (only while above 0) as a waiting loop ends, which
// passes the quit on while windows of enclosing loops are gone too.
#include <algorithm>
#include <cmath>
#include <ctime>

#include "evaluator/natives_system.h"
#include "gui/backend/backend.h"
#include "gui/backend/spine.h"
#include "runtime/errors.h"
#include "runtime/platform.h"

namespace zan::gui {

int64_t swap_modifier_override(int64_t value);

namespace {
int32_t loops = 0;
int32_t exits = 0;
int32_t quits = 0;
constexpr guint min_rate_ms = 10;

struct OverrideGuard {
    int64_t saved = swap_modifier_override(-1);
    ~OverrideGuard() { swap_modifier_override(saved); }
};

// What `wait` does once GTK runs: native events are handled until the time
// is up, so windows stay alive and timers tick while a script waits.
void wait_pumping(double seconds) {
    if (!running()) {
        platform::sleep(seconds);
        return;
    }
    OverrideGuard guard;
    if (!(seconds > 0)) {
        g_main_context_iteration(nullptr, FALSE);
        return;
    }
    double ms = std::min(seconds * 1000.0, double(G_MAXUINT));
    bool done = false;
    GSource* timeout = g_timeout_source_new(guint(std::ceil(ms)));
    g_source_set_callback(
        timeout, [](gpointer p) -> gboolean {
            *static_cast<bool*>(p) = true;
            return G_SOURCE_REMOVE;
        },
        &done, nullptr);
    g_source_set_can_recurse(timeout, TRUE);
    g_source_attach(timeout, nullptr);
    try {
        while (!done) g_main_context_iteration(nullptr, TRUE);
    } catch (...) {
        g_source_destroy(timeout);
        g_source_unref(timeout);
        throw;
    }
    g_source_destroy(timeout);
    g_source_unref(timeout);
}

void pass() {
    if (running()) {
        OverrideGuard guard;
        g_main_context_iteration(nullptr, FALSE);
    }
}

gboolean tick(gpointer data) {
    uint32_t window = GPOINTER_TO_UINT(data);
    GtkWidget* w = windows::get(window);
    WidgetRecord* r = w ? record_of(w) : nullptr;
    if (!r || r->cleaned) return G_SOURCE_REMOVE;
    Message m;
    m.window = window;
    spine::pointer_in(window, m.x, m.y);
    m.time = uint32_t(g_get_monotonic_time() / 1000);
    make_event(m, 0, evt::time);
    return G_SOURCE_CONTINUE;
}
}  // namespace

bool do_events(bool no_wait) {
    if (no_wait && !running()) return false;
    ensure_started();
    OverrideGuard guard;
    if (no_wait) return g_main_context_iteration(nullptr, FALSE);
    ++loops;
    bool processed = false;
    while (quits == 0) processed |= g_main_context_iteration(nullptr, TRUE) != 0;
    --quits;
    if (exits > 0) {
        --exits;
        if (exits > 0) post_quit();
    }
    return processed;
}

void post_quit() {
    ++quits;
    g_main_context_wakeup(nullptr);
}

void loop_window_gone() {
    ++exits;
    --loops;
}

int32_t loop_counter() { return loops; }
int32_t exit_counter() { return exits; }

void set_rate(uint32_t window, const Cell& rate) {
    guint ms = 0;
    if (is(rate, Type::integer)) {
        if (int_of(rate) < 1) errors::fire(spine::script_error("invalid-facet-type"), &rate);
        ms = guint(1000 / int_of(rate));
    } else if (is(rate, Type::time)) {
        double t = float_of(rate);
        if (!(t > 0)) errors::fire(spine::script_error("invalid-facet-type"), &rate);
        ms = guint(std::min(std::trunc(t * 1000.0), double(G_MAXUINT)));
    } else if (!is(rate, Type::none)) {
        errors::fire(spine::script_error("invalid-facet-type"), &rate);
    }
    GtkWidget* w = windows::get(window);
    WidgetRecord* r = w ? record_of(w) : nullptr;
    if (!r) return;
    spine::cancel_timer(*r);
    if (is(rate, Type::none)) return;
    // Faster rates tick every 10 ms: a 1 ms timer would starve the loop.
    GSource* s = g_timeout_source_new(std::max(ms, min_rate_ms));
    g_source_set_callback(s, tick, GUINT_TO_POINTER(window), nullptr);
    // Nested loops run inside a tick's handler: the timer must tick there too.
    g_source_set_can_recurse(s, TRUE);
    r->timer = g_source_attach(s, nullptr);
    g_source_unref(s);
}

int64_t timer_start() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

double timer_elapsed(int64_t& stamp) {
    int64_t now = timer_start();
    if (now < stamp) {
        stamp = now;
        return 0.0;
    }
    return double(now - stamp) / 1e6;
}

namespace spine {

void cancel_timer(WidgetRecord& r) {
    if (r.timer) g_source_remove(r.timer);
    r.timer = 0;
}

void install_wait() {
    natives::SystemServices s = natives::system_services();
    s.do_events = pass;
    s.wait = wait_pumping;
    natives::set_system_services(s);
}

}  // namespace spine

}  // namespace zan::gui
