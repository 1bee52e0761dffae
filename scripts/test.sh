#!/usr/bin/env bash
# The whole test suite: a Release build with all tests; a clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer with all tests again; then a short bounded run of every fuzz target
# on its seed corpus (that build carries the fuzzer instrumentation, so no third build is needed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-20}

echo "== Release build and tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release -j "$jobs" --output-on-failure --timeout 300

echo "== Sanitizer build (clang, ASan + UBSan) and tests"
CC=clang CXX=clang++ cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEL_SANITIZE=ON -DVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize -j "$jobs" --output-on-failure --timeout 600

echo "== Fuzz targets, ${fuzz_seconds}s each"
for target in build/sanitize/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds=fuzz/corpus/${name#fuzz_}
  work=$(mktemp -d)
  echo "-- $name"
  # New inputs go to a scratch corpus; a crash leaves its input in build/sanitize/fuzz/.
  if ! "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
      -artifact_prefix=build/sanitize/fuzz/ "$work" $( [ -d "$seeds" ] && echo "$seeds") \
      > "$work.log" 2>&1; then
    grep -v '^INFO' "$work.log" | tail -n 60
    echo "fuzz target $name failed; the input is in build/sanitize/fuzz/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$work.log" || true
  rm -rf "$work" "$work.log"
done
echo "== All tests passed"
