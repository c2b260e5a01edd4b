"""The About window, opened from the control window of a second copy: painted before its tune,
the tune heard to its end while the control window waits, and OK."""

import os
import struct
import time
import unittest

import harness

ABOUT_TITLE = "Velmorinについて"
# Heard length against the tune's own: a tune cut short loses more than this...
CUT_TOLERANCE = 0.3
# ...and the notes sounding at its last event die away within this (the release of a held
# chord rings on for a second or two).
RELEASE_ALLOWANCE = 3.0


def tune_span(path):
    """Seconds from the first note-on to the last note event of a standard MIDI file, read the
    way a sequencer plays it: ticks of all tracks merged, tempo changes applied."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"MThd", f"{path} is not a standard MIDI file"
    header, _, tracks, division = struct.unpack(">IHHH", data[4:14])
    events, at = [], 8 + header
    for _ in range(tracks):
        length = struct.unpack(">I", data[at + 4:at + 8])[0]
        body, at, i, tick, status = data[at + 8:at + 8 + length], at + 8 + length, 0, 0, 0

        def number():
            nonlocal i
            value = 0
            while body[i] & 0x80:
                value, i = value << 7 | body[i] & 0x7F, i + 1
            value, i = value << 7 | body[i], i + 1
            return value

        while i < len(body):
            tick += number()
            if body[i] >= 0x80:  # else running status
                status, i = body[i], i + 1
            if status == 0xFF:
                kind, i = body[i], i + 1
                size = number()
                if kind == 0x51:
                    events.append((tick, "tempo", int.from_bytes(body[i:i + size], "big")))
                i += size
            elif status in (0xF0, 0xF7):
                i += number()
            else:
                size = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
                if status & 0xF0 in (0x80, 0x90):
                    events.append((tick, "note", status & 0xF0 == 0x90 and body[i + 1] > 0))
                i += size
    tempo, tick, seconds, first, last = 500000, 0, 0.0, None, None
    for event_tick, kind, value in sorted(events, key=lambda event: event[0]):
        seconds, tick = seconds + (event_tick - tick) * tempo / 1e6 / division, event_tick
        if kind == "tempo":
            tempo = value
        else:
            first = seconds if value and first is None else first
            last = seconds
    return last - first


class AboutWindowTest(unittest.TestCase):
    def setUp(self):
        self.display = harness.Display()
        self.addCleanup(self.display.close)
        self.session = harness.Session(self.display)
        self.addCleanup(self.session.close)
        self.dpi = harness.screen_dpi(self.display)
        self.capture = os.path.join(self.session.root, "second.raw")

    def pixels(self, twips):
        return harness.twips_to_pixels(twips, self.dpi)

    def click(self, window, left, top, width, height):
        harness.click(self.display, window["id"], self.pixels(left + width // 2),
                      self.pixels(top + height // 2))

    def window_titled(self, title):
        return next((w for w in harness.mapped_windows(self.display) if w["title"] == title),
                    None)

    def about_when_the_tune_plays(self):
        """Waits until the tune is heard (the captured stream grows) and the window shows."""
        self.assertTrue(harness.wait_for(lambda: (harness.file_size(self.capture) or 0) > 0, 15),
                        "the tune never started")
        about = harness.wait_for(lambda: self.window_titled(ABOUT_TITLE), 5)
        self.assertIsNotNone(about, "the About window is not shown while its tune plays")
        return about

    def assert_whole_tune(self, expected):
        harness.wait_until_still(self.capture, quiet=1.0, timeout=60)
        samples = harness.read_capture_peaks(self.capture)
        # A note has died away once it has fallen below -50 dBFS.
        span = harness.audible_span(samples, threshold=100)
        self.assertIsNotNone(span, "the tune was silent")
        heard = (span[1] - span[0]) / harness.RATE
        # The device is closed when "play about wait" returns, so the capture ends there.
        waited = (len(samples) - span[1]) / harness.RATE
        told = f"heard {heard:.2f} s of a {expected:.2f} s tune, the wait ended {waited:.2f} s later"
        print(told)
        self.assertLess(waited, 0.3, told)
        self.assertGreater(heard, expected - CUT_TOLERANCE, told)
        self.assertLess(heard, expected + RELEASE_ALLOWANCE, told)

    def test_about_paints_plays_its_whole_tune_and_holds_the_control_window(self):
        folder = self.session.program_folder()
        expected = tune_span(os.path.join(folder, "ABOUT.MID"))
        # Half past the hour on a faked clock, so that no hour's sound joins the tune.
        offset = harness.next_hour_minus(1800) - time.time()
        first = self.session.start(folder, fake_start=harness.same_clock(offset))
        self.assertTrue(harness.wait_for(lambda: harness.quit_value(folder) == "0", 10))
        second = self.session.start(folder, fake_start=harness.same_clock(offset),
                                    capture=self.capture)
        control = harness.wait_for(lambda: self.window_titled("Velmorin"), 10)
        self.assertIsNotNone(control, "the second copy shows no control window")

        self.click(control, 2880, 405, 600, 420)
        about = self.about_when_the_tune_plays()
        self.assertEqual((about["width"], about["height"]),
                         (self.pixels(4320), self.pixels(2475)))
        self.assertLessEqual(abs(about["x"] - (self.display.width - about["width"]) / 2), 1)
        self.assertLessEqual(abs(about["y"] - (self.display.height - about["height"]) / 2), 1)
        # The tune holds the event thread: whatever is on the screen now was painted before it.
        growing = harness.file_size(self.capture)
        harness.save_window(self.display, about["id"], harness.artifact_path("about-window.png"))
        image = harness.window_pixels(self.display, about["id"])
        self.assertGreater(harness.dark_pixels(image, self.pixels(855), self.pixels(270),
                                               self.pixels(2760), self.pixels(1365)), 300,
                           "the About text was not painted")
        self.assertGreater(harness.file_size(self.capture), growing,
                           "the tune had already ended: the paint proves nothing")
        self.assert_whole_tune(expected)

        self.click(about, 1710, 1800, 870, 465)
        self.assertTrue(harness.wait_for(lambda: self.window_titled(ABOUT_TITLE) is None, 5),
                        "OK did not close the About window")
        self.assertIsNotNone(self.window_titled("Velmorin"))
        os.replace(self.capture, self.capture + ".first")

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


if __name__ == "__main__":
    unittest.main()
