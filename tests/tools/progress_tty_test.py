#!/usr/bin/env python3
"""The progress line of decode, dump and reencode: shown on standard error
when it is a terminal (a pseudo-terminal here) and the input is above 64 MiB,
never on a pipe, never for a small input; standard output is the same in
every case.

    progress_tty_test.py KORVANE CAPTURE
"""
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import time

TIMEOUT = 120  # seconds for one run, far above what it takes
THRESHOLD = 64 << 20

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)


def run_on_pty(args):
    """Runs args with standard error on a pseudo-terminal; returns (status,
    stdout, stderr as seen on the terminal)."""
    master, slave = pty.openpty()
    with tempfile.TemporaryFile() as out:
        process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=slave)
        os.close(slave)
        seen = b""
        deadline = time.monotonic() + TIMEOUT
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                process.kill()
                process.wait()
                raise SystemExit("progress: %s did not end within %d s" % (args, TIMEOUT))
            ready, _, _ = select.select([master], [], [], min(left, 1.0))
            if ready:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # EIO: the other side is closed
                    chunk = b""
                if not chunk:
                    break
                seen += chunk
            elif process.poll() is not None:
                break
        status = process.wait(timeout=TIMEOUT)
        os.close(master)
        out.seek(0)
        return status, out.read(), seen


def run_on_pipe(args):
    result = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT)
    return result.returncode, result.stdout, result.stderr


def main():
    korvane, capture = sys.argv[1], sys.argv[2]
    with open(capture, "rb") as f:
        messages = f.read()
    with tempfile.TemporaryDirectory() as work:
        big = os.path.join(work, "big.bin")
        small = os.path.join(work, "small.bin")
        # Above the threshold: the capture, silence, the capture again.
        filler = THRESHOLD + 1 - 2 * len(messages)
        with open(big, "wb") as f:
            f.write(messages + bytes(filler) + messages)
        with open(small, "wb") as f:
            f.write(messages)
        size_mib = "%.1f" % ((2 * len(messages) + filler) / float(1 << 20))

        for command in ("decode", "dump", "reencode"):
            pipe_status, pipe_out, pipe_err = run_on_pipe([korvane, command, big])
            check(pipe_status == 0, "%s on a pipe exits 0" % command)
            check(b"korvane %s:" % command.encode() not in pipe_err and b"\r" not in pipe_err,
                  "%s on a pipe writes no progress (stderr %r)" % (command, pipe_err[:80]))

            tty_status, tty_out, tty_err = run_on_pty([korvane, command, big])
            text = tty_err.decode("utf-8", "replace")
            check(tty_status == 0, "%s on a terminal exits 0" % command)
            check(tty_out == pipe_out, "%s writes the same standard output either way" % command)
            final = re.search(r"\rkorvane %s: %s of %s MiB \(100%%\), (\d+) messages?, "
                              r"(\d+) errors?, [0-9.]+ MiB/s\x1b\[K\r?\n" % (command, size_mib, size_mib),
                              text)
            check(final is not None, "%s on a terminal ends with the full progress line (%r)"
                  % (command, text[-160:]))
            if final and command == "reencode":
                check(int(final.group(1)) == len(pipe_out.splitlines()),
                      "reencode counts one message per line written")

            small_status, _, small_err = run_on_pty([korvane, command, small])
            check(small_status == 0 and b"\r" not in small_err and
                  b"MiB" not in small_err,
                  "%s of a small input writes no progress on a terminal" % command)

    if failures:
        print("progress: %d check(s) failed" % len(failures))
        return 1
    print("progress: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
