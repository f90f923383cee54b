"""Installing Voxtape like any desktop program: `cmake --install` into a prefix and the Debian package
that CPack builds. The installed program is started through its launcher from another folder, with
its own folder read-only as after a system-wide install, and records into the user's data folder."""

from __future__ import annotations

import configparser
import contextlib
import os
import subprocess
import time
from pathlib import Path

import pytest

import vtharness as vt

DESKTOP_ID = "io.github.voxtape.Voxtape"
ICON_SIZES = (16, 32, 48, 64, 128, 256)
# Installed files, relative to the prefix (the package's prefix is usr/).
FILES = [
    "bin/voxtape", "lib/voxtape/voxtape", "lib/voxtape/Interface/voxtape.int", "lib/voxtape/help/index.html",
    f"share/applications/{DESKTOP_ID}.desktop", f"share/metainfo/{DESKTOP_ID}.metainfo.xml",
    *(f"share/icons/hicolor/{s}x{s}/apps/voxtape.png" for s in ICON_SIZES),
]
# Packages the program needs at run time, and those it is better with (the save dialog, the help page).
DEPENDS = ["libsdl2-2.0-0", "libsdl2-ttf-2.0-0", "libpulse0", "libfontconfig1", "libsndfile1", "libsamplerate0", "libx11-6"]
RECOMMENDS = ["zenity | kdialog", "xdg-utils"]
BUILD_TIMEOUT = 120


@pytest.fixture(scope="module")
def build_dir() -> Path:
    """The build folder that holds the program under test (build/ when VOXTAPE is build/voxtape/voxtape)."""
    folder = vt.program_path().parents[1]
    if not (folder / "CMakeCache.txt").exists():
        pytest.fail(f"{vt.program_path()} is not in a CMake build folder; installing needs one")
    return folder


@pytest.fixture(scope="module")
def installed(build_dir, tmp_path_factory) -> Path:
    """The build installed into a fresh prefix; returns the prefix."""
    prefix = tmp_path_factory.mktemp("prefix")
    vt.run("cmake", "--install", build_dir, "--prefix", prefix, timeout=BUILD_TIMEOUT)
    return prefix


@pytest.fixture(scope="module")
def package(build_dir, tmp_path_factory) -> Path:
    """The Debian package built from the build folder (into a folder of its own)."""
    out = tmp_path_factory.mktemp("package")
    subprocess.run(["cpack", "-G", "DEB", "-B", str(out)], cwd=build_dir, check=True, capture_output=True,
                   timeout=BUILD_TIMEOUT)
    debs = list(out.glob("voxtape_*.deb"))
    assert len(debs) == 1, f"cpack made {debs}"
    return debs[0]


@contextlib.contextmanager
def read_only(folder: Path):
    """The folder read-only for the program, as a system folder is for its user. Root writes through
    file modes, so for root it is a read-only bind mount of itself."""
    if os.geteuid() != 0:
        modes = {p: p.stat().st_mode for p in [folder, *folder.rglob("*")] if p.is_dir()}
        for p in modes:
            p.chmod(modes[p] & ~0o222)
        try:
            yield
        finally:
            for p, mode in modes.items():
                p.chmod(mode)
        return
    vt.run("mount", "--bind", folder, folder)
    try:
        vt.run("mount", "-o", "remount,ro,bind", folder)
        yield
    finally:
        vt.run("umount", folder)


def record_a_second(program: vt.Program, working_file: Path) -> vt.Wav:
    vt.choose_source(program, vt.TONE_SOURCE)  # the Wave Out Mix monitor it starts on is silent here
    program.key("F5")
    time.sleep(1.0)
    program.key("F5")
    vt.wait_file_complete(working_file)
    return vt.wait_until(lambda: (w := vt.read_wav(working_file)).duration > 0.7 and w, timeout=5,
                         what=f"a second in {working_file} ({program.output()})")


def close(program: vt.Program):
    program.key("F9")
    vt.press_keys("Return", wid=program.wait_window("^Exit Voxtape$", timeout=5))
    assert program.wait_exit(timeout=5) == 0, program.output()


def desktop_entry(prefix: Path) -> dict[str, str]:
    entry = configparser.ConfigParser(interpolation=None, strict=True)
    entry.optionxform = str
    entry.read(prefix / "share" / "applications" / f"{DESKTOP_ID}.desktop")
    return dict(entry["Desktop Entry"])


def rgba(png: Path) -> tuple[int, int, bytes]:
    """Width, height and RGBA bytes of a PNG, through ImageMagick."""
    width, height = map(int, vt.run("identify", "-format", "%w %h", png).split())
    return width, height, vt.run("convert", png, "-depth", "8", "rgba:-")


def window_icon(wid: int) -> tuple[int, int, bytes]:
    """The window's _NET_WM_ICON (its first picture) as width, height and RGBA bytes."""
    out = vt.run("xprop", "-id", wid, "-notype", "-f", "_NET_WM_ICON", "32c", "_NET_WM_ICON").decode()
    values = [int(v) for v in out.split("=", 1)[1].replace(",", " ").split()]
    width, height, pixels = values[0], values[1], values[2:2 + values[0] * values[1]]
    return width, height, b"".join(bytes(((p >> 16) & 255, (p >> 8) & 255, p & 255, p >> 24)) for p in pixels)


def test_install_puts_the_program_folder_the_launcher_and_the_desktop_files_under_the_prefix(installed):
    missing = [f for f in FILES if not (installed / f).is_file()]
    assert not missing
    assert os.path.realpath(installed / "bin" / "voxtape") == str(installed / "lib" / "voxtape" / "voxtape")
    assert os.access(installed / "bin" / "voxtape", os.X_OK)
    for size in ICON_SIZES:
        width, height, pixels = rgba(installed / "share" / "icons" / "hicolor" / f"{size}x{size}" / "apps" /
                                     "voxtape.png")
        assert (width, height) == (size, size)
        assert pixels[3] < 64, f"the {size} pixel icon has no transparent corners"

    entry = desktop_entry(installed)
    assert {k: entry.get(k) for k in ("Type", "Exec", "Icon", "StartupWMClass", "StartupNotify",
                                      "SingleMainWindow", "Categories")} == {
        "Type": "Application", "Exec": "voxtape", "Icon": "voxtape", "StartupWMClass": "voxtape",
        "StartupNotify": "true", "SingleMainWindow": "true", "Categories": "AudioVideo;Audio;Recorder;"}
    # The metainfo's launchable names this desktop entry; the icon is where the theme looks for it.
    vt.run("appstreamcli", "validate-tree", "--no-net", installed)


def test_installed_program_records_into_the_user_data_folder_when_its_folder_is_read_only(
        installed, launch, tmp_path):
    data_home, elsewhere = tmp_path / "data", tmp_path / "elsewhere"
    data_home.mkdir()
    elsewhere.mkdir()
    program_folder = installed / "lib" / "voxtape"

    with read_only(program_folder):
        program = launch(folder=installed / "bin", cwd=elsewhere, env={"XDG_DATA_HOME": str(data_home)})
        try:
            program.wait_window()
            # The window's class and icon are the desktop entry's: a dock groups it under the launcher.
            assert vt.window_property(program.wid, "WM_CLASS") == '"voxtape", "voxtape"'
            width, height, icon = window_icon(program.wid)
            png_width, png_height, png = rgba(installed / "share" / "icons" / "hicolor" / f"{width}x{height}" /
                                              "apps" / "voxtape.png")
            assert (width, height) == (png_width, png_height) == (64, 64)
            differ = [i // 4 for i in range(0, len(png), 4) if png[i + 3] == 255 and icon[i:i + 4] != png[i:i + 4]]
            assert not differ, f"window icon and desktop icon differ at pixels {differ[:10]}"

            wav = record_a_second(program, data_home / "voxtape" / "sounds" / "current.wav")
            assert wav.duration < 2.0
            close(program)
        finally:
            program.kill()  # before its folder is let go of
    assert not (program_folder / "sounds").exists()
    assert not list(elsewhere.iterdir())


def test_window_class_is_the_desktop_entrys_whatever_the_program_file_is_called(program_folder, tmp_path):
    renamed = program_folder / "voxtape-0.1"
    (program_folder / vt.program_path().name).rename(renamed)
    program = vt.Program(renamed, log_dir=tmp_path / "logs")
    try:
        program.wait_window()
        assert vt.window_property(program.wid, "WM_CLASS") == '"voxtape", "voxtape"'
    finally:
        program.kill()


def test_package_holds_the_installed_tree_and_its_program_records(package, launch, tmp_path):
    listing = vt.run("dpkg-deb", "--contents", package).decode()
    paths = {line.split()[5].removeprefix("./") for line in listing.splitlines()}
    assert not [f for f in FILES if f"usr/{f}" not in paths]
    assert "usr/bin/voxtape -> ../lib/voxtape/voxtape" in listing

    depends = vt.run("dpkg-deb", "--field", package, "Depends").decode()
    names = {alternative.split()[0] for alternative in depends.replace("|", ",").split(",")}
    assert not set(DEPENDS) - names, depends
    recommends = vt.run("dpkg-deb", "--field", package, "Recommends").decode()
    assert [r.strip() for r in recommends.split(",")] == RECOMMENDS

    root = tmp_path / "root"
    vt.run("dpkg-deb", "-x", package, root)
    vt.run("appstreamcli", "validate-tree", "--no-net", root)
    program = launch(folder=root / "usr" / "bin", cwd=tmp_path)
    program.wait_window()
    record_a_second(program, root / "usr" / "lib" / "voxtape" / "sounds" / "current.wav")
    close(program)
