# The resident time signal as a user meets it: the real program under Xvfb, the running-copy
# check (also against another user's locks) and a start without a display. The hour's sound is
# heard in the clock tests.

import math
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import harness

NOBODY = 65534
TICK = 0.8
# Two ticks: long enough for any copy to have read the settings file and shown its windows.
SETTLE = 2 * TICK + 0.1


# Another user's locks where a careless program would look for its own: a shared one under the
# old /tmp name, and an exclusive one in a cache folder of the squatter's making.
SQUATTER = r"""
import fcntl, os, sys
os.umask(0)
def hold(path, lock):
    os.makedirs(os.path.dirname(path), mode=0o777, exist_ok=True)
    fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o666)
    fcntl.flock(fd, lock)
    return fd
legacy = hold(sys.argv[1], fcntl.LOCK_SH)
hold(os.path.join(sys.argv[2], "velmorin", "velmorin.lock"), fcntl.LOCK_EX)
print("shared", flush=True)
sys.stdin.readline()
fcntl.flock(legacy, fcntl.LOCK_EX)
print("exclusive", flush=True)
sys.stdin.readline()
"""


def holds_lock(pid, path):
    # Whether the process holds a lock on the file, as the kernel lists them:
    # "1: FLOCK  ADVISORY  READ  PID MAJOR:MINOR:INODE 0 EOF".
    inode = os.stat(path).st_ino
    with open("/proc/locks") as f:
        return any(len(fields) == 8 and fields[4] == str(pid) and
                   fields[5].endswith(f":{inode}") for fields in map(str.split, f))


class TimeSignalTest(harness.SessionTest):
    def visible(self, process):
        return harness.windows_of(self.display, process)

    def test_without_a_display_or_once_it_has_gone_it_ends_saying_so_in_one_line(self):
        # A copy left over from the last session would make the next login's copy open its
        # control window.
        folder = self.session.program_folder()
        unused = next(f":{n}" for n in range(900, 1000)
                      if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        display = harness.Display()
        self.addCleanup(display.close)
        for name in (None, unused, display.name):
            with self.subTest(DISPLAY=name):
                process = self.session.start(folder, env={"DISPLAY": name})
                if name == display.name:
                    time.sleep(SETTLE)
                    self.assertIsNone(process.poll())
                    display.close()
                process.wait(timeout=5)
                error = process.stderr.read().decode(errors="replace")
                self.assertNotEqual(process.returncode, 0)
                self.assertEqual(len(error.splitlines()), 1, error)
                self.assertTrue(error.endswith("\n"), error)

    def test_the_check_sees_only_copies_still_running_and_alarm_quit_reaches_them_all(self):
        # A, the first copy, started in a terminal, says that it runs and how to reach it.
        master, terminal = pty.openpty()
        a_folder = self.session.program_folder("a")
        a = self.started(a_folder, stdin=terminal, stdout=terminal, stderr=terminal)
        os.close(terminal)
        self.assertTrue(select.select([master], [], [], 10)[0], "A said nothing in a terminal")
        said = os.read(master, 1000).decode()
        self.assertEqual((said.count("\n"), "control window" in said, "Ctrl-C" in said),
                         (1, True, True), said)
        b = self.started(self.session.program_folder("b"))
        self.assertTrue(harness.wait_for(lambda: self.visible(b), 10), "B did not see A")
        # B's control window closed from its title bar: B goes on, as lean as A (away from the
        # hour's chimes, which may hold it up to 18 s), and C and Alarm Quit still find it.
        # B has gone lean once it runs as the resident and holds the running-copy lock again,
        # which it lets go of for the milliseconds of its exec: C, started in them, would not
        # see it.
        harness.rig.close_window(self.display, self.visible(b)[0])
        lock = os.path.join(self.session.runtime, "velmorin.lock")
        self.assertTrue(harness.wait_for(lambda: harness.rig.runs_lean(b.pid) and
                                         holds_lock(b.pid, lock), 25), "B kept its toolkit")
        # A ends while B runs: C, started in yet another folder, must still see B.
        a.send_signal(signal.SIGTERM)
        a.wait(timeout=5)
        c = self.started(self.session.program_folder("c"))
        window = harness.wait_for(lambda: self.visible(c), 10)
        self.assertTrue(window, "C did not see B")
        # Alarm Quit in C ends B, which started from another folder, within a tick; A, gone,
        # gets no request.
        b_ended = harness.rig.ExitWatch(b)
        clicked = time.monotonic()
        harness.click(self.display, window[0], *(harness.twips_to_pixels(twips, self.display.dpi)
                                                 for twips in (1470, 2600)))
        self.assertLess((b_ended.wait(timeout=5) or math.inf) - clicked, TICK + 0.5,
                        "Alarm Quit did not end B within a tick")
        self.assertEqual(c.wait(timeout=5), 0)
        self.assertEqual(harness.quit_value(a_folder), "0")
        # Copies that ended, killed or on the request, leave no marker behind that would fool
        # the next one, which deletes their records; started with no terminal, it says nothing.
        d = self.started(self.session.program_folder("d"))
        time.sleep(SETTLE)
        self.assertIsNone(d.poll())
        self.assertEqual(self.visible(d), [], "D saw copies that had ended")
        self.assertEqual(sorted(os.listdir(self.session.runtime)),
                         [f"velmorin-{d.pid}.copy", "velmorin.lock"])
        d.kill()
        self.assertEqual(d.communicate(), (b"", b""))


    def test_help_version_and_a_wrong_option_answer_and_leave_a_running_copy_alone(self):
        folder = self.session.program_folder()
        running = self.started(folder)
        ini, command = harness.settings_path(folder), os.path.join(folder, "velmorin")
        before = (os.stat(ini).st_mtime_ns, os.listdir(self.session.runtime))
        for option, status, wanted in (("--help", 0, folder + ":\n  Velmorin.ini"),
                                       ("--version", 0, "3.04.0006 (its About window: Velmorin "
                                                        "Ver.3.5)\n"),
                                       ("--bogus", 2, "velmorin: unknown option '--bogus'; "
                                                      "velmorin --help lists the options\n")):
            for display in (self.display.name, None):
                copy = self.session.start(folder, env={"DISPLAY": display},
                                          command=[command, option])
                out, error = (text.decode() for text in copy.communicate(timeout=10))
                # An answer on standard output; a mistake in one line on standard error.
                said, quiet = (out, error) if status == 0 else (error, out)
                self.assertEqual((copy.returncode, quiet), (status, ""), error)
                self.assertIn(wanted, said)
        time.sleep(SETTLE)
        self.assertEqual(harness.mapped_windows(self.display), [], "a window opened")
        self.assertEqual((os.stat(ini).st_mtime_ns, os.listdir(self.session.runtime)), before)
        self.assertIsNone(running.poll())

    def test_a_folder_it_cannot_write_holding_quit_1_ends_it_saying_why(self):
        folder = self.session.program_folder()
        harness.write_quit(folder, 1)
        options = {}
        if os.geteuid() == 0:
            # Root writes anywhere: the copies run as nobody, in a folder of root's.
            os.chmod(self.session.root, 0o755)
            runtime = os.path.join(self.session.root, "nobody-runtime")
            os.mkdir(runtime, 0o700)
            os.chown(runtime, NOBODY, NOBODY)
            options = {"user": NOBODY, "env": {"XDG_RUNTIME_DIR": runtime}}
        os.chmod(folder, 0o555)
        self.addCleanup(os.chmod, folder, 0o755)
        # In a terminal it says why there, in one line, and ends with a failure status.
        master, terminal = pty.openpty()
        copy = self.session.start(folder, stdin=terminal, stdout=terminal, stderr=terminal,
                                  **options)
        os.close(terminal)
        self.assertEqual(copy.wait(timeout=10), 1)
        said = os.read(master, 1000).decode() if select.select([master], [], [], 1)[0] else ""
        self.assertRegex(said, rf"^velmorin: .*{harness.settings_path(folder)}.*Quit=1.*"
                               rf"\({os.strerror(13)}\)[^\n]*\r\n$")
        # From a menu or at login a message box says it, and the copy ends once it is closed.
        copy = self.session.start(folder, **options)
        box = harness.wait_for(lambda: harness.mapped_windows(self.display), 10)
        self.assertEqual([w["title"] for w in box or []], ["Velmorin"], "no message box")
        self.assertIsNone(copy.poll(), "it ended before the user could read why")
        harness.press_key(self.display, box[0]["id"], "Return")
        self.assertEqual(copy.wait(timeout=5), 1)
        self.assertNotIn(b"running", copy.stderr.read())
        # A request of 0 that it cannot write over: it runs, as ever.
        os.chmod(folder, 0o755)
        harness.write_quit(folder, 0)
        os.chmod(folder, 0o555)
        copy = self.session.start(folder, **options)
        time.sleep(SETTLE)
        self.assertIsNone(copy.poll(), "it ended with Quit=0")

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                         "runs the squatter as another user: needs root and setpriv")
    def test_another_users_locks_neither_fake_a_copy_nor_stop_the_program(self):
        legacy = f"/tmp/velmorin-{os.getuid()}.lock"
        if os.path.lexists(legacy):
            self.skipTest(f"{legacy} exists already")
        self.addCleanup(lambda: os.path.lexists(legacy) and os.remove(legacy))
        squat = tempfile.mkdtemp(prefix="velmorin-squat-")
        os.chmod(squat, 0o777)
        self.addCleanup(shutil.rmtree, squat, True)
        squatter = subprocess.Popen(
            ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", sys.executable,
             "-c", SQUATTER, legacy, squat], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            text=True, preexec_fn=harness.die_with_test)
        self.addCleanup(squatter.communicate)
        self.addCleanup(squatter.kill)
        self.assertEqual(squatter.stdout.readline().strip(), "shared")

        def victim(name, env, lines):
            # Starts as the only copy, ticks, obeys the quit request, and says `lines` lines.
            folder = self.session.program_folder(name)
            process = self.started(folder, env={"XDG_RUNTIME_DIR": None, **env})
            time.sleep(SETTLE)
            self.assertEqual(self.visible(process), [], f"{name}: took the squatter for a copy")
            harness.write_quit(folder, 1)
            process.wait(timeout=3)
            error = process.stderr.read().decode(errors="replace")
            self.assertEqual(len(error.splitlines()), lines, f"{name}: {error}")

        victim("shared", {}, 0)
        squatter.stdin.write("\n")
        squatter.stdin.flush()
        self.assertEqual(squatter.stdout.readline().strip(), "exclusive")
        victim("exclusive", {}, 0)
        # A cache folder another user writes to is no place for the lock: the program says so
        # once and runs as the only copy. So is one of this user's that others may write, or one
        # given to another user, even with a lock file of the program's own in it.
        victim("squatted", {"XDG_CACHE_HOME": squat}, 1)
        for name, mode, owner in (("open", 0o777, os.getuid()), ("given", 0o700, NOBODY)):
            folder = os.path.join(self.session.root, name + "-cache", "velmorin")
            os.makedirs(folder)
            os.close(os.open(os.path.join(folder, "velmorin.lock"), os.O_CREAT, 0o600))
            os.chmod(folder, mode)
            os.chown(folder, owner, -1)
            victim(name, {"XDG_CACHE_HOME": os.path.dirname(folder)}, 1)

