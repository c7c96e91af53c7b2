// Names a completed frame's file after the frame number and writes it as PCX.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/settings.h"

constexpr size_t FRAME_NAME_SIZE = 256;

// Builds the frame's file name: `outputName` (bounded by its 256 bytes) with everything from
// the first '.' of its file-name part on replaced by the frame number as "%04d.pcx". The
// directory part is kept whole. Returns 0, and leaves `name` empty, when the name would not
// fit in 255 characters: a shortened name could overwrite another file.
int BuildFrameFileName(const char (&outputName)[OUTPUT_NAME_SIZE], int frameNumber,
                       char (&name)[FRAME_NAME_SIZE]);

// Writes the completed frame's index image under its frame file name. Returns 1 when the
// whole file was written; 0 for an empty frame, a name that does not fit, or a failed write.
int WriteFrameFile(const PaletteRenderSettings& settings, int frameNumber, const uint8_t* indices,
                   int width, int height);
