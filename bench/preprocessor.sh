#!/bin/sh
# The preprocessor and reactivity next to CPython twins doing the same work:
# the CPU time (user + system) of each program in zan and python3, and their ratio.
# Usage: bench/preprocessor.sh [path/to/zan] (default: build-release/zan, else build/zan).
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
for name in expand react; do
    z=$(cpu "$zan" "$here/preprocessor/$name.zan")
    p=$(cpu python3 "$here/preprocessor/$name.py")
    case "$z$p" in
        *failed*) r="-" ;;
        *) r=$(echo "$z $p" | awk '{ printf "%.2f", $1 / $2 }') ;;
    esac
    printf "%-8s %9s %9s %8s\n" "$name" "$z" "$p" "$r"
done
