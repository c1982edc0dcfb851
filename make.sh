#!/usr/bin/env bash
# Set-up, build and test in one place.
#   ./make.sh run [script args...]   install what is missing, build, start zan
#   ./make.sh test                   install what is missing, build, run every test
set -euo pipefail
# A script named to `run` is found from where the user stands, and zan runs there.
here=$PWD
cd "$(dirname "$0")"
repo=$PWD

packages=(g++ cmake ninja-build googletest libgtest-dev zlib1g-dev libssl-dev libcurl4-openssl-dev
  libgtk-3-dev pkg-config libpng-dev libturbojpeg0-dev libgif-dev libtiff-dev)
# The decoders of outside data are fuzzed with clang's libFuzzer.
test_packages=(clang libclang-rt-dev)
# The HTTP tests talk to a Python server.
test_packages+=(python3)
# The vector benchmark compares with numpy.
test_packages+=(python3-numpy)
# The clipboard tests run under a virtual X server and check with xclip.
test_packages+=(xvfb xauth xclip)
# The GUI event tests press keys and click with xdotool.
test_packages+=(xdotool)
# Text in the GUI tests is measured in the DejaVu faces only (tests/gui/fonts.conf).
test_packages+=(fonts-dejavu-core)
# The date tests also run in named time zones.
test_packages+=(tzdata)
# Drawing: cairo and pango (libgtk-3-dev brings their headers) and a known font for text metrics.
packages+=(libcairo2-dev libpango1.0-dev fonts-dejavu-core)
# Cameras: the V4L2 headers.
packages+=(linux-libc-dev)

install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    local sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
  fi
}

build() {  # build <dir> <cmake args...>
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}

jobs=$(nproc 2>/dev/null || echo 2)

case "${1:-}" in
  run)
    shift
    # Set-up and build chatter goes to standard error: standard output is the script's.
    install_missing "${packages[@]}" >&2
    build build -DCMAKE_BUILD_TYPE=Release >&2
    cd "$here"
    exec "$repo/build/zan" "$@"
    ;;
  test)
    install_missing "${packages[@]}" "${test_packages[@]}"
    build build -DCMAKE_BUILD_TYPE=Release
    ctest --test-dir build --output-on-failure -j "$jobs"
    # The debug build checks the heap after every collection.
    build build-debug -DCMAKE_BUILD_TYPE=Debug
    ctest --test-dir build-debug --output-on-failure -j "$jobs"
    echo "fuzzing the lexer for 60 s and each codec for 15 s"
    tests/fuzz/run.sh 60 >fuzz.log 2>&1 || { tail -n 40 fuzz.log; exit 1; }
    tail -n 2 fuzz.log
    ;;
  *)
    echo "usage: $0 run [script args...] | test" >&2
    exit 2
    ;;
esac
