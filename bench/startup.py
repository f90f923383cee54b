#!/usr/bin/python3
"""Start-up beside a plain X client: the time from exec to the mapped window, for Voxtape and for
xlogo, started one after the other on the same display and sound server.

  scripts/testenv -- bench/startup.py [RUNS]     default: 9 runs of each, medians and the ratio

The clock starts just before the program is started and stops at the X server's MapNotify of the
program's top-level window (or of the window manager's frame around it), read from the root
window's substructure events by this process, so no polling stands between the map and the clock.
Each program is closed (SIGTERM) once mapped and waited for before the next start. Voxtape runs
from a copy of its program folder (VOXTAPE_DIR, default build/voxtape), with no recording in it.
"""
import ctypes
import ctypes.util
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PROGRAM_DIR = os.environ.get("VOXTAPE_DIR", os.path.join(ROOT, "build", "voxtape"))
TIMEOUT = 10

SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
MAP_NOTIFY = 19


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("pad", ctypes.c_long * 24)]


class MapWatcher:
    """Root-window substructure events of the display: which top-level windows got mapped."""

    def __init__(self):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        self.x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
        self.x11.XPending.argtypes = [ctypes.c_void_p]
        self.x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = self.x11.XOpenDisplay(None)
        if not self.display:
            raise SystemExit("no X display (run inside scripts/testenv)")
        root = self.x11.XDefaultRootWindow(self.display)
        self.x11.XSelectInput(self.display, root, SUBSTRUCTURE_NOTIFY_MASK)
        self.x11.XSync(self.display, 0)
        self.fd = self.x11.XConnectionNumber(self.display)

    def drain(self):
        event = XEvent()
        while self.x11.XPending(self.display):
            self.x11.XNextEvent(self.display, ctypes.byref(event))

    def wait_map(self, deadline):
        """The moment of the next MapNotify of a child of the root window."""
        event = XEvent()
        while True:
            while self.x11.XPending(self.display):
                self.x11.XNextEvent(self.display, ctypes.byref(event))
                if event.type == MAP_NOTIFY:
                    return time.monotonic()
            left = deadline - time.monotonic()
            if left <= 0:
                raise RuntimeError("no window was mapped")
            select.select([self.fd], [], [], left)

    def close(self):
        self.x11.XCloseDisplay(self.display)


def start_to_map(watcher, argv, cwd=None):
    watcher.drain()
    start = time.monotonic()
    proc = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    try:
        mapped = watcher.wait_map(start + TIMEOUT)
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
    # Let the window manager forget the window before the next start.
    time.sleep(0.3)
    return (mapped - start) * 1000


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 9
    if not os.environ.get("DISPLAY"):
        raise SystemExit("no display: run it as scripts/testenv -- bench/startup.py")
    watcher = MapWatcher()
    scratch = tempfile.mkdtemp(prefix="voxtape-startup-")
    try:
        folder = os.path.join(scratch, "voxtape")
        shutil.copytree(PROGRAM_DIR, folder, ignore=shutil.ignore_patterns("sounds"))
        times = {"voxtape": [], "xlogo": []}
        # Taken in turns, so that a slow moment of the machine falls on both alike.
        for _ in range(runs):
            times["voxtape"].append(start_to_map(watcher, [os.path.join(folder, "voxtape")], folder))
            shutil.rmtree(os.path.join(folder, "sounds"), ignore_errors=True)
            times["xlogo"].append(start_to_map(watcher, ["xlogo"]))
    finally:
        watcher.close()
        shutil.rmtree(scratch, ignore_errors=True)
    medians = {name: statistics.median(values) for name, values in times.items()}
    for name, values in times.items():
        print(f"{name:8s} median {medians[name]:6.1f} ms   runs: " + " ".join(f"{v:.0f}" for v in values))
    print(f"ratio voxtape/xlogo {medians['voxtape'] / medians['xlogo']:.2f}")


if __name__ == "__main__":
    main()
