#!/bin/sh
# The preprocessor and reactivity next to CPython twins doing the same work:
# the CPU time (user + system) of each program in zan and python3, and their ratio.
# Usage: bench/preprocessor.sh [path/to/zan] (default: build-release/zan, else build/zan).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
find_zan "${1:-}"
compare_with_python "$here/preprocessor" expand react
