// A deterministic test frame and filter settings, rendered alike by every build of the module:
// greys at the edges of the luminance levels, dither levels, colours and identifiers.
#pragma once

#include <cstdint>
#include <vector>

#include "host/memory_bitmap.h"
#include "plugin/settings.h"

constexpr WORD REFERENCE_WIDTH = 64;
constexpr WORD REFERENCE_HEIGHT = 40;

enum ReferenceVariant {
    REFERENCE_UNIFORM,  // luminance mapping, material-effects identifiers
    REFERENCE_NEAREST,  // nearest colour, object identifiers
};

// Fills the frame's pixels and both identifier channels; integer arithmetic only.
void FillReferenceFrame(MemoryBitmap& frame);

// Default settings with the variant's method, source, ranges and palette changes.
void SetReferenceSettings(PaletteRenderSettings& settings, ReferenceVariant variant);

// FNV-1a over the bytes: a short, exact fingerprint of a file or a bitmap.
uint64_t Fingerprint(const uint8_t* data, size_t size);
// The bitmap's pixels as stored: red, green, blue, alpha, little-endian, row by row.
uint64_t BitmapFingerprint(MemoryBitmap& frame);
