#!/usr/bin/env bash
# Screenshots of the configuration dialog with its server list, one good
# check and one failed check whose reason the status line names, taken from
# the real program on a virtual X display, in English and German:
# docs/screenshots/settings.png and settings-de.png.
#   scripts/screenshot-dialog.sh [build-dir]
# The program runs without CAP_SYS_TIME and with the tests' clock recorder
# preloaded, with settings of its own, in a working folder whose
# timeservers.dat starts with a Daytime server on 127.0.0.91 and a closed
# port on 127.0.0.92; only these two are asked.
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
# An existing build is used as it is configured.
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTEMPIKON_BENCH=OFF >/dev/null
cmake --build "$build" --target tempikon tempikon_clock_recorder tempikon_lrelease
program=$(realpath "$(find "$build" -type f -name tempikon -perm -u+x | head -n1)")
recorder=$(realpath "$(find "$build" -name 'libtempikon_clock_recorder.so' | head -n1)")

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
  printf 'LO 127.0.0.92             Local closed port\r\n'
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
  # The list by its label's accelerator, its first entry, "Check server";
  # then the second entry, whose port is closed.
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
