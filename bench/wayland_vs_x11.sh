#!/usr/bin/env bash
# CPU per recorded 1920x1080 frame of `zorvan record`, side by side: the X11 backend on a
# private Xvfb playing `zorvan scene`, and the Wayland backend (the desktop portal and
# PipeWire) on the tests' headless sway desktop with a full-screen 60 Hz animation
# (weston-presentation-shm); and as the floor, `gst-launch-1.0 pipewiresrc ! fakesink` on
# the same portal stream, which only receives the frames. CPU is user + system time of the
# whole process (every thread), divided by the frames it took; each figure is the best of
# RUNS runs of SECONDS seconds.
# Usage: bench/wayland_vs_x11.sh [RUNS] [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
seconds=${2:-10}
zorvan=$root/build/zorvan
desktop=$root/build/tests/zv_wayland_desktop
. "$root/bench/compare-common.sh"
zv_bench_prepare wayland_vs_x11 zorvan_cli zv_wayland_desktop
command -v gst-launch-1.0 >/dev/null || { echo "wayland_vs_x11: gst-launch-1.0 is missing" >&2; exit 1; }
export LD_LIBRARY_PATH=$root/build

# "CPU FRAMES" of one recording made with the backend $1 into $2.
record() {
  local cpu
  cpu=$(run_once "$zorvan" record --backend "$1" --duration "$seconds" "$2" | cut -d' ' -f2)
  echo "$cpu $("$zorvan" info "$2" | awk '/^frames/ { print $2; exit }')"
}
best() { awk '{ v = $1 / $2 * 1000; if (NR == 1 || v < b) b = v } END { printf "%.2f", b }'; }
export -f record run_once
export zorvan seconds

# Wayland first: its desktop is a process tree of its own.
on_sway() {
  "$desktop" --animate --size 1920x1080 "$@"
}
fullscreen='swaymsg "[title=presentation-shm] fullscreen enable" >/dev/null; sleep 1'
wayland=$(for i in $(seq "$runs"); do
  on_sway -- bash -c "$fullscreen; d=\$(mktemp -d); record wayland \$d/w.fomixx; rm -rf \$d"
done | best)
frames=$((seconds * 60))
floor=$(for i in $(seq "$runs"); do
  on_sway --grant -- bash -c "$fullscreen; run_once gst-launch-1.0 -q pipewiresrc fd={fd} \
    path={node} num-buffers=$frames ! video/x-raw ! fakesink | awk -v n=$frames '{ print \$2, n }'"
done | best)

zv_bench_scene
x11=$(for i in $(seq "$runs"); do record x11 "$run/x$i.fomixx"; rm -rf "$run/x$i.fomixx"; done | best)

printf 'ms CPU per 1920x1080 frame (best of %d runs of %d s)\n' "$runs" "$seconds"
printf '  zorvan record, X11 (Xvfb, zorvan scene)       %s\n' "$x11"
printf '  zorvan record, Wayland (sway, portal)         %s\n' "$wayland"
printf '  gst-launch-1.0 pipewiresrc ! fakesink (floor) %s\n' "$floor"
awk -v w="$wayland" -v x="$x11" 'BEGIN { printf "  Wayland / X11 = %.2f (target: at most 1.5)\n", w / x }'
