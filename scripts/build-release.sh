#!/usr/bin/env bash
# The library and the command-line tool as a packager builds them: GCC, Release, no test
# run. Warnings are errors here too, so a packager's build stays quiet.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/zorvan-ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
dir=$root/build-release
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_WERROR=ON -DZV_BENCH=OFF \
  >/dev/null
cmake --build "$dir" -j"$(nproc)" --target zorvan zorvan_cli
