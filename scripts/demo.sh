#!/usr/bin/env bash
# The main job: builds zorvan and shows what it does. It records five seconds of the
# screen into a recording package, shows what the package holds, writes the last frame
# as a PNG and exports the recording into a QuickTime movie beside the package. Without a
# desktop (no DISPLAY) it runs on a private X server of its own, on which `zorvan scene`
# plays a small animation: moving windows, a changing cursor, clicks and text typed
# through XTest; a private PulseAudio server beside it gives a microphone that hears a
# beep every second, recorded with the screen and exported in step with it.
# Output goes to build/demo/ (ZORVAN_DEMO_DIR overrides).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build" >/dev/null
zorvan="$root/build/zorvan"
"$zorvan" about
echo

out=${ZORVAN_DEMO_DIR:-$root/build/demo}
mkdir -p "$out"
rm -rf "$out/demo.fomixx" "$out/last-frame.png" "$out/demo.mov"
run=$(mktemp -d)
. "$root/scripts/private-display.sh"
trap 'zv_stop_all; rm -rf "$run"' EXIT

mic=()
if [ -z "${DISPLAY:-}" ]; then
  echo "No desktop here: starting a private X server with an animated scene,"
  echo "and a private sound server whose microphone hears a beep every second."
  zv_private_display "$run"
  zv_background "$zorvan" scene >"$run/scene.log" 2>&1
  if zv_private_sound "$run" && command -v sox >/dev/null; then
    mic=(--mic Virtual_Mic)
    zv_background sox -q -n -t pulseaudio mic_feed synth 0.1 sine 880 vol 0.5 pad 0 0.9 repeat 9
  fi
  sleep 0.5
fi

echo "Recording five seconds of $DISPLAY${mic:+ and the microphone} ..."
package=$("$zorvan" record --duration 5 "${mic[@]}" "$out/demo.fomixx")
echo
"$zorvan" info "$package"
frames=$("$zorvan" info "$package" | sed -n 's/^frames: \([0-9]*\)$/\1/p' | head -1)
"$zorvan" frame "$package/video.fomix" "${frames:-0}" -o "$out/last-frame.png"
echo
echo "package:    $package"
echo "last frame: $out/last-frame.png"
echo
echo "Exporting the recording (H.264 and AAC, cursor, clicks and keys drawn in) ..."
movie=$("$zorvan" export "$package")
command -v ffprobe >/dev/null &&
  ffprobe -v error -show_entries stream=codec_name,width,height,duration -of compact=p=0 "$movie"
echo "movie:      $movie"
