#!/usr/bin/env python3
"""Faults of the network, of GitHub's answers and of the disk, met by the real Linux launcher in
its normal mode. Each keeps the installed file as it was, leaves no temporary file, says its
sentence in the window, and leaves the launcher able to check again."""
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

from launcher_namespace import (API_ROUTE, CA_BUNDLE, LauncherTestCase, main,
                                windows_program)

OLD = windows_program(5000, b"o")
NEW = windows_program(2 << 20, b"n")
INTERRUPTED = "The download was interrupted. Your previous installation was kept."
DENIED = "GitHub denied or rate-limited the request. Try again later."
FAKE_PROXY = os.path.join(os.path.dirname(__file__), "..", "support", "fake_proxy.py")


class FaultTest(LauncherTestCase):
    def check_fault(self, name, sentence, installed=OLD, repair=None):
        launcher = self.start()
        image = self.screenshot_showing(f"fault-{name}", sentence)
        self.assertEqual(self.installed_bytes(), installed)
        self.assertEqual(self.parts(), [])
        # Still responsive: the page's button starts another check (which, for a fault that
        # never reaches GitHub, `repair` lets through).
        if repair:
            repair()
        asked = self.api_requests()
        self.click_text(image, "Check for updates")
        self.await_condition(lambda: self.api_requests() > asked, "no second check ran")
        if repair:
            installed = NEW
            self.await_condition(lambda: self.installed_bytes() == NEW, "the repaired check failed")
        self.close(launcher)
        self.assertEqual(self.installed_bytes(), installed)
        self.assertEqual(self.parts(), [])

    def test_connection_dropped_mid_body(self):
        self.install(OLD)
        self.publish("v2", NEW, {"mode": "drop"})
        self.check_fault("dropped", INTERRUPTED)

    def test_body_stalled_past_the_receive_time_out(self):
        self.install(OLD)
        self.publish("v2", NEW, {"mode": "stall"})
        self.check_fault("stalled", INTERRUPTED)

    def test_api_refuses_with_403_and_429(self):
        for status in (403, 429):
            with self.subTest(status=status):
                self.install(OLD)
                self.set_routes({API_ROUTE: {"status": status, "body": "{}"}})
                self.check_fault(f"http-{status}", DENIED)

    def test_redirect_to_plain_http(self):
        self.install(OLD)
        self.set_routes({API_ROUTE: {"status": 302, "body": "",
                                     "location": "http://api.github.com/releases/latest"}})
        self.check_fault("redirect-to-http",
                         "Cannot reach GitHub over HTTPS. Check your connection and try again.")

    def test_untrusted_certificate(self):
        self.install(OLD)
        self.publish("v2", NEW)
        # Another CA in the system bundle: the fake GitHub's certificate is no longer trusted.
        rogue = self.bind(os.path.join(self.server_folder, "rogue-ca.pem"), CA_BUNDLE)
        self.check_fault("untrusted-certificate",
                         "Cannot reach GitHub over HTTPS. Check your connection and try again.",
                         repair=rogue)

    def test_digest_that_does_not_match(self):
        self.install(OLD)
        self.publish("v2", NEW, digest="sha256:" + "0" * 64)
        self.check_fault("digest-mismatch", "The update failed integrity verification.")

    def test_release_one_byte_over_64_mib(self):
        self.install(OLD)
        self.publish("v2", NEW, size=(64 << 20) + 1)
        self.check_fault("too-large", "The release asset size is invalid (maximum 64 MB).")

    def test_read_only_app_folder(self):
        self.install(OLD)
        self.publish("v2", NEW)
        self.bind(self.app_folder, self.app_folder, "ro")
        self.check_fault("read-only", "Could not open the update file. Check folder permissions.")

    def test_disk_full(self):
        os.makedirs(self.app_folder)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", self.app_folder],
                       check=True)
        self.addCleanup(subprocess.run, ["umount", self.app_folder], check=True)
        self.install(OLD)
        self.publish("v2", NEW)
        self.check_fault("disk-full", "Could not save the update. Check disk space.")

    # A real proxy (tinyproxy) on loopback, named to the launcher by https_proxy.
    def start_proxy(self, password=False):
        """tinyproxy on 127.0.0.1:8888, asking for a password when `password`; returns what
        stops it."""
        folder = tempfile.mkdtemp(prefix="proxy-", dir=self.folder)
        settings = os.path.join(folder, "tinyproxy.conf")
        with open(settings, "w") as out:
            out.write(f"Port 8888\nListen 127.0.0.1\nAllow 127.0.0.1\nConnectPort 443\n"
                      f"LogFile \"{folder}/log\"\nLogLevel Connect\nMaxClients 20\n"
                      + ("BasicAuth muvra secret\n" if password else ""))
        proxy = subprocess.Popen(["tinyproxy", "-d", "-c", settings], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def stop():
            proxy.kill()
            proxy.wait()
        self.addCleanup(stop)
        self.await_condition(lambda: self.listening(8888), "the proxy never listened")
        self.environment["https_proxy"] = "http://127.0.0.1:8888"
        self.proxy_log = os.path.join(folder, "log")
        return stop

    @staticmethod
    def listening(port):
        with socket.socket() as probe:
            return probe.connect_ex(("127.0.0.1", port)) == 0

    def test_a_proxy_that_lets_connect_pass_carries_the_whole_check(self):
        self.publish("v2", NEW)
        self.start_proxy()
        launcher = self.start()
        self.await_condition(lambda: self.installed_bytes() == NEW, "the release was not installed")
        self.close(launcher)
        with open(self.proxy_log) as log:
            tunnels = log.read().count("CONNECT")
        self.assertGreaterEqual(tunnels, 2, "the release document and the asset went direct")

    def test_a_pac_script_chooses_the_proxy_of_each_address(self):
        # The asset is redirected to a host the script sends direct; the rest goes through the
        # proxy, so each address of the check, the redirect's target included, is asked for.
        self.publish("v2", NEW)
        routes = self.routes()
        (download,) = [key for key in routes if key.startswith("github.com ")]
        routes["objects.githubusercontent.com /asset"] = routes[download]
        routes[download] = {"status": 302, "location": "https://objects.githubusercontent.com/asset"}
        self.set_routes(routes)
        self.start_proxy()
        script = os.path.join(self.folder, "proxy.pac")
        with open(script, "w") as out:
            out.write('function FindProxyForURL(url, host) {\n'
                      '  if (host == "api.github.com" || host == "github.com")\n'
                      '    return "PROXY 127.0.0.1:8888";\n'
                      '  return "DIRECT";\n}\n')
        self.environment["https_proxy"] = "pac+file://" + script
        launcher = self.start()
        self.await_condition(lambda: self.installed_bytes() == NEW, "the release was not installed")
        self.close(launcher)
        with open(self.proxy_log) as log:
            tunnels = re.findall(r"CONNECT ([^: ]+):443", log.read())
        self.assertEqual(sorted(set(tunnels)), ["api.github.com", "github.com"])
        with open(os.path.join(self.server_folder, "requests.jsonl")) as log:
            hosts = [json.loads(line)["host"] for line in log]
        self.assertIn("objects.githubusercontent.com", hosts)

    def test_a_proxy_asking_for_a_password_cannot_reach_github(self):
        self.install(OLD)
        self.publish("v2", NEW)
        stop = self.start_proxy(password=True)

        def without_password():
            stop()
            self.start_proxy()
        self.check_fault("proxy-password",
                         "Cannot reach GitHub over HTTPS. Check your connection and try again.",
                         repair=without_password)

    def test_closing_while_github_never_answers(self):
        # The check waits for headers that never come (the server is silent for 30 s). Closing
        # ends the program at once: well before the 8-second silence limit that would end the
        # request by itself.
        self.install(OLD)
        self.publish("v2", NEW)
        routes = self.routes()
        routes[API_ROUTE].update(mode="hang")
        self.set_routes(routes)
        launcher = self.start()
        self.await_condition(lambda: self.api_requests() == 1, "the check never asked GitHub")
        os.kill(self.pid(), signal.SIGTERM)
        self.assertEqual(launcher.wait(timeout=5), 0)
        self.assertEqual(self.installed_bytes(), OLD)

    def test_closing_while_the_proxy_script_never_arrives(self):
        # libproxy waits for a PAC server that accepts and never answers (for good: no time-out
        # of its own). Closing ends the program all the same, well before the silence limit.
        self.install(OLD)
        self.publish("v2", NEW)
        record = os.path.join(self.folder, "script-requests")
        script_server = subprocess.Popen([sys.executable, FAKE_PROXY, "stall", record],
                                         stdout=subprocess.PIPE, text=True)
        self.addCleanup(script_server.wait)
        self.addCleanup(script_server.stdout.close)
        self.addCleanup(script_server.kill)
        port = int(script_server.stdout.readline().split()[1])
        self.environment["https_proxy"] = f"pac+http://127.0.0.1:{port}/proxy.pac"
        launcher = self.start()
        self.await_condition(lambda: os.path.exists(record), "the script was never asked for")
        asked_to_close = time.monotonic()
        os.kill(self.pid(), signal.SIGTERM)
        self.assertEqual(launcher.wait(timeout=5), 0)
        print(f"ended {time.monotonic() - asked_to_close:.2f} s after the close", file=sys.stderr)
        self.assertEqual(self.installed_bytes(), OLD)
        self.assertEqual(self.api_requests(), 0)

    def test_killed_during_the_download(self):
        self.install(OLD)
        gate = os.path.join(self.folder, "gate")
        self.publish("v2", NEW, {"mode": "gate", "gate": gate})
        launcher = self.start()
        self.await_condition(self.download_began, "the download never began")
        os.kill(self.pid(), signal.SIGKILL)
        launcher.wait(timeout=60)
        open(gate, "w").close()
        self.assertEqual(self.installed_bytes(), OLD)
        (stale,) = self.parts()
        # The next start still installs the release; only the killed run's file is left over.
        self.publish("v2", NEW)
        launcher = self.start()
        self.await_condition(lambda: self.installed_bytes() == NEW, "the release was not installed")
        self.close(launcher)
        self.assertEqual(self.parts(), [stale])


if __name__ == "__main__":
    sys.exit(main(sys.modules[__name__]))
