#!/bin/sh
# The script library next to CPython twins doing the same work: the CPU time
# (user + system) of each program in zan and in python3, and their ratio.
# Usage: bench/library.sh [path/to/zan] (default: build-release/zan, else build/zan).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
find_zan "${1:-}"
compare_with_python "$here/library" rejoin words split hot
