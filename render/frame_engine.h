// Palettises frames in bulk: 16-bit RGBA pixels and identifiers in, indices and colours out.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "hostapi/host_api.h"
#include "pcx/palette.h"
#include "plugin/settings.h"
#include "render/frame_mapper.h"
#include "render/range_choices.h"

// A pixel as one 64-bit word, laid out as the bitmap holds it, so that whole pixels are
// compared and combined in one operation.
constexpr uint64_t PixelBits(const BMM_Color_64& pixel) {
    return std::bit_cast<uint64_t>(pixel);
}

// The colour and alpha parts of a pixel word.
constexpr uint64_t PIXEL_COLOUR_BITS = PixelBits({0xFFFF, 0xFFFF, 0xFFFF, 0});
constexpr uint64_t PIXEL_ALPHA_BITS = PixelBits({0, 0, 0, 0xFFFF});

// Every palette entry as the colour it gives the bitmap: its red, green and blue x 256, alpha 0.
void FillEntryColourBits(const PaletteEntry* palette, uint64_t (&bits)[PALETTE_ENTRIES]);

// A palettised pixel: its entry's colour, its own alpha kept.
inline uint64_t PalettisedBits(uint64_t pixelBits, uint64_t entryBits) {
    return (pixelBits & PIXEL_ALPHA_BITS) | entryBits;
}

// A frame as the engine reads it. `rgba`: 4 values a pixel (red, green, blue, alpha), rows
// contiguous, top row first. `ids`: one identifier a pixel in the same order, or null when
// every identifier is 0.
struct FramePixels {
    int width = 0;
    int height = 0;
    const uint16_t* rgba = nullptr;
    const uint16_t* ids = nullptr;
};

// Maps frames under one settings block exactly as the plug-in's render does, and under the
// range choices kelvo adds (reserved entries, spans, a method and pattern per range; with
// Plain() choices the indices are the plug-in's): the settings' `source` says whether an
// identifier is seen as the 8-bit material channel sees it (its low byte) or whole, as the
// object channel holds it. The engine keeps its nearest-colour searches from one frame to the
// next (the plug-in's render makes its own each frame).
class FrameEngine {
public:
    // The settings and choices are copied: later changes to them do not reach the engine.
    // Throws std::bad_alloc.
    explicit FrameEngine(const PaletteRenderSettings& settings, const RangeChoices& choices = {});
    FrameEngine(const FrameEngine&) = delete;
    FrameEngine& operator=(const FrameEngine&) = delete;

    const PaletteRenderSettings& Settings() const { return settings_; }
    const RangeChoices& Choices() const { return choices_; }

    // The ranges (bit k: range k) with no usable entry left (ClosedRanges). Their pixels are
    // mapped by the block alone, which may give a reserved entry: a caller refuses frames
    // holding them.
    uint32_t ClosedRanges() const { return closed_; }

    // Makes room for rows of `width` pixels; false when there is no memory for them. Call
    // before MapRow for a frame of that width (a narrower frame needs no new call).
    [[nodiscard]] bool FitRows(int width) noexcept;

    // The indices of row y of `frame` (frame.width of them) and, when `colours` is not null,
    // its pixels as the plug-in leaves them in the bitmap (4 values a pixel, as `rgba`).
    // FitRows must have made room for frame.width.
    void MapRow(const FramePixels& frame, int y, uint8_t* indices, uint16_t* colours = nullptr);

private:
    PaletteRenderSettings settings_;
    RangeChoices choices_;
    uint32_t closed_;
    FrameMapper mapper_;  // reads `settings_`, declared before it
    bool material_;
    uint64_t entryBits_[PALETTE_ENTRIES];
    std::vector<BMM_Color_64> row_;
    std::vector<uint8_t> rowIds_;  // material identifiers, or zeros for a frame without any
};
