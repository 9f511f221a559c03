#!/usr/bin/env bash
# Builds the Debian package (in build/deb by default) with Debian's
# hardening flags and prints its path.
#   scripts/package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
command -v dpkg-shlibdeps >/dev/null || {
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends dpkg-dev >/dev/null
}

build=${1:-build/deb}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTEMPIKON_TESTS=OFF -DTEMPIKON_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/tempikon_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/tempikon_*.deb
