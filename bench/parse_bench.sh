#!/usr/bin/env bash
# Parse next to Python's re on the same work, in one run: scanning a generated
# log with to/thru/copy, and a character-class tokenizer over a 4 MB text.
#
#   bench/parse_bench.sh [BUILD_DIR]
#
# Builds zan in a release build (build-release by default), checks that both
# sides print the same findings, and prints each side's time and the ratio.
# Each side times every task inside its own run in CPU seconds (user +
# system), each task repeated PARSE_BENCH_REPS times (5 by default); the table
# shows the least of three runs, so other load on the machine weighs little.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cd "$here/.."
build=${1:-build-release}
build_release "$build" zan
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# least_times FILE...: per column, the least of the "times a b c" lines.
least_times() {
    grep -h '^times' "$@" | awk '{ for (i = 2; i <= 4; i++) if (NR == 1 || $i < m[i]) m[i] = $i }
        END { print m[2], m[3], m[4] }'
}

for k in 1 2 3; do
    if ! "$build/zan" bench/parse_bench.zan >"$tmp/zan$k.out" 2>"$tmp/zan.err"; then
        echo "zan could not run bench/parse_bench.zan:"; head -5 "$tmp/zan.err"; exit 1
    fi
    python3 bench/parse_bench.py >"$tmp/py.out" 2>"$tmp/py$k.err"
done
grep -v '^times' "$tmp/zan1.out" >"$tmp/zan.out"
if ! diff "$tmp/zan.out" "$tmp/py.out" >/dev/null; then
  echo "findings differ:"; diff "$tmp/zan.out" "$tmp/py.out" || true; exit 1
fi
cat "$tmp/zan.out"
read -r z1 z2 z3 < <(least_times "$tmp"/zan?.out)
read -r p1 p2 p3 < <(least_times "$tmp"/py?.err)
zt=($z1 $z2 $z3)
pt=($p1 $p2 $p3)
names=("log: thru/copy/to" "log: thru/copy digits" "tokenizer")
for i in 0 1 2; do
  printf "%-24s zan parse: %.3f s   python re: %.3f s   ratio zan/python: %.2f\n" \
    "${names[$i]}" "${zt[$i]}" "${pt[$i]}" "$(echo "${zt[$i]} / ${pt[$i]}" | bc -l)"
done
