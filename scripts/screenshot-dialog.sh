#!/usr/bin/env bash
# Screenshots of the configuration dialog with its server list, one failed
# check and one authenticated NTS check whose certificate the status line
# names, taken from the real program on a virtual X display, in English and
# German: docs/screenshots/settings.png and settings-de.png.
#   scripts/screenshot-dialog.sh [build-dir]
# The program runs without CAP_SYS_TIME and with the tests' clock recorder
# preloaded, with settings of its own (the primary: the NTS server, trusting
# its test certificate), in a working folder whose timeservers.dat starts
# with a closed port and chronyd serving NTS (block screenshot_dialog of
# tests/support/test_addresses.txt; chronyd unpacked, never installed, run
# with -x as nobody); only these are asked.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
closed=$(python3 tests/support/test_addresses.py screenshot_dialog 0)
nts=$(python3 tests/support/test_addresses.py screenshot_dialog 1)
build=${1:-build/screenshots}
out=$root/docs/screenshots

scripts/deps.sh test
for tool in xdotool twm; do
  command -v $tool >/dev/null || {
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $tool >/dev/null
  }
done
# An existing build is used as it is configured.
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTEMPIKON_BENCH=OFF >/dev/null
cmake --build "$build" --target tempikon tempikon_clock_recorder tempikon_lrelease
program=$(realpath "$(find "$build" -type f -name tempikon -perm -u+x | head -n1)")
tests/support/fetch_chrony.sh "$build/chrony"
recorder=$(realpath "$(find "$build" -name 'libtempikon_clock_recorder.so' | head -n1)")

tmp=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    timeout 5 sh -c "echo >\"$tmp/nts/stop\"" || kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir -p "$tmp/config/Tempikon" "$tmp/work" "$out"
printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\nBorderWidth 1\nNoHighlight\nDecorateTransients\n' >"$tmp/twmrc"
printf '[CONFIG]\nServer='"$nts"'\nProtocol=NTS\nTrustedCertificates=%s\nServer2=ptbtime1.ptb.de\nProtocol2=NTP\nOffset=0\nOffset2=0\nTimeout=3\nInterval=30\n' \
  "$tmp/nts/cert/server.crt" >"$tmp/config/Tempikon/Tempikon.conf"
# The local servers first, then the list shipped with the program.
{
  printf 'LO %-23sLocal closed port\r\n' "$closed"
  printf 'LO %-17sNTS   Local NTS server\r\n' "$nts"
  cat data/timeservers.dat
} >"$tmp/work/timeservers.dat"

# chronyd serving NTS with a certificate made for the shot; stopped by
# closing its pipe.
mkdir -p "$tmp/nts"
chmod 755 "$tmp" "$tmp/nts"
mkfifo "$tmp/nts/stop"
python3 - "$(realpath "$build")/chrony/usr/sbin/chronyd" "$tmp/nts" <<'SERVE' &
import os, sys
sys.path.insert(0, "tests/support")
from ntp_servers import ChronyServer, make_certificate
from test_addresses import Block
chronyd, folder = sys.argv[1:]
block = Block("screenshot_dialog")
address = block.at(1)
cert = make_certificate(os.path.join(folder, "cert"), address)
with ChronyServer(chronyd, address, block.ports[0], os.path.join(folder, "chrony"), nts=cert,
                  nts_port=block.ports[1]):
    open(os.path.join(folder, "ready"), "w").close()
    open(os.path.join(folder, "stop")).read()
SERVE
server_pid=$!
for _ in $(seq 100); do [ -e "$tmp/nts/ready" ] && break; sleep 0.1; done
[ -e "$tmp/nts/ready" ] || { echo "chronyd did not start" >&2; exit 1; }

cat >"$tmp/shoot.sh" <<'INNER'
set -euo pipefail
export XDG_CONFIG_HOME=$TMPDIR_SHOTS/config XDG_STATE_HOME=$TMPDIR_SHOTS/state QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/tempikon-shots
export TEMPIKON_CLOCK_LOG=$TMPDIR_SHOTS/clock.log
twm -f "$TMPDIR_SHOTS/twmrc" 2>/dev/null &
sleep 0.5
cd "$TMPDIR_SHOTS/work"
for shot in "C settings Configuration" "de_DE.UTF-8 settings-de Konfiguration"; do
  set -- $shot
  LANG=$1 LD_PRELOAD=$RECORDER \
    capsh --drop=cap_sys_time -- -c 'exec "$@"' tempikon "$PROGRAM" &
  pid=$!
  main=$(xdotool search --sync --onlyvisible --name '^Tempikon 1\.2$' | head -n1)
  sleep 1
  # The configuration is the first item of the menu bar.
  xdotool mousemove --window "$main" 30 10 click 1
  dialog=$(xdotool search --sync --onlyvisible --name "^$3\$" | head -n1)
  sleep 1
  # The list by its label's accelerator, its first entry (a closed port),
  # "Check server"; then the second, the NTS server.
  xdotool windowfocus --sync "$dialog"
  for keys in "alt+l Down Up" "alt+s" "alt+l Down" "alt+s"; do
    xdotool key --clearmodifiers $keys
    sleep 1
  done
  import -frame -window "$dialog" "$OUT/$2.png"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
done
INNER

TMPDIR_SHOTS=$tmp PROGRAM=$program RECORDER=$recorder OUT=$out \
  xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" bash "$tmp/shoot.sh"
[ ! -s "$tmp/clock.log" ] || { echo "the clock was set" >&2; exit 1; }
echo "Screenshots: $out/settings.png $out/settings-de.png"
