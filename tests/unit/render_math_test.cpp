// The arithmetic under drawing: matrix order and inversion, stop offsets,
// spline sampling, the perspective map and premultiplied round trips.
#include <gtest/gtest.h>

#include <cmath>

#include "gui/backend/render_math.h"

namespace zan::render {
namespace {

void expect_point(Point p, double x, double y) {
    EXPECT_NEAR(p.x, x, 1e-9);
    EXPECT_NEAR(p.y, y, 1e-9);
}

TEST(RenderMatrix, MultiplyAppliesTheFirstOperandFirst) {
    Matrix m = multiply(scaling(2, 2, {0, 0}), translation(10, 0));
    expect_point(apply(m, {1, 1}), 12, 2);
    Matrix n = multiply(translation(10, 0), scaling(2, 2, {0, 0}));
    expect_point(apply(n, {1, 1}), 22, 2);
}

TEST(RenderMatrix, RotationIsClockwiseAboutItsCentre) {
    expect_point(apply(rotation(90, {0, 0}), {1, 0}), 0, 1);
    expect_point(apply(rotation(90, {5, 5}), {5, 5}), 5, 5);
    expect_point(apply(rotation(180, {5, 5}), {6, 5}), 4, 5);
}

TEST(RenderMatrix, ScalingAndSkewingKeepTheCentre) {
    expect_point(apply(scaling(3, 2, {4, 4}), {4, 4}), 4, 4);
    expect_point(apply(scaling(3, 2, {4, 4}), {5, 5}), 7, 6);
    expect_point(apply(skewing(45, 0, {0, 10}), {0, 10}), 0, 10);
    expect_point(apply(skewing(45, 0, {0, 0}), {0, 1}), 1, 1);
}

TEST(RenderMatrix, InversionRoundTripsAndRefusesSingularMatrices) {
    Matrix m = multiply(multiply(rotation(30, {3, 4}), scaling(2, 0.5, {1, 1})), translation(7, -2));
    Matrix inv;
    ASSERT_TRUE(invert(m, inv));
    expect_point(apply(inv, apply(m, {3.5, -8})), 3.5, -8);
    Matrix keep{9, 9, 9, 9, 9, 9};
    Matrix out = keep;
    EXPECT_FALSE(invert(scaling(0, 0, {0, 0}), out));
    EXPECT_EQ(out.m11, 9);
    EXPECT_FALSE(invert(Matrix{NAN, 0, 0, 1, 0, 0}, out));
    EXPECT_FALSE(usable(Matrix{1e-200, 0, 0, 1e-200, 0, 0}));
    EXPECT_TRUE(usable(Matrix()));
}

TEST(RenderStops, RunningOffsetRule) {
    struct Case {
        std::vector<double> given, want;
    } cases[] = {
        {{-1, -1, -1}, {0, 0.5, 1}},
        {{-1, -1}, {0, 1}},
        {{0.5, -1, -1}, {0.5, 0.5, 1}},
        {{-1, 0.25, -1, -1}, {0, 0.25, 0.25, 0.25 + 1.0 / 3}},
        {{0.1, 0.9}, {0.1, 0.9}},
    };
    for (const Case& c : cases) {
        std::vector<double> got = stop_offsets(c.given);
        ASSERT_EQ(got.size(), c.want.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.want[i], 1e-12) << i;
    }
}

TEST(RenderSpline, SamplesTwentyFivePointsASpanThroughEveryPoint) {
    std::vector<Point> pts{{0, 0}, {10, 20}, {30, 0}, {40, 40}};
    std::vector<Point> s = spline(pts, false);
    ASSERT_EQ(s.size(), 1u + 3 * 25);
    expect_point(s[0], 0, 0);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_NEAR(s[size_t(25 * k)].x, pts[size_t(k)].x, 1e-9);
        EXPECT_NEAR(s[size_t(25 * k)].y, pts[size_t(k)].y, 1e-9);
    }
    // Evenly spaced collinear points: the spline runs along them at t.
    std::vector<Point> line{{0, 0}, {10, 0}, {20, 0}, {30, 0}};
    Point mid = spline(line, false)[25 + 12];
    EXPECT_NEAR(mid.x, 10 + 10 * 0.48, 1e-9);  // the 12th sample: t = 0.48
    EXPECT_NEAR(mid.y, 0, 1e-12);
}

TEST(RenderSpline, ClosedSplinesComeBackToTheFirstPoint) {
    std::vector<Point> pts{{0, 0}, {10, 0}, {10, 10}};
    std::vector<Point> s = spline(pts, true);
    ASSERT_EQ(s.size(), 1u + 3 * 25);
    EXPECT_NEAR(s.back().x, 0, 1e-9);
    EXPECT_NEAR(s.back().y, 0, 1e-9);
    EXPECT_EQ(spline({{1, 1}, {2, 2}}, false).size(), 2u);
}

TEST(RenderPerspective, SquareToQuadMapsTheCorners) {
    Point q[4] = {{10, 10}, {50, 0}, {60, 60}, {0, 40}};
    Homography h, inv;
    ASSERT_TRUE(square_to_quad(q, h));
    expect_point(apply(h, {0, 0}), 10, 10);
    expect_point(apply(h, {1, 0}), 50, 0);
    expect_point(apply(h, {1, 1}), 60, 60);
    expect_point(apply(h, {0, 1}), 0, 40);
    ASSERT_TRUE(invert(h, inv));
    Point uv = apply(inv, apply(h, {0.25, 0.75}));
    expect_point(uv, 0.25, 0.75);
    Point flat[4] = {{0, 0}, {0, 0}, {0, 0}, {0, 0}};
    EXPECT_TRUE(!square_to_quad(flat, h) || !invert(h, inv));
}

TEST(RenderPixels, PremultiplyRoundsAndComesBack) {
    EXPECT_EQ(premultiply(0xFF102030u), 0xFF102030u);
    EXPECT_EQ(premultiply(0x80FF0000u), 0x80800000u);
    EXPECT_EQ(unpremultiply(0x80800000u), 0x80FF0000u);
    EXPECT_EQ(unpremultiply(0x00123456u), 0u);
    // Low alpha loses the colour: why unpainted pixels keep their stored value.
    EXPECT_NE(unpremultiply(premultiply(0x050A141Eu)), 0x050A141Eu);
    for (uint32_t a : {1u, 7u, 128u, 254u})
        for (uint32_t c : {0u, 1u, 100u, 255u}) {
            uint32_t p = a << 24 | c << 16 | c << 8 | c;
            EXPECT_EQ(premultiply(unpremultiply(premultiply(p))), premultiply(p)) << a << " " << c;
        }
}

}  // namespace
}  // namespace zan::render
