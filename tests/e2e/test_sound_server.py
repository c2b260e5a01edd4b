# The hour's sound as users hear it: through a sound server, here a private PulseAudio server or
# a private PipeWire (with its pulse server and session manager), each with a null sink whose
# monitor is recorded. The server comes up only after the program has started, as at a login,
# and restarts two seconds before the hour and again between the two chimes of the hour. On
# PipeWire both of SDL's drivers for it are heard: the native pipewire driver, which the helper
# picks there and which reports no restart, and pulseaudio, which the user can choose and which
# SDL 2.26 would pick itself; the helper's stream runs at PipeWire's own rate, so that the server
# queues no more of it than one period. The quarters and the spoken hour reach the same sink, each
# in its place.

import math
import os
import re
import subprocess
import sys
import time
import unittest

import harness
import sound_server  # from rig/, which harness puts on the path

LEAD = 10  # seconds of faked time before the hour
LATE = 0.5  # how late a chime may reach the sink on a busy machine; punctuality is in bench/
QUARTER_TONES = {1: 2000, 2: 2200, 3: 2400}  # Hz, no hour's tone


class HeardTest(harness.SessionTest):
    def heard(self, recorder, at, what, onset=False):
        # The tone heard at `at` (the hours' and the quarters'), or with onset when it began.
        start = recorder.onset(at - 0.1)
        self.assertIsNotNone(start, f"{what}: nothing reached the sink")
        self.assertLess(abs(start - at), LATE, f"{what}: heard {start - at:+.3f} s off")
        samples = recorder.samples(start, start + 0.3)
        candidates = [harness.tone_frequency(h) for h in range(12)] + list(QUARTER_TONES.values())
        return start if onset else harness.dominant_frequency(samples, 0, candidates,
                                                            rate=recorder.rate)


@unittest.skipUnless(sound_server.PulseServer.available(), "needs pulseaudio and its utilities")
class PulseAudioTest(HeardTest):
    SERVER = sound_server.PulseServer
    # By SDL_AUDIODRIVER (None: the helper's own choice), the helper's stream: its rate, as the
    # files are, and whether it came through the pulse protocol.
    STREAM = {None: ("44100", True)}

    def test_both_chimes_reach_a_server_that_comes_late_and_restarts_twice(self):
        for driver in self.STREAM:
            with self.subTest(driver=driver or "the helper's choice"):
                self.chimes_through_restarts(driver)

    def chimes_through_restarts(self, driver):
        # A folder, a server and a copy for each driver; the copy ends before the next starts,
        # or that one would open its control window.
        name = driver or "default"
        root = os.path.join(self.session.root, name + "-server")
        os.mkdir(root)
        folder = self.session.program_folder(name, tones=True, tone_seconds=1.0)
        hour = math.floor(time.time() / 86400) * 86400 + 15 * 3600
        offset = round(hour - LEAD - time.time())
        socket_env = self.SERVER.environment_in(root)
        process = self.session.start(folder, fake_start=hour - LEAD, env={
            "SDL_AUDIODRIVER": driver, "SDL_DISKAUDIOFILE": None,
            **socket_env})
        # No server yet: the output cannot open, and the copy ticks on.
        time.sleep(3)
        self.assertIsNone(process.poll(), "the copy ended without a sound server")
        server = self.SERVER(root)
        self.addCleanup(server.stop)
        self.assertEqual(server.environment, socket_env)
        recorder = sound_server.Recorder(server)
        self.addCleanup(recorder.stop)

        top = hour - offset
        for restart, second in ((top - 2, 0), (top + 3, 8)):
            time.sleep(max(0, restart - time.time()))
            server.restart()
            recorder.restart()
            time.sleep(max(0, top + second + 1.5 - time.time()))
            self.assertEqual(
                self.heard(recorder, top + second, f"hh:00:{second:02d} after a restart"),
                harness.tone_frequency(3))
            self.assertEqual(self.stream(server), self.STREAM[driver])
        self.assertIsNone(process.poll())
        harness.stop(process)
        recorder.stop()
        server.stop()

    @staticmethod
    def stream(server):
        # The sound helper's stream as the server lists it: its rate, and whether it came
        # through the pulse protocol, whose buffer attributes PipeWire's pulse server lists.
        listing = subprocess.run(["pactl", "list", "sink-inputs"],
                                 env={**os.environ, **server.environment}, capture_output=True,
                                 text=True, timeout=10).stdout
        helper = "".join(block for block in listing.split("\n\n")
                         if 'application.name = "Velmorin"' in block)
        found = re.search(r"\d+ch (\d+)Hz", helper)
        pulse = "pulse.attr.tlength" in helper or "Driver: protocol-native.c" in helper
        return found and found.group(1), pulse


@unittest.skipUnless(sound_server.PipeWireServer.available(),
                     "needs pipewire, pipewire-pulse, wireplumber and pulseaudio-utils")
class PipeWireTest(PulseAudioTest):
    SERVER = sound_server.PipeWireServer
    STREAM = {None: ("48000", False), "pulseaudio": ("48000", True)}


@unittest.skipUnless(sound_server.PulseServer.available(), "needs pulseaudio and its utilities")
class QuartersAndSpeechTest(HeardTest):
    def test_quarters_and_the_spoken_hour_reach_the_sink_in_their_places(self):
        # Quarters at 15:15, 15:30 and 15:45, each its own file and only at second 0. At 16:00
        # the hour is spoken in Japanese (the user's language) right after the hh:00:08 chime;
        # 17:00 is quiet, so neither chime nor words; at 18:00 Speak=0 leaves the chime alone.
        folder = self.session.program_folder(tones=True, tone_seconds=1.0)
        for quarter, frequency in QUARTER_TONES.items():
            harness.write_tone(os.path.join(folder, f"QUARTER{quarter}.WAV"), frequency, 0.5)
        with open(harness.settings_path(folder), "w") as f:
            f.write("[Chime]\nQuarters=1\nSpeak=1\nQuiet=17\n")
        server = harness.SoundServer(self.session.root)
        self.addCleanup(server.close)
        today = math.floor(time.time() / 86400) * 86400
        clock = harness.SteppedClock(self.session.root, round(today + 15 * 3600 + 840 -
                                                                time.time()))
        process = self.started(folder, env={**clock.env, **server.environment,
                                            "SDL_AUDIODRIVER": None, "SDL_DISKAUDIOFILE": None,
                                            "LANG": "ja_JP.UTF-8"})

        def at(hour, minute, until):
            # The real time of hour:minute:00, the faked clock set to reach it in 3 s.
            moment = today + hour * 3600 + minute * 60
            clock.set(clock.offset + round(moment - 3 - (time.time() + clock.offset)))
            top = moment - clock.offset
            time.sleep(max(0, top + until - time.time()))
            return top

        for quarter, frequency in QUARTER_TONES.items():
            # The tick in second 1 releases the latch for the next quarter.
            top = at(15, 15 * quarter, 9 if quarter == 3 else 2.5)
            self.assertEqual(self.heard(server.recorder, top, f"quarter {quarter}"), frequency)
        self.assertIsNone(server.recorder.onset(top + 1), "a quarter played again")
        for hour, spoken in ((16, True), (17, None), (18, False)):
            if hour == 18:
                with open(harness.settings_path(folder), "w") as f:
                    f.write("[Chime]\nQuarters=1\nSpeak=0\n")
            top = at(hour, 0, 11)
            if spoken is None:
                self.assertIsNone(server.recorder.onset(top - 0.5), "a quiet hour was heard")
                continue
            # The chime's tone lasts a second; the words follow its last sample at once and last
            # longer. Positions in the stream are exact where the recorder's stamps are not.
            onset = self.heard(server.recorder, top + 8, f"{hour}:00:08", onset=True)
            stream = server.recorder.samples(onset - 0.05, top + 11)
            # Where the second of tone has all been heard, a millisecond at a time: a server that
            # ran short of samples for a moment on a busy machine played silence within it, and
            # ended it that much later.
            block = harness.RATE // 1000
            end, played = next(i for i, x in enumerate(stream) if abs(x) > 1000), 0
            while played < harness.RATE and end < len(stream):
                played += block if max(map(abs, stream[end:end + block])) > 1000 else 0
                end += block
            # The resamplers on the way smear the tone's end over a few milliseconds.
            end += harness.RATE // 100
            words = harness.sound_spans(stream[end:], threshold=1000, gap=0.3)
            if not spoken:
                self.assertEqual(words, [], f"{hour}:00 spoken with Speak=0")
                continue
            self.assertTrue(words, "the hour was not spoken")
            start = words[0][0] / harness.RATE + 0.01
            self.assertLess(start, 0.1, f"the words began {start:.3f} s after the chime's end")
            self.assertGreater((words[-1][1] - words[0][0]) / harness.RATE, 0.6, words)
            print(f"speech began {1000 * start:.1f} ms after the chime's end", file=sys.stderr)
        self.assertIsNone(process.poll())
