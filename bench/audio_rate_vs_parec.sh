#!/usr/bin/env bash
# The microphone track's measured rate beside a reference client's on the same source at
# the same time: `zorvan record --mic` of a null sink's monitor (fed at 20 ms latency, as a
# busy desktop feeds it) and `parec` of the same monitor, whose deliveries are timed on the
# monotonic clock and fitted through each half second's earliest arrival. PulseAudio's null
# sink renders in small chunks whose length it rounds down to whole microseconds, so it
# runs some hundred ppm fast: both figures should show the same rate, not 44100.
# Usage: bench/audio_rate_vs_parec.sh [SECONDS]   (SECONDS >= 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
zorvan=${ZORVAN:-$root/build/zorvan}
[ -n "${ZORVAN:-}" ] || cmake --build "$root/build" --target zorvan_cli >/dev/null

run=$(mktemp -d)
. "$root/scripts/private-display.sh"
trap 'zv_stop_all; rm -rf "$run"' EXIT
zv_private_display "$run"
zv_private_sound "$run"
zv_background pacat --latency-msec=20 -d sys_out /dev/zero
sleep 1

timeout $((seconds + 5)) parec --latency-msec=25 -d sys_out.monitor --format=s16le \
  --rate=44100 --channels=2 | python3 -c '
import sys, time
t0 = time.clock_gettime(time.CLOCK_MONOTONIC)
n, low = 0, {}
while True:
    b = sys.stdin.buffer.read1(65536)
    if not b:
        break
    n += len(b) // 4
    t = time.clock_gettime(time.CLOCK_MONOTONIC) - t0
    if t > 3:  # past the start-up burst
        k, v = int(t / 0.5), t - n / 44100
        if k not in low or v < low[k][1]:
            low[k] = (t, v)
xs, ys = zip(*low.values())
mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
s = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)
print("%.2f" % (44100 / (1 + s)))' >"$run/parec.txt" &
reference=$!
"$zorvan" record --rect 64x64+0+0 --duration "$seconds" --mic "Monitor of System_Output" \
  "$run/take.fomixx" >/dev/null 2>"$run/err.txt"
wait "$reference" || true  # timeout ends parec
ours=$(grep -A1 MeasuredSampleRate "$run/take.fomixx/Info.plist" | sed -n 's/.*<real>\(.*\)<\/real>.*/\1/p')
theirs=$(cat "$run/parec.txt")
printf 'zorvan record --mic, MeasuredSampleRate: %.2f Hz\n' "$ours"
printf 'parec, fitted arrivals:                  %.2f Hz\n' "$theirs"
printf 'difference:                              %+.1f ppm\n' \
  "$(echo "($ours - $theirs) / $theirs * 1000000" | bc -l)"
