#!/usr/bin/env bash
# money! and date! next to Python's decimal and datetime on the same work, in
# one run: 1,000,000 additions and multiplications of amounts, and 1,000,000
# dates plus a number of days with a field read (bench/money.zan, money.py).
#
#   bench/money_bench.sh [BUILD_DIR]
#
# Each side's CPU time (user + system) of a whole run, the best of five runs
# taken in turns, and their ratio; zan should not need more than Python.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cd "$here/.."
build=${1:-build-release}
build_release "$build" zan
python3 - "$build/zan" <<'PY'
import os, resource, subprocess, sys
zan = sys.argv[1]
def cpu(cmd, part):
    env = dict(os.environ, MONEY_BENCH_PART=part)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
tasks = [("1", "1,000,000 x (amount + amount, amount * 3)"), ("2", "1,000,000 x (date + days, /day)")]
for part, name in tasks:
    z = min(cpu([zan, "bench/money.zan"], part) for _ in range(5) if True)
    p = min(cpu(["python3", "bench/money.py"], part) for _ in range(5))
    print(f"{name:44} zan: {z:.3f} s   python: {p:.3f} s   ratio zan/python: {z / p:.2f}")
PY
