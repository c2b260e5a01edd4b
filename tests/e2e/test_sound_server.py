# The hour's sound as users hear it: through a sound server, here a private PulseAudio server with
# a null sink whose monitor is recorded. The server comes up only after the program has started,
# as at a login, and restarts between the two chimes of the hour.

import math
import os
import time
import unittest

import harness
import sound_server  # from tests/support/, which harness puts on the path

LEAD = 10  # seconds of faked time before the hour
LATE = 0.5  # how late a chime may reach the sink on a busy machine; punctuality is in bench/


@unittest.skipUnless(sound_server.PulseServer.available(), "needs pulseaudio and its utilities")
class SoundServerTest(harness.SessionTest):
    def heard(self, recorder, at, what):
        onset = recorder.onset(at - 0.1)
        self.assertIsNotNone(onset, f"{what}: nothing reached the sink")
        self.assertLess(abs(onset - at), LATE, f"{what}: heard {onset - at:+.3f} s off")
        samples = recorder.samples(onset, onset + 0.3)
        candidates = [harness.tone_frequency(h) for h in range(12)]
        return harness.dominant_frequency(samples, 0, candidates)

    def test_both_chimes_reach_a_server_that_comes_late_and_restarts_between_them(self):
        folder = self.session.program_folder(tones=True, tone_seconds=1.0)
        hour = math.floor(time.time() / 86400) * 86400 + 15 * 3600
        offset = round(hour - LEAD - time.time())
        socket_env = {"PULSE_SERVER": "unix:" + os.path.join(
            self.session.root, "pulse-runtime", "pulse", "native")}
        process = self.session.start(folder, fake_start=hour - LEAD, env={
            "SDL_AUDIODRIVER": None, "SDL_DISKAUDIOFILE": None, **socket_env})
        # No server yet: the output cannot open, and the copy ticks on.
        time.sleep(3)
        self.assertIsNone(process.poll(), "the copy ended without a sound server")
        server = sound_server.PulseServer(self.session.root)
        self.addCleanup(server.stop)
        self.assertEqual(server.environment, socket_env)
        recorder = sound_server.Recorder(server)
        self.addCleanup(recorder.stop)

        top = hour - offset
        time.sleep(max(0, top + 3 - time.time()))
        self.assertEqual(self.heard(recorder, top, "hh:00:00"), harness.tone_frequency(3))
        server.restart()
        recorder.restart()
        time.sleep(max(0, top + 9.5 - time.time()))
        self.assertEqual(self.heard(recorder, top + 8, "hh:00:08 after a restart"),
                         harness.tone_frequency(3))
        self.assertIsNone(process.poll())
