"""The real velmorin.exe from the zip's folder under wine, on Xvfb with a faked clock, watched
from outside: the files it opens (inotify), the settings file it writes, the windows it maps."""

import math
import os
import tempfile
import time
import unittest

import winelib
from winelib import benchlib, harness

SETTINGS = "[Form]\r\nQuit=0\r\n"
# Files opened besides the sounds: the program itself (wine maps it), the settings file, and
# the folder (wine lists it to find a file).
ROUTINE = {"velmorin.exe", "Velmorin.ini", "."}
HOUR = 15


def offset_to(seconds_before):
    """A whole-second clock offset that puts the faked clock `seconds_before` a 15:00:00 UTC,
    so the hour's sound is 03.WAV."""
    now = time.time()
    target = math.floor(now / 86400) * 86400 + HOUR * 3600 - seconds_before
    return round(target - now), target + seconds_before


def titled(display, title):
    return [w for w in harness.mapped_windows(display) if w["title"] == title]


def setUpModule():
    global DISPLAY, SCRATCH, READY
    SCRATCH = tempfile.TemporaryDirectory(prefix="velmorin-wine-run-")
    READY = winelib.ready_prefix(SCRATCH.name)
    DISPLAY = harness.Display()


def tearDownModule():
    DISPLAY.close()
    SCRATCH.cleanup()


class WineTest(unittest.TestCase):
    def setUp(self):
        self.session = winelib.WineSession(DISPLAY, READY)
        self.addCleanup(self.session.close)

    def chime_at_three(self, folder, lang):
        """Starts a copy before 15:00:00 and returns the files it opened up to 15:00:09.6."""
        offset, hour = offset_to(6)
        with benchlib.Watch(folder, offset) as watch:
            copy = self.session.start(folder, offset=offset, lang=lang)
            opens = winelib.opens_until(watch, ROUTINE, hour + 9.6, offset)
        return copy, [(name, at - hour) for name, at in opens]

    def assert_chimed_at_three(self, opens):
        self.assertTrue(opens, "no sound file was opened")
        self.assertEqual({name for name, _ in opens}, {"03.WAV"}, opens)
        for second in (0, 8):
            late = [at - second for _, at in opens if second <= at < second + 1]
            self.assertTrue(late, f"03.WAV not opened at 15:00:0{second}: {opens}")
            self.assertLess(late[0], 0.25, f"15:00:0{second} open came late: {opens}")
        self.assertTrue(all(0 <= at < 1 or 8 <= at < 9 for _, at in opens), opens)

    def quit_and_time(self, folder, copy):
        watch = harness.ExitWatch(copy)
        time.sleep(0.3)
        written = time.monotonic()
        harness.write_quit(folder, 1)
        ended = watch.wait(timeout=5)
        self.assertIsNotNone(ended, "Quit=1 did not stop the copy")
        return ended - written

    def test_first_copy_is_hidden_chimes_at_the_hour_and_obeys_a_quit_request(self):
        folder = self.session.program_folder()
        copy, opens = self.chime_at_three(folder, "en_US.UTF-8")
        self.assertEqual(harness.read_text(harness.settings_path(folder)), SETTINGS)
        self.assertEqual(titled(DISPLAY, "Velmorin"), [], "the first copy shows a window")
        self.assert_chimed_at_three(opens)
        self.assertIsNone(copy.poll())
        latency = self.quit_and_time(folder, copy)
        print(f"\nquit latency under wine: {1000 * latency:.0f} ms")
        # One tick of 800 ms, and the process's own end under wine.
        self.assertLess(latency, 1.0)
        self.assertEqual(copy.returncode, 0)

    def test_a_folder_named_in_any_script_works_in_a_japanese_and_a_western_locale(self):
        for lang in ("ja_JP.UTF-8", "en_US.UTF-8"):
            with self.subTest(lang=lang):
                folder = self.session.program_folder("Zoë 時報 " + lang[:2])
                copy, opens = self.chime_at_three(folder, lang)
                self.assertEqual(harness.read_text(harness.settings_path(folder)), SETTINGS)
                self.assert_chimed_at_three(opens)
                self.quit_and_time(folder, copy)

    def test_a_clock_stepped_back_an_hour_is_followed_within_a_tick(self):
        # Running at 16:00:30, the clock is set back to 14:59:58: a timer with an absolute due
        # time would wait out the hour; the tick must chime at 15:00:00 as if it had run there.
        folder = self.session.program_folder()
        stamp = os.path.join(self.session.root, "faketime")
        late, hour = offset_to(-3630)
        with open(stamp, "w") as f:
            f.write("%+d\n" % late)
        copy = self.session.start(folder, env={"FAKETIME_TIMESTAMP_FILE": stamp,
                                               "FAKETIME_NO_CACHE": "1",
                                               "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
        self.assertTrue(harness.wait_for(lambda: harness.quit_value(folder) == "0", 20))
        with benchlib.Watch(folder) as watch:
            early, _ = offset_to(2)
            with open(stamp + ".new", "w") as f:
                f.write("%+d\n" % early)
            os.replace(stamp + ".new", stamp)
            opens = winelib.opens_until(watch, ROUTINE, hour + 1 - early, 0)
        opens = [(name, at + early - hour) for name, at in opens]
        self.assertEqual([name for name, _ in opens], ["03.WAV"], opens)
        self.assertLess(abs(opens[0][1]), 0.25, opens)
        self.quit_and_time(folder, copy)

    def two_copies(self, dpi=96):
        """A first copy and a second one; returns them, their folder and the control window,
        checked for its size and place."""
        folder = self.session.program_folder()
        first = self.session.start(folder)
        self.assertTrue(harness.wait_for(lambda: harness.quit_value(folder) == "0", 20))
        harness.write_quit(folder, 7)
        second = self.session.start(folder)
        shown = harness.wait_for(lambda: titled(DISPLAY, "Velmorin"), 20)
        self.assertTrue(shown, "the second copy shows no control window")
        self.assertEqual(harness.quit_value(folder), "0")
        control = shown[0]
        # No window manager: the X window is the client area, at the layout's twips at the
        # screen's DPI, and the outer size centred leaves it below the centre by half the
        # missing title bar.
        size = (harness.twips_to_pixels(3795, dpi), harness.twips_to_pixels(3720, dpi))
        self.assertEqual((control["width"], control["height"]), size)
        self.assertLessEqual(abs(control["x"] - (DISPLAY.width - size[0]) / 2), 2)
        self.assertLessEqual(abs(control["y"] - (DISPLAY.height - size[1]) / 2 - dpi / 10), dpi / 8)
        return first, second, folder, control

    def alarm_quit(self, control, folder, dpi, *copies):
        harness.click(DISPLAY, control["id"], harness.twips_to_pixels(1470, dpi),
                      harness.twips_to_pixels(2600, dpi))
        for copy in copies:
            self.assertIsNotNone(harness.ExitWatch(copy).wait(timeout=5),
                                 "Alarm Quit did not end every copy")
        self.assertEqual(harness.quit_value(folder), "1")

    def test_windows_take_their_twips_size_at_144_dpi(self):
        self.session.set_dpi(144)
        first, second, folder, control = self.two_copies(144)
        harness.save_window(DISPLAY, control["id"], artifact("wine-control-window-144dpi.png"))
        self.alarm_quit(control, folder, 144, second, first)

    def test_second_copy_control_window_about_and_alarm_quit(self):
        first, second, folder, control = self.two_copies()
        harness.save_window(DISPLAY, control["id"],
                            artifact("wine-control-window.png"))

        # Enter and Esc press nothing (no default or cancel button); Tab goes from Alarm Quit
        # to About, and Space presses it.
        for key in ("Return", "Escape", "Tab", "Return", "space"):
            harness.press_key(DISPLAY, control["id"], key)
            time.sleep(0.3)
            if key != "space":
                self.assertEqual([w["title"] for w in harness.mapped_windows(DISPLAY)],
                                 ["Velmorin"], key)
        about = harness.wait_for(lambda: titled(DISPLAY, "Velmorinについて"), 10)
        self.assertTrue(about, "About opened no window")
        about = about[0]
        self.assertEqual((about["width"], about["height"]), (288, 165))
        # The tune cannot play here: MCI fails within milliseconds and the failure is not shown.
        time.sleep(1.5)
        path = artifact("wine-about-window.png")
        harness.save_window(DISPLAY, about["id"], path)
        image = harness.window_pixels(DISPLAY, about["id"])
        # Five lines of text, two of them Japanese, in the label's rectangle.
        self.assertGreater(harness.dark_pixels(image, 57, 18, 184, 91), 400, path)
        titles = sorted(w["title"] for w in harness.mapped_windows(DISPLAY))
        self.assertEqual(titles, ["Velmorin", "Velmorinについて"])

        harness.click(DISPLAY, about["id"], 143, 135)  # OK
        self.assertTrue(harness.wait_for(lambda: not titled(DISPLAY, "Velmorinについて"), 10),
                        "OK did not close the About window")
        # The control window responds again.
        self.alarm_quit(control, folder, 96, second, first)

    def test_without_a_display_it_says_so_and_exits(self):
        folder = self.session.program_folder()
        copy = self.session.start(folder, display=False, limit=30)
        copy.wait(timeout=40)
        self.assertNotEqual(copy.returncode, 124, "it hung without a display")
        self.assertNotEqual(copy.returncode, 0)
        with open(copy.errors, "rb") as errors:
            self.assertIn(b"no display", errors.read())


def artifact(name):
    folder = os.environ.get("VELMORIN_ARTIFACTS") or os.path.join(
        os.path.dirname(os.path.abspath(winelib.PROGRAM_DIR)), "test-artifacts")
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name)


if __name__ == "__main__":
    unittest.main()
