#!/usr/bin/env python3
"""The built program, one-shot, against a Daytime server on loopback.

usage: runonce_e2e.py CASE --program PATH --recorder PATH

The program runs under capsh without CAP_SYS_TIME, with the clock recorder
preloaded, no display, no route to a system bus and settings of its own, so
that it can neither set the host's clock nor read the user's configuration.
"""
import datetime
import os
import re
import shutil
import socket
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from daytime_server import DaytimeServer, Failure, check  # noqa: E402
from e2e import RUN_TIMEOUT_S, Skip, cases, copy_program, main, read_log, run, seed  # noqa: E402
from test_addresses import Block  # noqa: E402

RUNONCE = Block("runonce")
SHIFTED = Block("runonce_shifted")
NAMES = Block("runonce_names")
RESOLVER = Block("runonce_resolver")
LOCALHOST = Block("localhost")

PORT = 13


def case_set(opts, tmp):
    # Offset 1 hour: the server's 14:03:27 becomes 15:03:27.
    server = DaytimeServer(RUNONCE.at(1), b"Mon Dec 07 2026 14:03:27-UTC\r\n")
    seed(tmp, [f"Server={RUNONCE.at(1)}", "Offset=1", "Timeout=10"])
    log = os.path.join(tmp, "clock.log")
    before = datetime.datetime.now()
    r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    after = datetime.datetime.now()
    server.close()
    check(r.returncode == 0, "exit status 0 when the clock was set", r)
    lines = r.stdout.splitlines()
    check(len(lines) == 1 and re.fullmatch(r"Time set to 15:03:27 d=-?\d+s \(step\)", lines[0]),
          "one outcome line on stdout", r)
    check(server.connections == 1, "one query")
    records = read_log(log)
    check(len(records) == 1, f"one recorded clock setting, got {records}", r)
    stamp = parse_record(records[0])
    check(stamp.time() == datetime.time(15, 3, 27),
          f"recorded time of day 15:03:27, got {stamp}")
    # Of yesterday's, today's and tomorrow's 15:03:27 the one nearest the
    # clock: today's, unless the run is within 12 hours of it across midnight.
    def nearest(now):
        days = (now.date() + datetime.timedelta(days=d) for d in (-1, 0, 1))
        times = (datetime.datetime.combine(day, datetime.time(15, 3, 27)) for day in days)
        return min(times, key=lambda t: abs(t - now)).date()
    check(stamp.date() in (nearest(before), nearest(after)),
          f"the nearest day's 15:03:27, got {stamp}")


def parse_record(record):
    """The recorder's line: seconds since the epoch first; as local time."""
    m = re.match(r"\S*?(-?\d+)(?:[.,](\d+))?", record)
    check(m is not None, f"a recorder line with epoch seconds, got {record!r}")
    return datetime.datetime.fromtimestamp(int(m.group(1)))


def case_unreachable(opts, tmp):
    # Nothing listens there: the connection is refused.
    seed(tmp, [f"Server={RUNONCE.at(2)}", "Timeout=10"])
    log = os.path.join(tmp, "clock.log")
    r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    check(r.returncode == 1, "exit status 1 when no server answered", r)
    check(r.stdout.splitlines() == ["Couldn't reach timeserver(s)"], "outcome line", r)
    check(read_log(log) == [], "no clock setting")


def case_invalid(opts, tmp):
    server = DaytimeServer(RUNONCE.at(3), b"ab:cd:ef\r\n")
    seed(tmp, [f"Server={RUNONCE.at(3)}", "Timeout=10"])
    log = os.path.join(tmp, "clock.log")
    r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    server.close()
    check(r.returncode == 1, "exit status 1 on invalid data", r)
    check(r.stdout.splitlines() == ["Invalid data received"], "outcome line", r)
    check(read_log(log) == [], "no clock setting")


def case_cut_short(opts, tmp):
    # Part of the time, then the server's close or a reset: nothing is set.
    cases = [
        (RUNONCE.at(6), False, "Mon Dec 07 2026 14:0",
         'the reply ended early: "Mon Dec 07 2026 14:0"'),
        (RUNONCE.at(7), True, "Mon Dec 07 2026 14:03:2", "connection reset"),
    ]
    log = os.path.join(tmp, "clock.log")
    for host, reset, reply, reason in cases:
        server = DaytimeServer(host, reply.encode(), reset=reset)
        seed(tmp, [f"Server={host}", "Timeout=10"])
        try:
            r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
        finally:
            server.close()
        check(r.returncode == 1, f"{host}: exit status 1 when the time was cut short", r)
        check(r.stdout.splitlines() == ["Couldn't reach timeserver(s)"], f"{host}: outcome", r)
        check(f"tempikon: {host}: {reason}\n" in r.stderr, f"{host}: the reason", r)
    check(read_log(log) == [], "no clock setting")


def case_missing(opts, tmp):
    # Backup only: counts as not configured.
    log = os.path.join(tmp, "clock.log")
    for switches in (["/RUNONCE"], ["/server", "/min"]):
        seed(tmp, [f"Server2={RUNONCE.at(4)}"])
        r = run(opts.program, opts.recorder, tmp, switches, log)
        check(r.returncode == 2, f"exit status 2 without a server ({switches})", r)
        check("You must go through the configuration first." in r.stderr,
              "the message on stderr when headless", r)
        check(r.stdout == "", "nothing on stdout", r)
    check(read_log(log) == [], "no clock setting")


def case_interactive(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    seed(tmp, [f"Server={RUNONCE.at(5)}"])
    r = run(opts.program, opts.recorder, tmp, [], log)
    check(r.returncode == 2, "interactive mode without a display exits 2", r)
    check("display" in r.stderr.lower(), "says why on stderr", r)


def case_full_pipe(opts, tmp):
    # Standard output is a pipe that nobody reads, already full: the outcome
    # line is dropped, the clock is set and the program ends all the same.
    server = DaytimeServer(NAMES.at(0), b"Mon Dec 07 2026 14:03:27-UTC\r\n")
    seed(tmp, [f"Server={NAMES.at(0)}", "Timeout=10"])
    log = os.path.join(tmp, "clock.log")
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    try:
        while True:
            os.write(write_end, b"x" * 4096)
    except BlockingIOError:
        pass
    os.set_blocking(write_end, True)
    try:
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log, stdout=write_end)
    finally:
        os.close(write_end)
        os.close(read_end)
        server.close()
    check(r.returncode == 0, "exit status 0 when the clock was set", r)
    check(len(read_log(log)) == 1, "one recorded clock setting", r)


def filled_pipe():
    """A pipe that nobody reads, already full: (read end, write end)."""
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    try:
        while True:
            os.write(write_end, b"x" * 4096)
    except BlockingIOError:
        pass
    os.set_blocking(write_end, True)
    return read_end, write_end


def case_full_error_pipe(opts, tmp):
    # Standard error is a full pipe that nobody reads: every run that ends
    # with a message there (and, headless, a message box that goes there
    # too) still ends.
    def missing():
        seed(tmp, [f"Server2={RESOLVER.at(3)}"])

    def unreadable():
        seed(tmp, [f"Server={RESOLVER.at(3)}"])
        conf = os.path.join(tmp, "Tempikon", "Tempikon.conf")
        os.remove(conf)
        os.mkdir(conf)

    def configured():
        seed(tmp, [f"Server={RESOLVER.at(3)}"])

    rows = [("no configuration", missing, ["/RUNONCE"]),
            ("an unreadable settings file", unreadable, ["/RUNONCE"]),
            ("no display for the window", configured, []),
            ("/QUERY with no configuration", missing, ["/QUERY"])]
    log = os.path.join(tmp, "clock.log")
    for what, prepare, args in rows:
        shutil.rmtree(os.path.join(tmp, "Tempikon"), ignore_errors=True)
        prepare()
        read_end, write_end = filled_pipe()
        try:
            r = run(opts.program, opts.recorder, tmp, args, log, stderr=write_end)
        except subprocess.TimeoutExpired:
            raise Failure(f"{what}: the run hung on the full standard error")
        finally:
            os.close(write_end)
            os.close(read_end)
        check(r.returncode == 2, f"{what}: exit status 2", r)
    check(read_log(log) == [], "no clock setting")


def own_view(tmp, files):
    """A private mount namespace in which each system file of files
    (path: text) is replaced by the test's own copy."""
    # Inside a chroot the root is no mount point and cannot be made private;
    # a shared one would carry the test's files out to the host.
    probe = subprocess.run(["unshare", "-m", "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        raise Skip("no private mount namespace here: " + probe.stderr.strip())
    script = ""
    args = []
    for i, (path, text) in enumerate(files.items()):
        copy = os.path.join(tmp, f"view{i}")
        with open(copy, "w") as f:
            f.write(text)
        script += f'mount --bind "${i + 1}" {path} && '
        args.append(copy)
    return ["unshare", "-m", "sh", "-c",
            script + 'shift ' + str(len(args)) + ' && exec "$@"', "view"] + args


def black_hole(address):
    """A listener whose accept queue is full: further SYNs are dropped, so a
    connection to it neither succeeds nor fails."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, PORT))
    listener.listen(0)
    fillers = []
    for _ in range(3):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex((address, PORT))
        fillers.append(c)
    return [listener] + fillers


def case_second_address(opts, tmp):
    # The name's first address swallows the connection, its second answers:
    # the second is tried well within the 3 s time-out.
    holes = black_hole(RESOLVER.at(0))
    server = DaytimeServer(RESOLVER.at(1), b"Mon Dec 07 2026 14:03:27-UTC\r\n")
    hosts = (f"{LOCALHOST.at(0)} localhost\n{RESOLVER.at(0)} eyeballs.tempikon.test\n"
             f"{RESOLVER.at(1)} eyeballs.tempikon.test\n")
    view = own_view(tmp, {"/etc/hosts": hosts})
    order = subprocess.run(view + ["getent", "ahostsv4", "eyeballs.tempikon.test"],
                           capture_output=True, text=True).stdout.split()
    check(order[:1] == [RESOLVER.at(0)], f"the black hole comes first, got {order}")
    seed(tmp, ["Server=eyeballs.tempikon.test", "Timeout=3"])
    log = os.path.join(tmp, "clock.log")
    try:
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log, wrap=view)
    finally:
        server.close()
        for s in holes:
            s.close()
    check(r.returncode == 0, "exit status 0 when the clock was set", r)
    check(server.connections == 1, "the second address answered", r)
    check(len(read_log(log)) == 1, "one recorded clock setting", r)


def case_hung_resolver(opts, tmp):
    # A name server that never answers, asked for 150 s: the run ends with
    # its time-out, not with the resolver.
    silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    silent.bind((RESOLVER.at(2), 53))
    view = own_view(tmp, {
        "/etc/hosts": f"{LOCALHOST.at(0)} localhost\n",
        "/etc/resolv.conf": f"nameserver {RESOLVER.at(2)}\noptions timeout:30 attempts:5\n",
    })
    seed(tmp, ["Server=slow.tempikon.test", "Timeout=1"])
    log = os.path.join(tmp, "clock.log")
    try:
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log, wrap=view, timeout=20)
    finally:
        silent.close()
    check(r.returncode == 1, "exit status 1 when no server answered", r)
    check(r.stdout.splitlines() == ["Couldn't reach timeserver(s)"], "outcome line", r)


def case_secure_exec(opts, tmp):
    # A setgid copy run by another user is marked for secure execution, as a
    # copy with file capabilities would be: Qt must not look for code in a
    # folder that user names.
    import grp
    import pwd
    os.chmod(tmp, 0o755)
    copy = os.path.join(tmp, "tempikon")
    copy_program(opts.program, copy)
    group = next((g.gr_gid for g in grp.getgrall() if g.gr_name in ("users", "daemon")), 1)
    os.chown(copy, 0, group)
    os.chmod(copy, 0o2755)
    user = pwd.getpwnam("nobody")
    check(user.pw_gid != group, "the copy's group is not the user's")
    plugins = os.path.join(tmp, "user-plugins")
    os.makedirs(os.path.join(plugins, "generic"))
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "QT_DEBUG_PLUGINS": "1",
           "QT_PLUGIN_PATH": plugins, "QT_QPA_PLATFORM_PLUGIN_PATH": plugins,
           "QT_QPA_GENERIC_PLUGINS": "evdevmouse", "QT_QPA_PLATFORM": "offscreen",
           "XDG_CONFIG_HOME": tmp, "XDG_STATE_HOME": tmp, "HOME": tmp,
           "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/tempikon-e2e"}
    cmd = ["capsh", "--drop=cap_sys_time", "--", "-c", 'exec "$@"', "tempikon",
           "setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups",
           copy, "/RUNONCE"]
    r = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    check(r.returncode == 2, "ran, and found no configuration", r)
    check("checking directory path" in r.stderr, "Qt reported where it looked", r)
    check(plugins not in r.stderr, "Qt did not look into the user's folder", r)


# Berlin's rules written out, so that no zone database is needed.
BERLIN = "CET-1CEST,M3.5.0,M10.5.0/3"


def shifted_run(opts, tmp, settings, start_utc, server_reply, host):
    """One-shot with the clock shown as start_utc (a UTC datetime) in Berlin."""
    server = DaytimeServer(host, server_reply)
    seed(tmp, [f"Server={host}", "Timeout=10"] + settings)
    log = os.path.join(tmp, "clock.log")
    start = int(start_utc.replace(tzinfo=datetime.timezone.utc).timestamp())
    r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log,
            {"TZ": BERLIN, "TEMPIKON_CLOCK_START": str(start)})
    server.close()
    check(r.returncode == 0, "exit status 0 when the clock was set", r)
    records = read_log(log)
    check(len(records) == 1, f"one recorded clock setting, got {records}", r)
    return r.stdout.splitlines(), int(records[0].split()[0]), records[0]


def case_midnight(opts, tmp):
    # 23:59:58 on 7 December in Berlin; the server says midnight: the clock
    # moves two seconds into the 8th, not a day back.
    lines, epoch, record = shifted_run(
        opts, tmp, ["Offset=0"], datetime.datetime(2026, 12, 7, 22, 59, 58),
        b"Tue Dec  8 00:00:00 2026\r\n", SHIFTED.at(0))
    check(len(lines) == 1 and re.fullmatch(r"Time set to 00:00:00 d=[02]s \(step\)", lines[0]),
          f"outcome line, got {lines}")
    expected = int(datetime.datetime(2026, 12, 7, 23, 0, 0,
                                     tzinfo=datetime.timezone.utc).timestamp())
    check(epoch == expected, f"the 8th at 00:00:00 local, got {record}")


def case_utc_summer(opts, tmp):
    # A UTC server in July: 10:00:03 UTC is 12:00:03 in Berlin's summer.
    lines, epoch, record = shifted_run(
        opts, tmp, ["Offset=0", "Zone=UTC"], datetime.datetime(2026, 7, 1, 10, 0, 0),
        b"Wed Jul 01 2026 10:00:03 UTC(NIST)\r\n", SHIFTED.at(1))
    check(len(lines) == 1 and re.fullmatch(r"Time set to 12:00:03 d=[23]s \(step\)", lines[0]),
          f"outcome line, got {lines}")
    expected = int(datetime.datetime(2026, 7, 1, 10, 0, 3,
                                     tzinfo=datetime.timezone.utc).timestamp())
    check(epoch == expected, f"10:00:03 UTC, got {record}")


if __name__ == "__main__":
    sys.exit(main(cases(globals()), "tempikon-e2e-", "--recorder"))
