# Runs the Windows program under wine for the tests and the benchmark: a ready wine prefix
# made once per test run and copied for every case, and the zip's program folder started there
# through the end-to-end harness, with its own prefix, locale and faked clock. Every wine call is
# bounded by `timeout`.
#
# Run as a script, it makes the ready prefix or runs a test program under wine (see the end).

import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import harness  # noqa: E402  (Xvfb, windows, clicks, the quit request)

PROGRAM_DIR = os.environ.get("VELMORIN_WIN_PROGRAM_DIR", "")
ZIP = os.environ.get("VELMORIN_WIN_ZIP", "")
READY_PREFIX = os.environ.get("VELMORIN_WINE_PREFIX", "")
SHIPPED = ({f"{h:02}.WAV" for h in range(12)} | {f"QUARTER{q}.WAV" for q in (1, 2, 3)}
           | {"ABOUT.MID", "velmorin.exe"})
WINE = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "winemenubuilder.exe=d"}


def shipped_zip():
    # The zip as made; one older than the executable the build made would test yesterday's program.
    exe = os.path.join(PROGRAM_DIR, "velmorin.exe")
    if os.path.isfile(exe) and os.path.getmtime(ZIP) < os.path.getmtime(exe):
        raise RuntimeError(f"{ZIP} is older than {exe}: pack it again (make windows)")
    return zipfile.ZipFile(ZIP)


def wine(prefix, *command, limit=60, env=None, quiet=True):
    # Runs one wine command to its end in `prefix`; its exit status.
    environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "WINEPREFIX": prefix,
                   "HOME": os.path.dirname(prefix), "LANG": "en_US.UTF-8", "TZ": "UTC", **WINE,
                   **(env or {})}
    output = subprocess.DEVNULL if quiet else None
    return subprocess.run(["timeout", "-k", "5", str(limit), *command], env=environment,
                          stdout=output, stderr=output, preexec_fn=harness.die_with_test).returncode


def make_ready_prefix(prefix):
    # A booted prefix in which the About text's face is the IPA proportional gothic, as a Japanese
    # Windows has its own; the Western locale keeps the registry tool's argument whole.
    shutil.rmtree(prefix, ignore_errors=True)
    if wine(prefix, "wineboot", "-i", limit=180) != 0:
        raise RuntimeError("wineboot failed: is wine installed (scripts/setup.sh --windows)?")
    wine(prefix, "wine", "reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion"
         r"\FontSubstitutes", "/v", "ＭＳ Ｐゴシック", "/t", "REG_SZ", "/d", "IPAPGothic", "/f")
    wine(prefix, "wineserver", "-w")
    return prefix


def ready_prefix(scratch):
    # The prefix the test run made (VELMORIN_WINE_PREFIX), or one made now in scratch.
    if READY_PREFIX and os.path.isfile(os.path.join(READY_PREFIX, "system.reg")):
        return READY_PREFIX
    return make_ready_prefix(os.path.join(scratch, "ready-prefix"))


class WineSession(harness.Session):
    # An end-to-end session with a copy of the ready prefix of its own. Closing it ends the copies,
    # their wineserver and the prefix.

    def __init__(self, display, ready_prefix):
        super().__init__(display)
        self.prefix = os.path.join(self.root, "prefix")
        subprocess.run(["cp", "-a", ready_prefix, self.prefix], check=True)

    def wine(self, *command):
        # Runs one wine command in this session's prefix, on its display; its exit status.
        return wine(self.prefix, *command, env={"DISPLAY": self.display.name})

    def program_folder(self, name="Velmorin"):
        # The zip's Velmorin folder as a user unpacks it, renamed to `name`.
        with shipped_zip() as archive:
            archive.extractall(self.root)
        folder = os.path.join(self.root, name)
        os.rename(os.path.join(self.root, "Velmorin"), folder)
        return folder

    def start(self, folder, offset=None, lang="en_US.UTF-8", display=True, limit=120, env=None,
              arguments=()):
        # Starts velmorin.exe in its folder; offset is a whole number of seconds added to the clock
        # (libfaketime; NO_FAKE_STAT keeps wine from seeing its prefix as changed).
        extra = {"WINEPREFIX": self.prefix, "LANG": lang, "LC_ALL": lang, "NO_FAKE_STAT": "1",
                 **WINE, **({} if display else {"DISPLAY": None}), **(env or {})}
        return super().start(folder, None if offset is None else time.time() + offset, env=extra,
                             command=["timeout", "-k", "5", str(limit), "wine",
                                      os.path.join(folder, "velmorin.exe"), *arguments])

    def close(self):
        wine(self.prefix, "wineserver", "-k", limit=20)
        super().close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def opens_until(watch, ignored, until, offset):
    # The files opened in the watched folder, other than the ignored names, until the faked epoch
    # time `until`, as (name, faked epoch time).
    events = iter(lambda: watch.next(until - (time.time() + offset)), None)
    return [(name, at) for kind, name, at, _ in events if kind == "open" and name not in ignored]


if __name__ == "__main__":
    # winelib.py prepare FOLDER: makes the ready prefix there.
    # winelib.py run PROGRAM [ARGS]: runs a test program under wine in a copy of it.
    if sys.argv[1] == "prepare":
        make_ready_prefix(os.path.abspath(sys.argv[2]))
    else:
        with tempfile.TemporaryDirectory(prefix="velmorin-wine-run-") as scratch:
            with WineSession(None, ready_prefix(scratch)) as session:
                sys.exit(wine(session.prefix, "wine", *sys.argv[2:], limit=300, quiet=False))
