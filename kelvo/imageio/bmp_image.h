// Writes a palettised frame as an 8-bit BMP file, uncompressed or RLE8, with all 256 entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pcx/byte_sink.h"
#include "pcx/palette.h"

// File header (14 bytes) and BITMAPINFOHEADER (40 bytes); every field is little-endian.
constexpr size_t BMP_SIGNATURE = 0;         // 2: "BM"
constexpr size_t BMP_FILE_SIZE = 2;         // 4: the whole file
constexpr size_t BMP_PIXELS_AT = 10;        // 4: where the pixels start, BMP_PIXELS_OFFSET
constexpr size_t BMP_INFO_SIZE = 14;        // 4: 40
constexpr size_t BMP_WIDTH = 18;            // 4: width
constexpr size_t BMP_HEIGHT = 22;           // 4: height, positive: the bottom row comes first
constexpr size_t BMP_PLANES = 26;           // 2: 1
constexpr size_t BMP_BIT_COUNT = 28;        // 2: 8
constexpr size_t BMP_COMPRESSION = 30;      // 4: BMP_RGB or BMP_RLE8
constexpr size_t BMP_IMAGE_SIZE = 34;       // 4: bytes of pixel data
constexpr size_t BMP_COLORS_USED = 46;      // 4: 256
constexpr size_t BMP_HEADER_SIZE = 54;      // then 256 x {blue, green, red, 0}
constexpr size_t BMP_PIXELS_OFFSET = 1078;  // header and colour table
constexpr uint32_t BMP_RGB = 0;             // rows of indices, each padded to 4 bytes
constexpr uint32_t BMP_RLE8 = 1;            // run-length items, ended per row and at the end

// Encodes width x height indices (row 0 at the top) as a BMP file into `sink`: the headers, the
// 256-entry colour table in the palette's order, then the rows from the bottom up, either each
// padded with zeros to a multiple of 4 bytes or, with `rle`, as RLE8: runs of 2 to 255 equal
// indices as (count, index), stretches of 3 to 255 others as (0, count, indices, a zero to an
// even length), lone indices as runs of one, each row ended by (0, 0) and the image by (0, 1).
// Returns 0 when the sink refuses bytes, or for a frame of no pixels or whose file would not
// fit BMP's 32-bit sizes.
int EncodeBmp(const uint8_t* indices, int width, int height, const PaletteEntry* palette, bool rle,
              ByteSink& sink);

// EncodeBmp to `path` through a temporary file beside it that replaces it only when complete.
// On 0, `error` holds the reason and `path` is as it was.
[[nodiscard]] int WriteIndexedBmp(const std::string& path, const uint8_t* indices, int width,
                                  int height, const PaletteEntry* palette, bool rle,
                                  std::string& error);
