// The state of one draw pass, shared by the walker (draw_walker.cpp), the
// operations (draw_ops.cpp) and the pass itself (render_pass.cpp).
//
// Everything cairo keeps in its own graphics state (source, line settings,
// matrix) is set again from this record before each shape, so cairo's
// save/restore serves clips only: one cairo_save per clip, one restore per
// pop, at any depth. The matrix is ours; a singular one is never handed to
// cairo (that would put the cairo_t into an error state for good): shapes are
// skipped until the matrix is usable again.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <vector>

#include "gui/backend/render_math.h"
#include "runtime/cell.h"

namespace zan::render {

// A counted reference to a cairo pattern.
class PatternRef {
public:
    PatternRef() = default;
    explicit PatternRef(cairo_pattern_t* adopt) : p_(adopt) {}
    PatternRef(const PatternRef& o) : p_(o.p_ ? cairo_pattern_reference(o.p_) : nullptr) {}
    PatternRef& operator=(const PatternRef& o) {
        if (this != &o) {
            reset();
            p_ = o.p_ ? cairo_pattern_reference(o.p_) : nullptr;
        }
        return *this;
    }
    ~PatternRef() { reset(); }
    void reset() {
        if (p_) cairo_pattern_destroy(p_);
        p_ = nullptr;
    }
    cairo_pattern_t* get() const { return p_; }

private:
    cairo_pattern_t* p_ = nullptr;
};

namespace kind {
enum : int { off = 0, solid = 1, gradient = 2, fitted = 3, surface = 4 };
}

struct Brush {
    int kind = kind::off;
    uint32_t colour = 0;
    PatternRef pattern;  // gradients and surface brushes
    bool radial = false;
    Matrix m;  // the brush's own transform (gradients and surfaces)
};

// The style fields that push, clipped blocks and patterns save and restore.
struct Style {
    Brush pen, fill;
    int held_pen_kind = -1;  // the pen kind held aside while the width is 0
    double width = 1.0;
    cairo_line_join_t join = CAIRO_LINE_JOIN_MITER;
    cairo_line_cap_t cap = CAIRO_LINE_CAP_BUTT;
    std::vector<double> dashes;
    bool anti_alias = true;
    uint32_t text_colour = 0;
    bool font_colour = false;
    PangoFontDescription* font = nullptr;  // owned copy; null: the default font
    Matrix m;

    Style() = default;
    Style(const Style& o) { *this = o; }
    Style& operator=(const Style& o);
    ~Style();
};

struct Shadow {
    double dx = 0, dy = 0, blur = 0, spread = 0;
    uint32_t colour = 0;
    bool inset = false;
};

struct Saved {
    Style style;
    int clip_depth = 0;
};

// Thrown by the walker to leave a walk quietly (system/view/silent?).
struct Abandon {};

struct Context {
    cairo_t* cr = nullptr;
    cairo_surface_t* target = nullptr;  // the surface drawn on
    Cell image = none_cell();           // the target image!, none for a window
    bool catch_errors = false;          // print draw errors, do not raise them
    Style st;
    std::vector<Saved> saves;
    int clip_depth = 0;
    std::vector<Shadow> shadows;
    std::vector<Node> walking;  // the cycle guard: blocks being walked

    // shape sub-dialect
    bool shape_clip = false;
    Point current, control;
    int last_curve = 0;  // 1 cubic, 2 quadratic: the control point is reflectable

    // The default font, looked up at the first text drawn without a font of
    // its own and kept while no script code runs.
    PangoFontDescription* default_font = nullptr;

    Context() = default;
    ~Context() { forget_default_font(); }
    void forget_default_font() {
        if (default_font) pango_font_description_free(default_font);
        default_font = nullptr;
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
};

// --- operations (draw_ops.cpp) ---------------------------------------------------

void reset(Context& c);
void finish(Context& c);  // pops every clip and saved state

void set_pen_colour(Context& c, uint32_t colour);
void set_fill_colour(Context& c, uint32_t colour);
void pen_off(Context& c, bool fill);
void set_line_width(Context& c, double w);
void set_brush(Context& c, bool fill, Brush b);

// Whether shapes can be drawn now (a usable matrix); sets cairo's matrix and
// anti-aliasing when they can.
bool ready(Context& c);
// Fills (even-odd unless winding) then strokes the current cairo path.
void paint_path(Context& c, bool fill, bool stroke = true, bool winding = false);

void box(Context& c, Point a, Point b, double radius);
void line(Context& c, const std::vector<Point>& pts);
void polygon(Context& c, const std::vector<Point>& pts);
void ellipse(Context& c, Point centre, double rx, double ry);
void arc(Context& c, Point centre, Point radius, double begin, double sweep, bool closed);
void curve(Context& c, const std::vector<Point>& pts);
void spline_shape(Context& c, const std::vector<Point>& pts, bool closed);

void push_clip_rect(Context& c, Point a, Point b);
void push_clip_path(Context& c);  // the current cairo path (shape), winding
void pop_clip(Context& c);
void save_state(Context& c);
void restore_state(Context& c);

// Matrix commands: target 0 the drawing transform, 1 the pen's, 2 the fill's.
void transform(Context& c, int target, const Matrix& m);
void reset_matrix(Context& c, int target);
void invert_matrix(Context& c, int target);

void set_shadow(Context& c, const Shadow* s);  // null: off

// Images: the source pixels as a premultiplied surface (a snapshot when the
// image is the pass's own target); null when it has none. The caller destroys it.
cairo_surface_t* image_source(Context& c, const Cell& img);
// Draws an image: pts 0-4 points, crop null or (offset, size).
void draw_image(Context& c, const Cell& img, const std::vector<Point>& pts, const Point* crop);

// --- text (text_box.cpp) -----------------------------------------------------------

// The font description of a font object (cached in its state block), or the
// default font for none; the caller frees the copy.
PangoFontDescription* font_description(const Cell& font);
void set_font(Context& c, const Cell& font);
void draw_text(Context& c, Point at, const Cell& text);
// The font options of measuring and painting: grey anti-aliasing on images,
// metrics unhinted, glyph positions unrounded.
void text_setup(cairo_t* cr, bool image);
// Paints a face's colour, image and text before its draw block.
void paint_face_content(Context& c, const Cell& face);

}  // namespace zan::render
