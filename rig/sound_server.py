"""A private PulseAudio server with a null sink, and a recorder of what reaches that sink, for the
tests and benchmarks that hear the program as its users do: through a sound server.

The recorder reads the sink's monitor with parec, all that has come at each read, and stamps it with
the wall clock as it arrives; a sample's time is its chunk's stamp less the frames after it. It
records at the sink's own rate: a resampler on the recording's way would date every sample about
2 ms late."""

import array
import contextlib
import math
import os
import shutil
import subprocess
import threading
import time

import rig

RATE = 44100
SINK = "velmorin_sink"


class PulseServer:
    """Started at once in a runtime folder of its own; clients reach it through `environment`.
    It runs until `stop`, and `restart` stops it and starts a new one on the same socket."""

    rate = RATE  # the null sink's

    def __init__(self, root):
        self.runtime = os.path.join(root, "pulse-runtime")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.environment = self.environment_in(root)
        self.process = None
        self.start()

    @staticmethod
    def environment_in(root):
        """What a client needs to reach the server that runs, or will run, in `root`."""
        return {"PULSE_SERVER": "unix:" + os.path.join(root, "pulse-runtime", "pulse", "native")}

    def start(self):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime,
               "XDG_RUNTIME_DIR": self.runtime}
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "-L", "module-native-protocol-unix auth-anonymous=1",
             "-L", f"module-null-sink sink_name={SINK} rate={RATE} channels=2",
             "-L", "module-always-sink"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if subprocess.run(["pactl", "info"], env={**env, **self.environment},
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                return
            time.sleep(0.05)
        raise RuntimeError("the PulseAudio server did not start (is pulseaudio installed?)")

    def stop(self):
        if self.process is not None:
            rig.end(self.process)
            self.process = None

    def restart(self):
        self.stop()
        self.start()

    @staticmethod
    def available():
        return all(shutil.which(c) for c in ("pulseaudio", "pactl", "parec", "paplay"))


# The null sink as part of pipewire's own configuration, so that a restarted pipewire has it
# again; a drop-in under XDG_CONFIG_HOME adds it to the packaged configuration.
PIPEWIRE_SINK = """context.objects = [
    { factory = adapter
      args = { factory.name = support.null-audio-sink, node.name = %s,
               media.class = Audio/Sink, audio.position = [ FL FR ],
               monitor.channel-volumes = true, object.linger = true } }
]
""" % SINK


class PipeWireServer:
    """PipeWire with its pulse server and its session manager, as Debian 12's GNOME runs them,
    in a runtime folder and on a session bus of their own; the same interface as PulseServer.
    Clients of either protocol reach it through `environment`: libpulse through PULSE_SERVER,
    libpipewire (SDL's pipewire driver) through PIPEWIRE_RUNTIME_DIR."""

    COMMANDS = ("pipewire", "wireplumber", "pipewire-pulse")
    rate = 48000  # PipeWire's graph, the null sink with it, runs at its default clock rate

    def __init__(self, root):
        self.runtime = os.path.join(root, "pipewire-runtime")
        # pipewire-pulse can fail with "File exists" when a client makes this folder as it
        # starts.
        os.makedirs(os.path.join(self.runtime, "pulse"), mode=0o700, exist_ok=True)
        drop_ins = os.path.join(self.runtime, "config", "pipewire", "pipewire.conf.d")
        os.makedirs(drop_ins, exist_ok=True)
        with open(os.path.join(drop_ins, "velmorin-sink.conf"), "w") as f:
            f.write(PIPEWIRE_SINK)
        self.environment = self.environment_in(root)
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                    preexec_fn=rig.die_with_parent)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime,
                    "XDG_RUNTIME_DIR": self.runtime,
                    "XDG_CONFIG_HOME": os.path.join(self.runtime, "config"),
                    "DBUS_SESSION_BUS_ADDRESS": self.bus.stdout.readline().strip()}
        self.processes = []
        self.start()

    @staticmethod
    def environment_in(root):
        runtime = os.path.join(root, "pipewire-runtime")
        return {"PULSE_SERVER": "unix:" + os.path.join(runtime, "pulse", "native"),
                "PIPEWIRE_RUNTIME_DIR": runtime}

    def start(self):
        # wireplumber gives up at once when pipewire does not answer yet: it starts once
        # pipewire's socket is there.
        socket = os.path.join(self.runtime, "pipewire-0")
        with contextlib.suppress(FileNotFoundError):
            os.remove(socket)
        for command in self.COMMANDS:
            self.processes.append(subprocess.Popen(
                [command], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=rig.die_with_parent))
            deadline = time.monotonic() + 10
            while command == "pipewire" and not os.path.exists(socket):
                if time.monotonic() > deadline:
                    raise RuntimeError("pipewire did not start (is it installed?)")
                time.sleep(0.02)
        # Ready once the session manager has made the null sink the default: before that a
        # stream may find no sink to link to.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            found = subprocess.run(["pw-metadata", "0", "default.audio.sink"], env=self.env,
                                   capture_output=True, text=True, timeout=5).stdout
            if SINK in found and subprocess.run(
                    ["pactl", "info"], env={**self.env, **self.environment},
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                return
            time.sleep(0.05)
        raise RuntimeError("PipeWire did not start (are pipewire, pipewire-pulse and "
                           "wireplumber installed?)")

    def stop_servers(self):
        for process in reversed(self.processes):
            rig.end(process)
        self.processes = []

    def stop(self):
        self.stop_servers()
        if self.bus.poll() is None:
            rig.end(self.bus)
            self.bus.stdout.close()

    def restart(self):
        self.stop_servers()
        self.start()

    @staticmethod
    def available():
        return all(shutil.which(c) for c in PipeWireServer.COMMANDS + (
            "dbus-daemon", "pw-metadata", "pactl", "parec", "paplay"))


SERVERS = {"pulseaudio": PulseServer, "pipewire": PipeWireServer}


class Recorder:
    """Everything that reaches the sink from now on, as (wall-clock time, mono sample) runs."""

    def __init__(self, server):
        self.server = server
        self.rate = server.rate
        self.chunks = []  # (arrival time, samples as an array of int16, interleaved stereo)
        self.lock = threading.Lock()
        self.process = None
        self.thread = None
        self.start()

    def start(self):
        self.process = subprocess.Popen(
            ["parec", "-d", SINK + ".monitor", "--raw", "--format=s16le", f"--rate={self.rate}",
             "--channels=2", "--latency-msec=2"],
            env={**os.environ, **self.server.environment}, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        self.thread = threading.Thread(target=self._read, args=(self.process,), daemon=True)
        self.thread.start()

    def _read(self, process):
        pending = b""
        while True:
            # Everything the pipe holds at once: a chunk left behind would be stamped late.
            data = os.read(process.stdout.fileno(), 1 << 20)
            stamp = time.time()
            if not data:
                return
            data = pending + data
            whole = len(data) - len(data) % 4
            pending = data[whole:]
            samples = array.array("h", data[:whole])
            with self.lock:
                self.chunks.append((stamp, samples))

    def restart(self):
        # parec ends with its server; a new one records from the server's next start.
        self.stop()
        self.start()

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.thread.join(timeout=2)

    def onset(self, after, threshold=1000):
        """The wall-clock time of the first loud sample at or after `after`, or None."""
        with self.lock:
            chunks = list(self.chunks)
        for stamp, samples in chunks:
            frames = len(samples) // 2
            first = stamp - frames / self.rate
            if stamp < after:
                continue
            for i in range(frames):
                t = first + i / self.rate
                if t >= after - 0.005 and abs(samples[2 * i]) + abs(samples[2 * i + 1]) > threshold:
                    return t
        return None

    def samples(self, start, end):
        """The left-channel samples heard between two wall-clock times, at the recorder's rate."""
        found = []
        with self.lock:
            chunks = list(self.chunks)
        for stamp, samples in chunks:
            frames = len(samples) // 2
            first = stamp - frames / self.rate
            if stamp < start or first > end:
                continue
            found += [samples[2 * i] for i in range(frames)
                      if start <= first + i / self.rate <= end]
        return found


def paplay_onset(server, recorder, wave):
    """How long after its start paplay's first loud sample reaches the sink: the floor that any
    client of this server meets."""
    env = {**os.environ, **server.environment}
    started = time.time()
    subprocess.run(["paplay", wave], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.2)
    heard = recorder.onset(started)
    return None if heard is None else heard - started


# What was heard: tones that name the hour, and the stream a capture holds (SDL's disk driver or
# a recording of the sink: signed 16-bit, two channels interleaved, four bytes a frame).

def tone_frequency(hour):
    return 300 + 100 * hour


def read_capture(path, peaks=False):
    # Every left sample; with peaks, the louder channel sample by sample (a tune panned to one
    # side is heard there).
    samples = array.array("h")
    with open(path, "rb") as f:
        data = f.read()
    samples.frombytes(data[: len(data) // 4 * 4])
    if peaks:
        return [max(abs(left), abs(right)) for left, right in zip(samples[::2], samples[1::2])]
    return samples[::2]


def sound_spans(samples, threshold=2000, gap=0.1, block=64):
    # (start, end) of each stretch of blocks that reach the threshold, with gaps shorter than
    # `gap` seconds bridged.
    spans = []
    for start in range(0, len(samples), block):
        if max(abs(x) for x in samples[start:start + block]) < threshold:
            continue
        if spans and start - spans[-1][1] < RATE * gap:
            spans[-1][1] = min(start + block, len(samples))
        else:
            spans.append([start, min(start + block, len(samples))])
    return [tuple(span) for span in spans]


def level(samples, span):
    # The peak of the middle half of a sound: wine's 8-bit playback may end in a full-scale click.
    start, end = span
    return max(map(abs, samples[start + (end - start) // 4:end - (end - start) // 4]))


def dominant_frequency(samples, start, candidates, seconds=0.2, rate=RATE):
    # Goertzel: the power of one frequency, in a window just after `start`.
    length = int(rate * seconds)
    skip = rate // 100

    def power(frequency):
        coefficient, s1, s2 = 2 * math.cos(2 * math.pi * frequency / rate), 0.0, 0.0
        for x in samples[start + skip:start + skip + length]:
            s1, s2 = x + coefficient * s1 - s2, s1
        return s1 * s1 + s2 * s2 - coefficient * s1 * s2

    return max(candidates, key=power)
