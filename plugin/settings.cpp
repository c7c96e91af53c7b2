// The persisted settings block of one filter instance: defaults, load and save.
#include "plugin/settings.h"

#include <cstring>

#include "hostapi/channels.h"

void SetDefaultPalette(PaletteEntry* palette) {
    // 255/7 as a double; the products are truncated, giving 0, 36, 72, 109, ..., 255.
    const double level = 36.42857142857143;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        palette[i].red = static_cast<uint8_t>(((i >> 5) & 7) * level);
        palette[i].green = static_cast<uint8_t>(((i >> 2) & 7) * level);
        palette[i].blue = static_cast<uint8_t>((i & 3) * 85.0);
    }
}

void SetDefaultSettings(PaletteRenderSettings& settings) {
    settings.version = SETTINGS_VERSION;
    settings.source = SOURCE_MATERIAL_EFFECTS;
    settings.method = METHOD_UNIFORM;
    SetDefaultPalette(settings.palette);
    std::memset(settings.ranges, 0, sizeof settings.ranges);
    std::memset(settings.outputName, 0, sizeof settings.outputName);
    std::strcpy(settings.outputName, "kelv.pcx");
}

int LoadSettingsBlock(PaletteRenderSettings& settings, const void* block) {
    if (block == nullptr) {
        return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(block);
    const uint32_t tag = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                         uint32_t{bytes[3]} << 24;
    if (tag != SETTINGS_VERSION) {
        return 0;
    }
    std::memcpy(&settings, block, SETTINGS_BLOCK_SIZE);
    return 1;
}

int SaveSettingsBlock(const PaletteRenderSettings& settings, void* block) {
    if (block == nullptr) {
        return 0;
    }
    std::memcpy(block, &settings, SETTINGS_BLOCK_SIZE);
    return 1;
}

uint32_t SourceChannel(const PaletteRenderSettings& settings) {
    return settings.source == SOURCE_MATERIAL_EFFECTS ? CHANNEL_MATERIAL_EFFECTS : CHANNEL_OBJECT;
}
