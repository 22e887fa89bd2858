#!/usr/bin/env python3
"""Measures the memory of `korvane partner --console-link ADDR -` fed a long
standard input: 1,000,000 command lines (about 14 MB) piped in, a reading
console (`korvane console`) and a service (`korvane serve`) in a private
runtime folder.

    scripts/stdin_memory.py build/release/korvane [LINES] [SECONDS]

Prints the partner's peak resident size (VmHWM) and how long it ran; after
SECONDS (default 10) it is stopped with SIGTERM. The
partner reads standard input only while its queue is under its bound, so
the peak must not grow with the input.
"""
import os
import re
import subprocess
import sys
import tempfile
import time


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    korvane = sys.argv[1]
    lines = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 10.0
    runtime = tempfile.mkdtemp(prefix="kvmem-")
    os.chmod(runtime, 0o700)
    env = dict(os.environ, KORVANE_RUNTIME_DIR=runtime)
    service = subprocess.Popen([korvane, "serve", "mem"], env=env, stderr=subprocess.PIPE)
    console = subprocess.Popen([korvane, "console", "--listen", "127.0.0.1:0"], env=env,
                               stderr=subprocess.PIPE, text=True)
    address = None
    while address is None:
        match = re.search(r"listening on ([^;]+);", console.stderr.readline())
        if match:
            address = match.group(1)
    while not os.path.exists(os.path.join(runtime, "Korvane_mem")):
        time.sleep(0.01)
    with tempfile.TemporaryFile() as data:
        data.write(b"".join(b"1,2,3,4,5,%d\n" % i for i in range(lines)))
        data.seek(0)
        started = time.monotonic()
        partner = subprocess.Popen([korvane, "partner", "--quiet", "--service", "mem",
                                    "--console-link", address, "-"], env=env, stdin=data,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        peak = 0
        while partner.poll() is None:
            try:
                with open("/proc/%d/status" % partner.pid) as status:
                    for line in status:
                        if line.startswith("VmHWM:"):
                            peak = max(peak, int(line.split()[1]))
            except OSError:
                pass
            if time.monotonic() - started > seconds and partner.returncode is None:
                partner.terminate()
                partner.wait()
                break
            time.sleep(0.05)
        took = time.monotonic() - started
    for process in (service, console):
        process.terminate()
        process.wait()
    print("lines %d: exit %d, peak %.1f MiB, %.1f s" % (lines, partner.returncode, peak / 1024.0,
                                                       took))
    return 0


if __name__ == "__main__":
    sys.exit(main())
