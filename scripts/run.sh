#!/usr/bin/env bash
# Builds Tempikon (release) and starts it; arguments go to the program,
# e.g. scripts/run.sh /RUNONCE
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTEMPIKON_TESTS=OFF -DTEMPIKON_BENCH=OFF >/dev/null
cmake --build build/release --target tempikon
exec build/release/app/main/tempikon "$@"
