#!/usr/bin/python3
"""Writes the palette files of this folder as other programs write them, for
tests/palette_file_test.cpp: text and binary formats written here byte by byte, and the PCX and
PNG files by Pillow (Debian's python3-pil). Entry i of every palette is colour(i) (6-bit files:
each value divided by 4); files of fewer entries hold the first ones. Run from anywhere; the
files are committed, so the tests need neither Python nor Pillow.
"""

import os
import struct

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))


def colour(i):
    # Each channel steps by an odd number, so the 256 entries are 256 different colours.
    return ((i * 67 + 13) % 256, (i * 151 + 101) % 256, (i * 29 + 200) % 256)


def entries(count):
    return [colour(i) for i in range(count)]


def write(name, data):
    if isinstance(data, str):
        data = data.encode("ascii")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def raw(colours):
    return bytes(v for c in colours for v in c)


def pillow(name, count, fmt):
    image = Image.new("P", (16, 16))
    image.putdata([i % count for i in range(256)])
    image.putpalette(raw(entries(count)))
    image.save(os.path.join(HERE, name), fmt)


def main():
    pillow("pillow.pcx", 256, "PCX")
    pillow("pillow.png", 256, "PNG")
    pillow("pillow_16.png", 16, "PNG")

    lines = ["%d %d %d" % c for c in entries(256)]
    write("jasc_crlf.pal", "JASC-PAL\r\n0100\r\n256\r\n" + "".join(l + "\r\n" for l in lines))
    # Another version line, an alpha column and LF, as some editors write.
    write("jasc_alpha_lf.pal",
          "JASC-PAL\n0101\n256\n" + "".join(l + " 255\n" for l in lines))
    write("gimp.gpl",
          "GIMP Palette\nName: Kelvo test\nColumns: 16\n#\n# made for kelvo's tests\n" +
          "".join("%3d %3d %3d\tEntry %d\n" % (c + (i,)) for i, c in enumerate(entries(256))))
    write("aseprite.gpl",
          "GIMP Palette\nChannels: RGBA\n#\n" +
          "".join("%3d %3d %3d %3d\tEntry %d\n" % (c + (200, i))
                  for i, c in enumerate(entries(256))))
    # 240 colours, entry 3 transparent; the rest of the 768 bytes zero, as Photoshop writes.
    write("photoshop.act", raw(entries(240)) + bytes(48) + struct.pack(">HH", 240, 3))
    write("raw8.pal", raw(entries(256)))
    write("raw6.pal", bytes(v >> 2 for v in raw(entries(256))))
    data = struct.pack("<HH", 0x0300, 256) + b"".join(bytes(c) + b"\0" for c in entries(256))
    chunk = b"data" + struct.pack("<I", len(data)) + data
    write("riff.pal", b"RIFF" + struct.pack("<I", 4 + len(chunk)) + b"PAL " + chunk)
    write("lospec.hex", "".join("%02x%02x%02x\n" % c for c in entries(32)))


main()
