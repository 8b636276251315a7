#!/usr/bin/env bash
# Times quorvane5 against ffmpeg's denoisers on the same clips, in one run:
#   bench/peers.sh [RUNS]
# Writes a 1920x1080 and a 720x480 clip of 90 frames and a 3840x2160 clip of 30
# frames (Q5_UHD_FRAMES; 4K clips are large) to y4m, then runs every
# command RUNS times (default 3), taking the commands in turn in each round so that
# they all see the same load, and prints the median frames per second, the ratio of
# ours to each peer, quorvane5's peak memory and the load average before and after.
# Needs the built program (./run-tests or cmake --build build) and installs ffmpeg
# from Debian's package if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
frames=90
uhd_frames=${Q5_UHD_FRAMES:-30}
q5=${Q5_CLI:-build/hosts/cli/quorvane5}
peers=(hqdn3d atadenoise vaguedenoiser fftdnoiz)

if ! command -v ffmpeg >/dev/null; then
  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ffmpeg
fi
[ -x "$q5" ] || { echo "peers.sh: $q5 not built (cmake --build build)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A textured, moving test pattern with temporal noise, like camera footage.
make_clip() {
  ffmpeg -v error -f lavfi -i "testsrc2=size=$1:rate=30,noise=alls=12:allf=t" \
    -frames:v "$3" -pix_fmt yuv420p -f yuv4mpegpipe "$2"
}

# Wall time of one run in seconds; the peak resident size (KB) of the last run of
# quorvane5 goes to $work/peak.
run_timed() {
  local start end
  start=$(date +%s%N)
  if [ "$1" = "$q5" ] && [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>&1
  else
    "$@" >/dev/null 2>&1
  fi
  end=$(date +%s%N)
  echo $(((end - start) / 1000))  # microseconds
}

# Median of the microsecond times on standard input, as frames per second.
median_fps() {
  sort -n | awk -v n="$clip_frames" '{t[NR] = $1} END {
    m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.2f", n / (m / 1e6) }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors"
for size in 1920x1080 720x480 3840x2160; do
  clip_frames=$frames
  [ "$size" = 3840x2160 ] && clip_frames=$uhd_frames
  clip="$work/clip-$size.y4m"
  make_clip "$size" "$clip" "$clip_frames"
  for name in quorvane5 "${peers[@]}"; do : >"$work/times-$name"; done
  for _ in $(seq "$runs"); do
    run_timed "$q5" -q --threads 2 "$clip" /dev/null >>"$work/times-quorvane5"
    for filter in "${peers[@]}"; do
      run_timed ffmpeg -v error -threads 2 -filter_threads 2 -i "$clip" -vf "$filter" -f null - \
        >>"$work/times-$filter"
    done
  done
  echo "== $size, $clip_frames frames, median of $runs runs, 2 threads"
  ours=$(median_fps <"$work/times-quorvane5")
  peak=""
  [ -s "$work/peak" ] && peak=$(awk '{printf "   peak memory %.0f MB", $1 / 1024}' "$work/peak")
  printf '%-16s %8s fps%s\n' quorvane5 "$ours" "$peak"
  for filter in "${peers[@]}"; do
    fps=$(median_fps <"$work/times-$filter")
    printf '%-16s %8s fps   quorvane5 is %.2fx\n' "$filter" "$fps" "$(awk -v a="$ours" -v b="$fps" 'BEGIN {print a / b}')"
  done
  rm -f "$clip"  # a 4K clip is large
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
