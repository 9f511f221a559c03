#!/usr/bin/env python3
"""How far from the real time an NTP or NTS setting lands: the program
beside ntpdig and chronyd -Q, all asking the same chronyd; and how long one
NTS key establishment takes.

usage: bench/ntp_bench.py --build-dir DIR [--loopback N] [--delayed N] [--seed S]
                          [--key-establishments N]

chronyd (unpacked into DIR/chrony by tests/support/fetch_chrony.sh, run as
nobody with -x) serves this machine's clock on block bench_ntp's first address; a
DelayLink on its second adds 10 ms plus an exponential queueing delay of
mean 10 ms to each packet, each way. Per setup and round, in turn:

- the program: tempikon /RUNONCE under capsh without CAP_SYS_TIME, the
  clock recorder preloaded; the error is the value it set minus the real
  time at the call;
- ntpdig (query only; made to use the port by a shim): the offset it
  reports, which is the error a setting from it would make, since the local
  clock is the truth here;
- chronyd -Q -x (query only): the offset it reports.

The same chronyd serves NTS key establishment (block bench_nts) with a test
certificate (self-signed, made by openssl, trusted through
TrustedCertificates and ntstrustedcerts); the NTS rows ask it over NTS
(ntpdig has no NTS). For the delayed NTS rows a second chronyd on
bench_nts's first address sends its clients to a DelayLink on its second:
only the NTP packets are delayed.

The time of one key establishment, on loopback: a client of this process
(Python's TLS, ALPN ntske/1, from the connect to End of Message), and the
program's /QUERY over NTS less its /QUERY over NTP (each a fresh start).

Prints, per setup and tool, the mean and worst of |error|, and the timings;
checks nothing.
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
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from ntp_servers import (ChronyServer, ChronyUnavailable, DelayLink, find_chronyd,  # noqa: E402
                         make_certificate, nts_ke)
from test_addresses import Block  # noqa: E402

SERVER, LINK = Block("bench_ntp").at(0), Block("bench_ntp").at(1)
NTS_SERVER, NTS_LINK = Block("bench_nts").at(0), Block("bench_nts").at(1)
PORT, KE_PORT = Block("bench_nts").ports
RUN_TIMEOUT_S = 60

# ntpdig always asks port 123; this runs it with its look-ups sent to PORT.
# It is the system's Python that has ntpdig's module (python3-ntp).
NTPDIG_SHIM = """
import runpy, socket, sys
port = int(sys.argv[1])
real = socket.getaddrinfo
def getaddrinfo(host, service, *args, **kwargs):
    return real(host, port if service == 123 else service, *args, **kwargs)
socket.getaddrinfo = getaddrinfo
sys.argv = ["ntpdig"] + sys.argv[2:]
runpy.run_path("/usr/bin/ntpdig", run_name="__main__")
"""


def capsh(command, user=None):
    as_user = [f"--user={user}"] if user else []
    return ["capsh", "--drop=cap_sys_time"] + as_user + ["--", "-c", 'exec "$@"',
                                                          "bench"] + command


class Tools:
    def __init__(self, build, tmp, chronyd):
        self.program = os.path.join(build, "app/main/tempikon")
        self.recorder = os.path.join(build, "tests/e2e/libtempikon_clock_recorder.so")
        for path in (self.program, self.recorder):
            if not os.path.exists(path):
                sys.exit(f"missing {path}: build tempikon and tempikon_clock_recorder in {build}")
        self.tmp = tmp
        # chronyd -Q runs as nobody: a copy it can reach, wherever the build
        # tree lies.
        self.chronyd = os.path.join(tmp, "chronyd-query")
        shutil.copy(chronyd, self.chronyd)
        os.chmod(self.chronyd, 0o755)
        self.runs = 0

    def _home(self, trust):
        """A fresh settings folder asking `address` over NTP, or over NTS
        when `trust` names the server's certificate; (folder, env, log)."""
        self.runs += 1
        home = os.path.join(self.tmp, f"run{self.runs}")
        os.makedirs(os.path.join(home, "Tempikon"))
        os.chmod(home, 0o700)  # also the runtime folder, which Qt wants private
        log = os.path.join(home, "clock.log")
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update(XDG_CONFIG_HOME=home, XDG_STATE_HOME=home, XDG_RUNTIME_DIR=home,
                   LD_PRELOAD=self.recorder,
                   TEMPIKON_CLOCK_LOG=log,
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/tempikon-bench")
        return home, env, log

    def _seed(self, home, address, trust):
        with open(os.path.join(home, "Tempikon", "Tempikon.conf"), "w") as f:
            if trust:
                f.write(f"[CONFIG]\nServer={address}:{KE_PORT}\nProtocol=NTS\nTimeout=5\n"
                        f"TrustedCertificates={trust}\n")
            else:
                f.write(f"[CONFIG]\nServer={address}:{PORT}\nProtocol=NTP\nTimeout=5\n")

    def tempikon(self, address, trust=None):
        """One /RUNONCE; the error of the setting it recorded, in seconds."""
        home, env, log = self._home(trust)
        self._seed(home, address, trust)
        p = subprocess.Popen(capsh([self.program, "/RUNONCE"]), env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            # The outcome line comes after the setting; the program's 5 s of
            # showing it are not waited for.
            line = p.stdout.readline()
        finally:
            p.kill()
            _, err = p.communicate()
        if not line.startswith("Time set to"):
            why = [l for l in err.splitlines() if l.startswith("tempikon: ")]
            raise RuntimeError(f"no setting: {line.strip()!r} {why}")
        with open(log) as f:
            m = re.search(r"^\S+ \S+ \S+ (\S+) value=(-?\d+\.\d+) at=(-?\d+\.\d+)",
                          f.read(), re.M)
        if not m:
            raise RuntimeError("no setting recorded")
        # A small offset is slewed: the recorder's value is then the offset
        # asked for, which is the error itself.
        if m.group(1) in ("adjtime", "adjtimex", "ntp_adjtime", "clock_adjtime"):
            return float(m.group(2))
        return float(m.group(2)) - float(m.group(3))

    def query_seconds(self, address, trust=None):
        """How long one /QUERY takes, from a fresh start to its exit."""
        home, env, _ = self._home(trust)
        self._seed(home, address, trust)
        start = time.perf_counter()
        r = subprocess.run(capsh([self.program, "/QUERY"]), env=env, capture_output=True,
                           text=True, timeout=RUN_TIMEOUT_S)
        elapsed = time.perf_counter() - start
        if r.returncode != 0:
            raise RuntimeError(f"/QUERY: {r.stdout.strip()!r} {r.stderr.strip()!r}")
        return elapsed

    def ntpdig(self, address):
        r = subprocess.run(capsh(["/usr/bin/python3", "-c", NTPDIG_SHIM, str(PORT), "-t", "5",
                                  address], user="nobody"),
                           capture_output=True, text=True, timeout=RUN_TIMEOUT_S, cwd="/")
        # "2026-12-07 22:09:40.919382 (+0000) +0.000026 +/- 0.000085 host s1 no-leap"
        m = re.search(r"\) ([+-]\d+\.\d+) \+/-", r.stdout)
        if r.returncode != 0 or not m:
            raise RuntimeError(f"ntpdig: {r.stdout.strip()!r} {r.stderr.strip()!r}")
        return float(m.group(1))

    def chronyd_q(self, address, trust=None):
        nts = [f"server {address} port {PORT} iburst nts ntsport {KE_PORT}",
               f"ntstrustedcerts {trust}"] if trust else [f"server {address} port {PORT} iburst"]
        r = subprocess.run(capsh([self.chronyd, "-x", "-Q", "-U", "-u", "nobody", "-4",
                                  "-f", "/dev/null"] + nts, user="nobody"),
                           capture_output=True, text=True, timeout=RUN_TIMEOUT_S, cwd="/")
        m = re.search(r"System clock wrong by (-?\d+\.\d+) seconds", r.stdout + r.stderr)
        if r.returncode != 0 or not m:
            raise RuntimeError(f"chronyd -Q: {(r.stdout + r.stderr).strip()!r}")
        return float(m.group(1))


def measure(tools, address, rounds, results, setup, trust=None):
    """NTP rows, or NTS ones when `trust` names the server's certificate."""
    names = (("tempikon /RUNONCE", lambda a: tools.tempikon(a, trust)),
             ("chronyd -Q", lambda a: tools.chronyd_q(a, trust)))
    if not trust:
        names = names[:1] + (("ntpdig", tools.ntpdig),) + names[1:]
    for _ in range(rounds):
        # Taken in turn, so that every tool meets the same conditions.
        for name, tool in names:
            errors, failures = results.setdefault((setup, name), ([], []))
            try:
                errors.append(tool(address))
            except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
                failures.append(str(e))


class Results(dict):
    """The errors by (setup, tool): (errors in seconds, failure texts);
    `timings` holds the key establishment's by what was timed: (seconds,
    failure texts)."""

    def __init__(self):
        super().__init__()
        self.timings = {}


KE_PYTHON = "Python ssl client, connect to End of Message"
KE_PROGRAM = "tempikon /QUERY over NTS less over NTP"


def time_key_establishment(tools, address, trust, rounds, results):
    python = results.timings.setdefault(KE_PYTHON, ([], []))
    program = results.timings.setdefault(KE_PROGRAM, ([], []))
    for _ in range(rounds):
        try:
            python[0].append(nts_ke(address, KE_PORT, trust)[1])
        except OSError as e:
            python[1].append(str(e))
        try:
            program[0].append(tools.query_seconds(address, trust)
                              - tools.query_seconds(address))
        except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
            program[1].append(str(e))


def report(results):
    print(f"{'setup':<38} {'tool':<18} {'n':>3} {'mean |error|':>13} {'worst':>10}")
    for (setup, name), (errors, failures) in results.items():
        if errors:
            size = [abs(e) * 1000 for e in errors]
            print(f"{setup:<38} {name:<18} {len(errors):>3} "
                  f"{statistics.mean(size):>10.3f} ms {max(size):>7.3f} ms"
                  + (f"  ({len(failures)} failed)" if failures else ""))
        else:
            print(f"{setup:<38} {name:<18} {0:>3} {'n/a':>13} {'':>10}  "
                  f"({len(failures)} failed: {failures[0][:120] if failures else ''})")
    timings = getattr(results, "timings", {})
    if timings:
        print(f"\n{'one NTS key establishment on loopback':<46} {'n':>3} {'mean':>10} "
              f"{'least':>10} {'most':>10}")
    for what, (seconds, failures) in timings.items():
        failed = f"  ({len(failures)} failed: {failures[0][:120]})" if failures else ""
        if seconds:
            ms = [t * 1000 for t in seconds]
            print(f"{what:<46} {len(ms):>3} {statistics.mean(ms):>7.2f} ms {min(ms):>7.2f} ms "
                  f"{max(ms):>7.2f} ms{failed}")
        else:
            print(f"{what:<46} {0:>3} {'n/a':>10}{failed}")
    return results


def run(build, loopback=20, delayed=10, seed=1, key_establishments=10):
    """The Results."""
    build = os.path.abspath(build)
    try:
        chronyd = find_chronyd(os.path.join(build, "chrony"))
    except ChronyUnavailable as e:
        sys.exit(str(e))
    tmp = tempfile.mkdtemp(prefix="tempikon-ntp-bench-")
    # chronyd runs as nobody and reads its files from here.
    os.chmod(tmp, 0o755)
    results = Results()
    try:
        tools = Tools(build, tmp, chronyd)
        cert = make_certificate(os.path.join(tmp, "cert"), SERVER)
        delayed_cert = make_certificate(os.path.join(tmp, "delayed-cert"), NTS_SERVER)
        # chronyd -Q, as nobody, reads the certificates.
        for c in (cert, delayed_cert):
            os.chmod(os.path.dirname(c.trust), 0o755)
            os.chmod(c.trust, 0o644)
        with ChronyServer(chronyd, SERVER, PORT, os.path.join(tmp, "chrony"), nts=cert,
                          nts_port=KE_PORT):
            measure(tools, SERVER, loopback, results, "chronyd on loopback")
            measure(tools, SERVER, loopback, results, "chronyd over NTS on loopback",
                    cert.trust)
            time_key_establishment(tools, SERVER, cert.trust, key_establishments, results)
            with DelayLink(LINK, PORT, (SERVER, PORT), forward_ms=10, mean_queue_ms=10,
                           seed=seed):
                measure(tools, LINK, delayed, results,
                        "chronyd, 10 ms + exp(10 ms) each way")
        # The key establishment sends clients to the link, which alone delays.
        with ChronyServer(chronyd, NTS_SERVER, PORT, os.path.join(tmp, "chrony-nts"),
                          nts=delayed_cert, nts_port=KE_PORT, nts_ntp_server=NTS_LINK), \
                DelayLink(NTS_LINK, PORT, (NTS_SERVER, PORT), forward_ms=10, mean_queue_ms=10,
                          seed=seed):
            measure(tools, NTS_SERVER, delayed, results,
                    "NTS, 10 ms + exp(10 ms) each way", delayed_cert.trust)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    return results


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--loopback", type=int, default=20, help="settings straight to chronyd")
    ap.add_argument("--delayed", type=int, default=10, help="settings through the delay")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--key-establishments", type=int, default=10,
                    help="key establishments timed")
    opts = ap.parse_args()
    report(run(opts.build_dir, opts.loopback, opts.delayed, opts.seed,
               opts.key_establishments))
    return 0


if __name__ == "__main__":
    sys.exit(main())
