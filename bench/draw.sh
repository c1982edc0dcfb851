#!/usr/bin/env bash
# Drawing onto an image: 100,000 anti-aliased shapes into a 1000x1000 image,
# and 10,000 text commands, beside a C program making the same cairo and
# pango calls. zan's draw time is a full run's CPU time less that of a run
# that only builds the command block (median of RUNS runs each).
#
# --instructions counts instructions under callgrind instead (steady on a
# loaded machine): zan's full run less its build-only run, against the C
# program's run less one that only makes its surface.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zan=${ZAN:-$here/../build/zan}
runs=${RUNS:-3}
tmp=$(mktemp -d)
peer=$tmp/draw_peer
trap 'rm -rf "$tmp"' EXIT
cc -O2 -o "$peer" "$here/draw_peer.c" $(pkg-config --cflags --libs pangocairo) -lm
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
user() { { /usr/bin/time -f %U "$@" >/dev/null; } 2>&1 | tail -1; }
ratio() { python3 -c "print(round($1 / max($2, 0.001), 2))"; }
if [ "${1:-}" = --instructions ]; then
  command -v valgrind >/dev/null || { echo "--instructions needs valgrind" >&2; exit 1; }
  count() {
    valgrind --tool=callgrind --callgrind-out-file="$tmp/cg.out" "$@" >/dev/null 2>"$tmp/cg.err"
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p' "$tmp/cg.err"
  }
  setup=$(count "$peer" setup)
  for kind in shapes text; do
    z=$(( $(count "$zan" "$here/draw.zan" "$kind") - $(count "$zan" "$here/draw.zan" "$kind build") ))
    c=$(( $(count "$peer" "$kind") - setup ))
    echo "$kind: zan $((z / 1000000))M C $((c / 1000000))M instructions, ratio $(ratio "$z" "$c")"
  done
  exit 0
fi
for kind in shapes text; do
  full=$(for i in $(seq "$runs"); do user "$zan" "$here/draw.zan" "$kind"; done | median)
  build=$(for i in $(seq "$runs"); do user "$zan" "$here/draw.zan" "$kind build"; done | median)
  c=$(for i in $(seq "$runs"); do "$peer" "$kind"; done | median)
  z=$(python3 -c "print(round(max($full - $build, 0.0), 3))")
  echo "$kind: zan ${z}s C ${c}s ratio $(ratio "$z" "$c")"
done
