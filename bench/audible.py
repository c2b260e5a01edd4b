#!/usr/bin/env python3
"""Audible onset: how long after hh:00:00 and hh:00:08 the hour's sound, and after hh:15:00,
hh:30:00 and hh:45:00 a quarter's, reaches the sound server, as a user's speakers would get it;
and how long after the hh:00:08 sound has ended the spoken hour (Speak=en) begins. A private
sound server with a null sink stands in for the desktop's: PulseAudio, or PipeWire with its pulse
server and session manager (--server); its monitor is recorded with parec, each chunk stamped as
it arrives.

For each faked hour a fresh copy starts 10 s before the hour under libfaketime with a whole-second
offset, so its clock keeps the real clock's fractions and the hour begins at a known real instant.
The figure is the first loud sample's time minus that instant. Each quarter gets a fresh copy
too, started 10 s before it; the speech is the hour's copy's, kept until it has spoken. paplay of
the same sound, started at a known instant on the same server in the same run, gives the floor
that any client meets. The silence within each hour's tone is the underruns: what the sink
played as silence while the chime waited for its samples."""

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


QUARTER_TONES = {15: 2000, 30: 2200, 45: 2400}  # Hz, QUARTER1.WAV to QUARTER3.WAV
QUARTER_SECONDS = 1.0
SPEECH_WAIT = 4  # seconds after the hh:00:08 sound's end by which the words have begun


def write_tones(folder):
    for hour in range(12):
        benchlib.write_tone(os.path.join(folder, f"{hour:02d}.WAV"),
                            sound_server.tone_frequency(hour), TONE_SECONDS, sound_server.RATE)
    for minute, frequency in QUARTER_TONES.items():
        benchlib.write_tone(os.path.join(folder, f"QUARTER{minute // 15}.WAV"), frequency,
                            QUARTER_SECONDS, sound_server.RATE)


def start_copy(scratch, display, folder, server, start, driver):
    # Stopping a copy rewrote the settings file with the quit request alone.
    with open(os.path.join(folder, "Velmorin.ini"), "w") as f:
        f.write("[Chime]\nQuarters=1\nSpeak=en\n")
    offset = round(start - LEAD - time.time())
    env = scratch.environment(display, offset, {"SDL_AUDIODRIVER": driver,
                                                "SDL_DISKAUDIOFILE": None,
                                                **server.environment})
    env = {k: v for k, v in env.items() if v is not None}
    return benchlib.start_program(folder, env), offset


def quiet_milliseconds(samples, rate):
    # For each millisecond of the samples, whether it is silent.
    block = rate // 1000
    return [max(map(abs, samples[i:i + block])) < 1000 for i in range(0, len(samples), block)]


def onset(recorder, real, expected):
    # The chime's onset after `real`; a sound heard from the wrong file counts as missed. A sound
    # still going half a second before is the chime before, stretched by underruns: the onset is
    # the first loud sample after it has ended.
    tones = [sound_server.tone_frequency(hour) for hour in range(12)]
    tones += list(QUARTER_TONES.values())
    quiet = quiet_milliseconds(recorder.samples(real - 0.5, real), recorder.rate)
    heard = recorder.onset(real - 0.5 + next((i for i, q in enumerate(quiet) if q), len(quiet))
                           / 1000)
    samples = [] if heard is None else recorder.samples(heard, heard + 0.3)
    if samples and sound_server.dominant_frequency(samples, 0, tones,
                                                   rate=recorder.rate) != expected:
        return None
    return heard


def silence_within(recorder, heard):
    # How many ms of the hour's tone the sink got no samples for: underruns, each of which also
    # delays the rest of the chime.
    return sum(quiet_milliseconds(recorder.samples(heard, heard + TONE_SECONDS - 0.05),
                                  recorder.rate))


def one_hour(scratch, display, folder, server, recorder, hour_start, driver, gaps):
    process, offset = start_copy(scratch, display, folder, server, hour_start, driver)
    onsets = []
    expected = sound_server.tone_frequency(time.gmtime(hour_start).tm_hour % 12)
    for second in (0, 8):
        real = hour_start + second - offset
        time.sleep(max(0, real + 2.5 - time.time()))
        heard = onset(recorder, real, expected)
        onsets.append(None if heard is None else (heard - real) * 1000)
        if heard is not None:
            gaps.append(silence_within(recorder, heard))
    # The words follow the hh:00:08 tone's last sample.
    time.sleep(max(0, real + TONE_SECONDS + SPEECH_WAIT - time.time()))
    speech = None
    if heard is not None:
        end = heard + TONE_SECONDS
        words = recorder.onset(end + 0.002)
        speech = None if words is None else (words - end) * 1000
    benchlib.stop(process, folder)
    # The words are heard out after their copy ends; the next chime starts on a silent sink.
    time.sleep(3)
    return onsets, speech


def one_quarter(scratch, display, folder, server, recorder, quarter_start, driver):
    process, offset = start_copy(scratch, display, folder, server, quarter_start, driver)
    real = quarter_start - offset
    time.sleep(max(0, real + 2.5 - time.time()))
    heard = onset(recorder, real, QUARTER_TONES[time.gmtime(quarter_start).tm_min])
    benchlib.stop(process, folder)
    time.sleep(max(0, real + QUARTER_SECONDS + 1 - time.time()))
    return None if heard is None else (heard - real) * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--hours", type=int, default=10, help="faked hours")
    parser.add_argument("--server", choices=sorted(sound_server.SERVERS), default="pulseaudio",
                        help="the sound server that stands in for the desktop's")
    parser.add_argument("--driver",
                        help="SDL's audio driver (SDL_AUDIODRIVER), else the helper's choice")
    args = parser.parse_args()
    benchlib.check_built(free_timer=False)

    results = {"hh:00:00": [], "hh:00:08": [], "quarters": []}
    floor, speech, gaps, missed = [], [], [], 0
    first_hour = (math.floor(time.time() / 3600) + 1) * 3600
    with benchlib.Display() as display, benchlib.Scratch() as scratch:
        server = sound_server.SERVERS[args.server](scratch.root)
        recorder = sound_server.Recorder(server)
        folder = scratch.program_folder()
        write_tones(folder)
        try:
            for index in range(args.hours):
                hour_start = first_hour + 3600 * index
                gaps_before = len(gaps)
                onsets, words = one_hour(scratch, display, folder, server, recorder, hour_start,
                                         args.driver, gaps)
                # The quarters in turn: 15, 30 and 45 minutes past.
                quarter = one_quarter(scratch, display, folder, server, recorder,
                                      hour_start + 900 * (index % 3 + 1), args.driver)
                onsets.append(quarter)
                for name, late in zip(results, onsets):
                    if late is None:
                        missed += 1
                    else:
                        results[name].append(late)
                if words is not None:
                    speech.append(words)
                wave = os.path.join(folder, "%02d.WAV" % ((index + 1) % 12))
                paplay = sound_server.paplay_onset(server, recorder, wave)
                if paplay is not None:
                    floor.append(paplay * 1000)
                print(f"  hour {index + 1}/{args.hours}: "
                      + ", ".join("missed" if v is None else f"{v:+.1f} ms" for v in onsets)
                      + ("" if words is None else f", words {words:+.1f} ms")
                      + f", silence within {sum(gaps[gaps_before:]):.0f} ms"
                      + ("" if paplay is None else f", paplay {paplay * 1000:.1f} ms"),
                      flush=True)
        finally:
            recorder.stop()
            server.stop()

    print()
    print(f"Audible onset on {args.server} (SDL driver: {args.driver or 'the helper picks'}) over "
          f"{args.hours} faked hours (ms after the second begins)")
    rows = []
    for name, values in results.items():
        median, worst = benchlib.summary(values)
        rows.append([f"program {name}", len(values), benchlib.ms(median), benchlib.ms(worst)])
    median, worst = benchlib.summary(speech)
    rows.append(["words after hh:00:08 ends", len(speech), benchlib.ms(median),
                 benchlib.ms(worst)])
    median, worst = benchlib.summary(gaps)
    rows.append(["silence within an hour's tone", len(gaps), benchlib.ms(median),
                 benchlib.ms(worst)])
    median, worst = benchlib.summary(floor)
    rows.append(["paplay (floor)", len(floor), benchlib.ms(median), benchlib.ms(worst)])
    benchlib.table(["subject", "n", "median", "max"], rows)
    print(f"missed chimes, or chimes from the wrong file: {missed}; hours not spoken: "
          f"{args.hours - len(speech)}")


if __name__ == "__main__":
    main()
