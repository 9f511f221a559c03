#!/usr/bin/env bash
# Cross-builds tempikon.exe and the tests for 64-bit Windows with MinGW-w64,
# then runs them under Wine on a virtual X display:
#   - the logic's tests on the fake platform and the Win32 backend's tests,
#   - a check that the program needs no DLL beyond Windows' own,
#   - the smoke test of the real tempikon.exe (tests/win32/smoke_test.py).
# Wine never runs with the right to set the clock (scripts/win32-wine.sh).
#   scripts/win32-test.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-win}

scripts/deps-win32.sh
scripts/win32-gtest.sh
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTEMPIKON_BACKEND=Win32 -DTEMPIKON_BENCH=OFF \
    -DGTest_DIR="$root/build-win/gtest/lib/cmake/GTest" >/dev/null
cmake --build "$build" -j"$(nproc)"

exe="$build/app/main/tempikon.exe"
echo "== DLLs of $exe"
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|ws2_32|version|msimg32|msvcrt)\.dll$'
foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | grep -Ev "$allowed" || true)
if [ -n "$foreign" ]; then
    echo "tempikon.exe needs DLLs that Windows does not have: $foreign" >&2
    exit 1
fi
echo "only Windows' own; $(stat -c %s "$exe") bytes"

# Everything that needs Wine runs on one virtual display.
cat >"$build/run-wine-tests.sh" <<'INNER'
set -uo pipefail
build=$1
# The prefix first: without it no test can run, so stop at its message.
scripts/win32-wine.sh --cmd true || { echo "FAIL Wine prefix set-up"; exit 1; }
failed=0
logs="$build/wine-test-logs"
mkdir -p "$logs"
for t in $(find "$build/tests" -name '*_test.exe' | sort); do
    name=$(basename "$t" .exe)
    # Output to a file: Wine's server may outlive the test and hold a pipe.
    if scripts/win32-wine.sh "$t" --gtest_brief=1 >"$logs/$name.log" 2>&1 </dev/null; then
        echo "PASS $name: $(grep -Eo '[0-9]+ tests?\.' "$logs/$name.log" | tail -n1)"
    else
        echo "FAIL $name"
        cat "$logs/$name.log"
        failed=1
    fi
done
python3 tests/win32/smoke_test.py "$build" || failed=1
exit $failed
INNER
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$build/run-wine-tests.sh" "$build"
