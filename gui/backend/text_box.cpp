// Text on pango: a font object becomes a PangoFontDescription (kept in its
// `state` block), a face's text a PangoLayout with its para settings and the
// styles of a rich-text `data` block, and the layout answers the rich-text
// metrics.
//
// Scripts count characters; pango counts UTF-8 bytes. Every position crosses
// that line through to_byte/to_char. One PangoContext serves measuring and
// painting, with hinting of metrics off and glyph positions unrounded, so a
// measured text paints at the size measured.
#include "gui/backend/text_box.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/image_backend.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "gui/backend/draw_context.h"
#include "gui/backend/draw_walker.h"
#include "gui/backend/render.h"
#include "library/system.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/externals.h"
#include "runtime/unwind.h"

namespace zan::render {

std::string font_family_name(const std::string& name) {
    size_t n = 0, i = 0;
    while (i < name.size() && n < 31) {
        unsigned char ch = static_cast<unsigned char>(name[i]);
        i += ch < 0x80 ? 1 : ch < 0xE0 ? 2 : ch < 0xF0 ? 3 : 4;
        ++n;
    }
    return name.substr(0, std::min(i, name.size()));
}

namespace {

int g_font_kind = 0, g_layout_kind = 0;

void free_font(void* p) { pango_font_description_free(static_cast<PangoFontDescription*>(p)); }
void free_layout(void* p) { g_object_unref(p); }

void register_kinds() {
    if (g_font_kind) return;
    g_font_kind = externals::register_kind("font-description", free_font);
    g_layout_kind = externals::register_kind("text-layout", free_layout);
}

// --- object fields ---------------------------------------------------------------------

Cell* slot(const Cell& obj, const char* name) {
    if (!is(obj, Type::object)) return nullptr;
    return context::get_by_symbol(symbol::make(name), object::context_node(obj));
}
Cell field(const Cell& obj, const char* name) {
    Cell* s = slot(obj, name);
    return s ? *s : none_cell();
}
bool is_word_named(const Cell& v, const char* name) {
    return (is(v, Type::word) || is(v, Type::lit_word)) &&
           symbol::resolve(word_symbol(v)) == symbol::resolve(symbol::make(name));
}
double number(const Cell& v, double otherwise) {
    if (is(v, Type::integer)) return int_of(v);
    if (is(v, Type::float_)) return float_of(v);
    return otherwise;
}
bool point_of(const Cell& v, double& x, double& y) {
    if (is(v, Type::pair)) return x = pair_x(v), y = pair_y(v), true;
    if (is(v, Type::point2d)) return x = point_coord(v, 0), y = point_coord(v, 1), true;
    return false;
}
uint32_t colour_word(const Cell& t) {
    uint8_t b[12];
    tuple_bytes(t, b);
    uint32_t tr = tuple_length(t) >= 4 ? b[3] : 0;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | tr << 24;
}

// --- fonts ----------------------------------------------------------------------------------

// system/view/fonts/<name>, when there is one.
Cell default_font_field(const char* name) {
    Cell* f = system_object::field({"view", "fonts", name});
    return f ? *f : none_cell();
}

PangoFontDescription* build_font(const Cell& font) {
    PangoFontDescription* d = pango_font_description_new();
    Cell name = field(font, "name");
    if (!is(name, Type::string)) name = default_font_field("system");
    pango_font_description_set_family(d, is(name, Type::string) ? font_family_name(string::to_utf8(name)).c_str() : "Sans");
    Cell size = field(font, "size");
    if (!(is(size, Type::integer) && int_of(size) >= 1)) size = default_font_field("size");
    double points = number(size, 10.0);
    if (!(points > 0 && points < 10000)) points = 10.0;
    pango_font_description_set_absolute_size(d, points * 96.0 / 72.0 * PANGO_SCALE);
    Cell style = field(font, "style");
    auto apply_style = [&](const Cell& w) {
        if (is_word_named(w, "bold")) pango_font_description_set_weight(d, PANGO_WEIGHT_BOLD);
        if (is_word_named(w, "italic")) pango_font_description_set_style(d, PANGO_STYLE_ITALIC);
    };
    if (is(style, Type::block)) {
        for (int32_t k = 0, n = block::rs_length(style); k < n; ++k)
            apply_style(*block::rs_abs_at(style, int32_t(series_index(style)) + k));
    } else {
        apply_style(style);
    }
    return d;
}

// The external record of the description cached in the font's state, or -1.
int32_t cached_font(const Cell& font) {
    Cell* st = slot(font, "state");
    if (!st || !is(*st, Type::block) || block::rs_length(*st) < 2) return -1;
    Cell h = *block::rs_abs_at(*st, int32_t(series_index(*st)) + 1);
    if (!is(h, Type::handle) || int32_t(h.w3) < 0 || externals::kind_of(int32_t(h.w3)) != g_font_kind) return -1;
    return int32_t(h.w3);
}

}  // namespace

PangoFontDescription* font_description(const Cell& font_cell) {
    register_kinds();
    Cell font = font_cell;
    collector::Root keep(font);
    if (!is(font, Type::object)) return build_font(none_cell());
    PangoFontDescription* d = build_font(font);
    // The cache stands while the font's fields describe the same font (a
    // copied font carries its original's state along).
    if (int32_t cached = cached_font(font); cached >= 0) {
        auto* old = static_cast<PangoFontDescription*>(externals::resource(cached));
        if (!old || !pango_font_description_equal(old, d)) externals::replace(cached, pango_font_description_copy(d));
        return d;
    }
    // Cached in the state block's second item (made of three nones when the
    // state is not a block).
    Cell* st = slot(font, "state");
    if (!st) return d;
    if (!is(*st, Type::block)) {
        Cell blk;
        collector::Root kb(blk);
        block::make_at(blk, 3);
        for (int k = 0; k < 3; ++k) block::rs_append(blk, none_cell());
        if ((st = slot(font, "state"))) *st = blk;
    }
    st = slot(font, "state");
    if (!st || !is(*st, Type::block)) return d;
    Cell blk = *st;
    collector::Root kb(blk);
    while (block::rs_length(blk) < 2) block::rs_append(blk, none_cell());
    int32_t index = externals::add(pango_font_description_copy(d), g_font_kind);
    *block::rs_abs_at(blk, int32_t(series_index(blk)) + 1) = make_cell(Type::handle, 4, uint32_t(index), uint32_t(index));
    return d;
}

PangoContext* text_context() {
    static PangoContext* ctx = nullptr;
    if (!ctx) {
        ctx = pango_font_map_create_context(pango_cairo_font_map_get_default());
        pango_context_set_round_glyph_positions(ctx, FALSE);
        pango_cairo_context_set_resolution(ctx, 96.0);
    }
    return ctx;
}

void text_setup(cairo_t*, bool image) {
    cairo_font_options_t* o = cairo_font_options_create();
    cairo_font_options_set_antialias(o, image ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_DEFAULT);
    cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(text_context(), o);
    cairo_font_options_destroy(o);
}

void set_font(Context& c, const Cell& font) {
    PangoFontDescription* d = font_description(font);
    if (c.st.font) pango_font_description_free(c.st.font);
    c.st.font = d;
    Cell colour = field(font, "color");
    c.st.font_colour = is(colour, Type::tuple);
    c.st.text_colour = c.st.font_colour ? colour_word(colour) : c.st.pen.colour;
}

namespace {

// --- positions --------------------------------------------------------------------------------

// 1-based character position -> byte index (clamped to the text).
int to_byte(const std::string& s, int64_t pos) {
    int64_t chars = int64_t(g_utf8_strlen(s.c_str(), gssize(s.size())));
    pos = std::clamp<int64_t>(pos, 1, chars + 1);
    return int(g_utf8_offset_to_pointer(s.c_str(), glong(pos - 1)) - s.c_str());
}
// byte index -> 0-based character index
int to_char(const std::string& s, int byte) {
    byte = std::clamp(byte, 0, int(s.size()));
    return int(g_utf8_pointer_to_offset(s.c_str(), s.c_str() + byte));
}

// --- layouts ----------------------------------------------------------------------------------

void add_attr(PangoAttrList* list, PangoAttribute* a, int start, int end) {
    a->start_index = guint(start);
    a->end_index = guint(end);
    pango_attr_list_insert(list, a);
}

PangoAttribute* colour_attr(uint32_t col, bool background, PangoAttribute** alpha) {
    Rgba k = rgba(col);
    auto u16 = [](double v) { return guint16(std::lround(v * 65535)); };
    *alpha = background ? pango_attr_background_alpha_new(u16(k.a)) : pango_attr_foreground_alpha_new(u16(k.a));
    return background ? pango_attr_background_new(u16(k.r), u16(k.g), u16(k.b))
                      : pango_attr_foreground_new(u16(k.r), u16(k.g), u16(k.b));
}

void add_colour(PangoAttrList* list, uint32_t col, bool background, int start, int end) {
    PangoAttribute* alpha;
    add_attr(list, colour_attr(col, background, &alpha), start, end);
    add_attr(list, alpha, start, end);
}

bool colour_value(const Cell& v, uint32_t& out) {
    Cell val = v;
    if (is(v, Type::word)) {
        Cell* s = context::get_by_symbol(word_symbol(v), word_context(v) ? word_context(v) : context::global());
        val = s ? *s : none_cell();
    }
    if (!is(val, Type::tuple)) return false;
    out = colour_word(val);
    return true;
}

// The style block of a rich-text face: ranges, each followed by its styles.
void apply_styles(PangoAttrList* list, const Cell& styles, const std::string& text) {
    int start = 0, end = 0;
    int32_t from = int32_t(series_index(styles)), tail = from + block::rs_length(styles);
    for (int32_t i = from; i < tail; ++i) {
        Cell v = *block::rs_abs_at(styles, i);
        if (is(v, Type::pair)) {
            int64_t s = pair_x(v), len = std::max(0, pair_y(v));
            start = to_byte(text, s);
            end = to_byte(text, s + len);
        } else if (is(v, Type::tuple)) {
            add_colour(list, colour_word(v), false, start, end);
        } else if (is(v, Type::string)) {
            add_attr(list, pango_attr_family_new(font_family_name(string::to_utf8(v)).c_str()), start, end);
        } else if (is(v, Type::integer) || is(v, Type::float_)) {
            double pt = number(v, 10);
            if (pt > 0 && pt < 10000)
                add_attr(list, pango_attr_size_new_absolute(int(pt * 96.0 / 72.0 * PANGO_SCALE)), start, end);
        } else if (is_word_named(v, "bold") && is(v, Type::word)) {
            add_attr(list, pango_attr_weight_new(PANGO_WEIGHT_BOLD), start, end);
        } else if (is_word_named(v, "italic") && is(v, Type::word)) {
            add_attr(list, pango_attr_style_new(PANGO_STYLE_ITALIC), start, end);
        } else if (is_word_named(v, "backdrop") && is(v, Type::word)) {
            uint32_t col;
            if (i + 1 >= tail || !colour_value(*block::rs_abs_at(styles, i + 1), col)) throw_draw_error(styles, uint32_t(i + 1));
            ++i;
            add_colour(list, col, true, start, end);
        } else if (is(v, Type::word) && (is_word_named(v, "underline") || is_word_named(v, "strike") ||
                                         is_word_named(v, "border"))) {
            uint32_t col = 0;
            bool has_colour = i + 1 < tail && is(*block::rs_abs_at(styles, i + 1), Type::tuple);
            if (has_colour) col = colour_word(*block::rs_abs_at(styles, ++i));
            if (i + 1 < tail && is(*block::rs_abs_at(styles, i + 1), Type::lit_word)) ++i;
            if (is_word_named(v, "underline")) {
                add_attr(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), start, end);
                if (has_colour) {
                    Rgba k = rgba(col);
                    add_attr(list, pango_attr_underline_color_new(guint16(k.r * 65535), guint16(k.g * 65535), guint16(k.b * 65535)), start, end);
                }
            } else if (is_word_named(v, "strike")) {
                add_attr(list, pango_attr_strikethrough_new(TRUE), start, end);
                if (has_colour) {
                    Rgba k = rgba(col);
                    add_attr(list, pango_attr_strikethrough_color_new(guint16(k.r * 65535), guint16(k.g * 65535), guint16(k.b * 65535)), start, end);
                }
            }
        } else {
            throw_draw_error(styles, uint32_t(i));
        }
    }
}

// The para's alignments: 0 left/top, 1 centre/middle, 2 right/bottom; wrap.
struct Para {
    int h = 0, v = 0;
    bool wrap = false;
};
Para para_of(const Cell& face) {
    Para p;
    Cell para = field(face, "para");
    if (!is(para, Type::object)) return p;
    Cell a = field(para, "align"), va = field(para, "v-align");
    p.h = is_word_named(a, "center") ? 1 : is_word_named(a, "right") ? 2 : 0;
    p.v = is_word_named(va, "middle") ? 1 : is_word_named(va, "bottom") ? 2 : 0;
    p.wrap = is_truthy(field(para, "wrap?"));
    return p;
}

bool is_rich_text(const Cell& face) { return is_word_named(field(face, "type"), "rich-text"); }

// The layout box of a face: size + 0.5, truncated; 0 where missing.
void box_of(const Cell& face, int& w, int& h) {
    double x = 0, y = 0;
    point_of(field(face, "size"), x, y);
    w = std::isfinite(x) && x > 0 && x < 1e6 ? int(x + 0.5) : 0;
    h = std::isfinite(y) && y > 0 && y < 1e6 ? int(y + 0.5) : 0;
}

PangoLayout* new_layout(const PangoFontDescription* font, const std::string& text) {
    PangoLayout* l = pango_layout_new(text_context());
    pango_layout_set_font_description(l, font);
    pango_layout_set_text(l, text.c_str(), int(text.size()));
    return l;
}

// The offset at which a face's layout is drawn: the alignment inside its box
// where pango does not place it itself.
Point offset_of(const Cell& face, PangoLayout* l) {
    int w, h;
    box_of(face, w, h);
    Para p = para_of(face);
    PangoRectangle ink, logical;
    pango_layout_get_extents(l, &ink, &logical);
    double lw = logical.width / double(PANGO_SCALE), lh = logical.height / double(PANGO_SCALE);
    Point o;
    if (!p.wrap && w > 0) o.x = (w - lw) * p.h / 2.0;
    if (h > 0) o.y = (h - lh) * p.v / 2.0;
    return o;
}

std::string text_of(const Cell& face) {
    Cell t = field(face, "text");
    return is(t, Type::string) ? string::to_utf8(t) : std::string();
}

PangoLayout* layout_face(const Cell& face_cell, bool catch_errors) {
    Cell face = face_cell;
    collector::Root keep(face);
    PangoFontDescription* font = font_description(field(face, "font"));
    std::string text = text_of(face);
    PangoLayout* l = new_layout(font, text);
    pango_font_description_free(font);
    int w, h;
    box_of(face, w, h);
    Para p = para_of(face);
    if (p.wrap && w > 0) {
        pango_layout_set_width(l, w * PANGO_SCALE);
        pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_alignment(l, p.h == 1 ? PANGO_ALIGN_CENTER : p.h == 2 ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT);
    }
    PangoAttrList* list = pango_attr_list_new();
    bool rich = is_rich_text(face);
    if (rich) {
        Cell tabs = field(face, "tabs");
        double t = number(tabs, 0);
        if (t > 0 && t < 1e5) {
            PangoTabArray* arr = pango_tab_array_new(64, FALSE);
            for (int k = 0; k < 64; ++k) pango_tab_array_set_tab(arr, k, PANGO_TAB_LEFT, int((k + 1) * t * PANGO_SCALE));
            pango_layout_set_tabs(l, arr);
            pango_tab_array_free(arr);
        }
        double spacing = number(field(face, "line-spacing"), 0);
        if (spacing > 0 && spacing < 1e5) {
            // Uniform lines at least as tall as the font's own.
            PangoLayout* probe = new_layout(pango_layout_get_font_description(l), "I");
            PangoRectangle r;
            pango_layout_get_extents(probe, nullptr, &r);
            g_object_unref(probe);
            double natural = r.height / double(PANGO_SCALE);
            add_attr(list, pango_attr_line_height_new_absolute(int(std::max(spacing, natural) * PANGO_SCALE)), 0, int(text.size()));
        }
    }
    Cell font_colour = field(field(face, "font"), "color");
    if (is(font_colour, Type::tuple)) add_colour(list, colour_word(font_colour), false, 0, int(text.size()));
    Cell data = field(face, "data");
    if (rich && is(data, Type::block) && block::rs_length(data) >= 2) {
        collector::Root kd(data);
        try {
            apply_styles(list, data, text);
        } catch (const unwind::Thrown& t) {
            if (t.code != unwind::error || !catch_errors) {
                pango_attr_list_unref(list);
                g_object_unref(l);
                throw;
            }
            report_pending_error();
        } catch (const Abandon&) {
        }
    }
    pango_layout_set_attributes(l, list);
    pango_attr_list_unref(list);
    return l;
}

// The layout state of a rich-text face (`handles`): layout handle, target
// handle, the text laid out, layout-needed flag.
void store_state(const Cell& face, PangoLayout* l) {
    register_kinds();
    Cell* hs = slot(face, "handles");
    if (!hs) return;
    if (!is(*hs, Type::block) || block::rs_length(*hs) < 4) {
        Cell blk;
        collector::Root kb(blk);
        block::make_at(blk, 4);
        block::rs_append(blk, none_cell());
        block::rs_append(blk, make_cell(Type::handle, 5, 0, uint32_t(-1)));
        block::rs_append(blk, none_cell());
        block::rs_append(blk, logic_cell(false));
        if ((hs = slot(face, "handles"))) *hs = blk;
        if (!hs) return;
    }
    Cell blk = *hs;
    collector::Root kb(blk);
    int32_t at = int32_t(series_index(blk));
    Cell old = *block::rs_abs_at(blk, at);
    g_object_ref(l);
    if (is(old, Type::handle) && int32_t(old.w3) >= 0 && externals::kind_of(int32_t(old.w3)) == g_layout_kind) {
        externals::replace(int32_t(old.w3), l);
    } else {
        int32_t index = externals::add(l, g_layout_kind);
        *block::rs_abs_at(blk, at) = make_cell(Type::handle, 5, uint32_t(index), uint32_t(index));
    }
    Cell text = field(face, "text");
    Cell copy = none_cell();
    collector::Root kc(copy);
    if (is(text, Type::string)) {
        std::string u = string::to_utf8(text);
        string::load_at(reinterpret_cast<const uint8_t*>(u.data()), uint32_t(u.size()), copy, 0);
    }
    *block::rs_abs_at(blk, at + 2) = copy;
    *block::rs_abs_at(blk, at + 3) = logic_cell(false);
}

PangoLayout* state_layout(const Cell& hs) {
    if (!is(hs, Type::block) || block::rs_length(hs) < 1) return nullptr;
    Cell h = *block::rs_abs_at(hs, int32_t(series_index(hs)));
    if (!is(h, Type::handle) || int32_t(h.w3) < 0 || externals::kind_of(int32_t(h.w3)) != g_layout_kind) return nullptr;
    return static_cast<PangoLayout*>(externals::resource(int32_t(h.w3)));
}

// The alignment offset travels with the layout, for the metrics.
void set_offset(PangoLayout* l, Point o) {
    g_object_set_data_full(G_OBJECT(l), "zan-offset", new Point(o), [](gpointer p) { delete static_cast<Point*>(p); });
}
Point offset_in(PangoLayout* l) {
    auto* p = static_cast<Point*>(g_object_get_data(G_OBJECT(l), "zan-offset"));
    return p ? *p : Point{};
}

}  // namespace

PangoLayout* text_box_layout(const Cell& face, bool catch_errors) {
    PangoLayout* l = layout_face(face, catch_errors);
    set_offset(l, offset_of(face, l));
    if (is_rich_text(face)) store_state(face, l);
    return l;
}

void draw_text(Context& c, Point at, const Cell& text) {
    if (!std::isfinite(at.x) || !std::isfinite(at.y)) return;
    PangoLayout* l;
    Point off;
    if (is(text, Type::string)) {
        if (!c.st.font && !c.default_font) c.default_font = font_description(none_cell());
        l = new_layout(c.st.font ? c.st.font : c.default_font, string::to_utf8(text));
    } else {
        l = text_box_layout(text, c.catch_errors);
        off = offset_of(text, l);
        Cell colour = field(text, "color");
        double w, h;
        if (is(colour, Type::tuple) && point_of(field(text, "size"), w, h) && ready(c)) {
            Rgba k = rgba(colour_word(colour));
            cairo_set_source_rgba(c.cr, k.r, k.g, k.b, k.a);
            cairo_rectangle(c.cr, at.x, at.y, w, h);
            cairo_fill(c.cr);
        }
    }
    if (ready(c)) {
        Rgba k = rgba(c.st.text_colour);
        cairo_set_source_rgba(c.cr, k.r, k.g, k.b, k.a);
        cairo_move_to(c.cr, at.x + off.x, at.y + off.y);
        pango_cairo_show_layout(c.cr, l);
        cairo_new_path(c.cr);
    }
    g_object_unref(l);
}

void paint_face_content(Context& c, const Cell& face) {
    cairo_save(c.cr);
    cairo_set_operator(c.cr, CAIRO_OPERATOR_SOURCE);
    Cell colour = field(face, "color");
    Rgba k = is(colour, Type::tuple) ? rgba(colour_word(colour)) : Rgba{0, 0, 0, 0};
    cairo_set_source_rgba(c.cr, k.r, k.g, k.b, k.a);
    cairo_paint(c.cr);
    cairo_restore(c.cr);
    Cell img = field(face, "image");
    double w = 0, h = 0;
    point_of(field(face, "size"), w, h);
    if (is(img, Type::image)) {
        collector::Root keep(img);
        std::vector<Point> pts{{0, 0}, {w, h}};
        draw_image(c, img, pts, nullptr);
    }
    if (is(field(face, "text"), Type::string) && !is_word_named(field(face, "type"), "window")) {
        PangoLayout* l = text_box_layout(face, true);
        Point off = offset_of(face, l);
        Cell fc = field(field(face, "font"), "color");
        Rgba t = is(fc, Type::tuple) ? rgba(colour_word(fc)) : Rgba{0, 0, 0, 1};
        if (ready(c)) {
            cairo_set_source_rgba(c.cr, t.r, t.g, t.b, t.a);
            cairo_move_to(c.cr, off.x, off.y);
            pango_cairo_show_layout(c.cr, l);
            cairo_new_path(c.cr);
        }
        g_object_unref(l);
    }
}

void text_box_layout_hook(const Cell& box) { g_object_unref(text_box_layout(box, false)); }

// The metrics of a rich-text face's layout state: args handles, arg0, type.
void text_box_metrics(Cell* args) {
    Cell arg = args[1];
    int type = int_of(args[2]);
    PangoLayout* l = state_layout(args[0]);
    if (!l) {
        args[0] = none_cell();
        return;
    }
    g_object_ref(l);
    // Positions count characters of the text laid out.
    std::string text = pango_layout_get_text(l);
    Point off = offset_in(l);
    auto pos_arg = [&]() -> int64_t { return is(arg, Type::integer) ? int_of(arg) : 1; };
    auto pt = [](double x, double y) { return point_cell(Type::point2d, float(x), float(y)); };
    Cell result = none_cell();
    switch (type) {
        case 0:
        case 6: {
            PangoRectangle r;
            pango_layout_index_to_pos(l, to_byte(text, pos_arg()), &r);
            double x = r.x / double(PANGO_SCALE) + off.x, y = r.y / double(PANGO_SCALE) + off.y;
            if (type == 6) {
                x += r.width / double(PANGO_SCALE);
                y += r.height / double(PANGO_SCALE);
            }
            result = pt(x, std::max(0.0, y));
            break;
        }
        case 1:
        case 5: {
            double x = 0, y = 0;
            point_of(arg, x, y);
            int index = 0, trailing = 0;
            pango_layout_xy_to_index(l, int((x - off.x) * PANGO_SCALE), int((y - off.y) * PANGO_SCALE), &index, &trailing);
            int ch = to_char(text, index) + 1;
            if (type == 1 && trailing > 0) ++ch;
            result = integer_cell(ch);
            break;
        }
        case 2: {
            // The line holding the position; past the text, the last line.
            int byte = to_byte(text, pos_arg());
            PangoLayoutIter* it = pango_layout_get_iter(l);
            double height = 0;
            do {
                PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
                PangoRectangle r;
                pango_layout_iter_get_line_extents(it, nullptr, &r);
                height = r.height / double(PANGO_SCALE);
                if (byte < line->start_index + line->length) break;
            } while (pango_layout_iter_next_line(it));
            pango_layout_iter_free(it);
            result = float_cell(height);
            break;
        }
        case 3: {
            PangoRectangle r;
            pango_layout_get_extents(l, nullptr, &r);
            result = pt(r.width / double(PANGO_SCALE), r.height / double(PANGO_SCALE));
            break;
        }
        default:
            result = integer_cell(pango_layout_get_line_count(l));
    }
    g_object_unref(l);
    args[0] = result;
}

}  // namespace zan::render
