"""The recorder window and its controls: its idle look, dragging, keys, the exit question, the single
instance, button faces and tips, the format radios, the volume sliders and Help."""

import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

import vtharness as vt

REFERENCE = Path(__file__).resolve().parent / "reference" / "idle.png"
QUESTION = "^Exit Voxtape$"
NOTICE = "^Voxtape is already running$"

SOURCE_FRAME = (23, 67, 351, 141)
DISPLAY_PANEL = (23, 387, 351, 113)
# A free spot of the background, below the title; pointer moves park here between controls.
BACKGROUND = (130, 45)

# name: (left, top, the skin image that gives its size)
BUTTONS = {
    "Close": (335, 0, "close.bmp"),
    "Help": (293, 0, "help.bmp"),
    "Record": (23, 500, "startrecording.bmp"),
    "Play": (23, 542, "playsound.bmp"),
    "Pause": (163, 500, "pause.bmp"),
    "Save": (266, 500, "savesound.bmp"),
}
# In the exit question.
OK_BUTTON = (191, 62)
CANCEL_BUTTON = (62, 62)

RADIOS = {
    "8.0 kHz": (29, 298), "11.025 kHz": (29, 320), "22.05 kHz": (29, 343), "44.1 kHz": (29, 364),
    "8 bits": (165, 298), "16 bits": (165, 320),
    "Mono": (285, 299), "Stereo": (285, 320),
}
ACCENT = (207, 221, 39)
WHITE = (255, 255, 255)

TIP_LEFT_RGB = (44, 44, 52)
TIP_RIGHT_RGB = (206, 222, 38)
THUMB_RED = (255, 0, 0)
BAND_IDLE = (100, 100, 100)
BAND_ACTIVE = (255, 125, 0)


# ---------------------------------------------------------------------------------------------------
# Helpers


def stays(predicate, seconds: float = 0.4, what: str = "condition"):
    """Asserts that predicate holds throughout a short while (for things that must not happen)."""
    deadline = time.monotonic() + seconds
    while True:
        assert predicate(), f"{what} no longer holds"
        if time.monotonic() >= deadline:
            return
        time.sleep(0.05)


def without_display(shot: vt.Image) -> bytes:
    """The window's pixels with the display panel blanked: its clock moves every second."""
    x, y, w, h = DISPLAY_PANEL
    rgb = bytearray(shot.rgb)
    for row in range(y, y + h):
        at = (row * shot.width + x) * 3
        rgb[at:at + w * 3] = bytes(w * 3)
    return bytes(rgb)


def steady_screenshot(program: vt.Program, wid: int | None = None) -> vt.Image:
    """A screenshot once two in a row agree outside the display panel (the first paint may land
    after the window maps)."""
    previous = None

    def steady():
        nonlocal previous
        shot = program.screenshot(wid)
        same = previous is not None and without_display(shot) == without_display(previous)
        previous = shot
        return shot if same else None

    return vt.wait_until(steady, timeout=5, interval=0.1, what="the window to stop changing")


def region(shot: vt.Image, rect) -> bytes:
    return shot.crop(*rect).rgb


def button_rect(program: vt.Program, name: str) -> tuple[int, int, int, int]:
    x, y, image = BUTTONS[name]
    width, height, _ = vt.skin_list(program.folder / "Interface" / "voxtape.int")[image]
    return x, y, width, height


def centre(rect) -> tuple[int, int]:
    x, y, w, h = rect
    return x + w // 2, y + h // 2


def question_of(program: vt.Program) -> int:
    return program.wait_window(QUESTION, timeout=5)


def no_question(program: vt.Program) -> bool:
    return not vt.find_windows(QUESTION, pid=program.pid)


def one_tip(program: vt.Program) -> int | None:
    tips = vt.tip_windows(program.pid)
    assert len(tips) <= 1, f"{len(tips)} tips shown at once"
    return tips[0] if tips else None


# ---------------------------------------------------------------------------------------------------
# The idle window


def test_idle_window_matches_the_reference_picture(voxtape, artifacts):
    g = voxtape.geometry()
    assert (g.width, g.height) == (400, 600)
    assert vt.window_name(voxtape.wid) == "Voxtape"
    assert vt.window_property(voxtape.wid, "_NET_WM_ICON"), "the window has no icon"

    if os.environ.get("VT_UPDATE_REFERENCE") == "1":
        REFERENCE.parent.mkdir(exist_ok=True)
        steady_screenshot(voxtape).save_png(REFERENCE)
    assert REFERENCE.exists(), (f"no reference picture {REFERENCE}: make one with VT_UPDATE_REFERENCE=1 "
                                "and look at it before keeping it")
    # The display panel shows the clock: it is left out here and tested in test_display.py.
    vt.expect_looks_like(voxtape, vt.read_png(REFERENCE), REFERENCE.name, artifacts / "idle.png",
                         key=None, ignore=[DISPLAY_PANEL])


# ---------------------------------------------------------------------------------------------------
# Dragging


@pytest.mark.parametrize("start, moves", [
    pytest.param((120, 20), True, id="title"),
    pytest.param(centre(DISPLAY_PANEL), True, id="display panel"),
    pytest.param((40, 515), False, id="Record button"),
    pytest.param((60, 250), False, id="recording volume slider"),
    pytest.param(centre(SOURCE_FRAME), False, id="source list"),
])
def test_dragging_moves_the_window_only_from_its_background(voxtape, start, moves):
    before = voxtape.geometry()
    dx, dy = 70, 45
    voxtape.drag(start, (start[0] + dx, start[1] + dy))
    if moves:
        want = (before.x + dx, before.y + dy)
        vt.wait_until(lambda: (voxtape.geometry().x, voxtape.geometry().y) == want, timeout=3,
                      what=f"the window at {want} (it is at {voxtape.geometry()})")
    else:
        stays(lambda: voxtape.geometry() == before, what=f"the window staying at {before}")
    # The drag leaves nothing behind that would swallow the next click.
    voxtape.click(*centre(button_rect(voxtape, "Close")))
    vt.press_keys("Escape", wid=question_of(voxtape))
    vt.wait_until(lambda: no_question(voxtape), timeout=5, what="the question to close on Escape")


def test_a_click_on_the_background_is_not_a_drag(voxtape):
    """A press and release with no movement between them (automation, remote desktops, touchpads)
    moves nothing, and the window does not go on following the pointer afterwards."""
    before = voxtape.geometry()
    for _ in range(3):
        voxtape.click(120, 20)
    vt.move_pointer(before.x + 300, before.y + 200)
    stays(lambda: voxtape.geometry() == before, what=f"the window staying at {before}")
    # The keyboard still reaches it: F9 asks whether to exit.
    voxtape.key("F9")
    question = vt.wait_until(lambda: vt.find_windows(QUESTION), timeout=5, what="the exit question")[0]
    vt.press_keys("Escape", wid=question)
    assert voxtape.geometry() == before


@pytest.mark.parametrize("late", ["program", "window manager"])
def test_a_flick_that_outruns_a_busy_machine_still_moves_and_leaves_the_next_click(voxtape, late):
    """On a busy machine the button can be up before the program, or the window manager, has seen
    the drag. The window still ends where the pointer let go, and no move is left waiting for a
    release that already came, eating the next click."""
    wm_pid = int((Path(os.environ["VT_TESTENV_DIR"]) / "openbox.pid").read_text())
    before = voxtape.geometry()
    sx, sy = voxtape.to_screen(*BACKGROUND)
    vt.move_pointer(sx, sy)
    vt.xdotool("mousedown", 1)
    stopped = voxtape.pid if late == "program" else wm_pid
    time.sleep(0.3)  # the press reaches the program first
    os.kill(stopped, signal.SIGSTOP)
    try:
        for step in range(1, 4):
            vt.move_pointer(sx + 10 * step, sy + 7 * step)
            if late == "window manager":
                time.sleep(0.3)  # the program sees the drag; the window manager is asleep
        vt.xdotool("mouseup", 1)
        time.sleep(0.3)
    finally:
        os.kill(stopped, signal.SIGCONT)
    vt.wait_until(lambda: voxtape.geometry() == vt.Geometry(before.x + 30, before.y + 21, before.width,
                                                             before.height),
                  timeout=5, what="the window moved by 30,21")
    # The next click reaches the Close button: the exit question opens.
    voxtape.click(*centre(button_rect(voxtape, "Close")))
    question = question_of(voxtape)
    vt.press_keys("Escape", wid=question)
    vt.wait_until(lambda: no_question(voxtape), timeout=5, what="the question to close on Escape")


# ---------------------------------------------------------------------------------------------------
# Keys and the exit question


def test_exit_question_sits_on_the_source_list_and_cancel_returns(voxtape, skinpack):
    g = voxtape.geometry()
    # Only the F-keys act in the main window: Escape does not close, Enter presses nothing.
    voxtape.key("Escape", "Return", "space", "a")
    stays(lambda: voxtape.running and no_question(voxtape), what="the program running without a question")
    assert not any((voxtape.folder / "sounds").iterdir()), "a key other than F5 started a recording"

    voxtape.key("F9")
    question = question_of(voxtape)
    x, y, w, h = SOURCE_FRAME
    assert voxtape.geometry(question) == vt.Geometry(g.x + x, g.y + y, w, h)
    # The question is dragged by its background.
    voxtape.drag((10, 10), (40, 30), wid=question)
    vt.wait_until(lambda: voxtape.geometry(question) == vt.Geometry(g.x + x + 30, g.y + y + 20, w, h),
                  timeout=3, what="the question dragged by 30,20")
    vt.press_keys("Escape", wid=question)
    vt.wait_until(lambda: no_question(voxtape), timeout=5, what="the question to close on Escape")

    voxtape.click(*centre(button_rect(voxtape, "Close")))
    question = question_of(voxtape)
    voxtape.click(CANCEL_BUTTON[0] + 10, CANCEL_BUTTON[1] + 10, wid=question)
    vt.wait_until(lambda: no_question(voxtape), timeout=5, what="the question to close on Cancel")

    stays(lambda: voxtape.running, what="the program running")
    assert vt.find_windows(pid=voxtape.pid) == [voxtape.wid]
    assert voxtape.geometry() == g


def f9_then_enter(program):
    program.key("F9")
    vt.press_keys("Return", wid=question_of(program))


def close_then_ok(program):
    program.click(345, 10)
    program.click(OK_BUTTON[0] + 10, OK_BUTTON[1] + 10, wid=question_of(program))


@pytest.mark.parametrize("end", [
    pytest.param(f9_then_enter, id="F9 then Enter"),
    pytest.param(close_then_ok, id="Close then OK"),
    pytest.param(lambda program: program.key("alt+F4"), id="Alt+F4"),
    pytest.param(lambda program: vt.close_request(program.wid), id="window manager close"),
    pytest.param(lambda program: program.signal(signal.SIGTERM), id="SIGTERM"),
    pytest.param(lambda program: program.signal(signal.SIGHUP), id="SIGHUP"),
])
def test_ways_to_end_the_program(voxtape, end):
    end(voxtape)
    assert voxtape.wait_exit(timeout=5) == 0, voxtape.output()
    assert not vt.find_windows()


# ---------------------------------------------------------------------------------------------------
# One instance


def test_a_second_start_shows_the_notice_and_leaves_the_first_running(voxtape, launch):
    second = launch()
    notice = second.wait_window(NOTICE)
    assert vt.find_windows() == [voxtape.wid]
    vt.press_keys("Escape", wid=notice)
    assert second.wait_exit(timeout=5) == 0, second.output()
    stays(lambda: voxtape.running and vt.find_windows() == [voxtape.wid], what="the first window staying")


@pytest.mark.parametrize("display", [":199", "", None], ids=["no answer", "empty", "unset"])
def test_without_a_display_it_says_so_at_once_and_keeps_no_lock(launch, program_folder, display):
    env = dict(os.environ)
    if display is None:
        env.pop("DISPLAY")
    else:
        env["DISPLAY"] = display
    started = time.monotonic()
    ended = subprocess.run([str(program_folder / vt.program_path().name)], env=env, capture_output=True,
                           stdin=subprocess.DEVNULL, timeout=10)
    said = ended.stderr.decode(errors="replace")
    assert ended.returncode != 0 and time.monotonic() - started < 1.5, (ended.returncode, said)
    assert "cannot show the window" in said and (display or "DISPLAY is empty") in said, said
    # The next start, on the display, is not taken for a second instance.
    launch().wait_window()


def test_several_started_at_once_show_one_window(launch):
    programs = [launch() for _ in range(3)]
    vt.wait_until(lambda: len(vt.find_windows()) == 1 and len(vt.find_windows(NOTICE)) == 2, timeout=10,
                  what=f"one window and two notices ({[p.output() for p in programs]})")
    winner = vt.window_pid(vt.find_windows()[0])
    others = [p for p in programs if p.pid != winner]
    assert len(others) == 2 and all(p.running for p in others)

    # Each closes on a click (a notice has the keyboard only if it came last; the window that won
    # may have). They open centred, so the one clicked is raised first.
    for p in others:
        notice = p.wait_window(NOTICE)
        vt.xdotool("windowraise", notice)
        p.click(10, 10, wid=notice)
        assert p.wait_exit(timeout=5) == 0, p.output()
    stays(lambda: len(vt.find_windows()) == 1 and vt.window_pid(vt.find_windows()[0]) == winner,
          what="the one window staying")
    assert not vt.find_windows(NOTICE)


# ---------------------------------------------------------------------------------------------------
# Button faces and tips


def tip_problem(tip: int, program: vt.Program, button) -> str | None:
    """What is wrong with a tip just shown for a button, or None. The tip lives half a second of the
    program's time, and on a loaded machine the screenshots here can take longer than that: the
    program is held still (SIGSTOP) while the tip is looked at, and let on a few milliseconds at a
    time, so the check sees the tip as the program painted it instead of racing its timer. A tip is
    painted a moment after it appears, so it passes if it looks right at any look within its half
    second."""
    problems = []
    allowed = 0.6  # of the program's running time
    while allowed > 0:
        os.kill(program.pid, signal.SIGSTOP)
        try:
            problem = check_tip(tip, program, button)
        except vt.HarnessError:  # gone
            break
        finally:
            os.kill(program.pid, signal.SIGCONT)
        if problem is None:
            return None
        if problem not in problems:
            problems.append(problem)
        time.sleep(0.005)
        allowed -= 0.005
    return "; ".join(problems) or "tip gone before it could be looked at"


def check_tip(tip: int, program: vt.Program, button) -> str | None:
    g, t = program.geometry(), vt.geometry(tip)
    x, y, w, h = button
    if (t.x, t.y) != (g.x + x + 24, g.y + y + h):
        return f"tip at {t.x},{t.y}, want {g.x + x + 24},{g.y + y + h}"
    if not 15 <= t.height <= 25:
        return f"tip {t.height} px high"
    shot = vt.screenshot(tip)
    # Inside its border, above the text: the gradient.
    row = [shot.pixel(i, 1) for i in range(1, shot.width - 1)]
    if max(abs(a - b) for a, b in zip(row[0], TIP_LEFT_RGB)) > 4 or \
            max(abs(a - b) for a, b in zip(row[-1], TIP_RIGHT_RGB)) > 4:
        return f"tip gradient runs from {row[0]} to {row[-1]}"
    if any(row[i][0] > row[i + 1][0] for i in range(len(row) - 1)):
        return f"tip gradient not steady: {row}"
    if not any(min(shot.pixel(i, j)) > 230 for i in range(shot.width) for j in range(shot.height)):
        return "tip shows no white text"
    return None


def test_hovering_a_button_changes_its_face_and_shows_its_tip(voxtape, skinpack):
    idle = steady_screenshot(voxtape)
    for name in BUTTONS:
        rect = button_rect(voxtape, name)
        voxtape.move(*centre(rect))
        # The tip first: it lasts half a second, the hover face as long as the pointer stays.
        tip = vt.wait_until(lambda: one_tip(voxtape), timeout=3, interval=0.02, what=f"the tip of {name}")
        problem = tip_problem(tip, voxtape, rect)
        assert problem is None, f"{name}: {problem}"
        vt.wait_until(lambda: region(voxtape.screenshot(), rect) != region(idle, rect), timeout=3,
                      what=f"the hover face of {name}")

        # Off the button the idle face comes back, and the tip is gone within its half second.
        voxtape.move(*BACKGROUND)
        vt.wait_until(lambda: without_display(voxtape.screenshot()) == without_display(idle)
                      and not one_tip(voxtape), timeout=3,
                      what=f"the idle window after leaving {name}")

    # While the pointer rests on a button, its tip hides by itself; the next move shows it again.
    rect = button_rect(voxtape, "Record")
    voxtape.move(*centre(rect))
    vt.wait_until(lambda: one_tip(voxtape), timeout=3, interval=0.02, what="the Record tip")
    vt.wait_until(lambda: not one_tip(voxtape), timeout=2, what="the Record tip to hide by itself")
    voxtape.move(centre(rect)[0] + 3, centre(rect)[1] + 1)
    vt.wait_until(lambda: one_tip(voxtape), timeout=3, interval=0.02,
                  what="the Record tip again after a move")
    # Leaving the window also restores the face.
    vt.move_pointer(0, 0)
    vt.wait_until(lambda: region(voxtape.screenshot(), rect) == region(idle, rect), timeout=3,
                  what="the idle Record face after leaving the window")


def test_the_tip_moves_from_help_to_close_with_the_pointer(voxtape, skinpack):
    help_rect, close_rect = button_rect(voxtape, "Help"), button_rect(voxtape, "Close")
    voxtape.move(*centre(help_rect))
    help_tip = vt.wait_until(lambda: one_tip(voxtape), interval=0.02, timeout=3, what="the Help tip")
    # Straight on (the buttons touch), well within the Help tip's half second.
    voxtape.move(*centre(close_rect))
    close_tip = vt.wait_until(lambda: one_tip(voxtape), interval=0.02, timeout=3, what="the Close tip")
    assert close_tip != help_tip
    assert tip_problem(close_tip, voxtape, close_rect) is None
    assert help_tip not in vt.tip_windows(voxtape.pid)


# ---------------------------------------------------------------------------------------------------
# Format radios


def mark_rect(name: str) -> tuple[int, int, int, int]:
    x, y = RADIOS[name]
    return x + 3, y + 3, 8, 9


def checked_radios(shot: vt.Image) -> set[str]:
    found = set()
    for name in RADIOS:
        pixels = set(region(shot, mark_rect(name))[i:i + 3] for i in range(0, 8 * 9 * 3, 3))
        assert pixels in ({bytes(ACCENT)}, {bytes(WHITE)}), f"{name}: mark painted {pixels}"
        if pixels == {bytes(ACCENT)}:
            found.add(name)
    return found


def test_format_radios_change_only_their_own_group(voxtape):
    idle = steady_screenshot(voxtape)
    checked = {"44.1 kHz", "16 bits", "Stereo"}
    assert checked_radios(idle) == checked

    for name, partner in [("8.0 kHz", "44.1 kHz"), ("Mono", "Stereo"), ("8 bits", "16 bits")]:
        voxtape.click(RADIOS[name][0] + 7, RADIOS[name][1] + 7)
        checked = checked - {partner} | {name}
        vt.wait_until(lambda: checked_radios(voxtape.screenshot()) == checked, timeout=3,
                      what=f"{sorted(checked)} checked after clicking {name}")
    # The checked one clicked again stays checked.
    voxtape.click(RADIOS["8 bits"][0] + 7, RADIOS["8 bits"][1] + 7)
    stays(lambda: checked_radios(voxtape.screenshot()) == checked, what=f"{sorted(checked)} checked")

    vt.move_pointer(0, 0)
    changed = ["8.0 kHz", "44.1 kHz", "Mono", "Stereo", "8 bits", "16 bits"]
    assert vt.mismatches(voxtape.screenshot(), idle, key=None,
                         ignore=[DISPLAY_PANEL] + [mark_rect(n) for n in changed]) == []


# ---------------------------------------------------------------------------------------------------
# Volume sliders


def thumb_x(shot: vt.Image, slider) -> int | None:
    """The thumb's centre, from the red of its top half (the rest of the row is skin and groove)."""
    x, y, w, _ = slider
    reds = [i for i in range(x, x + w) if shot.pixel(i, y + 3) == THUMB_RED]
    return (reds[0] + reds[-1]) // 2 if reds else None


def x_for(slider, pos: int) -> int:
    """Where the thumb of a 0 ... 200 slider sits for a position."""
    left, right = slider[0] + 8, slider[0] + slider[2] - 9
    return left + (2 * pos * (right - left) + 200) // 400


def band(shot: vt.Image, slider) -> tuple[int, int, int]:
    return shot.pixel(thumb_x(shot, slider), slider[1] + 11)


@pytest.mark.parametrize("slider", [
    pytest.param((16, 237, 367, 27), id="recording volume"),
    pytest.param((164, 546, 219, 27), id="playback volume"),
])
def test_slider_follows_a_drag_and_the_keys(voxtape, slider):
    def thumb():
        return thumb_x(voxtape.screenshot(), slider)

    def wait_thumb(want, what):
        vt.wait_until(lambda: thumb() == want, timeout=3, what=f"the thumb at {want} after {what} "
                                                                f"(it is at {thumb()})")

    idle = steady_screenshot(voxtape)
    start = thumb_x(idle, slider)
    assert start == x_for(slider, 100)
    assert band(idle, slider) == BAND_IDLE

    # Unfocused, the slider gets no keys.
    voxtape.key("Right", "End")
    stays(lambda: thumb() == start, what="the thumb staying without focus")

    voxtape.drag((start, slider[1] + 10), (start + 60, slider[1] + 10))
    vt.wait_until(lambda: abs(thumb() - (start + 60)) <= 1, timeout=3,
                  what=f"the thumb dragged to {start + 60} (it is at {thumb()})")
    assert band(voxtape.screenshot(), slider) == BAND_ACTIVE  # pressed, then focused

    for keys, pos in [(["Home"], 0), (["Right"] * 5, 5), (["Left", "Left"], 3), (["End"], 200),
                      (["Prior"], 160), (["Next"], 200)]:
        voxtape.key(*keys)
        wait_thumb(x_for(slider, pos), " ".join(keys))
    voxtape.key("Home")
    wait_thumb(x_for(slider, 0), "Home")
    # A click in the channel beyond the thumb pages toward it.
    voxtape.click(slider[0] + slider[2] - 12, slider[1] + 10)
    wait_thumb(x_for(slider, 40), "a click in the channel")

    # The F-keys still reach the window while the slider has the focus.
    voxtape.key("F9")
    question = question_of(voxtape)
    vt.press_keys("Escape", wid=question)
    vt.wait_until(lambda: no_question(voxtape), timeout=5, what="the question to close")
    assert thumb() == x_for(slider, 40)
    assert voxtape.running


# ---------------------------------------------------------------------------------------------------
# The exit question with and without a compositing manager


def tip_after_hovering(program: vt.Program, point, wid: int, expect: bool) -> int | None:
    program.move(*point, wid=wid)
    if expect:
        return vt.wait_until(lambda: one_tip(program), timeout=3, interval=0.02, what=f"a tip at {point}")
    stays(lambda: not one_tip(program), seconds=0.6, what=f"no tip at {point}")
    return None


@pytest.mark.parametrize("composited", [True, False], ids=["with compositor", "without compositor"])
def test_exit_question_is_translucent_without_tips_only_when_composited(request, launch, skinpack,
                                                                        composited):
    if composited:
        request.getfixturevalue("compositor")  # before the program looks for one
    program = launch()
    program.wait_window()

    # The Close button's tip reads "Exit Voxtape", as OK's does: its width is that text's.
    close_rect = button_rect(program, "Close")
    program.move(*centre(close_rect))
    close_tip = vt.wait_until(lambda: one_tip(program), timeout=3, interval=0.02, what="the Close tip")
    exit_tip_width = vt.geometry(close_tip).width
    program.key("F9")
    question = question_of(program)
    vt.wait_until(lambda: not one_tip(program), timeout=3, what="the Close tip to hide")

    opacity = vt.window_property(question, "_NET_WM_WINDOW_OPACITY")
    ok = (OK_BUTTON[0] + 10, OK_BUTTON[1] + 10)
    cancel = (CANCEL_BUTTON[0] + 10, CANCEL_BUTTON[1] + 10)
    if composited:
        assert opacity is not None, "the question is opaque under a compositing manager"
        assert abs(int(opacity) * 255 / 0xFFFFFFFF - 240) < 0.01, f"opacity {opacity}"
        assert tip_after_hovering(program, ok, question, expect=False) is None
        assert tip_after_hovering(program, cancel, question, expect=False) is None
    else:
        assert opacity in (None, str(0xFFFFFFFF)), f"opacity {opacity} without a compositing manager"
        q = program.geometry(question)
        ok_tip = vt.geometry(tip_after_hovering(program, ok, question, expect=True))
        ok_height = vt.skin_list(program.folder / "Interface" / "voxtape.int")["okmessage.bmp"][1]
        assert (ok_tip.x, ok_tip.y) == (q.x + OK_BUTTON[0] + 24, q.y + OK_BUTTON[1] + ok_height)
        assert ok_tip.width == exit_tip_width
        # OK's tip may still show for a moment after the pointer left it: wait for Cancel's own.
        program.move(*cancel, wid=question)
        cancel_tip = vt.geometry(vt.wait_until(
            lambda: (tip := one_tip(program)) and vt.geometry(tip).x == q.x + CANCEL_BUTTON[0] + 24 and tip,
            timeout=3, interval=0.02, what="the Cancel tip"))
        assert cancel_tip.width < exit_tip_width  # "Cancel"
    vt.press_keys("Escape", wid=question)
    vt.wait_until(lambda: no_question(program), timeout=5, what="the question to close")
    assert program.running


# ---------------------------------------------------------------------------------------------------
# Help


@pytest.fixture
def xdg_open(tmp_path):
    """A stand-in for the desktop's xdg-open, first on PATH: (env for launch, a function giving its
    calls so far, each as the list of its arguments)."""
    fake = tmp_path / "bin"
    fake.mkdir()
    log = tmp_path / "xdg-open.log"
    (fake / "xdg-open").write_text(f"#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done >> '{log}'\n"
                                   f"printf '\\n' >> '{log}'\n")
    (fake / "xdg-open").chmod(0o755)

    def calls() -> list[list[str]]:
        lines = log.read_text().splitlines() if log.exists() else []
        return [line.split("\0")[:-1] for line in lines]

    return {"PATH": f"{fake}:{os.environ['PATH']}"}, calls


def test_help_opens_the_help_page_through_xdg_open(launch, program_folder, skinpack, xdg_open):
    env, calls = xdg_open
    program = launch(env=env)
    program.wait_window()

    page = (program_folder / "help" / "index.html").resolve()
    program.key("F1")
    vt.wait_until(lambda: len(calls()) == 1, timeout=5, what="xdg-open started by F1")
    program.click(*centre(button_rect(program, "Help")))
    vt.wait_until(lambda: len(calls()) == 2, timeout=5, what="xdg-open started by the Help button")
    for call in calls():
        assert len(call) == 1 and Path(call[0]).resolve() == page, f"xdg-open {call}"
    text = page.read_text()
    for words in ["F1", "F4", "F5", "F8", "F9", "Record", "Play", "Pause", "Save", "Close"]:
        assert words in text, f"the help page does not mention {words}"


def test_a_click_just_after_the_pointer_reaches_a_button_is_not_lost(launch, skinpack, xdg_open):
    """Showing a tip must not cost the window its next click: the click may come at any moment
    after the pointer arrives, so it is tried at 2 ms steps over the first 40 ms."""
    env, calls = xdg_open
    program = launch(env=env)
    program.wait_window()
    play, help_button = button_rect(program, "Play"), button_rect(program, "Help")
    g = program.geometry()
    lost = []
    for delay_ms in range(0, 42, 2):
        # From another button, so Help's tip is hidden and shows anew on arrival.
        program.move(*centre(play))
        vt.wait_until(lambda: (tip := one_tip(program)) and vt.geometry(tip).x == g.x + play[0] + 24,
                      timeout=3, interval=0.02, what="the Play tip")
        before = len(calls())
        x, y = centre(help_button)
        vt.xdotool("mousemove", g.x + x, g.y + y, "sleep", f"{delay_ms / 1000:.3f}", "click", "1")
        try:
            vt.wait_until(lambda: len(calls()) > before, timeout=0.5, interval=0.02)
        except vt.HarnessError:
            lost.append(delay_ms)
    assert not lost, f"clicks lost {lost} ms after the pointer reached Help"
