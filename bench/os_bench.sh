#!/bin/sh
# File and process speed next to CPython: reading 64 MiB of text, bytes and
# lines, writing them back, and 200 runs of `true` with captured output.
# Usage: bench/os_bench.sh [path/to/zan] (default: build-release/zan, else
# build/zan). Each row is the median of several runs (hyperfine) and the ratio
# zan/python3.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
find_zan "${1:-}"
zan=$(cd "$(dirname "$zan")" && pwd)/$(basename "$zan")
command -v hyperfine >/dev/null || { echo "hyperfine is needed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 64 MiB of lines with CR LF ends and some two-byte characters.
python3 - "$work/in.txt" <<'PY'
import sys
line = "0123456789 abcdefghij été ABCDEFGHIJ klmnopqrstuvwxyz 0123456789\r\n".encode()
with open(sys.argv[1], "wb") as f:
    f.write(line * (64 * 1024 * 1024 // len(line)))
PY
cd "$work"
median() {  # median seconds of a command
    hyperfine -N -w 1 -r 5 --export-json t.json "$1" >/dev/null 2>&1
    python3 -c 'import json;print("%.3f" % json.load(open("t.json"))["results"][0]["median"])'
}
row() {  # name zan-script python-script
    printf 'Zan []\n%s\n' "$2" > b.zan
    printf '%s\n' "$3" > b.py
    z=$(median "$zan b.zan")
    p=$(median "python3 b.py")
    printf "%-14s %8s %8s %8s\n" "$1" "$z" "$p" "$(echo "$z $p" | awk '{ printf "%.2f", $1 / $2 }')"
}
printf "%-14s %8s %8s %8s\n" work zan python3 zan/py
row read-text   'read %in.txt' 'open("in.txt", encoding="utf-8").read()'
row read-binary 'read/binary %in.txt' 'open("in.txt", "rb").read()'
row read-lines  'read/lines %in.txt' 'open("in.txt", encoding="utf-8").read().split("\n")'
row write-text  'write %out.txt read %in.txt' 'open("out.txt", "w", encoding="utf-8").write(open("in.txt", encoding="utf-8").read())'
row write-binary 'write/binary %out.bin read/binary %in.txt' 'open("out.bin", "wb").write(open("in.txt", "rb").read())'
row call-200    'o: copy "" loop 200 [call/wait/output "true" o]' 'import subprocess
for i in range(200): subprocess.run(["true"], capture_output=True)'
