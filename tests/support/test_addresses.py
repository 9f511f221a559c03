"""The blocks of loopback addresses in test_addresses.txt, for the Python
tests, benchmarks and scripts:

    NTP = Block("ntp_e2e")
    NTP.at(0), NTP.at(1)   # its first two addresses, as text
    NTP.port               # its (first) port, None for "-"; NTP.ports: all

At the command line, `test_addresses.py NAME INDEX` prints that address
(for shell scripts)."""
import ipaddress
import os
import sys

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "test_addresses.txt")


def read_table(path=TABLE):
    """Every block as (name, first, last, ports, users), in order."""
    rows = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            if len(words) < 5:
                raise ValueError(f"{path}:{number}: name, first, last, port and users expected")
            name, first, last, port = words[:4]
            users = [] if words[4:] == ["-"] else words[4:]
            rows.append((name, ipaddress.IPv4Address(first), ipaddress.IPv4Address(last),
                         () if port == "-" else tuple(int(p) for p in port.split(",")),
                         users))
    return rows


class Block:
    def __init__(self, name):
        for row in read_table():
            if row[0] == name:
                self.name, self.first, self.last, self.ports, self.users = row
                self.port = self.ports[0] if self.ports else None
                return
        raise KeyError(f"no block {name!r} in {TABLE}")

    def __len__(self):
        return int(self.last) - int(self.first) + 1

    def at(self, index):
        """The block's address number index (from 0); an index past its end
        is an error, not a neighbour's address."""
        if not 0 <= index < len(self):
            raise IndexError(f"block {self.name} has {len(self)} addresses, not {index + 1}")
        return str(self.first + index)


if __name__ == "__main__":
    print(Block(sys.argv[1]).at(int(sys.argv[2])))
