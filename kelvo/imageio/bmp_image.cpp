// Writes a palettised frame as an 8-bit BMP file, uncompressed or RLE8, with all 256 entries.
#include "kelvo/imageio/bmp_image.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "pcx/atomic_file.h"

namespace {

constexpr size_t RLE_MAX_COUNT = 255;
constexpr size_t RLE_MIN_STRETCH = 3;  // absolute mode holds 3 to 255 indices

void PutLe32(uint8_t* at, uint32_t value) {
    PutLe16(at, static_cast<uint16_t>(value & 0xFFFF));
    PutLe16(at + 2, static_cast<uint16_t>(value >> 16));
}

// Appends one row as RLE8 items, without its end.
void EncodeRleRow(const uint8_t* row, size_t width, std::vector<uint8_t>& out) {
    size_t at = 0;
    while (at < width) {
        size_t run = 1;
        while (at + run < width && run < RLE_MAX_COUNT && row[at + run] == row[at]) {
            ++run;
        }
        if (run >= 2) {
            out.insert(out.end(), {static_cast<uint8_t>(run), row[at]});
            at += run;
            continue;
        }
        // A stretch ends before the next pair of equal indices, which a run encodes better.
        size_t stretch = 1;
        while (at + stretch < width && stretch < RLE_MAX_COUNT &&
               !(at + stretch + 1 < width && row[at + stretch] == row[at + stretch + 1])) {
            ++stretch;
        }
        if (stretch < RLE_MIN_STRETCH) {
            for (size_t i = 0; i < stretch; ++i) {
                out.insert(out.end(), {1, row[at + i]});
            }
        } else {
            out.insert(out.end(), {0, static_cast<uint8_t>(stretch)});
            out.insert(out.end(), row + at, row + at + stretch);
            if (stretch % 2 != 0) {
                out.push_back(0);
            }
        }
        at += stretch;
    }
}

// Hands the pixel data to `take` row by row, bottom row first, ending with the image's end.
template <typename Take>
int ForEachEncodedRow(const uint8_t* indices, size_t width, size_t height, bool rle, Take take) {
    std::vector<uint8_t> row;
    const size_t stride = (width + 3) / 4 * 4;
    for (size_t y = height; y-- > 0;) {
        const uint8_t* from = indices + y * width;
        row.clear();
        if (rle) {
            EncodeRleRow(from, width, row);
            row.insert(row.end(), {0, 0});
            if (y == 0) {
                row.insert(row.end(), {0, 1});
            }
        } else {
            row.assign(from, from + width);
            row.resize(stride, 0);
        }
        if (!take(row)) {
            return 0;
        }
    }
    return 1;
}

// EncodeBmp, saying whether it refused the frame itself (too large, or empty).
int EncodeBmpFile(const uint8_t* indices, int width, int height, const PaletteEntry* palette,
                  bool rle, ByteSink& sink, bool& refused) {
    refused = true;
    if (width < 1 || height < 1) {
        return 0;
    }
    const auto columns = static_cast<size_t>(width);
    const auto rows = static_cast<size_t>(height);
    // RLE8 data is counted in a first pass, so that the header can say how long it is.
    uint64_t imageSize = uint64_t{(columns + 3) / 4 * 4} * rows;
    if (rle) {
        imageSize = 0;
        ForEachEncodedRow(indices, columns, rows, rle,
                          [&imageSize](const std::vector<uint8_t>& row) {
                              imageSize += row.size();
                              return 1;
                          });
    }
    if (imageSize > UINT32_MAX - BMP_PIXELS_OFFSET) {
        return 0;
    }
    refused = false;
    uint8_t header[BMP_PIXELS_OFFSET] = {};
    header[BMP_SIGNATURE] = 'B';
    header[BMP_SIGNATURE + 1] = 'M';
    PutLe32(header + BMP_FILE_SIZE, static_cast<uint32_t>(BMP_PIXELS_OFFSET + imageSize));
    PutLe32(header + BMP_PIXELS_AT, BMP_PIXELS_OFFSET);
    PutLe32(header + BMP_INFO_SIZE, BMP_HEADER_SIZE - BMP_INFO_SIZE);
    PutLe32(header + BMP_WIDTH, static_cast<uint32_t>(width));
    PutLe32(header + BMP_HEIGHT, static_cast<uint32_t>(height));
    PutLe16(header + BMP_PLANES, 1);
    PutLe16(header + BMP_BIT_COUNT, 8);
    PutLe32(header + BMP_COMPRESSION, rle ? BMP_RLE8 : BMP_RGB);
    PutLe32(header + BMP_IMAGE_SIZE, static_cast<uint32_t>(imageSize));
    PutLe32(header + BMP_COLORS_USED, PALETTE_ENTRIES);
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        uint8_t* entry = header + BMP_HEADER_SIZE + 4 * i;
        entry[0] = palette[i].blue;
        entry[1] = palette[i].green;
        entry[2] = palette[i].red;
    }
    return sink.Write(header, sizeof header) &&
           ForEachEncodedRow(indices, columns, rows, rle, [&sink](const std::vector<uint8_t>& row) {
               return sink.Write(row.data(), row.size());
           });
}

}  // namespace

int EncodeBmp(const uint8_t* indices, int width, int height, const PaletteEntry* palette, bool rle,
              ByteSink& sink) {
    bool refused = false;
    return EncodeBmpFile(indices, width, height, palette, rle, sink, refused);
}

int WriteIndexedBmp(const std::string& path, const uint8_t* indices, int width, int height,
                    const PaletteEntry* palette, bool rle, std::string& error) {
    bool refused = false;
    if (WriteFileAtomically(path.c_str(), [&](ByteSink& sink) {
            return EncodeBmpFile(indices, width, height, palette, rle, sink, refused);
        })) {
        return 1;
    }
    error = refused ? "the frame does not fit in a BMP file's 32-bit sizes" : std::strerror(errno);
    return 0;
}
