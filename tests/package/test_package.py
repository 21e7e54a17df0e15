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
MAKE_ARCHIVES = os.path.join(HERE, "..", "..", "tools", "package", "make_archives.py")
VERSION = "2.5"
ZIP = f"MuvraLoader-{VERSION}-windows-x64.zip"
TARBALL = f"muvra-loader-{VERSION}-linux-x86_64.tar.gz"
# The archives' top folders, the same in every version.
ZIP_FOLDER = "MuvraLoader"
TARBALL_FOLDER = "muvra-loader"
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
                f"{ZIP_FOLDER}/{name}" for name in
                ("MuvraLoader.com", "MuvraLoader.exe", "README.txt", "THIRD-PARTY-NOTICES.txt",
                 "WebView2Loader.dll")])
            folder = self.unpacked()
            archive.extractall(folder)
        environment = dict(os.environ, WINEPREFIX=WINE_PREFIX)
        # The program and its console companion, which a terminal finds first.
        for name in ("MuvraLoader.exe", "MuvraLoader.com"):
            with self.subTest(program=name):
                program = os.path.join(folder, ZIP_FOLDER, name)
                status, out = self.run_program([WINE_RUN, program, "--self-test"],
                                               env=environment)
                self.assertEqual((status, out), (0, "PASS: offline loader and console checks.\n"))
                status, out = self.run_program([WINE_RUN, program, "--preview"], env=environment)
                self.assertEqual(status, 0)
                self.assertEqual([len(row) for row in out.splitlines()], [82] * 23)
        # The companion hands the window to MuvraLoader.exe beside it, which, with no display
        # here, cannot open one and says so by its exit code only.
        companion = os.path.join(folder, ZIP_FOLDER, "MuvraLoader.com")
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
        program = os.path.join(folder, ZIP_FOLDER, "MuvraLoader.exe")
        done = subprocess.run(["osslsigncode", "verify", "-CAfile", SIGNED_BY, "-in", program],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Message digest algorithm  : SHA256", done.stdout)

    def test_the_linux_tarball_runs_from_an_empty_folder(self):
        with tarfile.open(os.path.join(DIST, TARBALL)) as archive:
            members = {m.name: (m.mode, m.uid, m.gid) for m in archive.getmembers()}
            self.assertEqual(members, {
                f"{TARBALL_FOLDER}/{name}": (mode, 0, 0) for name, mode in (
                    ("README.txt", 0o644), ("THIRD-PARTY-NOTICES.txt", 0o644),
                    ("muvra-loader", 0o755), ("muvra-loader.desktop", 0o644),
                    ("muvra-loader.png", 0o644))})
            folder = self.unpacked()
            archive.extractall(folder)
        program = os.path.join(folder, TARBALL_FOLDER, "muvra-loader")
        status, out = self.run_program([program, "--self-test"])
        self.assertEqual((status, out), (0, "PASS: offline loader and console checks.\n"))
        status, out = self.run_program([program, "--preview"])
        self.assertEqual(status, 0)
        self.assertEqual([len(row) for row in out.splitlines()], [82] * 23)
        with open(os.path.join(folder, TARBALL_FOLDER, "muvra-loader.png"), "rb") as icon:
            self.assertEqual(icon.read(8), b"\x89PNG\r\n\x1a\n")

    def older_archives(self):
        """Archives of version 2.4 made by the same tool from the programs in dist's archives."""
        work = self.unpacked()
        windows, linux = os.path.join(work, "windows"), os.path.join(work, "linux")
        native = os.path.join(work, "sdk", "build", "native")
        os.makedirs(native)
        with open(os.path.join(work, "sdk", "LICENSE.txt"), "w") as licence:
            licence.write("The WebView2 SDK's licence.\n")
        for archive_name, target in ((ZIP, windows), (TARBALL, linux)):
            self.unpack(archive_name, target)
        subprocess.run([sys.executable, MAKE_ARCHIVES, "--version", "2.4", "--epoch", "315532800",
                        "--linux", os.path.join(linux, TARBALL_FOLDER),
                        "--windows", os.path.join(windows, ZIP_FOLDER), "--sdk", native,
                        "--out", os.path.join(work, "older")], check=True)
        return {ZIP: os.path.join(work, "older", "MuvraLoader-2.4-windows-x64.zip"),
                TARBALL: os.path.join(work, "older", "muvra-loader-2.4-linux-x86_64.tar.gz")}

    def test_a_newer_archive_unpacked_over_an_older_one_keeps_settings_and_muvra(self):
        older = self.older_archives()
        for archive_name, folder_name in ((ZIP, ZIP_FOLDER), (TARBALL, TARBALL_FOLDER)):
            with self.subTest(archive_name):
                folder = self.unpacked()
                self.unpack(older[archive_name], folder)
                installed = os.path.join(folder, folder_name)
                kept = {"settings.ini": b"[muvra]\nvolume=7\n", "app/muvra.exe": b"MZ verified"}
                os.makedirs(os.path.join(installed, "app"))
                for name, data in kept.items():
                    with open(os.path.join(installed, name), "wb") as out:
                        out.write(data)
                self.unpack(archive_name, folder)
                self.assertEqual(os.listdir(folder), [folder_name])
                for name, data in kept.items():
                    with open(os.path.join(installed, name), "rb") as source:
                        self.assertEqual(source.read(), data, name)
                with open(os.path.join(installed, "README.txt"), "rb") as readme:
                    self.assertIn(f"Muvra Loader {VERSION} ".encode(), readme.read())

    def unpack(self, archive_name, folder):
        path = os.path.join(DIST, archive_name)
        if archive_name.endswith(".zip"):
            with zipfile.ZipFile(path) as archive:
                archive.extractall(folder)
        else:
            with tarfile.open(path) as archive:
                archive.extractall(folder)

    def test_the_notices_carry_each_part_and_its_licence(self):
        with zipfile.ZipFile(os.path.join(DIST, ZIP)) as archive:
            notices = archive.read(f"{ZIP_FOLDER}/THIRD-PARTY-NOTICES.txt").decode()
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
