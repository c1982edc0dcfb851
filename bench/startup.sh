#!/usr/bin/env bash
# Start-up: `zan one.zan` (a script that prints 1) beside `python3 -c pass` and
# `lua5.4 -e ''`, 50 runs each, interleaved, so that a busy machine slows all
# three alike. Prints each median in milliseconds and zan's ratio to each peer,
# then zan's own phase times (ZAN_BOOT_TIMES=1) of one run.
#
#   bench/startup.sh [RUNS] [path/to/zan]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=${1:-50}
. "$here/common.sh"
find_zan "${2:-}"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'Zan []\nprint 1\n' > "$dir/one.zan"

# The clock read by the shell itself: a `date` process per reading would add
# its own fork and exec (several milliseconds here) to every figure.
# (read into a variable: a command substitution would fork too)
now() { local us=${EPOCHREALTIME//[!0-9]/}; printf -v "$1" "%s" $((10#$us * 1000)); }
: > "$dir/zan"; : > "$dir/python"; : > "$dir/lua"
for ((i = 0; i < runs; i++)); do
  now t; "$zan" "$dir/one.zan" >/dev/null; now u; echo $((u - t)) >> "$dir/zan"
  now t; python3 -c pass; now u; echo $((u - t)) >> "$dir/python"
  now t; lua5.4 -e ''; now u; echo $((u - t)) >> "$dir/lua"
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.2f", m / 1e6 }'; }
z=$(median "$dir/zan"); p=$(median "$dir/python"); l=$(median "$dir/lua")
printf "%-8s %9s %10s\n" program "median ms" "zan/peer"
printf "%-8s %9s\n" zan "$z"
printf "%-8s %9s %10s\n" python3 "$p" "$(awk -v a="$z" -v b="$p" 'BEGIN { printf "%.2f", a / b }')"
printf "%-8s %9s %10s\n" lua5.4 "$l" "$(awk -v a="$z" -v b="$l" 'BEGIN { printf "%.2f", a / b }')"
ZAN_BOOT_TIMES=1 "$zan" "$dir/one.zan" 2>&1 >/dev/null
