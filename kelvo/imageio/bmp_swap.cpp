// Swaps the indices and colour table of an 8-bit BMP file, uncompressed or RLE8, in place.
#include "kelvo/imageio/bmp_image.h"
#include "kelvo/imageio/index_swap.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t BMP_CORE_INFO_SIZE = 12;       // the oldest header: 16-bit sides, 3-byte colours
constexpr size_t BMP_CORE_BIT_COUNT = 24;       // 2: bits per pixel after a 12-byte header
constexpr size_t BMP_V5_INFO_SIZE = 124;        // the longest header, which may point at a profile
constexpr size_t BMP_V5_CS_TYPE = 14 + 56;      // 4: "MBED" (embedded) or "LINK" profile
constexpr size_t BMP_V5_PROFILE_AT = 14 + 112;  // 4: the profile, from the info header's start

uint32_t GetLe32(const uint8_t* at) {
    return static_cast<uint32_t>(GetLe16(at)) | static_cast<uint32_t>(GetLe16(at + 2)) << 16;
}

void PutLe32(uint8_t* at, uint32_t value) {
    PutLe16(at, static_cast<uint16_t>(value & 0xFFFF));
    PutLe16(at + 2, static_cast<uint16_t>(value >> 16));
}

// Maps the indices of RLE8 items from `at` up to the end-of-bitmap item; false when the data
// ends first. Counts, ends of rows and jumps do not depend on the indices: they stay.
bool MapRle8(std::vector<uint8_t>& bytes, size_t at, const uint8_t* map) {
    while (at + 1 < bytes.size()) {
        const uint8_t count = bytes[at];
        const uint8_t second = bytes[at + 1];
        at += 2;
        if (count != 0) {
            bytes[at - 1] = map[second];
        } else if (second == 1) {
            return true;
        } else if (second == 2) {
            at += 2;  // a jump right and up: no indices
        } else if (second >= 3) {
            if (bytes.size() - at < second) {
                return false;
            }
            for (size_t i = 0; i < second; ++i) {
                bytes[at + i] = map[bytes[at + i]];
            }
            at += second + (second & 1u);  // absolute stretches end on an even byte
        }
    }
    return false;
}

}  // namespace

int SwapBmpFile(const std::vector<uint8_t>& in, const IndexSwap& swap, std::vector<uint8_t>& out,
                std::string& error) {
    if (in.size() < BMP_INFO_SIZE + 4 || in[0] != 'B' || in[1] != 'M') {
        error = "is not a BMP file";
        return 0;
    }
    const size_t infoSize = GetLe32(&in[BMP_INFO_SIZE]);
    const bool core = infoSize == BMP_CORE_INFO_SIZE;
    if ((!core && infoSize < 40) || infoSize > BMP_V5_INFO_SIZE ||
        in.size() < BMP_INFO_SIZE + infoSize) {
        error = "is damaged: its header is cut short or of an unknown size";
        return 0;
    }
    const unsigned bits = GetLe16(&in[core ? BMP_CORE_BIT_COUNT : BMP_BIT_COUNT]);
    const uint32_t compression = core ? BMP_RGB : GetLe32(&in[BMP_COMPRESSION]);
    if (bits != 8 || (compression != BMP_RGB && compression != BMP_RLE8)) {
        error = "is a BMP of " + std::to_string(bits) + " bits a pixel, compression " +
                std::to_string(compression) + "; kelvo swap takes 8-bit ones, plain or RLE8";
        return 0;
    }
    const size_t pixelsAt = GetLe32(&in[BMP_PIXELS_AT]);
    const size_t tableAt = BMP_INFO_SIZE + infoSize;
    const size_t entryBytes = core ? 3 : 4;
    if (pixelsAt < tableAt || pixelsAt > in.size()) {
        error = "is damaged: its pixels would start outside the file";
        return 0;
    }
    // The table runs up to the pixels, at most 256 entries, unless the header says fewer.
    size_t entries = std::min<size_t>((pixelsAt - tableAt) / entryBytes, PALETTE_ENTRIES);
    if (!core && GetLe32(&in[BMP_COLORS_USED]) != 0) {
        entries = std::min<size_t>(entries, GetLe32(&in[BMP_COLORS_USED]));
    }
    if (!CheckSwapFits(swap, 8, static_cast<int>(entries), error)) {
        return 0;
    }
    out = in;
    if (swap.movesIndices) {
        if (compression == BMP_RLE8) {
            if (!MapRle8(out, pixelsAt, swap.map)) {
                error = "is damaged: its RLE8 data ends before its end marker";
                return 0;
            }
        } else {
            const int32_t width = static_cast<int32_t>(core ? GetLe16(&in[18]) : GetLe32(&in[18]));
            const int32_t height = static_cast<int32_t>(core ? GetLe16(&in[20]) : GetLe32(&in[22]));
            // A negative height stores rows from the top down; the order does not matter here.
            const auto rows = static_cast<uint64_t>(std::abs(static_cast<int64_t>(height)));
            const uint64_t rowBytes = (static_cast<uint64_t>(width < 0 ? 0 : width) + 3) / 4 * 4;
            if (width <= 0 || rows == 0 || rowBytes * rows > in.size() - pixelsAt) {
                error = "is damaged: its rows of pixels end before its frame does";
                return 0;
            }
            for (uint64_t y = 0; y < rows; ++y) {
                uint8_t* row = &out[pixelsAt + static_cast<size_t>(y * rowBytes)];
                for (int32_t x = 0; x < width; ++x) {
                    row[x] = swap.map[row[x]];
                }
            }
        }
    }
    if (!swap.newPalette) {
        return 1;
    }
    if (entries < PALETTE_ENTRIES) {
        // All the new palette's entries go in: the rest of the file moves down by the difference.
        const size_t grown = (PALETTE_ENTRIES - entries) * entryBytes;
        out.insert(out.begin() + static_cast<ptrdiff_t>(tableAt + entries * entryBytes), grown, 0);
        PutLe32(&out[BMP_PIXELS_AT], static_cast<uint32_t>(pixelsAt + grown));
        PutLe32(&out[BMP_FILE_SIZE], static_cast<uint32_t>(out.size()));
        if (!core) {
            PutLe32(&out[BMP_COLORS_USED], PALETTE_ENTRIES);
        }
        const uint32_t csType = infoSize == BMP_V5_INFO_SIZE ? GetLe32(&in[BMP_V5_CS_TYPE]) : 0;
        if (csType == 0x4D424544u || csType == 0x4C494E4Bu) {
            const uint32_t profile = GetLe32(&in[BMP_V5_PROFILE_AT]);
            if (BMP_INFO_SIZE + profile >= tableAt + entries * entryBytes) {
                PutLe32(&out[BMP_V5_PROFILE_AT], static_cast<uint32_t>(profile + grown));
            }
        }
    }
    for (size_t i = 0; i < PALETTE_ENTRIES; ++i) {
        uint8_t* entry = &out[tableAt + i * entryBytes];
        entry[0] = swap.palette[i].blue;
        entry[1] = swap.palette[i].green;
        entry[2] = swap.palette[i].red;
    }
    return 1;
}
