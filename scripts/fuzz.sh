#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) into
# build/fuzz and runs each over a copy of its committed corpus in Fuzz/corpus/<target>.
#   scripts/fuzz.sh [TARGET] [SECONDS]   TARGET one of --help's list or 'all' (the default);
#                                        SECONDS per target, default 60 for one target, 10 for all
# Prints 'FIGURE <target>_fuzz_execs <count> runs' per target. A crash, hang (-timeout) or leak stops
# that target with a non-zero exit status (the script's status) and leaves the input in
# build/fuzz/artifacts/<target>-*.
set -euo pipefail
cd "$(dirname "$0")/.."

# Two ways to build: 'direct' targets compile only the sources they exercise (no library build);
# 'cmake' targets link the host libraries, built for fuzzing with CORVEXIS_FUZZ=ON.
# Target names are the corpus folder names; 'binary' names the fuzz program of each.
all_targets=(properties igtl cvxreader livefilereader serialization)
declare -A binary=(
  [properties]=PropertiesParserFuzz [igtl]=IgtlMessageFuzz [cvxreader]=CvxReaderFuzz
  [livefilereader]=LiveFileReaderFuzz [serialization]=SerializationFuzz
)
declare -A describe=(
  [properties]="the properties text reader"
  [igtl]="the OpenIGTLink message reader (header, size limit, registry, body, CRC, unpack)"
  [cvxreader]="the data-file reader (what it reads writes and reads back whole)"
  [livefilereader]="the live image file reader"
  [serialization]="reading serialised data messages"
)

usage() {
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
  echo "Targets:"
  for t in "${all_targets[@]}"; do printf '  %-15s %s\n' "$t" "${describe[$t]}"; done
}

target=all
if [ $# -gt 0 ]; then
  case "$1" in
    -h | --help) usage; exit 0 ;;
    all) shift ;;
    [0-9]*) ;; # only seconds given
    *)
      target=$1
      shift
      if [ -z "${describe[$target]+x}" ]; then
        echo "fuzz: unknown target '$target'" >&2
        usage >&2
        exit 2
      fi
      ;;
  esac
fi
if [ "$target" = all ]; then
  targets=("${all_targets[@]}")
  seconds=${1:-10}
else
  targets=("$target")
  seconds=${1:-60}
fi
case "$seconds" in
  '' | *[!0-9]*) echo "fuzz: SECONDS must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac

out=build/fuzz
mkdir -p "$out/bin" "$out/artifacts"

clang_fuzz=(clang++ -std=c++20 -g -O1 -fno-omit-frame-pointer
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
  -Wall -Wextra -Wshadow -Werror -ISource -isystem /usr/include/eigen3)

build_direct() {
  case "$1" in
    properties)
      "${clang_fuzz[@]}" Fuzz/PropertiesParserFuzz.cpp \
        Source/Host/Core/Properties.cpp Source/Host/Core/PropertiesIO.cpp -o "$out/bin/${binary[$1]}"
      ;;
    igtl)
      # Only the reader and what it needs; the protocol library comes from the system.
      "${clang_fuzz[@]}" -isystem /usr/include/openigtlink Fuzz/IgtlMessageFuzz.cpp \
        Source/Stream/IGTL/MessageReader.cpp Source/Stream/IGTL/MessageValidator.cpp \
        Source/Stream/IGTL/SupportedTypes.cpp Source/Stream/IGTL/TrackingMessage.cpp \
        Source/Stream/IGTL/LibraryAdapter.cpp Source/Host/Core/Log.cpp Source/Host/Core/ThreadName.cpp \
        -lOpenIGTLink -lpthread -o "$out/bin/${binary[$1]}"
      ;;
  esac
}

cmake_targets=()
for t in "${targets[@]}"; do
  case "$t" in
    properties | igtl) build_direct "$t" ;;
    *) cmake_targets+=("${binary[$t]}") ;;
  esac
done
if [ ${#cmake_targets[@]} -gt 0 ]; then
  cmake -S . -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCORVEXIS_SANITIZE=address,undefined -DCORVEXIS_FUZZ=ON \
    -DCORVEXIS_BUILD_TESTS=OFF -DCORVEXIS_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$out/cmake" --target "${cmake_targets[@]}"
  for c in "${cmake_targets[@]}"; do ln -sf "../cmake/bin/$c" "$out/bin/$c"; done
fi

status=0
for t in "${targets[@]}"; do
  corpus="$out/corpus-$t"
  # libFuzzer adds what it finds to the first corpus directory; work on a copy so the committed seeds stay.
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp "Fuzz/corpus/$t"/* "$corpus/"
  log="$out/$t.log"
  set +e
  # The protocol library's own POLYDATA leaks are listed in the suppression file (third-party code only).
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/scripts/sanitizers/lsan.supp:print_suppressions=0 \
    "$out/bin/${binary[$t]}" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix="$out/artifacts/$t-" -print_final_stats=1 >"$log" 2>&1
  s=$?
  set -e
  if [ "$s" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz: $t failed (status $s); the input is in $out/artifacts/, the log in $log" >&2
    status=$s
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "FIGURE ${t}_fuzz_execs ${runs:-0} runs"
done
echo "FIGURE fuzz_seconds_per_target $seconds s"
exit "$status"
