#!/usr/bin/env python3
"""The built program's history file, one-shot against chronyd.

usage: history_e2e.py CASE --program PATH --recorder PATH --chrony-dir DIR

  three_settings  three /RUNONCE settings append three lines, each with the
                  offset the clock recorder saw the program slew by; a
                  /QUERY after them adds none
  fifo            a FIFO where history.csv belongs: the setting is made at
                  once all the same, and the reason is on standard error

The program's clock starts a little behind or ahead of the real one
(TEMPIKON_CLOCK_START), so that each setting has an offset of its own;
chronyd serves the real time. Addresses: block history of
tests/support/test_addresses.txt, NTP on port 11123.
"""
import csv
import os
import re
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from chrony_e2e import PORT, chrony, chrony_main, ntp_config  # noqa: E402
from daytime_server import check  # noqa: E402
from e2e import cases, read_log, run, seed  # noqa: E402
from test_addresses import Block  # noqa: E402

# The first two addresses of the block; history_desktop_e2e.py has the next two.
HISTORY = Block("history")

HEADER = ["time_utc", "server", "protocol", "offset_s", "round_trip_s", "correction",
          "outcome", "reason"]
RECORD = re.compile(r"^\S+ \S+ \S+ (?P<call>\w+) value=(?P<value>-?\d+\.\d+) at=")


def history_path(home):
    return os.path.join(home, "Tempikon", "history.csv")


def case_three_settings(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    # Seconds the program's clock lags the real one as it starts (the time
    # it takes to start adds to each): each is slewed away (below 0.4 s),
    # and the recorder logs the slew asked for. Never ahead: the kernel's
    # receive stamp is not shifted, and a reply received before it was
    # asked for (by the shifted clock) is refused.
    lags = [0.03, 0.12, 0.07]
    with chrony(opts, tmp, HISTORY.at(0)):
        seed(tmp, ntp_config(HISTORY.at(0), step="auto"))
        for lag in lags:
            start = time.time() - lag
            r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log,
                    {"TEMPIKON_CLOCK_START": f"{start:.6f}", "TZ": "UTC"})
            check(r.returncode == 0, f"exit 0 for the setting with a lag of {lag} s", r)
        # A query sets nothing, and records nothing.
        r = run(opts.program, opts.recorder, tmp, ["/QUERY"], os.path.join(tmp, "query.log"))
        check(r.returncode == 0 and read_log(os.path.join(tmp, "query.log")) == [],
              "the query ran and set nothing", r)
    slews = []
    for line in read_log(log):
        m = RECORD.match(line)
        check(m is not None, f"a recorder line, got {line!r}")
        check(m["call"] == "adjtime", f"each setting slewed: {line}")
        slews.append(float(m["value"]))
    check(len(slews) == 3, f"three slews recorded, got {slews}")

    with open(history_path(tmp), newline="") as f:
        rows = list(csv.reader(f))
    check(rows[0] == HEADER, f"the header names the columns: {rows[0]}")
    records = rows[1:]
    check(len(records) == 3, f"three records, got {records}")
    for row, slew, lag in zip(records, slews, lags):
        record = dict(zip(HEADER, row))
        check(record["server"] == f"{HISTORY.at(0)}:{PORT}" and record["protocol"] == "NTP",
              f"server and protocol: {row}")
        check(record["correction"] == "slew" and record["outcome"] == "set"
              and record["reason"] == "", f"a slew that was made: {row}")
        offset = float(record["offset_s"])
        # The same figure the program handed the kernel, to the microsecond.
        check(abs(offset - slew) <= 0.000001,
              f"the recorded offset {offset} is the slew the recorder saw, {slew}")
        check(lag - 0.1 <= offset <= lag + 0.25, f"the offset {offset} is about the lag {lag}")
        check(0 <= float(record["round_trip_s"]) < 1, f"a loopback round trip: {row}")
        check(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z", record["time_utc"]),
              f"the time in UTC: {row}")
        at = time.mktime(time.strptime(record["time_utc"][:19], "%Y-%m-%dT%H:%M:%S"))
        check(abs(at - time.mktime(time.gmtime())) < 120, f"written just now: {row}")


def case_fifo(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    os.makedirs(os.path.dirname(history_path(tmp)), exist_ok=True)
    os.mkfifo(history_path(tmp))
    with chrony(opts, tmp, HISTORY.at(1)):
        seed(tmp, ntp_config(HISTORY.at(1)))
        began = time.monotonic()
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
        took = time.monotonic() - began
    check(r.returncode == 0, "the clock was set", r)
    check(len(read_log(log)) == 1, "one setting recorded", r)
    check("The history could not be written: not a regular file" in r.stderr,
          "the reason on standard error", r)
    # The one-shot wait is 5 s; a blocked open would hold it until the timeout.
    check(took < 30, f"the run ended on its own, in {took:.1f} s", r)
    check(os.path.exists(history_path(tmp)) and not os.path.isfile(history_path(tmp)),
          "the FIFO was left as it was")


if __name__ == "__main__":
    sys.exit(chrony_main(cases(globals()), "tempikon-history-"))
