#!/usr/bin/env python3
"""The built program, one-shot and /QUERY, against NTP servers on loopback:
chronyd (serving this machine's clock, so that the error of a setting is the
recorded value minus the real time at the call) and scripted servers that
each answer with one fault.

usage: ntp_e2e.py CASE --program PATH --recorder PATH --chrony-dir DIR

chronyd is taken from DIR/usr/sbin/chronyd, fetched there first when it is
missing (tests/support/fetch_chrony.sh); the case is skipped when it cannot
be had. The program runs as in runonce_e2e.py: under capsh without
CAP_SYS_TIME, the clock recorder preloaded.

Addresses and port: blocks ntp_e2e and ntp_e2e_faults of
tests/support/test_addresses.txt.
"""
import concurrent.futures
import datetime
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from daytime_server import DaytimeServer, check  # noqa: E402
from chrony_e2e import (QUERY_LINE, check_set_from_chrony, chrony, chrony_main,  # noqa: E402
                        ntp_config)
from e2e import OUTCOME, cases, one_setting, read_log, reasons, run, seed  # noqa: E402
from ntp_servers import DelayLink, ScriptedNtpServer  # noqa: E402
from test_addresses import Block  # noqa: E402

NTP = Block("ntp_e2e")
FAULTS = Block("ntp_e2e_faults")
PORT = NTP.port
# A burst keeps two requests at least 2 s apart; measured at the server, a
# little less may show when the first request was the one held up.
MIN_GAP_S = 1.9


def case_chrony_primary(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    with chrony(opts, tmp, NTP.at(0)):
        seed(tmp, ntp_config(NTP.at(0)))
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    check_set_from_chrony(r, log, "chronyd as primary")
    check(reasons(r.stderr) == [], "no server failed", r)


def case_chrony_backup(opts, tmp):
    # The primary speaks Daytime, accepts and says nothing: after its 2 s the
    # backup, chronyd over NTP, sets the clock.
    log = os.path.join(tmp, "clock.log")
    silent = DaytimeServer(NTP.at(1), None)
    try:
        with chrony(opts, tmp, NTP.at(2)):
            seed(tmp, ntp_config(NTP.at(1), backup=NTP.at(2), timeout=2,
                                 daytime_primary=True))
            r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    finally:
        silent.close()
    check(silent.connections == 1, "the primary was asked first", r)
    check_set_from_chrony(r, log, "chronyd as backup")
    failed = reasons(r.stderr)
    check(len(failed) == 1 and failed[0].startswith(f"tempikon: {NTP.at(1)}: "),
          "the primary's failure, and only that, on stderr", r)


def check_query_line(line, server, before, after, r):
    m = QUERY_LINE.fullmatch(line)
    check(m is not None, f"the query line's shape, got {line!r}", r)
    check(m["server"].split(":")[0] == server, f"names {server}: {line}", r)
    check(m["stratum"] == "1" and m["leap"] == "0", f"chronyd's stratum 1, leap 0: {line}", r)
    check(abs(float(m["offset"])) <= 0.005, f"offset within 5 ms of this clock: {line}", r)
    check(float(m["rtt"]) < 1000, f"a loopback round trip: {line}", r)
    local = datetime.datetime.strptime(m["local"], "%Y-%m-%d %H:%M:%S.%f")
    check(before - datetime.timedelta(seconds=0.01) <= local
          <= after + datetime.timedelta(seconds=0.01),
          f"the local time a setting would set lies within the run ({before} - {after}): {line}",
          r)


def case_query(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    utc = {"TZ": "UTC"}
    with chrony(opts, tmp, NTP.at(3)), \
            ScriptedNtpServer(NTP.at(7), PORT, "kod_deny") as denying:
        seed(tmp, ntp_config(NTP.at(3)))
        before = datetime.datetime.utcnow()
        r = run(opts.program, opts.recorder, tmp, ["/QUERY"], log, utc)
        after = datetime.datetime.utcnow()
        check(r.returncode == 0, "exit 0 when the server gave a valid time", r)
        lines = r.stdout.splitlines()
        check(len(lines) == 1, "one line for the one server asked", r)
        check_query_line(lines[0], NTP.at(3), before, after, r)

        # A primary that refuses: its "no time" line, its reason, and the
        # backup's line.
        seed(tmp, ntp_config(NTP.at(7), backup=NTP.at(3)))
        before = datetime.datetime.utcnow()
        r = run(opts.program, opts.recorder, tmp, ["/QUERY"], log, utc)
        after = datetime.datetime.utcnow()
    check(r.returncode == 0, "exit 0 when the backup gave a valid time", r)
    lines = r.stdout.splitlines()
    refused_line = re.escape(NTP.at(7)) + rf"(:{PORT})?: no time"
    check(len(lines) == 2 and re.fullmatch(refused_line, lines[0]), "the primary's line", r)
    check_query_line(lines[1], NTP.at(3), before, after, r)
    check(any(l.startswith(f"tempikon: {NTP.at(7)}") and "DENY" in l for l in reasons(r.stderr)),
          "why the primary gave no time", r)
    check(denying.requests == 1, f"one request to the denying server, got {denying.requests}")
    check(read_log(log) == [], "a query sets nothing")


# mode, address, a word of the reason (a regular expression), whether the
# first reply ends the burst.
REJECTIONS = [
    ("wrong_origin", FAULTS.at(0), r"origin", False),
    ("kod_rate", FAULTS.at(1), r"\bRATE\b", False),
    ("kod_deny", FAULTS.at(2), r"\bDENY\b", True),
    ("kod_rstr", FAULTS.at(3), r"\bRSTR\b", True),
    ("leap3", FAULTS.at(4), r"(?i)leap|unsynchroni[sz]ed", False),
    ("stratum16", FAULTS.at(5), r"(?i)stratum", False),
    ("transmit_zero", FAULTS.at(6), r"(?i)transmit", False),
    ("other_port", FAULTS.at(7), r"(?i)another", False),
    ("root_distance", FAULTS.at(8), r"(?i)root distance", False),
]


def case_rejections(opts, tmp):
    """Each fault alone: no setting, exit 1, its own reason; the requests
    stay apart, and a DENY or RSTR stops them."""
    def one(row):
        mode, address, word, stops = row
        home = os.path.join(tmp, mode)
        log = os.path.join(home, "clock.log")
        seed(home, ntp_config(address, timeout=1))
        with ScriptedNtpServer(address, PORT, mode) as server:
            r = run(opts.program, opts.recorder, home, ["/RUNONCE"], log)
        check(r.returncode == 1, f"{mode}: exit 1 when no server gave a valid time", r)
        check(read_log(log) == [], f"{mode}: no clock setting", r)
        failed = reasons(r.stderr)
        check(len(failed) == 1 and failed[0].startswith(f"tempikon: {address}")
              and re.search(word, failed[0]),
              f"{mode}: one reason naming the server and saying /{word}/", r)
        if stops:
            check(server.requests == 1, f"{mode}: no request after it, got {server.requests}")
        check(1 <= server.requests <= 4, f"{mode}: a burst of at most 4, got {server.requests}")
        gaps = server.gaps()
        check(all(g >= MIN_GAP_S for g in gaps), f"{mode}: requests 2 s apart, gaps {gaps}")

    with concurrent.futures.ThreadPoolExecutor(len(REJECTIONS)) as pool:
        futures = [pool.submit(one, row) for row in REJECTIONS]
    failures = [str(f.exception()) for f in futures if f.exception()]
    check(not failures, "\n".join(failures))


def case_burst(opts, tmp):
    # 10 ms each way to the server: no sample's round trip is short enough
    # to end the burst early, so all four requests go out, 2 s apart; the
    # path is symmetric, so the setting stays on the real time.
    log = os.path.join(tmp, "clock.log")
    seed(tmp, ntp_config(NTP.at(8), timeout=2))
    with ScriptedNtpServer(NTP.at(6), PORT, "real") as server, \
            DelayLink(NTP.at(8), PORT, (NTP.at(6), PORT), forward_ms=10,
                      mean_queue_ms=0):
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    check(r.returncode == 0, "exit 0 when the clock was set", r)
    check(server.requests == 4, f"a burst of 4 requests, got {server.requests}", r)
    gaps = server.gaps()
    check(all(g >= MIN_GAP_S for g in gaps), f"requests 2 s apart, gaps {gaps}", r)
    value, at, record = one_setting(log, r)
    check(abs(value - at) <= 0.005, f"set within 5 ms of the real time: {record}", r)


def case_days_away(opts, tmp):
    # NTP carries the date: a server three days ahead moves the clock three
    # days on, not to the nearest matching time of day; but only with
    # MaxChange off, as no second server is configured to agree. (Three days
    # behind would be before this build was made, and refused as such.)
    log = os.path.join(tmp, "clock.log")
    seed(tmp, ntp_config(NTP.at(4)))
    with ScriptedNtpServer(NTP.at(4), PORT, "days_away", days=3):
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    check(r.returncode == 1, "exit 1: a change beyond MaxChange alone is not made", r)
    check(read_log(log) == [], "the clock was not set", r)
    check(r.stdout.strip().endswith(" is 3 days from this clock; not set: no second server "
                                    "agrees (MaxChange 1000 s)"), "standard output says why", r)
    seed(tmp, ntp_config(NTP.at(4), max_change=0))
    with ScriptedNtpServer(NTP.at(4), PORT, "days_away", days=3):
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    check(r.returncode == 0, "exit 0 when the clock was set", r)
    value, at, record = one_setting(log, r)
    check(abs(value - (at + 3 * 86400)) <= 1, f"set to the real time plus 3 days: {record}", r)
    m = OUTCOME.fullmatch(r.stdout.strip())
    check(m is not None and abs(int(m.group(2)) - 3 * 86400) <= 1,
          "d= says the three days", r)


def case_era(opts, tmp):
    # The server's clock reads 2036-02-08, past the NTP seconds' wrap on
    # 2036-02-07: its small timestamps stand for 2036, not 1900.
    log = os.path.join(tmp, "clock.log")
    seed(tmp, ntp_config(NTP.at(5), max_change=0))
    with ScriptedNtpServer(NTP.at(5), PORT, "era1"):
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log, {"TZ": "UTC"})
    check(r.returncode == 0, "exit 0 when the clock was set", r)
    value, _, record = one_setting(log, r)
    day = datetime.datetime.fromtimestamp(value, datetime.timezone.utc).date()
    check(day == datetime.date(2036, 2, 8), f"set to 2036-02-08, got {day}: {record}", r)


def case_slew(opts, tmp):
    # 100 ms off is slewed, never stepped; 2 s off is stepped; Step=always
    # steps the 100 ms too.
    runs = [("100 ms, auto", 0.1, None, "slew"),
            ("2 s, auto", 2.0, None, "step"),
            ("100 ms, always", 0.1, "always", "step")]
    for what, ahead, step, how in runs:
        home = os.path.join(tmp, what.replace(" ", "").replace(",", "-"))
        os.makedirs(home)
        log = os.path.join(home, "clock.log")
        seed(home, ntp_config(NTP.at(9), step=step))
        with ScriptedNtpServer(NTP.at(9), PORT, "days_away", days=ahead / 86400):
            r = run(opts.program, opts.recorder, home, ["/RUNONCE"], log)
        check(r.returncode == 0, f"{what}: exit 0 when the clock was set", r)
        m = OUTCOME.fullmatch(r.stdout.strip())
        check(m is not None and m["how"] == how, f"{what}: standard output says {how}", r)
        value, at, record = one_setting(log, r)
        call = record.split()[3]
        if how == "slew":
            check(call == "adjtime", f"{what}: slewed through adjtime: {record}", r)
            check(abs(value - ahead) <= 0.002, f"{what}: slews +{ahead} s: {record}", r)
            slewed_ms = int(m["slewed"]) / (1000 if m["unit"] == "µs" else 1)
            check(abs(slewed_ms - ahead * 1000) <= 2,
                  f"{what}: the outcome says the slewed milliseconds", r)
        else:
            check(call == "clock_adjtime(ADJ_SETOFFSET)", f"{what}: stepped by an offset: {record}",
                  r)
            check(abs(value - (at + ahead)) <= 0.002, f"{what}: set {ahead} s ahead: {record}", r)
    # /QUERY says how a setting would correct the clock.
    seed(tmp, ntp_config(NTP.at(9), step=None))
    with ScriptedNtpServer(NTP.at(9), PORT, "days_away", days=0.1 / 86400):
        r = run(opts.program, opts.recorder, tmp, ["/QUERY"], os.path.join(tmp, "q.log"))
    m = QUERY_LINE.fullmatch(r.stdout.strip())
    check(m is not None and m["how"] == "slew", "/QUERY says slew for 100 ms", r)


if __name__ == "__main__":
    sys.exit(chrony_main(cases(globals()), "tempikon-ntp-"))
