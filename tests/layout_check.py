#!/usr/bin/env python3
"""A modder's palette layout, checked over every pixel with Pillow: background 0, shadow 4, the
team ramp 80-95 and the cycling entries 240-254, which no pixel may take. The demo's frames are
rendered with their identifier pass and without one (a transparent background instead).

Usage: layout_check.py KELVO    (exit 0 when every pixel is where it was asked to go)
"""

import os
import subprocess
import sys
import tempfile

from PIL import Image

CYCLING = set(range(240, 255))
FRAMES = ["0001", "0009", "0017"]


def run(kelvo, *args):
    done = subprocess.run([kelvo, *args], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("kelvo %s failed (%d): %s" % (" ".join(args), done.returncode, done.stderr))


def entries(*spans):
    return {i for first, last in spans for i in range(first, last + 1)}


def check(name, allowed_of):
    """Every pixel of each frame in the entries its identifier (or alpha) allows."""
    wrong = 0
    for number in FRAMES:
        out = Image.open("out/%s%s.pcx" % (name, number))
        ids = Image.open("kelvo-demo/render/objid_%s.png" % number)
        for index, ident in zip(out.getdata(), ids.getdata()):
            if index not in allowed_of(ident) or index in CYCLING:
                wrong += 1
    if wrong:
        sys.exit("%s: %d pixels outside what their identifier allows" % (name, wrong))


def main():
    kelvo = os.path.abspath(sys.argv[1])
    os.chdir(tempfile.mkdtemp())
    run(kelvo, "demo", "-q")
    palette = "kelvo-demo/demo-palette.pcx"
    # The identifier pass: background, shadow catcher, team part, body (three ways).
    ranges = {0: entries((0, 0)), 1: entries((4, 4)), 2: entries((80, 95)),
              3: entries((16, 79), (96, 255)), 4: entries((16, 31)),
              5: entries((96, 111), (128, 143))}
    run(kelvo, "render", "-q", "--palette", palette, "--reserve", "240-254",
        "--ids", "kelvo-demo/render/objid_####.png", "--range", "0:0", "--range", "1:4",
        "--range", "2:80-95:bayer4", "--range", "3:16-79,96-255:nearest",
        "--range", "4:16-31:bayer8:0.5", "--range", "5:96-111,128-143", "--frames",
        ",".join(str(int(n)) for n in FRAMES), "--output", "out/ids.pcx",
        "kelvo-demo/render/beauty_####.png")
    check("ids", lambda ident: ranges[ident])
    # No identifier pass: the background transparent, which the alpha threshold sends to
    # identifier 15 and entry 0; the rest takes the nearest colour of the shadow and the ramps.
    os.makedirs("sprites")
    for number in FRAMES:
        beauty = Image.open("kelvo-demo/render/beauty_%s.png" % number).convert("RGBA")
        ids = Image.open("kelvo-demo/render/objid_%s.png" % number)
        beauty.putalpha(ids.point(lambda v: 0 if v == 0 else 255))
        beauty.save("sprites/sprite_%s.png" % number)
    run(kelvo, "render", "-q", "--palette", palette, "--reserve", "240-254",
        "--background-id", "15", "--alpha-threshold", "0.5", "--range", "15:0",
        "--range", "0:4,16-79,96-255:nearest", "--output", "out/alpha.pcx",
        *["sprites/sprite_%s.png" % n for n in FRAMES])
    body = entries((4, 4), (16, 79), (96, 255))
    check("alpha", lambda ident: {0} if ident == 0 else body)
    print("every pixel of %d frames, with identifiers and without, where it was asked to go"
          % len(FRAMES))


if __name__ == "__main__":
    main()
