#!/usr/bin/env bash
# How much quorvane5 and ffmpeg's denoisers clean, and what that saves an encoder,
# on clips of several kinds:
#   bench/quality.sh            the full run (47 minutes on two shared cores before
#                               grain of 4 and the settings past the editor's range)
#   Q5_QUICK=1 bench/quality.sh one cartoon, 720x480, 8 frames, sigma 1 (about a minute)
# Contents (bench/quality/q5clips.cpp makes them; each is reported on its own):
#   cel       a cartoon of flat cels with thin dark outlines
#   gradient  a cartoon of large smooth gradients and soft-edged shapes
#   busy      a cartoon with a finely textured painted background behind the characters
#   toon      a two-tone cartoon: every shape lit and shaded, dense aliased dark outlines
#   pan       a photograph (a forest path) with the camera panning
#   zoom      a photograph (fallen leaves, a blurred background) with the camera zooming in
# The photographs are wallpapers of Debian's plasma-workspace-wallpapers package,
# installed with apt-get when missing (as root) and decoded by ffmpeg.
# Each content at 720x480 (24 frames) and 1920x1080 (12 frames), 4:2:0 8-bit, with
# Gaussian noise of sigma 0.5, 1, 2 and 4 code steps and spread grain ("c2": white noise
# through [1 2 1] / 4 both ways, deviation 2); at 720x480 also an MPEG-2 round
# trip of the clean clip (quantiser 10) where blocks and ringing show.
# For every noisy clip: PSNR-Y and SSIM-Y (ffmpeg's psnr and ssim filters) against the
# clean clip of the noisy clip, of quorvane5 at each of a few settings (a letter
# each: (a) to (h) within the editor's ranges, (i) to (n) past them, which only the
# command offers), the best of a grid of fixed settings (below), of quorvane5 (its
# default, --strength auto), and of hqdn3d, vaguedenoiser and
# fftdnoiz at their best strengths (found by stepping the strength by factors of two
# while PSNR-Y rises). "Best" is the highest PSNR-Y against the clean clip, which a
# user cannot know: it flatters every filter; auto chooses without the clean clip.
# Then, for the noisy clips of sigma 1 and 2, the size of an x264 encode (ffmpeg,
# -c:v libx264 -preset medium, -crf 18 and -crf 23) and its PSNR-Y against the clean
# clip: of the noisy clip, of quorvane5 at its defaults, at its best setting within
# and past the editor's ranges and with --strength auto, and of each peer at its best.
# Prints Markdown; runs under nice -n 19 (Q5_NICE sets another value).
# Overrides (lists, empty for none): Q5_CONTENTS, Q5_SIZES (WxH:FRAMES ...), Q5_SIGMAS,
# Q5_ENCODE_SIGMAS, Q5_MPEG2_SIZES (WxH ... for the MPEG-2 case), Q5_PEERS; Q5_LETTERS=0
# leaves out the lettered settings (a) to (n). Compressed HD video:
#   Q5_SIZES=1920x1080:12 Q5_SIGMAS= Q5_MPEG2_SIZES=1920x1080 bench/quality.sh
# Needs the built program and clip maker (cmake --build build --target q5cli q5clips)
# and ffmpeg with libx264 (Debian's ffmpeg).
set -euo pipefail
cd "$(dirname "$0")/.."
q5=${Q5_CLI:-build/hosts/cli/quorvane5}
clips=${Q5_CLIPS:-build/bench/q5clips}
for tool in "$q5" "$clips"; do
  [ -x "$tool" ] || { echo "quality.sh: $tool not built (cmake --build build --target q5cli q5clips)" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "quality.sh: needs ffmpeg (apt-get install ffmpeg)" >&2; exit 1; }
[[ $(ffmpeg -hide_banner -encoders 2>/dev/null) == *libx264* ]] ||
  { echo "quality.sh: needs ffmpeg with libx264" >&2; exit 1; }

if [ -n "${Q5_QUICK:-}" ]; then
  contents=${Q5_CONTENTS:-cel} sizes=${Q5_SIZES:-720x480:8} sigmas=${Q5_SIGMAS-1}
  encode_sigmas=${Q5_ENCODE_SIGMAS-1} mpeg2_sizes=${Q5_MPEG2_SIZES-}
else
  contents=${Q5_CONTENTS:-cel gradient busy toon pan zoom} sizes=${Q5_SIZES:-720x480:24 1920x1080:12}
  sigmas=${Q5_SIGMAS-0.5 1 2 4 c2} encode_sigmas=${Q5_ENCODE_SIGMAS-1 2} mpeg2_sizes=${Q5_MPEG2_SIZES-720x480}
fi

wallpapers=/usr/share/wallpapers
declare -A photo=(
  [pan]=$wallpapers/Path/contents/images/2560x1600.jpg
  [zoom]=$wallpapers/FallenLeaf/contents/images/2560x1600.jpg
)
for c in $contents; do
  [ -n "${photo[$c]:-}" ] && [ ! -f "${photo[$c]}" ] || continue
  if [ "$(id -u)" = 0 ]; then
    echo "quality.sh: installing plasma-workspace-wallpapers for the photographs" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends plasma-workspace-wallpapers >&2 ||
      { apt-get update >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends plasma-workspace-wallpapers >&2; }
  fi
  [ -f "${photo[$c]}" ] || { echo "quality.sh: needs ${photo[$c]} (apt-get install plasma-workspace-wallpapers)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
started=$SECONDS
run() { nice -n "${Q5_NICE:-19}" "$@"; }  # Q5_NICE=0 where nice 19 would starve on a busy machine

strongest="--tarnel 20 --w2dnrl 20 --w2dnrh 20"
q5settings=(
  ""
  "--no-rounding"
  "$strongest"
  "$strongest --no-rounding"
  "--mosquito"
  "--mosquito --mosqnr 1"
  "$strongest --block --mosquito --no-rounding"
  "$strongest --block --mosquito --mosqnr 1 --no-rounding"
  # Past the editor's ranges: the command only.
  "--tarnel 10 --w2dnrl 30 --w2dnrh 30 --no-rounding"
  "--tarnel 10 --w2dnrl 50 --w2dnrh 50 --block --blocknr 15 --no-rounding"
  "--tarnel 20 --w2dnrl 80 --w2dnrh 80 --block --blocknr 30 --no-rounding"
  "--tarnel 20 --w2dnrl 100 --w2dnrh 100 --no-rounding"
  "--tarnel 40 --w2dnrl 160 --w2dnrh 160 --block --blocknr 60 --no-rounding"
  "--tarnel 40 --w2dnrl 200 --w2dnrh 200 --block --blocknr 60 --no-rounding"
)
inside=8  # settings 0 .. inside - 1 stay within the editor's ranges
[ "${Q5_LETTERS:-1}" != 0 ] || q5settings=()
auto="--strength auto"
# The grid of fixed settings the "best fixed" column is the best of: the wavelet
# thresholds W (W2DNRL = W2DNRH) with Tarnel W / 3, alone, with the block pass at 15 or
# 40, or with the mosquito pass at its default strength; the rounding correction off.
grid=()
for w in 10 20 30 45 60 100 160 255; do
  for pass in "" "--block --blocknr 15" "--block --blocknr 40" "--mosquito"; do
    grid+=("--tarnel $((w / 3)) --w2dnrl $w --w2dnrh $w${pass:+ $pass} --no-rounding")
  done
done
# Where each peer's search for its best strength starts, per code step of noise.
declare -A start=([hqdn3d]=2 [vaguedenoiser]=2 [fftdnoiz]=1)
peers=${Q5_PEERS-hqdn3d vaguedenoiser fftdnoiz}

# "PSNR SSIM" of the y4m file $1 against the clean clip $2.
measure() {
  run ffmpeg -v info -nostats -i "$1" -i "$2" \
    -lavfi "[0]split[a][b];[1]split[c][d];[a][c]psnr;[b][d]ssim" -f null - 2>&1 |
    awk '/Parsed_psnr/ {for (i = 1; i <= NF; i++) if ($i ~ /^y:/) p = substr($i, 3)}
         /Parsed_ssim/ {for (i = 1; i <= NF; i++) if ($i ~ /^Y:/) s = substr($i, 3)}
         END {printf "%.2f %.4f\n", p, s}'
}

cell() { awk '{printf "%.2f / %.4f", $1, $2}' <<<"$1"; }
label() { printf "\\$(printf %o $((97 + $1)))"; }  # 0 -> a, 1 -> b, ...
peerfilter() {
  case $1 in
    hqdn3d) echo "hqdn3d=$2" ;;
    vaguedenoiser) echo "vaguedenoiser=threshold=$2" ;;
    fftdnoiz) echo "fftdnoiz=sigma=$2" ;;
  esac
}

# Peer $1 on noisy clip $2 at strength $3 into $work/peer-$1-$3.y4m; prints "PSNR SSIM".
peerrun() {
  local out="$work/peer-$1-$3.y4m"
  [ -f "$out.m" ] || {
    run ffmpeg -v error -y -i "$2" -vf "$(peerfilter "$1" "$3")" -f yuv4mpegpipe "$out"
    measure "$out" "$clean" >"$out.m"
  }
  cat "$out.m"
}

# The best strength of peer $1 on noisy clip $2 with search start $3: doubles or
# halves while PSNR-Y rises. Prints "PSNR SSIM strength".
peerbest() {
  local k=$3 m up down dir next nm
  m=$(peerrun "$1" "$2" "$k")
  up=$(awk -v k="$k" 'BEGIN {print k * 2}')
  down=$(awk -v k="$k" 'BEGIN {print k / 2}')
  nm=$(peerrun "$1" "$2" "$up")
  if awk -v a="${nm%% *}" -v b="${m%% *}" 'BEGIN {exit !(a > b)}'; then dir=2 k=$up m=$nm
  else dir=0.5
  fi
  while :; do
    next=$(awk -v k="$k" -v d="$dir" 'BEGIN {print k * d}')
    awk -v n="$next" 'BEGIN {exit !(n >= 1 / 64 && n <= 256)}' || break
    nm=$(peerrun "$1" "$2" "$next")
    awk -v a="${nm%% *}" -v b="${m%% *}" 'BEGIN {exit !(a > b)}' || break
    k=$next m=$nm
  done
  echo "$m $k"
}

# "kbit/s PSNR" of an x264 encode of $1 at CRF $2 (24 frames a second), against $clean.
encode() {
  run ffmpeg -v error -y -i "$1" -c:v libx264 -preset medium -crf "$2" -f h264 "$work/enc.264"
  local bytes frames
  bytes=$(stat -c %s "$work/enc.264")
  run ffmpeg -v error -y -i "$work/enc.264" -f yuv4mpegpipe "$work/enc.y4m"
  frames=$(grep -c -a '^FRAME' "$work/enc.y4m" || true)
  echo "$(awk -v b="$bytes" -v n="$frames" 'BEGIN {printf "%.0f", b * 8 / 1000 / (n / 24)}') $(measure "$work/enc.y4m" "$clean" | cut -d' ' -f1)"
}

echo "PSNR-Y dB / SSIM-Y against the clean clip; bench/quality.sh at $(git describe --always --dirty 2>/dev/null || echo '?'), $(ffmpeg -version | head -n 1 | cut -d' ' -f1-3), $(nproc) cores"
echo
echo "quorvane5's settings:"
echo
for i in "${!q5settings[@]}"; do
  echo "- ($(label "$i")) ${q5settings[$i]:-the defaults}"
done
echo
echo
echo "(o) $auto, the command's default: the settings it chose follow each table."
echo
echo "Best fixed: the best of ${#grid[@]} settings, --tarnel W/3 --w2dnrl W --w2dnrh W --no-rounding for W in 10 20 30 45 60 100 160 255, each alone, with --block --blocknr 15, with --block --blocknr 40 and with --mosquito."
echo
echo "The peers' strengths in brackets: hqdn3d=N, vaguedenoiser=threshold=N, fftdnoiz=sigma=N."

for size in $sizes; do
  w=${size%%x*} rest=${size#*x} h=${rest%%:*} frames=${size##*:}
  for content in $contents; do
    extra=()
    if [ -n "${photo[$content]:-}" ]; then
      # The photograph a fifth wider than the frame, 4:4:4, for the camera to move over.
      run ffmpeg -v error -y -i "${photo[$content]}" -vf "scale=$((w * 6 / 5)):-2:flags=lanczos" \
        -pix_fmt yuv444p -frames:v 1 -f yuv4mpegpipe "$work/still.y4m"
      extra=("$work/still.y4m")
    fi
    clean="$work/clean.y4m"
    run "$clips" "$content" "$w" "$h" "$frames" 0 "$clean" "${extra[@]}"
    cases=()
    for sigma in $sigmas; do
      run "$clips" "$content" "$w" "$h" "$frames" "$sigma" "$work/noisy-$sigma.y4m" "${extra[@]}"
      cases+=("$sigma")
    done
    if [[ " $mpeg2_sizes " == *" ${w}x$h "* ]]; then
      run ffmpeg -v error -y -i "$clean" -c:v mpeg2video -q:v 10 -g 12 -f mpeg "$work/clip.mpg"
      run ffmpeg -v error -y -i "$work/clip.mpg" -pix_fmt yuv420p -f yuv4mpegpipe "$work/noisy-mpeg2.y4m"
      cases+=(mpeg2)
    fi

    echo
    echo "### $content, $w × $h, $frames frames"
    echo
    hdr="| noise | noisy | quorvane5 defaults (a) | quorvane5 best in the editor's range | quorvane5 best past it | quorvane5 best fixed | quorvane5 auto" sep="|---|---|---|---|---|---|---"
    for filter in $peers; do hdr+=" | $filter best"; sep+="|---"; done
    echo "$hdr |"
    echo "$sep|"
    settings_rows=() encode_rows=() auto_rows=()
    for c in "${cases[@]}"; do
      noisy="$work/noisy-$c.y4m"
      case $c in mpeg2) name="MPEG-2 q 10" ;; c*) name="spread σ ${c#c}" ;; *) name="σ $c" ;; esac
      input=$(measure "$noisy" "$clean")
      rm -f "$work"/q5-* "$work"/peer-*
      best_i=0 best_p=-1 past_i=$inside past_p=-1 srow="| $name"
      for i in "${!q5settings[@]}"; do
        # shellcheck disable=SC2086
        run "$q5" -q ${q5settings[$i]} "$noisy" "$work/q5-$i.y4m"
        m=$(measure "$work/q5-$i.y4m" "$clean")
        eval "q5m_$i=\"\$m\""
        srow+=" | ${m%% *}"
        if [ "$i" -lt "$inside" ]; then
          if awk -v a="${m%% *}" -v b="$best_p" 'BEGIN {exit !(a > b)}'; then best_i=$i best_p=${m%% *}; fi
        elif awk -v a="${m%% *}" -v b="$past_p" 'BEGIN {exit !(a > b)}'; then past_i=$i past_p=${m%% *}
        fi
      done
      grid_p=-1 grid_s=""
      for g in "${grid[@]}"; do
        # shellcheck disable=SC2086
        run "$q5" -q --strength editor $g "$noisy" "$work/q5-grid.y4m"
        m=$(measure "$work/q5-grid.y4m" "$clean")
        if awk -v a="${m%% *}" -v b="$grid_p" 'BEGIN {exit !(a > b)}'; then grid_p=${m%% *} grid_m=$m grid_s=$g; fi
      done
      # shellcheck disable=SC2086
      chose=$(run "$q5" $auto --stats "$noisy" "$work/q5-auto.y4m" 2>&1 | sed -n 's/^quorvane5: strength auto: //p' | grep 'trial runs')
      automatic=$(measure "$work/q5-auto.y4m" "$clean")
      srow+=" | ${automatic%% *}"
      auto_rows+=("- $name: $chose")
      settings_rows+=("$srow |")
      if [ ${#q5settings[@]} -gt 0 ]; then
        eval "defaults=\$q5m_0 ours=\$q5m_$best_i past=\$q5m_$past_i"
        row="| $name | $(cell "$input") | $(cell "$defaults") | $(cell "$ours") ($(label "$best_i")) | $(cell "$past") ($(label "$past_i"))"
      else
        row="| $name | $(cell "$input") | — | — | —"
      fi
      row+=" | $(cell "$grid_m") ($grid_s) | $(cell "$automatic")"
      sigma_start=$(case $c in mpeg2) echo 2 ;; c*) echo "${c#c}" ;; *) echo "$c" ;; esac)
      declare -A peerk=()
      for filter in $peers; do
        k0=$(awk -v s="$sigma_start" -v f="${start[$filter]}" 'BEGIN {print s * f}')
        p=$(peerbest "$filter" "$noisy" "$k0")
        peerk[$filter]=${p##* }
        row+=" | $(cell "$p") (${p##* })"
      done
      echo "$row |"

      if [[ " $encode_sigmas " == *" $c "* ]]; then
        for crf in 18 23; do
          n=$(encode "$noisy" "$crf")
          erow="| σ $c, crf $crf | ${n% *} kbit/s, ${n#* } dB"
          files=("$work/q5-0.y4m" "$work/q5-$best_i.y4m" "$work/q5-$past_i.y4m" "$work/q5-auto.y4m")
          for filter in $peers; do files+=("$work/peer-$filter-${peerk[$filter]}.y4m"); done
          for f in "${files[@]}"; do
            e=$(encode "$f" "$crf")
            erow+=" | ${e% *} kbit/s, ${e#* } dB ($(awk -v a="${e% *}" -v b="${n% *}" 'BEGIN {printf "%+.0f%%", (a / b - 1) * 100}'))"
          done
          encode_rows+=("$erow |")
        done
      fi
      unset peerk
    done

    echo
    echo "PSNR-Y of each quorvane5 setting:"
    echo
    hdr="| noise" sep="|---"
    for i in "${!q5settings[@]}"; do hdr+=" | ($(label "$i"))"; sep+="|---"; done
    hdr+=" | (o) auto" sep+="|---"
    echo "$hdr |"
    echo "$sep|"
    printf '%s\n' "${settings_rows[@]}"
    echo
    echo "What --strength auto measured and chose:"
    echo
    printf '%s\n' "${auto_rows[@]}"
    if [ ${#encode_rows[@]} -gt 0 ]; then
      echo
      echo "x264 -preset medium (bitrate at 24 frames a second, PSNR-Y against the clean clip, size against the noisy clip's):"
      echo
      echo "| noise, crf | noisy | quorvane5 defaults | quorvane5 best in the editor's range | quorvane5 best past it | quorvane5 auto | hqdn3d best | vaguedenoiser best | fftdnoiz best |"
      echo "|---|---|---|---|---|---|---|---|---|"
      printf '%s\n' "${encode_rows[@]}"
    fi
  done
done
echo
echo "Run time: $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s."
