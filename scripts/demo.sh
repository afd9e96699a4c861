#!/usr/bin/env bash
# The main job: builds zorvan and shows what it does. It records five seconds of the
# screen into a recording package, shows what the package holds and writes the last frame
# as a PNG. Without a desktop (no DISPLAY) it runs on a private X server of its own, on
# which `zorvan scene` plays a small animation: moving windows, a changing cursor, clicks
# and text typed through XTest.
# Output goes to build/demo/ (ZORVAN_DEMO_DIR overrides).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build" >/dev/null
zorvan="$root/build/zorvan"
"$zorvan" about
echo

out=${ZORVAN_DEMO_DIR:-$root/build/demo}
mkdir -p "$out"
rm -rf "$out/demo.fomixx" "$out/last-frame.png"
run=$(mktemp -d)
. "$root/scripts/private-display.sh"
trap 'zv_stop_all; rm -rf "$run"' EXIT

if [ -z "${DISPLAY:-}" ]; then
  echo "No desktop here: starting a private X server with an animated scene."
  zv_private_display "$run"
  zv_background "$zorvan" scene >"$run/scene.log" 2>&1
  sleep 0.5
fi

echo "Recording five seconds of $DISPLAY ..."
package=$("$zorvan" record --duration 5 "$out/demo.fomixx")
echo
"$zorvan" info "$package"
frames=$("$zorvan" info "$package" | sed -n 's/^frames: \([0-9]*\)$/\1/p' | head -1)
"$zorvan" frame "$package/video.fomix" "${frames:-0}" -o "$out/last-frame.png"
echo
echo "package:    $package"
echo "last frame: $out/last-frame.png"
