"""The data the build leaves in the program folder, checked as the program meets it."""

import os
import struct
import unittest
import wave

PROGRAM_DIR = os.environ["VELMORIN_PROGRAM_DIR"]


class DataTest(unittest.TestCase):
    def test_hour_sounds_are_pcm_and_end_before_the_restart(self):
        for hour in range(12):
            with wave.open(os.path.join(PROGRAM_DIR, f"{hour:02d}.WAV")) as w:
                self.assertEqual(w.getsampwidth(), 2, hour)
                seconds = w.getnframes() / w.getframerate()
                # The sound is started again eight seconds after the hour; it must be over.
                self.assertLess(seconds, 7.9, hour)
                # It must be heard at once: the first tenth of a second already carries it.
                first = struct.unpack(f"<{w.getframerate() // 10 * w.getnchannels()}h",
                                      w.readframes(w.getframerate() // 10))
                self.assertGreater(max(abs(x) for x in first), 3000, hour)

    def test_about_tune_is_a_midi_file_with_tempo_and_an_end(self):
        with open(os.path.join(PROGRAM_DIR, "ABOUT.MID"), "rb") as f:
            data = f.read()
        self.assertEqual(data[:4], b"MThd")
        self.assertIn(b"\xff\x2f\x00", data)  # end of track
        self.assertIn(b"\xff\x51\x03", data)  # tempo


if __name__ == "__main__":
    unittest.main()
