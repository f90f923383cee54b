"""Fixtures for the end-to-end tests: a private X display and sound server, a fresh copy of the program
folder per test, and started programs that are always ended after the test."""

from __future__ import annotations

import os
import shlex
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import vtharness as vt  # noqa: E402

_started_env: str | None = None


def _interrupt(signum, frame):
    raise KeyboardInterrupt


def pytest_configure(config):
    """Never drive a person's desktop: outside scripts/testenv, start a private environment for this
    run (stopped in pytest_unconfigure)."""
    global _started_env
    # A stopped run (scripts/testenv passes SIGTERM on) still tears its fixtures down, so no program
    # outlives it: the programs run in sessions of their own and would not get the signal.
    signal.signal(signal.SIGTERM, _interrupt)
    if os.environ.get("VT_TESTENV_DIR"):
        return
    out = subprocess.run([str(vt.REPO / "scripts" / "testenv"), "start"], capture_output=True, text=True,
                         timeout=60)
    if out.returncode != 0:
        raise pytest.UsageError(f"scripts/testenv start failed:\n{out.stderr}")
    for line in out.stdout.splitlines():
        words = shlex.split(line)
        if words[:1] == ["export"] and "=" in words[1]:
            name, value = words[1].split("=", 1)
            os.environ[name] = value
        elif words[:1] == ["unset"]:
            os.environ.pop(words[1], None)
    _started_env = os.environ["VT_TESTENV_DIR"]


def pytest_unconfigure(config):
    if _started_env:
        subprocess.run([str(vt.REPO / "scripts" / "testenv"), "stop", _started_env], timeout=60)


@pytest.fixture(scope="session")
def program_path() -> Path:
    """The built program (env VOXTAPE, else build/voxtape/voxtape)."""
    path = vt.program_path()
    if not os.access(path, os.X_OK):
        pytest.fail(f"no program at {path}: build it first (cmake --build build), or set VOXTAPE")
    return path


@pytest.fixture(scope="session")
def skinpack() -> Path:
    """The skin archive tool (env VOXTAPE_SKINPACK, else build/tools/voxtape-skinpack)."""
    path = vt.skinpack_path()
    if not os.access(path, os.X_OK):
        pytest.fail(f"no voxtape-skinpack at {path}: build it first, or set VOXTAPE_SKINPACK")
    return path


@pytest.fixture
def program_folder(program_path, tmp_path) -> Path:
    """A fresh copy of the program folder for this test: program, Interface/voxtape.int, help/; no
    sounds/. Tests may change it (a broken skin, a read-only folder) before starting the program."""
    return vt.copy_program_folder(tmp_path / "voxtape", program_path.parent)


@pytest.fixture
def launch(program_folder, tmp_path):
    """Starts the program: launch(folder=None, args=(), env=None, cwd=None) -> vt.Program, without
    waiting for anything. Every instance still running after the test is killed and reaped, so the
    single-instance lock (in the shared $XDG_RUNTIME_DIR) is free for the next test."""
    started: list[vt.Program] = []
    # Away from where the window opens, so no button starts hovered and no tip covers the window.
    vt.move_pointer(0, 0)
    # The recording volume slider shows (and sets) a source's volume on the shared sound server.
    vt.reset_source_volumes()

    def start(folder: Path | None = None, args=(), env: dict | None = None, cwd: Path | None = None):
        folder = Path(folder or program_folder)
        program = vt.Program(folder / vt.program_path().name, args=args, env=env, cwd=cwd,
                             log_dir=tmp_path / "logs")
        started.append(program)
        return program

    yield start
    for program in started:
        program.kill()


@pytest.fixture
def voxtape(launch, request) -> vt.Program:
    """The program started from a fresh folder, its window shown (voxtape.wid). Marked records_tone,
    it records from the test tone: the source list starts on the Wave Out Mix monitor, silent here."""
    program = launch()
    program.wait_window()
    if request.node.get_closest_marker("records_tone"):
        vt.choose_source(program, vt.TONE_SOURCE)
    return program


@pytest.fixture
def artifacts(tmp_path):
    """A folder for pictures a person may want after a failure; its path is in the failure message."""
    folder = tmp_path / "artifacts"
    folder.mkdir(exist_ok=True)
    return folder


@pytest.fixture
def compositor():
    """A compositing manager (xcompmgr) on the test display for this test; stopped afterwards."""
    proc = subprocess.Popen(["xcompmgr"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    time.sleep(0.5)  # it claims the compositing selection at once; no tool here reports that claim
    if proc.poll() is not None:
        pytest.fail(f"xcompmgr did not start: {proc.stderr.read().decode(errors='replace')}")
    yield proc
    proc.kill()
    proc.wait(timeout=vt.TIMEOUT)
