# Helpers shared by the benchmark scripts (POSIX sh). Source it after setting
# $here to the bench directory: here=$(cd "$(dirname "$0")" && pwd); . "$here/common.sh"

# find_zan [PATH]: sets $zan to PATH, else to build-release/zan or build/zan.
find_zan() {
    zan=${1:-}
    if [ -z "$zan" ]; then
        for candidate in "$here/../build-release/zan" "$here/../build/zan"; do
            [ -x "$candidate" ] && { zan=$candidate; break; }
        done
    fi
    [ -n "$zan" ] && [ -x "$zan" ] || { echo "no zan executable; build first" >&2; exit 1; }
}

# build_release BUILD_DIR TARGET...: configures a release build there and builds the targets.
build_release() {
    dir=$1; shift
    cmake -S "$here/.." -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$dir" --target "$@" -j3 >/dev/null
}

# real_python: the interpreter that python3 runs in the end. A version
# manager's shim (pyenv) is a shell script that forks helpers on every start:
# timing through it adds their CPU time to the twin's.
real_python() {
    python3 -c 'import sys; print(sys.executable)' 2>/dev/null || echo python3
}

# cpu COMMAND...: the CPU seconds (user + system) of one run, or "failed".
# Only the command's own: the measuring process may have inherited the
# children's times of a shim that exec'd it, so the figure is a difference.
cpu() {
    "$(real_python)" - "$@" <<'PY'
import resource, subprocess, sys
before = resource.getrusage(resource.RUSAGE_CHILDREN)
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
t = (u.ru_utime - before.ru_utime) + (u.ru_stime - before.ru_stime)
print("failed" if r.returncode else "%.3f" % t)
PY
}

# compare_with_python DIR NAME...: runs DIR/NAME.zan in zan and DIR/NAME.py in
# python3 and prints a row of CPU seconds and their ratio for each name.
compare_with_python() {
    dir=$1; shift
    printf "%-8s %9s %9s %8s\n" program zan python3 zan/py
    for name in "$@"; do
        z=$(cpu "$zan" "$dir/$name.zan")
        p=$(cpu "$(real_python)" "$dir/$name.py")
        case "$z$p" in
            *failed*) r="-" ;;
            *) r=$(echo "$z $p" | awk '{ printf "%.2f", $1 / $2 }') ;;
        esac
        printf "%-8s %9s %9s %8s\n" "$name" "$z" "$p" "$r"
    done
}

# best_of RUNS COMMAND...: the shortest wall time in seconds (output to $tmp/out, $tmp/err).
best_of() {
    runs=$1; shift
    best=""
    k=0
    while [ "$k" -lt "$runs" ]; do
        t0=$(date +%s.%N); "$@" >"$tmp/out" 2>"$tmp/err"; t1=$(date +%s.%N)
        t=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
        k=$((k + 1))
    done
    echo "$best"
}
