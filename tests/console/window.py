#!/usr/bin/env python3
"""The console window as the X server sees it, run under xvfb-run (no window
manager, so a window lies exactly where the client put it): where it opens and
how big, a line typed into it and evaluated, its pixels (background, text,
scroll bar), and the close request a window manager sends (WM_DELETE_WINDOW),
which must save the settings and end zan with status 0.

Keys and window search go through xdotool; pixels and the close request through
libX11 itself (ctypes), so the test needs no image tool.

Usage: window.py path/to/zan
"""
import ctypes
import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

ZAN = os.path.abspath(sys.argv[1])
failures = 0
passed = 0


def check(title, got, expected):
    global failures, passed
    if got == expected:
        passed += 1
    else:
        failures += 1
        print(f"FAIL {title}\n  expected {expected!r}\n  got      {got!r}")


def xdo(*args, timeout=20):
    p = subprocess.run(["xdotool", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return p.stdout.decode()


# --- libX11 -------------------------------------------------------------------

x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                          ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]


class XImage(ctypes.Structure):
    # The head of XImage up to the pixel layout we read.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


display = x11.XOpenDisplay(None)
if not display:
    print("FAIL no X display (run under xvfb-run)")
    sys.exit(1)
ZPIXMAP, ALL_PLANES = 2, 0xFFFFFFFF


def grab(x, y, w, h):
    """The screen's pixels in a rectangle, as rows of (r, g, b)."""
    p = x11.XGetImage(display, x11.XDefaultRootWindow(display), x, y, w, h, ALL_PLANES, ZPIXMAP)
    img = ctypes.cast(p, ctypes.POINTER(XImage)).contents
    assert img.bits_per_pixel == 32, img.bits_per_pixel
    rows = []
    for j in range(h):
        base = j * img.bytes_per_line
        row = []
        for i in range(w):
            b, g, r = img.data[base + 4 * i], img.data[base + 4 * i + 1], img.data[base + 4 * i + 2]
            row.append((r, g, b))
        rows.append(row)
    return rows


def close_request(window):
    """What a window manager sends when the user closes a window."""
    ev = XEvent()
    ev.xclient.type = 33  # ClientMessage
    ev.xclient.window = window
    ev.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    ev.xclient.format = 32
    ev.xclient.l[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    ev.xclient.l[1] = 0  # CurrentTime
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(ev))
    x11.XFlush(display)


# --- the run ------------------------------------------------------------------

HOME = tempfile.mkdtemp(prefix="zan-console-window-")
cfg_dir = os.path.join(HOME, ".zan", "Zan-Console")
cfg_file = os.path.join(cfg_dir, "console-cfg.zan")
os.makedirs(cfg_dir)
BACKGROUND = (16, 32, 48)
with open(cfg_file, "w") as f:
    f.write('Zan [\n\tPurpose: "Zan Console Configuration File"\n]\n\n'
            "win-pos: (100, 80)\nwin-size: 500x300\nfont-size: 11\nfont-color: 250.250.250\n"
            "background: 16.32.48\nmenu-bar?: false\nhistory: []\n")

env = dict(os.environ, HOME=HOME)
for k in ("COLUMNS", "LINES"):
    env.pop(k, None)
out_file = open(os.path.join(HOME, "out.txt"), "wb+")
err_file = open(os.path.join(HOME, "err.txt"), "wb+")
started = time.monotonic()
# Standard input a character device, neither pipe nor file: the window console.
proc = subprocess.Popen([ZAN], stdin=subprocess.DEVNULL, stdout=out_file, stderr=err_file, env=env)

try:
    wid = xdo("search", "--sync", "--onlyvisible", "--name", "^Zan Console$", timeout=30).split()
    check("one window titled Zan Console", len(wid), 1)
    wid = wid[0]
    geo = xdo("getwindowgeometry", wid)
    check("placed and sized from the settings (no menu bar)",
          [l.split(":")[1].split("(")[0].strip() for l in geo.splitlines()[1:]], ["100,80", "500x300"])

    time.sleep(0.5)
    xdo("windowfocus", "--sync", wid)
    xdo("type", "--delay", "20", "print 6 * 7")
    xdo("key", "Return")
    xdo("type", "--delay", "20", "repeat i 60 [print i]")
    xdo("key", "Return")
    xdo("type", "--delay", "20", "x: ask {Secret? }")
    xdo("key", "Return")
    time.sleep(0.5)
    px = grab(100, 80, 500, 300)
    if os.environ.get("ZAN_SHOT"):
        import struct, zlib
        raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in px)
        chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
        open(os.environ["ZAN_SHOT"], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 500, 300, 8, 2, 0, 0, 0)) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
    check("the background fills the bottom of the text area", px[290][100], BACKGROUND)
    # The first rows hold the banner in the font colour: many light pixels.
    light = sum(1 for row in px[0:40] for p in row[0:400] if min(p) > 180)
    check("text is drawn in the font colour", light > 100, True)
    # The scroll bar covers the right edge: its pixels are not the background.
    edge = [px[150][499 - i] for i in range(4)]
    check("the scroll bar lies over the right edge", all(p != BACKGROUND for p in edge), True)
    check("left of the scroll bar, background", px[150][470], BACKGROUND)

    # A click on the scroll bar's trough near its top scrolls the text back.
    before = grab(100, 80, 60, 100)
    time.sleep(0.5)
    check("the text stands still", grab(100, 80, 60, 100) == before, True)
    xdo("mousemove", "597", "90", "click", "1")
    time.sleep(0.5)
    check("a click on the scroll bar scrolls the text", grab(100, 80, 60, 100) != before, True)

    close_request(int(wid))
    try:
        rc = proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        rc = "still running"
    check("closing the window while ask waits ends zan with 0", rc, 0)
    # Everything printed also went to standard output.
    out = open(out_file.name, "rb").read().decode("utf-8", "replace")
    check("the typed line ran", "\n42\n" in out, True)
    check("no error reached the window", "*** " in out, False)
    saved = open(cfg_file).read()
    check("the settings were saved on close", "win-size: 500x300" in saved, True)
    check("typed lines are kept", 'print 6 * 7' in saved, True)
    check("the saved file is private", oct(os.stat(cfg_file).st_mode & 0o777), "0o600")
    err = open(err_file.name, "rb").read().decode("utf-8", "replace")
    check("nothing on standard error", err, "")
finally:
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    shutil.rmtree(HOME, ignore_errors=True)

print(f"passed: {passed} failed: {failures}")
sys.exit(1 if failures else 0)
