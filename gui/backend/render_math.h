// The arithmetic of rendering, free of cairo and of the runtime: 2-D
// matrices, colours, gradient stop offsets, spline sampling, the perspective
// mapping of an image onto a quadrilateral, and premultiplied pixels.
//
// A matrix is (m11 m12 m21 m22 dx dy), row vectors: a point (x, y) maps to
// (x m11 + y m21 + dx, x m12 + y m22 + dy). That is cairo's (xx yx xy yy x0
// y0), so a Matrix converts to a cairo_matrix_t field by field.
#pragma once

#include <cstdint>
#include <vector>

namespace zan::render {

struct Matrix {
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
};

struct Point {
    double x = 0, y = 0;
};

// a then b: the point goes through a first.
Matrix multiply(const Matrix& a, const Matrix& b);
Matrix translation(double x, double y);
// About a centre: translate to it, scale or rotate, translate back.
Matrix scaling(double sx, double sy, Point centre);
// Degrees, clockwise with y pointing down.
Matrix rotation(double degrees, Point centre);
Matrix skewing(double ax_degrees, double ay_degrees, Point centre);
// false (out untouched) for a singular or non-finite matrix.
bool invert(const Matrix& m, Matrix& out);
bool usable(const Matrix& m);  // finite and invertible
Point apply(const Matrix& m, Point p);

// Colours travel as R | G << 8 | B << 16 | T << 24 (T = transparency).
struct Rgba {
    double r, g, b, a;
};
Rgba rgba(uint32_t colour);

// Stop offsets by the running-offset rule: given[i] is the explicit offset
// of colour i or a negative number when it has none.
std::vector<double> stop_offsets(const std::vector<double>& given);

// The polyline of a uniform Catmull-Rom spline through the points, as drawn
// (the first point first). Fewer than three points answer them unchanged.
std::vector<Point> spline(const std::vector<Point>& pts, bool closed);

// The projective map taking the unit square's corners (0,0) (1,0) (1,1)
// (0,1) to q[0..3]; false when the quadrilateral is degenerate.
struct Homography {
    double m[9];
};
bool square_to_quad(const Point q[4], Homography& h);
bool invert(const Homography& h, Homography& out);
Point apply(const Homography& h, Point p);

// A straight ARGB word to premultiplied and back; a pixel of alpha 0 comes
// back as transparent black.
inline uint32_t premultiply(uint32_t p) {
    uint32_t a = p >> 24;
    if (a == 255) return p;
    uint32_t r = ((p >> 16 & 255) * a + 127) / 255, g = ((p >> 8 & 255) * a + 127) / 255,
             b = ((p & 255) * a + 127) / 255;
    return a << 24 | r << 16 | g << 8 | b;
}
inline uint32_t unpremultiply(uint32_t p) {
    uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    auto c = [a](uint32_t v) { uint32_t s = (v * 255 + a / 2) / a; return s > 255 ? 255u : s; };
    return a << 24 | c(p >> 16 & 255) << 16 | c(p >> 8 & 255) << 8 | c(p & 255);
}

}  // namespace zan::render
