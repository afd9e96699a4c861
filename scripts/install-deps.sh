#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and the demo need, when any is
# missing. Needs root (apt-get); says so clearly otherwise.
set -euo pipefail

PACKAGES=(
  cmake g++ clang libclang-rt-14-dev ninja-build ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool x11-utils x11-xserver-utils libx11-dev libxext-dev libxfixes-dev libxrandr-dev
  libxi-dev libxtst-dev libxkbcommon-dev libxkbcommon-x11-dev libx11-xcb-dev
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-randr0-dev libxcb-xinput-dev
  libxcb-xtest0-dev libxcb-dpms0-dev libxcb-xkb-dev libxcb-damage0-dev
  pulseaudio pulseaudio-utils libpulse-dev libopenal-dev openal-info
  pipewire pipewire-pulse wireplumber dbus-daemon
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libcairo2-dev libpango1.0-dev fonts-dejavu-core libplist-dev libglib2.0-dev zlib1g-dev
  libdeflate-dev sox libsox-fmt-pulse imagemagick
  libwayland-dev weston
  libpipewire-0.3-dev libspa-0.2-dev pipewire pipewire-bin wireplumber dbus
  # the headless Wayland desktop of the end-to-end tests and the demo
  sway swaybg xdg-desktop-portal xdg-desktop-portal-wlr weston foot libwayland-client0
  gstreamer1.0-pipewire gstreamer1.0-tools
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "zorvan: these Debian packages are missing: ${missing[*]}" >&2
  echo "zorvan: run this script as root (or: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi
echo "Installing ${#missing[@]} Debian packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=120 "${missing[@]}" >/dev/null
