#!/usr/bin/env bash
# Screenshot of the configuration dialog with its server list and one check
# result, taken from the real program on a virtual X display, written to
# docs/screenshots/settings.png.
#   scripts/screenshot-dialog.sh [build-dir]
# The program runs without CAP_SYS_TIME, with settings of its own, in a
# working folder whose timeservers.dat starts with a Daytime server on
# 127.0.0.91; only that server is queried.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/screenshots}
out=$root/docs/screenshots

scripts/deps.sh test
for tool in xdotool twm; do
  command -v $tool >/dev/null || {
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $tool >/dev/null
  }
done
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTEMPIKON_BENCH=OFF >/dev/null
cmake --build "$build" --target tempikon
program=$(realpath "$(find "$build" -type f -name tempikon -perm -u+x | head -n1)")

tmp=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir -p "$tmp/config/Tempikon" "$tmp/work" "$out"
printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\nBorderWidth 1\nNoHighlight\nDecorateTransients\n' >"$tmp/twmrc"
printf '[CONFIG]\nServer=127.0.0.91\nServer2=ptbtime1.ptb.de\nProtocol2=NTP\nOffset=0\nOffset2=0\nTimeout=3\nInterval=30\n' \
  >"$tmp/config/Tempikon/Tempikon.conf"
# The local server first, then the list shipped with the program.
{
  printf 'LO 127.0.0.91             Local test server\r\n'
  cat data/timeservers.dat
} >"$tmp/work/timeservers.dat"

# A Daytime server that answers as NIST's do, with the current time.
python3 tests/support/daytime_server.py 127.0.0.91 &
server_pid=$!
sleep 0.5

cat >"$tmp/shoot.sh" <<'INNER'
set -euo pipefail
export XDG_CONFIG_HOME=$TMPDIR_SHOTS/config QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/tempikon-shots
twm -f "$TMPDIR_SHOTS/twmrc" 2>/dev/null &
sleep 0.5
cd "$TMPDIR_SHOTS/work"
capsh --drop=cap_sys_time -- -c 'exec "$@"' tempikon "$PROGRAM" &
pid=$!
main=$(xdotool search --sync --onlyvisible --name '^Tempikon 1\.2$' | head -n1)
sleep 1
# "&Configuration" is the first item of the menu bar.
xdotool mousemove --window "$main" 30 10 click 1
dialog=$(xdotool search --sync --onlyvisible --name '^Configuration$' | head -n1)
sleep 1
# Twips at 96 dpi are 15 to the pixel: the first entry of the list, then
# "Check server".
xdotool mousemove --window "$dialog" 60 $((2520 / 15 + 8)) click 1
sleep 0.3
xdotool mousemove --window "$dialog" $((8040 / 15 + 48)) $((3000 / 15 + 12)) click 1
sleep 1.5
import -frame -window "$dialog" "$OUT/settings.png"
kill "$pid"
wait "$pid" 2>/dev/null || true
INNER

TMPDIR_SHOTS=$tmp PROGRAM=$program OUT=$out \
  xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" bash "$tmp/shoot.sh"
echo "Screenshot: $out/settings.png"
