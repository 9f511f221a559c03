#!/usr/bin/env bash
# Installs the Debian packages a task needs, only when some are missing.
#   scripts/deps.sh run     building and running the program
#   scripts/deps.sh test    the whole test run (scripts/test.sh)
#   scripts/deps.sh win32   the Windows cross build and its Wine tests
#   scripts/deps.sh bench   the benchmarks (bench/run_bench.py, bench/ntp_bench.py)
# Always with --no-install-recommends, so every package used is named here.
set -euo pipefail

# The translations are built with Qt's Linguist tools; NTS (TLS and AES-SIV)
# comes from GnuTLS, found through pkg-config.
# NTS: GnuTLS, and the system's trusted certificates for public servers.
run_pkgs=(cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins fonts-comic-neue
          qt6-l10n-tools qt6-tools-dev libgnutls28-dev pkg-config ca-certificates)
# Wine's own fonts (fonts-wine) are only a recommendation of Wine's.
win32_pkgs=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
            wine wine64 fonts-wine xvfb xauth x11-apps imagemagick librsvg2-bin libcap2-bin
            python3 fonts-liberation fonts-comic-neue)
# The Debug suite, its end-to-end, desktop (a window manager and X tools),
# D-Bus, package and hardening tests (valgrind, a zone from tzdata, Qt's GTK
# theme for the secure-execution test), the fuzzing (clang and libFuzzer) and
# the Windows part. The NTP tests run chronyd unpacked from its package
# (tests/support/fetch_chrony.sh: the package itself would replace the time
# service); these are its libraries. The TLS client's tests serve and make
# certificates with openssl.
chrony_libs=(libgnutls30 libnettle8 libseccomp2 libedit2 libcap2)
test_pkgs=("${run_pkgs[@]}" libgtest-dev libgmock-dev libcap2-bin xvfb xauth imagemagick python3
           dbus python3-dbusmock dpkg-dev desktop-file-utils appstream lintian systemd
           valgrind tzdata clang libclang-rt-dev openbox x11-utils xdotool trayer qt6-gtk-platformtheme
           openssl "${chrony_libs[@]}" "${win32_pkgs[@]}")
# The NTP benchmark compares with ntpdig (a query-only client: the package
# installs no service) and chronyd -Q, unpacked as for the tests.
bench_pkgs=("${run_pkgs[@]}" libcap2-bin python3 time xvfb xauth ntpsec-ntpdig "${chrony_libs[@]}")
# Its NTS rows make the server's certificate with openssl; the /QUERY
# figures compare with rdate -p -n (prints only; never run without -p).
bench_pkgs+=(openssl rdate)

case "${1:-}" in
  run) pkgs=("${run_pkgs[@]}") ;;
  test) pkgs=("${test_pkgs[@]}") ;;
  win32) pkgs=("${win32_pkgs[@]}") ;;
  bench) pkgs=("${bench_pkgs[@]}") ;;
  *) echo "usage: $0 run|test|win32|bench" >&2; exit 2 ;;
esac

# ImageMagick may come from elsewhere (a local build); only its tools matter.
have_magick=false
command -v convert >/dev/null && command -v import >/dev/null && have_magick=true

missing=()
for p in "${pkgs[@]}"; do
  [ "$p" = imagemagick ] && $have_magick && continue
  [[ " ${missing[*]} " == *" $p "* ]] && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
