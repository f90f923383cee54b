"""The program on a desktop with a window manager (openbox here): its dialogs stay with their window
and keep the keyboard while they run, dragging follows the pointer exactly, no click or key is lost
and closing always ends cleanly."""

from __future__ import annotations

import os
import signal
import subprocess
from pathlib import Path

import pytest

import vtharness as vt
from test_recording import SAVE, SAVE_DIALOG, record, working_file
from test_window import BAND_ACTIVE, BAND_IDLE, NOTICE, QUESTION, band, thumb_x, x_for

RECORD_BUTTON = (40, 515)
RECORD_VOLUME = (16, 237, 367, 27)


def assert_owned_modal_dialog(dialog: int, owner: int):
    assert vt.transient_for(dialog) == owner, "the dialog does not belong to the recorder window"
    assert vt.window_property(dialog, "_NET_WM_WINDOW_TYPE") == "_NET_WM_WINDOW_TYPE_DIALOG"
    states = vt.window_property(dialog, "_NET_WM_STATE") or ""
    assert "_NET_WM_STATE_MODAL" in states and "_NET_WM_STATE_SKIP_TASKBAR" in states, states


def assert_on_top_with_the_keyboard(dialog: int, owner: int):
    vt.wait_until(lambda: (order := vt.stacking()) and dialog in order and owner in order
                  and order.index(dialog) > order.index(owner),
                  timeout=3, what="the dialog above the recorder window")
    vt.wait_focused(dialog)


def test_the_window_is_undecorated_and_the_exit_question_stays_on_top_of_it(voxtape):
    assert vt.window_property(voxtape.wid, "_NET_FRAME_EXTENTS") == "0, 0, 0, 0"
    voxtape.key("F9")
    question = voxtape.wait_window(QUESTION)
    assert_owned_modal_dialog(question, voxtape.wid)
    assert vt.window_property(question, "_NET_FRAME_EXTENTS") == "0, 0, 0, 0"

    # Clicks on the recorder (its background, then Record) raise the question instead of hiding it.
    for point in (vt.MAIN_BACKGROUND, RECORD_BUTTON):
        voxtape.click(*point)
        assert_on_top_with_the_keyboard(question, voxtape.wid)
    vt.press_keys("Escape", wid=question)
    vt.wait_until(lambda: not vt.find_windows(QUESTION, pid=voxtape.pid), timeout=5,
                  what="the question to close on Escape")
    assert voxtape.running
    assert not (voxtape.folder / "sounds" / "current.wav").exists(), "a click under the question recorded"


def test_the_save_dialog_stays_on_top_of_the_window(voxtape):
    record(voxtape, 1)
    voxtape.click(*SAVE)
    dialog = vt.wait_until(lambda: vt.find_windows(SAVE_DIALOG), what="the save dialog")[0]
    # The program makes the dialog its own once it has appeared, within a moment.
    vt.wait_until(lambda: vt.transient_for(dialog) == voxtape.wid, timeout=2,
                  what="the save dialog to belong to the recorder window")
    vt.wait_focused(dialog)
    voxtape.click(*vt.MAIN_BACKGROUND)
    assert_on_top_with_the_keyboard(dialog, voxtape.wid)
    vt.press_keys("Escape", wid=dialog)
    vt.wait_until(lambda: not vt.find_windows(SAVE_DIALOG), timeout=5, what="the save dialog to close")
    assert voxtape.running
    vt.read_wav(working_file(voxtape))


def test_a_slow_drag_moves_the_window_exactly_as_far_as_the_pointer(voxtape):
    before = voxtape.geometry()
    voxtape.drag((120, 20), (220, 60), steps=50, pause=0.03)
    want = (before.x + 100, before.y + 40)
    vt.wait_until(lambda: (voxtape.geometry().x, voxtape.geometry().y) == want, timeout=3,
                  what=f"the window at {want} (it is at {voxtape.geometry()})")


def test_each_of_five_second_starts_closes_on_one_click(voxtape, launch):
    seconds = [launch() for _ in range(5)]
    vt.wait_until(lambda: len(vt.find_windows(NOTICE)) == 5, timeout=10, what="five notices")
    for n in range(5, 0, -1):
        # They open centred, one over another: a click lands on the one on top.
        top = [w for w in vt.stacking() if w in vt.find_windows(NOTICE)][-1]
        g = vt.geometry(top)
        vt.move_pointer(g.x + 10, g.y + 10)
        vt.xdotool("click", "1")
        vt.wait_until(lambda: len(vt.find_windows(NOTICE)) == n - 1, timeout=3,
                      what=f"{n - 1} notices after one click")
    for p in seconds:
        assert p.wait_exit(timeout=5) == 0, p.output()
    assert voxtape.running and vt.find_windows() == [voxtape.wid]


def test_a_second_start_brings_the_window_forward_above_the_one_with_the_keyboard(voxtape, launch):
    other = subprocess.Popen(["xlogo", "-geometry", "700x800+0+0"])  # covers the recorder
    try:
        cover = vt.wait_until(lambda: vt.find_windows("^xlogo$", pid=other.pid), what="xlogo")[0]
        vt.focus(cover)
        vt.wait_focused(cover)
        order = vt.stacking()
        assert order.index(cover) > order.index(voxtape.wid)

        second = launch()
        notice = vt.wait_until(lambda: vt.find_windows(NOTICE), what="the notice")[0]
        assert vt.window_property(notice, "_NET_WM_ICON") == vt.window_property(voxtape.wid, "_NET_WM_ICON"), \
            "the notice does not carry the program's icon"
        # The recorder came forward before the notice showed, so the notice is above both.
        vt.wait_until(lambda: (order := vt.stacking()) and notice in order
                      and order.index(cover) < order.index(voxtape.wid) < order.index(notice),
                      timeout=3, what="the recorder above xlogo and the notice above the recorder")
        g = vt.geometry(notice)
        vt.move_pointer(g.x + 10, g.y + 10)
        vt.xdotool("click", "1")
        assert second.wait_exit(timeout=5) == 0, second.output()
        # Once the notice has gone the keyboard is the recorder's.
        vt.wait_focused(voxtape.wid)
        order = vt.stacking()
        assert order.index(cover) < order.index(voxtape.wid)
    finally:
        other.kill()
        other.wait()


def test_f9_and_enter_always_end_with_status_0(launch):
    for _ in range(5):
        program = launch()
        program.wait_window()
        program.key("F9")
        vt.press_keys("Return", wid=program.wait_window(QUESTION))
        status = program.wait_exit(timeout=5)
        assert status == 0 and "X Error" not in program.output(), program.output()


def test_the_wheel_moves_the_slider_under_the_pointer(voxtape):
    def thumb():
        return thumb_x(voxtape.screenshot(), RECORD_VOLUME)

    voxtape.move(RECORD_VOLUME[0] + 40, RECORD_VOLUME[1] + 10)
    for button, turns, pos in [(4, 3, 103), (5, 8, 95)]:
        for _ in range(turns):
            vt.xdotool("click", button)
        want = x_for(RECORD_VOLUME, pos)
        vt.wait_until(lambda: thumb() == want, timeout=3,
                      what=f"the thumb at {want} after {turns} turns (it is at {thumb()})")


def test_the_thumb_shows_the_focus_only_while_the_window_has_the_keyboard(voxtape):
    voxtape.click(RECORD_VOLUME[0] + RECORD_VOLUME[2] - 12, RECORD_VOLUME[1] + 10)  # focuses it
    vt.wait_until(lambda: band(voxtape.screenshot(), RECORD_VOLUME) == BAND_ACTIVE, timeout=3,
                  what="the focused thumb")
    voxtape.key("F9")
    question = voxtape.wait_window(QUESTION)
    vt.wait_until(lambda: band(voxtape.screenshot(), RECORD_VOLUME) == BAND_IDLE, timeout=3,
                  what="the plain thumb while the question has the keyboard")
    vt.press_keys("Escape", wid=question)
    vt.wait_until(lambda: band(voxtape.screenshot(), RECORD_VOLUME) == BAND_ACTIVE, timeout=3,
                  what="the focused thumb once the window has the keyboard again")


@pytest.fixture
def bare_display(monkeypatch, tmp_path):
    """A display of its own with no window manager, so no client list (as under weston's XWayland),
    made the one every helper of the test talks to. Gives its name."""
    number = next(n for n in range(140, 200) if not Path(f"/tmp/.X11-unix/X{n}").exists())
    server = subprocess.Popen(["Xvfb", f":{number}", "-noreset", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                              stdout=subprocess.DEVNULL, stderr=open(tmp_path / "xvfb.log", "w"))
    try:
        monkeypatch.setenv("DISPLAY", f":{number}")
        vt.wait_until(lambda: subprocess.run(["xdpyinfo"], capture_output=True).returncode == 0, timeout=10,
                      what="the bare display to answer")
        yield f":{number}"
    finally:
        server.terminate()
        server.wait(timeout=10)


def test_the_save_dialog_runs_on_the_window_s_display_and_belongs_to_it_without_a_client_list(
        bare_display, launch, tmp_path):
    root_list = vt.run("xprop", "-root", "_NET_CLIENT_LIST", check=False).decode()
    assert "=" not in root_list, root_list
    program = launch(env={"DISPLAY": bare_display, "WAYLAND_DISPLAY": "wayland-elsewhere"})
    program.wait_window()
    working = working_file(program)
    working.parent.mkdir(exist_ok=True)
    vt.run("sox", "-n", "-r", "8000", "-c", "1", "-b", "16", working, "synth", "0.5", "sine", "440")
    program.click(*SAVE)
    dialog = vt.wait_until(lambda: vt.find_windows(SAVE_DIALOG), what="the save dialog")[0]
    # A Wayland session would have GTK open it where the recorder cannot own it: it is told X11.
    helper = vt.window_pid(dialog)
    environment = Path(f"/proc/{helper}/environ").read_bytes().split(b"\0")
    assert b"GDK_BACKEND=x11" in environment
    vt.wait_until(lambda: vt.transient_for(dialog) == program.wid, timeout=2,
                  what="the save dialog to belong to the recorder window")
    # No window manager gives it the keyboard here: it is ended as a desktop's logout would.
    os.kill(helper, signal.SIGTERM)
    vt.wait_until(lambda: not vt.find_windows(SAVE_DIALOG), timeout=5, what="the save dialog to close")
    assert program.running
