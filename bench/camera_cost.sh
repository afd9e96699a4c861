#!/usr/bin/env bash
# What the export camera costs: a 1080p60 recording of the animated scene (windows, a
# wandering pointer, clicks, typing) exported to H.264 veryfast with `--zoom auto` and the
# preset's cursor smoothing, against the same export with the camera off and no smoothing,
# side by side (CPU seconds per exported frame, best of three by CPU).
# Usage: bench/camera_cost.sh [SECONDS]   (from a clean clone; builds first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
. "$root/bench/compare-common.sh"
zv_bench_prepare camera_cost zorvan
zorvan="$root/build/zorvan"

zv_bench_scene

package=$("$zorvan" record --duration "$seconds" "$run/take.fomixx")
frames=$("$zorvan" info "$package" | sed -n 's/^frames: \([0-9]*\)$/\1/p' | head -1)
"$zorvan" zoom "$package" -o "$run/plan.plist" >/dev/null
segments=$(grep -c '<key>Start</key>' "$run/plan.plist" || true)

# The preset without the camera and without smoothing, and the one with both.
# (the default H.264 settings; the preset's defaults smooth the cursor).
"$zorvan" preset new "$run/auto.plist" >/dev/null
cp "$run/auto.plist" "$run/off.plist"
perl -0pi -e 's|(<key>Zoom</key>\s*)<string>off</string>|$1<string>auto</string>|' "$run/auto.plist"
perl -0pi -e 's|(<key>CursorSmoothing</key>\s*)<real>[^<]*</real>|$1<real>0</real>|' "$run/off.plist"

lowest() {  # the run with the least CPU of "WALL CPU" lines
  sort -k2 -n | head -1
}
off="" auto=""
for _ in 1 2 3; do
  off+="$(run_once "$zorvan" export --no-audio --preset "$run/off.plist" "$package" -o "$run/off.mov")"$'\n'
  auto+="$(run_once "$zorvan" export --no-audio --preset "$run/auto.plist" "$package" -o "$run/auto.mov")"$'\n'
done
read -r ow oc <<<"$(printf '%s' "$off" | lowest)"
read -r aw ac <<<"$(printf '%s' "$auto" | lowest)"
printf '%-36s %12s %12s\n' "1920x1080, $frames frames, $segments segments" "camera off" "--zoom auto"
awk -v n="$frames" -v ow="$ow" -v oc="$oc" -v aw="$aw" -v ac="$ac" 'BEGIN {
  printf "%-36s %11.2fs %11.2fs\n", "wall clock", ow, aw
  printf "%-36s %11.2fs %11.2fs\n", "CPU time (least of 3)", oc, ac
  printf "%-36s %10.2fms %10.2fms\n", "CPU per frame", 1000 * oc / n, 1000 * ac / n
  printf "%-36s %+11.1f%%\n", "camera cost", 100 * (ac - oc) / oc
  exit !(ac <= oc * 1.15) }' ||
  { echo "camera_cost: the camera costs more than 15 % CPU per frame" >&2; exit 1; }
