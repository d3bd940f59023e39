#!/usr/bin/env bash
# Builds and runs every test twice: an optimised build and an AddressSanitizer +
# UndefinedBehaviorSanitizer build; then the golden cases on 4 threads under
# ThreadSanitizer, the Windows build under wine and a short fuzzing run where
# their tools are present. Build trees go to build/ (ignored by git).
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

# A ThreadSanitizer build: the golden end-to-end cases on 4 threads, against the
# same expected files; a data race fails them.
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSARVIK_TSAN=ON -DSARVIK_WERROR=ON \
  -DSARVIK_GOLDEN_THREADS=4
cmake --build build/tsan -j "$jobs" --target Sarvik
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -R '^golden[.]' --output-on-failure -j "$jobs"

# The Windows console program, cross-built with MinGW-w64 and run under wine,
# where both are present: the golden cases and the Windows-only cases.
if command -v x86_64-w64-mingw32-g++-posix > /dev/null &&
   { command -v wine || command -v wine64 || [ -x /usr/lib/wine/wine64 ]; } > /dev/null; then
  cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DSARVIK_WERROR=ON
  cmake --build build/windows -j "$jobs"
  ctest --test-dir build/windows --output-on-failure -j "$jobs"
else
  echo "Windows build skipped: the MinGW-w64 cross compiler or wine is missing" \
    "(apt-get install g++-mingw-w64-x86-64 wine wine64)"
fi

# A short fuzzing run of the whole pipeline where clang and libFuzzer are present
# (FUZZ_SECONDS, default 60; 0 skips it). It starts from a copy of the committed
# corpus; a crash, a hang or a leak fails the test command and leaves the input
# under build/fuzz/findings/.
fuzz_seconds="${FUZZ_SECONDS:-60}"
if [ "$fuzz_seconds" -gt 0 ] && command -v clang++ > /dev/null &&
   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DSARVIK_FUZZER=ON -DSARVIK_TESTS=OFF > build/fuzz.log 2>&1 &&
   cmake --build build/fuzz -j "$jobs" --target sarvik_fuzz >> build/fuzz.log 2>&1; then
  rm -rf build/fuzz/corpus build/fuzz/findings build/fuzz/tmp
  mkdir -p build/fuzz/findings build/fuzz/tmp
  cp -r tests/fuzz/corpus build/fuzz/corpus
  echo "fuzzing the pipeline for $fuzz_seconds seconds"
  TMPDIR="$PWD/build/fuzz/tmp" build/fuzz/sarvik_fuzz build/fuzz/corpus \
    -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=4096 -max_len=8192 \
    -close_fd_mask=1 -artifact_prefix=build/fuzz/findings/ -print_final_stats=1 2>&1 | tail -n 12
else
  echo "fuzzing skipped: clang++ with libFuzzer is not available (apt-get install clang libclang-rt-dev)"
fi
