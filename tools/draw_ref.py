#!/usr/bin/python3
"""Reference pixels for the draw dialect's tests.

Each scene is a draw block (as Zan source) and the same drawing made with
pycairo (python3-cairo) the way the dialect is meant to render it: white
image, black pen of width 1, no fill, anti-aliasing on. The script samples
chosen pixels of each reference image and writes them, with the tolerance
per channel, to tests/data/draw_expected.txt, which tests/scripts/draw-shapes.zan
loads. Run it from the repository root after changing a scene:

    /usr/bin/python3 tools/draw_ref.py
"""
import math
import cairo

W = H = 40


def new(w=W, h=H):
    s = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    c = cairo.Context(s)
    c.set_source_rgb(1, 1, 1)
    c.paint()
    c.set_source_rgb(0, 0, 0)
    c.set_line_width(1)
    return s, c


def pixel(s, x, y):
    """R.G.B.T of a pixel, straight alpha, as the image keeps it."""
    s.flush()
    d = s.get_data()
    i = y * s.get_stride() + x * 4
    b, g, r, a = d[i], d[i + 1], d[i + 2], d[i + 3]
    if a == 0:
        return (0, 0, 0, 255)
    un = lambda v: min(255, (v * 255 + a // 2) // a) if a != 255 else v
    return (un(r), un(g), un(b), 255 - a)


def fill_stroke(c, fill=None, pen=(0, 0, 0), width=1.0, even_odd=True):
    if fill:
        c.set_source_rgba(*fill)
        c.set_fill_rule(cairo.FILL_RULE_EVEN_ODD if even_odd else cairo.FILL_RULE_WINDING)
        c.fill_preserve()
    if pen:
        c.set_source_rgba(*pen)
        c.set_line_width(width)
        c.stroke_preserve()
    c.new_path()


def spline(pts, closed):
    n = len(pts)
    out = [pts[0]]
    def at(i):
        if closed:
            return pts[i % n]
        return pts[max(0, min(n - 1, i))]
    spans = n if closed else n - 1
    for i in range(spans):
        p0, p1, p2, p3 = at(i - 1), at(i), at(i + 1), at(i + 2)
        t = 0.0
        for _ in range(25):
            t += 0.04
            t2, t3 = t * t, t * t * t
            f = lambda a0, a1, a2, a3: 0.5 * (2 * a1 + (a2 - a0) * t + (2 * a0 - 5 * a1 + 4 * a2 - a3) * t2
                                               + (3 * (a1 - a2) + a3 - a0) * t3)
            out.append((f(p0[0], p1[0], p2[0], p3[0]), f(p0[1], p1[1], p2[1], p3[1])))
    return out


SCENES = []


def scene(name, cmds, samples, tol=0):
    def wrap(fn):
        SCENES.append((name, cmds, samples, tol, fn))
        return fn
    return wrap


RED, BLUE, GREEN = (1, 0, 0), (0, 0, 1), (0, 1, 0)


@scene("stroked box", "box 10x10 30x30",
       [(10, 10), (9, 20), (20, 10), (20, 20), (30, 30), (29, 15)], tol=2)
def _(c):
    c.rectangle(10, 10, 20, 20)
    fill_stroke(c)


@scene("filled box, pen off, anti-alias off", "pen off fill-pen 0.128.255 anti-alias off box 5x5 20x20",
       [(4, 4), (5, 5), (19, 19), (20, 20), (12, 4)])
def _(c):
    c.set_antialias(cairo.ANTIALIAS_NONE)
    c.rectangle(5, 5, 15, 15)
    fill_stroke(c, fill=(0, 128 / 255, 1), pen=None)


@scene("translucent fill", "pen off fill-pen 255.0.0.128 box 0x0 20x20",
       [(5, 5), (25, 25)], tol=1)
def _(c):
    c.rectangle(0, 0, 20, 20)
    fill_stroke(c, fill=(1, 0, 0, 127 / 255), pen=None)


@scene("pentagram keeps its centre", "pen off fill-pen 0.0.0 polygon 20x2 31x36 2x14 38x14 9x36",
       [(20, 20), (20, 6), (6, 15), (33, 15), (1, 1)], tol=2)
def _(c):
    pts = [(20, 2), (31, 36), (2, 14), (38, 14), (9, 36)]
    c.move_to(*pts[0])
    for p in pts[1:]:
        c.line_to(*p)
    c.close_path()
    fill_stroke(c, fill=(0, 0, 0), pen=None)


@scene("circle", "pen 0.0.255 line-width 2 fill-pen 255.255.0 circle 20x20 12",
       [(20, 20), (20, 8), (32, 20), (20, 33), (3, 3), (29, 29)], tol=3)
def _(c):
    c.arc(20, 20, 12, 0, 2 * math.pi)
    fill_stroke(c, fill=(1, 1, 0), pen=BLUE, width=2)


@scene("ellipse", "fill-pen 0.200.0 ellipse 4x10 32x20",
       [(20, 20), (5, 20), (20, 11), (36, 20), (6, 12)], tol=3)
def _(c):
    c.save()
    c.translate(20, 20)
    c.scale(16, 10)
    c.arc(0, 0, 1, 0, 2 * math.pi)
    c.restore()
    fill_stroke(c, fill=(0, 200 / 255, 0))


@scene("open arc is not filled", "fill-pen 255.0.0 line-width 3 arc 20x20 15x15 0 180",
       [(20, 20), (20, 35), (5, 20), (35, 20), (20, 25)], tol=3)
def _(c):
    c.arc(20, 20, 15, 0, math.pi)
    fill_stroke(c, fill=None, width=3)


@scene("closed arc is a pie", "fill-pen 255.0.0 arc 20x20 15x15 0 90 closed",
       [(25, 25), (15, 25), (25, 15), (20, 20)], tol=3)
def _(c):
    c.move_to(20, 20)
    c.arc(20, 20, 15, 0, math.pi / 2)
    c.close_path()
    fill_stroke(c, fill=RED)


@scene("a line of three points is not filled", "fill-pen 255.0.0 line 5x5 35x5 35x35",
       [(25, 12), (35, 20), (20, 5)], tol=2)
def _(c):
    c.move_to(5, 5)
    c.line_to(35, 5)
    c.line_to(35, 35)
    fill_stroke(c)


@scene("three-point curve", "line-width 2 curve 5x35 20x0 35x35",
       [(20, 18), (20, 17), (8, 27), (20, 30)], tol=4)
def _(c):
    p0, q, p2 = (5, 35), (20, 0), (35, 35)
    c1 = ((p0[0] + 2 * q[0]) / 3, (p0[1] + 2 * q[1]) / 3)
    c2 = ((p2[0] + 2 * q[0]) / 3, (p2[1] + 2 * q[1]) / 3)
    c.move_to(*p0)
    c.curve_to(*c1, *c2, *p2)
    fill_stroke(c, width=2)


@scene("spline", "line-width 2 spline 5x35 12x5 28x35 35x5",
       [(12, 5), (20, 20), (8, 20), (28, 35), (30, 20), (16, 12)], tol=4)
def _(c):
    pts = spline([(5, 35), (12, 5), (28, 35), (35, 5)], False)
    c.move_to(*pts[0])
    for p in pts[1:]:
        c.line_to(*p)
    fill_stroke(c, width=2)


@scene("dashes count in line widths", "anti-alias off line-width 2 line-pattern 5 5 line 0x20 40x20",
       [(5, 20), (15, 20), (25, 20), (35, 20), (9, 20), (11, 20)])
def _(c):
    c.set_antialias(cairo.ANTIALIAS_NONE)
    c.set_dash([10, 10])
    c.move_to(0, 20)
    c.line_to(40, 20)
    fill_stroke(c, width=2)


@scene("round caps", "line-width 8 line-cap round line 10x20 30x20",
       [(7, 20), (33, 20), (20, 20), (4, 20)], tol=3)
def _(c):
    c.set_line_cap(cairo.LINE_CAP_ROUND)
    c.move_to(10, 20)
    c.line_to(30, 20)
    fill_stroke(c, width=8)


@scene("linear gradient of three colours", "pen off fill-pen linear 255.0.0 0.255.0 0.0.255 0x0 40x0 box 0x0 40x40",
       [(0, 5), (20, 5), (39, 5), (10, 5), (30, 5)], tol=3)
def _(c):
    g = cairo.LinearGradient(0, 0, 40, 0)
    for off, col in ((0, RED), (0.5, GREEN), (1, BLUE)):
        g.add_color_stop_rgb(off, *col)
    c.set_source(g)
    c.rectangle(0, 0, 40, 40)
    c.fill()


@scene("stops by the running offset", "pen off fill-pen linear 255.0.0 0.5 0.255.0 0.0.255 0x0 40x0 box 0x0 40x40",
       [(5, 5), (19, 5), (21, 5), (39, 5), (30, 5)], tol=3)
def _(c):
    g = cairo.LinearGradient(0, 0, 40, 0)
    for off, col in ((0.5, RED), (0.5, GREEN), (1, BLUE)):
        g.add_color_stop_rgb(off, *col)
    c.set_source(g)
    c.rectangle(0, 0, 40, 40)
    c.fill()


@scene("radial gradient, reflected", "pen off fill-pen radial 255.255.255 0.0.0 20x20 10 reflect box 0x0 40x40",
       [(20, 20), (25, 20), (30, 20), (35, 20), (2, 2)], tol=3)
def _(c):
    g = cairo.RadialGradient(20, 20, 0, 20, 20, 10)
    g.add_color_stop_rgb(0, 1, 1, 1)
    g.add_color_stop_rgb(1, 0, 0, 0)
    g.set_extend(cairo.EXTEND_REFLECT)
    c.set_source(g)
    c.rectangle(0, 0, 40, 40)
    c.fill()


@scene("rotation about a centre", "pen off fill-pen 0.0.0 rotate 45 20x20 box 10x10 30x30",
       [(20, 20), (20, 6), (6, 20), (10, 10), (30, 30), (33, 20)], tol=3)
def _(c):
    c.translate(20, 20)
    c.rotate(math.pi / 4)
    c.translate(-20, -20)
    c.rectangle(10, 10, 20, 20)
    fill_stroke(c, fill=(0, 0, 0), pen=None)


@scene("new transforms apply first", "pen off fill-pen 0.0.0 translate 10x0 scale 2 2 box 0x0 5x5",
       [(11, 1), (19, 9), (21, 5), (9, 5), (5, 5)], tol=1)
def _(c):
    c.translate(10, 0)
    c.scale(2, 2)
    c.rectangle(0, 0, 5, 5)
    fill_stroke(c, fill=(0, 0, 0), pen=None)


@scene("transform: rotate, scale, then translate", "pen off fill-pen 0.0.0 transform 0x0 90 2 1 30x5 box 0x0 10x10",
       [(20, 10), (9, 10), (29, 14), (31, 10), (20, 16)], tol=2)
def _(c):
    # cairo applies the last call first: the point is rotated, scaled, moved
    c.translate(30, 5)
    c.scale(2, 1)
    c.rotate(math.pi / 2)
    c.rectangle(0, 0, 10, 10)
    fill_stroke(c, fill=(0, 0, 0), pen=None)


@scene("a shape begins at 0x0", "pen off fill-pen 0.0.0 shape [line 40x0 40x40]",
       [(35, 10), (5, 30), (30, 5)], tol=2)
def _(c):
    c.move_to(0, 0)
    c.line_to(40, 0)
    c.line_to(40, 40)
    fill_stroke(c, fill=(0, 0, 0), pen=None)


@scene("shape arcs and relative moves", "line-width 2 shape [move 5x20 'line 10x0 arc 35x20 10 10 0 sweep 'hline -5]",
       [(15, 20), (25, 10), (25, 30), (30, 20), (35, 20)], tol=4)
def _(c):
    c.move_to(0, 0)
    c.move_to(5, 20)
    c.line_to(15, 20)
    c.arc(25, 20, 10, math.pi, 2 * math.pi)
    c.line_to(30, 20)
    fill_stroke(c, width=2)


@scene("clip to a rectangle", "pen off fill-pen 255.0.0 clip 10x10 20x20 box 0x0 40x40",
       [(9, 9), (10, 10), (19, 19), (20, 20), (15, 30)])
def _(c):
    c.rectangle(10, 10, 10, 10)
    c.clip()
    c.rectangle(0, 0, 40, 40)
    fill_stroke(c, fill=RED, pen=None)


@scene("clip paths fill by winding", "pen off fill-pen 0.0.0 clip [move 20x2 line 31x36 2x14 38x14 9x36] box 0x0 40x40",
       [(20, 20), (20, 6), (1, 1)], tol=2)
def _(c):
    pts = [(20, 2), (31, 36), (2, 14), (38, 14), (9, 36)]
    c.move_to(0, 0)
    c.move_to(*pts[0])
    for p in pts[1:]:
        c.line_to(*p)
    c.set_fill_rule(cairo.FILL_RULE_WINDING)
    c.clip()
    c.rectangle(0, 0, 40, 40)
    fill_stroke(c, fill=(0, 0, 0), pen=None)


def zan_tuple(t):
    return ".".join(str(v) for v in t)


def main():
    out = ["; Generated by tools/draw_ref.py: each scene's commands, then pixel",
           "; samples (x y R.G.B.T) of pycairo's rendering, then the tolerance",
           "; per channel. Images are 40x40, white, before the commands run.", ""]
    for name, cmds, samples, tol, fn in SCENES:
        s, c = new()
        fn(c)
        pts = " ".join(f"{x}x{y} {zan_tuple(pixel(s, x, y))}" for x, y in samples)
        out.append(f'"{name}" [{cmds}]\n    [{pts}] {tol}')
    with open("tests/data/draw_expected.txt", "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
