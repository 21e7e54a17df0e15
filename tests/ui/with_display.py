#!/usr/bin/env python3
"""Runs a command on an Xvfb display of its own.

Usage: with_display.py [--screen WxHxD] [--fbdir DIR] -- COMMAND...
Xvfb chooses a free display number itself (-displayfd), so displays started at the same moment
never collide, as those of `xvfb-run -a` can when suites run side by side. The exit code is the
command's; the display ends with it.
"""
import argparse
import os
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--screen", default="1280x1024x24")  # as Debian's xvfb-run
    parser.add_argument("--fbdir")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    arguments = parser.parse_args()
    command = arguments.command[1:] if arguments.command[:1] == ["--"] else arguments.command
    server = ["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", arguments.screen]
    if arguments.fbdir:
        server += ["-fbdir", arguments.fbdir]
    xvfb = subprocess.Popen(server, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        display = xvfb.stdout.readline().strip()
        if not display:
            print("with_display: Xvfb did not start", file=sys.stderr, flush=True)
            return 1
        environment = dict(os.environ, DISPLAY=":" + display)
        environment.pop("XAUTHORITY", None)
        return subprocess.run(command, env=environment).returncode
    finally:
        xvfb.terminate()
        xvfb.wait()
        xvfb.stdout.close()


if __name__ == "__main__":
    sys.exit(main())
