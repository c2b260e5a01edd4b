"""The resident time signal as a user meets it: the real program under Xvfb, the running-copy
check (also against another user's locks), a start without a display, and the hour's sound
captured from the audio device while the clock is faked to just before a full hour."""

import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import harness

CLEAN = "[Form]\r\nQuit=0\r\n"
TICK = 0.8
# Two ticks: long enough for any copy to have read the settings file and shown its windows.
SETTLE = 2 * TICK + 0.1
LEAD = 4  # seconds of faked time before the hour, enough for a slow start-up
REPLACEMENT = 1900  # Hz, no hour's tone


# Another user's locks where a careless program would look for its own: a shared one under the
# old /tmp name, and an exclusive one in a cache folder of the squatter's making.
SQUATTER = r"""
import fcntl, os, sys
os.umask(0)
def hold(path, lock):
    os.makedirs(os.path.dirname(path), mode=0o777, exist_ok=True)
    fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o666)
    fcntl.flock(fd, lock)
    return fd
legacy = hold(sys.argv[1], fcntl.LOCK_SH)
hold(os.path.join(sys.argv[2], "velmorin", "velmorin.lock"), fcntl.LOCK_EX)
print("shared", flush=True)
sys.stdin.readline()
fcntl.flock(legacy, fcntl.LOCK_EX)
print("exclusive", flush=True)
sys.stdin.readline()
"""


class TimeSignalTest(unittest.TestCase):
    """One Xvfb server; a session of its own per test, so the running-copy check of one test
    never sees the copies of another."""

    @classmethod
    def setUpClass(cls):
        cls.display = harness.Display()
        cls.addClassCleanup(cls.display.close)

    def setUp(self):
        self.session = harness.Session(self.display)
        self.addCleanup(self.session.close)

    def started(self, folder, **options):
        """Starts a copy and waits until its start-up has cleared the quit request."""
        process = self.session.start(folder, **options)
        self.assertTrue(harness.wait_settings(folder, CLEAN), "the start-up wrote no Quit=0")
        self.assertIsNone(process.poll(), "the copy ended during start-up")
        return process

    def visible(self, process):
        return harness.windows_of(self.display, process)

    def test_without_a_display_it_exits_with_one_line(self):
        folder = self.session.program_folder()
        unused = next(f":{n}" for n in range(900, 1000)
                      if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        for display in (None, unused):
            with self.subTest(DISPLAY=display):
                process = self.session.start(folder, env={"DISPLAY": display})
                process.wait(timeout=5)
                error = process.stderr.read().decode(errors="replace")
                self.assertNotEqual(process.returncode, 0)
                self.assertEqual(len(error.splitlines()), 1, error)
                self.assertTrue(error.endswith("\n"), error)

    def test_the_check_sees_only_copies_still_running(self):
        a = self.started(self.session.program_folder("a"))
        b = self.started(self.session.program_folder("b"))
        self.assertTrue(harness.wait_for(lambda: self.visible(b), 10), "B did not see A")
        # A ends while B runs: C, started in yet another folder, must still see B.
        a.send_signal(signal.SIGTERM)
        a.wait(timeout=5)
        c = self.started(self.session.program_folder("c"))
        self.assertTrue(harness.wait_for(lambda: self.visible(c), 10), "C did not see B")
        # Copies killed outright leave no marker behind that would fool the next one.
        for copy in (b, c):
            copy.kill()
            copy.wait()
        d = self.started(self.session.program_folder("d"))
        time.sleep(SETTLE)
        self.assertIsNone(d.poll())
        self.assertEqual(self.visible(d), [], "D saw copies that had been killed")


    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                         "runs the squatter as another user: needs root and setpriv")
    def test_another_users_locks_neither_fake_a_copy_nor_stop_the_program(self):
        legacy = f"/tmp/velmorin-{os.getuid()}.lock"
        if os.path.lexists(legacy):
            self.skipTest(f"{legacy} exists already")
        self.addCleanup(lambda: os.path.lexists(legacy) and os.remove(legacy))
        squat = tempfile.mkdtemp(prefix="velmorin-squat-")
        os.chmod(squat, 0o777)
        self.addCleanup(shutil.rmtree, squat, True)
        squatter = subprocess.Popen(
            ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", sys.executable,
             "-c", SQUATTER, legacy, squat], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            text=True, preexec_fn=harness.die_with_test)
        self.addCleanup(squatter.communicate)
        self.addCleanup(squatter.kill)
        self.assertEqual(squatter.stdout.readline().strip(), "shared")

        def victim(name, env, lines):
            # Starts as the only copy, ticks, obeys the quit request, and says `lines` lines.
            folder = self.session.program_folder(name)
            process = self.started(folder, env={"XDG_RUNTIME_DIR": None, **env})
            time.sleep(SETTLE)
            self.assertEqual(self.visible(process), [], f"{name}: took the squatter for a copy")
            watch = harness.ExitWatch(process)
            harness.write_quit(folder, 1)
            self.assertIsNotNone(watch.wait(timeout=3), f"{name}: the quit was not obeyed")
            error = process.stderr.read().decode(errors="replace")
            self.assertEqual(len(error.splitlines()), lines, error)

        victim("shared", {}, 0)
        squatter.stdin.write("\n")
        squatter.stdin.flush()
        self.assertEqual(squatter.stdout.readline().strip(), "exclusive")
        victim("exclusive", {}, 0)
        # A cache folder another user writes to is no place for the lock: the program says so
        # once and runs as the only copy.
        victim("squatted", {"XDG_CACHE_HOME": squat}, 1)

    def test_the_hour_sound_starts_at_second_0_and_second_8(self):
        folder = self.session.program_folder(tones=True)
        capture = os.path.join(self.session.root, "capture.raw")
        # 15 o'clock today, in UTC like the copy: the 12-hour dial plays 03.WAV.
        hour = math.floor(time.time() / 86400) * 86400 + 15 * 3600
        copy = self.started(folder, fake_start=hour - LEAD, capture=capture)
        hour_real = hour - copy.fake_offset
        self.assertGreater(hour_real, time.time(), "start-up took longer than the lead")

        # The sound is read afresh at every chime: a file replaced between the two is heard.
        timeline = harness.CaptureTimeline(capture)
        replaced = False
        while time.time() < hour_real + 10:
            timeline.poll()
            if not replaced and time.time() > hour_real + 3:
                scratch = os.path.join(self.session.root, "new.WAV")
                harness.write_tone(scratch, REPLACEMENT, 1.0)
                os.replace(scratch, os.path.join(folder, "03.WAV"))
                replaced = True
            time.sleep(0.005)
        self.assertIsNone(copy.poll(), "the copy ended while chiming")
        copy.kill()

        samples = harness.read_capture(capture)
        spans = harness.sound_spans(samples)
        described = [(round(s / harness.RATE, 3), round(e / harness.RATE, 3)) for s, e in spans]
        self.assertEqual(len(spans), 2, f"sounds in the capture (s): {described}")
        for start, end in spans:
            self.assertAlmostEqual((end - start) / harness.RATE, 1.0, delta=0.05,
                                   msg=f"a sound was cut or restarted: {described}")
        candidates = [harness.tone_frequency(h) for h in range(12)] + [REPLACEMENT]
        heard = [harness.dominant_frequency(samples, s, candidates) for s, _ in spans]
        self.assertEqual(heard, [harness.tone_frequency(3), REPLACEMENT])

        # Times are taken from the wall clock: the disk driver's pace drifts from real time by
        # up to about one percent on a busy machine, which would blur a gap read from the stream.
        opened = timeline.appeared() - hour_real
        self.assertLess(abs(opened), 0.3, "the capture did not begin at hh:00:00")
        at = [timeline.written_by(s) - hour_real for s, _ in spans]
        self.assertTrue(0 <= at[0] <= 0.3, f"first sound at hh:00:{at[0]:06.3f}")
        self.assertTrue(8 <= at[1] <= 8.3, f"second sound at hh:00:{at[1]:06.3f}")
        self.assertAlmostEqual(at[1] - at[0], 8.0, delta=0.1)
        print(f"\n  measured: capture opened at hh:00:{opened:06.3f}; sounds out at "
              f"hh:00:{at[0]:06.3f} and hh:00:{at[1]:06.3f}", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
