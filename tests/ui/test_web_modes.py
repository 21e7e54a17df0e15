#!/usr/bin/env python3
"""The real Linux program's web modes under Xvfb: the three automated tests and a clean close."""
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "entry"))
import program  # noqa: E402
import screen  # noqa: E402

PROGRAM = None
PASS = "PASS: WebView2 launcher"


def read_png(path):
    """Width, height and the decompressed scan lines of a PNG file."""
    with open(path, "rb") as image:
        data = image.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")
    chunks, at = b"", 8
    while at < len(data):
        length = int.from_bytes(data[at:at + 4], "big")
        if data[at + 4:at + 8] == b"IDAT":
            chunks += data[at + 8:at + 8 + length]
        at += 12 + length
    return width, height, zlib.decompress(chunks)


def read(path):
    with open(path) as text:
        return text.read()


class WebModesTest(unittest.TestCase):
    def setUp(self):
        self.folder = program.temporary_folder(self)
        self.copy = PROGRAM.copy_into(self.folder)
        self.profiles = os.path.join(self.folder, "profiles")
        self.environment = dict(os.environ, MUVRA_WEBVIEW2_PROFILE_ROOT=self.profiles,
                                GTK_OVERLAY_SCROLLING="0")

    def command(self, arguments):
        return screen.xvfb_command(None, [self.copy] + arguments)

    def run_mode(self, option):
        done = subprocess.run(self.command([option]), capture_output=True, text=True,
                              env=self.environment, stdin=subprocess.DEVNULL, timeout=120)
        return done.returncode, done.stdout, done.stderr

    def log_lines(self):
        (log,) = [name for name in os.listdir(self.profiles) if name.endswith("-startup.log")]
        with open(os.path.join(self.profiles, log)) as text:
            return [line.split(" ", 1)[1] for line in text.read().splitlines()]

    def test_ui_test_passes_and_captures_the_page(self):
        status, out, err = self.run_mode("--web-ui-test")
        self.assertEqual((status, err), (0, ""), out)
        self.assertTrue(out.startswith(PASS) and out.endswith(".\n"), out)
        width, height, pixels = read_png(os.path.join(self.folder, "muvra-launcher-preview.png"))
        # The page fills the 540 × 650 window but for its 5-pixel resize border.
        self.assertEqual((width, height), (530, 640))
        self.assertGreater(len(set(pixels)), 16, "the capture is one flat colour")
        self.assertEqual(self.log_lines(), ["attempt=0 stage=Create environment code=0x00000000",
                                            "attempt=0 stage=Create controller code=0x00000000",
                                            "attempt=0 stage=Ready code=0x00000000"])

    def test_recovery_test_restarts_once_on_a_recovery_profile(self):
        status, out, err = self.run_mode("--web-recovery-test")
        self.assertEqual(status, 0, out + err)
        self.assertTrue(out.startswith(PASS))
        lines = self.log_lines()
        self.assertEqual(lines[2], "attempt=0 stage=Create controller callback code=0x80004005")
        self.assertEqual(lines[-1], "attempt=1 stage=Ready code=0x00000000")
        (key,) = [name for name in os.listdir(self.profiles) if not name.endswith(".log")]
        folders = sorted(os.listdir(os.path.join(self.profiles, key)))
        self.assertEqual(len(folders), 2)
        self.assertEqual(folders[0], "Default")
        self.assertTrue(folders[1].startswith("Recovery-"))

    def test_startup_test_passes(self):
        status, out, _ = self.run_mode("--web-startup-test")
        self.assertEqual(status, 0, out)
        self.assertTrue(out.startswith(PASS))

    def test_refused_profile_root_fails_with_the_summary(self):
        self.environment["MUVRA_WEBVIEW2_PROFILE_ROOT"] = "relative/profiles"
        # The start-up has failed for good, so the test ends at once rather than at its limit.
        status, out, err = self.run_mode("--web-ui-test")
        self.assertEqual(status, 1)
        self.assertEqual(out, "FAIL: WebView2 launcher UI test.\n")
        self.assertEqual(err, "Waiting 0x00000000: The WebView2 profile override must be an "
                              "absolute folder path.\n")

    def test_unwritable_profile_root_fails_after_the_recovery_attempt(self):
        with open(self.profiles, "w") as blocker:
            blocker.write("a file where the profile root should be")
        status, out, err = self.run_mode("--web-ui-test")
        self.assertEqual((status, out), (1, "FAIL: WebView2 launcher UI test.\n"))
        self.assertTrue(err.startswith("Create profile folder 0x80070003"), err)
        self.assertIn("\nStage: Create profile folder\nWindows error: 0x80070003", err)
        self.assertIn("The browser runtime could not finish starting.", err)

    def test_a_profile_tree_of_another_user_is_refused(self):
        os.makedirs(self.profiles)
        os.chown(self.profiles, 65534, 65534)
        status, out, err = self.run_mode("--web-ui-test")
        self.assertEqual((status, out), (1, "FAIL: WebView2 launcher UI test.\n"))
        self.assertIn("\nStage: Create profile folder\nWindows error: 0x80070005", err)
        self.assertEqual(os.listdir(self.profiles), [], "something was written into it")

    def test_a_compiled_filter_is_used_only_when_made_from_the_rules(self):
        self.assertEqual(self.run_mode("--web-ui-test")[0], 0)
        (store,) = [os.path.join(folder, "content-filters") for folder, _, _ in
                    os.walk(self.profiles) if os.path.isdir(os.path.join(folder, "content-filters"))]
        (name,) = os.listdir(store)
        rules = ('[{"trigger":{"url-filter":".*"},"action":{"type":"block"}},'
                 '{"trigger":{"url-filter":"^muvra-ui:"},"action":{"type":"ignore-previous-rules"}}]')
        self.assertEqual(name, "ContentRuleList-interface-only-"
                         + hashlib.sha256(rules.encode()).hexdigest())
        # Rules other than the program's under its name: compiled anew over them.
        with open(os.path.join(store, name), "rb") as compiled:
            other = compiled.read().replace(b'"block"', b'"blocK"')
        with open(os.path.join(store, name), "wb") as planted:
            planted.write(other)
        self.assertEqual(self.run_mode("--web-ui-test")[0], 0)
        with open(os.path.join(store, name), "rb") as compiled:
            self.assertIn(rules.encode(), compiled.read())

    def start_preview(self):
        """The window in --web-preview once its page is shown; its process id and display."""
        launcher = subprocess.Popen(self.command(["--web-preview"]), env=self.environment,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(program.end_process_group, launcher)
        deadline = time.monotonic() + 60
        while not (os.path.isdir(self.profiles) and any("stage=Ready" in line
                                                        for line in self.log_lines())):
            self.assertIsNone(launcher.poll(), "the window closed")
            self.assertLess(time.monotonic(), deadline, "the page never loaded")
            time.sleep(0.05)
        (pid,) = program.processes_of(self.copy, under=launcher.pid)
        return pid, screen.display_of(pid)

    def geometry(self, display, pid):
        """x, y, width and height of the launcher's window."""
        return screen.window_geometry(display, "--pid", str(pid))

    def drag(self, display, start, end):
        subprocess.run(["xdotool", "mousemove", *map(str, start), "mousedown", "1",
                        "mousemove", *map(str, end), "mouseup", "1"], env=display, check=True)

    def test_the_window_is_resized_from_its_edges_down_to_its_minimum(self):
        pid, display = self.start_preview()
        x, y, width, height = self.geometry(display, pid)
        self.assertEqual((width, height), (540, 650))
        corner = (x + width - 2, y + height - 2)
        self.drag(display, corner, (corner[0] + 100, corner[1] + 40))
        deadline = time.monotonic() + 30
        while self.geometry(display, pid)[2:] != (640, 690):
            self.assertLess(time.monotonic(), deadline, self.geometry(display, pid))
            time.sleep(0.05)
        self.drag(display, (x + 638, y + 688), (x + 100, y + 100))
        while self.geometry(display, pid)[2:] != (430, 510):
            self.assertLess(time.monotonic(), deadline, self.geometry(display, pid))
            time.sleep(0.05)

    def test_a_crashed_web_process_loads_the_page_again(self):
        pid, _ = self.start_preview()
        web_process = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/WebKitWebProcess"
        (web,) = program.processes_of(web_process, under=pid)
        os.kill(web, signal.SIGKILL)
        deadline = time.monotonic() + 60
        while [line.split()[1] for line in self.log_lines()].count("stage=Ready") < 2:
            self.assertLess(time.monotonic(), deadline, "the page was not loaded again")
            time.sleep(0.05)
        self.assertNotIn(web, program.processes_of(web_process, under=pid))

    def test_the_resize_cursor_shows_only_over_the_border(self):
        pid, display = self.start_preview()
        x, y, width, height = self.geometry(display, pid)
        inside = (x + width // 2, y + height // 2)
        page_cursor = self.cursor_at(display, inside)
        right, bottom = x + width - 2, y + height - 2
        grips = {"nw-resize": (x + 1, y + 1), "n-resize": (inside[0], y + 1),
                 "ne-resize": (right, y + 1), "e-resize": (right, inside[1]),
                 "se-resize": (right, bottom), "s-resize": (inside[0], bottom),
                 "sw-resize": (x + 1, bottom), "w-resize": (x + 1, inside[1])}
        for name, place in grips.items():
            with self.subTest(grip=name):
                self.assertEqual(self.cursor_at(display, place, name), name)
                self.assertEqual(self.cursor_at(display, inside, page_cursor), page_cursor)

    @staticmethod
    def cursor_at(display, place, expected=None):
        """The cursor's name once the pointer is on `place`, come from beside it so that the
        window sees it move; once the name is `expected`, when given, or after 10 s."""
        subprocess.run(["xdotool", "mousemove", str(place[0] - 1), str(place[1]),
                        "mousemove", *map(str, place)], env=display, check=True)
        deadline = time.monotonic() + 10
        while (name := screen.cursor_name(display)) != expected and expected is not None \
                and time.monotonic() < deadline:
            time.sleep(0.05)
        return name

    def test_termination_closes_the_window_cleanly(self):
        for arguments in ([], ["--web-preview"]):
            with self.subTest(arguments=arguments):
                launcher = subprocess.Popen(self.command(arguments), env=self.environment,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL, start_new_session=True)
                self.addCleanup(program.end_process_group, launcher)
                log = None
                while launcher.poll() is None and log is None:
                    names = os.listdir(self.profiles) if os.path.isdir(self.profiles) else []
                    logs = [n for n in names if n.endswith("-startup.log")]
                    if logs and "stage=Ready" in read(os.path.join(self.profiles, logs[0])):
                        log = logs[0]
                    else:
                        time.sleep(0.05)
                self.assertIsNotNone(log, "the page never loaded")
                (pid,) = program.processes_of(self.copy, under=launcher.pid)
                os.kill(pid, signal.SIGTERM)
                self.assertEqual(launcher.wait(timeout=60), 0)
                shutil.rmtree(self.profiles, ignore_errors=True)


if __name__ == "__main__":
    program.main(sys.modules[__name__])
