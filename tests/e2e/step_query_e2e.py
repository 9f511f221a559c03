#!/usr/bin/env python3
"""Steps by an offset and a /QUERY without a window system, against chronyd
on loopback (serving this machine's clock).

usage: step_query_e2e.py CASE --program PATH --recorder PATH --chrony-dir DIR

- step: a one-shot setting reaches the clock as clock_adjtime with
  ADJ_SETOFFSET, within 1 ms of the real time;
- step_refused_form: where the kernel refuses that form (the recorder told
  to answer EINVAL or EOPNOTSUPP), the clock is read and set by
  clock_settime, as closely;
- query_windowless: /QUERY answers with no display, no platform plugin to
  be had (QT_QPA_PLATFORM names none there is, QT_PLUGIN_PATH an empty
  folder), and, traced, opens no platform plugin, no font and, asking over
  NTP, not the system's trusted certificates, which an NTS query reads.

Addresses: block clock_steps of tests/support/test_addresses.txt (NTP on
port 11123, NTS on 11180 and 14480).
"""
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from chrony_e2e import (NTS_QUERY_LINE, QUERY_LINE, check_set_from_chrony,  # noqa: E402
                        chrony, chrony_main, nts_chrony, nts_config, ntp_config)
from daytime_server import check  # noqa: E402
from e2e import OUTCOME, cases, read_log, run, seed  # noqa: E402
from ntp_servers import make_certificate  # noqa: E402
from test_addresses import Block  # noqa: E402

STEPS = Block("clock_steps")
# Each case its own addresses: ctest runs them side by side.
STEP_SERVER, REFUSED_SERVER = STEPS.at(0), STEPS.at(2)
NTP_SERVER, NTS_SERVER = STEPS.at(3), STEPS.at(1)
STEP_CALL = "clock_adjtime(ADJ_SETOFFSET)"


def calls(log):
    return [record.split()[3] for record in read_log(log)]


def case_step(opts, tmp):
    log = os.path.join(tmp, "clock.log")
    seed(tmp, ntp_config(STEP_SERVER))
    with chrony(opts, tmp, STEP_SERVER):
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    check(calls(log) == [STEP_CALL], f"one step by an offset, got {read_log(log)}", r)
    check_set_from_chrony(r, log, "a step by an offset")
    check(OUTCOME.fullmatch(r.stdout.strip())["how"] == "step", "the outcome says step", r)


def case_step_refused_form(opts, tmp):
    seed(tmp, ntp_config(REFUSED_SERVER))
    with chrony(opts, tmp, REFUSED_SERVER):
        for error in ("EINVAL", "EOPNOTSUPP"):
            log = os.path.join(tmp, f"clock-{error}.log")
            r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log,
                    {"TEMPIKON_CLOCK_REFUSE_SETOFFSET": error})
            check(calls(log) == ["refused:" + STEP_CALL, "clock_settime"],
                  f"{error}: the step refused, then the clock set, got {read_log(log)}", r)
            # The refused attempt is no setting; the one made is measured.
            with open(log) as f:
                kept = [l for l in f if not l.split()[3].startswith("refused:")]
            with open(log, "w") as f:
                f.writelines(kept)
            check_set_from_chrony(r, log, f"set after {error}")


def traced_query(opts, tmp, name, config, extra_env):
    """/QUERY, under strace where it is installed; (result, the paths it
    opened, None without strace)."""
    home = os.path.join(tmp, name)
    seed(home, config)
    trace = os.path.join(tmp, f"{name}.trace")
    wrap = ["strace", "-f", "-qq", "-e", "trace=open,openat", "-o", trace] \
        if shutil.which("strace") else []
    if wrap:
        # LeakSanitizer cannot run under ptrace (the sanitizer build's other
        # runs look for leaks).
        asan = os.environ.get("ASAN_OPTIONS", "")
        extra_env = dict(extra_env, ASAN_OPTIONS=(asan + ":" if asan else "") +
                         "verify_asan_link_order=0:detect_leaks=0")
    r = run(opts.program, opts.recorder, home, ["/QUERY"], os.path.join(home, "clock.log"),
            extra_env, wrap=wrap)
    if not wrap:
        return r, None
    with open(trace) as f:
        opened = re.findall(r'open(?:at)?\((?:AT_FDCWD, )?"([^"]*)"', f.read())
    return r, opened


def case_query_windowless(opts, tmp):
    empty = os.path.join(tmp, "no-plugins")
    os.makedirs(empty)
    # No display and no platform plugin to be had: a window system could
    # not start at all.
    env = {"QT_QPA_PLATFORM": "nonexistent", "QT_PLUGIN_PATH": empty, "TZ": "UTC"}
    server, cert = nts_chrony(opts, tmp, NTS_SERVER)
    with chrony(opts, tmp, NTP_SERVER), server:
        r, ntp_opened = traced_query(opts, tmp, "ntp", ntp_config(NTP_SERVER), env)
        check(r.returncode == 0, "exit 0: the server gave a valid time", r)
        m = QUERY_LINE.fullmatch(r.stdout.strip())
        check(m is not None, f"the NTP query line, got {r.stdout.strip()!r}", r)
        check(abs(float(m["offset"])) <= 0.005, f"offset within 5 ms: {m['offset']}", r)
        check(r.stderr == "", f"nothing on standard error, got {r.stderr!r}", r)
        r, nts_opened = traced_query(opts, tmp, "nts", nts_config(NTS_SERVER, trust=cert.trust),
                                     {"TZ": "UTC"})
        check(r.returncode == 0 and NTS_QUERY_LINE.fullmatch(r.stdout.strip()),
              f"the NTS query line, got {r.stdout.strip()!r}", r)
        # A file that does not vouch for the server: another certificate
        # for the same address.
        other = make_certificate(os.path.join(tmp, "other-cert"), NTS_SERVER)
        r, other_opened = traced_query(opts, tmp, "nts-other",
                                       nts_config(NTS_SERVER, trust=other.trust), {"TZ": "UTC"})
        check(r.returncode == 1 and "not trusted" in r.stderr,
              "a server the file does not vouch for is not trusted", r)
    if None in (ntp_opened, nts_opened, other_opened):
        print("strace is not installed: what the queries opened was not looked at")
        return
    # What a window system would open; certificates of the system's store.
    # What a window system would open, Qt's GUI libraries and the program's
    # own part with windows among it; certificates of the system's store.
    window_system = re.compile(
        r"/platforms/|libqxcb|libqoffscreen|fonts\.conf|/fonts/|\.(ttf|otf|pfb|pcf)(\.gz)?$|"
        r"libQt6(Gui|Widgets)\.so|tempikon-window\.so")
    gui = [p for p in ntp_opened + nts_opened if window_system.search(p)]
    check(gui == [], f"no GUI library, platform plugin or font opened, got {gui}")
    store = re.compile(r"^/etc/ssl/certs/|ca-certificates")
    check(not any(store.search(p) for p in ntp_opened),
          "an NTP query leaves the system's trusted certificates alone")
    check(not any(store.search(p) for p in nts_opened),
          "an NTS query whose own file vouches for the server leaves the store alone")
    check(any(store.search(p) for p in other_opened),
          "one whose file does not reads the system's trusted certificates "
          "(the trace sees opens)")


if __name__ == "__main__":
    sys.exit(chrony_main(cases(globals()), "tempikon-step-query-"))
