#!/usr/bin/python3
"""Debian's Prometheus scrapes two installed zqnlistd, two segments, with the shipped alert rules.

After a new device is heard on segment a, both segments' devices are queried, and the new-device
alert fires for a alone. Everything runs on loopback in a folder of its own, for about a minute at
most.

Usage: prometheus_scrape.py <install root>
Exits 77 (skipped) when Debian's prometheus is not installed; under CI=true that fails.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from web_service import Service, announcement, end, free_port, mac_text, wait_for  # noqa: E402

SKIP = 77
DEADLINE = 60  # seconds for each wait; the whole run stays within about a minute
NEW_DEVICE = bytes.fromhex("02C3D70023A1")
LISTED = [bytes.fromhex("02C3D70023%02X" % i) for i in range(4)]


def device_csv(macs):
    return "".join("%s,10.0.0.%d,2026/01/01,00:00:00,機器%d\r\n" % (mac_text(mac), i + 1, i)
                   for i, mac in enumerate(macs)).encode("cp932")


class Prometheus:
    def __init__(self, folder, targets, rules):
        self.port = free_port()
        self.folder = folder
        config = os.path.join(folder, "prometheus.yml")
        with open(config, "w") as f:
            # JSON is YAML: the configuration needs no YAML writer.
            json.dump({
                "global": {"scrape_interval": "1s", "scrape_timeout": "1s", "evaluation_interval": "1s"},
                "rule_files": [rules],
                "scrape_configs": [{"job_name": "zqnlist", "static_configs": [{"targets": targets}]}],
            }, f)
        self.log = open(os.path.join(folder, "prometheus.log"), "wb")
        self.process = subprocess.Popen(
            ["prometheus", "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(folder, "data"),
             "--web.listen-address=127.0.0.1:%d" % self.port,
             "--web.console.templates=" + folder, "--web.console.libraries=" + folder],
            stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)

    def api(self, path, **query):
        url = "http://127.0.0.1:%d/api/v1/%s?%s" % (self.port, path, urllib.parse.urlencode(query))
        try:
            with urllib.request.urlopen(url, timeout=5) as response:
                answer = json.load(response)
        except OSError:
            return None
        return answer["data"] if answer.get("status") == "success" else None

    def by_instance(self, expression):
        data = self.api("query", query=expression) or {"result": []}
        return {sample["metric"]["instance"]: float(sample["value"][1]) for sample in data["result"]}

    def firing(self):
        data = self.api("alerts") or {"alerts": []}
        return sorted((alert["labels"]["alertname"], alert["labels"]["instance"])
                      for alert in data["alerts"] if alert["state"] == "firing")

    def output(self):
        with open(os.path.join(self.folder, "prometheus.log"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        end(self.process)
        self.log.close()


def run(root, folder):
    rules = os.path.join(root, "usr/share/doc/zqnlistd/examples/zqnlist.rules.yml")
    service = os.path.join(root, "usr/bin/zqnlistd")
    segments = {}
    prometheus = None
    try:
        segments["a"] = Service(service, csv=device_csv(LISTED[:1]))
        segments["b"] = Service(service, csv=device_csv(LISTED[1:]))
        instance = {name: "127.0.0.1:%d" % s.web_port for name, s in segments.items()}
        print("segments:", instance)
        prometheus = Prometheus(folder, sorted(instance.values()), rules)

        def scraped_twice():
            # increase() needs a sample from before the new device as well.
            counts = prometheus.by_instance("count_over_time(zqnlist_devices_added_total[1m])")
            return all(counts.get(i, 0) >= 2 for i in instance.values())

        if not wait_for(scraped_twice, DEADLINE):
            targets = prometheus.api("targets")
            raise AssertionError("the two segments were not scraped: %s\n%s" % (json.dumps(targets), prometheus.output()))
        print("before:", prometheus.by_instance("zqnlist_devices"), "alerts firing:", prometheus.firing())

        segments["a"].send(announcement(NEW_DEVICE))
        expected_devices = {instance["a"]: 2.0, instance["b"]: 3.0}
        expected_alerts = [("ZqnlistNewDevice", instance["a"])]
        if not wait_for(lambda: prometheus.by_instance("zqnlist_devices") == expected_devices, DEADLINE):
            raise AssertionError("devices by instance: %r, not %r" % (prometheus.by_instance("zqnlist_devices"),
                                                                      expected_devices))
        if not wait_for(lambda: prometheus.firing() == expected_alerts, DEADLINE):
            raise AssertionError("alerts firing: %r, not %r" % (prometheus.firing(), expected_alerts))
        print("after: zqnlist_devices", prometheus.by_instance("zqnlist_devices"))
        print("after: zqnlist_devices_added_total", prometheus.by_instance("zqnlist_devices_added_total"))
        for alert in prometheus.api("alerts")["alerts"]:
            print("alert:", alert["state"], json.dumps(alert["labels"], sort_keys=True),
                  alert["annotations"]["summary"])
    finally:
        if prometheus:
            prometheus.stop()
        for s in segments.values():
            s.stop()


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    if not shutil.which("prometheus"):
        print("prometheus scrape test skipped: not installed: prometheus (run scripts/deps --test)")
        return 1 if os.environ.get("CI") == "true" else SKIP
    folder = tempfile.mkdtemp(prefix="zqn-prometheus-")
    try:
        run(os.path.abspath(sys.argv[1]), folder)
    except AssertionError as failure:
        print("FAILED:", failure)
        return 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
