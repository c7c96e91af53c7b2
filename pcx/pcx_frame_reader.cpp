// Reads back an 8-bit run-length-encoded PCX frame: header, scan lines and palette trailer.
#include "pcx/pcx_frame_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "pcx/byte_sink.h"
#include "pcx/pcx_format.h"

int DecodePcxFrame(const uint8_t* data, size_t size, PcxFrame& frame) {
    if (data == nullptr || size < PCX_HEADER_SIZE + PCX_TRAILER_SIZE) {
        return 0;
    }
    if (data[PCX_MANUFACTURER] != PCX_MANUFACTURER_ZSOFT ||
        data[PCX_ENCODING] != PCX_ENCODING_RLE || data[PCX_BITS_PER_PIXEL] != 8 ||
        data[PCX_PLANES] != 1) {
        return 0;
    }
    // Window: xmin at offset 4, ymin at 6 (little-endian 16-bit).
    const int xMin = GetLe16(data + 4);
    const int yMin = GetLe16(data + 6);
    const int xMax = GetLe16(data + PCX_XMAX);
    const int yMax = GetLe16(data + PCX_YMAX);
    const size_t bytesPerLine = GetLe16(data + PCX_BYTES_PER_LINE);
    if (xMax < xMin || yMax < yMin) {
        return 0;
    }
    const size_t width = static_cast<size_t>(xMax - xMin + 1);
    const size_t height = static_cast<size_t>(yMax - yMin + 1);
    if (bytesPerLine < width) {
        return 0;
    }
    const size_t trailer = size - PCX_TRAILER_SIZE;
    if (data[trailer] != PCX_PALETTE_MARKER) {
        return 0;
    }
    // Both factors are below 65537, so the product fits a 32-bit size_t. Lines without
    // padding (as this program writes them) are the indices themselves.
    std::vector<uint8_t> lines(bytesPerLine * height);
    size_t at = PCX_HEADER_SIZE;
    size_t filled = 0;
    while (filled < lines.size()) {
        if (at >= trailer) {
            return 0;
        }
        uint8_t value = data[at++];
        size_t count = 1;
        if ((value & PCX_RUN_FLAG) == PCX_RUN_FLAG) {
            count = value & ~PCX_RUN_FLAG & 0xFF;
            if (at >= trailer || count > lines.size() - filled) {
                return 0;
            }
            value = data[at++];
        }
        std::memset(lines.data() + filled, value, count);
        filled += count;
    }
    if (at != trailer) {
        return 0;
    }
    frame.width = static_cast<int>(width);
    frame.height = static_cast<int>(height);
    if (bytesPerLine == width) {
        frame.indices = std::move(lines);
    } else {
        frame.indices.resize(width * height);
        for (size_t y = 0; y < height; ++y) {
            std::memcpy(frame.indices.data() + y * width, lines.data() + y * bytesPerLine, width);
        }
    }
    std::memcpy(frame.palette, data + trailer + 1, PALETTE_BYTES);
    return 1;
}

namespace {

// The file's bytes, or 0 when it cannot be read or holds more than `limit` bytes.
int ReadAtMost(const char* path, size_t limit, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return 0;
    }
    // Room for what the file holds now, so that a frame's megabytes are not copied again at
    // each doubling of the buffer; a file that grows meanwhile is still read to its end.
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long end = std::ftell(file);  // -1 beyond long's range: no room is made
        if (end > 0) {
            bytes.reserve(static_cast<size_t>(end) < limit ? static_cast<size_t>(end) : limit);
        }
    }
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return 0;
    }
    uint8_t chunk[1 << 14];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && bytes.size() <= limit) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed && bytes.size() <= limit;
}

}  // namespace

int ReadPcxFrame(const char* path, PcxFrame& frame) {
    std::vector<uint8_t> bytes;
    return ReadAtMost(path, SIZE_MAX, bytes) && DecodePcxFrame(bytes.data(), bytes.size(), frame);
}

int ReadPcxFrameOfSize(const char* path, int width, int height, PcxFrame& frame) {
    if (width < 1 || height < 1 || width > 65536 || height > 65536) {
        return 0;
    }
    // Each line of at most width + 1 bytes, every byte a two-byte escape at worst.
    const unsigned long long lineLimit = static_cast<unsigned long long>(width) + 1;
    const unsigned long long limit = PCX_HEADER_SIZE +
                                     2 * lineLimit * static_cast<unsigned long long>(height) +
                                     PCX_TRAILER_SIZE;
    std::vector<uint8_t> bytes;
    if (limit > SIZE_MAX || !ReadAtMost(path, static_cast<size_t>(limit), bytes) ||
        bytes.size() < PCX_HEADER_SIZE) {
        return 0;
    }
    // The decoder sizes its lines by the header: it must say this frame before it decodes.
    const uint8_t* header = bytes.data();
    if (GetLe16(header + PCX_XMAX) - GetLe16(header + 4) + 1 != width ||
        GetLe16(header + PCX_YMAX) - GetLe16(header + 6) + 1 != height ||
        static_cast<unsigned long long>(GetLe16(header + PCX_BYTES_PER_LINE)) > lineLimit) {
        return 0;
    }
    PcxFrame read;
    if (!DecodePcxFrame(bytes.data(), bytes.size(), read) || read.width != width ||
        read.height != height) {
        return 0;
    }
    frame = std::move(read);
    return 1;
}
