#!/bin/bash
# Installs what the Windows cross build and its Wine tests need, when missing.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
           googletest wine wine64 xvfb x11-apps imagemagick librsvg2-bin libcap2-bin \
           python3 fonts-liberation fonts-comic-neue; do
    have "$pkg" || need+=("$pkg")
done
# ImageMagick may come from elsewhere (a local build); only its tools matter.
if command -v convert >/dev/null && command -v import >/dev/null; then
    need=("${need[@]/imagemagick}")
fi
for i in "${!need[@]}"; do [ -n "${need[$i]}" ] || unset 'need[i]'; done
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
fi
