"""What the scripts that run the program against chronyd share: chronyd's
servers (NTP, and NTS with a test certificate), the settings that name them,
the /QUERY lines, the check of a setting made from chronyd's time, and the
entry point that skips a case when chronyd cannot be had.

Every chronyd of the tests listens on the ports of the plan's NTP and NTS
blocks (test_addresses.txt), each on an address of its script's own block."""
import argparse
import datetime
import os
import re

from daytime_server import check
from e2e import OUTCOME, SKIPPED, one_setting, run_case
from ntp_servers import ChronyServer, ChronyUnavailable, find_chronyd, make_certificate
from test_addresses import Block

PORT = Block("ntp_e2e").port
NTS_NTP_PORT, KE_PORT = Block("nts_e2e").ports

QUERY_LINE = re.compile(
    r"(?P<server>\S+?)(?: \(Backup\))?: NTP stratum=(?P<stratum>\d+) "
    r"offset=(?P<offset>[+-]\d+\.\d{6})s rtt=(?P<rtt>\d+\.\d{3})ms leap=(?P<leap>\d) "
    r"-> (?P<local>\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (?P<how>step|slew)")


def ntp_config(host, backup=None, timeout=5, daytime_primary=False, step="always",
               max_change=None):
    """Settings with an NTP primary (or a Daytime one, the default protocol)
    and an optional NTP backup. Every setting steps unless `step` says
    otherwise, so that the instant set can be measured."""
    lines = [f"Server={host}", f"Timeout={timeout}"] if daytime_primary else \
        [f"Server={host}:{PORT}", "Protocol=NTP", f"Timeout={timeout}"]
    if step:
        lines.append(f"Step={step}")
    if backup:
        lines += [f"Server2={backup}:{PORT}", "Protocol2=NTP"]
    if max_change is not None:
        lines.append(f"MaxChange={max_change}")
    return lines


def chrony(opts, tmp, address):
    # chronyd runs as nobody, which must reach its folder.
    os.chmod(tmp, 0o755)
    return ChronyServer(opts.chronyd, address, PORT, os.path.join(tmp, f"chrony-{address}"))


NTS_QUERY_LINE = re.compile(
    r"(?P<server>\S+?)(?: \(Backup\))?: NTS stratum=(?P<stratum>\d+) "
    r"offset=(?P<offset>[+-]\d+\.\d{6})s rtt=(?P<rtt>\d+\.\d{3})ms leap=(?P<leap>\d) "
    r'cert="(?P<cert>[^"]*)" '
    r"-> (?P<local>\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (?P<how>step|slew)")


def nts_config(host, trust=None, backup=None, trust2=None, timeout=5):
    """Settings with an NTS primary (and an optional NTS backup), each with
    its own trusted certificates when given. Every setting steps, so that
    the instant set can be measured."""
    lines = [f"Server={host}:{KE_PORT}", "Protocol=NTS", f"Timeout={timeout}", "Step=always"]
    if trust:
        lines.append(f"TrustedCertificates={trust}")
    if backup:
        lines += [f"Server2={backup}:{KE_PORT}", "Protocol2=NTS"]
    if trust2:
        lines.append(f"TrustedCertificates2={trust2}")
    return lines


def nts_chrony(opts, tmp, address, kind="good", ntp_server=None):
    """chronyd on address with a new certificate of that kind; returns the
    server (not yet started) and the certificate."""
    # chronyd runs as nobody, which must reach its folder.
    os.chmod(tmp, 0o755)
    cert = make_certificate(os.path.join(tmp, f"cert-{address}"), address, kind)
    server = ChronyServer(opts.chronyd, address, NTS_NTP_PORT,
                          os.path.join(tmp, f"chrony-{address}"), nts=cert, nts_port=KE_PORT, nts_ntp_server=ntp_server)
    return server, cert


def check_set_from_chrony(r, log, what):
    """Exit 0, the outcome line, and one setting within 1 ms of the real time."""
    check(r.returncode == 0, f"exit status 0 when the clock was set ({what})", r)
    lines = r.stdout.splitlines()
    check(len(lines) == 1 and OUTCOME.fullmatch(lines[0]), "one outcome line on stdout", r)
    shown, change = OUTCOME.fullmatch(lines[0]).groups()[:2]
    value, at, record = one_setting(log, r)
    error = value - at
    check(abs(error) <= 0.001, f"set within 1 ms of the real time, off by {error * 1000:.3f} ms:"
          f" {record}", r)
    check(abs(int(change)) <= 1, f"d= is the change made, about nothing here: {lines[0]}", r)
    # The time shown is that of the instant set, to the second (either side
    # of a second's edge).
    set_at = datetime.datetime.fromtimestamp(value)
    candidates = {(set_at + datetime.timedelta(seconds=s)).strftime("%H:%M:%S") for s in (0, 1)}
    check(shown in candidates, f"the outcome shows the time set, {shown} for {set_at}", r)


def chrony_main(cases, prefix):
    """Runs the case named on the command line; skipped without chronyd."""
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(cases))
    parser.add_argument("--program", required=True)
    parser.add_argument("--recorder", required=True)
    parser.add_argument("--chrony-dir", required=True)
    opts = parser.parse_args()
    try:
        opts.chronyd = find_chronyd(opts.chrony_dir)
    except ChronyUnavailable as e:
        print(f"SKIP {opts.case}: {e}")
        return SKIPPED
    return run_case(cases, opts, prefix)
