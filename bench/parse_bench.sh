#!/usr/bin/env bash
# Parse next to Python's re on the same work, in one run: scanning a generated
# log with to/thru/copy, and a character-class tokenizer over a 4 MB text.
#
#   bench/parse_bench.sh [BUILD_DIR]
#
# Builds zan in a release build (build-release by default), checks that both
# sides print the same findings, and prints each side's time and the ratio.
# zan's time for a task is its run with that task alone less a run that only
# makes the inputs; Python times each task inside its run. Both sides count CPU
# seconds (user + system), the least of five runs, so other load on the machine
# weighs less than in wall time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cd "$here/.."
build=${1:-build-release}
build_release "$build" zan
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT


if ! "$build/zan" bench/parse_bench.zan >"$tmp/zan.out" 2>"$tmp/zan.err"; then
  echo "zan could not run bench/parse_bench.zan:"; head -5 "$tmp/zan.err"; exit 1
fi
python3 bench/parse_bench.py >"$tmp/py.out" 2>"$tmp/py.err"
if ! diff "$tmp/zan.out" "$tmp/py.out" >/dev/null; then
  echo "findings differ:"; diff "$tmp/zan.out" "$tmp/py.out" || true; exit 1
fi
cat "$tmp/zan.out"

# best_cpu RUNS COMMAND...: the least CPU seconds of RUNS runs.
best_cpu() {
    local runs=$1 best="" t k
    shift
    for ((k = 0; k < runs; k++)); do
        t=$(cpu "$@")
        if [ "$t" = failed ]; then echo "failed: $*" >&2; exit 1; fi
        if [ -z "$best" ] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
    done
    echo "$best"
}
gen=$(best_cpu 5 env PARSE_BENCH_GEN_ONLY=1 "$build/zan" bench/parse_bench.zan)
py_times=(0 0 0)
for k in 1 2 3 4 5; do
  python3 bench/parse_bench.py >/dev/null 2>"$tmp/py.err"
  read -r _ a b c < <(grep '^times' "$tmp/py.err")
  t=($a $b $c)
  for i in 0 1 2; do
    if [ "${py_times[$i]}" = 0 ] || (( $(echo "${t[$i]} < ${py_times[$i]}" | bc -l) )); then py_times[$i]=${t[$i]}; fi
  done
done
names=("log: thru/copy/to" "log: thru/copy digits" "tokenizer")
for k in 1 2 3; do
  whole=$(best_cpu 5 env PARSE_BENCH_PART=$k "$build/zan" bench/parse_bench.zan)
  zan_t=$(echo "$whole - $gen" | bc -l)
  py_t=${py_times[$((k - 1))]}
  printf "%-24s zan parse: %.3f s   python re: %.3f s   ratio zan/python: %.2f\n" \
    "${names[$((k - 1))]}" "$zan_t" "$py_t" "$(echo "$zan_t / $py_t" | bc -l)"
done
