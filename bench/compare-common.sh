# Shared by the *_vs_ffmpeg.sh comparisons, sourced after they set $root: the build, the
# ffmpeg check and the timing of whole processes.

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
