#!/usr/bin/env python3
"""The real program built with MUVRA_PUBLISHER_KEYS pinned to the test publisher's key and its
backup: a release another key signed is refused, one a pinned key signed is installed, and one
older than the verified program installed leaves that program to start.
The signed programs are those tests/signing/make_signed_programs.py made (MUVRA_SIGNED_PROGRAMS)."""
import os
import sys

from launcher_namespace import LauncherTestCase, main, windows_program

REFUSED = "The update is not signed by the publisher of Muvra. Your previous installation was kept."
VERIFIED = "Your latest release is verified. Launch whenever you are ready."
OLDER = "The release on GitHub is older than the verified Muvra on this computer, which can start."
OLD = windows_program(5000, b"o")


def signed_program(name):
    with open(os.path.join(os.environ["MUVRA_SIGNED_PROGRAMS"], name + ".exe"), "rb") as program:
        return program.read()


class PublisherKeysTest(LauncherTestCase):
    def test_a_stranger_signed_release_is_refused_and_a_publisher_signed_one_installed(self):
        self.install(OLD)
        self.publish("v2", signed_program("stranger"))
        launcher = self.start()
        self.screenshot_showing("publisher-keys-refused", REFUSED)
        self.close(launcher)
        self.assertEqual(self.installed_bytes(), OLD)
        self.assertEqual(self.parts(), [])
        self.publish("v3", signed_program("publisher"))
        launcher = self.start()
        self.screenshot_showing("publisher-keys-installed", VERIFIED)
        self.close(launcher)
        self.assertEqual(self.installed_bytes(), signed_program("publisher"))

    def test_an_older_release_leaves_the_verified_program_installed(self):
        self.publish("v2.6", signed_program("publisher"))
        launcher = self.start()
        self.screenshot_showing("publisher-keys-2.6", VERIFIED)
        self.close(launcher)
        self.publish("v2.5", signed_program("publisher-2.5"))
        launcher = self.start()
        self.screenshot_showing("publisher-keys-older", OLDER)
        self.close(launcher)
        self.assertEqual(self.installed_bytes(), signed_program("publisher"))
        self.assertEqual(self.parts(), [])
        profiles = self.environment["MUVRA_WEBVIEW2_PROFILE_ROOT"]
        (log,) = [n for n in os.listdir(profiles) if n.endswith("-checks.log")]
        with open(os.path.join(profiles, log)) as text:
            self.assertIn(" older release=2.5.0.0 verified=2.6.0.0: " + OLDER, text.read())


if __name__ == "__main__":
    sys.exit(main(sys.modules[__name__]))
