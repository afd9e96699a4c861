#!/usr/bin/env bash
# The whole test suite: builds build/, then runs every test (unit, x11, audio, e2e; the
# fixtures start their own Xvfb and PulseAudio servers) and a smoke run of the benchmarks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build"
cd "$root/build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
echo "Benchmarks (smoke run):"
for b in bench/zorvan_bench_*; do
  [ -x "$b" ] || continue
  "$b" --benchmark_min_time=0.01 >/dev/null || { echo "benchmark $b failed" >&2; exit 1; }
  echo "  $(basename "$b") ran"
done
