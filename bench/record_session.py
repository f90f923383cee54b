#!/usr/bin/python3
"""One recording session, as a whole process, for timing against a peer.

  record_session.py voxtape SECONDS   start Voxtape, F5, wait, F5, close it
  record_session.py parecord SECONDS  parecord from the default source for as long, then SIGINT

Both record the server's default source at 44.1 kHz, 16 bits, stereo. Prints one line:
"<recorder> recorded=<s> stop_to_complete_ms=<ms> bytes=<n>". Needs DISPLAY and a sound server
(run it inside scripts/testenv).
"""
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM_DIR = os.environ.get("VOXTAPE_DIR", os.path.join(ROOT, "build", "voxtape"))


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout


def complete(path):
    """The file exists and no writer holds it."""
    try:
        with open(path, "rb") as f:
            fcntl.flock(f, fcntl.LOCK_SH | fcntl.LOCK_NB)
            return True
    except OSError:
        return False


def voxtape(seconds, scratch):
    folder = os.path.join(scratch, "voxtape")
    shutil.copytree(PROGRAM_DIR, folder, ignore=shutil.ignore_patterns("sounds"))
    wav = os.path.join(folder, "sounds", "current.wav")
    proc = subprocess.Popen([os.path.join(folder, "voxtape")])
    try:
        wid = xdotool("search", "--sync", "--onlyvisible", "--name", "^Voxtape$").split()[0]
        xdotool("windowfocus", "--sync", wid)
        xdotool("key", "F5")
        time.sleep(seconds)
        xdotool("key", "F5")
        stopped = time.monotonic()
        time.sleep(0.001)
        while not complete(wav):
            time.sleep(0.001)
        done = time.monotonic()
        xdotool("key", "F9")
        time.sleep(0.3)
        xdotool("key", "Return")
        proc.wait(timeout=10)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return wav, (done - stopped) * 1000


def parecord(seconds, scratch):
    wav = os.path.join(scratch, "parecord.wav")
    proc = subprocess.Popen(["parecord", "--file-format=wav", "--rate=44100", "--channels=2",
                             "--format=s16le", wav])
    time.sleep(seconds)
    stopped = time.monotonic()
    proc.send_signal(signal.SIGINT)
    proc.wait(timeout=10)
    return wav, (time.monotonic() - stopped) * 1000


def main():
    recorder, seconds = sys.argv[1], float(sys.argv[2])
    with tempfile.TemporaryDirectory(prefix="voxtape-bench-") as scratch:
        wav, stop_ms = {"voxtape": voxtape, "parecord": parecord}[recorder](seconds, scratch)
        size = os.path.getsize(wav)
        recorded = (size - 46) / 176400
        print(f"{recorder} recorded={recorded:.2f}s stop_to_complete_ms={stop_ms:.1f} bytes={size}")


if __name__ == "__main__":
    main()
