#!/usr/bin/env bash
# Replays a fuzz target's checked-in corpus, then (SECONDS > 0) fuzzes for that long from a
# scratch copy of it (the checked-in corpus is never written). Usage: run-fuzzer.sh TARGET CORPUS SECONDS
set -euo pipefail
target=$1 corpus=$2 seconds=${3:-0}
work=$(mktemp -d)
# A finding is kept (and named) for reproduction; a clean run leaves nothing behind.
finish() {
  for f in "$work"/crash-* "$work"/leak-* "$work"/oom-* "$work"/timeout-*; do
    [ -e "$f" ] && { echo "finding kept: $f" >&2; return; }
  done
  rm -rf "$work"
}
trap finish EXIT
cp -r "$corpus"/. "$work"/ 2>/dev/null || true
"$target" -rss_limit_mb=1024 -malloc_limit_mb=512 -runs=0 "$corpus"
[ "$seconds" -gt 0 ] || exit 0
"$target" -rss_limit_mb=1024 -malloc_limit_mb=512 -max_total_time="$seconds" \
  -artifact_prefix="$work/" "$work" 2>&1 | tail -n 3
