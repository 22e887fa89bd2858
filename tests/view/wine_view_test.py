#!/usr/bin/python3
"""`korvane-cli.exe view` under Wine, linking Korvane.exe with the console
simulator (`korvane-cli.exe console`, also under Wine), its HTTP interface
driven from the Linux side: the state, the event stream, a poll and a set
that reaches the console and comes back as a report.

    wine_view_test.py WINE_RUN WINE_PREFIX KORVANE_EXE KORVANE_CLI_EXE

Needs a display for Korvane.exe's window (the Windows tests run under
xvfb-run). Every wait is bounded and on a condition.
"""

import json
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from view_harness import WAIT, EventStream, Program, free_port, request  # noqa: E402

WINE_RUN, PREFIX, KORVANE_EXE, CLI_EXE = (os.path.abspath(a) for a in sys.argv[1:5])

STATE = {"parameters": [
    {"path": [1, 2, 3, 4, 5], "value": 10},
    {"path": [1, 2, 3, 4, 6], "value": 20},
    {"path": [1, 2, 3, 4, 7], "value": "Main out"},
]}


def log_entry_after(last_id, *starts):
    """An event whose log holds, after entry last_id, a text that starts
    with one of these."""
    def condition(name, data):
        return any(entry["id"] > last_id and entry["text"].startswith(starts)
                   for entry in (data or {}).get("events", []))
    return condition


def last_log_id(events):
    return max((entry["id"] for _, data in list(events.events)
                for entry in (data or {}).get("events", [])), default=0)


def has_parameter(path, value):
    def condition(name, data):
        return any(p["path"] == path and p["value"] == value
                   for p in (data or {}).get("parameters", []))
    return condition


class ViewUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="korvane-wine-view-")
        state_file = os.path.join(cls.tmp, "desk.json")
        with open(state_file, "w") as f:
            json.dump(STATE, f)
        cls.programs = []
        # First, and without our pipes: the Wine server it may start outlives
        # the test by a few seconds, and must not hold the test's output open.
        cls.start(KORVANE_EXE, "WINEVIEW", quiet=True)
        port = free_port()
        cls.start(CLI_EXE, "console", "--listen", "127.0.0.1:%d" % port,
                  "--state", state_file).wait_line("listening on")
        view = cls.start(CLI_EXE, "view", "--listen", "127.0.0.1:0",
                         "--console-link", "127.0.0.1:%d" % port, "--service", "WINEVIEW")
        address = view.wait_line("http://").split(": ", 1)[1]
        cls.base = address.split("/?")[0]
        cls.token = address.split("token=")[1]
        cls.events = EventStream(cls.base, cls.token)

    @classmethod
    def tearDownClass(cls):
        cls.events.close()
        for program in reversed(cls.programs):
            program.stop()

    @classmethod
    def start(cls, program, *args, quiet=False):
        started = Program([WINE_RUN, "--prefix", PREFIX, program] + list(args),
                          dict(os.environ, WINEDEBUG="-all"), quiet)
        cls.programs.append(started)
        return started

    def post(self, path, body):
        status, text = request(self.base, path + "?token=" + self.token, "POST",
                               {"Host": self.base[len("http://"):],
                                "Content-Type": "application/json"}, json.dumps(body))
        self.assertEqual(status, 200, text)
        return json.loads(text)

    def poll_until_sent(self, path, line):
        """Korvane.exe was started without a wait for its window: until it has
        one, the view logs a command as not sent. Poll again until one is sent."""
        sent = "sent " + line
        deadline = time.monotonic() + WAIT
        while True:
            last = last_log_id(self.events)
            self.assertEqual(self.post("/api/poll", {"path": path})["line"], line)
            name, data = self.events.wait_for(log_entry_after(last, sent, "not sent: " + line),
                                              "the poll sent or refused")
            if log_entry_after(last, sent)(name, data):
                return
            self.assertLess(time.monotonic(), deadline, "Korvane.exe never took the poll")

    def test_state_stream_poll_and_set(self):
        self.events.wait_for(lambda name, data: name == "state", "the whole state first")
        self.poll_until_sent("1,2,3,4", "1,2,3,4,1,-1")
        for path, value in (("1,2,3,4,5", 10), ("1,2,3,4,6", 20), ("1,2,3,4,7", "Main out")):
            self.events.wait_for(has_parameter(path, value), "%s = %r" % (path, value))
        self.assertEqual(self.post("/api/set", {"path": "1,2,3,4,6", "value": 55})["line"],
                         "1,2,3,4,6,55")
        self.events.wait_for(has_parameter("1,2,3,4,6", 55), "the console's answer to the set")
        status, text = request(self.base, "/api/state?token=" + self.token)
        self.assertEqual(status, 200, text)
        state = json.loads(text)
        values = {p["path"]: p["value"] for p in state["parameters"]}
        self.assertEqual(values, {"1,2,3,4,5": 10, "1,2,3,4,6": 55, "1,2,3,4,7": "Main out"})
        self.assertEqual(state["link"]["console"]["state"], "connected")
        self.assertEqual(state["link"]["service"]["state"], "reachable")
        # The checks hold under Windows too: no token, no entry.
        self.assertEqual(request(self.base, "/api/state")[0], 403)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
