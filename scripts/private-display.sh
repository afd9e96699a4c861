# Sourced by the demo and the benchmarks: a private 1920x1080 Xvfb for this script alone.
#   zv_private_display DIR   starts it (its log in DIR), exports DISPLAY, and remembers its
#                            process id; returns 1 with the log on stderr when it fails
#   zv_background CMD...     starts CMD in the background and remembers its process id
#   zv_stop_all              ends what was remembered, newest first (for an EXIT trap)
zv_pids=()

zv_private_display() {
  local dir=$1
  Xvfb -displayfd 3 -screen 0 1920x1080x24 +extension RANDR -extension SECURITY -nolisten tcp \
    -noreset 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  zv_pids+=($!)
  for _ in $(seq 1000); do [ -s "$dir/display" ] && break; sleep 0.01; done
  if [ ! -s "$dir/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$dir/xvfb.log" >&2
    return 1
  fi
  export DISPLAY=":$(cat "$dir/display")"
  # The library refuses a Wayland session; this display is plain X11.
  unset WAYLAND_DISPLAY XDG_SESSION_TYPE
}

zv_background() {
  "$@" &
  zv_pids+=($!)
}

zv_stop_all() {
  local i
  for ((i = ${#zv_pids[@]} - 1; i >= 0; i--)); do
    kill "${zv_pids[i]}" 2>/dev/null || true
    wait "${zv_pids[i]}" 2>/dev/null || true
  done
}
