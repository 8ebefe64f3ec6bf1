"""Drives the restore tool's window from outside, as a user does: xdotool
for clicks and keys, and probe.exe (run in the same Wine session) to read
what is on the screen. Used by the end-to-end tests and the demonstration
of scripts/run."""
import os
import subprocess
import tempfile
import time

BUILD = None
SOURCE = None
ENV = None
WINE_RUN = APP = PROBE = MAKE_SAMPLE = None

TITLE = "Wiederherstellung".encode("cp1252")
OPEN_TITLE = "Sicherung auswählen".encode("cp1252")
SAVE_TITLE = "Datei speichern".encode("cp1252")
FILE_NAME_FIELD = 0x47C


def setup(build, source):
    """Points the driver at a win32 build and starts (or finds) its display."""
    global BUILD, SOURCE, ENV, WINE_RUN, APP, PROBE, MAKE_SAMPLE
    BUILD = os.path.abspath(build)
    SOURCE = os.path.abspath(source)
    WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run")
    APP = os.path.join(BUILD, "app", "Wiederherstellung.exe")
    PROBE = os.path.join(BUILD, "tests", "e2e", "probe.exe")
    MAKE_SAMPLE = os.path.join(BUILD, "samples", "make_sample.exe")
    display = subprocess.run([WINE_RUN, "--display", BUILD], check=True, capture_output=True,
                             text=True).stdout.strip()
    ENV = dict(os.environ, DISPLAY=display)
    return ENV

def wine(*args, cwd=None, timeout=60):
    # Output goes through files, not pipes: a Wine helper that the program
    # starts (the desktop process) inherits its output and lives on, and a
    # pipe would then never reach its end.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([WINE_RUN, *args], cwd=cwd, env=ENV, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=err, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, code, out.read(), err.read())


def probe(*args):
    result = wine(PROBE, *args)
    return result.returncode, result.stdout.decode("ascii", "replace")


def hexof(title):
    return title.hex()


def wait_for(condition, what, timeout=30.0):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


def window_shown(title):
    return probe("window", hexof(title))[0] == 0


def xdo(*args):
    subprocess.run(["xdotool", *args], env=ENV, check=True, timeout=30)


def click_at(x, y):
    # Move first by a pixel elsewhere: a move to where the pointer already is
    # makes xdotool wait for an event that never comes.
    xdo("mousemove", str(int(x) + 1), str(int(y) + 1))
    xdo("mousemove", str(int(x)), str(int(y)), "click", "1")


def click_control(title, control):
    code, out = probe("center", hexof(title), str(control))
    assert code == 0, "control %d not found" % control
    x, y = out.split()
    click_at(x, y)


def rows():
    code, out = probe("rows", hexof(TITLE))
    assert code == 0
    # One line per row; an empty row is an empty line.
    return [bytes.fromhex(line.strip()) for line in out.splitlines()]


def controls():
    """id -> (enabled, focused)"""
    code, out = probe("controls", hexof(TITLE))
    assert code == 0
    state = {}
    for line in out.splitlines():
        fields = [int(f) for f in line.split()]
        state[fields[0]] = (fields[1], fields[3])
    return state


def focused_control():
    return next((cid for cid, (_, focused) in controls().items() if focused), None)


def cancel_dialog(title):
    wait_for(lambda: window_shown(title), "the dialog")
    # Keys go to the window that has the X input focus: click into it first.
    click_control(title, FILE_NAME_FIELD)
    xdo("key", "Escape")
    wait_for(lambda: not window_shown(title), "the dialog to close")


def type_into_dialog(title, path):
    wait_for(lambda: window_shown(title), "the dialog")
    click_control(title, FILE_NAME_FIELD)
    xdo("key", "ctrl+a")
    xdo("type", "--delay", "20", path)
    xdo("key", "Return")
    wait_for(lambda: not window_shown(title), "the dialog to close")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


