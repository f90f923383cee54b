#!/usr/bin/python3
"""Encoding speed of Save: a 10-minute take (44.1 kHz stereo, 16 bit) saved as FLAC, Ogg Opus and MP3
by the program's own encoder (build/tools/voxtape-encode, the code Save runs on its thread) beside
the reference encoders at the same settings: flac -5, opusenc at the same bit rate, lame -V4.

  bench/encode.py [RUNS] [MINUTES]    default: 3 runs of a 10-minute take

Each pair runs in turn (Voxtape, peer, Voxtape, peer, ...) so that a machine whose speed drifts
hurts both alike. Prints, per type, the median wall time, the speed as a multiple of real time, the
CPU seconds, the file size, and the ratio Voxtape/peer of the medians. The peers come from Debian's
flac, opus-tools and lame packages, installed here when missing (as root or with sudo).
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
ENCODER = os.path.join(os.environ.get("VOXTAPE_BUILD", os.path.join(ROOT, "build")), "tools",
                       "voxtape-encode")
PEER_PACKAGES = {"flac": "flac", "opusenc": "opus-tools", "lame": "lame", "sox": "sox"}


def ensure_peers():
    missing = [pkg for tool, pkg in PEER_PACKAGES.items() if not shutil.which(tool)]
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    print(f"installing {' '.join(missing)}", flush=True)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing],
                   check=True, env={**os.environ, "DEBIAN_FRONTEND": "noninteractive"})


def timed(command):
    """Wall and CPU seconds of one run of command (its children's accounting)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    minutes = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    if not os.access(ENCODER, os.X_OK):
        raise SystemExit(f"{ENCODER} is missing: build first (cmake --build build)")
    ensure_peers()
    seconds = minutes * 60
    with tempfile.TemporaryDirectory(prefix="vt-encode-") as work:
        take = os.path.join(work, "take.wav")
        # A voice-like tone on the left and pink noise on the right: neither compresses to nothing.
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", take, "synth", str(seconds),
                        "sine", "220-660", "pinknoise", "vol", "0.4"], check=True)
        out = lambda name: os.path.join(work, name)
        cases = [  # type, Voxtape's file, the peer's command and file, the peer's name
            ("FLAC", "flac", out("v.flac"), ["flac", "-5", "-f", "-s", "-o", out("p.flac"), take],
             out("p.flac"), "flac -5"),
            ("Ogg Opus", "opus", out("v.opus"),
             ["opusenc", "--quiet", "--bitrate", "96", take, out("p.opus")], out("p.opus"),
             "opusenc --bitrate 96"),
            ("MP3", "mp3", out("v.mp3"), ["lame", "--quiet", "-V4", take, out("p.mp3")], out("p.mp3"),
             "lame -V4"),
        ]
        print(f"{minutes:g}-minute take, 44.1 kHz stereo 16 bit ({os.path.getsize(take) / 1e6:.0f} MB), "
              f"{runs} runs each, medians\n")
        print(f"{'type':9} {'encoder':22} {'wall s':>7} {'x real time':>12} {'cpu s':>7} {'MB':>6}")
        for name, kind, ours_file, peer, peer_file, peer_name in cases:
            ours = [ENCODER, kind, take, ours_file]
            timed(ours), timed(peer)  # warm-up: both read the take from the page cache after this
            a, b = [], []
            for _ in range(runs):
                a.append(timed(ours))
                b.append(timed(peer))
            for label, figures, path in (("Voxtape", a, ours_file), (peer_name, b, peer_file)):
                wall = statistics.median(f[0] for f in figures)
                cpu = statistics.median(f[1] for f in figures)
                print(f"{name:9} {label:22} {wall:7.2f} {seconds / wall:12.0f} {cpu:7.2f} "
                      f"{os.path.getsize(path) / 1e6:6.1f}")
            ratio = statistics.median(x[0] / y[0] for x, y in zip(a, b))
            print(f"{'':9} {'Voxtape / peer (wall)':22} {ratio:7.2f}\n")


if __name__ == "__main__":
    main()
