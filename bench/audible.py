#!/usr/bin/env python3
"""Audible onset: how long after hh:00:00 and hh:00:08 the hour's sound reaches the sound server,
as a user's speakers would get it. A private sound server with a null sink stands in for the
desktop's: PulseAudio, or PipeWire with its pulse server and session manager (--server); its monitor
is recorded with parec, each chunk stamped as it arrives.

For each faked hour a fresh copy starts 10 s before the hour under libfaketime with a whole-second
offset, so its clock keeps the real clock's fractions and the hour begins at a known real instant.
The figure is the first loud sample's time minus that instant. paplay of the same sound, started
at a known instant on the same server in the same run, gives the floor that any client meets."""

import argparse
import math
import os
import time

import benchlib
import sound_server

LEAD = 10
# As long as the longest hour sound the program ships (a file's length is read and decoded at
# the tick), and still short of eight seconds, so that the sink is silent before hh:00:08 and
# its onset can be told from the end of the first.
TONE_SECONDS = 7.0


def write_tones(folder):
    for hour in range(12):
        benchlib.write_tone(os.path.join(folder, f"{hour:02d}.WAV"),
                            sound_server.tone_frequency(hour), TONE_SECONDS, sound_server.RATE)


def one_hour(scratch, display, folder, server, recorder, hour_start, driver):
    offset = round(hour_start - LEAD - time.time())
    env = scratch.environment(display, offset, {"SDL_AUDIODRIVER": driver,
                                                "SDL_DISKAUDIOFILE": None,
                                                **server.environment})
    env = {k: v for k, v in env.items() if v is not None}
    process = benchlib.start_program(folder, env)
    onsets = []
    tones = [sound_server.tone_frequency(hour) for hour in range(12)]
    expected = tones[time.gmtime(hour_start).tm_hour % 12]
    for second in (0, 8):
        real = hour_start + second - offset
        time.sleep(max(0, real + 2.5 - time.time()))
        heard = recorder.onset(real - 0.5)
        # A sound heard from the wrong file counts as a missed chime.
        samples = [] if heard is None else recorder.samples(heard, heard + 0.3)
        if samples and sound_server.dominant_frequency(samples, 0, tones) != expected:
            heard = None
        onsets.append(None if heard is None else (heard - real) * 1000)
    benchlib.stop(process, folder)
    # The last sound is heard out after its copy ends; the next hour starts on a silent sink.
    time.sleep(max(0, real + TONE_SECONDS + 1 - time.time()))
    return onsets


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--hours", type=int, default=10, help="faked hours")
    parser.add_argument("--server", choices=sorted(sound_server.SERVERS), default="pulseaudio",
                        help="the sound server that stands in for the desktop's")
    parser.add_argument("--driver", help="SDL's audio driver (SDL_AUDIODRIVER), else SDL's choice")
    args = parser.parse_args()
    benchlib.check_built(free_timer=False)

    results = {0: [], 8: []}
    floor, missed = [], 0
    first_hour = (math.floor(time.time() / 3600) + 1) * 3600
    with benchlib.Display() as display, benchlib.Scratch() as scratch:
        server = sound_server.SERVERS[args.server](scratch.root)
        recorder = sound_server.Recorder(server)
        folder = scratch.program_folder()
        write_tones(folder)
        try:
            for index in range(args.hours):
                onsets = one_hour(scratch, display, folder, server, recorder,
                                  first_hour + 3600 * index, args.driver)
                for second, late in zip((0, 8), onsets):
                    if late is None:
                        missed += 1
                    else:
                        results[second].append(late)
                wave = os.path.join(folder, "%02d.WAV" % ((index + 1) % 12))
                paplay = sound_server.paplay_onset(server, recorder, wave)
                if paplay is not None:
                    floor.append(paplay * 1000)
                print(f"  hour {index + 1}/{args.hours}: "
                      + ", ".join("missed" if v is None else f"{v:+.1f} ms" for v in onsets)
                      + ("" if paplay is None else f", paplay {paplay * 1000:.1f} ms"),
                      flush=True)
        finally:
            recorder.stop()
            server.stop()

    print()
    print(f"Audible onset on {args.server} (SDL driver: {args.driver or 'SDL picks'}) over "
          f"{args.hours} faked hours (ms after the second begins)")
    rows = []
    for second, values in results.items():
        median, worst = benchlib.summary(values)
        rows.append([f"program hh:00:{second:02d}", len(values), benchlib.ms(median),
                     benchlib.ms(worst)])
    median, worst = benchlib.summary(floor)
    rows.append(["paplay (floor)", len(floor), benchlib.ms(median), benchlib.ms(worst)])
    benchlib.table(["subject", "n", "median", "max"], rows)
    print(f"missed chimes, or chimes from the wrong file: {missed}")


if __name__ == "__main__":
    main()
