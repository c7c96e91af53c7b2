// The 256-entry palette layout shared by settings, PCX trailers and palette files.
#pragma once

#include <cstdint>

struct PaletteEntry {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

constexpr int PALETTE_ENTRIES = 256;
constexpr int PALETTE_BYTES = 768;  // PALETTE_ENTRIES x {red, green, blue}
static_assert(sizeof(PaletteEntry) == 3);
static_assert(sizeof(PaletteEntry[PALETTE_ENTRIES]) == PALETTE_BYTES);
