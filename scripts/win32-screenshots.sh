#!/usr/bin/env bash
# Screenshots of the windows of tempikon.exe as Wine draws them, into
# docs/screenshots/win32-*.png: the main window in resident mode, the About
# box, the configuration dialog with its list and one check result, and the
# History window over a generated week.
#   scripts/win32-screenshots.sh [build-dir]     (after scripts/win32-test.sh)
# Wine runs in a prefix of its own with a virtual desktop, so that it draws
# the window frames itself as Windows does, and without CAP_SYS_TIME: the
# status line shows the system's refusal. The Daytime server (on an address
# of block win32, tests/support/test_addresses.txt) is listed first in the
# working folder's timeservers.dat.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
server=$(python3 tests/support/test_addresses.py win32 6)
build=$(cd "${1:-build-win}" && pwd)
out=$root/docs/screenshots
mkdir -p "$out"
export TEMPIKON_WINEPREFIX=$root/build-win/wine-shots
W=$root/scripts/win32-wine.sh
T=$build/tests/win32/wintool.exe

$W reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
$W reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
$W reg delete 'HKCU\Software\Tempikon' /f >/dev/null 2>&1 || true
key='HKCU\Software\Tempikon\Tempikon\CONFIG'
for pair in Server=$server Server2=time-a-b.nist.gov Offset=0 Offset2=0 Timeout=3 Interval=30; do
    $W reg add "$key" /v "${pair%%=*}" /d "${pair#*=}" /f >/dev/null 2>&1
done

# A week of settings for the History window, where the program keeps it
# (%LOCALAPPDATA%\Tempikon\history.csv of the prefix's user).
appdata=$("$W" --cmd winepath -u 'C:\users' 2>/dev/null | tr -d '\r')/$(id -un)/AppData/Local
mkdir -p "$appdata/Tempikon"
python3 -c 'import sys, time; sys.path.insert(0, "tests/e2e"); sys.path.insert(0, "tests/support")
from history_desktop_e2e import week_of_settings
sys.stdout.write(week_of_settings(time.time()))' >"$appdata/Tempikon/history.csv"

tmp=$(mktemp -d)
server_pid=""
# The prefix's desktop belongs to the X display it started on: it must not
# outlive this run's display. Ends the processes of this private prefix only.
stop_wine() { "$W" --cmd wineserver -k >/dev/null 2>&1 || true; }
cleanup() {
    stop_wine
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
{
    printf 'LO %-23sLocal test server\r\n' "$server"
    cat data/timeservers.dat
} >"$tmp/timeservers.dat"

python3 tests/support/daytime_server.py "$server" &
server_pid=$!
sleep 0.5

cat >"$tmp/shoot.sh" <<'INNER'
set -euo pipefail
# Output to files, never pipes: Wine's desktop process outlives the tools.
tool() { "$W" "$T" "$@" >"$TMP/tool.out" 2>/dev/null </dev/null; cat "$TMP/tool.out"; }
shot() {
    read -r x y w h < <(tool rect "$1" | tr -d "\r")
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$OUT/$2"
}
cd "$TMP"
"$W" "$EXE" /SERVER >/dev/null 2>&1 </dev/null &
tool wait "Tempikon 1.2" 30000 >/dev/null
sleep 2
shot "Tempikon 1.2" win32-main-window.png

tool menu "Tempikon 1.2" "?" >/dev/null
tool wait "About Tempikon" 30000 >/dev/null
sleep 1.5
shot "About Tempikon" win32-about-box.png
tool close "About Tempikon" >/dev/null
tool gone "About Tempikon" 30000 >/dev/null

tool menu "Tempikon 1.2" h >/dev/null
tool wait "Tempikon history" 30000 >/dev/null
sleep 1.5
shot "Tempikon history" win32-history.png
tool close "Tempikon history" >/dev/null
tool gone "Tempikon history" 30000 >/dev/null

tool menu "Tempikon 1.2" c >/dev/null
tool wait Configuration 30000 >/dev/null
sleep 1
tool select Configuration 0 >/dev/null
sleep 0.5
tool click Configuration "Check &server" >/dev/null
sleep 2
shot Configuration win32-settings.png
tool close Configuration >/dev/null
tool gone Configuration 30000 >/dev/null

tool close "Tempikon 1.2" >/dev/null
wait
INNER

# The registry commands above started a desktop on no display or another one.
stop_wine
W=$W T=$T EXE=$build/app/main/tempikon.exe OUT=$out TMP=$tmp \
    xvfb-run -a -s "-screen 0 800x600x24 -dpi 96 -nolisten tcp" bash ${TEMPIKON_SHOTS_TRACE:+-x} "$tmp/shoot.sh"
echo "Screenshots: $out/win32-main-window.png $out/win32-about-box.png $out/win32-settings.png"
