"""A recording is never lost silently: a killed program loses at most half a second, and every failure to
record (no sound server, the server lost, a full disk, a folder that cannot be written) is shown in a
message box while the window goes back to the Record face, with the file complete up to the failure."""

from __future__ import annotations

import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import wave
from pathlib import Path

import pytest

import vtharness as vt
from test_recording import (Format, assert_recorded, assert_tone_throughout, check_wav, choose_format, press,
                            read_header, working_file)

# Every recording here is of the test tone.
pytestmark = pytest.mark.records_tone

RECORD_BUTTON = (23, 500, 130, 38)  # window pixels of the Record button
MOST_LOST = 0.5  # seconds a killed program may lose


def sound_server(action: str):
    """Kills (kill-pulse) or restarts (restart-pulse) the sound server of the environment the tests run in.
    Its output goes to a file: the server's tone outlives the call and would hold a pipe open."""
    env_dir = os.environ["VT_TESTENV_DIR"]
    with open(Path(env_dir) / f"{action}.log", "w+b") as log:
        r = subprocess.run([str(vt.REPO / "scripts" / "testenv"), action, env_dir], stdin=subprocess.DEVNULL,
                           stdout=log, stderr=log, timeout=60)
        log.seek(0)
        if r.returncode != 0:
            raise vt.HarnessError(f"scripts/testenv {action} failed: {log.read().decode(errors='replace')}")


def message_boxes(program: vt.Program) -> list[int]:
    return vt.message_boxes(exclude=program.wid)


def showing_any(program: vt.Program, faces: list[vt.Image]) -> bool:
    x, y, w, h = RECORD_BUTTON
    face = program.screenshot().crop(x, y, w, h)
    return any(not vt.mismatches(face, expected) for expected in faces)


def idle_faces(program: vt.Program) -> list[vt.Image]:
    """The skin's two faces of the Record button while nothing records (the pointer away from it, and
    on it), once the window shows one of them: a window can be on the screen a moment before its first
    paint reaches it, and a busy machine makes that moment long."""
    skin = vt.skin_extract(program.folder / "Interface" / "voxtape.int",
                           tempfile.mkdtemp(prefix="vt-skin-", dir=program.folder.parent))
    faces = [vt.read_bmp(skin / name) for name in ("startrecording.bmp", "startrecordingover.bmp")]
    vt.wait_until(lambda: showing_any(program, faces), timeout=10,
                  what="the window's first paint of the Record button")
    return faces


def data_seconds(path: Path) -> float:
    """What the file's header says it holds, read while the program may still be writing it."""
    head = path.read_bytes()[:46]
    if len(head) < 46:
        return 0.0
    rate, byte_rate = struct.unpack_from("<II", head, 24)
    return struct.unpack_from("<I", head, 42)[0] / byte_rate


def wait_message(program: vt.Program, words: str) -> int:
    """The program's message box, once it shows, and the text it shows (also written to stderr)."""
    box = vt.wait_until(lambda: message_boxes(program), what=f"a message box saying {words!r}")[0]
    vt.wait_until(lambda: words in program.output(), timeout=5,
                  what=f"the message {words!r} (output: {program.output()})")
    return box


def dismiss(program: vt.Program, box: int):
    vt.press_keys("Return", wid=box)
    vt.wait_until(lambda: not message_boxes(program), timeout=5, what="the message box to close")


def assert_idle_face(program: vt.Program, idle: list[vt.Image]):
    vt.wait_until(lambda: showing_any(program, idle), timeout=5, what="the Record face")


@pytest.fixture
def restart_pulse():
    """The sound server is started again after the test, however it ended."""
    yield
    sound_server("restart-pulse")


# ---------------------------------------------------------------------------------------------------
# Killed while recording


@pytest.mark.pipewire
@pytest.mark.parametrize("fmt", [Format(1, 8000, 8), Format(2, 44100, 16)], ids=str)
def test_killed_program_loses_at_most_half_a_second(voxtape, fmt):
    """Buffers of 15 s (8 kHz mono 8-bit) and 3.75 s (44.1 kHz stereo 16-bit): the sound reaches the file
    as it is recorded, not a buffer at a time."""
    choose_format(voxtape, fmt)
    path = working_file(voxtape)
    start = press(voxtape, "F5")
    known = vt.wait_until(lambda: path.exists() and data_seconds(path) >= 2.0 and data_seconds(path),
                          what="two seconds of sound in the file")
    time.sleep(0.6)
    killed = time.monotonic()
    voxtape.signal(signal.SIGKILL)
    voxtape.wait_exit()

    header, wav = check_wav(path)
    assert (header.channels, header.rate, header.bits) == (fmt.channels, fmt.rate, fmt.bits)
    # What the server skipped in those 0.6 s never reached any recorder.
    server = vt.tone_witness((start, killed))
    assert wav.duration >= known + 0.6 - server.lost - MOST_LOST, \
        f"{wav.duration:.3f} s in the file, {known:.3f} s were in it 0.6 s before the kill"
    assert_tone_throughout(wav, server=server)


@pytest.mark.pipewire
def test_a_machine_held_still_costs_the_take_only_what_the_server_skipped(voxtape):
    """The sound server, the tone's player and the program are held still together for 0.6 s in the
    middle of a take, as a busy host now and then holds these machines: the take goes on and holds
    what the server delivered, nothing lost or repeated on the program's side. (PipeWire skips the
    time it missed, PulseAudio makes it up; either delivers silence where the tone's player ran dry.)"""
    start = press(voxtape, "F5")
    time.sleep(1)
    vt.hold_sound_server(0.6, voxtape.pid)
    time.sleep(1)
    stop = press(voxtape, "F5")
    vt.wait_file_complete(working_file(voxtape))
    _, wav = check_wav(working_file(voxtape))
    assert_recorded(wav, (start, stop))


def test_file_holds_whole_frames_at_every_moment(voxtape):
    """11.025 kHz 16-bit mono: a capture buffer of 15 x 11025 bytes is an odd length. Read while it
    records, before and right after its first buffer (7.5 s), the file is complete and whole frames."""
    choose_format(voxtape, Format(1, 11025, 16))
    path = working_file(voxtape)
    start = press(voxtape, "F5")
    sizes = []
    while time.monotonic() - start < 8.2:
        if path.exists():
            data = path.read_bytes()
            if len(data) < 46:
                continue  # read while the header was being written
            riff_size, size = struct.unpack_from("<I", data, 4)[0], struct.unpack_from("<I", data, 42)[0]
            # The writer appends, then brings the sizes up to date: a read in between sees the new bytes
            # past the data chunk, never a header that counts bytes not there.
            assert len(data) >= 46 + size, f"{len(data)} bytes, the header says {size} of data"
            assert riff_size == 38 + size, f"RIFF size {riff_size} for {size} bytes of data"
            assert size % 2 == 0, f"{size} bytes of data: half a frame"
            sizes.append((time.monotonic() - start, size))
        time.sleep(0.1)
    press(voxtape, "F5")
    vt.wait_file_complete(path)
    _, wav = check_wav(path)
    assert_tone_throughout(wav)
    # It grew at least every half second once the recording ran, past the first buffer's end.
    growing = [t for (t, size), (_, before) in zip(sizes[1:], sizes) if size > before]
    assert growing and growing[-1] > 7.7, sizes[-5:]
    assert all(b - a <= 0.5 for a, b in zip(growing, growing[1:])), growing


# ---------------------------------------------------------------------------------------------------
# The sound server


def last_take(folder: Path) -> bytes:
    """An unsaved take of a second in the working file of a program folder, as a person leaves it."""
    path = folder / "sounds" / "current.wav"
    path.parent.mkdir(exist_ok=True)
    with wave.open(str(path), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(bytes(range(256)) * (44100 * 4 // 256))
    return path.read_bytes()


def test_record_without_a_sound_server_says_so_and_keeps_the_last_take(launch, program_folder,
                                                                       tmp_path):
    before = last_take(program_folder)
    program = launch(env={"PULSE_SERVER": f"unix:{tmp_path}/no-server"})
    program.wait_window()
    idle = idle_faces(program)
    press(program, "F5")
    box = wait_message(program, "no sound server is running")
    assert_idle_face(program, idle)
    assert working_file(program).read_bytes() == before, "a refused Record changed the last take"
    dismiss(program, box)
    assert program.running


def test_play_without_a_sound_server_says_so(launch, program_folder, tmp_path):
    last_take(program_folder)
    program = launch(env={"PULSE_SERVER": f"unix:{tmp_path}/no-server"})
    program.wait_window()
    press(program, "F4")
    box = wait_message(program, "Nothing can be played: no sound server is running")
    dismiss(program, box)
    assert program.running


@pytest.mark.pipewire
def test_record_from_an_input_that_has_gone_says_so_and_keeps_the_last_take(launch):
    """The chosen input is unplugged while idle and Record is pressed before the list has caught up
    (it follows the server a few times a second): Record neither records another input nor touches
    the last take. The program is held still while the input goes and the key is sent, so the key is
    the first thing it takes in."""
    module = vt.pactl("load-module", "module-null-sink", "sink_name=gonemic",
                      "sink_properties='device.description=\"Gone Mic\"'").strip()
    try:
        program = launch()  # started after the input came: its list shows it
        program.wait_window()
        vt.choose_source(program, vt.TONE_SOURCE)
        press(program, "F5")
        time.sleep(1)
        press(program, "F5")
        path = vt.wait_file_complete(working_file(program))
        before = path.read_bytes()
        vt.choose_source(program, "gonemic.monitor")
        idle = idle_faces(program)
        program.focus_by_click()
        vt.wait_focused(program.wid)
        program.signal(signal.SIGSTOP)
    finally:
        vt.pactl("unload-module", module)
    try:
        vt.xdotool("key", "F5")
    finally:
        program.signal(signal.SIGCONT)
    box = wait_message(program, '"Monitor of Gone Mic" is not there any more')
    assert_idle_face(program, idle)
    assert path.read_bytes() == before, "a refused Record changed the last take"
    dismiss(program, box)


@pytest.mark.pipewire
def test_sound_server_lost_in_the_middle(voxtape, restart_pulse):
    idle = idle_faces(voxtape)
    start = press(voxtape, "F5")
    time.sleep(2.5)
    killed = time.monotonic()
    sound_server("kill-pulse")
    box = wait_message(voxtape, "The sound server stopped during the recording")
    assert vt.transient_for(box) == voxtape.wid, "the message does not belong to the recorder window"
    assert_idle_face(voxtape, idle)
    path = working_file(voxtape)
    assert vt.file_unlocked(path), "the file is still held after the failure"
    _, wav = check_wav(path)
    assert wav.duration >= killed - start - MOST_LOST - 0.2, f"{wav.duration:.3f} s kept"
    assert_tone_throughout(wav)

    # The server comes back: the next Record works without a restart of the program.
    sound_server("restart-pulse")
    dismiss(voxtape, box)
    start = press(voxtape, "F5")
    time.sleep(1.5)
    stop = press(voxtape, "F5")
    vt.wait_file_complete(path)
    _, wav = check_wav(path)
    assert_recorded(wav, (start, stop))
    assert not message_boxes(voxtape)


# ---------------------------------------------------------------------------------------------------
# A full disk, a folder that cannot be written


def need_root():
    if os.geteuid() != 0:
        pytest.skip("mounting a file system needs root")


@pytest.fixture
def mounts():
    """mount(*args): mounts as root; everything mounted is unmounted after the test (after the program
    has ended: request this fixture before `launch`)."""
    need_root()
    done: list[Path] = []

    def mount(*args, target: Path):
        vt.run("mount", *args, target)
        done.append(target)

    yield mount
    for target in reversed(done):
        subprocess.run(["umount", "-l", str(target)], capture_output=True)


@pytest.fixture
def two_tone_source():
    """A source whose left channel is 440 Hz and right 880 Hz: the monitor of a null sink of its own that
    the two sines play into. Gives the source name (for PULSE_SOURCE)."""
    module = vt.pactl("load-module", "module-null-sink", "sink_name=lr",
                      "sink_properties=device.description=LeftRight").strip()
    # Played as the environment plays its own tone, so that a busy machine does not break it up: half a
    # second queued at the server, at real-time priority where that is allowed.
    realtime = "chrt -f 10 " if subprocess.run(["chrt", "-f", "10", "true"], capture_output=True).returncode == 0 \
        else ""
    tone = subprocess.Popen(f"{realtime}sh -c 'sox -q -n -t raw -r 44100 -c 2 -b 16 -e signed - synth 600 sine 440 "
                            "sine 880 vol 0.5 | exec pacat --latency-msec=500 --rate=44100 --channels=2 "
                            "--format=s16le -d lr'", shell=True, start_new_session=True, stderr=subprocess.DEVNULL)
    reader = subprocess.Popen(["parec", "--latency-msec=20", "-d", "lr.monitor"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    time.sleep(2)  # the pipe's first seconds come in bursts
    yield "lr.monitor"
    for proc in (tone, reader):
        try:
            os.killpg(proc.pid, signal.SIGKILL) if proc is tone else proc.kill()
        except ProcessLookupError:
            pass
        proc.wait(timeout=vt.TIMEOUT)
    vt.pactl("unload-module", module, check=False)


def channel_frequencies(path: Path, window: float = 0.1) -> list[tuple[float, float, float]]:
    """(start, left Hz, right Hz) of each window of a 16-bit stereo file."""
    with wave.open(str(path), "rb") as w:
        assert (w.getnchannels(), w.getsampwidth()) == (2, 2)
        rate = w.getframerate()
        samples = struct.unpack(f"<{w.getnframes() * 2}h", w.readframes(w.getnframes()))
    size = int(rate * window)
    found = []
    for start in range(0, len(samples) // 2 - size + 1, size):
        part = samples[start * 2:(start + size) * 2]
        found.append((start / rate, vt.dominant_frequency(list(part[0::2]), rate),
                      vt.dominant_frequency(list(part[1::2]), rate)))
    return found


def test_disk_full_stops_the_recording_with_a_message_and_no_noise(mounts, launch, program_folder,
                                                                   two_tone_source):
    """22.05 kHz stereo 16-bit, whose 330750-byte capture buffers end in half a frame: the disk fills
    after about three seconds, and space is freed again at once. The file ends at the failure, every
    frame in place: left 440 Hz, right 880 Hz throughout."""
    sounds = program_folder / "sounds"
    sounds.mkdir()
    mounts("-t", "tmpfs", "-o", "size=1m", "tmpfs", target=sounds)
    filler = sounds / "filler"
    filler.write_bytes(b"\0" * (1024 * 1024 - 300 * 1024))

    program = launch(env={"PULSE_SOURCE": two_tone_source})
    program.wait_window()
    vt.choose_source(program, two_tone_source)
    choose_format(program, Format(2, 22050, 16))
    idle = idle_faces(program)
    start = press(program, "F5")
    path = working_file(program)
    message = f"Disk full while accessing {path}."
    box = vt.wait_until(lambda: message_boxes(program), what="a message box about the full disk")[0]
    full = time.monotonic()
    filler.unlink()  # space again, while the message shows
    vt.wait_until(lambda: message in program.output(), timeout=5, what=f"{message!r}: {program.output()}")
    assert_idle_face(program, idle)

    header, wav = check_wav(path)
    assert (header.channels, header.rate, header.bits) == (2, 22050, 16)
    assert 2.0 <= wav.duration <= full - start, f"{wav.duration:.3f} s kept, the disk full after {full - start:.3f} s"
    # Shifted by part of a frame, 16-bit samples turn into full-scale noise (thousands of crossings a
    # second) or the channels swap (right at half the left's frequency). A gap in the test tone bends a
    # window's estimate for both channels alike, so the right stays at twice the left.
    windows = channel_frequencies(path)
    wrong = [(round(t, 2), round(left), round(right)) for t, left, right in windows
             if left > 1000 or right > 2000 or not 1.8 <= right / max(left, 1) <= 2.2]
    steady = [w for w in windows if abs(w[1] - 440) <= 22 and abs(w[2] - 880) <= 44]
    assert len(steady) >= 0.8 * len(windows), f"the tone is off in {len(windows) - len(steady)} windows"
    assert not wrong, f"noise or swapped channels at (s, left Hz, right Hz) {wrong[:5]}"

    # With room again, the next recording works.
    dismiss(program, box)
    start = press(program, "F5")
    time.sleep(1)
    stop = press(program, "F5")
    vt.wait_file_complete(path)
    _, wav = check_wav(path)
    assert abs(wav.duration - (stop - start)) <= 0.3
    assert not message_boxes(program)


def test_read_only_program_folder_records_into_the_users_data_folder(mounts, launch, program_folder,
                                                                     tmp_path, monkeypatch):
    """A system-wide install: the program folder cannot be written (a read-only mount: root ignores
    modes), and the user has no ~/.local/share yet."""
    read_only = tmp_path / "installed"
    read_only.mkdir()
    mounts("--bind", program_folder, target=read_only)
    mounts("-o", "remount,ro,bind", target=read_only)
    home = tmp_path / "home"
    home.mkdir()
    monkeypatch.delenv("XDG_DATA_HOME", raising=False)

    program = launch(folder=read_only, env={"HOME": str(home)})
    program.wait_window()
    vt.choose_source(program, vt.TONE_SOURCE)
    start = press(program, "F5")
    time.sleep(1.5)
    stop = press(program, "F5")
    path = home / ".local" / "share" / "voxtape" / "sounds" / "current.wav"
    vt.wait_file_complete(vt.wait_for_file(path))
    _, wav = check_wav(path)
    assert_recorded(wav, (start, stop))
    assert not message_boxes(program)
    assert not (read_only / "sounds").exists()


def test_without_home_recordings_go_to_the_users_own_private_folder(mounts, launch, program_folder, tmp_path,
                                                                    monkeypatch):
    """HOME unset and the program folder read-only: the home comes from the user database, and the
    folders made for the recording are the user's alone."""
    import pwd
    home = Path(pwd.getpwuid(os.getuid()).pw_dir)
    voxtape_data = home / ".local" / "share" / "voxtape"
    path = voxtape_data / "sounds" / "current.wav"
    if path.exists():
        pytest.skip(f"{path} holds a recording of this machine's user")
    made = not voxtape_data.exists()
    read_only = tmp_path / "installed"
    read_only.mkdir()
    mounts("--bind", program_folder, target=read_only)
    mounts("-o", "remount,ro,bind", target=read_only)
    monkeypatch.delenv("XDG_DATA_HOME", raising=False)
    monkeypatch.delenv("HOME")
    try:
        program = launch(folder=read_only)
        program.wait_window()
        vt.choose_source(program, vt.TONE_SOURCE)
        press(program, "F5")
        time.sleep(1)
        press(program, "F5")
        vt.wait_file_complete(vt.wait_for_file(path))
        check_wav(path)
        assert voxtape_data.stat().st_mode & 0o777 == 0o700, oct(voxtape_data.stat().st_mode)
        assert not (read_only / "sounds").exists()
    finally:
        if made:
            shutil.rmtree(voxtape_data, ignore_errors=True)
        else:
            path.unlink(missing_ok=True)
