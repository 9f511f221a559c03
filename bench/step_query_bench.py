#!/usr/bin/env python3
"""How close a step lands, and what one /QUERY costs, side by side in one run.

usage: bench/step_query_bench.py --build-dir DIR [--settings N] [--queries N]

chronyd (unpacked into DIR/chrony by tests/support/fetch_chrony.sh, run as
nobody with -x) serves this machine's clock on an address of block
clock_steps (tests/support/test_addresses.txt), NTP on port 11123 and NTS key
establishment on port 14460 (a test certificate made by openssl). Everything
runs under capsh without CAP_SYS_TIME.

Settings (N rounds, the tools in turn each round):
- tempikon /RUNONCE with Step=always, the clock recorder preloaded: the
  error is the instant it would set (the step's offset added to the clock
  at the call) minus the real time at the call;
- the same with the recorder refusing ADJ_SETOFFSET (EINVAL), so that the
  clock is read immediately before clock_settime;
- ntpdig and chronyd -Q: the offsets they report, which are the errors a
  setting from them would make, since this clock is the truth here.

Queries (N rounds, in turn): wall time from start to exit and peak memory
(/usr/bin/time -v, maximum resident set) of tempikon /QUERY over NTP and
over NTS, rdate -p -n (SNTP, prints only) and ntpdig, all against the same
chronyd; tempikon --version, which loads the program's libraries and does
nothing else; and the wrapper alone (capsh and time running /bin/true), whose
time the net figures leave out.

Prints the figures; checks nothing.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import ntp_bench  # noqa: E402
from ntp_bench import KE_PORT, NTPDIG_SHIM, PORT, RUN_TIMEOUT_S, Tools, capsh  # noqa: E402
from ntp_servers import (ChronyServer, ChronyUnavailable, find_chronyd,  # noqa: E402
                         make_certificate)
from test_addresses import Block  # noqa: E402

SERVER = Block("clock_steps").at(6)
TIME = "/usr/bin/time"
RDATE = shutil.which("rdate") or "/usr/sbin/rdate"


class StepTools(Tools):
    """The benchmark's tools, every setting a step; extra_env goes to the
    program's runs."""

    extra_env = {}

    def _home(self, trust):
        home, env, log = super()._home(trust)
        env.update(self.extra_env)
        return home, env, log

    def _seed(self, home, address, trust):
        super()._seed(home, address, trust)
        with open(os.path.join(home, "Tempikon", "Tempikon.conf"), "a") as f:
            f.write("Step=always\n")

    def stepped(self, address, refuse=None):
        self.extra_env = {"TEMPIKON_CLOCK_REFUSE_SETOFFSET": refuse} if refuse else {}
        try:
            return self.tempikon(address)
        finally:
            self.extra_env = {}

    def timed(self, command, env=None, user=None, cwd=None):
        """(wall seconds, peak resident KiB) of one run of command under
        capsh and time."""
        # Written by time, which runs as the tool's user.
        reports = os.path.join(self.tmp, "time")
        os.makedirs(reports, exist_ok=True)
        os.chmod(reports, 0o777)
        report = os.path.join(reports, f"{time.monotonic_ns()}.txt")
        start = time.perf_counter()
        r = subprocess.run(capsh([TIME, "-v", "-o", report] + command, user=user),
                           env=env, capture_output=True, text=True, timeout=RUN_TIMEOUT_S,
                           cwd=cwd)
        elapsed = time.perf_counter() - start
        with open(report) as f:
            text = f.read()
        if r.returncode != 0:
            raise RuntimeError(f"{command[0]}: {r.stdout.strip()!r} {r.stderr.strip()!r}")
        m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", text)
        return elapsed, int(m.group(1)) if m else 0

    def query(self, address, trust=None):
        home, env, _ = self._home(trust)
        self._seed(home, address, trust)
        return self.timed([self.program, "/QUERY"], env=env)

    def rdate(self, address):
        return self.timed([RDATE, "-p", "-n", "-o", str(PORT), address], user="nobody", cwd="/")

    def ntpdig_query(self, address):
        return self.timed(["/usr/bin/python3", "-c", NTPDIG_SHIM, str(PORT), "-t", "5", address],
                          user="nobody", cwd="/")

    def loading(self, _address):
        """The program's libraries loaded and nothing else: --version."""
        return self.timed([self.program, "--version"], user="nobody", cwd="/")

    def wrapper(self, _address):
        return self.timed(["/bin/true"], user="nobody", cwd="/")


def collect(rounds, tools, names, address):
    results = {name: ([], []) for name, _ in names}
    for _ in range(rounds):
        # In turn, so that every tool meets the same conditions.
        for name, tool in names:
            try:
                results[name][0].append(tool(address))
            except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
                results[name][1].append(str(e))
    return results


def report(header, results, figures):
    """The header, then a line per tool: its count and figures(values), or
    n/a, and the first of its failures."""
    print(header)
    for name, (values, failures) in results.items():
        failed = f"  ({len(failures)} failed: {failures[0][:100]})" if failures else ""
        shown = f"{len(values):>3} {figures(values)}" if values else f"{0:>3} {'n/a':>9}"
        print(f"{name:<44} {shown}{failed}")


def report_settings(results):
    def figures(errors):
        us = [e * 1e6 for e in errors]
        return (f"{statistics.mean(us):>6.1f} us {statistics.mean(abs(u) for u in us):>6.1f} us "
                f"{max(abs(u) for u in us):>7.1f} us")
    report(f"{'setting from chronyd on loopback':<44} {'n':>3} {'mean':>9} {'mean |e|':>9} "
           f"{'worst |e|':>10}", results, figures)


def report_queries(results):
    wrapper = results["wrapper alone (capsh, time, /bin/true)"][0]
    base = statistics.median(t for t, _ in wrapper) if wrapper else 0.0

    def figures(runs):
        ms = [t * 1000 for t, _ in runs]
        mib = [k / 1024 for _, k in runs]
        return (f"{statistics.median(ms):>6.1f} ms {statistics.median(ms) - base * 1000:>6.1f} ms "
                f"{min(ms):>6.1f} ms {max(ms):>6.1f} ms {statistics.median(mib):>7.1f} MiB")
    report(f"\n{'one query, fresh start to exit':<44} {'n':>3} {'median':>9} {'net':>9} "
           f"{'least':>9} {'most':>9} {'peak memory':>12}", results, figures)


def run(build, settings=20, queries=20):
    build = os.path.abspath(build)
    try:
        chronyd = find_chronyd(os.path.join(build, "chrony"))
    except ChronyUnavailable as e:
        sys.exit(str(e))
    for tool in (TIME, RDATE, "/usr/bin/ntpdig"):
        if not os.path.exists(tool):
            sys.exit(f"missing {tool}: scripts/deps.sh bench")
    tmp = tempfile.mkdtemp(prefix="tempikon-step-query-bench-")
    os.chmod(tmp, 0o755)  # chronyd and the tools run as nobody
    try:
        tools = StepTools(build, tmp, chronyd)
        cert = make_certificate(os.path.join(tmp, "cert"), SERVER)
        os.chmod(os.path.dirname(cert.trust), 0o755)
        os.chmod(cert.trust, 0o644)
        with ChronyServer(chronyd, SERVER, PORT, os.path.join(tmp, "chrony"), nts=cert,
                          nts_port=KE_PORT):
            if settings > 0:
                report_settings(collect(settings, tools, (
                    ("tempikon /RUNONCE, step (ADJ_SETOFFSET)", tools.stepped),
                    ("tempikon, ADJ_SETOFFSET refused: read+settime",
                     lambda a: tools.stepped(a, "EINVAL")),
                    ("ntpdig", tools.ntpdig),
                    ("chronyd -Q", tools.chronyd_q)), SERVER))
            if queries > 0:
                report_queries(collect(queries, tools, (
                    ("tempikon /QUERY, NTP", tools.query),
                    ("tempikon /QUERY, NTS", lambda a: tools.query(a, cert.trust)),
                    ("rdate -p -n", tools.rdate),
                    ("ntpdig", tools.ntpdig_query),
                    ("tempikon --version (loading alone)", tools.loading),
                    ("wrapper alone (capsh, time, /bin/true)", tools.wrapper)), SERVER))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--settings", type=int, default=20, help="settings per tool")
    ap.add_argument("--queries", type=int, default=20, help="queries per tool")
    opts = ap.parse_args()
    run(opts.build_dir, opts.settings, opts.queries)
    return 0


if __name__ == "__main__":
    assert ntp_bench  # the tools come from there
    sys.exit(main())
