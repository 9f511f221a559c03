#!/usr/bin/env python3
"""What the program costs, beside a minimal blocking POSIX Daytime client.

usage: bench/run_bench.py --build-dir DIR [--runs N] [--idle-seconds S]
                          [--markdown FILE] [--ntp]

DIR is a build with the tests and benchmarks (it has the program, the clock
recorder, tempikon_bench_startup and tempikon_daytime_cli); a Release build
gives the figures worth quoting. Every run of the program is under capsh
without CAP_SYS_TIME with the clock recorder preloaded, without a display
unless said otherwise, with settings of its own; servers are in block bench_run
of tests/support/test_addresses.txt. Prints the figures; checks nothing. --ntp adds the error of
NTP and NTS settings beside ntpdig and chronyd -Q, and the time of one NTS
key establishment (bench/ntp_bench.py, blocks bench_ntp and bench_nts).
"""
import argparse
import os
import platform as host
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
from test_addresses import Block  # noqa: E402

REPLY_HOST = Block("bench_run").at(0)
SILENT_HOST = Block("bench_run").at(1)
REPLY = b"Mon Dec 07 2026 14:03:27-UTC\r\n"


class Server:
    """A Daytime server on port 13: replies and closes, or holds silent."""

    def __init__(self, address, silent=False):
        self.silent = silent
        self.held = []
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((address, 13))
        self.sock.listen(16)
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            if self.silent:
                self.held.append(conn)
                continue
            with conn:
                try:
                    conn.sendall(REPLY)
                except OSError:
                    pass

    def close(self):
        self.sock.close()
        for conn in self.held:
            conn.close()


class Bench:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.program = os.path.join(self.build, "app/main/tempikon")
        self.recorder = os.path.join(self.build, "tests/e2e/libtempikon_clock_recorder.so")
        self.startup_exe = os.path.join(self.build, "bench/tempikon_bench_startup")
        self.cli = os.path.join(self.build, "bench/tempikon_daytime_cli")
        for path in (self.program, self.recorder, self.startup_exe, self.cli):
            if not os.path.exists(path):
                sys.exit(f"missing {path}: build the tests and benchmarks in {self.build}")
        self.tmp = tempfile.mkdtemp(prefix="tempikon-bench-")

    def close(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def env(self, config_lines=None, display=None):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        home = tempfile.mkdtemp(dir=self.tmp)
        if config_lines is not None:
            os.makedirs(os.path.join(home, "Tempikon"))
            with open(os.path.join(home, "Tempikon", "Tempikon.conf"), "w") as f:
                f.write("[CONFIG]\n" + "".join(line + "\n" for line in config_lines))
        env["XDG_CONFIG_HOME"] = home
        env["XDG_STATE_HOME"] = home
        env["XDG_RUNTIME_DIR"] = home
        env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=/nonexistent/tempikon-bench"
        env["LD_PRELOAD"] = self.recorder
        env["TEMPIKON_CLOCK_LOG"] = os.path.join(home, "clock.log")
        if display:
            env["DISPLAY"] = display
        return env

    @staticmethod
    def capsh(command):
        return ["capsh", "--drop=cap_sys_time", "--", "-c", 'exec "$@"', "bench"] + command

    def spawn(self, command, env):
        return subprocess.Popen(self.capsh(command), env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)

    @staticmethod
    def reap(proc):
        """Waits for the process; its resource usage (the program itself:
        capsh and the shell exec it in the same process)."""
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        proc.stdout.close()
        return usage

    # ---- the figures ----------------------------------------------------------------

    def startup(self, runs, display=None):
        shown, painted = [], []
        env = self.env([], display)
        for _ in range(runs):
            env["TEMPIKON_BENCH_START_NS"] = str(time.monotonic_ns())
            r = subprocess.run([self.startup_exe], env=env, capture_output=True, text=True)
            words = r.stdout.split()
            if r.returncode != 0 or len(words) != 4:
                return None
            shown.append(float(words[1]))
            painted.append(float(words[3]))
        return shown, painted

    def one_shot_to_outcome(self, runs):
        """Process start to the outcome line on stdout; the 5 s wait of the
        program is not waited for."""
        program, cli = [], []
        env = self.env([f"Server={REPLY_HOST}", "Timeout=5"])
        for _ in range(runs):
            t0 = time.monotonic()
            p = self.spawn([self.program, "/RUNONCE"], env)
            line = p.stdout.readline()
            program.append((time.monotonic() - t0) * 1000)
            p.kill()
            self.reap(p)
            if not line.startswith("Time set to 14:03:27"):
                raise RuntimeError(f"unexpected outcome {line!r}")

            t0 = time.monotonic()
            p = self.spawn([self.cli, REPLY_HOST, "5000"], env)
            line = p.stdout.readline()
            cli.append((time.monotonic() - t0) * 1000)
            self.reap(p)
            if line.strip() != "14:03:27":
                raise RuntimeError(f"unexpected CLI answer {line!r}")
        return program, cli

    def early_exits(self, runs):
        """Process start to exit, with CPU time, for --version and --help and,
        to compare, a one-shot run without a configured server."""
        env = self.env([])
        figures = {}
        for name, args in (("--version", ["--version"]), ("--help", ["--help"]),
                           ("missing configuration", ["/RUNONCE"])):
            wall, cpu = [], []
            for _ in range(runs):
                t0 = time.monotonic()
                p = self.spawn([self.program] + args, env)
                usage = self.reap(p)
                wall.append((time.monotonic() - t0) * 1000)
                cpu.append((usage.ru_utime + usage.ru_stime) * 1000)
            figures[name] = (wall, cpu)
        return figures

    def waiting_cpu(self, short_s=2, long_s=12):
        """CPU seconds per second of waiting out a time-out: the difference
        of two runs against a silent server that differ only in the time-out."""
        def cpu(command, env):
            p = self.spawn(command, env)
            usage = self.reap(p)
            return usage.ru_utime + usage.ru_stime

        program = []
        cli = []
        for seconds in (short_s, long_s):
            env = self.env([f"Server={SILENT_HOST}", f"Timeout={seconds}"])
            program.append(cpu([self.program, "/RUNONCE"], env))
            cli.append(cpu([self.cli, SILENT_HOST, str(seconds * 1000)], env))
        span = long_s - short_s
        return (program[1] - program[0]) / span, (cli[1] - cli[0]) / span

    def peak_memory(self, runs=3):
        """Maximum resident set size, by /usr/bin/time: its child is forked
        from it, so that capsh and the shell that start it do not count."""
        def peak(command, env):
            p = subprocess.Popen(self.capsh(["/usr/bin/time", "-f", "PEAK %M"] + command),
                                 env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                 text=True)
            _, err = p.communicate()
            return int(err.strip().splitlines()[-1].split()[1])

        program, cli = [], []
        env = self.env([f"Server={REPLY_HOST}", "Timeout=5"])
        for _ in range(runs):
            program.append(peak([self.program, "/RUNONCE"], env))
            cli.append(peak([self.cli, REPLY_HOST, "5000"], env))
        return program, cli

    @staticmethod
    def switches(pid):
        """Voluntary and involuntary context switches of every thread, and
        the threads by name."""
        total_v = total_n = 0
        threads = {}
        task = f"/proc/{pid}/task"
        for tid in os.listdir(task):
            try:
                with open(f"{task}/{tid}/status") as f:
                    fields = dict(line.split(":", 1) for line in f if ":" in line)
                with open(f"{task}/{tid}/comm") as f:
                    name = f.read().strip()
            except OSError:
                continue
            v = int(fields["voluntary_ctxt_switches"])
            n = int(fields["nonvoluntary_ctxt_switches"])
            total_v += v
            total_n += n
            threads[f"{name}/{tid}"] = v
        return total_v, total_n, threads

    def idle_wakeups(self, seconds):
        """Wake-ups over a window of time, scaled to an hour, of three
        processes side by side: the resident program with nothing due (an
        interval of 60 minutes: only the minute ticks), the resident program
        setting the clock every minute, and the CLI querying every 60 s."""
        idle_env = self.env([f"Server={REPLY_HOST}", "Interval=60", "Timeout=5"])
        busy_env = self.env([f"Server={REPLY_HOST}", "Interval=1", "Timeout=5"])
        procs = [self.spawn([self.program, "/SERVER", "/MIN"], idle_env),
                 self.spawn([self.program, "/SERVER", "/MIN"], busy_env),
                 self.spawn([self.cli, REPLY_HOST, "5000", "--every", "60"], idle_env)]
        try:
            for p in procs:
                p.stdout.readline()
            # The settings' output goes on; nobody needs to read it.
            for p in procs:
                threading.Thread(target=p.stdout.read, daemon=True).start()
            time.sleep(5)
            before = [self.switches(p.pid) for p in procs]
            time.sleep(seconds)
            after = [self.switches(p.pid) for p in procs]
        finally:
            for p in procs:
                p.kill()
                os.waitpid(p.pid, 0)
        scale = 3600 / seconds
        results = []
        for b, a in zip(before, after):
            per_thread = {name: (count - b[2].get(name, 0)) * scale
                          for name, count in a[2].items()}
            results.append(((a[0] - b[0]) * scale, (a[1] - b[1]) * scale, per_thread))
        return results

    def installed_size(self):
        prefix = tempfile.mkdtemp(dir=self.tmp)
        subprocess.run(["cmake", "--install", self.build, "--prefix", prefix, "--strip"],
                       check=True, capture_output=True)
        total = 0
        files = 0
        for root, _, names in os.walk(prefix):
            for name in names:
                total += os.path.getsize(os.path.join(root, name))
                files += 1
        # The program and, on Linux, the part with its windows.
        program = os.path.getsize(os.path.join(prefix, "bin", "tempikon"))
        part = os.path.join(prefix, "libexec", "tempikon", "tempikon-window.so")
        window_part = os.path.getsize(part) if os.path.exists(part) else 0
        stripped_cli = os.path.join(self.tmp, "cli")
        shutil.copy(self.cli, stripped_cli)
        subprocess.run(["strip", stripped_cli], check=True)
        libraries = set()
        for binary in (self.program, part):
            if not os.path.exists(binary):
                continue
            ldd = subprocess.run(["ldd", binary], capture_output=True, text=True).stdout
            for line in ldd.splitlines():
                parts = line.split("=>")
                if len(parts) == 2 and "libQt6" in parts[0]:
                    libraries.add(os.path.realpath(parts[1].split("(")[0].strip()))
        qt = sum(os.path.getsize(library) for library in libraries)
        return program, window_part, total, files, os.path.getsize(stripped_cli), qt


def start_xvfb():
    if not shutil.which("Xvfb"):
        return None, None
    for number in range(90, 100):
        if not os.path.exists(f"/tmp/.X11-unix/X{number}"):
            break
    proc = subprocess.Popen(["Xvfb", f":{number}", "-nolisten", "tcp", "-screen", "0",
                             "1280x1024x24"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(f"/tmp/.X11-unix/X{number}"):
            return proc, f":{number}"
        time.sleep(0.05)
    proc.kill()
    return None, None


def machine():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    qt = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "libqt6core6"],
                        capture_output=True, text=True).stdout or "?"
    return f"{model}, {os.cpu_count()} CPUs, Linux {host.release()}, Qt {qt}"


def build_type(build):
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    return line.split("=", 1)[1].strip() or "none"
    except OSError:
        pass
    return "?"


def ms(values):
    return f"{statistics.median(values):.1f} ms (min {min(values):.1f})"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--runs", type=int, default=20)
    ap.add_argument("--idle-seconds", type=int, default=180)
    ap.add_argument("--markdown")
    ap.add_argument("--ntp", action="store_true",
                    help="also the error of NTP settings (bench/ntp_bench.py)")
    ap.add_argument("--early-only", action="store_true",
                    help="only the --version, --help and missing-configuration runs")
    opts = ap.parse_args()

    bench = Bench(opts.build_dir)
    reply = Server(REPLY_HOST)
    silent = Server(SILENT_HOST, silent=True)
    rows = []

    def row(what, program, yardstick="n/a", goal=""):
        rows.append((what, program, yardstick, goal))
        print(f"{what}: {program} | minimal client: {yardstick} {goal}", flush=True)

    try:
        for name, (wall, cpu) in bench.early_exits(opts.runs).items():
            row(f"Process start to exit, {name}", f"{ms(wall)}, CPU {ms(cpu)}")
        if opts.early_only:
            return 0
        figures = bench.startup(opts.runs)
        if figures:
            row("Start-up to the window first shown (offscreen)", ms(figures[0]))
            row("Start-up to the window first painted (offscreen)", ms(figures[1]))
        xvfb, display = start_xvfb()
        if xvfb:
            try:
                figures = bench.startup(opts.runs, display)
            finally:
                xvfb.kill()
                xvfb.wait()
            if figures:
                row("Start-up to the window first shown (X11, Xvfb)", ms(figures[0]))
                row("Start-up to the window first painted (X11, Xvfb)", ms(figures[1]))

        program, cli = bench.one_shot_to_outcome(opts.runs)
        row("One-shot run, process start to the outcome line (loopback)", ms(program), ms(cli))

        program, cli = bench.waiting_cpu()
        row("CPU while a query waits out its time-out", f"{program * 100:.3f} % of the wait",
            f"{cli * 100:.3f} %", "(goal: under 1 %)")

        program, cli = bench.peak_memory()
        row("Peak memory of a one-shot run (max RSS)", f"{statistics.median(program) / 1024:.1f} MiB",
            f"{statistics.median(cli) / 1024:.1f} MiB")

        if opts.idle_seconds > 0:
            idle, busy, cli = bench.idle_wakeups(opts.idle_seconds)

            def threads(figures):
                return ", ".join(f"{name.split('/')[0]} {count:.0f}" for name, count in
                                 sorted(figures[2].items(), key=lambda t: -t[1]) if count > 0)
            # A wake-up is a voluntary switch: the thread blocked and woke
            # again. Involuntary ones are preemptions by other processes.
            row(f"Wake-ups per hour, resident with nothing due (over {opts.idle_seconds} s)",
                f"{idle[0]:.0f} (threads: {threads(idle) or 'none'}; preempted {idle[1]:.0f})",
                "n/a (a blocking client sleeps until its next query)", "(goal: the 60 ticks)")
            row(f"Wake-ups per hour, resident setting the clock every minute "
                f"(over {opts.idle_seconds} s)",
                f"{busy[0]:.0f} (preempted {busy[1]:.0f})",
                f"{cli[0]:.0f} (querying every 60 s; preempted {cli[1]:.0f})")

        if opts.ntp:
            import ntp_bench
            results = ntp_bench.report(ntp_bench.run(opts.build_dir))

            def error(setup, tool):
                errors, _ = results.get((setup, tool), ([], []))
                if not errors:
                    return "n/a"
                size = [abs(e) * 1000 for e in errors]
                return f"{statistics.mean(size):.3f} ms (worst {max(size):.3f}, n={len(size)})"
            for setup in dict.fromkeys(s for s, _ in results):
                kind = "NTS" if "NTS" in setup else "NTP"
                row(f"{kind} setting, mean |error|, {setup}", error(setup, "tempikon /RUNONCE"),
                    f"ntpdig {error(setup, 'ntpdig')}; chronyd -Q {error(setup, 'chronyd -Q')}")

            def took(what):
                seconds, _ = results.timings.get(what, ([], []))
                return f"{statistics.mean(seconds) * 1000:.2f} ms (n={len(seconds)})" \
                    if seconds else "n/a"
            row("One NTS key establishment on loopback (/QUERY over NTS less over NTP)",
                took(ntp_bench.KE_PROGRAM), f"Python's ssl module {took(ntp_bench.KE_PYTHON)}")

        program, window_part, total, files, cli, qt = bench.installed_size()
        row("Size of the installed program (stripped)",
            f"{program / 1024:.0f} KiB" +
            (f", and its window part {window_part / 1024:.0f} KiB" if window_part else ""),
            f"{cli / 1024:.0f} KiB")
        row("Everything installed", f"{total / 1024:.0f} KiB in {files} files")
        row("Qt 6 libraries it loads (shared, not installed by it)", f"{qt / 1048576:.1f} MiB")
    finally:
        reply.close()
        silent.close()
        bench.close()

    if opts.markdown:
        with open(opts.markdown, "w") as f:
            f.write(f"Measured on {machine()}; {build_type(opts.build_dir)} build, "
                    f"{time.strftime('%Y-%m-%d')}.\n\n")
            f.write("| Figure | Tempikon | Minimal blocking client | Goal |\n")
            f.write("|---|---|---|---|\n")
            for what, program, yardstick, goal in rows:
                f.write(f"| {what} | {program} | {yardstick} | {goal.strip('()')} |\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
