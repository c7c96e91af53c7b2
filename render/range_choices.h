// What kelvo may ask of the identifiers' ranges beyond what a settings block can hold:
// reserved entries, ranges of several spans, a method and an ordered dither per range.
// Plain data, with its text and byte forms, shared by the command line, the settings text, the
// workers' setup, the run's record and the engine.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pcx/palette.h"
#include "plugin/settings.h"

// first..last in palette order; first > last runs downward, as a block's range does.
struct IndexSpan {
    uint8_t first = 0;
    uint8_t last = 0;
    bool operator==(const IndexSpan&) const = default;
};

enum class RangeMethod : uint8_t { Uniform, Nearest };

// Ordered (positional) patterns, anchored to the frame's pixel (0, 0).
enum class DitherPattern : uint8_t { None, Checker, Bayer4, Bayer8 };

struct RangeChoice {
    // The range's entries, span after span; empty: the block's first..last.
    std::vector<IndexSpan> spans;
    std::optional<RangeMethod> method;    // unset: the block's method
    std::optional<DitherPattern> dither;  // unset: the block's dither flag (Checker or None)
    double strength = 1.0;                // of a Bayer pattern, 0..1
    bool operator==(const RangeChoice&) const = default;
};

struct RangeChoices {
    std::bitset<PALETTE_ENTRIES> reserved;  // no pixel of any identifier lands on these
    std::array<RangeChoice, RANGE_COUNT> ranges;
    bool operator==(const RangeChoices&) const = default;

    // True when the block alone says everything: nothing reserved and no range that asks for
    // more than first..last with its block's method and dither flag.
    bool Plain() const {
        return reserved.none() && ranges == std::array<RangeChoice, RANGE_COUNT>{};
    }
};

// Drops from each range's choice what the block says already: one span that is the block's
// first..last, the block's method, the pattern of its dither flag (Checker or None) or any
// pattern under nearest colour, and a strength where no Bayer pattern is chosen. The engine maps
// the same either way; what is left is what a settings block cannot hold.
void SimplifyRangeChoices(RangeChoices& choices, const PaletteRenderSettings& settings);

// "48-79,96-111": the spans as --range writes them, a one-entry span as its entry alone.
std::string FormatSpans(const std::vector<IndexSpan>& spans);

// "4,240-254": the reserved entries, runs of neighbours joined; "" when none is reserved.
std::string FormatReserved(const std::bitset<PALETTE_ENTRIES>& reserved);

// The choices as bytes, for a worker's setup and a run's record: the reserved entries as 32
// bytes (entry i is bit i % 8 of byte i / 8), then per range its span count (16 bits
// little-endian) and spans (first, last), method (0 unset, 1 uniform, 2 nearest), dither (0
// unset, then 1 + the DitherPattern) and strength (IEEE double bits, 64 bits little-endian).
std::vector<uint8_t> EncodeRangeChoices(const RangeChoices& choices);

// False, with `choices` unspecified, unless the bytes are exactly one encoding with known
// codes and strengths in 0..1.
[[nodiscard]] bool DecodeRangeChoices(const uint8_t* data, size_t size, RangeChoices& choices);
