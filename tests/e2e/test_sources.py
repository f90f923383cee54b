"""The list of recording sources in the real program, on the private sound server: every source is
listed by its description in the server's order, the Wave Out Mix monitor is chosen at start, a
chosen source is what gets recorded (without touching the desktop's default source), the recording
volume slider shows and sets the chosen source's volume, the list scrolls by its bar and the wheel,
sources that come and go are followed, and a missing server does no harm."""

from __future__ import annotations

import json
import os
import subprocess
import time
from pathlib import Path

import pytest

import vtharness as vt

# The list works the same on both sound servers.
pytestmark = pytest.mark.pipewire

LIST_X, LIST_Y, LIST_W, LIST_H = vt.SOURCE_LIST
ROWS_W = LIST_W - vt.SOURCE_BAR_WIDTH  # the rows' part of the panel, left of the bar
BAR_X = LIST_X + ROWS_W
ACCENT = (207, 221, 39)
WHITE = (255, 255, 255)
WAVE_OUT_MIX = "wom.monitor"
DEFAULT_SOURCE = "tone.monitor"
SLIDER = (16, 237, 367, 27)  # the recording volume slider (x, y, width, height)
THUMB_RED = (255, 0, 0)
RECORD = (23 + 65, 500 + 19)


# ---------------------------------------------------------------------------------------------------
# Sources of our own


class ToneSinks:
    """Null sinks with descriptions, each with a sine of its own played into it; their monitors are
    sources of the server. Unloaded (and their players stopped) at the end of the test."""

    def __init__(self):
        self.modules: dict[str, str] = {}
        self.players: dict[str, list[subprocess.Popen]] = {}

    def add(self, sink: str, description: str, hz: float | None = None) -> str:
        module = vt.pactl("load-module", "module-null-sink", f"sink_name={sink}",
                          f"sink_properties='device.description=\"{description}\"'").strip()
        self.modules[sink] = module
        if hz is not None:
            # Played as the environment plays its own tone, so that a busy machine does not break it
            # up: half a second queued at the server, at real-time priority where that is allowed.
            realtime = ["chrt", "-f", "10"] if subprocess.run(["chrt", "-f", "10", "true"],
                                                              capture_output=True).returncode == 0 else []
            sine = subprocess.Popen(realtime + ["sox", "-q", "-n", "-t", "raw", "-r", "44100", "-c", "2", "-b",
                                                "16", "-e", "signed", "-", "synth", "600", "sine", str(hz),
                                                "vol", "0.5"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            play = subprocess.Popen(realtime + ["pacat", "--latency-msec=500", "--rate=44100", "--channels=2",
                                                "--format=s16le", "-d", sink], stdin=sine.stdout,
                                    stderr=subprocess.DEVNULL)
            sine.stdout.close()
            # A reader that keeps the monitor running at a short latency from the start (as the
            # test environment does for its tone): unread, a monitor hands out long blocks at first.
            keep = subprocess.Popen(["parec", "--latency-msec=20", "-d", f"{sink}.monitor"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.players[sink] = [keep, play, sine]
        return f"{sink}.monitor"

    def settle(self):
        """Lets the tones settle: the first moments of a pipe come in bursts."""
        if self.players:
            time.sleep(2)

    def remove(self, sink: str):
        for proc in self.players.pop(sink, []):
            proc.kill()
            proc.wait(timeout=vt.TIMEOUT)
        module = self.modules.pop(sink, None)
        if module is not None:
            vt.pactl("unload-module", module, check=False)

    def unplug(self, sink: str):
        """The sink goes as a device does when unplugged: at once, its tone still playing into it."""
        vt.pactl("unload-module", self.modules.pop(sink))
        self.remove(sink)

    def remove_all(self):
        for sink in list(self.modules):
            self.remove(sink)


@pytest.fixture
def sinks():
    made = ToneSinks()
    yield made
    made.remove_all()


# ---------------------------------------------------------------------------------------------------
# Reading the window


def row_top(index: int, scrolled: int = 0) -> int:
    """Window y of a row's top."""
    return LIST_Y + vt.SOURCE_ROW_TOP + vt.SOURCE_ROW_PITCH * index - scrolled


def row_checked(shot: vt.Image, index: int, scrolled: int = 0) -> bool:
    """The middle of the row's mark: accent when checked, white when not."""
    colour = shot.pixel(LIST_X + 5 + 7, row_top(index, scrolled) + 7)
    assert colour in (ACCENT, WHITE), f"row {index}: mark is {colour}"
    return colour == ACCENT


def row_box_shown(shot: vt.Image, index: int, scrolled: int = 0) -> bool:
    """The top-left pixel of the row's box frame is there (in accent)."""
    y = row_top(index, scrolled)
    return LIST_Y <= y < LIST_Y + LIST_H and shot.pixel(LIST_X + 5, y) == ACCENT


def caption_width(shot: vt.Image, index: int, scrolled: int = 0) -> int:
    """How wide the ink of a row's caption is (pixels that differ from the panel's floor)."""
    floor = shot.pixel(LIST_X + ROWS_W - 2, LIST_Y + 1)
    top = row_top(index, scrolled)
    columns = [x for x in range(LIST_X + 5 + 14 + 5, BAR_X)
               if any(shot.pixel(x, y) != floor for y in range(top, top + 16))]
    return columns[-1] - columns[0] + 1 if columns else 0


def text_width(text: str) -> int:
    """The ink width of a line of text in the desktop's sans font at the rows' 13 pixels, drawn by
    ImageMagick (a different renderer: its edges may differ by a pixel). Text in a script that font
    lacks (here: Chinese) is drawn in the sans font that has it, as the program does."""
    wide = sorted({f"{ord(c):x}" for c in text if ord(c) >= 0x2E80})
    pattern = "sans-serif" + (f":charset={' '.join(wide)}" if wide else "")
    font = vt.run("fc-match", "-f", "%{file}", pattern).decode()
    out = vt.run("convert", "-font", font, "-density", "72", "-pointsize", "13", "-background", "black",
                 "-fill", "white", f"label:{text}", "-trim", "-format", "%w", "info:")
    return int(out)


def list_rows(shot: vt.Image) -> vt.Image:
    return shot.crop(LIST_X, LIST_Y, ROWS_W, LIST_H)


def thumb_x(shot: vt.Image) -> int | None:
    x, y, w, _ = SLIDER
    reds = [i for i in range(x, x + w) if shot.pixel(i, y + 3) == THUMB_RED]
    return (reds[0] + reds[-1]) // 2 if reds else None


def x_for(pos: int) -> int:
    left, right = SLIDER[0] + 8, SLIDER[0] + SLIDER[2] - 9
    return left + (2 * pos * (right - left) + 200) // 400


def pos_for(x: int) -> int:
    left, right = SLIDER[0] + 8, SLIDER[0] + SLIDER[2] - 9
    return (2 * (x - left) * 200 + (right - left)) // (2 * (right - left))


def source_volume(name: str) -> int:
    """The first channel's volume in percent, as pactl reports it."""
    out = vt.pactl("get-source-volume", name)
    return int(out.split("/")[1].strip().rstrip("%"))


def working_file(program: vt.Program) -> Path:
    return program.folder / "sounds" / "current.wav"


def record(program: vt.Program, seconds: float, during=None) -> vt.Wav:
    """Record, wait (running `during` half way), Stop; returns the complete file as read back."""
    vt.focus(program.wid)
    vt.xdotool("key", "F5")
    if during:
        time.sleep(seconds / 2)
        during()
        time.sleep(seconds / 2)
    else:
        time.sleep(seconds)
    vt.focus(program.wid)
    vt.xdotool("key", "F5")
    vt.wait_file_complete(working_file(program))
    return valid_wav(working_file(program))


def valid_wav(path: Path) -> vt.Wav:
    """The file is a complete WAV to sox and to Python's reader."""
    r = subprocess.run(["sox", "--i", str(path)], capture_output=True, text=True, timeout=vt.TIMEOUT)
    assert r.returncode == 0 and not r.stderr.strip(), f"sox --i {path}: {r.stderr}"
    return vt.read_wav(path)


def frequency(wav: vt.Wav, start: float, end: float) -> float:
    part = wav.samples[int(start * wav.rate):int(end * wav.rate)]
    return vt.dominant_frequency(part, wav.rate)


def shown(program: vt.Program, check, what: str, artifacts: Path | None = None, timeout: float = 5):
    """Waits until a screenshot passes check; returns it (saved to artifacts if it never does)."""
    last = {}

    def passes():
        last["shot"] = program.screenshot()
        return check(last["shot"])

    try:
        vt.wait_until(passes, timeout=timeout, interval=0.1, what=what)
    except vt.HarnessError:
        if artifacts is not None:
            path = last["shot"].save_png(artifacts / f"{what.replace(' ', '-')[:60]}.png")
            raise vt.HarnessError(f"timed out waiting for {what}; the window is in {path}")
        raise
    return last["shot"]


# ---------------------------------------------------------------------------------------------------
# Tests


def test_every_source_is_listed_by_its_description_and_wave_out_mix_is_chosen(launch, sinks, artifacts):
    sinks.add("vt_line", "Line In")
    sinks.add("vt_mic", "Mikrofon Ünïcödé – Ωμέγα Źródło")
    sinks.add("vt_usb", "麦克风 USB")
    listed = vt.sources()
    assert len(listed) == 6
    program = launch()
    program.wait_window()
    shot = shown(program, lambda s: row_box_shown(s, 5), "six rows", artifacts)
    shot.save_png(artifacts / "sources.png")

    for index, (name, description) in enumerate(listed):
        assert row_box_shown(shot, index), f"row {index} ({description})"
        assert row_checked(shot, index) == (name == WAVE_OUT_MIX), f"row {index} ({description})"
        want = text_width(description)
        got = caption_width(shot, index)
        assert abs(got - want) <= 1, f"row {index}: caption {got} px wide, {description!r} is {want} px"
    assert not row_box_shown(shot, 6)
    # Six rows fit: the bar is there but has no thumb.
    assert all(shot.pixel(x, y) != ACCENT for x in range(BAR_X + 2, BAR_X + vt.SOURCE_BAR_WIDTH)
               for y in range(LIST_Y + 15, LIST_Y + LIST_H - 15))
    assert vt.pactl("get-default-source").strip() == DEFAULT_SOURCE


def test_the_chosen_source_is_recorded_and_the_desktop_default_stays(launch, sinks, artifacts):
    line = sinks.add("vt_line", "Line In", hz=880)
    mic = sinks.add("vt_mic", "Microphone", hz=660)
    sinks.settle()
    program = launch()
    program.wait_window()

    vt.choose_source(program, line)
    shown(program, lambda s: row_checked(s, 3) and not row_checked(s, 2), "Line In checked", artifacts)
    wav = record(program, 2.5)
    assert abs(frequency(wav, 0.2, wav.duration) - 880) <= 5

    # Chosen while recording: the running recording follows from its next sound on.
    wav = record(program, 4, during=lambda: vt.choose_source(program, mic))
    assert abs(frequency(wav, 0.2, 1.5) - 880) <= 5
    assert abs(frequency(wav, wav.duration - 1.5, wav.duration) - 660) <= 5
    assert vt.pactl("get-default-source").strip() == DEFAULT_SOURCE
    # And the next recording starts on it.
    wav = record(program, 2)
    assert abs(frequency(wav, 0.2, wav.duration) - 660) <= 5
    assert vt.pactl("get-default-source").strip() == DEFAULT_SOURCE


def test_the_slider_shows_and_sets_the_chosen_sources_volume(launch, sinks, artifacts):
    line = sinks.add("vt_line", "Line In")
    mic = sinks.add("vt_mic", "Microphone")
    vt.pactl("set-source-volume", line, "45%")
    vt.pactl("set-source-volume", mic, "30%")
    program = launch()
    program.wait_window()
    shown(program, lambda s: thumb_x(s) == x_for(100), "the slider at Wave Out Mix's 100 %", artifacts)

    vt.choose_source(program, mic)
    shot = shown(program, lambda s: thumb_x(s) == x_for(30), "the slider at the microphone's 30 %",
                 artifacts)
    start = thumb_x(shot)
    program.drag((start, SLIDER[1] + 10), (start + 60, SLIDER[1] + 10))
    shot = shown(program, lambda s: thumb_x(s) not in (None, start), "the slider moved", artifacts)
    pos = pos_for(thumb_x(shot))
    assert 40 <= pos <= 70
    vt.wait_until(lambda: source_volume(mic) == pos, timeout=5,
                  what=f"the microphone at {pos} % (it is at {source_volume(mic)} %)")
    assert source_volume(line) == 45 and source_volume(WAVE_OUT_MIX) == 100

    # Beyond 100 on the slider the source stays at its normal volume.
    start = thumb_x(shot)
    program.drag((start, SLIDER[1] + 10), (x_for(170), SLIDER[1] + 10))
    shown(program, lambda s: pos_for(thumb_x(s) or 0) >= 150, "the slider beyond 150", artifacts)
    vt.wait_until(lambda: source_volume(mic) == 100, timeout=5,
                  what=f"the microphone at 100 % (it is at {source_volume(mic)} %)")

    vt.choose_source(program, line)
    shown(program, lambda s: thumb_x(s) == x_for(45), "the slider at Line In's 45 %", artifacts)
    assert vt.pactl("get-default-source").strip() == DEFAULT_SOURCE


@pytest.mark.parametrize("count", [12, 40])
def test_many_sources_scroll_by_the_bar_and_the_wheel(launch, sinks, artifacts, count):
    for i in range(count - len(vt.sources())):
        sinks.add(f"vt_extra{i}", f"Extra source {i + 1}")
    assert len(vt.sources()) == count
    program = launch()
    program.wait_window()
    top = shown(program, lambda s: row_box_shown(s, 6), "the first rows", artifacts)
    top.save_png(artifacts / f"{count}-top.png")
    extent, page = 20 * count, LIST_H
    most = extent - page
    line, page_step = max(most // 20, 5), max(most // 10, 5)

    def rows_scrolled_by(before: vt.Image, by: int):
        """The rows of `before`, moved up by `by` pixels (the background is one colour)."""
        rows = list_rows(before)
        return lambda s: list_rows(s).crop(0, 0, ROWS_W, LIST_H - by) == rows.crop(0, by, ROWS_W, LIST_H - by)

    # One notch of the wheel over the list, the bar's down arrow, the track under the thumb.
    program.move(LIST_X + 100, LIST_Y + 60)
    vt.xdotool("click", "5")
    after_wheel = shown(program, rows_scrolled_by(top, line), f"the rows up by {line} (wheel)", artifacts)
    program.click(BAR_X + 7, LIST_Y + LIST_H - 5)
    after_arrow = shown(program, rows_scrolled_by(after_wheel, line), f"the rows up by {line} (arrow)",
                        artifacts)
    program.click(BAR_X + 7, LIST_Y + LIST_H - 20)
    shown(program, rows_scrolled_by(after_arrow, page_step), f"the rows up by {page_step} (track)",
          artifacts)

    # The thumb dragged to the bottom: the last row shows whole, inside the panel.
    thumb_top = min(y for y in range(LIST_Y + 14, LIST_Y + LIST_H - 14)
                    if program.screenshot().pixel(BAR_X + 7, y) == ACCENT)
    program.drag((BAR_X + 7, thumb_top + 3), (BAR_X + 7, LIST_Y + LIST_H + 40))
    bottom = shown(program, lambda s: row_box_shown(s, count - 1, most), "the last row", artifacts)
    bottom.save_png(artifacts / f"{count}-bottom.png")
    assert row_top(count - 1, most) + 16 <= LIST_Y + LIST_H
    # Nothing of the list strays out of its panel: the skin around it is as at the start.
    for y in list(range(LIST_Y - 3, LIST_Y)) + list(range(LIST_Y + LIST_H, LIST_Y + LIST_H + 3)):
        assert bottom.crop(LIST_X, y, LIST_W, 1) == top.crop(LIST_X, y, LIST_W, 1), f"row {y}"

    # The wheel back up to the top gives the first picture again.
    program.move(LIST_X + 100, LIST_Y + 60)
    for _ in range(most // line + 1):
        vt.xdotool("click", "4")
    shown(program, lambda s: list_rows(s) == list_rows(top), "the list back at its top", artifacts)


def voxtape_streams() -> list[str]:
    """The server's indexes of the program's own record streams."""
    streams = json.loads(vt.pactl("-f", "json", "list", "source-outputs"))
    return [str(s["index"]) for s in streams if s["properties"].get("application.name") == "Voxtape"]


def take_away(how: str, sinks: ToneSinks):
    if how == "unplugged":
        sinks.unplug("vt_mic")
    else:
        vt.pactl("move-source-output", voxtape_streams()[0], "vt_line.monitor")


@pytest.mark.parametrize("how", ["unplugged", "moved by another program"])
def test_an_input_taken_away_during_a_recording_ends_the_take_and_says_so(launch, sinks, artifacts, how):
    """Never a take that goes on from an input nobody chose, or in silence: the recording stops as
    Stop stops it, the file holds the chosen input's sound up to that moment, and a message names
    the input."""
    sinks.add("vt_line", "Line In", hz=880)
    mic = sinks.add("vt_mic", "Microphone", hz=660)
    sinks.settle()
    program = launch()
    program.wait_window()
    vt.choose_source(program, mic)
    shown(program, lambda s: row_checked(s, 4), "Microphone checked", artifacts)
    idle_face = program.screenshot().crop(RECORD[0] - 65, RECORD[1] - 19, 130, 38).rgb

    vt.focus(program.wid)
    vt.xdotool("key", "F5")
    vt.wait_until(lambda: voxtape_streams(), timeout=5, what="the recording's stream")
    time.sleep(2)
    take_away(how, sinks)
    box = vt.wait_until(lambda: vt.message_boxes(exclude=program.wid), timeout=5,
                        what="a message about the input")[0]
    vt.wait_until(lambda: '"Monitor of Microphone" went away during the recording' in program.output(), timeout=5,
                  what=f"the message naming the input (output: {program.output()})")
    vt.screenshot().save_png(artifacts / "input-gone-message.png")
    wav = valid_wav(vt.wait_file_complete(working_file(program)))
    assert 1.7 <= wav.duration <= 2.6, f"the take lasts {wav.duration:.2f} s, not about 2 s"
    report = vt.tone_report(wav, hz=660)
    assert not report.problems(), report.problems()
    assert abs(report.frequency - 660) <= 2
    vt.press_keys("Return", wid=box)
    vt.wait_until(lambda: not vt.message_boxes(exclude=program.wid), timeout=5, what="the message to close")
    # Stopped as Stop stops: the Record button shows Record again, and the file stays as it was.
    vt.wait_until(lambda: program.screenshot().crop(RECORD[0] - 65, RECORD[1] - 19, 130, 38).rgb == idle_face,
                  timeout=5, what="the Record button's idle face")
    assert vt.read_wav(working_file(program)).frames == wav.frames
    if how == "unplugged":
        # With the recording over, the list shows what Record will use now.
        shown(program, lambda s: not row_box_shown(s, 4) and row_checked(s, 2), "Wave Out Mix checked",
              artifacts)
    assert program.running


def test_the_list_follows_inputs_plugged_in_and_out(launch, sinks, artifacts):
    """A "USB Mic" plugged in while the program runs is listed, by its description, and records its
    own tone when chosen; unplugged while idle, its row goes and the row the start-up rule picks among
    what is left is checked, and Record then records that row's tone; plugged in again, it is listed
    but the choice made since stays."""
    sinks.add("vt_wom2", "Wave Out Mix 2", hz=330)  # the last Wave Out Mix: the one picked
    sinks.settle()
    program = launch()
    program.wait_window()
    shot = shown(program, lambda s: row_box_shown(s, 3) and row_checked(s, 3), "Wave Out Mix 2 checked",
                 artifacts)
    shot.save_png(artifacts / "before-plug.png")
    slider = thumb_x(shot)

    usb = sinks.add("vt_usb", "USB Mic", hz=660)
    shot = shown(program, lambda s: row_box_shown(s, 4), "the USB Mic's row", artifacts)
    shot.save_png(artifacts / "after-plug.png")
    want = text_width("Monitor of USB Mic")
    assert abs(caption_width(shot, 4) - want) <= 1
    assert row_checked(shot, 3) and not row_checked(shot, 4), "plugging in changed the choice"
    assert thumb_x(shot) == slider
    sinks.settle()
    vt.choose_source(program, usb)
    shown(program, lambda s: row_checked(s, 4), "USB Mic checked", artifacts)
    wav = record(program, 2)
    assert abs(frequency(wav, 0.2, wav.duration) - 660) <= 5

    sinks.unplug("vt_usb")
    shot = shown(program, lambda s: not row_box_shown(s, 4) and row_checked(s, 3),
                 "the USB Mic's row gone and Wave Out Mix 2 checked", artifacts)
    shot.save_png(artifacts / "after-unplug.png")
    wav = record(program, 2)
    report = vt.tone_report(wav, hz=330)
    assert not report.problems(), report.problems()
    assert abs(report.frequency - 330) <= 2

    sinks.add("vt_usb", "USB Mic", hz=660)
    shown(program, lambda s: row_box_shown(s, 4), "the USB Mic's row again", artifacts)
    time.sleep(0.5)
    shot = program.screenshot()
    assert row_checked(shot, 3) and not row_checked(shot, 4), "plugging it back took the choice back"
    assert program.running


def thumb_span(shot: vt.Image) -> tuple[int, int] | None:
    """Window y of the scroll bar thumb's top, and its length; none without a thumb."""
    ys = [y for y in range(LIST_Y + 14, LIST_Y + LIST_H - 14)
          if shot.pixel(BAR_X + 7, y) == ACCENT]
    return (ys[0], ys[-1] - ys[0] + 1) if ys else None


def thumb_for(count: int, scrolled: int) -> tuple[int, int]:
    """Where the thumb belongs for `count` rows scrolled by `scrolled` pixels: the track between the
    arrows is to the list's whole height as the thumb is to the panel."""
    track, extent = LIST_H - 28, 20 * count
    length = min(max(track * LIST_H // extent, 12), track)
    most = extent - LIST_H
    return LIST_Y + 14 + (track - length) * min(scrolled, most) // most, length


def test_sources_added_while_scrolled_keep_the_scroll_bar_exact(launch, sinks, artifacts):
    for i in range(9):
        sinks.add(f"vt_extra{i}", f"Extra source {i + 1}")
    program = launch()
    program.wait_window()
    shown(program, lambda s: thumb_span(s) == thumb_for(12, 0), "the thumb of 12 rows", artifacts)
    # Scrolled to the end of the twelve rows.
    top, _ = thumb_span(program.screenshot())
    program.drag((BAR_X + 7, top + 3), (BAR_X + 7, LIST_Y + LIST_H + 40))
    scrolled = 12 * 20 - LIST_H
    shot = shown(program, lambda s: thumb_span(s) == thumb_for(12, scrolled), "the thumb at the end",
                 artifacts)
    rows = list_rows(shot).crop(0, 0, ROWS_W, 100)
    for count in range(13, 41):
        sinks.add(f"vt_more{count}", f"More source {count}")
        shot = shown(program, lambda s: thumb_span(s) == thumb_for(count, scrolled),
                     f"the thumb of {count} rows", artifacts)
        assert list_rows(shot).crop(0, 0, ROWS_W, 100) == rows, f"the rows moved at {count} rows"
    shot.save_png(artifacts / "40-added.png")
    # The thumb dragged to the bottom: the fortieth row shows whole, at the panel's bottom.
    top, _ = thumb_span(shot)
    program.drag((BAR_X + 7, top + 3), (BAR_X + 7, LIST_Y + LIST_H + 40))
    most = 40 * 20 - LIST_H
    shown(program, lambda s: thumb_span(s) == thumb_for(40, most) and row_box_shown(s, 39, most),
          "the last of 40 rows", artifacts)
    # And as they go again, the list closes up to what is left.
    for i in range(13, 41):
        sinks.remove(f"vt_more{i}")
    shown(program, lambda s: thumb_span(s) == thumb_for(12, scrolled) and row_box_shown(s, 11, scrolled),
          "the end of 12 rows again", artifacts)


def test_the_list_comes_back_with_a_restarted_sound_server(launch, artifacts):
    from test_reliability import sound_server
    program = launch()
    program.wait_window()
    full = shown(program, lambda s: row_box_shown(s, 2) and row_checked(s, 2), "three rows", artifacts)
    try:
        sound_server("kill-pulse")
        shown(program, lambda s: not row_box_shown(s, 0), "an empty list", artifacts)
    finally:
        sound_server("restart-pulse")
    shown(program, lambda s: list_rows(s) == list_rows(full), "the three rows again", artifacts, timeout=10)
    wav = record(program, 1.5)
    assert wav.frames > 0
    assert program.running


def test_without_a_sound_server_the_list_is_empty_and_the_window_works(launch, tmp_path, artifacts):
    program = launch(env={"PULSE_SERVER": f"unix:{tmp_path}/no-server"})
    program.wait_window()
    time.sleep(1)
    shot = program.screenshot()
    shot.save_png(artifacts / "no-server.png")
    assert not any(row_box_shown(shot, i) for i in range(7))
    assert thumb_x(shot) == x_for(100)
    # Record says why it cannot record and makes no file.
    from test_reliability import dismiss, wait_message
    program.key("F5")
    dismiss(program, wait_message(program, "no sound server is running"))
    assert not (program.folder / "sounds" / "current.wav").exists()
    assert program.running
