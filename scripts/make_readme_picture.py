#!/usr/bin/env python3
# Draws the README's picture: a demo frame's render, its identifier pass and the palettised frame.
"""Usage: make_readme_picture.py DEMODIR OUT.png [FRAME]

DEMODIR is what `kelvo demo DEMODIR` wrote. Puts side by side, for frame FRAME (default 1):
the render (DEMODIR/render/beauty_NNNN.png, over white where it is transparent), its identifier
pass (DEMODIR/render/objid_NNNN.png) with each identifier in a colour of its own so that the
objects read, and the palettised frame (DEMODIR/demoNNNN.png). OUT is an indexed PNG, small
enough to commit. Needs Pillow (Debian's python3-pil).
"""
import os
import sys

try:
    from PIL import Image
except ImportError:
    # Debian's python3-pil belongs to Debian's python3; another python3 may come first on the
    # PATH (a version manager's), so run again under Debian's own.
    debian = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(debian) and os.path.exists(debian):
        os.execv(debian, [debian] + sys.argv)
    sys.exit("make_readme_picture.py: Pillow is missing (Debian: apt-get install python3-pil)")

GAP = 6  # pixels of white between the three panels
# One clearly different colour per identifier 0..15, so that neighbouring objects never share
# a hue; identifiers beyond 15 would take identifier 0's range, and take its colour here.
ID_COLOURS = [
    (70, 110, 170), (150, 120, 80), (220, 60, 60), (60, 170, 80), (70, 90, 220), (230, 200, 50),
    (200, 90, 200), (60, 190, 190), (240, 140, 40), (140, 60, 160), (120, 200, 60),
    (200, 200, 200), (110, 70, 40), (250, 160, 180), (40, 40, 40), (255, 255, 255),
]


def FalseColour(ids: Image.Image) -> Image.Image:
    grey = ids.convert("L")
    table = []
    for value in range(256):
        table += ID_COLOURS[value if value < len(ID_COLOURS) else 0]
    indexed = grey.copy()
    indexed.putpalette(table)
    return indexed.convert("RGB")


def main() -> int:
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    demo, out = sys.argv[1], sys.argv[2]
    frame = int(sys.argv[3]) if len(sys.argv) == 4 else 1
    names = [os.path.join(demo, "render", f"beauty_{frame:04d}.png"),
             os.path.join(demo, "render", f"objid_{frame:04d}.png"),
             os.path.join(demo, f"demo{frame:04d}.png")]
    try:
        beauty, ids, palettised = (Image.open(name) for name in names)
        beauty.load(), ids.load(), palettised.load()
    except OSError as error:
        print(f"make_readme_picture.py: {error}", file=sys.stderr)
        return 1
    if not beauty.size == ids.size == palettised.size:
        print("make_readme_picture.py: the three images differ in size", file=sys.stderr)
        return 1
    width, height = beauty.size
    render = Image.new("RGBA", beauty.size, (255, 255, 255, 255))
    render.alpha_composite(beauty.convert("RGBA"))
    panels = [render.convert("RGB"), FalseColour(ids), palettised.convert("RGB")]
    sheet = Image.new("RGB", (3 * width + 2 * GAP, height), (255, 255, 255))
    for i, panel in enumerate(panels):
        sheet.paste(panel, (i * (width + GAP), 0))
    # The panels hold few colours (greys, 16 identifier colours, one 256-entry palette), so an
    # indexed PNG keeps the picture small with barely a visible change.
    sheet.quantize(colors=256, dither=Image.Dither.NONE).save(out, optimize=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
