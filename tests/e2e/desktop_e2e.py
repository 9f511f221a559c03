#!/usr/bin/env python3
"""The built program on a real X server with a window manager (Xvfb and
openbox), driven by the keyboard as a user would, watched through what the
window manager sees (xprop, xdotool) and what the program stores.

usage: desktop_e2e.py CASE --program PATH --recorder PATH

The program runs under capsh without CAP_SYS_TIME, with the clock recorder
preloaded, no route to a system bus and settings of its own. Exit code 77
(skipped) when Xvfb, openbox, xdotool, xprop or xmessage is missing (or, for
the tray, trayer, and for the painted one-shot, ImageMagick's import).
"""
import argparse
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from daytime_server import DaytimeServer, Failure, check  # noqa: E402
from e2e import cases  # noqa: E402
from test_addresses import Block  # noqa: E402

SKIP = 77
# The Daytime servers: the one most cases are set up with, the two the popup
# case lists, and those of the painted one-shot and the tray.
SERVER, LISTED, LISTED_TOO = (Block("desktop_daytime").at(i) for i in range(3))
PAINTED_SERVER, TRAY_SERVER = (Block("desktop_painted").at(i) for i in range(2))
TITLE = "Tempikon 1.2"
# Generous: on a busy machine the X server and window manager start slowly;
# a wait that succeeds ends at once.
WAIT_S = 60
# The window manager, on a machine busy with a build, gets this long to name
# itself and as long again to manage a window; it is started again (up to
# WM_STARTS times) should it die or hang before.
WM_WAIT_S = 60
WM_STARTS = 3
PROBE_TITLE = "window manager probe"
# No X tool call may hang the test past its own time-out.
TOOL_TIMEOUT_S = 30


# Looked up here: a child of this threaded script must not load anything.
_prctl = ctypes.CDLL(None, use_errno=True).prctl
PR_SET_PDEATHSIG = 1


def die_with_parent():
    """Run in a child before exec: it gets SIGTERM when this script ends,
    however it ends (a time-out's kill included), so that no X server or
    window manager outlives the test."""
    _prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def Pattern(name):
    """xdotool's pattern for exactly this title; a non-ASCII letter matches
    any characters (xdotool matches bytes, not UTF-8 letters)."""
    return "^" + "".join(re.escape(c) if ord(c) < 128 else ".*" for c in name) + "$"


class Desktop:
    """Xvfb on a display number of its own choosing, and openbox on it. The
    constructor either returns both running or stops what it started."""

    def __init__(self, tmp):
        self.tmp = tmp
        self.xvfb = self.wm = self.tray = None
        try:
            self.start_xvfb()
            self.start_wm()
        except BaseException:
            self.close()
            raise

    def start_xvfb(self):
        read, write = os.pipe()
        with open(os.path.join(self.tmp, "xvfb.log"), "w") as log:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                 "1024x768x24"], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=log,
                preexec_fn=die_with_parent)
        os.close(write)
        # Xvfb writes the number once it accepts clients; nothing if it dies.
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            raise Failure("Xvfb did not start: " + self.log("xvfb.log"))
        self.display = ":" + number
        self.env = {"DISPLAY": self.display, "PATH": os.environ.get("PATH", ""),
                    "HOME": self.tmp}

    def start_wm(self):
        """openbox, managing windows: it has named itself on the root window
        (_NET_SUPPORTING_WM_CHECK pointing at a window that carries its
        name), and it manages a probe window. It names itself early in its
        start; on a busy machine it may take seconds more before it manages
        a window, longer than a one-shot run stays up."""
        for start in range(1, WM_STARTS + 1):
            with open(os.path.join(self.tmp, "openbox.log"), "w") as log:
                self.wm = subprocess.Popen(["openbox"], env=self.env, stdout=log,
                                           stderr=subprocess.STDOUT,
                                           preexec_fn=die_with_parent)
            try:
                if self.until(lambda: self.wm_ready() or self.wm.poll() is not None,
                              "openbox names itself", WM_WAIT_S) and self.wm.poll() is None \
                        and self.wm_manages():
                    return
                what = "ended with status %s" % self.wm.returncode
            except Failure as e:
                what = "hung (%s; %s)" % (e, self.process_state(self.wm.pid))
                self.wm.kill()
                self.wm.wait()
            print("openbox %s, start %d of %d: %s"
                  % (what, start, WM_STARTS, self.log("openbox.log")))
        raise Failure("openbox did not come up in %d starts" % WM_STARTS)

    @staticmethod
    def process_state(pid):
        """What a process is doing, for the report of a hang."""
        try:
            with open("/proc/%d/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
            with open("/proc/%d/wchan" % pid) as f:
                return "state %s in %s" % (state, f.read().strip() or "-")
        except OSError:
            return "no longer there"

    def wm_manages(self):
        """True once openbox manages a new window (an xmessage); False when
        openbox ended first."""
        probe = subprocess.Popen(["xmessage", "-title", PROBE_TITLE, "probe"], env=self.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 preexec_fn=die_with_parent)
        try:
            self.until(lambda: self.managed(PROBE_TITLE) or self.wm.poll() is not None,
                       "openbox manages a window (the probe %s)"
                       % ("runs" if probe.poll() is None else "ended"), WM_WAIT_S)
            return self.wm.poll() is None
        finally:
            probe.terminate()
            probe.wait(timeout=10)

    def managed(self, name):
        """A window with exactly this title that the window manager manages
        (mapped or iconic), or None."""
        for wid in self.x(["xdotool", "search", "--name", Pattern(name)]).split():
            if "WM_STATE(WM_STATE)" in self.x(["xprop", "-id", wid, "WM_STATE"]):
                return wid
        return None

    def wm_ready(self):
        m = re.search(r"window id # (0x[0-9a-f]+)",
                      self.x(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]))
        return bool(m) and "_NET_WM_NAME" in self.x(["xprop", "-id", m.group(1),
                                                      "_NET_WM_NAME"])

    def log(self, name):
        with open(os.path.join(self.tmp, name), errors="replace") as f:
            return f.read().strip() or "(no output)"

    def x(self, cmd):
        try:
            return subprocess.run(cmd, env=self.env, capture_output=True, text=True,
                                  timeout=TOOL_TIMEOUT_S).stdout
        except subprocess.TimeoutExpired:
            return ""

    def until(self, test, what, wait_s=WAIT_S):
        deadline = time.monotonic() + wait_s
        while time.monotonic() < deadline:
            result = test()
            if result:
                return result
            time.sleep(0.1)
        raise Failure("timed out waiting until " + what)

    def menus(self):
        """The program's visible windows, popup menus among them."""
        return set(self.x(["xdotool", "search", "--onlyvisible", "--class", "tempikon"]).split())

    def menu_opened(self, before, wait_s=WAIT_S):
        """Waits for a popup of the program's to show over the windows in
        before; returns it."""
        return self.until(lambda: next(iter(self.menus() - before), None), "a menu shows",
                          wait_s)

    def tray_menu(self, icon):
        """Opens the icon's menu with a right click. A click that comes while
        the tray still handles the last menu's closing is lost, so the click
        is repeated until the menu shows."""
        before = self.menus()
        deadline = time.monotonic() + WAIT_S
        while True:
            self.x(["xdotool", "mousemove", "--window", icon, "10", "10", "click", "3"])
            try:
                return self.menu_opened(before, 5)
            except Failure:
                if time.monotonic() > deadline:
                    raise

    def window(self, name):
        """The top-level window with exactly this title (mapped or iconic)."""
        return self.until(lambda: self.managed(name), "a window named " + repr(name))

    def gone(self, name):
        def none_left():
            for wid in self.x(["xdotool", "search", "--onlyvisible", "--name",
                               Pattern(name)]).split():
                return False
            return True
        return self.until(none_left, "no window named %r is shown" % name)

    def state(self, wid):
        m = re.search(r"window state: (\w+)", self.x(["xprop", "-id", wid, "WM_STATE"]))
        return m.group(1) if m else None

    def keys(self, wid, *keys):
        # Activating again would close an open popup menu.
        if self.x(["xdotool", "getactivewindow"]).strip() != wid:
            self.x(["xdotool", "windowactivate", "--sync", wid])
        for k in keys:
            self.x(["xdotool", "key", "--clearmodifiers", k])
            time.sleep(0.15)

    def start_tray(self):
        """A notification area (trayer, an XEmbed tray host) at the bottom right."""
        self.tray = subprocess.Popen(
            ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel",
             "--width", "120", "--height", "32", "--SetDockType", "true"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_parent)
        # Its panel appears once it holds the tray selection.
        self.until(lambda: self.x(["xdotool", "search", "--classname", "panel"]).split(),
                   "the tray host runs")

    def tray_icon(self):
        """The program's icon window inside the tray host, or None."""
        for host in self.x(["xdotool", "search", "--class", "trayer"]).split():
            for line in self.x(["xwininfo", "-tree", "-id", host]).splitlines():
                m = re.match(r'\s*(0x[0-9a-f]+) .*\("tempikon" "Tempikon"\)', line)
                if m:
                    return m.group(1)
        return None

    def pixels(self, wid):
        """The window's content as (width, height, RGB bytes)."""
        try:
            ppm = subprocess.run(["import", "-window", wid, "-depth", "8", "ppm:-"],
                                 env=self.env, capture_output=True, timeout=TOOL_TIMEOUT_S).stdout
        except subprocess.TimeoutExpired:
            ppm = b""
        m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        if not m:
            return 0, 0, b""
        return int(m.group(1)), int(m.group(2)), ppm[m.end():]

    def close(self):
        # Only what this desktop started, by its process; each one is waited
        # for (and killed if it will not end) whatever the others do.
        for p in (self.tray, self.wm, self.xvfb):
            if p is None:
                continue
            if p.poll() is None:
                p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


class Program:
    def __init__(self, desktop, opts, tmp, args, lang="C"):
        env = dict(desktop.env)
        runtime = os.path.join(tmp, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env.update({"XDG_CONFIG_HOME": os.path.join(tmp, "config"),
                    "XDG_RUNTIME_DIR": runtime,
                    "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/tempikon-e2e",
                    "LD_PRELOAD": opts.recorder,
                    "TEMPIKON_CLOCK_LOG": os.path.join(tmp, "clock.log"),
                    "LANG": lang})
        asan = os.environ.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
        # No browser, no mail program, no xdg-open: nothing can open a link.
        env["PATH"] = "/nonexistent"
        cmd = [shutil.which("capsh"), "--drop=cap_sys_time", "--", "-c", 'exec "$@"',
               "tempikon", opts.program] + args
        self.started_at = time.monotonic()
        self.proc = subprocess.Popen(cmd, env=env, cwd=tmp, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True,
                                     preexec_fn=die_with_parent)

    def end(self):
        # Only the process this test started, by its id.
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            out, _ = self.proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, _ = self.proc.communicate()
        if out.strip():
            print(out.strip())


def seed(tmp, lines):
    folder = os.path.join(tmp, "config", "Tempikon")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Tempikon.conf"), "w") as f:
        f.write("[CONFIG]\n" + "".join(l + "\n" for l in lines))


def stored(tmp):
    with open(os.path.join(tmp, "config", "Tempikon", "Tempikon.conf")) as f:
        return dict(l.strip().split("=", 1) for l in f if "=" in l)


def case_minimised(desktop, opts, tmp):
    # The first setting of /SERVER asks the server before the window shows.
    server = DaytimeServer(SERVER)
    seed(tmp, [f"Server={SERVER}", "Timeout=5"])
    try:
        for args in (["/MIN"], ["/minimised"], ["/SERVER", "/MIN"]):
            prog = Program(desktop, opts, tmp, args)
            try:
                wid = desktop.window(TITLE)
                check(desktop.state(wid) == "Iconic",
                      "%s: the window manager sees %s" % (args, desktop.state(wid)))
            finally:
                prog.end()
        prog = Program(desktop, opts, tmp, [])
        try:
            wid = desktop.window(TITLE)
            check(desktop.state(wid) == "Normal", "no switch: shown normal")
        finally:
            prog.end()
    finally:
        server.close()


def case_escape(desktop, opts, tmp):
    seed(tmp, [f"Server={SERVER}"])
    prog = Program(desktop, opts, tmp, [])
    try:
        main = desktop.window(TITLE)
        for menu_key, caption in (("alt+c", "Configuration"), ("alt+question", "About Tempikon")):
            desktop.keys(main, menu_key)
            box = desktop.window(caption)
            desktop.keys(box, "Escape")
            desktop.gone(caption)
            check(prog.proc.poll() is None, "the program runs on after Escape in " + caption)
        # Tab reaches each link of the About box, Enter and Space open it;
        # with nothing to open it a message box (titled like the main
        # window) says so, and Escape takes it away again.
        for keys in (["Tab", "Return"], ["Tab", "Tab", "space"]):
            desktop.keys(main, "alt+question")
            box = desktop.window("About Tempikon")
            desktop.keys(box, *keys)
            desktop.until(lambda: len(shown(desktop, TITLE)) == 2, "a message box over " + str(keys))
            message = [w for w in shown(desktop, TITLE) if w != main][0]
            desktop.keys(message, "Escape")
            desktop.until(lambda: len(shown(desktop, TITLE)) == 1, "the message box closed")
            desktop.keys(box, "Escape")
            desktop.gone("About Tempikon")
    finally:
        prog.end()


def shown(desktop, name):
    return desktop.x(["xdotool", "search", "--onlyvisible", "--name",
                      Pattern(name)]).split()


def case_popup(desktop, opts, tmp):
    # Lines end in LF only, as a Linux editor writes them.
    with open(os.path.join(tmp, "timeservers.dat"), "w") as f:
        f.write(f"US {LISTED} two\nUS {LISTED_TOO} three\n")
    servers = [DaytimeServer(LISTED), DaytimeServer(LISTED_TOO)]
    seed(tmp, ["Server=old.example", "Server2=oldbackup.example", "Timeout=5"])
    prog = None
    try:
        prog = Program(desktop, opts, tmp, [])
        main = desktop.window(TITLE)
        desktop.keys(main, "alt+c")
        dialog = desktop.window("Configuration")
        # The list label's accelerator reaches the list: End selects its
        # last entry, Home its first. The menu opens from either key; its
        # mnemonic b takes "backup", and Return alone takes "primary", the
        # item highlighted when the menu opens. Each adoption asks its
        # server first.
        windows = desktop.menus()
        desktop.keys(dialog, "alt+l", "End", "Menu")
        # The menu is up: the keys go to it, not to the list.
        desktop.menu_opened(windows)
        desktop.keys(dialog, "b")
        desktop.until(lambda: servers[1].connections == 1 and desktop.menus() == windows,
                      "the backup asked and the menu gone")
        desktop.keys(dialog, "Home", "shift+F10")
        desktop.menu_opened(windows)
        desktop.keys(dialog, "Return")
        desktop.until(lambda: servers[0].connections == 1 and desktop.menus() == windows,
                      "the primary asked and the menu gone")
        desktop.keys(dialog, "alt+o")  # OK
        desktop.gone("Configuration")
        values = stored(tmp)
        check(values.get("Server") == LISTED and values.get("Server2") == LISTED_TOO,
              "adopted from the keyboard: %s" % values)
    finally:
        if prog:
            prog.end()
        for s in servers:
            s.close()


def autostart_entry(tmp):
    path = os.path.join(tmp, "config", "autostart", "tempikon-autostart.desktop")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return dict(l.rstrip("\n").split("=", 1) for l in f if "=" in l)


def case_autostart(desktop, opts, tmp):
    # The box writes the entry under the test's XDG_CONFIG_HOME on OK only,
    # shows it ticked when the dialog opens again, and removes it.
    seed(tmp, [f"Server={SERVER}"])
    prog = Program(desktop, opts, tmp, [])
    try:
        main = desktop.window(TITLE)

        def dialog_with(*keys):
            desktop.keys(main, "alt+c")
            dialog = desktop.window("Configuration")
            # Keys go to the dialog once it has the focus.
            desktop.x(["xdotool", "windowactivate", "--sync", dialog])
            desktop.until(lambda: desktop.x(["xdotool", "getactivewindow"]).strip() == dialog,
                          "the dialog has the focus")
            desktop.keys(dialog, *keys)
            desktop.gone("Configuration")

        dialog_with("alt+d", "Escape")
        check(autostart_entry(tmp) is None, "Cancel wrote no autostart entry")

        dialog_with("alt+d", "Return")
        entry = autostart_entry(tmp)
        check(entry is not None, "OK wrote the autostart entry")
        words = entry.get("Exec", "").split()
        check(words[:1] == [opts.program] and "/SERVER" in words and "/MIN" in words,
              "the entry starts this program resident and minimised: %r" % entry.get("Exec"))
        check(entry.get("Type") == "Application" and entry.get("Hidden", "false") != "true",
              "a usable entry: %s" % entry)

        # Ticked when the dialog opens: OK alone keeps it.
        dialog_with("Return")
        check(autostart_entry(tmp) == entry, "OK with the box left alone kept the entry")

        dialog_with("alt+d", "Return")
        check(autostart_entry(tmp) is None, "unticked and OK removed the entry")
        check(os.path.isdir(os.path.join(tmp, "config", "autostart")),
              "the entry lives in XDG_CONFIG_HOME/autostart")
    finally:
        prog.end()


def case_german(desktop, opts, tmp):
    # A German locale: the windows carry German captions, the menu German
    # mnemonics; a locale without a translation reads as before.
    seed(tmp, [f"Server={SERVER}"])
    for lang, keys in (("de_DE.UTF-8", [("alt+k", "Konfiguration"), ("alt+question", "Über Tempikon")]),
                       ("fr_FR.UTF-8", [("alt+c", "Configuration"), ("alt+question", "About Tempikon")])):
        prog = Program(desktop, opts, tmp, [], lang=lang)
        try:
            main = desktop.window(TITLE)
            for key, caption in keys:
                desktop.keys(main, key)
                box = desktop.window(caption)
                desktop.keys(box, "Escape")
                desktop.gone(caption)
        finally:
            prog.end()


# The main window's background, light yellow.
BACKGROUND = (0xFF, 0xFF, 0xC0)


def painted(width, height, rgb):
    """Painted as designed: mostly the background, with dark text on it. A
    window that was never drawn is one flat colour (black or white)."""
    count = width * height
    if count == 0 or len(rgb) < 3 * count:
        return False
    background = dark = 0
    for i in range(0, 3 * count, 3):
        r, g, b = rgb[i], rgb[i + 1], rgb[i + 2]
        if (r, g, b) == BACKGROUND:
            background += 1
        elif r + g + b < 200:
            dark += 1
    return background > count // 3 and dark > 50


def case_runonce_painted(desktop, opts, tmp):
    # German first showed the fault most often; every run must be drawn at
    # 1 s of its five and again late in the run. The window is seen some time
    # after it appears (seconds on a busy machine), so the late look comes 4 s
    # after it was seen but no later than 4 s after the start: at least a
    # second before the run ends, the capture's own time included.
    server = DaytimeServer(PAINTED_SERVER, time.strftime("%a %b %d %H:%M:%S %Y\r\n").encode())
    seed(tmp, [f"Server={PAINTED_SERVER}", "Timeout=5"])
    try:
        for run in range(20):
            prog = Program(desktop, opts, tmp, ["/RUNONCE"], lang="de_DE.UTF-8")
            try:
                wid = desktop.window(TITLE)
                shown_at = time.monotonic()
                for at in (shown_at + 1, min(shown_at + 4, prog.started_at + 4)):
                    time.sleep(max(0, at - time.monotonic()))
                    when = "%.1f s after it was seen" % (time.monotonic() - shown_at)
                    check(prog.proc.poll() is None, "run %d: still shown %s" % (run, when))
                    width, height, rgb = desktop.pixels(wid)
                    check(painted(width, height, rgb),
                          "run %d: painted %s (captured %dx%d, %s)"
                          % (run, when, width, height,
                             "running" if prog.proc.poll() is None else "ended"))
                prog.proc.wait(timeout=WAIT_S)
                check(prog.proc.returncode == 0, "run %d: exit status 0" % run)
            finally:
                prog.end()
    finally:
        server.close()


def case_tray(desktop, opts, tmp):
    desktop.start_tray()
    server = DaytimeServer(TRAY_SERVER, time.strftime("%a %b %d %H:%M:%S %Y\r\n").encode())
    seed(tmp, [f"Server={TRAY_SERVER}", "Timeout=5"])
    log = os.path.join(tmp, "clock.log")
    prog = None
    try:
        prog = Program(desktop, opts, tmp, ["/SERVER", "/MIN"])
        icon = desktop.until(desktop.tray_icon, "an icon in the tray")
        desktop.until(lambda: settings_recorded(log) == 1, "the first setting")
        # In the tray only: no window on the screen or in the taskbar, for as
        # long as a user would take to look (no event marks "never shown").
        time.sleep(1)
        check(shown(desktop, TITLE) == [], "no window shown beside the icon")
        # The icon's menu: "Set time" makes a setting (recorded, never made).
        windows = desktop.menus()
        desktop.tray_menu(icon)
        desktop.x(["xdotool", "key", "s"])
        desktop.until(lambda: settings_recorded(log) == 2, "a setting from the tray menu")
        # "Show window" brings the window up normal; minimising hides it again.
        desktop.until(lambda: desktop.menus() == windows, "the menu gone")
        desktop.tray_menu(icon)
        desktop.x(["xdotool", "key", "w"])
        main = desktop.until(lambda: (shown(desktop, TITLE) or [None])[0], "the window shown")
        desktop.until(lambda: desktop.state(main) == "Normal", "the window shown normal")
        desktop.x(["xdotool", "windowminimize", main])
        desktop.until(lambda: shown(desktop, TITLE) == [] and desktop.state(main) != "Iconic",
                      "the minimised window off the screen and the taskbar")
        check(prog.proc.poll() is None, "the program runs on in the tray")
        # "Quit" ends the program.
        desktop.tray_menu(icon)
        desktop.x(["xdotool", "key", "q"])
        prog.proc.wait(timeout=WAIT_S)
        check(prog.proc.returncode == 0, "Quit ends the program")
        check(desktop.tray_icon() is None, "the icon is gone")
    finally:
        if prog:
            prog.end()
        server.close()


def settings_recorded(log):
    if not os.path.exists(log):
        return 0
    with open(log) as f:
        return sum(1 for line in f if line.strip())


CASES = cases(globals())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--recorder", required=True)
    opts = parser.parse_args()
    opts.program = os.path.abspath(opts.program)
    opts.recorder = os.path.abspath(opts.recorder)
    tools = ["Xvfb", "openbox", "xdotool", "xprop", "xmessage", "capsh"]
    tools += {"tray": ["trayer", "xwininfo"], "runonce_painted": ["import"]}.get(opts.case, [])
    for tool in tools:
        if not shutil.which(tool):
            print("skipped: %s is missing" % tool)
            return SKIP
    # A time-out's SIGTERM ends the run through the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("FAIL: terminated"))
    with tempfile.TemporaryDirectory(prefix="tempikon-desktop-") as tmp:
        desktop = None
        try:
            desktop = Desktop(tmp)
            CASES[opts.case](desktop, opts, tmp)
            log = os.path.join(tmp, "clock.log")
            check(not os.path.exists(log) or
                  opts.case in ("minimised", "runonce_painted", "tray"),
                  "no clock was set outside the cases that set it")
        except Failure as e:
            print("FAIL:", e)
            return 1
        finally:
            if desktop:
                desktop.close()
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
