# The hour's sound as users hear it: through a sound server, here a private PulseAudio server or
# a private PipeWire (with its pulse server and session manager), each with a null sink whose
# monitor is recorded. The server comes up only after the program has started, as at a login,
# and restarts two seconds before the hour and again between the two chimes of the hour. On
# PipeWire both of SDL's drivers for it are heard: pulseaudio (SDL 2.26's choice) and the native
# pipewire driver (SDL 2.30's), which reports no restart.

import math
import os
import time
import unittest

import harness
import sound_server  # from tests/support/, which harness puts on the path

LEAD = 10  # seconds of faked time before the hour
LATE = 0.5  # how late a chime may reach the sink on a busy machine; punctuality is in bench/


@unittest.skipUnless(sound_server.PulseServer.available(), "needs pulseaudio and its utilities")
class PulseAudioTest(harness.SessionTest):
    SERVER = sound_server.PulseServer
    DRIVERS = [None]  # SDL's own choice

    def heard(self, recorder, at, what):
        onset = recorder.onset(at - 0.1)
        self.assertIsNotNone(onset, f"{what}: nothing reached the sink")
        self.assertLess(abs(onset - at), LATE, f"{what}: heard {onset - at:+.3f} s off")
        samples = recorder.samples(onset, onset + 0.3)
        candidates = [harness.tone_frequency(h) for h in range(12)]
        return harness.dominant_frequency(samples, 0, candidates)

    def test_both_chimes_reach_a_server_that_comes_late_and_restarts_twice(self):
        for driver in self.DRIVERS:
            with self.subTest(driver=driver or "SDL's choice"):
                self.chimes_through_restarts(driver or "default")

    def chimes_through_restarts(self, driver):
        # A folder, a server and a copy for each driver; the copy ends before the next starts,
        # or that one would open its control window.
        root = os.path.join(self.session.root, driver + "-server")
        os.mkdir(root)
        folder = self.session.program_folder(driver, tones=True, tone_seconds=1.0)
        hour = math.floor(time.time() / 86400) * 86400 + 15 * 3600
        offset = round(hour - LEAD - time.time())
        socket_env = self.SERVER.environment_in(root)
        process = self.session.start(folder, fake_start=hour - LEAD, env={
            "SDL_AUDIODRIVER": None if driver == "default" else driver, "SDL_DISKAUDIOFILE": None,
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
            self.assertEqual(self.heard(recorder, top + second, f"hh:00:{second:02d} after a restart"),
                             harness.tone_frequency(3))
        self.assertIsNone(process.poll())
        harness.stop(process)
        recorder.stop()
        server.stop()


@unittest.skipUnless(sound_server.PipeWireServer.available(),
                     "needs pipewire, pipewire-pulse, wireplumber and pulseaudio-utils")
class PipeWireTest(PulseAudioTest):
    SERVER = sound_server.PipeWireServer
    DRIVERS = [None, "pipewire"]

