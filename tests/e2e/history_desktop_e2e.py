#!/usr/bin/env python3
"""The History window of the built program on Xvfb with openbox (and trayer
for the tray), with a week of settings in its history file.

usage: history_desktop_e2e.py CASE --program PATH --recorder PATH [--screenshot PNG]

  menu_and_tray  the window opens from the tray icon's menu and from the
                 main window's menu, and shows the drift of the week
  screenshot     the window over the week, saved as PNG (for the README)

A Daytime server in block history (its third address) serves the resident
program. Exit code 77 when a tool is missing. The screenshot is not a case
of the tests, only run by hand.
"""
import argparse
import os
import random
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from daytime_server import DaytimeServer, check  # noqa: E402
from desktop import TITLE, Program, run_on_desktop, seed, shown  # noqa: E402
from e2e import cases  # noqa: E402
from test_addresses import Block  # noqa: E402

HISTORY_TITLE = "Tempikon history"
# The first two addresses are history_e2e.py's.
SERVER, SCREENSHOT_SERVER = Block("history").at(2), Block("history").at(3)
HEADER = "time_utc,server,protocol,offset_s,round_trip_s,correction,outcome,reason\n"


def week_of_settings(now):
    """A week of settings every 45 minutes of a clock that gains 14 ppm
    (1.2 s a day): each finds it about 38 ms ahead and slews it back; the
    server is out of reach on two evenings, and once the computer was off
    overnight, after which the clock is stepped."""
    rng = random.Random(30)
    lines = [HEADER]
    gap = 45 * 60
    t = now - 7 * 86400
    last_corrected = t
    while t < now - 600:
        hour = time.gmtime(t).tm_hour
        day = int((now - t) // 86400)
        off_overnight = day == 4 and (hour >= 22 or hour < 7)
        if off_overnight:
            t += gap
            continue
        stamp = time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(t)) + ".%06dZ" % rng.randrange(10**6)
        if day in (2, 5) and 18 <= hour < 21:
            lines.append(f"{stamp},ntp.example.org,NTP,,,none,failed,no answer within 3 s\n")
        else:
            offset = -14e-6 * (t - last_corrected) + rng.gauss(0, 0.002)
            how = "slew" if abs(offset) < 0.4 else "step"
            rtt = 0.018 + rng.random() * 0.01
            lines.append(f"{stamp},ntp.example.org,NTP,{offset:.6f},{rtt:.6f},{how},set,\n")
            last_corrected = t
        t += gap + rng.randrange(-60, 60)
    return "".join(lines)


def write_history(tmp):
    folder = os.path.join(tmp, "state", "Tempikon")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "history.csv"), "w") as f:
        f.write(week_of_settings(time.time()))


def close_window(desktop, wid, name):
    # The window manager's close: the program is asked, as by the close box.
    desktop.keys(wid, "alt+F4")
    desktop.gone(name)


def case_menu_and_tray(desktop, opts, tmp):
    desktop.start_tray()
    write_history(tmp)
    server = DaytimeServer(SERVER, time.strftime("%a %b %d %H:%M:%S %Y\r\n").encode())
    seed(tmp, [f"Server={SERVER}", "Timeout=5"])
    prog = Program(desktop, opts, tmp, ["/SERVER", "/MIN"])
    try:
        icon = desktop.until(desktop.tray_icon, "an icon in the tray")
        # The tray menu's "History".
        desktop.x(["xdotool", "mousemove", "--window", icon, "10", "10", "click", "3"])
        time.sleep(1)
        desktop.x(["xdotool", "key", "h"])
        history = desktop.until(lambda: (shown(desktop, HISTORY_TITLE) or [None])[0],
                                "the History window from the tray")
        check(shown(desktop, TITLE) == [], "the main window stays in the tray")
        close_window(desktop, history, HISTORY_TITLE)
        check(prog.proc.poll() is None, "closing the History window leaves the program running")

        # The main window's menu: Alt+H.
        desktop.x(["xdotool", "mousemove", "--window", icon, "10", "10", "click", "3"])
        time.sleep(1)
        desktop.x(["xdotool", "key", "w"])
        main = desktop.until(lambda: (shown(desktop, TITLE) or [None])[0], "the main window")
        desktop.keys(main, "alt+h")
        history = desktop.until(lambda: (shown(desktop, HISTORY_TITLE) or [None])[0],
                                "the History window from the menu")
        close_window(desktop, history, HISTORY_TITLE)
        # The resident setting at start was recorded after the week.
        with open(os.path.join(tmp, "state", "Tempikon", "history.csv")) as f:
            last = f.read().splitlines()[-1]
        check(f",{SERVER},Daytime," in last and ",set," in last,
              f"the setting at start is the newest line: {last}")
    finally:
        prog.end()
        server.close()


def screenshot(desktop, opts, tmp):
    write_history(tmp)
    seed(tmp, [f"Server={SCREENSHOT_SERVER}", "Timeout=5"])
    prog = Program(desktop, opts, tmp, [], lang=opts.lang)
    try:
        german = opts.lang.startswith("de")
        main = desktop.window(TITLE)
        desktop.keys(main, "alt+v" if german else "alt+h")
        title = "Tempikon-Verlauf" if german else HISTORY_TITLE
        history = desktop.until(lambda: (shown(desktop, title) or [None])[0],
                                "the History window")
        # Point at a setting of the day before yesterday, so that one
        # record shows in full.
        desktop.x(["xdotool", "mousemove", "--window", history, "330", "150"])
        time.sleep(1.5)
        if opts.screenshot:
            desktop.x(["import", "-frame", "-window", history, opts.screenshot])
            check(os.path.getsize(opts.screenshot) > 0, "a screenshot was written")
    finally:
        prog.end()


# The test's cases, and the screenshot for the README.
RUNS = dict(cases(globals()), screenshot=screenshot)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(RUNS))
    parser.add_argument("--program", required=True)
    parser.add_argument("--recorder", required=True)
    parser.add_argument("--screenshot")
    parser.add_argument("--lang", default="C")
    opts = parser.parse_args()
    opts.program = os.path.abspath(opts.program)
    opts.recorder = os.path.abspath(opts.recorder)
    if opts.screenshot:
        opts.screenshot = os.path.abspath(opts.screenshot)
    return run_on_desktop(RUNS[opts.case], opts, "tempikon-history-desktop-",
                          ["trayer", "xwininfo", "import"])

if __name__ == "__main__":
    sys.exit(main())
