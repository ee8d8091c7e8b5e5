#!/usr/bin/python3
"""The service's web endpoint over HTTP: routes, bytes, validators and metrics.

Usage: web_test.py --service <zqnlistd>
The metrics are read with python3-prometheus-client; without it that one test is skipped, and
fails under CI=true.
"""

import argparse
import base64
import gzip
import hashlib
import json
import os
import shutil
import socket
import subprocess
import sys
import time
import unittest

from web_service import Service, announcement, mac_text, wait_for

NAMED = bytes.fromhex("02C3D7000009")
NAME = "受付プリンタ"
PAGE_TYPE = "text/html; charset=Shift_JIS"
CSV_TYPE = "text/csv; charset=Shift_JIS"
JSON_TYPE = "application/json; charset=utf-8"
GZIP = {"Accept-Encoding": "gzip, deflate, br"}

config = argparse.Namespace()


def serving(**options):
    """A service whose page is served already."""
    service = Service(config.service, **options)
    if not wait_for(lambda: service.request("GET", "/")[0] == 200, 30):
        service.stop()
        raise AssertionError("/ never answered 200")
    return service


class Endpoint(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.started = int(time.time())
        csv = ("%s,10.0.0.9,2020/01/01,00:00:00,%s\r\n" % (mac_text(NAMED), NAME)).encode("cp932")
        # One write at start-up only: the files stay as served for the whole test.
        cls.service = serving(system=b"MAXDEV=3\r\n", csv=csv)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def test_routes(self):
        page = self.service.read("zqnlist.htm")
        csv = self.service.read("zqnlist.csv")
        self.assertIn(NAME.encode("cp932"), page)
        etag = self.service.request("GET", "/")[1]["ETag"]
        _, gzipped, page_gz = self.service.request("GET", "/", GZIP)
        gzip_etag = gzipped["ETag"]
        json_etag = self.service.request("GET", "/devices.json")[1]["ETag"]
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
            # Compressed where the client accepts it: each encoding has its own validator.
            ("page_gzip", "GET", "/", GZIP, 200, PAGE_TYPE, page,
             {"Content-Encoding": "gzip", "Vary": "Accept-Encoding", "Cache-Control": "no-cache"}),
            ("page_identity_varies", "GET", "/", {}, 200, PAGE_TYPE, page,
             {"Content-Encoding": None, "Vary": "Accept-Encoding"}),
            ("page_gzip_head", "HEAD", "/", GZIP, 200, PAGE_TYPE, b"",
             {"Content-Encoding": "gzip", "ETag": gzip_etag, "Content-Length": str(len(page_gz))}),
            ("page_gzip_unchanged", "GET", "/", {**GZIP, "If-None-Match": gzip_etag}, 304, None, b"",
             {"ETag": gzip_etag, "Vary": "Accept-Encoding"}),
            ("page_gzip_tag_for_identity", "GET", "/", {"If-None-Match": gzip_etag}, 200, PAGE_TYPE, page, {}),
            ("page_identity_tag_for_gzip", "GET", "/", {**GZIP, "If-None-Match": etag}, 200, PAGE_TYPE, page,
             {"Content-Encoding": "gzip"}),
            ("gzip_weighted_below_identity", "GET", "/", {"Accept-Encoding": "gzip;q=0.5, identity"}, 200,
             PAGE_TYPE, page, {"Content-Encoding": None}),
            ("gzip_with_a_bad_weight", "GET", "/", {"Accept-Encoding": "gzip;q=1.5"}, 200, PAGE_TYPE, page,
             {"Content-Encoding": None}),
            ("gzip_refused", "GET", "/", {"Accept-Encoding": "GZIP;Q=0"}, 200, PAGE_TYPE, page,
             {"Content-Encoding": None}),
            ("any_coding", "GET", "/", {"Accept-Encoding": "*"}, 200, PAGE_TYPE, page, {"Content-Encoding": "gzip"}),
            ("identity_refused", "GET", "/", {"Accept-Encoding": "identity;q=0"}, 406, None, None, {}),
            ("nothing_acceptable", "GET", "/", {"Accept-Encoding": "br, *;q=0"}, 406, None, None, {}),
            ("small_list_as_it_is", "GET", "/devices.csv", GZIP, 200, CSV_TYPE, csv, {"Content-Encoding": None}),
            ("small_list_identity_refused", "GET", "/devices.csv", {"Accept-Encoding": "gzip;q=0.1, identity;q=0"},
             200, CSV_TYPE, csv, {"Content-Encoding": "gzip"}),
            ("json", "GET", "/devices.json", {}, 200, JSON_TYPE, None, {"Cache-Control": "no-cache"}),
            ("json_unchanged", "GET", "/devices.json", {"If-None-Match": json_etag}, 304, None, b"", {}),
        ]
        for name, method, path, headers, status, content_type, body, expected in cases:
            with self.subTest(name):
                got_status, got_headers, got_body = self.service.request(
                    method, path, headers, b"a=1" if method == "POST" else None)
                self.assertEqual(got_status, status)
                if content_type:
                    self.assertEqual(got_headers.get("Content-Type"), content_type)
                if got_headers.get("Content-Encoding") == "gzip" and method == "GET":
                    got_body = gzip.decompress(got_body)
                if body is not None:
                    self.assertEqual(got_body, body)
                for key, value in expected.items():
                    self.assertEqual(got_headers.get(key), value, key)

    def test_devices_json(self):
        # Central European time as a rule, so that no zone files are needed: summer time began at
        # 02:00 on 2024/03/31, and the offset is looked up once a day.
        clock = [("2024/03/31", "01:30:00"), ("2024/03/31", "03:30:00"), ("2024/01/15", "12:00:00"),
                 ("2024/01/15", "12:00:01")]
        csv = ("%s,10.0.0.9,2020/01/01,00:00:00,%s\r\n" % (mac_text(NAMED), NAME)
               + "".join("02:C3:D7:00:00:%02X,10.0.0.%d,%s,%s,\r\n" % (i, i, d, t) for i, (d, t) in enumerate(clock))
               + "junk line\r\n").encode("cp932")
        service = serving(csv=csv, zone="CET-1CEST,M3.5.0,M10.5.0/3")
        self.addCleanup(service.stop)
        status, _, body = service.request("GET", "/devices.json")
        self.assertEqual(status, 200)
        named, *changing, junk = json.loads(body.decode("utf-8"))
        heard = named.pop("last_heard")
        self.assertEqual(named, {"mac": mac_text(NAMED), "ip": "10.0.0.9", "date": "2020/01/01", "time": "00:00:00",
                                 "name": NAME})
        self.assertEqual(heard, "2020-01-01T00:00:00+01:00")
        self.assertEqual([device["last_heard"] for device in changing],
                         ["2024-03-31T01:30:00+01:00", "2024-03-31T03:30:00+02:00", "2024-01-15T12:00:00+01:00",
                          "2024-01-15T12:00:01+01:00"])
        self.assertEqual(junk, {"text": "junk line"})

    def test_metrics_count_what_was_sent(self):
        try:
            from prometheus_client.parser import text_string_to_metric_families
        except ImportError:
            if os.environ.get("CI") == "true":
                raise
            self.skipTest("not installed: python3-prometheus-client (run scripts/deps --test)")

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
        # folder being read counts too, and the scrape's connection may have closed since. Taken
        # when the count outside stays the same across the scrape: the makers' files, read on a
        # thread at the first new device, are open for a while.
        def open_files():
            return len(os.listdir("/proc/%d/fd" % self.service.process.pid))

        def scraped_and_outside():
            before = open_files()
            inside = samples()["process_open_fds"]
            after = open_files()
            return (inside, after) if before == after else None

        counts = wait_for(scraped_and_outside, 30)
        self.assertIsNotNone(counts, "the service's open files never held still across a scrape")
        self.assertIn(counts[0] - counts[1], (1, 2))
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

    def test_file_never_written_answers_503(self):
        # name, settings' [DATA], a path served, the paths never written
        cases = [
            ("no_page", b"CSV=zqnlist.csv\r\nHTML=\r\n", "/devices.csv", ["/"]),
            ("no_list", b"CSV=\r\nHTML=zqnlist.htm\r\n", "/", ["/devices.csv", "/devices.json"]),
        ]
        for name, data, written, unwritten in cases:
            with self.subTest(name):
                service = Service(config.service, data=data)
                try:
                    wait_for(lambda: service.request("GET", written)[0] == 200, 30)
                    for path in unwritten:
                        self.assertEqual(service.request("GET", path)[0], 503, path)
                        self.assertEqual(service.request("GET", path, GZIP)[0], 503, path)
                finally:
                    self.assertEqual(service.stop(), 0)


def metric(service, name):
    for line in service.request("GET", "/metrics")[2].decode().splitlines():
        if line.startswith(name + " "):
            return float(line.split()[1])
    return None


class Validators(unittest.TestCase):
    def test_etag_follows_the_bytes(self):
        service = Service(config.service, save_interval=1)
        self.addCleanup(service.stop)

        def writes():
            return metric(service, "zqnlist_page_writes_total") or 0

        def etag(path):
            return service.request("GET", path)[1].get("ETag")

        self.assertTrue(wait_for(lambda: etag("/devices.csv"), 30), "the list was never served")
        # name, what happens before the next writes, path, whether its validator changes
        cases = [
            ("list_rewritten_unchanged", lambda: None, "/devices.csv", False),
            ("page_restamped", lambda: None, "/", True),
            ("list_with_a_new_device", lambda: service.send(announcement(NAMED)), "/devices.csv", True),
        ]
        for name, action, path, changes in cases:
            with self.subTest(name):
                before = etag(path)
                written = writes()
                action()
                # Three writes: the page's stamp moves on by at least one second.
                self.assertTrue(wait_for(lambda: writes() >= written + 3, 30), "the writes stopped")
                self.assertEqual(etag(path) != before, changes)


def many_devices(**options):
    """A service of 30,000 devices whose page is served already."""
    lines = "".join("02:C3:D7:%02X:%02X:%02X,192.168.%d.%d,2024/05/01,09:00:00,noname\r\n"
                    % (i >> 16, (i >> 8) & 255, i & 255, (i >> 8) & 255, i & 255) for i in range(1, 30001))
    return serving(system=b"MAXDEV=40000\r\n", save_interval=1, csv=lines.encode(), **options)


def slow_reader(test, port):
    """A reader of / with a small window, so that most of the page waits on the server's side: its
    headers, and the stream of the body."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16 * 1024)
    s.connect(("127.0.0.1", port))
    test.addCleanup(s.close)
    s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
    reader = s.makefile("rb")
    test.assertIn(b" 200 ", reader.readline())
    headers = {}
    for line in iter(reader.readline, b"\r\n"):
        key, value = line.decode().split(":", 1)
        headers[key.strip()] = value.strip()
    return headers, reader


class WholeVersions(unittest.TestCase):
    def test_reader_gets_one_version_while_the_page_is_rewritten_in_place(self):
        service = many_devices(data=b"CSV=pages/zqnlist.csv\r\nHTML=pages/zqnlist.htm\r\n", closed_folder=True)
        self.addCleanup(service.stop)
        headers, reader = slow_reader(self, service.web_port)
        body = reader.read(4096)
        # A new device lengthens the page: old and new bytes mixed would be neither version.
        mac = bytes.fromhex("02C3D7FF0001")
        service.send(announcement(mac))
        self.assertTrue(wait_for(lambda: mac_text(mac).encode() in service.read("pages/zqnlist.htm"), 30),
                        "the page was never rewritten")
        self.assertEqual(os.stat(service.path("pages")).st_nlink, 2, "a file was added to the closed folder")
        body += reader.read(int(headers["Content-Length"]) - len(body))
        digest = base64.urlsafe_b64encode(hashlib.sha1(body).digest()).rstrip(b"=").decode()
        self.assertEqual('"%s"' % digest, headers["ETag"], "the body is not the version its validator names")

    def test_page_cut_short_by_another_writer_ends_that_reader_only(self):
        service = many_devices()
        self.addCleanup(service.stop)
        headers, reader = slow_reader(self, service.web_port)
        body = reader.read(4096)
        os.truncate(service.path("zqnlist.htm"), 0)
        body += reader.read()
        self.assertLess(len(body), int(headers["Content-Length"]), "the reader got bytes the file no longer has")
        self.assertEqual(service.request("GET", "/metrics")[0], 200)


def connection(source, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def answer(s, timeout):
    """The status line the server sent on s; b"" when it closed s without one; None when nothing came."""
    s.settimeout(timeout)
    try:
        return s.recv(4096).split(b"\r\n")[0]
    except ConnectionResetError:
        return b""
    except socket.timeout:
        return None


def close_all(sockets):
    """Closes each socket once the server has closed its end too, so that its place is free again."""
    deadline = time.monotonic() + 30
    for s in sockets:
        s.settimeout(max(0.1, deadline - time.monotonic()))
        try:
            s.shutdown(socket.SHUT_WR)
            while s.recv(65536):
                pass
        except OSError:
            pass
        s.close()


OK = b"HTTP/1.1 200 OK"
# 64 connections, 16 from each of four addresses; and one fewer.
FULL = [("127.0.2.%d" % host, 16) for host in range(1, 5)]
ALMOST_FULL = FULL[:-1] + [("127.0.2.4", 15)]


class Limits(unittest.TestCase):
    """64 connections, 16 per address, 10 s to send a request, 8 KiB of request line and headers."""

    @classmethod
    def setUpClass(cls):
        cls.service = serving()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def request(self, source, idle=(), pause=0, path="/"):
        """The answer to a request from source while the idle connections, (address, count), stay
        open, whose last line follows after pause seconds; None when none came within 5 s."""
        held = [connection(host, self.service.web_port) for host, count in idle for _ in range(count)]
        s = connection(source, self.service.web_port)
        try:
            s.sendall(b"GET %s HTTP/1.1\r\nHost: x\r\n" % path.encode())
            if pause:
                time.sleep(pause)  # the client's own pace, not a wait for the server
            try:
                s.sendall(b"\r\n")
            except OSError:
                return b""
            return answer(s, 5)
        finally:
            close_all(held + [s])

    def test_limits(self):
        # name, connections held, source, pause before the last line, path, answer
        cases = [
            ("16th_from_one_address", [("127.0.1.1", 15)], "127.0.1.1", 0, "/", OK),
            ("17th_from_one_address", [("127.0.1.1", 16)], "127.0.1.1", 0, "/", b""),
            ("64th_connection", ALMOST_FULL, "127.0.1.2", 0, "/", OK),
            ("65th_connection_refused_at_once", FULL, "127.0.1.2", 0, "/", b""),
            ("query_over_8_kib", [], "127.0.1.3", 0, "/?x=" + "a" * (9 * 1024),
             b"HTTP/1.1 431 Request Header Fields Too Large"),
            ("request_sent_within_10_s", [], "127.0.1.4", 8, "/", OK),
        ]
        for name, idle, source, pause, path, expected in cases:
            with self.subTest(name):
                self.assertEqual(self.request(source, idle, pause, path), expected)

        with self.subTest("request_never_finished"):
            s = connection("127.0.1.5", self.service.web_port)
            s.sendall(b"GET / HTTP/1.1\r\n")
            self.assertEqual(answer(s, 30), b"")
            s.close()

    def test_answers_again_after_the_limit(self):
        # name, the service, whose limit the 64 connections reach
        cases = [
            ("connections", lambda: self.service),
            ("descriptors", lambda: serving(descriptors=40)),
        ]
        for name, service in cases:
            with self.subTest(name):
                self.answers_again(service())

    def answers_again(self, service):
        idle = [connection(source, service.web_port) for source, count in FULL for _ in range(count)]
        late = []
        try:
            for s in idle:
                self.assertEqual(answer(s, 30), b"", "an idle connection was never shut")
            late.append(connection("127.0.2.6", service.web_port))
            late[0].sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
            self.assertEqual(answer(late[0], 5), OK)
        finally:
            close_all(idle + late)
            if service is not self.service:
                service.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--service", required=True, help="the zqnlistd executable")
    parser.add_argument("--version", required=True, help="the version it was built as")
    parser.parse_args(namespace=config)
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(case)
                               for case in (Endpoint, Validators, WholeVersions, Limits))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
