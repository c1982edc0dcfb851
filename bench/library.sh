#!/bin/sh
# The script library next to CPython twins doing the same work: the CPU time
# (user + system) of each program in zan and in python3, and their ratio.
# Usage: bench/library.sh [path/to/zan] (default: build-release/zan, else build/zan).
set -u
here=$(cd "$(dirname "$0")" && pwd)
zan=${1:-}
if [ -z "$zan" ]; then
    for candidate in "$here/../build-release/zan" "$here/../build/zan"; do
        [ -x "$candidate" ] && { zan=$candidate; break; }
    done
fi
[ -n "$zan" ] && [ -x "$zan" ] || { echo "no zan executable; build first" >&2; exit 1; }

# CPU seconds of a command, or "failed".
cpu() {
    python3 - "$@" <<'PY'
import resource, subprocess, sys
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print("failed" if r.returncode else "%.3f" % (u.ru_utime + u.ru_stime))
PY
}

printf "%-8s %9s %9s %8s\n" program zan python3 zan/py
for name in rejoin words split hot; do
    z=$(cpu "$zan" "$here/library/$name.zan")
    p=$(cpu python3 "$here/library/$name.py")
    case "$z$p" in
        *failed*) r="-" ;;
        *) r=$(echo "$z $p" | awk '{ printf "%.2f", $1 / $2 }') ;;
    esac
    printf "%-8s %9s %9s %8s\n" "$name" "$z" "$p" "$r"
done
