#!/usr/bin/env bash
# Export speed as a multiple of real time: `zorvan export` of a 60 fps 1920x1080 recording
# of a typing-like scene (with a microphone track) to H.264 veryfast + AAC 128 kbit/s,
# against ffmpeg encoding the same frames (read raw, so ffmpeg decodes nothing) and the
# same WAV with the same settings (and the compressor's BT.709 conversion). Both sides
# write a movie; best of three wall clocks.
# Usage: bench/export_vs_ffmpeg.sh [SECONDS]   (from a clean clone; builds first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-3}
. "$root/bench/compare-common.sh"
zv_bench_prepare export_vs_ffmpeg
zorvan="$root/build/zorvan"

zv_bench_scene

package=$("$zorvan" record --duration "$seconds" "$run/take.fomixx")
frames=$("$zorvan" info "$package" | sed -n 's/^frames: \([0-9]*\)$/\1/p' | head -1)
duration=$("$zorvan" info "$package/video.fomix" | sed -n 's/^duration: \([0-9.]*\).*/\1/p' | head -1)
duration=${duration:-$seconds}
# A microphone track as long as the screen.
zv_bench_add_microphone "$package" "$seconds"

# The same frames for ffmpeg: the recording exported losslessly, then unpacked to raw BGRA.
"$zorvan" export --video-codec png --fps 60 --no-audio "$package" -o "$run/lossless.mov" >/dev/null
ffmpeg -nostdin -v error -i "$run/lossless.mov" -fps_mode passthrough -pix_fmt bgra \
  -f rawvideo "$run/frames.bgra"
rate=$(awk -v f="$frames" -v d="$duration" 'BEGIN { printf "%.3f", (d > 0 ? f / d : 60) }')


export_args=(export --video-codec h264 --video-option preset=veryfast --fps 60 --audio-codec aac
  "$package" -o "$run/zorvan.mov")
# A first run that must succeed (a failing export would look fast).
"$zorvan" "${export_args[@]}" >/dev/null
z="" f=""
for _ in 1 2 3; do
  z=$(faster "$z" "$(run_once "$zorvan" "${export_args[@]}")")
  f=$(faster "$f" "$(run_once ffmpeg -nostdin -y -f rawvideo -pix_fmt bgra -video_size 1920x1080 \
    -framerate "$rate" -i "$run/frames.bgra" -i "$package/audio.wav" \
    -vf scale=out_color_matrix=bt709:out_range=tv -colorspace bt709 -c:v libx264 \
    -preset veryfast -crf 23 -g 250 -pix_fmt yuv420p -c:a aac -b:a 128k "$run/ffmpeg.mov")")
done

read -r zw zc <<<"$z"
read -r fw fc <<<"$f"
printf '%-30s %10s %10s\n' "1920x1080, $frames frames" "zorvan" "ffmpeg"
awk -v d="$duration" -v zw="$zw" -v zc="$zc" -v fw="$fw" -v fc="$fc" 'BEGIN {
  printf "%-30s %9.2fs %9.2fs\n", "wall clock (best of 3)", zw, fw
  printf "%-30s %9.2fx %9.2fx\n", "multiple of real time (wall)", d / zw, d / fw
  printf "%-30s %9.2fs %9.2fs\n", "CPU time of that run", zc, fc
  printf "%-30s %9.2fx %9.2fx\n", "real time per CPU second", d / zc, d / fc }'
# On a busy machine the wall clock says little: compare the CPU rows there.
awk -v d="$duration" -v zw="$zw" -v fw="$fw" 'BEGIN { exit !(zw <= fw * 1.05 && d / zw >= 2) }' ||
  { echo "export_vs_ffmpeg: zorvan slower than ffmpeg or below 2x real time (wall)" >&2; exit 1; }
