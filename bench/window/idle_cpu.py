#!/usr/bin/env python3
"""Idle CPU of the launcher window against a minimal GTK + WebKitGTK page, and its start-up time.

Usage: bench/window/idle_cpu.py LAUNCHER REFERENCE [seconds]
Both run under one Xvfb. CPU is the user + system time of each program and all its descendants
(WebKit's web and network processes) over the same number of seconds once its page has loaded.
Start-up is process start to the launcher's "Ready" log line, with a fresh and a reused profile.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

TICKS = os.sysconf("SC_CLK_TCK")


def descendants(root):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    parent = int(stat.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(parent, []).append(int(entry))
            except OSError:
                pass
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def cpu_seconds(root):
    total = 0
    for pid in descendants(root):
        try:
            with open(f"/proc/{pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return total / TICKS


def wait_until(condition, limit=60):
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            raise SystemExit("the program never became ready")
        time.sleep(0.02)


def ready_log(profiles):
    if not os.path.isdir(profiles):
        return False
    for name in os.listdir(profiles):
        if name.endswith("-startup.log"):
            with open(os.path.join(profiles, name)) as log:
                return log.read().count("stage=Ready")
    return False


def measure(command, environment, ready, seconds):
    process = subprocess.Popen(command, env=environment, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    try:
        wait_until(lambda: ready(process))
        time.sleep(1)  # let the first paint and WebKit's start-up work settle
        before = cpu_seconds(process.pid)
        time.sleep(seconds)
        return (cpu_seconds(process.pid) - before) / seconds
    finally:
        process.terminate()
        process.wait(timeout=30)


def startup_time(launcher, environment, profiles):
    started = time.monotonic()
    process = subprocess.Popen([launcher, "--web-preview"], env=environment,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    count = ready_log(profiles) or 0
    wait_until(lambda: (ready_log(profiles) or 0) > count)
    elapsed = time.monotonic() - started
    process.terminate()
    process.wait(timeout=30)
    return elapsed


def main():
    launcher, reference = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 10
    display = ":97"
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stderr=subprocess.DEVNULL)
    work = tempfile.mkdtemp(prefix="muvra-bench-window-")
    try:
        wait_until(lambda: os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"))
        profiles = os.path.join(work, "profiles")
        environment = dict(os.environ, DISPLAY=display, GTK_OVERLAY_SCROLLING="0",
                           MUVRA_WEBVIEW2_PROFILE_ROOT=profiles)
        cold = startup_time(launcher, environment, profiles)
        warm = startup_time(launcher, environment, profiles)
        shutil.rmtree(profiles)
        copy = os.path.join(work, os.path.basename(launcher))
        shutil.copy2(launcher, copy)
        ours = measure([copy], environment, lambda p: ready_log(profiles), seconds)
        theirs = measure([reference], environment, lambda p: p.stdout.readline().strip() == "READY",
                         seconds)
    finally:
        xvfb.terminate()
        shutil.rmtree(work, ignore_errors=True)
    print(f"start to Ready: {cold:.3f} s with a fresh profile, {warm:.3f} s with a used one")
    print(f"idle CPU over {seconds:g} s: launcher {ours * 100:.2f} % of one core, "
          f"reference page {theirs * 100:.2f} %")
    print(f"idle CPU ratio (launcher / reference): {ours / max(theirs, 1e-6):.2f} "
          f"(target <= 1.5, and under 2 % of one core)")


if __name__ == "__main__":
    main()
