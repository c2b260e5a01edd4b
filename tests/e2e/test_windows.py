"""The control window of a second copy, driven through the X server as a user would: what
Alarm Quit stops, and what the user is told when the quit request cannot be written. Where the
window shows is checked by the About test, which opens it anyway."""

import os
import time
import unittest

import harness

NOBODY = 65534


class ControlWindowTest(unittest.TestCase):
    def setUp(self):
        self.display = harness.Display()
        self.addCleanup(self.display.close)
        self.session = harness.Session(self.display)
        self.addCleanup(self.session.close)
        self.dpi = harness.screen_dpi(self.display)

    def control_window(self, process):
        def find():
            return next((harness.window_info(self.display, w)
                         for w in harness.windows_of(self.display, process)
                         if harness.window_info(self.display, w)["title"] == "Velmorin"), None)

        window = harness.wait_for(find, 10)
        self.assertIsNotNone(window, "the second copy shows no control window")
        return window

    def click_alarm_quit(self, window):
        harness.click(self.display, window["id"], harness.twips_to_pixels(855 + 615, self.dpi),
                      harness.twips_to_pixels(2340 + 262, self.dpi))

    def test_alarm_quit_ends_every_copy_of_its_folder_before_the_hour(self):
        folder = self.session.program_folder("Velmorin", tones=True)
        other_folder = self.session.program_folder("Elsewhere", tones=True)
        captures = {name: os.path.join(self.session.root, name + ".raw")
                    for name in ("first", "second", "other")}
        # The faked clock runs 12 s before a full hour: the click comes well before it, and the
        # copy from the other folder proves that the hour did come and chime.
        faked_hour = harness.next_hour_minus(12) + 12
        offset = round(faked_hour - 12 - time.time())
        hour = faked_hour - offset

        def start(where, name):
            copy = self.session.start(where, fake_start=harness.same_clock(offset),
                                      capture=captures[name])
            if name != "second":
                self.assertTrue(harness.wait_for(lambda: harness.quit_value(where) == "0", 10))
            return copy

        first, other, second = (start(folder, "first"), start(other_folder, "other"),
                                start(folder, "second"))
        window = self.control_window(second)

        clicked = time.monotonic()
        self.assertLess(time.time(), hour - 2, "too slow to click before the hour")
        self.click_alarm_quit(window)
        self.assertTrue(harness.wait_for(lambda: second.poll() is not None, 2, 0.005),
                        "the second copy did not end")
        second_ended = time.monotonic()
        self.assertTrue(harness.wait_for(lambda: first.poll() is not None, 2, 0.005),
                        "the first copy did not end")
        self.assertLess(second_ended - clicked, 0.5)
        # The first copy reads the request at its next tick, at most 800 ms later.
        self.assertLess(time.monotonic() - second_ended, 1.0)
        self.assertEqual(harness.quit_value(folder), "1")

        time.sleep(max(0, hour - time.time()) + 1.5)
        self.assertIsNone(other.poll(), "a copy from another folder was stopped too")
        self.assertEqual(harness.quit_value(other_folder), "0")
        self.assertTrue(os.path.exists(captures["other"]),
                        "the copy from the other folder did not chime at the hour")
        self.assertIsNotNone(harness.audible_span(harness.read_capture(captures["other"])))
        for name in ("first", "second"):
            self.assertFalse(os.path.exists(captures[name]), f"the {name} copy chimed")

    def test_request_that_cannot_be_written_is_reported_and_stops_nobody(self):
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
        window = self.control_window(second)
        before = harness.read_text(harness.settings_path(folder))

        self.click_alarm_quit(window)
        boxes = harness.wait_for(
            lambda: [w for w in harness.mapped_windows(self.display) if w["id"] != window["id"]],
            5)
        self.assertEqual(len(boxes), 1, "no message box")
        self.assertEqual(boxes[0]["title"], "Velmorin")
        time.sleep(0.3)
        harness.save_window(self.display, boxes[0]["id"], harness.artifact_path("quit-failed.png"))
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


if __name__ == "__main__":
    unittest.main()
