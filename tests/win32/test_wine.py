# The real velmorin.exe from the zip's folder, and the installer, under wine on Xvfb with a
# faked clock, watched from outside: the files the program opens (inotify), the settings file it
# writes, the windows it maps, the files, shortcuts and registry values the installer leaves.

import math
import os
import tempfile
import time
import unittest

import winelib
from winelib import harness

# Files opened besides the sounds: the program itself (wine maps it), the settings file, and
# the folder (wine lists it to find a file).
ROUTINE = {"velmorin.exe", "Velmorin.ini", "."}
QUARTER_TONE = 2000  # Hz, no hour's tone
ARTIFACTS = os.environ.get("VELMORIN_ARTIFACTS") or os.path.join(
    os.path.dirname(os.path.abspath(winelib.ZIP)), "test-artifacts")


def offset_to(seconds_before):
    # A whole-second clock offset that puts the faked clock `seconds_before` a 15:00:00 UTC, so the
    # hour's sound is 03.WAV; and that 15:00:00 as an epoch time.
    now = time.time()
    target = math.floor(now / 86400) * 86400 + 15 * 3600 - seconds_before
    return round(target - now), target + seconds_before


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
                clock = harness.SteppedClock(self.session.root, offset_to(-3630)[0])
                with harness.rig.Watch(folder) as watch:
                    copy = self.session.start(folder, lang=lang, env=clock.env)
                    self.assertTrue(harness.wait_for(lambda: harness.read_text(
                        harness.settings_path(folder)) == "[Form]\r\nQuit=0\r\n", 20))
                    offset, hour = offset_to(6)
                    clock.set(offset)
                    opens = [(name, at + offset - hour) for name, at
                             in winelib.opens_until(watch, ROUTINE, hour + 9.6 - offset, 0)]
                self.assertEqual(titled("Velmorin"), [], "the first copy shows a window")
                # From its start on: 03.WAV, opened at 15:00:00 and 15:00:08 within half a
                # second (how soon is measured in bench/), and nothing else.
                self.assertEqual({name for name, _ in opens}, {"03.WAV"}, opens)
                for second in (0, 8):
                    late = [at - second for _, at in opens if second <= at < second + 1]
                    self.assertTrue(late and late[0] < 0.5, f"15:00:0{second}: {opens}")
                self.assertTrue(all(0 <= at < 1 or 8 <= at < 9 for _, at in opens), opens)
                written = time.monotonic()
                harness.write_quit(folder, 1)
                # One tick of 800 ms, and the process's own end under wine on a busy machine.
                self.assertEqual(copy.wait(timeout=5), 0)
                self.assertLess(time.monotonic() - written, 1.5, "Quit=1 ended the copy late")

    def test_a_quiet_hour_is_silent_and_the_next_ones_play_at_the_volume_asked(self):
        # Quiet=15 and Volume=25: 15:00 is silent, and 16:00 and 17:00 play their 8-bit and
        # 16-bit tones at a quarter of their level, as the sound server hears them, and so does
        # the quarter at 17:15. Busy=1 asks the shell, which does not report this wine session
        # busy. Speak=1 finds no voice under wine: 17:00:08 is followed by silence.
        sink = harness.SoundServer(self.session.root)
        self.addCleanup(sink.close)
        folder = self.session.program_folder()
        for hour, width in ((3, 2), (4, 1), (5, 2)):
            harness.write_tone(os.path.join(folder, f"{hour:02}.WAV"),
                               harness.tone_frequency(hour), 0.5, width=width)
        harness.write_tone(os.path.join(folder, "QUARTER1.WAV"), QUARTER_TONE, 0.5)
        with open(harness.settings_path(folder), "w") as f:
            f.write("[Chime]\r\nQuiet=15\r\nBusy=1\r\nVolume=25\r\nQuarters=1\r\nSpeak=1\r\n")
        clock = harness.SteppedClock(self.session.root, offset_to(30)[0])
        self.session.start(folder, env={**clock.env, **sink.environment})
        self.assertTrue(harness.wait_for(lambda: harness.quit_value(folder) == "0", 20))
        for seconds, wait in ((0, 4.5), (3600, 4.5), (7200, 20), (8100, 4.5)):
            # From two seconds before 15, 16, 17 o'clock and 17:15 to just after their first
            # chime; well past the second one at 17:00, where the words would follow: looking
            # for a voice starts SAPI on the event thread, which under wine on a busy machine can
            # take seconds that a real quarter of an hour has but this compressed one has not.
            clock.set(offset_to(2 - seconds)[0])
            time.sleep(wait)
        samples = sink.samples()
        spans = harness.sound_spans(samples)
        tones = [harness.tone_frequency(hour) for hour in (3, 4, 5)] + [QUARTER_TONE]
        self.assertEqual([harness.dominant_frequency(samples, s, tones) for s, _ in spans],
                         [tones[1], tones[2], tones[2], QUARTER_TONE])
        for span in spans:
            self.assertAlmostEqual(harness.level(samples, span), harness.TONE_LEVEL / 4,
                                   delta=harness.TONE_LEVEL / 20)

    def test_second_copy_control_window_at_96_and_144_dpi_about_and_alarm_quit(self):
        for dpi in (96, 144):
            # The screen's DPI as the Display control panel sets it.
            self.session.wine("wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v",
                              "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
            self.session.wine("wineserver", "-w")
            # The second copy starts from another folder, as a zip unpacked beside the
            # installed program.
            first_folder = self.session.program_folder(f"Installed {dpi}")
            first = self.session.start(first_folder)
            self.assertTrue(harness.wait_for(lambda: harness.quit_value(first_folder) == "0", 20))
            folder = self.session.program_folder(f"Velmorin {dpi}")
            harness.write_quit(folder, 7)
            second = self.session.start(folder)
            shown = harness.wait_for(lambda: titled("Velmorin"), 20)
            self.assertTrue(shown, "the second copy shows no control window")
            self.assertEqual(harness.quit_value(folder), "0")
            control = shown[0]
            harness.save_window(DISPLAY, control["id"],
                                os.path.join(ARTIFACTS, f"wine-control-window-{dpi}dpi.png"))
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
            first_ended, clicked = harness.rig.ExitWatch(first), time.monotonic()
            harness.click(DISPLAY, control["id"], harness.twips_to_pixels(1470, dpi),
                          harness.twips_to_pixels(2600, dpi))
            second.wait(timeout=5)
            # One tick of 800 ms, and the process's own end under wine.
            self.assertLess((first_ended.wait(timeout=5) or math.inf) - clicked, 1.5,
                            "Alarm Quit did not end the copy from the other folder within a tick")
            self.assertEqual((harness.quit_value(folder), harness.quit_value(first_folder)),
                             ("1", "1"))

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
        path = os.path.join(ARTIFACTS, "wine-about-window.png")
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

    def test_settings_window_by_keyboard_writes_the_changed_keys_alone(self):
        folder = self.session.program_folder()
        ini = harness.settings_path(folder)
        with open(ini, "wb") as f:
            f.write(b"[Form]\r\nQuit=0\r\n; notes\r\n[Chime]\r\nVolume=loud\r\n[Other]\r\nKey=1\r\n")
        opener = self.session.start(folder, arguments=["/settings"])
        shown = harness.wait_for(lambda: titled("Velmorinの設定"), 20)
        self.assertTrue(shown, "/settings showed no window")
        self.assertEqual((shown[0]["width"], shown[0]["height"]), (560, 280))
        time.sleep(1)
        harness.save_window(DISPLAY, shown[0]["id"], "/tmp/settings-wine.png")
        # A second request ends at once and leaves the one window.
        self.assertEqual(self.session.start(folder, arguments=["--settings"]).wait(timeout=30), 0)
        self.assertEqual(len(titled("Velmorinの設定")), 1)
        # Space ticks 0 o'clock, where the focus starts; Tab past the other hours and Busy to the
        # volume, unreadable and so at 100; Left ten times; Enter is OK.
        for key in ["space"] + ["Tab"] * 25 + ["Left"] * 10 + ["Return"]:
            harness.press_key(DISPLAY, shown[0]["id"], key)
        self.assertEqual(opener.wait(timeout=20), 0, "OK did not close the window")
        self.assertEqual(harness.read_text(ini), "[Form]\r\nQuit=0\r\n; notes\r\n[Chime]\r\n"
                         "Volume=90\r\nQuiet=0\r\n[Other]\r\nKey=1\r\n")

    def test_without_a_display_it_says_so_and_exits(self):
        folder = self.session.program_folder()
        copy = self.session.start(folder, display=False, limit=30)
        _, errors = copy.communicate(timeout=40)
        self.assertNotIn(copy.returncode, (0, 124), "124: it hung without a display")
        self.assertIn(b"no display", errors)
        # The command line is answered with or without a display: in a message box, and on the
        # standard output or error that wine gives it.
        for option, display, status, said in (("--bogus", False, 2, b"'--bogus'"),
                                              ("--version", True, 0, b"3.04.0006")):
            copy = self.session.start(folder, display=display, limit=30, arguments=[option])
            if display:
                box = harness.wait_for(lambda: titled("Velmorin"), 20)
                self.assertTrue(box, "no message box")
                harness.press_key(DISPLAY, box[0]["id"], "Return")
            out, errors = copy.communicate(timeout=40)
            self.assertEqual(copy.returncode, status, errors)
            self.assertIn(said, out + errors)
        self.assertFalse(os.path.exists(os.path.join(folder, "Velmorin.ini")))


class Installer(unittest.TestCase):
    # The per-user installer: install, upgrade over a running copy, uninstall.

    def setUp(self):
        self.session = winelib.WineSession(DISPLAY, READY)
        self.addCleanup(self.session.close)
        self.users = os.path.join(self.session.prefix, "drive_c", "users")
        self.home = next(os.path.join(self.users, u) for u in os.listdir(self.users)
                         if u != "Public")
        self.folder = os.path.join(self.home, "AppData", "Local", "Programs", "Velmorin")
        self.exe = "C:" + self.folder.split("drive_c")[1].replace("/", "\\") + "\\velmorin.exe"

    def registry(self, key):
        # A key exported as {key: [lines]}; wine writes the console defaults under HKCU\Console the
        # first time a console opens, which Windows has from the start.
        path = os.path.join(self.session.root, "export.reg")
        self.session.wine("wine", "reg", "export", key, path, "/y")
        with open(path, encoding="utf-16") as f:
            blocks = [b.splitlines() for b in f.read().split("\n\n") if b.startswith("[")]
        return {b[0]: b[1:] for b in blocks if b[0] != r"[HKEY_CURRENT_USER\Console]"}

    def user_files(self):
        return {os.path.relpath(os.path.join(d, n), self.users)
                for d, dirs, files in os.walk(self.users) for n in dirs + files}

    def copies(self):
        # The copies running from the installed folder in this prefix.
        def read(pid, name):
            try:
                with open(f"/proc/{pid}/{name}", "rb") as f:
                    return f.read().split(b"\0")
            except OSError:
                return [b""]

        mine = f"WINEPREFIX={self.session.prefix}".encode()
        return [pid for pid in filter(str.isdigit, os.listdir("/proc"))
                if read(pid, "cmdline")[0].decode(errors="replace").lower() == self.exe.lower()
                and mine in read(pid, "environ")]

    def wait_for_copies(self, count, old=()):
        # Waits until `count` copies run from the installed folder, none of them in `old`, and the
        # settings file holds the cleared quit request that every copy writes.
        def ready():
            running = self.copies()
            fresh = len(running) == count and not set(old) & set(running)
            return running if fresh and harness.quit_value(self.folder) == "0" else None

        running = harness.wait_for(ready, 10, 0.2)
        self.assertTrue(running, f"expected {count} new copies and Quit=0: {self.copies()}")
        return running

    def test_install_upgrade_uninstall(self):
        setup = os.environ["VELMORIN_SETUP"]
        files_before, registry_before = self.user_files(), self.registry("HKCU")
        programs = os.path.join(self.home, "AppData", "Roaming", "Microsoft", "Windows",
                                "Start Menu", "Programs")
        menu, startup, settings = (os.path.join(programs, "Velmorin.lnk"),
                                   os.path.join(programs, "StartUp", "Velmorin.lnk"),
                                   os.path.join(programs, "Velmorin Settings.lnk"))

        self.assertEqual(self.session.wine("wine", setup, "/S"), 0)
        self.wait_for_copies(1)
        self.assertEqual(set(os.listdir(self.folder)),
                         winelib.SHIPPED | {"uninstall.exe", "Velmorin.ini"})
        for link in (menu, startup, settings):
            with open(link, "rb") as f:
                self.assertIn(self.exe.encode(), f.read())
        with open(settings, "rb") as f:
            self.assertIn("/settings".encode("utf-16-le"), f.read())
        key = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmorin"
        values = dict(line.split("=", 1) for line in self.registry(key)[f"[{key}]"])
        exe = self.exe.replace("\\", "\\\\")
        uninstaller = exe.replace("velmorin.exe", "uninstall.exe")
        expected = {'"DisplayName"': '"Velmorin"', '"DisplayVersion"': '"3.04.0006"',
                    '"DisplayIcon"': f'"{exe},0"', '"UninstallString"': f'"\\"{uninstaller}\\""',
                    '"QuietUninstallString"': f'"\\"{uninstaller}\\" /S"',
                    '"NoModify"': "dword:00000001", '"NoRepair"': "dword:00000001"}
        self.assertEqual({k: values[k] for k in expected}, expected)
        self.assertGreater(len(values['"Publisher"']), 2)
        size = sum(os.path.getsize(os.path.join(self.folder, n))
                   for n in winelib.SHIPPED | {"uninstall.exe"})
        self.assertAlmostEqual(int(values['"EstimatedSize"'][6:], 16), size / 1024, delta=2)

        # The menu entry, chosen while the time signal runs, starts the copy that shows the
        # control window. An upgrade then ends both and starts one new copy.
        # "00" still reads as 0; the new copy's start-up writes "0" over it.
        harness.write_quit(self.folder, "00")
        self.session.wine("wine", "start", "/unix", menu)
        old = self.wait_for_copies(2)
        self.assertTrue(harness.wait_for(lambda: titled("Velmorin"), 20), "no control window")
        self.assertEqual(self.session.wine("wine", setup, "/S", "/NOSTARTUP"), 0)
        self.wait_for_copies(1, old)
        self.assertTrue(os.path.exists(menu))
        self.assertFalse(os.path.exists(startup))

        uninstall = os.path.join(self.folder, "uninstall.exe")
        self.assertEqual(self.session.wine("wine", uninstall, "/S"), 0)
        # The uninstaller goes on in a copy of itself after this returns.
        self.assertEqual(self.session.wine("wineserver", "-w"), 0)
        self.assertEqual(self.copies(), [])
        self.assertEqual(self.user_files(), files_before)
        self.assertEqual(self.registry("HKCU"), registry_before)

