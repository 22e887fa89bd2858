#!/usr/bin/env python3
"""A partner written from docs/PARTNER.md alone: the Linux endpoint protocol
spoken directly over a Unix domain datagram socket (standard library only).

    wire_partner.py KORVANE [--transcript]

Starts `KORVANE serve` in a private runtime folder, opens the endpoint
TEST_RX there, finds the service, and checks the encoded octets of the eight
tree shapes, commands that send nothing, the keep-alive echo, reports (the
report rule, text reports, the duplicate rule, a message split over two
blocks), console data sent from inside the handling of a report (re-entrancy),
incarnations (a request for an earlier one is refused), that a malformed
frame (a wrong magic) is dropped without a reply, and the late blocks of a
request given up after a timeout (the service stopped, then continued): they
arrive in the next request unless the partner sets them aside with a fresh
endpoint, as the page says. With
--transcript every datagram is printed in hex. Exit status 0 when every
check passed, 1 otherwise.
"""

import os
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

MAGIC = b"KVN2"
HEADER = struct.Struct("<4sBBHQIIQqQQQ")  # 64 octets, little-endian
REQUEST, REPLY = 1, 2
FLAG_WINDOW, FLAG_BLOCK, FLAG_GONE = 1, 2, 4
WM_COPYDATA = 0x004A

BLOCK_COMMAND = 0x0C67
BLOCK_CONSOLE_DATA = 0x0C68
BLOCK_ENCODED = 0x0C69
BLOCK_REPORT = 0x0C6A

KEEP_ALIVE = bytes.fromhex("7F8FFFFED95C803080 00000000".replace(" ", ""))
WAIT_SECONDS = 10.0

# The eight tree shapes and their octets, as the document lists them.
SHAPES = [
    ("1,2,3,4,5,100",
     "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 17 31 15 A2 13 31 11 "
     "A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64 00 00 00 00"),
    ("1,2,3,4,5,Main~out",
     "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 1E 31 1C A2 1A 31 18 "
     "A3 16 31 14 A4 12 31 10 E5 0E 31 0C 63 0A 0C 08 4D 61 69 6E 20 6F 75 74 00 00 00 00"),
    ("1,2,3,4,5,-1",
     "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 14 31 12 A2 10 31 0E "
     "A3 0C 31 0A A4 08 31 06 7F 20 03 02 01 01 00 00 00 00"),
    ("1,2,3,0,0,-1",
     "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 0C 31 0A A2 08 31 06 "
     "7F 20 03 02 01 01 00 00 00 00"),
    ("1,2,3,0,0,Ch~1",
     "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 12 31 10 A2 0E 31 0C "
     "E3 0A 31 08 63 06 0C 04 43 68 20 31 00 00 00 00"),
    ("1,2,3,4,0,-1",
     "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 10 31 0E A2 0C 31 0A "
     "A3 08 31 06 7F 20 03 02 01 01 00 00 00 00"),
    ("1,2,3,4,0,Aux~2",
     "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 17 31 15 A2 13 31 11 "
     "A3 0F 31 0D E4 0B 31 09 63 07 0C 05 41 75 78 20 32 00 00 00 00"),
    ("1,2,3,4,0,75",
     "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 13 31 11 A2 0F 31 0D "
     "A3 0B 31 09 E4 07 31 05 63 03 02 01 4B 00 00 00 00"),
]

# The console's answer to 1,2,3,4,5,100: one Set level (7) above the five.
ANSWER_100 = (
    "7F 8F FF FE D9 5C 80 30 80 A7 1B 31 19 A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 "
    "E5 07 31 05 63 03 02 01 64 00 00 00 00")

failures = []
transcript = False


def check(ok, what):
    print(("ok:     " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def hexed(data):
    return " ".join("%02X" % b for b in data)


class Partner:
    """The endpoint TEST_RX and the requests it sends."""

    def __init__(self, folder, name="TEST_RX"):
        self.folder = folder
        self.name = name
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(os.path.join(folder, name))
        self.sequence = 0
        self.service = None
        # This endpoint's incarnation: drawn once, never 0.
        self.incarnation = int.from_bytes(os.urandom(8), "little") or 1
        # The service's, learnt from its requests (0: whoever has the name).
        self.service_incarnation = 0
        # Called with each block of the service before it is answered; may
        # send in turn (a nested request).
        self.on_request = None

    def close(self):
        self.sock.close()
        os.unlink(os.path.join(self.folder, self.name))

    def renew(self):
        """After a timeout: a fresh endpoint under the same name, with a new
        incarnation, so that the service's late blocks are refused."""
        self.close()
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(os.path.join(self.folder, self.name))
        self.incarnation = int.from_bytes(os.urandom(8), "little") or 1

    def find_service(self):
        """The one live endpoint named Korvane_*."""
        live = []
        for entry in sorted(os.listdir(self.folder)):
            if not entry.startswith("Korvane_"):
                continue
            probe = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            try:
                probe.connect(os.path.join(self.folder, entry))
                live.append(entry)
            except OSError:
                pass  # a socket nobody has bound any more
            finally:
                probe.close()
        return live

    def _send(self, datagram, path):
        if transcript:
            print("  -> %s %d octets: %s" % (os.path.basename(path), len(datagram), hexed(datagram)))
        self.sock.sendto(datagram, path)

    def request(self, kind, length, octets, raw=None, receiver=None, wait=None):
        """Sends one WM_COPYDATA block to the service and answers every
        request that comes in before the reply. Returns (result, events);
        result is None when no reply came in time, "gone" when the service
        refused it as meant for an earlier incarnation."""
        self.sequence += 1
        sequence = self.sequence
        if raw is None:
            name = self.name.encode()
            dw_data = (kind << 16) | (length & 0xFFFF)
            if receiver is None:
                receiver = self.service_incarnation
            raw = HEADER.pack(MAGIC, REQUEST, FLAG_WINDOW | FLAG_BLOCK, len(name), sequence,
                              WM_COPYDATA, len(octets), 0, 0, dw_data, receiver,
                              self.incarnation) + name + octets
        self._send(raw, os.path.join(self.folder, self.service))
        events = []
        deadline = time.monotonic() + (WAIT_SECONDS if wait is None else wait)
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None, events
            ready, _, _ = select.select([self.sock], [], [], left)
            if not ready:
                continue
            data, source = self.sock.recvfrom(65536 + 200)
            if transcript:
                print("  <- %s %d octets: %s" % (os.path.basename(source), len(data), hexed(data)))
            frame = decode(data)
            if frame is None:
                events.append(("malformed", data))
                continue
            (fkind, flags, sequence_in, message, w_name, dw_data, block, result, receiver_in,
             window_in) = frame
            if fkind == REPLY:
                if sequence_in == sequence:
                    return ("gone" if flags & FLAG_GONE else result), events
                events.append(("stray reply", sequence_in))
                continue
            if receiver_in not in (0, self.incarnation):
                # Meant for an earlier owner of our name: refused, not handled.
                self._send(HEADER.pack(MAGIC, REPLY, FLAG_GONE, 0, sequence_in, 0, 0, 0, 0, 0, 0, 0),
                           source)
                continue
            # A request of the service while ours waits: handle it, answer 1.
            if w_name == self.service:
                self.service_incarnation = window_in
            event = (dw_data >> 16, dw_data & 0xFFFF, block, w_name, message)
            events.append(event)
            if self.on_request:
                self.on_request(event)
            answer = HEADER.pack(MAGIC, REPLY, 0, 0, sequence_in, 0, 0, 0, 1, 0, 0, 0)
            self._send(answer, source)


def decode(data):
    """(kind, flags, sequence, message, window name, dwData, block, result,
    receiver incarnation, window incarnation) of a well-formed frame, else
    None."""
    if len(data) < HEADER.size:
        return None
    (magic, kind, flags, name_length, sequence, message, cb_data, w_param, l_param, dw_data,
     receiver, window) = HEADER.unpack_from(data)
    if magic != MAGIC or len(data) != HEADER.size + name_length + cb_data:
        return None
    name = data[HEADER.size:HEADER.size + name_length].decode()
    block = data[HEADER.size + name_length:]
    return (kind, flags, sequence, message, name, dw_data, block, l_param, receiver, window)


def encoded_events(events):
    return [e for e in events if isinstance(e[0], int) and e[0] == BLOCK_ENCODED]


def report_texts(events):
    texts = []
    for e in events:
        if isinstance(e[0], int) and e[0] == BLOCK_REPORT:
            field = e[2]
            texts.append((field[:field.index(0)].decode(), e[1], len(field)))
    return texts


def command(partner, line, wait=None):
    text = line.encode() + b"\0"
    return partner.request(BLOCK_COMMAND, 0, text, wait=wait)


def console(partner, octets):
    return partner.request(BLOCK_CONSOLE_DATA, len(octets), octets)


def blocks(events):
    """The service's blocks among the events (not stray replies)."""
    return [e for e in events if e[0] not in ("stray reply", "malformed")]


def run_late_checks(partner, service):
    """A request given up while the service is stopped; the service, once
    continued, still handles it and sends its encoded block late."""
    for renew in (False, True):
        service.send_signal(signal.SIGSTOP)
        result, events = command(partner, "1,2,3,4,5,100", wait=1.0)
        check(result is None and not blocks(events),
              "a stopped service: the partner gives up (%s, %s)" % (result, events))
        if renew:
            partner.renew()
        service.send_signal(signal.SIGCONT)
        result, events = console(partner, KEEP_ALIVE)
        kinds = [e[0] for e in blocks(events)]
        if renew:
            check(result == 1 and kinds == [BLOCK_CONSOLE_DATA],
                  "after a fresh endpoint the next request sees only its own block: %s" % kinds)
        else:
            check(result == 1 and kinds == [BLOCK_ENCODED, BLOCK_CONSOLE_DATA],
                  "without a fresh endpoint the late encoded block arrives first: %s" % kinds)


def run_checks(partner):
    # The eight shapes.
    for line, expected_hex in SHAPES:
        expected = bytes.fromhex(expected_hex.replace(" ", ""))
        result, events = command(partner, line)
        blocks = encoded_events(events)
        ok = (result == 1 and len(events) == 1 and len(blocks) == 1 and
              blocks[0][2] == expected and blocks[0][1] == len(expected) and
              blocks[0][3] == partner.service and blocks[0][4] == WM_COPYDATA)
        check(ok, "%s: one encoded block of %d octets, result 1" % (line, len(expected)))
        if not ok:
            print("    result %r, events %r" % (result, events))

    # Lines that send nothing.
    for line, want in (("1,2,3", 0), ("1,2,3,4,5,-3", 0), ("1,2,3,4,5,-7", 1),
                       ("1,2,3,0,0,5", 1)):
        result, events = command(partner, line)
        check(result == want and not events, "%s: nothing sent, result %d" % (line, want))

    # The keep-alive comes back unchanged.
    result, events = console(partner, KEEP_ALIVE)
    check(result == 1 and len(events) == 1 and events[0][:3] == (BLOCK_CONSOLE_DATA, 13, KEEP_ALIVE),
          "keep-alive: the same 13 octets back as console data, length 13")

    # The report rule: the service's own block for 7,1,2,3,4,75 read back as
    # console data reports 1,2,3,0,4,75.
    _, events = command(partner, "7,1,2,3,4,75")
    octets = encoded_events(events)[0][2]
    result, events = console(partner, octets)
    check(result == 1 and report_texts(events) == [("1,2,3,0,4,75", 13, 513)],
          "console 7,1,2,3,4,75 reports 1,2,3,0,4,75 (length field 13, 513-octet field)")
    result, events = console(partner, octets)
    check(result == 1 and not events, "the same message again: no report (duplicate)")

    # Six Set levels: the partner's own line comes back; split over two blocks.
    answer = bytes.fromhex(ANSWER_100.replace(" ", ""))
    _, first = console(partner, answer[:20])
    _, second = console(partner, answer[20:])
    check(not first and report_texts(second) == [("1,2,3,4,5,100", 14, 513)],
          "answer to 1,2,3,4,5,100 in two blocks: report 1,2,3,4,5,100 after the second")

    # A three-level text parameter: a text report ends in a blank and a line feed.
    _, events = command(partner, "7,1,2,3,0,Main~out")
    result, events = console(partner, encoded_events(events)[0][2])
    check(report_texts(events) == [("1,2,3,0,0,Main~out \n", 21, 513)],
          "console 7,1,2,3,0,Main~out reports '1,2,3,0,0,Main~out \\n'")

    # Re-entrancy: console data sent while the service waits for the answer
    # to a report is taken at once (result 1, nothing back yet) and decoded
    # after the block being decoded; its report comes before the outer reply.
    # The console's answer to 1,2,3,4,0,5: Ctx 7 › Ctx 1 › Ctx 2 › Ctx 3 › Prv 4 › 5.
    answer_5 = bytes.fromhex(
        "7F 8F FF FE D9 5C 80 30 80 A7 17 31 15 A1 13 31 11 A2 0F 31 0D A3 0B 31 09 "
        "E4 07 31 05 63 03 02 01 05 00 00 00 00".replace(" ", ""))
    nested = []

    def send_nested(event):
        if event[0] == BLOCK_REPORT and not nested:
            partner.on_request = None
            nested.append(console(partner, answer_5))

    partner.on_request = send_nested
    result, events = console(partner, answer)
    partner.on_request = None
    check(result == 1 and nested == [(1, [])] and
          [t[0] for t in report_texts(events)] == ["1,2,3,4,5,100", "1,2,3,0,4,5"],
          "console data sent from inside a report's handling: decoded after the outer block")

    # Incarnations: the service named itself in its requests; a request for
    # another incarnation of its name is refused (a reply with flag 4) and
    # not handled, one for its own is handled.
    check(partner.service_incarnation != 0, "the service's requests carry its incarnation")
    result, events = partner.request(BLOCK_COMMAND, 0, b"1,2,3,4,5,100\0",
                                     receiver=partner.service_incarnation ^ 1)
    check(result == "gone" and not events, "a request for an earlier incarnation: refused")
    result, events = partner.request(BLOCK_COMMAND, 0, b"1,2,3,4,5,100\0")
    check(result == 1 and len(encoded_events(events)) == 1,
          "a request for the service's own incarnation: handled")

    # A malformed frame gets no reply: the next request's reply is the first
    # thing that comes back.
    bad = bytearray(HEADER.pack(MAGIC, REQUEST, FLAG_BLOCK, 0, 999999, WM_COPYDATA, 13, 0, 0,
                                (BLOCK_CONSOLE_DATA << 16) | 13, 0, 0) + KEEP_ALIVE)
    bad[0:4] = b"KVN1"
    partner._send(bytes(bad), os.path.join(partner.folder, partner.service))
    result, events = command(partner, "1,2,3,4,5,-1")
    check(result == 1 and len(events) == 1 and len(encoded_events(events)) == 1,
          "a frame with a wrong magic (KVN1) is dropped without a reply")


def wait_ready(process):
    """Waits (bounded) for the service's ready line on standard error."""
    deadline = time.monotonic() + WAIT_SECONDS
    seen = b""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([process.stderr], [], [], deadline - time.monotonic())
        if not ready:
            break
        chunk = os.read(process.stderr.fileno(), 4096)
        if not chunk:
            break
        seen += chunk
        if b": ready:" in seen:
            return True
    print("service did not get ready: %r" % seen)
    return False


def main():
    global transcript
    args = sys.argv[1:]
    if "--transcript" in args:
        transcript = True
        args.remove("--transcript")
    if len(args) != 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="korvane-wire.") as folder:
        os.chmod(folder, 0o700)
        env = dict(os.environ, KORVANE_RUNTIME_DIR=folder)
        service = subprocess.Popen([args[0], "serve", "wire"], env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        partner = None
        try:
            if not wait_ready(service):
                return 1
            partner = Partner(folder)
            services = partner.find_service()
            check(services == ["Korvane_wire"], "one service found: %s" % services)
            if services:
                partner.service = services[0]
                run_checks(partner)
                run_late_checks(partner, service)
        finally:
            if partner:
                partner.close()
            service.send_signal(signal.SIGCONT)
            service.terminate()
            try:
                status = service.wait(WAIT_SECONDS)
            except subprocess.TimeoutExpired:
                service.kill()
                status = service.wait()
            check(status == 0, "service stopped with status 0 (SIGTERM)")
    print("%d checks failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
