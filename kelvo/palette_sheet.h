// A palette drawn as a swatch sheet: 16 x 16 cells in index order, each with its number.
#pragma once

#include <cstdint>
#include <vector>

#include "pcx/palette.h"

constexpr int SHEET_CELL = 32;               // pixels a side
constexpr int SHEET_SIDE = 16 * SHEET_CELL;  // the sheet is square

// The sheet's palette indices, row by row, SHEET_SIDE a side. Cell i (row i / 16, column
// i % 16) is entry i, with i written in its top-left corner in whichever entry of the palette
// stands out most from it (the darkest on a light cell, the lightest on a dark one), so the
// sheet holds nothing but the palette's own colours.
std::vector<uint8_t> DrawPaletteSheet(const PaletteEntry* palette);

// The luminance of an entry as the filter weighs it (0.3, 0.59, 0.11), on 0..255.
double EntryLuminance(const PaletteEntry& entry);
