"""The display panel of the real window: the clock and the date, the elapsed time while recording, a
pause and a stop, the blinking microphone and pause symbol, the volume reading and the activity bars,
read back from screenshots by matching the digit cells against the skin's own glyphs."""

import time

import pytest

import vtharness as vt

# Every recording here is of the test tone.
pytestmark = pytest.mark.records_tone

PANEL = (23, 387)  # the panel's place in the window; 351 x 113
CELL = (13, 17)
PANEL_KEY = (5, 5, 5)
BAR_COLOUR = (207, 221, 39)
CLOCK = ([3, 18, 37, 52, 71, 86], 32)
DATE = ([3, 18, 43, 58, 83, 98], 85)
TIME = ([142, 157, 176, 191, 210, 225, 244, 259], 32)
VOLUME = ([142, 155, 169], 85)
MICROPHONE = (290, 13, 52, 52)
PAUSE = (190, 80, 30, 24)
BARS_X = range(222, 341, 2)
BARS_Y = range(66, 113)  # below the microphone
REFRESH = 0.25


class Panel:
    """Reads the panel out of screenshots with the program's own skin images."""

    def __init__(self, program: vt.Program, folder):
        skin = vt.skin_extract(program.folder / "Interface" / "voxtape.int", folder)
        self.program = program
        self.glyphs = vt.read_bmp(skin / "bigletters.bmp")
        self.pane = vt.read_bmp(skin / "pane.bmp")
        self.microphone = {lit: self.overlay(vt.read_bmp(skin / name), MICROPHONE)
                           for lit, name in [(False, "microphone.bmp"), (True, "microphoneOn.bmp")]}
        self.pause = self.overlay(vt.read_bmp(skin / "pauseon.bmp"), PAUSE)

    def overlay(self, symbol: vt.Image, rect) -> bytes:
        """The pane's pixels of rect with symbol laid over them, its key colour left out."""
        x0, y0, w, h = rect
        out = bytearray(self.pane.crop(x0, y0, w, h).rgb)
        for y in range(h):
            for x in range(w):
                p = symbol.pixel(x, y)
                if p != PANEL_KEY:
                    out[(y * w + x) * 3:(y * w + x) * 3 + 3] = bytes(p)
        return bytes(out)

    def shot(self) -> vt.Image:
        x, y = PANEL
        return self.program.screenshot().crop(x, y, 351, 113)

    def cell(self, shot: vt.Image, x: int, y: int) -> int | None:
        """The digit a cell shows, -1 for the pane's blank cell, None for anything else."""
        for digit in range(10):
            if all(self.glyphs.pixel(digit * CELL[0] + i, j) in (PANEL_KEY, shot.pixel(x + i, y + j))
                   for j in range(CELL[1]) for i in range(CELL[0])):
                return digit
        if shot.crop(x, y, *CELL).rgb == self.pane.crop(x, y, *CELL).rgb:
            return -1
        return None

    def row(self, shot: vt.Image, row) -> list[int | None]:
        xs, y = row
        return [self.cell(shot, x, y) for x in xs]

    def elapsed(self, shot: vt.Image) -> float:
        d = self.row(shot, TIME)
        assert None not in d and -1 not in d, f"time row unreadable: {d}"
        return (d[0] * 10 + d[1]) * 3600 + (d[2] * 10 + d[3]) * 60 + d[4] * 10 + d[5] + (d[6] * 10 + d[7]) / 100

    def bar_pixels(self, shot: vt.Image) -> int:
        return sum(1 for x in BARS_X for y in BARS_Y
                   if shot.pixel(x, y) == BAR_COLOUR and self.pane.pixel(x, y) != BAR_COLOUR)

    def region(self, shot: vt.Image, rect) -> bytes:
        return shot.crop(*rect).rgb

    def states(self, seconds: float, read) -> list:
        """What read(shot) gives in screenshots taken over `seconds`."""
        seen = []
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            seen.append(read(self.shot()))
            time.sleep(0.05)
        return seen


@pytest.fixture
def panel(voxtape, artifacts) -> Panel:
    return Panel(voxtape, artifacts / "skin")


def clock_seconds(cells) -> int:
    return ((cells[0] * 10 + cells[1]) * 60 + cells[2] * 10 + cells[3]) * 60 + cells[4] * 10 + cells[5]


def test_idle_panel_shows_the_local_time_and_zeros(voxtape, panel):
    shot = vt.wait_until(lambda: (s := panel.shot()) and None not in panel.row(s, CLOCK) and s,
                         timeout=3, what="a readable clock")
    now = time.localtime()
    clock = panel.row(shot, CLOCK)
    shown = clock_seconds(clock)
    local = (now.tm_hour * 60 + now.tm_min) * 60 + now.tm_sec
    # The screenshot is at most one refresh older than `now`; across midnight the day wraps.
    assert min((local - shown) % 86400, (shown - local) % 86400) <= 2, f"clock {clock} at {time.strftime('%T')}"
    day, month, year = time.localtime().tm_mday, time.localtime().tm_mon, time.localtime().tm_year % 100
    assert panel.row(shot, DATE) == [day // 10, day % 10, month // 10, month % 10, year // 10, year % 10]

    assert panel.row(shot, TIME) == [0] * 8
    assert panel.row(shot, VOLUME) == [0, 0, 0]
    assert panel.bar_pixels(shot) == 0
    assert panel.region(shot, PAUSE) == panel.pane.crop(*PAUSE).rgb
    # A steady microphone, and a clock that goes on.
    assert set(panel.states(1.2, lambda s: panel.region(s, MICROPHONE))) == {panel.microphone[False]}
    vt.wait_until(lambda: clock_seconds(panel.row(panel.shot(), CLOCK)) != shown, timeout=3,
                  what="the clock to move on")


@pytest.mark.parametrize("locale, month_first", [("en_US.UTF-8", True), ("de_DE.UTF-8", False)])
def test_the_date_reads_in_the_users_order(launch, artifacts, tmp_path, locale, month_first):
    locales = tmp_path / "locales"
    locales.mkdir()
    vt.run("localedef", "-i", locale.split(".")[0], "-f", "UTF-8", str(locales / locale))
    program = launch(env={"LOCPATH": str(locales), "LC_ALL": "", "LC_TIME": locale})
    program.wait_window()
    panel = Panel(program, artifacts / "skin")
    shot = vt.wait_until(lambda: (s := panel.shot()) and None not in panel.row(s, DATE) and s,
                         timeout=3, what="a readable date")
    now = time.localtime()
    first, second = (now.tm_mon, now.tm_mday) if month_first else (now.tm_mday, now.tm_mon)
    year = now.tm_year % 100
    assert panel.row(shot, DATE) == [first // 10, first % 10, second // 10, second % 10, year // 10, year % 10]


def test_recording_pause_and_stop(voxtape, panel):
    voxtape.key("F5")
    vt.wait_until(lambda: panel.elapsed(panel.shot()) > 0.5, timeout=5, what="the elapsed time to run")

    # Two screenshots a second apart are a second apart on the time row. The row is refreshed four
    # times a second, so what a read shows was true at most a refresh (and a little jitter) before
    # the read began and at the latest when it ended.
    refresh = 0.25 + 0.05
    before1 = time.monotonic()
    first = panel.shot()
    after1 = time.monotonic()
    time.sleep(1.0)
    before2 = time.monotonic()
    second = panel.shot()
    after2 = time.monotonic()
    shown = panel.elapsed(second) - panel.elapsed(first)
    assert before2 - after1 - refresh <= shown <= after2 - before1 + refresh, \
        f"time row moved {shown:.2f} s between reads {before2 - after1:.2f} to {after2 - before1:.2f} s apart"
    assert panel.row(second, VOLUME) == [1, 0, 0], "the recording volume slider stands at 100"
    assert panel.bar_pixels(second) > 0, "no activity bars while recording"

    # The microphone alternates between its two images, and only those.
    mics = panel.states(1.5, lambda s: panel.region(s, MICROPHONE))
    assert set(mics) == {panel.microphone[True], panel.microphone[False]}
    assert panel.region(second, PAUSE) == panel.pane.crop(*PAUSE).rgb, "pause symbol while recording"

    # Pause: the time stands still and the pause symbol blinks.
    voxtape.key("F8")
    time.sleep(2 * REFRESH)
    held = panel.elapsed(panel.shot())
    pauses = panel.states(1.5, lambda s: (panel.elapsed(s), panel.region(s, PAUSE)))
    assert {e for e, _ in pauses} == {held}, f"time row moved during the pause: {sorted({e for e, _ in pauses})}"
    assert {p for _, p in pauses} == {panel.pause, panel.pane.crop(*PAUSE).rgb}

    # Resume: it goes on from where it stood.
    voxtape.key("F8")
    vt.wait_until(lambda: panel.elapsed(panel.shot()) > held, timeout=2, what="the time to go on")
    resumed = panel.elapsed(panel.shot())
    assert held < resumed < held + 0.6

    # Stop: zeros, no bars, no pause symbol, the plain microphone.
    voxtape.key("F5")
    vt.wait_until(lambda: panel.row(panel.shot(), TIME) == [0] * 8, timeout=3, what="zeros after Stop")
    time.sleep(REFRESH)
    shot = panel.shot()
    assert panel.row(shot, TIME) == [0] * 8
    assert panel.row(shot, VOLUME) == [0, 0, 0]
    assert panel.bar_pixels(shot) == 0
    assert set(panel.states(1.0, lambda s: panel.region(s, MICROPHONE))) == {panel.microphone[False]}
