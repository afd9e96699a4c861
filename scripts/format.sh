#!/usr/bin/env bash
# Formats the C++ sources with .clang-format. With --check nothing is changed: lists the
# files that differ and exits non-zero if there are any.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' | grep -E '^(include|src|tools|tests|fuzz|bench|resources)/')
if [ "${1:-}" = --check ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then
      echo "$f"
      bad=1
    fi
  done
  [ "$bad" = 0 ] || echo "these files differ from .clang-format (scripts/format.sh formats them)" >&2
  exit "$bad"
fi
clang-format --style=file -i "${files[@]}"
