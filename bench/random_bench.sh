#!/usr/bin/env bash
# random next to Python's random module on the same work, in one run:
# shuffling a 1,000,000-value block, and a loop of 1,000,000 `random 1000`
# (Python: random.shuffle and randrange).
#
#   bench/random_bench.sh [BUILD_DIR]
#
# zan's time for a task is its run with that task less a run that only makes
# the block; Python times each task inside its run. Best of three each.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cd "$here/.."
build=${1:-build-release}
build_release "$build" zan
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT


if ! "$build/zan" bench/random_bench.zan >"$tmp/zan.out" 2>"$tmp/zan.err"; then
  echo "zan could not run bench/random_bench.zan:"; head -5 "$tmp/zan.err"; exit 1
fi
gen=$(best_of 3 "$build/zan" bench/random_bench.zan)
py_times=(0 0)
for k in 1 2 3; do
  python3 bench/random_bench.py 2>"$tmp/py.err"
  read -r _ a b < <(grep '^times' "$tmp/py.err")
  t=($a $b)
  for i in 0 1; do
    if [ "${py_times[$i]}" = 0 ] || (( $(echo "${t[$i]} < ${py_times[$i]}" | bc -l) )); then py_times[$i]=${t[$i]}; fi
  done
done
names=("shuffle 1,000,000" "1,000,000 x random 1000")
for k in 1 2; do
  whole=$(best_of 3 env RANDOM_BENCH_PART=$k "$build/zan" bench/random_bench.zan)
  zan_t=$(echo "$whole - $gen" | bc -l)
  py_t=${py_times[$((k - 1))]}
  printf "%-26s zan: %.3f s   python: %.3f s   ratio zan/python: %.2f\n" \
    "${names[$((k - 1))]}" "$zan_t" "$py_t" "$(echo "$zan_t / $py_t" | bc -l)"
done
