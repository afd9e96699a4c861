#!/usr/bin/env bash
# The main job: builds zorvan and shows what it does. Without a desktop it runs on a
# private X server of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build" >/dev/null
"$root/build/zorvan" about
