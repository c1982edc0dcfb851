// Fonts and paragraphs of widgets, and text measurement (size-text).
//
// A font object's `state` block holds [scaled font, renderer's description,
// font at 96 DPI]: items 1 and 3 are handle!s (class font) of
// PangoFontDescriptions in the externals table, freed by the collector once
// no value holds them. The size is absolute (pixels at the DPI), so a
// measurement with the 96-DPI font is already in face units.
//
// Paragraphs become label and entry alignments, button label alignment and
// text view justification and wrapping. A `text` is left and top aligned by
// default and wraps; `middle` centres it vertically, `bottom` stays at the
// top (a static control has no bottom alignment).
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/backend/spine.h"
#include "gui/backend/text_box.h"
#include "gui/backend/views.h"
#include "platform/gtk_start.h"
#include "runtime/collector.h"
#include "runtime/externals.h"

namespace zan::gui::views {

namespace {

int g_font_kind = 0;

void free_description(void* p) { pango_font_description_free(static_cast<PangoFontDescription*>(p)); }

int font_kind() {
    if (!g_font_kind) g_font_kind = externals::register_kind("font", free_description);
    return g_font_kind;
}

Cell field(const Cell& obj, const char* name) { return get_field(obj, name); }

// The default GUI font: gtk-font-name as the back end read it at start.
std::string default_family() {
    Cell f = spine::system_field({"view", "fonts", "system"});
    return is(f, Type::string) ? string::to_utf8(f) : std::string("Sans");
}
double default_size() {
    Cell s = spine::system_field({"view", "fonts", "size"});
    return is(s, Type::integer) && int_of(s) > 0 ? int_of(s) : 10.0;
}

bool has_style(const Cell& style, const char* name) {
    if (word_is(style, name)) return true;
    bool found = false;
    if (is(style, Type::block)) {
        int32_t n = block::rs_length(style), at = int32_t(series_index(style));
        for (int32_t i = 0; i < n; ++i) found = found || word_is(*block::rs_abs_at(style, at + i), name);
    }
    return found;
}

PangoFontDescription* make_description(const Cell& font, double dpi_value) {
    PangoFontDescription* d = pango_font_description_new();
    Cell name = is(font, Type::object) ? field(font, "name") : none_cell();
    std::string family = is(name, Type::string) ? render::font_family_name(string::to_utf8(name)) : default_family();
    pango_font_description_set_family(d, family.c_str());
    Cell size = is(font, Type::object) ? field(font, "size") : none_cell();
    double points = is(size, Type::integer) && int_of(size) > 0 ? int_of(size) : default_size();
    pango_font_description_set_absolute_size(d, points * dpi_value / 72.0 * PANGO_SCALE);
    Cell style = is(font, Type::object) ? field(font, "style") : none_cell();
    if (has_style(style, "bold")) pango_font_description_set_weight(d, PangoWeight(700));
    if (has_style(style, "italic")) pango_font_description_set_style(d, PANGO_STYLE_ITALIC);
    return d;
}

Cell* state_slot(const Cell& font, int item) {
    Cell* st = is(font, Type::object) ? context::get_by_symbol(symbol::make("state"), object::context_node(font)) : nullptr;
    if (!st || !is(*st, Type::block) || block::rs_length(*st) <= item) return nullptr;
    return block::rs_abs_at(*st, int32_t(series_index(*st)) + item);
}

PangoFontDescription* cached(const Cell& font, int item) {
    Cell* h = state_slot(font, item);
    if (!h || !is(*h, Type::handle) || int32_t(h->w3) < 0 || externals::kind_of(int32_t(h->w3)) != font_kind())
        return nullptr;
    return static_cast<PangoFontDescription*>(externals::resource(int32_t(h->w3)));
}

void store(const Cell& font_in, int item, PangoFontDescription* d) {
    Cell font = font_in;
    collector::Root keep(font);
    Cell* st = context::get_by_symbol(symbol::make("state"), object::context_node(font));
    if (!st) {
        pango_font_description_free(d);
        return;
    }
    if (!is(*st, Type::block)) {
        Cell blk;
        collector::Root kb(blk);
        block::make_at(blk, 3);
        for (int k = 0; k < 3; ++k) block::rs_append(blk, none_cell());
        if ((st = context::get_by_symbol(symbol::make("state"), object::context_node(font)))) *st = blk;
    }
    Cell blk = *context::get_by_symbol(symbol::make("state"), object::context_node(font));
    collector::Root kb(blk);
    while (block::rs_length(blk) < 3) block::rs_append(blk, none_cell());
    int32_t index = externals::add(d, font_kind());
    *block::rs_abs_at(blk, int32_t(series_index(blk)) + item) = make_cell(Type::handle, 4, uint32_t(index), uint32_t(index));
}

// Takes an item's font out of the state; answers its externals record (-1: none).
int32_t take_item(const Cell& font, int item) {
    Cell* h = state_slot(font, item);
    if (!h || !is(*h, Type::handle)) return -1;
    int32_t index = int32_t(h->w3) >= 0 && externals::kind_of(int32_t(h->w3)) == font_kind() ? int32_t(h->w3) : -1;
    *h = none_cell();
    return index;
}

float align_of(const Cell& v, const char* low, const char* mid, const char* high, float otherwise) {
    if (word_is(v, low)) return 0.0f;
    if (word_is(v, mid)) return 0.5f;
    if (word_is(v, high)) return 1.0f;
    return otherwise;
}

}  // namespace

PangoFontDescription* font_of(const Cell& font_in, bool scaled) {
    Cell font = font_in;
    collector::Root keep(font);
    int item = scaled ? 0 : 2;
    if (!is(font, Type::object)) return nullptr;
    if (PangoFontDescription* d = cached(font, item)) return d;
    // The 96-DPI twin is made first, as the scaled one is asked for.
    if (scaled && !cached(font, 2)) store(font, 2, make_description(font, 96.0));
    store(font, item, make_description(font, scaled ? 96.0 * dpi_factor() : 96.0));
    return cached(font, item);
}

void apply_font(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    ViewState* s = state_of(window);
    WidgetRecord* r = record_of(windows::get(window));
    if (!s || !r) return;
    if (r->kind == Kind::base || r->kind == Kind::rich_text || r->kind == Kind::camera) {
        gtk_widget_queue_draw(s->main);
        return;
    }
    Cell font = get_facet(face, facet::font);
    GtkWidget* target = r->kind == Kind::window ? r->inner : s->main;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (!is(font, Type::object)) {
        gtk_widget_override_font(target, nullptr);
        gtk_widget_override_color(target, GTK_STATE_FLAG_NORMAL, nullptr);
        return;
    }
    PangoFontDescription* d = font_of(font, true);
    gtk_widget_override_font(target, d);
    if (GtkWidget* child = GTK_IS_BUTTON(s->main) ? gtk_bin_get_child(GTK_BIN(s->main)) : nullptr)
        gtk_widget_override_font(child, d);
    Cell colour = field(font, "color");
    if (is(colour, Type::tuple)) {
        uint8_t b[12];
        tuple_bytes(colour, b);
        GdkRGBA c = {b[0] / 255.0, b[1] / 255.0, b[2] / 255.0, tuple_length(colour) >= 4 ? (255 - b[3]) / 255.0 : 1.0};
        gtk_widget_override_color(target, GTK_STATE_FLAG_NORMAL, &c);
    } else {
        gtk_widget_override_color(target, GTK_STATE_FLAG_NORMAL, nullptr);
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    // Underline and strike are attributes of the text, not of the font.
    Cell style = field(font, "style");
    PangoAttrList* attrs = pango_attr_list_new();
    if (has_style(style, "underline")) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (has_style(style, "strike")) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
    GtkWidget* label = GTK_IS_LABEL(s->main) ? s->main
                       : GTK_IS_BUTTON(s->main) && GTK_IS_LABEL(gtk_bin_get_child(GTK_BIN(s->main)))
                           ? gtk_bin_get_child(GTK_BIN(s->main))
                           : nullptr;
    if (label) gtk_label_set_attributes(GTK_LABEL(label), attrs);
    else if (GTK_IS_ENTRY(s->main)) gtk_entry_set_attributes(GTK_ENTRY(s->main), attrs);
    pango_attr_list_unref(attrs);
    cairo_font_options_t* o = cairo_font_options_create();
    Cell aa = field(font, "anti-alias?");
    cairo_font_options_set_antialias(o, is(aa, Type::logic) && !logic_of(aa) ? CAIRO_ANTIALIAS_NONE
                                        : word_is(aa, "ClearType")           ? CAIRO_ANTIALIAS_SUBPIXEL
                                                                             : CAIRO_ANTIALIAS_GRAY);
    gtk_widget_set_font_options(target, o);
    cairo_font_options_destroy(o);
    gtk_widget_queue_resize(target);
}

void apply_para(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    ViewState* s = state_of(window);
    WidgetRecord* r = record_of(windows::get(window));
    if (!s || !r) return;
    Cell para = get_facet(face, facet::para);
    bool given = is(para, Type::object);
    Cell align = given ? field(para, "align") : none_cell();
    Cell valign = given ? field(para, "v-align") : none_cell();
    Cell wrap_v = given ? field(para, "wrap?") : none_cell();
    bool wrap = given && (is(wrap_v, Type::none) || (is(wrap_v, Type::logic) && logic_of(wrap_v)));
    switch (r->kind) {
    case Kind::text: {
        GtkLabel* l = GTK_LABEL(s->main);
        float x = align_of(align, "left", "center", "right", 0.0f);
        gtk_label_set_xalign(l, x);
        gtk_label_set_justify(l, x == 0.5f ? GTK_JUSTIFY_CENTER : x == 1.0f ? GTK_JUSTIFY_RIGHT : GTK_JUSTIFY_LEFT);
        gtk_label_set_yalign(l, word_is(valign, "middle") ? 0.5f : 0.0f);
        bool wraps = !given || wrap;
        gtk_label_set_line_wrap(l, wraps);
        gtk_label_set_ellipsize(l, wraps ? PANGO_ELLIPSIZE_NONE : PANGO_ELLIPSIZE_END);
        break;
    }
    case Kind::button: case Kind::toggle: case Kind::check: case Kind::radio: {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(s->main));
        if (!GTK_IS_LABEL(child)) break;
        float centre = r->kind == Kind::button || r->kind == Kind::toggle ? 0.5f : 0.0f;
        gtk_label_set_xalign(GTK_LABEL(child), align_of(align, "left", "center", "right", centre));
        gtk_label_set_yalign(GTK_LABEL(child), align_of(valign, "top", "middle", "bottom", 0.5f));
        break;
    }
    case Kind::field: gtk_entry_set_alignment(GTK_ENTRY(s->main), align_of(align, "left", "center", "right", 0.0f)); break;
    case Kind::area: {
        float x = align_of(align, "left", "center", "right", 0.0f);
        gtk_text_view_set_justification(GTK_TEXT_VIEW(s->main), x == 0.5f   ? GTK_JUSTIFY_CENTER
                                                                 : x == 1.0f ? GTK_JUSTIFY_RIGHT
                                                                             : GTK_JUSTIFY_LEFT);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(s->main), wrap ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
        break;
    }
    default: gtk_widget_queue_draw(s->main); break;
    }
}

void update_para(const Cell& face_in, int32_t) {
    Cell face = face_in;
    collector::Root keep(face);
    Cell st = get_facet(face, facet::state);
    if (!is(st, Type::block) || !is(get_facet(face, facet::type), Type::word)) return;
    if (uint32_t h = face_handle(face)) apply_para(face, h);
    st = get_facet(face, facet::state);
    if (block::rs_length(st) > 1) {
        Cell* mask = block::rs_abs_at(st, int32_t(series_index(st)) + 1);
        if (is(*mask, Type::integer)) *mask = integer_cell(int_of(*mask) | 0x40000);
    }
}

// Name, size, style, angle and anti-aliasing make a new font; other fields
// (colour ...) are read when the font is applied.
void update_font(const Cell& font_in, int32_t index) {
    if (index != 0 && index != 1 && index != 2 && index != 3 && index != 5) return;
    Cell font = font_in;
    collector::Root keep(font);
    // The old fonts go only after the new are made: the new handles differ.
    int32_t old_scaled = take_item(font, 0), old_plain = take_item(font, 2);
    font_of(font, true);
    if (old_scaled >= 0) externals::remove(old_scaled, true);
    if (old_plain >= 0) externals::remove(old_plain, true);
}

// --- size-text -------------------------------------------------------------------------------

void text_size(const Cell& face_in, const Cell& text_in, Cell& out) {
    Cell face = face_in, text = text_in;
    collector::Root keep(face), keep_text(text);
    // The default font is the desktop's; ask for it when a display is there.
    if (!running() && platform::gtk::start()) ensure_started();
    Kind kind = kind_of_face(face);
    bool drawn = kind == Kind::base || kind == Kind::rich_text || kind == Kind::window || kind == Kind::panel;
    Cell font = get_facet(face, facet::font);
    PangoFontDescription* own = is(font, Type::object) ? nullptr : make_description(none_cell(), 96.0);
    PangoFontDescription* d = own ? own : font_of(font, false);
    // One layout serves every measure: only what is set below differs.
    static PangoLayout* l = nullptr;
    // (pango notices a changed context by its serial on its own)
    if (!l) l = pango_layout_new(render::text_context());
    pango_layout_set_width(l, -1);
    pango_layout_set_font_description(l, d);
    std::string t = string::to_utf8(text);
    pango_layout_set_text(l, t.c_str(), int(t.size()));
    double scale = 1.0;
    if (drawn) {
        Cell para = get_facet(face, facet::para);
        Cell wrap = is(para, Type::object) ? field(para, "wrap?") : none_cell();
        double w = 0, h = 0;
        if (is(para, Type::object) && (is(wrap, Type::none) || (is(wrap, Type::logic) && logic_of(wrap))) &&
            coords(get_facet(face, facet::size), w, h) && w > 0) {
            pango_layout_set_width(l, int(w * PANGO_SCALE));
            pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
        }
        scale = 0.98;
    }
    PangoRectangle logical;
    pango_layout_get_extents(l, nullptr, &logical);
    if (own) pango_font_description_free(own);
    out = point_cell(Type::point2d, float(logical.width / double(PANGO_SCALE) * scale),
                     float(logical.height / double(PANGO_SCALE)));
}

// --- the font requester --------------------------------------------------------------------

void request_font(Cell* args) {
    Cell font = args[0];
    collector::Root keep(font);
    if (!running() && !platform::gtk::start()) {
        args[0] = none_cell();
        return;
    }
    ensure_started();
    GtkWidget* dlg = gtk_font_chooser_dialog_new("Font", nullptr);
    gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
    if (is(args[1], Type::object))
        if (PangoFontDescription* d = font_of(args[1], false)) gtk_font_chooser_set_font_desc(GTK_FONT_CHOOSER(dlg), d);
    if (is(args[2], Type::logic) && logic_of(args[2]))
        gtk_font_chooser_set_filter_func(
            GTK_FONT_CHOOSER(dlg),
            [](const PangoFontFamily* f, const PangoFontFace*, gpointer) -> gboolean {
                return pango_font_family_is_monospace(const_cast<PangoFontFamily*>(f));
            },
            nullptr, nullptr);
    gint answer = gtk_dialog_run(GTK_DIALOG(dlg));
    PangoFontDescription* chosen = answer == GTK_RESPONSE_OK ? gtk_font_chooser_get_font_desc(GTK_FONT_CHOOSER(dlg)) : nullptr;
    gtk_widget_destroy(dlg);
    if (!chosen || !is(font, Type::object)) {
        if (chosen) pango_font_description_free(chosen);
        args[0] = none_cell();
        return;
    }
    Cell name;
    string::rs_make_at(name, 32);
    string::append_utf8(series_node(name), pango_font_description_get_family(chosen) ? pango_font_description_get_family(chosen) : "");
    {
        collector::Root keep_name(name);
        set_field_quiet(font, "name", name);
    }
    set_field_quiet(font, "size", integer_cell(pango_font_description_get_size(chosen) / PANGO_SCALE));
    bool bold = pango_font_description_get_weight(chosen) >= PANGO_WEIGHT_BOLD;
    bool italic = pango_font_description_get_style(chosen) != PANGO_STYLE_NORMAL;
    pango_font_description_free(chosen);
    if (bold && italic) {
        Cell blk;
        collector::Root kb(blk);
        block::make_at(blk, 2);
        block::rs_append(blk, word::load("bold"));
        block::rs_append(blk, word::load("italic"));
        set_field_quiet(font, "style", blk);
    } else if (bold || italic) {
        set_field_quiet(font, "style", word::load(bold ? "bold" : "italic"));
    }
    args[0] = font;
}

}  // namespace zan::gui::views
