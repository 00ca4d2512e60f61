#!/usr/bin/env bash
# Builds the libFuzzer target for the Properties text reader with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs it over a copy of the committed corpus.
#   scripts/fuzz.sh [seconds]     default 60
# Prints 'FIGURE properties_fuzz_execs <count> runs' at the end. Crashes, hangs (-timeout) and leaks stop
# the run with a non-zero exit status and leave the input in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

out=build/fuzz
mkdir -p "$out/artifacts"
# The target needs only the tree and its reader and writer; compiling them directly keeps the fuzz build
# independent of the rest of the library.
clang++ -std=c++20 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra -Wshadow -Werror \
  -ISource -isystem /usr/include/eigen3 \
  Fuzz/PropertiesParserFuzz.cpp Source/Host/Core/Properties.cpp Source/Host/Core/PropertiesIO.cpp \
  -o "$out/PropertiesParserFuzz"

# libFuzzer adds what it finds to the first corpus directory; work on a copy so the committed seeds stay.
rm -rf "$out/corpus"
mkdir -p "$out/corpus"
cp Fuzz/corpus/properties/* "$out/corpus/"

log="$out/PropertiesParserFuzz.log"
set +e
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$out/PropertiesParserFuzz" "$out/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -artifact_prefix="$out/artifacts/" -print_final_stats=1 >"$log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
  tail -n 80 "$log"
  echo "fuzz: the target failed (status $status); the input is in $out/artifacts/, the log in $log" >&2
else
  grep -E '^(Done|stat::)' "$log" || true
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
echo "FIGURE properties_fuzz_execs ${runs:-0} runs"
echo "FIGURE properties_fuzz_seconds $seconds s"
exit "$status"
