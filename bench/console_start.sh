#!/bin/bash
# Start-up of the console and of scripts next to a display.
#
# 1. `zan hello.zan` with DISPLAY set (under Xvfb) and unset: a script that
#    shows no window must not pay for GTK, so the two should be equal.
# 2. From exec to the console window mapped (xdotool search --sync) beside a
#    small C GTK 3 program opening one window, both under the same Xvfb.
#
# usage: bench/console_start.sh [path/to/zan]   (RUNS=N, default 20)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
inner_run=false
if [ "${1:-}" = "--inner-at" ]; then inner_run=true; zan=$2; work=$3; else
    zan=$(realpath "${1:-$here/../build/zan}")
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
runs=${RUNS:-20}
export HOME=$work/home
mkdir -p "$HOME"

printf 'Zan []\nprint "hello"\n' >"$work/hello.zan"

# median wall time in ms of a command run $runs times
median() {
    local times=()
    for _ in $(seq "$runs"); do
        local t0 t1
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        times+=($(((t1 - t0) / 1000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]/1000}'
}

cat >"$work/peer.c" <<'C'
#include <gtk/gtk.h>
static gboolean done(gpointer w) { gtk_main_quit(); return FALSE; }
static void mapped(GtkWidget* w, GdkEvent* e, gpointer d) { g_timeout_add(200, done, NULL); }
int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(w), "Peer Window");
    gtk_window_set_default_size(GTK_WINDOW(w), 640, 480);
    g_signal_connect(w, "map-event", G_CALLBACK(mapped), NULL);
    gtk_widget_show_all(w);
    gtk_main();
    return 0;
}
C
gcc -O2 -o "$work/peer" "$work/peer.c" $(pkg-config --cflags --libs gtk+-3.0)

# exec until a window with the title is mapped, in ms; "-" when none maps
time_to_window() {
    local title=$1; shift
    local t0 t1 pid
    t0=$(date +%s%N)
    "$@" </dev/null >/dev/null 2>&1 &
    pid=$!
    if timeout 10 xdotool search --sync --name "$title" >/dev/null 2>&1; then
        t1=$(date +%s%N)
        echo $(((t1 - t0) / 1000000))
    else
        echo "-"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

inner() {
    local with without
    with=$(median "$zan" "$work/hello.zan")
    without=$(median env -u DISPLAY -u WAYLAND_DISPLAY "$zan" "$work/hello.zan")
    echo "zan hello.zan, display set:   $with ms"
    echo "zan hello.zan, display unset: $without ms"
    awk -v a="$with" -v b="$without" 'BEGIN {printf "ratio set/unset: %.2f (target <= 1.1)\n", a / b}'
    local z p
    z=$(time_to_window "Zan Console" "$zan")
    p=$(time_to_window "Peer Window" "$work/peer")
    echo "exec to console window mapped: $z ms"
    echo "exec to C GTK 3 window mapped: $p ms"
    if [ "$z" = "-" ]; then
        echo "the console window did not open"
    else
        awk -v a="$z" -v b="$p" 'BEGIN {printf "ratio zan/C: %.2f (target <= 1.5)\n", a / b}'
    fi
}

if $inner_run; then inner; exit; fi
xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inner-at "$zan" "$work"
