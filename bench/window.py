#!/usr/bin/env python3
"""Control window: how long from the exec of a second copy to its control window mapped on the
display, with a first copy running. A watch on the root window (map_watch, built beside the
benchmarks) stamps each map with the monotonic clock, which this script shares."""

import argparse
import os
import random
import signal
import subprocess
import time

import benchlib
import resident


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--trials", type=int, default=20)
    args = parser.parse_args()
    benchlib.check_built(free_timer=False)
    watcher_path = os.path.join(benchlib.build_dir(), "bench", "map_watch")

    times = []
    with benchlib.Display() as display, benchlib.Scratch() as scratch:
        folder = scratch.program_folder()
        env = scratch.environment(display)
        first = benchlib.start_program(folder, env)
        time.sleep(2)
        watch = subprocess.Popen([watcher_path], env=env, stdout=subprocess.PIPE, text=True)
        assert watch.stdout.readline().strip() == "ready"
        try:
            for _ in range(args.trials):
                time.sleep(random.uniform(0.3, 0.6))
                started = time.monotonic()
                second = benchlib.start_program(folder, env)
                mapped = float(watch.stdout.readline())
                times.append((mapped - started) * 1000)
                # Closing the window any other way than Alarm Quit leaves the copy running.
                second.send_signal(signal.SIGTERM)
                second.wait()
            # A second copy whose control window is closed goes on running: its memory with the
            # window, and 3 s after the window has gone.
            second = benchlib.start_program(folder, env)
            shown = []
            while not shown:
                time.sleep(0.2)
                shown = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                                        str(second.pid)], env=env, capture_output=True,
                                       text=True).stdout.split()
            time.sleep(1)
            with_window = resident.memory(second.pid)
            benchlib.close_window(display, shown[0])
            deadline = time.monotonic() + 25
            while not benchlib.runs_lean(second.pid) and time.monotonic() < deadline:
                time.sleep(0.2)
            time.sleep(3)
            closed = resident.memory(second.pid)
            benchlib.stop(second)
        finally:
            watch.kill()
            benchlib.stop(first, folder)

    times.sort()
    print(f"Control window, exec to mapped, {len(times)} trials: min {times[0]:.1f} ms, "
          f"median {times[len(times) // 2]:.1f} ms, max {times[-1]:.1f} ms")
    for when, (rss, pss, threads, heavy) in (("with its control window", with_window),
                                             ("3 s after it was closed", closed)):
        print(f"Second copy {when}: VmRSS {rss:.1f} MiB, Pss {pss:.1f} MiB, {threads} threads, "
              f"heavy libraries: {', '.join(heavy) or 'none'}")


if __name__ == "__main__":
    main()
