#!/usr/bin/env python3
"""The scripts under scripts/: each answers --help at once without building or installing
anything, scripts/publisher-pin reads PKCS#12 files, and scripts/setup passes dotnet's own
message on when the restore fails.

Usage: test_scripts.py --signing DIR   (DIR: the test keys the build made, tests/signing)
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(ROOT, "scripts")
SIGNING = None
# Every tool a script builds or installs with; each stand-in records that it was called.
BUILDING_TOOLS = ("cmake", "ctest", "ninja", "make", "apt-get", "npm", "dotnet")
STAND_IN = """#!/bin/sh
echo "$(basename "$0") $*" >>"{record}"
{body}
"""


def processor_seconds():
    """The processor time of every child process waited for so far. The limit of --help is on
    this, not on the wall clock, which a machine busy with other builds stretches."""
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


class ScriptsTest(unittest.TestCase):
    def folder(self):
        path = tempfile.mkdtemp(prefix="muvra-scripts-")
        self.addCleanup(shutil.rmtree, path)
        return path

    def stand_ins(self, body="exit 1", tools=BUILDING_TOOLS):
        """A PATH whose building tools only record their calls; returns (environment, record)."""
        folder = self.folder()
        record = os.path.join(folder, "calls")
        for tool in tools:
            path = os.path.join(folder, tool)
            with open(path, "w") as script:
                script.write(STAND_IN.format(record=record, body=body))
            os.chmod(path, 0o755)
        return dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"]), record

    def test_every_script_answers_help_at_once_and_builds_nothing(self):
        environment, record = self.stand_ins()
        scripts = sorted(os.listdir(SCRIPTS))
        self.assertGreaterEqual(len(scripts), 7)
        for name in scripts:
            with self.subTest(name):
                before = processor_seconds()
                done = subprocess.run([os.path.join(SCRIPTS, name), "--help"], env=environment,
                                      capture_output=True, text=True, timeout=60)
                self.assertLess(processor_seconds() - before, 5)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn(f"scripts/{name}", done.stdout)
                self.assertEqual(done.stderr, "")
                self.assertFalse(os.path.exists(record), "it called a building tool")

    def pin(self, path, password=None):
        environment = dict(os.environ)
        environment.pop("MUVRA_SIGNING_PASSWORD", None)
        if password is not None:
            environment["MUVRA_SIGNING_PASSWORD"] = password
        return subprocess.run([os.path.join(SCRIPTS, "publisher-pin"), path], env=environment,
                              capture_output=True, text=True, timeout=30)

    def test_publisher_pin_reads_pkcs12_with_the_signing_password(self):
        folder = self.folder()
        for key, suffix, legacy in (("publisher", ".p12", []), ("backup", ".pfx", ["-legacy"])):
            with self.subTest(key):
                bundle = os.path.join(folder, key + suffix)
                subprocess.run(["openssl", "pkcs12", "-export", *legacy,
                                "-inkey", os.path.join(SIGNING, key + ".key"),
                                "-in", os.path.join(SIGNING, key + ".crt"),
                                "-out", bundle, "-passout", "pass:s3cret word"], check=True)
                from_certificate = self.pin(os.path.join(SIGNING, key + ".crt"))
                self.assertEqual(from_certificate.returncode, 0, from_certificate.stderr)
                self.assertRegex(from_certificate.stdout, r"^[0-9a-f]{64}\n$")
                self.assertEqual(self.pin(bundle, "s3cret word").stdout, from_certificate.stdout)
                refused = self.pin(bundle, "wrong")
                self.assertEqual((refused.returncode, refused.stdout), (1, ""))
                self.assertIn("MUVRA_SIGNING_PASSWORD", refused.stderr)

    def test_setup_shows_dotnets_own_message_when_the_restore_fails(self):
        # A copy of the repository's parts setup reads, where every package counts as installed.
        copy = self.folder()
        os.makedirs(os.path.join(copy, "scripts"))
        shutil.copy(os.path.join(SCRIPTS, "setup"), os.path.join(copy, "scripts"))
        shutil.copytree(os.path.join(ROOT, "tools", "webview2-sdk"),
                        os.path.join(copy, "tools", "webview2-sdk"))
        os.makedirs(os.path.join(copy, "node_modules", "playwright-core"))
        message = "error NU1301: Unable to load the service index for source https://nuget.test."
        environment, record = self.stand_ins(body=f"echo '{message}'; exit 1")
        installed = self.folder()
        with open(os.path.join(installed, "dpkg-query"), "w") as script:
            script.write("#!/bin/sh\necho 'install ok installed'\n")
        os.chmod(os.path.join(installed, "dpkg-query"), 0o755)
        environment["PATH"] = installed + os.pathsep + environment["PATH"]
        environment.pop("MUVRA_WEBVIEW2_SDK", None)
        done = subprocess.run([os.path.join(copy, "scripts", "setup")], env=environment,
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertIn(message, done.stderr)
        with open(record) as calls:
            self.assertEqual([line.split()[:2] for line in calls], [["dotnet", "restore"]])


def main():
    global SIGNING
    parser = argparse.ArgumentParser()
    parser.add_argument("--signing", required=True)
    known, rest = parser.parse_known_args()
    SIGNING = os.path.abspath(known.signing)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
