// How `kelvo render` reads its input frames, as the command line gives it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kelvo/imageio/exr_image.h"

struct InputOptions {
    std::string idsPattern;  // grey PNG per frame, '#' runs taking the frame number
    // OpenEXR colour and identifier channels. Its maxId (255 for the material channel, 65535
    // for the object channel) bounds the identifiers of the PNG passes too, and its maxPixels
    // (--max-pixels) the PNG frames.
    ExrRequest exr;
    // Stored identifier values and the identifiers they stand for (--id-map VALUE:ID), for
    // passes that mark an object with, say, 255; values not listed stand for themselves.
    std::vector<std::pair<uint16_t, uint16_t>> idMap;
    // --background-id N: pixels whose 16-bit alpha is below `alphaBelow` take identifier N
    // (after the map) before the filter sees them, and so do the pixels of an OpenEXR frame that
    // no part stores an identifier for. -1: none.
    int backgroundId = -1;
    uint32_t alphaBelow = 1;  // --alpha-threshold A: A x 65535 rounded up; 1 takes alpha 0 only
    // Count each identifier's luminances while checking, for --levels auto.
    bool measureLuminance = false;
    // With display windows, every OpenEXR frame of a run must have this size: that of the
    // first OpenEXR file, `exrFrameSizeFrom` (see PrepareExrInputs). 0: any size.
    int exrFrameWidth = 0;
    int exrFrameHeight = 0;
    std::string exrFrameSizeFrom;
};
