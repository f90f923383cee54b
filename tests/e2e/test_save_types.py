"""Saving the take as WAV, FLAC, Ogg Opus or MP3 in the real program: what each file holds, the type
taken from the typed extension, a long save that runs while the window answers and the panel shows
its progress, a save stopped by closing, and a full disk."""

from __future__ import annotations

import subprocess
import time
from pathlib import Path

import pytest

import vtharness as vt
from test_display import Panel, VOLUME
from test_recording import (TONE_HZ, check_wav, message_boxes, press, record, save_through_dialog,
                            working_file)
from test_reliability import mounts  # noqa: F401 (a fixture)

pytestmark = pytest.mark.records_tone

TYPES = {"wav": vt.SF_FORMAT_WAV, "flac": vt.SF_FORMAT_FLAC, "opus": vt.SF_FORMAT_OGG,
         "mp3": vt.SF_FORMAT_MPEG}
MAJOR = 0x0FFF0000


def leftovers(folder: Path) -> list[str]:
    """Files a save writes before they take their name."""
    return sorted(p.name for p in folder.iterdir() if p.name.endswith(".part"))


def saved(path: Path, timeout: float = vt.TIMEOUT) -> Path:
    """Waits for a save in the background to put its file in place."""
    vt.wait_until(lambda: path.exists() and not leftovers(path.parent), timeout=timeout,
                  what=f"{path.name} saved")
    return path


def tone_frequency(sound: vt.Sound) -> float:
    """Upward zero crossings a second of the first channel over the middle half (a lossy file's ends
    fade in and out)."""
    left = sound.channel(0)
    part = left[len(left) // 4: len(left) * 3 // 4]
    crossings = sum(1 for a, b in zip(part, part[1:]) if a < 0 <= b)
    return crossings / (len(part) / sound.rate)


def long_take(program: vt.Program, minutes: float = 10) -> Path:
    """A take of `minutes` of 44.1 kHz stereo in place of the working file, as an earlier run leaves
    one."""
    path = working_file(program)
    path.parent.mkdir(exist_ok=True)
    vt.run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth", str(minutes * 60),
           "sine", str(TONE_HZ), "vol", "0.5", timeout=120)
    return path


def test_a_take_saved_in_each_type(voxtape, tmp_path):
    record(voxtape, 5)
    working = working_file(voxtape)
    original = vt.decode_sound(working)

    # Typed extensions decide the type, in any case; a name without one gets ".wav", as the dialog
    # used here (zenity) does not say which type was left chosen.
    for typed, kind in [("take.wav", "wav"), ("Take.FLAC", "flac"), ("take.opus", "opus"),
                        ("take.mp3", "mp3"), ("plain", "wav")]:
        save_through_dialog(voxtape, str(tmp_path / typed))
        path = saved(tmp_path / (typed if "." in typed else typed + ".wav"))
        sound = vt.decode_sound(path)
        assert sound.format & MAJOR == TYPES[kind], f"{path.name}: format {sound.format:#x}"
        assert sound.channels == original.channels
        if kind == "wav":
            assert path.read_bytes() == working.read_bytes()
        elif kind == "flac":
            assert (sound.rate, sound.samples == original.samples) == (original.rate, True), \
                f"{path.name} does not decode to the recorded samples"
        else:
            # Within a frame: 20 ms for Opus, 1152 samples and the encoder's delay for MP3.
            allowance = 0.02 if kind == "opus" else 2 * 1152 / original.rate
            assert abs(sound.duration - original.duration) <= allowance, \
                f"{path.name}: {sound.duration:.3f} s, the take {original.duration:.3f} s"
            assert abs(tone_frequency(sound) - TONE_HZ) <= 5, f"{path.name}: {tone_frequency(sound):.1f} Hz"
        if kind != "wav":
            assert "Voxtape" in sound.software or "Voxtape" in path.read_bytes()[:200].decode("latin-1"), \
                f"{path.name} does not name its encoder"
    assert not message_boxes(voxtape)
    assert sorted(p.name for p in tmp_path.iterdir() if p.is_file()) == \
        ["Take.FLAC", "plain.wav", "take.mp3", "take.opus", "take.wav"]


def test_a_long_save_runs_while_the_window_answers_and_shows_its_progress(voxtape, tmp_path, artifacts):
    working = long_take(voxtape)
    before = working.stat().st_mtime_ns, working.stat().st_size
    panel = Panel(voxtape, artifacts / "skin")
    target = tmp_path / "lecture.mp3"
    save_through_dialog(voxtape, str(target))

    # The volume reading shows the percentage while the save runs.
    percents = []
    refusals = []
    while not target.exists():
        cells = panel.row(panel.shot(), VOLUME)
        # The file takes its name before the panel goes back to idle: a reading taken while it was
        # still missing is one of the save's.
        if None not in cells and -1 not in cells and not target.exists():
            percents.append(cells[0] * 100 + cells[1] * 10 + cells[2])
        if len(percents) == 3 and not refusals:
            # Record waits for the save: a notice, at once, and nothing recorded.
            sent = press(voxtape, "F5")
            box = vt.wait_until(lambda: message_boxes(voxtape), timeout=5, interval=0.01,
                                what="a notice on Record")[0]
            refusals.append(time.monotonic() - sent)
            notice = "Voxtape is still saving lecture.mp3 ("
            vt.wait_until(lambda: notice in voxtape.output(), timeout=5, what=f"{notice!r}")
            vt.press_keys("Return", wid=box)
            vt.wait_until(lambda: not message_boxes(voxtape), timeout=5, what="the notice to close")
        time.sleep(0.2)
    saved(target)
    assert refusals, f"the save ended before Record was tried (percentages seen: {percents})"
    rising = [p for p in percents if 0 <= p <= 100]
    assert len(set(rising)) >= 3 and rising == sorted(rising), f"percentages seen: {percents}"
    assert (working.stat().st_mtime_ns, working.stat().st_size) == before, "the take was touched"

    sound = vt.decode_sound(target)
    assert abs(sound.duration - 600) <= 2 * 1152 / 44100, f"{sound.duration:.3f} s"
    # The panel is back to its idle reading.
    vt.wait_until(lambda: panel.row(panel.shot(), VOLUME) == [0, 0, 0], timeout=5,
                  what="the volume reading back at 000")
    print(f"Record answered {refusals[0] * 1000:.0f} ms into the save; percentages seen: {percents}")


def test_closing_during_a_save_asks_and_stopping_leaves_no_file(voxtape, tmp_path):
    long_take(voxtape)
    target = tmp_path / "lecture.opus"  # the slowest type: about half a minute here
    save_through_dialog(voxtape, str(target))

    # Keep Saving (Escape) goes on; Stop and Close (Enter) ends the save and the program.
    for answer in ("Escape", "Return"):
        asked = voxtape.output().count("Stop saving and close?")
        press(voxtape, "F9")
        question = vt.wait_until(lambda: message_boxes(voxtape), timeout=5, what="the question on Close")[0]
        assert vt.transient_for(question) == voxtape.wid, "the question does not belong to the recorder"
        vt.wait_until(lambda: voxtape.output().count("Stop saving and close?") == asked + 1, timeout=5,
                      what="the question's words")
        assert voxtape.running and not target.exists()
        vt.press_keys(answer, wid=question)
        if answer == "Escape":
            vt.wait_until(lambda: not message_boxes(voxtape), timeout=5, what="the question to close")
            assert voxtape.running
    assert voxtape.wait_exit(timeout=10) == 0
    assert not target.exists() and not leftovers(tmp_path), sorted(p.name for p in tmp_path.iterdir())


def test_a_full_disk_during_a_save_leaves_no_file_and_says_so(mounts, launch, tmp_path):  # noqa: F811
    program = launch()
    program.wait_window()
    vt.choose_source(program, vt.TONE_SOURCE)
    record(program, 3)
    small = tmp_path / "small"
    small.mkdir()
    mounts("-t", "tmpfs", "-o", "size=48k", "tmpfs", target=small)
    target = small / "take.flac"
    save_through_dialog(program, str(target))

    message = f"Disk full while accessing {target}."
    box = vt.wait_until(lambda: message_boxes(program), what="a message about the full disk")[0]
    vt.wait_until(lambda: message in program.output(), timeout=5, what=f"{message!r}: {program.output()}")
    vt.press_keys("Return", wid=box)
    assert list(small.iterdir()) == []
    check_wav(working_file(program))
