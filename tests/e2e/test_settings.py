# The settings window as `velmorin --settings` opens it under a window manager, beside a running
# time signal, and driven by the keyboard alone: where the focus starts, Tab, Space, the arrow
# keys and Enter; a second request that brings the open window forward; and the settings file
# afterwards, which holds the changed keys and everything else it held.

import os
import time

import harness

TITLE = "Velmorinの設定"


def settings_windows(display):
    # Under a window manager the root's children are its frames: the program's window is found
    # by its title.
    return harness._x(display, "xdotool", "search", "--onlyvisible", "--name", TITLE).stdout.split()


class SettingsWindowTest(harness.SessionTest):
    window_manager = "openbox"

    def test_keyboard_only_changes_reach_the_file_and_nothing_else_does(self):
        folder = self.session.program_folder()
        running = self.started(folder)
        ini, command = harness.settings_path(folder), [os.path.join(folder, "velmorin"),
                                                       "--settings"]
        # A hand-edited file: a comment, a value the program cannot read, another section.
        with open(ini, "wb") as f:
            f.write("[Form]\r\nQuit=0\r\n; my notes\r\n[Chime]\r\nVolume=loud\r\n"
                    "[Other]\r\nKey=値\r\n".encode())
        records = sorted(os.listdir(self.session.runtime))

        opener = self.session.start(folder, command=command)
        shown = harness.wait_for(lambda: settings_windows(self.display), 15, 0.2)
        self.assertEqual(len(shown), 1, "the settings window did not show")
        time.sleep(0.5)
        harness.save_window(self.display, "root", "/tmp/settings-qt.png")
        # Another program's window takes the focus; a second request ends at once and leaves one
        # window, brought forward.
        other = harness.helper(["xmessage", "other"], {"DISPLAY": self.display.name})
        self.addCleanup(harness.stop, other)
        active = lambda: harness._x(self.display, "xdotool", "getactivewindow").stdout.strip()
        self.assertTrue(harness.wait_for(lambda: active() not in ("", shown[0]), 10))
        self.assertEqual(self.session.start(folder, command=command).wait(timeout=10), 0)
        self.assertEqual(settings_windows(self.display), shown)
        self.assertTrue(harness.wait_for(lambda: active() == shown[0], 5), "not brought forward")

        # Space ticks 0 o'clock, where the focus starts; Tab past the other 23 hours and Busy to
        # the volume, whose unreadable value shows as 100; Left ten times; Enter is OK.
        harness._x(self.display, "xdotool", "key", "--delay", "40", "space",
                   *["Tab"] * 25, *["Left"] * 10, "Return")
        self.assertEqual(opener.wait(timeout=10), 0, "OK did not close the window")
        self.assertEqual(harness.read_text(ini).encode("latin-1").decode(),
                         "[Form]\r\nQuit=0\r\n; my notes\r\n[Chime]\r\nVolume=90\r\nQuiet=0\r\n"
                         "[Other]\r\nKey=値\r\n")
        # The window neither started a time signal nor registered as a running copy.
        self.assertIsNone(running.poll())
        self.assertEqual([n for n in sorted(os.listdir(self.session.runtime))
                          if not n.endswith(".window")], records)

        # Escape is Cancel: nothing is written.
        before = os.stat(ini).st_mtime_ns
        opener = self.session.start(folder, command=command)
        self.assertTrue(harness.wait_for(lambda: settings_windows(self.display), 15, 0.2))
        harness._x(self.display, "xdotool", "key", "--delay", "40", "space", "Escape")
        self.assertEqual(opener.wait(timeout=10), 0, "Escape did not close the window")
        self.assertEqual(os.stat(ini).st_mtime_ns, before)
