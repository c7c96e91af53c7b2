// Writes a frame's palette indices as an 8-bit run-length-encoded PCX file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pcx/byte_sink.h"
#include "pcx/palette.h"
#include "pcx/pcx_format.h"

// Fills the 128-byte header of a width x height 8-bit single-plane image.
void FillPcxHeader(uint8_t (&header)[PCX_HEADER_SIZE], uint16_t width, uint16_t height);

// Encodes width x height indices, row 0 first, as run-length items. Runs never cross a scan
// line and are at most 63 long. Returns 0 as soon as the sink refuses bytes.
int EncodePcxImage(const uint8_t* indices, uint16_t width, uint16_t height, ByteSink& sink);

// Writes header, encoded image and palette trailer to `path`. The bytes go to a temporary file
// beside the target, which replaces the target only when every byte was written and the file
// closed cleanly; on any failure the target is left as it was and 0 is returned. Frames of
// zero width or height are refused.
int WritePcxFrame(const char* path, const uint8_t* indices, int width, int height,
                  const PaletteEntry* palette);
