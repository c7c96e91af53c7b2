// Chooses a palette index for one pixel inside its identifier's colour range.
#pragma once

#include <bitset>
#include <cstdint>

#include "pcx/palette.h"
#include "plugin/settings.h"

// (0.3 R + 0.59 G) + 0.11 B in IEEE double, rounded after each step in exactly this order
// (the build forbids contracting a product and a sum into one rounding). Inline, because
// the render loop computes it for every pixel.
inline double Luminance(uint16_t red, uint16_t green, uint16_t blue) {
    const double redPart = 0.3 * red;
    const double greenPart = 0.59 * green;
    const double sum = redPart + greenPart;
    return sum + 0.11 * blue;
}

// The luminance spread evenly over first..last; a reversed range runs downward from first.
int UniformIndex(ColorRange range, double luminance);

// Like UniformIndex with the half-way levels between neighbours shown as a two-pixel
// checkerboard. A reversed range starting at 255 would reach 256 at odd pixels; it stays 255.
int DitheredIndex(ColorRange range, double luminance, int x, int y);

// The entry of first..last nearest to the colour (squared distance, palette bytes x 256);
// the lowest index wins ties. A reversed range gives first.
int NearestIndex(const PaletteEntry* palette, ColorRange range, uint16_t red, uint16_t green,
                 uint16_t blue);

// The entries NearestIndex looks at: first..last, or `first` alone for a reversed range.
std::bitset<PALETTE_ENTRIES> RangeEntries(ColorRange range);

// NearestIndex over a set of entries (not empty): the lowest index wins ties.
int NearestEntryIndex(const PaletteEntry* palette, const std::bitset<PALETTE_ENTRIES>& entries,
                      uint16_t red, uint16_t green, uint16_t blue);

// The range that serves identifier `id`: identifiers beyond the 16 ranges are served by
// range 0, so the bitmap and the file always agree.
inline const ColorRange& RangeForId(const PaletteRenderSettings& settings, unsigned id) {
    return settings.ranges[id < RANGE_COUNT ? id : 0];
}
