#!/usr/bin/env bash
# Capture cost per frame at 1920x1080 under typical desktop activity: whole-process CPU
# time (user + system) divided by the frames captured, for `zorvan record` and for
# `ffmpeg -f x11grab` encoding QuickTime Animation (qtrle) to a file, with ffmpeg's
# `-f null` (grab only, no encoding, no file) as the floor. All three run one after the
# other on the same private Xvfb while `zorvan scene` animates it.
# Usage: bench/capture_vs_ffmpeg.sh [SECONDS]   (from a clean clone; builds first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
"$root/scripts/build.sh" "$root/build" >/dev/null
zorvan="$root/build/zorvan"
command -v ffmpeg >/dev/null || { echo "capture_vs_ffmpeg: ffmpeg is missing" >&2; exit 1; }

run=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1920x1080x24 +extension RANDR -extension SECURITY -nolisten tcp \
  -noreset 3>"$run/display" >"$run/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 500); do [ -s "$run/display" ] && break; sleep 0.01; done
[ -s "$run/display" ] || { echo "capture_vs_ffmpeg: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$run/display")"
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
"$zorvan" scene >/dev/null 2>&1 &
pids+=($!)
sleep 1

# CPU seconds (user + system) of one command and everything it started.
cpu_of() {
  local t
  t=$(bash -c '"$@" >/dev/null 2>"'"$run"'/stderr.txt" </dev/null; times' _ "$@" | tail -1)
  echo "$t" | awk '{
    n = 0
    for (i = 1; i <= 2; i++) { split($i, p, /[ms]/); n += p[1] * 60 + p[2] }
    printf "%.3f", n }'
}

# zorvan: frames from the capture file's header (unsigned 32 bits at byte 12).
zcpu=$(cpu_of "$zorvan" record --duration "$seconds" "$run/bench.fomixx")
video=$(ls "$run"/bench*.fomixx/video.fomix | head -1)
zframes=$(od -An -tu4 -j12 -N4 "$video" | tr -d ' ')

# ffmpeg, qtrle to a file at the same rate ceiling.
fcpu=$(cpu_of ffmpeg -nostdin -y -f x11grab -framerate 60 -video_size 1920x1080 -i "$DISPLAY" \
  -t "$seconds" -c:v qtrle "$run/bench.mov")
fframes=$(ffprobe -v error -count_packets -select_streams v:0 \
  -show_entries stream=nb_read_packets -of csv=p=0 "$run/bench.mov")

# ffmpeg grabbing only: its last progress line gives the frame count.
ncpu=$(cpu_of ffmpeg -nostdin -y -f x11grab -framerate 60 -video_size 1920x1080 -i "$DISPLAY" \
  -t "$seconds" -f null -)
nframes=$(tr '\r' '\n' <"$run/stderr.txt" | grep -o 'frame= *[0-9]*' | tail -1 | tr -dc 0-9)

per() { awk -v c="$1" -v f="$2" 'BEGIN { if (f > 0) printf "%.3f", c * 1000 / f; else print "n/a" }'; }
zper=$(per "$zcpu" "$zframes")
fper=$(per "$fcpu" "$fframes")
nper=$(per "$ncpu" "$nframes")
printf '%-28s %8s %8s %12s\n' "capture (${seconds}s, 1920x1080)" "CPU s" "frames" "ms CPU/frame"
printf '%-28s %8s %8s %12s\n' "zorvan record" "$zcpu" "$zframes" "$zper"
printf '%-28s %8s %8s %12s\n' "ffmpeg x11grab -> qtrle" "$fcpu" "$fframes" "$fper"
printf '%-28s %8s %8s %12s\n' "ffmpeg x11grab -> null" "$ncpu" "$nframes" "$nper"
ratio=$(awk -v z="$zper" -v f="$fper" 'BEGIN { if (f > 0) printf "%.2f", z / f; else print "n/a" }')
echo "ratio zorvan/ffmpeg-qtrle (CPU per frame): $ratio"
awk -v r="$ratio" 'BEGIN { exit !(r + 0 < 1) }' || { echo "zorvan costs more per frame than ffmpeg" >&2; exit 1; }
