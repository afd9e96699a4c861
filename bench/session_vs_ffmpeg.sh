#!/usr/bin/env bash
# Frames per second of the compression session against ffmpeg encoding the same raw BGRA
# 1920x1080 frames with the same codec settings (H.264 veryfast at the default rate factor
# and key-frame interval 250, yuv420p; ProRes 422 standard, yuv422p10le), side by side:
# each side runs as a whole process, taking turns, best of three on the wall clock, with the CPU
# time of that run per frame beside it (on a busy machine the wall clock says little and
# the CPU columns tell the cost). ffmpeg writes to its null muxer; the session's frames go
# nowhere either.
# Usage: bench/session_vs_ffmpeg.sh [FRAMES]   (from a clean clone; builds first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
frames=${1:-40}
. "$root/bench/compare-common.sh"
zv_bench_prepare session_vs_ffmpeg
bench="$root/build/bench/zorvan_bench_compression_session"

run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
raw="$run/frames.bgra"
# A moving test picture with text and gradients, as raw frames both sides read.
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
  -pix_fmt bgra -f rawvideo "$raw"



# ffmpeg and the session's benchmark program (one pass over the frames) take turns, three
# times each, so a change in the machine's load falls on both; the best run of each counts.
compare() {
  local codec_args=$1 filter=$2 f="" s=""
  for _ in 1 2 3; do
    # shellcheck disable=SC2086
    f=$(faster "$f" "$(run_once ffmpeg -nostdin -y -f rawvideo -pix_fmt bgra \
      -video_size 1920x1080 -framerate 25 -i "$raw" -sws_flags bicubic $codec_args -f null -)")
    s=$(faster "$s" "$(ZV_BENCH_RAW="$raw" run_once "$bench" --benchmark_filter="$filter" \
      --benchmark_min_time=0.000001)")
  done
  echo "$s $f"
}

h264=$(compare "-c:v libx264 -preset veryfast -crf 23 -g 250 -pix_fmt yuv420p" \
  'BM_Session/h264_veryfast')
prores=$(compare "-c:v prores_ks -profile:v standard -pix_fmt yuv422p10le" 'BM_Session/prores')

printf '%-22s %11s %11s %7s %13s %13s\n' "1920x1080, $frames frames" "session" "ffmpeg" \
  "ratio" "session CPU" "ffmpeg CPU"
status=0
for row in "H.264-veryfast $h264" "ProRes-422 $prores"; do
  read -r name sw sc fw fc <<<"$row"
  line=$(awk -v n="$frames" -v sw="$sw" -v sc="$sc" -v fw="$fw" -v fc="$fc" 'BEGIN {
    printf "%.2f %.2f %.2f %.1f %.1f", n / sw, n / fw, fw / sw, sc * 1000 / n, fc * 1000 / n }')
  read -r sfps ffps ratio scpu fcpu <<<"$line"
  printf '%-22s %9s/s %9s/s %7s %8s ms/f %8s ms/f\n' "$name" "$sfps" "$ffps" "$ratio" "$scpu" "$fcpu"
  awk -v r="$ratio" 'BEGIN { exit !(r + 0 >= 0.95) }' ||
    { echo "$name: session slower than ffmpeg by more than 5 % (on a busy machine compare the CPU columns)" >&2; status=1; }
done
exit $status
