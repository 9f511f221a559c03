#!/usr/bin/env bash
# Installs the Debian packages a task needs, only when some are missing.
#   scripts/deps.sh run    building and running the program
#   scripts/deps.sh test   building and running the whole test suite
set -euo pipefail

run_pkgs=(cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins fonts-comic-neue
          qt6-l10n-tools qt6-tools-dev)
test_pkgs=("${run_pkgs[@]}" libgtest-dev libgmock-dev libcap2-bin xvfb xauth imagemagick python3 dbus python3-dbusmock
           dpkg-dev desktop-file-utils appstream lintian systemd openbox x11-utils xdotool)

case "${1:-}" in
  run) pkgs=("${run_pkgs[@]}") ;;
  test) pkgs=("${test_pkgs[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
