#!/usr/bin/env bash
# The unit-labelled tests under the sanitizers: one Clang tree with AddressSanitizer and
# UndefinedBehaviorSanitizer that also builds the fuzz targets and replays their corpora,
# and one tree with ThreadSanitizer. Usage: scripts/sanitize.sh [address|thread]...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(address thread)
for kind in "${kinds[@]}"; do
  dir="$root/build-$kind"
  extra=()
  [ "$kind" = address ] && extra=(-DZV_FUZZ=ON)
  CC=clang CXX=clang++ "$root/scripts/build.sh" "$dir" -DZV_SANITIZE="$kind" -DZV_UNIT_ONLY=ON \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${extra[@]}"
  echo "== unit tests under $kind sanitizer"
  (cd "$dir" && \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
    ctest --output-on-failure -j"$(nproc)" -L 'unit|fuzz')
done
