#!/usr/bin/python3
"""The service's web endpoint over HTTP: routes, bytes, validators and metrics.

Usage: web_test.py --service <zqnlistd>
Exits 77 when python3-prometheus-client is not installed.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import unittest

from web_service import Service, announcement, mac_text, wait_for

SKIP = 77
NAMED = bytes.fromhex("02C3D7000009")
NAME = "受付プリンタ"
PAGE_TYPE = "text/html; charset=Shift_JIS"
CSV_TYPE = "text/csv; charset=Shift_JIS"

config = argparse.Namespace()


class Endpoint(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.started = int(time.time())
        csv = ("%s,10.0.0.9,2020/01/01,00:00:00,%s\r\n" % (mac_text(NAMED), NAME)).encode("cp932")
        # One write at start-up only: the files stay as served for the whole test.
        cls.service = Service(config.service, system=b"MAXDEV=3\r\n", csv=csv)
        if not wait_for(lambda: cls.service.request("GET", "/")[0] == 200, 30):
            cls.service.stop()
            raise AssertionError("/ never answered 200")

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def test_routes(self):
        page = self.service.read("zqnlist.htm")
        csv = self.service.read("zqnlist.csv")
        self.assertIn(NAME.encode("cp932"), page)
        etag = self.service.request("GET", "/")[1]["ETag"]
        long_header = {"X-Filler": "a" * (8 * 1024)}
        # name, method, path, request headers, status, Content-Type, body (None: not checked), headers
        cases = [
            ("page", "GET", "/", {}, 200, PAGE_TYPE, page, {"Cache-Control": "no-cache", "ETag": etag}),
            ("page_head", "HEAD", "/", {}, 200, PAGE_TYPE, b"", {"Content-Length": str(len(page))}),
            ("page_query_ignored", "GET", "/?x=1", {}, 200, PAGE_TYPE, page, {}),
            ("page_unchanged", "GET", "/", {"If-None-Match": etag}, 304, None, b"", {"ETag": etag}),
            ("page_unchanged_in_list", "GET", "/", {"If-None-Match": '"x", W/' + etag}, 304, None, b"", {}),
            ("page_changed", "GET", "/", {"If-None-Match": '"other"'}, 200, PAGE_TYPE, page, {}),
            ("csv", "GET", "/devices.csv", {}, 200, CSV_TYPE, csv, {"Cache-Control": "no-cache"}),
            ("csv_head", "HEAD", "/devices.csv", {}, 200, CSV_TYPE, b"", {"Content-Length": str(len(csv))}),
            ("metrics", "GET", "/metrics", {}, 200, "text/plain; version=0.0.4; charset=utf-8", None, {}),
            ("unknown_path", "GET", "/zqnlist.htm", {}, 404, None, None, {}),
            ("parent_path", "GET", "/../zqnlist.Ini", {}, 404, None, None, {}),
            ("post", "POST", "/", {}, 405, None, None, {"Allow": "GET, HEAD"}),
            ("delete_metrics", "DELETE", "/metrics", {}, 405, None, None, {"Allow": "GET, HEAD"}),
            ("header_over_8_kib", "GET", "/", long_header, 431, None, None, {}),
        ]
        for name, method, path, headers, status, content_type, body, expected in cases:
            with self.subTest(name):
                got_status, got_headers, got_body = self.service.request(
                    method, path, headers, b"a=1" if method == "POST" else None)
                self.assertEqual(got_status, status)
                if content_type:
                    self.assertEqual(got_headers.get("Content-Type"), content_type)
                if body is not None:
                    self.assertEqual(got_body, body)
                for key, value in expected.items():
                    self.assertEqual(got_headers.get(key), value, key)

    def test_metrics_count_what_was_sent(self):
        from prometheus_client.parser import text_string_to_metric_families

        new = [bytes.fromhex("02C3D70001%02X" % i) for i in range(4)]
        sent = {"recorded": 0, "filtered": 0, "refused": 0}
        # The list holds 3: two new devices get in, two are refused; NAMED, listed at 10.0.0.9,
        # is heard from 127.0.0.1.
        for mac in [NAMED] + new:
            self.service.send(announcement(mac))
        sent["recorded"] += 3
        sent["refused"] += 2
        for garbage in (b"", b"x" * 19, b"\x00" * 20, announcement(NAMED)[:-1]):
            self.service.send(garbage)
        sent["filtered"] += 4

        def samples():
            _, headers, body = self.service.request("GET", "/metrics")
            found = {}
            for family in text_string_to_metric_families(body.decode("utf-8")):
                for sample in family.samples:
                    key = sample.name + "".join("{%s=%s}" % item for item in sorted(sample.labels.items()))
                    found[key] = sample.value
            return found

        def datagrams_seen():
            found = samples()
            total = sum(found.get("zqnlist_datagrams_total{result=%s}" % r, 0) for r in sent)
            return found if total >= sum(sent.values()) else None

        found = wait_for(datagrams_seen, 30)
        self.assertIsNotNone(found, "the metrics never counted every datagram: %r" % samples())
        for result, count in sent.items():
            self.assertEqual(found["zqnlist_datagrams_total{result=%s}" % result], count, result)
        self.assertEqual(found["zqnlist_devices"], 3)
        self.assertEqual(found["zqnlist_devices_added_total"], 2)
        self.assertEqual(found["zqnlist_device_moves_total"], 1)
        self.assertEqual(found["zqnlist_build_info{version=%s}" % config.version], 1)
        self.assertEqual(found["zqnlist_device_capacity"], 3)
        self.assertEqual(found["zqnlist_running"], 1)
        self.assertEqual(found["zqnlist_page_writes_total"], 1)
        self.assertEqual(found["zqnlist_page_write_failures_total{file=page}"], 0)
        self.assertEqual(found["zqnlist_page_write_failures_total{file=csv}"], 0)
        self.assertGreaterEqual(found["zqnlist_last_page_write_timestamp_seconds"], self.started)
        self.assertLessEqual(found["zqnlist_last_page_write_timestamp_seconds"], time.time())
        # The service's own process, against what /proc says of it from outside: inside, the
        # folder being read counts too, and the scrape's connection may have closed since.
        outside = len(os.listdir("/proc/%d/fd" % self.service.process.pid))
        self.assertIn(found["process_open_fds"] - outside, (1, 2))
        self.assertGreater(found["process_resident_memory_bytes"], 0)
        self.assertLessEqual(found["process_start_time_seconds"], self.started + 1)
        self.assertGreater(found["process_start_time_seconds"], self.started - 30)

    def test_promtool_finds_nothing_wrong_in_the_metrics(self):
        if not shutil.which("promtool"):
            if os.environ.get("CI") == "true":
                self.fail("promtool is not installed (prometheus)")
            self.skipTest("promtool is not installed (prometheus)")
        body = self.service.request("GET", "/metrics")[2]
        check = subprocess.run(["promtool", "check", "metrics"], input=body, capture_output=True, timeout=30)
        self.assertEqual((check.returncode, check.stdout + check.stderr), (0, b""))

    def test_no_page_path_answers_503(self):
        service = Service(config.service, data=b"CSV=zqnlist.csv\r\nHTML=\r\n")
        try:
            wait_for(lambda: service.request("GET", "/devices.csv")[0] == 200, 30)
            self.assertEqual(service.request("GET", "/")[0], 503)
            self.assertEqual(service.request("GET", "/devices.csv")[2], service.read("zqnlist.csv"))
        finally:
            self.assertEqual(service.stop(), 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--service", required=True, help="the zqnlistd executable")
    parser.add_argument("--version", required=True, help="the version it was built as")
    parser.parse_args(namespace=config)
    try:
        import prometheus_client  # noqa: F401
    except ImportError:
        print("web test skipped: not installed: python3-prometheus-client (run scripts/deps --test)")
        return SKIP
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(Endpoint)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
