#!/usr/bin/env bash
# The main job on its built-in default: the host application runs the simulated image stream for a
# few seconds and prints what it received. Extra arguments go to the application (--log-level 1).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
app="$build/bin/corvexis"
if [ ! -x "$app" ]; then
  echo "demo.sh: $app is missing; run scripts/build.sh release first" >&2
  exit 1
fi
exec "$app" "$@" demo
