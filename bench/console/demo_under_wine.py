"""The console demo of MuvraLoader.exe under Wine in a pseudo-terminal, from process start to
exit, against the same program's --preview (start and exit alone) plus the demo's nominal 3.6 s,
measured in the same run."""
import fcntl
import os
import select
import struct
import subprocess
import termios
import time

NOMINAL = 3.6


def run_in_terminal(runner, program, option):
    """Seconds from start to exit of `program option` under `runner` in a 30 x 100 terminal."""
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 100, 0, 0))
    start = time.monotonic()
    process = subprocess.Popen([runner, program, option], stdin=slave, stdout=slave,
                               stderr=slave, start_new_session=True)
    os.close(slave)
    while True:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                os.read(master, 65536)
            except OSError:
                break
        elif process.poll() is not None:
            break
    process.wait()
    os.close(master)
    return time.monotonic() - start


def run(runner, program, rounds):
    """Best demo and best --preview of `rounds` alternating rounds."""
    run_in_terminal(runner, program, "--preview")  # Wine's server and services up
    demo = preview = float("inf")
    for _ in range(rounds):
        demo = min(demo, run_in_terminal(runner, program, "--demo"))
        preview = min(preview, run_in_terminal(runner, program, "--preview"))
    return {"demo": demo, "peer": preview + NOMINAL}
