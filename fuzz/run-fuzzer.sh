#!/usr/bin/env bash
# Replays a fuzz target's checked-in corpus, then fuzzes for a few seconds from a scratch
# copy of it (the checked-in corpus is never written). Usage: run-fuzzer.sh TARGET CORPUS SECONDS
set -euo pipefail
target=$1 corpus=$2 seconds=${3:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$corpus"/. "$work"/ 2>/dev/null || true
"$target" -rss_limit_mb=1024 -malloc_limit_mb=512 -runs=0 "$corpus"
"$target" -rss_limit_mb=1024 -malloc_limit_mb=512 -max_total_time="$seconds" \
  -artifact_prefix="$work/" "$work" 2>&1 | tail -n 3
