#!/bin/bash
# Cross-builds GoogleTest from Debian's source package (/usr/src/googletest)
# with the MinGW toolchain into build-win/gtest (once).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix="${1:-$root/build-win/gtest}"
if [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    exit 0
fi
work="$root/build-win/gtest-build"
cmake -S /usr/src/googletest -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=ON >/dev/null
cmake --build "$work" -j2 >/dev/null
cmake --install "$work" >/dev/null
echo "GoogleTest for Windows in $prefix"
