#!/usr/bin/env bash
# GUI work beside a C program making the same GTK 3 and pango calls: 1,000
# fields shown and each text set 10 times, and 10,000 size-text. Each side's
# time is the CPU time (user + system) of a full run less that of a `base`
# run doing only the start, median of RUNS runs. Needs a display (xvfb-run).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zan=${ZAN:-$here/../build/zan}
runs=${RUNS:-5}
peer=$(mktemp -d)/gui_peer
trap 'rm -rf "$(dirname "$peer")"' EXIT
cc -O2 -o "$peer" "$here/gui_peer.c" $(pkg-config --cflags --libs gtk+-3.0)
export FONTCONFIG_FILE=${FONTCONFIG_FILE:-$here/../tests/gui/fonts.conf} NO_AT_BRIDGE=1
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
cpu() { { /usr/bin/time -f "%U %S" "$@" >/dev/null; } 2>&1 | tail -1 | awk '{print $1 + $2}'; }
for kind in ${KINDS:-fields size}; do
  zf=$(for i in $(seq "$runs"); do cpu "$zan" "$here/gui.zan" "$kind"; done | median)
  zb=$(for i in $(seq "$runs"); do cpu "$zan" "$here/gui.zan" "$kind base"; done | median)
  cf=$(for i in $(seq "$runs"); do cpu "$peer" "$kind"; done | median)
  cb=$(for i in $(seq "$runs"); do cpu "$peer" "$kind" base; done | median)
  z=$(python3 -c "print(round(max($zf - $zb, 0.0), 3))")
  c=$(python3 -c "print(round(max($cf - $cb, 0.0), 3))")
  echo "$kind: zan ${z}s C ${c}s ratio $(python3 -c "print(round($z / max($c, 0.001), 2))")"
done
