#!/usr/bin/env bash
# The main job on its built-in default. The host application does not exist yet, so for now this
# reports what the release build produced and where.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
if [ ! -d "$build/bin" ]; then
  echo "demo.sh: $build is missing; run scripts/build.sh release first" >&2
  exit 1
fi
echo "Built programs in $PWD/$build/bin:"
ls -1 "$build/bin" | sed 's/^/  /'
echo "Built libraries in $PWD/$build/lib:"
ls -1 "$build/lib" | grep '\.so$' | sed 's/^/  /'
