#!/usr/bin/env python3
"""Measures the memory of `korvane partner --console-link` while its console
floods it: a TCP server that writes one console message after another as
fast as the partner takes them, for 10 seconds.

    scripts/flood_memory.py build/release/korvane [SECONDS]

A service (`korvane serve flood`) runs in a private runtime folder. The
partner's resident size (VmRSS) is printed every second; reading from the
console pauses while 1 MiB waits for the service, so it must stay flat.
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    korvane = sys.argv[1]
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    # The console's answer for 1,2,3,4,5,100: what the service encodes for it.
    message = bytes.fromhex(subprocess.run([korvane, "encode", "1,2,3,4,5,100"], check=True,
                                           capture_output=True, text=True).stdout)
    block = message * (65536 // len(message))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    written = [0]
    done = threading.Event()

    def flood():
        connection, _ = listener.accept()
        try:
            while not done.is_set():
                written[0] += connection.send(block)
        except OSError:
            pass
        connection.close()

    with tempfile.TemporaryDirectory(prefix="kvflood-") as folder:
        os.chmod(folder, 0o700)
        env = dict(os.environ, KORVANE_RUNTIME_DIR=folder)
        service = subprocess.Popen([korvane, "serve", "flood"], env=env)
        while not os.path.exists(os.path.join(folder, "Korvane_flood")):
            if service.poll() is not None:
                print("flood_memory: the service did not start", file=sys.stderr)
                return 1
            time.sleep(0.05)
        threading.Thread(target=flood, daemon=True).start()
        partner = subprocess.Popen([korvane, "partner", "--quiet", "--console-link",
                                    "127.0.0.1:%d" % port], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for second in range(1, seconds + 1):
                time.sleep(1)
                print("%2d s: partner VmRSS %6d kB, %8.1f MB written by the console" %
                      (second, rss_kib(partner.pid), written[0] / 1e6))
        finally:
            done.set()
            partner.terminate()
            partner.wait()
            service.terminate()
            service.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
