"""The About window, opened from the control window of a second copy: painted before its tune,
the tune heard to its end while the control window waits, OK, and no tune at all."""

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
    if data[:4] != b"MThd":
        raise ValueError(f"{path} is not a standard MIDI file")
    header_length, _, tracks, division = struct.unpack(">IHHH", data[4:14])
    if division & 0x8000:
        raise ValueError("SMPTE time division is not handled")
    events, at = [], 8 + header_length
    for _ in range(tracks):
        tag, length = data[at:at + 4], struct.unpack(">I", data[at + 4:at + 8])[0]
        body, at = data[at + 8:at + 8 + length], at + 8 + length
        if tag == b"MTrk":
            events += track_events(body)
    events.sort(key=lambda event: event[0])
    tempo, tick, seconds = 500000, 0, 0.0
    first = last = None
    for event_tick, kind, value in events:
        seconds += (event_tick - tick) * tempo / 1e6 / division
        tick = event_tick
        if kind == "tempo":
            tempo = value
        elif kind == "note":
            if value and first is None:
                first = seconds
            last = seconds
    return last - first


def track_events(body):
    """(tick, kind, value) of one track: tempo changes, and note events with whether each
    starts a note."""
    events, at, tick, running = [], 0, 0, 0

    def number():
        nonlocal at
        value = 0
        while True:
            byte, at = body[at], at + 1
            value = value << 7 | (byte & 0x7F)
            if byte < 0x80:
                return value

    while at < len(body):
        tick += number()
        status = body[at]
        if status >= 0x80:
            at += 1
        else:
            status = running
        if status == 0xFF:
            kind, at = body[at], at + 1
            length = number()
            if kind == 0x51:
                events.append((tick, "tempo", int.from_bytes(body[at:at + length], "big")))
            at += length
            if kind == 0x2F:
                break
        elif status in (0xF0, 0xF7):
            at += number()
        else:
            running = status
            size = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
            message, at = body[at:at + size], at + size
            if status & 0xF0 in (0x80, 0x90):
                events.append((tick, "note", status & 0xF0 == 0x90 and message[1] > 0))
    return events


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

    def start_two_copies(self, folder):
        # Half past the hour on a faked clock, so that no hour's sound joins the tune.
        offset = harness.next_hour_minus(1800) - time.time()
        self.first = self.session.start(folder, fake_start=harness.same_clock(offset))
        self.assertTrue(harness.wait_for(lambda: harness.quit_value(folder) == "0", 10))
        self.second = self.session.start(folder, fake_start=harness.same_clock(offset),
                                         capture=self.capture)
        self.control = harness.wait_for(lambda: self.window_titled("Velmorin"), 10)
        self.assertIsNotNone(self.control, "the second copy shows no control window")

    def window_titled(self, title):
        for window in harness.mapped_windows(self.display):
            if window["title"] == title:
                return window
        return None

    def click_about(self):
        harness.click(self.display, self.control["id"], self.pixels(2880 + 300),
                      self.pixels(405 + 210))

    def click_ok(self, about):
        harness.click(self.display, about["id"], self.pixels(1710 + 435), self.pixels(1800 + 232))

    def click_alarm_quit(self):
        harness.click(self.display, self.control["id"], self.pixels(855 + 615),
                      self.pixels(2340 + 262))

    def label_text_pixels(self, about):
        image = harness.window_pixels(self.display, about["id"])
        return harness.dark_pixels(image, self.pixels(855), self.pixels(270), self.pixels(2760),
                                   self.pixels(1365))

    def wait_for_tune(self):
        """Waits until the tune is heard: the captured stream has begun to grow."""
        self.assertTrue(harness.wait_for(lambda: (harness.file_size(self.capture) or 0) > 0, 15),
                        "the tune never started")

    def assert_whole_tune(self, expected):
        harness.wait_until_still(self.capture, quiet=1.0, timeout=60)
        samples = harness.read_capture_peaks(self.capture)
        # A note has died away once it has fallen below -50 dBFS.
        span = harness.audible_span(samples, threshold=100)
        self.assertIsNotNone(span, "the tune was silent")
        heard = (span[1] - span[0]) / harness.RATE
        # The device is closed when "play about wait" returns, so the capture ends there.
        waited = (len(samples) - span[1]) / harness.RATE
        print(f"heard {heard:.2f} s of a {expected:.2f} s tune; the wait ended {waited:.2f} s "
              "after the last sound")
        self.assertLess(waited, 0.3, f"the wait went on {waited:.2f} s after the tune died away")
        self.assertGreater(heard, expected - CUT_TOLERANCE,
                           f"heard {heard:.2f} s of a {expected:.2f} s tune: cut short")
        self.assertLess(heard, expected + RELEASE_ALLOWANCE,
                        f"heard {heard:.2f} s of a {expected:.2f} s tune: ran on")

    def test_about_paints_plays_its_whole_tune_and_holds_the_control_window(self):
        folder = self.session.program_folder()
        expected = tune_span(os.path.join(folder, "ABOUT.MID"))
        self.start_two_copies(folder)

        self.click_about()
        self.wait_for_tune()
        about = self.window_titled(ABOUT_TITLE)
        self.assertIsNotNone(about, "the About window is not shown while its tune plays")
        self.assertEqual((about["width"], about["height"]),
                         (self.pixels(4320), self.pixels(2475)))
        self.assertLessEqual(abs(about["x"] - (self.display.width - about["width"]) / 2), 1)
        self.assertLessEqual(abs(about["y"] - (self.display.height - about["height"]) / 2), 1)
        # The tune holds the event thread: whatever is on the screen now was painted before it.
        growing = harness.file_size(self.capture)
        harness.save_window(self.display, about["id"], harness.artifact_path("about-window.png"))
        self.assertGreater(self.label_text_pixels(about), 300, "the About text was not painted")
        self.assertGreater(harness.file_size(self.capture), growing,
                           "the tune had already ended: the paint proves nothing")
        self.assert_whole_tune(expected)

        self.click_ok(about)
        self.assertTrue(harness.wait_for(lambda: self.window_titled(ABOUT_TITLE) is None, 5),
                        "OK did not close the About window")
        self.assertIsNotNone(self.window_titled("Velmorin"))
        os.replace(self.capture, self.capture + ".first")

        # A second About plays the tune again. The About window covers Alarm Quit, so it is
        # dragged aside first; Alarm Quit pressed meanwhile waits for the tune's end.
        self.click_about()
        self.wait_for_tune()
        about = harness.wait_for(lambda: self.window_titled(ABOUT_TITLE), 5)
        self.assertIsNotNone(about, "the About window did not show again")
        harness.move_window(self.display, about["id"], 0, 0)
        self.click_alarm_quit()
        time.sleep(1.5)
        self.assertEqual(harness.quit_value(folder), "0", "Alarm Quit acted during the tune")
        self.assertIsNone(self.second.poll())
        self.assertIsNone(self.first.poll())
        self.assert_whole_tune(expected)
        # The click waited in the queue and is handled once the tune is over.
        self.assertTrue(harness.wait_for(lambda: self.second.poll() is not None, 5),
                        "Alarm Quit was lost")
        self.assertEqual(harness.quit_value(folder), "1")
        self.assertTrue(harness.wait_for(lambda: self.first.poll() is not None, 3))

    def test_about_without_its_tune_shows_at_once_and_closes(self):
        folder = self.session.program_folder()
        os.remove(os.path.join(folder, "ABOUT.MID"))
        self.start_two_copies(folder)

        self.click_about()
        about = harness.wait_for(lambda: self.window_titled(ABOUT_TITLE), 5)
        self.assertIsNotNone(about, "the About window did not show without its tune")
        time.sleep(1.0)
        self.assertGreater(self.label_text_pixels(about), 300)
        if os.path.exists(self.capture):
            self.assertIsNone(harness.audible_span(harness.read_capture(self.capture)))
        self.assertIsNone(self.second.poll())

        # Nothing blocks: OK is handled at once.
        self.click_ok(about)
        self.assertTrue(harness.wait_for(lambda: self.window_titled(ABOUT_TITLE) is None, 2),
                        "OK did not close the About window")
        self.assertIsNone(self.second.poll())


if __name__ == "__main__":
    unittest.main()
