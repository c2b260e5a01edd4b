"""Runs the real program from its program folder under Xvfb, with a faked clock and a captured
audio stream, for the end-to-end tests and the benchmarks."""

import array
import ctypes
import math
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import wave

PROGRAM_DIR = os.environ.get("VELMORIN_PROGRAM_DIR", "")
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
RATE = 44100
PR_SET_PDEATHSIG = 1


def die_with_test():
    """Runs in a child before exec: if the test runner is killed (a CTest timeout), the kernel
    kills Xvfb and every copy too, so nothing is left running."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Display:
    """An Xvfb server on a free display number, with no window manager."""

    def __init__(self, width=1280, height=1024):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-dpi", "96"],
            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_test)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number.isdigit():
            self.close()
            raise RuntimeError("Xvfb did not start (is the xvfb package installed?)")
        self.name = ":" + number
        self.width, self.height = width, height

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-display", self.name, "-window", "root", path], check=True)


class Session:
    """A user session: a display, a runtime folder of its own (so the running-copy check sees
    only this test's copies) and a scratch folder for program folders and captures."""

    def __init__(self, display):
        self.display = display
        self.root = tempfile.mkdtemp(prefix="velmorin-e2e-")
        self.runtime = os.path.join(self.root, "runtime")
        os.mkdir(self.runtime, 0o700)
        self.copies = []

    def program_folder(self, name="Velmorin", tones=False, tone_seconds=1.0):
        """A fresh copy of the built program folder, without any settings file a run in the
        build folder left behind. With tones, each hour sound is replaced by a sine tone whose
        frequency names the hour, so a capture tells which file played."""
        if not os.path.isfile(os.path.join(PROGRAM_DIR, "velmorin")):
            raise RuntimeError(f"no program in VELMORIN_PROGRAM_DIR={PROGRAM_DIR!r}: build the "
                               "velmorin target and point the variable at its folder")
        folder = os.path.join(self.root, name)
        shutil.copytree(PROGRAM_DIR, folder, ignore=shutil.ignore_patterns("Velmorin.ini*"))
        if tones:
            for hour in range(12):
                write_tone(os.path.join(folder, f"{hour:02d}.WAV"), tone_frequency(hour),
                           tone_seconds)
        return folder

    def start(self, folder, fake_start=None, capture=None, env=None, user=None, command=None):
        """Starts the program in its folder. fake_start is an epoch time the faked clock
        starts near; it is shifted by whole seconds so every copy agrees on the fractions, and
        the shift is kept as process.fake_offset (faked time = real time + offset). A name
        given None in env is left out of the environment. command replaces the folder's
        executable (a desktop entry's Exec line)."""
        environment = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.root,
            "DISPLAY": self.display.name,
            "XDG_RUNTIME_DIR": self.runtime,
            "TZ": "UTC",
            "LANG": "C.UTF-8",
            "SDL_AUDIODRIVER": "disk",
            "SDL_DISKAUDIOFILE": capture or os.devnull,
        }
        offset = 0
        if fake_start is not None:
            offset = round(fake_start - time.time())
            environment["LD_PRELOAD"] = FAKETIME_LIB
            environment["FAKETIME"] = "%+d" % offset
        environment.update(env or {})
        environment = {k: v for k, v in environment.items() if v is not None}
        command = command or [os.path.join(folder, "velmorin")]
        if user is not None:
            command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + command
        process = subprocess.Popen(command, cwd=folder, env=environment,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   preexec_fn=die_with_test)
        process.fake_offset = offset
        self.copies.append(process)
        return process

    def close(self):
        for process in self.copies:
            if process.poll() is None:
                process.kill()
            process.wait()
            process.stdout.close()
            process.stderr.close()
        # Anything still running from this session's folders was started by a test here.
        for pid in processes_under(self.root):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def next_hour_minus(seconds):
    """An epoch time `seconds` before the next full hour from now."""
    now = time.time()
    return (math.floor(now / 3600) + 1) * 3600 - seconds


def wait_for(condition, timeout, interval=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(interval)
    return condition()


def read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return None


def write_quit(folder, value):
    """Writes the quit request the way another copy does: whole file, atomically."""
    path = os.path.join(folder, "Velmorin.ini")
    scratch = path + ".writing"
    with open(scratch, "wb") as f:
        f.write(f"[Form]\r\nQuit={value}\r\n".encode())
    os.replace(scratch, path)


def windows_of(display, process, visible=True):
    """The X window ids that a process has mapped."""
    command = ["xdotool", "search", "--pid", str(process.pid)]
    if visible:
        command.insert(2, "--onlyvisible")
    result = subprocess.run(command, capture_output=True, text=True,
                            env={**os.environ, "DISPLAY": display.name})
    return [int(w) for w in result.stdout.split()]


def tone_frequency(hour):
    return 300 + 100 * hour


def write_tone(path, frequency, seconds):
    frames = int(RATE * seconds)
    samples = array.array("h", (int(12000 * math.sin(2 * math.pi * frequency * i / RATE))
                                for i in range(frames)))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.tobytes())


def read_capture(path, channels=2):
    """The captured stream as mono samples (SDL's disk driver: signed 16-bit, interleaved)."""
    with open(path, "rb") as f:
        data = f.read()
    data = data[: len(data) // (2 * channels) * 2 * channels]
    samples = array.array("h")
    samples.frombytes(data)
    return samples[::channels]


def read_capture_peaks(path):
    """The captured stream as the louder of its two channels, sample by sample: a tune panned
    to one side is heard there."""
    with open(path, "rb") as f:
        data = f.read()
    samples = array.array("h")
    samples.frombytes(data[: len(data) // 4 * 4])
    return [max(abs(left), abs(right)) for left, right in zip(samples[::2], samples[1::2])]


def goertzel(samples, start, length, frequency):
    """Relative power of one frequency in samples[start:start+length]."""
    coefficient = 2 * math.cos(2 * math.pi * frequency / RATE)
    s1 = s2 = 0.0
    for x in samples[start:start + length]:
        s1, s2 = x + coefficient * s1 - s2, s1
    return (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / max(length, 1) ** 2


def settings_path(folder):
    return os.path.join(folder, "Velmorin.ini")


def wait_settings(folder, expected, timeout=10):
    """Waits until the settings file holds exactly `expected`; returns whether it did."""
    return wait_for(lambda: read_text(settings_path(folder)) == expected, timeout)


def processes_under(folder):
    """Ids of the processes whose executable lies under `folder`."""
    found = []
    prefix = os.path.realpath(folder) + os.sep
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            exe = os.readlink(f"/proc/{entry}/exe")
        except OSError:
            continue
        if exe.startswith(prefix):
            found.append(int(entry))
    return found


class ExitWatch:
    """Notes the moment a process ends, from a thread blocked in wait(), so the time does not
    depend on how often a test polls."""

    def __init__(self, process):
        self.process = process
        self.ended_at = None
        self.thread = threading.Thread(target=self._wait, daemon=True)
        self.thread.start()

    def _wait(self):
        self.process.wait()
        self.ended_at = time.monotonic()

    def wait(self, timeout):
        self.thread.join(timeout)
        return self.ended_at


class CaptureTimeline:
    """Follows the growth of an audio capture file against the wall clock. SDL's disk driver
    writes each mixed buffer as it is made, so the first moment the file reached a sample
    tells when that sample left the mixer, however the driver's pace drifts."""

    def __init__(self, path, channels=2):
        self.path = path
        self.frame_bytes = 2 * channels
        self.points = []  # (epoch time, file size in bytes or None while missing)

    def poll(self):
        try:
            size = os.path.getsize(self.path)
        except OSError:
            size = None
        self.points.append((time.time(), size))
        return size

    def seconds(self):
        size = self.points[-1][1] if self.points else None
        return (size or 0) / (self.frame_bytes * RATE)

    def appeared(self):
        """The first time the file was seen, or None."""
        return next((t for t, size in self.points if size is not None), None)

    def written_by(self, frame):
        """The first time the file held `frame`: an upper bound on when it was written."""
        needed = (frame + 1) * self.frame_bytes
        return next((t for t, size in self.points if size is not None and size >= needed), None)


def sound_spans(samples, threshold=2000, gap=0.1, block=64):
    """(start, end) sample offsets of the stretches of sound, split at quiet of at least
    `gap` seconds."""
    spans = []
    for i in range(0, len(samples), block):
        if max(abs(x) for x in samples[i:i + block]) < threshold:
            continue
        end = min(i + block, len(samples))
        if spans and i - spans[-1][1] < RATE * gap:
            spans[-1][1] = end
        else:
            spans.append([i, end])
    return [tuple(span) for span in spans]


def dominant_frequency(samples, start, candidates, seconds=0.2):
    """The candidate frequency with the most power in a window just after `start`."""
    length = int(RATE * seconds)
    return max(candidates, key=lambda f: goertzel(samples, start + 441, length, f))


# Window inspection and input, for the tests of the control and About windows.

def _x(display, *command):
    return subprocess.run(list(command), capture_output=True, text=True,
                          env={**os.environ, "DISPLAY": display.name})


def window_info(display, window):
    """Title, map state and geometry of one window, as xwininfo tells them: x and y of the
    window's own top left on the screen, width and height of the window itself."""
    result = _x(display, "xwininfo", "-id", str(window))
    info = {"id": window, "title": None, "mapped": False}
    for line in result.stdout.splitlines():
        line = line.strip()
        if line.startswith("xwininfo: Window id:"):
            quoted = line.split(" ", 4)[-1]
            info["title"] = quoted[1:-1] if quoted.startswith('"') else None
        elif line.startswith("Absolute upper-left X:"):
            info["x"] = int(line.split()[-1])
        elif line.startswith("Absolute upper-left Y:"):
            info["y"] = int(line.split()[-1])
        elif line.startswith("Width:"):
            info["width"] = int(line.split()[-1])
        elif line.startswith("Height:"):
            info["height"] = int(line.split()[-1])
        elif line.startswith("Map State:"):
            info["mapped"] = line.endswith("IsViewable")
    return info


def mapped_windows(display):
    """Every top-level window on the screen that is mapped, whoever made it."""
    result = _x(display, "xwininfo", "-root", "-children")
    found = []
    for line in result.stdout.splitlines():
        words = line.split()
        if words and words[0].startswith("0x"):
            info = window_info(display, int(words[0], 16))
            if info["mapped"]:
                found.append(info)
    return found


def screen_dpi(display):
    result = _x(display, "xdpyinfo")
    for line in result.stdout.splitlines():
        if "resolution:" in line:
            return int(line.split()[1].split("x")[0])
    return 96


def twips_to_pixels(twips, dpi):
    return round(twips * dpi / 1440)


def click(display, window, x, y):
    """A left click at x, y inside the window, through the X server as a mouse would."""
    _x(display, "xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", "1")


def press_key(display, window, key):
    """A key pressed with the pointer over the window: with no window manager the keyboard
    follows the pointer."""
    _x(display, "xdotool", "mousemove", "--window", str(window), "5", "5", "key", key)


def window_pixels(display, window):
    """The window's content as (width, height, RGB bytes)."""
    result = subprocess.run(["import", "-display", display.name, "-window", str(window),
                             "ppm:-"], capture_output=True, check=True)
    data = result.stdout
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[at + 1:at + 1 + width * height * 3]


def dark_pixels(image, left, top, width, height, below=100):
    """How many pixels in a part of an image are darker than `below`, as text is."""
    image_width, _, data = image
    count = 0
    for y in range(top, top + height):
        row = data[(y * image_width + left) * 3:(y * image_width + left + width) * 3]
        count += sum(1 for i in range(0, len(row), 3) if max(row[i:i + 3]) < below)
    return count


def artifact_path(name):
    """Where a test keeps a file for people to look at: VELMORIN_ARTIFACTS, else the
    test-artifacts folder beside the program folder."""
    folder = os.environ.get("VELMORIN_ARTIFACTS") or os.path.join(
        os.path.dirname(os.path.abspath(PROGRAM_DIR)), "test-artifacts")
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name)


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return None


def wait_until_still(path, quiet=1.0, timeout=60):
    """Waits until a growing file has not grown for `quiet` seconds; returns the time it last
    grew (time.monotonic) and its size."""
    size, grew = file_size(path), time.monotonic()
    deadline = grew + timeout
    while time.monotonic() < deadline and time.monotonic() - grew < quiet:
        time.sleep(0.05)
        now = file_size(path)
        if now != size:
            size, grew = now, time.monotonic()
    return grew, size


def audible_span(samples, threshold=100, block=64):
    """First and last sample offsets of sound above the threshold, or None in silence."""
    first = last = None
    for i in range(0, len(samples), block):
        if max(abs(x) for x in samples[i:i + block]) >= threshold:
            if first is None:
                first = i
            last = i + block
    return None if first is None else (first, last)


def quit_value(folder):
    """The Quit value in the folder's settings file as text, or None without one."""
    text = read_text(os.path.join(folder, "Velmorin.ini"))
    if text is None:
        return None
    for line in text.splitlines():
        key, _, value = line.partition("=")
        if key.strip().lower() == "quit":
            return value.strip()
    return None


def save_window(display, window, path):
    """A screenshot of one window, for people to look at."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["import", "-display", display.name, "-window", str(window), path],
                   check=True)


def same_clock(offset_seconds):
    """A fake_start for Session.start that gives every copy started with it the same faked
    clock: now shifted by a whole number of seconds."""
    return time.time() + round(offset_seconds)


def move_window(display, window, x, y):
    """Moves a window on the screen as a user dragging it would; the X server does it, so it
    works even while the program is busy."""
    _x(display, "xdotool", "windowmove", str(window), str(x), str(y))
