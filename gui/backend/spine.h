// What the spine's own files share and the rest of the back end does not need.
#pragma once

#include <cstdint>

#include "gui/backend/backend.h"
#include "runtime/errors.h"

namespace zan::gui::spine {

// A script error of the catalogue by its name (the view layer's ids).
errors::Id script_error(const char* name);

// --- messages (event.cpp) ---
// A message stays readable from native event values while it is dispatched:
// open() copies it into a pooled record and answers its id (never 0),
// close() frees the record so ids kept beyond it read as stale.
uint32_t open_message(const Message& m);
void close_message(uint32_t id);
Message* message(uint32_t id);  // nullptr when stale
// A native event value: type, message id, flags and key.
Cell native_event(uint32_t type, uint32_t message_id, uint32_t w3);
// The symbol of an event type word, and the type of a word (0 when none).
uint32_t type_symbol(uint32_t type);
uint32_t type_of_word(const Cell& word);

// --- input (input.cpp) ---
// Calls a function with one argument (unset: none) under a catch of every
// error and exit; answers its result, or the error.
Cell call_guarded(const Cell& fn, const Cell& arg, uint32_t name);
void install_prefilter();
bool send_event(const Cell& event, bool queued);
// Key-code -> character of key-down (the US layout's unshifted character), 0 when none.
uint32_t key_char(uint32_t code);
// The key code of a GDK keyval at level 0, and the raw modifier code; 0 when unmapped.
uint32_t key_code_of(uint32_t keyval);
// The keyval typing a character (the key on the layout), 0 when none.
uint32_t keyval_of_char(uint32_t cp);
// The window handle whose face a widget belongs to (itself or the nearest ancestor).
uint32_t face_window_of(GtkWidget* w);
// Pointer position relative to a face window (physical).
void pointer_in(uint32_t window, int32_t& x, int32_t& y);

// --- loop (loop.cpp) ---
void install_wait();
void cancel_timer(WidgetRecord& r);

// --- start (start.cpp) ---
// The value of a path of fields from `system` ("view", "metrics", "dpi"); none when absent.
Cell system_field(std::initializer_list<const char*> path);
bool set_system_field(std::initializer_list<const char*> path, const Cell& value);
// The screen descriptions and the primary screen size (96-DPI units).
Cell fetch_all_screens();
Cell current_screen();
Cell screen_size();
double face_factor();

// --- widgets (widgets.cpp) ---
void show_window(uint32_t window);
void redraw(uint32_t window);
void refresh_window(uint32_t window);
void destroy_view(const Cell& face, bool empty);
uint32_t default_make_view(const Cell& face, uint32_t parent);

}  // namespace zan::gui::spine
