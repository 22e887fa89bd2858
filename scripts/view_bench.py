#!/usr/bin/python3
"""Figures of `korvane view` for docs/PERFORMANCE.md (not a test):

    scripts/view_bench.py [KORVANE] [--parameters N] [--flood LINES] [--rate R]

With the console simulator holding N parameters (default 100,000, paths
1,a,b,c,d), polled in through the view: the first render of all of them in
a fresh headless Chromium page, the round trip of a value set in the page
until its report is drawn, the view's memory with 16 pages open, and the
page's main-thread load while a second partner floods the console with sets,
and while the console announces R changes a second (default 10,000) for
ten seconds: a client of the simulator sends it sets of the encoded blocks
at that pace, and the simulator announces each to the view. Every wait is
bounded.
"""

import http.client
import json
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args = [a for a in sys.argv[1:] if not a.startswith("--")]
KORVANE = os.path.abspath(args[0]) if args else os.path.join(ROOT, "build/release/korvane")
N = int(sys.argv[sys.argv.index("--parameters") + 1]) if "--parameters" in sys.argv else 100000
WAIT = 300
FLOOD = int(sys.argv[sys.argv.index("--flood") + 1]) if "--flood" in sys.argv else 20000
RATE = int(sys.argv[sys.argv.index("--rate") + 1]) if "--rate" in sys.argv else 10000
PACED_SECONDS = 10


def wait_until(condition, what, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise SystemExit("view_bench: timed out waiting for " + what)
        time.sleep(0.05)


def drain(response):
    """Reads an event stream until it is closed."""
    try:
        while response.read(65536):
            pass
    except (AttributeError, OSError, http.client.HTTPException):
        pass


def paced_sets(port, blocks, rate):
    """Sends blocks to the console at `rate` a second, in slices of 10 ms,
    reading its answers meanwhile; the seconds it took."""
    sock = socket.create_connection(("127.0.0.1", port))
    stop = threading.Event()

    def read():
        sock.settimeout(0.5)
        while not stop.is_set():
            try:
                if not sock.recv(1 << 16):
                    return
            except socket.timeout:
                pass
            except OSError:
                return

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    per_slice = max(1, rate // 100)
    t0 = time.monotonic()
    for i in range(0, len(blocks), per_slice):
        sock.sendall(b"".join(blocks[i:i + per_slice]))
        due = t0 + (i // per_slice + 1) * 0.01
        left = due - time.monotonic()
        if left > 0:
            time.sleep(left)  # pacing, not waiting on a condition
    elapsed = time.monotonic() - t0
    stop.set()
    reader.join(2)
    sock.close()
    return elapsed


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    tmp = tempfile.mkdtemp(prefix="korvane-bench-")
    env = dict(os.environ, KORVANE_RUNTIME_DIR=os.path.join(tmp, "run"))
    os.mkdir(env["KORVANE_RUNTIME_DIR"], 0o700)
    per = 100
    groups = []
    params = []
    for a in range(1, 11):
        for b in range(1, 11):
            for c in range(1, 101):
                if len(params) >= N:
                    break
                groups.append((a, b, c))
                for d in range(1, per + 1):
                    params.append({"path": [1, a, b, c, d], "value": d})
    params = params[:N]
    with open(os.path.join(tmp, "desk.json"), "w") as f:
        json.dump({"parameters": params}, f)
    console_port = free_port()
    procs = []

    def start(argv, **kw):
        proc = subprocess.Popen([KORVANE] + argv, env=env, stdin=kw.pop("stdin", subprocess.DEVNULL), **kw)
        procs.append(proc)
        return proc

    try:
        start(["serve", "demo"])
        start(["serve", "flood"])
        for name in ("Korvane_demo", "Korvane_flood"):
            wait_until(lambda: os.path.exists(os.path.join(env["KORVANE_RUNTIME_DIR"], name)), name)
        start(["console", "--listen", "127.0.0.1:%d" % console_port, "--state", os.path.join(tmp, "desk.json")])
        out = os.path.join(tmp, "view.out")
        with open(out, "w") as f:
            view = start(["view", "--listen", "127.0.0.1:0", "--console-link", "127.0.0.1:%d" % console_port,
                          "--service", "demo"], stdout=f)
        wait_until(lambda: "http://" in open(out).read(), "the view's address", 30)
        address = open(out).read().split(": ", 1)[1].strip()
        parts = urllib.parse.urlsplit(address)
        token = address.split("token=")[1]

        def call(method, path, body=None):
            conn = http.client.HTTPConnection(parts.hostname, parts.port, timeout=60)
            conn.request(method, path + ("&" if "?" in path else "?") + "token=" + token,
                         body=json.dumps(body) if body is not None else None)
            response = conn.getresponse()
            data = response.read()
            conn.close()
            return json.loads(data)

        started = time.monotonic()
        for a, b, c in groups:
            call("POST", "/api/command", {"line": "1,%d,%d,%d,1,-1" % (a, b, c)})
        wait_until(lambda: call("GET", "/api/state")["counters"]["parameters"] >= len(params), "every parameter")
        print("loaded %d parameters through the view in %.1f s" % (len(params), time.monotonic() - started))

        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--window-size=1400,900", "--user-data-dir=" + os.path.join(tmp, "chromium")):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.set_script_timeout(120)
        try:
            renders = []
            for _ in range(3):
                driver.get(address)
                wait_until(lambda: driver.execute_script("return window.korvaneFirstDraw || 0") > 0, "first draw", 120)
                renders.append(driver.execute_script("return window.korvaneFirstDraw"))
            print("first render of %d parameters (page opened to rows drawn): median %.0f ms of %s" %
                  (len(params), statistics.median(renders), ["%.0f" % r for r in renders]))

            trips = driver.execute_async_script("""
                const done = arguments[0];
                const token = sessionStorage.getItem('korvane-token');
                const cell = () => { const r = document.querySelector('#spacer .row[data-path="1,1,1,1,1"] .value'); return r ? r.textContent : ''; };
                const trips = [];
                let value = 5000;
                const one = () => {
                  if (trips.length === 20) return done(trips);
                  const want = String(++value);
                  const t0 = performance.now();
                  fetch('/api/set?token=' + token, {method: 'POST', headers: {'Content-Type': 'application/json'}, body: JSON.stringify({path: '1,1,1,1,1', value: Number(want)})});
                  const check = () => { if (cell().startsWith(want)) { trips.push(performance.now() - t0); setTimeout(one, 150); } else requestAnimationFrame(check); };
                  check();
                };
                one();""")
            print("set in the page until its report is drawn (page, view, service, console and back): "
                  "median %.1f ms, max %.1f ms of 20" % (statistics.median(trips), max(trips)))

            # 15 more event streams besides the page: 16 pages.
            streams = []
            for _ in range(15):
                conn = http.client.HTTPConnection(parts.hostname, parts.port, timeout=60)
                conn.request("GET", "/api/events?token=" + token)
                response = conn.getresponse()
                threading.Thread(target=drain, args=(response,), daemon=True).start()
                streams.append(conn)
            time.sleep(5)  # a measurement, not a test: let every stream take its state
            status = open("/proc/%d/status" % view.pid).read()
            rss = [l for l in status.splitlines() if l.startswith(("VmRSS", "VmHWM"))]
            print("view with %d parameters and 16 pages: %s" % (len(params), ", ".join(" ".join(l.split()) for l in rss)))

            # A second partner (its own service) floods the console with sets.
            lines = "".join("1,%d,%d,%d,%d,%d\n" % (1 + i % 10, 1 + (i // 10) % 10, 1 + (i // 100) % 10, 1 + (i // 1000) % 100, i)
                            for i in range(FLOOD))
            driver.execute_script("""
                window.korvaneBusy = 0;
                new PerformanceObserver((list) => { for (const e of list.getEntries()) window.korvaneBusy += e.duration; })
                  .observe({type: 'longtask', buffered: false});""")
            before = call("GET", "/api/state")["counters"]["reports"]
            t0 = time.monotonic()
            flood = subprocess.run([KORVANE, "partner", "--quiet", "--service", "flood", "--name", "FLOOD",
                                    "--console-link", "127.0.0.1:%d" % console_port, "-", "--wait", "0"],
                                   input=lines, env=env, capture_output=True, text=True, timeout=WAIT)
            elapsed = time.monotonic() - t0
            reports = call("GET", "/api/state")["counters"]["reports"] - before
            busy = driver.execute_script("return window.korvaneBusy")
            print("flood: %d reports in %.1f s (%.0f a second) reached the view; the page's long tasks "
                  "(over 50 ms) took %.0f ms of it (%.1f%%); the flooding partner's status %d" %
                  (reports, elapsed, reports / elapsed, busy, 100 * busy / (elapsed * 1000), flood.returncode))

            # The console announces RATE changes a second for PACED_SECONDS.
            count = RATE * PACED_SECONDS
            lines = "".join("1,%d,%d,%d,%d,%d\n" % (1 + i % 10, 1 + (i // 10) % 10, 1 + (i // 100) % 10,
                                                    1 + (i // 1000) % 100, 100000 + i)
                            for i in range(count))
            encoded = subprocess.run([KORVANE, "encode", "-"], input=lines, capture_output=True,
                                     text=True, timeout=WAIT, check=True).stdout.split("\n")
            blocks = [bytes.fromhex(line) for line in encoded if line.strip()]
            driver.execute_script("window.korvaneBusy = 0;")
            before = call("GET", "/api/state")["counters"]["reports"]
            t0 = time.monotonic()
            sent_in = paced_sets(console_port, blocks, RATE)
            wait_until(lambda: call("GET", "/api/state")["counters"]["reports"] - before >= count
                       or time.monotonic() - t0 > sent_in + 30, "the announced changes")
            elapsed = time.monotonic() - t0
            reports = call("GET", "/api/state")["counters"]["reports"] - before
            busy = driver.execute_script("return window.korvaneBusy")
            frames = driver.execute_async_script("""
                const done = arguments[0]; let n = 0; const t0 = performance.now();
                const tick = () => { if (++n === 30) done(performance.now() - t0); else requestAnimationFrame(tick); };
                requestAnimationFrame(tick);""")
            print("paced: %d sets sent in %.1f s (%.0f a second); %d reports reached the view in %.1f s "
                  "(%.0f a second); the page's long tasks took %.0f ms (%.1f%%); 30 frames after it in %.0f ms" %
                  (len(blocks), sent_in, len(blocks) / sent_in, reports, elapsed, reports / elapsed, busy,
                   100 * busy / (elapsed * 1000), frames))
            for conn in streams:
                conn.close()
        finally:
            driver.quit()
    finally:
        for proc in reversed(procs):
            proc.send_signal(signal.SIGTERM)
            proc.wait(30)


if __name__ == "__main__":
    main()
