#!/usr/bin/env python3
"""Measures how long `korvane partner --console-link` takes to end on SIGTERM
while its send waits for a service that takes the block and never answers.

    scripts/sigterm_latency.py build/release/korvane [RUNS]

A datagram socket bound as Korvane_mute in a private runtime folder stands in
for the mute service; a console simulator listens on a free port. Each run
starts a partner with a 60 s send timeout, waits until its request reaches
the mute service, sends SIGTERM and times the exit.
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    korvane = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    with tempfile.TemporaryDirectory(prefix="kvlat-") as folder:
        os.chmod(folder, 0o700)
        env = dict(os.environ, KORVANE_RUNTIME_DIR=folder)
        mute = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        mute.bind(os.path.join(folder, "Korvane_mute"))
        mute.settimeout(10)
        console = subprocess.Popen([korvane, "console", "--listen", "127.0.0.1:0"], env=env,
                                   stderr=subprocess.PIPE, text=True)
        address = None
        for line in console.stderr:
            found = re.search(r"listening on ([^;]+);", line)
            if found:
                address = found.group(1)
                break
        if not address:
            print("sigterm_latency: the console did not start", file=sys.stderr)
            return 1
        times = []
        try:
            for run in range(runs):
                partner = subprocess.Popen(
                    [korvane, "partner", "--console-link", address, "--service", "mute",
                     "--timeout", "60000", "1,2,3,4,5,%d" % run],
                    env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                mute.recv(70000)  # the request is there: the partner waits now
                start = time.monotonic()
                partner.terminate()
                # A blocking wait (a timed one polls in steps of up to 50 ms),
                # bounded by a timer that kills a partner that hangs.
                guard = threading.Timer(70, partner.kill)
                guard.start()
                partner.wait()
                times.append((time.monotonic() - start) * 1000)
                guard.cancel()
                last = partner.stderr.read().strip().splitlines()
                print("run %d: exit %d after %.1f ms: %s" %
                      (run, partner.returncode, times[-1], last[0] if last else ""))
        finally:
            console.terminate()
            console.wait()
    print("SIGTERM to exit: min %.1f ms, median %.1f ms, max %.1f ms over %d runs" %
          (min(times), sorted(times)[len(times) // 2], max(times), len(times)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
