#!/usr/bin/env bash
# Frames per second of the compression session against ffmpeg encoding the same raw BGRA
# 1920x1080 frames with the same codec settings (H.264 veryfast at the default rate factor
# and key-frame interval 250, yuv420p; ProRes 422 standard, yuv422p10le), side by side:
# each side runs as a whole process in turn, best of three on the wall clock, with the CPU
# time of that run per frame beside it (on a busy machine the wall clock says little and
# the CPU columns tell the cost). ffmpeg writes to its null muxer; the session's frames go
# nowhere either.
# Usage: bench/session_vs_ffmpeg.sh [FRAMES]   (from a clean clone; builds first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
frames=${1:-40}
"$root/scripts/build.sh" "$root/build" >/dev/null
bench="$root/build/bench/zorvan_bench_compression_session"
command -v ffmpeg >/dev/null || { echo "session_vs_ffmpeg: ffmpeg is missing" >&2; exit 1; }

run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
raw="$run/frames.bgra"
# A moving test picture with text and gradients, as raw frames both sides read.
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
  -pix_fmt bgra -f rawvideo "$raw"

# "WALL CPU": the best wall-clock seconds of three runs of a command, and the CPU seconds
# (user + system, every thread) of that run.
measure() {
  local best="" cpu="" line
  for _ in 1 2 3; do
    line=$(bash -c 'TIMEFORMAT=%R; { time "$@" >/dev/null 2>&1; } 2>&1; times' _ "$@" |
      awk 'NR == 1 { w = $1 } END { split($1, u, /[ms]/); split($2, s, /[ms]/);
                                    printf "%s %.3f", w, u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
    read -r w c <<<"$line"
    if [ -z "$best" ] || awk -v a="$w" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$w; cpu=$c
    fi
  done
  echo "$best $cpu"
}

ffmpeg_run() {
  measure ffmpeg -nostdin -y -f rawvideo -pix_fmt bgra -video_size 1920x1080 -framerate 25 \
    -i "$raw" -sws_flags bicubic "$@" -f null -
}

# The whole benchmark process, one pass over the frames, as ffmpeg is timed.
session_run() {
  ZV_BENCH_RAW="$raw" measure "$bench" --benchmark_filter="$1" --benchmark_min_time=0.000001
}

h264_ffmpeg=$(ffmpeg_run -c:v libx264 -preset veryfast -crf 23 -g 250 -pix_fmt yuv420p)
h264_session=$(session_run 'BM_Session/h264_veryfast')
prores_ffmpeg=$(ffmpeg_run -c:v prores_ks -profile:v standard -pix_fmt yuv422p10le)
prores_session=$(session_run 'BM_Session/prores')

printf '%-22s %11s %11s %7s %13s %13s\n' "1920x1080, $frames frames" "session" "ffmpeg" \
  "ratio" "session CPU" "ffmpeg CPU"
status=0
for row in "H.264-veryfast $h264_session $h264_ffmpeg" "ProRes-422 $prores_session $prores_ffmpeg"; do
  read -r name sw sc fw fc <<<"$row"
  line=$(awk -v n="$frames" -v sw="$sw" -v sc="$sc" -v fw="$fw" -v fc="$fc" 'BEGIN {
    printf "%.2f %.2f %.2f %.1f %.1f", n / sw, n / fw, fw / sw, sc * 1000 / n, fc * 1000 / n }')
  read -r sfps ffps ratio scpu fcpu <<<"$line"
  printf '%-22s %9s/s %9s/s %7s %8s ms/f %8s ms/f\n' "$name" "$sfps" "$ffps" "$ratio" "$scpu" "$fcpu"
  awk -v r="$ratio" 'BEGIN { exit !(r + 0 >= 0.95) }' ||
    { echo "$name: session slower than ffmpeg by more than 5 % (on a busy machine compare the CPU columns)" >&2; status=1; }
done
exit $status
