"""The control window of a second copy, driven through the X server as a user would: what the
user is told when the quit request cannot be written. Where the window shows and what Alarm Quit
stops are checked by the About test, which opens it anyway."""

import os
import time
import unittest

import harness

NOBODY = 65534


class ControlWindowTest(unittest.TestCase):
    def test_request_that_cannot_be_written_is_reported_and_stops_nobody(self):
        display = harness.Display()
        self.addCleanup(display.close)
        session = harness.Session(display)
        self.addCleanup(session.close)
        # Root writes anywhere, so the copies run as nobody in a folder nobody cannot write.
        os.chmod(session.root, 0o755)
        folder = session.program_folder()
        runtime = os.path.join(session.root, "nobody-runtime")
        os.mkdir(runtime, 0o700)
        os.chown(runtime, NOBODY, NOBODY)
        as_nobody = {"XDG_RUNTIME_DIR": runtime}
        first = session.start(folder, user=NOBODY, env=as_nobody)
        time.sleep(1.0)
        second = session.start(folder, user=NOBODY, env=as_nobody)
        window = harness.wait_for(lambda: harness.windows_of(display, second), 10)
        self.assertTrue(window, "the second copy shows no control window")
        window = harness.window_info(display, window[0])
        before = harness.read_text(harness.settings_path(folder))

        harness.click(display, window["id"], harness.twips_to_pixels(855 + 615, display.dpi),
                      harness.twips_to_pixels(2340 + 262, display.dpi))
        boxes = harness.wait_for(
            lambda: [w for w in harness.mapped_windows(display) if w["id"] != window["id"]],
            5)
        self.assertEqual(len(boxes), 1, "no message box")
        self.assertEqual(boxes[0]["title"], "Velmorin")
        time.sleep(0.3)
        harness.save_window(display, boxes[0]["id"], harness.artifact_path("quit-failed.png"))
        image = harness.window_pixels(display, boxes[0]["id"])
        self.assertGreater(harness.dark_pixels(image, 0, 0, image[0], image[1] // 2), 200,
                           "the message box shows no text")
        self.assertIsNone(second.poll(), "the copy ended before the user read the message")

        harness.press_key(display, boxes[0]["id"], "Return")
        self.assertTrue(harness.wait_for(lambda: second.poll() is not None, 3))
        self.assertEqual(second.returncode, 0)
        time.sleep(1.2)
        self.assertIsNone(first.poll(), "the first copy stopped though no request was written")
        self.assertEqual(harness.read_text(harness.settings_path(folder)), before)


if __name__ == "__main__":
    unittest.main()
