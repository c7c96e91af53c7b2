// The render operation: palettises the host's frame in place and writes its PCX file.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "plugin/palette_render_filter.h"
#include "render/frame_file.h"
#include "render/palette_mapping.h"

namespace {

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

template <typename T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

template <typename T>
Buffer<T> AllocateZeroed(size_t count) {
    return Buffer<T>(static_cast<T*>(std::calloc(count == 0 ? 1 : count, sizeof(T))));
}

int ChooseIndex(const PaletteRenderSettings& settings, const ColorRange& range,
                const BMM_Color_64& pixel, int x, int y) {
    if (settings.method == METHOD_UNIFORM) {
        const double luminance = Luminance(pixel.r, pixel.g, pixel.b);
        return range.dither != 0 ? DitheredIndex(range, luminance, x, y)
                                 : UniformIndex(range, luminance);
    }
    return NearestIndex(settings.palette, range, pixel.r, pixel.g, pixel.b);
}

}  // namespace

int PaletteRenderFilter::RenderFrame(HWND hostWindow) {
    Bitmap* bitmap = sourceMap;
    if (bitmap == nullptr) {
        return 0;
    }
    const int width = bitmap->Width();
    const int height = bitmap->Height();
    // Both sides are at most 65535, so the product fits even a 32-bit size_t.
    const size_t pixelCount = static_cast<size_t>(width) * static_cast<size_t>(height);

    Buffer<BMM_Color_64> row = AllocateZeroed<BMM_Color_64>(static_cast<size_t>(width));
    if (!row) {
        return 1;
    }
    Buffer<uint8_t> indices = AllocateZeroed<uint8_t>(pixelCount);
    if (!indices) {
        return 1;
    }
    const uint32_t channel = SourceChannel(settings);
    ULONG channelType = 0;
    const void* ids = bitmap->GetChannelData(channel, channelType);
    if (ids == nullptr) {
        return 1;
    }
    const auto* materialIds = static_cast<const uint8_t*>(ids);
    const auto* objectIds = static_cast<const uint16_t*>(ids);

    int32_t abort = 0;
    for (int y = 0; y < height; ++y) {
        SendMessageA(hostWindow, MSG_RENDER_PROGRESS, static_cast<WPARAM>(y),
                     static_cast<LPARAM>(height - 1));
        SendMessageA(hostWindow, MSG_RENDER_CHECK_ABORT, 0, reinterpret_cast<LPARAM>(&abort));
        if (abort != 0) {
            return 1;
        }
        if (bitmap->ReadPixels(0, y, width, row.get()) != 1) {
            return 1;
        }
        const size_t rowStart = static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x) {
            const size_t at = rowStart + static_cast<size_t>(x);
            const unsigned id = channel == CHANNEL_MATERIAL_EFFECTS ? materialIds[at] : objectIds[at];
            BMM_Color_64 pixel{};
            bitmap->ReadPixels(x, y, 1, &pixel);
            const int index = ChooseIndex(settings, RangeForId(settings, id), pixel, x, y);
            indices[at] = static_cast<uint8_t>(index);
            const PaletteEntry& colour = settings.palette[index];
            pixel.r = static_cast<uint16_t>(colour.red << 8);
            pixel.g = static_cast<uint16_t>(colour.green << 8);
            pixel.b = static_cast<uint16_t>(colour.blue << 8);
            bitmap->PutPixels(x, y, 1, &pixel);
        }
    }
    // The host learns of the file only through the disk: the render's result stays 1.
    // Without the host's frame record there is no frame number to name the file by.
    if (filterInfo != nullptr) {
        WriteFrameFile(settings, filterInfo->frameNumber, indices.get(), width, height);
    }
    return 1;
}
