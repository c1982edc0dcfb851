#!/bin/sh
# Zanbin against CPython's pickle (protocol 5) on the same 1,000,000 mixed
# values, in one run: the seconds of each direction and zan's ratio to python.
# Usage: bench/zanbin.sh [path/to/zan] (default: build-release/zan, else build/zan).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
find_zan "${1:-}"
z=$("$zan" "$here/zanbin.zan") || { echo "zan failed: $z" >&2; exit 1; }
p=$(python3 "$here/zanbin.py") || { echo "python3 failed" >&2; exit 1; }
echo "zan:     $z"
echo "python3: $p"
echo "$z $p" | awk '{ printf "encode zan/py %.2f   decode zan/py %.2f\n", $2 / $8, $4 / $10 }'
