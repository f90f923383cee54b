"""Drives the real Voxtape program on an X display: start it, find its window, click, press keys,
take screenshots and read their pixels, and read the files it writes. Standard library only."""

from __future__ import annotations

import array
import ctypes
import ctypes.util
import os
import re
import shutil
import signal
import struct
import subprocess
import time
import wave
import zlib
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINDOW_TITLE = "Voxtape"
# A spot of the main window's background with nothing on it, where a click only gives the keyboard.
MAIN_BACKGROUND = (130, 45)
# The colour that skin images leave transparent in windows and buttons.
KEY_RGB = (2, 1, 255)
# Long enough for a loaded 2-core machine, short enough that a hung program fails the test.
TIMEOUT = 15.0


class HarnessError(AssertionError):
    """A step of a test that did not happen (no window, no exit, a tool failed)."""


def program_path() -> Path:
    """The program under test: $VOXTAPE, else the build's program folder."""
    return Path(os.environ.get("VOXTAPE", REPO / "build" / "voxtape" / "voxtape")).resolve()


def skinpack_path() -> Path:
    """The skin archive tool: $VOXTAPE_SKINPACK, else the build's."""
    return Path(os.environ.get("VOXTAPE_SKINPACK", REPO / "build" / "tools" / "voxtape-skinpack")).resolve()


def run(*cmd, timeout: float = TIMEOUT, check: bool = True, input: bytes | None = None) -> bytes:
    """Runs a tool and returns its stdout; a failure or a hang raises with the tool's stderr."""
    try:
        r = subprocess.run([str(c) for c in cmd], input=input, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        raise HarnessError(f"{cmd[0]} did not finish within {timeout} s: {' '.join(map(str, cmd))}") from e
    if check and r.returncode != 0:
        raise HarnessError(f"{' '.join(map(str, cmd))} failed ({r.returncode}): {r.stderr.decode(errors='replace')}")
    return r.stdout


def wait_until(predicate, timeout: float = TIMEOUT, interval: float = 0.1, what: str = "condition"):
    """Polls predicate until it returns something truthy and returns that; raises after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def xdotool(*args, timeout: float = TIMEOUT, check: bool = True) -> str:
    return run("xdotool", *args, timeout=timeout, check=check).decode()


# ---------------------------------------------------------------------------------------------------
# Windows


@dataclass(frozen=True)
class Geometry:
    x: int
    y: int
    width: int
    height: int


def find_windows(name: str = f"^{WINDOW_TITLE}$", pid: int | None = None, visible: bool = True) -> list[int]:
    """Window ids whose title matches the regular expression name, optionally of one process only."""
    args = ["search"] + (["--onlyvisible"] if visible else []) + ["--name", name]
    out = xdotool(*args, check=False)
    wids = [int(w) for w in out.split()]
    if pid is not None:
        owners = {w: window_pid(w) for w in wids}
        # A window without _NET_WM_PID may still be the process's (SDL sets it; plain X tools may not).
        wids = [w for w in wids if owners[w] == pid] or [w for w in wids if owners[w] is None]
    return wids


def message_boxes(exclude: int | None = None) -> list[int]:
    """The program's shown message boxes: titled "voxtape", its name in lower case, unlike its main
    window. They come from a connection of their own without a process id, and xdotool's search
    does not match their UTF-8 titles, so the window tree is read instead."""
    out = run("xwininfo", "-root", "-tree", check=False).decode()
    found = []
    for m in re.finditer(r"^\s*(0x[0-9a-f]+) \"voxtape\"", out, re.M):
        wid = int(m.group(1), 16)
        if wid == exclude:
            continue
        state = run("xwininfo", "-id", wid, check=False).decode()
        if "IsViewable" in state:
            found.append(wid)
    return found


def window_pid(wid: int) -> int | None:
    out = xdotool("getwindowpid", wid, check=False).strip()
    return int(out) if out.isdigit() else None


def window_name(wid: int) -> str:
    return xdotool("getwindowname", wid).rstrip("\n")


def geometry(wid: int) -> Geometry:
    """The window's position on the screen and its size (no window manager: no frame, no decoration)."""
    values = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", wid).split())
    return Geometry(int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))


def move_pointer(x: int, y: int):
    """Moves the pointer to a point of the screen and waits until it is there. (xdotool's own --sync
    waits forever when the pointer is already at the point.)"""
    if pointer_position() == (x, y):
        return
    xdotool("mousemove", x, y)
    wait_until(lambda: pointer_position() == (x, y), timeout=5, interval=0.02, what=f"the pointer at {x},{y}")


def pointer_position() -> tuple[int, int]:
    # xdotool also looks up the window under the pointer; one closing meanwhile fails the call.
    out = wait_until(lambda: xdotool("getmouselocation", "--shell", check=False), timeout=5,
                     interval=0.05, what="the pointer position")
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"])


def window_property(wid: int, name: str) -> str | None:
    """An X property of a window as xprop prints its value (e.g. _NET_WM_WINDOW_OPACITY), or None."""
    out = run("xprop", "-id", wid, name, check=False).decode().strip()
    return out.split("=", 1)[1].strip() if "=" in out else None


def transient_for(wid: int) -> int | None:
    """The window this one belongs to (WM_TRANSIENT_FOR), or None."""
    out = run("xprop", "-id", wid, "WM_TRANSIENT_FOR", check=False).decode()
    m = re.search(r"window id # (0x[0-9a-f]+)", out)
    return int(m.group(1), 16) if m else None


def stacking() -> list[int]:
    """The managed windows from the bottom of the stack to the top, as the window manager tells."""
    out = run("xprop", "-root", "_NET_CLIENT_LIST_STACKING", check=False).decode()
    return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]


def focus(wid: int):
    """Gives a window the keyboard behind the window manager's back. Only for windows of other
    programs that a person would click into (the save dialog's name field); the program's own windows
    get the keyboard as a person gives it, by a click (Program.focus_by_click)."""
    xdotool("windowfocus", "--sync", wid)


def focused_window() -> int | None:
    out = xdotool("getwindowfocus", check=False).strip()
    return int(out) if out.isdigit() else None


def wait_focused(wid: int, timeout: float = 5):
    """Waits until the window has the keyboard (a dialog gets it from the window manager when it
    appears)."""
    wait_until(lambda: focused_window() == wid, timeout=timeout, interval=0.02,
               what=f"window {wid} to have the keyboard (it is with {focused_window()})")


def tip_windows(pid: int) -> list[int]:
    """The process's shown tooltip windows (they have no title to search by)."""
    return [w for w in find_windows("", pid=pid)
            if window_property(w, "_NET_WM_WINDOW_TYPE") == "_NET_WM_WINDOW_TYPE_TOOLTIP"]


def close_request(wid: int):
    """Asks a window to close as a window manager does (a WM_DELETE_WINDOW message); no tool here
    sends one without a window manager running."""
    import ctypes
    import ctypes.util

    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    display = x11.XOpenDisplay(None)
    if not display:
        raise HarnessError("cannot open the X display")
    try:
        event = Event()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = wid
        event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        x11.XSendEvent(display, wid, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
    finally:
        x11.XCloseDisplay(display)


def press_keys(*keys: str, wid: int | None = None):
    """Key presses (xdotool key names: F5, Return, Escape, Left ...) as real input events to whichever
    window has the keyboard, as a person types; with wid, that window must have it first (a dialog is
    given it when it appears; this does not hand it over)."""
    if wid is not None:
        wait_focused(wid)
    xdotool("key", "--clearmodifiers", *keys)


def type_text(text: str):
    xdotool("type", "--delay", "20", text)


# ---------------------------------------------------------------------------------------------------
# Pictures


@dataclass
class Image:
    """RGB pixels, rows from the top, 3 bytes a pixel."""

    width: int
    height: int
    rgb: bytes

    def pixel(self, x: int, y: int) -> tuple[int, int, int]:
        i = (y * self.width + x) * 3
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]

    def crop(self, x: int, y: int, width: int, height: int) -> Image:
        if x < 0 or y < 0 or x + width > self.width or y + height > self.height:
            raise ValueError(f"crop {x},{y} {width}x{height} outside {self.width}x{self.height}")
        stride = self.width * 3
        rows = (self.rgb[(y + r) * stride + x * 3:(y + r) * stride + (x + width) * 3] for r in range(height))
        return Image(width, height, b"".join(rows))

    def save_png(self, path: Path | str) -> Path:
        """Writes a PNG (for a person to look at when a test fails)."""
        def chunk(kind: bytes, data: bytes) -> bytes:
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        stride = self.width * 3
        raw = b"".join(b"\0" + self.rgb[r * stride:(r + 1) * stride] for r in range(self.height))
        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                              chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))
        return Path(path)


def _mask_shift(mask: int) -> tuple[int, int]:
    shift = (mask & -mask).bit_length() - 1
    return shift, (mask >> shift)


def parse_xwd(data: bytes) -> Image:
    """Decodes xwd's output (TrueColor ZPixmap, as Xvfb at depth 24 gives)."""
    if len(data) < 100:
        raise HarnessError("xwd gave no picture")
    (header_size, version, pixmap_format, _depth, width, height, _xoffset, byte_order, _unit, _bit_order,
     _pad, bits_per_pixel, bytes_per_line, visual_class, red_mask, green_mask, blue_mask, _bits_per_rgb,
     _cmap_entries, ncolors) = struct.unpack(">20I", data[:80])
    if version != 7 or pixmap_format != 2 or visual_class not in (4, 5) or bits_per_pixel not in (24, 32):
        raise HarnessError(f"unexpected xwd picture: version {version}, format {pixmap_format}, "
                           f"visual {visual_class}, {bits_per_pixel} bits")
    start = header_size + ncolors * 12
    pixels = data[start:start + bytes_per_line * height]
    if len(pixels) < bytes_per_line * height:
        raise HarnessError("xwd picture is cut short")
    step = bits_per_pixel // 8
    masks = (red_mask, green_mask, blue_mask)
    # The usual case, 32 bits with 8-bit channels: pick bytes by slicing, row by row (fast enough in Python).
    if step == 4 and all(_mask_shift(m)[1] == 0xFF for m in masks):
        offsets = [_mask_shift(m)[0] // 8 for m in masks]
        if byte_order == 1:  # most significant byte first
            offsets = [3 - o for o in offsets]
        out = bytearray(width * height * 3)
        for y in range(height):
            row = pixels[y * bytes_per_line:y * bytes_per_line + width * 4]
            base = y * width * 3
            for c, o in enumerate(offsets):
                out[base + c:base + width * 3:3] = row[o::4]
        return Image(width, height, bytes(out))
    order = "little" if byte_order == 0 else "big"
    out = bytearray()
    for y in range(height):
        for x in range(width):
            at = y * bytes_per_line + x * step
            value = int.from_bytes(pixels[at:at + step], order)
            for m in masks:
                shift, size = _mask_shift(m)
                out.append(((value >> shift) & size) * 255 // size)
    return Image(width, height, bytes(out))


def read_png(path: Path | str) -> Image:
    """Reads an 8-bit RGB or RGBA PNG without interlacing (what save_png and ImageMagick write for
    screenshots); alpha is dropped."""
    data = Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise HarnessError(f"{path} is not a PNG")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise HarnessError(f"{path}: PNG with depth {depth}, colour type {colour} not handled here")
    step = 3 if colour == 2 else 4
    stride = width * step
    raw = zlib.decompress(idat)
    prior = bytearray(stride)
    out = bytearray()
    for y in range(height):
        kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - step] if i >= step else 0
            up, up_left = prior[i], (prior[i - step] if i >= step else 0)
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + ((left + up) >> 1)) & 255
            elif kind == 4:
                p = left + up - up_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else up_left)) & 255
        prior = row
        if step == 3:
            out += row
        else:
            del row[3::4]
            out += row
    return Image(width, height, bytes(out))


def screenshot(wid: int | None = None) -> Image:
    """The window's pixels as the screen shows them, or the whole screen without wid."""
    target = ["-id", str(wid)] if wid is not None else ["-root"]
    # The program's windows have another visual than the root, so xwd reads every window over the
    # area one by one; one that maps, unmaps or resizes meanwhile (a tip) fails the read: read again.
    for attempt in range(3):
        try:
            return parse_xwd(run("xwd", "-silent", *target))
        except HarnessError as e:
            if "BadMatch" not in str(e) or attempt == 2:
                raise
            time.sleep(0.05)


def read_bmp(path: Path | str) -> Image:
    """Reads an uncompressed 24- or 32-bit BMP, rows bottom-up or top-down."""
    data = Path(path).read_bytes()
    if data[:2] != b"BM":
        raise HarnessError(f"{path} is not a BMP")
    pixel_offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _planes, bpp, compression = struct.unpack_from("<iiHHI", data, 18)
    if bpp not in (24, 32) or compression not in (0, 3):
        raise HarnessError(f"{path}: {bpp}-bit BMP with compression {compression} not handled here")
    step = bpp // 8
    stride = (width * step + 3) & ~3
    rows = abs(height)
    out = bytearray(width * rows * 3)
    for r in range(rows):
        src_row = rows - 1 - r if height > 0 else r
        row = data[pixel_offset + src_row * stride:pixel_offset + src_row * stride + width * step]
        base = r * width * 3
        out[base:base + width * 3:3] = row[2::step]
        out[base + 1:base + width * 3:3] = row[1::step]
        out[base + 2:base + width * 3:3] = row[0::step]
    return Image(width, rows, bytes(out))


def mismatches(shot: Image, expected: Image, key: tuple[int, int, int] | None = KEY_RGB,
               ignore=(), limit: int = 10) -> list[tuple[int, int, tuple, tuple]]:
    """Pixels where shot differs from expected, skipping expected's key-coloured (transparent) pixels
    and the rectangles (x, y, width, height) of ignore: up to limit of (x, y, got, wanted).
    Sizes must be equal."""
    if (shot.width, shot.height) != (expected.width, expected.height):
        return [(-1, -1, (shot.width, shot.height), (expected.width, expected.height))]
    if shot.rgb == expected.rgb:
        return []
    found = []
    key_bytes = bytes(key) if key else None
    for i in range(0, len(expected.rgb), 3):
        want = expected.rgb[i:i + 3]
        if want == key_bytes or shot.rgb[i:i + 3] == want:
            continue
        x, y = (i // 3) % expected.width, (i // 3) // expected.width
        if any(rx <= x < rx + rw and ry <= y < ry + rh for rx, ry, rw, rh in ignore):
            continue
        found.append((x, y, tuple(shot.rgb[i:i + 3]), tuple(want)))
        if len(found) >= limit:
            break
    return found


def expect_looks_like(program, expected: Image, what: str, save_as: Path, key=KEY_RGB, ignore=(),
                      timeout: float = 5):
    """Waits until the program's main window shows `expected` (the first paint may land a moment
    after the window is mapped); otherwise fails naming the first differing pixels and saving the
    last screenshot to save_as."""
    shot = None

    def matches():
        nonlocal shot
        shot = program.screenshot()
        return not mismatches(shot, expected, key=key, ignore=ignore)

    try:
        wait_until(matches, timeout=timeout, what=f"the window to look like {what}")
    except HarnessError:
        if shot is None:
            raise
        path = shot.save_png(save_as)
        raise AssertionError(f"window differs from {what} at (x, y, got, wanted) "
                             f"{mismatches(shot, expected, key=key, ignore=ignore)}; "
                             f"screenshot: {path}") from None


# ---------------------------------------------------------------------------------------------------
# The skin archive, through the project's own tool


def skin_list(archive: Path | str) -> dict[str, tuple[int, int, int]]:
    """{image name: (width, height, bits per pixel)} of an archive, as voxtape-skinpack lists it."""
    out = run(skinpack_path(), "list", archive).decode()
    found = {}
    for line in out.splitlines():
        m = re.match(r"^(\S+)\s+\d+\s+(\d+)x(\d+) (\d+) bpp", line)
        if m:
            found[m.group(1)] = (int(m.group(2)), int(m.group(3)), int(m.group(4)))
    return found


def skin_extract(archive: Path | str, folder: Path | str) -> Path:
    """Unpacks every image of an archive into folder (created) and returns it."""
    Path(folder).mkdir(parents=True, exist_ok=True)
    run(skinpack_path(), "extract", archive, folder)
    return Path(folder)


# ---------------------------------------------------------------------------------------------------
# The program


def copy_program_folder(dest: Path, source: Path | None = None) -> Path:
    """A private copy of the program folder (program, skin, help; no recordings), so each test starts
    from the build's state and leaves nothing behind for the next."""
    source = source or program_path().parent
    if not source.is_dir():
        raise HarnessError(f"no program folder at {source}: build first (cmake --build build)")
    shutil.copytree(source, dest, symlinks=True, ignore=shutil.ignore_patterns("sounds"))
    return dest


class Program:
    """One started instance of the program, in its own process group (so its helpers, such as a save
    dialog, end with it). stdout and stderr go to files in log_dir."""

    def __init__(self, exe: Path, args=(), env: dict | None = None, cwd: Path | None = None,
                 log_dir: Path | None = None):
        self.exe = Path(exe)
        self.folder = self.exe.parent
        log_dir = Path(log_dir or self.folder)
        log_dir.mkdir(parents=True, exist_ok=True)
        stamp = f"{time.monotonic_ns()}"
        self.stdout_path = log_dir / f"voxtape-{stamp}.out"
        self.stderr_path = log_dir / f"voxtape-{stamp}.err"
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen([str(self.exe), *map(str, args)], stdin=subprocess.DEVNULL,
                                         stdout=out, stderr=err, cwd=str(cwd or self.folder),
                                         env={**os.environ, **(env or {})}, start_new_session=True)
        self.pid = self.proc.pid
        self.wid: int | None = None

    # -- process

    @property
    def running(self) -> bool:
        return self.proc.poll() is None

    def output(self) -> str:
        """What the program printed so far (stdout, then stderr)."""
        text = [p.read_text(errors="replace") for p in (self.stdout_path, self.stderr_path) if p.exists()]
        return "".join(text)

    def wait_exit(self, timeout: float = TIMEOUT) -> int:
        """Waits for the program to end and returns its exit status; raises if it is still running."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired as e:
            raise HarnessError(f"voxtape (pid {self.pid}) still running after {timeout} s") from e

    def signal(self, sig: int = signal.SIGTERM):
        if self.running:
            self.proc.send_signal(sig)

    def kill(self):
        """Ends the program and everything it started, and reaps it (so its single-instance lock is
        free before the next test starts one)."""
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        try:
            self.proc.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            pass

    # -- window

    def wait_window(self, name: str = f"^{WINDOW_TITLE}$", timeout: float = TIMEOUT) -> int:
        """Waits until this process shows a window whose title matches name; returns its id (also kept
        in self.wid for the main window). Fails at once if the program ends first."""
        def found():
            if not self.running:
                raise HarnessError(f"voxtape ended ({self.proc.returncode}) before showing a window "
                                   f"matching {name!r}:\n{self.output()}")
            wids = find_windows(name, pid=self.pid)
            return wids[0] if wids else None

        wid = wait_until(found, timeout, what=f"a window {name!r} of pid {self.pid}")
        if name == f"^{WINDOW_TITLE}$":
            self.wid = wid
        return wid

    def _wid(self, wid: int | None) -> int:
        wid = wid if wid is not None else self.wid
        if wid is None:
            raise HarnessError("no window yet: call wait_window() first")
        return wid

    def geometry(self, wid: int | None = None) -> Geometry:
        return geometry(self._wid(wid))

    def screenshot(self, wid: int | None = None) -> Image:
        return screenshot(self._wid(wid))

    def to_screen(self, x: int, y: int, wid: int | None = None) -> tuple[int, int]:
        """A point of the window in screen coordinates."""
        g = self.geometry(wid)
        return g.x + x, g.y + y

    def move(self, x: int, y: int, wid: int | None = None):
        """Moves the pointer to a point of the window (window-relative pixels)."""
        move_pointer(*self.to_screen(x, y, wid))

    def click(self, x: int, y: int, button: int = 1, wid: int | None = None):
        """Clicks at a point of the window (window-relative pixels)."""
        self.move(x, y, wid)
        xdotool("click", button)

    def drag(self, start: tuple[int, int], end: tuple[int, int], steps: int = 10, button: int = 1,
             wid: int | None = None, pause: float = 0.02):
        """Presses at start, moves to end in steps, releases there (window-relative points, both taken
        from the window's position before the drag)."""
        sx, sy = self.to_screen(*start, wid=wid)
        ex, ey = self.to_screen(*end, wid=wid)
        move_pointer(sx, sy)
        xdotool("mousedown", button)
        try:
            for i in range(1, steps + 1):
                move_pointer(sx + (ex - sx) * i // steps, sy + (ey - sy) * i // steps)
                time.sleep(pause)
        finally:
            xdotool("mouseup", button)

    def focus_by_click(self, wid: int | None = None, at: tuple[int, int] = MAIN_BACKGROUND):
        """Gives the window the keyboard as a person does, by a click on its background (which moves
        nothing), unless it has it already."""
        wid = self._wid(wid)
        if focused_window() == wid:
            return
        self.click(*at, wid=wid)
        wait_focused(wid)

    def key(self, *keys: str, wid: int | None = None, at: tuple[int, int] = MAIN_BACKGROUND):
        """Presses keys in the window, first clicked into as a person would when it does not have
        the keyboard."""
        self.focus_by_click(wid, at)
        xdotool("key", "--clearmodifiers", *keys)


def wait_for_file(path: Path | str, timeout: float = TIMEOUT) -> Path:
    return wait_until(lambda: Path(path) if Path(path).exists() else None, timeout, what=str(path))


# ---------------------------------------------------------------------------------------------------
# Sound server and sound files


def pactl(*args, check: bool = True) -> str:
    """Asks the private sound server (PULSE_SERVER) something."""
    return run("pactl", *args, check=check).decode()


@dataclass
class Wav:
    channels: int
    rate: int
    sample_width: int  # bytes
    frames: int
    samples: list[int]  # first channel, signed, centred on 0

    @property
    def duration(self) -> float:
        return self.frames / self.rate


def read_wav(path: Path | str) -> Wav:
    """Reads a PCM WAV with Python's own reader (independent of the program's writer)."""
    with wave.open(str(path), "rb") as w:
        channels, width, rate, frames = w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()
        data = w.readframes(frames)
    if width == 1:
        samples = [b - 128 for b in data[::channels]]
    elif width == 2:
        samples = list(struct.unpack(f"<{len(data) // 2}h", data[:len(data) // 2 * 2]))[::channels]
    else:
        raise HarnessError(f"{path}: {width * 8}-bit samples not handled here")
    return Wav(channels, rate, width, frames, samples)


def dominant_frequency(samples: list[int], rate: int) -> float:
    """The frequency of a steady tone, from its rising zero crossings (enough for a clean sine)."""
    mean = sum(samples) / len(samples) if samples else 0
    rising = [i for i in range(1, len(samples)) if samples[i - 1] - mean < 0 <= samples[i] - mean]
    if len(rising) < 2:
        return 0.0
    return (len(rising) - 1) * rate / (rising[-1] - rising[0])


def file_unlocked(path: Path | str) -> bool:
    """The file exists and no writer holds it: the program's writer keeps an exclusive flock on the
    working file while it records and lets go once the file is complete."""
    import fcntl

    try:
        with open(path, "rb") as f:
            fcntl.flock(f, fcntl.LOCK_SH | fcntl.LOCK_NB)
            return True
    except OSError:
        return False


def wait_file_complete(path: Path | str, timeout: float = TIMEOUT) -> Path:
    """Waits until the file exists and its writer has let go of it."""
    return wait_until(lambda: Path(path) if file_unlocked(path) else None, timeout,
                      what=f"{path} complete (not held by its writer)")


QUIET_WINDOW_SECONDS = 0.005
# Where a skip of the server's shows in a recording, against where the tone's witness places it.
SKIP_PLACE_TOLERANCE = 0.3


@dataclass
class ToneReport:
    """How a recording of a steady sine held up, block by block. A gap in the source shows as a quiet
    stretch (the server plays silence while the tone's player is late); a loss or repeat in the
    recorder shows as a jump of the tone's phase with the tone present on both sides."""

    frequency: float  # measured from the phase's steady advance
    source_gaps: list[float]  # starts (s) of blocks where the tone was missing
    recorder_jumps: list[float]  # moments (s) where the phase jumped with no gap in the source

    def problems(self, allowed_jumps: int = 0, server: ServerDelivery | None = None) -> list[str]:
        """What is wrong, allowing the cuts expected and what the server did to every recorder of the
        tone (tone_witness): the quiet it delivered in the tone's place, give or take the windows at
        the ends of each quiet stretch, which fall differently in each recording, and jumps and quiet
        around a skip, where which cycles a recorder gets as sound, as silence or not at all differs
        by a cycle or so from one recorder to the next."""
        jumps, gaps = self.recorder_jumps, self.source_gaps
        if server:
            def near_a_skip(t, after=0.0):
                return any(skipped - SKIP_PLACE_TOLERANCE <= t <= skipped + SKIP_PLACE_TOLERANCE + after
                           for skipped in server.skipped_at)

            jumps = [t for t in jumps if not near_a_skip(t)]
            gaps = [t for t in gaps if not near_a_skip(t, after=server.quiet)]
        server_quiet = server.quiet if server else 0.0
        found = []
        if gaps and (not server_quiet or len(gaps) * QUIET_WINDOW_SECONDS > server_quiet + 4 * QUIET_WINDOW_SECONDS):
            found.append(f"the test tone itself was missing at {len(gaps)} blocks, "
                         f"the first at {gaps[:5]} s (a fault of the test bed's source)")
        if len(jumps) > allowed_jumps:
            found.append(f"the recording lost or repeated sound at {jumps[:5]} s "
                         f"(the tone's phase jumps; {allowed_jumps} cut(s) expected)")
        return found


@dataclass
class ServerDelivery:
    lost: float  # seconds of time for which the server delivered no sound at all
    quiet: float  # seconds of silence it delivered where the tone should have been
    skipped_at: list[float]  # where each skip falls in a take of the spans asked about (s)


# How long after the last moment asked about the witness may still log what happened by then.
WITNESS_SLACK = 0.3


def tone_witness(*spans: tuple[float, float]) -> ServerDelivery:
    """What the sound server did to every recorder of the test tone during spans of monotonic time
    (a take's Record to Stop, less its pauses), as the test bed's own reader of the tone saw it
    (scripts/tone-witness). A machine that holds the whole sound server back for longer than a cycle
    or so makes PipeWire skip the time it missed, and the tone's player run dry: no recorder can have
    what the server never delivered."""
    folder = os.environ.get("VT_TESTENV_DIR")
    path = Path(folder or "/nonexistent") / "tone-witness.log"
    if not spans or not path.exists():
        return ServerDelivery(0.0, 0.0, [])
    until = max(stop for _, stop in spans) + WITNESS_SLACK

    def events():
        lines = [line.split() for line in path.read_text().splitlines()]
        if any(words[0] == "at" and float(words[1]) >= until for words in lines if len(words) == 2):
            # In a list of its own: no event at all is an answer too.
            return [[(words[0], float(words[1]), float(words[2])) for words in lines if len(words) == 3]]
        return None

    lost = quiet = 0.0
    skipped_at = []
    for kind, at, seconds in wait_until(events, timeout=10, what="the tone's witness to catch up")[0]:
        before = 0.0  # of the take, up to the span that holds this moment
        for start, stop in sorted(spans):
            if start <= at <= stop + WITNESS_SLACK:
                if kind == "lost":
                    # Delivery stopped at `at`; what the take had until then is less what earlier
                    # skips took from it.
                    skipped_at.append(before + min(at, stop) - start - lost)
                    lost += seconds
                elif kind == "gap":
                    quiet += seconds
                break
            before += stop - start
    return ServerDelivery(lost, quiet, skipped_at)


def hold_sound_server(seconds: float, *also: int):
    """Holds the sound server, the tone's player and the processes also named still for seconds, as a
    busy host now and then holds a whole machine."""
    folder = Path(os.environ["VT_TESTENV_DIR"])
    pids = list(also)
    for name in ("pulse.pid", "pipewire.pid", "pipewire-pulse.pid", "wireplumber.pid"):
        if (folder / name).exists():
            pids.append(int((folder / name).read_text().strip()))
    player = int((folder / "tone.pid").read_text().strip())
    pids += [player] + [int(p) for p in run("pgrep", "-P", player, check=False).split()]
    try:
        for pid in pids:
            os.kill(pid, signal.SIGSTOP)
        time.sleep(seconds)
    finally:
        for pid in pids:
            os.kill(pid, signal.SIGCONT)


def leading_quiet_seconds() -> float:
    """How much silence a new record stream may open with. PipeWire's first cycle of a record stream
    is silence (parec's too), and the test bed fixes its cycle (scripts/testenv); PulseAudio starts
    within a few milliseconds."""
    frames = os.environ.get("VT_PIPEWIRE_CYCLE_FRAMES")
    if os.environ.get("VT_SOUND_SERVER") == "pipewire" and frames:
        return int(frames) / 48000 + 0.005
    return 0.05


def tone_report(wav: Wav, hz: float = 440.0, block_seconds: float = 0.02) -> ToneReport:
    """Measures a recording of a half-scale sine of hz (first channel) in blocks: its amplitude and
    its phase against a reference that runs on with the sample count."""
    import cmath
    import math

    size = max(8, int(wav.rate * block_seconds))
    step = 2 * math.pi * hz / wav.rate
    reference = [cmath.exp(-1j * step * n) for n in range(len(wav.samples))]
    full = 128 if wav.sample_width == 1 else 32768
    blocks = []  # (start seconds, phasor or None when the tone is missing)
    for start in range(0, len(wav.samples) - size + 1, size):
        acc = sum(s * r for s, r in zip(wav.samples[start:start + size], reference[start:start + size]))
        amplitude = 2 * abs(acc) / size
        blocks.append((start / wav.rate, acc if amplitude >= full / 8 else None))
    # Quiet stretches, to the few milliseconds: windows longer than the tone's period whose peak
    # stays below half of the tone's.
    window = max(2, int(wav.rate * QUIET_WINDOW_SECONDS))
    gaps = [round(start / wav.rate, 3) for start in range(0, len(wav.samples) - window + 1, window)
            if max(abs(v) for v in wav.samples[start:start + window]) < full / 4]
    # A stream may open with a little silence: quiet at the very start, within leading_quiet_seconds(),
    # is that, not a gap of the source.
    leading = 0
    while leading < len(gaps) and abs(gaps[leading] - leading * window / wav.rate) < 1e-3 \
            and gaps[leading] < leading_quiet_seconds():
        leading += 1
    gaps = gaps[leading:]

    def wrap(a):
        return (a + math.pi) % (2 * math.pi) - math.pi

    # Phase advance between neighbouring blocks with the tone; steady for a continuous recording.
    advances = [(blocks[k + 1][0], wrap(cmath.phase(blocks[k + 1][1]) - cmath.phase(blocks[k][1])),
                 k + 1)
                for k in range(len(blocks) - 1) if blocks[k][1] is not None and blocks[k + 1][1] is not None]
    if not advances:
        return ToneReport(0.0, gaps, [])
    steady = sorted(a for _, a, _ in advances)[len(advances) // 2]
    frequency = hz + steady / (2 * math.pi * size / wav.rate)
    # A jump inside a block splits over two advances: look at each and at neighbouring pairs.
    deviations = [(t, wrap(a - steady), k) for t, a, k in advances]
    jumps = []
    for i, (t, d, k) in enumerate(deviations):
        pair = d + deviations[i + 1][1] if i + 1 < len(deviations) and deviations[i + 1][2] == k + 1 else d
        if abs(wrap(d)) > 0.3 or abs(wrap(pair)) > 0.3:
            near_gap = any(abs(g - t) <= 3 * block_seconds for g in gaps)
            if not near_gap and not (jumps and t - jumps[-1] <= 3 * block_seconds):
                jumps.append(round(t, 3))
    return ToneReport(frequency, gaps, jumps)


# ---------------------------------------------------------------------------------------------------
# The source list

# The list's panel in the window (x, y, width, height) and its rows: 16 high on a pitch of 19, the
# first at 3; the scroll bar takes the panel's right-hand 14 pixels.
SOURCE_LIST = (23, 67, 351, 141)
SOURCE_ROW_PITCH = 19
SOURCE_ROW_TOP = 3
SOURCE_BAR_WIDTH = 14
# The test environment's default source, which carries its 440 Hz tone.
TONE_SOURCE = "tone.monitor"


def sources() -> list[tuple[str, str]]:
    """The sound server's sources in its own order, as (name, description)."""
    found: list[tuple[str, str]] = []
    name = None
    for line in pactl("list", "sources").splitlines():
        line = line.strip()
        if line.startswith("Name: "):
            name = line[len("Name: "):]
        elif line.startswith("Description: ") and name is not None:
            found.append((name, line[len("Description: "):]))
            name = None
    return found


def source_row_point(name: str, scrolled: int = 0) -> tuple[int, int]:
    """A point on the caption of a source's row in the list (window pixels), the list scrolled by
    `scrolled` pixels."""
    index = [n for n, _ in sources()].index(name)
    x, y, _, _ = SOURCE_LIST
    return x + 40, y + SOURCE_ROW_TOP + SOURCE_ROW_PITCH * index + 8 - scrolled


def choose_source(program: "Program", name: str):
    """Clicks the row of a source (in a list that has not been scrolled)."""
    program.click(*source_row_point(name))


def reset_source_volumes():
    """Every source of the private server back at its normal volume (a test may have moved one)."""
    for name, _ in sources():
        pactl("set-source-volume", name, "100%", check=False)


# ---------------------------------------------------------------------------------------------------
# Compressed sound files, read through libsndfile (the library the program writes them with)


class _SfInfo(ctypes.Structure):
    _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]


_SF_READ = 0x10
_SF_STR_SOFTWARE = 0x03
_SF_STR_DATE = 0x06
SF_FORMAT_FLAC = 0x170000
SF_FORMAT_OGG = 0x200000
SF_FORMAT_MPEG = 0x230000
SF_FORMAT_WAV = 0x010000


@dataclass
class Sound:
    rate: int
    channels: int
    format: int          # libsndfile's, major type and subtype
    samples: array.array  # interleaved, 32-bit full scale
    date: str
    software: str

    @property
    def duration(self) -> float:
        return len(self.samples) / self.channels / self.rate

    def channel(self, index: int) -> list[int]:
        return list(self.samples[index::self.channels])


def _libsndfile():
    lib = ctypes.CDLL(ctypes.util.find_library("sndfile") or "libsndfile.so.1")
    lib.sf_open.restype = ctypes.c_void_p
    lib.sf_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(_SfInfo)]
    lib.sf_readf_int.restype = ctypes.c_int64
    lib.sf_readf_int.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64]
    lib.sf_get_string.restype = ctypes.c_char_p
    lib.sf_get_string.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.sf_close.argtypes = [ctypes.c_void_p]
    lib.sf_strerror.restype = ctypes.c_char_p
    lib.sf_strerror.argtypes = [ctypes.c_void_p]
    return lib


def decode_sound(path: Path | str) -> Sound:
    """Every sample of a WAV, FLAC, Ogg Opus or MP3 file, as libsndfile decodes it."""
    lib = _libsndfile()
    info = _SfInfo()
    handle = lib.sf_open(str(path).encode(), _SF_READ, ctypes.byref(info))
    if not handle:
        raise HarnessError(f"{path}: {lib.sf_strerror(None).decode()}")
    try:
        tag = lambda kind: (lib.sf_get_string(handle, kind) or b"").decode(errors="replace")
        samples = array.array("i")
        piece = (ctypes.c_int * (8192 * info.channels))()
        while (got := lib.sf_readf_int(handle, piece, 8192)) > 0:
            samples.extend(piece[:got * info.channels])
        return Sound(info.samplerate, info.channels, info.format, samples, tag(_SF_STR_DATE),
                     tag(_SF_STR_SOFTWARE))
    finally:
        lib.sf_close(handle)
