#!/usr/bin/env bash
# What --system-audio adds to a recording's start: the wall time of `zorvan record
# --duration SECONDS` with and without it (median of RUNS runs each) on a private Xvfb and
# PulseAudio server with the loopback driver installed, and where the system-audio track's
# first sample lies (its StartOffsetTime, as the end line says it).
# Usage: bench/system_audio_start.sh [RUNS] [SECONDS]   (ZORVAN=path compares another build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
seconds=${2:-3}
zorvan=${ZORVAN:-$root/build/zorvan}
[ -n "${ZORVAN:-}" ] || cmake --build "$root/build" --target zorvan_cli DriverInstaller >/dev/null

run=$(mktemp -d)
. "$root/scripts/private-display.sh"
trap 'zv_stop_all; rm -rf "$run"' EXIT
zv_private_display "$run"
zv_private_sound "$run"
export XDG_DATA_HOME="$run/data" XDG_STATE_HOME="$run/state"
"$zorvan" driver install >/dev/null

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Wall seconds of one recording; its system-audio start offset, if any, to offsets.txt.
record() {
  local out="$run/rec$RANDOM.fomixx" t0 t1
  t0=$(date +%s.%N)
  "$zorvan" record --duration "$seconds" "$@" "$out" >/dev/null 2>"$run/err.txt"
  t1=$(date +%s.%N)
  sed -n 's/^systemaudio.wav: starts at \([0-9.]*\) s.*/\1/p' "$run/err.txt" >>"$run/offsets.txt"
  echo "$t1 - $t0" | bc
}

: >"$run/offsets.txt"
plain=$(for _ in $(seq "$runs"); do record; done | median)
system=$(for _ in $(seq "$runs"); do record --system-audio; done | tee "$run/system.txt" | median)
printf 'record --duration %s:                %6.2f s (median of %s)\n' "$seconds" "$plain" "$runs"
printf 'record --duration %s --system-audio: %6.2f s (%+.2f s)\n' "$seconds" "$system" \
  "$(echo "$system - $plain" | bc)"
printf 'system-audio track starts at:       %6.3f s after the screen (median)\n' \
  "$(median <"$run/offsets.txt")"
echo "each: $(tr "\n" " " <"$run/system.txt")offsets: $(tr "\n" " " <"$run/offsets.txt")"
