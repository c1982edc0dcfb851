// The draw dialect's walker: reads a block command by command, checks each
// command's arguments by datatype and calls the operations (draw_ops.cpp).
// Also the shape sub-dialect that `shape` and `clip` use.
//
// Keywords are compared by their canonical symbol, so letter case does not
// matter. Values are read by index and copied out of the block each time: a
// font lookup may allocate and move buffers. Nothing here runs script code
// (set-words are set without change handlers), so the block cannot change
// under the walk. Every block being walked sits on the cycle guard; meeting
// one again is draw-infinite at that block.
#include "gui/backend/draw_walker.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/image_backend.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "library/system.h"
#include "runtime/collector.h"
#include "evaluator/stack.h"
#include "runtime/errors.h"

namespace zan::render {

namespace {

// --- keywords ----------------------------------------------------------------------

enum Kw : int {
    k_none = 0,
    // argument words
    k_off, k_linear, k_radial, k_diamond, k_pad, k_repeat, k_reflect, k_pattern, k_bitmap, k_tile,
    k_flip_x, k_flip_y, k_flip_xy, k_clamp, k_miter, k_miter_bevel, k_round, k_bevel, k_flat,
    k_square, k_closed, k_border, k_crop, k_inset, k_replace, k_intersect, k_union, k_xor,
    k_exclude, k_sweep, k_large,
    // shape commands
    k_move, k_hline, k_vline, k_curv, k_qcurve, k_qcurv, k_close,
    // draw commands
    k_pen, k_fill_pen, k_line_width, k_line_join, k_line_cap, k_line_pattern, k_box, k_line,
    k_triangle, k_polygon, k_circle, k_ellipse, k_arc, k_curve, k_spline, k_image, k_text, k_font,
    k_anti_alias, k_shadow, k_clip, k_shape, k_push, k_rotate, k_scale, k_translate, k_skew,
    k_transform, k_matrix, k_reset_matrix, k_invert_matrix,
    k_count
};

const char* const kw_names[k_count] = {
    "",
    "off", "linear", "radial", "diamond", "pad", "repeat", "reflect", "pattern", "bitmap", "tile",
    "flip-x", "flip-y", "flip-xy", "clamp", "miter", "miter-bevel", "round", "bevel", "flat",
    "square", "closed", "border", "crop", "inset", "replace", "intersect", "union", "xor",
    "exclude", "sweep", "large",
    "move", "hline", "vline", "curv", "qcurve", "qcurv", "close",
    "pen", "fill-pen", "line-width", "line-join", "line-cap", "line-pattern", "box", "line",
    "triangle", "polygon", "circle", "ellipse", "arc", "curve", "spline", "image", "text", "font",
    "anti-alias", "shadow", "clip", "shape", "push", "rotate", "scale", "translate", "skew",
    "transform", "matrix", "reset-matrix", "invert-matrix",
};

std::unordered_map<uint32_t, int>& keywords() {
    static std::unordered_map<uint32_t, int> map;
    if (map.empty())
        for (int k = 1; k < k_count; ++k) map[symbol::resolve(symbol::make(kw_names[k]))] = k;
    return map;
}

int keyword(const Cell& v) {
    if (!is(v, Type::word) && !is(v, Type::lit_word)) return k_none;
    auto& map = keywords();
    auto it = map.find(symbol::resolve(word_symbol(v)));
    return it == map.end() ? k_none : it->second;
}

errors::Id catalog_id(const char* name) {
    return errors::Id{errors::Category::script, uint8_t(error::catalog::find_id(int(errors::Category::script), name) + 2)};
}

// --- values ---------------------------------------------------------------------------

bool is_point(const Cell& v) { return is(v, Type::pair) || is(v, Type::point2d); }
bool is_number(const Cell& v) { return is(v, Type::integer) || is(v, Type::float_); }

// Coordinates and numbers go through 32-bit floats, as the drawing does.
double f32(double d) { return double(float(d)); }
Point point_of(const Cell& v) {
    if (is(v, Type::pair)) return {f32(pair_x(v)), f32(pair_y(v))};
    return {point_coord(v, 0), point_coord(v, 1)};
}
double number_of(const Cell& v) {
    if (is(v, Type::integer)) return f32(int_of(v));
    return f32(float_of(v));
}

// The value of a word, none when it has none (no error).
Cell word_value(const Cell& w) {
    Node ctx = word_context(w) ? word_context(w) : context::global();
    Cell* slot = context::get_by_symbol(word_symbol(w), ctx);
    return slot ? *slot : none_cell();
}

uint32_t colour_word(const Cell& t) {
    uint8_t b[12];
    tuple_bytes(t, b);
    uint32_t tr = tuple_length(t) >= 4 ? b[3] : 0;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | tr << 24;
}

// A colour: a tuple, or a word whose value is one.
bool colour_of(const Cell& v, uint32_t& out) {
    if (is(v, Type::tuple)) {
        out = colour_word(v);
        return true;
    }
    if (is(v, Type::word) && !keyword(v)) {
        Cell val = word_value(v);
        if (is(val, Type::tuple)) {
            out = colour_word(val);
            return true;
        }
    }
    return false;
}

bool image_of(const Cell& v, Cell& out) {
    Cell val = is(v, Type::word) ? word_value(v) : v;
    if (!is(val, Type::image)) return false;
    out = val;
    return true;
}

bool silent() {
    Cell* s = system_object::field({"view", "silent?"});
    return s && is_truthy(*s);
}

}  // namespace

[[noreturn]] void throw_draw_error(const Cell& block, uint32_t index, bool infinite) {
    if (silent()) throw Abandon{};
    Cell at = block;
    set_series_index(at, index);
    static const errors::Id invalid = catalog_id("draw-invalid"), recursion = catalog_id("draw-infinite");
    errors::fire(infinite ? recursion : invalid, &at);
}

namespace {

// --- the walk ---------------------------------------------------------------------------

// One command's arguments: the block, the next position, the tail.
struct Args {
    Context& c;
    const Cell& b;
    uint32_t i, tail;

    Cell peek() const { return *block::rs_abs_at(b, int32_t(i)); }
    bool more() const { return i < tail; }
    [[noreturn]] void fail() const { throw_draw_error(b, i); }
    [[noreturn]] void fail_at(uint32_t k) const { throw_draw_error(b, k); }

    Point point() {
        if (!more() || !is_point(peek())) fail();
        return point_of(*block::rs_abs_at(b, int32_t(i++)));
    }
    double number() {
        if (!more() || !is_number(peek())) fail();
        return number_of(*block::rs_abs_at(b, int32_t(i++)));
    }
    // A number or a percent (as a fraction).
    double factor() {
        if (more() && is(peek(), Type::percent)) return f32(float_of(*block::rs_abs_at(b, int32_t(i++))));
        return number();
    }
    bool opt_point(Point& p) {
        if (!more() || !is_point(peek())) return false;
        p = point_of(peek());
        ++i;
        return true;
    }
    bool opt_number(double& d) {
        if (!more() || !is_number(peek())) return false;
        d = number_of(peek());
        ++i;
        return true;
    }
    bool opt_word(int k) {
        if (!more() || !is(peek(), Type::word) || keyword(peek()) != k) return false;
        ++i;
        return true;
    }
    bool opt_colour(uint32_t& col) {
        if (!more() || !colour_of(peek(), col)) return false;
        ++i;
        return true;
    }
    bool opt_block(Cell& blk) {
        if (!more() || !is(peek(), Type::block)) return false;
        blk = peek();
        ++i;
        return true;
    }
    Cell block_arg() {
        Cell blk;
        if (!opt_block(blk)) fail();
        return blk;
    }
    // count or more points; fewer fail at the last point read (or here).
    std::vector<Point> points(size_t least) {
        std::vector<Point> pts;
        Point p;
        while (opt_point(p)) pts.push_back(p);
        if (pts.size() < least) fail_at(pts.empty() ? i : i - 1);
        return pts;
    }
};

void walk_block(Context& c, const Cell& blk);
void walk_shape(Context& c, const Cell& blk, bool draw, bool nested);

// Runs a nested block inside a saved state.
void walk_saved(Context& c, const Cell& blk) {
    save_state(c);
    walk_block(c, blk);
    restore_state(c);
}

// --- pens and brushes -------------------------------------------------------------------

struct StopList {
    std::vector<uint32_t> colours;
    std::vector<double> given;
};

void add_stops(cairo_pattern_t* p, const StopList& s) {
    std::vector<double> off = stop_offsets(s.given);
    for (size_t k = 0; k < s.colours.size(); ++k) {
        Rgba c = rgba(s.colours[k]);
        cairo_pattern_add_color_stop_rgba(p, std::clamp(off[k], 0.0, 1.0), c.r, c.g, c.b, c.a);
    }
}

void read_stops(Args& a, StopList& s) {
    uint32_t col;
    while (a.opt_colour(col)) {
        s.colours.push_back(col);
        double off = -1;
        if (a.more() && is(a.peek(), Type::float_)) {
            off = a.number();
            if (!(off >= 0)) off = 0;
        }
        s.given.push_back(off);
    }
    if (s.colours.size() < 2) a.fail();
}

cairo_extend_t spread_of(Args& a) {
    if (a.opt_word(k_repeat)) return CAIRO_EXTEND_REPEAT;
    if (a.opt_word(k_reflect)) return CAIRO_EXTEND_REFLECT;
    a.opt_word(k_pad);
    return CAIRO_EXTEND_PAD;
}

// The old form: kind, offset point, start, stop, [angle [scale-x [scale-y]]], colours.
Brush old_gradient(Args& a, int kind) {
    uint32_t first = a.i - 1;  // the kind word
    Point off = a.point();
    double start = a.number(), stop = a.number();
    double extra[3] = {0, 1, 1};
    int n = 0;
    while (n < 3 && a.opt_number(extra[n])) ++n;
    if (n == 2) extra[2] = 1;
    StopList s;
    uint32_t col;
    while (a.opt_colour(col)) {
        s.colours.push_back(col);
        double o = -1;
        if (a.more() && is(a.peek(), Type::float_)) o = std::max(0.0, a.number());
        s.given.push_back(o);
    }
    if (s.colours.size() < 2) a.fail_at(first);
    Brush b;
    b.kind = kind::gradient;
    cairo_pattern_t* p;
    if (kind == k_linear) {
        p = cairo_pattern_create_linear(off.x + start, off.y, off.x + stop, off.y);
    } else {
        b.radial = true;
        p = cairo_pattern_create_radial(off.x, off.y, 0, off.x, off.y, std::abs(stop - start));
    }
    add_stops(p, s);
    cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
    b.pattern = PatternRef(p);
    if (extra[0] != 0) b.m = multiply(b.m, rotation(extra[0], {0, 0}));
    if (extra[1] != 1 || extra[2] != 1) b.m = multiply(b.m, scaling(extra[1], extra[2], {0, 0}));
    return b;
}

Brush new_gradient(Args& a, int kind) {
    StopList s;
    read_stops(a, s);
    Brush b;
    b.radial = kind != k_linear;
    cairo_pattern_t* p = nullptr;
    Point p1, p2, focal;
    if (kind == k_linear) {
        if (a.opt_point(p1)) {
            p2 = a.point();
            p = cairo_pattern_create_linear(p1.x, p1.y, p2.x, p2.y);
        }
    } else if (kind == k_radial) {
        if (a.opt_point(p1)) {
            double r = std::abs(a.number());
            focal = p1;
            a.opt_point(focal);
            p = cairo_pattern_create_radial(focal.x, focal.y, 0, p1.x, p1.y, r);
        }
    } else if (a.opt_point(p1)) {
        p2 = a.point();
        focal = p1;
        a.opt_point(focal);
        double r = std::hypot(p2.x - p1.x, p2.y - p1.y);
        p = cairo_pattern_create_radial(focal.x, focal.y, 0, p1.x, p1.y, r);
    }
    // Without geometry the gradient is fitted to each shape it paints.
    b.kind = p ? kind::gradient : kind::fitted;
    if (!p) p = cairo_pattern_create_linear(0, 0, 1, 0);
    add_stops(p, s);
    cairo_pattern_set_extend(p, spread_of(a));
    b.pattern = PatternRef(p);
    return b;
}

// A tile mirrored across x, y or both, twice the size, for the flip modes.
cairo_surface_t* doubled(cairo_surface_t* tile, bool fx, bool fy) {
    int w = cairo_image_surface_get_width(tile), h = cairo_image_surface_get_height(tile);
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, fx ? 2 * w : w, fy ? 2 * h : h);
    cairo_t* cr = cairo_create(out);
    for (int qy = 0; qy < (fy ? 2 : 1); ++qy)
        for (int qx = 0; qx < (fx ? 2 : 1); ++qx) {
            cairo_save(cr);
            cairo_translate(cr, qx ? 2.0 * w : 0, qy ? 2.0 * h : 0);
            cairo_scale(cr, qx ? -1 : 1, qy ? -1 : 1);
            cairo_set_source_surface(cr, tile, 0, 0);
            cairo_paint(cr);
            cairo_restore(cr);
        }
    cairo_destroy(cr);
    return out;
}

// A surface brush from a tile: the start..end part of it, in the given mode.
Brush surface_brush(cairo_surface_t* tile, bool has_start, Point start, bool has_end, Point end, int mode) {
    int w = cairo_image_surface_get_width(tile), h = cairo_image_surface_get_height(tile);
    cairo_surface_t* part = tile;
    cairo_surface_reference(tile);
    if (has_start) {
        double x = std::clamp(start.x, 0.0, double(w)), y = std::clamp(start.y, 0.0, double(h));
        double x2 = has_end ? std::clamp(end.x, x, double(w)) : w, y2 = has_end ? std::clamp(end.y, y, double(h)) : h;
        int pw = int(x2 - x), ph = int(y2 - y);
        if (pw > 0 && ph > 0) {
            cairo_surface_destroy(part);
            part = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
            cairo_t* cr = cairo_create(part);
            cairo_set_source_surface(cr, tile, -x, -y);
            cairo_paint(cr);
            cairo_destroy(cr);
        }
    }
    bool fx = mode == k_flip_x || mode == k_flip_xy, fy = mode == k_flip_y || mode == k_flip_xy;
    if (fx || fy) {
        cairo_surface_t* d = doubled(part, fx, fy);
        cairo_surface_destroy(part);
        part = d;
    }
    cairo_pattern_t* p = cairo_pattern_create_for_surface(part);
    cairo_surface_destroy(part);
    cairo_pattern_set_extend(p, mode == k_clamp ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_REPEAT);
    Brush b;
    b.kind = kind::surface;
    b.pattern = PatternRef(p);
    return b;
}

int tile_mode(Args& a) {
    for (int k : {k_tile, k_flip_x, k_flip_y, k_flip_xy, k_clamp})
        if (a.opt_word(k)) return k;
    return k_tile;
}

// The pattern form: size, [start [end]], [mode], block drawn into a tile.
Brush pattern_brush(Args& a) {
    Point size = a.point(), start, end;
    bool hs = a.opt_point(start), he = hs && a.opt_point(end);
    int mode = tile_mode(a);
    Cell blk = a.block_arg();
    collector::Root keep(blk);
    int w = int(std::clamp(size.x, 1.0, 8192.0)), h = int(std::clamp(size.y, 1.0, 8192.0));
    if (!std::isfinite(size.x) || !std::isfinite(size.y)) w = h = 1;
    cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(tile);
    // Drawn into its own surface with the pass's style, the transform reset.
    cairo_t* outer_cr = a.c.cr;
    cairo_surface_t* outer_target = a.c.target;
    int outer_clips = a.c.clip_depth;
    save_state(a.c);
    a.c.cr = cr;
    a.c.target = tile;
    a.c.clip_depth = 0;
    a.c.st.m = Matrix();
    struct Back {
        Context& c;
        cairo_t* cr;
        cairo_surface_t* target;
        int clips;
        ~Back() {
            while (c.clip_depth > 0) pop_clip(c);
            cairo_destroy(c.cr);
            c.cr = cr;
            c.target = target;
            c.clip_depth = clips;
            restore_state(c);
        }
    };
    {
        Back back{a.c, outer_cr, outer_target, outer_clips};
        try {
            walk_block(a.c, blk);
        } catch (...) {
            cairo_surface_destroy(tile);
            throw;
        }
    }
    cairo_surface_flush(tile);
    Brush b = surface_brush(tile, hs, start, he, end, mode);
    cairo_surface_destroy(tile);
    return b;
}

// The bitmap form: a word holding an image, [start [end]], [mode].
Brush bitmap_brush(Args& a) {
    Cell img;
    if (!a.more() || !is(a.peek(), Type::word) || !image_of(a.peek(), img)) a.fail();
    ++a.i;
    collector::Root keep(img);
    Point start, end;
    bool hs = a.opt_point(start), he = hs && a.opt_point(end);
    int mode = tile_mode(a);
    cairo_surface_t* tile = image_source(a.c, img);
    Brush b;
    if (!tile) return b;
    b = surface_brush(tile, hs, start, he, end, mode);
    cairo_surface_destroy(tile);
    return b;
}

uint32_t parse_pen(Args& a, bool fill) {
    if (!a.more()) a.fail();
    Cell v = a.peek();
    int k = is(v, Type::word) ? keyword(v) : k_none;
    if (k == k_off) {
        ++a.i;
        pen_off(a.c, fill);
        return a.i;
    }
    uint32_t col;
    if (k == k_none && colour_of(v, col)) {
        ++a.i;
        fill ? set_fill_colour(a.c, col) : set_pen_colour(a.c, col);
        return a.i;
    }
    Brush b;
    switch (k) {
        case k_linear:
        case k_radial:
        case k_diamond:
            ++a.i;
            b = a.more() && is_point(a.peek()) ? old_gradient(a, k) : new_gradient(a, k);
            break;
        case k_pattern:
            ++a.i;
            b = pattern_brush(a);
            break;
        case k_bitmap:
            ++a.i;
            b = bitmap_brush(a);
            break;
        default:
            a.fail();
    }
    set_brush(a.c, fill, b);
    return a.i;
}

// --- matrix commands --------------------------------------------------------------------

// The optional 'pen or 'fill-pen before a matrix command's arguments.
int matrix_target(Args& a) {
    if (a.more() && is(a.peek(), Type::lit_word)) {
        int k = keyword(a.peek());
        if (k == k_pen || k == k_fill_pen) {
            ++a.i;
            return k == k_pen ? 1 : 2;
        }
    }
    return 0;
}

// Applies m to the target, inside a saved state around an optional block.
void apply_matrix(Args& a, int target, const Matrix& m) {
    Cell blk;
    if (a.opt_block(blk)) {
        collector::Root keep(blk);
        save_state(a.c);
        transform(a.c, target, m);
        walk_block(a.c, blk);
        restore_state(a.c);
    } else {
        transform(a.c, target, m);
    }
}

// --- commands ----------------------------------------------------------------------------

using Handler = void (*)(Args& a);

void c_pen(Args& a) { parse_pen(a, false); }
void c_fill_pen(Args& a) { parse_pen(a, true); }
void c_line_width(Args& a) { set_line_width(a.c, a.number()); }

void c_line_join(Args& a) {
    static const std::pair<int, cairo_line_join_t> joins[] = {
        {k_miter, CAIRO_LINE_JOIN_MITER}, {k_miter_bevel, CAIRO_LINE_JOIN_MITER},
        {k_round, CAIRO_LINE_JOIN_ROUND}, {k_bevel, CAIRO_LINE_JOIN_BEVEL}};
    for (auto [k, j] : joins)
        if (a.opt_word(k)) {
            a.c.st.join = j;
            return;
        }
    a.fail();
}

void c_line_cap(Args& a) {
    static const std::pair<int, cairo_line_cap_t> caps[] = {
        {k_flat, CAIRO_LINE_CAP_BUTT}, {k_square, CAIRO_LINE_CAP_SQUARE}, {k_round, CAIRO_LINE_CAP_ROUND}};
    for (auto [k, cap] : caps)
        if (a.opt_word(k)) {
            a.c.st.cap = cap;
            return;
        }
    a.fail();
}

void c_line_pattern(Args& a) {
    std::vector<double> d;
    while (a.more() && is(a.peek(), Type::integer)) d.push_back(std::abs(number_of(*block::rs_abs_at(a.b, int32_t(a.i++)))));
    a.c.st.dashes = d;
}

void c_box(Args& a) {
    Point p1 = a.point(), p2 = a.point();
    double r = 0;
    a.opt_number(r);
    box(a.c, p1, p2, r);
}

void c_line(Args& a) { line(a.c, a.points(2)); }
void c_triangle(Args& a) {
    std::vector<Point> pts{a.point(), a.point(), a.point()};
    polygon(a.c, pts);
}
void c_polygon(Args& a) { polygon(a.c, a.points(3)); }

void c_circle(Args& a) {
    Point centre = a.point();
    double rx = a.number(), ry = rx;
    a.opt_number(ry);
    ellipse(a.c, centre, rx, ry);
}

void c_ellipse(Args& a) {
    Point tl = a.point(), size = a.point();
    ellipse(a.c, {tl.x + size.x / 2, tl.y + size.y / 2}, size.x / 2, size.y / 2);
}

void c_arc(Args& a) {
    Point centre = a.point(), radius = a.point();
    double begin = a.number(), sweep = a.number();
    bool closed = a.opt_word(k_closed);
    arc(a.c, centre, radius, begin, sweep, closed);
}

void c_curve(Args& a) {
    std::vector<Point> pts{a.point(), a.point(), a.point()};
    Point p;
    if (a.opt_point(p)) pts.push_back(p);
    curve(a.c, pts);
}

void c_spline(Args& a) {
    std::vector<Point> pts = a.points(2);
    spline_shape(a.c, pts, a.opt_word(k_closed));
}

void c_image(Args& a) {
    Cell img;
    if (!a.more() || !image_of(a.peek(), img)) a.fail();
    ++a.i;
    collector::Root keep(img);
    std::vector<Point> pts;
    Point p;
    while (a.opt_point(p))
        if (pts.size() < 4) pts.push_back(p);
    uint32_t col;
    if (!(a.more() && (keyword(a.peek()) == k_crop || keyword(a.peek()) == k_border))) a.opt_colour(col);
    Point crop[2];
    bool cropped = false;
    if (!a.opt_word(k_border) && a.opt_word(k_crop)) {
        crop[0] = a.point();
        crop[1] = a.point();
        cropped = true;
    }
    draw_image(a.c, img, pts, cropped ? crop : nullptr);
}

void c_text(Args& a) {
    Point at = a.point();
    if (!a.more() || !(is(a.peek(), Type::string) || is(a.peek(), Type::object))) a.fail();
    Cell t = a.peek();
    ++a.i;
    collector::Root keep(t);
    draw_text(a.c, at, t);
}

void c_font(Args& a) {
    if (!a.more()) a.fail();
    Cell v = a.peek();
    Cell f = is(v, Type::word) ? word_value(v) : v;
    if (!is(f, Type::object)) a.fail();
    ++a.i;
    collector::Root keep(f);
    set_font(a.c, f);
}

void c_anti_alias(Args& a) {
    if (!a.more() || !is(a.peek(), Type::word)) a.fail();
    a.c.st.anti_alias = keyword(a.peek()) != k_off;
    ++a.i;
}

void c_shadow(Args& a) {
    if (a.opt_word(k_off)) {
        set_shadow(a.c, nullptr);
        return;
    }
    if (!a.more() || !is(a.peek(), Type::pair)) a.fail();
    Shadow s;
    Point off = a.point();
    s.dx = off.x, s.dy = off.y;
    if (a.more() && is(a.peek(), Type::integer)) {
        s.blur = std::max(0.0, a.number());
        if (a.more() && is(a.peek(), Type::integer)) s.spread = a.number();
    }
    a.opt_colour(s.colour);
    s.inset = a.opt_word(k_inset);
    if (std::isfinite(s.dx) && std::isfinite(s.dy) && std::isfinite(s.blur) && std::isfinite(s.spread))
        set_shadow(a.c, &s);
}

void c_clip(Args& a) {
    Point p1, p2;
    Cell shape;
    bool rect = a.opt_point(p1);
    if (rect) {
        p2 = a.point();
    } else if (!a.opt_block(shape)) {
        a.fail();
    }
    collector::Root keep(shape);
    for (int k : {k_replace, k_intersect, k_union, k_xor, k_exclude})
        if (a.opt_word(k)) break;
    Cell blk;
    bool nested = a.opt_block(blk);
    collector::Root keep2(blk);
    if (nested) save_state(a.c);
    if (rect)
        push_clip_rect(a.c, p1, p2);
    else
        walk_shape(a.c, shape, false, false);
    if (nested) {
        walk_block(a.c, blk);
        restore_state(a.c);
    }
}

void c_shape(Args& a) {
    Cell blk = a.block_arg();
    collector::Root keep(blk);
    walk_shape(a.c, blk, true, false);
}

void c_push(Args& a) {
    Cell blk = a.block_arg();
    collector::Root keep(blk);
    walk_saved(a.c, blk);
}

void c_rotate(Args& a) {
    int t = matrix_target(a);
    double angle = a.number();
    Point centre;
    a.opt_point(centre);
    apply_matrix(a, t, rotation(angle, centre));
}

void c_scale(Args& a) {
    int t = matrix_target(a);
    double sx = a.factor(), sy = a.factor();
    Point centre;
    a.opt_point(centre);
    apply_matrix(a, t, scaling(sx, sy, centre));
}

void c_translate(Args& a) {
    int t = matrix_target(a);
    Point p = a.point();
    apply_matrix(a, t, translation(p.x, p.y));
}

void c_skew(Args& a) {
    int t = matrix_target(a);
    double ax = a.number(), ay = 0;
    a.opt_number(ay);
    Point centre;
    a.opt_point(centre);
    apply_matrix(a, t, skewing(ax, ay, centre));
}

void c_transform(Args& a) {
    int t = matrix_target(a);
    Point centre;
    a.opt_point(centre);
    double angle = a.number(), sx = a.factor(), sy = a.factor();
    Point move = a.point();
    Matrix m = multiply(multiply(rotation(angle, centre), scaling(sx, sy, centre)), translation(move.x, move.y));
    apply_matrix(a, t, m);
}

void c_matrix(Args& a) {
    int t = matrix_target(a);
    Cell blk;
    if (!a.opt_block(blk)) a.fail();
    double v[6];
    int32_t n = block::rs_length(blk);
    if (n != 6) a.fail_at(a.i - 1);
    for (int k = 0; k < 6; ++k) {
        Cell x = *block::rs_abs_at(blk, int32_t(series_index(blk)) + k);
        if (!is_number(x)) a.fail_at(a.i - 1);
        v[k] = number_of(x);
    }
    transform(a.c, t, Matrix{v[0], v[1], v[2], v[3], v[4], v[5]});
}

void c_reset_matrix(Args& a) { reset_matrix(a.c, matrix_target(a)); }
void c_invert_matrix(Args& a) { invert_matrix(a.c, matrix_target(a)); }

Handler handler_of(int k) {
    static Handler table[k_count] = {};
    if (!table[k_pen]) {
        table[k_pen] = c_pen, table[k_fill_pen] = c_fill_pen, table[k_line_width] = c_line_width;
        table[k_line_join] = c_line_join, table[k_line_cap] = c_line_cap;
        table[k_line_pattern] = c_line_pattern, table[k_box] = c_box, table[k_line] = c_line;
        table[k_triangle] = c_triangle, table[k_polygon] = c_polygon, table[k_circle] = c_circle;
        table[k_ellipse] = c_ellipse, table[k_arc] = c_arc, table[k_curve] = c_curve;
        table[k_spline] = c_spline, table[k_image] = c_image, table[k_text] = c_text;
        table[k_font] = c_font, table[k_anti_alias] = c_anti_alias, table[k_shadow] = c_shadow;
        table[k_clip] = c_clip, table[k_shape] = c_shape, table[k_push] = c_push;
        table[k_rotate] = c_rotate, table[k_scale] = c_scale, table[k_translate] = c_translate;
        table[k_skew] = c_skew, table[k_transform] = c_transform, table[k_matrix] = c_matrix;
        table[k_reset_matrix] = c_reset_matrix, table[k_invert_matrix] = c_invert_matrix;
    }
    return k > 0 && k < k_count ? table[k] : nullptr;
}

// Sets a set-word to the block at the position after it, without handlers.
void set_position(const Cell& b, uint32_t i) {
    Cell word = *block::rs_abs_at(b, int32_t(i));
    Cell at = b;
    set_series_index(at, i + 1);
    Node ctx = word_context(word) ? word_context(word) : context::global();
    context::set_in(word, at, ctx, false);
}

// Keeps a block on the cycle guard while it is walked.
struct Guard {
    Context& c;
    Guard(Context& ctx, const Cell& blk) : c(ctx) {
        Node n = series_node(blk);
        if (std::find(c.walking.begin(), c.walking.end(), n) != c.walking.end())
            throw_draw_error(blk, series_index(blk), true);
        c.walking.push_back(n);
    }
    ~Guard() { c.walking.pop_back(); }
};

void walk_block(Context& c, const Cell& blk) {
    Cell b = blk;
    collector::Root keep(b);
    Guard guard(c, b);
    stack::check_native_depth();
    uint32_t i = series_index(b), tail = i + uint32_t(std::max(0, block::rs_length(b)));
    while (i < tail) {
        Cell v = *block::rs_abs_at(b, int32_t(i));
        if (is(v, Type::word)) {
            Handler h = handler_of(keyword(v));
            if (!h) throw_draw_error(b, i);
            Args a{c, b, i + 1, tail};
            h(a);
            i = a.i;
        } else if (is(v, Type::set_word)) {
            set_position(b, i);
            ++i;
        } else if (is(v, Type::block)) {
            walk_block(c, v);
            ++i;
        } else {
            throw_draw_error(b, i);
        }
    }
}

// --- the shape sub-dialect ----------------------------------------------------------------

// An SVG-style arc from the current point, as cairo arcs.
void svg_arc(Context& c, Point to, double rx, double ry, double angle, bool sweep, bool large) {
    Point from = c.current;
    rx = std::abs(rx), ry = std::abs(ry);
    if (!std::isfinite(rx) || !std::isfinite(ry) || !std::isfinite(angle)) return;
    if (rx == 0 || ry == 0 || (from.x == to.x && from.y == to.y)) {
        cairo_line_to(c.cr, to.x, to.y);
        return;
    }
    double phi = angle * 3.14159265358979323846 / 180, cp = std::cos(phi), sp = std::sin(phi);
    double dx = (from.x - to.x) / 2, dy = (from.y - to.y) / 2;
    double x1 = cp * dx + sp * dy, y1 = -sp * dx + cp * dy;
    double lambda = (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
    if (lambda > 1) rx *= std::sqrt(lambda), ry *= std::sqrt(lambda);
    double num = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1;
    double den = rx * rx * y1 * y1 + ry * ry * x1 * x1;
    double k = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
    if (large == sweep) k = -k;
    double cx1 = k * rx * y1 / ry, cy1 = -k * ry * x1 / rx;
    double cx = cp * cx1 - sp * cy1 + (from.x + to.x) / 2, cy = sp * cx1 + cp * cy1 + (from.y + to.y) / 2;
    double a0 = std::atan2((y1 - cy1) / ry, (x1 - cx1) / rx), a1 = std::atan2((-y1 - cy1) / ry, (-x1 - cx1) / rx);
    double two_pi = 2 * 3.14159265358979323846;
    if (sweep)
        while (a1 < a0) a1 += two_pi;
    else
        while (a1 > a0) a1 -= two_pi;
    cairo_save(c.cr);
    cairo_translate(c.cr, cx, cy);
    cairo_rotate(c.cr, phi);
    cairo_scale(c.cr, rx, ry);
    if (sweep)
        cairo_arc(c.cr, 0, 0, 1, a0, a1);
    else
        cairo_arc_negative(c.cr, 0, 0, 1, a0, a1);
    cairo_restore(c.cr);
    cairo_line_to(c.cr, to.x, to.y);
}

bool finite_point(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

void shape_command(Args& a, int k, bool rel) {
    Context& c = a.c;
    auto abs = [&](Point p) { return rel ? Point{c.current.x + p.x, c.current.y + p.y} : p; };
    auto reflect = [&](int kind) {
        return c.last_curve == kind ? Point{2 * c.current.x - c.control.x, 2 * c.current.y - c.control.y}
                                    : c.current;
    };
    bool ok = true;  // coordinates finite: cairo is given none that are not
    auto to = [&](Point p) { ok = ok && finite_point(p); return p; };
    int curve_kind = 0;
    switch (k) {
        case k_move: {
            Point p = to(abs(a.point()));
            if (ok) {
                c.current = p;
                cairo_move_to(c.cr, p.x, p.y);
            }
            break;
        }
        case k_line:
            for (Point p : a.points(1)) {
                p = to(abs(p));
                if (!ok) break;
                cairo_line_to(c.cr, p.x, p.y);
                c.current = p;
            }
            break;
        case k_hline:
        case k_vline: {
            double v = a.number();
            Point p = c.current;
            (k == k_hline ? p.x : p.y) = v + (rel ? (k == k_hline ? c.current.x : c.current.y) : 0);
            if (finite_point(p)) {
                cairo_line_to(c.cr, p.x, p.y);
                c.current = p;
            }
            break;
        }
        case k_arc: {
            Point end = abs(a.point());
            double rx = a.number(), ry = a.number(), angle = a.number();
            bool sweep = false, large = false;
            for (int n = 0; n < 2; ++n) {
                if (a.opt_word(k_sweep)) sweep = true;
                else if (a.opt_word(k_large)) large = true;
            }
            if (finite_point(end)) {
                svg_arc(c, end, rx, ry, angle, sweep, large);
                c.current = end;
            }
            break;
        }
        case k_curve:
        case k_curv:
        case k_qcurve:
        case k_qcurv: {
            size_t group = k == k_curve ? 3 : k == k_qcurv ? 1 : 2;
            std::vector<Point> pts = a.points(group);
            curve_kind = k == k_curve || k == k_curv ? 1 : 2;
            for (size_t n = 0; n + group <= pts.size(); n += group) {
                Point start = c.current;
                auto p = [&](size_t j) { return to(rel ? Point{start.x + pts[n + j].x, start.y + pts[n + j].y} : pts[n + j]); };
                Point c1, c2, end;
                if (k == k_curve) c1 = p(0), c2 = p(1), end = p(2);
                else if (k == k_curv) c1 = reflect(1), c2 = p(0), end = p(1);
                Point q;
                if (k == k_qcurve) q = p(0), end = p(1);
                if (k == k_qcurv) q = reflect(2), end = p(0);
                if (!ok || !finite_point(c1) || !finite_point(q)) break;
                if (curve_kind == 2) {
                    c1 = {start.x + 2.0 / 3 * (q.x - start.x), start.y + 2.0 / 3 * (q.y - start.y)};
                    c2 = {end.x + 2.0 / 3 * (q.x - end.x), end.y + 2.0 / 3 * (q.y - end.y)};
                    c.control = q;
                } else {
                    c.control = c2;
                }
                cairo_curve_to(c.cr, c1.x, c1.y, c2.x, c2.y, end.x, end.y);
                c.current = end;
                c.last_curve = curve_kind;
            }
            break;
        }
        case k_close:
            cairo_close_path(c.cr);
            cairo_move_to(c.cr, c.current.x, c.current.y);
            break;
        default:
            a.fail_at(a.i - 1);
    }
    if (curve_kind == 0) c.last_curve = 0;
}

void walk_shape(Context& c, const Cell& blk, bool draw, bool nested) {
    Cell b = blk;
    collector::Root keep(b);
    Guard guard(c, b);
    stack::check_native_depth();
    if (!nested) {
        cairo_new_path(c.cr);
        if (!ready(c)) cairo_identity_matrix(c.cr);
        c.current = c.control = {0, 0};
        c.last_curve = 0;
        cairo_move_to(c.cr, 0, 0);
    }
    uint32_t i = series_index(b), tail = i + uint32_t(std::max(0, block::rs_length(b)));
    while (i < tail) {
        Cell v = *block::rs_abs_at(b, int32_t(i));
        if (is(v, Type::word) || is(v, Type::lit_word)) {
            int k = keyword(v);
            Args a{c, b, i + 1, tail};
            if (k != k_move && k != k_line && k != k_hline && k != k_vline && k != k_arc && k != k_curve &&
                k != k_curv && k != k_qcurve && k != k_qcurv && k != k_close)
                throw_draw_error(b, i);
            shape_command(a, k, is(v, Type::lit_word));
            i = a.i;
        } else if (is(v, Type::set_word)) {
            set_position(b, i);
            ++i;
        } else if (is(v, Type::block)) {
            walk_shape(c, v, draw, true);
            ++i;
        } else {
            throw_draw_error(b, i);
        }
    }
    if (nested) return;
    if (!usable(c.st.m)) {
        cairo_new_path(c.cr);
        if (!draw) push_clip_rect(c, {0, 0}, {0, 0});
        return;
    }
    if (draw)
        paint_path(c, true);
    else
        push_clip_path(c);
}

}  // namespace

void walk(Context& c, const Cell& commands) { walk_block(c, commands); }

}  // namespace zan::render
