#!/bin/bash
# Runs a Windows program under Wine with the project's own prefix, always
# without the right to set the clock: the kernel refuses whatever Wine tries.
#   scripts/win32-wine.sh program.exe [arguments...]
#   scripts/win32-wine.sh --cmd wineserver -k      (any command in the same setting)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${TEMPIKON_WINEPREFIX:-$root/build-win/wine}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs in a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"

run() {
    exec capsh --drop=cap_sys_time -- -c 'exec "$@"' tempikon-wine "$@"
}

# One-time prefix set-up; the lock keeps parallel test runs from racing on it.
# Debian's Wine does not find its own fonts (Tahoma for dialogs, Marlett for
# the caption buttons) unless they are in the prefix's font folder; and the
# fonts the program asks for are missing: free fonts of the same metrics
# stand in for them.
ready="$WINEPREFIX/.tempikon-ready-3"
if [ ! -f "$ready" ]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$ready" ]; then
            capsh --drop=cap_sys_time -- -c '
                wine wineboot --init >/dev/null 2>&1 &&
                mkdir -p "$WINEPREFIX/drive_c/windows/Fonts" &&
                for f in /usr/share/wine/fonts/*.ttf; do
                    [ -e "$f" ] && ln -sf "$f" "$WINEPREFIX/drive_c/windows/Fonts/"
                done &&
                key="HKCU\Software\Wine\Fonts\Replacements" &&
                wine reg add "$key" /v "Courier New" /d "Liberation Mono" /f >/dev/null 2>&1 &&
                wine reg add "$key" /v "Comic Sans MS" /d "Comic Neue" /f >/dev/null 2>&1 &&
                wineserver -w' && touch "$ready"
        fi
    ) 9>"$WINEPREFIX.lock"
fi

if [ "${1:-}" = "--cmd" ]; then
    shift
    run "$@"
fi
run wine "$@"
