"""Start-up: the program's own folder, and a skin archive that is missing or broken."""

import time

import pytest

import vtharness as vt


def test_works_from_its_own_folder_whatever_the_current_directory(launch, program_folder, tmp_path):
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    sounds = program_folder / "sounds"
    sounds.mkdir()
    (sounds / "keep.txt").write_text("an earlier file")

    program = launch(cwd=elsewhere)
    program.wait_window()
    vt.choose_source(program, vt.TONE_SOURCE)  # the Wave Out Mix monitor it starts on is silent here
    program.key("F5")
    time.sleep(1.0)
    program.key("F5")
    wav = vt.wait_for_file(sounds / "current.wav")
    vt.wait_until(lambda: vt.read_wav(wav).duration > 0.7, timeout=5,
                  what=f"the recording ({vt.read_wav(wav).duration} s; {program.output()})")
    assert (sounds / "keep.txt").read_text() == "an earlier file"
    assert not list(elsewhere.iterdir())


def truncated(data: bytes) -> bytes:
    return data[:40]


def garbage(data: bytes) -> bytes:
    # A count of 65535 entries with name lengths far past the end of the file.
    return b"\x01\x00\x00\x00\xff\xff" + b"\xff" * 64


@pytest.mark.parametrize("damage, words", [
    (None, "cannot be opened"),
    (truncated, "is damaged: its index runs past its end"),
    (lambda data: data[:len(data) // 2], "is damaged: the picture"),
    (lambda data: data[:-1], "is damaged: the picture"),
    (garbage, "is damaged"),
], ids=["missing", "index cut", "half", "all but the last byte", "garbage"])
def test_a_missing_or_broken_skin_ends_with_a_message_naming_it(launch, program_folder, damage, words):
    archive = program_folder / "Interface" / "voxtape.int"
    if damage is None:
        archive.unlink()
    else:
        archive.write_bytes(damage(archive.read_bytes()))

    program = launch()
    box = vt.wait_until(vt.message_boxes, what="the message box")[0]
    # The box is all there is: no recorder window behind it.
    assert (vt.geometry(box).width, vt.geometry(box).height) != (400, 600)
    assert not [w for w in vt.find_windows() if vt.window_name(w) == "Voxtape"]
    assert f"{archive} {words}" in program.output()
    vt.press_keys("Return", wid=box)
    assert program.wait_exit(timeout=5) == 1
