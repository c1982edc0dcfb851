#!/usr/bin/env bash
# Codecs next to their peers on the same 8 MB of text and of random bytes:
# zan, a C program on zlib, CPython's zlib, gzip and hashlib, and openssl dgst.
# Each step runs as a process that reads the file and repeats one operation;
# the time of a run that only reads the file is taken off, so start-up and
# reading cancel out. Prints milliseconds per operation and zan's ratio to
# the fastest peer.
#
#   bench/codecs.sh [MEGABYTES] [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cd "$here/.."
mb=${1:-8}
build=${2:-build-release}
# Repetitions per process: enough that each operation outweighs start-up noise.
reps_for() {
  case $1 in compress|gzip) echo "${REPS:-3}" ;; decompress|gunzip) echo "${REPS:-15}" ;; *) echo "${REPS:-40}" ;; esac
}
build_release "$build" zan zan-lzbench
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc -O2 -o "$tmp/peer" bench/codecs_peer.c -lz

python3 - "$tmp" "$mb" <<'PY'
import gzip, random, sys, zlib
out, mb = sys.argv[1], float(sys.argv[2])
n = int(mb * 1e6)
rng = random.Random(1)
words = ["zan", "value", "block", "series", "word", "string", "binary", "codec", "the", "of",
         "compress", "checksum", "number", "path", "object", "function", "error", "map"]
parts, size = [], 0
while size < n:
    line = " ".join(rng.choice(words) for _ in range(rng.randint(3, 12))) + f" {rng.randint(0, 99999)}\n"
    parts.append(line)
    size += len(line)
text = "".join(parts).encode()[:n]
noise = rng.randbytes(n)
for name, data in (("text", text), ("random", noise)):
    open(f"{out}/{name}", "wb").write(data)
    open(f"{out}/{name}.z", "wb").write(zlib.compress(data, 6))
    open(f"{out}/{name}.gz", "wb").write(gzip.compress(data, 6, mtime=0))
PY

# Best of three wall-clock seconds of a command run with OP, FILE and REPS set.
best() {  # best <op> <file> <reps> <command...>
  local op=$1 file=$2 n=$3 t bestt=
  shift 3
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    OP=$op FILE=$file REPS=$n "$@" >/dev/null 2>&1 || { echo failed; return; }
    end=$(date +%s.%N)
    t=$(echo "$start $end" | awk '{ printf "%.6f", $2 - $1 }')
    if [ -z "$bestt" ] || awk "BEGIN { exit !($t < $bestt) }"; then bestt=$t; fi
  done
  echo "$bestt"
}

# Milliseconds per operation: (run - read-only run) / reps.
per_op() {  # per_op <op> <file> <command...>
  local op=$1 file=$2 reps
  reps=$(reps_for "$op")
  shift 2
  local full base
  full=$(best "$op" "$file" "$reps" "$@")
  base=$(best none "$file" "$reps" "$@")
  case "$full$base" in *failed*) echo "-"; return ;; esac
  echo "$full $base $reps" | awk '{ v = ($1 - $2) / $3 * 1000; printf "%.1f", v < 0 ? 0 : v }'
}

openssl_ms() {  # openssl_ms <digest> <file>
  local full base reps
  reps=$(reps_for "$1")
  full=$(best x "$2" 1 sh -c "for i in \$(seq $reps); do openssl dgst -$1 '$2'; done")
  base=$(best x "$2" 1 sh -c "for i in \$(seq $reps); do openssl dgst -md5 /dev/null; done")
  echo "$full $base $reps" | awk '{ v = ($1 - $2) / $3 * 1000; printf "%.1f", v < 0 ? 0 : v }'
}

zan="$build/zan"
printf "%-8s %-11s %8s %8s %8s %8s %9s\n" data operation zan "C zlib" python openssl "zan/best"
for data in text random; do
  for op in compress decompress gzip gunzip crc32 adler32 md5 sha1 sha256 sha512; do
    file="$tmp/$data"
    case $op in decompress) file="$tmp/$data.z" ;; gunzip) file="$tmp/$data.gz" ;; esac
    z=$(per_op "$op" "$file" "$zan" bench/codecs.zan)
    c=-; o=-
    case $op in compress|decompress|crc32|adler32) c=$(per_op "$op" "$file" "$tmp/peer") ;; esac
    case $op in md5|sha1|sha256|sha512) o=$(openssl_ms "$op" "$file") ;; esac
    p=$(per_op "$op" "$file" python3 bench/codecs.py)
    ratio=$(echo "$z $c $p $o" | awk '{ b = 0; for (i = 2; i <= 4; i++) if ($i != "-" && $i > 0 && (b == 0 || $i < b)) b = $i;
                                         if ($1 == "-" || b == 0) print "-"; else printf "%.2f", $1 / b }')
    printf "%-8s %-11s %8s %8s %8s %8s %9s\n" "$data" "$op" "$z" "$c" "$p" "$o" "$ratio"
  done
done
echo
echo "LZ decoding next to zlib inflating the same text:"
"$build/zan-lzbench" "$tmp/text"
