#!/usr/bin/env python3
"""The console demo of the real binary in a pseudo-terminal: keys, Ctrl+C, redraws, restore.

MuvraLoader.exe runs through Wine, whose console host draws the console's screen on the terminal
with escapes of its own: there the tests read the text, title and cursor it shows.
"""
import fcntl
import os
import re
import resource
import select
import signal
import struct
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import program  # noqa: E402

PROGRAM = None
ROW_ONE = b"\x1b[1;1H"


# The session leader of a terminal with job control, as a shell is: it runs the command as the
# foreground job in a process group of its own, writes "<pid>" and then "stopped" for each stop to
# the descriptor given first, and ends with the job's status.
JOB_SHELL = r"""
import fcntl, os, signal, sys, termios
report = int(sys.argv[1])
os.setsid()
fcntl.ioctl(0, termios.TIOCSCTTY, 0)
signal.signal(signal.SIGTTOU, signal.SIG_IGN)
job = os.fork()
if job == 0:
    os.setpgid(0, 0)
    os.tcsetpgrp(0, os.getpid())
    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
    os.execv(sys.argv[2], sys.argv[2:])
os.setpgid(job, job)
os.write(report, b"%d\n" % job)
while True:
    _, status = os.waitpid(job, os.WUNTRACED)
    if os.WIFSTOPPED(status):
        os.write(report, b"stopped\n")
    else:
        sys.exit(os.waitstatus_to_exitcode(status) & 0xFF)
"""


def no_core_files():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class Terminal:
    """A pseudo-terminal of the given size running the demo as its session's foreground job;
    `ignore` names signals the demo inherits as ignored; `job_control` puts a shell-like session
    leader between them (stops reach a job that has a parent in its session only)."""

    def __init__(self, test, rows, columns, ignore=(), job_control=False):
        self.master, self.slave = os.openpty()
        test.addCleanup(os.close, self.master)
        test.addCleanup(os.close, self.slave)
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
        self.before = termios.tcgetattr(self.slave)
        self.output = b""

        def prepare():
            no_core_files()
            for number in ignore:
                signal.signal(number, signal.SIG_IGN)
            if not job_control:
                fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        command = PROGRAM.command(["--demo"])
        options = {}
        if job_control:
            report, self.reports = os.pipe()[::-1]
            test.addCleanup(os.close, self.reports)
            command = [sys.executable, "-c", JOB_SHELL, str(report)] + command
            options = {"pass_fds": (report,)}
        self.process = subprocess.Popen(
            command, stdin=self.slave, stdout=self.slave, stderr=self.slave,
            start_new_session=not job_control, preexec_fn=prepare, **options)
        if job_control:
            os.close(report)
        test.addCleanup(self.stop)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def read_until(self, predicate, limit=30):
        """Collects output until predicate(output) holds or the demo has ended."""
        deadline = time.monotonic() + limit
        while not predicate(self.output) and time.monotonic() < deadline:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if ready:
                self.output += os.read(self.master, 65536)
            elif self.process.poll() is not None:
                break
        return predicate(self.output)

    def finish(self):
        """Reads (so the demo never blocks on a full terminal) until it has ended."""
        self.read_until(lambda _: self.process.poll() is not None)
        status = self.process.wait(timeout=30)
        while select.select([self.master], [], [], 0)[0]:
            self.output += os.read(self.master, 65536)
        return status

    def frames(self):
        return self.output.split(ROW_ONE)[1:]

    def report(self):
        """The job shell's next line."""
        line = b""
        while not line.endswith(b"\n"):
            line += os.read(self.reports, 1)
        return line.decode().strip()


def first_frame_drawn(output):
    return output.count(ROW_ONE) >= 2


class DemoTerminalTest(unittest.TestCase):
    def assert_restored(self, terminal):
        self.assertEqual(termios.tcgetattr(terminal.slave), terminal.before)
        ending = terminal.output[terminal.output.rfind(ROW_ONE):]
        self.assertIn(b"\x1b[0m", ending)
        self.assertTrue(ending.rstrip().endswith(b"\x1b[?25h"), ending[-40:])

    def test_escape_ends_the_demo(self):
        terminal = Terminal(self, 30, 100)
        self.assertTrue(terminal.read_until(first_frame_drawn))
        os.write(terminal.master, b"\x1b")
        self.assertEqual(terminal.finish(), 0)
        self.assertLess(len(terminal.frames()), 110)
        self.assert_restored(terminal)

    def test_arrow_keys_do_not_end_the_demo(self):
        terminal = Terminal(self, 30, 100)
        self.assertTrue(terminal.read_until(first_frame_drawn))
        os.write(terminal.master, b"\x1b[A")
        self.assertEqual(terminal.finish(), 0)
        self.assertEqual(len(terminal.frames()), 110)
        self.assert_restored(terminal)

    def test_ctrl_c_ends_the_demo_cleanly(self):
        terminal = Terminal(self, 30, 100)
        self.assertTrue(terminal.read_until(first_frame_drawn))
        os.write(terminal.master, b"\x03")
        self.assertEqual(terminal.finish(), 0)
        self.assertLess(len(terminal.frames()), 110)
        self.assert_restored(terminal)

    def test_an_interrupt_while_output_is_paused_still_restores_the_terminal(self):
        # Ctrl+S pauses the output, so the demo blocks writing a frame. SIGINT (sent as kill
        # does: Ctrl+C would resume the output) interrupts that write; the second comes once it
        # writes again, so that a write is interrupted before any byte went out. Ctrl+Q lets the
        # output go on.
        terminal = Terminal(self, 30, 100)
        self.assertTrue(terminal.read_until(first_frame_drawn))
        os.write(terminal.master, b"\x13")
        for _ in range(2):
            blocked = self.await_blocked_writing(terminal.process)
            self.assertIsNotNone(blocked, "the demo never waited for the paused output")
            terminal.process.send_signal(signal.SIGINT)
            self.await_blocked_writing(terminal.process, since=blocked)
        os.write(terminal.master, b"\x11")
        self.assertEqual(terminal.finish(), 0)
        self.assert_restored(terminal)

    @staticmethod
    def await_blocked_writing(process, since=None):
        """Waits until `process` sleeps in write(2), after a sleep later than `since` when
        given, or has ended; returns its count of sleeps."""
        deadline = time.monotonic() + 30
        while process.poll() is None and time.monotonic() < deadline:
            try:
                with open(f"/proc/{process.pid}/syscall") as call:
                    writing = call.read().split()[0] == "1"
                with open(f"/proc/{process.pid}/status") as status:
                    sleeps = int(re.search(r"voluntary_ctxt_switches:\s+(\d+)",
                                           status.read()).group(1))
            except (OSError, AttributeError):
                break
            if writing and (since is None or sleeps > since):
                return sleeps
            time.sleep(0.01)
        return None

    def test_ctrl_backslash_restores_the_terminal_before_quitting(self):
        terminal = Terminal(self, 30, 100)
        self.assertTrue(terminal.read_until(first_frame_drawn))
        os.write(terminal.master, b"\x1c")
        self.assertEqual(terminal.finish(), -signal.SIGQUIT)
        self.assertEqual(termios.tcgetattr(terminal.slave), terminal.before)
        self.assertTrue(terminal.output.endswith(b"\x1b[0m\x1b[?25h"), terminal.output[-40:])

    def test_a_hangup_ignored_by_the_caller_stays_ignored(self):
        terminal = Terminal(self, 30, 100, ignore=(signal.SIGHUP,))
        self.assertTrue(terminal.read_until(first_frame_drawn))
        terminal.process.send_signal(signal.SIGHUP)
        drawn = len(terminal.frames())
        self.assertTrue(terminal.read_until(lambda out: out.count(ROW_ONE) > drawn + 2))
        os.write(terminal.master, b"\x1b")
        self.assertEqual(terminal.finish(), 0)
        self.assert_restored(terminal)

    def test_ctrl_z_gives_the_terminal_back_and_takes_it_again(self):
        terminal = Terminal(self, 30, 100, job_control=True)
        demo = int(terminal.report())
        self.assertTrue(terminal.read_until(first_frame_drawn))
        os.write(terminal.master, b"\x1a")
        self.assertEqual(terminal.report(), "stopped")
        terminal.read_until(lambda out: out.endswith(b"\x1b[0m\x1b[?25h"), limit=5)
        self.assertTrue(terminal.output.endswith(b"\x1b[0m\x1b[?25h"), terminal.output[-40:])
        self.assertEqual(termios.tcgetattr(terminal.slave), terminal.before)
        stopped_at = len(terminal.output)
        os.kill(demo, signal.SIGCONT)
        self.assertTrue(terminal.read_until(
            lambda out: out[stopped_at:].count(ROW_ONE) >= 2))
        again = terminal.output[stopped_at:]
        self.assertTrue(again.startswith(b"\x1b[?25l"), again[:20])
        self.assertFalse(termios.tcgetattr(terminal.slave)[3] & termios.ICANON)
        full = again.split(ROW_ONE)[1]
        self.assertEqual(len(re.findall(rb"\x1b\[\d+;1H", full)) + 1, 23, "the frame is drawn whole")
        os.write(terminal.master, b"\x1b")
        self.assertEqual(terminal.finish(), 0)
        self.assert_restored(terminal)

    def test_later_frames_write_only_what_changed(self):
        terminal = Terminal(self, 30, 100)
        self.assertEqual(terminal.finish(), 0)
        frames = terminal.frames()
        self.assertEqual(len(frames), 110)
        rows = [len(re.findall(rb"\x1b\[\d+;1H", frame)) + 1 for frame in frames]
        self.assertEqual(rows[0], 23)
        # Rows of the pulsing accent colour are redrawn every frame, the others only on change.
        self.assertLessEqual(sorted(rows[1:])[len(rows) // 2], 15)
        self.assertLess(max(rows[1:]), 23)
        sizes = sorted(len(frame) for frame in frames[1:])
        self.assertLess(sizes[len(sizes) // 2], len(frames[0]) * 0.7)
        self.assertIn(b"L A U N C H E R", frames[0])

    def test_short_window_draws_the_compact_frame(self):
        for rows, frame_rows in ((23, 16), (24, 23)):
            with self.subTest(rows=rows):
                terminal = Terminal(self, rows, 90)
                self.assertTrue(terminal.read_until(first_frame_drawn))
                os.write(terminal.master, b"\x1b")
                self.assertEqual(terminal.finish(), 0)
                first = terminal.frames()[0]
                drawn = {int(n) for n in re.findall(rb"\x1b\[(\d+);1H", first)} | {1}
                self.assertEqual(drawn, set(range(1, frame_rows + 1)))
                self.assertEqual(b"MUVRA / CONSOLE LOADER" in first, frame_rows == 16)

    def test_preview_writes_no_escapes_even_in_a_terminal(self):
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        done = subprocess.run(PROGRAM.command(["--preview", "download"]), stdout=slave,
                              stderr=slave, stdin=slave, timeout=60)
        os.close(slave)
        output = b""
        while select.select([master], [], [], 0.2)[0]:
            try:
                output += os.read(master, 65536)
            except OSError:
                break
        self.assertEqual(done.returncode, 0)
        rows = output.replace(b"\r\n", b"\n").split(b"\n")
        self.assertEqual(rows[-1], b"")
        self.assertEqual([len(row) for row in rows[:-1]], [82] * 23)
        self.assertNotIn(b"\x1b", output)


class WineConsoleTest(unittest.TestCase):
    """The Windows demo through the Console API: virtual-terminal rows, _kbhit and _getch, and
    the console control handler."""

    def run_until_key(self, key):
        terminal = Terminal(self, 30, 100)
        self.assertTrue(terminal.read_until(lambda out: b"DOWNLOADING" in out, limit=60),
                        terminal.output[-400:])
        os.write(terminal.master, key)
        self.assertEqual(terminal.finish(), 0)
        return terminal.output

    def assert_drawn_and_restored(self, output):
        self.assertIn(b"\x1b]0;MUVRA | Console Loader\x07", output)
        for words in (b"DOWNLOADING", b"Launch", b"Exit", b"KB"):
            self.assertIn(words, output)
        cursor = re.findall(rb"\x1b\[\?25([lh])", output)
        self.assertEqual(cursor[0], b"l", "the cursor is hidden first")
        self.assertEqual(cursor[1:], [b"h"], "and shown again only at the end")
        # The demo ended before its last phase was ever drawn.
        self.assertNotIn(b"READY", output)

    def test_escape_ends_the_demo(self):
        # Wine's console host turns a lone ESC byte from a terminal into a key without a
        # character, which _getch drops; ESC twice reaches the program as one ESC (27).
        self.assert_drawn_and_restored(self.run_until_key(b"\x1b\x1b"))

    def test_ctrl_c_ends_the_demo_cleanly(self):
        # The terminal turns Ctrl+C into SIGINT, which Wine delivers as CTRL_C_EVENT.
        self.assert_drawn_and_restored(self.run_until_key(b"\x03"))


def load_tests(loader, tests, pattern):
    chosen = WineConsoleTest if PROGRAM.windows else DemoTerminalTest
    return loader.loadTestsFromTestCase(chosen)


if __name__ == "__main__":
    program.main(sys.modules[__name__])
