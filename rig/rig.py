"""What the end-to-end tests and the benchmarks share: a display, copies of the program folder,
a folder watch in a separate process, tones and the quit request as a copy writes it.

Run as a script, this file is the folder watch itself: it prints one line per inotify event,
stamped with the wall clock (which libfaketime fakes when it is preloaded) and the monotonic
clock, both read right after the event arrives."""

import array
import ctypes
import math
import os
import queue
import signal
import struct
import subprocess
import sys
import threading
import time
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"

IN_ACCESS = 0x001
IN_CLOSE_WRITE = 0x008
IN_OPEN = 0x020
IN_MOVED_TO = 0x080
IN_CREATE = 0x100
IN_CLOEXEC = 0o2000000
WATCHED = IN_OPEN | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE
EVENT_HEADER = struct.Struct("iIII")


def die_with_parent():
    """Runs in a child before exec: if the process that started it is killed (CTest on a
    timeout), the kernel kills the child too (PR_SET_PDEATHSIG)."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)


def end(process):
    """Asks a process to end, and makes it end if it has not within five seconds."""
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Display:
    """An Xvfb server on a free display number with no window manager, so the program runs on
    its ordinary xcb platform, as on a desktop; at Xvfb's own resolution unless dpi is given."""

    def __init__(self, width=1280, height=1024, dpi=None):
        read, write = os.pipe()
        resolution = [] if dpi is None else ["-dpi", str(dpi)]
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", *resolution], pass_fds=[write], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number.isdigit():
            self.close()
            raise RuntimeError("Xvfb did not start (is the xvfb package installed?)")
        self.name, self.width, self.height, self.dpi = ":" + number, width, height, dpi

    def close(self):
        end(self.process)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


class ExitWatch:
    """The moment a process ends, from a thread blocked in wait(), so that it does not depend
    on polling."""

    def __init__(self, process):
        self.ended_at = None

        def watch():
            process.wait()
            self.ended_at = time.monotonic()

        self.thread = threading.Thread(target=watch, daemon=True)
        self.thread.start()

    def wait(self, timeout):
        self.thread.join(timeout)
        return self.ended_at


class Watch:
    """The folder watch, in a process of its own so that it can run under the same faked clock
    as the program it watches. Events arrive as (kind, name, wall, monotonic)."""

    def __init__(self, folder, offset=None):
        env = dict(os.environ)
        if offset is not None:
            env["LD_PRELOAD"] = FAKETIME_LIB
            env["FAKETIME"] = "%+d" % offset
        self.process = subprocess.Popen([sys.executable, os.path.abspath(__file__), folder],
                                        env=env, stdout=subprocess.PIPE, text=True, bufsize=1)
        if self.process.stdout.readline().strip() != "ready":
            raise RuntimeError("the folder watch did not start")
        self.events = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            kind, rest = line.rstrip("\n").split(" ", 1)
            name, wall, mono = rest.rsplit(" ", 2)
            self.events.put((kind, name, float(wall), float(mono)))

    def next(self, timeout):
        """The next event, or None when none comes within timeout seconds."""
        try:
            return self.events.get(timeout=max(timeout, 0))
        except queue.Empty:
            return None

    def wait_for(self, kind, name, timeout):
        deadline = time.monotonic() + timeout
        while True:
            event = self.next(deadline - time.monotonic())
            if event is None:
                return None
            if event[0] == kind and event[1] == name:
                return event

    def drain(self):
        found = []
        while True:
            try:
                found.append(self.events.get_nowait())
            except queue.Empty:
                return found

    def close(self):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def write_tone(path, frequency, seconds, rate=44100, width=2):
    """A mono WAV of a sine at about a third of full scale: 16-bit samples, or with width 1 the
    unsigned 8-bit ones of old WAV files."""
    levels = [12000 * math.sin(2 * math.pi * frequency * i / rate)
              for i in range(int(rate * seconds))]
    with wave.open(path, "wb") as w:
        w.setparams((1, width, rate, 0, "NONE", None))
        w.writeframes(bytes(128 + int(x / 256) for x in levels) if width == 1
                      else array.array("h", map(int, levels)).tobytes())


def start_program(folder, env):
    return subprocess.Popen([os.path.join(folder, "velmorin")], cwd=folder, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def close_window(display, window):
    """Sends WM_DELETE_WINDOW, as a window manager does for the title bar's close button."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.name.encode())
    # An XClientMessageEvent as longs: type, serial, send_event, display, window, message_type,
    # format, then the data.
    event = (ctypes.c_long * 24)(33, 0, 0, 0, int(window),
                                 x11.XInternAtom(connection, b"WM_PROTOCOLS", 0), 32,
                                 x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0))
    x11.XSendEvent(connection, int(window), 0, 0, event)
    x11.XCloseDisplay(connection)


def runs_lean(pid):
    """True when the process is the resident and maps no toolkit."""
    with open(f"/proc/{pid}/maps") as f:
        return (os.path.basename(os.readlink(f"/proc/{pid}/exe")) == "velmorin"
                and "libQt6" not in f.read())


def write_quit(folder, value):
    """Writes the quit request the way another copy does: the whole file, replaced in one
    rename."""
    path = os.path.join(folder, "Velmorin.ini")
    scratch = path + ".bench"
    with open(scratch, "wb") as f:
        f.write(f"[Form]\r\nQuit={value}\r\n".encode())
    os.replace(scratch, path)


def stop(process, folder=None, timeout=3):
    """Ends a copy through the quit request if it has a folder, else by signal."""
    if process.poll() is None and folder is not None:
        write_quit(folder, 1)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            pass
    if process.poll() is None:
        process.kill()
    process.wait()


def _watch(folder):
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init1(IN_CLOEXEC)
    if fd < 0 or libc.inotify_add_watch(fd, folder.encode(), WATCHED) < 0:
        sys.exit(f"watch: cannot watch {folder}: {os.strerror(ctypes.get_errno())}")
    names = {IN_OPEN: "open", IN_CLOSE_WRITE: "close_write", IN_MOVED_TO: "moved_to",
             IN_CREATE: "create"}
    print("ready", flush=True)
    while True:
        data = os.read(fd, 65536)
        wall, mono = time.time(), time.monotonic()
        offset = 0
        lines = []
        while offset < len(data):
            _, mask, _, length = EVENT_HEADER.unpack_from(data, offset)
            raw = data[offset + EVENT_HEADER.size: offset + EVENT_HEADER.size + length]
            offset += EVENT_HEADER.size + length
            name = raw.rstrip(b"\0").decode(errors="replace") or "."
            for bit, kind in names.items():
                if mask & bit:
                    lines.append(f"{kind} {name} {wall:.6f} {mono:.6f}\n")
        sys.stdout.write("".join(lines))
        sys.stdout.flush()


if __name__ == "__main__":
    _watch(sys.argv[1])
