# The control window of a second copy and the About window opened from it, driven through the
# X server as a user would: where they show, the About text painted before its tune, the tune
# heard to its end while the control window waits, OK, a tune that is no file, what Alarm Quit
# stops, and what the user is told when the quit request cannot be written. The same windows
# under the window managers of real desktops, and in a Wayland session.

import contextlib
import math
import os
import select
import shutil
import time
import unittest

import harness
import mido

NOBODY = 65534

ABOUT_TITLE = "Velmorinについて"
# Heard length against the tune's own: a tune cut short loses more than this...
CUT_TOLERANCE = 0.3
# ...and the notes sounding at its last event die away within this (the release of a held
# chord rings on for a second or two).
RELEASE_ALLOWANCE = 3.0


def tune_span(path):
    # Seconds from the first note event of the tune to its last, tempo changes applied.
    at, notes = 0.0, []
    for message in mido.MidiFile(path):
        at += message.time
        if message.type in ("note_on", "note_off"):
            notes.append(at)
    return notes[-1] - notes[0]


class Windows:
    # What the tests below see of the program's windows, and do with them.

    def setUp(self):
        super().setUp()
        self.capture = os.path.join(self.session.root, "second.raw")

    def pixels(self, twips):
        return harness.twips_to_pixels(twips, self.display.dpi)

    def click(self, window, left, top, width, height):
        harness.click(self.display, window["id"], self.pixels(left + width // 2),
                      self.pixels(top + height // 2))

    def assert_centred(self, window, width=None, height=None):
        # The client area has the layout's size, and what the user sees of the window, its frame
        # under a window manager, is centred. Returns that outer rectangle.
        if width is not None:
            self.assertEqual((window["width"], window["height"]),
                             (self.pixels(width), self.pixels(height)))
        outer = harness.outer_window(self.display, window["id"])
        if self.display.window_manager is not None:
            self.assertGreater(outer["height"], window["height"], "the window has no frame")
        self.assertLessEqual(abs(outer["x"] - (self.display.width - outer["width"]) / 2), 1)
        self.assertLessEqual(abs(outer["y"] - (self.display.height - outer["height"]) / 2), 1)
        return outer

    def window_titled(self, title):
        return next((w for w in harness.mapped_windows(self.display) if w["title"] == title),
                    None)

    def about_when_the_tune_plays(self):
        self.assertTrue(harness.wait_for(lambda: (harness.file_size(self.capture) or 0) > 0, 15),
                        "the tune never started")
        about = harness.wait_for(lambda: self.window_titled(ABOUT_TITLE), 5)
        self.assertIsNotNone(about, "the About window is not shown while its tune plays")
        return about

    def assert_whole_tune(self, expected):
        harness.wait_until_still(self.capture, quiet=1.0, timeout=60)
        samples = harness.read_capture(self.capture, peaks=True)
        # A note has died away once it has fallen below -50 dBFS.
        loud = [i for i, peak in enumerate(samples) if peak >= 100]
        self.assertTrue(loud, "the tune was silent")
        heard = (loud[-1] - loud[0]) / harness.RATE
        # The device is closed when "play about wait" returns, so the capture ends there.
        waited = (len(samples) - loud[-1]) / harness.RATE
        told = f"heard {heard:.2f} s of a {expected:.2f} s tune, the wait ended {waited:.2f} s on"
        self.assertLess(waited, 1.0, told)
        self.assertGreater(heard, expected - CUT_TOLERANCE, told)
        self.assertLess(heard, expected + RELEASE_ALLOWANCE, told)

    def start_two_copies(self, env=None):
        # Half past the hour on a faked clock, so that no hour's sound joins the tune.
        folder = self.session.program_folder()
        first = self.started(folder, fake_start=math.ceil(time.time() / 3600) * 3600 - 1800,
                             env=env)
        second = self.session.start(folder, fake_start=time.time() + first.fake_offset,
                                    capture=self.capture, env=env)
        return folder, first, second


class AboutWindowTest(Windows, harness.SessionTest):
    def test_about_paints_plays_its_whole_tune_and_holds_the_control_window(self):
        folder = self.session.program_folder()
        expected = tune_span(os.path.join(folder, "ABOUT.MID"))
        # Half past the hour on a faked clock, so that no hour's sound joins the tune.
        first = self.started(folder, fake_start=math.ceil(time.time() / 3600) * 3600 - 1800)
        # A copy from another folder (and, so that it shows no window, another session), which
        # Alarm Quit must leave running.
        other_folder = self.session.program_folder("Elsewhere")
        os.mkdir(os.path.join(other_folder, "runtime"), 0o700)
        other = self.started(other_folder, env={
            "XDG_RUNTIME_DIR": os.path.join(other_folder, "runtime")})
        # A value that is no quit request, so only the second copy's start-up can turn it to 0.
        harness.write_quit(folder, 7)
        second = self.session.start(folder, fake_start=time.time() + first.fake_offset,
                                    capture=self.capture)

        # The second copy shows one control window, centred, after clearing the request.
        control = harness.wait_for(lambda: self.window_titled("Velmorin"), 10)
        self.assertIsNotNone(control, "the second copy shows no control window")
        self.assertEqual(harness.quit_value(folder), "0")
        time.sleep(0.5)
        self.assertEqual([w["id"] for w in harness.mapped_windows(self.display)], [control["id"]])
        self.assertEqual(harness.windows_of(self.display, second), [control["id"]])
        self.assert_centred(control, 3795, 3720)
        image = harness.window_pixels(self.display, control["id"])
        self.assertGreater(harness.dark_pixels(image, self.pixels(1470) - 30,
                                               self.pixels(2602) - 8, 60, 16), 20,
                           "the Alarm Quit button shows no caption")

        self.click(control, 2880, 405, 600, 420)
        about = self.about_when_the_tune_plays()
        self.assert_centred(about, 4320, 2475)
        # The tune holds the event thread: whatever is on the screen now was painted before it.
        growing = harness.file_size(self.capture)
        image = harness.window_pixels(self.display, about["id"])
        self.assertGreater(harness.dark_pixels(image, self.pixels(855), self.pixels(270),
                                               self.pixels(2760), self.pixels(1365)), 300,
                           "the About text was not painted")
        self.assertTrue(harness.wait_for(lambda: harness.file_size(self.capture) > growing, 5),
                        "the tune had already ended: the paint proves nothing")
        self.assert_whole_tune(expected)

        self.click(about, 1710, 1800, 870, 465)
        self.assertTrue(harness.wait_for(lambda: self.window_titled(ABOUT_TITLE) is None, 5),
                        "OK did not close the About window")
        self.assertIsNotNone(self.window_titled("Velmorin"))
        os.replace(self.capture, self.capture + ".first")

        # A tune that is no file (a pipe, a folder, a device) leaves the About window free.
        tune = os.path.join(folder, "ABOUT.MID")
        for kind in ("fifo", "folder", "device"):
            with self.subTest(kind=kind):
                harness.make_hostile(tune, kind)
                self.click(control, 2880, 405, 600, 420)
                about = harness.wait_for(lambda: self.window_titled(ABOUT_TITLE), 5)
                self.assertIsNotNone(about, "the About window did not show")
                self.click(about, 1710, 1800, 870, 465)
                self.assertTrue(harness.wait_for(lambda: self.window_titled(ABOUT_TITLE) is None,
                                                 3), "the About window hangs")
        os.remove(tune)
        shutil.copy(os.path.join(harness.PROGRAM_DIR, "ABOUT.MID"), tune)

        # A sound device that stops taking the tune (here a pipe nobody reads once it is full)
        # is given up after two seconds: OK, pressed once the tune began, closes the window as
        # soon as the device's last write has been taken.
        os.mkfifo(self.capture)
        reader = os.open(self.capture, os.O_RDONLY | os.O_NONBLOCK)
        self.click(control, 2880, 405, 600, 420)
        self.assertTrue(select.select([reader], [], [], 15)[0], "the tune never started")
        self.click(self.window_titled(ABOUT_TITLE), 1710, 1800, 870, 465)
        deadline = time.monotonic() + 20
        while self.window_titled(ABOUT_TITLE) and time.monotonic() < deadline:
            time.sleep(3)
            with contextlib.suppress(BlockingIOError):
                while os.read(reader, 65536):
                    pass
        self.assertIsNone(self.window_titled(ABOUT_TITLE), "a stalled tune holds the window")
        os.close(reader)
        os.remove(self.capture)

        # A second About plays the tune again. The About window covers Alarm Quit, so it is
        # dragged aside first; Alarm Quit pressed meanwhile waits for the tune's end.
        self.click(control, 2880, 405, 600, 420)
        harness.move_window(self.display, self.about_when_the_tune_plays()["id"], 0, 0)
        self.click(control, 855, 2340, 1230, 525)
        time.sleep(1.5)
        self.assertEqual(harness.quit_value(folder), "0", "Alarm Quit acted during the tune")
        self.assertIsNone(second.poll())
        self.assertIsNone(first.poll())
        self.assert_whole_tune(expected)
        # The click waited in the queue and is handled once the tune is over.
        self.assertTrue(harness.wait_for(lambda: second.poll() is not None, 5),
                        "Alarm Quit was lost")
        self.assertEqual(harness.quit_value(folder), "1")
        self.assertTrue(harness.wait_for(lambda: first.poll() is not None, 3))
        self.assertIsNone(other.poll(), "Alarm Quit stopped a copy from another folder")
        self.assertEqual(harness.quit_value(other_folder), "0")


    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                         "runs the copies as nobody: needs root and setpriv")
    def test_a_request_that_cannot_be_written_is_reported_and_stops_nobody(self):
        # Root writes anywhere, so the copies run as nobody in a folder nobody cannot write.
        os.chmod(self.session.root, 0o755)
        folder = self.session.program_folder()
        runtime = os.path.join(self.session.root, "nobody-runtime")
        os.mkdir(runtime, 0o700)
        os.chown(runtime, NOBODY, NOBODY)
        as_nobody = {"XDG_RUNTIME_DIR": runtime}
        first = self.session.start(folder, user=NOBODY, env=as_nobody)
        time.sleep(1.0)
        second = self.session.start(folder, user=NOBODY, env=as_nobody)
        window = harness.wait_for(lambda: self.window_titled("Velmorin"), 10)
        self.assertIsNotNone(window, "the second copy shows no control window")
        before = harness.read_text(harness.settings_path(folder))

        self.click(window, 855, 2340, 1230, 525)
        boxes = harness.wait_for(
            lambda: [w for w in harness.mapped_windows(self.display) if w["id"] != window["id"]], 5)
        self.assertEqual(len(boxes), 1, "no message box")
        self.assertEqual(boxes[0]["title"], "Velmorin")
        time.sleep(0.3)
        image = harness.window_pixels(self.display, boxes[0]["id"])
        self.assertGreater(harness.dark_pixels(image, 0, 0, image[0], image[1] // 2), 200,
                           "the message box shows no text")
        self.assertIsNone(second.poll(), "the copy ended before the user read the message")

        harness.press_key(self.display, boxes[0]["id"], "Return")
        self.assertTrue(harness.wait_for(lambda: second.poll() is not None, 3))
        self.assertEqual(second.returncode, 0)
        time.sleep(1.2)
        self.assertIsNone(first.poll(), "the first copy stopped though no request was written")
        self.assertEqual(harness.read_text(harness.settings_path(folder)), before)


class WindowManagerTest(Windows, harness.SessionTest):
    # A reparenting window manager frames and maps a window some time after the program shows it.
    window_manager = "openbox"

    def test_windows_centred_in_their_frames_and_the_about_window_painted_through_its_tune(self):
        folder, first, second = self.start_two_copies()
        control = harness.wait_for(lambda: self.window_titled("Velmorin"), 10)
        self.assertIsNotNone(control, "the second copy shows no control window")
        control_place = self.assert_centred(control, 3795, 3720)

        self.click(control, 2880, 405, 600, 420)
        about = self.about_when_the_tune_plays()
        about_place = self.assert_centred(about, 4320, 2475)
        growing = harness.file_size(self.capture)
        during = harness.window_pixels(self.display, about["id"])
        self.assertTrue(harness.wait_for(lambda: harness.file_size(self.capture) > growing, 5),
                        "the tune had already ended: the picture proves nothing")
        harness.wait_until_still(self.capture)
        # As it stands once the tune has let the events run, and painted.
        after = harness.window_pixels(self.display, about["id"])
        self.assertEqual(sum(during[2][i:i + 3] != after[2][i:i + 3]
                             for i in range(0, len(after[2]), 3)), 0,
                         "the About window during its tune is not as it ends")
        self.assertGreater(harness.dark_pixels(after, self.pixels(855), self.pixels(270),
                                               self.pixels(2760), self.pixels(1365)), 300)
        self.assertEqual(harness.outer_window(self.display, about["id"]), about_place)
        self.assertEqual(harness.outer_window(self.display, control["id"]), control_place)

        self.click(about, 1710, 1800, 870, 465)
        self.click(control, 855, 2340, 1230, 525)
        self.assertTrue(harness.wait_for(lambda: second.poll() is not None, 5))
        # A message box, as the resident has the window program show one.
        box = self.session.start(folder, command=[os.path.join(folder, "velmorin-ui")],
                                 env={"VELMORIN_MESSAGE_BOX": "Velmorin.ini: Permission denied"})
        shown = harness.wait_for(lambda: self.window_titled("Velmorin"), 10)
        self.assertIsNotNone(shown, "no message box")
        self.assert_centred(shown)


class Xfwm4Test(WindowManagerTest):
    window_manager = "xfwm4"


class WaylandSessionTest(Windows, harness.SessionTest):
    # A Wayland desktop, whose compositor runs X programs through XWayland.

    @classmethod
    def setUpClass(cls):
        cls.display = harness.Weston()
        cls.addClassCleanup(cls.display.close)

    def test_the_windows_show_through_xwayland_centred_and_end_with_the_session(self):
        folder, first, second = self.start_two_copies(env=self.display.env)
        # weston tells no frame, so the program centres the client area and weston puts the
        # frame's top left there: the frame is off the centre by less than its title bar.
        def centre_offset():
            left, top, right, bottom = self.display.shown("Velmorin") or (0, 0, 0, 0)
            return ((left + right - self.display.width) / 2,
                    (top + bottom - self.display.height) / 2)
        harness.wait_for(lambda: max(map(abs, centre_offset())) < 32, 15)
        self.assertLess(max(map(abs, centre_offset())), 32, "not shown centred")
        self.assertIsNotNone(self.window_titled("Velmorin"), "not shown through XWayland")

        self.display.close()
        for copy in (first, second):
            _, errors = copy.communicate(timeout=10)
            self.assertEqual((copy.returncode, errors), (1, b"velmorin: the display has closed\n"))
