#!/usr/bin/env bash
# Image codecs and pixel loops next to their peers: decoding and encoding a
# 4000x3000 PNG and JPEG in zan and in a C program calling libpng and
# TurboJPEG directly, and a million pixel picks and pokes in zan beside CPython
# indexing a bytearray. Each step is the median CPU time of RUNS runs (5), less
# a run that only starts and reads the file. Prints milliseconds per operation and zan's
# ratio.
#
#   bench/image.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cd "$here/.."
build=${1:-build-release}
build_release "$build" zan
zan=$PWD/$build/zan
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc -O2 -o "$tmp/peer" bench/image_peer.c $(pkg-config --cflags --libs libpng libturbojpeg)

# A photograph-like picture: smooth gradients with some noise.
cat > "$tmp/make.zan" <<'ZAN'
Zan []
w: 4000 h: 3000
px: make binary! w * h * 3
random/seed 1
repeat y h [repeat x w [
    append px to char! (x * 255 / w + random 8) // 256
    append px to char! (y * 255 / h + random 8) // 256
    append px to char! ((x + y) // 256)
]]
img: make image! reduce [as-pair w h px]
write/binary to file! rejoin [last split system/script/args " " "/big.png"] system/codecs/png/encode img none
write/binary to file! rejoin [last split system/script/args " " "/big.jpg"] system/codecs/jpeg/encode img none
ZAN
"$zan" "$tmp/make.zan" "$tmp"

cat > "$tmp/cpu.py" <<'PY'
import resource, statistics, subprocess, sys
times = []
for _ in range(int(sys.argv[1])):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(sys.argv[2:], stdout=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    times.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
print(statistics.median(times))
PY
best() {  # best <command...>: the median CPU seconds (user + system) of RUNS runs
  python3 "$tmp/cpu.py" "${RUNS:-5}" "$@"
}
per_op() {  # per_op <total> <base> <reps>: milliseconds per operation
  awk -v t="$1" -v b="$2" -v n="$3" 'BEGIN { printf "%.1f", (t - b) * 1000 / n }'
}

printf '%-14s %10s %10s %8s\n' step zan_ms peer_ms ratio
for op in png-decode png-encode jpeg-decode jpeg-encode; do
  file=$tmp/big.png
  [[ $op == jpeg* ]] && file=$tmp/big.jpg
  reps=${REPS:-5}
  zr=$(best "$zan" bench/image.zan read "$file" 0)
  [[ $op == *encode ]] && zr=$(best "$zan" bench/image.zan "$op" "$file" 0)
  zt=$(best "$zan" bench/image.zan "$op" "$file" "$reps")
  pr=$(best "$tmp/peer" read "$file" 0)
  [[ $op == *encode ]] && pr=$(best "$tmp/peer" "$op" "$file" 0)
  pt=$(best "$tmp/peer" "$op" "$file" "$reps")
  z=$(per_op "$zt" "$zr" "$reps")
  p=$(per_op "$pt" "$pr" "$reps")
  printf '%-14s %10s %10s %8s\n' "$op" "$z" "$p" "$(awk -v a="$z" -v b="$p" 'BEGIN { printf "%.2f", a / b }')"
done

cat > "$tmp/pixels.py" <<'PY'
import sys
reps = int(sys.argv[1])
img = bytearray(b"\xff" * 1000000)
for _ in range(reps):
    for i in range(1000000):
        img[i] = img[i]
PY
reps=${PIXEL_REPS:-3}
zt=$(best "$zan" bench/image.zan pixels "$tmp/big.png" "$reps")
zr=$(best "$zan" bench/image.zan pixels "$tmp/big.png" 0)
pt=$(best python3 "$tmp/pixels.py" "$reps")
pr=$(best python3 "$tmp/pixels.py" 0)
z=$(per_op "$zt" "$zr" "$reps")
p=$(per_op "$pt" "$pr" "$reps")
printf '%-14s %10s %10s %8s\n' "1M pick+poke" "$z" "$p" "$(awk -v a="$z" -v b="$p" 'BEGIN { printf "%.2f", a / b }')"
