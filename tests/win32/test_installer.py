"""The Windows installer under wine, as a user meets it: a silent install puts the program, its
shortcuts and its uninstall entry down and starts the time signal; installing again while it
runs ends the old copy and starts the new one; the uninstaller leaves the user's folders and
HKCU exactly as they were. VELMORIN_SETUP names the setup.exe to test."""

import os
import re
import tempfile
import time
import unittest

import winelib
from winelib import harness

SETUP = os.environ.get("VELMORIN_SETUP", "")
UNINSTALL_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmorin"


class Installer(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.isfile(SETUP), "set VELMORIN_SETUP to the built setup.exe")
        scratch = tempfile.TemporaryDirectory(prefix="velmorin-setup-")
        self.addCleanup(scratch.cleanup)
        display = harness.Display()
        self.addCleanup(display.close)
        self.session = winelib.WineSession(display, winelib.ready_prefix(scratch.name))
        self.addCleanup(self.session.close)
        self.users = os.path.join(self.session.prefix, "drive_c", "users")
        self.user = next(u for u in os.listdir(self.users) if u != "Public")
        self.home = os.path.join(self.users, self.user)
        self.folder = os.path.join(self.home, "AppData", "Local", "Programs", "Velmorin")
        self.exe = rf"C:\users\{self.user}\AppData\Local\Programs\Velmorin\velmorin.exe"

    def wine(self, *command):
        return winelib.wine(self.session.prefix, *command,
                            env={"DISPLAY": self.session.display.name})

    def registry(self, key):
        """A key exported as {key: [lines]}; wine writes the console defaults under
        HKCU\\Console the first time a console opens, which Windows has from the start."""
        path = os.path.join(self.session.root, "export.reg")
        self.wine("wine", "reg", "export", key, path, "/y")
        with open(path, encoding="utf-16") as f:
            blocks = [b.splitlines() for b in f.read().split("\n\n") if b.startswith("[")]
        return {b[0]: b[1:] for b in blocks if b[0] != r"[HKEY_CURRENT_USER\Console]"}

    def user_files(self):
        return {os.path.relpath(os.path.join(d, n), self.users)
                for d, dirs, files in os.walk(self.users) for n in dirs + files}

    def copies(self):
        """The copies running from the installed folder in this prefix."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    command = f.read().split(b"\0")[0].decode(errors="replace")
                with open(f"/proc/{pid}/environ", "rb") as f:
                    mine = f"WINEPREFIX={self.session.prefix}".encode() in f.read().split(b"\0")
            except OSError:
                continue
            if mine and command.lower() == self.exe.lower():
                found.append(pid)
        return found

    def wait_for_copies(self, count, old=()):
        """Waits until `count` copies run from the installed folder, none of them in `old`,
        and the settings file holds the cleared quit request that every copy writes."""
        for _ in range(50):
            running = self.copies()
            ini = os.path.join(self.folder, "Velmorin.ini")
            with open(ini if os.path.exists(ini) else os.devnull, "rb") as f:
                text = f.read().replace(b"\0", b"")  # ANSI or UTF-16
            cleared = re.search(rb"^Quit=0\r?$", text, re.M) is not None
            if len(running) == count and cleared and not set(old) & set(running):
                return running
            time.sleep(0.2)
        self.fail(f"expected {count} new copies with Quit=0, found {self.copies()} ({old} old)")

    def test_install_upgrade_uninstall(self):
        files_before, registry_before = self.user_files(), self.registry("HKCU")
        programs = os.path.join(self.home, "AppData", "Roaming", "Microsoft", "Windows",
                                "Start Menu", "Programs")
        menu, startup = (os.path.join(programs, "Velmorin.lnk"),
                         os.path.join(programs, "StartUp", "Velmorin.lnk"))

        self.assertEqual(self.wine("wine", SETUP, "/S"), 0)
        self.wait_for_copies(1)
        self.assertEqual(set(os.listdir(self.folder)),
                         winelib.SHIPPED | {"uninstall.exe", "Velmorin.ini"})
        for link in (menu, startup):
            with open(link, "rb") as f:
                self.assertIn(self.exe.encode(), f.read())
        values = dict(line.split("=", 1) for line in self.registry(UNINSTALL_KEY)
                      [f"[{UNINSTALL_KEY}]"])
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
        self.wine("wine", "start", "/unix", menu)
        old = self.wait_for_copies(2)
        self.assertTrue(harness.wait_for(lambda: [w for w in harness.mapped_windows(
            self.session.display) if w["title"] == "Velmorin"], 20), "no control window")
        self.assertEqual(self.wine("wine", SETUP, "/S", "/NOSTARTUP"), 0)
        self.wait_for_copies(1, old)
        self.assertTrue(os.path.exists(menu))
        self.assertFalse(os.path.exists(startup))

        self.assertEqual(self.wine("wine", os.path.join(self.folder, "uninstall.exe"), "/S"), 0)
        # The uninstaller goes on in a copy of itself after this returns.
        self.assertEqual(self.wine("wineserver", "-w"), 0)
        self.assertEqual(self.copies(), [])
        self.assertEqual(self.user_files(), files_before)
        self.assertEqual(self.registry("HKCU"), registry_before)


if __name__ == "__main__":
    unittest.main()
