#!/usr/bin/python3
"""The Windows program under wine: chime onset over faked hours, measured as onset.py measures
the Linux program, and quit propagation as quit.py measures it.

Needs the zip from `make windows` (build-win/, or VELMORIN_WIN_ZIP) and the wine test helpers
in tests/win32/. One prefix serves the whole run; every faked hour and every quit trial gets a
fresh copy of the program in it, so the figures include a cold start of the program but not of
wine itself."""

import argparse
import glob
import math
import os
import random
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
os.environ.setdefault("VELMORIN_WIN_ZIP", next(iter(glob.glob(
    os.path.join(HERE, "..", "build-win", "Velmorin-*-win64.zip"))), ""))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "win32"))

import winelib  # noqa: E402
from winelib import harness  # noqa: E402
import benchlib  # noqa: E402

ROUTINE = {"velmorin.exe", "Velmorin.ini", "."}


def one_hour(session, folder, hour_start, lead):
    offset = round(hour_start - lead - time.time())
    expected = "%02d.WAV" % (time.gmtime(hour_start).tm_hour % 12)
    found, wrong = [], 0
    with benchlib.Watch(folder, offset) as watch:
        copy = session.start(folder, offset=offset)
        for name, at in winelib.opens_until(watch, ROUTINE, hour_start + 9.6, offset):
            if name != expected:
                wrong += 1
                continue
            second = 0 if at < hour_start + 8 else 8
            found.append((second, (at - hour_start - second) * 1000))
    harness.write_quit(folder, 1)
    benchlib.ExitWatch(copy).wait(5)
    return found, wrong


def quit_trial(session, folder):
    copy = session.start(folder)
    if not harness.wait_for(lambda: harness.quit_value(folder) == "0", 20):
        return None
    time.sleep(random.uniform(1.0, 1.8))
    watch = benchlib.ExitWatch(copy)
    written = time.monotonic()
    harness.write_quit(folder, 1)
    ended = watch.wait(5)
    return None if ended is None else (ended - written) * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--hours", type=int, default=10)
    parser.add_argument("--lead", type=float, default=6.0,
                        help="seconds before the hour at which each copy starts")
    parser.add_argument("--trials", type=int, default=20, help="quit propagation trials")
    args = parser.parse_args()

    onsets = {0: [], 8: []}
    faults = 0
    quits, failed = [], 0
    with harness.Display() as display, benchlib.Scratch() as scratch:
        with winelib.WineSession(display, winelib.ready_prefix(scratch.root)) as session:
            folder = session.program_folder()
            first_hour = (math.floor(time.time() / 3600) + 1) * 3600
            for index in range(args.hours):
                found, wrong = one_hour(session, folder, first_hour + 3600 * index, args.lead)
                faults += wrong
                for second in (0, 8):
                    opens = [late for s, late in found if s == second]
                    faults += abs(len(opens) - 1)
                    onsets[second] += opens[:1]
                print(f"  hour {index + 1}/{args.hours}: "
                      + ", ".join(f"{s:02d}s {late:+.1f} ms" for s, late in found), flush=True)
            for _ in range(args.trials):
                result = quit_trial(session, folder)
                if result is None:
                    failed += 1
                else:
                    quits.append(result)

    print()
    print(f"Under wine: onset over {args.hours} faked hours and quit over {len(quits)} trials "
          f"({failed} failed), ms")
    rows = []
    for second in (0, 8):
        median, worst = benchlib.summary(onsets[second])
        rows.append([f"onset hh:00:{second:02d}", len(onsets[second]), benchlib.ms(median),
                     benchlib.ms(worst), faults if second == 0 else ""])
    median, worst = benchlib.summary(quits)
    rows.append(["Quit=1 rename -> exit", len(quits), benchlib.ms(median), benchlib.ms(worst), ""])
    benchlib.table(["measure", "n", "median", "max", "missed/extra/wrong"], rows)


if __name__ == "__main__":
    main()
