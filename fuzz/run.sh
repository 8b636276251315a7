#!/usr/bin/env bash
# Builds the command's libFuzzer target (the y4m reader and conversion, the option
# parser, the preview's frame window) with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for a bounded time.
# Usage: fuzz/run.sh [SECONDS]   (default 60). Crashes are kept in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
out=build-fuzz
mkdir -p "$out/corpus"

flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Ihosts -Isrc)
# The conversions' SSSE3 rows are built apart, as the project builds them, so that
# only they may use SSSE3 (the converter checks the processor before calling them).
clang++ "${flags[@]}" -mssse3 -c hosts/cli/picture/convert_ssse3.cpp -o "$out/convert_ssse3.o"
clang++ "${flags[@]}" fuzz/command_fuzz.cpp hosts/cli/io/y4m.cpp hosts/cli/picture/convert.cpp \
  "$out/convert_ssse3.o" hosts/cli/command/options.cpp hosts/cli/picture/preview_window.cpp \
  hosts/cli/io/output_file.cpp hosts/cli/io/signals.cpp hosts/cli/command/strength.cpp hosts/cli/picture/noise_estimate.cpp \
  hosts/common/thread_pool_std.cpp -pthread -o "$out/command_fuzz"

# Seeds: one small well-formed stream of each kind.
seed() {  # name header frame-bytes [frame-params]
  { printf '%s\n' "$2"; for _ in 1 2; do printf 'FRAME%s\n' "${4:-}"; head -c "$3" /dev/urandom; done; } \
    > "$out/corpus/seed-$1"
}
seed 420 "YUV4MPEG2 W4 H2 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG" 12
seed 420i "YUV4MPEG2 W4 H6 It C420mpeg2" 36
seed 420m "YUV4MPEG2 W4 H4 Im C420paldv" 24 " Itii"
seed 422 "YUV4MPEG2 W4 H2 C422" 16
seed 444 "YUV4MPEG2 W3 H2 C444" 18
seed mono "YUV4MPEG2 W3 H3 Cmono" 9
seed 420p10 "YUV4MPEG2 W4 H2 C420p10" 24
seed 444p16 "YUV4MPEG2 W2 H2 C444p16" 24
# Command lines, one argument a line; the last four bytes pick the previewed frame.
printf -- '--tarnel\n14\n--mosquito\n--threads=2\nin.y4m\n-' > "$out/corpus/seed-options"
printf -- 'preview\n-\n--frame\n3\n--out\n-\n--no-field' > "$out/corpus/seed-preview"
printf -- '--\ndemo\nout.y4m\n--rounding-strength=-1' > "$out/corpus/seed-operands"
printf 'YUV4MPEG2 W4 H2 C420jpeg\nFRAME\n123456FRAME\n123456FRAME\n123456\377\377\377\377' > "$out/corpus/seed-last-frame"

"$out/command_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -dict=fuzz/y4m.dict -artifact_prefix="$out/" -print_final_stats=1 \
  "$out/corpus"
