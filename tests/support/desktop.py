"""The built program on a real X server with a window manager (Xvfb and
openbox), as the desktop tests drive it: the X server and window manager
they start (and stop, whatever happens), the program under capsh without
CAP_SYS_TIME with the clock recorder preloaded, no route to a system bus and
settings of its own, and what the window manager shows."""
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from daytime_server import Failure, check

# ctest's SKIP_RETURN_CODE for these drivers.
SKIP = 77
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

    def __init__(self, tmp, screen="1024x768x24"):
        self.tmp = tmp
        self.screen = screen
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
                 self.screen], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=log,
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
    def __init__(self, desktop, opts, tmp, args, lang="C", extra_env=None):
        env = dict(desktop.env)
        runtime = os.path.join(tmp, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env.update({"XDG_CONFIG_HOME": os.path.join(tmp, "config"),
                    "XDG_STATE_HOME": os.path.join(tmp, "state"),
                    "XDG_RUNTIME_DIR": runtime,
                    "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/tempikon-e2e",
                    "LD_PRELOAD": opts.recorder,
                    "TEMPIKON_CLOCK_LOG": os.path.join(tmp, "clock.log"),
                    "LANG": lang})
        asan = os.environ.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
        env.update(extra_env or {})
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


def shown(desktop, name):
    return desktop.x(["xdotool", "search", "--onlyvisible", "--name",
                      Pattern(name)]).split()


# What every desktop driver needs.
DESKTOP_TOOLS = ["Xvfb", "openbox", "xdotool", "xprop", "capsh"]


def run_on_desktop(run, opts, prefix, tools=(), screen="1024x768x24", sets_clock=True):
    """Runs run(desktop, opts, tmp) on a desktop of its own in a temporary
    folder that goes with it; SKIP when a tool is missing, 1 on a failure, 0
    when it passed. A run that must not set the clock fails if it did."""
    for tool in DESKTOP_TOOLS + list(tools):
        if not shutil.which(tool):
            print("skipped: %s is missing" % tool)
            return SKIP
    # A time-out's SIGTERM ends the run through the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("FAIL: terminated"))
    with tempfile.TemporaryDirectory(prefix=prefix) as tmp:
        desktop = None
        try:
            desktop = Desktop(tmp, screen)
            run(desktop, opts, tmp)
            check(sets_clock or not os.path.exists(os.path.join(tmp, "clock.log")),
                  "the desktop run set no clock")
        except Failure as e:
            print("FAIL:", e)
            return 1
        finally:
            if desktop:
                desktop.close()
    print("ok")
    return 0
