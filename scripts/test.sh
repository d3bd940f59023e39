#!/usr/bin/env bash
# Builds and runs every test twice: an optimised build (with the Python package
# and its tests) and an AddressSanitizer + UndefinedBehaviorSanitizer build;
# then the golden cases on 4 threads under ThreadSanitizer, the Windows build
# under wine and a short fuzzing run where their tools are present. Build
# trees go to build/ (ignored by git). Every part runs whatever the parts before
# gave; the last line sums them all up: "<N> passed, <M> failed" (a build that
# fails counts as one failed test), and the status is 0 only when nothing
# failed.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs="${JOBS:-2}"
passed=0
failed=0

# build NAME CMAKE-ARGUMENTS...: configures and builds build/NAME; false (and one
# failure counted) when that fails.
build() {
  local name=$1
  shift
  if cmake -S . -B "build/$name" "$@" > "build/$name.configure.log" 2>&1 &&
     cmake --build "build/$name" -j "$jobs" ${TARGET:+--target $TARGET}; then
    return 0
  fi
  echo "the $name build failed (build/$name.configure.log)"
  failed=$((failed + 1))
  return 1
}

# tests NAME CTEST-ARGUMENTS...: runs ctest on build/NAME and adds its counts
# (no summary at all counts as one failure).
tests() {
  local name=$1 log
  shift
  log=$(mktemp)
  ctest --test-dir "build/$name" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
  local summary
  summary=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -z "$summary" ]; then
    echo "ctest on build/$name gave no summary"
    failed=$((failed + 1))
    return
  fi
  local f t
  f=$(echo "$summary" | awk '{ print $1 }')
  t=$(echo "$summary" | awk '{ print $NF }')
  passed=$((passed + t - f))
  failed=$((failed + f))
}

mkdir -p build
# The four build trees take about 2.6 GB; a full disk fails tests in ways that
# look like faults of their own ("No space left on device"), so say it first.
free_kb=$(df -Pk build | awk 'NR == 2 { print $4 }')
if [ -n "$free_kb" ] && [ "$free_kb" -lt 4000000 ]; then
  echo "warning: only $((free_kb / 1024)) MB free under build/; the builds and tests need about 4 GB"
fi
# The optimised build also builds the Python package (and runs its pytest
# suite) where Debian's python3 has what it needs.
python_package=ON
if ! /usr/bin/python3 -c "import os, sysconfig, pybind11, pytest, sklearn, scipy, rdkit
assert os.path.exists(os.path.join(sysconfig.get_paths()['include'], 'Python.h'))" 2> /dev/null; then
  python_package=OFF
  echo "Python package skipped: /usr/bin/python3 lacks pybind11, pytest, scikit-learn, scipy," \
    "RDKit or its headers (apt-get install pybind11-dev python3-dev python3-pybind11" \
    "python3-pytest python3-sklearn python3-scipy python3-rdkit)"
fi
if build release -DCMAKE_BUILD_TYPE=Release -DSARVIK_WERROR=ON -DSARVIK_PYTHON=$python_package; then
  tests release
fi

# The sanitizers watch the same tests but those whose cost there buys nothing
# the optimised build does not check already: the check flavour (built and run
# in the optimised build), the count of every fragment by substructure matching
# (RDKit's time, not ours) and a hundred pairs of runs racing for one output
# stem.
if build sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSARVIK_SANITIZE=ON -DSARVIK_WERROR=ON \
     -DSARVIK_CHECK_FLAVOUR=OFF; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 tests sanitize \
    -E '^(python[.]by_structure|RunSafety[.]SimultaneousRunsNeverLeaveAMixedPair)$'
fi

# A ThreadSanitizer build: the golden end-to-end cases on 4 threads, against the
# same expected files, the library's runs in one process and the spaces held in
# memory; a data race fails them.
if TARGET="Sarvik test_library test_space" build tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSARVIK_TSAN=ON \
     -DSARVIK_WERROR=ON -DSARVIK_GOLDEN_THREADS=4; then
  TSAN_OPTIONS=halt_on_error=1 tests tsan -R '^(golden[.]|Library[.]|Space[.])'
fi

# The Windows console program, cross-built with MinGW-w64 and run under wine,
# where both are present: the golden cases and the Windows-only cases.
if command -v x86_64-w64-mingw32-g++-posix > /dev/null &&
   { command -v wine || command -v wine64 || [ -x /usr/lib/wine/wine64 ]; } > /dev/null; then
  if build windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DSARVIK_WERROR=ON; then
    tests windows
  fi
else
  echo "Windows build skipped: the MinGW-w64 cross compiler or wine is missing" \
    "(apt-get install g++-mingw-w64-x86-64 wine wine64)"
fi

# A fuzzing run of the whole pipeline where clang and libFuzzer are present, when
# asked for: FUZZ_SECONDS=60 (default 0: skipped; the committed corpus is
# replayed by ctest in both builds anyway). It starts from a copy of the committed
# corpus; a crash, a hang or a leak fails the test command and leaves the input
# under build/fuzz/findings/.
fuzz_seconds="${FUZZ_SECONDS:-0}"
if [ "$fuzz_seconds" -gt 0 ] && command -v clang++ > /dev/null &&
   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DSARVIK_FUZZER=ON -DSARVIK_TESTS=OFF > build/fuzz.log 2>&1 &&
   cmake --build build/fuzz -j "$jobs" --target sarvik_fuzz >> build/fuzz.log 2>&1; then
  rm -rf build/fuzz/corpus build/fuzz/findings build/fuzz/tmp
  mkdir -p build/fuzz/findings build/fuzz/tmp
  cp -r tests/fuzz/corpus build/fuzz/corpus
  echo "fuzzing the pipeline for $fuzz_seconds seconds"
  if TMPDIR="$PWD/build/fuzz/tmp" build/fuzz/sarvik_fuzz build/fuzz/corpus \
       -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=4096 -max_len=8192 \
       -close_fd_mask=1 -artifact_prefix=build/fuzz/findings/ -print_final_stats=1 \
       > build/fuzz/run.log 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "fuzzing found a failure: build/fuzz/findings/"
  fi
  tail -n 12 build/fuzz/run.log
elif [ "$fuzz_seconds" -gt 0 ]; then
  echo "fuzzing skipped: clang++ with libFuzzer is not available (apt-get install clang libclang-rt-dev)"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
