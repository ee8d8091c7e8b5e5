#!/usr/bin/python3
"""The list page as a person sees it in headless Chromium, written by a real monitor process.

Usage: browser_test.py --monitor <zqnlist> --announce <zqn-announce> --service <zqnlistd>
Exits 77 when Chromium, chromedriver or selenium are not installed.
"""

import argparse
import http.server
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

from web_service import Service, announcement, free_port, wait_for

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIP = 77

SAVE_INTERVAL = 2
HEADING = "本社 機器一覧表"  # 表 ends in byte 0x5C in code page 932, so it must not read as a backslash
NAME = "受付プリンタ"
NAMED_MAC = "02:C3:D7:00:00:02"
FIRST_MAC = "02:C3:D7:00:00:01"
MACS_IN_LIST_ORDER = [NAMED_MAC, FIRST_MAC, "02:C3:D7:00:00:03"]
STAMP = re.compile(r"^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}$")
IDEOGRAPHIC_SPACE = "\u3000"

config = argparse.Namespace()


def missing_browser_parts():
    missing = [path for path in (CHROMIUM, CHROMEDRIVER) if not os.access(path, os.X_OK)]
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append("python3-selenium")
    return missing


class DeviceWebServer:
    """Stands in for the devices' own web pages and notes every request it gets."""

    PAGE = b"<html><head><title>device page</title></head><body>device answered</body></html>"

    def __init__(self):
        self.requests = []
        self.lock = threading.Lock()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def answer(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                with owner.lock:
                    owner.requests.append((self.command, self.path, dict(self.headers.items()), body))
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(owner.PAGE)))
                self.end_headers()
                self.wfile.write(owner.PAGE)

            do_GET = answer
            do_POST = answer

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def posts(self):
        with self.lock:
            return [r for r in self.requests if r[0] == "POST"]

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Monitor:
    """A copy of the monitor in a folder of its own, its settings file beside it."""

    def __init__(self, folder, http_port):
        self.folder = folder
        self.udp_port = free_port(socket.SOCK_DGRAM)
        executable = os.path.join(folder, "zqnlist")
        shutil.copy2(config.monitor, executable)
        with open(os.path.join(folder, "zqnlist.Ini"), "wb") as ini:
            ini.write(b"[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\n")
            ini.write(b"PORT=%d\r\nHTTPPORT=%d\r\nLTIME=%d\r\n" % (self.udp_port, http_port, SAVE_INTERVAL))
            ini.write(b"[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\nMESS1=" + HEADING.encode("cp932") + b"\r\n")
        # A named device that the monitor only updates: its name must survive and reach the page.
        with open(self.path("zqnlist.csv"), "wb") as csv:
            csv.write(f"{NAMED_MAC},10.0.0.9,2020/01/01,00:00:00,{NAME}\r\n".encode("cp932"))
        self.log = open(self.path("monitor.log"), "wb")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
        self.process = subprocess.Popen([executable], cwd=folder, env=env, stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def read(self, name):
        try:
            with open(self.path(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def announce(self, first_mac, count):
        subprocess.run([config.announce, "--host", "127.0.0.1", "--port", str(self.udp_port),
                        "--mac", first_mac, "--count-macs", str(count)],
                       check=True, stdout=subprocess.DEVNULL, timeout=60)

    def stop(self):
        """Ends the monitor the way a logout does; gives its exit code, or None if it had to be killed."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                self.log.close()
                return None
        self.log.close()
        return self.process.returncode


def start_browser(folder):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-quic", "--user-data-dir=" + os.path.join(folder, "profile"),
                 "--window-size=1000,800"):
        options.add_argument(flag)
    # Its own session, so the driver and every browser process it starts end together.
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"),
               XDG_CACHE_HOME=os.path.join(folder, "cache"))
    service = Service(CHROMEDRIVER, log_path=os.path.join(folder, "chromedriver.log"), env=env,
                      popen_kw={"start_new_session": True})
    try:
        driver = webdriver.Chrome(service=service, options=options)
    except Exception:
        end_process_group(getattr(service, "process", None))
        raise
    driver.set_page_load_timeout(60)
    driver.set_script_timeout(30)
    return driver, service


def end_process_group(process):
    if process is None:
        return
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    process.wait()


# Read in one script run, so a reload cannot fall between the parts of one look at the page.
SNAPSHOT_JS = """
if (document.readyState !== 'complete') return null;
const table = document.querySelector('table[bgcolor="#EAF8F8"]');
if (!table) return null;
const heading = document.querySelector('th');
const reload = document.querySelector('input[type=button]');
const refresh = document.querySelector('meta[http-equiv="refresh" i]');
const contentType = document.querySelector('meta[http-equiv="Content-Type" i]');
return {
  charset: document.characterSet,
  declared: contentType ? contentType.content : null,
  title: document.title,
  heading: heading ? heading.innerText : null,
  reloadLabel: reload ? reload.value : null,
  refresh: refresh ? refresh.content : null,
  rows: Array.from(table.rows, r => Array.from(r.cells, c => c.innerText)),
  buttons: Array.from(table.querySelectorAll('input[type=submit]'), b => ({
    label: b.value,
    shown: b.offsetWidth > 0 && b.offsetHeight > 0,
    method: b.form ? b.form.method : null,
    action: b.form ? b.form.action : null,
    target: b.form ? b.form.target : null,
  })),
  marker: window.__marker === 1,
};
"""


class ListPageInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="zqn-browser-")
        cls.server = cls.monitor = cls.driver = cls.service = None
        try:
            cls.server = DeviceWebServer()
            cls.monitor = Monitor(cls.folder, cls.server.port)
            # The first page write follows the bind, so announcements sent after it are heard.
            if not wait_for(lambda: cls.monitor.read("zqnlist.htm"), 30):
                raise AssertionError("the monitor wrote no page; its output:\n" + cls.monitor_output())
            cls.monitor.announce(FIRST_MAC, 3)
            if not wait_for(cls.csv_holds_all_devices, 30):
                raise AssertionError("the CSV file never held the announced devices:\n%r"
                                     % cls.monitor.read("zqnlist.csv"))
            cls.driver, cls.service = start_browser(cls.folder)
            cls.page_url = "file://" + cls.monitor.path("zqnlist.htm")
            cls.driver.get(cls.page_url)
            cls.main_window = cls.driver.current_window_handle
        except BaseException:
            cls.release()
            raise

    @classmethod
    def tearDownClass(cls):
        exit_code, output = cls.release()
        if exit_code != 0:
            raise AssertionError("the monitor did not end cleanly on SIGTERM (exit %r); its output:\n%s"
                                 % (exit_code, output))

    @classmethod
    def release(cls):
        """Ends everything started so far, once; gives the monitor's exit code and output."""
        exit_code, output = 0, ""
        try:
            if getattr(cls, "driver", None) is not None:
                try:
                    cls.driver.quit()
                except Exception:
                    pass
                cls.driver = None
            if getattr(cls, "service", None) is not None:
                end_process_group(getattr(cls.service, "process", None))
                cls.service = None
            if getattr(cls, "monitor", None) is not None:
                exit_code = cls.monitor.stop()
                output = cls.monitor_output()
                cls.monitor = None
            if getattr(cls, "server", None) is not None:
                cls.server.close()
                cls.server = None
        finally:
            if getattr(cls, "folder", None):
                shutil.rmtree(cls.folder, ignore_errors=True)
                cls.folder = None
        return exit_code, output

    @classmethod
    def monitor_output(cls):
        try:
            with open(cls.monitor.path("monitor.log"), "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    @classmethod
    def csv_holds_all_devices(cls):
        csv = cls.monitor.read("zqnlist.csv") or b""
        lines = csv.decode("cp932", "replace").splitlines()
        updated = any(line.startswith(NAMED_MAC + ",127.0.0.1,") for line in lines)
        return updated and all(any(line.startswith(mac + ",") for line in lines) for mac in MACS_IN_LIST_ORDER)

    def setUp(self):
        self.driver.switch_to.window(self.main_window)

    def run_script(self, script):
        from selenium.common.exceptions import WebDriverException
        try:
            return self.driver.execute_script(script)
        except WebDriverException:
            return None  # caught between unloading and loading the page

    def snapshot(self):
        return self.run_script(SNAPSHOT_JS)

    def wait_for_page(self, condition, what, timeout=45):
        last = []

        def look():
            page = self.snapshot()
            if page:
                last[:] = [page]
                return page if condition(page) else None
            return None

        page = wait_for(look, timeout)
        if page is None:
            self.fail("the page never showed %s; last seen: %r" % (what, last[0] if last else None))
        return page

    def test_page_shows_heading_devices_and_connect_buttons(self):
        page = self.wait_for_page(lambda p: len(p["rows"]) == 6, "three devices")
        address = "127.0.0.1:%d" % self.server.port
        with self.subTest("heading bar, decoded through the declared Shift_JIS"):
            self.assertEqual(page["charset"], "Shift_JIS")
            # Chromium guesses the code page of a local file; other browsers need the declaration.
            self.assertIn("charset=Shift_JIS", page["declared"] or "")
            self.assertEqual(page["title"], "ZQN LIST")
            self.assertEqual(page["heading"].strip(), HEADING)
            self.assertEqual(page["reloadLabel"], "更新")
        rows = page["rows"]
        with self.subTest("stamp and header rows"):
            self.assertEqual(len(rows[0]), 1)
            self.assertRegex(rows[0][0].strip(), STAMP)
            self.assertEqual([cell.strip() for cell in rows[1]],
                             ["No.", "Name", "MAC Address", "IP Address", "Date", ""])
        with self.subTest("device rows in list order, the named device updated in place"):
            devices = rows[2:5]
            self.assertEqual([row[0] for row in devices], ["1", "2", "3"])
            self.assertEqual([row[2] for row in devices], MACS_IN_LIST_ORDER)
            self.assertEqual([row[1] for row in devices],
                             [IDEOGRAPHIC_SPACE + NAME] + [IDEOGRAPHIC_SPACE + "noname"] * 2)
            self.assertEqual([row[3] for row in devices], [address] * 3)
            for row in devices:
                self.assertEqual(len(row), 6)
                self.assertRegex(row[4], STAMP)
                self.assertNotEqual(row[4], "2020/01/01 00:00:00")
        with self.subTest("closing row"):
            self.assertEqual(rows[5], [IDEOGRAPHIC_SPACE])
        with self.subTest("one visible 接続 button per device, posting to its address in a new window"):
            self.assertEqual(len(page["buttons"]), 3)
            for button in page["buttons"]:
                self.assertEqual(button["label"], "接続")
                self.assertTrue(button["shown"])
                self.assertEqual(button["method"], "post")
                self.assertEqual(button["action"], "http://%s/" % address)
                self.assertEqual(button["target"], "_blank")

    def test_connect_button_posts_to_the_device_in_a_new_window(self):
        from selenium.common.exceptions import WebDriverException
        from selenium.webdriver.common.by import By

        self.wait_for_page(lambda p: len(p["buttons"]) == 3, "three buttons")
        posts_before = len(self.server.posts())

        def click_named_device_button():
            try:
                row = self.driver.find_element(By.XPATH, "//tr[td[contains(., '%s')]]" % NAME)
                button = row.find_element(By.CSS_SELECTOR, "input[type=submit]")
                if not button.is_displayed():
                    return False
                button.click()
                return True
            except WebDriverException:
                return False  # the page reloaded under us; look again

        # A reload can swallow a click; try again, within bounds, until the device is reached.
        for _ in range(2):
            if wait_for(click_named_device_button, 20, 0.3) and \
                    wait_for(lambda: len(self.server.posts()) > posts_before, 15):
                break
        posts = self.server.posts()[posts_before:]
        self.assertTrue(posts, "the device's web server got no POST")
        for _method, path, headers, body in posts:
            self.assertEqual(path, "/")
            self.assertEqual(headers.get("Content-Type"), "application/x-www-form-urlencoded")
            self.assertEqual(body, b"")

        try:
            new_windows = wait_for(lambda: [h for h in self.driver.window_handles if h != self.main_window], 30)
            self.assertTrue(new_windows, "the device page did not open in a new window")
            self.driver.switch_to.window(new_windows[-1])
            shown = wait_for(lambda: self.run_script(
                "return document.readyState === 'complete' ? document.body.innerText : null"), 30)
            self.assertEqual(self.driver.current_url, "http://127.0.0.1:%d/" % self.server.port)
            self.assertEqual(shown, "device answered")
            self.driver.switch_to.window(self.main_window)
            self.assertEqual(self.driver.current_url, self.page_url)
        finally:
            for handle in self.driver.window_handles:
                if handle != self.main_window:
                    self.driver.switch_to.window(handle)
                    self.driver.close()
            self.driver.switch_to.window(self.main_window)

    def test_page_reloads_itself_at_the_save_interval(self):
        page = self.wait_for_page(lambda p: len(p["rows"]) >= 2, "its stamp row")
        first_stamp = page["rows"][0][0]
        marked = wait_for(lambda: self.run_script(
            "return document.readyState === 'complete' ? (window.__marker = 1) : null"), 30)
        self.assertTrue(marked, "could not mark the loaded page")
        # The marker lives only as long as the document: once it is gone, the page was loaded anew.
        self.wait_for_page(lambda p: not p["marker"], "a reload", 30)
        later = self.wait_for_page(lambda p: p["rows"][0][0] != first_stamp,
                                   "a newer stamp than %r" % first_stamp, 30)
        self.assertRegex(later["rows"][0][0].strip(), STAMP)
        self.assertEqual(later["refresh"], str(SAVE_INTERVAL))


class ServicePageOverHttp(unittest.TestCase):
    """The page of a running service, reached through its web endpoint as a browser on the LAN would."""

    def test_page_shows_the_devices(self):
        service = Service(config.service, save_interval=SAVE_INTERVAL,
                          data=b"CSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\nMESS1=" + HEADING.encode("cp932") + b"\r\n")
        folder = tempfile.mkdtemp(prefix="zqn-browser-")
        driver = browser = None
        try:
            macs = [bytes.fromhex("02C3D70000%02X" % i) for i in (0x21, 0x22)]
            for mac in macs:
                service.send(announcement(mac))
            self.assertTrue(wait_for(lambda: all(m in service.read("zqnlist.htm") for m in
                                             (b"02:C3:D7:00:00:21", b"02:C3:D7:00:00:22")), 30))
            driver, browser = start_browser(folder)
            driver.get("http://127.0.0.1:%d/" % service.web_port)
            page = wait_for(lambda: driver.execute_script(SNAPSHOT_JS), 30)
            self.assertIsNotNone(page, "the page never loaded over HTTP")
            self.assertEqual(page["charset"], "Shift_JIS")
            self.assertEqual(page["heading"].strip(), HEADING)
            self.assertEqual([row[2] for row in page["rows"][2:-1]], ["02:C3:D7:00:00:21", "02:C3:D7:00:00:22"])
            # The browser offers gzip as ever: what it showed came compressed, and whole.
            encoded, decoded = driver.execute_script(
                "const n = performance.getEntriesByType('navigation')[0]; return [n.encodedBodySize, n.decodedBodySize];")
            self.assertEqual(decoded, len(service.read("zqnlist.htm")))
            self.assertLess(encoded, decoded / 2)
        finally:
            if driver is not None:
                try:
                    driver.quit()
                except Exception:
                    pass
            if browser is not None:
                end_process_group(getattr(browser, "process", None))
            shutil.rmtree(folder, ignore_errors=True)
            self.assertEqual(service.stop(), 0)


class CountingResult(unittest.TextTestResult):
    """Counts tests, not checks: a test with several failed sub-tests fails once."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0
        self.failed = set()

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.failed.add(test.id())

    def addError(self, test, err):
        super().addError(test, err)
        self.failed.add(test.id())

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self.failed.add(test.id())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--monitor", required=True, help="the zqnlist executable")
    parser.add_argument("--announce", required=True, help="the zqn-announce device simulator")
    parser.add_argument("--service", required=True, help="the zqnlistd executable")
    parser.parse_args(namespace=config)

    missing = missing_browser_parts()
    if missing:
        print("browser test skipped: not installed: " + ", ".join(missing) + " (run scripts/deps)")
        # The only check of the page in a browser: under CI=true a skip is a failure.
        return 1 if os.environ.get("CI") == "true" else SKIP

    def interrupt(_signal, _frame):
        raise KeyboardInterrupt

    # A test runner that gives up on us sends SIGTERM; the browser and the monitor must not outlive it.
    signal.signal(signal.SIGTERM, interrupt)
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(case)
                               for case in (ListPageInBrowser, ServicePageOverHttp))
    try:
        result = unittest.TextTestRunner(verbosity=2, resultclass=CountingResult).run(suite)
    finally:
        ListPageInBrowser.release()
    print("%d passed, %d failed" % (result.passed, len(result.failed)))
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
