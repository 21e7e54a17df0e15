#!/usr/bin/env python3
"""The normal mode of the real Linux program against the fake GitHub, end to end: an install, a
close during a download, and every phase the window shows on the way."""
import os
import signal
import sys

from launcher_namespace import API_ROUTE, LauncherTestCase, main, windows_program


class EndToEndTest(LauncherTestCase):
    def test_first_start_installs_the_latest_release(self):
        asset = windows_program(3 << 20, b"n")
        self.publish("v7", asset)
        launcher = self.start()
        self.await_condition(lambda: self.installed_bytes() == asset, "the release was not installed")
        self.close(launcher)
        self.assertEqual(self.installed_bytes(), asset)
        self.assertEqual(self.parts(), [])

    def test_closing_during_a_download_keeps_the_old_installation(self):
        old = windows_program(5000, b"o")
        self.install(old)
        gate = os.path.join(self.folder, "gate")
        self.publish("v8", windows_program(2 << 20, b"m"), {"mode": "gate", "gate": gate})
        launcher = self.start()
        self.await_condition(self.download_began, "the download never began")
        os.kill(self.pid(), signal.SIGTERM)
        open(gate, "w").close()  # the next block shows the worker that it was cancelled
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assertEqual(self.installed_bytes(), old)
        self.assertEqual(self.parts(), [])

    def test_every_phase_is_shown_in_the_window(self):
        # Both answers are held halfway until the test opens their gate, so each phase stays on
        # screen until its screenshot is taken.
        api_gate, asset_gate = (os.path.join(self.folder, name) for name in ("api", "asset"))
        asset = windows_program(2 << 20, b"p")
        self.publish("v9", asset, {"mode": "gate", "gate": asset_gate})
        routes = self.routes()
        routes[API_ROUTE].update(mode="gate", gate=api_gate)
        self.set_routes(routes)
        launcher = self.start()
        self.await_condition(self.page_ready, "the page never loaded")
        shots = {"checking": self.screenshot_showing("launcher-checking", "Checking for updates")}
        open(api_gate, "w").close()
        self.await_condition(self.download_began, "the download never began")
        shots["downloading"] = self.screenshot_showing("launcher-downloading",
                                                       "Getting Muvra ready", shots["checking"])
        open(asset_gate, "w").close()
        self.await_condition(lambda: self.installed_bytes() == asset, "the release was not installed")
        shots["ready"] = self.screenshot_showing("launcher-ready",
                                                 "Your latest release is verified.",
                                                 shots["downloading"])
        routes[API_ROUTE] = {"status": 404, "body": "{}"}
        self.set_routes(routes)
        self.click_text(shots["ready"], "Check for updates")
        shots["failed-check"] = self.screenshot_showing(
            "launcher-failed-check", "No public latest release found. The repository may be "
            "private, missing, or have no stable release.", shots["ready"])
        self.close(launcher)
        self.assertEqual(len({b"".join(image.rows) for image in shots.values()}), len(shots))
        self.assertEqual(self.installed_bytes(), asset)


if __name__ == "__main__":
    sys.exit(main(sys.modules[__name__]))
