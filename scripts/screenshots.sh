#!/usr/bin/env bash
# Screenshots of the main window and the About box, taken from the real
# program on a virtual X display, written to docs/screenshots/.
#   scripts/screenshots.sh [build-dir]
# The program runs without CAP_SYS_TIME and with the clock recorder
# preloaded, with settings of its own and a Daytime server (block screenshots
# of tests/support/test_addresses.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
server=$(python3 tests/support/test_addresses.py screenshots 0)
build=${1:-build/screenshots}
out=$root/docs/screenshots

scripts/deps.sh test
# xdotool drives the menu; twm draws the title bars.
for tool in xdotool twm; do
  command -v $tool >/dev/null || {
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $tool >/dev/null
  }
done
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTEMPIKON_BENCH=OFF >/dev/null
cmake --build "$build" --target tempikon tempikon_clock_recorder
program=$(find "$build" -type f -name tempikon -perm -u+x | head -n1)
recorder=$(find "$build" -name 'libtempikon_clock_recorder.so' | head -n1)

tmp=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir -p "$tmp/config/Tempikon" "$out"
printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\nBorderWidth 1\nNoHighlight\nDecorateTransients\n' >"$tmp/twmrc"
printf '[CONFIG]\nServer=%s\nInterval=30\nTimeout=5\n' "$server" >"$tmp/config/Tempikon/Tempikon.conf"

# A Daytime server that tells the current time.
python3 - "$server" <<'PY' &
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind((sys.argv[1], 13))
s.listen(4)
while True:
    c, _ = s.accept()
    c.sendall(time.strftime("%a %b %d %H:%M:%S %Y\r\n").encode())
    c.close()
PY
server_pid=$!
sleep 0.5

cat >"$tmp/shoot.sh" <<'INNER'
set -euo pipefail
export XDG_CONFIG_HOME=$TMPDIR_SHOTS/config XDG_STATE_HOME=$TMPDIR_SHOTS/state QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/tempikon-shots
export LD_PRELOAD=$RECORDER TEMPIKON_CLOCK_LOG=$TMPDIR_SHOTS/clock.log
twm -f "$TMPDIR_SHOTS/twmrc" >/dev/null 2>&1 &
sleep 0.5
capsh --drop=cap_sys_time -- -c 'exec "$@"' tempikon "$PROGRAM" /SERVER &
pid=$!
main=$(xdotool search --sync --onlyvisible --name '^Tempikon 1\.2$' | head -n1)
sleep 1.5
import -frame -window "$main" "$OUT/main-window.png"

# The "&?" menu: the last item of the menu bar, at its right end.
eval "$(xdotool getwindowgeometry --shell "$main")"
menu_x=0
for x in $(seq $((WIDTH - 1)) -1 0); do
  # The first non-background column from the right on the menu bar's line.
  colour=$(import -window "$main" -crop "1x1+$x+10" -depth 8 txt:- | tail -n1 | awk '{print $3}')
  if [ "$colour" != "$(import -window "$main" -crop "1x1+$((WIDTH - 1))+10" -depth 8 txt:- | tail -n1 | awk '{print $3}')" ]; then
    menu_x=$x
    break
  fi
done
xdotool mousemove --window "$main" $((menu_x - 3)) 10 click 1
about=$(xdotool search --sync --onlyvisible --name '^About Tempikon$' | head -n1)
sleep 1.5
import -frame -window "$about" "$OUT/about-box.png"
kill "$pid"
wait "$pid" 2>/dev/null || true
INNER

TMPDIR_SHOTS=$tmp PROGRAM=$program RECORDER=$recorder OUT=$out \
  xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" bash "$tmp/shoot.sh"
echo "Screenshots: $out/main-window.png $out/about-box.png"
