#!/usr/bin/env bash
# Unpacks chronyd from Debian's chrony package into DEST, without installing
# the package: installed, it would replace the system's time service and start
# a daemon that sets the clock. The tests run the binary themselves, with -x.
#   tests/support/fetch_chrony.sh DEST    -> DEST/usr/sbin/chronyd
# Nothing is done when DEST already holds it. Exits 1 when it cannot be had
# (no network, no such package); the tests that need it are then skipped.
set -euo pipefail

dest=$(realpath -m "${1:?usage: $0 DEST}")
chronyd="$dest/usr/sbin/chronyd"
[ -x "$chronyd" ] && exit 0

mkdir -p "$dest"
work=$(mktemp -d "$dest/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
# apt's download user must be able to write here.
chmod 0777 "$work"
if ! (cd "$work" && apt-get download -qq chrony >/dev/null 2>"$work/apt.err"); then
  # The package lists may be missing on a fresh system.
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  $sudo apt-get update -qq >/dev/null 2>&1 || true
  if ! (cd "$work" && apt-get download -qq chrony >/dev/null 2>"$work/apt.err"); then
    echo "fetch_chrony: apt-get download chrony failed:" >&2
    cat "$work/apt.err" >&2
    exit 1
  fi
fi
deb=$(ls "$work"/chrony_*.deb)
# Unpacked next to DEST first, so that a half-done unpack never counts.
dpkg-deb -x "$deb" "$work/root"
cp -a "$work/root/." "$dest/"
[ -x "$chronyd" ] || { echo "fetch_chrony: no usr/sbin/chronyd in $deb" >&2; exit 1; }
# chronyd drops to nobody, who must reach the binary.
chmod -R a+rX "$dest"
