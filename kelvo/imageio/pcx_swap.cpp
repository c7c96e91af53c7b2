// Swaps the indices and palette of an 8-bit run-length-encoded PCX file.
#include <algorithm>
#include <cstring>

#include "kelvo/imageio/index_swap.h"
#include "pcx/byte_sink.h"
#include "pcx/pcx_format.h"
#include "pcx/pcx_line_encoder.h"

namespace {

constexpr size_t PCX_XMIN = 4;  // 2: the first column; width is XMAX - XMIN + 1
constexpr size_t PCX_YMIN = 6;  // 2: the first row

// Decodes run-length items from `data` until `out` is full; false when the data ends first.
// Runs may cross from one line into the next, as some writers let them.
bool DecodePcxRuns(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    size_t at = 0;
    size_t filled = 0;
    while (filled < out.size()) {
        if (at >= size) {
            return false;
        }
        uint8_t value = data[at++];
        size_t count = 1;
        if ((value & PCX_RUN_FLAG) == PCX_RUN_FLAG) {
            if (at >= size) {
                return false;
            }
            count = value & 0x3F;
            value = data[at++];
        }
        count = std::min(count, out.size() - filled);
        std::memset(out.data() + filled, value, count);
        filled += count;
    }
    return true;
}

}  // namespace

int SwapPcxFile(const std::vector<uint8_t>& in, const IndexSwap& swap, std::vector<uint8_t>& out,
                std::string& error) {
    if (in.size() < PCX_HEADER_SIZE + PCX_TRAILER_SIZE || in[PCX_MANUFACTURER] != 0x0A ||
        in[PCX_ENCODING] != PCX_ENCODING_RLE || in[PCX_BITS_PER_PIXEL] != 8 ||
        in[PCX_PLANES] != 1) {
        error = "is not an 8-bit run-length-encoded PCX file of one plane";
        return 0;
    }
    const size_t trailer = in.size() - PCX_TRAILER_SIZE;
    if (in[trailer] != PCX_PALETTE_MARKER) {
        error = "has no 256-colour palette at its end";
        return 0;
    }
    const int xMin = GetLe16(&in[PCX_XMIN]);
    const int yMin = GetLe16(&in[PCX_YMIN]);
    const int xMax = GetLe16(&in[PCX_XMAX]);
    const int yMax = GetLe16(&in[PCX_YMAX]);
    const size_t lineBytes = GetLe16(&in[PCX_BYTES_PER_LINE]);
    if (xMax < xMin || yMax < yMin || lineBytes < static_cast<size_t>(xMax - xMin + 1)) {
        error = "is damaged: its header gives no frame, or lines shorter than its width";
        return 0;
    }
    const size_t width = static_cast<size_t>(xMax - xMin + 1);
    const size_t height = static_cast<size_t>(yMax - yMin + 1);
    std::string fits;
    if (!CheckSwapFits(swap, 8, PALETTE_ENTRIES, fits)) {
        error = fits;
        return 0;
    }
    const uint8_t* scan = in.data() + PCX_HEADER_SIZE;
    const size_t scanBytes = trailer - PCX_HEADER_SIZE;
    out.assign(in.begin(), in.begin() + PCX_HEADER_SIZE);
    if (!swap.movesIndices) {
        out.insert(out.end(), scan, scan + scanBytes);
    } else {
        // Each item gives at most 63 bytes: a longer frame cannot be in the file, so a lying
        // header costs nothing.
        const uint64_t frameBytes = static_cast<uint64_t>(lineBytes) * height;
        if (frameBytes > static_cast<uint64_t>(scanBytes) * PCX_MAX_RUN) {
            error = "is damaged: its lines end before its frame of " + std::to_string(width) +
                    " x " + std::to_string(height);
            return 0;
        }
        std::vector<uint8_t> lines(static_cast<size_t>(frameBytes));
        if (!DecodePcxRuns(scan, scanBytes, lines)) {
            error = "is damaged: its lines end before its frame of " + std::to_string(width) +
                    " x " + std::to_string(height);
            return 0;
        }
        std::vector<uint8_t> encoded(2 * lineBytes);
        for (size_t y = 0; y < height; ++y) {
            uint8_t* line = &lines[y * lineBytes];
            // The bytes after the width pad the line; they are no pixels.
            for (size_t x = 0; x < width; ++x) {
                line[x] = swap.map[line[x]];
            }
            const size_t size = EncodePcxLine(line, lineBytes, encoded.data());
            out.insert(out.end(), encoded.begin(), encoded.begin() + static_cast<ptrdiff_t>(size));
        }
    }
    out.push_back(PCX_PALETTE_MARKER);
    if (swap.newPalette) {
        const auto* colours = reinterpret_cast<const uint8_t*>(swap.palette);
        out.insert(out.end(), colours, colours + PALETTE_BYTES);
    } else {
        out.insert(out.end(), in.end() - PALETTE_BYTES, in.end());
    }
    return 1;
}
