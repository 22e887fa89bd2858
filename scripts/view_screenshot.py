#!/usr/bin/python3
"""Takes docs/view.png: `korvane view` in headless Chromium with the console
simulator's parameters, a few labels, and a row flashing after a second
partner set it.

    scripts/view_screenshot.py [KORVANE] [OUTPUT]

(defaults build/release/korvane, docs/view.png). Needs chromium,
chromium-driver and python3-selenium (scripts/setup.sh test). Every wait is
bounded and on a condition.
"""

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KORVANE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build/release/korvane")
OUTPUT = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else os.path.join(ROOT, "docs/view.png")
WAIT = 15

# A small desk: four input channels (fader, gain, name) and the main out.
PARAMETERS = []
for ch in range(1, 5):
    PARAMETERS.append({"path": [1, ch, 3, 4, 5], "value": 600 + 37 * ch})
    PARAMETERS.append({"path": [1, ch, 3, 4, 6], "value": 20 + ch})
    PARAMETERS.append({"path": [1, ch, 3, 4, 7], "value": ["Vocal 1", "Kick In", "Snare Top", "Bass DI"][ch - 1]})
PARAMETERS.append({"path": [3, 1, 2, 4, 5], "value": "Main out"})
LABELS = {"1,1,3,4,5": "Ch 1 fader", "1,2,3,4,5": "Ch 2 fader", "1,1,3,4,6": "Ch 1 gain",
          "1": "Inputs", "3": "Outputs"}


def wait_until(condition, what):
    deadline = time.monotonic() + WAIT
    while not condition():
        if time.monotonic() > deadline:
            raise SystemExit("view_screenshot: timed out waiting for " + what)
        time.sleep(0.02)  # polling a condition, bounded by the deadline


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    tmp = tempfile.mkdtemp(prefix="korvane-shot-")
    env = dict(os.environ, KORVANE_RUNTIME_DIR=os.path.join(tmp, "run"))
    os.mkdir(env["KORVANE_RUNTIME_DIR"], 0o700)
    with open(os.path.join(tmp, "desk.json"), "w") as f:
        json.dump({"parameters": PARAMETERS}, f)
    with open(os.path.join(tmp, "labels.json"), "w") as f:
        json.dump({"labels": LABELS}, f)
    console_port = free_port()
    procs = []

    def start(args, **kw):
        proc = subprocess.Popen([KORVANE] + args, env=env, stdin=subprocess.DEVNULL, **kw)
        procs.append(proc)
        return proc

    try:
        start(["serve", "demo"])
        start(["serve", "desk"])
        for name in ("Korvane_demo", "Korvane_desk"):
            wait_until(lambda: os.path.exists(os.path.join(env["KORVANE_RUNTIME_DIR"], name)), name)
        start(["console", "--listen", "127.0.0.1:%d" % console_port, "--state", os.path.join(tmp, "desk.json")])
        view_out = os.path.join(tmp, "view.out")
        with open(view_out, "w") as out:
            start(["view", "--listen", "127.0.0.1:0", "--console-link", "127.0.0.1:%d" % console_port,
                   "--service", "demo", "--labels", os.path.join(tmp, "labels.json")], stdout=out)
        wait_until(lambda: "http://" in open(view_out).read(), "the view's address")
        address = open(view_out).read().split(": ", 1)[1].strip()

        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--hide-scrollbars", "--window-size=1400,640", "--user-data-dir=" + os.path.join(tmp, "chromium")):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            driver.get(address)
            wait = WebDriverWait(driver, WAIT, poll_frequency=0.05)
            wait.until(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
            for line in ("1,1,3,4,1,-1", "1,2,3,4,1,-1", "1,3,3,4,1,-1", "1,4,3,4,1,-1", "3,1,2,4,1,-1"):
                box = driver.find_element(By.ID, "command")
                box.clear()
                box.send_keys(line, Keys.ENTER)
            wait.until(lambda d: d.find_element(By.ID, "counters").text.startswith("%d parameters" % len(PARAMETERS)))
            # A second partner (on its own service) moves channel 2's fader a few times.
            for value in (700, 712, 690, 731):
                subprocess.run([KORVANE, "partner", "--service", "desk", "--name", "DESK",
                                "--console-link", "127.0.0.1:%d" % console_port, "--wait", "50",
                                "1,2,3,4,5,%d" % value], env=env, check=True, capture_output=True, timeout=WAIT)
            wait.until(lambda d: "flash" in d.find_element(By.CSS_SELECTOR, '#spacer .row[data-path="1,2,3,4,5"]').get_attribute("class"))
            driver.save_screenshot(OUTPUT)
        finally:
            driver.quit()
    finally:
        for proc in reversed(procs):
            proc.send_signal(signal.SIGTERM)
            proc.wait(WAIT)
    print("view_screenshot: wrote " + OUTPUT)


if __name__ == "__main__":
    main()
