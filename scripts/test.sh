#!/usr/bin/env bash
# Builds and runs every test twice: an optimised build and an AddressSanitizer +
# UndefinedBehaviorSanitizer build. Build trees go to build/ (ignored by git).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${JOBS:-2}"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DSARVIK_WERROR=ON
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSARVIK_SANITIZE=ON -DSARVIK_WERROR=ON
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
