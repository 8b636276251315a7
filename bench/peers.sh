#!/usr/bin/env bash
# Times quorvane5 against ffmpeg's denoisers on the same clips, in one run:
#   bench/peers.sh [RUNS]
# Writes a 1920x1080 and a 720x480 clip of 60 frames to y4m, then runs each
# command RUNS times (default 3) and prints the median frames per second and
# the ratio of ours to each peer. Needs the built program (./run-tests or
# cmake --build build) and installs ffmpeg from Debian's package if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
frames=60
q5=${Q5_CLI:-build/hosts/cli/quorvane5}

if ! command -v ffmpeg >/dev/null; then
  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ffmpeg
fi
[ -x "$q5" ] || { echo "peers.sh: $q5 not built (cmake --build build)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A textured, moving test pattern with temporal noise, like camera footage.
make_clip() {
  ffmpeg -v error -f lavfi -i "testsrc2=size=$1:rate=30,noise=alls=12:allf=t" \
    -frames:v "$frames" -pix_fmt yuv420p -f yuv4mpegpipe "$2"
}

# Wall time of one run, in seconds.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

median_fps() {
  local times=()
  for _ in $(seq "$runs"); do times+=("$(seconds "$@")"); done
  printf '%s\n' "${times[@]}" | sort -g | awk -v n="$frames" '{t[NR]=$1} END {
    m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.2f", n / m }'
}

command -v bc >/dev/null || { apt-get install -y --no-install-recommends bc >/dev/null; }

for size in 1920x1080 720x480; do
  clip="$work/clip-$size.y4m"
  make_clip "$size" "$clip"
  echo "== $size, $frames frames, median of $runs runs, 2 threads"
  ours=$(median_fps "$q5" -q --threads 2 "$clip" /dev/null)
  printf '%-16s %8s fps\n' quorvane5 "$ours"
  for filter in hqdn3d atadenoise vaguedenoiser fftdnoiz; do
    fps=$(median_fps ffmpeg -v error -threads 2 -filter_threads 2 -i "$clip" -vf "$filter" -f null -)
    ratio=$(echo "$ours / $fps" | bc -l)
    printf '%-16s %8s fps   quorvane5 is %.2fx\n' "$filter" "$fps" "$ratio"
  done
done
