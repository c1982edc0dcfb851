// The back end's start and the screens.
//
// Nothing starts at boot: the first routine that needs windows, screens or a
// waiting loop starts GTK (the one start shared with the clipboard) and fills
// the facts of system/view: platform version, build and product, the DPI, the
// scroller size, the theme colours and the system font. Without a display that
// routine raises access error cannot-open naming the display.
//
// DPI: GTK lays out in its own units, device pixels divided by the monitor
// scale. The DPI scripts see is round(t × s) with t the screen resolution
// (96 when unset) and s the scale; faces are t/96 of GTK's units.
#include <sys/utsname.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "gui/backend/backend.h"
#include "gui/backend/spine.h"
#include "platform/gtk_start.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"

namespace zan::gui {

namespace {

bool facts_filled = false;
double resolution = 96.0;  // t
int scale = 1;             // s

Cell string_of(const std::string& s) {
    Node n = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()));
    return series_cell(Type::string, n);
}

Cell tuple3(uint8_t r, uint8_t g, uint8_t b) {
    uint8_t bytes[3] = {r, g, b};
    return tuple::make_of(bytes, 3);
}

Cell rgba_tuple(const GdkRGBA& c) {
    auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return tuple3(byte(c.red), byte(c.green), byte(c.blue));
}

// The field slot of an object; nullptr when absent.
Cell* slot_of(const Cell& object, const char* name) {
    if (!is(object, Type::object)) return nullptr;
    Node ctx = object::context_node(object);
    int32_t i = context::find_word(ctx, symbol::resolve(symbol::make(name)), true);
    return i >= 0 ? context::value_at(ctx, i) : nullptr;
}

void put_map(std::initializer_list<const char*> path, const char* key, const Cell& value) {
    Cell m = spine::system_field(path);
    if (!is(m, Type::map)) return;
    collector::Root keep(m);
    Cell v = value;
    collector::Root keep_v(v);
    Cell k = word::load(key);
    map::put(m, k, v, false);
}

void measure() {
    GdkScreen* screen = gdk_screen_get_default();
    double t = screen ? gdk_screen_get_resolution(screen) : -1.0;
    resolution = t > 0 ? t : 96.0;
    GdkDisplay* d = gdk_display_get_default();
    GdkMonitor* m = d ? gdk_display_get_primary_monitor(d) : nullptr;
    if (!m && d && gdk_display_get_n_monitors(d) > 0) m = gdk_display_get_monitor(d, 0);
    scale = m ? gdk_monitor_get_scale_factor(m) : 1;
    if (scale < 1) scale = 1;
    set_dpi(int32_t(std::lround(resolution * scale)), resolution / 96.0);
}

// The scroll bar's thickness of the theme (Adwaita: 14).
int32_t scroller_size() {
    GtkWidget* bar = gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, nullptr);
    g_object_ref_sink(bar);
    int min = 0, nat = 0;
    gtk_widget_get_preferred_width(bar, &min, &nat);
    gtk_widget_destroy(bar);
    g_object_unref(bar);
    return nat > 0 ? nat : 14;
}

void fill_facts() {
    measure();
    struct utsname u;
    int major = 0, minor = 0, patch = 0;
    if (::uname(&u) == 0) std::sscanf(u.release, "%d.%d.%d", &major, &minor, &patch);
    spine::set_system_field({"view", "platform", "version"},
                            tuple3(uint8_t(major), uint8_t(minor), 0));
    spine::set_system_field({"view", "platform", "build"}, integer_cell(patch));
    spine::set_system_field({"view", "platform", "product"}, integer_cell(1));
    spine::set_system_field({"view", "metrics", "dpi"}, integer_cell(dpi()));
    int32_t bar = scroller_size();
    put_map({"view", "metrics", "misc"}, "scroller", pair_cell(bar, bar));

    GtkWidget* probe = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkStyleContext* style = gtk_widget_get_style_context(probe);
    struct Colour {
        const char* key;
        const char* name;
        GdkRGBA fallback;
    };
    const Colour colours[] = {
        {"text", "theme_text_color", {0, 0, 0, 1}},
        {"window", "theme_base_color", {1, 1, 1, 1}},
        {"panel", "theme_bg_color", {0.96, 0.96, 0.95, 1}},
    };
    for (const Colour& c : colours) {
        GdkRGBA rgba = c.fallback;
        if (!gtk_style_context_lookup_color(style, c.name, &rgba)) rgba = c.fallback;
        put_map({"view", "metrics", "colors"}, c.key, rgba_tuple(rgba));
    }
    gtk_widget_destroy(probe);

    gchar* font_name = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &font_name, nullptr);
    PangoFontDescription* fd = pango_font_description_from_string(font_name ? font_name : "Sans 10");
    const char* family = pango_font_description_get_family(fd);
    int size = pango_font_description_get_size(fd) / PANGO_SCALE;
    if (pango_font_description_get_size_is_absolute(fd)) size = int(std::lround(size * 72.0 / dpi()));
    spine::set_system_field({"view", "fonts", "system"}, string_of(family ? family : "Sans"));
    spine::set_system_field({"view", "fonts", "size"}, integer_cell(size > 0 ? size : 10));
    pango_font_description_free(fd);
    g_free(font_name);
}

// Monitors came or went: the view layer measures its screens again.
void on_monitors_changed(GdkScreen*, gpointer) {
    Cell refresh = spine::system_field({"view", "platform", "refresh-screens"});
    if (is(refresh, Type::function)) spine::call_guarded(refresh, unset_cell(), symbol::make("refresh-screens"));
}

// Another theme or font: the metrics follow.
void on_theme_changed(GObject*, GParamSpec*, gpointer) { fill_facts(); }

bool console_output = false;

// What the cannot-open error names: the display, and which one when the
// environment names one (an empty name told the reader nothing).
std::string display_name() {
    const char* x = std::getenv("DISPLAY");
    if (!(x && *x)) x = std::getenv("WAYLAND_DISPLAY");
    return x && *x ? std::string("display ") + x : std::string("display");
}

}  // namespace

void ensure_started() {
    if (facts_filled) return;
    if (!platform::gtk::start()) {
        Cell name = string_of(display_name());
        errors::fire(errors::id::cannot_open, &name);
    }
    facts_filled = true;
    values::init();
    spine::install_prefilter();
    fill_facts();
    g_signal_connect(gdk_screen_get_default(), "monitors-changed", G_CALLBACK(on_monitors_changed), nullptr);
    GtkSettings* settings = gtk_settings_get_default();
    g_signal_connect(settings, "notify::gtk-theme-name", G_CALLBACK(on_theme_changed), nullptr);
    g_signal_connect(settings, "notify::gtk-font-name", G_CALLBACK(on_theme_changed), nullptr);
}

void set_console_output(bool owns) { console_output = owns; }

void show_error_box(const char* caption, const char* text) {
    if (console_output && running()) {
        GtkWidget* d = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text);
        gtk_window_set_title(GTK_WINDOW(d), caption);
        gtk_dialog_run(GTK_DIALOG(d));
        gtk_widget_destroy(d);
        return;
    }
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

bool running() { return facts_filled; }

namespace spine {

double face_factor() { return resolution / 96.0; }

Cell system_field(std::initializer_list<const char*> path) {
    Cell* sys = context::get_by_symbol(symbol::make("system"), context::global());
    if (!sys) return none_cell();
    Cell v = *sys;
    for (const char* name : path) {
        Cell* s = slot_of(v, name);
        if (!s) return none_cell();
        v = *s;
    }
    return v;
}

bool set_system_field(std::initializer_list<const char*> path, const Cell& value) {
    Cell* sys = context::get_by_symbol(symbol::make("system"), context::global());
    if (!sys) return false;
    Cell v = *sys;
    const char* last = nullptr;
    Cell parent = none_cell();
    for (const char* name : path) {
        if (last) {
            Cell* s = slot_of(v, last);
            if (!s) return false;
            v = *s;
        }
        last = name;
    }
    parent = v;
    Cell* s = slot_of(parent, last);
    if (!s) return false;
    *s = value;
    return true;
}

// Per monitor: offset and size in device pixels, DPI / 96, a monitor handle
// valued its 1-based index.
Cell fetch_all_screens() {
    ensure_started();
    measure();
    GdkDisplay* d = gdk_display_get_default();
    int n = gdk_display_get_n_monitors(d);
    Cell b;
    block::make_at(b, 4 * n);
    collector::Root keep(b);
    for (int i = 0; i < n; ++i) {
        GdkMonitor* m = gdk_display_get_monitor(d, i);
        GdkRectangle g;
        gdk_monitor_get_geometry(m, &g);
        int s = gdk_monitor_get_scale_factor(m);
        block::rs_append(b, pair_cell(g.x * s, g.y * s));
        block::rs_append(b, pair_cell(g.width * s, g.height * s));
        block::rs_append(b, float_cell(std::lround(resolution * s) / 96.0));
        block::rs_append(b, handle::make_cell_of(uint32_t(i + 1), handle::monitor));
    }
    return b;
}

Cell current_screen() {
    ensure_started();
    GdkDisplay* d = gdk_display_get_default();
    GdkSeat* seat = gdk_display_get_default_seat(d);
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    int x = 0, y = 0;
    if (pointer) gdk_device_get_position(pointer, nullptr, &x, &y);
    GdkMonitor* at = gdk_display_get_monitor_at_point(d, x, y);
    for (int i = 0; i < gdk_display_get_n_monitors(d); ++i)
        if (gdk_display_get_monitor(d, i) == at) return handle::make_cell_of(uint32_t(i + 1), handle::monitor);
    return handle::make_cell_of(1, handle::monitor);
}

Cell screen_size() {
    ensure_started();
    measure();
    GdkDisplay* d = gdk_display_get_default();
    GdkMonitor* m = gdk_display_get_primary_monitor(d);
    if (!m) m = gdk_display_get_monitor(d, 0);
    if (!m) return pair_cell(0, 0);
    GdkRectangle g;
    gdk_monitor_get_geometry(m, &g);
    int s = gdk_monitor_get_scale_factor(m);
    int32_t w = g.width * s, h = g.height * s;
    int32_t dp = dpi() > 0 ? dpi() : 96;
    return pair_cell(int32_t(int64_t(w) * 96 / dp), int32_t(int64_t(h) * 96 / dp));
}

}  // namespace spine

}  // namespace zan::gui
