#!/usr/bin/python3
"""One recording session, as a whole process, for timing against a peer.

  record_session.py voxtape SECONDS       start Voxtape, F5, wait, F5, close it (F9, Return)
  record_session.py parecord SECONDS      parecord from the default source for as long, then SIGINT
  record_session.py voxtape-idle SECONDS  start Voxtape, leave it alone for as long, close it

Both record the server's default source at 44.1 kHz, 16 bits, stereo, and run under
/usr/bin/time -v, which measures the recorder's own process from start to exit. Prints one line:

  <recorder> recorded=<s> stop_to_complete_ms=<ms> bytes=<n> cpu_s=<user+sys> user_s=<s> sys_s=<s>
      max_rss_kib=<n> steady_cpu_s=<s> steady_s=<s> steady_wakeups=<n>
      (on one line; idle: no recording fields)

"steady_cpu_s": the CPU time (user + system, all threads, from /proc/PID/stat) of the recorder
over the SECONDS it records (or, idle, sits with its window shown and its display running), without
its start-up and its ending; "steady_s" is how long that span really was; "steady_wakeups" the
context switches of its threads over that span (from /proc/PID/task/*/status).

"Stop to complete": from the Stop (the F5 key sent through XTEST; parecord's SIGINT) until the file
is complete (Voxtape's writer has let go of its lock; parecord has exited). Needs DISPLAY and a
sound server: run it inside scripts/testenv (bench/run does).
"""
import fcntl
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM_DIR = os.environ.get("VOXTAPE_DIR", os.path.join(ROOT, "build", "voxtape"))
TIMEOUT = 15


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True,
                          timeout=TIMEOUT).stdout


class KeyPresser:
    """Presses keys through the XTEST extension from this process, so the moment a key goes to the
    X server is known to the millisecond (an xdotool call takes several)."""

    def __init__(self):
        import ctypes
        import ctypes.util

        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display")

    def press(self, name):
        """Presses and releases a key; returns the moment both went to the server."""
        code = self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(name.encode()))
        self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x11.XFlush(self.display)
        return time.monotonic()

    def close(self):
        self.x11.XCloseDisplay(self.display)


def timed(cmd, report):
    """Starts cmd under /usr/bin/time -v (in a session of its own); returns (time's process, the
    recorder's pid)."""
    proc = subprocess.Popen(["/usr/bin/time", "-v", "-o", report, *cmd], start_new_session=True)
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        try:
            with open(f"/proc/{proc.pid}/task/{proc.pid}/children") as f:
                children = f.read().split()
        except OSError:
            children = []
        if children:
            return proc, int(children[0])
        time.sleep(0.005)
    raise RuntimeError(f"{cmd[0]} did not start")


def complete(path):
    """The file exists and no writer holds it."""
    try:
        with open(path, "rb") as f:
            fcntl.flock(f, fcntl.LOCK_SH | fcntl.LOCK_NB)
            return True
    except OSError:
        return False


def find_window(name, pid=None):
    args = ["search", "--sync", "--onlyvisible", "--name", name]
    for wid in xdotool(*args).split():
        owner = subprocess.run(["xdotool", "getwindowpid", wid], capture_output=True, text=True,
                               timeout=TIMEOUT).stdout.strip()
        if pid is None or owner == str(pid):
            return wid
    raise RuntimeError(f"no window {name!r}")


def process_cpu_seconds(pid):
    """User + system time so far of every thread of a process."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # After the command name: state is field 3, utime 14 and stime 15 (1-based, as in proc(5)).
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def process_context_switches(pid):
    """Voluntary and forced context switches so far of the process's living threads: each voluntary
    one is a sleep that something had to wake, the cost a battery feels beside the CPU time."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                        total += int(line.split()[1])
        except OSError:
            pass  # a thread that ended meanwhile
    return total


class Steady:
    """The CPU time and the wake-ups of a process over a span of wall time."""

    def start(self, pid):
        self.pid, self.cpu, self.wall = pid, process_cpu_seconds(pid), time.monotonic()
        self.wakeups = process_context_switches(pid)

    def stop(self):
        self.cpu = process_cpu_seconds(self.pid) - self.cpu
        self.wakeups = process_context_switches(self.pid) - self.wakeups
        self.wall = time.monotonic() - self.wall


def voxtape(seconds, scratch, report, steady):
    folder = os.path.join(scratch, "voxtape")
    shutil.copytree(PROGRAM_DIR, folder, ignore=shutil.ignore_patterns("sounds"))
    wav = os.path.join(folder, "sounds", "current.wav")
    proc, pid = timed([os.path.join(folder, "voxtape")], report)
    try:
        wid = find_window("^Voxtape$", pid)
        xdotool("windowfocus", "--sync", wid)
        xdotool("key", "F5")
        steady.start(pid)
        time.sleep(seconds)
        steady.stop()
        xdotool("windowfocus", "--sync", wid)
        keys = KeyPresser()
        try:
            stopped = keys.press("F5")
        finally:
            keys.close()
        deadline = stopped + TIMEOUT
        while not complete(wav):
            if time.monotonic() > deadline:
                raise RuntimeError("the recording did not complete")
            time.sleep(0.001)
        done = time.monotonic()
        # Closing the way a user does: F9, then OK in the exit confirmation.
        xdotool("key", "F9")
        confirm = find_window("^Exit Voxtape$")
        xdotool("windowfocus", "--sync", confirm)
        xdotool("key", "Return")
        proc.wait(timeout=TIMEOUT)
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
    return wav, (done - stopped) * 1000


def voxtape_idle(seconds, scratch, report, steady):
    folder = os.path.join(scratch, "voxtape")
    shutil.copytree(PROGRAM_DIR, folder, ignore=shutil.ignore_patterns("sounds"))
    proc, pid = timed([os.path.join(folder, "voxtape")], report)
    try:
        wid = find_window("^Voxtape$", pid)
        time.sleep(2)  # past the start-up
        steady.start(pid)
        time.sleep(seconds)
        steady.stop()
        xdotool("windowfocus", "--sync", wid)
        xdotool("key", "F9")
        confirm = find_window("^Exit Voxtape$")
        xdotool("windowfocus", "--sync", confirm)
        xdotool("key", "Return")
        proc.wait(timeout=TIMEOUT)
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()


def parecord(seconds, scratch, report, steady):
    wav = os.path.join(scratch, "parecord.wav")
    proc, pid = timed(["parecord", "--file-format=wav", "--rate=44100", "--channels=2",
                       "--format=s16le", wav], report)
    try:
        steady.start(pid)
        time.sleep(seconds)
        steady.stop()
        stopped = time.monotonic()
        os.kill(pid, signal.SIGINT)
        proc.wait(timeout=TIMEOUT)
        done = time.monotonic()
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
    return wav, (done - stopped) * 1000


def data_bytes(path):
    """The size of the data chunk, found by walking the chunks."""
    with open(path, "rb") as f:
        data = f.read()
    at = 12
    while at + 8 <= len(data):
        kind, size = struct.unpack_from("<4sI", data, at)
        if kind == b"data":
            # parecord may leave the size at its "unknown length" value: count what is there.
            return min(size, len(data) - at - 8)
        at += 8 + size + (size & 1)
    raise RuntimeError(f"{path}: no data chunk")


def rusage(report):
    with open(report) as f:
        text = f.read()

    def field(name):
        m = re.search(rf"^\s*{re.escape(name)}: (.*)$", text, re.M)
        if not m:
            raise RuntimeError(f"/usr/bin/time gave no {name!r}:\n{text}")
        return m.group(1).strip()

    user = float(field("User time (seconds)"))
    system = float(field("System time (seconds)"))
    return user, system, int(field("Maximum resident set size (kbytes)"))


def main():
    recorder, seconds = sys.argv[1], float(sys.argv[2])
    steady = Steady()
    with tempfile.TemporaryDirectory(prefix="voxtape-bench-") as scratch:
        report = os.path.join(scratch, "time.txt")
        if recorder == "voxtape-idle":
            voxtape_idle(seconds, scratch, report, steady)
            recording = ""
        else:
            wav, stop_ms = {"voxtape": voxtape, "parecord": parecord}[recorder](seconds, scratch, report,
                                                                                steady)
            recording = (f"recorded={data_bytes(wav) / 176400:.2f}s stop_to_complete_ms={stop_ms:.1f} "
                         f"bytes={os.path.getsize(wav)} ")
        user, system, rss = rusage(report)
        print(f"{recorder} {recording}cpu_s={user + system:.2f} user_s={user:.2f} sys_s={system:.2f} "
              f"max_rss_kib={rss} steady_cpu_s={steady.cpu:.2f} steady_s={steady.wall:.2f} "
              f"steady_wakeups={steady.wakeups}")


if __name__ == "__main__":
    main()
