#!/usr/bin/env python3
"""Smoke test of the real tempikon.exe under Wine on a virtual display.

Runs the program as a user would: one-shot runs against Daytime servers,
/QUERY against chronyd over NTP (addresses and ports: block win32 of
tests/support/test_addresses.txt), a start without configuration, and the
configuration read from and saved to the registry, driven from outside by
wintool.exe. Wine always runs without CAP_SYS_TIME (scripts/win32-wine.sh),
so the system refuses to set the clock: that refusal is the expected
outcome of a good reply.

    smoke_test.py <build-dir>      (DISPLAY must name an X server)
"""
import fcntl
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from daytime_server import DaytimeServer  # noqa: E402
from ntp_servers import ChronyServer, ChronyUnavailable, find_chronyd  # noqa: E402
from test_addresses import Block  # noqa: E402

WIN32 = Block("win32")
NTP_PORT = WIN32.ports[1]

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE = os.path.join(ROOT, "scripts", "win32-wine.sh")
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-win"))
EXE = os.path.join(BUILD, "app", "main", "tempikon.exe")
WINTOOL = os.path.join(BUILD, "tests", "win32", "wintool.exe")
KEY = r"HKCU\Software\Tempikon\Tempikon\CONFIG"
# A hang guard only: every run here ends within seconds when it works.
GUARD = 90


class Finished:
    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


def run(command, env=None, cwd=None, check=False):
    """Runs a command with its output in files, not pipes: Wine's server and
    desktop process, started by whichever Wine program comes first, inherit
    the output and outlive the program, so a pipe would not end with it."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                              timeout=GUARD, env=env, cwd=cwd).returncode
        out.seek(0)
        err.seek(0)
        result = Finished(code, out.read(), err.read())
    if check and code != 0:
        raise AssertionError(f"{command} failed: {result.stderr!r}")
    return result


def wine(*args, env=None, check=False):
    return run([WINE, *args], env=env, check=check)


def wintool(*args):
    return wine(WINTOOL, *args)


def reg_set(name, value):
    wine("reg", "add", KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f", check=True)


def reg_get(name):
    out = wine("reg", "query", KEY, "/v", name).stdout.decode("utf-8", "replace")
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name:
            return parts[1], (parts[2] if len(parts) > 2 else "")
    return None


def two_hours_off():
    """A ctime-style reply two hours from now: far enough from the real time
    that Wine never takes it for the time it already has."""
    return time.strftime("%a %b %d %H:%M:%S %Y\r\n", time.localtime(time.time() + 7200)).encode()


def lines(data):
    return [l.rstrip("\r") for l in data.decode("utf-8", "replace").splitlines() if l.strip()]


class Smoke(unittest.TestCase):
    def setUp(self):
        wine("reg", "delete", r"HKCU\Software\Tempikon", "/f")
        self.servers = []
        self.workdir = os.path.join(BUILD, "smoke-work")
        os.makedirs(self.workdir, exist_ok=True)

    def tearDown(self):
        for server in self.servers:
            server.close()

    def server(self, address, reply):
        server = DaytimeServer(address, reply)
        self.servers.append(server)
        return server

    def run_exe(self, *args, headless=False):
        env = dict(os.environ)
        env.pop("TEMPIKON_HEADLESS", None)
        if headless:
            env["TEMPIKON_HEADLESS"] = "1"
        return run([WINE, EXE, *args], env=env, cwd=self.workdir)

    # ---- NTP ----------------------------------------------------------------------

    def test_query_asks_chrony_over_ntp(self):
        try:
            chronyd = find_chronyd(os.path.join(BUILD, "chrony"))
        except ChronyUnavailable as e:
            self.skipTest(str(e))
        folder = tempfile.mkdtemp(prefix="tempikon-smoke-ntp-")
        os.chmod(folder, 0o755)  # chronyd runs as nobody
        with ChronyServer(chronyd, WIN32.at(7), NTP_PORT, os.path.join(folder, "chrony")):
            reg_set("Server", f"{WIN32.at(7)}:{NTP_PORT}")
            reg_set("Protocol", "NTP")
            result = self.run_exe("/QUERY", headless=True)
        out = lines(result.stdout)
        self.assertEqual(result.returncode, 0, (out, result.stderr))
        m = re.fullmatch(r"127\.0\.0\.207:11124: NTP stratum=1 offset=([+-]\d+\.\d{6})s "
                         r"rtt=\d+\.\d{3}ms leap=0 -> \d{4}-\d\d-\d\d [\d:.]+ (step|slew)",
                         out[0] if out else "")
        self.assertIsNotNone(m, out)
        # Wine reads the host's clock, which chronyd serves.
        self.assertLess(abs(float(m.group(1))), 0.05, out)

    # ---- one-shot runs -----------------------------------------------------------

    def test_one_shot_reply_is_refused_by_the_system_with_its_reason(self):
        server = self.server(WIN32.at(0), two_hours_off())
        reg_set("Server", WIN32.at(0))
        result = self.run_exe("/RUNONCE")  # with windows: no message box may appear
        out = lines(result.stdout)
        self.assertEqual(result.returncode, 3, (out, result.stderr))
        self.assertEqual(len(out), 1, out)
        self.assertTrue(out[0].startswith("Couldn't set system clock: "), out)
        self.assertGreater(len(out[0]), len("Couldn't set system clock: "), out)
        self.assertEqual(server.connections, 1)

    def test_one_shot_asks_the_backup_after_a_silent_primary(self):
        primary = self.server(WIN32.at(1), None)
        backup = self.server(WIN32.at(2), two_hours_off())
        reg_set("Server", WIN32.at(1))
        reg_set("Server2", WIN32.at(2))
        reg_set("Timeout", "1")
        result = self.run_exe("/runonce", headless=True)
        out = lines(result.stdout)
        self.assertEqual(result.returncode, 3, out)
        self.assertTrue(out and out[0].startswith("Couldn't set system clock: "), out)
        self.assertEqual((primary.connections, backup.connections), (1, 1))

    def test_one_shot_without_an_answer_or_with_nonsense(self):
        reg_set("Server", WIN32.at(3))  # nobody listens: refused
        result = self.run_exe("/RUNONCE", headless=True)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(lines(result.stdout), ["Couldn't reach timeserver(s)"])

        self.server(WIN32.at(0), b"ab:cd:ef nonsense\r\n")
        reg_set("Server", WIN32.at(0))
        result = self.run_exe("/RUNONCE", headless=True)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(lines(result.stdout), ["Invalid data received"])

    def test_no_configuration_ends_with_status_2_without_blocking(self):
        for switches in (["/RUNONCE"], ["/SERVER", "/MIN"]):
            result = self.run_exe(*switches, headless=True)
            self.assertEqual(result.returncode, 2, switches)
            self.assertEqual(lines(result.stdout), [])
            self.assertIn("You must go through the configuration first.",
                          result.stderr.decode("utf-8", "replace"))

    def test_one_shot_ends_with_its_status_when_nobody_reads_its_output(self):
        reg_set("Server", WIN32.at(3))  # nobody listens: status 1 at once
        read_end, write_end = os.pipe()
        try:
            # Fill the pipe to the brim, then hand it over as standard output.
            flags = fcntl.fcntl(write_end, fcntl.F_GETFL)
            fcntl.fcntl(write_end, fcntl.F_SETFL, flags | os.O_NONBLOCK)
            try:
                while os.write(write_end, b"x" * 4096):
                    pass
            except BlockingIOError:
                pass
            fcntl.fcntl(write_end, fcntl.F_SETFL, flags)
            env = dict(os.environ, TEMPIKON_HEADLESS="1")
            try:
                code = subprocess.run([WINE, EXE, "/RUNONCE"], stdout=write_end,
                                      stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                                      env=env, cwd=self.workdir, timeout=GUARD).returncode
            except subprocess.TimeoutExpired:
                wine("--cmd", "wineserver", "-k")  # the stuck program, for the next tests
                self.fail("the program waited for a reader of its full output pipe")
            self.assertEqual(code, 1)
        finally:
            os.close(read_end)
            os.close(write_end)

    def test_help_and_version_reach_the_output(self):
        for switch, first in (("--help", "Usage: tempikon "), ("--version", "Tempikon 1.2")):
            result = self.run_exe(switch, headless=True)
            self.assertEqual(result.returncode, 0, switch)
            out = lines(result.stdout)
            self.assertTrue(out and out[0].startswith(first), (switch, out))

    # ---- the windows, driven from outside ------------------------------------------

    def test_registry_values_are_read_back_and_saved_as_text(self):
        seeded = {"Server": WIN32.at(0), "Server2": "backup.example", "Offset": "5.5",
                  "Offset2": "-2", "Timeout": "7", "Interval": "45"}
        for name, value in seeded.items():
            reg_set(name, value)
        env = dict(os.environ)
        env.pop("TEMPIKON_HEADLESS", None)
        program = subprocess.Popen([WINE, EXE], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, env=env,
                                   cwd=self.workdir)
        try:
            self.assertEqual(wintool("wait", "Tempikon 1.2", "30000").returncode, 0)
            statics = [l.split("\t", 1)[1] for l in lines(wintool("texts", "Tempikon 1.2").stdout)]
            self.assertEqual(statics[0], WIN32.at(0))
            # Server, outcome, the reason under it, then the mode.
            self.assertEqual(statics[3], "Current program mode is CONFIG")

            # Alt+C: "&Configuration".
            self.assertEqual(wintool("menu", "Tempikon 1.2", "c").returncode, 0)
            self.assertEqual(wintool("wait", "Configuration", "30000").returncode, 0)
            edits = [l.split("\t", 1)[1] if "\t" in l else ""
                     for l in wintool("texts", "Configuration").stdout.decode().splitlines()
                     if l.startswith("Edit")]
            # Each server's trust file (shown for NTS alone) follows its offset.
            self.assertEqual(edits, [WIN32.at(0), "5.5", "", "backup.example", "-2", "", "7",
                                     "45"])
            self.assertGreater(len(lines(wintool("items", "Configuration").stdout)), 10)

            self.assertEqual(wintool("settext", "Configuration", "3", WIN32.at(2)).returncode, 0)
            self.assertEqual(wintool("settext", "Configuration", "7", "15").returncode, 0)
            self.assertEqual(wintool("click", "Configuration", "&OK").returncode, 0)
            self.assertEqual(wintool("gone", "Configuration", "30000").returncode, 0)

            expected = dict(seeded, Server2=WIN32.at(2), Interval="15")
            for name, value in expected.items():
                self.assertEqual(reg_get(name), ("REG_SZ", value), name)

            # The About box reads its revision from the version resource.
            self.assertEqual(wintool("menu", "Tempikon 1.2", "?").returncode, 0)
            self.assertEqual(wintool("wait", "About Tempikon", "30000").returncode, 0)
            about = wintool("texts", "About Tempikon").stdout.decode("utf-8", "replace")
            self.assertIn("Rev 1.2.10", about)
            wintool("close", "About Tempikon")
            self.assertEqual(wintool("gone", "About Tempikon", "30000").returncode, 0)

            wintool("close", "Tempikon 1.2")
            self.assertEqual(program.wait(timeout=GUARD), 0)
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()


if __name__ == "__main__":
    if not os.path.exists(EXE):
        sys.exit(f"no program at {EXE}: build it first")
    unittest.main(argv=[sys.argv[0], "-v"])
