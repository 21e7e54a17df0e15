"""Runs the real launcher binary (natively, or a Windows build through a runner such as Wine)."""
import argparse
import os
import signal
import shutil
import subprocess
import sys
import tempfile
import unittest


class Program:
    def __init__(self, path, runner):
        self.path = os.path.abspath(path)
        self.runner = [os.path.abspath(runner)] if runner else []

    @property
    def windows(self):
        return self.path.lower().endswith((".exe", ".com"))

    def command(self, arguments, path=None):
        return self.runner + [path or self.path] + list(arguments)

    def run(self, arguments, path=None, **options):
        """Exit code, standard output and standard error as text with plain line feeds."""
        done = subprocess.run(self.command(arguments, path), capture_output=True, timeout=120,
                              stdin=subprocess.DEVNULL, **options)
        return done.returncode, self.text(done.stdout), self.text(done.stderr)

    def text(self, data):
        text = data.decode("utf-8")
        # The Windows runtime writes its text streams with CR LF line ends.
        return text.replace("\r\n", "\n") if self.windows else text

    def copy_into(self, folder):
        """A copy of the program in `folder`, so that files beside it are the test's own."""
        target = os.path.join(folder, os.path.basename(self.path))
        shutil.copy2(self.path, target)
        return target


def parse_program():
    """The program named by --program and --runner, and the other arguments."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--runner")
    known, rest = parser.parse_known_args()
    return Program(known.program, known.runner), rest


def main(test_module):
    """Parses --program and --runner, then runs the module's tests against that program."""
    test_module.PROGRAM, rest = parse_program()
    unittest.main(module=test_module, argv=[sys.argv[0]] + rest, verbosity=2)


def parent_of(pid):
    with open(f"/proc/{pid}/stat") as stat:
        return int(stat.read().rsplit(")", 1)[1].split()[1])


def processes_of(executable, under=None):
    """The ids of the running processes of exactly this executable file (descendants of the
    process `under` only, when given)."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            if not entry.isdigit() or os.readlink(f"/proc/{entry}/exe") != executable:
                continue
            ancestor = int(entry)
            while under is not None and ancestor not in (under, 0, 1):
                ancestor = parent_of(ancestor)
            if under is None or ancestor == under:
                found.append(int(entry))
        except OSError:
            pass
    return found


def end_process_group(process):
    """Ends a process started with start_new_session=True and everything it started."""
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()


def temporary_folder(test):
    folder = tempfile.mkdtemp(prefix="muvra-entry-")
    test.addCleanup(shutil.rmtree, folder, ignore_errors=True)
    return folder
