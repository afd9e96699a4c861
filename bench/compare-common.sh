# Shared by the *_vs_ffmpeg.sh comparisons and export_memory.sh, sourced after they set
# $root: the build, the ffmpeg check, the timing of whole processes and the scene they record.

# Builds build/ (only the targets after $1 once it is configured, when some are named) and
# makes sure ffmpeg is there; $1 names the script in the message.
zv_bench_prepare() {
  local name=$1
  shift
  if [ $# -gt 0 ] && [ -f "$root/build/build.ninja" ]; then
    cmake --build "$root/build" --target "$@" >/dev/null
  else
    "$root/scripts/build.sh" "$root/build" >/dev/null
  fi
  command -v ffmpeg >/dev/null || { echo "$name: ffmpeg is missing" >&2; exit 1; }
}

# "WALL CPU" of one run of a command: wall-clock seconds and CPU seconds (user + system,
# every thread).
run_once() {
  bash -c 'TIMEFORMAT=%R; { time "$@" >/dev/null 2>&1; } 2>&1; times' _ "$@" |
    awk 'NR == 1 { w = $1 } END { split($1, u, /[ms]/); split($2, s, /[ms]/);
                                  printf "%s %.3f", w, u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}

# The faster of two "WALL CPU" results (empty counts as slowest).
faster() {
  if [ -z "$1" ] || awk -v a="$2" -v b="$1" 'BEGIN { split(a, x, " "); split(b, y, " ");
                                                  exit !(x[1] < y[1]) }'; then
    echo "$2"
  else
    echo "$1"
  fi
}

# A folder of its own in $run and a private display playing the animated scene of $zorvan
# (with the scene's options given), both gone when the script exits.
zv_bench_scene() {
  run=$(mktemp -d)
  . "$root/scripts/private-display.sh"
  trap 'zv_stop_all; rm -rf "$run"' EXIT
  zv_private_display "$run"
  zv_background "$zorvan" scene "$@" >"$run/scene.log" 2>&1
  sleep 0.5
}

# Adds to the package $1 a microphone track of a 440 Hz tone, $2 seconds long, listed in its
# Info.plist.
zv_bench_add_microphone() {
  sed -i 's|</array>|<dict><key>Name</key><string>audio</string><key>Path</key><string>audio.wav</string><key>StartOffsetTime</key><real>0</real><key>Type</key><string>audio</string></dict></array>|' \
    "$1/Info.plist"
  ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$2" \
    -ac 2 -c:a pcm_s16le "$1/audio.wav"
}
