#!/usr/bin/env bash
# Frames per second of the video compressor as an export runs it (ZVICM: each frame flipped,
# the cursor, a click mark and the key strip drawn, then converted and encoded) against
# ffmpeg encoding the same raw BGRA 1920x1080 frames with the same codec settings (H.264
# veryfast at the default rate factor and key-frame interval 250, yuv420p; ProRes 422
# standard, yuv422p10le), side by side with the compressor's encode of the same frames
# without overlays, and the overlays' share of the encode: the CPU time they add to it.
# Each side runs as a whole process, taking turns, best of three on the wall clock, with
# the CPU time of that run per frame beside it (on a busy machine the wall clock says
# little and the CPU columns tell the cost). ffmpeg writes to its null muxer; the
# compressor's frames go nowhere either.
# Fails when the overlays cost 10 % of the encode or more, or when the compressor without
# them is more than 5 % slower than ffmpeg.
# Usage: bench/compressor_vs_ffmpeg.sh [FRAMES]   (from a clean clone; builds first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
frames=${1:-40}
. "$root/bench/compare-common.sh"
zv_bench_prepare compressor_vs_ffmpeg zorvan_bench_compressor
bench="$root/build/bench/zorvan_bench_compressor"

run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
raw="$run/frames.bgra"
# A moving test picture with text and gradients, as raw frames both sides read.
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
  -pix_fmt bgra -f rawvideo "$raw"

# One pass of the compressor's benchmark program over the frames.
compressor() {
  ZV_BENCH_RAW="$raw" run_once "$bench" --benchmark_filter="^BM_Compressor/$1/" \
    --benchmark_min_time=0.000001
}

# ffmpeg and the compressor with and without overlays take turns, three times each, so a
# change in the machine's load falls on all; the best run of each counts. ffmpeg converts
# as the compressor does (BT.709, limited range): the picture it encodes is the same, and
# an encoder's work depends on the picture (ProRes costs 4 % more on BT.709's values).
compare() {
  local codec_args=$1 name=$2 f="" p="" o=""
  for _ in 1 2 3; do
    # shellcheck disable=SC2086
    f=$(faster "$f" "$(run_once ffmpeg -nostdin -y -f rawvideo -pix_fmt bgra \
      -video_size 1920x1080 -framerate 25 -i "$raw" -sws_flags bicubic \
      -vf scale=out_color_matrix=bt709:out_range=tv -colorspace bt709 $codec_args -f null -)")
    p=$(faster "$p" "$(compressor "$name")")
    o=$(faster "$o" "$(compressor "${name}_overlays")")
  done
  echo "$o $p $f"
}

h264=$(compare "-c:v libx264 -preset veryfast -crf 23 -g 250 -pix_fmt yuv420p" h264_veryfast)
prores=$(compare "-c:v prores_ks -profile:v standard -pix_fmt yuv422p10le" prores)

printf '%-21s %-20s %-20s %-20s %6s %6s %9s\n' "1920x1080, $frames frames" \
  "with overlays" "without" "ffmpeg" "ratio" "ratio+" "overlays"
status=0
for row in "H.264-veryfast $h264" "ProRes-422 $prores"; do
  read -r name ow oc pw pc fw fc <<<"$row"
  line=$(awk -v n="$frames" -v ow="$ow" -v oc="$oc" -v pw="$pw" -v pc="$pc" -v fw="$fw" \
    -v fc="$fc" 'BEGIN {
    printf "%.2f/s_%.1f_ms/f %.2f/s_%.1f_ms/f %.2f/s_%.1f_ms/f %.2f %.2f %.1f",
      n / ow, oc * 1000 / n, n / pw, pc * 1000 / n, n / fw, fc * 1000 / n,
      fw / pw, fw / ow, (oc - pc) * 100 / pc }')
  read -r with without ff ratio ratio_o share <<<"$line"
  printf '%-21s %-20s %-20s %-20s %6s %6s %7s %%\n' "$name" "${with//_/ }" "${without//_/ }" \
    "${ff//_/ }" "$ratio" "$ratio_o" "$share"
  awk -v r="$ratio" 'BEGIN { exit !(r + 0 >= 0.95) }' ||
    { echo "$name: compressor slower than ffmpeg by more than 5 % (on a busy machine compare the CPU columns)" >&2; status=1; }
  awk -v s="$share" 'BEGIN { exit !(s + 0 < 10) }' ||
    { echo "$name: overlays cost 10 % of the encode or more" >&2; status=1; }
done
echo "ratio: ffmpeg's wall time over the compressor's without overlays (ratio+: with them);"
echo "overlays: the CPU time they add, as a share of the compressor's without them"
exit $status
