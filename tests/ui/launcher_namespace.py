"""The real Linux launcher in its normal mode against the fake GitHub, in a namespace of its own.

Nothing a user can set redirects the launcher's check, so the tests run the program in a network
and mount namespace of their own: there GitHub's host names resolve to loopback through a private
/etc/hosts, the system CA bundle is the fake GitHub's test CA, and the fake GitHub listens on 443.
"""
import hashlib
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "entry"))
import ocr  # noqa: E402
import program  # noqa: E402
import screen  # noqa: E402

FAKE_GITHUB = os.path.join(os.path.dirname(__file__), "..", "support", "fake_github.py")
HOSTS = ("api.github.com", "github.com", "objects.githubusercontent.com")
OWNER, NAME = "muvra-app", "muvra"
API_ROUTE = f"api.github.com /repos/{OWNER}/{NAME}/releases/latest"
INSIDE = "MUVRA_LAUNCHER_NAMESPACE"
WINDOW = (0, 0, 540, 650)  # where the launcher's window opens on a screen without a window manager
CA_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
PROGRAM = None
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


def publish(server_folder, tag, asset, route=None, **release_fields):
    """Has the fake GitHub in `server_folder` serve `asset` as the latest release `tag` of the
    configured repository; `route` adds to its download route, `release_fields` to its asset."""
    served = os.path.join(server_folder, tag)
    with open(served, "wb") as out:
        out.write(asset)
    path = f"/{OWNER}/{NAME}/releases/download/{tag}/muvra.exe"
    asset_fields = {"name": "muvra.exe", "size": len(asset),
                    "browser_download_url": "https://github.com" + path,
                    "digest": "sha256:" + hashlib.sha256(asset).hexdigest()}
    asset_fields.update(release_fields)
    release = {"tag_name": tag, "draft": False, "prerelease": False, "assets": [asset_fields]}
    with open(os.path.join(server_folder, "routes.json"), "w") as out:
        json.dump({API_ROUTE: {"body": json.dumps(release)},
                   "github.com " + path: dict({"body_file": served}, **(route or {}))}, out)


class LauncherTestCase(unittest.TestCase):
    def setUp(self):
        self.folder = program.temporary_folder(self)
        self.server_folder = os.path.join(self.folder, "github")
        os.mkdir(self.server_folder)
        hosts = os.path.join(self.folder, "hosts")
        with open(hosts, "w") as out:
            out.write("127.0.0.1 localhost " + " ".join(HOSTS) + "\n")
        self.bind(hosts, "/etc/hosts")
        self.server = subprocess.Popen([sys.executable, FAKE_GITHUB, self.server_folder, "443"],
                                       stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.server.wait)
        self.addCleanup(self.server.stdout.close)
        self.addCleanup(self.server.kill)
        self.assertTrue(self.server.stdout.readline().startswith("PORT 443"))
        self.bind(os.path.join(self.server_folder, "ca.pem"), CA_BUNDLE)
        self.loader = os.path.join(self.folder, "loader")
        os.mkdir(self.loader)
        self.copy = PROGRAM.copy_into(self.loader)
        self.app_folder = os.path.join(self.loader, "app")
        self.installed = os.path.join(self.app_folder, "muvra.exe")
        self.environment = dict(os.environ, GTK_OVERLAY_SCROLLING="0",
                                MUVRA_WEBVIEW2_PROFILE_ROOT=os.path.join(self.folder, "profiles"))

    def bind(self, source, target, *options):
        """Mounts `source` over `target` until the test ends; returns what unmounts it sooner."""
        subprocess.run(["mount", "--bind", source, target], check=True)
        mounted = [True]

        def unmount():
            if mounted.pop():
                subprocess.run(["umount", target], check=True)
                mounted.append(False)
        self.addCleanup(unmount)
        if options:
            subprocess.run(["mount", "-o", "remount,bind," + ",".join(options), target],
                           check=True)
        return unmount

    # The fake GitHub.
    def routes(self):
        with open(os.path.join(self.server_folder, "routes.json")) as text:
            return json.load(text)

    def set_routes(self, routes):
        with open(os.path.join(self.server_folder, "routes.json"), "w") as out:
            json.dump(routes, out)

    def publish(self, tag, asset, route=None, **release_fields):
        """Serves `asset` as release `tag`; `route` adds to its download route."""
        publish(self.server_folder, tag, asset, route, **release_fields)

    def api_requests(self):
        try:
            with open(os.path.join(self.server_folder, "requests.jsonl")) as log:
                return sum(1 for line in log if json.loads(line)["host"] == "api.github.com")
        except FileNotFoundError:
            return 0

    # The installation.
    def install(self, data):
        os.makedirs(self.app_folder, exist_ok=True)
        with open(self.installed, "wb") as out:
            out.write(data)

    def installed_bytes(self):
        try:
            with open(self.installed, "rb") as installed:
                return installed.read()
        except FileNotFoundError:
            return None

    def parts(self):
        if not os.path.isdir(self.app_folder):
            return []
        return [n for n in os.listdir(self.app_folder) if n.endswith(".part")]

    def download_began(self):
        return any(os.path.getsize(os.path.join(self.app_folder, p)) for p in self.parts())

    # The launcher and its window.
    def start(self):
        """The launcher on a display of its own, ended with all it started on every way out."""
        self.screen_folder = tempfile.mkdtemp(prefix="screen-", dir=self.folder)
        launcher = subprocess.Popen(screen.xvfb_command(self.screen_folder, [self.copy]),
                                    env=self.environment, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    start_new_session=True)
        self.addCleanup(program.end_process_group, launcher)
        self.launcher = launcher
        return launcher

    def pid(self):
        """The launcher process of the last start."""
        deadline = time.monotonic() + 60
        while not (found := program.processes_of(self.copy, under=self.launcher.pid)):
            self.assertLess(time.monotonic(), deadline, "the launcher never started")
            time.sleep(0.05)
        (pid,) = found
        return pid

    def await_condition(self, condition, what):
        deadline = time.monotonic() + 60
        while not condition():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.05)

    def page_ready(self):
        profiles = self.environment["MUVRA_WEBVIEW2_PROFILE_ROOT"]
        logs = [n for n in os.listdir(profiles) if n.endswith("-startup.log")] \
            if os.path.isdir(profiles) else []
        if not logs:
            return False
        with open(os.path.join(profiles, logs[0])) as log:
            return "stage=Ready" in log.read()

    def screenshot(self, name, differs_from=None):
        """The window once it has settled, kept under build/ for people to look at."""
        image = screen.settled(self.screen_folder, WINDOW, differs_from)
        image.save_png(os.path.join(SCREENSHOTS, f"{name}.png"))
        return image

    def click(self, x, y):
        """A real pointer click, after which the pointer leaves the page's text."""
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1",
                        "mousemove", "535", "645"], check=True, env=screen.display_of(self.pid()))

    def screenshot_showing(self, name, sentence, differs_from=None):
        """The settled window once it shows `sentence`: a window still painting, or passing
        through busy phases, is read again once it has changed."""
        deadline = time.monotonic() + 60
        image = differs_from
        while True:
            image = self.screenshot(name, image)
            text = ocr.text_of(image)
            if ocr.normalised(sentence) in text:
                return image
            self.assertLess(time.monotonic(), deadline,
                            f'"{sentence}" never appeared; the window read "{text}"')

    def click_text(self, image, phrase):
        position = ocr.position_of(image, phrase)
        self.assertIsNotNone(position, f'"{phrase}" is not on the screen')
        self.click(*position)

    def close(self, launcher):
        os.kill(self.pid(), signal.SIGTERM)
        self.assertEqual(launcher.wait(timeout=60), 0)


def main(module):
    """Runs `module`'s tests inside a network and mount namespace of their own (root only)."""
    if os.environ.get(INSIDE) != "1":
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
    os.makedirs(SCREENSHOTS, exist_ok=True)
    global PROGRAM
    PROGRAM, rest = program.parse_program()
    unittest.main(module=module, argv=[sys.argv[0]] + rest, verbosity=2)
    return 0
