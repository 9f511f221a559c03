#!/usr/bin/env bash
# Builds and runs every test: the program as the run command builds it, a
# Debug build with its suite, the Windows build under Wine,
# a short run of every fuzz target, then a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (last, so the run ends on its test summary).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}

# The run command's Release build first: the optimiser warns about things
# a Debug build does not see, and warnings are errors.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTEMPIKON_TESTS=OFF -DTEMPIKON_BENCH=OFF >/dev/null
cmake --build build/release -j"$jobs"

run_suite build/test -DCMAKE_BUILD_TYPE=Debug
(unset QT_QPA_PLATFORM; bash scripts/win32-test.sh)
# Every fuzz target for a fixed number of inputs from its seed corpus
# (clang and libFuzzer); any finding fails the run.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTEMPIKON_FUZZ=ON \
  -DTEMPIKON_BACKEND=None -DTEMPIKON_TESTS=OFF -DTEMPIKON_BENCH=OFF >/dev/null
cmake --build build/fuzz -j"$jobs"
fuzz/run.sh build/fuzz 20000

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DTEMPIKON_SANITIZE=ON -DTEMPIKON_BENCH=OFF
