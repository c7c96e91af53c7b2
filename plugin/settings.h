// The persisted settings block of one filter instance: 1084 bytes, stored by the host verbatim.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "pcx/palette.h"

constexpr int32_t SETTINGS_VERSION = 101;
constexpr size_t SETTINGS_BLOCK_SIZE = 1084;
constexpr int RANGE_COUNT = 16;
constexpr size_t OUTPUT_NAME_SIZE = 256;

// The codes are the identifiers of the dialog's radio buttons, which store them directly.
constexpr int32_t SOURCE_MATERIAL_EFFECTS = 1001;
constexpr int32_t SOURCE_OBJECT = 1002;
constexpr int32_t METHOD_UNIFORM = 1023;
constexpr int32_t METHOD_NEAREST = 1024;

#pragma pack(push, 1)
struct ColorRange {
    uint8_t first;   // first palette index, inclusive
    uint8_t last;    // last palette index, inclusive
    uint8_t dither;  // non-zero: checkerboard dither with METHOD_UNIFORM
};

// Copied byte for byte to and from the host's files: the layout never changes.
struct PaletteRenderSettings {
    int32_t version;                        // offset 0, always SETTINGS_VERSION
    int32_t source;                         // offset 4: SOURCE_MATERIAL_EFFECTS selects channel 2
    char outputName[OUTPUT_NAME_SIZE];      // offset 8, NUL-terminated when written by us
    int32_t method;                         // offset 264: METHOD_UNIFORM, anything else nearest
    PaletteEntry palette[PALETTE_ENTRIES];  // offset 268
    ColorRange ranges[RANGE_COUNT];         // offset 1036, record k for identifier k
};
#pragma pack(pop)

static_assert(std::endian::native == std::endian::little, "the block is stored little-endian");
static_assert(sizeof(ColorRange) == 3);
static_assert(sizeof(PaletteRenderSettings) == SETTINGS_BLOCK_SIZE);
static_assert(offsetof(PaletteRenderSettings, version) == 0);
static_assert(offsetof(PaletteRenderSettings, source) == 4);
static_assert(offsetof(PaletteRenderSettings, outputName) == 8);
static_assert(offsetof(PaletteRenderSettings, method) == 264);
static_assert(offsetof(PaletteRenderSettings, palette) == 268);
static_assert(offsetof(PaletteRenderSettings, ranges) == 1036);

// Fills the 3-3-2 palette: three bits of red, three of green, two of blue per index.
void SetDefaultPalette(PaletteEntry* palette);

// Version 101, material-effects channel, uniform mapping, 3-3-2 palette, all ranges 0,
// output name "kelv.pcx".
void SetDefaultSettings(PaletteRenderSettings& settings);

// Copies a stored block over `settings` when its first four bytes hold 101 (little-endian);
// otherwise returns 0 and leaves `settings` unchanged. No other field is checked.
int LoadSettingsBlock(PaletteRenderSettings& settings, const void* block);

// Copies the 1084 bytes of `settings` to `block`; 0 when `block` is null.
int SaveSettingsBlock(const PaletteRenderSettings& settings, void* block);

// The channel that selects a pixel's range: 2 for SOURCE_MATERIAL_EFFECTS, 4 for any other.
uint32_t SourceChannel(const PaletteRenderSettings& settings);
