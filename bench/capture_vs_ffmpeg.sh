#!/usr/bin/env bash
# Capture cost per frame at 1920x1080 under typical desktop activity: whole-process CPU
# time (user + system) divided by the frames captured, for `zorvan record` and for
# `ffmpeg -f x11grab` encoding QuickTime Animation (qtrle) to a file, with ffmpeg's
# `-f null` (grab only, no encoding, no file) as the floor. All three run one after the
# other on the same private Xvfb while `zorvan scene` animates it. With perf installed it
# also prints the recorder's page faults per frame.
# Usage: bench/capture_vs_ffmpeg.sh [SECONDS] [SCENE OPTION]   (from a clean clone; builds
# first). `--typing` as the scene option records reading and typing instead. With
# ZV_BEFORE=/path/to/zorvan set, that build records the same scene too, on a row of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
scene=(${2:-})
. "$root/bench/compare-common.sh"
zv_bench_prepare capture_vs_ffmpeg
zorvan="$root/build/zorvan"

run=$(mktemp -d)
. "$root/scripts/private-display.sh"
trap 'zv_stop_all; rm -rf "$run"' EXIT
zv_private_display "$run"
zv_background "$zorvan" scene "${scene[@]}" >/dev/null 2>&1
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

# zorvan: frames from the capture file's header (unsigned 32 bits at byte 12); its page
# faults (the whole run, start included) counted by perf when it is installed. Prints
# "CPU FRAMES FAULTS".
counter=()
command -v perf >/dev/null && counter=(perf stat -x, -e page-faults -o "$run/faults.txt")
record() {
  rm -rf "$run"/bench*.fomixx "$run/faults.txt"
  local cpu frames faults video
  cpu=$(cpu_of "${counter[@]}" "$1" record --duration "$seconds" "$run/bench.fomixx")
  video=$(ls "$run"/bench*.fomixx/video.fomix | head -1)
  frames=$(od -An -tu4 -j12 -N4 "$video" | tr -d ' ')
  faults=$(grep -s page-faults "$run/faults.txt" | cut -d, -f1 || true)
  echo "$cpu $frames ${faults:-0}"
}
read -r zcpu zframes zfaults <<<"$(record "$zorvan")"
[ -n "${ZV_BEFORE:-}" ] && read -r bcpu bframes bfaults <<<"$(record "$ZV_BEFORE")"

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
[ -n "${ZV_BEFORE:-}" ] &&
  printf '%-28s %8s %8s %12s\n' "zorvan record (ZV_BEFORE)" "$bcpu" "$bframes" "$(per "$bcpu" "$bframes")"
printf '%-28s %8s %8s %12s\n' "ffmpeg x11grab -> qtrle" "$fcpu" "$fframes" "$fper"
printf '%-28s %8s %8s %12s\n' "ffmpeg x11grab -> null" "$ncpu" "$nframes" "$nper"
[ ${#counter[@]} -gt 0 ] && awk -v p="$zfaults" -v f="$zframes" \
  'BEGIN { if (f > 0) printf "zorvan page faults: %d in all, %.1f per frame\n", p, p / f }'
[ ${#counter[@]} -gt 0 ] && [ -n "${ZV_BEFORE:-}" ] && awk -v p="$bfaults" -v f="$bframes" \
  'BEGIN { if (f > 0) printf "ZV_BEFORE page faults: %d in all, %.1f per frame\n", p, p / f }'
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
ratio=$(awk -v z="$zper" -v f="$fper" 'BEGIN { if (f > 0) printf "%.2f", z / f; else print "n/a" }')
echo "ratio zorvan/ffmpeg-qtrle (CPU per frame): $ratio"
awk -v r="$ratio" 'BEGIN { exit !(r + 0 < 1) }' || { echo "zorvan costs more per frame than ffmpeg" >&2; exit 1; }
