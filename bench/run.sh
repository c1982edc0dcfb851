#!/bin/sh
# Runs the same programs in zan, python3 and lua5.4 and prints each time with
# its ratio to the others. Usage: bench/run.sh [path/to/zan] (default:
# build-release/zan, else build/zan). A program a runtime cannot run yet shows
# "failed".
set -u
here=$(cd "$(dirname "$0")" && pwd)
zan=${1:-}
if [ -z "$zan" ]; then
    for candidate in "$here/../build-release/zan" "$here/../build/zan"; do
        [ -x "$candidate" ] && { zan=$candidate; break; }
    done
fi
[ -n "$zan" ] && [ -x "$zan" ] || { echo "no zan executable; build first" >&2; exit 1; }
if ! command -v lua5.4 >/dev/null 2>&1; then
    echo "installing lua5.4" >&2
    (apt-get install -y lua5.4 >/dev/null 2>&1 || sudo apt-get install -y lua5.4 >/dev/null 2>&1) ||
        echo "lua5.4 unavailable: its column shows failed" >&2
fi

# Seconds taken by a command, or "failed" when it fails.
timed() {
    start=$(date +%s.%N)
    if "$@" >/dev/null 2>&1; then
        end=$(date +%s.%N)
        echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }'
    else
        echo failed
    fi
}

ratio() {
    case "$1$2" in *failed*) echo "-" ;; *) echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }' ;; esac
}

printf "%-8s %9s %9s %9s %10s %10s\n" program zan python3 lua5.4 zan/py zan/lua
for name in fib loop string sort call; do
    z=$(timed "$zan" "$here/$name.zan")
    p=$(timed python3 "$here/$name.py")
    l=$(timed lua5.4 "$here/$name.lua")
    printf "%-8s %9s %9s %9s %10s %10s\n" "$name" "$z" "$p" "$l" "$(ratio "$z" "$p")" "$(ratio "$z" "$l")"
done
"$here/library.sh" "$zan"
