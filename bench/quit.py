#!/usr/bin/env python3
"""Quit propagation and start-up: a fresh copy of the program is started, and once it ticks,
another process writes Quit=1 the way a second copy does (the whole file, replaced in one
rename) at a random moment; the figure is the time from that rename to the copy's exit.

Every trial starts the program afresh, so the same trials time the start-up, seen through a
watch on the program folder: from exec to the rename of Velmorin.ini that clears the request at
load, and from exec to the first tick (its first read of Velmorin.ini). The first tick waits
for the next 800 ms mark of the wall clock, so the last column says how late behind that mark
it came."""

import argparse
import os
import random
import subprocess
import time

import benchlib

TICK_MS = 800


def trial(scratch, display, folder, watch):
    # The previous copy ended on a tick; a random pause keeps this start off the tick grid.
    time.sleep(random.uniform(0, 0.8))
    watch.drain()
    started = time.monotonic()
    process = benchlib.start_program(folder, scratch.environment(display))
    try:
        ready = watch.wait_for("moved_to", "Velmorin.ini", 10)
        first_tick = ready and watch.wait_for("open", "Velmorin.ini", 3)
        if first_tick is None:
            return None
        time.sleep(random.uniform(0.2, 1.0))
        path = os.path.join(folder, "Velmorin.ini")
        with open(path + ".bench", "wb") as f:
            f.write(b"[Form]\r\nQuit=1\r\n")
        os.replace(path + ".bench", path)
        written = time.monotonic()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            return None
        ended = time.monotonic()
        return {
            "quit": (ended - written) * 1000,
            "ready": (ready[3] - started) * 1000,
            "first tick": (first_tick[3] - started) * 1000,
            "tick behind mark": (first_tick[2] * 1000) % TICK_MS,
        }
    finally:
        benchlib.stop(process)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--trials", type=int, default=20)
    args = parser.parse_args()
    benchlib.check_built(free_timer=False)

    results, failed = [], 0
    with benchlib.Display() as display, benchlib.Scratch() as scratch:
        folder = scratch.program_folder()
        with benchlib.Watch(folder) as watch:
            for _ in range(args.trials):
                result = trial(scratch, display, folder, watch)
                if result is None:
                    failed += 1
                else:
                    results.append(result)

    print(f"Quit propagation and start-up over {len(results)} trials "
          f"({failed} failed), ms")
    rows = []
    for name, label in (("quit", "Quit=1 rename -> exit"), ("ready", "exec -> load done"),
                        ("first tick", "exec -> first tick"),
                        ("tick behind mark", "first tick behind its mark")):
        values = [r[name] for r in results]
        median, worst = benchlib.summary(values)
        rows.append([label, benchlib.ms(min(values) if values else None), benchlib.ms(median),
                     benchlib.ms(worst)])
    benchlib.table(["measure", "min", "median", "max"], rows)


if __name__ == "__main__":
    main()
