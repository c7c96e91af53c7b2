// Reads back an 8-bit run-length-encoded PCX frame: header, scan lines and palette trailer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pcx/palette.h"

struct PcxFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indices;  // width x height, row 0 first
    PaletteEntry palette[PALETTE_ENTRIES] = {};
};

// Accepts only what the writer produces: 8 bits, one plane, run-length encoding, a palette
// trailer after a 0x0C marker, and scan data that ends exactly where the trailer starts.
// Every length is checked before it is used; on 0 `frame` is unchanged.
int DecodePcxFrame(const uint8_t* data, size_t size, PcxFrame& frame);

// Reads the whole file and decodes it; 0 when it cannot be read or decoded.
int ReadPcxFrame(const char* path, PcxFrame& frame);

// Reads and decodes the file only when it can be a frame of `width` x `height`: no larger than
// such a frame's file at its worst (every byte escaped), with a header of that size whose
// lines are at most one byte longer (writers may pad them to even). So a file that lies costs
// no more memory than the frame. 0 when it is anything else, or cannot be read.
int ReadPcxFrameOfSize(const char* path, int width, int height, PcxFrame& frame);
