# Runs the real program from its program folder under Xvfb, with a faked clock and a captured
# audio stream, for the end-to-end tests.

import array
import contextlib
import ctypes
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "rig"))
import rig  # noqa: E402  (Xvfb, the folder watch, the quit request as a copy writes it)
import sound_server  # noqa: E402  (a private PulseAudio server and what reaches its sink)

PROGRAM_DIR = os.environ.get("VELMORIN_PROGRAM_DIR", "")
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
RATE = 44100
TONE_LEVEL = 12000  # the peak of the test tones


# Every process a test starts ends with the test (PR_SET_PDEATHSIG), even when CTest kills it.
die_with_test = rig.die_with_parent
# The quit request written as another copy writes it: the whole file, in one rename.
write_quit = rig.write_quit


class Display(rig.Display):
    # At 96 dots per inch, the resolution a Windows desktop has unless its user changed it; with
    # no window manager unless one is named (see WindowManager).
    def __init__(self, width=1280, height=1024, window_manager=None):
        super().__init__(width, height, dpi=96)
        self.window_manager = window_manager and WindowManager(self, window_manager)

    def close(self):
        if self.window_manager:
            self.window_manager.close()
        super().close()


class Session:
    # A user session: a display, a runtime folder of its own (so the running-copy check sees
    # only this test's copies) and a scratch folder for program folders and captures.

    def __init__(self, display):
        self.display = display
        self.root = tempfile.mkdtemp(prefix="velmorin-e2e-")
        self.runtime = os.path.join(self.root, "runtime")
        os.mkdir(self.runtime, 0o700)
        self.copies = []

    def program_folder(self, name="Velmorin", tones=False, tone_seconds=1.0):
        # With tones, each hour's sound is a sine whose frequency names the hour.
        if not os.path.isfile(os.path.join(PROGRAM_DIR, "velmorin")):
            raise RuntimeError(f"no program in VELMORIN_PROGRAM_DIR={PROGRAM_DIR!r}")
        folder = os.path.join(self.root, name)
        shutil.copytree(PROGRAM_DIR, folder, ignore=shutil.ignore_patterns("Velmorin.ini*"))
        for hour in range(12) if tones else ():
            write_tone(os.path.join(folder, f"{hour:02d}.WAV"), tone_frequency(hour), tone_seconds)
        return folder

    def start(self, folder, fake_start=None, capture=None, env=None, user=None, command=None,
              **streams):
        # fake_start: an epoch time the faked clock starts near, shifted by whole seconds so
        # that copies agree on the fractions (process.fake_offset); the monotonic clock stays
        # real, or no timed wait would end when it should. A name given None in env is left
        # out; command replaces the folder's executable (a desktop entry's Exec line). No
        # terminal unless streams give one, as from a menu or at login.
        environment = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.root,
            "DISPLAY": self.display.name, "XDG_RUNTIME_DIR": self.runtime, "TZ": "UTC",
            "LANG": "C.UTF-8", "SDL_AUDIODRIVER": "disk",
            "SDL_DISKAUDIOFILE": capture or os.devnull,
        }
        offset = 0 if fake_start is None else round(fake_start - time.time())
        if fake_start is not None:
            environment.update(LD_PRELOAD=FAKETIME_LIB, FAKETIME="%+d" % offset,
                               FAKETIME_DONT_FAKE_MONOTONIC="1")
        environment.update(env or {})
        environment = {k: v for k, v in environment.items() if v is not None}
        command = command or [os.path.join(folder, "velmorin")]
        if user is not None:
            command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + command
        streams = {"stdin": subprocess.DEVNULL, "stdout": subprocess.PIPE,
                   "stderr": subprocess.PIPE, **streams}
        process = subprocess.Popen(command, cwd=folder, env=environment, preexec_fn=die_with_test,
                                   **streams)
        process.fake_offset = offset
        self.copies.append(process)
        return process

    def full_screen_window(self):
        # A client's window that a window manager has made full-screen; its id.
        with open(os.path.join(self.root, "xmessage.log"), "w+") as errors:
            self.copies.append(helper(["xmessage", "-name", "velmorin-full-screen", "full"],
                                      {"DISPLAY": self.display.name}, stderr=errors))
            found = wait_for(lambda: _x(self.display, "xdotool", "search", "--classname",
                                        "velmorin-full-screen").stdout.split(), 20)
            if not found:
                raise RuntimeError(f"xmessage showed no window: {read_text(errors.name)!r}")
        _x(self.display, "xprop", "-id", found[0], "-f", "_NET_WM_STATE", "32a", "-set",
           "_NET_WM_STATE", "_NET_WM_STATE_FULLSCREEN")
        return found[0]

    def close(self):
        stop(*self.copies)
        # Anything still running from this session's folders was started by a test here.
        for pid in processes_under(self.root):
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        shutil.rmtree(self.root, ignore_errors=True)


class SessionTest(unittest.TestCase):
    # One Xvfb server per test class; a session of its own per test, so the running-copy check
    # of one test never sees the copies of another. A class may name a window manager.

    window_manager = None

    @classmethod
    def setUpClass(cls):
        cls.display = Display(window_manager=cls.window_manager)
        cls.addClassCleanup(cls.display.close)

    def setUp(self):
        self.session = Session(self.display)
        self.addCleanup(self.session.close)

    def started(self, folder, **options):
        # A copy that has cleared the quit request, as every copy does before its first tick.
        process = self.session.start(folder, **options)
        self.assertTrue(wait_for(lambda: quit_value(folder) == "0", 10), "no Quit=0 written")
        self.assertIsNone(process.poll(), "the copy ended during start-up")
        return process


NOTIFICATION_SERVER = r"""
import sys
from gi.repository import Gio, GLib
XML = ('<node><interface name="org.freedesktop.Notifications">'
       '<property name="Inhibited" type="b" access="read"/></interface></node>')
def inhibited(*_):
    with open(sys.argv[1]) as f:
        return GLib.Variant("b", f.read() == "1")
def register(connection, _):
    connection.register_object("/org/freedesktop/Notifications",
                               Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0], None, inhibited,
                               None)
Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", 0, register,
                 lambda *_: print("ready", flush=True), None)
GLib.MainLoop().run()
"""


class NotificationServer:
    # A private session bus with a notification server on it, whose do-not-disturb the test
    # switches: a stand-in that has only the common Inhibited property, dunst, or Xfce's
    # xfce4-notifyd (whose do-not-disturb xfconfd keeps; the bus starts it). run() replaces the
    # server. What the bus starts keeps its settings in `folder`.

    COMMANDS = {"inhibited": [sys.executable, "-c", NOTIFICATION_SERVER],
                "dunst": ["dunst"],
                "xfce": ["/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd"]}

    def __init__(self, folder, display=None):
        self.state = os.path.join(folder, "inhibited")
        self.kind = "inhibited"
        self.inhibit(False)
        self.env = {"HOME": folder, "XDG_CONFIG_HOME": os.path.join(folder, "config"),
                    "DISPLAY": display.name if display else ""}
        self.bus = helper(["dbus-daemon", "--session", "--nofork", "--print-address"], self.env,
                          stdout=subprocess.PIPE)
        self.address = self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.stdout.readline().strip()
        self.server = None
        self.run("inhibited")

    def owned(self):
        return "true" in _run(["dbus-send", "--session", "--print-reply=literal",
                               "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus.NameHasOwner",
                               "string:org.freedesktop.Notifications"], self.env).stdout

    def run(self, kind):
        if self.server is not None:
            stop(self.server)
            wait_for(lambda: not self.owned(), 5)
        self.kind = kind
        self.server = helper(self.COMMANDS[kind] + ([self.state] if kind == "inhibited" else []),
                             self.env)
        if not wait_for(self.owned, 20, 0.1):
            self.close()
            raise RuntimeError(f"no notification server {kind} (is it installed, and are "
                               f"dbus-daemon and python3-gi?)")
        self.inhibit(False)

    def inhibit(self, on):
        value = "true" if on else "false"
        if self.kind == "dunst":
            _run(["dunstctl", "set-paused", value], self.env).check_returncode()
        elif self.kind == "xfce":
            _run(["xfconf-query", "-c", "xfce4-notifyd", "-p", "/do-not-disturb", "-n", "-t",
                  "bool", "-s", value], self.env).check_returncode()
        else:
            with open(self.state, "w") as f:
                f.write("1" if on else "0")

    def close(self):
        stop(*filter(None, (self.server, self.bus)))


class SoundServer(sound_server.PulseServer):
    # A private PulseAudio server whose sink is recorded from the start: what a client given
    # `environment` plays (wine picks it up) is in samples().

    def __init__(self, folder):
        super().__init__(folder)
        self.recorder = sound_server.Recorder(self)

    def samples(self):
        return self.recorder.samples(0, math.inf)

    def close(self):
        self.recorder.stop()
        self.stop()


class SteppedClock:
    # A clock file for libfaketime: the program's wall clock is real time plus `offset` seconds,
    # and writing a new offset steps it while the program runs, as NTP or a user would.

    def __init__(self, folder, offset):
        self.path = tempfile.mktemp(prefix="faketime-", dir=folder)
        self.set(offset)
        self.env = {"LD_PRELOAD": FAKETIME_LIB, "FAKETIME_TIMESTAMP_FILE": self.path,
                    "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}

    def set(self, offset):
        with open(self.path + ".new", "w") as f:
            f.write("%+d\n" % offset)
        os.replace(self.path + ".new", self.path)
        self.offset = offset
        return time.time()


def notify_clock_set():
    # Gives the kernel's clock-set notice (TFD_TIMER_CANCEL_ON_SET), which libfaketime's steps
    # never give, by stepping the real wall clock 1 us forward and back in two exact steps
    # (adjtimex with ADJ_SETOFFSET | ADJ_NANO): it ends where it was. False without the right
    # to set the clock, as for any user but root.
    libc = ctypes.CDLL(None, use_errno=True)
    for nanoseconds in (1000, -1000):
        timex = (ctypes.c_long * 26)()  # struct timex: modes, ..., time at the 10th word
        timex[0] = 0x0100 | 0x2000
        timex[9], timex[10] = divmod(nanoseconds, 10**9)
        if libc.adjtimex(timex) < 0:
            assert nanoseconds > 0, "the clock was stepped forward and could not be stepped back"
            return False
    return True


def tool_environment(env=None):
    # What a tool the test runs gets of the caller's environment: the commands and the home,
    # never the caller's display, session bus or sound server.
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.environ.get("HOME", "/"),
            "LANG": "C.UTF-8", **(env or {})}


def helper(command, env=None, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL):
    # A process the test runs beside the program; it dies with the test.
    return subprocess.Popen(command, env=tool_environment(env), stdout=stdout, stderr=stderr,
                            text=True, preexec_fn=die_with_test)


def stop(*processes):
    for process in processes:
        process.kill()
        process.communicate()


def make_hostile(path, kind):
    # A pipe, a folder, a character device (a link to /dev/zero, which the program follows) or
    # a text where the program expects a sound file.
    if os.path.isdir(path) and not os.path.islink(path):
        os.rmdir(path)
    elif os.path.lexists(path):
        os.remove(path)
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "folder":
        os.mkdir(path)
    elif kind == "text":
        with open(path, "w") as f:
            f.write("this is not a sound\n")
    else:
        os.symlink("/dev/zero", path)


def wait_for(condition, timeout, interval=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(interval)
    return condition()


def read_text(path):
    # None when there is no file to read.
    with contextlib.suppress(OSError), open(path, "rb") as f:
        return f.read().decode("latin-1")


def settings_path(folder):
    return os.path.join(folder, "Velmorin.ini")


def quit_value(folder):
    found = re.search(r"^\s*quit\s*=(.*)$", read_text(settings_path(folder)) or "", re.I | re.M)
    return found.group(1).strip() if found else None


def file_size(path):
    with contextlib.suppress(OSError):
        return os.path.getsize(path)


def processes_under(folder):
    prefix, found = os.path.realpath(folder) + os.sep, []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):
            if os.readlink(f"/proc/{entry}/exe").startswith(prefix):
                found.append(int(entry))
    return found


# Sound: tones that name the hour, and what a capture holds (rig/sound_server.py).

write_tone = rig.write_tone
tone_frequency = sound_server.tone_frequency
read_capture = sound_server.read_capture
sound_spans = sound_server.sound_spans
level = sound_server.level
dominant_frequency = sound_server.dominant_frequency


def wait_until_still(path, quiet=1.0, timeout=60):
    # Returns once the file has not grown for `quiet` seconds.
    size, grew, deadline = file_size(path), time.monotonic(), time.monotonic() + timeout
    while time.monotonic() < deadline and time.monotonic() - grew < quiet:
        time.sleep(0.05)
        if file_size(path) != size:
            size, grew = file_size(path), time.monotonic()


# Windows, seen and driven through the X server as a user would.

def _run(command, env):
    return subprocess.run(command, capture_output=True, text=True, env=tool_environment(env))


def _x(display, *command):
    return _run(list(command), {"DISPLAY": display.name})


def windows_of(display, process, visible=True):
    shown = ["--onlyvisible"] if visible else []
    found = _x(display, "xdotool", "search", *shown, "--pid", str(process.pid)).stdout
    return [int(w) for w in found.split()]


def window_info(display, window):
    text = _x(display, "xwininfo", "-id", str(window)).stdout
    title = re.search(r'Window id: \S+ "(.*)"', text)
    info = {"id": window, "title": title and title.group(1),
            "mapped": "Map State: IsViewable" in text}
    for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                       ("width", "Width"), ("height", "Height")):
        found = re.search(rf"^\s*{label}:\s*(-?\d+)", text, re.M)
        if found:
            info[key] = int(found.group(1))
    return info


def mapped_windows(display):
    # The program's windows, also when a window manager has framed them (client_of).
    text = _x(display, "xwininfo", "-root", "-children").stdout
    found = [window_info(display, int(w, 16)) for w in re.findall(r"^\s+(0x[0-9a-f]+)", text,
                                                                   re.M)]
    return [client_of(display, info) for info in found if info["mapped"]]


def twips_to_pixels(twips, dpi):
    return round(twips * dpi / 1440)


def click(display, window, x, y):
    _x(display, "xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", "1")


def press_key(display, window, key):
    # With no window manager the keyboard follows the pointer.
    _x(display, "xdotool", "mousemove", "--window", str(window), "5", "5", "key", key)


def set_active_window(display, window):
    # The root's _NET_ACTIVE_WINDOW as a window manager sets it; None: no window is active.
    atom = "_NET_ACTIVE_WINDOW"
    _x(display, "xprop", "-root", *(["-remove", atom] if window is None
                                    else ["-f", atom, "32x", "-set", atom, window]))


def move_window(display, window, x, y):
    # The X server moves it, so this works even while the program is busy.
    _x(display, "xdotool", "windowmove", str(window), str(x), str(y))


def window_pixels(display, window):
    data = subprocess.run(["import", "-display", display.name, "-window", str(window), "ppm:-"],
                          capture_output=True, check=True).stdout
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+\d+\s", data)
    width, height = int(header.group(1)), int(header.group(2))
    return width, height, data[header.end():header.end() + width * height * 3]


def dark_pixels(image, left, top, width, height, below=100):
    image_width, _, data = image
    count = 0
    for y in range(top, top + height):
        row = data[(y * image_width + left) * 3:(y * image_width + left + width) * 3]
        count += sum(1 for i in range(0, len(row), 3) if max(row[i:i + 3]) < below)
    return count


def save_window(display, window, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["import", "-display", display.name, "-window", str(window), path],
                   check=True)


# Window managers on the test's display, and the frames they put around the program's windows.

class WindowManager:
    # openbox or xfwm4 (which reads its settings from xfconf, started by a session bus). openbox
    # 3.6 can leave a request it has read (a window's map) unhandled until its next event, which
    # on a desktop the pointer, panels and clocks give it soon: here a root property, every 0.2 s.

    def __init__(self, display, name):
        self.home, self.processes = tempfile.mkdtemp(prefix="velmorin-wm-"), []
        env = {"DISPLAY": display.name, "HOME": self.home, "NO_AT_BRIDGE": "1"}
        if name == "xfwm4":
            self.processes.append(helper(["dbus-daemon", "--session", "--nofork",
                                          "--print-address"], stdout=subprocess.PIPE))
            env["DBUS_SESSION_BUS_ADDRESS"] = self.processes[0].stdout.readline().strip()
        log = os.path.join(self.home, "log")
        with open(log, "w") as errors:
            self.processes.append(helper(["openbox", "--sm-disable"] if name == "openbox" else
                                         [name, "--compositor=off", "--sm-client-disable"], env,
                                         stderr=errors))
        self.running = wait_for(lambda: "window id" in _x(display, "xprop", "-root",
                                                          "_NET_SUPPORTING_WM_CHECK").stdout, 20)
        threading.Thread(target=self.tick, args=(display,), daemon=True).start()
        if not self.running:
            raise RuntimeError(f"{name} did not start: {read_text(log)!r}")

    def tick(self, display):
        while self.running:
            # Every change is an event, even to the same value.
            _x(display, "xprop", "-root", "-f", "_TICK", "32c", "-set", "_TICK", "1")
            time.sleep(0.2)

    def close(self):
        self.running = False
        stop(*reversed(self.processes))
        shutil.rmtree(self.home, ignore_errors=True)


def outer_window(display, window):
    # The frame a window manager put the window in (the root's child that holds it), or the
    # window itself where nothing framed it: its place is the one the user sees.
    while True:
        text = _x(display, "xwininfo", "-children", "-id", str(window)).stdout
        parent = re.search(r"Parent window id: (0x[0-9a-f]+)( \(the root window\))?", text)
        if parent is None or parent.group(2):
            return window_info(display, window)
        window = int(parent.group(1), 16)


def client_of(display, info):
    # The titled window inside an untitled frame; anything else as it is.
    tree = "" if info["title"] else _x(display, "xwininfo", "-tree", "-id", str(info["id"])).stdout
    titled = re.search(r'^\s+(0x[0-9a-f]+) "', tree, re.M)
    return window_info(display, int(titled.group(1), 16)) if titled else info


X_SOCKETS = "/tmp/.X11-unix"


class Weston:
    # A Wayland session instead of Xvfb: weston with no screen and XWayland, whose X display is
    # `name`; `env` is what a Wayland desktop gives its programs besides DISPLAY.
    window_manager, width, height, dpi = "weston", 1280, 1024, 96

    def __init__(self):
        # weston's XWayland listens in the X sockets' folder but, unlike Xvfb, does not make it;
        # a fresh machine where no X server has run yet has none.
        if not os.path.isdir(X_SOCKETS):
            os.makedirs(X_SOCKETS, exist_ok=True)
            os.chmod(X_SOCKETS, 0o1777)
        self.runtime = tempfile.mkdtemp(prefix="velmorin-weston-")
        log = os.path.join(self.runtime, "weston.log")
        self.process = helper(["weston", "--backend=headless-backend.so", "--use-pixman",
                               "--xwayland", f"--width={self.width}", f"--height={self.height}",
                               "--socket=wayland-0", f"--log={log}", "--debug"],
                              {"XDG_RUNTIME_DIR": self.runtime})
        found = wait_for(lambda: re.search(r"listening on display (:\d+)", read_text(log) or ""),
                         20)
        if not found:
            raise RuntimeError(f"weston did not start: {read_text(log)!r}")
        self.name = found.group(1)
        # XWayland starts with its first client, and weston's window manager after it; in a
        # session both are up before its programs start.
        if not wait_for(lambda: "window id" in _x(self, "xprop", "-root",
                                                  "_NET_SUPPORTING_WM_CHECK").stdout, 20):
            raise RuntimeError(f"XWayland did not start: {read_text(log)!r}")
        self.env = {"WAYLAND_DISPLAY": os.path.join(self.runtime, "wayland-0"),
                    "XDG_SESSION_TYPE": "wayland"}

    def shown(self, title):
        # Where weston shows the window titled so, shadow included: (left, top, right, bottom).
        # The X display may not say: weston sometimes leaves the frame at 0,0 there while it
        # shows the window where the program asked.
        graph = subprocess.run(["weston-debug", "scene-graph"], capture_output=True, text=True,
                               timeout=10, env={**os.environ, **self.env}).stdout
        found = re.search(rf"top-level window '{re.escape(title)}'.*\n\s*position: "
                          r"\((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\)", graph)
        return found and tuple(int(n) for n in found.groups())

    def close(self):
        stop(self.process)
        shutil.rmtree(self.runtime, ignore_errors=True)
