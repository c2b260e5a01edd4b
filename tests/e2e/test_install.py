# The per-user install as a user meets it: installed into a temporary home, started the way
# the desktop starts it, upgraded under a running copy, and removed without a trace; and the
# set-up of a machine by a user who is not root and has no sudo.

import contextlib
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


def copies_under(folder):
    # The running copies of the program; near the hour each also runs its sound helper, which
    # is not a copy.
    def is_copy(pid):
        with contextlib.suppress(OSError):
            return os.path.basename(os.readlink(f"/proc/{pid}/exe")).split()[0] != "velmorin-sound"
        return False
    return list(filter(is_copy, harness.processes_under(folder)))


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
        # The program the script starts inherits this, and nothing of the caller's desktop.
        env = harness.tool_environment({**self.env, "DISPLAY": self.display.name if display
                                        else ""})
        result = subprocess.run(["bash", SCRIPT, *arguments], env=env, capture_output=True,
                                text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def install(self, **options):
        icons = os.path.join(os.path.dirname(harness.PROGRAM_DIR), "pictures", "icons")
        return self.run_script("install", self.built, icons, **options)

    def start_entry(self, entry):
        return self.session.start(self.folder, env=self.env, command=exec_line(entry))

    def started(self):
        return harness.wait_for(lambda: harness.quit_value(self.folder) == "0", 10)

    def test_install_start_upgrade_and_uninstall(self):
        before = snapshot(self.home)
        self.folder = os.path.join(self.data, "velmorin")
        menu = os.path.join(self.data, "applications", "velmorin.desktop")
        autostart = os.path.join(self.config, "autostart", "velmorin.desktop")

        # A build folder the program has run from (make run) holds that run's settings file,
        # here with a quit request: it is not installed.
        self.built = self.session.program_folder("built")
        shipped = sorted(os.listdir(self.built))
        with open(harness.settings_path(self.built), "w") as f:
            f.write("[Form]\nQuit=1\n[Chime]\nVolume=5\n")
        said = self.install(display=False)
        self.assertIn("No display", said)
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(shipped + [".install-manifest"]))
        self.assertEqual(filecmp.cmpfiles(self.built, self.folder, shipped, False)[0], shipped)
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
        # The menu entry's one action opens the settings window.
        with open(menu) as f:
            _, action = f.read().split("\nActions=Settings;\n\n[Desktop Action Settings]\n")
        self.assertEqual(shlex.split(action.split("Exec=")[1].strip().replace("\\\\", "\\")),
                         exec_line(menu) + ["--settings"])

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
        with open(harness.settings_path(self.folder), "a") as f:
            f.write("[Chime]\r\nQuiet=22-7\r\n")
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
        self.assertEqual(len(copies_under(self.folder)), 2)
        self.assertIsNone(first.poll(), "the upgrade stopped the running copy")
        self.assertEqual(harness.quit_value(self.folder), "0")
        self.assertIn("Quiet=22-7", harness.read_text(harness.settings_path(self.folder)))

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
        self.assertEqual(len(copies_under(self.folder)), 1)
        self.assertEqual(harness.mapped_windows(self.display), [])
        self.assertFalse(os.path.exists(autostart))
        self.run_script("uninstall")
        self.assertTrue(harness.wait_for(lambda: not harness.processes_under(self.folder), 5))
        self.assertEqual(snapshot(self.home), before)


    def test_setup_without_root_or_sudo_says_in_one_line_what_to_run(self):
        # The script copied where nobody may read it, wherever the checkout is; a PATH of a few
        # tools on which dpkg-query finds no package installed; no terminal, as from a script.
        os.chmod(self.session.root, 0o755)
        script = shutil.copy(os.path.join(SCRIPTS, "setup.sh"), self.session.root)
        user = [shutil.which("setpriv"), "--reuid=nobody", "--regid=nogroup", "--clear-groups"]

        def setup(name, env=None, **tools):
            path = os.path.join(self.session.root, name)
            os.mkdir(path)
            for tool in ("id", "grep", "env", "mktemp", "tail", "rm"):
                os.symlink(shutil.which(tool), os.path.join(path, tool))
            for tool, text in {"dpkg-query": "exit 1", **tools}.items():
                with open(os.path.join(path, tool), "w") as f:
                    f.write(f"#!/bin/sh\n{text}\n")
                os.chmod(os.path.join(path, tool), 0o755)
            result = subprocess.run(user * (os.geteuid() == 0) + ["/bin/bash", script],
                                    env={"PATH": path, **(env or {})}, capture_output=True,
                                    text=True, timeout=30, start_new_session=True)
            self.assertNotEqual(result.returncode, 0)
            return (result.stdout + result.stderr).splitlines()

        su = "su -c 'apt-get update && apt-get install -y --no-install-recommends cmake "
        # A sudo that needs a password: without a terminal it is known before apt-get runs, and
        # with an askpass helper from what sudo says.
        sudo = ('[ "$1" = -n ] && echo "sudo: a password is required" >&2 || echo "sudo: a '
                'terminal is required to read the password; either use ..." >&2; exit 1')
        cases = [("no-sudo", None, {}, "there is no sudo"),
                 ("no-terminal", None, {"sudo": sudo}, "no terminal to ask it on"),
                 ("askpass", {"SUDO_ASKPASS": "/bin/false"}, {"sudo": sudo},
                  "(a terminal is required to read the password)")]
        if os.geteuid() == 0:  # the real sudo to a user it does not list: no prompt
            cases.append(("not-listed", None, {"sudo": 'exec /usr/bin/sudo "$@"'},
                          "sudo refuses you (Sorry, user nobody may not run sudo on"))
        for name, env, tools, reason in cases:
            said = setup(name, env, **tools)
            self.assertTrue(reason in said[-1] and su in said[-1], said)
            self.assertEqual(len(said), 2 if env else 1, said)
