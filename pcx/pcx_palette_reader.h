// Reads a 256-colour palette from the last 768 bytes of a file.
#pragma once

#include "pcx/palette.h"

// Returns 1 and fills all 256 entries when the file opens and its last 768 bytes are read;
// returns 0 and leaves `palette` untouched otherwise (missing file, shorter than 768 bytes,
// failed seek or read).
int ReadPcxPalette(const char* path, PaletteEntry* palette);
