#!/usr/bin/env python3
"""The real program in resident mode for hours of fast-forwarded schedule,
under a leak checker.

usage: resident_run.py --program P --recorder R --fast-clock F
                       --checker lsan|valgrind|none [--seconds N] [--factor K]
                       [--close-stdout]

The fast-clock library makes the program's monotonic time run K times faster
(its minute timer then fires every 60/K seconds); after N real seconds the
program gets SIGTERM and the library runs the leak check in the middle of the
run, with every window, timer and socket alive, and ends the process: exit 0
means no leak. The program runs under capsh without CAP_SYS_TIME with the
clock recorder preloaded, without a display, with settings of its own.

With --close-stdout the reader of the program's standard output goes away
after the first outcome line (as when a log reader ends): the program must go
on setting the clock. With --checker none it is killed at the end instead.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from daytime_server import DaytimeServer  # noqa: E402
from test_addresses import Block  # noqa: E402

REPLY = b"Mon Dec 07 2026 14:03:27-UTC\r\n"
SKIP = 77


def records(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [line.split() for line in f if line.strip()]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--recorder", required=True)
    ap.add_argument("--fast-clock", required=True)
    ap.add_argument("--checker", choices=["lsan", "valgrind", "none"], required=True)
    ap.add_argument("--close-stdout", action="store_true")
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--factor", type=float, default=120)
    ap.add_argument("--suppressions", default="")
    ap.add_argument("--host", default=Block("resident").at(0))
    opts = ap.parse_args()

    command = [opts.program, "/SERVER", "/MIN"]
    if opts.checker == "valgrind":
        valgrind = subprocess.run(["sh", "-c", "command -v valgrind"], capture_output=True,
                                  text=True).stdout.strip()
        if not valgrind:
            print("SKIP: valgrind is not installed")
            return SKIP
        command = [valgrind, "--quiet", "--leak-check=no", "--show-leak-kinds=definite",
                   "--errors-for-leak-kinds=definite", "--num-callers=30"]
        if opts.suppressions:
            command.append("--suppressions=" + opts.suppressions)
        command += [opts.program, "/SERVER", "/MIN"]

    with tempfile.TemporaryDirectory(prefix="tempikon-resident-") as tmp:
        folder = os.path.join(tmp, "Tempikon")
        os.makedirs(folder)
        with open(os.path.join(folder, "Tempikon.conf"), "w") as f:
            # A generous time-out: it runs fast too, and under valgrind on a
            # busy machine a reply can take more than half a real second.
            f.write("[CONFIG]\nServer=%s\nInterval=1\nTimeout=300\n" % opts.host)
        log = os.path.join(tmp, "clock.log")
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update({
            "XDG_CONFIG_HOME": tmp,
            "XDG_STATE_HOME": tmp,
            "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/tempikon-hardening",
            "LD_PRELOAD": opts.recorder + ":" + opts.fast_clock,
            "TEMPIKON_CLOCK_LOG": log,
            "TEMPIKON_FAST_CLOCK": str(opts.factor),
        })
        asan = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + \
            "verify_asan_link_order=0:detect_leaks=1"
        if opts.suppressions and opts.checker == "lsan":
            env["LSAN_OPTIONS"] = "suppressions=" + opts.suppressions

        server = DaytimeServer(opts.host)
        proc = subprocess.Popen(
            ["capsh", "--drop=cap_sys_time", "--", "-c", 'exec "$@"', "tempikon"] + command,
            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            # The first setting comes at start; the run counts from there.
            deadline = time.monotonic() + 120
            while not records(log) and proc.poll() is None and time.monotonic() < deadline:
                time.sleep(0.2)
            started = time.monotonic()
            first = ""
            if opts.close_stdout:
                first = proc.stdout.readline()
                proc.stdout.close()
                proc.stdout = None
                settings_before = len(records(log))
            while proc.poll() is None and time.monotonic() - started < opts.seconds:
                time.sleep(0.5)
            elapsed = time.monotonic() - started
            alive = proc.poll() is None
            if alive:
                proc.send_signal(signal.SIGKILL if opts.checker == "none" else signal.SIGTERM)
            out, err = proc.communicate(timeout=300)
            out = first + (out or "")
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
            server.close()

        settings = records(log)
        lines = out.splitlines()
        print(f"checker {opts.checker}, factor {opts.factor:g}, {elapsed:.0f} s: "
              f"{len(settings)} settings, {server.connections} queries, exit {proc.returncode}")
        failures = []
        if opts.close_stdout:
            later = len(settings) - settings_before
            minutes = elapsed * opts.factor / 60
            print(f"after its output was closed: {later} settings, still running: {alive}")
            if not alive:
                failures.append(f"ended by itself with status {proc.returncode}")
            if later < max(5, minutes / 2):
                failures.append(f"only {later} settings after its output was closed")
            if failures:
                print("FAIL: " + "; ".join(failures))
                print("stderr:\n" + err[-20000:])
                return 1
            print("ok")
            return 0
        if proc.returncode == 23:
            failures.append("leaks reported")
        elif proc.returncode == 24:
            failures.append("no leak checker in the process")
        elif proc.returncode != 0:
            failures.append(f"exit status {proc.returncode}")
        # One setting at start and one per simulated minute; at least half of
        # them must have come (a slow checker delays some ticks).
        minutes = elapsed * opts.factor / 60
        if len(settings) < max(10, minutes / 2):
            failures.append(f"only {len(settings)} settings in {minutes:.0f} simulated minutes")
        # The middle of the reported second plus half the round trip, which
        # the fast clock stretches to seconds under a checker.
        def seconds_of(text):
            h, m, s = (int(x) for x in text.split(":"))
            return h * 3600 + m * 60 + s
        if not all(0 <= seconds_of(r[2]) - seconds_of("14:03:27") < 60 for r in settings):
            failures.append("a setting to another time than the server's")
        bad = [l for l in lines if not re.fullmatch(r"Time set to 14:03:27 d=-?\d+s \(step\)", l)]
        if bad:
            failures.append(f"unexpected outcome lines {bad[:3]}")
        if abs(len(lines) - len(settings)) > 1 or abs(server.connections - len(settings)) > 1:
            failures.append("settings, outcome lines and queries differ")
        if failures:
            print("FAIL: " + "; ".join(failures))
            print("stderr:\n" + err[-20000:])
            return 1
        print("ok")
        return 0


if __name__ == "__main__":
    sys.exit(main())
