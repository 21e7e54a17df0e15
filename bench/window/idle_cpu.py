#!/usr/bin/env python3
"""Idle CPU and resident memory of the launcher window against a minimal GTK + WebKitGTK page,
and its start-up time.

Usage: bench/window/idle_cpu.py LAUNCHER REFERENCE [seconds]
Both run under one Xvfb. CPU is the user + system time of each program and all its descendants
(WebKit's web and network processes) over the same number of seconds once its page has loaded;
memory is their summed proportional set size at the end of that time. The reference is measured
twice: on gtk_main, and on the launcher's polling loop (--polling), which shows what that loop
costs. Start-up is process start to the launcher's "Ready" log line, with a fresh and a reused
profile, against the reference's first load.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

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


def cpu_by_thread(root):
    """Nanoseconds on a CPU, as the scheduler counts them, of every thread of every process."""
    times = {}
    for pid in descendants(root):
        try:
            for task in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                    times[(pid, task)] = int(stat.read().split()[0])
        except OSError:
            pass
    return times


def cpu_seconds_since(before, root):
    """CPU seconds spent since `before` by the threads alive now; one that exited meanwhile is
    left out rather than making the sum go backwards."""
    now = cpu_by_thread(root)
    return sum(spent - before.get(thread, 0) for thread, spent in now.items()) / 1e9


def resident_kib(root):
    """Proportional set size of all the processes: shared pages are counted once in all."""
    total = 0
    for pid in descendants(root):
        try:
            with open(f"/proc/{pid}/smaps_rollup") as rollup:
                for line in rollup:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


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
    """Seconds to ready, CPU share at rest and resident KiB at rest of one program."""
    started = time.monotonic()
    process = subprocess.Popen(command, env=environment, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    try:
        wait_until(lambda: ready(process))
        loaded = time.monotonic() - started
        time.sleep(1)  # let the first paint and WebKit's start-up work settle
        before = cpu_by_thread(process.pid)
        time.sleep(seconds)
        share = cpu_seconds_since(before, process.pid) / seconds
        return loaded, share, resident_kib(process.pid)
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


def run(launcher, reference, seconds=10):
    """Every figure of the window, as a dictionary."""
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
        _, ours, our_memory = measure([copy], environment, lambda p: ready_log(profiles), seconds)
        page_loaded = lambda p: p.stdout.readline().strip() == "READY"
        loaded, theirs, their_memory = measure([reference], environment, page_loaded, seconds)
        _, polled, _ = measure([reference, "--polling"], environment, page_loaded, seconds)
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)
    return {"seconds": seconds, "cold": cold, "warm": warm, "reference_load": loaded,
            "cpu": ours, "reference_cpu": theirs, "polled_reference_cpu": polled,
            "memory_kib": our_memory, "reference_memory_kib": their_memory}


def main():
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 10
    f = run(sys.argv[1], sys.argv[2], seconds)
    print(f"start to Ready: {f['cold']:.3f} s with a fresh profile, {f['warm']:.3f} s with a used "
          f"one; the reference page loads in {f['reference_load']:.3f} s")
    print(f"idle CPU over {seconds:g} s: launcher {f['cpu'] * 100:.2f} % of one core, "
          f"reference page {f['reference_cpu'] * 100:.2f} %")
    print(f"the reference page under the launcher's 10 ms loop: "
          f"{f['polled_reference_cpu'] * 100:.2f} % of one core")
    print(f"idle CPU ratio (launcher / reference): {f['cpu'] / max(f['reference_cpu'], 1e-6):.2f} "
          f"(target <= 1.5, and under 2 % of one core)")
    print(f"resident memory at rest: launcher {f['memory_kib'] / 1024:.1f} MiB, reference page "
          f"{f['reference_memory_kib'] / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
