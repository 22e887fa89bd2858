#!/usr/bin/python3
"""`korvane view` in a real browser: headless Chromium driven by Selenium
(Debian's chromium, chromium-driver and python3-selenium, for /usr/bin/python3),
against a real `korvane serve` and `korvane console` in a private runtime
folder.

    browser_test.py KORVANE SOURCE_DIR

Every wait is bounded and on a condition (WebDriverWait, or a deadline on a
process's output); nothing sleeps a fixed time. Exit status 0 when every
check passed, 77 (skipped) without Chromium or Selenium.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("skipped: python3-selenium is not installed")
    sys.exit(77)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from view_harness import WAIT, Program, free_port, request, wait_path  # noqa: E402

KORVANE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "korvane"
SOURCE = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else "."
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"

STATE = {"parameters": [
    {"path": [1, 2, 3, 4, 5], "value": 10},
    {"path": [1, 2, 3, 4, 6], "value": 20},
    {"path": [1, 2, 3, 4, 7], "value": "Main out"},
]}


class ViewInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="korvane-view-")
        cls.env = dict(os.environ, KORVANE_RUNTIME_DIR=os.path.join(cls.tmp, "run"))
        os.mkdir(cls.env["KORVANE_RUNTIME_DIR"], 0o700)
        cls.state_file = os.path.join(cls.tmp, "desk.json")
        with open(cls.state_file, "w") as f:
            json.dump(STATE, f)
        cls.labels = os.path.join(cls.tmp, "labels.json")
        cls.token_file = os.path.join(cls.tmp, "token")
        with open(cls.token_file, "w") as f:
            f.write("test-token-0123456789abcdef\n")
        cls.programs = []
        cls.service = cls.start(["serve", "demo"])
        # The second partner's own service: a service forwards a report only
        # when it differs from the last one it forwarded, to whichever partner.
        cls.other_service = cls.start(["serve", "other"])
        for name in ("Korvane_demo", "Korvane_other"):
            wait_path(os.path.join(cls.env["KORVANE_RUNTIME_DIR"], name))
        cls.console_port = free_port()
        cls.console = cls.start_console()
        cls.view_port = free_port()
        cls.view = cls.start_view()
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1400,900",
                     "--user-data-dir=" + os.path.join(cls.tmp, "chromium")):
            options.add_argument(flag)
        cls.driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        cls.driver.set_page_load_timeout(WAIT)
        cls.driver.set_script_timeout(WAIT)
        cls.driver.get(cls.address)
        cls.wait_for(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        for program in reversed(cls.programs):
            program.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def start(cls, args):
        program = Program([KORVANE] + args, cls.env)
        cls.programs.append(program)
        return program

    @classmethod
    def start_console(cls):
        console = cls.start(["console", "--listen", "127.0.0.1:%d" % cls.console_port,
                             "--state", cls.state_file])
        console.wait_line("listening on")
        return console

    @classmethod
    def start_view(cls):
        view = cls.start(["view", "--listen", "127.0.0.1:%d" % cls.view_port,
                          "--console-link", "127.0.0.1:%d" % cls.console_port,
                          "--service", "demo", "--labels", cls.labels,
                          "--token-file", cls.token_file])
        cls.address = view.wait_line("http://").split(": ", 1)[1]
        cls.base = cls.address.split("/?")[0]
        cls.token = cls.address.split("token=")[1]
        return view

    @classmethod
    def wait_for(cls, condition, timeout=WAIT, message=""):
        return WebDriverWait(cls.driver, timeout, poll_frequency=0.05).until(condition, message)

    def row(self, path):
        found = self.driver.find_elements(By.CSS_SELECTOR, '#spacer .row[data-path="%s"]' % path)
        return found[0] if found else None

    def cell(self, path, name):
        return self.driver.execute_script(
            "const r = document.querySelector('#spacer .row[data-path=\"' + arguments[0] + '\"]');"
            "return r ? r.querySelector('.' + arguments[1]).textContent : null;", path, name)

    def partner(self, *lines):
        result = subprocess.run([KORVANE, "partner", "--service", "other", "--name", "TEST_RX2",
                                 "--console-link", "127.0.0.1:%d" % self.console_port] + list(lines),
                                env=self.env, capture_output=True, text=True, timeout=WAIT)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def command(self, line):
        box = self.driver.find_element(By.ID, "command")
        box.clear()
        box.send_keys(line, Keys.ENTER)

    def poll(self):
        """Polls 1,2,3,4 from the page's command line and waits for its rows."""
        self.command("1,2,3,4,1,-1")
        for path in ("1,2,3,4,5", "1,2,3,4,6", "1,2,3,4,7"):
            self.wait_for(lambda d: self.row(path) is not None, message=path)

    def test_1_parameters_appear_after_a_poll(self):
        self.command("1,2,3,4,1,-1")
        for path, value in (("1,2,3,4,5", "10"), ("1,2,3,4,6", "20"), ("1,2,3,4,7", "Main out")):
            self.wait_for(lambda d: self.cell(path, "value") == value, message=path)
        self.assertEqual(self.cell("1,2,3,4", "value"), "3 parameters")
        self.assertEqual(self.cell("1", "value"), "3 parameters")

    def test_2_a_set_by_another_partner_flashes_its_row(self):
        self.poll()
        self.partner("1,2,3,4,5,77")
        self.wait_for(lambda d: self.cell("1,2,3,4,5", "value") == "77"
                      and "flash" in self.row("1,2,3,4,5").get_attribute("class"), timeout=1.0,
                      message="the row did not flash within a second")

    def test_3_a_value_edited_in_the_page_reaches_the_console(self):
        self.poll()
        self.row("1,2,3,4,6").find_element(By.CSS_SELECTOR, ".value").click()
        edit = self.wait_for(lambda d: self.row("1,2,3,4,6").find_element(By.CSS_SELECTOR, "input.edit"))
        edit.send_keys(Keys.CONTROL, "a")
        edit.send_keys("55", Keys.ENTER)
        self.wait_for(lambda d: self.cell("1,2,3,4,6", "value") == "55")
        self.assertIn("report: 1,2,3,4,6,55", self.partner("1,2,3,4,1,-1"))
        # Esc cancels an edit: nothing is sent.
        self.row("1,2,3,4,6").find_element(By.CSS_SELECTOR, ".value").click()
        edit = self.wait_for(lambda d: self.row("1,2,3,4,6").find_element(By.CSS_SELECTOR, "input.edit"))
        edit.send_keys("9", Keys.ESCAPE)
        self.wait_for(lambda d: not self.row("1,2,3,4,6").find_elements(By.CSS_SELECTOR, "input.edit"))
        self.assertEqual(self.cell("1,2,3,4,6", "value"), "55")

    def test_4_a_line_read_otherwise_gets_the_partners_warning(self):
        self.command("1,2,3,4,5,6,7")
        self.wait_for(lambda d: "more than six fields" in d.find_element(By.ID, "notice").text)

    def test_5_export_gives_the_values(self):
        self.poll()
        href = self.driver.find_element(By.ID, "exportJson").get_attribute("href")
        status, text = request(self.base, urllib.parse.urlsplit(href).path + "?" + urllib.parse.urlsplit(href).query)
        self.assertEqual(status, 200, text)
        values = {p["path"]: p["value"] for p in json.loads(text)["parameters"]}
        self.assertEqual(values.get("1,2,3,4,7"), "Main out")
        status, csv = request(self.base, "/api/export.csv?token=" + self.token)
        self.assertEqual(status, 200)
        self.assertIn('"1,2,3,4,7",', csv)

    def test_6_labels_survive_a_restart_and_are_searched(self):
        cls = type(self)
        self.poll()
        self.row("1,2,3,4,5").find_element(By.CSS_SELECTOR, ".label").click()
        edit = self.wait_for(lambda d: self.row("1,2,3,4,5").find_element(By.CSS_SELECTOR, "input.edit"))
        edit.send_keys("Ch 1 fader", Keys.ENTER)
        self.wait_for(lambda d: self.cell("1,2,3,4,5", "label") == "Ch 1 fader")
        with open(self.labels) as f:
            self.assertEqual(json.load(f), {"labels": {"1,2,3,4,5": "Ch 1 fader"}})
        # The view goes away and comes back on the same address: the page says
        # so and reconnects by itself.
        self.assertEqual(cls.view.stop(), 0)
        self.wait_for(lambda d: d.find_element(By.ID, "stream").get_attribute("data-state") == "reconnecting")
        cls.view = cls.start_view()
        self.wait_for(lambda d: d.find_element(By.ID, "stream").get_attribute("data-state") == "live")
        self.poll()
        self.wait_for(lambda d: self.cell("1,2,3,4,5", "label") == "Ch 1 fader")
        # "/" focuses the filter; a label finds its row.
        self.driver.find_element(By.TAG_NAME, "body").send_keys("/")
        self.wait_for(lambda d: d.switch_to.active_element.get_attribute("id") == "filter")
        self.driver.switch_to.active_element.send_keys("fader")
        self.wait_for(lambda d: self.row("1,2,3,4,6") is None and self.row("1,2,3,4,5") is not None)
        self.driver.switch_to.active_element.send_keys(Keys.ESCAPE)
        self.wait_for(lambda d: self.row("1,2,3,4,6") is not None)

    def test_7_a_console_that_drops_and_comes_back_is_shown(self):
        cls = type(self)
        self.wait_for(lambda d: d.find_element(By.ID, "console").get_attribute("data-state") == "connected")
        cls.programs.remove(cls.console)
        self.assertEqual(cls.console.stop(), 0)
        self.wait_for(lambda d: d.find_element(By.ID, "console").get_attribute("data-state") in ("lost", "retrying"))
        cls.console = cls.start_console()
        self.wait_for(lambda d: d.find_element(By.ID, "console").get_attribute("data-state") == "connected")

    def test_8_requests_that_do_not_belong_are_refused(self):
        host = urllib.parse.urlsplit(self.base).netloc
        cases = [
            ("/", {"Host": "evil.example:%d" % self.view_port}, 403, "refused: the Host"),
            ("/api/state", {"Host": host}, 403, "carries no token"),
            ("/api/state?token=" + self.token, {"Host": host, "Origin": "http://evil.example"}, 403, "another origin"),
            ("/api/state?token=" + self.token, {"Host": host}, 200, '"parameters"'),
            ("/nothing?token=" + self.token, {"Host": host}, 404, "not found"),
        ]
        for path, headers, status, text in cases:
            got, body = request(self.base, path, headers=headers)
            self.assertEqual(got, status, path)
            self.assertIn(text, body)
        got, body = request(self.base, "/api/set?token=" + self.token, "POST", {"Host": host}, "{bad")
        self.assertEqual((got, body), (400, "malformed JSON: the body must be one JSON object\n"))
        got, body = request(self.base, "/api/set?token=" + self.token, "POST", {"Host": host}, "x" * 20000)
        self.assertEqual(got, 413)
        result = subprocess.run([KORVANE, "view", "--listen", "192.0.2.1:0"], env=self.env,
                                capture_output=True, text=True, timeout=WAIT)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--allow-remote", result.stderr)

    def test_9_offline_shows_the_twelve_reports_of_the_capture(self):
        offline = self.start(["view", "--listen", "127.0.0.1:0",
                              os.path.join(SOURCE, "data", "console_capture.bin")])
        address = offline.wait_line("http://").split(": ", 1)[1]
        self.driver.get(address)
        try:
            self.wait_for(lambda d: "offline" in d.find_element(By.ID, "mode").text)
            self.wait_for(lambda d: "12 reports" in d.find_element(By.ID, "counters").text)
            self.wait_for(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#spacer .row.param")) == 11)
            self.assertEqual(self.cell("2,2,3", "value"), "Kick In")
            self.assertEqual(self.cell("1,20,4,1,5", "value"), "-30")
            self.assertFalse(self.driver.find_element(By.ID, "command").is_displayed())
        finally:
            self.programs.remove(offline)
            offline.stop()
            self.driver.get(self.address)
            self.wait_for(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))


if __name__ == "__main__":
    if not os.path.exists(CHROMIUM) or not os.path.exists(DRIVER):
        print("skipped: chromium or chromedriver is not installed")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1], verbosity=2)
