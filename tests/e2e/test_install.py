# The per-user install as a user meets it: installed into a temporary home, started the way
# the desktop starts it, upgraded under a running copy, and removed without a trace; and the
# set-up of a machine by a user who is not root and has no sudo.

import filecmp
import hashlib
import os
import shlex
import shutil
import subprocess

import harness

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
SCRIPT = os.path.join(SCRIPTS, "install.sh")


def snapshot(root):
    # Every path under root with what it holds, to compare a home before and after.
    found = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            if os.path.islink(path) or os.path.isdir(path):
                found[path] = os.readlink(path) if os.path.islink(path) else "folder"
            else:
                with open(path, "rb") as f:
                    found[path] = hashlib.sha256(f.read()).hexdigest()
    return found


def exec_line(entry):
    with open(entry) as f:
        line = next(line for line in f if line.startswith("Exec="))
    return shlex.split(line[len("Exec="):].strip().replace("\\\\", "\\"))


class InstallTest(harness.SessionTest):
    def setUp(self):
        super().setUp()
        # A blank in the home folder, which the Exec lines must quote.
        self.home = os.path.join(self.session.root, "home of user")
        self.data = os.path.join(self.home, "data")
        self.config = os.path.join(self.home, "config")
        os.makedirs(os.path.join(self.config, "autostart"))
        os.makedirs(os.path.join(self.home, ".cache"))
        with open(os.path.join(self.config, "autostart", "other.desktop"), "w") as f:
            f.write("not ours\n")
        self.env = {"HOME": self.home, "XDG_DATA_HOME": self.data, "XDG_CONFIG_HOME": self.config,
                    "XDG_RUNTIME_DIR": self.session.runtime, "SDL_AUDIODRIVER": "disk",
                    "SDL_DISKAUDIOFILE": os.devnull}

    def run_script(self, *arguments, display=True):
        # An empty DISPLAY is no display, for the script as for the program.
        env = {**os.environ, **self.env, "DISPLAY": self.display.name if display else ""}
        result = subprocess.run(["bash", SCRIPT, *arguments], env=env, capture_output=True,
                                text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def install(self, **options):
        icons = os.path.join(os.path.dirname(harness.PROGRAM_DIR), "pictures", "icons")
        return self.run_script("install", harness.PROGRAM_DIR, icons, **options)

    def start_entry(self, entry):
        return self.session.start(self.folder, env=self.env, command=exec_line(entry))

    def started(self):
        return harness.wait_for(lambda: harness.quit_value(self.folder) == "0", 10)

    def test_install_start_upgrade_and_uninstall(self):
        before = snapshot(self.home)
        self.folder = os.path.join(self.data, "velmorin")
        menu = os.path.join(self.data, "applications", "velmorin.desktop")
        autostart = os.path.join(self.config, "autostart", "velmorin.desktop")

        said = self.install(display=False)
        self.assertIn("No display", said)
        shipped = sorted(os.listdir(harness.PROGRAM_DIR))
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(shipped + [".install-manifest"]))
        self.assertEqual(filecmp.cmpfiles(harness.PROGRAM_DIR, self.folder, shipped, False)[0],
                         shipped)
        link = os.path.join(self.home, ".local", "bin", "velmorin")
        self.assertEqual(os.readlink(link), os.path.join(self.folder, "velmorin"))
        for size in (16, 32, 48, 64, 128, 256):
            icon = os.path.join(self.data, f"icons/hicolor/{size}x{size}/apps/velmorin.png")
            with open(icon, "rb") as f:
                header = f.read(24)
            self.assertEqual((int.from_bytes(header[16:20], "big"),
                              int.from_bytes(header[20:24], "big")), (size, size), icon)
        validated = subprocess.run(["desktop-file-validate", menu, autostart],
                                   capture_output=True, text=True)
        self.assertEqual((validated.returncode, validated.stdout + validated.stderr), (0, ""))

        # At login: the time signal runs hidden, and a request left by an earlier run does not
        # stop it. From the menu: the control window.
        harness.write_quit(self.folder, 1)
        first = self.start_entry(autostart)
        self.assertTrue(self.started(), "the time signal did not start")
        second = self.start_entry(menu)
        self.assertTrue(harness.wait_for(lambda: harness.windows_of(self.display, second), 10),
                        "the menu entry showed no control window")
        self.assertEqual(harness.windows_of(self.display, first), [])

        # An upgrade under the running copies replaces files by rename, keeps a WAV the user
        # changed, and starts no third copy.
        own = os.path.join(self.folder, "03.WAV")
        harness.write_tone(own, 1900, 0.5)
        with open(own, "rb") as f:
            own_bytes = f.read()
        old_inode = os.stat(os.path.join(self.folder, "00.WAV")).st_ino
        said = self.install()
        self.assertIn("Kept your own 03.WAV", said)
        self.assertIn("already runs", said)
        with open(own, "rb") as f:
            self.assertEqual(f.read(), own_bytes)
        self.assertNotEqual(os.stat(os.path.join(self.folder, "00.WAV")).st_ino, old_inode)
        self.assertTrue(os.readlink(f"/proc/{first.pid}/exe").endswith(" (deleted)"))
        self.assertEqual(len(harness.processes_under(self.folder)), 2)
        self.assertIsNone(first.poll(), "the upgrade stopped the running copy")
        self.assertEqual(harness.quit_value(self.folder), "0")

        # Uninstall asks both copies to end, and they still obey.
        said = self.run_script("uninstall")
        self.assertEqual((first.wait(timeout=3), second.wait(timeout=3)), (0, 0))
        self.assertIn(f"Removed {menu}", said)
        self.assertEqual(snapshot(self.home), before)
        self.assertEqual(os.listdir(self.session.runtime), [], "the lock or records were left")
        self.assertIn("nothing to remove", self.run_script("uninstall"))

        # With a display and no copy running, install starts the time signal, hidden; without
        # a login entry, and with the lock in the cache folder, as without XDG_RUNTIME_DIR.
        self.env.update(AUTOSTART="0", XDG_RUNTIME_DIR="")
        said = self.install()
        self.assertIn("Started the time signal; it does not start at login", said)
        self.assertTrue(self.started(), "install started nothing")
        self.assertEqual(len(harness.processes_under(self.folder)), 1)
        self.assertEqual(harness.mapped_windows(self.display), [])
        self.assertFalse(os.path.exists(autostart))
        self.run_script("uninstall")
        self.assertEqual(harness.processes_under(self.folder), [])
        self.assertEqual(snapshot(self.home), before)


    def test_setup_without_root_or_sudo_says_in_one_line_what_to_run(self):
        # A PATH without sudo, on which dpkg-query finds no package installed.
        path = os.path.join(self.session.root, "bin")
        os.mkdir(path)
        for tool in ("id", "grep"):
            os.symlink(shutil.which(tool), os.path.join(path, tool))
        with open(os.path.join(path, "dpkg-query"), "w") as f:
            f.write("#!/bin/sh\nexit 1\n")
        os.chmod(os.path.join(path, "dpkg-query"), 0o755)
        os.chmod(self.session.root, 0o755)
        user = [shutil.which("setpriv"), "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        result = subprocess.run(user * (os.geteuid() == 0) + ["/bin/bash", SCRIPTS + "/setup.sh"],
                                env={"PATH": path}, capture_output=True, text=True, timeout=30)
        said = (result.stdout + result.stderr).splitlines()
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(len(said), 1, said)
        self.assertIn("su -c 'apt-get update && apt-get install -y --no-install-recommends cmake ",
                      said[0])
