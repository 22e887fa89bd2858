"""What the view's tests share: programs whose output lines are awaited,
plain HTTP requests with exactly the headers given, and an event stream read
on a thread. Every wait is bounded (WAIT) and on a condition."""

import http.client
import json
import os
import signal
import socket
import subprocess
import threading
import time
import urllib.parse

WAIT = 15.0  # the bound of every wait for the programs and the page


class Program:
    """A process whose output lines are collected as they come (or, quiet,
    not kept at all: what it starts then holds none of our pipes)."""

    def __init__(self, argv, env, quiet=False):
        self.lines = []
        self.cond = threading.Condition()
        output = subprocess.DEVNULL if quiet else subprocess.PIPE
        self.proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                     stdout=output, stderr=output, text=True)
        for stream in (self.proc.stdout, self.proc.stderr):
            if stream:
                threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            with self.cond:
                self.lines.append(line.rstrip("\n"))
                self.cond.notify_all()

    def wait_line(self, text):
        deadline = time.monotonic() + WAIT
        with self.cond:
            while True:
                for line in self.lines:
                    if text in line:
                        return line
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    raise AssertionError("no line with %r from %s: %r" % (text, self.proc.args, self.lines))
                self.cond.wait(min(left, 0.5))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            status = self.proc.wait(WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = self.proc.wait(WAIT)
        # The pipes are left to the reader threads: a process the program
        # started (Wine's own) may still hold them open, and closing a pipe
        # another thread reads waits for that read.
        return status


def wait_path(path):
    """Waits (bounded) for a service's endpoint to appear."""
    deadline = time.monotonic() + WAIT
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise AssertionError("no " + path)
        time.sleep(0.02)  # polling a condition, bounded by the deadline


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(base, path, method="GET", headers=None, body=None):
    """One HTTP request with exactly the headers given (Host included)."""
    parts = urllib.parse.urlsplit(base)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=WAIT)
    connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
    for name, value in (headers or {"Host": parts.netloc}).items():
        connection.putheader(name, value)
    if body is not None:
        connection.putheader("Content-Length", str(len(body)))
    connection.endheaders(body.encode() if body is not None else None)
    response = connection.getresponse()
    text = response.read().decode()
    connection.close()
    return response.status, text


class EventStream:
    """The view's event stream (/api/events), read on a thread of its own:
    every event's name and data (JSON) in the order they came."""

    def __init__(self, base, token):
        parts = urllib.parse.urlsplit(base)
        self.events = []
        self.cond = threading.Condition()
        self.connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=WAIT)
        self.connection.request("GET", "/api/events?token=" + token)
        self.response = self.connection.getresponse()
        if self.response.status != 200:
            raise AssertionError("event stream: %d %s" % (self.response.status, self.response.read()))
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        name, data = None, None
        try:
            for raw in self.response:
                line = raw.decode().rstrip("\n")
                if line.startswith("event: "):
                    name = line[7:]
                elif line.startswith("data: "):
                    data = json.loads(line[6:])
                elif line == "" and name is not None:
                    with self.cond:
                        self.events.append((name, data))
                        self.cond.notify_all()
                    name, data = None, None
        except (OSError, ValueError, http.client.HTTPException):
            pass

    def wait_for(self, condition, what):
        """Waits for an event for which condition(name, data) holds."""
        deadline = time.monotonic() + WAIT
        with self.cond:
            while True:
                for name, data in self.events:
                    if condition(name, data):
                        return name, data
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("no event with %s: %r" % (what, self.events[-5:]))
                self.cond.wait(min(left, 0.5))

    def close(self):
        self.connection.close()
