// The render operation: palettises the host's frame in place and writes its PCX file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "plugin/palette_render_filter.h"
#include "render/frame_engine.h"
#include "render/frame_file.h"
#include "render/frame_mapper.h"

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

// The row buffer, followed by the indices worked out for the row: one allocation, so that
// it succeeds or fails as the row buffer alone would.
struct RowBuffer {
    static constexpr size_t BYTES_PER_PIXEL = sizeof(BMM_Color_64) + 1;

    explicit RowBuffer(int width)
        : block(AllocateZeroed<uint8_t>(static_cast<size_t>(width) * BYTES_PER_PIXEL)),
          pixels(reinterpret_cast<BMM_Color_64*>(block.get())),  // calloc aligns for any type
          indices(block.get() + static_cast<size_t>(width) * sizeof(BMM_Color_64)) {}

    Buffer<uint8_t> block;
    BMM_Color_64* pixels;
    uint8_t* indices;
};

// Maps again the one pixel whose one-pixel read differs from the whole-row read.
[[gnu::noinline]] int RemapPixel(FrameMapper& mapper, BMM_Color_64 pixel, unsigned id, int x, int y,
                                 uint8_t* rowIndices) {
    const int index = mapper.MapPixel(pixel, id, x, y);
    rowIndices[x] = static_cast<uint8_t>(index);
    return index;
}

// The rows of one frame; 0 when it stopped early. Each row's indices are worked out at once
// from the whole-row read, away from the host's calls; the host still gets one read and one
// write per pixel. A pixel whose one-pixel read differs from the row it came in is mapped
// again from what was read, so the result is always that of a render pixel by pixel.
template <typename Id>
int RenderRows(Bitmap& bitmap, HWND hostWindow, const Id* ids, int width, int height,
               const RowBuffer& row, FrameMapper& mapper, const uint64_t* colourBits,
               uint8_t* indices) {
    int32_t abort = 0;
    BMM_Color_64 pixel{};  // the pixel record: filled by each one-pixel read
    for (int y = 0; y < height; ++y) {
        SendMessageA(hostWindow, MSG_RENDER_PROGRESS, static_cast<WPARAM>(y),
                     static_cast<LPARAM>(height - 1));
        SendMessageA(hostWindow, MSG_RENDER_CHECK_ABORT, 0, reinterpret_cast<LPARAM>(&abort));
        if (abort != 0) {
            return 0;
        }
        if (bitmap.ReadPixels(0, y, width, row.pixels) != 1) {
            return 0;
        }
        const size_t rowStart = static_cast<size_t>(y) * static_cast<size_t>(width);
        const Id* idRow = ids + rowStart;
        mapper.MapRow(row.pixels, idRow, width, y, row.indices);
        // Locals, so that they stay in registers across the host's calls.
        const BMM_Color_64* const rowPixels = row.pixels;
        uint8_t* const rowIndices = row.indices;
        for (int x = 0; x < width; ++x) {
            bitmap.ReadPixels(x, y, 1, &pixel);
            const uint64_t bits = PixelBits(pixel);
            unsigned index = rowIndices[x];
            if (((bits ^ PixelBits(rowPixels[x])) & PIXEL_COLOUR_BITS) != 0) [[unlikely]] {
                index =
                    static_cast<unsigned>(RemapPixel(mapper, pixel, idRow[x], x, y, rowIndices));
            }
            const uint64_t palettised = PalettisedBits(bits, colourBits[index]);
            std::memcpy(&pixel, &palettised, sizeof pixel);
            bitmap.PutPixels(x, y, 1, &pixel);
        }
        std::memcpy(indices + rowStart, row.indices, static_cast<size_t>(width));
    }
    return 1;
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

    const RowBuffer row(width);
    if (!row.block) {
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

    FrameMapper mapper(settings);
    uint64_t colourBits[PALETTE_ENTRIES];
    FillEntryColourBits(settings.palette, colourBits);
    const int completed = channel == CHANNEL_MATERIAL_EFFECTS
                              ? RenderRows(*bitmap, hostWindow, static_cast<const uint8_t*>(ids),
                                           width, height, row, mapper, colourBits, indices.get())
                              : RenderRows(*bitmap, hostWindow, static_cast<const uint16_t*>(ids),
                                           width, height, row, mapper, colourBits, indices.get());
    if (completed == 0) {
        return 1;
    }
    // The host learns of the file only through the disk: the render's result stays 1.
    // Without the host's frame record there is no frame number to name the file by.
    if (filterInfo != nullptr) {
        WriteFrameFile(settings, filterInfo->frameNumber, indices.get(), width, height);
    }
    return 1;
}
