#!/usr/bin/env python3
"""What the launcher's browser view must refuse, probed in the real window under Xvfb: new
windows, permissions, navigations away from the two pages, and the context menu."""
import json
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "entry"))
import program  # noqa: E402
import screen  # noqa: E402

PROGRAM = None
REFERENCE = None
ORIGIN = "muvra-ui://loader.muvra.invalid/"
RIGHT_CLICK_AT = (270, 300)


def open_menus(pid):
    """The process's visible popup windows (override-redirect, as GTK maps a menu). Asking for
    these rather than comparing window lists before and after does not depend on every search
    finding the main window."""
    environment = screen.display_of(pid)
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                           capture_output=True, text=True, env=environment)
    menus = set()
    for window in found.stdout.split():
        described = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True,
                                   env=environment)
        if "Override Redirect State: yes" in described.stdout:
            menus.add(window)
    return menus


def right_click(pid):
    subprocess.run(["xdotool", "mousemove", *map(str, RIGHT_CLICK_AT), "click", "3"], check=True,
                   env=screen.display_of(pid))


class WindowProbeTest(unittest.TestCase):
    def start(self, executable):
        folder = program.temporary_folder(self)
        copy = program.Program(executable, None).copy_into(folder)
        environment = dict(os.environ, MUVRA_WEBVIEW2_PROFILE_ROOT=os.path.join(folder, "profiles"))
        process = subprocess.Popen(screen.xvfb_command(None, [copy]), env=environment, text=True,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(process.stdout.close)
        self.addCleanup(process.stdin.close)
        self.addCleanup(program.end_process_group, process)
        return copy, process

    def test_the_view_refuses_everything_but_its_two_pages(self):
        copy, probe = self.start(PROGRAM.path)
        findings = []
        for line in probe.stdout:
            finding = json.loads(line)
            findings.append(finding)
            if finding == ["right-click now"]:
                (pid,) = program.processes_of(copy, under=probe.pid)
                self.assertEqual(open_menus(pid), set())
                right_click(pid)
            elif finding == ["contextmenu"]:
                # The page saw the click; a menu would have been asked for before this report.
                self.assertEqual(open_menus(pid), set(), "a context menu opened")
            elif finding == ["done"]:
                probe.stdin.close()  # the probe, and its display, stay until this
        self.assertEqual(probe.wait(timeout=60), 0)
        refused = [f for f in findings if f[0] == "navigate"]
        self.assertEqual(refused, [["navigate", target, False] for target in (
            "https://example.com/", ORIGIN + "secret.html", "file:///etc/hostname",
            "muvra-ui://other.invalid/loader.html", ORIGIN + "loader.html?x=1")])
        self.assertIn(["window.open", True], findings)
        self.assertIn(["notification", "denied"], findings)
        self.assertIn(["geolocation", 1], findings)  # PERMISSION_DENIED
        # The first attempt at index.html is stopped, a failed load; the page's second attempt
        # must be shown, not left under the splash.
        self.assertEqual(findings[-5:], [["contextmenu"], ["stop the next load"], ["load stopped"],
                                         ["arrived", ORIGIN + "index.html"], ["done"]])

    def test_a_plain_view_opens_a_context_menu_where_the_probe_looks_for_one(self):
        # The control for the check above: the same click and search find the menu of a plain
        # WebKitGTK view.
        copy, reference = self.start(REFERENCE)
        self.assertEqual(reference.stdout.readline().strip(), "READY")
        (pid,) = program.processes_of(copy, under=reference.pid)
        self.assertEqual(open_menus(pid), set())
        right_click(pid)
        deadline = time.monotonic() + 30
        while not open_menus(pid):
            self.assertLess(time.monotonic(), deadline, "no context menu appeared")
            time.sleep(0.05)


if __name__ == "__main__":
    arguments = list(sys.argv)
    at = arguments.index("--reference")
    REFERENCE = os.path.abspath(arguments[at + 1])
    del arguments[at:at + 2]
    sys.argv = arguments
    program.main(sys.modules[__name__])
