"""NTP servers on loopback for the end-to-end tests and the benchmark.

- ChronyServer: chronyd (Debian's, unpacked by fetch_chrony.sh) serving the
  real time, run as nobody with -x so that it can never set the clock.
- ScriptedNtpServer: answers with the real time or with one fault, counts
  the requests and notes when each arrived.
- DelayLink: a UDP proxy that delays each packet both ways, as a path with
  queues would.
- make_certificate, NTS: a key and certificate for chronyd's NTS-KE port (a
  good one, one for another name, an expired one); nts_ke, a key
  establishment from this process that reads the records.
- TamperLink: a UDP proxy that flips a bit of each reply or replays an old
  one, for NTS's authentication.
- FakeNtsKeServer: a key-establishment server that refuses, or agrees but
  sends no cookies.

Only loopback addresses and unprivileged ports, as the callers pass them.
"""
import calendar
import collections
import fcntl
import heapq
import math
import os
import pwd
import random
import select
import shutil
import socket
import ssl
import struct
import subprocess
import threading
import time

# Seconds from 1900-01-01 (NTP era 0) to 1970-01-01.
NTP_UNIX_OFFSET = 2_208_988_800
HEADER = struct.Struct("!BBbbII4sQQQQ")
# Linux's value; Python names it only from 3.12 on.
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)

HERE = os.path.dirname(os.path.abspath(__file__))
FETCH_SCRIPT = os.path.join(HERE, "fetch_chrony.sh")


def to_ntp(unix_seconds):
    """The 64-bit NTP timestamp of an instant; the era is dropped."""
    whole = math.floor(unix_seconds)
    fraction = int((unix_seconds - whole) * 2**32) & 0xFFFFFFFF
    return (((whole + NTP_UNIX_OFFSET) & 0xFFFFFFFF) << 32) | fraction


def from_ntp(raw, near=None):
    """The instant of an NTP timestamp, in the era nearest `near` (now)."""
    near = time.time() if near is None else near
    seconds = (raw >> 32) + (raw & 0xFFFFFFFF) / 2**32 - NTP_UNIX_OFFSET
    era = round((near - seconds) / 2**32)
    return seconds + era * 2**32


def parse(data):
    """The header's fields as a dict; None when shorter than a header."""
    if len(data) < HEADER.size:
        return None
    (first, stratum, poll, precision, root_delay, root_dispersion, refid,
     reference, origin, receive, transmit) = HEADER.unpack_from(data)
    return {"leap": first >> 6, "version": (first >> 3) & 7, "mode": first & 7,
            "stratum": stratum, "poll": poll, "precision": precision,
            "root_delay": root_delay, "root_dispersion": root_dispersion,
            "refid": refid, "reference": reference, "origin": origin,
            "receive": receive, "transmit": transmit}


def pack(leap=0, version=4, mode=4, stratum=1, poll=0, precision=-20, root_delay=0,
         root_dispersion=0, refid=b"LOCL", reference=0, origin=0, receive=0, transmit=0):
    return HEADER.pack((leap << 6) | (version << 3) | mode, stratum, poll, precision,
                       root_delay, root_dispersion, refid, reference, origin, receive,
                       transmit)


def ask(address, port, timeout=1.0):
    """One SNTP exchange from this process: (reply fields, offset, delay)
    or None. The request carries a random transmit value, as a careful
    client's does."""
    token = random.getrandbits(64)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(timeout)
        s.connect((address, port))
        t1 = time.time()
        s.send(pack(mode=3, stratum=0, precision=0, refid=b"\0\0\0\0", transmit=token))
        try:
            data = s.recv(1024)
        except OSError:
            return None
        t4 = time.time()
    reply = parse(data)
    if reply is None or reply["origin"] != token:
        return None
    t2, t3 = from_ntp(reply["receive"]), from_ntp(reply["transmit"])
    return reply, ((t2 - t1) + (t3 - t4)) / 2, (t4 - t1) - (t3 - t2)


# ---- chronyd ---------------------------------------------------------------

class ChronyUnavailable(Exception):
    """chronyd could not be fetched here (no network, no package)."""


def find_chronyd(chrony_dir):
    """chronyd unpacked into chrony_dir, fetched once when it is not there.
    Several tests may ask at once: the fetch runs under a lock."""
    chrony_dir = os.path.abspath(chrony_dir)
    chronyd = os.path.join(chrony_dir, "usr", "sbin", "chronyd")
    if os.access(chronyd, os.X_OK):
        return chronyd
    os.makedirs(os.path.dirname(chrony_dir), exist_ok=True)
    with open(chrony_dir + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        r = subprocess.run(["bash", FETCH_SCRIPT, chrony_dir], capture_output=True,
                           text=True)
    if r.returncode != 0 or not os.access(chronyd, os.X_OK):
        raise ChronyUnavailable(f"chronyd could not be fetched: {r.stderr.strip()}")
    return chronyd


class ChronyServer:
    """chronyd on address:port serving this machine's clock (local stratum 1),
    run as nobody, in the foreground, with -x: it never controls the clock.
    Its files live in `folder` (made readable for nobody; its parents must
    be searchable). A context manager: started and answering on entry,
    stopped on exit; it raises when the log does not confirm -x.

    With `nts` (a Certificate from make_certificate) it also serves NTS key
    establishment on address:nts_port; `nts_ntp_server` names the NTP
    address its answers send clients to (a proxy on the same port number)
    instead of its own."""

    SAFE = "Disabled control of system clock"

    def __init__(self, chronyd, address, port, folder, ready_timeout=15.0, nts=None,
                 nts_port=None, nts_ntp_server=None):
        self.chronyd = chronyd
        self.address = address
        self.port = port
        self.folder = os.path.abspath(folder)
        self.ready_timeout = ready_timeout
        self.config = os.path.join(self.folder, "server.conf")
        self.log_path = os.path.join(self.folder, "chronyd.log")
        self.proc = None
        if nts and not nts_port:
            raise ValueError("an NTS server needs its nts_port")
        self.nts = nts
        self.nts_port = nts_port
        self.nts_ntp_server = nts_ntp_server

    def _nts_lines(self, nobody):
        """The NTS lines of server.conf; the key and certificate are copied
        into the folder, the key readable by nobody alone."""
        if not self.nts:
            return ""
        key = os.path.join(self.folder, "server.key")
        cert = os.path.join(self.folder, "server.crt")
        shutil.copyfile(self.nts.key, key)
        shutil.copyfile(self.nts.cert, cert)
        os.chown(key, nobody.pw_uid, nobody.pw_gid)
        os.chmod(key, 0o600)
        os.chmod(cert, 0o644)
        # One process: the key establishment answers from the main one, so
        # that the log holds everything and nothing outlives the server.
        lines = (f"ntsserverkey {key}\n"
                 f"ntsservercert {cert}\n"
                 f"ntsport {self.nts_port}\n"
                 "ntsprocesses 0\n")
        if self.nts_ntp_server:
            lines += f"ntsntpserver {self.nts_ntp_server}\n"
        return lines

    def __enter__(self):
        nobody = pwd.getpwnam("nobody")
        os.makedirs(self.folder, exist_ok=True)
        os.chown(self.folder, nobody.pw_uid, nobody.pw_gid)
        os.chmod(self.folder, 0o755)
        with open(self.config, "w") as f:
            f.write(f"bindaddress {self.address}\n"
                    f"port {self.port}\n"
                    "allow 127.0.0.0/8\n"
                    "local stratum 1\n"
                    "cmdport 0\n"
                    "bindcmdaddress /\n"
                    f"pidfile {self.folder}/chronyd.pid\n"
                    f"driftfile {self.folder}/drift\n"
                    + self._nts_lines(nobody))
        os.chmod(self.config, 0o644)
        log = open(self.log_path, "w")
        # Started as nobody (-U: no check for root), so that it holds no
        # capability at all; -x besides.
        # A copy nobody can reach, wherever the build tree lies (a home
        # folder others may not enter).
        binary = os.path.join(self.folder, "chronyd")
        shutil.copy(self.chronyd, binary)
        os.chmod(binary, 0o755)
        self.proc = subprocess.Popen(
            [binary, "-x", "-U", "-u", "nobody", "-d", "-4", "-f", self.config],
            stdout=log, stderr=subprocess.STDOUT, user=nobody.pw_uid,
            group=nobody.pw_gid, extra_groups=[], cwd=self.folder)
        log.close()
        try:
            self._wait_ready()
            if self.SAFE not in self.log():
                raise RuntimeError(f"chronyd's log lacks {self.SAFE!r}:\n{self.log()}")
        except BaseException:
            self._stop()
            raise
        return self

    def _wait_ready(self):
        deadline = time.monotonic() + self.ready_timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError(f"chronyd ended with status {self.proc.returncode}:\n"
                                   f"{self.log()}")
            answer = ask(self.address, self.port, timeout=0.2)
            if answer and answer[0]["mode"] == 4 and answer[0]["leap"] != 3 \
                    and 0 < answer[0]["stratum"] < 16 and self._nts_listening():
                return
            time.sleep(0.1)
        raise RuntimeError(f"chronyd gave no synchronised answer on {self.address}:"
                           f"{self.port} within {self.ready_timeout} s:\n{self.log()}")

    def _nts_listening(self):
        if not self.nts:
            return True
        try:
            with socket.create_connection((self.address, self.nts_port), timeout=0.2):
                return True
        except OSError:
            return False

    def log(self):
        try:
            with open(self.log_path) as f:
                return f.read()
        except OSError:
            return ""

    def _stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def __exit__(self, kind, value, traceback):
        self._stop()
        if self.SAFE not in self.log() and kind is None:
            raise RuntimeError(f"chronyd's log lacks {self.SAFE!r}:\n{self.log()}")
        return False


# ---- the scripted server ---------------------------------------------------

# 2036-02-08 12:00:00 UTC: in NTP era 1, which began 2036-02-07 06:28:16.
ERA1_INSTANT = calendar.timegm((2036, 2, 8, 12, 0, 0))

MODES = ("real", "wrong_origin", "kod_rate", "kod_deny", "kod_rstr", "leap3", "stratum16",
         "transmit_zero", "other_port", "root_distance", "days_away", "era1")


class ScriptedNtpServer:
    """An NTP server on address:port in pure Python. `mode` (one of MODES)
    says what it answers:

      real           the real time, stratum 1
      wrong_origin   the origin field is not the request's transmit value
      kod_rate, kod_deny, kod_rstr   a kiss-o'-death: stratum 0, that code
      leap3          leap indicator 3: not synchronised
      stratum16      stratum 16
      transmit_zero  the transmit timestamp is zero
      other_port     the reply comes from another port of the same address
      root_distance  root dispersion 2 s
      days_away      its clock is `days` days from the real one
      era1           its clock reads 2036-02-08, NTP era 1, and runs on

    `requests` counts the requests; `arrivals` holds each one's arrival
    (time.time(), as the kernel stamped it)."""

    def __init__(self, address, port, mode="real", days=-3):
        if mode not in MODES:
            raise ValueError(f"unknown mode {mode}")
        self.address = address
        self.port = port
        self.mode = mode
        self.days = days
        self.arrivals = []
        self.lock = threading.Lock()
        self.started = time.time()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((address, port))
        self.sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        self.other = None
        if mode == "other_port":
            self.other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.other.bind((address, 0))
        self.closed = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    @property
    def requests(self):
        with self.lock:
            return len(self.arrivals)

    def gaps(self):
        """Seconds between consecutive requests."""
        with self.lock:
            a = list(self.arrivals)
        return [b - a_ for a_, b in zip(a, a[1:])]

    def _clock(self, now=None):
        """This server's reading of its own clock at `now` (real time)."""
        now = time.time() if now is None else now
        if self.mode == "days_away":
            return now + self.days * 86400
        if self.mode == "era1":
            return ERA1_INSTANT + (now - self.started)
        return now

    def _serve(self):
        while True:
            try:
                data, ancillary, _, client = self.sock.recvmsg(1024, socket.CMSG_SPACE(16))
            except OSError:
                return
            if self.closed:
                return
            # The kernel's arrival stamp: this thread may run late on a busy
            # machine, which would show in the gaps and the receive time.
            arrival = time.time()
            for level, kind, value in ancillary:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                    seconds, nanoseconds = struct.unpack("qq", value[:16])
                    arrival = seconds + nanoseconds / 1e9
            with self.lock:
                self.arrivals.append(arrival)
            request = parse(data)
            if request is None or request["mode"] != 3:
                continue
            reply = self._reply(request, self._clock(arrival))
            sender = self.other if self.other else self.sock
            try:
                sender.sendto(reply, client)
            except OSError:
                return

    def _reply(self, request, received):
        fields = {"version": request["version"], "poll": request["poll"],
                  "origin": request["transmit"], "receive": to_ntp(received),
                  "reference": to_ntp(self._clock() - 16),
                  "root_dispersion": 0x0000_0010}  # 0.24 ms
        mode = self.mode
        if mode == "wrong_origin":
            fields["origin"] = request["transmit"] ^ (1 << 40)
        elif mode.startswith("kod_"):
            fields.update(leap=3, stratum=0, refid=mode[4:].upper().encode(),
                          reference=0)
        elif mode == "leap3":
            fields["leap"] = 3
        elif mode == "stratum16":
            fields["stratum"] = 16
        elif mode == "root_distance":
            fields["root_dispersion"] = 2 << 16
        fields["transmit"] = 0 if mode == "transmit_zero" else to_ntp(self._clock())
        return pack(**fields)

    def close(self):
        if self.closed:
            return
        self.closed = True
        # A datagram socket's recvfrom is woken by shutdown.
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self.thread.join(timeout=5)
        if self.other:
            self.other.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


# ---- the delaying proxy ----------------------------------------------------

class _UdpProxy:
    """What the test proxies share: a listener on listen_address:port for
    clients, an upstream socket per client towards `target` (by_socket maps
    it back to its client), and a thread running self._run until close().
    A subclass sets its own state, then calls _start()."""

    def __init__(self, listen_address, port, target):
        self.target = target
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.listener.bind((listen_address, port))
        self.by_socket = {}
        self.wake_r, self.wake_w = os.pipe()
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)

    def _start(self):
        self.thread.start()

    def _new_upstream(self, client):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((self.listener.getsockname()[0], 0))
        self.by_socket[s] = client
        return s

    def _received(self, timeout):
        """(socket, data, source) of each datagram that came within timeout."""
        readable, _, _ = select.select(
            [self.listener, self.wake_r] + list(self.by_socket), [], [], timeout)
        for sock in readable:
            if sock == self.wake_r:
                continue
            try:
                data, source = sock.recvfrom(2048)
            except OSError:
                continue
            yield sock, data, source

    def close(self):
        if not self.running:
            return
        self.running = False
        os.write(self.wake_w, b"x")
        self.thread.join(timeout=5)
        for s in self.by_socket:
            s.close()
        self.listener.close()
        os.close(self.wake_r)
        os.close(self.wake_w)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class DelayLink(_UdpProxy):
    """A UDP proxy on listen_address:port to target (address, port). Each
    packet, either way, is held forward_ms plus a queueing delay drawn from
    an exponential distribution of mean mean_queue_ms (at most
    max_queue_ms), from a random generator seeded with `seed`. At most
    max_packets wait at once (more are dropped, as a full queue drops
    them); a client's upstream socket is forgotten after idle_s without
    traffic. `delays` records each packet's delay in seconds, by direction
    ("out" to the target, "back" to the client)."""

    def __init__(self, listen_address, port, target, forward_ms=10, mean_queue_ms=10,
                 seed=1, max_queue_ms=200, max_packets=64, idle_s=30):
        super().__init__(listen_address, port, target)
        self.forward = forward_ms / 1000
        self.mean_queue = mean_queue_ms / 1000
        self.max_queue = max_queue_ms / 1000
        self.max_packets = max_packets
        self.idle = idle_s
        self.random = random.Random(seed)
        self.delays = {"out": [], "back": []}
        self.dropped = 0
        # client address -> [upstream socket, last use]
        self.upstream = {}
        self.queue = []  # (due, sequence, socket, data, destination)
        self.sequence = 0
        self._start()

    def _delay(self, direction):
        queueing = 0.0
        if self.mean_queue > 0:
            queueing = min(self.random.expovariate(1 / self.mean_queue), self.max_queue)
        delay = self.forward + queueing
        self.delays[direction].append(delay)
        return delay

    def _hold(self, sock, data, destination, direction):
        if len(self.queue) >= self.max_packets:
            self.dropped += 1
            return
        due = time.monotonic() + self._delay(direction)
        self.sequence += 1
        heapq.heappush(self.queue, (due, self.sequence, sock, data, destination))

    def _upstream_for(self, client, now):
        entry = self.upstream.get(client)
        if entry is None:
            entry = [self._new_upstream(client), now]
            self.upstream[client] = entry
        entry[1] = now
        return entry[0]

    def _forget_idle(self, now):
        for client, (s, last) in list(self.upstream.items()):
            if now - last > self.idle:
                del self.upstream[client]
                del self.by_socket[s]
                s.close()

    def _run(self):
        while self.running:
            now = time.monotonic()
            while self.queue and self.queue[0][0] <= now:
                _, _, sock, data, destination = heapq.heappop(self.queue)
                try:
                    sock.sendto(data, destination)
                except OSError:
                    pass
            self._forget_idle(now)
            timeout = max(0.0, self.queue[0][0] - now) if self.queue else 1.0
            for sock, data, source in self._received(timeout):
                now = time.monotonic()
                if sock is self.listener:
                    self._hold(self._upstream_for(source, now), data, self.target, "out")
                elif source == self.target:
                    client = self.by_socket[sock]
                    self.upstream[client][1] = now
                    self._hold(self.listener, data, client, "back")


# ---- NTS: certificates and key establishment -------------------------------

# key and cert: the server's files; trust: the file a client must trust
# (the certificate itself, or the CA that signed it); subject: its DN as
# openssl prints it (RFC 2253).
Certificate = collections.namedtuple("Certificate", "key cert trust subject")

CERT_KINDS = ("good", "wrong_name", "expired")

# Our own openssl configuration, so that the system's adds no extension.
_OPENSSL_CONF = """\
[req]
distinguished_name = dn
prompt = no
[dn]
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = {san}
[ca_cert]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
[ca]
default_ca = test_ca
[test_ca]
database = {folder}/index.txt
new_certs_dir = {folder}
serial = {folder}/serial
default_md = sha256
policy = any
unique_subject = no
preserve = yes
x509_extensions = leaf
[any]
commonName = supplied
organizationName = optional
"""


def _openssl(args, folder, env):
    r = subprocess.run(["openssl"] + args, cwd=folder, env=env, capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"openssl {' '.join(args)}: {r.stderr.strip()}")
    return r.stdout


def make_certificate(folder, address, kind="good", common_name=None):
    """A P-256 key and a certificate for an NTS-KE server on `address`, in
    `folder`:

      good        self-signed, naming the address (IP and CN) and localhost
      wrong_name  self-signed, naming only wrong.tempikon.invalid
      expired     naming the address, signed by a test CA (trust it) and
                  valid only in January 2020: a directly trusted certificate
                  is not checked for its dates, a CA's issue is

    No clock is changed: the past dates are written into the certificate."""
    if kind not in CERT_KINDS:
        raise ValueError(f"unknown certificate kind {kind}")
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    name = "wrong.tempikon.invalid" if kind == "wrong_name" else address
    common_name = common_name or (name if kind == "wrong_name" else f"tempikon-nts {address}")
    san = f"DNS:{name}" if kind == "wrong_name" else f"IP:{address},DNS:localhost"
    conf = os.path.join(folder, "openssl.cnf")
    with open(conf, "w") as f:
        f.write(_OPENSSL_CONF.format(san=san, folder=folder))
    env = dict(os.environ, OPENSSL_CONF=conf)
    key, cert = os.path.join(folder, "server.key"), os.path.join(folder, "server.crt")
    new_key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    subject = f"/CN={common_name}/O=Tempikon tests"
    if kind != "expired":
        _openssl(["req", "-config", conf, "-x509", *new_key, "-keyout", key, "-out", cert,
                  "-days", "30", "-subj", subject, "-extensions", "leaf"], folder, env)
        trust = cert
    else:
        ca_key, trust = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.crt")
        _openssl(["req", "-config", conf, "-x509", *new_key, "-keyout", ca_key, "-out", trust,
                  "-days", "30", "-subj", "/CN=Tempikon test CA", "-extensions", "ca_cert"],
                 folder, env)
        csr = os.path.join(folder, "server.csr")
        _openssl(["req", "-config", conf, "-new", *new_key, "-keyout", key, "-out", csr,
                  "-subj", subject], folder, env)
        open(os.path.join(folder, "index.txt"), "w").close()
        with open(os.path.join(folder, "serial"), "w") as f:
            f.write("1000\n")
        _openssl(["ca", "-config", conf, "-batch", "-notext", "-cert", trust, "-keyfile", ca_key,
                  "-in", csr, "-out", cert, "-startdate", "20200101000000Z",
                  "-enddate", "20200131000000Z"], folder, env)
    dn = _openssl(["x509", "-in", cert, "-noout", "-subject", "-nameopt", "RFC2253"],
                  folder, env)
    return Certificate(key, cert, trust, dn.strip().removeprefix("subject="))


# NTS-KE records (RFC 8915, 4): type, with the critical bit 0x8000.
KE_END, KE_NEXT_PROTOCOL, KE_ERROR, KE_WARNING, KE_AEAD, KE_COOKIE, KE_SERVER, KE_PORT = \
    0, 1, 2, 3, 4, 5, 6, 7
KE_CRITICAL = 0x8000
AEAD_AES_SIV_CMAC_256 = 15


def ke_record(kind, body=b"", critical=True):
    return struct.pack("!HH", kind | (KE_CRITICAL if critical else 0), len(body)) + body


def ke_request():
    """NTPv4 with AEAD_AES_SIV_CMAC_256: a client's whole request."""
    return (ke_record(KE_NEXT_PROTOCOL, struct.pack("!H", 0))
            + ke_record(KE_AEAD, struct.pack("!H", AEAD_AES_SIV_CMAC_256))
            + ke_record(KE_END))


def parse_ke_records(data):
    """[(type without the critical bit, body)] up to and with End of
    Message; None when the data ends first."""
    records, at = [], 0
    while at + 4 <= len(data):
        kind, length = struct.unpack_from("!HH", data, at)
        if at + 4 + length > len(data):
            return None
        records.append((kind & ~KE_CRITICAL, data[at + 4:at + 4 + length]))
        at += 4 + length
        if kind & ~KE_CRITICAL == KE_END:
            return records
    return None


def nts_ke(address, port, trust=None, timeout=5.0, server_name=None):
    """One key establishment from this process (TLS 1.3, ALPN ntske/1, the
    certificate checked against `trust` or the system's store and the name).
    Returns (records, seconds from the connect to End of Message, the
    server's certificate subject); raises ssl.SSLError (for instance
    ssl.SSLCertVerificationError) or OSError."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.minimum_version = ssl.TLSVersion.TLSv1_3
    context.set_alpn_protocols(["ntske/1"])
    if trust:
        context.load_verify_locations(trust)
    else:
        context.load_default_certs()
    start = time.perf_counter()
    with socket.create_connection((address, port), timeout=timeout) as raw:
        # Without it the request, written after the handshake's last
        # message, waits some 40 ms for the server's delayed ACK.
        raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with context.wrap_socket(raw, server_hostname=server_name or address) as tls:
            if tls.selected_alpn_protocol() != "ntske/1":
                raise ssl.SSLError(f"the server chose ALPN {tls.selected_alpn_protocol()!r}")
            tls.sendall(ke_request())
            data = b""
            records = None
            while records is None:
                chunk = tls.recv(4096)
                if not chunk:
                    raise OSError(f"the server closed after {len(data)} bytes of records")
                data += chunk
                records = parse_ke_records(data)
            elapsed = time.perf_counter() - start
            subject = dict(x[0] for x in tls.getpeercert()["subject"])
    return records, elapsed, subject


# ---- the tampering proxy ---------------------------------------------------

# Bytes 40-47 of an NTP header: the transmit timestamp, which the NTS
# authenticator covers. Bit 0 of byte 43 is its seconds' lowest bit: the
# reply stays plausible, only 1 s off, so that nothing but the
# authenticator can tell.
FLIP_BYTE = 43
TAMPER_MODES = ("flip", "replay")


class TamperLink(_UdpProxy):
    """A UDP proxy on listen_address:port to target (address, port) that
    spoils the replies:

      flip    flips bit 0 of byte FLIP_BYTE (the transmit seconds) in each
      replay  passes everything on, and keeps the first reply: every later
              request is answered with it at once, ahead of the server's
              own reply to it

    Each packet passed on is held hold_ms first, either way. `requests`
    counts the requests, `tampered` the replies spoiled (flipped or
    replayed)."""

    def __init__(self, listen_address, port, target, mode, hold_ms=0):
        if mode not in TAMPER_MODES:
            raise ValueError(f"unknown mode {mode}")
        super().__init__(listen_address, port, target)
        self.mode = mode
        self.hold = hold_ms / 1000
        self.requests = 0
        self.tampered = 0
        self.recorded = None
        # False: requests go no further (a replay then is all they get).
        self.forward = True
        self.upstream = {}  # client address -> socket to the target
        self._start()

    def _upstream_for(self, client):
        s = self.upstream.get(client)
        if s is None:
            s = self.upstream[client] = self._new_upstream(client)
        return s

    def _request(self, data, client):
        self.requests += 1
        if self.mode == "replay" and self.recorded is not None:
            self.tampered += 1
            self.listener.sendto(self.recorded, client)
        time.sleep(self.hold)
        if self.forward:
            self._upstream_for(client).sendto(data, self.target)

    def _reply(self, data, client):
        if self.mode == "replay" and self.recorded is None:
            self.recorded = data
        if self.mode == "flip" and len(data) > FLIP_BYTE:
            data = bytearray(data)
            data[FLIP_BYTE] ^= 1
            self.tampered += 1
        time.sleep(self.hold)
        self.listener.sendto(bytes(data), client)

    def _run(self):
        while self.running:
            for sock, data, source in self._received(1.0):
                try:
                    if sock is self.listener:
                        self._request(data, source)
                    elif source == self.target:
                        self._reply(data, self.by_socket[sock])
                except OSError:
                    pass


# ---- a key-establishment server that answers badly -------------------------

KE_ANSWERS = ("refuse", "no_cookies")


class FakeNtsKeServer:
    """An NTS-KE server on address:port in pure Python (TLS 1.3, ALPN
    ntske/1, the certificate's key) that reads a client's records and
    answers without any key:

      refuse      an Error record, Internal Server Error (2)
      no_cookies  NTPv4 and AEAD_AES_SIV_CMAC_256 agreed, but no Cookie

    `requests` holds the records of each request read."""

    def __init__(self, address, port, certificate, answer):
        if answer not in KE_ANSWERS:
            raise ValueError(f"unknown answer {answer}")
        self.answer = answer
        self.requests = []
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.minimum_version = ssl.TLSVersion.TLSv1_3
        self.context.set_alpn_protocols(["ntske/1"])
        self.context.load_cert_chain(certificate.cert, certificate.key)
        self.listener = socket.create_server((address, port))
        self.closed = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _records(self):
        if self.answer == "refuse":
            return ke_record(KE_ERROR, struct.pack("!H", 2)) + ke_record(KE_END)
        return (ke_record(KE_NEXT_PROTOCOL, struct.pack("!H", 0))
                + ke_record(KE_AEAD, struct.pack("!H", AEAD_AES_SIV_CMAC_256))
                + ke_record(KE_END))

    def _serve(self):
        while not self.closed:
            try:
                raw, _ = self.listener.accept()
            except OSError:
                return
            try:
                raw.settimeout(5)
                with self.context.wrap_socket(raw, server_side=True) as tls:
                    data, records = b"", None
                    while records is None:
                        chunk = tls.recv(4096)
                        if not chunk:
                            break
                        data += chunk
                        records = parse_ke_records(data)
                    self.requests.append(records)
                    if records is not None:
                        tls.sendall(self._records())
                        tls.unwrap()
            except (OSError, ValueError):
                # A client that gave up on the handshake (untrusted, say).
                pass
            finally:
                raw.close()

    def close(self):
        if self.closed:
            return
        self.closed = True
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        self.thread.join(timeout=5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
