#!/usr/bin/env python3
"""Onset punctuality: how late after hh:00:00 and hh:00:08 of the faked wall clock the hour's
sound starts, seen from outside as the open of the WAV file, for the program and for a plain
free-running 800 ms timer started at a random phase.

Every faked hour gets fresh processes started a few seconds before it: the program, and a
folder watch under the same whole-second libfaketime offset, so both read the same fractions
of the same clock."""

import argparse
import math
import os
import random
import subprocess
import time

import benchlib


def one_hour(subject, scratch, display, folder, hour_start, lead):
    """The lateness in ms of every hour-sound open around one faked hour, as (second, ms)
    pairs, and the number of opens of a wrong file."""
    offset = round(hour_start - lead - time.time())
    expected = "%02d.WAV" % (time.gmtime(hour_start).tm_hour % 12)
    found, wrong = [], 0
    with benchlib.Watch(folder, offset) as watch:
        env = scratch.environment(display, offset)
        if subject == "program":
            process = benchlib.start_program(folder, env)
        else:
            # The free timer's phase against the clock is whatever its start gives; the pause
            # makes it uniform rather than tied to this script's own timing.
            time.sleep(random.uniform(0, 0.8))
            process = subprocess.Popen([benchlib.free_timer_path(), folder], env=env)
        end = hour_start + 9.6
        while time.time() + offset < end:
            event = watch.next(end - (time.time() + offset))
            if event is None or event[0] != "open" or not event[1].endswith(".WAV"):
                continue
            if event[1] != expected:
                wrong += 1
                continue
            second = 0 if event[2] < hour_start + 8 else 8
            found.append((second, (event[2] - hour_start - second) * 1000))
        benchlib.stop(process, folder if subject == "program" else None)
    return found, wrong


def watch_delay(scratch, trials=20):
    """How long the watch itself takes to stamp an open, in ms: this script notes the clock,
    opens a file in a watched folder, and compares with the stamp the watch gives the open.
    The lateness figures include this delay."""
    folder = os.path.join(scratch.root, "calibration")
    os.mkdir(folder)
    path = os.path.join(folder, "00.WAV")
    open(path, "wb").close()
    delays = []
    with benchlib.Watch(folder) as watch:
        for _ in range(trials):
            time.sleep(random.uniform(0.05, 0.15))
            before = time.time()
            with open(path, "rb"):
                pass
            event = watch.wait_for("open", "00.WAV", 2)
            if event is not None:
                delays.append((event[2] - before) * 1000)
    return delays


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--hours", type=int, default=10, help="faked hours per subject")
    parser.add_argument("--lead", type=float, default=4.0,
                        help="seconds before the hour at which each process starts")
    args = parser.parse_args()
    benchlib.check_built()

    subjects = ("program", "free timer")
    results = {(s, second): [] for s in subjects for second in (0, 8)}
    faults = {s: 0 for s in subjects}
    first_hour = (math.floor(time.time() / 3600) + 1) * 3600
    with benchlib.Display() as display, benchlib.Scratch() as scratch:
        delays = watch_delay(scratch)
        folders = {s: scratch.program_folder() for s in subjects}
        for index in range(args.hours):
            hour_start = first_hour + 3600 * index
            # The two subjects take turns, so a busy spell on the machine falls on both.
            for subject in subjects:
                found, wrong = one_hour(subject, scratch, display, folders[subject],
                                        hour_start, args.lead)
                faults[subject] += wrong
                for second in (0, 8):
                    opens = [late for s, late in found if s == second]
                    faults[subject] += abs(len(opens) - 1)
                    results[(subject, second)] += opens[:1]
                print(f"  hour {index + 1}/{args.hours} {subject}: "
                      + ", ".join(f"{s:02d}s {late:+.1f} ms" for s, late in found),
                      flush=True)

    print()
    print(f"Onset lateness over {args.hours} faked hours (ms after the second begins)")
    rows = []
    for subject, second in results:
        values = results[(subject, second)]
        median, worst = benchlib.summary(values)
        rows.append([subject, f"hh:00:{second:02d}", len(values), benchlib.ms(median),
                     benchlib.ms(worst), faults[subject] if second == 0 else ""])
    median, worst = benchlib.summary(delays)
    rows.append(["watch delay", "(included)", len(delays), benchlib.ms(median), benchlib.ms(worst),
                 ""])
    benchlib.table(["subject", "chime", "n", "median", "max", "missed/extra/wrong"], rows)


if __name__ == "__main__":
    main()
