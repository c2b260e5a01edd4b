"""The Windows installer under wine, as a user meets it: a silent install puts the program, its
shortcuts and its uninstall entry down and starts the time signal; installing again while it
runs ends the old copy and starts the new one; the uninstaller leaves the user's folders and
HKCU exactly as they were. VELMORIN_SETUP names the setup.exe to test; VELMORIN_WINE_PREFIX
may name a ready prefix to copy instead of booting a new one."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402  (Xvfb and the child clean-up)

try:
    import pefile
except ImportError:  # Debian's python3-pefile, under another interpreter of the same version
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

SETUP = os.environ.get("VELMORIN_SETUP", "")
UNINSTALL_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmorin"
SHIPPED = {f"{h:02}.WAV" for h in range(12)} | {"ABOUT.MID", "velmorin.exe"}


def resources(path):
    """The product's version strings, the version block's language and the icon images."""
    pe = pefile.PE(path)
    table = next(t for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
                 for t in info.StringTable)
    strings = {k: table.entries[k] for k in (b"ProductName", b"ProductVersion", b"FileVersion")}
    icons = next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 3)
    images = sorted(pe.get_data(i.directory.entries[0].data.struct.OffsetToData,
                                i.directory.entries[0].data.struct.Size)
                    for i in icons.directory.entries)
    return strings, table.LangID[:4], images


class Installer(unittest.TestCase):
    def setUp(self):
        if not os.path.isfile(SETUP):
            self.fail("set VELMORIN_SETUP to the built Velmorin-...-setup.exe")
        self.root = tempfile.mkdtemp(prefix="velmorin-setup-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.display = harness.Display()
        self.addCleanup(self.display.close)
        self.prefix = os.path.join(self.root, "prefix")
        self.addCleanup(self.wine, "wineserver", "-k")
        ready = os.environ.get("VELMORIN_WINE_PREFIX", "")
        if ready:
            subprocess.run(["cp", "-a", ready, self.prefix], check=True)
        else:
            self.assertEqual(self.wine("wineboot", "-i", limit=180), 0)
        self.wine("wineserver", "-w")
        self.users = os.path.join(self.prefix, "drive_c", "users")
        self.user = next(u for u in os.listdir(self.users) if u != "Public")
        self.home = os.path.join(self.users, self.user)
        self.folder = os.path.join(self.home, "AppData", "Local", "Programs", "Velmorin")
        self.exe = rf"C:\users\{self.user}\AppData\Local\Programs\Velmorin\velmorin.exe"

    def wine(self, *command, limit=60):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.root,
               "WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "LANG": "C.UTF-8",
               "WINEDLLOVERRIDES": "winemenubuilder.exe=d", "DISPLAY": self.display.name}
        return subprocess.run(["timeout", "-k", "5", str(limit)] + list(command), env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              preexec_fn=harness.die_with_test).returncode

    def registry(self, key):
        """A key exported as {key: [lines]}; wine writes the console defaults under
        HKCU\\Console the first time a console opens, which Windows has from the start."""
        path = os.path.join(self.root, "export.reg")
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
                    mine = f"WINEPREFIX={self.prefix}".encode() in f.read().split(b"\0")
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
        self.assertEqual(set(os.listdir(self.folder)), SHIPPED | {"uninstall.exe", "Velmorin.ini"})
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
        size = sum(os.path.getsize(os.path.join(self.folder, n)) for n in SHIPPED)
        size += os.path.getsize(os.path.join(self.folder, "uninstall.exe"))
        self.assertAlmostEqual(int(values['"EstimatedSize"'][6:], 16), size / 1024, delta=2)
        # The installer carries the program's own icon and version block.
        self.assertEqual(resources(SETUP), resources(os.path.join(self.folder, "velmorin.exe")))

        # The menu entry, chosen while the time signal runs, starts the copy that shows the
        # control window. An upgrade then ends both and starts one new copy.
        # "00" still reads as 0; the new copy's start-up writes "0" over it.
        with open(os.path.join(self.folder, "Velmorin.ini"), "wb") as f:
            f.write(b"[Form]\r\nQuit=00\r\n")
        self.wine("wine", "start", "/unix", menu)
        old = self.wait_for_copies(2)
        self.assertEqual(self.wine("wine", SETUP, "/S", "/NOSTARTUP"), 0)
        self.wait_for_copies(1, old)
        self.assertTrue(os.path.exists(menu))
        self.assertFalse(os.path.exists(startup))

        uninstall = os.path.join(self.folder, "uninstall.exe")
        self.assertEqual(self.wine("wine", uninstall, "/S"), 0)
        # The uninstaller goes on in a copy of itself after this returns.
        self.assertEqual(self.wine("wineserver", "-w"), 0)
        self.assertEqual(self.copies(), [])
        self.assertEqual(self.user_files(), files_before)
        self.assertEqual(self.registry("HKCU"), registry_before)


if __name__ == "__main__":
    unittest.main()
