#!/usr/bin/env python3
"""The built program, one-shot and /QUERY, over NTS: chronyd serving its key
establishment with a test certificate (the error of a setting is the
recorded value minus the real time at the call), chronyd behind proxies that
spoil its replies, and key-establishment servers that answer badly.

usage: nts_e2e.py CASE --program PATH --recorder PATH --chrony-dir DIR

chronyd is taken from DIR/usr/sbin/chronyd, fetched there first when it is
missing; the case is skipped when it cannot be had. The program runs as in
runonce_e2e.py: under capsh without CAP_SYS_TIME, the clock recorder
preloaded. Certificates are made by openssl in the case's own folder.

Addresses and ports (NTP, then key establishment): blocks nts_e2e and
nts_e2e_fixture of tests/support/test_addresses.txt.
"""
import concurrent.futures
import contextlib
import datetime
import os
import re
import socket
import ssl
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from daytime_server import check  # noqa: E402
from chrony_e2e import (NTS_QUERY_LINE, check_set_from_chrony, chrony_main,  # noqa: E402
                        nts_chrony, nts_config)
from e2e import cases, one_setting, read_log, reasons, run, seed  # noqa: E402
from ntp_servers import (AEAD_AES_SIV_CMAC_256, KE_AEAD, KE_COOKIE,  # noqa: E402
                         KE_NEXT_PROTOCOL, FakeNtsKeServer, TamperLink, ask,
                         make_certificate, nts_ke, pack, parse)
from test_addresses import Block  # noqa: E402

NTS = Block("nts_e2e")
FIXTURE = Block("nts_e2e_fixture")
NTP_PORT, KE_PORT = NTS.ports


def case_fixture(opts, tmp):
    """The servers and proxies the other cases rely on, seen by this
    process's own clients (Python's TLS, plain NTP): no program runs."""
    server, cert = nts_chrony(opts, tmp, FIXTURE.at(0))
    with server, \
            TamperLink(FIXTURE.at(1), NTP_PORT, (FIXTURE.at(0), NTP_PORT), "flip") as flip, \
            TamperLink(FIXTURE.at(2), NTP_PORT, (FIXTURE.at(0), NTP_PORT), "replay") as replay:
        records, _, _ = nts_ke(FIXTURE.at(0), KE_PORT, cert.trust)
        kinds = [kind for kind, _ in records]
        check(kinds.count(KE_COOKIE) == 8, f"chronyd's answer holds 8 cookies: {kinds}")
        bodies = dict(records)
        check(bodies[KE_NEXT_PROTOCOL] == b"\0\0"
              and bodies[KE_AEAD] == struct.pack("!H", AEAD_AES_SIV_CMAC_256),
              f"NTPv4 and AES-SIV-CMAC-256 agreed: {records}")

        direct, flipped = ask(FIXTURE.at(0), NTP_PORT), ask(FIXTURE.at(1), NTP_PORT)
        check(direct is not None and flipped is not None, "answers direct and through the flip")
        check(abs(abs(flipped[1] - direct[1]) - 0.5) < 0.05,
              f"one transmit second flipped: offset {flipped[1]:+.6f} s against "
              f"{direct[1]:+.6f} s direct")

        # Two requests from one socket: the first is answered, the second
        # with the first's reply before its own (told apart by the origin,
        # the request's transmit value).
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(1.0)
            s.connect((FIXTURE.at(2), NTP_PORT))
            s.send(pack(mode=3, stratum=0, transmit=111))
            origins = [parse(s.recv(1024))["origin"]]
            s.send(pack(mode=3, stratum=0, transmit=222))
            origins += [parse(s.recv(1024))["origin"] for _ in range(2)]
        check(origins == [111, 111, 222], f"the first reply again, then the second: {origins}")
        check((flip.tampered, replay.tampered) == (1, 1), "each proxy spoiled one reply")

    # Each certificate fails the way it claims, checked by OpenSSL.
    rows = [("good", False, "self-signed certificate"),
            ("expired", True, "certificate has expired"),
            ("wrong_name", True, "IP address mismatch")]
    for kind, trusted, message in rows:
        cert = make_certificate(os.path.join(tmp, kind), FIXTURE.at(3), kind)
        with FakeNtsKeServer(FIXTURE.at(3), KE_PORT, cert, "refuse"):
            try:
                nts_ke(FIXTURE.at(3), KE_PORT, cert.trust if trusted else None)
                failure = "none"
            except ssl.SSLCertVerificationError as e:
                failure = e.verify_message
        check(message in failure, f"{kind}: the certificate check says {message!r}: {failure}")


def case_set(opts, tmp):
    # (a) Set within 1 ms of the real time, the server's certificate trusted
    # through TrustedCertificates; then the same server as an untrusted
    # primary and a backup trusted through TrustedCertificates2: each
    # server's trust is its own.
    server, cert = nts_chrony(opts, tmp, NTS.at(0))
    runs = [("primary", dict(trust=cert.trust), []),
            ("backup", dict(backup=NTS.at(0), trust2=cert.trust),
             [r"^tempikon: 127\.0\.0\.180\S*: .*certificate is not trusted"])]
    with server:
        for what, keys, failed in runs:
            home = os.path.join(tmp, what)
            log = os.path.join(home, "clock.log")
            seed(home, nts_config(NTS.at(0), **keys))
            r = run(opts.program, opts.recorder, home, ["/RUNONCE"], log)
            check_set_from_chrony(r, log, f"chronyd over NTS as {what}")
            check(r.stdout.rstrip().endswith(", authenticated (NTS) (step)") or
                  r.stdout.rstrip().endswith(", authenticated (NTS) (slew)"),
                  f"{what}: the outcome says it was authenticated", r)
            said = reasons(r.stderr)
            check(len(said) == len(failed) and all(re.search(p, l) for p, l in zip(failed, said)),
                  f"{what}: the failures on stderr are {failed}", r)


def case_query(opts, tmp):
    # (e) /QUERY names NTS and the certificate's subject, and sets nothing.
    log = os.path.join(tmp, "clock.log")
    server, cert = nts_chrony(opts, tmp, NTS.at(1))
    seed(tmp, nts_config(NTS.at(1), trust=cert.trust))
    with server:
        before = datetime.datetime.utcnow()
        r = run(opts.program, opts.recorder, tmp, ["/QUERY"], log, {"TZ": "UTC"})
        after = datetime.datetime.utcnow()
    check(r.returncode == 0, "exit 0 when the server gave a valid time", r)
    lines = r.stdout.splitlines()
    check(len(lines) == 1, "one line for the one server asked", r)
    m = NTS_QUERY_LINE.fullmatch(lines[0])
    check(m is not None, f"the NTS query line's shape, got {lines[0]!r}", r)
    check(m["server"].split(":")[0] == NTS.at(1), f"names the server: {lines[0]}", r)
    check(m["stratum"] == "1" and m["leap"] == "0", f"chronyd's stratum 1, leap 0: {lines[0]}", r)
    check(abs(float(m["offset"])) <= 0.005, f"offset within 5 ms of this clock: {lines[0]}", r)
    parts = sorted(p.strip() for p in m["cert"].split(","))
    check(parts == sorted(cert.subject.split(",")),
          f"the certificate's subject {cert.subject!r}: {lines[0]}", r)
    local = datetime.datetime.strptime(m["local"], "%Y-%m-%d %H:%M:%S.%f")
    slack = datetime.timedelta(seconds=0.01)
    check(before - slack <= local <= after + slack,
          f"the time a setting would set lies within the run ({before} - {after}): {lines[0]}", r)
    check(read_log(log) == [], "a query sets nothing", r)


def case_replay(opts, tmp):
    # (d) After the first reply every request is answered first with that
    # reply again, then with its own. Each exchange takes 10 ms, so that the
    # burst goes on, and a replay, answered at once, would look the best
    # sample: used, it would set the clock a request's spacing (2 s) back.
    log = os.path.join(tmp, "clock.log")
    server, cert = nts_chrony(opts, tmp, NTS.at(7), ntp_server=NTS.at(8))
    seed(tmp, nts_config(NTS.at(7), trust=cert.trust, timeout=2))
    with server, TamperLink(NTS.at(8), NTP_PORT, (NTS.at(7), NTP_PORT), "replay",
                            hold_ms=5) as replay:
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
        check(replay.tampered >= 1,
              f"the burst went on, and met a replay ({replay.requests} requests)", r)
        check(r.returncode == 0, "exit 0: the server's own replies set the clock", r)
        value, at, record = one_setting(log, r)
        check(abs(value - at) <= 0.005, f"set within 5 ms of the real time, not from a replay: "
              f"{record}", r)
        # A later run that gets nothing but the old reply sets nothing.
        replay.forward = False
        r = run(opts.program, opts.recorder, tmp, ["/RUNONCE"], log)
    check(r.returncode == 1, "exit 1: an old reply alone is no time", r)
    check(len(read_log(log)) == 1, "no second setting", r)
    failed = reasons(r.stderr)
    check(len(failed) == 1 and NTS.at(7) in failed[0] and "another request" in failed[0],
          "the reason: the reply answers another request", r)


# name, address, the server: ("chrony", certificate kind, whether the
# program trusts it, proxy mode or None) or ("fake", answer); what the one
# reason says (regular expressions).
FAILURES = [
    ("untrusted", NTS.at(2), ("chrony", "good", False, None),
     [r"certificate is not trusted", r"CN=tempikon-nts 127\.0\.0\.182"]),
    ("expired", NTS.at(3), ("chrony", "expired", True, None), [r"certificate expired"]),
    ("wrong_name", NTS.at(4), ("chrony", "wrong_name", True, None),
     [r"certificate is for", r"wrong\.tempikon\.invalid"]),
    ("flipped", NTS.at(5), ("chrony", "good", True, (NTS.at(6), "flip")),
     [r"authentication failed"]),
    ("refused", NTS.at(9), ("fake", "refuse"), [r"the server refused"]),
    ("no_cookies", NTS.at(10), ("fake", "no_cookies"), [r"sent no cookies"]),
]


def case_failures(opts, tmp):
    """(b), (c), (f) and the other reasons: no setting, exit 1, one reason
    naming the server; a spoiled reply is never used."""
    def one(row):
        name, address, how, words = row
        home = os.path.join(tmp, name)
        os.makedirs(home)
        log = os.path.join(home, "clock.log")
        with contextlib.ExitStack() as stack:
            tamper = None
            if how[0] == "chrony":
                _, kind, trusted, proxy = how
                server, cert = nts_chrony(opts, home, address, kind,
                                          ntp_server=proxy[0] if proxy else None)
                stack.enter_context(server)
                if proxy:
                    tamper = stack.enter_context(
                        TamperLink(proxy[0], NTP_PORT, (address, NTP_PORT), proxy[1]))
            else:
                trusted = True
                cert = make_certificate(os.path.join(home, "cert"), address)
                stack.enter_context(FakeNtsKeServer(address, KE_PORT, cert, how[1]))
            seed(home, nts_config(address, trust=cert.trust if trusted else None, timeout=2))
            r = run(opts.program, opts.recorder, home, ["/RUNONCE"], log)
        check(r.returncode == 1, f"{name}: exit 1 when no server gave a valid time", r)
        check(read_log(log) == [], f"{name}: no clock setting", r)
        failed = reasons(r.stderr)
        check(len(failed) == 1 and failed[0].startswith(f"tempikon: {address}")
              and all(re.search(w, failed[0]) for w in words),
              f"{name}: one reason naming the server and saying {words}", r)
        if tamper:
            check(tamper.tampered >= 1,
                  f"{name}: the proxy spoiled a reply ({tamper.requests} requests)", r)

    os.chmod(tmp, 0o755)  # for chronyd, which runs as nobody
    with concurrent.futures.ThreadPoolExecutor(len(FAILURES)) as pool:
        futures = [pool.submit(one, row) for row in FAILURES]
    failures = [str(f.exception()) for f in futures if f.exception()]
    check(not failures, "\n".join(failures))


if __name__ == "__main__":
    sys.exit(chrony_main(cases(globals()), "tempikon-nts-"))
