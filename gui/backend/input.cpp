// Input translation: every GDK event passes the pre-filter (the handler set
// with gdk_event_handler_set) before GTK sees it. Pointer, wheel and key input
// on a face widget becomes events through make_event; the event goes on to
// GTK (gtk_main_do_event) unless a handler answered `stop`.
//
// Keys are numbered as the key codes scripts know (letters 0x41-0x5A, keypad
// 0x60-0x6F, US punctuation 0xBA-0xDF, Shift, Control, Alt 0x10-0x12 raw and
// 0xA0-0xA5 by side), taken from the key's level-0 keyval, so `key-down` of
// a and A both give #"A". A press gives `key-down` then, unless dropped, a
// `key` with the typed character, or the key's word for keys without one.
#include <array>

#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "gui/backend/backend.h"
#include "gui/backend/spine.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"

namespace zan::gui {

namespace {

Message* current = nullptr;
int64_t modifier_override = -1;
int32_t last_x = INT32_MIN, last_y = INT32_MIN;  // last pointer position not dropped
uint32_t last_window = 0;
uint32_t hover_window = 0;

// GDK keyval -> key code, for keys whose level-0 keyval names them.
struct KeyEntry {
    guint keyval;
    uint32_t code;
};
constexpr KeyEntry key_table[] = {
    {GDK_KEY_BackSpace, 0x08}, {GDK_KEY_Tab, 0x09}, {GDK_KEY_ISO_Left_Tab, 0x09},
    {GDK_KEY_Return, 0x0D}, {GDK_KEY_KP_Enter, 0x0D}, {GDK_KEY_Shift_L, 0x10}, {GDK_KEY_Shift_R, 0x10},
    {GDK_KEY_Control_L, 0x11}, {GDK_KEY_Control_R, 0x11}, {GDK_KEY_Alt_L, 0x12}, {GDK_KEY_Alt_R, 0x12},
    {GDK_KEY_ISO_Level3_Shift, 0x12}, {GDK_KEY_Pause, 0x13}, {GDK_KEY_Caps_Lock, 0x14},
    {GDK_KEY_Escape, 0x1B}, {GDK_KEY_space, 0x20}, {GDK_KEY_Page_Up, 0x21}, {GDK_KEY_Page_Down, 0x22},
    {GDK_KEY_End, 0x23}, {GDK_KEY_Home, 0x24}, {GDK_KEY_Left, 0x25}, {GDK_KEY_Up, 0x26},
    {GDK_KEY_Right, 0x27}, {GDK_KEY_Down, 0x28}, {GDK_KEY_Print, 0x2C}, {GDK_KEY_Insert, 0x2D},
    {GDK_KEY_Delete, 0x2E}, {GDK_KEY_Super_L, 0x5B}, {GDK_KEY_Super_R, 0x5C}, {GDK_KEY_Menu, 0x5D},
    {GDK_KEY_KP_Multiply, 0x6A}, {GDK_KEY_KP_Add, 0x6B}, {GDK_KEY_KP_Separator, 0x6C},
    {GDK_KEY_KP_Subtract, 0x6D}, {GDK_KEY_KP_Decimal, 0x6E}, {GDK_KEY_KP_Divide, 0x6F},
    {GDK_KEY_KP_Home, 0x24}, {GDK_KEY_KP_End, 0x23}, {GDK_KEY_KP_Left, 0x25}, {GDK_KEY_KP_Up, 0x26},
    {GDK_KEY_KP_Right, 0x27}, {GDK_KEY_KP_Down, 0x28}, {GDK_KEY_KP_Page_Up, 0x21},
    {GDK_KEY_KP_Page_Down, 0x22}, {GDK_KEY_KP_Insert, 0x2D}, {GDK_KEY_KP_Delete, 0x2E},
    {GDK_KEY_Num_Lock, 0x90}, {GDK_KEY_Scroll_Lock, 0x91}, {GDK_KEY_semicolon, 0xBA},
    {GDK_KEY_equal, 0xBB}, {GDK_KEY_comma, 0xBC}, {GDK_KEY_minus, 0xBD}, {GDK_KEY_period, 0xBE},
    {GDK_KEY_slash, 0xBF}, {GDK_KEY_grave, 0xC0}, {GDK_KEY_bracketleft, 0xDB},
    {GDK_KEY_backslash, 0xDC}, {GDK_KEY_bracketright, 0xDD}, {GDK_KEY_apostrophe, 0xDE},
    {GDK_KEY_less, 0xE2},
};

// The unshifted US character of each punctuation key.
constexpr std::pair<uint32_t, char> punctuation[] = {
    {0xBA, ';'}, {0xBB, '='}, {0xBC, ','}, {0xBD, '-'}, {0xBE, '.'}, {0xBF, '/'},
    {0xC0, '`'}, {0xDB, '['}, {0xDC, '\\'}, {0xDD, ']'}, {0xDE, '\''}, {0xE2, '<'},
};

// The keys that stand for characters (their key-down carries the character).
bool character_key(uint32_t k) {
    return k == 0x08 || k == 0x09 || k == 0x0D || k == 0x1B || k == 0x20 || (k >= 0x30 && k <= 0x39) ||
           (k >= 0x41 && k <= 0x5A) || (k >= 0x60 && k <= 0x6B) || (k >= 0x6D && k <= 0x6F) ||
           (k >= 0xBA && k <= 0xC0) || (k >= 0xDB && k <= 0xDF) || (k >= 0xE2 && k <= 0xE4) ||
           (k >= 0xE9 && k <= 0xF5);
}

bool modifier_key(int32_t special) {
    return special == 0x10 || special == 0x11 || (special >= 0xA0 && special <= 0xA5);
}

// The side of a modifier key: Shift, Control, Alt become left or right.
int32_t special_of(uint32_t code, guint keyval) {
    switch (code) {
    case 0x10: return keyval == GDK_KEY_Shift_R ? 0xA1 : 0xA0;
    case 0x11: return keyval == GDK_KEY_Control_R ? 0xA3 : 0xA2;
    case 0x12: return keyval == GDK_KEY_Alt_R || keyval == GDK_KEY_ISO_Level3_Shift ? 0xA5 : 0xA4;
    default: return int32_t(code);
    }
}

uint32_t flags_of_state(guint state, bool buttons, bool keys) {
    uint32_t f = 0;
    if (keys) {
        if (state & GDK_CONTROL_MASK) f |= flag::control;
        if (state & GDK_SHIFT_MASK) f |= flag::shift;
        if (state & GDK_MOD1_MASK) f |= flag::alt;
    }
    if (buttons) {
        if (state & GDK_BUTTON1_MASK) f |= flag::down;
        if (state & GDK_BUTTON2_MASK) f |= flag::mid_down;
        if (state & GDK_BUTTON3_MASK) f |= flag::alt_down;
    }
    return f;
}

// The flag of a mouse button (1 left, 2 middle, 3 right, 8 and 9 the side buttons).
uint32_t button_flag(guint button) {
    switch (button) {
    case 1: return flag::down;
    case 2: return flag::mid_down;
    case 3: return flag::alt_down;
    case 8: case 9: return flag::aux_down;
    default: return 0;
    }
}

uint32_t button_event(guint button, bool press) {
    switch (button) {
    case 1: return press ? evt::down : evt::up;
    case 2: return press ? evt::mid_down : evt::mid_up;
    case 3: return press ? evt::alt_down : evt::alt_up;
    case 8: case 9: return press ? evt::aux_down : evt::aux_up;
    default: return 0;
    }
}

// The widget whose origin a face's coordinates start from: a window's client area.
GtkWidget* client_of(uint32_t window) {
    GtkWidget* w = windows::get(window);
    if (!w) return nullptr;
    WidgetRecord* r = record_of(w);
    return r && r->inner ? r->inner : w;
}

bool widget_origin(GtkWidget* w, int& x, int& y) {
    GdkWindow* gw = w ? gtk_widget_get_window(w) : nullptr;
    if (!gw) return false;
    gdk_window_get_origin(gw, &x, &y);
    if (!gtk_widget_get_has_window(w)) {
        GtkAllocation a;
        gtk_widget_get_allocation(w, &a);
        x += a.x;
        y += a.y;
    }
    return true;
}

Message message_of_event(GdkEvent* e, uint32_t window) {
    Message m;
    m.window = window;
    m.kind = uint32_t(e->type);
    m.time = gdk_event_get_time(e);
    double xr = 0, yr = 0;
    if (gdk_event_get_root_coords(e, &xr, &yr)) {
        m.x_root = int32_t(xr);
        m.y_root = int32_t(yr);
        int ox, oy;
        if (widget_origin(client_of(window), ox, oy)) {
            m.x = m.x_root - ox;
            m.y = m.y_root - oy;
        }
    } else {
        spine::pointer_in(window, m.x, m.y);
    }
    return m;
}

uint32_t modifier_state(guint state) {
    if (modifier_override >= 0) return uint32_t(modifier_override);
    return flags_of_state(state, true, true);
}

// The character a key press types, as a character message would carry it;
// 0 when it types none.
uint32_t typed_char(const GdkEventKey& k, uint32_t code) {
    bool ctrl = (k.state & GDK_CONTROL_MASK) != 0;
    switch (code) {
    case 0x0D: return ctrl ? 10 : 13;
    case 0x08: return ctrl ? 127 : 8;
    case 0x09: return 9;
    case 0x1B: return 27;
    default: break;
    }
    if (ctrl) {
        if (code >= 0x41 && code <= 0x5A) return code - 0x40;
        if (code == 0xDB) return 27;
        if (code == 0xDC) return 28;
        if (code == 0xDD) return 29;
        return 0;
    }
    return gdk_keyval_to_unicode(k.keyval);
}

int key_press(GdkEventKey& k, uint32_t window, GdkEvent* e) {
    uint32_t code = spine::key_code_of(k.keyval);
    GdkKeymap* map = gdk_keymap_get_for_display(gdk_display_get_default());
    guint level0 = 0;
    if (gdk_keymap_translate_keyboard_state(map, k.hardware_keycode, GdkModifierType(0), k.group,
                                            &level0, nullptr, nullptr, nullptr)) {
        if (uint32_t c = spine::key_code_of(level0)) code = c;
    }
    bool by_char = false;
    if (!code) {
        // A key the table lacks still types its character.
        uint32_t ch = gdk_keyval_to_unicode(k.keyval);
        if (!ch) return 1;
        code = ch;
        by_char = true;
    }
    Message m = message_of_event(e, window);
    m.keyval = k.keyval;
    m.key_code = code;
    m.special = by_char || character_key(code) ? -1 : special_of(code, k.keyval);
    uint32_t mods = modifier_state(k.state);
    if (modifier_override < 0) {
        // The state of a press lacks the modifier being pressed.
        if (code == 0x10) mods |= flag::shift;
        if (code == 0x11) mods |= flag::control;
        if (code == 0x12) mods |= flag::alt;
    }
    uint32_t shown = code;
    if (m.special < 0)
        if (uint32_t c = spine::key_char(code)) shown = c;
    bool char_only = (k.send_event & 0x10) != 0;
    bool sent = k.send_event != 0;
    bool taken = false;
    int answer = 1;
    // While an input method composes, the key is its own: no event for it.
    if (!sent && views::composing(window)) {
        answer = views::filter_key(window, k, m, mods, taken);
        if (taken) return answer;
    }
    if (!char_only) {
        answer = make_event(m, shown | mods, evt::key_down);
        if (answer == 0) return 0;
        if (k.send_event & 0x20) return answer;
    }
    bool alt_alone = (k.state & GDK_MOD1_MASK) && !(k.state & GDK_CONTROL_MASK);
    if (alt_alone) return answer;
    if (!sent) {
        // What the input method commits comes as `key` events instead.
        int committed = views::filter_key(window, k, m, mods, taken);
        if (taken) return committed;
    }
    // A field takes no Enter or Tab: no line break, no move of the focus. A
    // button takes no Enter: the enter handler makes that key its click.
    WidgetRecord* r = record_of(windows::get(window));
    bool swallowed = r && ((r->kind == Kind::field && (code == 0x0D || code == 0x09)) ||
                           (r->kind == Kind::button && code == 0x0D));
    if (m.special >= 0) {
        if (modifier_key(m.special) || code == 0x14 || code == 0x90 || code == 0x91) return answer;
        return make_event(m, code | mods, evt::key);
    }
    uint32_t ch = typed_char(k, code);
    if (!ch) return swallowed ? 0 : answer;
    m.special = -1;
    answer = make_event(m, (ch & flag::key_mask) | (ch > 0xFFFF ? 0 : mods), evt::key);
    return swallowed ? 0 : answer;
}

int key_release(GdkEventKey& k, uint32_t window, GdkEvent* e) {
    if (!k.send_event) {
        // Input methods follow releases too (a dropped modifier ends a step).
        Message release;
        bool taken = false;
        views::filter_key(window, k, release, 0, taken);
    }
    uint32_t code = 0;
    GdkKeymap* map = gdk_keymap_get_for_display(gdk_display_get_default());
    guint level0 = 0;
    if (gdk_keymap_translate_keyboard_state(map, k.hardware_keycode, GdkModifierType(0), k.group,
                                            &level0, nullptr, nullptr, nullptr))
        code = spine::key_code_of(level0);
    if (!code) code = spine::key_code_of(k.keyval);
    if (!code) return 1;
    Message m = message_of_event(e, window);
    m.keyval = k.keyval;
    m.key_code = code;
    m.special = character_key(code) ? -1 : special_of(code, k.keyval);
    uint32_t shown = code;
    if (m.special < 0)
        if (uint32_t c = spine::key_char(code)) shown = c;
    uint32_t mods = modifier_state(k.state);
    if (modifier_override < 0) {
        // The state of a release still holds the modifier being released.
        if (code == 0x10) mods &= ~flag::shift;
        if (code == 0x11) mods &= ~flag::control;
        if (code == 0x12) mods &= ~flag::alt;
    }
    return make_event(m, shown | mods, evt::key_up);
}

// The window that takes a key: the focused face widget of the top-level window.
uint32_t key_window(GtkWidget* w, uint32_t fallback) {
    GtkWidget* top = gtk_widget_get_toplevel(w);
    if (GTK_IS_WINDOW(top))
        if (GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top)))
            if (uint32_t h = spine::face_window_of(focus)) return h;
    return fallback;
}

int prefilter(GdkEvent* e, uint32_t window) {
    GtkWidget* w = windows::get(window);
    WidgetRecord* r = w ? record_of(w) : nullptr;
    if (!r) return 1;
    switch (e->type) {
    case GDK_ENTER_NOTIFY:
        // Entering is a move into the window (back from a child, too): some
        // widgets ask for no motion, and a warp may bring none.
        if (e->crossing.mode != GDK_CROSSING_NORMAL) return 1;
        [[fallthrough]];
    case GDK_MOTION_NOTIFY: {
        Message m = message_of_event(e, window);
        if (window == last_window && m.x == last_x && m.y == last_y) return 0;
        last_window = window;
        last_x = m.x;
        last_y = m.y;
        int answer = 1;
        bool over_again = window == hover_window && !(r->native_flags & 0x1);
        if (gtk_widget_is_sensitive(w) && !over_again)
            answer = make_event(m, flags_of_state(e->type == GDK_ENTER_NOTIFY ? e->crossing.state : e->motion.state,
                                                  true, true),
                                evt::over);
        hover_window = window;
        return answer;
    }
    case GDK_LEAVE_NOTIFY: {
        // Leaving for a child window is leaving too, as the pointer is no
        // longer over the window's own area.
        if (e->crossing.mode != GDK_CROSSING_NORMAL) return 1;
        last_window = 0;
        last_x = last_y = INT32_MIN;
        Message m = message_of_event(e, window);
        make_event(m, flags_of_state(e->crossing.state, true, true) | flag::away, evt::over);
        if (hover_window == window) hover_window = 0;
        return 1;
    }
    case GDK_SCROLL: {
        Message m = message_of_event(e, window);
        switch (e->scroll.direction) {
        case GDK_SCROLL_UP: m.wheel = 1.0; break;
        case GDK_SCROLL_DOWN: m.wheel = -1.0; break;
        case GDK_SCROLL_SMOOTH: m.wheel = -e->scroll.delta_y; break;
        default: return 1;
        }
        return make_event(m, flags_of_state(e->scroll.state, true, true) & ~flag::alt, evt::wheel);
    }
    case GDK_BUTTON_PRESS: {
        uint32_t type = button_event(e->button.button, true);
        if (!type) return 1;
        Message m = message_of_event(e, window);
        uint32_t flags = flags_of_state(e->button.state, true, true) | button_flag(e->button.button);
        return make_event(m, flags, type);
    }
    case GDK_2BUTTON_PRESS: {
        // The press before it has sent `down` already.
        if (e->button.button != 1) return 1;
        Message m = message_of_event(e, window);
        make_event(m, flags_of_state(e->button.state, true, true) | flag::down, evt::dbl_click);
        return 1;
    }
    case GDK_BUTTON_RELEASE: {
        uint32_t type = button_event(e->button.button, false);
        if (!type) return 1;
        Message m = message_of_event(e, window);
        uint32_t flags = flags_of_state(e->button.state, true, true) & ~button_flag(e->button.button);
        return make_event(m, flags, type);
    }
    case GDK_KEY_PRESS: return key_press(e->key, key_window(w, window), e);
    case GDK_KEY_RELEASE: return key_release(e->key, key_window(w, window), e);
    default: return 1;
    }
}

void handle(GdkEvent* e, gpointer) {
    GtkWidget* w = gtk_get_event_widget(e);
    uint32_t window = w ? spine::face_window_of(w) : 0;
    int answer = window ? prefilter(e, window) : 1;
    if (!answer) return;
    Message m;
    if (window) m = message_of_event(e, window);
    Message* saved = current;
    current = &m;
    gtk_main_do_event(e);
    current = saved;
}

// --- make-event ---

Cell awake_function() {
    Cell awake = spine::system_field({"view", "awake"});
    return interp::is_callable(type_of(awake)) ? awake : none_cell();
}

uint32_t sym_awake() {
    static uint32_t s = symbol::make("awake");
    return s;
}

}  // namespace

// Calls a function with one argument under a catch of every error and exit;
// answers its result (the error after an error). Tracing is off meanwhile.
Cell spine::call_guarded(const Cell& fn, const Cell& arg, uint32_t name) {
    Cell* base = stack::s.base;
    Cell* top = stack::s.top;
    stack::Frame* frame = stack::s.frame_top;
    bool tracing = trace::on;
    trace::on = false;
    Cell result = none_cell();
    try {
        stack::mark(name, 0, stack::kind_bits(stack::kind::try_all));
        Cell* args = stack::push(arg);
        stack::push(fn);
        stack::Status st = interp::call(args[1], args, is(arg, Type::unset) ? 0 : 1, name);
        if (st == stack::ok) result = stack::s.top[-1];
        stack::cut_back(frame - 1, base, top);
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) {
            trace::on = tracing;
            throw;
        }
        stack::cut_back(frame - 1, base, top);
        result = errors::pending();
    }
    stack::s.frame_top = frame;
    trace::on = tracing;
    return result;
}

namespace {

Cell dispatch(const Cell& event) {
    Cell awake = awake_function();
    if (is(awake, Type::none)) return none_cell();
    return spine::call_guarded(awake, event, sym_awake());
}

}  // namespace

Message* current_message() { return current; }

uint32_t keyboard_state(bool with_buttons) {
    GdkDisplay* d = gdk_display_get_default();
    if (!d) return 0;
    GdkKeymap* map = gdk_keymap_get_for_display(d);
    guint state = gdk_keymap_get_modifier_state(map);
    if (with_buttons) {
        GdkSeat* seat = gdk_display_get_default_seat(d);
        GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
        GdkScreen* screen = gdk_display_get_default_screen(d);
        if (pointer && screen) {
            GdkModifierType mask;
            gdk_window_get_device_position(gdk_screen_get_root_window(screen), pointer, nullptr, nullptr, &mask);
            state |= mask;
        }
    }
    return flags_of_state(state, with_buttons, true);
}

int make_event(Message& m, uint32_t flags, uint32_t type) {
    uint32_t w3 = 0;
    switch (type) {
    case evt::over: case evt::key: case evt::key_down: case evt::key_up: w3 = flags; break;
    case evt::down: case evt::up: case evt::mid_down: case evt::mid_up: case evt::alt_down:
    case evt::alt_up: case evt::aux_down: case evt::aux_up: case evt::dbl_click: case evt::wheel:
        w3 = flags;
        break;
    case evt::click: w3 = keyboard_state(false); break;
    case evt::select: w3 = (flags + 1) & 0xFFFF; break;
    case evt::change: w3 = flags & 0xFFFF; break;
    case evt::menu: w3 = flags & 0xFFFF; break;
    default: break;
    }
    uint32_t id = spine::open_message(m);
    Cell event = spine::native_event(type, id, w3);
    int32_t loops = loop_counter();
    Cell result = dispatch(event);
    spine::close_message(id);
    if (loop_counter() < loops) post_quit();
    if (is(result, Type::word)) {
        static const uint32_t stop = symbol::resolve(symbol::make("stop"));
        if (symbol::resolve(word_symbol(result)) == stop) return 0;
    }
    return 1;
}

namespace spine {

void install_prefilter() { gdk_event_handler_set(handle, nullptr, nullptr); }

uint32_t key_code_of(uint32_t keyval) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return keyval - GDK_KEY_a + 0x41;
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return keyval - GDK_KEY_A + 0x41;
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return keyval - GDK_KEY_0 + 0x30;
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return keyval - GDK_KEY_KP_0 + 0x60;
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) return keyval - GDK_KEY_F1 + 0x70;
    for (const KeyEntry& k : key_table)
        if (k.keyval == keyval) return k.code;
    return 0;
}

uint32_t key_char(uint32_t code) {
    if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A)) return code;
    if (code >= 0x60 && code <= 0x69) return '0' + (code - 0x60);
    switch (code) {
    case 0x08: case 0x09: case 0x0D: case 0x1B: case 0x20: return code;
    case 0x6A: return '*';
    case 0x6B: return '+';
    case 0x6D: return '-';
    case 0x6E: return '.';
    case 0x6F: return '/';
    default: break;
    }
    for (auto [c, ch] : punctuation)
        if (c == code) return uint32_t(ch);
    return 0;
}

uint32_t keyval_of_char(uint32_t cp) { return gdk_unicode_to_keyval(cp); }

uint32_t face_window_of(GtkWidget* w) {
    for (; w; w = gtk_widget_get_parent(w))
        if (WidgetRecord* r = record_of(w))
            if (r->face_slot && !r->cleaned) return r->handle;
    return 0;
}

void pointer_in(uint32_t window, int32_t& x, int32_t& y) {
    x = y = 0;
    GdkDisplay* d = gdk_display_get_default();
    GtkWidget* w = client_of(window);
    if (!d || !w) return;
    GdkSeat* seat = gdk_display_get_default_seat(d);
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return;
    int px, py, ox, oy;
    gdk_device_get_position(pointer, nullptr, &px, &py);
    if (widget_origin(w, ox, oy)) {
        x = px - ox;
        y = py - oy;
    }
}

// --- sending events from scripts ---

bool send_event(const Cell& event, bool queued) {
    if (!is(event, Type::event) || !(event.header & 0x1000) || !event.w2) return false;
    Cell face = *block::rs_abs_at(series_cell(Type::block, event.w2), 0);
    uint32_t window = is(face, Type::object) ? face_handle(face) : 0;
    GtkWidget* w = windows::get(window);
    if (!w) return false;
    GtkWidget* target = client_of(window);
    GdkWindow* gw = gtk_widget_get_window(target);
    if (!gw) return false;
    uint32_t type = event.w1, w3 = event.w3;
    Cell offset = *block::rs_abs_at(series_cell(Type::block, event.w2), 2);
    Cell picked = *block::rs_abs_at(series_cell(Type::block, event.w2), 3);
    int32_t x = 0, y = 0;
    if (is(offset, Type::pair)) {
        x = to_physical(pair_x(offset));
        y = to_physical(pair_y(offset));
    } else if (is(offset, Type::point2d)) {
        x = to_physical(point_coord(offset, 0));
        y = to_physical(point_coord(offset, 1));
    }
    // Coordinates of a widget without a GDK window of its own start at its allocation.
    int wx = x, wy = y;
    if (!gtk_widget_get_has_window(target)) {
        GtkAllocation a;
        gtk_widget_get_allocation(target, &a);
        wx += a.x;
        wy += a.y;
    }
    int ox = 0, oy = 0;
    widget_origin(target, ox, oy);
    guint state = 0;
    if (w3 & flag::control) state |= GDK_CONTROL_MASK;
    if (w3 & flag::shift) state |= GDK_SHIFT_MASK;
    if (w3 & flag::alt) state |= GDK_MOD1_MASK;
    if (w3 & flag::down) state |= GDK_BUTTON1_MASK;
    if (w3 & flag::mid_down) state |= GDK_BUTTON2_MASK;
    if (w3 & flag::alt_down) state |= GDK_BUTTON3_MASK;
    GdkDisplay* display = gdk_window_get_display(gw);
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkEvent* e = nullptr;
    bool key_message = false;
    auto button = [&](GdkEventType t, guint b) {
        e = gdk_event_new(t);
        e->button.button = b;
        e->button.x = wx;
        e->button.y = wy;
        e->button.x_root = ox + x;
        e->button.y_root = oy + y;
        e->button.state = state;
        gdk_event_set_device(e, gdk_seat_get_pointer(seat));
    };
    switch (type) {
    case evt::down: button(GDK_BUTTON_PRESS, 1); break;
    case evt::up: button(GDK_BUTTON_RELEASE, 1); break;
    case evt::mid_down: button(GDK_BUTTON_PRESS, 2); break;
    case evt::mid_up: button(GDK_BUTTON_RELEASE, 2); break;
    case evt::alt_down: button(GDK_BUTTON_PRESS, 3); break;
    case evt::alt_up: button(GDK_BUTTON_RELEASE, 3); break;
    case evt::aux_down: button(GDK_BUTTON_PRESS, 8); break;
    case evt::aux_up: button(GDK_BUTTON_RELEASE, 8); break;
    case evt::dbl_click: button(GDK_2BUTTON_PRESS, 1); break;
    case evt::wheel:
        e = gdk_event_new(GDK_SCROLL);
        e->scroll.direction = GDK_SCROLL_SMOOTH;
        e->scroll.delta_y = is(picked, Type::integer) ? -double(int_of(picked)) : 0.0;
        e->scroll.x = wx;
        e->scroll.y = wy;
        e->scroll.x_root = ox + x;
        e->scroll.y_root = oy + y;
        e->scroll.state = state;
        gdk_event_set_device(e, gdk_seat_get_pointer(seat));
        break;
    case evt::over:
        if (w3 & flag::away) {
            e = gdk_event_new(GDK_LEAVE_NOTIFY);
            e->crossing.x = wx;
            e->crossing.y = wy;
            e->crossing.x_root = ox + x;
            e->crossing.y_root = oy + y;
            e->crossing.state = state;
            e->crossing.detail = GDK_NOTIFY_NONLINEAR;
        } else {
            e = gdk_event_new(GDK_MOTION_NOTIFY);
            e->motion.x = wx;
            e->motion.y = wy;
            e->motion.x_root = ox + x;
            e->motion.y_root = oy + y;
            e->motion.state = state;
            last_window = 0;
            last_x = last_y = INT32_MIN;
        }
        gdk_event_set_device(e, gdk_seat_get_pointer(seat));
        break;
    case evt::key_down: case evt::key_up: case evt::key: {
        uint32_t cp = w3 & flag::key_mask;
        guint keyval = keyval_of_char(cp);
        GdkKeymapKey* keys = nullptr;
        gint n = 0;
        GdkKeymap* map = gdk_keymap_get_for_display(display);
        guint16 keycode = 0;
        guint8 group = 0;
        if (gdk_keymap_get_entries_for_keyval(map, keyval, &keys, &n) && n > 0) {
            keycode = guint16(keys[0].keycode);
            group = guint8(keys[0].group);
            if (type != evt::key) {
                // A key message names the key: its level-0 keyval.
                GdkKeymapKey base_key = {keys[0].keycode, keys[0].group, 0};
                guint k0 = gdk_keymap_lookup_key(map, &base_key);
                if (k0) keyval = k0;
            }
        }
        g_free(keys);
        e = gdk_event_new(type == evt::key_up ? GDK_KEY_RELEASE : GDK_KEY_PRESS);
        e->key.keyval = keyval;
        e->key.hardware_keycode = keycode;
        e->key.group = group;
        e->key.state = state;
        e->key.send_event = type == evt::key ? 0x10 : type == evt::key_down ? 0x20 : 1;
        gdk_event_set_device(e, gdk_seat_get_keyboard(seat));
        key_message = true;
        break;
    }
    default: return false;
    }
    e->any.window = GDK_WINDOW(g_object_ref(gw));
    if (e->any.send_event == 0) e->any.send_event = 1;
    if (queued) {
        gdk_display_put_event(display, e);
    } else {
        int64_t saved = modifier_override;
        if (key_message) modifier_override = w3 & 0x73C00000;
        try {
            handle(e, nullptr);
        } catch (...) {
            modifier_override = saved;
            gdk_event_free(e);
            throw;
        }
        modifier_override = saved;
    }
    gdk_event_free(e);
    return true;
}

}  // namespace spine

// Each loop runs without a modifier override, and puts back the one it found.
int64_t swap_modifier_override(int64_t value) {
    int64_t old = modifier_override;
    modifier_override = value;
    return old;
}

}  // namespace zan::gui
