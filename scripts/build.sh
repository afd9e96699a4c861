#!/usr/bin/env bash
# Configures and builds one tree. Usage: scripts/build.sh [BUILD_DIR [CMAKE_ARGS...]]
# The default tree is build/ (GCC, optimised with debug info, everything); warnings are errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
"$root/scripts/install-deps.sh"
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/zorvan-ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
# Clean clones and worktrees sit in other folders: leave the folder out of the hash so
# they share the cache (debug info then names the first folder that built an object).
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DZV_WERROR=ON "$@" >/dev/null
else
  cmake "$dir" -DZV_WERROR=ON "$@" >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"
