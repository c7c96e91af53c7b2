// What kelvo may ask of the identifiers' ranges beyond what a settings block can hold:
// reserved entries, ranges of several spans, a method and an ordered dither per range.
// Plain data, shared by the command line, the settings text, the workers' setup and the engine.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
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
