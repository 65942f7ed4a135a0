#!/bin/sh
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ and runs each for SECONDS
# (default 600) on its corpus:
#
#     sh scripts/fuzz.sh [SECONDS]
#
# The seeds come from fuzz/corpus/NAME, the reproducers of fixed crashes from
# tests/data/fuzz/NAME and, for the picture load, tests/data/imageio; what the
# fuzzer learns is kept in build-fuzz/corpus/NAME for the next run. Any crash,
# leak, input taking more than 10 s or process growing beyond 2 GB fails the
# run: the script goes on with the other targets, then exits with 1. The input
# that did it is left in build-fuzz/artifacts/NAME/ (crash-*, leak-*,
# timeout-*, oom-*); replay it with build-fuzz/fuzz_NAME FILE, fix the
# fault and add the file to tests/data/fuzz/NAME, where the tests replay it.
#
# NUBO_FUZZ_TARGETS="codebook writers" runs only those targets.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
targets=${NUBO_FUZZ_TARGETS:-"load_picture codebook codebook_index jpeg_quality png_metadata writers"}
build=build-fuzz

# The compilers count only when the build folder is first made.
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNUBO_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
binaries=""
for t in $targets; do binaries="$binaries fuzz_$t"; done
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $binaries >/dev/null

# The one known leak of the image library, outside our code (see the file).
export LSAN_OPTIONS="suppressions=$(pwd)/fuzz/lsan.supp:print_suppressions=0"
failed=""
for t in $targets; do
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  log="$build/fuzz-$t.log"
  mkdir -p "$corpus" "$artifacts"
  seeds="fuzz/corpus/$t"
  if [ -d "tests/data/fuzz/$t" ]; then seeds="$seeds tests/data/fuzz/$t"; fi
  if [ "$t" = load_picture ]; then seeds="$seeds tests/data/imageio"; fi
  # New inputs go into the first folder only; the seed folders stay as they are.
  # shellcheck disable=SC2086
  if ASAN_OPTIONS=detect_leaks=1 "$build/fuzz_$t" -max_total_time="$seconds" \
       -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
       "$corpus" $seeds >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$t: clean, ${runs:-?} runs in $seconds s, corpus $(ls "$corpus" | wc -l) inputs"
  else
    echo "fuzz_$t: FAILED; log $log, reproducer in $artifacts/:"
    ls -l "$artifacts"
    grep -E "^==[0-9]+==ERROR|^SUMMARY|check failed|ALARM|out-of-memory" "$log" | head -5
    failed="$failed $t"
  fi
done
if [ -n "$failed" ]; then
  echo "fuzzing found problems in:$failed" >&2
  exit 1
fi
