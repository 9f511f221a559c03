#!/usr/bin/env python3
"""Checks the address plan in test_addresses.txt against the tree: no two
blocks share an address, every file a block names exists, and every loopback
address written in tests/, bench/ and scripts/ lies in a block given to the
file that writes it (so that a new test cannot take a neighbour's address
unnoticed; tests run in parallel).

usage: test_addresses_check.py [SOURCE_DIR]"""
import fnmatch
import ipaddress
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_addresses import TABLE, read_table  # noqa: E402

# An address, not a network ("127.0.0.0/8") or a longer number.
ADDRESS = re.compile(r"(?<![\d.])127\.\d{1,3}\.\d{1,3}\.\d{1,3}(?![\d/])")
FOLDERS = ("tests", "bench", "scripts")


def problems(source):
    rows = read_table()
    found = []
    names = [r[0] for r in rows]
    found += [f"block {n} named twice" for n in sorted({n for n in names if names.count(n) > 1})]
    for name, first, last, _, users in rows:
        if last < first:
            found.append(f"block {name} ends before it starts")
        for user in users:
            if not user.endswith("*") and not os.path.exists(os.path.join(source, user)):
                found.append(f"block {name} names {user}, which does not exist")
    spans = sorted((int(r[1]), int(r[2]), r[0]) for r in rows)
    for (_, last, a), (first, _, b) in zip(spans, spans[1:]):
        if first <= last:
            found.append(f"blocks {a} and {b} share addresses")
    table = os.path.relpath(TABLE, os.path.dirname(os.path.dirname(TABLE)))
    for folder in FOLDERS:
        for root, _, files in os.walk(os.path.join(source, folder)):
            for file in sorted(files):
                path = os.path.join(root, file)
                rel = os.path.relpath(path, source)
                if rel == os.path.join("tests", table):
                    continue
                try:
                    with open(path, encoding="utf-8") as f:
                        text = f.read()
                except (UnicodeDecodeError, OSError):
                    continue
                for number, line in enumerate(text.splitlines(), 1):
                    for m in ADDRESS.finditer(line):
                        address = ipaddress.IPv4Address(m.group())
                        owners = [r for r in rows if r[1] <= address <= r[2]]
                        if not owners:
                            found.append(f"{rel}:{number}: {address} is in no block")
                        elif not any(fnmatch.fnmatch(rel, u) for u in owners[0][4]):
                            found.append(f"{rel}:{number}: {address} belongs to block "
                                         f"{owners[0][0]}, not to this file")
    return found


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..")
    found = problems(os.path.abspath(source))
    for p in found:
        print(p)
    print("FAIL" if found else "ok")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
