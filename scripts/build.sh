#!/usr/bin/env bash
# Configures and builds one flavour of the project into build/<flavour>.
#   release  optimised build (the host application and the benchmarks)
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer, the whole suite
#   tsan     ThreadSanitizer, the tests labelled 'concurrency' only
# Extra arguments name the targets to build (default: everything).
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
shift || true
case "$flavour" in
  release) args=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan)    args=(-DCMAKE_BUILD_TYPE=Debug -DCORVEXIS_SANITIZE=address,undefined -DCORVEXIS_BUILD_BENCHMARKS=OFF) ;;
  tsan)    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEXIS_SANITIZE=thread -DCORVEXIS_BUILD_BENCHMARKS=OFF) ;;
  *) echo "build.sh: unknown flavour '$flavour' (release, asan, tsan)" >&2; exit 2 ;;
esac

cmake -S . -B "build/$flavour" -G Ninja "${args[@]}" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "build/$flavour" --target "$@"
else
  cmake --build "build/$flavour"
fi
