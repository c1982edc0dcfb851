#!/usr/bin/env bash
# Event dispatch: 200,000 made events through system/view/awake (the seven
# standard handlers, a window > panel > button tree) beside a CPython twin.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zan=${ZAN:-$here/../build/zan}
z=$( { /usr/bin/time -f %U "$zan" "$here/view_awake.zan" >/dev/null; } 2>&1 | tail -1)
p=$( { /usr/bin/time -f %U python3 "$here/view_awake.py" >/dev/null; } 2>&1 | tail -1)
echo "awake: zan ${z}s python3 ${p}s ratio $(python3 -c "print(round($z/$p, 2))")"
