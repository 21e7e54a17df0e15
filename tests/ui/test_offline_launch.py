#!/usr/bin/env python3
"""The real program built with MUVRA_OFFLINE_LAUNCH: after a check proved the installation, the
same folder starts Muvra when GitHub cannot be reached, and only while the file is still what
that check proved."""
import os
import sys

import ocr
from launcher_namespace import LauncherTestCase, main, windows_program

OFFLINE = "GitHub could not be reached. The verified release v1 on this computer can start."
UNREACHABLE = "Cannot reach GitHub over HTTPS. Check your connection and try again."


class OfflineLaunchTest(LauncherTestCase):
    def setUp(self):
        super().setUp()
        # A `wine` that records what it was asked to start.
        tools = os.path.join(self.folder, "bin")
        os.mkdir(tools)
        self.launched = os.path.join(self.folder, "launched")
        with open(os.path.join(tools, "wine"), "w") as wine:
            wine.write(f'#!/bin/sh\nprintf "%s\\n" "$@" > "{self.launched}"\n')
        os.chmod(os.path.join(tools, "wine"), 0o755)
        self.environment["PATH"] = tools + ":" + self.environment["PATH"]
        # One check online proves the release; then GitHub is gone.
        self.asset = windows_program(300000, b"v")
        self.publish("v1", self.asset)
        launcher = self.start()
        self.screenshot_showing("offline-first-check", "Your latest release is verified.")
        self.close(launcher)
        self.server.kill()
        self.server.wait()

    def test_the_proven_release_starts_without_github(self):
        launcher = self.start()
        image = self.screenshot_showing("offline-start", OFFLINE)
        self.click_launch(image)
        self.await_condition(lambda: os.path.exists(self.launched), "Muvra was not started")
        self.close(launcher)
        with open(self.launched) as arguments:
            self.assertEqual(arguments.read().split("\n")[:2], [self.installed, "--config"])

    def click_launch(self, image):
        """"Launch Muvra", dark on its bright button, reads only on its own: it is looked for in
        the band above "Check for updates"."""
        below = ocr.position_of(image, "Check for updates")
        self.assertIsNotNone(below, '"Check for updates" is not on the screen')
        top = below[1] - 70
        found = ocr.position_of(image.crop(0, top, image.width, 50), "Launch Muvra")
        self.assertIsNotNone(found, '"Launch Muvra" is not on the screen')
        self.click(found[0], top + found[1])

    def test_a_changed_installation_does_not_start(self):
        changed = bytearray(self.asset)
        changed[200000] ^= 1
        self.install(bytes(changed))
        launcher = self.start()
        self.screenshot_showing("offline-changed", UNREACHABLE)
        self.close(launcher)
        self.assertFalse(os.path.exists(self.launched))


if __name__ == "__main__":
    sys.exit(main(sys.modules[__name__]))
