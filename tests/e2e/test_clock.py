# The hour's sound captured from the audio device, while the wall clock jumps under it and
# while the files it plays are no files: the real program with its clock stepped back and forth
# by libfaketime during the run (as root with the kernel's notice of each step), and stopped and
# continued across a full hour; and the hours a busy desktop silences, and the volume asked in
# the settings file. Ticks are seen from outside: every tick opens the settings file to poll the
# quit request (and, in the seconds before a quarter, once more to read Quarters).

import math
import os
import signal
import subprocess
import sys
import time

import harness
from harness import rig

TICK = 0.8
# Room for a busy machine between the program's open and this process seeing it; less than the
# 0.4 s by which the steps below move the 800 ms grid, so a tick left on the old grid shows.
SLACK = 0.35
DAY = 86400
ALERT = 880.0  # the first note of the default sound
LEAD = 4  # seconds of faked time before the hour, enough for a slow start-up
REPLACEMENT = 1900  # Hz, no hour's tone


class ClockStepTest(harness.SessionTest):
    def start(self, folder, clock, **options):
        process = self.started(folder, env={**clock.env, **options.pop("env", {})}, **options)
        watch = rig.Watch(folder)
        self.addCleanup(watch.close)
        return process, watch

    def assert_ticks_resume(self, watches, clock, since, what, noticed=False):
        # The first tick after `since` comes within one period, and the ones after it lie on the
        # grid of the clock as it is now; after the kernel's clock-set notice, the first one too.
        time.sleep(max(0, since + 3 * TICK + SLACK - time.time()))
        for watch in watches:
            opens = [at for kind, name, at, _ in watch.drain()
                     if kind == "open" and name == "Velmorin.ini" and at > since]
            # Before a quarter a tick opens the file twice: the quit request, then Quarters.
            ticks = [at for i, at in enumerate(opens) if i == 0 or at - opens[i - 1] > 0.1]
            self.assertGreaterEqual(len(ticks), 3, f"{what}: ticks stopped")
            self.assertLess(ticks[0] - since, TICK + SLACK, f"{what}: first tick late")
            gaps = [b - a for a, b in zip(ticks, ticks[1:])]
            self.assertLess(max(gaps), TICK + SLACK, f"{what}: a gap between ticks")
            # How far after a point of the program's 800 ms grid each tick falls.
            # After the notice the first tick lies on the new grid too, unless it was already due
            # as the clock was stepped (a copy's tick can trail another's by a few ms).
            first = 0 if noticed and ticks[0] - since > 0.2 else 1
            phases = [(t + clock.offset) % TICK for t in ticks[first:]]
            self.assertTrue(all(p < SLACK for p in phases),
                            f"{what}: ticks off the grid by {[round(p, 3) for p in phases]} s")

    def assert_quit_obeyed(self, folder, process):
        written = time.monotonic()
        harness.write_quit(folder, 1)
        process.wait(timeout=5)
        self.assertLess(time.monotonic() - written, TICK + SLACK, "the quit request obeyed late")

    def test_sounds_that_are_no_files_and_steps_back_and_forth(self):
        # 03.WAV to 06.WAV are a pipe, a folder, a device and a text: each hour gives the
        # default sound, and the next hour's own is heard.
        folder = self.session.program_folder(tones=True, tone_seconds=0.5)
        for hour, kind in ((3, "fifo"), (4, "folder"), (5, "device"), (6, "text")):
            harness.make_hostile(os.path.join(folder, f"{hour:02d}.WAV"), kind)
        capture = os.path.join(self.session.root, "capture.raw")
        today = math.floor(time.time() / DAY) * DAY
        clock = harness.SteppedClock(self.session.root, round(today + 15 * 3600 - 5 - time.time()))
        process, watch = self.start(folder, clock, capture=capture,
                                    env={"VELMORIN_AUDIO_GRACE_MS": "300"})
        _, window_watch = self.start(self.session.program_folder("second"), clock)
        heard = []
        for hour in (15, 16, 17, 18, 19):
            # Each hour from two seconds before it until its first sound is over; the one at
            # hh:00:08 is stepped over. The sound helper may live on from one hour into the next,
            # writing one capture, or end and begin a new one.
            top = today + hour * 3600
            before = harness.file_size(capture) or 0
            clock.set(clock.offset + round(top - 2 - (time.time() + clock.offset)))
            self.assertTrue(harness.wait_for(lambda: os.path.exists(capture), 5),
                            f"nothing played at {hour}:00:00")
            # The tick in second 1 readies the next hour's chime.
            while time.time() + clock.offset < top + 2.2:
                time.sleep(0.05)
            samples = harness.read_capture(capture)
            samples = samples[before // 4:] if len(samples) * 4 >= before else samples
            spans = harness.sound_spans(samples)
            self.assertTrue(spans, f"silence at {hour}:00:00")
            candidates = [ALERT, harness.tone_frequency(hour % 12)]
            heard.append(harness.dominant_frequency(samples, spans[0][0], candidates, 0.1))
        self.assertEqual(heard, [ALERT] * 4 + [harness.tone_frequency(7)])

        # As root the kernel is told of each step too, as a real step tells it; the resident and
        # the window program (a second copy's) must then tick on the new grid from the first tick.
        # Each step comes 0.1 s after the window program's tick, in the middle of both copies'
        # waits, so that only the notice lays their next tick on the new grid 0.4 s away.
        for step, what in ((-18, "back 18 s"), (2 - DAY, "back a day"),
                           (DAY + 2, "forward a day again"), (2 - 30 * DAY, "back 30 days")):
            watch.drain()
            window_watch.drain()
            window_watch.wait_for("open", "Velmorin.ini", 2)
            time.sleep(0.1)
            since = clock.set(clock.offset + step)
            # libfaketime may read its file a moment late; the notice comes once it has.
            time.sleep(0.1)
            noticed = harness.notify_clock_set()
            self.assert_ticks_resume([watch, window_watch], clock, since, what, noticed)
            self.assertIsNone(process.poll())
        self.assert_quit_obeyed(folder, process)

    def test_the_hour_chimes_at_seconds_0_and_8_through_a_forward_step_and_a_stop(self):
        # The hour is to be spoken, on a machine without the speech synthesizer: the chimes are
        # as always, and one line says why nothing is spoken.
        folder = self.session.program_folder(tones=True)
        with open(harness.settings_path(folder), "w") as f:
            f.write("[Chime]\nSpeak=1\n")
        capture = os.path.join(self.session.root, "capture.raw")
        # 15 o'clock today, in UTC like the copy: the 12-hour dial plays 03.WAV.
        hour = math.floor(time.time() / DAY) * DAY + 15 * 3600
        clock = harness.SteppedClock(self.session.root, round(hour - LEAD - time.time()))
        process, watch = self.start(folder, clock, capture=capture,
                                    env={"PATH": self.session.root})
        hour_real = hour - clock.offset
        self.assertGreater(hour_real, time.time(), "start-up took longer than the lead")
        # The capture's size against the wall clock. SDL's disk driver writes each mixed buffer
        # as it is made, so the first moment the file reached a sample tells when that sample
        # left the mixer, however the driver's pace drifts.
        timeline = []

        def poll_until(moment):
            while time.time() < moment:
                timeline.append((time.time(), harness.file_size(capture) or 0))
                time.sleep(0.005)

        # The sound is read afresh at every chime: a file replaced between the two is heard, in
        # its own format (8-bit at 22,050 Hz, as old WAV files are). It lasts twelve seconds, so
        # the next chime, seven seconds on after the step, must cut it.
        poll_until(hour_real + 3)
        # The sound helper was started seconds before the hour, with its output open: silence
        # reached the file before the mark.
        self.assertTrue(any(size for at, size in timeline if at < hour_real - 0.3),
                        "the sound helper was not ready before the hour")
        harness.write_tone(os.path.join(self.session.root, "new.WAV"), REPLACEMENT, 12.0,
                           rate=22050, width=1)
        os.replace(os.path.join(self.session.root, "new.WAV"), os.path.join(folder, "03.WAV"))
        # From hh:00:10 forward to the next hour's second 3: the stepped-over chime is not played
        # late, the one at second 8 comes as usual (the device is still open, in its grace).
        poll_until(hour_real + 10)
        since = clock.set(clock.offset + 3600 - 7)
        poll_until(hour_real + 17.5)
        self.assert_ticks_resume([watch], clock, since, "forward over hh:00:00")

        samples = harness.read_capture(capture)
        spans = harness.sound_spans(samples)
        described = [(round(s / harness.RATE, 3), round(e / harness.RATE, 3)) for s, e in spans]
        # 03.WAV for its second; the replacement from second 8 until 04.WAV cuts it seven seconds
        # later and is heard for its last second, without a break.
        self.assertEqual(len(spans), 2, f"sounds in the capture (s): {described}")
        self.assertAlmostEqual((spans[0][1] - spans[0][0]) / harness.RATE, 1.0, delta=0.05,
                               msg=f"a sound was cut or restarted: {described}")
        starts = [spans[0][0], spans[1][0], spans[1][1] - harness.RATE]
        candidates = [harness.tone_frequency(h) for h in range(12)] + [REPLACEMENT]
        heard = [harness.dominant_frequency(samples, s, candidates) for s in starts]
        self.assertEqual(heard, [harness.tone_frequency(3), REPLACEMENT, harness.tone_frequency(4)])
        # Times are taken from the wall clock: the disk driver's pace drifts from real time by
        # up to about one percent on a busy machine, which would blur a gap read from the stream.
        at = [next(t for t, size in timeline if size >= 4 * s + 4) - hour_real for s in starts]
        # In their seconds; how soon within them is measured in bench/.
        self.assertEqual([math.floor(a) for a in at], [0, 8, 15], f"sounds {at} s after hh:00:00")

        # Stopped at hh:59:58 and continued after the next hour has begun.
        clock.set(clock.offset + round(hour + 7200 - 2 - (time.time() + clock.offset)))
        time.sleep(0.5)
        process.send_signal(signal.SIGSTOP)
        time.sleep(3)
        process.send_signal(signal.SIGCONT)
        self.assert_ticks_resume([watch], clock, time.time(), "stopped across hh:00:00")
        self.assert_quit_obeyed(folder, process)
        said = process.stderr.read().decode()
        self.assertEqual(said.count("\n"), 1, said)
        self.assertIn("espeak-ng is not installed", said)

    def test_a_busy_desktop_silences_its_hour_and_the_volume_is_the_one_asked(self):
        # Busy=1 and Volume=25: a full-screen active window, the notification server's
        # do-not-disturb (its Inhibited property, dunst's pause, Xfce's setting) and GNOME's
        # banners switched off each silence their hour; the hour after is heard at a quarter of
        # its level. Busy hours are left at hh:00:03 (the logic tests
        # show that hh:00:08 keeps the decision of hh:00:00).
        folder = self.session.program_folder(tones=True, tone_seconds=0.5)
        with open(harness.settings_path(folder), "w") as f:
            f.write("[Chime]\nBusy=1\nVolume=25\n")
        server = harness.NotificationServer(self.session.root, self.display)
        self.addCleanup(server.close)
        window = self.session.full_screen_window()
        gnome = {"XDG_CONFIG_HOME": self.session.root, "GSETTINGS_BACKEND": "keyfile"}
        capture = os.path.join(self.session.root, "capture.raw")
        today = math.floor(time.time() / DAY) * DAY
        clock = harness.SteppedClock(self.session.root, round(today + 15 * 3600 - 5 - time.time()))
        process, _ = self.start(folder, clock, capture=capture,
                                env={"DBUS_SESSION_BUS_ADDRESS": server.address, **gnome})
        for hour, busy in ((15, "window"), (16, "inhibited"), (17, "banners"), (18, "dunst"),
                           (19, "xfce"), (20, None)):
            harness.set_active_window(self.display, window if busy == "window" else None)
            if busy in ("dunst", "xfce"):
                server.run(busy)
            server.inhibit(busy in ("inhibited", "dunst", "xfce"))
            banners = "true" if busy != "banners" else "false"
            subprocess.run(["gsettings", "set", "org.gnome.desktop.notifications", "show-banners",
                            banners], env=harness.tool_environment(gnome), check=True)
            top = today + hour * 3600
            clock.set(clock.offset + round(top - 2 - (time.time() + clock.offset)))
            while time.time() + clock.offset < top + (3 if busy else 9.5):
                time.sleep(0.05)
            # The output opens before every hour; a busy hour's stays silent.
            heard = os.path.exists(capture) and harness.sound_spans(harness.read_capture(capture))
            self.assertEqual(bool(heard), not busy, f"{hour}:00, busy: {busy}")
        samples = harness.read_capture(capture)
        spans = harness.sound_spans(samples)
        self.assertEqual(len(spans), 2, "the free hour was not heard twice")
        for span in spans:
            self.assertAlmostEqual(harness.level(samples, span), harness.TONE_LEVEL / 4,
                                   delta=60)
        tones = [harness.tone_frequency(h) for h in range(12)]
        self.assertEqual(harness.dominant_frequency(samples, spans[0][0], tones), tones[8])
        self.assert_quit_obeyed(folder, process)
