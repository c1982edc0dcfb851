#!/bin/sh
# map!, hash!, base encodings and vector! against CPython (dict, set, base64,
# binascii) and numpy on the same work, in one run. Each script times the CPU
# seconds of its own parts; the table shows them and the ratio zan/python.
# Usage: bench/binmap_bench.sh [path/to/zan]
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
find_zan "${1:-}"
show() {  # names, zan times, python times
    echo "$1|$2|$3" | awk -F'|' '{
        n = split($1, names, " "); split($2, z, " "); split($3, p, " ")
        for (i = 1; i <= n; i++) printf "%-28s %9.4f %9.4f %8.2f\n", names[i], z[i], p[i], z[i] / p[i]
    }'
}
# Debian's python3 has numpy; a python3 of its own earlier in PATH may not.
py=python3
/usr/bin/python3 -c 'import numpy' 2>/dev/null && py=/usr/bin/python3
printf "%-28s %9s %9s %8s\n" work zan python zan/py
show "map-int-1M-put+select map-string-1M-put+select hash!-200x100k-finds" \
    "$("$zan" "$here/map_bench.zan")" "$("$py" "$here/map_bench.py")"
show "enbase-64-64MiB debase-64-64MiB enbase-16-64MiB debase-16-64MiB vector-10M-times-scalar" \
    "$("$zan" "$here/codec_bench.zan")" "$("$py" "$here/codec_bench.py")"
