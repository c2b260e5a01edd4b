"""The benchmarks' own pieces: where the build is, and small statistics. What they share with the
end-to-end tests (a display, copies of the program folder, the folder watch, the sound server)
is in rig/, and is reached through this module too."""

import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "rig"))

from rig import *  # noqa: E402,F401,F403
import rig  # noqa: E402,F401

# After the import, whose own HERE is the rig's folder.
HERE = os.path.dirname(os.path.abspath(__file__))


def build_dir():
    return os.environ.get("VELMORIN_BUILD", os.path.join(HERE, "..", "build-bench"))


def program_dir():
    return os.path.join(build_dir(), "Velmorin")


def free_timer_path():
    return os.path.join(build_dir(), "bench", "free_timer")


def check_built(free_timer=True):
    for path in [os.path.join(program_dir(), "velmorin")] + ([free_timer_path()] if free_timer
                                                              else []):
        if not os.access(path, os.X_OK):
            sys.exit(f"bench: {path} is missing; build the targets velmorin and free_timer "
                     f"first (see bench/README.md)")


class Scratch:
    """A scratch folder with a runtime folder of its own, so that every copy started here sees
    only the copies of this benchmark."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="velmorin-bench-")
        self.runtime = os.path.join(self.root, "runtime")
        os.mkdir(self.runtime, 0o700)
        self.count = 0

    def program_folder(self):
        self.count += 1
        folder = os.path.join(self.root, f"Velmorin{self.count}")
        shutil.copytree(program_dir(), folder)
        stale = os.path.join(folder, "Velmorin.ini")
        if os.path.exists(stale):
            os.remove(stale)
        return folder

    def environment(self, display, offset=None, extra=None):
        """The program's environment. offset is a whole number of seconds that libfaketime
        adds to every clock; whole seconds keep the real clock's fractions, so the program and
        a watch under the same offset agree on when a second begins."""
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.root,
            "XDG_RUNTIME_DIR": self.runtime,
            "TZ": "UTC",
            "LANG": "C.UTF-8",
            "SDL_AUDIODRIVER": "disk",
            "SDL_DISKAUDIOFILE": os.devnull,
        }
        if display is not None:
            env["DISPLAY"] = display.name
        if offset is not None:
            env["LD_PRELOAD"] = FAKETIME_LIB
            env["FAKETIME"] = "%+d" % offset
        env.update(extra or {})
        return env

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def summary(values):
    """(median, max) of a list, or (None, None) when it is empty."""
    if not values:
        return None, None
    return statistics.median(values), max(values)


def ms(value):
    return "-" if value is None else f"{value:.1f}"


def table(headers, rows):
    widths = [max(len(str(c)) for c in column) for column in zip(headers, *rows)]
    line = "  ".join("{:<%d}" % w if i == 0 else "{:>%d}" % w for i, w in enumerate(widths))
    print(line.format(*headers))
    for row in rows:
        print(line.format(*row))
