#!/usr/bin/env bash
# Keeps the platform seam: only src/Platform/ talks to X11, PulseAudio, PipeWire, GIO, OpenAL or
# FFmpeg. The library outside it reaches the platform through its own interfaces, and
# tools/ only through the one entry point, Platform/ZVPlatformDefaults.h.
# Keeps the public API apart: a host (tools/) and the public headers (include/zorvan/)
# include no private header (one that lives under src/), and capture (src/Video,
# src/Audio) knows nothing of export (Media/, Export/).
# Usage: scripts/check-layout.sh [ROOT]; prints each offending line, fails when any.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
status=0

# Never: a platform library header outside src/Platform/.
libs='#[[:space:]]*include[[:space:]]*<(xcb/|X11/|xkbcommon/xkbcommon-x11|pulse/|gio/|AL/|libav|libsw|pipewire/|spa/)'
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
# Never: a private header from a host or a public header. An include is taken as the
# compiler would find it: a quoted one beside the including file first, then in include/
# or include/zorvan/, then in src/ (where only the library and its own tests may look).
private=$(find tools include/zorvan -name '*.h' -o -name '*.cpp' | sort |
  while IFS= read -r file; do
    grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][^">]+[">]' "$file" |
      while IFS= read -r line; do
        name=${line#*include}
        name=${name#"${name%%[\"<]*}"}
        quoted=${name:0:1}
        name=${name:1}
        name=${name%%[\">]*}
        if [ "$quoted" = '"' ] && [ -e "$(dirname "$file")/$name" ]; then continue; fi
        if [ ! -e "include/$name" ] && [ ! -e "include/zorvan/$name" ] && [ -e "src/$name" ]; then
          echo "$file:$line"
        fi
      done
  done)
if [ -n "$private" ]; then
  echo "check-layout: private headers (under src/) included from tools/ or include/zorvan/:"
  echo "$private"
  status=1
fi

# Never: export from capture. Video and Audio record; what turns a recording into a movie
# (Media/, Export/) builds on them, not the other way.
upward='#[[:space:]]*include[[:space:]]*"(Media|Export)/'
if hits=$(grep -rnE "$upward" src/Video src/Audio --include='*.h' --include='*.cpp'); then
  echo "check-layout: src/Video or src/Audio includes Media/ or Export/:"
  echo "$hits"
  status=1
fi
exit $status
