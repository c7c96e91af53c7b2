// The index map of a swap, what a file must hold to take it, and the kind of a file to swap.
#include "kelvo/imageio/index_swap.h"

#include <cstring>

#include "kelvo/imageio/png_image.h"

namespace {

// One index, 0..255, of decimal digits alone.
bool ParseIndex(const std::string& text, int& index) {
    if (text.empty() || text.size() > 3) {
        return false;
    }
    index = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        index = index * 10 + (c - '0');
    }
    return index < PALETTE_ENTRIES;
}

// "FIRST-LAST" or "N".
bool ParseRange(const std::string& text, int& first, int& last) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return ParseIndex(text, first) && ParseIndex(text, last);
    }
    return ParseIndex(text.substr(0, dash), first) && ParseIndex(text.substr(dash + 1), last);
}

int RangeLength(int first, int last) {
    return (first <= last ? last - first : first - last) + 1;
}

}  // namespace

IndexSwap IdentitySwap() {
    IndexSwap swap;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        swap.map[i] = static_cast<uint8_t>(i);
    }
    return swap;
}

int AddIndexMapping(const std::string& text, IndexSwap& swap, std::string& error) {
    const size_t colon = text.find(':');
    int from = 0;
    int fromLast = 0;
    int to = 0;
    int toLast = 0;
    if (colon == std::string::npos || !ParseRange(text.substr(0, colon), from, fromLast) ||
        !ParseRange(text.substr(colon + 1), to, toLast)) {
        error = "--map '";
        error += text;
        error += "' is not FIRST-LAST:FIRST-LAST with indices 0 to 255";
        return 0;
    }
    const int length = RangeLength(from, fromLast);
    if (length != RangeLength(to, toLast)) {
        error = "--map '";
        error += text;
        error += "' moves " + std::to_string(length) + " indices onto " +
                 std::to_string(RangeLength(to, toLast)) + "; the ranges must be as long";
        return 0;
    }
    const int fromStep = from <= fromLast ? 1 : -1;
    const int toStep = to <= toLast ? 1 : -1;
    for (int i = 0; i < length; ++i) {
        const int source = from + i * fromStep;
        if (swap.mapped[source]) {
            error = "--map '";
            error += text;
            error += "' moves index " + std::to_string(source) + ", which another --map moves";
            return 0;
        }
        swap.mapped[source] = true;
        swap.map[source] = static_cast<uint8_t>(to + i * toStep);
        swap.movesIndices = swap.movesIndices || swap.map[source] != source;
    }
    return 1;
}

int CheckSwapFits(const IndexSwap& swap, int indexBits, int entries, std::string& error) {
    const int indices = 1 << indexBits;
    const int table = swap.newPalette ? indices : entries;
    for (int i = 0; i < indices; ++i) {
        if (swap.map[i] >= indices) {
            error = "holds indices 0 to " + std::to_string(indices - 1) + "; --map moves " +
                    std::to_string(i) + " onto " + std::to_string(swap.map[i]);
            return 0;
        }
        if (swap.map[i] != i && swap.map[i] >= table) {
            error = "has " + std::to_string(table) + " colours; --map moves " + std::to_string(i) +
                    " onto " + std::to_string(swap.map[i]) + ", beyond them (give --palette too)";
            return 0;
        }
    }
    return 1;
}

int ProbeSwapFile(const uint8_t* head, size_t size, SwapFileKind& kind, std::string& error) {
    kind = SWAP_UNKNOWN;
    if (LooksLikePng(head, size)) {
        kind = SWAP_PNG;
        // IHDR's colour type: after the signature (8), the chunk's length and type (8), width,
        // height and bit depth (9).
        if (size > 25 && head[25] != 3) {
            error = "is a ";
            error += ColorTypeName(head[25]);
            error += " PNG; kelvo swap takes indexed ones (colour type 3)";
            return 0;
        }
        return 1;
    }
    if (size >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) {
        kind = SWAP_GIF;
        return 1;
    }
    if (size >= 2 && head[0] == 'B' && head[1] == 'M') {
        kind = SWAP_BMP;
        // Bits per pixel: at 24 after a 12-byte header, at 28 after the longer ones.
        const size_t bitsAt = size > 14 && head[14] == 12 ? 24 : 28;
        if (size > bitsAt + 1 && (head[bitsAt] | head[bitsAt + 1] << 8) != 8) {
            error = "is a BMP of " + std::to_string(head[bitsAt] | head[bitsAt + 1] << 8) +
                    " bits a pixel; kelvo swap takes 8-bit ones";
            return 0;
        }
        return 1;
    }
    // Manufacturer, then bits per pixel at 3 and planes at 65.
    if (size >= 66 && head[0] == 0x0A && head[1] <= 5) {
        kind = SWAP_PCX;
        if (head[3] != 8 || head[65] != 1) {
            error = "is a PCX of " + std::to_string(head[65]) + " planes of " +
                    std::to_string(head[3]) + " bits; kelvo swap takes 8-bit ones of one plane";
            return 0;
        }
        return 1;
    }
    error = "is not an indexed file kelvo swap takes: PCX, BMP, PNG or GIF";
    return 0;
}

int SwapIndexedFile(SwapFileKind kind, const std::vector<uint8_t>& in, const IndexSwap& swap,
                    std::vector<uint8_t>& out, std::string& error) {
    switch (kind) {
        case SWAP_PCX:
            return SwapPcxFile(in, swap, out, error);
        case SWAP_BMP:
            return SwapBmpFile(in, swap, out, error);
        case SWAP_PNG:
            return SwapPngFile(in, swap, out, error);
        case SWAP_GIF:
            return SwapGifFile(in, swap, out, error);
        default:
            error = "is not an indexed file kelvo swap takes: PCX, BMP, PNG or GIF";
            return 0;
    }
}
