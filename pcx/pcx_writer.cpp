// Writes a frame's palette indices as an 8-bit run-length-encoded PCX file.
#include "pcx/pcx_writer.h"

#include <cstring>
#include <string>

#include "pcx/atomic_file.h"
#include "pcx/pcx_line_encoder.h"

namespace {

// Rebuilt on every call; one frame is written at a time.
uint8_t headerBuffer[PCX_HEADER_SIZE];
uint8_t trailerBuffer[PCX_TRAILER_SIZE];

struct FrameContents {
    const uint8_t* indices;
    uint16_t width;
    uint16_t height;
};

int WriteFrameContents(ByteSink& sink, void* context) {
    const auto& frame = *static_cast<const FrameContents*>(context);
    return sink.Write(headerBuffer, sizeof headerBuffer) &&
           EncodePcxImage(frame.indices, frame.width, frame.height, sink) &&
           sink.Write(trailerBuffer, sizeof trailerBuffer);
}

}  // namespace

void FillPcxHeader(uint8_t (&header)[PCX_HEADER_SIZE], uint16_t width, uint16_t height) {
    std::memset(header, 0, sizeof header);
    header[PCX_MANUFACTURER] = PCX_MANUFACTURER_ZSOFT;
    header[PCX_VERSION] = PCX_VERSION_5;
    header[PCX_ENCODING] = PCX_ENCODING_RLE;
    header[PCX_BITS_PER_PIXEL] = 8;
    PutLe16(header + PCX_XMAX, static_cast<uint16_t>(width - 1));
    PutLe16(header + PCX_YMAX, static_cast<uint16_t>(height - 1));
    header[PCX_PLANES] = 1;
    PutLe16(header + PCX_BYTES_PER_LINE, width);
}

int EncodePcxImage(const uint8_t* indices, uint16_t width, uint16_t height, ByteSink& sink) {
    // One scan line encodes to at most two bytes per pixel.
    std::string line(2 * static_cast<size_t>(width), '\0');
    auto* out = reinterpret_cast<uint8_t*>(line.data());
    for (uint16_t y = 0; y < height; ++y) {
        const uint8_t* row = indices + static_cast<size_t>(y) * width;
        const size_t used = EncodePcxLine(row, width, out);
        if (!sink.Write(out, used)) {
            return 0;
        }
    }
    return 1;
}

int WritePcxFrame(const char* path, const uint8_t* indices, int width, int height,
                  const PaletteEntry* palette) {
    if (width < 1 || width > 0xFFFF || height < 1 || height > 0xFFFF) {
        return 0;
    }
    FillPcxHeader(headerBuffer, static_cast<uint16_t>(width), static_cast<uint16_t>(height));
    trailerBuffer[0] = PCX_PALETTE_MARKER;
    std::memcpy(trailerBuffer + 1, palette, PALETTE_BYTES);

    FrameContents frame{indices, static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
    return WriteFileAtomically(path, WriteFrameContents, &frame);
}
