# The hour sounds the build leaves in the program folder, checked as the program meets them.
# The About tune is read and heard whole by the end-to-end About test.

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
                # The sound is started again eight seconds after the hour; it must be over.
                self.assertLess(w.getnframes() / w.getframerate(), 7.9, hour)
                # It must be heard at once: the first tenth of a second already carries it.
                tenth = w.getframerate() // 10
                first = struct.unpack(f"<{tenth * w.getnchannels()}h", w.readframes(tenth))
                self.assertGreater(max(abs(x) for x in first), 3000, hour)

