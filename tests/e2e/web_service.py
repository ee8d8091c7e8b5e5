"""A zqnlistd process with its web endpoint on loopback, for the web tests."""

import http.client
import os
import resource
import shutil
import signal
import socket
import subprocess
import tempfile
import time


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def announcement(mac):
    """The 20-byte common form for a MAC given as six octets."""
    return bytes.fromhex("0801009000040004" "0001" "000C" "0006") + bytes(mac)


def mac_text(mac):
    return ":".join("%02X" % octet for octet in mac)


def wait_for(condition, timeout, interval=0.2):
    """Polls until condition() gives a true value and returns it; None when the time is up."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            return None
        time.sleep(interval)


def end(process):
    """SIGTERM, and SIGKILL after 30 s; gives the exit code, or None when it had to be killed."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            return None
    return process.returncode


class Service:
    """zqnlistd in a folder of its own; system and data are extra lines for the settings file;
    descriptors, when given, bounds how many files the process may hold open. closed_folder: the
    list and the page lie in a folder "pages" that takes no new file (the service runs as nobody
    where the test runs as root), so that every save rewrites them in place."""

    def __init__(self, executable, system=b"", data=None, csv=None, save_interval=3600, descriptors=None,
                 closed_folder=False, zone=None):
        self.folder = tempfile.mkdtemp(prefix="zqn-web-")
        self.udp_port = free_port(socket.SOCK_DGRAM)
        self.web_port = free_port()
        data = b"CSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n" if data is None else data
        with open(self.path("zqnlistd.Ini"), "wb") as ini:
            ini.write(b"[SYSTEM]\r\nPORT=%d\r\nLTIME=%d\r\nWEB=127.0.0.1:%d\r\n" % (self.udp_port, save_interval,
                                                                                  self.web_port))
            ini.write(system + b"[DATA]\r\n" + data)
        files = "pages/" if closed_folder else ""
        if closed_folder:
            os.mkdir(self.path("pages"))
        if csv is not None:
            with open(self.path(files + "zqnlist.csv"), "wb") as f:
                f.write(csv)
        if closed_folder:
            open(self.path("pages/zqnlist.htm"), "wb").close()
            for name in ("zqnlist.csv", "zqnlist.htm"):
                os.chmod(self.path("pages/" + name), 0o666)
            os.chmod(self.path("pages"), 0o555)
            os.chmod(self.folder, 0o755)
        self.log = open(self.path("service.log"), "wb")

        def prepare():
            if descriptors:
                resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))
            if closed_folder and os.geteuid() == 0:
                os.setgroups([])
                os.setgid(65534)
                os.setuid(65534)
        self.process = subprocess.Popen([executable, "--settings", self.path("zqnlistd.Ini")], cwd=self.folder,
                                        stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True,
                                        preexec_fn=prepare, env=dict(os.environ, TZ=zone) if zone else None)
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if not wait_for(self.listening, 30):
            output = self.output()
            self.stop()
            raise AssertionError("the service never answered on its web port; its output:\n" + output)

    def path(self, name):
        return os.path.join(self.folder, name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def output(self):
        with open(self.path("service.log"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def listening(self):
        try:
            with socket.create_connection(("127.0.0.1", self.web_port), timeout=1):
                return True
        except OSError:
            return False

    def send(self, datagram):
        self.udp.sendto(datagram, ("127.0.0.1", self.udp_port))

    def request(self, method, path, headers=None, body=None, source="127.0.0.1"):
        """One request on a connection of its own: (status, headers as a dict, body)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.web_port, timeout=30,
                                                source_address=(source, 0))
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def anonymous_rss_bytes(self):
        """Resident memory the service allocated: without the files it maps, whose pages are the
        page cache's and are there whether the service maps them or sends them by descriptor."""
        with open("/proc/%d/status" % self.process.pid) as status:
            for line in status:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1]) * 1024
        return 0

    def stop(self):
        """SIGTERM; gives the exit code, or None when it had to be killed."""
        code = end(self.process)
        self.udp.close()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
        return code
