"""A Daytime server on port 13 of one loopback address, for the tests and
scripts that run the built program (one-shot, package, resident and Windows
runs, screenshots), and the check that those tests report with.

As a program it serves the current time as NIST's servers word it, until it
is killed:  daytime_server.py ADDRESS"""
import socket
import struct
import sys
import threading
import time

REPLY = b"Mon Dec 07 2026 14:03:27-UTC\r\n"


class DaytimeServer:
    """Answers each connection with `reply` and closes it, or keeps the
    connection open in silence when `reply` is None. With reset, the reply
    is followed by a reset (RST) instead of an orderly close."""

    def __init__(self, address, reply=REPLY, reset=False):
        self.reply = reply
        self.reset = reset
        self.connections = 0
        self.held = []
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((address, 13))
        self.sock.listen(16)
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.connections += 1
            if self.reply is None:
                self.held.append(conn)
                continue
            with conn:
                try:
                    conn.sendall(self.reply)
                    if self.reset:
                        # Apart from the data, so that the reset cannot
                        # overtake the client's read of it.
                        time.sleep(0.3)
                        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                        struct.pack("ii", 1, 0))
                except OSError:
                    pass  # the client went away first

    def close(self):
        # Wakes the accept() that waits, so that the address is free at once.
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self.thread.join(timeout=5)
        for conn in self.held:
            conn.close()


class Failure(Exception):
    pass


def check(cond, what, result=None):
    """Raises Failure with what, and the run's status and output if given."""
    if not cond:
        detail = ""
        if result is not None:
            detail = (f"\n  status {result.returncode}\n  stdout {result.stdout!r}"
                      f"\n  stderr {result.stderr!r}")
        raise Failure(what + detail)


def serve_nist_time(address):
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((address, 13))
    sock.listen(4)
    while True:
        conn, _ = sock.accept()
        with conn:
            conn.sendall(time.strftime("\n61381 %y-%m-%d %H:%M:%S 00 0 0  50.0 UTC(NIST) * \n",
                                       time.gmtime()).encode())


if __name__ == "__main__":
    serve_nist_time(sys.argv[1])
