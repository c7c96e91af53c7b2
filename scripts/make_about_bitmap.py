#!/usr/bin/env python3
"""Writes the About box picture: a 60 x 59, 16-colour BMP of a dithered sphere on a floor.

The sphere is shaded the way the filter maps pixels: each pixel's brightness is spread over a
range of palette entries, with the half-way levels shown as a two-pixel checkerboard.
Usage: make_about_bitmap.py OUTPUT.bmp
"""
import math
import struct
import sys

WIDTH = 60
HEIGHT = 59

# 16 colours as (red, green, blue).
PALETTE = [
    (0, 0, 0),         # 0 outline
    (16, 24, 72),      # 1-7 sphere, dark to light
    (24, 40, 112),
    (32, 64, 152),
    (48, 96, 192),
    (80, 136, 224),
    (128, 176, 240),
    (184, 216, 255),
    (255, 255, 255),   # 8 highlight
    (40, 44, 56),      # 9-10 floor tiles
    (72, 78, 96),
    (20, 22, 30),      # 11 shadow
    (24, 28, 48),      # 12-15 sky, dark to light
    (36, 44, 72),
    (52, 64, 100),
    (72, 88, 132),
]
SPHERE = (1, 7)
SKY = (12, 15)
HORIZON = 38


def dithered(level, first, last, x, y):
    """Maps level 0..1 onto first..last with a checkerboard for the half-way levels."""
    steps = 2 * (last - first) + 1
    h = min(int(level * steps), steps - 1)
    index = first + h // 2
    if h % 2 == 1 and (x + y) % 2 == 1:
        index += 1
    return index


def pixel(x, y):
    cx, cy, radius = 29.5, 30.0, 19.0
    dx, dy = (x - cx) / radius, (y - cy) / radius
    d2 = dx * dx + dy * dy
    if d2 <= 1.0:
        dz = math.sqrt(1.0 - d2)
        # Light from the upper left, towards the viewer.
        lx, ly, lz = -0.5, -0.6, 0.62
        diffuse = max(0.0, dx * lx + dy * ly + dz * lz)
        if diffuse > 0.97:
            return 8
        return dithered(0.08 + 0.92 * diffuse, SPHERE[0], SPHERE[1], x, y)
    if d2 <= 1.12:
        return 0
    if y >= HORIZON:
        sx, sy = (x - 33.0) / 20.0, (y - 52.0) / 4.5
        if sx * sx + sy * sy <= 1.0:
            return 11
        return 9 if ((x // 6) + ((y - HORIZON) // 4)) % 2 == 0 else 10
    return dithered(y / HORIZON, SKY[0], SKY[1], x, y)


def bitmap_bytes():
    row_size = (WIDTH * 4 + 31) // 32 * 4
    rows = []
    for y in range(HEIGHT - 1, -1, -1):  # bottom row first
        nibbles = [pixel(x, y) for x in range(WIDTH)]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, WIDTH, 2))
        rows.append(packed + bytes(row_size - len(packed)))
    image = b"".join(rows)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    offset = 14 + 40 + len(colours)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(image), 2835, 2835,
                       len(PALETTE), 0)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    return header + info + colours + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_about_bitmap.py OUTPUT.bmp")
    data = bitmap_bytes()
    with open(sys.argv[1], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
