#!/usr/bin/env bash
# Event dispatch: 200,000 made events through system/view/awake (the seven
# standard handlers, a window > panel > button tree) beside a CPython twin.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zan=${ZAN:-$here/../build/zan}
z=$( { /usr/bin/time -f %U "$zan" "$here/view_awake.zan" >/dev/null; } 2>&1 | tail -1)
p=$( { /usr/bin/time -f %U python3 "$here/view_awake.py" >/dev/null; } 2>&1 | tail -1)
echo "awake: zan ${z}s python3 ${p}s ratio $(python3 -c "print(round($z/$p, 2))")"

# Text assignments: 10,000 `text` changes of a shown field (each runs the
# change handler, the automatic show and the widget update) beside PyGObject's
# Gtk.Entry.set_text, under one virtual X server with the test fonts.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat > "$tmp/text.zan" <<'ZAN'
Zan []
w: layout [f: field "start"]
view/no-wait w
texts: collect [repeat i 10000 [keep rejoin ["text " i]]]
t: now/precise
foreach s texts [f/text: s]
print to float! difference now/precise t
ZAN
cat > "$tmp/text.py" <<'PY'
import time, gi
gi.require_version('Gtk', '3.0')
from gi.repository import Gtk
w = Gtk.Window(); e = Gtk.Entry(text="start"); w.add(e); w.show_all()
while Gtk.events_pending(): Gtk.main_iteration()
texts = ["text %d" % i for i in range(1, 10001)]
t = time.perf_counter()
for s in texts: e.set_text(s)
print(time.perf_counter() - t)
PY
export FONTCONFIG_FILE="$here/../tests/gui/fonts.conf" GDK_SCALE=1 GDK_DPI_SCALE=1 NO_AT_BRIDGE=1
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" sh -c "\"$zan\" \"$tmp/text.zan\" > \"$tmp/z.txt\"; /usr/bin/python3 \"$tmp/text.py\" > \"$tmp/p.txt\""
z=$(tail -1 "$tmp/z.txt"); p=$(tail -1 "$tmp/p.txt")
echo "field text x10000: zan ${z}s PyGObject ${p}s ratio $(python3 -c "print(round($z/$p, 2))")"
