// How each identifier's range maps its pixels: by the settings block alone, as the plug-in
// does, or over the usable entries that kelvo's range choices leave.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

#include "plugin/settings.h"
#include "render/range_choices.h"

// One range's rule, settled once for a whole run.
struct RangeRule {
    // The block's record decides exactly as the plug-in's render does (UniformIndex,
    // DitheredIndex or NearestIndex under the block's method); the fields below are unused.
    // Also set for a range with no usable entry, which callers refuse (see `closed`).
    bool fromBlock = true;
    // No usable entry is left: the block's record still answers, and may name a reserved
    // entry, so a caller must not let such a pixel through.
    bool closed = false;
    RangeMethod method = RangeMethod::Uniform;
    DitherPattern pattern = DitherPattern::None;  // only with RangeMethod::Uniform
    double strength = 1.0;                        // of a Bayer pattern, 0..1
    std::vector<uint8_t> entries;                 // the usable entries, in the range's order
    std::bitset<PALETTE_ENTRIES> entrySet;        // the same entries, for the nearest search
};

// The range's entries in order (its spans', or the block's first..last, either way round),
// without reserved entries, each once, at its first place.
std::vector<uint8_t> UsableEntries(const ColorRange& block, const RangeChoice& choice,
                                   const std::bitset<PALETTE_ENTRIES>& reserved);

// The rule of range `rangeIndex` (0..15). A range keeps the block's rule when its choice adds
// nothing the block does not say already and no reserved entry lies between its first and last
// entry (or is first + 1 of a reversed range, which the checkerboard reaches); otherwise it maps
// over UsableEntries by its method (the choice's, else the block's) and pattern (the choice's, else
// Checker or None by the block's dither flag). A strength out of 0..1 is held to it (not a number:
// 1).
RangeRule RangeRuleOf(const PaletteRenderSettings& settings, const RangeChoices& choices,
                      int rangeIndex);

// The ranges (bit k: range k) with no usable entry.
uint32_t ClosedRanges(const PaletteRenderSettings& settings, const RangeChoices& choices);

// The value of the standard recursive Bayer matrix of the pattern (4 x 4 or 8 x 8, values
// 0..N²-1) at row y mod N, column x mod N.
int BayerValue(DitherPattern pattern, int x, int y);

// Where among `count` (at least 1) usable entries a pixel of `luminance` at frame pixel
// (x, y) lands, 0..count-1, in IEEE double:
//   None:    trunc(count x L / 65536), as UniformIndex;
//   Checker: level = trunc((2 count - 1) x L / 65536), level / 2, plus one for an odd level
//            where x + y is odd, as DitheredIndex;
//   Bayer:   u = count x L / 65536, t = (M + 0.5) / N², floor(u + s x (t - 0.5)) held to
//            0..count-1, with M = BayerValue and s the strength.
int SpreadPosition(int count, DitherPattern pattern, double strength, double luminance, int x,
                   int y);
