"""Recording through the real program: Record/Stop (F5), Pause/Resume (F8), Play (F4) and Save while
the private sound server's default source plays a steady 440 Hz tone at half scale. Every file is
checked byte by byte against the header layout the program writes, and read back with sox and with
Python's own reader."""

from __future__ import annotations

import os
import re
import shutil
import signal
import struct
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

import vtharness as vt

# Every recording here is of the test tone.
pytestmark = pytest.mark.records_tone

# Controls, as points inside them (window pixels).
PLAY = (23 + 65, 542 + 19)
SAVE = (266 + 55, 500 + 19)
RADIOS = {
    ("rate", 8000): (29 + 7, 298 + 7), ("rate", 11025): (29 + 7, 320 + 7),
    ("rate", 22050): (29 + 7, 343 + 7), ("rate", 44100): (29 + 7, 364 + 7),
    ("bits", 8): (165 + 7, 298 + 7), ("bits", 16): (165 + 7, 320 + 7),
    ("channels", 1): (285 + 7, 299 + 7), ("channels", 2): (285 + 7, 320 + 7),
}

# Recorded length against the time between the key presses that started and stopped it.
DURATION_TOLERANCE = 0.3
TONE_HZ = 440.0
SAVE_DIALOG = "^Save Sound As$"


@dataclass(frozen=True)
class Format:
    channels: int
    rate: int
    bits: int

    def __str__(self):
        return f"{'mono' if self.channels == 1 else 'stereo'}-{self.rate}-{self.bits}bit"


FORMATS = [Format(c, r, b) for c in (1, 2) for r in (8000, 11025, 22050, 44100) for b in (8, 16)]


# ---------------------------------------------------------------------------------------------------
# Driving the program


def working_file(program: vt.Program) -> Path:
    return program.folder / "sounds" / "current.wav"


def press(program: vt.Program, key: str) -> float:
    """Presses a key in the program's window; returns the moment it was sent (the middle of the
    xdotool call, which takes a few milliseconds)."""
    program.focus_by_click()
    before = time.monotonic()
    vt.xdotool("key", key)
    return (before + time.monotonic()) / 2


def record(program: vt.Program, seconds: float) -> tuple[float, float]:
    """F5, seconds, F5; waits until the file is complete and returns the moments of the presses."""
    start = press(program, "F5")
    time.sleep(seconds)
    stop = press(program, "F5")
    vt.wait_file_complete(working_file(program))
    return start, stop


def choose_format(program: vt.Program, fmt: Format):
    for radio in (("channels", fmt.channels), ("rate", fmt.rate), ("bits", fmt.bits)):
        program.click(*RADIOS[radio])


def session_commands(program: vt.Program) -> list[str]:
    """Names of the processes in the program's session other than itself (its helpers, a dialog)."""
    out = vt.run("ps", "-o", "pid=,comm=", "-s", program.pid, check=False).decode()
    return [comm for pid, comm in (line.split(None, 1) for line in out.splitlines() if line.strip())
            if int(pid) != program.pid]


def message_boxes(program: vt.Program) -> list[int]:
    return vt.message_boxes(exclude=program.wid)


def save_through_dialog(program: vt.Program, typed: str):
    """Clicks Save and, in the desktop's save dialog, types a full path and accepts it, answering the
    dialog's overwrite question if it asks one. Returns once the dialog is gone."""
    program.click(*SAVE)
    dialog = vt.wait_until(lambda: vt.find_windows(SAVE_DIALOG),
                           what="the save dialog after a click on Save")[0]
    vt.wait_focused(dialog)  # the window manager gives a new dialog the keyboard
    vt.xdotool("key", "--clearmodifiers", "ctrl+a")
    vt.type_text(typed)
    # The name field may complete what was typed inline ("keep" to "keep.wav", the rest selected)
    # once typing pauses, as it does on a busy machine: the name is what was typed, so that goes.
    vt.xdotool("key", "Delete")

    dialog_pid = vt.window_pid(dialog)

    def dialog_gone():
        return not vt.find_windows(SAVE_DIALOG)

    def dialog_has_keyboard():
        focused = vt.focused_window()
        return focused is not None and vt.window_pid(focused) == dialog_pid

    # Return may first only close the name field's completion list, and on an existing file it opens
    # the overwrite question (a window of the same process with the keyboard) that Return answers.
    # A further Return goes only to the dialog's own windows: a slow dialog may have closed by then,
    # and the keyboard be with the recorder's own question, which the test answers itself.
    for _ in range(4):
        if dialog_gone():
            return
        if dialog_has_keyboard():
            vt.xdotool("key", "Return")
        try:
            vt.wait_until(dialog_gone, timeout=3, what="the save dialog to close")
            return
        except vt.HarnessError:
            pass
    raise vt.HarnessError(f"the save dialog did not take {typed!r}")


# ---------------------------------------------------------------------------------------------------
# Reading the files


@dataclass
class Header:
    channels: int
    rate: int
    bits: int
    block_align: int
    data_size: int
    file_size: int


def read_header(path: Path) -> Header:
    """Checks the file's bytes against the layout the program writes (RIFF, an 18-byte fmt chunk,
    the data chunk, a pad byte after odd data) and returns its fields."""
    data = path.read_bytes()
    assert len(data) >= 46, f"{path}: {len(data)} bytes, shorter than a header"
    riff, riff_size, form, fmt_id, fmt_size = struct.unpack_from("<4sI4s4sI", data, 0)
    tag, channels, rate, avg_bytes, block_align, bits, extra = struct.unpack_from("<HHIIHHH", data, 20)
    data_id, data_size = struct.unpack_from("<4sI", data, 38)
    assert (riff, form, fmt_id, fmt_size, data_id) == (b"RIFF", b"WAVE", b"fmt ", 18, b"data"), data[:46]
    assert (tag, extra) == (1, 0), f"format tag {tag}, cbSize {extra}"
    assert block_align == channels * bits // 8, (channels, bits, block_align)
    assert avg_bytes == block_align * rate, (block_align, rate, avg_bytes)
    pad = data_size & 1
    assert len(data) == 46 + data_size + pad, f"file of {len(data)} bytes, data chunk says {data_size}"
    assert riff_size == len(data) - 8, f"RIFF size {riff_size} in a file of {len(data)} bytes"
    if pad:
        assert data[-1] == 0, "pad byte after odd data is not zero"
    assert data_size % block_align == 0, f"{data_size} data bytes: not whole frames of {block_align}"
    return Header(channels, rate, bits, block_align, data_size, len(data))


def soxi(path: Path) -> dict[str, str]:
    """What sox makes of the file (it must read it without a warning)."""
    r = subprocess.run(["sox", "--i", str(path)], capture_output=True, text=True, timeout=vt.TIMEOUT)
    assert r.returncode == 0 and not r.stderr.strip(), f"sox --i {path}: {r.stderr}"
    pairs = (line.split(":", 1) for line in r.stdout.splitlines() if ":" in line)
    return {k.strip(): v.strip() for k, v in pairs}


def check_wav(path: Path) -> tuple[Header, vt.Wav]:
    """A valid PCM WAV to our own byte check, to sox and to Python's wave module, all three agreeing."""
    header = read_header(path)
    wav = vt.read_wav(path)
    info = soxi(path)
    assert (wav.channels, wav.rate, wav.sample_width * 8) == (header.channels, header.rate, header.bits)
    assert wav.frames == header.data_size // header.block_align
    assert int(info["Channels"]) == header.channels
    assert int(info["Sample Rate"]) == header.rate
    assert info["Precision"] == f"{header.bits}-bit"
    encoding = "8-bit Unsigned" if header.bits == 8 else "16-bit Signed"
    assert info["Sample Encoding"] == f"{encoding} Integer PCM"
    samples = re.search(r"= (\d+) samples", info["Duration"])
    assert samples and int(samples.group(1)) == wav.frames, info["Duration"]
    return header, wav


def assert_tone_throughout(wav: vt.Wav, cuts: int = 0, server: vt.ServerDelivery | None = None):
    """The tone is there from start to end, at its own frequency, with nothing lost or repeated but
    the cuts expected (a pause leaves one) and what the server did to every recorder of it: the
    silence it delivered in the tone's place, and jumps where it skipped time (around a skip it
    drops some cycles of sound it had and hands out silence for others, differently for each
    recorder)."""
    report = vt.tone_report(wav, TONE_HZ)
    problems = report.problems(allowed_jumps=cuts, server=server)
    assert not problems, f"{problems}; the server's witness: {server}"
    assert abs(report.frequency - TONE_HZ) <= 1, f"the tone measured {report.frequency:.2f} Hz"


def assert_recorded(wav: vt.Wav, *spans: tuple[float, float], what: str = "between Record and Stop"):
    """The take holds the tone for the time of the spans (Record to Stop, less any pause) as the
    sound server delivered it, whole: a server that was held back and skipped time gave every
    recorder that much less, which is no fault of the program."""
    server = vt.tone_witness(*spans)
    seconds = sum(stop - start for start, stop in spans) - server.lost
    skipped = f", the server having skipped {server.lost:.3f} s" if server.lost else ""
    assert abs(wav.duration - seconds) <= DURATION_TOLERANCE, \
        f"{wav.duration:.3f} s of sound for {seconds:.3f} s {what}{skipped}"
    assert_tone_throughout(wav, cuts=len(spans) - 1, server=server)


# ---------------------------------------------------------------------------------------------------
# Tests



@pytest.fixture(scope="module")
def takes(program_path, tmp_path_factory) -> dict[Format, tuple[Path, tuple[float, float]]]:
    """One recording of about 1.5 s in each format, made in a row by one instance of the program
    (format chosen with the radios): {format: (copy of the file, moments of the presses)}. The
    program has ended when this returns, so the next test can start its own."""
    base = tmp_path_factory.mktemp("formats")
    folder = vt.copy_program_folder(base / "voxtape", program_path.parent)
    vt.move_pointer(0, 0)
    program = vt.Program(folder / program_path.name, log_dir=base / "logs")
    found = {}
    try:
        program.wait_window()
        vt.choose_source(program, vt.TONE_SOURCE)
        for fmt in FORMATS:
            choose_format(program, fmt)
            span = record(program, 1.5)
            found[fmt] = (Path(shutil.copy(working_file(program), base / f"{fmt}.wav")), span)
    finally:
        program.kill()
    return found


@pytest.mark.pipewire
@pytest.mark.parametrize("fmt", FORMATS, ids=str)
def test_recording_in_each_format(takes, fmt):
    path, span = takes[fmt]
    header, wav = check_wav(path)
    assert (header.channels, header.rate, header.bits) == (fmt.channels, fmt.rate, fmt.bits)
    assert_recorded(wav, span)


@pytest.mark.pipewire
def test_pause_leaves_out_only_the_paused_time(voxtape):
    start = press(voxtape, "F5")
    time.sleep(2)
    paused = press(voxtape, "F8")
    time.sleep(2)
    resumed = press(voxtape, "F8")
    time.sleep(2)
    stopped = press(voxtape, "F5")
    vt.wait_file_complete(working_file(voxtape))

    _, wav = check_wav(working_file(voxtape))
    assert_recorded(wav, (start, paused), (resumed, stopped), what="recorded outside the pause")


@pytest.mark.pipewire
@pytest.mark.parametrize("sig,seconds", [(signal.SIGTERM, 2.5), (signal.SIGHUP, 2.5), (signal.SIGKILL, 5.5)],
                         ids=["SIGTERM", "SIGHUP", "SIGKILL"])
def test_ended_during_a_recording_leaves_a_valid_file(voxtape, sig, seconds):
    """A termination signal (or the hang-up of a closed terminal or an ended session) completes the
    recording before the program ends; a kill leaves a valid file holding all but the last fraction of a
    second."""
    start = press(voxtape, "F5")
    time.sleep(seconds)
    ended = time.monotonic()
    voxtape.signal(sig)
    status = voxtape.wait_exit()
    vt.wait_file_complete(working_file(voxtape))

    header, wav = check_wav(working_file(voxtape))
    assert (header.channels, header.rate, header.bits) == (2, 44100, 16)
    if sig != signal.SIGKILL:
        assert status == 0, f"exit status {status} after {sig.name}:\n{voxtape.output()}"
        assert_recorded(wav, (start, ended), what="recorded")
    else:
        server = vt.tone_witness((start, ended))
        assert wav.duration >= ended - start - server.lost - 0.5 - DURATION_TOLERANCE, \
            f"{wav.duration:.3f} s of sound for {ended - start:.3f} s recorded before the kill"
        assert_tone_throughout(wav, server=server)


def test_play_and_save_do_nothing_while_recording(voxtape):
    start = press(voxtape, "F5")
    time.sleep(1)
    press(voxtape, "F4")
    voxtape.click(*PLAY)
    voxtape.click(*SAVE)
    time.sleep(1)
    assert voxtape.running
    stop = press(voxtape, "F5")
    vt.wait_file_complete(working_file(voxtape))
    # The stop came after the clicks, so a dialog started by them would be running by now.
    assert "zenity" not in session_commands(voxtape) and not vt.find_windows(SAVE_DIALOG)

    _, wav = check_wav(working_file(voxtape))
    assert_recorded(wav, (start, stop))


@pytest.mark.parametrize("typed,saved", [("take", "take.wav"), ("take.wav", "take.wav"),
                                         ("Take.WAV", "Take.WAV")])
def test_save_copies_the_recording(voxtape, tmp_path, typed, saved):
    record(voxtape, 1)
    folder = tmp_path / "saved"
    folder.mkdir()
    save_through_dialog(voxtape, str(folder / typed))

    original = working_file(voxtape).read_bytes()
    target = folder / saved
    vt.wait_until(lambda: target.exists() and target.read_bytes() == original,
                  what=f"{target} identical to the working file")
    assert sorted(p.name for p in folder.iterdir()) == [saved]
    assert voxtape.running


@pytest.mark.parametrize("answer,replaced", [("Escape", False), ("Return", True)],
                         ids=["cancel keeps it", "replace"])
def test_save_asks_before_replacing_a_file_named_without_its_extension(voxtape, tmp_path, answer,
                                                                      replaced):
    record(voxtape, 1)
    older = tmp_path / "keep.wav"
    older.write_bytes(b"an older take")
    # A second name that begins with "keep" leaves the dialog's name field nothing to complete, so
    # "keep" stays "keep" however late the completion comes on a busy machine: completed to keep.wav,
    # the dialog would ask its own question and the recorder would rightly ask none.
    (tmp_path / "keep (older takes)").mkdir()
    save_through_dialog(voxtape, str(tmp_path / "keep"))

    question = vt.wait_until(lambda: message_boxes(voxtape), what="the question whether to replace keep.wav")[0]
    assert vt.transient_for(question) == voxtape.wid, "the question does not belong to the recorder window"
    vt.press_keys(answer, wid=question)
    vt.wait_until(lambda: not message_boxes(voxtape), timeout=5, what="the question to close")
    expected = working_file(voxtape).read_bytes() if replaced else b"an older take"
    vt.wait_until(lambda: older.read_bytes() == expected, timeout=5,
                  what="keep.wav " + ("replaced" if replaced else "kept"))
    assert sorted(p.name for p in tmp_path.iterdir() if p.suffix.lower() == ".wav") == ["keep.wav"]


def test_something_else_in_place_of_the_working_file_is_refused_and_the_window_answers(voxtape):
    working = working_file(voxtape)
    working.parent.mkdir(exist_ok=True)
    working.unlink(missing_ok=True)
    os.mkfifo(working)
    press(voxtape, "F4")
    box = vt.wait_until(lambda: message_boxes(voxtape), timeout=1, what="a message on Play")[0]
    vt.press_keys("Return", wid=box)
    vt.wait_until(lambda: not message_boxes(voxtape), timeout=5, what="the message to close")
    # The window still answers: Record starts (it replaces what stands there with a recording).
    working.unlink()
    record(voxtape, 0.5)
    check_wav(working)


def test_save_onto_the_working_file_is_refused(voxtape):
    record(voxtape, 1)
    working = working_file(voxtape)
    original = working.read_bytes()
    save_through_dialog(voxtape, str(working))

    box = vt.wait_until(lambda: message_boxes(voxtape), what="an error box")[0]
    assert vt.transient_for(box) == voxtape.wid, "the error box does not belong to the recorder window"
    message = f"A sharing violation occurred while accessing {working}."
    vt.wait_until(lambda: message in voxtape.output(), timeout=5, what=f"the message {message!r}")
    assert working.read_bytes() == original
    vt.press_keys("Return", wid=box)
    vt.wait_until(lambda: not message_boxes(voxtape), timeout=5, what="the error box to close")
    assert voxtape.running
    check_wav(working)
