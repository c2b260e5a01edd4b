"""Runs the Windows program under wine for the tests and the benchmark: a ready wine prefix
made once per test run and copied for every case, and copies of the program folder started
with their own prefix, locale and faked clock. Every wine call is bounded by `timeout`.

Run as a script, it makes the ready prefix or runs a test program under wine (see the end)."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench"))

import benchlib  # noqa: E402  (the folder watch)
import harness  # noqa: E402  (Xvfb, windows, clicks, the quit request)

PROGRAM_DIR = os.environ.get("VELMORIN_WIN_PROGRAM_DIR", "")
ZIP = os.environ.get("VELMORIN_WIN_ZIP", "")
READY_PREFIX = os.environ.get("VELMORIN_WINE_PREFIX", "")
FONT_SUBSTITUTES = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes"


def check_zip_fresh():
    """A zip older than the executable the build made would test yesterday's program."""
    exe = os.path.join(PROGRAM_DIR, "velmorin.exe")
    if os.path.isfile(ZIP) and os.path.isfile(exe) and os.path.getmtime(ZIP) < os.path.getmtime(exe):
        raise RuntimeError(f"{ZIP} is older than {exe}: pack it again (make windows, or cpack -G "
                           "ZIP in the build folder)")


def wine_environment(prefix, extra=None):
    env = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
        "HOME": os.path.dirname(prefix),
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "winemenubuilder.exe=d",
        "LANG": "en_US.UTF-8",
        "TZ": "UTC",
    }
    env.update(extra or {})
    return {k: v for k, v in env.items() if v is not None}


def wine(prefix, *command, limit=60, env=None):
    return subprocess.run(["timeout", "-k", "5", str(limit)] + list(command),
                          env=wine_environment(prefix, env), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, preexec_fn=harness.die_with_test)


def make_ready_prefix(prefix):
    """A booted prefix in which the About text's face is the IPA proportional gothic, as a
    Japanese Windows has its own; the Western locale keeps the registry tool's argument whole."""
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.dirname(prefix) or ".", exist_ok=True)
    if wine(prefix, "wineboot", "-i", limit=180).returncode != 0:
        raise RuntimeError("wineboot failed: is wine installed (scripts/setup.sh --windows)?")
    wine(prefix, "wine", "reg", "add", FONT_SUBSTITUTES, "/v", "ＭＳ Ｐゴシック", "/t",
         "REG_SZ", "/d", "IPAPGothic", "/f")
    wine(prefix, "wineserver", "-w", limit=60)
    return prefix


class WineSession:
    """One test case: a copy of the ready prefix, a scratch folder, and the copies it started.
    Closing it ends them, their wineserver and the prefix."""

    def __init__(self, display, ready_prefix):
        self.display = display
        self.root = tempfile.mkdtemp(prefix="velmorin-wine-")
        self.prefix = os.path.join(self.root, "prefix")
        subprocess.run(["cp", "-a", ready_prefix, self.prefix], check=True)
        self.copies = []

    def set_dpi(self, dpi):
        """The screen's DPI as the Display control panel sets it, for the copies started next."""
        wine(self.prefix, "wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
             "/t", "REG_DWORD", "/d", str(dpi), "/f")
        wine(self.prefix, "wineserver", "-w")

    def program_folder(self, name="Velmorin"):
        """The zip's Velmorin folder as a user unpacks it, renamed to `name`; without a zip,
        the build's program folder."""
        folder = os.path.join(self.root, name)
        check_zip_fresh()
        if os.path.isfile(ZIP):
            unpacked = tempfile.mkdtemp(dir=self.root)
            with zipfile.ZipFile(ZIP) as archive:
                archive.extractall(unpacked)
            os.rename(os.path.join(unpacked, "Velmorin"), folder)
            os.rmdir(unpacked)
            return folder
        if not os.path.isfile(os.path.join(PROGRAM_DIR, "velmorin.exe")):
            raise RuntimeError("no zip in VELMORIN_WIN_ZIP and no velmorin.exe in "
                               "VELMORIN_WIN_PROGRAM_DIR: run make windows first")
        os.mkdir(folder)
        for entry in os.listdir(PROGRAM_DIR):
            if entry == "velmorin.exe" or entry.endswith((".WAV", ".MID")):
                shutil.copy(os.path.join(PROGRAM_DIR, entry), folder)
        return folder

    def start(self, folder, offset=None, lang="en_US.UTF-8", display=True, limit=120, env=None):
        """Starts velmorin.exe in its folder; offset is a whole number of seconds added to the
        clock (libfaketime; NO_FAKE_STAT keeps wine from seeing its prefix as changed). What
        wine writes to stderr goes to process.errors, a file, so no pipe ever fills."""
        extra = {"LANG": lang, "LC_ALL": lang,
                 "DISPLAY": self.display.name if display else None}
        if offset is not None:
            extra.update({"FAKETIME": "%+d" % offset})
        if offset is not None or env:
            extra.update({"LD_PRELOAD": harness.FAKETIME_LIB, "NO_FAKE_STAT": "1"})
        extra.update(env or {})
        errors = os.path.join(self.root, f"stderr-{len(self.copies)}.txt")
        with open(errors, "wb") as sink:
            process = subprocess.Popen(
                ["timeout", "-k", "5", str(limit), "wine", os.path.join(folder, "velmorin.exe")],
                cwd=folder, env=wine_environment(self.prefix, extra), stdout=subprocess.DEVNULL,
                stderr=sink, preexec_fn=harness.die_with_test)
        process.errors = errors
        self.copies.append(process)
        return process

    def close(self):
        for process in self.copies:
            if process.poll() is None:
                process.kill()
            process.wait()
        wine(self.prefix, "wineserver", "-k", limit=20)
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def ready_prefix(scratch):
    """The prefix the test run made (VELMORIN_WINE_PREFIX), or one made now in scratch."""
    if READY_PREFIX and os.path.isfile(os.path.join(READY_PREFIX, "system.reg")):
        return READY_PREFIX
    return make_ready_prefix(os.path.join(scratch, "ready-prefix"))


def opens_until(watch, ignored, until, offset):
    """The files opened in the watched folder, other than the ignored names, until the faked
    epoch time `until`, as (name, faked epoch time)."""
    found = []
    while True:
        event = watch.next(until - (time.time() + offset))
        if event is None:
            return found
        if event[0] == "open" and event[1] not in ignored:
            found.append((event[1], event[2]))


def run_in_copy(ready, command, limit=300):
    """Runs one Windows program to its end in a copy of the ready prefix; its exit status."""
    with tempfile.TemporaryDirectory(prefix="velmorin-wine-") as root:
        prefix = os.path.join(root, "prefix")
        subprocess.run(["cp", "-a", ready, prefix], check=True)
        try:
            return subprocess.run(["timeout", "-k", "5", str(limit), "wine"] + command,
                                  env=wine_environment(prefix),
                                  preexec_fn=harness.die_with_test).returncode
        finally:
            wine(prefix, "wineserver", "-k", limit=20)


if __name__ == "__main__":
    # winelib.py prepare FOLDER: makes the ready prefix there.
    # winelib.py run PROGRAM [ARGS]: runs a test program under wine in a copy of it.
    if sys.argv[1] == "prepare":
        make_ready_prefix(os.path.abspath(sys.argv[2]))
    else:
        with tempfile.TemporaryDirectory(prefix="velmorin-wine-run-") as scratch:
            sys.exit(run_in_copy(ready_prefix(scratch), sys.argv[2:]))
