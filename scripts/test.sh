#!/usr/bin/env bash
# Builds kestrel and runs the whole test suite twice: an optimised build, and
# a build under AddressSanitizer and UndefinedBehaviorSanitizer. Then builds
# the fuzz targets with clang (installed when missing) and runs each for a
# few seconds; where clang with libFuzzer cannot be had, says in one line
# that the stage was skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== optimised build =="
run_suite build/release -DCMAKE_BUILD_TYPE=Release

echo "== sanitizer build (address, undefined) =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON

echo "== fuzz targets, a few seconds each =="
fuzz_status=0
scripts/fuzz.sh 5 || fuzz_status=$?
# 77: fuzz.sh has said why it skipped the stage.
[ "$fuzz_status" -eq 0 ] || [ "$fuzz_status" -eq 77 ] || exit "$fuzz_status"
