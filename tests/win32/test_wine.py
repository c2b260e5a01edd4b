"""The real velmorin.exe from the zip's folder under wine, on Xvfb with a faked clock, watched
from outside: the files it opens (inotify), the settings file it writes, the windows it maps."""

import math
import os
import tempfile
import time
import unittest

import winelib
from winelib import benchlib, harness

# Files opened besides the sounds: the program itself (wine maps it), the settings file, and
# the folder (wine lists it to find a file).
ROUTINE = {"velmorin.exe", "Velmorin.ini", "."}


def offset_to(seconds_before):
    """A whole-second clock offset that puts the faked clock `seconds_before` a 15:00:00 UTC,
    so the hour's sound is 03.WAV; and that 15:00:00 as an epoch time."""
    now = time.time()
    target = math.floor(now / 86400) * 86400 + 15 * 3600 - seconds_before
    return round(target - now), target + seconds_before


def set_clock(stamp, offset):
    """Sets the clock of the copies that read `stamp` to the real one plus `offset` seconds."""
    with open(stamp + ".new", "w") as f:
        f.write("%+d\n" % offset)
    os.replace(stamp + ".new", stamp)


def titled(title):
    return [w for w in harness.mapped_windows(DISPLAY) if w["title"] == title]


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

    def test_first_copy_hidden_chimes_on_time_after_a_clock_step_and_obeys_quit(self):
        # Each copy starts at 16:00:30 and the clock is then set back to 14:59:54: a timer with
        # an absolute due time would wait out the hour; the tick must chime at 15:00:00 and
        # 15:00:08 as if it had run there. The folder's name is one that neither locale's ANSI
        # code page holds.
        for lang in ("ja_JP.UTF-8", "en_US.UTF-8"):
            with self.subTest(lang=lang):
                folder = self.session.program_folder("Zoë 時報 " + lang[:2])
                stamp = os.path.join(self.session.root, "faketime-" + lang)
                set_clock(stamp, offset_to(-3630)[0])
                with benchlib.Watch(folder) as watch:
                    copy = self.session.start(folder, lang=lang, env={
                        "LD_PRELOAD": harness.FAKETIME_LIB, "FAKETIME_TIMESTAMP_FILE": stamp,
                        "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
                    self.assertTrue(harness.wait_settings(folder, "[Form]\r\nQuit=0\r\n", 20))
                    offset, hour = offset_to(6)
                    set_clock(stamp, offset)
                    opens = [(name, at + offset - hour) for name, at
                             in winelib.opens_until(watch, ROUTINE, hour + 9.6 - offset, 0)]
                self.assertEqual(titled("Velmorin"), [], "the first copy shows a window")
                # From its start on: 03.WAV, opened at 15:00:00 and 15:00:08 within a quarter
                # second, and nothing else.
                self.assertEqual({name for name, _ in opens}, {"03.WAV"}, opens)
                for second in (0, 8):
                    late = [at - second for _, at in opens if second <= at < second + 1]
                    self.assertTrue(late and late[0] < 0.25, f"15:00:0{second}: {opens}")
                self.assertTrue(all(0 <= at < 1 or 8 <= at < 9 for _, at in opens), opens)
                watch = harness.ExitWatch(copy)
                written = time.monotonic()
                harness.write_quit(folder, 1)
                ended = watch.wait(timeout=5)
                self.assertIsNotNone(ended, "Quit=1 did not stop the copy")
                print(f"\nquit latency under wine ({lang}): {1000 * (ended - written):.0f} ms")
                # One tick of 800 ms, and the process's own end under wine.
                self.assertLess(ended - written, 1.0)
                self.assertEqual(copy.returncode, 0)

    def test_second_copy_control_window_at_96_and_144_dpi_about_and_alarm_quit(self):
        for dpi in (96, 144):
            self.session.set_dpi(dpi)
            folder = self.session.program_folder(f"Velmorin {dpi}")
            first = self.session.start(folder)
            self.assertTrue(harness.wait_for(lambda: harness.quit_value(folder) == "0", 20))
            harness.write_quit(folder, 7)
            second = self.session.start(folder)
            shown = harness.wait_for(lambda: titled("Velmorin"), 20)
            self.assertTrue(shown, "the second copy shows no control window")
            self.assertEqual(harness.quit_value(folder), "0")
            control = shown[0]
            harness.save_window(DISPLAY, control["id"],
                                harness.artifact_path(f"wine-control-window-{dpi}dpi.png"))
            # No window manager: the X window is the client area, at the layout's twips at the
            # screen's DPI, and the outer size centred leaves it below the centre by half the
            # missing title bar.
            size = (harness.twips_to_pixels(3795, dpi), harness.twips_to_pixels(3720, dpi))
            self.assertEqual((control["width"], control["height"]), size)
            self.assertLessEqual(abs(control["x"] - (DISPLAY.width - size[0]) / 2), 2)
            self.assertLessEqual(abs(control["y"] - (DISPLAY.height - size[1]) / 2 - dpi / 10),
                                 dpi / 8)
            if dpi == 96:
                self.about(control)
            harness.click(DISPLAY, control["id"], harness.twips_to_pixels(1470, dpi),
                          harness.twips_to_pixels(2600, dpi))
            for copy in (second, first):
                self.assertIsNotNone(harness.ExitWatch(copy).wait(timeout=5),
                                     "Alarm Quit did not end every copy")
            self.assertEqual(harness.quit_value(folder), "1")

    def about(self, control):
        # Enter and Esc press nothing (no default or cancel button); Tab goes from Alarm Quit
        # to About, and Space presses it.
        for key in ("Return", "Escape", "Tab", "Return", "space"):
            harness.press_key(DISPLAY, control["id"], key)
            time.sleep(0.3)
            if key != "space":
                self.assertEqual([w["title"] for w in harness.mapped_windows(DISPLAY)],
                                 ["Velmorin"], key)
        about = harness.wait_for(lambda: titled("Velmorinについて"), 10)
        self.assertTrue(about, "About opened no window")
        about = about[0]
        self.assertEqual((about["width"], about["height"]), (288, 165))
        # The tune cannot play here: MCI fails within milliseconds and the failure is not shown.
        time.sleep(1.5)
        path = harness.artifact_path("wine-about-window.png")
        harness.save_window(DISPLAY, about["id"], path)
        image = harness.window_pixels(DISPLAY, about["id"])
        # Five lines of text, two of them Japanese, in the label's rectangle.
        self.assertGreater(harness.dark_pixels(image, 57, 18, 184, 91), 400, path)
        titles = sorted(w["title"] for w in harness.mapped_windows(DISPLAY))
        self.assertEqual(titles, ["Velmorin", "Velmorinについて"])
        harness.click(DISPLAY, about["id"], 143, 135)  # OK
        # OK closes it, and the control window responds again (Alarm Quit, next).
        self.assertTrue(harness.wait_for(lambda: not titled("Velmorinについて"), 10),
                        "OK did not close the About window")

    def test_without_a_display_it_says_so_and_exits(self):
        copy = self.session.start(self.session.program_folder(), display=False, limit=30)
        _, errors = copy.communicate(timeout=40)
        self.assertNotEqual(copy.returncode, 124, "it hung without a display")
        self.assertNotEqual(copy.returncode, 0)
        self.assertIn(b"no display", errors)


if __name__ == "__main__":
    unittest.main()
