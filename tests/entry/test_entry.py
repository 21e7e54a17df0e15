#!/usr/bin/env python3
"""The command-line modes of the real binary: options, help, preview, self-test and exit codes."""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import program  # noqa: E402

PROGRAM = None

HELP_LINES = [
    "Muvra Console Loader",
    "",
    None,  # the wording of the first help line is free
    "--self-test       Run offline verification checks",
    "--preview [download|error]   Print an offline screen preview",
    "--demo            Show a short offline animation demo",
]

READY = ("READY TO LAUNCH", "Update verified and installed. Press 2 to launch Muvra.")
DOWNLOAD = ("DOWNLOADING",
            "Downloading Muvra. Your existing installation is kept until verification.")
ERROR = ("ACTION NEEDED", "Cannot reach GitHub over HTTPS. Check your connection and try again.")

SELF_TEST_PASS = ("PASS: release metadata, asset selection, URL/digest rejection, SHA-256, "
                  "executable validation, console layout")


def inner(row):
    return row[4:-2].rstrip()


class OptionTableTest(unittest.TestCase):
    def assert_help(self, arguments, code):
        status, out, err = PROGRAM.run(arguments)
        self.assertEqual(status, code)
        self.assertEqual(err, "")
        lines = out.split("\n")
        self.assertEqual(lines[-1], "", "every line ends with a line feed")
        lines = lines[:-1]
        self.assertEqual(len(lines), len(HELP_LINES))
        for line, expected in zip(lines, HELP_LINES):
            if expected is not None:
                self.assertEqual(line, expected)
        self.assertTrue(lines[2])
        self.assertNotIn("--web", out)
        self.assertNotIn("--help", out)

    def test_help_exits_zero(self):
        self.assert_help(["--help"], 0)

    def test_unknown_options_print_help_and_exit_one(self):
        for arguments in (["--HELP"], ["-h"], ["--help2"], ["--helpx", "--help"], ["help"],
                          ["--Preview"], ["--self-test "], ["--DEMO"], ["--demo-x"],
                          ["--web-ui-testx"], [""], ["--preview=download"]):
            with self.subTest(arguments=arguments):
                self.assert_help(arguments, 1)

    def test_descriptions_start_in_column_19(self):
        _, out, _ = PROGRAM.run(["--help"])
        options = [line for line in out.split("\n") if line.startswith(("--self-test", "--demo"))]
        self.assertEqual([line[:18].rstrip() for line in options], ["--self-test", "--demo"])
        self.assertEqual([line[18] for line in options], ["R", "S"])

    def test_web_options_without_a_display_fail_fast(self):
        headless = {name: value for name, value in os.environ.items()
                    if name not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for arguments in ([], ["--web-preview"], ["--web-ui-test"], ["--web-recovery-test"],
                          ["--web-startup-test"], ["--web-preview", "--self-test"]):
            with self.subTest(arguments=arguments):
                status, out, err = PROGRAM.run(arguments, env=headless)
                self.assertEqual(status, 1)
                self.assertNotIn("Muvra Console Loader", out)
                self.assertNotIn("+---", out)
                if PROGRAM.windows:
                    # The window cannot be created, which the Windows program reports only by
                    # its exit code.
                    self.assertEqual(err, "")
                else:
                    self.assertEqual(err, "Muvra Loader: no display is available for the "
                                          "launcher window.\n")

    def test_demo_without_a_console_says_so(self):
        folder = program.temporary_folder(self)
        with open(os.path.join(folder, "out.txt"), "wb") as redirected:
            done = subprocess.run(PROGRAM.command(["--demo"]), stdout=redirected,
                                  stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(done.returncode, 1)
        name = "MuvraLoader.exe in a Windows terminal" if PROGRAM.windows else \
            "muvra-loader in a terminal"
        self.assertEqual(PROGRAM.text(done.stderr),
                         f"Open {name}. Use --preview for an offline layout preview.\n")
        self.assertEqual(os.path.getsize(os.path.join(folder, "out.txt")), 0)


class PreviewTest(unittest.TestCase):
    def assert_screen(self, arguments, phase, message, percent):
        status, out, err = PROGRAM.run(arguments)
        self.assertEqual((status, err), (0, ""))
        self.assertNotIn("\x1b", out)
        rows = out.split("\n")
        self.assertEqual(rows[-1], "")
        rows = rows[:-1]
        self.assertEqual(len(rows), 23)
        self.assertEqual({len(row) for row in rows}, {82})
        self.assertEqual(inner(rows[9]), "RELEASE  Preview only")
        self.assertTrue(inner(rows[11]).endswith(phase))
        self.assertEqual(inner(rows[12]), message)
        if percent is None:
            self.assertEqual(inner(rows[14]), "")
        else:
            self.assertTrue(inner(rows[14]).endswith(f"] {percent}%"), rows[14])

    def test_choices(self):
        for arguments, screen, percent in (
                (["--preview"], READY, 100),
                (["--preview", "something"], READY, 100),
                (["--preview", "DOWNLOAD"], READY, 100),
                (["--preview", "download"], DOWNLOAD, 62),
                (["--preview", "download", "extra"], DOWNLOAD, 62),
                (["--preview", "error"], ERROR, None),
                (["--preview", "error", "download"], ERROR, None)):
            with self.subTest(arguments=arguments):
                self.assert_screen(arguments, *screen, percent)


class SelfTestTest(unittest.TestCase):
    def setUp(self):
        self.folder = program.temporary_folder(self)
        self.copy = PROGRAM.copy_into(self.folder)
        self.result = os.path.join(self.folder, "loader-self-test.txt")
        self.temporary = os.path.join(self.folder, "loader-hash-test.tmp")

    def run_self_test(self):
        command = PROGRAM.command(["--self-test"], self.copy)
        # No check may need the network: natively the run gets a network namespace of its own.
        if not PROGRAM.windows and shutil.which("unshare") and \
                subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0:
            command = ["unshare", "-n"] + command
        done = subprocess.run(command, capture_output=True, stdin=subprocess.DEVNULL, timeout=120)
        return done.returncode, PROGRAM.text(done.stdout), PROGRAM.text(done.stderr)

    def test_passes_offline_and_writes_one_line(self):
        for run in range(2):
            with self.subTest(run=run):
                self.assertEqual(self.run_self_test(),
                                 (0, "PASS: offline loader and console checks.\n", ""))
                with open(self.result, "rb") as result:
                    lines = PROGRAM.text(result.read()).split("\n")
                self.assertEqual(len(lines), 2)
                self.assertTrue(lines[0].startswith(SELF_TEST_PASS), lines[0])
                self.assertEqual(lines[1], "")
                self.assertFalse(os.path.exists(self.temporary))

    def test_leftover_temporary_file_gives_two(self):
        with open(self.temporary, "wb") as leftover:
            leftover.write(b"kept as it is")
        self.assertEqual(self.run_self_test(), (2, "FAIL\n", ""))
        with open(self.temporary, "rb") as leftover:
            self.assertEqual(leftover.read(), b"kept as it is")
        self.assertFalse(os.path.exists(self.result))

    def test_leftover_folder_gives_two(self):
        os.mkdir(self.temporary)
        self.assertEqual(self.run_self_test(), (2, "FAIL\n", ""))
        self.assertTrue(os.path.isdir(self.temporary))
        self.assertFalse(os.path.exists(self.result))


if __name__ == "__main__":
    program.main(sys.modules[__name__])
