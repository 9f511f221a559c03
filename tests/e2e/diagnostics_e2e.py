#!/usr/bin/env python3
"""The built program's command line and failure reasons, end to end.

usage: diagnostics_e2e.py CASE --program PATH --recorder PATH

Runs as runonce_e2e.py does: under capsh without CAP_SYS_TIME, the clock
recorder preloaded, no display, no system bus and settings of its own.
Daytime servers listen in block diagnostics of tests/support/test_addresses.txt.
"""
import os
import re
import shutil
import stat
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from daytime_server import DaytimeServer, check  # noqa: E402
from e2e import cases, copy_program, main, read_log, run, seed  # noqa: E402
from test_addresses import Block  # noqa: E402

DIAG = Block("diagnostics")


def case_help(opts, tmp):
    # A display that cannot be reached: any window system call would fail,
    # so an exit 0 shows that none was made.
    log = os.path.join(tmp, "clock.log")
    extra = {"DISPLAY": ":97", "QT_QPA_PLATFORM": "xcb"}
    for args in (["--help"], ["-h"], ["/?"], ["/RUNONCE", "--help"]):
        r = run(opts.program, opts.recorder, tmp, args, log, extra)
        check(r.returncode == 0, f"{args} exits 0", r)
        for word in ("/RUNONCE", "/SERVER", "/QUERY", "/MIN", "--version", "Exit status",
                     "Tempikon.conf"):
            check(word in r.stdout, f"{args}: the usage names {word}", r)
        check(r.stderr == "", f"{args}: nothing on stderr", r)
    r = run(opts.program, opts.recorder, tmp, ["--version"], log, extra)
    check(r.returncode == 0 and r.stdout == "Tempikon 1.2.0.10\n", "--version", r)
    # A German locale, named either way, reads the usage in German, still
    # without a display; the switches and the file keep their names.
    english = r"Exit status|Usage:|set the clock once"
    for lang, german in (({"LANG": "de_DE.UTF-8", "LC_ALL": ""}, True),
                         ({"LANG": "C", "LC_ALL": "de_DE.UTF-8"}, True),
                         ({"LANG": "C.UTF-8", "LC_ALL": ""}, False)):
        r = run(opts.program, opts.recorder, tmp, ["--help"], log,
                {**extra, **lang, "LANGUAGE": ""})
        # The shell capsh starts may warn of a locale this machine lacks.
        own = [l for l in r.stderr.splitlines() if "setlocale" not in l]
        check(r.returncode == 0 and own == [], f"{lang}: --help exits 0, quietly", r)
        check(("Rückgabewert:" in r.stdout) == german and
              (re.search(english, r.stdout) is None) == german,
              f"{lang}: the usage in {'German' if german else 'English'}", r)
        for word in ("/RUNONCE", "/QUERY", "--version", "Tempikon.conf"):
            check(word in r.stdout, f"{lang}: the usage names {word}", r)
    check(read_log(log) == [], "no clock call")


def case_query(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    # Nothing listens on the primary: the backup answers, with its offset.
    backup = DaytimeServer(DIAG.at(1), b"Mon Dec 07 2026 14:03:27-UTC\r\n")
    seed(tmp, [f"Server={DIAG.at(0)}", f"Server2={DIAG.at(1)}", "Offset2=1", "Timeout=5"])
    r = run(opts.program, opts.recorder, tmp, ["/query"], log)
    backup.close()
    check(r.returncode == 0, "exit 0 when a server gave a valid time", r)
    lines = r.stdout.splitlines()
    check(len(lines) == 2 and lines[0] == f"{DIAG.at(0)}: no time", "the primary's line", r)
    check(re.fullmatch(r"127\.0\.14\.2 \(Backup\): 14:03:27 -> 15:03:27 "
                       r"d=-?\d+\.\ds rtt=\d+ms step", lines[1]), "the backup's line", r)
    check(f"{DIAG.at(0)}: connection refused" in r.stderr, "why the primary failed", r)

    seed(tmp, [f"Server={DIAG.at(0)}", "Timeout=5"])
    r = run(opts.program, opts.recorder, tmp, ["/QUERY"], log)
    check(r.returncode == 1, "exit 1 when no server gave a time", r)
    seed(tmp, [f"Server2={DIAG.at(1)}"])
    r = run(opts.program, opts.recorder, tmp, ["/QUERY"], log)
    check(r.returncode == 2 and "Tempikon.conf" in r.stderr,
          "exit 2 without a primary, naming the settings file", r)
    check(read_log(log) == [], "nothing set, ever")


def case_reasons(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    silent = DaytimeServer(DIAG.at(3), None)
    chatty = DaytimeServer(DIAG.at(4), b"hello\r\n\x1b[2Jworld")
    invalid = DaytimeServer(DIAG.at(5), b"ab:cd:ef\r\n")
    # /QUERY reports through the same reasons without the one-shot wait; the
    # first case checks that a setting's outcome line stays as it was.
    cases = [
        (DIAG.at(2), "/RUNONCE", "Couldn't reach timeserver(s)",
         f"{DIAG.at(2)}: connection refused"),
        (DIAG.at(3), "/QUERY", f"{DIAG.at(3)}: no time", f"{DIAG.at(3)}: no answer within 1 s"),
        ("no-such-host.invalid", "/QUERY", "no-such-host.invalid: no time",
         "no-such-host.invalid: host not found"),
        (DIAG.at(4), "/QUERY", f"{DIAG.at(4)}: no time",
         f'{DIAG.at(4)}: the reply held no time: "hello\\r\\n\\x1b[2Jworld"'),
        (DIAG.at(5), "/QUERY", f'{DIAG.at(5)}: "ab:cd:ef" is not a valid time of day',
         f'{DIAG.at(5)}: the time was not a valid time of day: "ab:cd:ef"'),
    ]
    try:
        for host, switch, outcome, reason in cases:
            seed(tmp, [f"Server={host}", "Timeout=1"])
            r = run(opts.program, opts.recorder, tmp, [switch], log)
            check(r.returncode == 1, f"{host}: exit 1", r)
            check(r.stdout.splitlines() == [outcome], f"{host}: the outcome line", r)
            check(f"tempikon: {reason}\n" in r.stderr, f"{host}: the reason on stderr", r)
    finally:
        for server in (silent, chatty, invalid):
            server.close()
    check(read_log(log) == [], "no clock setting")


def case_escaped_names(opts, tmp):
    # Names with ESC, NUL and a byte that is no UTF-8, as the settings file
    # writes them; a NUL keeps them from the resolver. Neither stream may
    # carry the raw bytes.
    folder = os.path.join(tmp, "Tempikon")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Tempikon.conf"), "wb") as f:
        f.write(b"[CONFIG]\nServer=a\\x1b[2Jb\\0c\xffd\nServer2=back\\x1bup\\0\nTimeout=1\n")
    primary = r"a\x1b[2Jb\x00c\xffd"
    backup = r"back\x1bup\x00"
    log = os.path.join(tmp, "clock.log")
    for switch, outcome in (("/QUERY", [f"{primary}: no time", f"{backup} (Backup): no time"]),
                            ("/RUNONCE", ["Couldn't reach timeserver(s)"])):
        r = run(opts.program, opts.recorder, tmp, [switch], log)
        check(r.returncode == 1, f"{switch}: exit 1", r)
        check(r.stdout.splitlines() == outcome, f"{switch}: the names escaped on stdout", r)
        check(r.stderr.splitlines() == [f"tempikon: {primary}: host not found",
                                        f"tempikon: {backup}: host not found"],
              f"{switch}: the names escaped on stderr", r)
    check(read_log(log) == [], "no clock setting")


def case_refused(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    server = DaytimeServer(DIAG.at(6), b"12:00:00\r\n")
    seed(tmp, [f"Server={DIAG.at(6)}", "Timeout=5"])
    r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log,
            {"TEMPIKON_CLOCK_REFUSE": "1"})
    server.close()
    check(r.returncode == 3, "exit 3 when the clock is refused", r)
    out = r.stdout.strip()
    check(out.startswith("Couldn't set system clock: not permitted (run as root, give the "
                         "program CAP_SYS_TIME, or use the system's time service; "
                         "see man tempikon)"), "what to do", r)
    check("kernel: Operation not permitted" in out, "the kernel's reason", r)
    check("time service: no time service on this system" in out, "the service's reason", r)
    check(len(read_log(log)) == 1, "one attempt, recorded and refused", r)


def case_unreadable(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    seed(tmp, [f"Server={DIAG.at(7)}"])
    conf = os.path.join(tmp, "Tempikon", "Tempikon.conf")
    os.chmod(conf, 0)
    os.chmod(tmp, 0o755)
    os.chmod(os.path.dirname(conf), 0o777)
    # Copies the other user can reach, wherever the build tree lies.
    program = os.path.join(tmp, "tempikon")
    recorder = os.path.join(tmp, os.path.basename(opts.recorder))
    copy_program(opts.program, program)
    shutil.copy(opts.recorder, recorder)
    for args in (["/RUNONCE"], ["/QUERY"], ["/server"]):
        r = run(program, recorder, tmp, args, log, user="nobody")
        check(r.returncode == 2, f"{args}: exit 2", r)
        check(f"cannot read the settings file {conf}: Permission denied" in r.stderr,
              f"{args}: says which file and why", r)
        check("You must go through the configuration first." not in r.stderr,
              f"{args}: not taken for a missing configuration", r)
    st = os.stat(conf)
    check(stat.S_IMODE(st.st_mode) == 0 and st.st_size > 0, "the file is untouched")
    check(sorted(os.listdir(os.path.dirname(conf))) == ["Tempikon.conf"], "nothing written")
    # A folder in the file's place, for root as well.
    os.chmod(conf, 0o600)
    os.remove(conf)
    os.mkdir(conf)
    r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    check(r.returncode == 2 and "it is a folder" in r.stderr, "a folder is unreadable", r)
    check(read_log(log) == [], "no clock setting")


def case_no_thread(opts, tmp):
    # A user at its process limit: the lookup's thread cannot start. games
    # runs nothing else here, so a limit of one is the program itself.
    log = os.path.join(tmp, "clock.log")
    seed(tmp, ["Server=no-thread.invalid", "Timeout=5"])
    os.chmod(tmp, 0o755)
    for root, dirs, files in os.walk(tmp):
        for name in dirs + files:
            os.chmod(os.path.join(root, name), 0o777)
    program = os.path.join(tmp, "tempikon")
    recorder = os.path.join(tmp, os.path.basename(opts.recorder))
    copy_program(opts.program, program)
    shutil.copy(opts.recorder, recorder)
    # A sanitizer build's leak checker needs a thread of its own at exit,
    # which the limit forbids as well: it is left out here.
    asan = ":".join(o for o in (os.environ.get("ASAN_OPTIONS", ""), "verify_asan_link_order=0",
                                "detect_leaks=0") if o)
    for args in (["/QUERY"], ["/RUNONCE"]):
        r = run(program, recorder, tmp, args, log, {"ASAN_OPTIONS": asan}, user="games",
                wrap=("prlimit", "--nproc=1"))
        check(r.returncode == 1, f"{args}: exit 1, no abort", r)
        check("tempikon: no-thread.invalid: host not found: cannot start the lookup\n"
              in r.stderr, f"{args}: the reason", r)
    check(read_log(log) == [], "no clock setting")


if __name__ == "__main__":
    sys.exit(main(cases(globals()), "tempikon-diag-", "--recorder"))
