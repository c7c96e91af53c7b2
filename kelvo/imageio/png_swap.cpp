// Swaps the indices and palette of an indexed PNG file, chunk by chunk.
#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "kelvo/imageio/index_swap.h"
#include "kelvo/imageio/png_rows.h"

namespace {

constexpr size_t PNG_SIGNATURE_SIZE = 8;
constexpr uint32_t PNG_MAX_CHUNK = 0x7FFFFFFF;  // lengths are 31-bit
// Deflate gives at most 1032 bytes from one: image data beyond that cannot be in the file.
constexpr uint64_t DEFLATE_MAX_RATIO = 1032;
constexpr size_t IDAT_SPLIT = 1 << 20;  // the data of each IDAT written
constexpr int DEFLATE_LEVEL = 9;

// The seven Adam7 passes: first column and row, then the steps between columns and rows.
constexpr int ADAM7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

uint32_t GetBe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

void AppendBe32(std::vector<uint8_t>& out, uint32_t value) {
    out.insert(out.end(), {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                           static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

void AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    AppendBe32(out, static_cast<uint32_t>(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    AppendBe32(out, libdeflate_crc32(0, &out[typeAt], size + 4));
}

struct Chunk {
    size_t at = 0;  // the chunk's length field in the file
    uint32_t size = 0;
    char type[5] = {};
    const uint8_t* data = nullptr;
};

uint8_t Paeth(int left, int above, int aboveLeft) {
    const int p = left + above - aboveLeft;
    const int pa = std::abs(p - left);
    const int pb = std::abs(p - above);
    const int pc = std::abs(p - aboveLeft);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? left : pb <= pc ? above : aboveLeft);
}

// Filters `row` (one byte a pixel step, as indices have) with `filter` into `out`; `prior` is
// the row above as stored before filtering, or null for a pass's first row.
void FilterRow(uint8_t filter, const uint8_t* prior, const uint8_t* row, size_t size,
               uint8_t* out) {
    for (size_t i = 0; i < size; ++i) {
        const int left = i > 0 ? row[i - 1] : 0;
        const int above = prior != nullptr ? prior[i] : 0;
        const int aboveLeft = i > 0 && prior != nullptr ? prior[i - 1] : 0;
        int predicted = 0;
        switch (filter) {
            case 1:
                predicted = left;
                break;
            case 2:
                predicted = above;
                break;
            case 3:
                predicted = (left + above) / 2;
                break;
            case 4:
                predicted = Paeth(left, above, aboveLeft);
                break;
            default:
                break;
        }
        out[i] = static_cast<uint8_t>(row[i] - predicted);
    }
}

// Maps the first `width` samples of `bits` bits in a row; the bits after them pad the row.
void MapSamples(uint8_t* row, size_t width, int bits, const uint8_t* map) {
    if (bits == 8) {
        for (size_t x = 0; x < width; ++x) {
            row[x] = map[row[x]];
        }
        return;
    }
    const unsigned mask = (1u << bits) - 1;
    for (size_t x = 0; x < width; ++x) {
        const size_t bit = x * static_cast<size_t>(bits);
        const unsigned shift = 8 - static_cast<unsigned>(bits) - bit % 8;
        uint8_t& byte = row[bit / 8];
        const unsigned sample = map[(byte >> shift) & mask] & mask;
        byte = static_cast<uint8_t>((byte & ~(mask << shift)) | sample << shift);
    }
}

// Maps the indices of the inflated image data `image` in place, row by row and pass by pass,
// each row keeping its filter type. False for an unknown filter type.
bool MapImageData(std::vector<uint8_t>& image, size_t width, size_t height, int bits,
                  bool interlaced, const uint8_t* map) {
    size_t at = 0;
    for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
        const int* adam = interlaced ? ADAM7[pass] : nullptr;
        const size_t x0 = adam ? static_cast<size_t>(adam[0]) : 0;
        const size_t y0 = adam ? static_cast<size_t>(adam[1]) : 0;
        const size_t dx = adam ? static_cast<size_t>(adam[2]) : 1;
        const size_t dy = adam ? static_cast<size_t>(adam[3]) : 1;
        const size_t passWidth = width > x0 ? (width - x0 + dx - 1) / dx : 0;
        const size_t passHeight = height > y0 ? (height - y0 + dy - 1) / dy : 0;
        if (passWidth == 0 || passHeight == 0) {
            continue;
        }
        const size_t rowBytes = (passWidth * static_cast<size_t>(bits) + 7) / 8;
        // The rows above, unfiltered: as they were, and as they are written.
        std::vector<uint8_t> oldPrior(rowBytes);
        std::vector<uint8_t> newPrior(rowBytes);
        std::vector<uint8_t> row(rowBytes);
        for (size_t y = 0; y < passHeight; ++y, at += 1 + rowBytes) {
            const uint8_t filter = image[at];
            uint8_t* stored = &image[at + 1];
            std::memcpy(row.data(), stored, rowBytes);
            if (!UnfilterPngRow(filter, 1, y > 0 ? oldPrior.data() : nullptr, row.data(),
                                rowBytes)) {
                return false;
            }
            oldPrior.swap(row);
            std::memcpy(row.data(), oldPrior.data(), rowBytes);
            MapSamples(row.data(), passWidth, bits, map);
            FilterRow(filter, y > 0 ? newPrior.data() : nullptr, row.data(), rowBytes, stored);
            newPrior.swap(row);
        }
    }
    return true;
}

// The bytes of the inflated image data, in 64 bits, which sides up to 2^31 cannot wrap.
uint64_t ImageDataBytes(uint64_t width, uint64_t height, int bits, bool interlaced) {
    uint64_t total = 0;
    for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
        const uint64_t x0 = interlaced ? static_cast<uint64_t>(ADAM7[pass][0]) : 0;
        const uint64_t y0 = interlaced ? static_cast<uint64_t>(ADAM7[pass][1]) : 0;
        const uint64_t dx = interlaced ? static_cast<uint64_t>(ADAM7[pass][2]) : 1;
        const uint64_t dy = interlaced ? static_cast<uint64_t>(ADAM7[pass][3]) : 1;
        const uint64_t passWidth = width > x0 ? (width - x0 + dx - 1) / dx : 0;
        const uint64_t passHeight = height > y0 ? (height - y0 + dy - 1) / dy : 0;
        if (passWidth != 0) {
            total += passHeight * (1 + (passWidth * static_cast<uint64_t>(bits) + 7) / 8);
        }
    }
    return total;
}

struct FreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};
struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Inflates `data`, maps its indices and deflates it again into `deflated`. On 0, `error` says
// why.
int MapDeflatedImage(const std::vector<uint8_t>& data, const uint8_t* header, const uint8_t* map,
                     std::vector<uint8_t>& deflated, std::string& error) {
    const uint32_t width = GetBe32(header);
    const uint32_t height = GetBe32(header + 4);
    const int bits = header[8];
    const bool interlaced = header[12] == 1;
    const uint64_t bytes = ImageDataBytes(width, height, bits, interlaced);
    if (bytes > data.size() * DEFLATE_MAX_RATIO + 64 || bytes > SIZE_MAX / 2) {
        error = "is damaged: its image data is too short for " + std::to_string(width) + " x " +
                std::to_string(height) + " pixels";
        return 0;
    }
    std::vector<uint8_t> image(static_cast<size_t>(bytes));
    const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor(
        libdeflate_alloc_decompressor());
    size_t inflated = 0;
    if (decompressor == nullptr ||
        libdeflate_zlib_decompress(decompressor.get(), data.data(), data.size(), image.data(),
                                   image.size(), &inflated) != LIBDEFLATE_SUCCESS ||
        inflated != image.size()) {
        error = "is damaged: its image data does not inflate to " + std::to_string(width) + " x " +
                std::to_string(height) + " pixels";
        return 0;
    }
    if (!MapImageData(image, width, height, bits, interlaced, map)) {
        error = "is damaged: a row of its image data has an unknown filter type";
        return 0;
    }
    const std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor(
        libdeflate_alloc_compressor(DEFLATE_LEVEL));
    if (compressor == nullptr) {
        error = "cannot be deflated again: out of memory";
        return 0;
    }
    deflated.resize(libdeflate_zlib_compress_bound(compressor.get(), image.size()));
    deflated.resize(libdeflate_zlib_compress(compressor.get(), image.data(), image.size(),
                                             deflated.data(), deflated.size()));
    return deflated.empty() ? 0 : 1;
}

// The chunks of `in` after its signature, up to and with IEND. On 0, `error` says why.
int ReadChunks(const std::vector<uint8_t>& in, std::vector<Chunk>& chunks, std::string& error) {
    size_t at = PNG_SIGNATURE_SIZE;
    while (chunks.empty() || std::strcmp(chunks.back().type, "IEND") != 0) {
        Chunk chunk;
        chunk.at = at;
        if (in.size() - at < 12 || (chunk.size = GetBe32(&in[at])) > PNG_MAX_CHUNK ||
            in.size() - at - 12 < chunk.size) {
            error = "is damaged: it ends inside a chunk, or before IEND";
            return 0;
        }
        std::memcpy(chunk.type, &in[at + 4], 4);
        for (const char letter : std::string(chunk.type)) {
            if ((letter < 'A' || letter > 'Z') && (letter < 'a' || letter > 'z')) {
                error = "is damaged: a chunk's type is not four letters";
                return 0;
            }
        }
        if (std::strlen(chunk.type) != 4) {
            error = "is damaged: a chunk's type is not four letters";
            return 0;
        }
        chunk.data = &in[at + 8];
        // Chunks the image depends on must be whole; ancillary ones are copied as they are.
        const bool critical = (chunk.type[0] & 0x20) == 0;
        if (critical &&
            libdeflate_crc32(0, &in[at + 4], chunk.size + 4) != GetBe32(chunk.data + chunk.size)) {
            error = "is damaged: the CRC of its ";
            error += chunk.type;
            error += " chunk does not match";
            return 0;
        }
        chunks.push_back(chunk);
        at += 12 + chunk.size;
    }
    return 1;
}

}  // namespace

int SwapPngFile(const std::vector<uint8_t>& in, const IndexSwap& swap, std::vector<uint8_t>& out,
                std::string& error) {
    std::vector<Chunk> chunks;
    if (in.size() < PNG_SIGNATURE_SIZE || !ReadChunks(in, chunks, error)) {
        return 0;
    }
    const Chunk& ihdr = chunks.front();
    if (std::strcmp(ihdr.type, "IHDR") != 0 || ihdr.size != 13) {
        error = "is damaged: it does not start with IHDR";
        return 0;
    }
    const int bits = ihdr.data[8];
    if (ihdr.data[9] != 3 || (bits != 1 && bits != 2 && bits != 4 && bits != 8) ||
        ihdr.data[12] > 1 || GetBe32(ihdr.data) == 0 || GetBe32(ihdr.data + 4) == 0) {
        error = "is not an indexed PNG of 1, 2, 4 or 8 bits (colour type 3)";
        return 0;
    }
    int entries = 0;
    std::vector<uint8_t> data;
    for (const Chunk& chunk : chunks) {
        if (std::strcmp(chunk.type, "PLTE") == 0) {
            entries = static_cast<int>(chunk.size / 3);
        } else if (std::strcmp(chunk.type, "IDAT") == 0) {
            data.insert(data.end(), chunk.data, chunk.data + chunk.size);
        } else if (std::strcmp(chunk.type, "acTL") == 0 && swap.movesIndices) {
            error = "is an animated PNG, whose later frames kelvo swap cannot map";
            return 0;
        }
    }
    if (entries == 0 || data.empty()) {
        error = "is damaged: it has no PLTE or no IDAT chunk";
        return 0;
    }
    if (!CheckSwapFits(swap, bits, entries, error)) {
        return 0;
    }
    std::vector<uint8_t> deflated;
    if (swap.movesIndices && !MapDeflatedImage(data, ihdr.data, swap.map, deflated, error)) {
        return 0;
    }
    out.assign(in.begin(), in.begin() + PNG_SIGNATURE_SIZE);
    bool dataWritten = false;
    for (const Chunk& chunk : chunks) {
        const std::string type = chunk.type;
        if (type == "PLTE" && swap.newPalette) {
            uint8_t colours[PALETTE_BYTES];
            const int written = 1 << bits;  // all a PNG of this depth may hold
            for (int i = 0; i < written; ++i) {
                colours[3 * i] = swap.palette[i].red;
                colours[3 * i + 1] = swap.palette[i].green;
                colours[3 * i + 2] = swap.palette[i].blue;
            }
            AppendChunk(out, "PLTE", colours, static_cast<size_t>(3 * written));
        } else if (type == "IDAT" && swap.movesIndices) {
            for (size_t at = 0; at < deflated.size() && !dataWritten; at += IDAT_SPLIT) {
                AppendChunk(out, "IDAT", &deflated[at], std::min(IDAT_SPLIT, deflated.size() - at));
            }
            dataWritten = true;
        } else if (type != "hIST" || (!swap.movesIndices && !swap.newPalette)) {
            out.insert(out.end(), &in[chunk.at], &in[chunk.at] + 12 + chunk.size);
        }
    }
    return 1;
}
