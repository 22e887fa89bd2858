#!/usr/bin/env python3
"""Measures how the service and the partner library stand up to threads,
several partners and hostile peers; prints one line per figure.

    scripts/hostile_partners.py build/release/korvane build/release/libkorvane-partner.so

In a private runtime folder it starts `korvane serve hostile` and then:
  threads    two threads, each with a handle of its own, send 1,2,3,4,5,N
             1,000 times; counts wrong statuses and events on the other thread
  opens      four threads open a handle at once with no service, 100 times each
  cycles     open, keep-alive, close 10,000 then 30,000 times: resident memory
             growth and the time of a cycle at the start and at the end
  nofile     with 64 descriptors, opens until one fails: its status and text
  flood      a peer that never answers the service sends 6,000 commands back
             to back: does the service live and answer afterwards
  self       a keep-alive naming the service itself as sender: does it live
"""
import ctypes
import os
import resource
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

MAGIC = 0x324E564B
WM_COPYDATA = 0x4A


class Event(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int), ("octets", ctypes.POINTER(ctypes.c_uint8)),
                ("count", ctypes.c_size_t), ("report", ctypes.c_char_p)]


EVENT_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(Event))


def load(path):
    lib = ctypes.CDLL(path)
    handle = ctypes.c_void_p
    lib.korvane_partner_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int,
                                         ctypes.POINTER(handle)]
    lib.korvane_partner_send_command.argtypes = [handle, ctypes.c_char_p, EVENT_FN,
                                                 ctypes.c_void_p]
    lib.korvane_partner_send_keepalive.argtypes = [handle, EVENT_FN, ctypes.c_void_p]
    lib.korvane_partner_last_error.argtypes = [handle]
    lib.korvane_partner_last_error.restype = ctypes.c_char_p
    lib.korvane_partner_close.argtypes = [handle]
    return lib


def frame(sequence, message, name, incarnation, dw_data=0, block=b"", with_block=False):
    flags = (1 if name else 0) | (2 if with_block else 0)
    header = struct.pack("<IBBHQIIQqQQQ", MAGIC, 1, flags, len(name), sequence, message,
                         len(block) if with_block else 0, 0, 0, dw_data, 0,
                         incarnation if name else 0)
    return header + name.encode() + (block if with_block else b"")


def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def threads(lib):
    wrong = [0]

    def run(name, first):
        p = ctypes.c_void_p()
        if lib.korvane_partner_open(name.encode(), b"hostile", 5000, ctypes.byref(p)) != 0:
            wrong[0] += 1000
            return
        me = threading.get_ident()
        seen = []
        on_event = EVENT_FN(lambda _c, e: seen.append((threading.get_ident(), e.contents.kind)))
        for i in range(1000):
            del seen[:]
            line = ("1,2,3,4,5,%d" % (first + i)).encode()
            status = lib.korvane_partner_send_command(p, line, on_event, None)
            if status != 0 or seen != [(me, 1)]:
                wrong[0] += 1
        lib.korvane_partner_close(p)

    start = time.monotonic()
    workers = [threading.Thread(target=run, args=("TEST_RX_%d" % t, 1000 * t)) for t in (1, 2)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    print("threads: 2 x 1000 commands, %d wrong, %.2f s" % (wrong[0], time.monotonic() - start))


def opens(lib):
    wrong = [0]

    def run(t):
        for _ in range(100):
            p = ctypes.c_void_p()
            status = lib.korvane_partner_open(("TEST_RX_o%d" % t).encode(), b"absent", 1000,
                                              ctypes.byref(p))
            text = lib.korvane_partner_last_error(None).decode()
            if status != -1 or "Korvane_absent" not in text:
                wrong[0] += 1

    workers = [threading.Thread(target=run, args=(t,)) for t in range(4)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    print("opens: 4 threads x 100 failed opens, %d wrong" % wrong[0])


def cycles(lib):
    on_event = EVENT_FN(lambda _c, _e: None)

    def cycle():
        p = ctypes.c_void_p()
        if lib.korvane_partner_open(b"TEST_RX", b"hostile", 5000, ctypes.byref(p)) != 0:
            raise RuntimeError(lib.korvane_partner_last_error(None).decode())
        lib.korvane_partner_send_keepalive(p, on_event, None)
        lib.korvane_partner_close(p)

    for _ in range(200):
        cycle()
    base = rss_kib()
    done = 0
    for target in (10000, 30000):
        first = time.monotonic()
        for _ in range(100):
            cycle()
        early = (time.monotonic() - first) / 100
        while done < target - 200:
            cycle()
            done += 1
        last = time.monotonic()
        for _ in range(100):
            cycle()
        late = (time.monotonic() - last) / 100
        done += 200
        print("cycles: %d open/keep-alive/close, RSS +%d KiB, %.3f ms a cycle early, %.3f ms late"
              % (target, rss_kib() - base, early * 1000, late * 1000))


def nofile(library, env):
    code = (
        "import ctypes,resource,sys\n"
        "sys.path.insert(0, %r)\n"
        "import hostile_partners as h\n"
        "resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64))\n"
        "lib = h.load(%r)\n"
        "kept = []\n"
        "for i in range(200):\n"
        "    p = ctypes.c_void_p()\n"
        "    s = lib.korvane_partner_open(('TEST_RX_n%%d' %% i).encode(), b'hostile', 5000, ctypes.byref(p))\n"
        "    if s != 0:\n"
        "        print('nofile: open %%d failed with %%d: %%s' %% (i + 1, s, lib.korvane_partner_last_error(None).decode()))\n"
        "        break\n"
        "    kept.append(p)\n" % (os.path.dirname(os.path.abspath(__file__)), library))
    subprocess.run([sys.executable, "-c", code], env=env, check=False)


def alive(lib):
    p = ctypes.c_void_p()
    if lib.korvane_partner_open(b"TEST_RX_check", b"hostile", 2000, ctypes.byref(p)) != 0:
        return False
    status = lib.korvane_partner_send_keepalive(p, EVENT_FN(lambda _c, _e: None), None)
    lib.korvane_partner_close(p)
    return status == 0


def flood(lib, folder, service):
    peer = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    peer.bind(os.path.join(folder, "flood"))
    to = os.path.join(folder, "Korvane_hostile")
    line = b"1,2,3,4,5,100\0"
    start = time.monotonic()
    peer.setblocking(False)
    sent = 0
    back = 0
    while sent < 6000 and time.monotonic() - start < 30:
        try:
            peer.sendto(frame(sent + 1, WM_COPYDATA, "flood", 7, 0x0C670000, line, True), to)
            sent += 1
        except BlockingIOError:
            pass
        try:
            while True:
                peer.recv(70000)  # read, never answered
                back += 1
        except BlockingIOError:
            pass
    peer.close()
    os.unlink(os.path.join(folder, "flood"))
    time.sleep(0.5)
    print("flood: %d commands sent in %.2f s, %d datagrams back; service %s, answers: %s"
          % (sent, time.monotonic() - start, back,
             "running" if service.poll() is None else "died (%s)" % service.returncode,
             alive(lib)))


def self_named(lib, folder, service):
    raw = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    raw.bind(os.path.join(folder, "selfie"))
    raw.sendto(frame(1, WM_COPYDATA, "Korvane_hostile", 0, 0x0C68000D, bytes(13), True),
               os.path.join(folder, "Korvane_hostile"))
    raw.close()
    os.unlink(os.path.join(folder, "selfie"))
    time.sleep(0.5)
    print("self: keep-alive naming the service as sender; service %s, answers: %s"
          % ("running" if service.poll() is None else "died (%s)" % service.returncode,
             alive(lib)))


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    korvane, library = sys.argv[1], os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory(prefix="kvhost-") as folder:
        os.chmod(folder, 0o700)
        os.environ["KORVANE_RUNTIME_DIR"] = folder
        service = subprocess.Popen([korvane, "serve", "hostile"], stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(os.path.join(folder, "Korvane_hostile")):
            if time.monotonic() > deadline:
                raise RuntimeError("the service did not start")
            time.sleep(0.02)
        lib = load(library)
        try:
            threads(lib)
            opens(lib)
            cycles(lib)
            nofile(library, dict(os.environ))
            flood(lib, folder, service)
            self_named(lib, folder, service)
        finally:
            service.terminate()
            service.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
