#!/usr/bin/env python3
"""Runs a partner example against a service of its own.

    run_with_service.py KORVANE [--expect TEXT]... -- COMMAND...

Starts `KORVANE serve example` in a fresh private runtime folder, waits
(bounded) for its ready line, runs COMMAND with KORVANE_RUNTIME_DIR set to
that folder, stops the service with SIGTERM and fails unless COMMAND and the
service both ended with status 0 and COMMAND's output holds every TEXT.
"""

import os
import select
import subprocess
import sys
import tempfile
import time

WAIT_SECONDS = 30.0


def wait_ready(service):
    deadline = time.monotonic() + WAIT_SECONDS
    seen = b""
    while b": ready:" not in seen:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([service.stderr], [], [], left)[0]:
            return False, seen
        chunk = os.read(service.stderr.fileno(), 4096)
        if not chunk:
            return False, seen
        seen += chunk
    return True, seen


def main():
    args = sys.argv[1:]
    if "--" not in args or args.index("--") < 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    split = args.index("--")
    korvane, options, command = args[0], args[1:split], args[split + 1:]
    expected = [options[i + 1] for i in range(len(options) - 1) if options[i] == "--expect"]
    with tempfile.TemporaryDirectory(prefix="korvane-example.") as folder:
        os.chmod(folder, 0o700)
        env = dict(os.environ, KORVANE_RUNTIME_DIR=folder)
        service = subprocess.Popen([korvane, "serve", "example"], env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        try:
            ready, seen = wait_ready(service)
            if not ready:
                print("the service did not get ready: %r" % seen.decode(errors="replace"))
                return 1
            try:
                run = subprocess.run(command, env=env, stdin=subprocess.DEVNULL,
                                     capture_output=True, timeout=WAIT_SECONDS)
            except subprocess.TimeoutExpired:
                print("%s did not end within %d s" % (command[0], WAIT_SECONDS))
                return 1
        finally:
            service.terminate()
            try:
                status = service.wait(WAIT_SECONDS)
            except subprocess.TimeoutExpired:
                service.kill()
                status = service.wait()
        output = run.stdout.decode(errors="replace")
        sys.stdout.write(output)
        sys.stdout.write(run.stderr.decode(errors="replace"))
        failed = [text for text in expected if text not in output]
        for text in failed:
            print("FAILED: the output lacks %r" % text)
        if run.returncode != 0:
            print("FAILED: %s ended with status %d" % (command[0], run.returncode))
        if status != 0:
            print("FAILED: the service ended with status %d" % status)
        return 0 if not failed and run.returncode == 0 and status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
