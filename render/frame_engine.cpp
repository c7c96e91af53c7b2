// Palettises frames in bulk: 16-bit RGBA pixels and identifiers in, indices and colours out.
#include "render/frame_engine.h"

#include <algorithm>
#include <cstring>
#include <new>

void FillEntryColourBits(const PaletteEntry* palette, uint64_t (&bits)[PALETTE_ENTRIES]) {
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        bits[i] = PixelBits({static_cast<uint16_t>(palette[i].red << 8),
                             static_cast<uint16_t>(palette[i].green << 8),
                             static_cast<uint16_t>(palette[i].blue << 8), 0});
    }
}

FrameEngine::FrameEngine(const PaletteRenderSettings& settings, const RangeChoices& choices)
    : settings_(settings),
      choices_(choices),
      closed_(::ClosedRanges(settings, choices)),
      mapper_(settings_, choices_),
      material_(SourceChannel(settings) == CHANNEL_MATERIAL_EFFECTS) {
    FillEntryColourBits(settings_.palette, entryBits_);
}

bool FrameEngine::FitRows(int width) noexcept {
    const auto count = static_cast<size_t>(width < 0 ? 0 : width);
    try {
        if (row_.size() < count) {
            row_.resize(count);
            rowIds_.resize(count);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void FrameEngine::MapRow(const FramePixels& frame, int y, uint8_t* indices, uint16_t* colours) {
    const auto width = static_cast<size_t>(frame.width);
    const size_t start = static_cast<size_t>(y) * width;
    // The pixels as the bitmap holds them: four 16-bit values in RGBA order.
    std::memcpy(row_.data(), frame.rgba + start * 4, width * sizeof(BMM_Color_64));
    if (frame.ids == nullptr) {
        std::fill_n(rowIds_.begin(), width, uint8_t{0});
        mapper_.MapRow(row_.data(), rowIds_.data(), frame.width, y, indices);
    } else if (material_) {
        // The material channel holds an identifier's low byte.
        std::transform(frame.ids + start, frame.ids + start + width, rowIds_.begin(),
                       [](uint16_t id) { return static_cast<uint8_t>(id); });
        mapper_.MapRow(row_.data(), rowIds_.data(), frame.width, y, indices);
    } else {
        mapper_.MapRow(row_.data(), frame.ids + start, frame.width, y, indices);
    }
    if (colours != nullptr) {
        for (size_t x = 0; x < width; ++x) {
            const uint64_t bits = PalettisedBits(PixelBits(row_[x]), entryBits_[indices[x]]);
            std::memcpy(colours + 4 * x, &bits, sizeof bits);
        }
    }
}
