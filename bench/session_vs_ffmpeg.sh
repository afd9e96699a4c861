#!/usr/bin/env bash
# Frames per second of the compression session against ffmpeg encoding the same raw BGRA
# 1920x1080 frames with the same codec settings (H.264 veryfast at the default rate factor
# and key-frame interval 250, yuv420p; ProRes 422 standard, yuv422p10le), side by side:
# each side runs in turn, best of three, on the wall clock. ffmpeg writes to its null
# muxer, the session's frames go nowhere either.
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

# Best wall-clock seconds of three runs of a command.
best_of_three() {
  local best="" t
  for _ in 1 2 3; do
    t=$( { TIMEFORMAT=%R; time "$@" >/dev/null 2>&1; } 2>&1 )
    best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (a == "" || b < a) ? b : a }')
  done
  echo "$best"
}

ffmpeg_fps() {
  local secs
  secs=$(best_of_three ffmpeg -nostdin -y -f rawvideo -pix_fmt bgra -video_size 1920x1080 \
    -framerate 25 -i "$raw" -sws_flags bicubic "$@" -f null -)
  awk -v f="$frames" -v s="$secs" 'BEGIN { printf "%.2f", f / s }'
}

# The session's frames per second for one benchmark, best of three repetitions.
session_fps() {
  ZV_BENCH_RAW="$raw" "$bench" --benchmark_filter="$1" --benchmark_repetitions=3 \
    --benchmark_format=csv 2>/dev/null |
    awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "items_per_second") c = i; next }
             $1 !~ /_(mean|median|stddev|cv)"?$/ && c && $c > best { best = $c }
             END { printf "%.2f", best }'
}

h264_ffmpeg=$(ffmpeg_fps -c:v libx264 -preset veryfast -crf 23 -g 250 -pix_fmt yuv420p)
h264_session=$(session_fps 'BM_Session/h264_veryfast')
prores_ffmpeg=$(ffmpeg_fps -c:v prores_ks -profile:v standard -pix_fmt yuv422p10le)
prores_session=$(session_fps 'BM_Session/prores')

printf '%-24s %10s %10s %8s\n' "1920x1080, $frames frames" "session" "ffmpeg" "ratio"
status=0
for row in "H.264 veryfast $h264_session $h264_ffmpeg" "ProRes 422 $prores_session $prores_ffmpeg"; do
  set -- $row
  name="$1 $2"; s=$3; f=$4
  ratio=$(awk -v s="$s" -v f="$f" 'BEGIN { if (f > 0) printf "%.2f", s / f; else print "n/a" }')
  printf '%-24s %8s/s %8s/s %8s\n' "$name" "$s" "$f" "$ratio"
  awk -v r="$ratio" 'BEGIN { exit !(r + 0 >= 0.95) }' || { echo "$name: session slower than ffmpeg by more than 5 %" >&2; status=1; }
done
exit $status
