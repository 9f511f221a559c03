#!/usr/bin/env python3
"""Screenshots for the README, taken from the real program under Xvfb with
openbox: the main window under a dark theme, the configuration dialog
in German, and resident mode in a tray (trayer): the main window with its
last and next setting and the tray icon's menu, in English and German.
Written to docs/screenshots/.

usage: scripts/screenshots-desktop.py [build-dir]   (default build/test)

The program runs as in the desktop tests (tests/e2e/desktop_e2e.py, tests/support/desktop.py): without
CAP_SYS_TIME, with the clock recorder preloaded, settings of its own and a
Daytime server (block screenshots_desktop of tests/support/test_addresses.txt)."""
import os
import subprocess
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "support"))
import desktop as d  # noqa: E402
from daytime_server import DaytimeServer  # noqa: E402
from test_addresses import Block  # noqa: E402

SERVER = Block("screenshots_desktop").at(0)


class Opts:
    pass


def shoot(desktop, wid, path):
    time.sleep(1)
    subprocess.run(["import", "-frame", "-window", wid, path], env=desktop.env, check=True)


def shoot_tray_menu(desktop, path):
    icon = desktop.until(desktop.tray_icon, "an icon in the tray")
    time.sleep(1)
    desktop.x(["xdotool", "mousemove", "--window", icon, "10", "10", "click", "3"])
    time.sleep(1)
    # The bottom right corner of the screen: the tray and the menu above it.
    subprocess.run(["import", "-window", "root", "-crop", "200x130+824+638", "+repage", path],
                   env=desktop.env, check=True)
    desktop.x(["xdotool", "key", "Escape"])


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/test")
    out = os.path.join(root, "docs", "screenshots")
    os.makedirs(out, exist_ok=True)
    opts = Opts()
    opts.program = os.path.join(build, "app", "main", "tempikon")
    recorder = os.path.join(build, "tests", "e2e", "libtempikon_clock_recorder.so")
    dark = os.path.join(build, "tests", "e2e", "libtempikon_dark_theme.so")
    server = DaytimeServer(SERVER, time.strftime("%a %b %d %H:%M:%S %Y\r\n").encode())
    with tempfile.TemporaryDirectory(prefix="tempikon-shots-") as tmp:
        with open(os.path.join(tmp, "timeservers.dat"), "w") as f:
            f.write("DE ptbtime1.ptb.de        Braunschweig\n"
                    "US time-a-g.nist.gov      Gaithersburg, Maryland\n"
                    "CH ntp.metas.ch           Bern\n")
        d.seed(tmp, [f"Server={SERVER}", "Server2=time-a-g.nist.gov", "Timeout=5"])
        desktop = d.Desktop(tmp)
        try:
            opts.recorder = recorder + ":" + dark
            prog = d.Program(desktop, opts, tmp, ["/SERVER"])
            try:
                shoot(desktop, desktop.window(d.TITLE), os.path.join(out, "main-window-dark.png"))
            finally:
                prog.end()
            opts.recorder = recorder
            desktop.start_tray()
            for lang, suffix in (("C", ""), ("de_DE.UTF-8", "-de")):
                prog = d.Program(desktop, opts, tmp, ["/SERVER"], lang=lang)
                try:
                    shoot(desktop, desktop.window(d.TITLE),
                          os.path.join(out, "main-window-resident%s.png" % suffix))
                    shoot_tray_menu(desktop, os.path.join(out, "tray-menu%s.png" % suffix))
                finally:
                    prog.end()
            prog = d.Program(desktop, opts, tmp, [], lang="de_DE.UTF-8")
            try:
                main_window = desktop.window(d.TITLE)
                desktop.keys(main_window, "alt+k")
                shoot(desktop, desktop.window("Konfiguration"),
                      os.path.join(out, "settings-de.png"))
            finally:
                prog.end()
        finally:
            desktop.close()
            server.close()
    print("written to", out)


if __name__ == "__main__":
    main()
