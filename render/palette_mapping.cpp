// Chooses a palette index for one pixel inside its identifier's colour range.
#include "render/palette_mapping.h"

#include <cstdint>

namespace {

// Between an entry (its bytes x 256) and a colour; below 2^34, so 64-bit integers give the
// same choices as the doubles the rule is stated in.
uint64_t SquaredDistance(const PaletteEntry& entry, uint16_t red, uint16_t green, uint16_t blue) {
    const int64_t dr = entry.red * 256 - red;
    const int64_t dg = entry.green * 256 - green;
    const int64_t db = entry.blue * 256 - blue;
    return static_cast<uint64_t>(dr * dr + dg * dg + db * db);
}

}  // namespace

int UniformIndex(ColorRange range, double luminance) {
    const int count = range.last - range.first + 1;
    const double scaled = count * luminance;
    // The division by 65536 is exact; the cast truncates toward zero.
    return range.first + static_cast<int>(scaled / 65536.0);
}

int DitheredIndex(ColorRange range, double luminance, int x, int y) {
    const int levels = 2 * (range.last - range.first) + 1;
    const double scaled = levels * luminance;
    const int level = static_cast<int>(scaled / 65536.0);
    int index = range.first + level / 2;
    if ((level & 1) != 0 && ((x + y) & 1) != 0) {
        ++index;
    }
    return index > 255 ? 255 : index;
}

int NearestIndex(const PaletteEntry* palette, ColorRange range, uint16_t red, uint16_t green,
                 uint16_t blue) {
    // Every squared distance is below 2^34, so 64-bit integers give the same choices as the
    // doubles the rule is stated in; the first entry always beats the starting 2^64.
    int best = range.first;
    uint64_t bestDistance = UINT64_MAX;
    for (int i = range.first; i <= range.last; ++i) {
        const uint64_t distance = SquaredDistance(palette[i], red, green, blue);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

std::bitset<PALETTE_ENTRIES> RangeEntries(ColorRange range) {
    std::bitset<PALETTE_ENTRIES> entries;
    for (int i = range.first; i <= range.last; ++i) {
        entries.set(static_cast<size_t>(i));
    }
    if (entries.none()) {
        entries.set(range.first);
    }
    return entries;
}

int NearestEntryIndex(const PaletteEntry* palette, const std::bitset<PALETTE_ENTRIES>& entries,
                      uint16_t red, uint16_t green, uint16_t blue) {
    int best = 0;
    uint64_t bestDistance = UINT64_MAX;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        if (!entries[static_cast<size_t>(i)]) {
            continue;
        }
        const uint64_t distance = SquaredDistance(palette[i], red, green, blue);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}
