#!/usr/bin/env bash
# What cutting a clip into chunks costs (scripts/denoise-cluster): times quorvane5
# over a whole clip and over the same clip in four chunks made with --frames, and a
# chunk of one and of two frames, in one run:
#   bench/chunks.sh [RUNS] [SIZE]
# Writes a clip of 16 frames of SIZE (default 3840x2160) to y4m, runs each command
# RUNS times (default 3) in turn, and prints the median wall and CPU (user and
# system) seconds, the chunks' extra time over the whole run per chunk and in frames'
# worth, and the load average before and after. Settings after the size go to every
# run (Q5_OPTIONS, default "--threads 2").
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
size=${2:-3840x2160}
q5=${Q5_CLI:-build/hosts/cli/quorvane5}
read -r -a options <<<"${Q5_OPTIONS:---threads 2}"
command -v ffmpeg >/dev/null || { echo "chunks.sh: needs ffmpeg" >&2; exit 1; }
[ -x "$q5" ] || { echo "chunks.sh: $q5 not built (cmake --build build)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=24,noise=alls=6:allf=t" -frames:v 16 \
  -pix_fmt yuv420p -f yuv4mpegpipe "$work/clip.y4m"

# "wall cpu" of one run, in seconds.
timed() {
  local TIMEFORMAT='%R %U %S' t
  t=$( { time "$q5" -q "${options[@]}" "$@" "$work/clip.y4m" /dev/null >/dev/null 2>&1; } 2>&1 )
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$t"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
: >"$work/times"
for ((r = 0; r < runs; r++)); do
  echo "whole $(timed)" >>"$work/times"
  wall=0 cpu=0
  for span in 0:4 4:8 8:12 12:16; do
    read -r w c < <(timed --frames $span)
    wall=$(awk -v a=$wall -v b=$w 'BEGIN { print a + b }') cpu=$(awk -v a=$cpu -v b=$c 'BEGIN { print a + b }')
  done
  echo "chunks $wall $cpu" >>"$work/times"
  echo "one $(timed --frames 8:9)" >>"$work/times"
  echo "two $(timed --frames 8:10)" >>"$work/times"
done
med() { awk -v k="$1" -v f="$2" '$1 == k { print $f }' "$work/times" | median; }
printf '%-28s %10s %10s\n' "$size, 16 frames ($runs runs)" "wall s" "CPU s"
for k in whole chunks one two; do
  case $k in whole) name="whole clip" ;; chunks) name="four chunks of four" ;; one) name="chunk of one frame" ;; two) name="chunk of two frames" ;; esac
  printf '%-28s %10s %10s\n' "$name" "$(med $k 2)" "$(med $k 3)"
done
for f in 2 3; do
  awk -v w="$(med whole $f)" -v c="$(med chunks $f)" -v what="$([ $f = 2 ] && echo wall || echo CPU)" \
    'BEGIN { printf "%s: %.2f s more a chunk, %.1f frames'"'"' worth\n", what, (c - w) / 4, (c - w) / 4 / (w / 16) }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
