#!/usr/bin/python3
"""How soon Play is heard and Stop falls silent.

  bench/playback_latency.py [RUNS]     default: 10 Play/Stop pairs

Starts Voxtape on a prepared recording (3 s of a 440 Hz sine at half scale, 44.1 kHz stereo 16-bit,
in sounds/current.wav of a private copy of the program folder) and records the default sink's
monitor with parec meanwhile. Each run presses F4 (Play), waits a second, presses F4 (Stop) and waits
again; the keys go to the X server through XTEST from this process, so their moments are exact.

  Play to sound:    from the Play key to the first sample of the tone on the monitor
  Stop to silence:  from the Stop key to the last sample of the tone on the monitor

The monitor's stream is placed in time by its least delayed block (the arrival time of each block
of parec's output, less the samples up to its end). A null sink mixes a block at once and the
monitor hands it out then, up to one block ahead of the moments its samples stand for, so the
figures are good to about one block of the sink (some 10 ms on PulseAudio at this latency, about
20 ms with PipeWire's quantum) and a Stop can even come out a little negative. Prints one line
per run, the medians and the largest values. Needs DISPLAY and a sound server:
starts scripts/testenv when not inside one.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from record_session import KeyPresser, find_window, xdotool  # noqa: E402

PROGRAM_DIR = os.environ.get("VOXTAPE_DIR", os.path.join(ROOT, "build", "voxtape"))
RATE = 44100
FRAME = 4  # stereo, 16-bit
THRESHOLD = 2000  # the tone peaks at 16384; silence is 0


class MonitorRecorder:
    """parec on the default sink's monitor; every block's bytes with the moment it arrived."""

    def __init__(self):
        sink = subprocess.run(["pactl", "get-default-sink"], capture_output=True, text=True,
                              check=True).stdout.strip()
        self.proc = subprocess.Popen(
            ["parec", "--latency-msec=5", "--raw", f"--rate={RATE}", "--channels=2", "--format=s16le",
             "-d", f"{sink}.monitor"], stdout=subprocess.PIPE, bufsize=0)
        self.blocks = []  # (arrival, bytes)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while True:
            data = self.proc.stdout.read(FRAME * RATE // 200)
            if not data:
                return
            self.blocks.append((time.monotonic(), data))

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        self.thread.join()

    def samples(self):
        """(time of the first sample, the first channel's samples)."""
        data = b"".join(d for _, d in self.blocks)
        frames, base = 0, None
        for arrival, d in self.blocks:
            frames += len(d) // FRAME
            start = arrival - frames / RATE
            base = start if base is None else min(base, start)
        count = len(data) // FRAME
        left = memoryview(data)[:count * FRAME].cast("h")[::2]
        return base, left


def prepare_folder(scratch):
    folder = os.path.join(scratch, "voxtape")
    shutil.copytree(PROGRAM_DIR, folder, ignore=shutil.ignore_patterns("sounds"))
    os.makedirs(os.path.join(folder, "sounds"))
    subprocess.run(["sox", "-q", "-n", "-r", str(RATE), "-c", "2", "-b", "16", "-e", "signed",
                    os.path.join(folder, "sounds", "current.wav"), "synth", "3", "sine", "440", "vol",
                    "0.5"], check=True)
    return folder


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    if not os.environ.get("VT_TESTENV_DIR"):
        os.execv(os.path.join(ROOT, "scripts", "testenv"),
                 ["testenv", "--", sys.executable, os.path.abspath(__file__), str(runs)])

    with tempfile.TemporaryDirectory(prefix="voxtape-bench-") as scratch:
        folder = prepare_folder(scratch)
        monitor = MonitorRecorder()
        program = subprocess.Popen([os.path.join(folder, "voxtape")], start_new_session=True,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        presses = []
        try:
            wid = find_window("^Voxtape$", program.pid)
            xdotool("windowfocus", "--sync", wid)
            time.sleep(1)
            keys = KeyPresser()
            try:
                for _ in range(runs):
                    play = keys.press("F4")
                    time.sleep(1.0)
                    stop = keys.press("F4")
                    time.sleep(0.6)
                    presses.append((play, stop))
            finally:
                keys.close()
        finally:
            program.kill()
            program.wait()
            monitor.stop()

    base, left = monitor.samples()
    loud = [i for i, s in enumerate(left) if abs(s) > THRESHOLD]
    play_ms, stop_ms = [], []
    for n, (play, stop) in enumerate(presses, 1):
        first = next((i for i in loud if base + i / RATE >= play - 0.05), None)
        until = presses[n][0] - 0.1 if n < len(presses) else float("inf")
        during = [i for i in loud if stop - 0.05 <= base + i / RATE < until]
        if first is None or not during:
            raise SystemExit(f"run {n}: no tone on the monitor {'after Play' if first is None else 'at Stop'}")
        play_ms.append((base + first / RATE - play) * 1000)
        stop_ms.append((base + during[-1] / RATE - stop) * 1000)
        print(f"run {n:2}: Play to sound {play_ms[-1]:6.1f} ms   Stop to silence {stop_ms[-1]:6.1f} ms",
              file=sys.stderr)
    print(f"Play to sound: median {statistics.median(play_ms):.1f} ms, max {max(play_ms):.1f} ms; "
          f"Stop to silence: median {statistics.median(stop_ms):.1f} ms, max {max(stop_ms):.1f} ms "
          f"({runs} runs)")


if __name__ == "__main__":
    main()
