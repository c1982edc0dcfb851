#!/usr/bin/env bash
# The read-eval-print loop on piped input: 100,000 lines `i: i + 1` fed to zan
# and to `python3 -i -q`, wall time of each and zan's ratio (lower is better).
# Usage: bench/repl.sh [path/to/zan]
set -euo pipefail
ZAN=${1:-$(dirname "$0")/../build/zan}
LINES=${LINES_COUNT:-100000}
input=$(mktemp)
trap 'rm -f "$input"' EXIT
python3 -c "
print('i: 0')
for _ in range($LINES): print('i: i + 1')
" > "$input"
time_of() {
    local start end
    start=$(date +%s.%N)
    "$@" < "$input" > /dev/null 2>&1
    end=$(date +%s.%N)
    python3 -c "print(f'{$end - $start:.3f}')"
}
z=$(time_of "$ZAN")
p=$(time_of python3 -i -q)
echo "lines: $LINES"
echo "zan:     ${z} s"
echo "python3: ${p} s"
python3 -c "print(f'zan/python3: {$z / $p:.2f}')"
