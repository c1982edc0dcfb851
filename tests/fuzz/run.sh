#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and UBSan)
# and runs each for a bounded time: the lexer for SECONDS, the codecs for a
# short slice each (CODEC_FUZZ_SECONDS, 15 by default).
#
#   tests/fuzz/run.sh [SECONDS] [BUILD_DIR]
#
# Exits non-zero when the fuzzer finds a crash; the reproducer is left in
# BUILD_DIR/crash-*. The corpus starts from a few seeds written here.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
build=${2:-build-fuzz}
# A fixed seed makes the test command's fuzzing repeatable; ZAN_FUZZ_SEED=0 draws a new one.
fuzz_seed=${ZAN_FUZZ_SEED:-1}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target zanrt -j3
# The unit tests' stand-ins for pieces not built yet, while there are any.
stubs=$(ls tests/unit/*_stub.cpp 2>/dev/null || true)
# The runtime library's own dependencies (the clipboard's GTK among them).
libs="-lpthread -lz -lcrypto -lcurl $(pkg-config --libs gtk+-3.0 libpng libturbojpeg libtiff-4) -lgif"
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  tests/fuzz/lexer_fuzz.cpp $stubs "$build/libzanrt.a" $libs -o "$build/lexer_fuzz"
corpus="$build/lexer_corpus"
mkdir -p "$corpus"
i=0
for seed in 'a b: [1 2.5 "s" #"c"] (x/y) %f.txt' '{br {ace}} %{raw}% #{0A0B} 64#{QUJD}' \
  '1-Jan-2024/10:00+2:00 $1.50 EUR$2 1x2 (1, 2) 1.2.3 50% 12:30 <tag> a@b.c http://x @r' \
  'a/b: :a/b '"'"'a/b #(true) #[a 1] FFh 1.#INF ; c' '"^(41)^(tab)^-" #"^(1F600)"'; do
  printf '%s' "$seed" > "$corpus/seed$i"; i=$((i + 1))
done
# The image decoders get a short slice.
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  tests/fuzz/image_fuzz.cpp "$build/libzanrt.a" $libs \
  -o "$build/image_fuzz"
mkdir -p "$build/image_corpus"
# Seeds: one small file a format, its decoder's number as the first byte.
cp tests/fuzz/image_seeds/* "$build/image_corpus/"
(cd "$build" && ./image_fuzz -max_total_time=20 -max_len=4096 -timeout=10 -seed="$fuzz_seed" -rss_limit_mb=2048 \
  -malloc_limit_mb=600 image_corpus)
# The HTTP response header parser gets a short slice of its own.
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  tests/fuzz/http_headers_fuzz.cpp $stubs "$build/libzanrt.a" $libs \
  -o "$build/http_headers_fuzz"
mkdir -p "$build/http_headers_corpus"
printf 'HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX:v\r\nX-Pad: \t p \r\n\r\n' \
  > "$build/http_headers_corpus/seed0"
(cd "$build" &&
  ./http_headers_fuzz -max_total_time=20 -max_len=1024 -timeout=10 -seed="$fuzz_seed" http_headers_corpus)
(cd "$build" &&
  ./lexer_fuzz -max_total_time="$seconds" -max_len=4096 -timeout=10 -seed="$fuzz_seed" -rss_limit_mb=2048 lexer_corpus)

# The codecs' decoders of outside data, a short slice each: zlib, raw DEFLATE
# and gzip against zlib's own inflate, the LZ decoder, and an LZ round trip.
codec_seconds=${CODEC_FUZZ_SECONDS:-15}
for target in deflate_fuzz lz_fuzz lz_roundtrip_fuzz; do
  clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
    "tests/fuzz/$target.cpp" $stubs "$build/libzanrt.a" $libs -o "$build/$target"
  mkdir -p "$build/${target}_corpus"
done
seed() {  # seed <target> <name> <hex>
  printf "$(printf '%s' "$3" | sed 's/../\\x&/g')" > "$build/$1_corpus/$2"
}
seed deflate_fuzz zlib 78DA0BC94855282CCD4CCE56482ACA2FCF5348CBAF50C82ACD2D2856C82F4B2D5228014AE72456552AA4E4A7EB29840C0EC500FA60409D
seed deflate_fuzz raw 0BC94855282CCD4CCE56482ACA2FCF5348CBAF50C82ACD2D2856C82F4B2D5228014AE72456552AA4E4A7EB29840C0EC500
seed deflate_fuzz stored 010700F8FF73746F72656421
seed deflate_fuzz gzip 1F8B081E40E20100020303006162636E616D652E747874006120636F6D6D656E7400DD9C0BC94855282CCD4CCE56482ACA2FCF5348CBAF50C82ACD2D2856C82F4B2D5228014AE72456552AA4E4A7EB29840C0EC5001B8DFF44B4000000
seed deflate_fuzz members 1F8B0800000000000203CB48CDC9C9070086A61036050000001F8B08000000000002035328CF2FCA490100CB423B4A06000000
seed deflate_fuzz dynamic 05E001090000008020FC7F9D0000000000000000
seed lz_fuzz run 08000000C8000000C8000000C2024800
seed lz_fuzz codes 100000000800000008000000C2C4C602
printf 'The quick brown fox jumps over the lazy dog. ' > "$build/lz_roundtrip_fuzz_corpus/text"
printf 'a%.0s' $(seq 130) > "$build/lz_roundtrip_fuzz_corpus/run"
for target in deflate_fuzz lz_fuzz lz_roundtrip_fuzz; do
  (cd "$build" && "./$target" -max_total_time="$codec_seconds" -max_len=4096 -timeout=10 -seed="$fuzz_seed" \
    -rss_limit_mb=2048 "${target}_corpus")
done

# The base 2/16/58/64 decoders (with encode-decode round trips) and map!
# literals: ten seconds each.
for target in base_fuzz map_fuzz camera_fuzz; do
  clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
    "tests/fuzz/$target.cpp" $stubs "$build/libzanrt.a" $libs -o "$build/$target"
  mkdir -p "$build/${target}_corpus"
done
printf 'SGVsbG8=\n; c\n0A0B' > "$build/base_fuzz_corpus/seed0"
printf 'a 1 "b" [2] c: #[d 3] 1.5 x %%f 3x4 #"c" <t> 1.2.3' > "$build/map_fuzz_corpus/seed0"
# Camera frames: a 2x1 YUYV frame, and a JPEG header that does not decode.
printf '\x00\x02\x01\xeb\x80\x10\x80' > "$build/camera_fuzz_corpus/yuyv"
printf '\x01\x02\x01\xff\xd8\xff\xe0\x00\x10JFIF' > "$build/camera_fuzz_corpus/mjpeg"
for target in base_fuzz map_fuzz camera_fuzz; do
  (cd "$build" && "./$target" -max_total_time=10 -max_len=4096 -timeout=10 -seed="$fuzz_seed" -rss_limit_mb=2048 \
    "${target}_corpus")
done

# The Zanbin reader: any bytes, or (when the first byte is odd) the rest behind
# a valid header; the seeds are writer output of both flavours.
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  tests/fuzz/zanbin_fuzz.cpp $stubs "$build/libzanrt.a" $libs -o "$build/zanbin_fuzz"
mkdir -p "$build/zanbin_fuzz_corpus"
seed zanbin_fuzz compact 005A414E42494E0205017E060C00000000020000000400000006000000080000000A00000061006600730078002B006B00050520A4897A0E1A03000102811801030E05010305010F030503C14F0300030000010F04C14F0000020000070473C14F0000020000050C810C00000000000004400704780A6325020427030405310000000000000000001000006BC0B2042F8010C80F28021005810804662C0474470108616222A0060704650303030303
seed zanbin_fuzz fixed 005A414E42494E0204010000000C0100000500000028000000000000000800000010000000180000002000000061000000000000006600000000000000730000000000000078000000000000002B000000000000000500000000000000030000002000000052420F000E000058030000000000000001000000020000000B000000010000001800000001000000030000000E00002401000000030000000500000000000000010000000F00000203000000FFFFFFFF0500000000000000030000000F0008000300000000000000FF000000030000000000000000000000010000000F00000204000000FFFFFFFF0F0008000000000000000000FF000000020000000000000000000000070100000000000001000000730000000500000000000000030000000B00000001000000070100000000000001000000780000000C00000000000440000000001E0000000D00000000000000000000000000000060000000
seed zanbin_fuzz framed 03058105820C616263
(cd "$build" && ./zanbin_fuzz -max_total_time=20 -max_len=4096 -timeout=10 -seed="$fuzz_seed" -rss_limit_mb=2048 zanbin_fuzz_corpus)

# load-json and load-csv: any text; accepted input must round-trip through
# to-json and to-csv.
for target in json_fuzz csv_fuzz; do
  clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
    "tests/fuzz/$target.cpp" $stubs "$build/libzanrt.a" $libs -o "$build/$target"
  mkdir -p "$build/${target}_corpus"
done
printf '{"a": [1, -0.5e3, "\\u00e9\\ud83d\\ude00", null, true], "b c": {}}' > "$build/json_fuzz_corpus/seed0"
printf 'a,"b,c"\r\n"d""\ne",f\n,\n' > "$build/csv_fuzz_corpus/seed0"
for target in json_fuzz csv_fuzz; do
  (cd "$build" && "./$target" -max_total_time=20 -max_len=4096 -timeout=10 -seed="$fuzz_seed" -rss_limit_mb=2048 \
    "${target}_corpus")
done

# load and save: any text through load/all, save and load/all again; what
# loads must save to text that loads again.
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  tests/fuzz/load_fuzz.cpp $stubs "$build/libzanrt.a" $libs -o "$build/load_fuzz"
mkdir -p "$build/load_fuzz_corpus"
printf 'Zan [Title: "t"] a b: [1 2.5 "s"] (x/y) %%f.txt #[a 1] $1.50 1x2 <t> 1-Jan-2000' \
  > "$build/load_fuzz_corpus/seed0"
(cd "$build" && ./load_fuzz -max_total_time=15 -max_len=4096 -timeout=10 -seed="$fuzz_seed" -rss_limit_mb=2048 \
  load_fuzz_corpus)

# The draw dialect's walker and operations: any text loaded as a block and
# drawn onto a small image.
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  tests/fuzz/draw_fuzz.cpp $stubs "$build/libzanrt.a" $libs -o "$build/draw_fuzz"
mkdir -p "$build/draw_fuzz_corpus"
printf 'pen 255.0.0 fill-pen linear 0.0.255 0.5 255.255.0 box 1x1 30x20 5 line-width 3 line 0x0 10x10 20x5' \
  > "$build/draw_fuzz_corpus/shapes"
printf 'b: [circle 10x10 5 arc 20x20 8x6 0 270 closed] push [rotate 30 translate 5x5 b] clip 2x2 40x30 [spline 1x1 9x2 4x8 closed]' \
  > "$build/draw_fuzz_corpus/blocks"
printf 'shape [move 1x1 line 10x10 arc 20x5 5 5 0 sweep close] matrix [1 0 0 1 2 2] text 2x2 "hi" curve 1x1 5x9 9x1' \
  > "$build/draw_fuzz_corpus/paths"
printf 'shadow 2x2 3 0 0.0.0 line-pattern 5 5 line-cap round line-join bevel polygon 1x1 20x3 5x15 scale 0 0 box 0x0 5x5' \
  > "$build/draw_fuzz_corpus/styles"
(cd "$build" && LSAN_OPTIONS=suppressions=../tests/gui/lsan.supp ./draw_fuzz -max_total_time=20 -max_len=2048 -timeout=10 -seed="$fuzz_seed" -rss_limit_mb=2048 \
  draw_fuzz_corpus)
