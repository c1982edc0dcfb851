#!/usr/bin/env bash
# Drawing onto an image: 100,000 anti-aliased shapes into a 1000x1000 image,
# and 10,000 text commands, beside a C program making the same cairo and
# pango calls. zan's draw time is a full run's CPU time less that of a run
# that only builds the command block (median of RUNS runs each).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zan=${ZAN:-$here/../build/zan}
runs=${RUNS:-3}
peer=$(mktemp -d)/draw_peer
trap 'rm -rf "$(dirname "$peer")"' EXIT
cc -O2 -o "$peer" "$here/draw_peer.c" $(pkg-config --cflags --libs pangocairo) -lm
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
user() { { /usr/bin/time -f %U "$@" >/dev/null; } 2>&1 | tail -1; }
for kind in shapes text; do
  full=$(for i in $(seq "$runs"); do user "$zan" "$here/draw.zan" "$kind"; done | median)
  build=$(for i in $(seq "$runs"); do user "$zan" "$here/draw.zan" "$kind build"; done | median)
  c=$(for i in $(seq "$runs"); do "$peer" "$kind"; done | median)
  z=$(python3 -c "print(round(max($full - $build, 0.0), 3))")
  echo "$kind: zan ${z}s C ${c}s ratio $(python3 -c "print(round($z / max($c, 0.001), 2))")"
done
