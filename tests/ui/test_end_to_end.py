#!/usr/bin/env python3
"""The normal mode of the real Linux program against the fake GitHub, end to end.

Nothing a user can set redirects the launcher's check, so the test runs the program in a network
and mount namespace of its own: there GitHub's host names resolve to loopback through a private
/etc/hosts, the system CA bundle is the fake GitHub's test CA, and the fake GitHub listens on 443.
"""
import hashlib
import json
import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "entry"))
import program  # noqa: E402
import screen  # noqa: E402

PROGRAM = None
FAKE_GITHUB = os.path.join(os.path.dirname(__file__), "..", "support", "fake_github.py")
HOSTS = ("api.github.com", "github.com", "objects.githubusercontent.com")
OWNER, NAME = "muvra-app", "muvra"
INSIDE = "MUVRA_END_TO_END_NAMESPACE"
WINDOW = (0, 0, 540, 650)  # where the launcher's window opens on a screen without a window manager
CHECK_BUTTON = (270, 504)  # "Check for updates" on the ready page
SCREENSHOTS = None


def windows_program(size, fill):
    """`size` bytes with the headers of a 64-bit Windows program."""
    data = bytearray(fill * size)
    data[0:392] = bytes(392)
    data[0:2] = b"MZ"
    data[60:64] = (128).to_bytes(4, "little")
    data[128:132] = b"PE\0\0"
    data[132:134] = (0x8664).to_bytes(2, "little")
    data[150:152] = (0x0022).to_bytes(2, "little")
    data[152:154] = (0x20B).to_bytes(2, "little")
    return bytes(data)


def bind(test, source, target):
    subprocess.run(["mount", "--bind", source, target], check=True)
    test.addCleanup(subprocess.run, ["umount", target], check=True)


class EndToEndTest(unittest.TestCase):
    def setUp(self):
        self.folder = program.temporary_folder(self)
        self.server_folder = os.path.join(self.folder, "github")
        os.mkdir(self.server_folder)
        hosts = os.path.join(self.folder, "hosts")
        with open(hosts, "w") as out:
            out.write("127.0.0.1 localhost " + " ".join(HOSTS) + "\n")
        bind(self, hosts, "/etc/hosts")
        self.server = subprocess.Popen([sys.executable, FAKE_GITHUB, self.server_folder, "443"],
                                       stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.server.stdout.close)
        self.addCleanup(self.server.kill)
        self.assertTrue(self.server.stdout.readline().startswith("PORT 443"))
        bind(self, os.path.join(self.server_folder, "ca.pem"), "/etc/ssl/certs/ca-certificates.crt")
        self.loader = os.path.join(self.folder, "loader")
        os.mkdir(self.loader)
        self.copy = PROGRAM.copy_into(self.loader)
        self.installed = os.path.join(self.loader, "app", "muvra.exe")
        self.environment = dict(os.environ, GTK_OVERLAY_SCROLLING="0",
                                MUVRA_WEBVIEW2_PROFILE_ROOT=os.path.join(self.folder, "profiles"))

    def publish(self, tag, asset, route=None):
        served = os.path.join(self.server_folder, tag)
        with open(served, "wb") as out:
            out.write(asset)
        path = f"/{OWNER}/{NAME}/releases/download/{tag}/muvra.exe"
        release = {"tag_name": tag, "draft": False, "prerelease": False, "assets": [{
            "name": "muvra.exe", "size": len(asset), "browser_download_url": "https://github.com" + path,
            "digest": "sha256:" + hashlib.sha256(asset).hexdigest()}]}
        routes = {f"api.github.com /repos/{OWNER}/{NAME}/releases/latest": {"body": json.dumps(release)},
                  "github.com " + path: dict({"body_file": served}, **(route or {}))}
        with open(os.path.join(self.server_folder, "routes.json"), "w") as out:
            json.dump(routes, out)

    def start(self, fbdir=None):
        command = screen.xvfb_command(fbdir, [self.copy]) if fbdir else ["xvfb-run", "-a", self.copy]
        launcher = subprocess.Popen(command, env=self.environment,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        self.addCleanup(launcher.kill)
        return launcher

    def await_condition(self, condition, what):
        deadline = time.monotonic() + 60
        while not condition():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.05)

    def page_ready(self):
        profiles = self.environment["MUVRA_WEBVIEW2_PROFILE_ROOT"]
        logs = [n for n in os.listdir(profiles) if n.endswith("-startup.log")] \
            if os.path.isdir(profiles) else []
        with open(os.path.join(profiles, logs[0])) if logs else open(os.devnull) as log:
            return "stage=Ready" in log.read()

    def click(self, x, y):
        """A real pointer click on the launcher's display."""
        (pid,) = program.processes_of(self.copy)
        with open(f"/proc/{pid}/environ", "rb") as environ:
            settings = dict(item.decode().split("=", 1) for item in environ.read().split(b"\0")
                            if b"=" in item)
        display = {k: settings[k] for k in ("DISPLAY", "XAUTHORITY") if k in settings}
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True,
                       env=dict(os.environ, **display))

    def close(self, launcher):
        (pid,) = program.processes_of(self.copy)
        os.kill(pid, signal.SIGTERM)
        self.assertEqual(launcher.wait(timeout=60), 0)

    def parts(self):
        folder = os.path.dirname(self.installed)
        return [n for n in os.listdir(folder) if n.endswith(".part")] if os.path.isdir(folder) else []

    def installed_bytes(self):
        try:
            with open(self.installed, "rb") as installed:
                return installed.read()
        except FileNotFoundError:
            return None

    def test_first_start_installs_the_latest_release(self):
        asset = windows_program(3 << 20, b"n")
        self.publish("v7", asset)
        launcher = self.start()
        self.await_condition(lambda: self.installed_bytes() == asset, "the release was not installed")
        self.close(launcher)
        self.assertEqual(self.installed_bytes(), asset)
        self.assertEqual(self.parts(), [])

    def test_closing_during_a_download_keeps_the_old_installation(self):
        os.makedirs(os.path.dirname(self.installed))
        old = windows_program(5000, b"o")
        with open(self.installed, "wb") as out:
            out.write(old)
        gate = os.path.join(self.folder, "gate")
        self.publish("v8", windows_program(2 << 20, b"m"), {"mode": "gate", "gate": gate})
        launcher = self.start()
        self.await_condition(lambda: any(os.path.getsize(os.path.join(os.path.dirname(self.installed), p))
                                         for p in self.parts()), "the download never began")
        (pid,) = program.processes_of(self.copy)
        os.kill(pid, signal.SIGTERM)
        open(gate, "w").close()  # the next block shows the worker that it was cancelled
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assertEqual(self.installed_bytes(), old)
        self.assertEqual(self.parts(), [])

    def test_every_phase_is_shown_in_the_window(self):
        # Both answers are held halfway until the test opens their gate, so each phase stays on
        # screen until its screenshot is taken.
        fbdir = os.path.join(self.folder, "screen")
        os.mkdir(fbdir)
        api_gate, asset_gate = (os.path.join(self.folder, name) for name in ("api", "asset"))
        asset = windows_program(2 << 20, b"p")
        self.publish("v9", asset, {"mode": "gate", "gate": asset_gate})
        with open(os.path.join(self.server_folder, "routes.json")) as text:
            routes = json.load(text)
        api = f"api.github.com /repos/{OWNER}/{NAME}/releases/latest"
        routes[api].update(mode="gate", gate=api_gate)
        with open(os.path.join(self.server_folder, "routes.json"), "w") as out:
            json.dump(routes, out)
        launcher = self.start(fbdir)
        self.await_condition(self.page_ready, "the page never loaded")
        shots = {}

        def shoot(name, differs_from=None):
            # Saved at once, so a later failure still leaves the phases before it to look at.
            shots[name] = screen.settled(fbdir, WINDOW, differs_from)
            shots[name].save_png(os.path.join(SCREENSHOTS, f"launcher-{name}.png"))
            return shots[name]

        shoot("checking")
        open(api_gate, "w").close()
        self.await_condition(lambda: any(os.path.getsize(os.path.join(os.path.dirname(self.installed), p))
                                         for p in self.parts()), "the download never began")
        shoot("downloading", shots["checking"])
        open(asset_gate, "w").close()
        self.await_condition(lambda: self.installed_bytes() == asset, "the release was not installed")
        shoot("ready", shots["downloading"])
        routes[api] = {"status": 404, "body": "{}"}
        with open(os.path.join(self.server_folder, "routes.json"), "w") as out:
            json.dump(routes, out)
        self.click(*CHECK_BUTTON)
        shoot("failed-check", shots["ready"])
        self.close(launcher)
        for name, image in shots.items():
            self.assertGreater(image.colours(), 16, f"the {name} screenshot is one flat colour")
        self.assertEqual(len({bytes(b"".join(image.rows)) for image in shots.values()}), len(shots))
        self.assertEqual(self.installed_bytes(), asset)


def main():
    if os.environ.get(INSIDE) != "1":
        # Root may make the namespaces; elsewhere say so and skip.
        probe = subprocess.run(["unshare", "--net", "--mount", "true"], capture_output=True)
        if probe.returncode != 0:
            print("skipped: this process may not make network and mount namespaces")
            return 0
        os.environ[INSIDE] = "1"
        return subprocess.run(["unshare", "--net", "--mount", "--propagation", "private",
                               sys.executable] + sys.argv).returncode
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    global SCREENSHOTS
    SCREENSHOTS = os.path.join(os.getcwd(), "window-screenshots")
    program.main(sys.modules[__name__])
    return 0


if __name__ == "__main__":
    sys.exit(main())
