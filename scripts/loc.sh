#!/usr/bin/env bash
# The share of test code: non-blank lines of tests/ and fuzz/ among all C++ lines of
# include/, src/, tools/, bench/, tests/ and fuzz/. The project keeps it between 0.25 and 0.33; exits
# non-zero outside that range.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | grep -c '[^[:space:]]'
}
code=$(count include src tools bench)
tests=$(count tests fuzz)
awk -v c="$code" -v t="$tests" 'BEGIN {
  share = t / (c + t)
  printf "code %d, tests %d, test share %.3f\n", c, t, share
  exit (share < 0.25 || share > 0.33)
}'
