#!/usr/bin/env bash
# How much quorvane5 and ffmpeg's denoisers clean, on clips made here:
#   bench/quality.sh
# Makes a cartoon (the demo's) and a natural-looking textured scene, 24 frames of
# 512x288 4:2:0 8-bit each, with Gaussian noise of sigma 0.5, 1, 2 and 4 code steps,
# and an MPEG-2 round trip of each clean clip through ffmpeg (quantiser 10). For every noisy clip it
# prints PSNR-Y and SSIM-Y (ffmpeg's psnr and ssim filters) against the clean clip:
# of the noisy clip, of quorvane5 at its defaults and at the best of a few settings,
# and of hqdn3d, vaguedenoiser and fftdnoiz at the best of a few strengths each.
# "Best" is the highest PSNR-Y against the clean clip, which a user cannot know: it
# flatters every filter alike. Prints a Markdown table; takes a few minutes.
# Needs the built program and clip maker (cmake --build build --target q5cli q5clips).
set -euo pipefail
cd "$(dirname "$0")/.."
q5=${Q5_CLI:-build/hosts/cli/quorvane5}
clips=${Q5_CLIPS:-build/bench/q5clips}
for tool in "$q5" "$clips"; do
  [ -x "$tool" ] || { echo "quality.sh: $tool not built (cmake --build build --target q5cli q5clips)" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "quality.sh: needs ffmpeg" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

strongest="--tarnel 20 --w2dnrl 20 --w2dnrh 20"
q5settings=(
  ""
  "--no-rounding"
  "$strongest"
  "$strongest --no-rounding"
  "--tarnel 20 --w2dnrl 14 --w2dnrh 20 --no-rounding"
  "$strongest --block --mosquito"
  "$strongest --block --mosquito --blocknr 20 --mosqnr 20"
  "$strongest --block --mosquito --blocknr 20 --mosqnr 20 --no-rounding"
  "--block --mosquito --blocknr 20 --mosqnr 20 --no-rounding"
)
# Strengths of each peer, wide enough to bracket its best on these clips.
declare -A strengths=(
  [hqdn3d]="0.5 1 2 4 8 16 32"
  [vaguedenoiser]="0.5 1 2 4 8 16"
  [fftdnoiz]="0.125 0.25 0.5 1 2 4 8"
)

# "PSNR SSIM" of a y4m stream on standard input against the clean clip $1.
measure() {
  ffmpeg -v info -nostats -i - -i "$1" \
    -lavfi "[0]split[a][b];[1]split[c][d];[a][c]psnr;[b][d]ssim" -f null - 2>&1 |
    awk '/Parsed_psnr/ {for (i = 1; i <= NF; i++) if ($i ~ /^y:/) p = substr($i, 3)}
         /Parsed_ssim/ {for (i = 1; i <= NF; i++) if ($i ~ /^Y:/) s = substr($i, 3)}
         END {printf "%.2f %.4f\n", p, s}'
}

# The best "PSNR SSIM setting" of the lines on standard input (the first of equals).
best() { sort -s -k1,1gr | head -n 1; }

cell() { awk '{printf "%.2f / %.4f", $1, $2}' <<<"$1"; }
label() { printf "\\$(printf %o $((97 + $1)))"; }  # 0 -> a, 1 -> b, ...
setting() { cut -d' ' -f3- <<<"$1"; }

echo "PSNR-Y dB / SSIM-Y against the clean clip; bench/quality.sh at $(git describe --always --dirty 2>/dev/null || echo '?'), $(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)"
echo
echo "| clip | noisy | quorvane5 defaults | quorvane5 best | hqdn3d best | vaguedenoiser best | fftdnoiz best |"
echo "|---|---|---|---|---|---|---|"
for scene in cel texture; do
  clean="$work/$scene-clean.y4m"
  "$clips" "$scene" 0 "$clean"
  cases=()
  for sigma in 0.5 1 2 4; do
    "$clips" "$scene" "$sigma" "$work/$scene-$sigma.y4m"
    cases+=("$sigma")
  done
  # An MPEG-2 round trip at a fixed quantiser where blocks and ringing show.
  ffmpeg -v error -i "$clean" -c:v mpeg2video -q:v 10 -g 12 -f mpeg "$work/$scene.mpg"
  ffmpeg -v error -i "$work/$scene.mpg" -pix_fmt yuv420p -f yuv4mpegpipe "$work/$scene-mpeg2.y4m"
  cases+=(mpeg2)

  for c in "${cases[@]}"; do
    noisy="$work/$scene-$c.y4m"
    input=$(measure "$clean" <"$noisy")
    : >"$work/q5"
    for i in "${!q5settings[@]}"; do
      # shellcheck disable=SC2086
      echo "$("$q5" -q ${q5settings[$i]} "$noisy" - | measure "$clean") $(label "$i")" >>"$work/q5"
    done
    defaults=$(head -n 1 "$work/q5")
    ours=$(best <"$work/q5")
    row="| $scene, $([ "$c" = mpeg2 ] && echo "MPEG-2 q 10" || echo "sigma $c")"
    row+=" | $(cell "$input") | $(cell "$defaults") | $(cell "$ours") ($(setting "$ours"))"
    for filter in hqdn3d vaguedenoiser fftdnoiz; do
      : >"$work/peer"
      for k in ${strengths[$filter]}; do
        case $filter in
          hqdn3d) f="hqdn3d=$k" ;;
          vaguedenoiser) f="vaguedenoiser=threshold=$k" ;;
          fftdnoiz) f="fftdnoiz=sigma=$k" ;;
        esac
        echo "$(ffmpeg -v error -i "$noisy" -vf "$f" -f yuv4mpegpipe - | measure "$clean") $k" >>"$work/peer"
      done
      peer=$(best <"$work/peer")
      row+=" | $(cell "$peer") ($(setting "$peer"))"
    done
    echo "$row |"
  done
done
echo
echo "quorvane5's settings:"
for i in "${!q5settings[@]}"; do
  echo "($(label "$i")) ${q5settings[$i]:-the defaults}"
done
echo "The peers' settings in brackets: hqdn3d=N, vaguedenoiser=threshold=N, fftdnoiz=sigma=N."
