// The drawing operations of the draw dialect on cairo: brushes and line
// settings, shapes (filled, then stroked), clips, saved states, transforms,
// shadows and images. The walker (draw_walker.cpp) has checked the
// arguments; nothing here raises.
//
// Fills use the even-odd rule (a pentagram keeps its centre empty); clip
// paths use the winding rule. A shape whose numbers are not finite once made
// 32-bit floats is skipped: cairo would loop or overflow on it.
#include <cmath>
#include <cstring>
#include <algorithm>

#include "datatypes/image_backend.h"
#include "gui/backend/draw_context.h"

namespace zan::render {

namespace {

constexpr double pi = 3.14159265358979323846;

cairo_matrix_t to_cairo(const Matrix& m) { return {m.m11, m.m12, m.m21, m.m22, m.dx, m.dy}; }

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool all_finite(const std::vector<Point>& pts) {
    for (Point p : pts)
        if (!finite(p)) return false;
    return true;
}

// Sets the brush as cairo's source; false when it cannot paint (off, or a
// brush transform that cannot be inverted).
bool use_brush(Context& c, const Brush& b) {
    if (b.kind == kind::off) return false;
    if (b.kind == kind::solid) {
        Rgba k = rgba(b.colour);
        cairo_set_source_rgba(c.cr, k.r, k.g, k.b, k.a);
        return true;
    }
    if (!b.pattern.get()) return false;
    Matrix inv;
    if (!invert(b.m, inv)) return false;
    cairo_matrix_t cm = to_cairo(inv);
    cairo_pattern_set_matrix(b.pattern.get(), &cm);
    cairo_set_source(c.cr, b.pattern.get());
    return true;
}

// A fitted gradient over the box of the current path: the same stops spread
// over the box's width, placed at its top-left corner.
Brush fit(Context& c, const Brush& b) {
    double x1, y1, x2, y2;
    cairo_set_line_width(c.cr, c.st.width);
    cairo_stroke_extents(c.cr, &x1, &y1, &x2, &y2);
    double w = x2 - x1, h = y2 - y1;
    Brush out = b;
    cairo_pattern_t* p = b.radial ? cairo_pattern_create_radial(w / 2, h / 2, 0, w / 2, h / 2, w / 2)
                                  : cairo_pattern_create_linear(0, 0, w, 0);
    int n = 0;
    cairo_pattern_get_color_stop_count(b.pattern.get(), &n);
    for (int i = 0; i < n; ++i) {
        double off, r, g, bl, a;
        cairo_pattern_get_color_stop_rgba(b.pattern.get(), i, &off, &r, &g, &bl, &a);
        cairo_pattern_add_color_stop_rgba(p, off, r, g, bl, a);
    }
    cairo_pattern_set_extend(p, cairo_pattern_get_extend(b.pattern.get()));
    out.pattern = PatternRef(p);
    out.m = multiply(b.m, translation(x1, y1));
    return out;
}

void apply_line(Context& c) {
    cairo_set_line_width(c.cr, c.st.width);
    cairo_set_line_join(c.cr, c.st.join);
    cairo_set_line_cap(c.cr, c.st.cap);
    cairo_set_miter_limit(c.cr, 10.0);
    if (c.st.dashes.empty()) {
        cairo_set_dash(c.cr, nullptr, 0, 0);
    } else {
        // Dash lengths count in line widths.
        std::vector<double> d(c.st.dashes);
        bool any = false;
        for (double& v : d) {
            v *= c.st.width;
            if (v > 0) any = true;
        }
        if (any && d.size() <= 4096)
            cairo_set_dash(c.cr, d.data(), int(d.size()), 0);
        else
            cairo_set_dash(c.cr, nullptr, 0, 0);
    }
}

// --- shadows ----------------------------------------------------------------------

void gauss_a8(std::vector<uint8_t>& px, int w, int h, double sigma) {
    int r = int(std::ceil(sigma * 3));
    if (r > 256) r = 256;
    std::vector<double> k(size_t(2 * r + 1));
    double sum = 0;
    for (int i = -r; i <= r; ++i) sum += k[size_t(i + r)] = std::exp(-(i * i) / (2 * sigma * sigma));
    for (double& v : k) v /= sum;
    std::vector<double> tmp(px.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int i = -r; i <= r; ++i) {
                int xx = x + i;
                if (xx >= 0 && xx < w) s += k[size_t(i + r)] * px[size_t(y * w + xx)];
            }
            tmp[size_t(y * w + x)] = s;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int i = -r; i <= r; ++i) {
                int yy = y + i;
                if (yy >= 0 && yy < h) s += k[size_t(i + r)] * tmp[size_t(yy * w + x)];
            }
            px[size_t(y * w + x)] = uint8_t(std::clamp(s + 0.5, 0.0, 255.0));
        }
}

// One box pass along a line of n values `stride` apart: each output is the
// mean of the d inputs from `lo` before it; values outside the line count as 0.
void box_pass(float* line, float* scratch, int n, int stride, int d, int lo) {
    for (int i = 0; i < n; ++i) scratch[i] = line[size_t(i) * size_t(stride)];
    double sum = 0;
    for (int j = 0; j < d - lo && j < n; ++j) sum += scratch[j];
    for (int i = 0; i < n; ++i) {
        line[size_t(i) * size_t(stride)] = float(sum / d);
        int enter = i + d - lo, leave = i - lo;
        if (enter < n) sum += scratch[enter];
        if (leave >= 0) sum -= scratch[leave];
    }
}

// Three box passes stand for the gaussian from sigma 2 on: within a few
// percent of it and O(1) a pixel whatever the radius. Below that the kernel
// is applied as it is.
void blur_a8(std::vector<uint8_t>& px, int w, int h, double sigma) {
    if (sigma <= 0.0 || w <= 0 || h <= 0) return;
    if (sigma < 2.0) {
        gauss_a8(px, w, h, sigma);
        return;
    }
    sigma = std::min(sigma, 256.0 / 3);  // the reach the mask is made for
    int d = int(std::floor(sigma * 3 * std::sqrt(2 * pi) / 4 + 0.5));
    // an even width is run as two passes leaning left and right, then one of d + 1
    int sizes[3] = {d, d, d}, los[3] = {d / 2, d / 2, d / 2};
    if (d % 2 == 0) {
        los[1] = d / 2 - 1;
        sizes[2] = d + 1;
    }
    std::vector<float> f(px.begin(), px.end());
    std::vector<float> scratch(size_t(std::max(w, h)));
    for (int y = 0; y < h; ++y)
        for (int p = 0; p < 3; ++p) box_pass(&f[size_t(y) * size_t(w)], scratch.data(), w, 1, sizes[p], los[p]);
    for (int x = 0; x < w; ++x)
        for (int p = 0; p < 3; ++p) box_pass(&f[size_t(x)], scratch.data(), h, w, sizes[p], los[p]);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(std::clamp(f[i] + 0.5f, 0.0f, 255.0f));
}

// Draws the shadows of the current path beneath it: the shape's coverage in
// an A8 mask, spread by scaling about its centre, blurred, offset, in the
// shadow's colour.
void draw_shadows(Context& c, bool fill, bool stroke) {
    cairo_path_t* path = cairo_copy_path(c.cr);
    double x1, y1, x2, y2;
    cairo_save(c.cr);
    cairo_identity_matrix(c.cr);
    cairo_restore(c.cr);
    cairo_set_line_width(c.cr, c.st.width);
    cairo_stroke_extents(c.cr, &x1, &y1, &x2, &y2);
    cairo_user_to_device(c.cr, &x1, &y1);
    cairo_user_to_device(c.cr, &x2, &y2);
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    double sw = x2 - x1, sh = y2 - y1;
    // What can be seen of the target, in device pixels.
    double vx1, vy1, vx2, vy2;
    cairo_save(c.cr);
    cairo_identity_matrix(c.cr);
    cairo_clip_extents(c.cr, &vx1, &vy1, &vx2, &vy2);
    cairo_restore(c.cr);
    for (const Shadow& s : c.shadows) {
        double sigma = s.blur / 1.88;
        double reach = std::min(std::ceil(sigma * 3), 256.0) + 1;
        double pad = std::min(3 * sigma + 2, 512.0) + std::abs(s.spread);
        double dx = s.dx, dy = s.dy;
        cairo_user_to_device_distance(c.cr, &dx, &dy);
        // Only the part of the mask that the blur can carry into the visible
        // target is made: a large blur or shape on a small image stays cheap.
        double mx1 = std::max(std::floor(x1 - pad), std::floor(vx1 - dx - reach));
        double my1 = std::max(std::floor(y1 - pad), std::floor(vy1 - dy - reach));
        double mx2 = std::min(std::ceil(x2 + pad) + 1, std::ceil(vx2 - dx + reach));
        double my2 = std::min(std::ceil(y2 + pad) + 1, std::ceil(vy2 - dy + reach));
        double ox = mx1, oy = my1, mw = mx2 - mx1, mh = my2 - my1;
        if (!(mw > 0 && mh > 0 && mw < 16384 && mh < 16384)) continue;
        int w = int(mw), h = int(mh);
        cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
        cairo_t* m = cairo_create(mask);
        cairo_matrix_t ctm;
        cairo_get_matrix(c.cr, &ctm);
        double cx = (x1 + x2) / 2 - ox, cy = (y1 + y2) / 2 - oy;
        double fx = sw > 0 ? (sw + 2 * s.spread) / sw : 1, fy = sh > 0 ? (sh + 2 * s.spread) / sh : 1;
        cairo_translate(m, cx, cy);
        cairo_scale(m, fx > 0 ? fx : 1e-3, fy > 0 ? fy : 1e-3);
        cairo_translate(m, -cx - ox, -cy - oy);
        cairo_transform(m, &ctm);
        cairo_new_path(m);
        cairo_append_path(m, path);
        cairo_set_antialias(m, c.st.anti_alias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
        if (fill) {
            cairo_set_fill_rule(m, CAIRO_FILL_RULE_EVEN_ODD);
            cairo_fill_preserve(m);
        }
        if (stroke) {
            cairo_set_line_width(m, c.st.width);
            cairo_stroke_preserve(m);
        }
        cairo_destroy(m);
        cairo_surface_flush(mask);
        int stride = cairo_image_surface_get_stride(mask);
        uint8_t* data = cairo_image_surface_get_data(mask);
        std::vector<uint8_t> px(size_t(w * h));
        for (int y = 0; y < h; ++y) std::memcpy(&px[size_t(y * w)], data + y * stride, size_t(w));
        blur_a8(px, w, h, sigma);
        for (int y = 0; y < h; ++y) std::memcpy(data + y * stride, &px[size_t(y * w)], size_t(w));
        cairo_surface_mark_dirty(mask);
        cairo_save(c.cr);
        cairo_identity_matrix(c.cr);
        Rgba k = rgba(s.colour);
        cairo_set_source_rgba(c.cr, k.r, k.g, k.b, k.a);
        cairo_mask_surface(c.cr, mask, ox + dx, oy + dy);
        cairo_restore(c.cr);
        cairo_surface_destroy(mask);
    }
    cairo_new_path(c.cr);
    cairo_append_path(c.cr, path);
    cairo_path_destroy(path);
}

void ellipse_path(cairo_t* cr, Point centre, double rx, double ry) {
    cairo_save(cr);
    cairo_translate(cr, centre.x, centre.y);
    cairo_scale(cr, rx, ry);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * pi);
    cairo_close_path(cr);
    cairo_restore(cr);
}

bool same_image(const Cell& a, const Cell& b) {
    return is(a, Type::image) && is(b, Type::image) && series_node(a) == series_node(b);
}

}  // namespace

Style& Style::operator=(const Style& o) {
    if (this == &o) return *this;
    pen = o.pen;
    fill = o.fill;
    held_pen_kind = o.held_pen_kind;
    width = o.width;
    join = o.join;
    cap = o.cap;
    dashes = o.dashes;
    anti_alias = o.anti_alias;
    text_colour = o.text_colour;
    font_colour = o.font_colour;
    if (font) pango_font_description_free(font);
    font = o.font ? pango_font_description_copy(o.font) : nullptr;
    m = o.m;
    return *this;
}

Style::~Style() {
    if (font) pango_font_description_free(font);
}

void reset(Context& c) {
    c.st = Style();
    c.st.pen.kind = kind::solid;
    c.st.pen.colour = 0;  // black
    c.st.fill.kind = kind::off;
    c.saves.clear();
    c.clip_depth = 0;
    c.shadows.clear();
}

void finish(Context& c) {
    while (c.clip_depth > 0) pop_clip(c);
    c.saves.clear();
    c.shadows.clear();
    cairo_new_path(c.cr);
}

void set_pen_colour(Context& c, uint32_t colour) {
    c.st.pen.pattern.reset();
    c.st.pen.colour = colour;
    c.st.pen.m = Matrix();
    if (c.st.held_pen_kind >= 0)
        c.st.held_pen_kind = kind::solid;
    else
        c.st.pen.kind = kind::solid;
    if (!c.st.font_colour) c.st.text_colour = colour;
}

void set_fill_colour(Context& c, uint32_t colour) {
    c.st.fill.pattern.reset();
    c.st.fill.colour = colour;
    c.st.fill.m = Matrix();
    c.st.fill.kind = kind::solid;
}

void pen_off(Context& c, bool fill) {
    Brush& b = fill ? c.st.fill : c.st.pen;
    b.pattern.reset();
    if (!fill && c.st.held_pen_kind >= 0)
        c.st.held_pen_kind = kind::off;
    else
        b.kind = kind::off;
}

void set_brush(Context& c, bool fill, Brush b) {
    if (!fill && c.st.held_pen_kind >= 0) {
        c.st.held_pen_kind = b.kind;
        b.kind = kind::off;
    }
    (fill ? c.st.fill : c.st.pen) = b;
}

void set_line_width(Context& c, double w) {
    if (w == 0.0 && c.st.held_pen_kind < 0) {
        c.st.held_pen_kind = c.st.pen.kind;
        c.st.pen.kind = kind::off;
    } else if (w != 0.0 && c.st.held_pen_kind >= 0) {
        c.st.pen.kind = c.st.held_pen_kind;
        c.st.held_pen_kind = -1;
    }
    c.st.width = std::isfinite(w) ? std::abs(w) : 1.0;
}

bool ready(Context& c) {
    if (!usable(c.st.m)) return false;
    cairo_matrix_t cm = to_cairo(c.st.m);
    cairo_set_matrix(c.cr, &cm);
    cairo_set_antialias(c.cr, c.st.anti_alias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    return true;
}

void paint_path(Context& c, bool fill, bool stroke, bool) {
    bool f = fill && c.st.fill.kind != kind::off;
    bool s = stroke && c.st.pen.kind != kind::off;
    if (!c.shadows.empty() && (f || s)) draw_shadows(c, f, s);
    if (f) {
        Brush b = c.st.fill.kind == kind::fitted ? fit(c, c.st.fill) : c.st.fill;
        if (use_brush(c, b)) {
            cairo_set_fill_rule(c.cr, CAIRO_FILL_RULE_EVEN_ODD);
            cairo_fill_preserve(c.cr);
        }
    }
    if (s) {
        apply_line(c);
        Brush b = c.st.pen.kind == kind::fitted ? fit(c, c.st.pen) : c.st.pen;
        if (use_brush(c, b)) cairo_stroke_preserve(c.cr);
    }
    cairo_new_path(c.cr);
}

void box(Context& c, Point a, Point b, double radius) {
    if (!finite(a) || !finite(b) || !std::isfinite(radius) || !ready(c)) return;
    double x = std::min(a.x, b.x), y = std::min(a.y, b.y), w = std::abs(b.x - a.x), h = std::abs(b.y - a.y);
    cairo_new_path(c.cr);
    double r = std::min({std::abs(radius), w / 2, h / 2});
    if (r <= 0) {
        cairo_rectangle(c.cr, x, y, w, h);
    } else {
        cairo_new_sub_path(c.cr);
        cairo_arc(c.cr, x + w - r, y + r, r, -pi / 2, 0);
        cairo_arc(c.cr, x + w - r, y + h - r, r, 0, pi / 2);
        cairo_arc(c.cr, x + r, y + h - r, r, pi / 2, pi);
        cairo_arc(c.cr, x + r, y + r, r, pi, 3 * pi / 2);
        cairo_close_path(c.cr);
    }
    paint_path(c, true);
}

void line(Context& c, const std::vector<Point>& pts) {
    if (pts.size() < 2 || !all_finite(pts) || !ready(c)) return;
    cairo_new_path(c.cr);
    cairo_move_to(c.cr, pts[0].x, pts[0].y);
    for (size_t i = 1; i < pts.size(); ++i) cairo_line_to(c.cr, pts[i].x, pts[i].y);
    paint_path(c, false);
}

void polygon(Context& c, const std::vector<Point>& pts) {
    if (pts.size() < 2 || !all_finite(pts) || !ready(c)) return;
    cairo_new_path(c.cr);
    cairo_move_to(c.cr, pts[0].x, pts[0].y);
    for (size_t i = 1; i < pts.size(); ++i) cairo_line_to(c.cr, pts[i].x, pts[i].y);
    cairo_close_path(c.cr);
    paint_path(c, true);
}

void ellipse(Context& c, Point centre, double rx, double ry) {
    rx = std::abs(rx), ry = std::abs(ry);
    if (!finite(centre) || !std::isfinite(rx) || !std::isfinite(ry) || !ready(c)) return;
    if (rx <= 0 || ry <= 0) return;
    cairo_new_path(c.cr);
    ellipse_path(c.cr, centre, rx, ry);
    paint_path(c, true);
}

void arc(Context& c, Point centre, Point radius, double begin, double sweep, bool closed) {
    double rx = std::abs(radius.x), ry = std::abs(radius.y);
    if (!finite(centre) || !std::isfinite(rx) || !std::isfinite(ry) || !std::isfinite(begin) ||
        !std::isfinite(sweep) || !ready(c))
        return;
    if (sweep >= 359.999 || sweep <= -359.999) return ellipse(c, centre, rx, ry);
    if (rx <= 0 || ry <= 0) return;
    // Angles name directions from the centre; on an ellipse the parameter of
    // the point in that direction differs.
    auto param = [&](double deg) {
        double a = deg * pi / 180;
        return rx == ry ? a : std::atan2(rx * std::sin(a), ry * std::cos(a));
    };
    double a0 = param(begin), a1 = param(begin + sweep);
    if (sweep >= 0)
        while (a1 < a0) a1 += 2 * pi;
    else
        while (a1 > a0) a1 -= 2 * pi;
    cairo_new_path(c.cr);
    if (closed) cairo_move_to(c.cr, centre.x, centre.y);
    cairo_save(c.cr);
    cairo_translate(c.cr, centre.x, centre.y);
    cairo_scale(c.cr, rx, ry);
    if (sweep >= 0)
        cairo_arc(c.cr, 0, 0, 1, a0, a1);
    else
        cairo_arc_negative(c.cr, 0, 0, 1, a0, a1);
    cairo_restore(c.cr);
    if (closed) cairo_close_path(c.cr);
    paint_path(c, closed);
}

void curve(Context& c, const std::vector<Point>& p) {
    if (p.size() < 3 || !all_finite(p) || !ready(c)) return;
    Point c1 = p[1], c2 = p[2], end = p.size() > 3 ? p[3] : p[2];
    if (p.size() == 3) {
        c1 = {(p[0].x + 2 * p[1].x) / 3, (p[0].y + 2 * p[1].y) / 3};
        c2 = {(p[2].x + 2 * p[1].x) / 3, (p[2].y + 2 * p[1].y) / 3};
    }
    cairo_new_path(c.cr);
    cairo_move_to(c.cr, p[0].x, p[0].y);
    cairo_curve_to(c.cr, c1.x, c1.y, c2.x, c2.y, end.x, end.y);
    paint_path(c, true);
}

void spline_shape(Context& c, const std::vector<Point>& pts, bool closed) {
    if (pts.size() == 2) return line(c, pts);
    if (pts.size() < 2 || !all_finite(pts) || !ready(c)) return;
    std::vector<Point> s = spline(pts, closed);
    cairo_new_path(c.cr);
    cairo_move_to(c.cr, s[0].x, s[0].y);
    for (size_t i = 1; i < s.size(); ++i) cairo_line_to(c.cr, s[i].x, s[i].y);
    if (closed) cairo_close_path(c.cr);
    paint_path(c, true);
}

void push_clip_rect(Context& c, Point a, Point b) {
    cairo_save(c.cr);
    ++c.clip_depth;
    cairo_new_path(c.cr);
    if (finite(a) && finite(b) && ready(c)) {
        cairo_rectangle(c.cr, std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y));
    } else {
        cairo_identity_matrix(c.cr);
        cairo_rectangle(c.cr, 0, 0, 0, 0);
    }
    cairo_clip(c.cr);
}

void push_clip_path(Context& c) {
    cairo_path_t* path = cairo_copy_path(c.cr);
    cairo_save(c.cr);
    ++c.clip_depth;
    cairo_new_path(c.cr);
    cairo_append_path(c.cr, path);
    cairo_path_destroy(path);
    cairo_set_fill_rule(c.cr, CAIRO_FILL_RULE_WINDING);
    cairo_clip(c.cr);
}

void pop_clip(Context& c) {
    if (c.clip_depth <= 0) return;
    --c.clip_depth;
    cairo_restore(c.cr);
}

void save_state(Context& c) { c.saves.push_back({c.st, c.clip_depth}); }

void restore_state(Context& c) {
    if (c.saves.empty()) return;
    Saved s = c.saves.back();
    c.saves.pop_back();
    while (c.clip_depth > s.clip_depth) pop_clip(c);
    c.st = s.style;
}

void transform(Context& c, int target, const Matrix& m) {
    if (target == 0) {
        c.st.m = multiply(m, c.st.m);
        return;
    }
    Brush& b = target == 1 ? c.st.pen : c.st.fill;
    if (b.kind >= kind::gradient) b.m = multiply(m, b.m);
}

void reset_matrix(Context& c, int target) {
    if (target == 0) {
        c.st.m = Matrix();
        return;
    }
    Brush& b = target == 1 ? c.st.pen : c.st.fill;
    if (b.kind >= kind::gradient) b.m = Matrix();
}

void invert_matrix(Context& c, int target) {
    Matrix* m = target == 0 ? &c.st.m : target == 1 ? &c.st.pen.m : &c.st.fill.m;
    if (target != 0 && (target == 1 ? c.st.pen : c.st.fill).kind < kind::gradient) return;
    Matrix inv;
    if (invert(*m, inv)) *m = inv;
}

void set_shadow(Context& c, const Shadow* s) {
    if (!s) {
        c.shadows.clear();
        return;
    }
    if (c.shadows.size() < 64) c.shadows.push_back(*s);
}

cairo_surface_t* image_source(Context& c, const Cell& img) {
    uint32_t w = image::width_of(img), h = image::height_of(img);
    if (!w || !h || !series_node(img)) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(w), int(h));
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    uint32_t* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    int stride = cairo_image_surface_get_stride(s) / 4;
    if (same_image(img, c.image)) {
        // Drawing an image onto itself reads what was drawn so far.
        cairo_surface_flush(c.target);
        const uint32_t* in = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(c.target));
        int in_stride = cairo_image_surface_get_stride(c.target) / 4;
        for (uint32_t y = 0; y < h; ++y) std::memcpy(out + y * stride, in + y * in_stride, w * 4);
    } else {
        image::Bitmap* b = image::bitmap_of(series_node(img));
        if (!b || !b->pixels) {
            cairo_surface_destroy(s);
            return nullptr;
        }
        const uint32_t* in = image::read_pixels(series_node(img));
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) out[y * stride + x] = premultiply(in[y * w + x]);
    }
    cairo_surface_mark_dirty(s);
    return s;
}

namespace {

// Maps the source rectangle onto a quadrilateral by sampling every target
// pixel inside it through the inverse projective map (bilinear).
void perspective(Context& c, cairo_surface_t* src, const double r[4], const Point quad[4]) {
    Point q[4];
    for (int i = 0; i < 4; ++i) {
        q[i] = apply(c.st.m, quad[i]);
        if (!finite(q[i])) return;
    }
    Homography h, inv;
    if (!square_to_quad(q, h) || !invert(h, inv)) return;
    int tw = cairo_image_surface_get_width(c.target), th = cairo_image_surface_get_height(c.target);
    double bx1 = q[0].x, by1 = q[0].y, bx2 = q[0].x, by2 = q[0].y;
    for (const Point& p : q) {
        bx1 = std::min(bx1, p.x), by1 = std::min(by1, p.y), bx2 = std::max(bx2, p.x), by2 = std::max(by2, p.y);
    }
    int x0 = std::max(0, int(std::floor(bx1))), y0 = std::max(0, int(std::floor(by1)));
    int x1 = std::min(tw, int(std::ceil(bx2))), y1 = std::min(th, int(std::ceil(by2)));
    if (x1 <= x0 || y1 <= y0) return;
    int w = x1 - x0, hgt = y1 - y0;
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, hgt);
    uint32_t* o = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(out));
    int os = cairo_image_surface_get_stride(out) / 4;
    cairo_surface_flush(src);
    const uint32_t* s = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(src));
    int ss = cairo_image_surface_get_stride(src) / 4;
    int sx0 = int(r[0]), sy0 = int(r[1]), sx1 = int(r[0] + r[2]) - 1, sy1 = int(r[1] + r[3]) - 1;
    auto texel = [&](int x, int y) {
        x = std::clamp(x, sx0, sx1), y = std::clamp(y, sy0, sy1);
        return s[y * ss + x];
    };
    for (int y = 0; y < hgt; ++y)
        for (int x = 0; x < w; ++x) {
            Point uv = apply(inv, {x0 + x + 0.5, y0 + y + 0.5});
            uint32_t v = 0;
            if (uv.x >= 0 && uv.x <= 1 && uv.y >= 0 && uv.y <= 1) {
                double fx = r[0] + uv.x * r[2] - 0.5, fy = r[1] + uv.y * r[3] - 0.5;
                int ix = int(std::floor(fx)), iy = int(std::floor(fy));
                double ax = fx - ix, ay = fy - iy;
                uint32_t p00 = texel(ix, iy), p10 = texel(ix + 1, iy), p01 = texel(ix, iy + 1),
                         p11 = texel(ix + 1, iy + 1);
                for (int sh = 0; sh < 32; sh += 8) {
                    double a = (p00 >> sh & 255) * (1 - ax) + (p10 >> sh & 255) * ax;
                    double b = (p01 >> sh & 255) * (1 - ax) + (p11 >> sh & 255) * ax;
                    v |= uint32_t(a * (1 - ay) + b * ay + 0.5) << sh;
                }
            }
            o[y * os + x] = v;
        }
    cairo_surface_mark_dirty(out);
    cairo_save(c.cr);
    cairo_identity_matrix(c.cr);
    cairo_set_source_surface(c.cr, out, x0, y0);
    cairo_paint(c.cr);
    cairo_restore(c.cr);
    cairo_surface_destroy(out);
}

}  // namespace

void draw_image(Context& c, const Cell& img, const std::vector<Point>& pts, const Point* crop) {
    if (!all_finite(pts) || (crop && (!finite(crop[0]) || !finite(crop[1]))) || !ready(c)) return;
    double iw = image::width_of(img), ih = image::height_of(img);
    double sx = 0, sy = 0, sw = iw, sh = ih, shift_x = 0, shift_y = 0;
    if (crop) {
        double l = std::min(crop[0].x, crop[0].x + crop[1].x), t = std::min(crop[0].y, crop[0].y + crop[1].y);
        double rgt = std::max(crop[0].x, crop[0].x + crop[1].x), bot = std::max(crop[0].y, crop[0].y + crop[1].y);
        if (l < 0) shift_x = -l, l = 0;
        if (t < 0) shift_y = -t, t = 0;
        rgt = std::min(rgt, iw), bot = std::min(bot, ih);
        sx = l, sy = t, sw = rgt - l, sh = bot - t;
    }
    if (sw <= 0 || sh <= 0) return;
    cairo_surface_t* src = image_source(c, img);
    if (!src) return;
    if (pts.size() >= 3) {
        Point q[4] = {pts[0], pts[1], pts[2], pts.size() > 3 ? pts[3] : Point{pts[0].x, pts[2].y}};
        double r[4] = {sx, sy, sw, sh};
        perspective(c, src, r, q);
        cairo_surface_destroy(src);
        return;
    }
    double dx = 0, dy = 0, dw = sw, dh = sh;
    if (pts.size() >= 1) dx = pts[0].x, dy = pts[0].y;
    if (pts.size() == 2) dw = pts[1].x - pts[0].x, dh = pts[1].y - pts[0].y;
    dx += shift_x, dy += shift_y;
    if (dw != 0 && dh != 0 && std::isfinite(dw / sw) && std::isfinite(dh / sh)) {
        cairo_save(c.cr);
        cairo_translate(c.cr, dx, dy);
        cairo_scale(c.cr, dw / sw, dh / sh);
        cairo_set_source_surface(c.cr, src, -sx, -sy);
        cairo_pattern_t* p = cairo_get_source(c.cr);
        cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(p, CAIRO_FILTER_BEST);
        cairo_new_path(c.cr);
        cairo_rectangle(c.cr, 0, 0, sw, sh);
        cairo_fill(c.cr);
        cairo_restore(c.cr);
    }
    cairo_surface_destroy(src);
}

}  // namespace zan::render
