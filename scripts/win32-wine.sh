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

# Without the right to set the clock, like everything run here.
nocap() {
    capsh --drop=cap_sys_time -- -c 'exec "$@"' tempikon-wine "$@"
}

# One set-up step; its output goes to the log, shown when it fails. A failed
# step stops everything: a half-made prefix fails every test in odd ways.
setup_log="$WINEPREFIX.setup.log"
step() {
    local what=$1; shift
    if ! "$@" >>"$setup_log" 2>&1; then
        echo "win32-wine.sh: Wine prefix set-up failed at: $what" >&2
        tail -n 20 "$setup_log" >&2
        exit 1
    fi
}

# Debian's Wine does not find its own fonts (Tahoma for dialogs, Marlett for
# the caption buttons, from fonts-wine) unless they are in the prefix's font
# folder; and the fonts the program asks for are missing: free fonts of the
# same metrics stand in for them.
setup_prefix() {
    : >"$setup_log"
    step "wineboot --init" nocap wine wineboot --init
    local fonts="$WINEPREFIX/drive_c/windows/Fonts" f linked=0
    step "creating $fonts" mkdir -p "$fonts"
    for f in /usr/share/wine/fonts/*.ttf; do
        [ -e "$f" ] || continue
        step "linking $f" ln -sf "$f" "$fonts/"
        linked=$((linked + 1))
    done
    [ "$linked" -gt 0 ] ||
        echo "win32-wine.sh: no fonts in /usr/share/wine/fonts (fonts-wine); dialogs look different" >&2
    local key='HKCU\Software\Wine\Fonts\Replacements'
    step "font replacement Courier New" nocap wine reg add "$key" /v "Courier New" /d "Liberation Mono" /f
    step "font replacement Comic Sans MS" nocap wine reg add "$key" /v "Comic Sans MS" /d "Comic Neue" /f
    step "wineserver -w" nocap wineserver -w
    touch "$ready"
}

# Once per prefix; the lock keeps parallel test runs from racing on it.
ready="$WINEPREFIX/.tempikon-ready-3"
if [ ! -f "$ready" ]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        [ -f "$ready" ] || setup_prefix
    ) 9>"$WINEPREFIX.lock"
fi

if [ "${1:-}" = "--cmd" ]; then
    shift
    exec capsh --drop=cap_sys_time -- -c 'exec "$@"' tempikon-wine "$@"
fi
exec capsh --drop=cap_sys_time -- -c 'exec "$@"' tempikon-wine wine "$@"
