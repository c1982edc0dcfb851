#!/bin/sh
# Runs the same programs in zan, python3 and lua5.4 and prints the median CPU
# time (user + system) of each over several runs, with zan's ratio to the
# others. Each program prints its result; a runtime whose output differs from
# python3's shows "wrong", one that cannot run a program shows "failed".
# Usage: bench/run.sh [path/to/zan] (default: build-release/zan, else
# build/zan). RUNS=N sets the runs per program and runtime (default 5).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
find_zan "${1:-}"
if ! command -v lua5.4 >/dev/null 2>&1; then
    echo "installing lua5.4" >&2
    (apt-get install -y lua5.4 >/dev/null 2>&1 || sudo apt-get install -y lua5.4 >/dev/null 2>&1) ||
        echo "lua5.4 unavailable: its column shows failed" >&2
fi
runs=${RUNS:-5}

# Median CPU seconds of a command over $runs runs, or "failed" / "wrong" when
# it fails or prints other than the expected result ($1).
cpu() {
    python3 - "$runs" "$@" <<'PY'
import resource, subprocess, sys
runs, expected, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
times = []
for _ in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode:
        print("failed"); sys.exit()
    got, want = r.stdout.decode(errors="replace").split(), expected.split()
    def same(a, b):
        try:
            return a == b or float(a) == float(b)
        except ValueError:
            return False
    if len(got) != len(want) or not all(map(same, got, want)):
        print("wrong"); sys.exit()
    times.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
times.sort()
print("%.3f" % times[len(times) // 2])
PY
}

ratio() {
    case "$1$2" in *failed*|*wrong*) echo "-" ;; *) echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }' ;; esac
}

printf "%-9s %9s %9s %9s %8s %8s\n" program zan python3 lua5.4 zan/py zan/lua
for name in fib loop call object float dispatch refine foreach block string sort; do
    expected=$(python3 "$here/$name.py" 2>/dev/null)
    z=$(cpu "$expected" "$zan" "$here/$name.zan")
    p=$(cpu "$expected" python3 "$here/$name.py")
    l=$(cpu "$expected" lua5.4 "$here/$name.lua")
    printf "%-9s %9s %9s %9s %8s %8s\n" "$name" "$z" "$p" "$l" "$(ratio "$z" "$p")" "$(ratio "$z" "$l")"
done
[ -n "${BENCH_ONLY:-}" ] || "$here/library.sh" "$zan"
