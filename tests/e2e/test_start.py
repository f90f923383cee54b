"""The program starts on a bare X display and shows its skinned window."""

import vtharness as vt


def test_window_is_the_skin_background(voxtape, skinpack, artifacts):
    archive = voxtape.folder / "Interface" / "voxtape.int"
    width, height, _bpp = vt.skin_list(archive)["voxtape.bmp"]
    background = vt.read_bmp(vt.skin_extract(archive, artifacts / "skin") / "voxtape.bmp")

    assert vt.window_name(voxtape.wid) == "Voxtape"
    g = voxtape.geometry()
    assert (g.width, g.height) == (width, height)

    # The first paint may land a moment after the window is mapped.
    shot = None

    def painted():
        nonlocal shot
        shot = voxtape.screenshot()
        return not vt.mismatches(shot, background)

    try:
        vt.wait_until(painted, timeout=5, what="the skin background on screen")
    except vt.HarnessError:
        if shot is None:
            raise
        path = shot.save_png(artifacts / "window.png")
        raise AssertionError(f"window differs from voxtape.bmp at (x, y, got, wanted) "
                             f"{vt.mismatches(shot, background)}; screenshot: {path}") from None
    assert voxtape.running
