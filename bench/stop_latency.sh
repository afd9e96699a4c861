#!/usr/bin/env bash
# What stopping costs, before and after a change: the wall time of `zorvan record
# --duration SECONDS` beyond its SECONDS (start plus stop: the writers' drain and end), and
# the wall time of `zorvan export` of that recording with the microphone track (a pipeline
# of seven stages that ends when its last writer ends), the median of RUNS runs each, for
# every zorvan given, on a private Xvfb. ZORVANS holds the builds to compare (colon
# separated, each a zorvan binary; a build's library is found through LD_LIBRARY_PATH=its
# folder).
# Usage: bench/stop_latency.sh [RUNS] [SECONDS]   (ZORVANS=old/zorvan:build/zorvan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
seconds=${2:-2}
IFS=: read -r -a zorvans <<<"${ZORVANS:-$root/build/zorvan}"
. "$root/bench/compare-common.sh"
zorvan=${zorvans[-1]}  # plays the scene
LD_LIBRARY_PATH=$(dirname "$zorvan") zv_bench_scene

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
wall() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc
}

for zorvan in "${zorvans[@]}"; do
  export LD_LIBRARY_PATH=$(dirname "$zorvan")
  : >"$run/record.txt"
  : >"$run/export.txt"
  for i in $(seq "$runs"); do
    take="$run/take$i.fomixx"
    t=$(wall "$zorvan" record --rect 320x240+0+0 --duration "$seconds" "$take")
    echo "$t - $seconds" | bc >>"$run/record.txt"
    zv_bench_add_microphone "$take" "$seconds"
    wall "$zorvan" export --video-codec h264 --video-option preset=veryfast --fps 30 \
      "$take" -o "$run/out$i.mov" >>"$run/export.txt"
    rm -rf "$take" "$run/out$i.mov"
  done
  printf '%s\n  record beyond its %s s: %6.3f s   export: %6.3f s   (medians of %s)\n' \
    "$zorvan" "$seconds" "$(median <"$run/record.txt")" "$(median <"$run/export.txt")" "$runs"
done
