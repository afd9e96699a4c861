#!/usr/bin/env bash
# Peak resident memory of `zorvan export` against the recording's length: a 60 fps
# 1920x1080 recording of the animated scene (`zorvan scene`) on a private Xvfb, with a
# microphone track as long as the screen, exported to H.264 veryfast + AAC with
# /usr/bin/time -v; the first SECONDS of it, then all of it.
# Usage: bench/export_memory.sh [SECONDS] [ZORVAN]   (default 60 and build/zorvan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
zorvan=${2:-$root/build/zorvan}
[ -x "$zorvan" ] || { echo "export_memory: $zorvan is missing (build first)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "export_memory: ffmpeg is missing" >&2; exit 1; }
. "$root/bench/compare-common.sh"
zv_bench_scene

# Two recordings, a sixth of the length and the whole of it: memory that grows with the
# recording shows as a difference between them.
for length in $((seconds / 6)) "$seconds"; do
  package=$("$zorvan" record --duration "$length" "$run/take-$length.fomixx")
  zv_bench_add_microphone "$package" "$length"
  frames=$("$zorvan" info "$package" | sed -n 's/^frames: \([0-9]*\)$/\1/p' | head -1)
  /usr/bin/time -v "$zorvan" export --video-codec h264 --video-option preset=veryfast --fps 60 \
    "$package" -o "$run/out.mov" >/dev/null 2>"$run/time.txt"
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): \([0-9]*\)/\1/p' "$run/time.txt")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$run/time.txt")
  printf '%4s s, %5s frames: peak RSS %6.0f MB, wall %s\n' "$length" "$frames" \
    "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$wall"
  rm -rf "$package" "$run/out.mov"
done
