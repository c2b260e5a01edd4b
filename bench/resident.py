#!/usr/bin/env python3
"""Resident cost: memory, CPU time and voluntary context switches of a running copy, measured
over one real minute and scaled to an hour; nothing is accelerated.

Three copies run for a minute each, one after another: a copy's cost depends on what else wakes
when it does (a processor that another copy has just woken costs less to wake again), so copies
ticking side by side would blur each other's figures.
  idle        on the real clock, away from any hour: the cost of the ticks alone;
  idle+fake   under a libfaketime offset that keeps it away from any hour;
  chimes      under an offset that starts it at hh:59:55, so its minute holds both chimes.
The cost of an hour is the idle minute times sixty plus the extra of the chime minute over the
idle+fake one (both carry libfaketime, so its own cost cancels out).

Every thread of each copy is read from /proc every 200 ms and its last reading kept, so
threads that end inside the minute (the audio device's) still count. Memory is read twice, once
start-up is over (3 s) and after the minute, when the chime copy's chimes and their grace are
over: VmRSS, Pss (the copy's fair share of the pages it shares with other processes), threads,
and the libraries mapped of those a resident should not hold (toolkit, sound, font, GL, GLib).
The sound helper, a child process while the hour's sounds play, is read on its own."""

import argparse
import glob
import math
import os
import re
import statistics
import threading
import time

import benchlib

TICK_MS = 800
WINDOW = (3.0, 63.0)  # seconds after exec: start-up is over, and the chime copy is at hh:59:58
# Libraries that a resident holding no toolkit, sound, font or GL library would not map.
HEAVY = re.compile(r"lib(Qt6|SDL2|fluidsynth|pulse|pipewire|asound|fontconfig|freetype|GL|EGL|"
                   r"GLX|glib-2|gobject-2|gio-2|dbus-1)")


def memory(pid):
    """VmRSS and Pss in MiB, threads, and the heavy libraries mapped."""
    with open(f"/proc/{pid}/status") as f:
        fields = dict(line.split(":", 1) for line in f if ":" in line)
    with open(f"/proc/{pid}/smaps_rollup") as f:
        pss = next(int(line.split()[1]) for line in f if line.startswith("Pss:"))
    with open(f"/proc/{pid}/maps") as f:
        names = {os.path.basename(line.split()[-1]) for line in f if "/" in line}
    heavy = sorted({HEAVY.search(n).group(0) for n in names if HEAVY.search(n)})
    return (int(fields["VmRSS"].split()[0]) / 1024, pss / 1024, int(fields["Threads"]), heavy)


def children(pid):
    found = []
    for stat in glob.glob("/proc/[0-9]*/stat"):
        try:
            with open(stat) as f:
                if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                    found.append(int(stat.split("/")[2]))
        except (OSError, ValueError, IndexError):
            pass
    return found


class Sampler:
    """Reads every thread of a process: on-CPU time (schedstat, ns) and context switches."""

    def __init__(self, pid):
        self.pid = pid
        self.last = {}  # tid -> (cpu_ns, voluntary, involuntary)
        self.baseline = None
        self.rss = None
        self.start_memory = None
        self.end_memory = None
        self.helper_peak = 0.0
        self.stop_event = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.started = time.monotonic()
        self.thread.start()

    def _read_threads(self):
        for task in glob.glob(f"/proc/{self.pid}/task/*"):
            try:
                with open(task + "/schedstat") as f:
                    cpu_ns = int(f.read().split()[0])
                with open(task + "/status") as f:
                    fields = dict(line.split(":", 1) for line in f if ":" in line)
                self.last[int(os.path.basename(task))] = (
                    cpu_ns, int(fields["voluntary_ctxt_switches"]),
                    int(fields["nonvoluntary_ctxt_switches"]))
            except (OSError, KeyError, ValueError):
                pass

    def _memory(self):
        with open(f"/proc/{self.pid}/status") as f:
            fields = dict(line.split(":", 1) for line in f if ":" in line)
        return tuple(int(fields[k].split()[0]) / 1024 for k in ("VmRSS", "VmHWM"))

    def _run(self):
        while not self.stop_event.wait(0.2):
            self._read_threads()
            elapsed = time.monotonic() - self.started
            if self.baseline is None and elapsed >= WINDOW[0]:
                self.baseline = dict(self.last)
                self.start_memory = memory(self.pid)
            if self.rss is None and elapsed >= 60:
                self.rss = self._memory()
                self.end_memory = memory(self.pid)
            for child in children(self.pid):
                try:
                    self.helper_peak = max(self.helper_peak, memory(child)[0])
                except (OSError, StopIteration):
                    pass
            if elapsed >= WINDOW[1]:
                return

    def window(self):
        """CPU seconds, voluntary and involuntary switches within the window."""
        self.thread.join()
        totals = [0.0, 0, 0]
        for tid, values in self.last.items():
            base = self.baseline.get(tid, (0, 0, 0))
            for i in range(3):
                totals[i] += values[i] - base[i]
        totals[0] /= 1e9
        return totals


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.parse_args()
    benchlib.check_built(free_timer=False)

    names = ["idle", "idle+fake", "chimes"]
    with benchlib.Display() as display, benchlib.Scratch() as scratch:
        folders = {name: scratch.program_folder() for name in names}
        samplers = {}
        for name in names:
            # Offsets are worked out as each copy starts, a minute after the one before.
            now = time.time()
            this_hour = math.floor(now / 3600) * 3600
            offset = {"idle": None, "idle+fake": round(this_hour + 7200 + 1200 - now),
                      "chimes": round(this_hour + 7200 - 5 - now)}[name]
            # Only the real-clock copy is watched: its reads of Velmorin.ini are its ticks.
            watch = benchlib.Watch(folders[name]) if name == "idle" else None
            env = scratch.environment(display, offset)
            copy = benchlib.start_program(folders[name], env)
            samplers[name] = Sampler(copy.pid)
            samplers[name].thread.join()
            benchlib.stop(copy, folders[name])
            if watch is not None:
                events = watch.drain()
                watch.close()
        figures = {name: samplers[name].window() for name in names}
        rss = {name: samplers[name].rss for name in names}
        memories = {name: (samplers[name].start_memory, samplers[name].end_memory,
                           samplers[name].helper_peak) for name in names}

    minutes = (WINDOW[1] - WINDOW[0]) / 60
    idle = [value / minutes for value in figures["idle"]]
    extra = [c - f for c, f in zip(figures["chimes"], figures["idle+fake"])]
    print("Resident cost")
    rows = [[name, f"{rss[name][0]:.1f}", f"{rss[name][1]:.1f}",
             f"{figures[name][0] * 1000:.1f}", figures[name][1], figures[name][2]]
            for name in names]
    benchlib.table(["copy (one minute)", "RSS MiB", "peak MiB", "CPU ms", "vol. sw",
                    "invol. sw"], rows)
    print()
    rows = []
    for name, (start, end, helper) in memories.items():
        for when, reading in (("after start-up", start), ("after one minute", end)):
            rows.append([name, when, f"{reading[0]:.1f}", f"{reading[1]:.1f}", reading[2],
                         " ".join(reading[3]) or "none"])
        if helper:
            rows.append([name, "sound helper, peak", f"{helper:.1f}", "", "", ""])
    benchlib.table(["copy", "when", "VmRSS MiB", "Pss MiB", "threads", "heavy libraries mapped"],
                   rows)
    print()
    hour = [idle[0] * 60 + extra[0], idle[1] * 60 + extra[1], idle[2] * 60 + extra[2]]
    benchlib.table(["per hour", "CPU s", "vol. sw", "invol. sw"], [
        ["ticks only (idle x 60)", f"{idle[0] * 60:.2f}", round(idle[1] * 60),
         round(idle[2] * 60)],
        ["two chimes (extra)", f"{extra[0]:.2f}", extra[1], extra[2]],
        ["an hour with its chimes", f"{hour[0]:.2f}", round(hour[1]), round(hour[2])],
    ])

    reads = [e[2] for e in events if e[0] == "open" and e[1] == "Velmorin.ini"]
    # Only whole ticks inside the window count; the first read is the first tick.
    late = [(t * 1000) % TICK_MS for t in reads[1:]]
    if late:
        late.sort()
        print()
        print(f"Ticks of the idle copy: {len(late)} after its first, behind their 800 ms "
              f"marks: median {statistics.median(late):.1f} ms, "
              f"95% {late[int(0.95 * (len(late) - 1))]:.1f} ms, max {late[-1]:.1f} ms")


if __name__ == "__main__":
    main()
