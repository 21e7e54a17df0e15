#!/usr/bin/env python3
"""Idle CPU and resident memory of the launcher window against a minimal GTK + WebKitGTK page,
and its start-up time.

Usage: bench/window/idle_cpu.py LAUNCHER REFERENCE [seconds]
All run under one Xvfb, one after another but for the pair below that idles side by side, and
each figure is the median of its rounds. CPU is the user + system time of each program and all
its descendants (WebKit's web and network processes) over the same number of seconds once its
page has loaded, every program kept on one CPU; memory is their summed proportional set size at
the end of that time, with no other program running. The reference runs three ways: a bare page
on gtk_main; the same page polling a bridge call every 350 ms on gtk_main (--bridge), the least
the launcher's polling page can cost, which idles side by side with the launcher over the same
seconds, the two starting first in turn; and the bare page on a 10 ms loop (--polling).
Start-up is process start to the launcher's "Ready" log line, with a fresh and a reused profile,
against process start to the bare page's first load with fresh and with reused browser data; each
round measures several.
A program counts as ended once WebKit's processes have ended too, before the next one starts.
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


def stop(process):
    """Ends a program and waits for its WebKit processes too, which end after it: the next
    program must not start while they are still tearing down."""
    helpers = [pid for pid in descendants(process.pid) if pid != process.pid]
    process.terminate()
    process.wait(timeout=30)
    wait_until(lambda: not any(running(pid) for pid in helpers))


def running(pid):
    """Whether the process exists and has not ended (an ended one awaiting its parent counts as
    ended)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_until(condition, limit=60):
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            raise SystemExit("the program never became ready")
        time.sleep(0.02)


def on_one_cpu():
    """Keeps the calling process, and every process it starts, on one CPU. On a virtual machine
    the same wake-ups across CPUs cost the kernel several times more in some spells than in
    others, by where the scheduler happens to have put each thread; on one CPU an idle figure is
    the program's own work."""
    os.sched_setaffinity(0, {max(os.sched_getaffinity(0))})


def measure(commands, environment, readies, seconds, kept=0):
    """CPU shares at rest of programs running side by side on one CPU over the same seconds, so
    that a slow spell of the machine falls on all of them; and the resident KiB of the `kept`th
    once the others have ended."""
    processes = []
    try:
        for command, ready in zip(commands, readies):
            process = subprocess.Popen(command, env=environment, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, text=True, preexec_fn=on_one_cpu)
            processes.append(process)
            wait_until(lambda: ready(process))
        time.sleep(1)  # let the first paint and WebKit's start-up work settle
        before = [cpu_by_thread(process.pid) for process in processes]
        time.sleep(seconds)
        shares = [cpu_seconds_since(times, process.pid) / seconds
                  for times, process in zip(before, processes)]
        for process in processes[:kept] + processes[kept + 1:]:
            stop(process)
        return shares, resident_kib(processes[kept].pid)
    finally:
        for process in processes:
            if process.returncode is None:  # an ended one's number may belong to another now
                stop(process)


def ready_ticks(profiles):
    """The times of the "Ready" lines in the launcher's start-up log: its clock is the
    monotonic clock in milliseconds, as Python's time.monotonic."""
    if not os.path.isdir(profiles):
        return []
    for name in os.listdir(profiles):
        if name.endswith("-startup.log"):
            with open(os.path.join(profiles, name)) as log:
                return [int(line.split()[0]) / 1000 for line in log if "stage=Ready" in line]
    return []


def startup_time(launcher, environment, profiles):
    """Process start to the launcher's new "Ready" line, as the line's own time says (the log
    is only polled, so the time it is found at comes later)."""
    count = len(ready_ticks(profiles))
    started = time.monotonic()
    process = subprocess.Popen([launcher, "--web-preview"], env=environment,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_until(lambda: len(ready_ticks(profiles)) > count)
        return ready_ticks(profiles)[count] - started
    finally:
        stop(process)


def page_loaded(process):
    """Whether the reference program has said its page is loaded."""
    return process.stdout.readline().strip() == "READY"


def reference_startup_time(reference, environment):
    started = time.monotonic()
    process = subprocess.Popen([reference], env=environment, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    try:
        wait_until(lambda: page_loaded(process))
        return time.monotonic() - started
    finally:
        stop(process)


def median(values):
    ordered = sorted(values)
    return ordered[len(ordered) // 2]


def run(launcher, reference, seconds=10, rounds=3, starts=3):
    """Every figure of the window, as a dictionary: medians of `rounds` rounds, in each of which
    the programs take turns; every round measures `starts` start-ups of each kind."""
    display = ":97"
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stderr=subprocess.DEVNULL)
    work = tempfile.mkdtemp(prefix="muvra-bench-window-")
    figures = {}

    def record(name, value):
        figures.setdefault(name, []).append(value)
    try:
        wait_until(lambda: os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"))
        copy = os.path.join(work, os.path.basename(launcher))
        shutil.copy2(launcher, copy)
        profiles = os.path.join(work, "profiles")
        data = os.path.join(work, "data")
        environment = dict(os.environ, DISPLAY=display, GTK_OVERLAY_SCROLLING="0",
                           MUVRA_WEBVIEW2_PROFILE_ROOT=profiles, XDG_DATA_HOME=data)
        for round_number in range(rounds):
            for _ in range(starts):
                # Both programs' browser data start afresh: the launcher's profile and the bare
                # page's default data folder under XDG_DATA_HOME.
                for folder in (profiles, data):
                    shutil.rmtree(folder, ignore_errors=True)
                record("cold", startup_time(copy, environment, profiles))
                record("reference_load", reference_startup_time(reference, environment))
                record("warm", startup_time(copy, environment, profiles))
                record("reference_warm_load", reference_startup_time(reference, environment))
            (cpu,), memory = measure([[reference]], environment, [page_loaded], seconds)
            record("reference_cpu", cpu)
            record("reference_memory_kib", memory)
            earlier = len(ready_ticks(profiles))  # the start-up runs' lines are in the log too
            programs = [([copy], lambda p: len(ready_ticks(profiles)) > earlier),
                        ([reference, "--bridge"], page_loaded)]
            # Each starts first in every other round: the one started last has settled least.
            order = [0, 1] if round_number % 2 == 0 else [1, 0]
            shares, memory = measure([programs[i][0] for i in order], environment,
                                     [programs[i][1] for i in order], seconds, order.index(0))
            cpu, floor = shares[order.index(0)], shares[order.index(1)]
            record("cpu", cpu)
            record("bridge_reference_cpu", floor)
            record("idle_ratio", cpu / floor)
            record("memory_kib", memory)
            (cpu,), _ = measure([[reference, "--polling"]], environment, [page_loaded], seconds)
            record("polled_reference_cpu", cpu)
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)
    result = {name: median(values) for name, values in figures.items()}
    result.update(seconds=seconds, rounds=rounds)
    return result


def main():
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 10
    f = run(sys.argv[1], sys.argv[2], seconds)
    print(f"medians of {f['rounds']} rounds")
    print(f"start to Ready: {f['cold']:.3f} s with a fresh profile, {f['warm']:.3f} s with a used "
          f"one; the reference page loads in {f['reference_load']:.3f} s with fresh data, "
          f"{f['reference_warm_load']:.3f} s with used data")
    print(f"idle CPU over {seconds:g} s: launcher {f['cpu'] * 100:.2f} % of one core, "
          f"reference page {f['reference_cpu'] * 100:.2f} %")
    print(f"the reference page polling a bridge call every 350 ms: "
          f"{f['bridge_reference_cpu'] * 100:.2f} % of one core")
    print(f"the reference page under a 10 ms loop: "
          f"{f['polled_reference_cpu'] * 100:.2f} % of one core")
    print(f"idle CPU ratio (launcher / polling reference, side by side): "
          f"{f['idle_ratio']:.2f} (target <= 1.0)")
    print(f"resident memory at rest: launcher {f['memory_kib'] / 1024:.1f} MiB, reference page "
          f"{f['reference_memory_kib'] / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
