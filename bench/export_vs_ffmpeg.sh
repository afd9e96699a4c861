#!/usr/bin/env bash
# Export speed as a multiple of real time: `zorvan export` of a 60 fps 1920x1080 recording
# of a typing-like scene (with a microphone track) to H.264 veryfast + AAC 128 kbit/s,
# against ffmpeg encoding the same frames (read raw, so ffmpeg decodes nothing) and the
# same WAV with the same settings (and the compressor's BT.709 conversion). Both sides
# write a movie; best of three wall clocks. Then a recording of reading and typing (the
# scene's --typing: still but for a few keys every three seconds), exported at a variable
# frame rate (no --fps: repeated frames are not encoded again), against ffmpeg dropping the
# repeated frames with mpdecimate.
# Usage: bench/export_vs_ffmpeg.sh [SECONDS] [TYPING_SECONDS]   (from a clean clone; builds
# first; TYPING_SECONDS 20 by default, 0 leaves that part out)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-3}
typing_seconds=${2:-20}
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
slow=0
awk -v d="$duration" -v zw="$zw" -v fw="$fw" 'BEGIN { exit !(zw <= fw * 1.05 && d / zw >= 2) }' ||
  { echo "export_vs_ffmpeg: zorvan slower than ffmpeg or below 2x real time (wall)" >&2; slow=1; }
[ "$typing_seconds" = 0 ] && exit "$slow"

# A display of its own again, playing the typing scene.
zv_stop_all
zv_pids=()
rm -f "$run/frames.bgra" "$run/display"
zv_private_display "$run"
zv_background "$zorvan" scene --typing >"$run/scene.log" 2>&1
sleep 0.5
typing=$("$zorvan" record --duration "$typing_seconds" "$run/typing.fomixx")
tframes=$("$zorvan" info "$typing" | sed -n 's/^frames: \([0-9]*\)$/\1/p' | head -1)
tduration=$("$zorvan" info "$typing/video.fomix" | sed -n 's/^duration: \([0-9.]*\).*/\1/p' | head -1)
"$zorvan" export --video-codec png --fps 60 --no-audio "$typing" -o "$run/tlossless.mov" >/dev/null
ffmpeg -nostdin -v error -i "$run/tlossless.mov" -fps_mode passthrough -pix_fmt bgra \
  -f rawvideo "$run/typing.bgra"
rm -f "$run/tlossless.mov"
trate=$(awk -v f="$tframes" -v d="$tduration" 'BEGIN { printf "%.3f", (d > 0 ? f / d : 60) }')
typing_args=(export --video-codec h264 --video-option preset=veryfast --no-audio "$typing"
  -o "$run/tzorvan.mov")
"$zorvan" "${typing_args[@]}" >/dev/null
z="" f=""
for _ in 1 2 3; do
  z=$(faster "$z" "$(run_once "$zorvan" "${typing_args[@]}")")
  f=$(faster "$f" "$(run_once ffmpeg -nostdin -y -f rawvideo -pix_fmt bgra -video_size 1920x1080 \
    -framerate "$trate" -i "$run/typing.bgra" \
    -vf mpdecimate,scale=out_color_matrix=bt709:out_range=tv -fps_mode vfr -colorspace bt709 \
    -c:v libx264 -preset veryfast -crf 23 -g 250 -pix_fmt yuv420p "$run/tffmpeg.mov")")
done
samples() { ffprobe -v error -select_streams v -show_entries stream=nb_frames -of csv=p=0 "$1"; }
read -r zw zc <<<"$z"
read -r fw fc <<<"$f"
printf '\n%-30s %10s %10s\n' "typing, $tframes frames" "zorvan" "ffmpeg+mpdecimate"
awk -v d="$tduration" -v zw="$zw" -v zc="$zc" -v fw="$fw" -v fc="$fc" \
  -v zs="$(samples "$run/tzorvan.mov")" -v fs="$(samples "$run/tffmpeg.mov")" 'BEGIN {
  printf "%-30s %10d %10d\n", "video samples in the movie", zs, fs
  printf "%-30s %9.2fs %9.2fs\n", "wall clock (best of 3)", zw, fw
  printf "%-30s %9.2fx %9.2fx\n", "multiple of real time (wall)", d / zw, d / fw
  printf "%-30s %9.2fs %9.2fs\n", "CPU time of that run", zc, fc }'
exit "$slow"
