"""Hostile files and users: a pipe, a folder and a device where the program expects a sound or
its tune, and another user squatting the running-copy lock. The program must go on ticking,
chiming and obeying the quit request whatever it meets."""

import math
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import test_about  # noqa: E402
from test_clock import DAY, SteppedClock  # noqa: E402

CLEAN = "[Form]\r\nQuit=0\r\n"
ALERT = 880.0  # the first note of the default sound
SETTLE = 2 * 0.8 + 0.1


def make_hostile(path, kind):
    """Puts a pipe, a folder or a character device (/dev/zero) under the name."""
    if os.path.lexists(path):
        if os.path.isdir(path) and not os.path.islink(path):
            os.rmdir(path)
        else:
            os.remove(path)
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "folder":
        os.mkdir(path)
    else:
        try:
            os.mknod(path, stat.S_IFCHR | 0o644, os.makedev(1, 5))
        except PermissionError:
            os.symlink("/dev/zero", path)


class HostileFilesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = harness.Display()
        cls.addClassCleanup(cls.display.close)

    def setUp(self):
        self.session = harness.Session(self.display)
        self.addCleanup(self.session.close)

    def test_a_sound_that_is_no_file_gives_the_default_and_later_hours_chime(self):
        folder = self.session.program_folder(tones=True, tone_seconds=0.5)
        for hour, kind in ((3, "fifo"), (4, "folder"), (5, "device")):
            make_hostile(os.path.join(folder, f"{hour:02d}.WAV"), kind)
        capture = os.path.join(self.session.root, "capture.raw")
        today = math.floor(time.time() / DAY) * DAY
        clock = SteppedClock(self.session, round(today + 15 * 3600 - 5 - time.time()))
        process = self.session.start(folder, capture=capture,
                                     env={**clock.env, "VELMORIN_AUDIO_GRACE_MS": "300"})
        self.assertTrue(harness.wait_settings(folder, CLEAN, timeout=10))

        heard = []
        for hour in (15, 16, 17, 19):
            # Each hour from two seconds before it until its first sound is over; the one at
            # hh:00:08 is stepped over.
            top = today + hour * 3600
            clock.set(clock.offset + round(top - 2 - (time.time() + clock.offset)))
            appeared = harness.wait_for(lambda: os.path.exists(capture), 5)
            self.assertTrue(appeared, f"nothing played at {hour}:00:00")
            harness.wait_until_still(capture, quiet=0.6, timeout=10)
            # The tick in second 1 readies the next hour's chime.
            while time.time() + clock.offset < top + 2.2:
                time.sleep(0.05)
            samples = harness.read_capture(capture)
            os.remove(capture)
            spans = harness.sound_spans(samples)
            self.assertTrue(spans, f"silence at {hour}:00:00")
            candidates = [ALERT, harness.tone_frequency(hour % 12)]
            heard.append(harness.dominant_frequency(samples, spans[0][0], candidates, 0.1))
        self.assertEqual(heard, [ALERT, ALERT, ALERT, harness.tone_frequency(7)])
        self.assertIsNone(process.poll())
        harness.write_quit(folder, 1)
        self.assertIsNotNone(harness.ExitWatch(process).wait(timeout=3))

    # The About window's helpers, borrowed from its own tests.
    pixels = test_about.AboutWindowTest.pixels
    click = test_about.AboutWindowTest.click
    window_titled = test_about.AboutWindowTest.window_titled

    def test_a_tune_that_is_no_file_leaves_the_about_window_free(self):
        self.dpi = harness.screen_dpi(self.display)
        folder = self.session.program_folder()
        # Half past the hour on a faked clock, so that no hour's sound joins in.
        offset = harness.next_hour_minus(1800) - time.time()
        first = self.session.start(folder, fake_start=harness.same_clock(offset))
        self.assertTrue(harness.wait_for(lambda: harness.quit_value(folder) == "0", 10))
        second = self.session.start(folder, fake_start=harness.same_clock(offset))
        control = harness.wait_for(lambda: self.window_titled("Velmorin"), 10)
        self.assertIsNotNone(control, "the second copy shows no control window")
        for kind in ("fifo", "folder", "device"):
            with self.subTest(kind=kind):
                make_hostile(os.path.join(folder, "ABOUT.MID"), kind)
                self.click(control, 2880, 405, 600, 420)
                about = harness.wait_for(lambda: self.window_titled(test_about.ABOUT_TITLE), 5)
                self.assertIsNotNone(about, "the About window did not show")
                self.click(about, 1710, 1800, 870, 465)
                closed = harness.wait_for(
                    lambda: self.window_titled(test_about.ABOUT_TITLE) is None, 3)
                self.assertTrue(closed, "the About window hangs")
        self.assertIsNone(second.poll())
        harness.write_quit(folder, 1)
        self.assertIsNotNone(harness.ExitWatch(first).wait(timeout=3))


SQUATTER = r"""
import fcntl, os, sys, time
held = []
def hold(path, mode, lock):
    if os.path.dirname(path) != "/tmp":
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.chmod(os.path.dirname(path), 0o777)
    fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o666)
    os.fchmod(fd, 0o666)
    fcntl.flock(fd, lock)
    held.append(fd)
legacy, cache = sys.argv[1], sys.argv[2]
hold(legacy, 0o666, fcntl.LOCK_SH)
hold(os.path.join(cache, "velmorin", "velmorin.lock"), 0o666, fcntl.LOCK_EX)
print("shared", flush=True)
sys.stdin.readline()
fcntl.flock(held[0], fcntl.LOCK_EX)
print("exclusive", flush=True)
sys.stdin.readline()
"""


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                     "runs the squatter as another user: needs root and setpriv")
class LockSquatterTest(unittest.TestCase):
    """Another user (nobody) holds locks where a careless program would look for its own: the
    old shared /tmp name, and a cache folder of the squatter's making."""

    @classmethod
    def setUpClass(cls):
        cls.display = harness.Display()
        cls.addClassCleanup(cls.display.close)

    def setUp(self):
        self.session = harness.Session(self.display)
        self.addCleanup(self.session.close)
        self.legacy = f"/tmp/velmorin-{os.getuid()}.lock"
        if os.path.lexists(self.legacy):
            self.skipTest(f"{self.legacy} exists already")
        self.squat = tempfile.mkdtemp(prefix="velmorin-squat-")
        os.chmod(self.squat, 0o777)
        self.addCleanup(shutil.rmtree, self.squat, True)
        self.addCleanup(lambda: os.path.lexists(self.legacy) and os.remove(self.legacy))
        self.squatter = subprocess.Popen(
            ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", sys.executable,
             "-c", SQUATTER, self.legacy, self.squat],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
            preexec_fn=harness.die_with_test)
        self.addCleanup(self.squatter.stdout.close)
        self.addCleanup(self.squatter.stdin.close)
        self.addCleanup(self.squatter.wait)
        self.addCleanup(self.squatter.kill)
        self.assertEqual(self.squatter.stdout.readline().strip(), "shared")

    def run_victim(self, name, env, alone_message):
        """Starts the program as this user; it must write Quit=0, show no control window,
        keep ticking and obey a quit request."""
        folder = self.session.program_folder(name)
        process = self.session.start(folder, env={"XDG_RUNTIME_DIR": None, **env})
        self.assertTrue(harness.wait_settings(folder, CLEAN, timeout=10),
                        "the program never started")
        time.sleep(SETTLE)
        self.assertEqual(harness.windows_of(self.display, process), [],
                         "the program took the squatter for a running copy")
        watch = harness.ExitWatch(process)
        harness.write_quit(folder, 1)
        self.assertIsNotNone(watch.wait(timeout=3), "the quit request was not obeyed")
        error = process.stderr.read().decode(errors="replace")
        self.assertEqual(len(error.splitlines()), 1 if alone_message else 0, error)

    def test_a_squatters_locks_neither_fake_a_copy_nor_stop_the_program(self):
        self.run_victim("shared", {}, alone_message=False)
        self.squatter.stdin.write("\n")
        self.squatter.stdin.flush()
        self.assertEqual(self.squatter.stdout.readline().strip(), "exclusive")
        self.run_victim("exclusive", {}, alone_message=False)
        # A cache folder the squatter made and writes to is no place for the lock: the program
        # says so once and runs as the only copy.
        self.run_victim("squatted", {"XDG_CACHE_HOME": self.squat}, alone_message=True)


if __name__ == "__main__":
    unittest.main()
