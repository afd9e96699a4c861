# Sourced by the demo and the benchmarks: a private 1920x1080 Xvfb for this script alone.
#   zv_private_display DIR   starts it (its log in DIR), exports DISPLAY, and remembers its
#                            process id; returns 1 with the log on stderr when it fails
#   zv_private_sound DIR     starts a private PulseAudio server (state in DIR) with a
#                            microphone "Virtual_Mic" fed from the sink "mic_feed", points
#                            this script's sound clients at it; returns 1 when it fails
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

zv_private_sound() {
  local dir=$1
  command -v pulseaudio >/dev/null && command -v pactl >/dev/null || return 1
  mkdir -p -m700 "$dir/pulse-run" "$dir/pulse-home"
  # Server and clients share the runtime folder and the cookie in this HOME.
  export XDG_RUNTIME_DIR="$dir/pulse-run" HOME="$dir/pulse-home"
  export XDG_CONFIG_HOME="$HOME/.config" PULSE_SERVER="unix:$dir/pulse-run/pulse/native"
  unset PULSE_SINK PULSE_SOURCE
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target="file:$dir/pulse.log" \
    -L module-native-protocol-unix \
    -L 'module-null-sink sink_name=sys_out sink_properties=device.description=System_Output' \
    -L 'module-null-sink sink_name=mic_feed sink_properties=device.description=Mic_Feed' \
    -L 'module-remap-source master=mic_feed.monitor source_name=vmic source_properties=device.description=Virtual_Mic' \
    >"$dir/pulse.out" 2>&1 &
  zv_pids+=($!)
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  if ! pactl info >/dev/null 2>&1; then
    echo "pulseaudio did not start:" >&2
    cat "$dir/pulse.log" "$dir/pulse.out" >&2 2>/dev/null
    return 1
  fi
  pactl set-default-sink sys_out
  pactl set-default-source vmic
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
