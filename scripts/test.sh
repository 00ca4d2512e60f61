#!/usr/bin/env bash
# Installs the dependencies, builds and runs the tests.
#   scripts/test.sh        the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/test.sh tsan   the tests labelled 'concurrency' under ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-asan}

scripts/install-deps.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=suppressions=$PWD/scripts/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1
jobs=$(nproc)

case "$flavour" in
  asan)
    scripts/build.sh asan
    ctest --test-dir build/asan --output-on-failure --no-tests=error -j "$jobs"
    ;;
  tsan)
    scripts/build.sh tsan concurrency_tests
    ctest --test-dir build/tsan --output-on-failure --no-tests=error -L concurrency -j "$jobs"
    ;;
  *) echo "test.sh: unknown flavour '$flavour' (asan, tsan)" >&2; exit 2 ;;
esac
