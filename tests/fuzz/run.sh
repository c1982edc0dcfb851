#!/usr/bin/env bash
# Builds the lexer fuzz target with clang (libFuzzer, AddressSanitizer and
# UBSan) and runs it for a bounded time.
#
#   tests/fuzz/run.sh [SECONDS] [BUILD_DIR]
#
# Exits non-zero when the fuzzer finds a crash; the reproducer is left in
# BUILD_DIR/crash-*. The corpus starts from a few seeds written here.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
build=${2:-build-fuzz}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target zanrt -j3
# The unit tests' stand-ins for pieces not built yet, while there are any.
stubs=$(ls tests/unit/*_stub.cpp 2>/dev/null || true)
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  tests/fuzz/lexer_fuzz.cpp $stubs "$build/libzanrt.a" -lpthread -lz -lcrypto -lcurl -o "$build/lexer_fuzz"
corpus="$build/lexer_corpus"
mkdir -p "$corpus"
i=0
for seed in 'a b: [1 2.5 "s" #"c"] (x/y) %f.txt' '{br {ace}} %{raw}% #{0A0B} 64#{QUJD}' \
  '1-Jan-2024/10:00+2:00 $1.50 EUR$2 1x2 (1, 2) 1.2.3 50% 12:30 <tag> a@b.c http://x @r' \
  'a/b: :a/b '"'"'a/b #(true) #[a 1] FFh 1.#INF ; c' '"^(41)^(tab)^-" #"^(1F600)"'; do
  printf '%s' "$seed" > "$corpus/seed$i"; i=$((i + 1))
done
# The HTTP response header parser gets a short slice of its own.
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  tests/fuzz/http_headers_fuzz.cpp $stubs "$build/libzanrt.a" -lpthread -lz -lcrypto -lcurl \
  -o "$build/http_headers_fuzz"
mkdir -p "$build/http_headers_corpus"
printf 'HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX:v\r\nX-Pad: \t p \r\n\r\n' \
  > "$build/http_headers_corpus/seed0"
cd "$build"
./http_headers_fuzz -max_total_time=20 -max_len=1024 -timeout=10 http_headers_corpus
./lexer_fuzz -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 lexer_corpus
