#!/usr/bin/env bash
# Keeps the platform seam: only src/Platform/ talks to X11, PulseAudio, GIO, OpenAL or
# FFmpeg. The library outside it reaches the platform through its own interfaces, and
# tools/ only through the one entry point, Platform/ZVPlatformDefaults.h.
# Usage: scripts/check-layout.sh [ROOT]; prints each offending line, fails when any.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
status=0

# Never: a platform library header outside src/Platform/.
libs='#[[:space:]]*include[[:space:]]*<(xcb/|X11/|xkbcommon/xkbcommon-x11|pulse/|gio/|AL/|libav|libsw)'
if hits=$(grep -rnE "$libs" src --include='*.h' --include='*.cpp' | grep -v '^src/Platform/'); then
  echo "check-layout: platform library headers outside src/Platform/:"
  echo "$hits"
  status=1
fi

# Never: a header of src/Platform/ from elsewhere in the library or from tools/, but for
# the entry point.
own='#[[:space:]]*include[[:space:]]*"Platform/'
if hits=$(grep -rnE "$own" src tools --include='*.h' --include='*.cpp' | grep -v '^src/Platform/' |
  grep -v '"Platform/ZVPlatformDefaults.h"'); then
  echo "check-layout: src/Platform/ headers included from outside it:"
  echo "$hits"
  status=1
fi
exit $status
