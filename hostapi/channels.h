// Codes of the host's per-pixel identifier channels.
#pragma once

#include <cstdint>

constexpr uint32_t CHANNEL_MATERIAL_EFFECTS = 2;  // one unsigned byte per pixel
constexpr uint32_t CHANNEL_OBJECT = 4;            // one unsigned 16-bit value per pixel
