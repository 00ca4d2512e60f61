#!/usr/bin/env bash
# Builds the libFuzzer targets of the file readers with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer, the host libraries instrumented for coverage) into build/fuzz-files and
# runs each over a copy of its committed corpus.
#   scripts/fuzz-files.sh [seconds] [target ...]   default 60 s each; targets CvxReader LiveFileReader
#                                                  Serialization (all by default)
# Prints 'FIGURE <target>_fuzz_execs <count> runs' per target. A crash, hang (-timeout) or leak stops
# the run with a non-zero exit status and leaves the input in build/fuzz-files/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(CvxReader LiveFileReader Serialization)

out=build/fuzz-files
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCORVEXIS_SANITIZE=address,undefined -DCORVEXIS_FUZZ=ON \
  -DCORVEXIS_BUILD_TESTS=OFF -DCORVEXIS_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$out" --target $(printf '%sFuzz ' "${targets[@]}")
mkdir -p "$out/artifacts"

status=0
for t in "${targets[@]}"; do
  corpus="$out/corpus-$t"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp "Fuzz/corpus/$(echo "$t" | tr 'A-Z' 'a-z')"/* "$corpus/"
  log="$out/$t.log"
  set +e
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$out/bin/${t}Fuzz" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix="$out/artifacts/$t-" -print_final_stats=1 >"$log" 2>&1
  s=$?
  set -e
  if [ "$s" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz: $t failed (status $s); the input is in $out/artifacts/, the log in $log" >&2
    status=$s
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "FIGURE $(echo "$t" | tr 'A-Z' 'a-z')_fuzz_execs ${runs:-0} runs"
done
echo "FIGURE files_fuzz_seconds $seconds s"
exit "$status"
