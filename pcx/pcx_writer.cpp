// Writes a frame's palette indices as an 8-bit run-length-encoded PCX file.
#include "pcx/pcx_writer.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "pcx/pcx_line_encoder.h"
#include "pcx/replace_file.h"

namespace {

// Rebuilt on every call; one frame is written at a time.
uint8_t headerBuffer[PCX_HEADER_SIZE];
uint8_t trailerBuffer[PCX_TRAILER_SIZE];

constexpr size_t FILE_BUFFER_SIZE = 1 << 16;

class FileSink final : public ByteSink {
public:
    explicit FileSink(FILE* file) : file_(file) {}
    int Write(const uint8_t* data, size_t size) override {
        return std::fwrite(data, 1, size, file_) == size ? 1 : 0;
    }

private:
    FILE* file_;
};

// A name in the target's directory, so that the final rename stays on one file system.
std::string TemporaryNameFor(const char* path) {
    static std::minstd_rand generator{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(generator()));
    return std::string(path) + suffix;
}

int WriteAll(FILE* file, const uint8_t* indices, uint16_t width, uint16_t height) {
    FileSink sink(file);
    return sink.Write(headerBuffer, sizeof headerBuffer) &&
           EncodePcxImage(indices, width, height, sink) &&
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

    // Out of memory fails the frame like a failed write: the render runs inside the host,
    // which must never see an exception, and the temporary file must not be left behind.
    std::string temporary;
    try {
        temporary = TemporaryNameFor(path);
    } catch (...) {
        return 0;
    }
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::setvbuf(file, nullptr, _IOFBF, FILE_BUFFER_SIZE);
    int written = 0;
    try {
        written = WriteAll(file, indices, static_cast<uint16_t>(width),
                           static_cast<uint16_t>(height));
    } catch (...) {
        written = 0;
    }
    // A failed close can lose buffered bytes: it fails the frame like a failed write.
    const int closed = std::fclose(file) == 0;
    if (written && closed && RenameOver(temporary.c_str(), path)) {
        return 1;
    }
    std::remove(temporary.c_str());
    return 0;
}
