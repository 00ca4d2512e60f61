#!/usr/bin/env bash
# The main job on its built-in default: the host application runs the shipped workspace
# examples/simulated-devices.workspace (simulated image, tracking and poly-data streams for three
# seconds) and prints what it received. Extra arguments go to the application (--log-level 1,
# --snapshot DIR, --seconds N).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
app="$build/bin/corvexis"
if [ ! -x "$app" ]; then
  echo "demo.sh: $app is missing; run scripts/build.sh release first" >&2
  exit 1
fi
exec "$app" demo "$@"
