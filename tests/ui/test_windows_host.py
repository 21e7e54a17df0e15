#!/usr/bin/env python3
"""MuvraLoader.exe's browser host under Wine and Xvfb. Wine has no WebView2 runtime, so this is
the start-up a user without the runtime gets: both attempts fail and the window says why."""
import glob
import os
import time
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "entry"))
import ocr  # noqa: E402
import program  # noqa: E402
import screen  # noqa: E402
import wine_display  # noqa: E402
from wine_display import windows_path  # noqa: E402

PROGRAM = None
FAIL = "FAIL: WebView2 launcher UI test.\n"
PINK = bytes((239, 139, 184))
NO_RUNTIME = ("Create environment call 0x80070002: Muvra could not open its interface.\n\n"
              "Stage: Create environment call\nWindows error: 0x80070002\n\n"
              "Microsoft Edge WebView2 Runtime could not be found.\n\n"
              "Close this window and retry. The startup log is under LocalAppData\\Muvra\\WebView2.\n")
EXPECTED_LOG = [
    "attempt=0 stage=Create environment code=0x00000000",
    "attempt=0 stage=Create environment call code=0x80070002",
    "attempt=1 stage=Create environment code=0x00000000",
    "attempt=1 stage=Create environment call code=0x80070002",
]


class WindowsHostTest(unittest.TestCase):
    # One display for the whole class; Wine's desktop starts here with no streams of a test's.
    @classmethod
    def setUpClass(cls):
        cls.screen_folder = wine_display.start_display(cls)
        subprocess.run(PROGRAM.command(["--web-startup-test"]), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60,
                       env=dict(os.environ, MUVRA_WEBVIEW2_PROFILE_ROOT=windows_path(
                           os.path.join(cls.screen_folder, "warm-up"))))

    def setUp(self):
        self.folder = program.temporary_folder(self)
        self.copy = PROGRAM.copy_into(self.folder)
        shutil.copy2(os.path.join(os.path.dirname(PROGRAM.path), "WebView2Loader.dll"), self.folder)
        self.profiles = os.path.join(self.folder, "profiles")
        self.environment = dict(os.environ, MUVRA_WEBVIEW2_PROFILE_ROOT=windows_path(self.profiles))

    def run_mode(self, arguments):
        # Well inside the 45-second limit: a start-up that failed for good ends the test at once.
        done = subprocess.run(PROGRAM.command(arguments, self.copy),
                              capture_output=True, env=self.environment,
                              stdin=subprocess.DEVNULL, timeout=40)
        return done.returncode, PROGRAM.text(done.stdout), PROGRAM.text(done.stderr)

    def log_of(self, root):
        (log,) = glob.glob(os.path.join(root, "MuvraLoader-*-startup.log"))
        with open(log, "rb") as text:
            data = text.read()
        self.assertTrue(data.endswith(b"\r\n"))
        lines = data.decode().split("\r\n")[:-1]
        for line in lines:
            self.assertRegex(line, r"^\d+ attempt=")
        return [line.split(" ", 1)[1] for line in lines]

    def log_lines_so_far(self):
        logs = glob.glob(os.path.join(self.profiles, "*-startup.log"))
        if not logs:
            return []
        with open(logs[0], "rb") as text:
            return text.read().split(b"\r\n")[:-1]

    def test_startup_test_fails_twice_and_names_the_stage(self):
        status, out, err = self.run_mode(["--web-startup-test"])
        self.assertEqual((status, out, err), (1, FAIL, NO_RUNTIME))
        self.assertEqual(self.log_of(self.profiles), EXPECTED_LOG)
        (key,) = [name for name in os.listdir(self.profiles) if not name.endswith(".log")]
        folders = sorted(os.listdir(os.path.join(self.profiles, key)))
        self.assertEqual(len(folders), 2)
        self.assertEqual(folders[0], "Default")
        self.assertRegex(folders[1], r"^Recovery-\d+-\d+$")

    def test_a_missing_loader_library_fails_the_environment_call(self):
        os.remove(os.path.join(self.folder, "WebView2Loader.dll"))
        status, out, err = self.run_mode(["--web-startup-test"])
        self.assertEqual((status, out), (1, FAIL))
        # ERROR_MOD_NOT_FOUND as a status code, on both attempts.
        self.assertTrue(err.startswith("Create environment call 0x8007007E: "), err)
        self.assertEqual([line.split(" code=")[1] for line in self.log_of(self.profiles)],
                         ["0x00000000", "0x8007007E", "0x00000000", "0x8007007E"])

    def test_without_an_override_the_log_is_under_local_app_data(self):
        del self.environment["MUVRA_WEBVIEW2_PROFILE_ROOT"]
        prefix = os.environ["WINEPREFIX"]
        root = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local"))[0]
        root = os.path.join(root, "Muvra", "WebView2")
        shutil.rmtree(root, ignore_errors=True)
        status, out, _ = self.run_mode(["--web-ui-test"])
        self.assertEqual((status, out), (1, FAIL))
        self.assertEqual(self.log_of(root), EXPECTED_LOG)

    def test_overrides_that_are_not_absolute_are_refused(self):
        for value in ("relative\\profiles", "C:profiles", "\\profiles"):
            with self.subTest(value=value):
                self.environment["MUVRA_WEBVIEW2_PROFILE_ROOT"] = value
                status, out, err = self.run_mode(["--web-recovery-test"])
                self.assertEqual((status, out), (1, FAIL))
                self.assertEqual(err, "Waiting 0x00000000: The WebView2 profile override must be "
                                      "an absolute folder path.\n")

    def test_the_window_shows_why_the_start_failed(self):
        window = subprocess.Popen(PROGRAM.command([], self.copy),
                                  env=self.environment, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(window.wait)
        self.addCleanup(window.kill)
        while len(self.log_lines_so_far()) < 4:
            self.assertIsNone(window.poll(), "the launcher ended before its start-up failed")
            subprocess.run(["sleep", "0.05"])
        # Wine shows the client area as the X window: the whole window, which draws no frame
        # (its edges resize it all the same), centred on the screen's work area.
        x, y, width, height = screen.window_geometry()
        self.assertEqual((width, height), (540, 650))
        self.assertEqual((x, y), ((screen.WIDTH - 540) // 2, (screen.HEIGHT - 650) // 2))
        image = screen.settled(self.screen_folder, (x, y, width, height))
        image.save_png(os.path.join(os.getcwd(), "window-screenshots", "wine-startup-failure.png"))
        pink_rows = [y for y, row in enumerate(image.rows)
                     if any(row[x:x + 3] == PINK for x in range(0, len(row), 3))]
        self.assertGreaterEqual(min(pink_rows), 35)  # the text keeps its margin
        # Seven lines of error text, not the one line of "Opening Muvra...".
        self.assertGreater(max(pink_rows) - min(pink_rows), 100)
        self.assertEqual(image.rows[10][3 * 10:3 * 11], bytes((11, 9, 12)))
        # Alt+F4 is the system's close, the same WM_CLOSE path as the page's close button.
        subprocess.run(["xdotool", "mousemove", str(x + 270), str(y + 300), "click", "1",
                        "key", "alt+F4"], check=True)
        self.assertEqual(window.wait(timeout=30), 0)

    def test_without_a_console_the_failure_line_shows_in_a_message_box(self):
        # Started as Explorer starts it: no standard handles, no console to attach to.
        started = subprocess.Popen(PROGRAM.runner + ["start", "/wait", "/unix", self.copy, "--demo"],
                                   env=self.environment, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(started.wait)
        self.addCleanup(started.kill)
        deadline = time.monotonic() + 30
        command = ["xdotool", "search", "--onlyvisible", "--name", "^Muvra Loader$"]
        while not (found := subprocess.run(command, capture_output=True, text=True).stdout.split()):
            self.assertIsNone(started.poll(), "the program ended without showing its line")
            self.assertLess(time.monotonic(), deadline, "no message box showed")
            subprocess.run(["sleep", "0.05"])
        values = dict(line.split("=") for line in subprocess.run(
            ["xdotool", "getwindowgeometry", "--shell", found[0]], capture_output=True, text=True,
            check=True).stdout.split())
        region = tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        text = ocr.text_of(screen.settled(self.screen_folder, region))
        # OCR of the box's small system font misreads a letter now and then: two phrases of the
        # no-console line that it reads reliably.
        self.assertIn("a windows terminal", text)
        self.assertIn("offline layout preview", text)
        subprocess.run(["xdotool", "key", "--window", found[0], "Return"], check=True)
        self.assertEqual(started.wait(timeout=30), 1)


if __name__ == "__main__":
    program.main(sys.modules[__name__])
