// Matrices, colours, stops, splines and the perspective map (render_math.h).
#include "gui/backend/render_math.h"

#include <cmath>

namespace zan::render {

namespace {
constexpr double pi = 3.14159265358979323846;
double radians(double d) { return d * pi / 180.0; }
}  // namespace

Matrix multiply(const Matrix& a, const Matrix& b) {
    return {a.m11 * b.m11 + a.m12 * b.m21,         a.m11 * b.m12 + a.m12 * b.m22,
            a.m21 * b.m11 + a.m22 * b.m21,         a.m21 * b.m12 + a.m22 * b.m22,
            a.dx * b.m11 + a.dy * b.m21 + b.dx,    a.dx * b.m12 + a.dy * b.m22 + b.dy};
}

Matrix translation(double x, double y) { return {1, 0, 0, 1, x, y}; }

Matrix scaling(double sx, double sy, Point c) {
    return {sx, 0, 0, sy, c.x - sx * c.x, c.y - sy * c.y};
}

Matrix rotation(double degrees, Point c) {
    double r = radians(degrees), s = std::sin(r), k = std::cos(r);
    return {k, s, -s, k, c.x - c.x * k + c.y * s, c.y - c.x * s - c.y * k};
}

Matrix skewing(double ax, double ay, Point c) {
    double tx = std::tan(radians(ax)), ty = std::tan(radians(ay));
    return {1, ty, tx, 1, -c.y * tx, -c.x * ty};
}

bool usable(const Matrix& m) {
    double v[6] = {m.m11, m.m12, m.m21, m.m22, m.dx, m.dy};
    for (double x : v)
        if (!std::isfinite(x)) return false;
    double det = m.m11 * m.m22 - m.m12 * m.m21;
    return std::isfinite(det) && det != 0.0 && std::isfinite(1.0 / det);
}

bool invert(const Matrix& m, Matrix& out) {
    if (!usable(m)) return false;
    double det = m.m11 * m.m22 - m.m12 * m.m21;
    Matrix r{m.m22 / det, -m.m12 / det, -m.m21 / det, m.m11 / det, 0, 0};
    r.dx = -(m.dx * r.m11 + m.dy * r.m21);
    r.dy = -(m.dx * r.m12 + m.dy * r.m22);
    if (!usable(r)) return false;
    out = r;
    return true;
}

Point apply(const Matrix& m, Point p) {
    return {p.x * m.m11 + p.y * m.m21 + m.dx, p.x * m.m12 + p.y * m.m22 + m.dy};
}

Rgba rgba(uint32_t c) {
    return {(c & 255) / 255.0, (c >> 8 & 255) / 255.0, (c >> 16 & 255) / 255.0,
            (255 - (c >> 24 & 255)) / 255.0};
}

std::vector<double> stop_offsets(const std::vector<double>& given) {
    std::vector<double> out;
    size_t n = given.size();
    double running = 0.0, step = n > 1 ? 1.0 / double(n - 1) : 0.0;
    for (double g : given) {
        if (g >= 0) {
            running = g;
            out.push_back(g);
        } else {
            out.push_back(running);
            running += step;
        }
    }
    return out;
}

std::vector<Point> spline(const std::vector<Point>& pts, bool closed) {
    size_t n = pts.size();
    if (n < 3) return pts;
    std::vector<Point> out{pts[0]};
    auto at = [&](long i) -> const Point& {
        if (closed) return pts[size_t((i % long(n) + long(n)) % long(n))];
        return pts[size_t(i < 0 ? 0 : i >= long(n) ? long(n) - 1 : i)];
    };
    long spans = closed ? long(n) : long(n) - 1;
    for (long i = 0; i < spans; ++i) {
        const Point &p0 = at(i - 1), &p1 = at(i), &p2 = at(i + 1), &p3 = at(i + 2);
        double t = 0.0;
        for (int k = 0; k < 25; ++k) {
            t += 0.04;
            double t2 = t * t, t3 = t2 * t;
            auto f = [&](double a0, double a1, double a2, double a3) {
                return 0.5 * (2 * a1 + (a2 - a0) * t + (2 * a0 - 5 * a1 + 4 * a2 - a3) * t2 +
                              (3 * (a1 - a2) + a3 - a0) * t3);
            };
            out.push_back({f(p0.x, p1.x, p2.x, p3.x), f(p0.y, p1.y, p2.y, p3.y)});
        }
    }
    return out;
}

bool square_to_quad(const Point q[4], Homography& h) {
    double x0 = q[0].x, y0 = q[0].y, x1 = q[1].x, y1 = q[1].y, x2 = q[2].x, y2 = q[2].y,
           x3 = q[3].x, y3 = q[3].y;
    double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
    double a, b, c, d, e, f, g, k;
    if (sx == 0 && sy == 0) {
        a = x1 - x0, b = x2 - x1, c = x0, d = y1 - y0, e = y2 - y1, f = y0, g = 0, k = 0;
    } else {
        double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
        double den = dx1 * dy2 - dx2 * dy1;
        if (den == 0) return false;
        g = (sx * dy2 - dx2 * sy) / den;
        k = (dx1 * sy - sx * dy1) / den;
        a = x1 - x0 + g * x1, b = x3 - x0 + k * x3, c = x0;
        d = y1 - y0 + g * y1, e = y3 - y0 + k * y3, f = y0;
    }
    if (sx == 0 && sy == 0) {
        // affine: (u, v) -> (a u + (x3 - x0) v + c, ...)
        b = x3 - x0, e = y3 - y0;
    }
    double m[9] = {a, b, c, d, e, f, g, k, 1};
    for (double v : m)
        if (!std::isfinite(v)) return false;
    for (int i = 0; i < 9; ++i) h.m[i] = m[i];
    return true;
}

bool invert(const Homography& h, Homography& out) {
    const double* m = h.m;
    double c0 = m[4] * m[8] - m[5] * m[7], c1 = m[5] * m[6] - m[3] * m[8], c2 = m[3] * m[7] - m[4] * m[6];
    double det = m[0] * c0 + m[1] * c1 + m[2] * c2;
    if (det == 0 || !std::isfinite(det)) return false;
    double r[9] = {c0, m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                   c1, m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                   c2, m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    for (int i = 0; i < 9; ++i) out.m[i] = r[i] / det;
    return true;
}

Point apply(const Homography& h, Point p) {
    const double* m = h.m;
    double w = m[6] * p.x + m[7] * p.y + m[8];
    return {(m[0] * p.x + m[1] * p.y + m[2]) / w, (m[3] * p.x + m[4] * p.y + m[5]) / w};
}

}  // namespace zan::render
