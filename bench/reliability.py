#!/usr/bin/python3
"""How Voxtape keeps a recording when things go wrong: faults injected on purpose, figures printed as a
Markdown table. Not a timed test; run it inside scripts/testenv as root (it mounts small file systems
and runs the program as the user "nobody" for the cases of an ordinary user):

  scripts/testenv -- bench/reliability.py [--quick]

  1. kill -9 at a random moment of a recording, 20 trials over five formats (capture buffers of 15, 7.5
     and 3.75 s): the seconds of sound lost, against the time between Record and the kill;
  2. the sound server killed in the middle of a recording, 10 times: the message, the Record face, the
     seconds lost, and whether the next Record (server back) works;
  3. the disk full (the sounds folder on a 1 MiB tmpfs), with and without space freed at once, in three
     formats whose capture buffers end in half a frame: the message, the sound kept, noise or swapped
     channels (a stereo tone, 440 Hz left and 880 Hz right);
  4. folders that cannot take the recording: where it went, or the message.
"""

from __future__ import annotations

import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import wave
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

import vtharness as vt  # noqa: E402

PROGRAM_DIR = Path(os.environ.get("VOXTAPE_DIR", ROOT / "build" / "voxtape"))
RADIOS = {("rate", 8000): (36, 305), ("rate", 11025): (36, 327), ("rate", 22050): (36, 350),
          ("rate", 44100): (36, 371), ("bits", 8): (172, 305), ("bits", 16): (172, 327),
          ("channels", 1): (292, 306), ("channels", 2): (292, 327)}
RECORD_BUTTON = (23, 500, 130, 38)
NOBODY = 65534


def fmt_name(fmt):
    channels, rate, bits = fmt
    return f"{'mono' if channels == 1 else 'stereo'} {rate / 1000:g} kHz {bits}-bit"


def buffer_seconds(fmt):
    channels, rate, bits = fmt
    return 15 / (channels * bits // 8)


# ---------------------------------------------------------------------------------------------------
# The program


class Run:
    """One started program in a fresh copy of the program folder (or a given one)."""

    def __init__(self, base: Path, env: dict | None = None, folder: Path | None = None, user: int | None = None):
        self.folder = folder or vt.copy_program_folder(base / "voxtape", PROGRAM_DIR)
        self.log = base / f"voxtape-{time.monotonic_ns()}.log"
        full_env = {**os.environ, **(env or {})}
        for name, value in (env or {}).items():
            if value is None:
                full_env.pop(name)
        with open(self.log, "wb") as log:
            self.proc = subprocess.Popen([str(self.folder / "voxtape")], stdin=subprocess.DEVNULL, stdout=log,
                                         stderr=log, env=full_env, cwd=str(self.folder), start_new_session=True,
                                         user=user, group=user, extra_groups=[] if user else None)
        self.pid = self.proc.pid
        self.wid = vt.wait_until(lambda: self.window(), what="the window")
        # The source list starts on the Wave Out Mix monitor, silent here: record the tone (or the
        # source PULSE_SOURCE names).
        time.sleep(0.5)
        g = vt.geometry(self.wid)
        x, y = vt.source_row_point((env or {}).get("PULSE_SOURCE") or vt.TONE_SOURCE)
        vt.move_pointer(g.x + x, g.y + y)
        vt.xdotool("click", "1")
        vt.move_pointer(0, 0)

    def window(self):
        if self.proc.poll() is not None:
            raise vt.HarnessError(f"voxtape ended: {self.output()}")
        wids = vt.find_windows(pid=self.pid) or vt.find_windows()
        return wids[0] if wids else None

    def output(self) -> str:
        return self.log.read_text(errors="replace")

    def press(self, key: str) -> float:
        vt.focus(self.wid)
        before = time.monotonic()
        vt.xdotool("key", key)
        return (before + time.monotonic()) / 2

    def choose(self, fmt):
        channels, rate, bits = fmt
        g = vt.geometry(self.wid)
        for radio in (("channels", channels), ("rate", rate), ("bits", bits)):
            x, y = RADIOS[radio]
            vt.move_pointer(g.x + x, g.y + y)
            vt.xdotool("click", "1")
        vt.move_pointer(0, 0)

    def record_face(self) -> bytes:
        x, y, w, h = RECORD_BUTTON
        return vt.screenshot(self.wid).crop(x, y, w, h).rgb

    def boxes(self) -> list[int]:
        out = vt.run("xwininfo", "-root", "-tree").decode(errors="replace")
        return [int(w, 16) for w in re.findall(r'^\s*(0x[0-9a-f]+) "voxtape":', out, re.MULTILINE)
                if int(w, 16) != self.wid]

    def message(self, timeout=15.0) -> str | None:
        """The text of the message box the program shows (it also writes it to stderr), or None."""
        try:
            vt.wait_until(lambda: self.boxes(), timeout=timeout, interval=0.05, what="a message box")
            return vt.wait_until(lambda: re.findall(r"^voxtape: (.*)$", self.output(), re.MULTILINE),
                                 timeout=5, what="the message text")[-1]
        except vt.HarnessError:
            return None

    def dismiss(self):
        for box in self.boxes():
            vt.press_keys("Return", wid=box)
        vt.wait_until(lambda: not self.boxes(), timeout=5, what="no message box")

    def kill(self):
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.proc.wait(timeout=15)


def wav_info(path: Path):
    """(seconds, whole frames and a complete header) of a file the program wrote, or (None, False)."""
    try:
        data = path.read_bytes()
    except OSError:
        return None, False
    if len(data) < 46:
        return None, False
    block_align, = struct.unpack_from("<H", data, 32)
    byte_rate, = struct.unpack_from("<I", data, 28)
    size, = struct.unpack_from("<I", data, 42)
    ok = len(data) == 46 + size + (size & 1) and size % block_align == 0
    return size / byte_rate, ok


def channel_faults(path: Path) -> str:
    """Windows of 0.1 s of a 440 Hz left / 880 Hz right stereo file that are noise (a channel far above
    both tones: samples shifted by part of a frame), swapped (left 880, right 440), or otherwise off (a
    gap in the test tone bends a window's estimate): "noise / swapped / off"."""
    with wave.open(str(path), "rb") as w:
        channels, width, rate, n = w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()
        raw = w.readframes(n)
    if width == 2:
        samples = struct.unpack(f"<{len(raw) // 2}h", raw)
    else:
        samples = [b - 128 for b in raw]
    size = int(rate * 0.1)
    noise = swapped = off = 0
    for start in range(0, n - size + 1, size):
        part = samples[start * channels:(start + size) * channels]
        left = vt.dominant_frequency(list(part[0::2]), rate)
        right = vt.dominant_frequency(list(part[1::2]), rate)
        if left > 1000 or right > 2000:
            noise += 1
        elif 0.4 <= right / max(left, 1) <= 0.6:
            swapped += 1
        elif abs(left - 440) > 44 or abs(right - 880) > 88:
            off += 1
    return f"{noise} / {swapped} / {off}"


def sound_server(action: str):
    env_dir = os.environ["VT_TESTENV_DIR"]
    with open(Path(env_dir) / f"{action}.log", "w") as log:
        subprocess.run([str(ROOT / "scripts" / "testenv"), action, env_dir], stdin=subprocess.DEVNULL,
                       stdout=log, stderr=log, timeout=60, check=True)


def table(title, header, rows):
    print(f"\n### {title}\n")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for row in rows:
        print("| " + " | ".join(str(c) for c in row) + " |")
    sys.stdout.flush()


# ---------------------------------------------------------------------------------------------------
# The trials


KILL_FORMATS = [(1, 8000, 8), (2, 11025, 8), (1, 11025, 16), (2, 22050, 16), (2, 44100, 16)]


def kill_trials(base: Path, trials: int, rng: random.Random):
    rows, lost_all = [], []
    for i in range(trials):
        fmt = KILL_FORMATS[i % len(KILL_FORMATS)]
        after = round(rng.uniform(1.0, 12.0), 2)
        run = Run(base / f"kill{i}")
        try:
            run.choose(fmt)
            start = run.press("F5")
            time.sleep(max(0.0, start + after - time.monotonic()))
            killed = time.monotonic()
            run.kill()
        finally:
            run.kill()
        seconds, ok = wav_info(run.folder / "sounds" / "current.wav")
        lost = (killed - start) - (seconds or 0)
        lost_all.append(lost)
        rows.append([i + 1, fmt_name(fmt), f"{buffer_seconds(fmt):g} s", f"{killed - start:.2f}",
                     f"{seconds or 0:.2f}", f"{lost:.2f}", "yes" if ok else "NO"])
        shutil.rmtree(run.folder, ignore_errors=True)
    table("kill -9 in the middle of a recording",
          ["trial", "format", "buffer", "Record to kill (s)", "in the file (s)", "lost (s)", "valid, whole frames"],
          rows)
    print(f"\nlost: mean {sum(lost_all) / len(lost_all):.2f} s, worst {max(lost_all):.2f} s, "
          f"files without sound {sum(1 for r in rows if float(r[4]) == 0)} of {len(rows)}")


def server_trials(base: Path, trials: int, rng: random.Random):
    rows = []
    run = Run(base / "server")
    try:
        idle = run.record_face()
        path = run.folder / "sounds" / "current.wav"
        for i in range(trials):
            after = round(rng.uniform(1.5, 5.0), 2)
            start = run.press("F5")
            time.sleep(max(0.0, start + after - time.monotonic()))
            killed = time.monotonic()
            sound_server("kill-pulse")
            text = run.message()
            shown = time.monotonic() - killed
            try:
                vt.wait_until(lambda: run.record_face() == idle, timeout=5, what="the Record face")
                face = "yes"
            except vt.HarnessError:
                face = "NO"
            seconds, ok = wav_info(path)
            sound_server("restart-pulse")
            if text:
                run.dismiss()
            again = run.press("F5")
            time.sleep(1.0)
            stopped = run.press("F5")
            vt.wait_file_complete(path)
            next_seconds, next_ok = wav_info(path)
            works = next_ok and abs(next_seconds - (stopped - again)) < 0.3 and not run.boxes()
            rows.append([i + 1, f"{killed - start:.2f}", f"{seconds or 0:.2f}",
                         f"{(killed - start) - (seconds or 0):.2f}", "yes" if ok else "NO",
                         f"yes ({shown:.2f} s)" if text else "NO", face, "yes" if works else "NO"])
    finally:
        run.kill()
    table("the sound server killed during a recording (stereo 44.1 kHz 16-bit)",
          ["trial", "Record to kill (s)", "in the file (s)", "lost (s)", "valid", "message (after)",
           "Record face", "next Record works"], rows)


def two_tone():
    module = vt.pactl("load-module", "module-null-sink", "sink_name=lr",
                      "sink_properties=device.description=LeftRight").strip()
    realtime = "chrt -f 10 " if subprocess.run(["chrt", "-f", "10", "true"], capture_output=True).returncode == 0 \
        else ""
    tone = subprocess.Popen(f"{realtime}sh -c 'sox -q -n -t raw -r 44100 -c 2 -b 16 -e signed - synth 3600 sine 440 "
                            "sine 880 vol 0.5 | exec pacat --latency-msec=500 --rate=44100 --channels=2 "
                            "--format=s16le -d lr'", shell=True, start_new_session=True, stderr=subprocess.DEVNULL)
    reader = subprocess.Popen(["parec", "--latency-msec=20", "-d", "lr.monitor"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, start_new_session=True)
    time.sleep(2)
    return module, [tone, reader]


def disk_trials(base: Path):
    rows = []
    module, procs = two_tone()
    try:
        for fmt in [(2, 11025, 8), (2, 22050, 16), (2, 44100, 16)]:
            for freed in (False, True):
                folder = vt.copy_program_folder(base / f"disk-{fmt[1]}-{fmt[2]}-{freed}" / "voxtape", PROGRAM_DIR)
                sounds = folder / "sounds"
                sounds.mkdir()
                vt.run("mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", sounds)
                try:
                    filler = sounds / "filler"
                    filler.write_bytes(b"\0" * (1024 * 1024 - 400 * 1024))
                    run = Run(folder.parent, env={"PULSE_SOURCE": "lr.monitor"}, folder=folder)
                    try:
                        run.choose(fmt)
                        start = run.press("F5")
                        vt.wait_until(lambda: run.boxes(), timeout=30, interval=0.02, what="a message box")
                        full = time.monotonic() - start
                        if freed:
                            filler.unlink()
                        text = run.message()
                        path = sounds / "current.wav"
                        seconds, ok = wav_info(path)
                        faults = channel_faults(path) if ok else "-"
                        run.dismiss()
                        next_ok = "-"
                        if freed:
                            run.press("F5")
                            time.sleep(1.0)
                            run.press("F5")
                            vt.wait_file_complete(path)
                            next_seconds, n_ok = wav_info(path)
                            next_ok = "yes" if n_ok and next_seconds > 0.7 and not run.boxes() else "NO"
                    finally:
                        run.kill()
                finally:
                    subprocess.run(["umount", "-l", str(sounds)])
                rows.append([fmt_name(fmt), "yes" if freed else "no", f"{full:.2f}", f"{seconds or 0:.2f}",
                             "yes" if ok else "NO", faults, f'"{text}"' if text else "NO", next_ok])
    finally:
        for proc in procs:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait(timeout=15)
        vt.pactl("unload-module", module, check=False)
    table("disk full (sounds on a 1 MiB tmpfs, 400 KiB free)",
          ["format", "space freed at once", "message after (s)", "in the file (s)", "valid, whole frames",
           "0.1 s windows: noise / swapped / off (tone gap)", "message", "next Record works"], rows)


def folder_trials(base: Path):
    """Each case: (name, prepare(case_dir) -> (folder, env, user, expected file)). Records 1.5 s."""
    rows = []
    env_dir = os.environ["VT_TESTENV_DIR"]
    # A sound server socket an ordinary user may reach.
    shared = Path(tempfile.mkdtemp(prefix="vt-reliability-"))
    shared.chmod(0o755)
    module = vt.pactl("load-module", "module-native-protocol-unix", f"socket={shared}/native",
                      "auth-anonymous=1").strip()
    (shared / "native").chmod(0o777)
    runtime = shared / "runtime"
    runtime.mkdir()
    os.chown(runtime, NOBODY, NOBODY)
    runtime.chmod(0o700)
    user_env = {"PULSE_SERVER": f"unix:{shared}/native", "XDG_RUNTIME_DIR": str(runtime),
                "DBUS_SESSION_BUS_ADDRESS": "disabled:", "XDG_DATA_HOME": None}
    mounted = []

    def home_for(case: Path, owner: int | None) -> Path:
        home = case / "home"
        home.mkdir(parents=True)
        if owner:
            os.chown(home, owner, owner)
        return home

    def read_only(folder: Path, case: Path) -> Path:
        target = case / "ro"
        target.mkdir()
        vt.run("mount", "--bind", folder, target)
        vt.run("mount", "-o", "remount,ro,bind", target)
        mounted.append(target)
        return target

    def c_ro_user(case):
        folder = vt.copy_program_folder(case / "voxtape", PROGRAM_DIR)  # root's: nobody cannot write it
        home = home_for(case, NOBODY)
        return folder, {**user_env, "HOME": str(home)}, NOBODY, home / ".local/share/voxtape/sounds/current.wav"

    def c_ro_mount(case):
        folder = read_only(vt.copy_program_folder(case / "voxtape", PROGRAM_DIR), case)
        home = home_for(case, None)
        return folder, {"HOME": str(home), "XDG_DATA_HOME": None}, None, \
            home / ".local/share/voxtape/sounds/current.wav"

    def c_ro_xdg(case):
        folder = read_only(vt.copy_program_folder(case / "voxtape", PROGRAM_DIR), case)
        data = case / "data"
        data.mkdir()
        ro_data = case / "rodata"
        ro_data.mkdir()
        vt.run("mount", "--bind", data, ro_data)
        vt.run("mount", "-o", "remount,ro,bind", ro_data)
        mounted.append(ro_data)
        return folder, {"XDG_DATA_HOME": str(ro_data)}, None, None

    def c_sounds_file(case):
        folder = vt.copy_program_folder(case / "voxtape", PROGRAM_DIR)
        (folder / "sounds").write_text("not a folder")
        return folder, {"XDG_DATA_HOME": str(case / "data")}, None, case / "data/voxtape/sounds/current.wav"

    def c_other_owner(case):
        folder = vt.copy_program_folder(case / "voxtape", PROGRAM_DIR)
        os.chown(folder, NOBODY, NOBODY)
        sounds = folder / "sounds"
        sounds.mkdir()
        os.chown(sounds, NOBODY, NOBODY)
        (sounds / "current.wav").write_bytes(b"someone else's")  # root's, 0644
        home = home_for(case, NOBODY)
        return folder, {**user_env, "HOME": str(home)}, NOBODY, home / ".local/share/voxtape/sounds/current.wav"

    cases = [("program folder not writable, ordinary user, no ~/.local/share", c_ro_user),
             ("program folder on a read-only mount, no ~/.local/share", c_ro_mount),
             ("program folder and XDG_DATA_HOME both read-only", c_ro_xdg),
             ("sounds is a plain file", c_sounds_file),
             ("current.wav belongs to another user", c_other_owner)]
    try:
        for i, (name, prepare) in enumerate(cases):
            case = base / f"folder{i}"
            case.mkdir()
            case.chmod(0o755)
            folder, env, user, expected = prepare(case)
            run = Run(case, env=env, folder=folder, user=user)
            try:
                start = run.press("F5")
                time.sleep(1.5)
                text = run.message(timeout=0.5)
                if not text:
                    stop = run.press("F5")
                    text = run.message(timeout=1.0)
                where, seconds = "nowhere", 0.0
                if expected:
                    vt.wait_until(lambda: expected.exists() and vt.file_unlocked(expected), timeout=5,
                                  what=str(expected))
                    got, ok = wav_info(expected)
                    where = str(expected.relative_to(case))
                    seconds = got if ok else 0.0
                rows.append([name, where, f"{seconds:.2f}" + (f" of {stop - start:.2f}" if not text else ""),
                             f'"{text}"' if text else "none"])
            finally:
                run.kill()
    finally:
        for target in reversed(mounted):
            subprocess.run(["umount", "-l", str(target)])
        vt.pactl("unload-module", module, check=False)
        shutil.rmtree(shared, ignore_errors=True)
        del env_dir
    table("folders that cannot take the recording", ["case", "recording went to", "seconds kept", "message"],
          rows)


def main():
    quick = "--quick" in sys.argv
    if os.geteuid() != 0 or not os.environ.get("VT_TESTENV_DIR"):
        sys.exit("run it as root inside scripts/testenv: scripts/testenv -- bench/reliability.py")
    rng = random.Random(11)
    base = Path(tempfile.mkdtemp(prefix="vt-reliability-"))
    base.chmod(0o755)
    vt.move_pointer(0, 0)
    try:
        kill_trials(base, 5 if quick else 20, rng)
        server_trials(base, 2 if quick else 10, rng)
        disk_trials(base)
        folder_trials(base)
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    main()
