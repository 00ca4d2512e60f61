#!/usr/bin/env bash
# Builds the libFuzzer target of the OpenIGTLink message reader (header, size limit, registry, body
# layout check, CRC, the library's unpack) with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into build/fuzz, and runs it over a copy of the committed corpus Fuzz/corpus/igtl.
#   scripts/fuzz-igtl.sh [seconds]     default 60
# Prints 'FIGURE igtl_fuzz_execs <count> runs'. A crash, hang or leak stops the run with a non-zero exit
# status and leaves the input in build/fuzz/igtl-artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

out=build/fuzz
mkdir -p "$out/igtl-artifacts"
# Only the reader and what it needs; the protocol library comes from the system.
clang++ -std=c++20 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra -Wshadow -Werror \
  -ISource -isystem /usr/include/openigtlink -isystem /usr/include/eigen3 \
  Fuzz/IgtlMessageFuzz.cpp \
  Source/Stream/IGTL/MessageReader.cpp Source/Stream/IGTL/MessageValidator.cpp \
  Source/Stream/IGTL/SupportedTypes.cpp Source/Stream/IGTL/TrackingMessage.cpp \
  Source/Stream/IGTL/LibraryAdapter.cpp Source/Host/Core/Log.cpp Source/Host/Core/ThreadName.cpp \
  -lOpenIGTLink -lpthread -o "$out/IgtlMessageFuzz"

rm -rf "$out/igtl-corpus"
mkdir -p "$out/igtl-corpus"
cp Fuzz/corpus/igtl/* "$out/igtl-corpus/"

log="$out/IgtlMessageFuzz.log"
set +e
# The library's own POLYDATA leaks are listed in the suppression file (third-party code only).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/scripts/sanitizers/lsan.supp:print_suppressions=0 \
  "$out/IgtlMessageFuzz" "$out/igtl-corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -artifact_prefix="$out/igtl-artifacts/" -print_final_stats=1 >"$log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
  tail -n 80 "$log"
  echo "fuzz: the target failed (status $status); the input is in $out/igtl-artifacts/, the log in $log" >&2
else
  grep -E '^(Done|stat::)' "$log" || true
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
echo "FIGURE igtl_fuzz_execs ${runs:-0} runs"
echo "FIGURE igtl_fuzz_seconds $seconds s"
exit "$status"
