#!/usr/bin/env python3
"""Turns octet streams of a console link into a capture file (classic pcap).

    scripts/make_pcap.py [options] OUTPUT PART...

Each PART is one piece of the conversation, in the order it was sent:

    c:FILE   octets the console sent to the partner
    p:FILE   octets the partner sent to the console
    FILE may be '-' for standard input; with --hex it holds hexadecimal text
    (white space ignored), as 'korvane encode' prints it.

The capture holds one TCP connection over IPv4 and Ethernet: the partner
(10.0.0.2, --client-port) connects to the console (10.0.0.1, --port), the
pieces follow cut into segments of at most --segment octets with correct
sequence and acknowledgement numbers and checksums, each segment
acknowledged by the other side, and the connection is closed with FIN
from both ends. No capture rights are needed, so captures for the
dissector (wireshark/korvane.lua) can be made anywhere:

    korvane encode 1,2,3,4,5,100 >cmd.hex
    scripts/make_pcap.py --hex --segment 7 link.pcap p:cmd.hex

options:
  --segment N       octets per TCP segment, 1 or more (default 1460)
  --port N          the console's TCP port (default 9000)
  --client-port N   the partner's TCP port (default 50000)
  --hex             the PART files hold hexadecimal text
  --layout RANGES   cut each part into these segments instead: octet ranges
                    FIRST-LAST of the part (from 0, both included), in the
                    order sent, e.g. 0-14,0-14,10-29,30-41; a range may repeat
                    or overlap earlier ones, as retransmissions do, and the
                    octets after the last range follow in segments of
                    --segment
  --snaplen N       keep at most N octets of each frame, as a capture with a
                    small snapshot length does (default: whole frames)
  --cut N           end the file after its first N octets, in the middle of
                    a record if need be, as a capture broken off does
"""

import argparse
import struct
import sys

CONSOLE = bytes([10, 0, 0, 1])
PARTNER = bytes([10, 0, 0, 2])
CONSOLE_MAC = bytes([0x02, 0, 0, 0, 0, 0x01])
PARTNER_MAC = bytes([0x02, 0, 0, 0, 0, 0x02])

FIN, SYN, PSH, ACK = 0x01, 0x02, 0x08, 0x10


def checksum(data):
    if len(data) % 2:
        data += b"\x00"
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


class Side:
    def __init__(self, mac, address, port, isn):
        self.mac, self.address, self.port = mac, address, port
        self.seq = isn


class Capture:
    def __init__(self, port, client_port, snaplen):
        self.console = Side(CONSOLE_MAC, CONSOLE, port, 0x1000)
        self.partner = Side(PARTNER_MAC, PARTNER, client_port, 0x8000)
        self.snaplen = snaplen
        self.records = []
        self.time_us = 0
        self.ip_id = 1

    def frame(self, sender, receiver, flags, payload=b""):
        tcp = struct.pack("!HHIIBBHHH", sender.port, receiver.port, sender.seq,
                          receiver.seq if flags & ACK else 0, 5 << 4, flags, 65535, 0, 0)
        pseudo = sender.address + receiver.address + struct.pack("!BBH", 0, 6, len(tcp) + len(payload))
        tcp = tcp[:16] + struct.pack("!H", checksum(pseudo + tcp + payload)) + tcp[18:]
        total = 20 + len(tcp) + len(payload)
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, total, self.ip_id, 0x4000, 64, 6, 0,
                         sender.address, receiver.address)
        ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
        self.ip_id += 1
        ethernet = receiver.mac + sender.mac + b"\x08\x00"
        data = ethernet + ip + tcp + payload
        kept = data[: self.snaplen] if self.snaplen else data
        self.time_us += 1000
        header = struct.pack("<IIII", self.time_us // 1000000, self.time_us % 1000000, len(kept), len(data))
        self.records.append(header + kept)
        sender.seq = (sender.seq + len(payload) + (1 if flags & (SYN | FIN) else 0)) & 0xFFFFFFFF

    def connect(self):
        self.frame(self.partner, self.console, SYN)
        self.frame(self.console, self.partner, SYN | ACK)
        self.frame(self.partner, self.console, ACK)

    def send(self, sender, octets, segment, layout=()):
        receiver = self.console if sender is self.partner else self.partner
        pieces = list(layout)
        done = max((last + 1 for _, last in pieces), default=0)
        pieces += [(at, min(at + segment, len(octets)) - 1) for at in range(done, len(octets), segment)]
        start = sender.seq
        for first, last in pieces:
            sender.seq = (start + first) & 0xFFFFFFFF
            self.frame(sender, receiver, PSH | ACK, octets[first : last + 1])
            self.frame(receiver, sender, ACK)
        sender.seq = (start + len(octets)) & 0xFFFFFFFF

    def close(self):
        self.frame(self.partner, self.console, FIN | ACK)
        self.frame(self.console, self.partner, FIN | ACK)
        self.frame(self.partner, self.console, ACK)

    def octets(self):
        header = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, self.snaplen or 262144, 1)
        return header + b"".join(self.records)


def read_part(name, hex_text):
    data = sys.stdin.buffer.read() if name == "-" else open(name, "rb").read()
    if hex_text:
        return bytes.fromhex("".join(data.decode("ascii").split()))
    return data


def main(argv):
    parser = argparse.ArgumentParser(
        prog="make_pcap.py", description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
        usage="%(prog)s [options] OUTPUT PART...")
    parser.add_argument("output")
    parser.add_argument("parts", nargs="+", metavar="PART")
    parser.add_argument("--segment", type=int, default=1460)
    parser.add_argument("--port", type=int, default=9000)
    parser.add_argument("--client-port", type=int, default=50000)
    parser.add_argument("--hex", action="store_true")
    parser.add_argument("--snaplen", type=int, default=0)
    parser.add_argument("--cut", type=int, default=-1)
    parser.add_argument("--layout", default="")
    args = parser.parse_args(argv[1:])
    if args.segment < 1:
        parser.error("--segment needs a number of 1 or more")
    for name in ("port", "client_port"):
        if not 1 <= getattr(args, name) <= 65535:
            parser.error(f"--{name.replace('_', '-')} needs a number from 1 to 65535")
    if args.snaplen < 0 or 0 < args.snaplen < 54:
        parser.error("--snaplen needs a number of 54 or more (the headers)")
    layout = []
    for text in filter(None, args.layout.split(",")):
        first, _, last = text.partition("-")
        if not (first.isdigit() and last.isdigit() and int(first) <= int(last)):
            parser.error(f"--layout needs ranges FIRST-LAST with FIRST <= LAST, not '{text}'")
        layout.append((int(first), int(last)))

    capture = Capture(args.port, args.client_port, args.snaplen)
    capture.connect()
    for part in args.parts:
        side, _, name = part.partition(":")
        if side not in ("c", "p") or not name:
            parser.error(f"PART must be c:FILE or p:FILE, not '{part}'")
        try:
            octets = read_part(name, args.hex)
        except (OSError, ValueError, UnicodeDecodeError) as error:
            print(f"make_pcap.py: {name}: {error}", file=sys.stderr)
            return 2
        if any(last >= len(octets) for _, last in layout):
            parser.error(f"--layout reaches past the {len(octets)} octets of '{part}'")
        capture.send(capture.console if side == "c" else capture.partner, octets, args.segment, layout)
    capture.close()

    data = capture.octets()
    if args.cut >= 0:
        data = data[: args.cut]
    with open(args.output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
