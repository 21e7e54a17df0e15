#!/usr/bin/env python3
"""The release archives as a user gets them: their lists, their checksums, and each program run
from an empty folder it was unpacked into (the Windows one under Wine).

Usage: test_package.py --dist DIR --wine-prefix PREFIX [--signed-by CERT]
(--signed-by: the Windows program must carry an Authenticode signature by CERT's key.)
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "..", "cmake", "wine-run")
VERSION = "2.5"
ZIP = f"MuvraLoader-{VERSION}-windows-x64.zip"
TARBALL = f"muvra-loader-{VERSION}-linux-x86_64.tar.gz"
DIST = None
WINE_PREFIX = None
SIGNED_BY = None


class PackageTest(unittest.TestCase):
    def unpacked(self):
        folder = tempfile.mkdtemp(prefix="muvra-package-")
        self.addCleanup(subprocess.run, ["rm", "-rf", folder])
        return folder

    def run_program(self, command, **options):
        done = subprocess.run(command, capture_output=True, timeout=120, stdin=subprocess.DEVNULL,
                              **options)
        return done.returncode, done.stdout.decode().replace("\r\n", "\n")

    def test_the_checksums_name_both_archives(self):
        with open(os.path.join(DIST, "SHA256SUMS")) as sums:
            lines = sums.read().splitlines()
        expected = []
        for name in sorted((ZIP, TARBALL)):
            with open(os.path.join(DIST, name), "rb") as archive:
                expected.append(f"{hashlib.sha256(archive.read()).hexdigest()}  {name}")
        self.assertEqual(lines, expected)

    def test_the_windows_zip_runs_from_an_empty_folder(self):
        with zipfile.ZipFile(os.path.join(DIST, ZIP)) as archive:
            self.assertEqual(archive.namelist(), [
                f"MuvraLoader-{VERSION}/{name}" for name in
                ("MuvraLoader.com", "MuvraLoader.exe", "README.txt", "THIRD-PARTY-NOTICES.txt",
                 "WebView2Loader.dll")])
            folder = self.unpacked()
            archive.extractall(folder)
        environment = dict(os.environ, WINEPREFIX=WINE_PREFIX)
        # The program and its console companion, which a terminal finds first.
        for name in ("MuvraLoader.exe", "MuvraLoader.com"):
            with self.subTest(program=name):
                program = os.path.join(folder, f"MuvraLoader-{VERSION}", name)
                status, out = self.run_program([WINE_RUN, program, "--self-test"],
                                               env=environment)
                self.assertEqual((status, out), (0, "PASS: offline loader and console checks.\n"))
                status, out = self.run_program([WINE_RUN, program, "--preview"], env=environment)
                self.assertEqual(status, 0)
                self.assertEqual([len(row) for row in out.splitlines()], [82] * 23)
        # The companion hands the window to MuvraLoader.exe beside it, which, with no display
        # here, cannot open one and says so by its exit code only.
        companion = os.path.join(folder, f"MuvraLoader-{VERSION}", "MuvraLoader.com")
        headless = {name: value for name, value in environment.items()
                    if name not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.assertEqual(self.run_program([WINE_RUN, companion, "--web-preview"], env=headless),
                         (1, ""))

    def test_the_windows_program_is_signed_when_packaging_signed_it(self):
        if not SIGNED_BY:
            self.skipTest("packaged without --sign")
        with zipfile.ZipFile(os.path.join(DIST, ZIP)) as archive:
            folder = self.unpacked()
            archive.extractall(folder)
        program = os.path.join(folder, f"MuvraLoader-{VERSION}", "MuvraLoader.exe")
        done = subprocess.run(["osslsigncode", "verify", "-CAfile", SIGNED_BY, "-in", program],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Message digest algorithm  : SHA256", done.stdout)

    def test_the_linux_tarball_runs_from_an_empty_folder(self):
        with tarfile.open(os.path.join(DIST, TARBALL)) as archive:
            members = {m.name: (m.mode, m.uid, m.gid) for m in archive.getmembers()}
            self.assertEqual(members, {
                f"muvra-loader-{VERSION}/{name}": (mode, 0, 0) for name, mode in (
                    ("README.txt", 0o644), ("THIRD-PARTY-NOTICES.txt", 0o644),
                    ("muvra-loader", 0o755), ("muvra-loader.desktop", 0o644),
                    ("muvra-loader.png", 0o644))})
            folder = self.unpacked()
            archive.extractall(folder)
        program = os.path.join(folder, f"muvra-loader-{VERSION}", "muvra-loader")
        status, out = self.run_program([program, "--self-test"])
        self.assertEqual((status, out), (0, "PASS: offline loader and console checks.\n"))
        status, out = self.run_program([program, "--preview"])
        self.assertEqual(status, 0)
        self.assertEqual([len(row) for row in out.splitlines()], [82] * 23)
        with open(os.path.join(folder, f"muvra-loader-{VERSION}", "muvra-loader.png"), "rb") as icon:
            self.assertEqual(icon.read(8), b"\x89PNG\r\n\x1a\n")

    def test_the_notices_carry_each_part_and_its_licence(self):
        with zipfile.ZipFile(os.path.join(DIST, ZIP)) as archive:
            notices = archive.read(f"MuvraLoader-{VERSION}/THIRD-PARTY-NOTICES.txt").decode()
        for part in ("nlohmann/json", "WebView2 loader", "mingw-w64 runtime", "GCC Runtime Library",
                     "Redistribution and use in source and binary forms", "MIT"):
            self.assertIn(part, notices)


def main():
    global DIST, WINE_PREFIX, SIGNED_BY
    parser = argparse.ArgumentParser()
    parser.add_argument("--dist", required=True)
    parser.add_argument("--wine-prefix", required=True)
    parser.add_argument("--signed-by")
    known, rest = parser.parse_known_args()
    DIST, WINE_PREFIX = os.path.abspath(known.dist), os.path.abspath(known.wine_prefix)
    SIGNED_BY = known.signed_by
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
