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
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  echo "No desktop here: starting a private X server with an animated scene."
  Xvfb -displayfd 3 -screen 0 1920x1080x24 +extension RANDR -extension SECURITY -nolisten tcp \
    -noreset 3>"$run/display" >"$run/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1000); do [ -s "$run/display" ] && break; sleep 0.01; done
  if [ ! -s "$run/display" ]; then
    echo "demo: Xvfb did not start:" >&2
    cat "$run/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=":$(cat "$run/display")"
  unset WAYLAND_DISPLAY XDG_SESSION_TYPE
  "$zorvan" scene >"$run/scene.log" 2>&1 &
  pids+=($!)
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
