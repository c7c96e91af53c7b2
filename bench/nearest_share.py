#!/usr/bin/env python3
"""The share of pixels that a palettising tool did not give the nearest palette entry,
measured in 8-bit RGB (squared distance) against the frames it was given:

  nearest_share.py PALETTE.png SOURCE_PATTERN RESULT_PATTERN FRAME...
      PALETTE.png     the 256 colours, as a 16 x 16 image (any mode Pillow reads)
      *_PATTERN       printf patterns of one frame number ("in/beauty_%04d.png")
Prints "SHARE" (0..1) over all the frames' pixels.
"""

import sys

import numpy as np
from PIL import Image


def nearest_distances(colours, palette):
    """The squared distance from each colour (N x 3) to its nearest palette entry."""
    best = np.full(len(colours), np.iinfo(np.int64).max, dtype=np.int64)
    for entry in palette:
        difference = colours - entry
        best = np.minimum(best, np.einsum("ij,ij->i", difference, difference))
    return best


def main():
    palette_file, source_pattern, result_pattern = sys.argv[1:4]
    palette = np.asarray(Image.open(palette_file).convert("RGB"), dtype=np.int64).reshape(-1, 3)
    wrong = total = 0
    for number in (int(n) for n in sys.argv[4:]):
        source = np.asarray(Image.open(source_pattern % number).convert("RGB"), dtype=np.int64)
        result = np.asarray(Image.open(result_pattern % number).convert("RGB"), dtype=np.int64)
        colours, inverse = np.unique(source.reshape(-1, 3), axis=0, return_inverse=True)
        nearest = nearest_distances(colours, palette)[inverse.reshape(-1)]
        chosen = source.reshape(-1, 3) - result.reshape(-1, 3)
        wrong += int(np.count_nonzero(np.einsum("ij,ij->i", chosen, chosen) > nearest))
        total += chosen.shape[0]
    print("%.6f" % (wrong / total))


if __name__ == "__main__":
    main()
