#!/usr/bin/env bash
# Builds kestrel and runs the whole test suite twice: an optimised build, and
# a build under AddressSanitizer and UndefinedBehaviorSanitizer. When clang is
# installed, then builds the fuzz targets and runs each for a few seconds.
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
run_suite build/release -DCMAKE_BUILD_TYPE=Release -DKESTREL_FAIL_POINTS=ON

echo "== sanitizer build (address, undefined) =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_FAIL_POINTS=ON

if command -v clang++ >/dev/null || command -v clang++-14 >/dev/null; then
  echo "== fuzz targets, a few seconds each =="
  scripts/fuzz.sh 5
fi
