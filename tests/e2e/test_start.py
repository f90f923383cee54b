"""The program starts on a bare X display and shows its skinned window."""

import vtharness as vt

# Controls painted over the background: (left, top, and the skin image giving their size, or a size).
CONTROLS = [
    (335, 0, "close.bmp"), (293, 0, "help.bmp"),
    (23, 500, "startrecording.bmp"), (23, 542, "playsound.bmp"),
    (163, 500, "pause.bmp"), (266, 500, "savesound.bmp"),
    (23, 67, (351, 141)),  # source list
    (23, 387, (351, 113)),  # display panel
    (16, 237, (367, 27)), (164, 546, (219, 27)),  # volume sliders
    *((x, y, (14, 15)) for x, y in [(29, 298), (29, 320), (29, 343), (29, 364),
                                    (165, 298), (165, 320), (285, 299), (285, 320)]),  # format radios
]


def test_window_is_the_skin_background(voxtape, skinpack, artifacts):
    archive = voxtape.folder / "Interface" / "voxtape.int"
    sizes = vt.skin_list(archive)
    background = vt.read_bmp(vt.skin_extract(archive, artifacts / "skin") / "voxtape.bmp")
    controls = [(x, y, *(sizes[size][:2] if isinstance(size, str) else size)) for x, y, size in CONTROLS]

    assert vt.window_name(voxtape.wid) == "Voxtape"
    g = voxtape.geometry()
    assert (g.width, g.height) == sizes["voxtape.bmp"][:2] == (background.width, background.height)

    vt.expect_looks_like(voxtape, background, "voxtape.bmp", artifacts / "window.png", ignore=controls)
    assert voxtape.running
